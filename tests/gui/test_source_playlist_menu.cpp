// ctest-labels: input
// The playlist menu as real right clicks open it (XTest): its items depend on
// where the pointer is, on the current playlist and on the selected row, for
// the music and the radio page; an item chosen with the keys runs.
#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include "tests/gui/playlist_page.h"
#include "tests/gui/ui_script.h"

using namespace page_testing;
using Labels = std::vector<wxString>;

namespace {

class PlaylistMenu : public PageSite {
protected:
    /// Opens the menu by a click at the screen point (the right button, or
    /// the left one on "Список"), reads its items while it is open, then
    /// sends the keys (Escape closes it).
    Labels popup(const wxPoint& at, bool right = true, std::vector<int> keys = {WXK_ESCAPE}) {
        Labels shown;
        bool opened = false, closed = false;
        wxTimer typist;
        typist.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            for (const int code : keys) input.Char(code);
        });
        const auto onOpen = [&](wxMenuEvent& event) {
            event.Skip();
            if (event.GetMenu() != page->playlistMenu || opened) return;
            opened = true;
            for (const wxMenuItem* item : page->playlistMenu->GetMenuItems())
                shown.push_back(item->GetItemLabel());
            typist.StartOnce(150);  // the menu blocks in a loop of its own
        };
        const auto onClose = [&](wxMenuEvent& event) {
            event.Skip();
            closed = opened;
        };
        page->Bind(wxEVT_MENU_OPEN, onOpen);
        page->Bind(wxEVT_MENU_CLOSE, onClose);
        input.MouseMove(at);
        wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
        input.MouseClick(right ? wxMOUSE_BTN_RIGHT : wxMOUSE_BTN_LEFT);
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return closed; }))
            << "no menu at " << at.x << "," << at.y;
        page->Unbind(wxEVT_MENU_OPEN, onOpen);
        page->Unbind(wxEVT_MENU_CLOSE, onClose);
        return shown;
    }
    static wxPoint onRow(wxListCtrl* list, long row) {
        wxRect rect;
        list->GetItemRect(row, rect);
        return list->ClientToScreen(wxPoint(rect.x + 10, rect.y + rect.height / 2));
    }
    static wxPoint belowRows(wxListCtrl* list) {
        const wxRect rect = list->GetScreenRect();
        return {rect.x + 20, rect.GetBottom() - 20};
    }
    void checkTable(bool radio) {
        open(radio);
        addPlaylist(L"Первый", {file("a.mp3")});
        addPlaylist(L"Второй", {});
        const Labels addList{L"Добавить &список..."};
        const Labels sources =
            radio ? Labels{L"Добавить интернет-&радиостанцию...", L"&Захватить аудио с устройства..."}
                  : Labels{L"Добавить &файлы...", L"Добавить &каталог..."};
        Labels onPlaylist = addList;
        onPlaylist.insert(onPlaylist.end(), sources.begin(), sources.end());
        onPlaylist.insert(onPlaylist.end(),
                          {L"&Переименовать...", L"&Очистить список", L"&Удалить выделенное"});
        Labels onEmptyTracks = sources;
        onEmptyTracks.push_back(L"&Очистить список");
        const Labels onTrack{radio ? L"Р&едактировать..." : L"&Переименовать...", L"&Удалить выделенное"};

        EXPECT_EQ(popup(belowRows(page->playlistList)), addList) << "no current playlist";
        EXPECT_EQ(popup(belowRows(page->trackList)), addList) << "tracks without a current playlist";
        EXPECT_EQ(popup(onRow(page->playlistList, 0)), onPlaylist)
            << "the clicked row is current and selected";
        EXPECT_EQ(page->currentPlaylist()->getName(), L"Первый");
        EXPECT_EQ(popup(belowRows(page->trackList)), onEmptyTracks);
        EXPECT_EQ(popup(onRow(page->trackList, 0)), onTrack);
        EXPECT_EQ(popup(page->controlPlaylists->GetScreenRect().GetPosition() + wxPoint(5, 5), false),
                  addList);

        ui_testing::ScriptedUi answers;
        answers.expect(L"Введите название:", wxID_OK, L"Третий");
        EXPECT_EQ(popup(belowRows(page->playlistList), true, {WXK_DOWN, WXK_RETURN}), addList);
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return playlists->getAll().size() == 3; }));
    }

    wxUIActionSimulator input;
};

}  // namespace

TEST_F(PlaylistMenu, MusicPage) { checkTable(false); }

TEST_F(PlaylistMenu, RadioPage) { checkTable(true); }

TEST_F(PlaylistMenu, TheRadioPageWarnsWithoutInternetYetPlaysAndAnAudioInputNeedsNoCheck) {
    captureDevices = {{L"Линейный вход", 0, "hw:0"}};
    open(true);
    internet = false;
    auto radio = boost::make_shared<Playlist>(L"Радио", true);
    radio->add(L"Маяк", L"http://radio.example/mayak");
    radio->add(L"Вход", L"adev://Линейный вход");
    playlists->add(radio);
    page->setListOfPlaylist(playlists);
    input.MouseMove(onRow(page->playlistList, 0));  // the current item is checked, not a pressed track
    wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);

    click(page->play);
    EXPECT_EQ(internetChecks, 1);
    EXPECT_EQ(loggedCount("Проверьте настройки соединения с интернетом", "NOTICE"), 1);
    EXPECT_EQ(plays().back(), "http://radio.example/mayak") << "played all the same";

    radio->setCurrent(1);
    click(page->play);
    EXPECT_EQ(internetChecks, 1) << "an audio input needs no internet";
    EXPECT_EQ(plays().back(), "line://dev=0");
    EXPECT_TRUE(playing());
}
