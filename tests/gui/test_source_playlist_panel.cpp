// The playlist page edited as an operator does it, through its handlers and
// the events of its lists, with the program's player (fixture plug-ins that
// play until stopped) and a scheduler that the test controls.
#include <gtest/gtest.h>

#include "gui/capture_device_dialog.h"
#include "gui/url_dialog.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/playlist_page.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"

using namespace page_testing;
using Texts = std::vector<std::wstring>;
using PlaylistPage = PageSite;

namespace {
const std::wstring kNamePrompt = L"Введите название:";
const std::wstring kRenamePrompt = L"Введите новое название";
}  // namespace

TEST_F(PlaylistPage, NewNamesUpToSeventyCharactersThatDifferExactlyAndTheColumnWidths) {
    open(false);
    ui_testing::ScriptedUi answers;
    const std::wstring seventy(70, L'я');
    answers.expect(kNamePrompt, wxID_OK, seventy + L"я").expect(L"Сообщение", wxID_OK);
    answers.expect(kNamePrompt, wxID_OK, seventy);
    answers.expect(kNamePrompt, wxID_OK, seventy).expect(L"Внимание", wxID_OK);
    answers.expect(kNamePrompt, wxID_OK, L"Музыка").expect(kNamePrompt, wxID_OK, L"музыка");
    answers.expect(kNamePrompt, wxID_OK, L"").expect(kNamePrompt, wxID_CANCEL);
    for (int i = 0; i < 7; ++i) choose(page->addPlaylist);
    EXPECT_EQ(answers.shown()[1].text, L"Превышено максимальное количество символов");
    EXPECT_EQ(answers.shown()[4].text, L"С таким названием плейлист существует");
    EXPECT_EQ(column(page->playlistList, 0), (Texts{seventy, L"Музыка", L"музыка"}));
    EXPECT_EQ(column(page->playlistList, 1), (Texts{L"0", L"0", L"0"}));
    EXPECT_NE(page->playlistList->GetColumnWidth(0), 200) << "a name over 25 characters";

    playlists = boost::make_shared<ListOfPlaylist>();
    addPlaylist(std::wstring(25, L'ж'), {file(std::string(15, 'a') + ".mp3")});
    EXPECT_EQ(page->playlistList->GetColumnWidth(0), 200);
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    EXPECT_EQ(page->trackList->GetColumnWidth(0), 120) << "a title of 15 characters";
    EXPECT_NE(page->trackList->GetColumnWidth(1), 200) << "the temporary folder is longer than 25";
    page->currentPlaylist()->add(std::wstring(16, L'b'), L"sine://1000");
    page->redrawGuiElements(false, true, true, true);
    EXPECT_NE(page->trackList->GetColumnWidth(0), 120);
}

TEST_F(PlaylistPage, FilesAFolderAndACaptureDeviceJoinTheCurrentPlaylist) {
    open(false);
    addPlaylist(L"Музыка", {});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    ASSERT_TRUE(page->currentPlaylist());
    ui_testing::ScriptedUi answers;
    answers.expect(L"Добавить файл", wxID_OK, file("a/Первая.mp3") + L"\n" + file("a/Вторая.mp3"));
    choose(page->addFiles);
    file("b/sub/Третья.MP3");
    file("b/Четвёртая.mp2");
    file("b/readme.txt");
    answers.expect(L"Добавить каталог", wxID_OK, base::fromUtf8(m_dir.path() + "/b"));
    choose(page->addDir);
    answers.expectDialog(L"Выбор устройства захвата", wxID_OK, [](wxDialog& dialog) {
        dialog_testing::choose(dialog_testing::all<wxChoice>(&dialog).at(0), 0);
    });
    choose(page->captureAudioWithDevice);

    const Texts titles{L"Первая", L"Вторая", L"Четвёртая", L"Третья",
                       L"Захватить сигнал с устройства: Линейный вход"};
    EXPECT_EQ(column(page->trackList, 0), titles);
    EXPECT_EQ(page->trackList->GetItemText(4, 1), L"adev://Линейный вход");
    EXPECT_EQ(column(page->playlistList, 1), (Texts{L"5"}));
    EXPECT_TRUE(page->play->IsEnabled());
    wx_testing::writeShot(frame, "playlist_page_music");
}

TEST_F(PlaylistPage, StationsAreAddedAndEditedThroughTheStationDialog) {
    open(true);
    addPlaylist(L"Радио", {});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    ui_testing::ScriptedUi answers;
    const auto fill = [](const wxString& name, const wxString& url) {
        return [name, url](wxDialog& dialog) {
            dialog_testing::all<wxTextCtrl>(&dialog).at(0)->SetValue(name);
            dialog_testing::all<wxComboBox>(&dialog).at(0)->SetValue(url);
            dialog_testing::press(&dialog, L"&Сохранить");
        };
    };
    answers.expectDialog(L"Добавить URL", wxID_OK, fill(L"Маяк", L"http://radio.example/mayak"));
    choose(page->addUrl);
    select(page->trackList, {0});
    answers.expectDialog(L"Редактировать", wxID_OK, [&](wxDialog& dialog) {
        EXPECT_EQ(dialog_testing::all<wxTextCtrl>(&dialog).at(0)->GetValue(), L"Маяк")
            << "starts with the entry";
        fill(L"Маяк FM", L"http://radio.example/fm")(dialog);
    });
    choose(page->editUrl);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"Маяк FM"}));
    EXPECT_EQ(column(page->trackList, 1), (Texts{L"http://radio.example/fm"}));
    EXPECT_GT(page->trackList->GetColumnWidth(1), 200) << "wide enough for its header";
    wx_testing::writeShot(frame, "playlist_page_radio");
}

TEST_F(PlaylistPage, RenameAndDeleteAskTheSchedulerAndNothingPlayingIsCleared) {
    open(false);
    const auto rock = addPlaylist(L"Рок", {file("1.mp3"), file("2.mp3"), file("3.mp3")});
    addPlaylist(L"Джаз", {file("4.mp3")});
    ui_testing::ScriptedUi answers;

    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    answers.expect(kRenamePrompt, wxID_CANCEL).expect(kRenamePrompt, wxID_OK, L"Рок-н-ролл");
    choose(page->rename);
    EXPECT_TRUE(scheduler.renames.empty()) << "cancelled";
    choose(page->rename);
    EXPECT_EQ(scheduler.renames,
              (std::vector<std::pair<std::wstring, std::wstring>>{{L"Рок", L"Рок-н-ролл"}}));
    EXPECT_EQ(column(page->playlistList, 0), (Texts{L"Рок-н-ролл", L"Джаз"}));
    select(page->trackList, {1});
    answers.expect(kRenamePrompt, wxID_OK, L"Вторая");
    choose(page->rename);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"1", L"Вторая", L"3"}));
    key(page->trackList, WXK_RETURN);  // the Enter that closed the prompt
    EXPECT_TRUE(plays().empty());

    select(page->trackList, {0, 2});
    page->trackList->SetItemState(0, 0, wxLIST_STATE_SELECTED);  // Control+click takes it out again
    answers.expect(L"Удаление", wxID_YES);
    key(page->trackList, WXK_DELETE);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"1", L"Вторая"}));

    Player::play(rock);
    ASSERT_TRUE(playing());
    choose(page->clearPlayList);
    key(page->trackList, WXK_DELETE);
    EXPECT_TRUE(logged("Остановите воспроизведение перед очисткой плейлиста"));
    EXPECT_TRUE(logged("Остановите воспроизведение перед удалением плейлиста"));
    EXPECT_EQ(rock->getItems().size(), 2u);
    Player::instance()->stop(true);

    scheduler.used = {L"Джаз"};
    select(page->playlistList, {0, 1});
    answers.expect(L"Удаление", wxID_YES).expect(L"Удаление", wxID_OK);
    choose(page->deleteSelected);
    EXPECT_EQ(answers.shown().back().text, L"Один из выбранных плейлистов входит в задание");
    EXPECT_EQ(playlists->getAll().size(), 2u);
    EXPECT_FALSE(page->currentPlaylist());
    EXPECT_EQ(page->trackList->GetItemCount(), 0) << "no tracks without a playlist";
    scheduler.used.clear();
    select(page->playlistList, {1});
    answers.expect(L"Удаление", wxID_YES);
    key(page->playlistList, WXK_DELETE);
    EXPECT_EQ(column(page->playlistList, 0), (Texts{L"Рок-н-ролл"}));
}

TEST_F(PlaylistPage, DraggingARowMovesItAndTheSelectionFollows) {
    open(false);
    addPlaylist(L"Три", {file("a.mp3"), file("b.mp3"), file("c.mp3")});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    mouse(page->trackList, wxEVT_LEFT_DOWN, 0);
    mouse(page->trackList, wxEVT_MOTION, 0, true);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"a", L"b", L"c"})) << "onto itself";
    mouse(page->trackList, wxEVT_MOTION, 2, true);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"b", L"c", L"a"}));
    EXPECT_EQ(page->trackList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 2);
    EXPECT_EQ(page->currentPlaylist()->getSelection(), (std::vector<unsigned>{2}));
    mouse(page->trackList, wxEVT_MOTION, 0, false);  // the button is up: the drag has ended
    mouse(page->trackList, wxEVT_MOTION, 1, true);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"b", L"c", L"a"}));
}

TEST_F(PlaylistPage, ThePlayedRowsAreGreenAndNextOrPrevWithoutAPlayerPlaylistPlayTheCurrentOne) {
    open(false);
    addPlaylist(L"Другой", {file("x.mp3")});
    const auto list = addPlaylist(L"Два", {file("a.mp3"), file("b.mp3")});
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 1);
    ASSERT_FALSE(Player::getPlaylist());
    for (wxBitmapButton* button : {page->next, page->prev}) {
        click(button);  // no player playlist yet: no step, no abort
        EXPECT_EQ(Player::getPlaylist(), list);
        EXPECT_TRUE(playing());
        EXPECT_EQ(list->getCurrentPosition(), 0u);
        Player::reset();
    }
    mouse(page->trackList, wxEVT_LEFT_DOWN, 1);
    mouse(page->trackList, wxEVT_LEFT_DCLICK, 1);
    EXPECT_TRUE(
        wx_testing::runEventLoopUntil([&] { return green(page->trackList) == std::vector<long>{1}; }));
    EXPECT_EQ(green(page->playlistList), std::vector<long>{1});
    EXPECT_EQ(plays().back(), m_dir.path() + "/b.mp3");
    click(page->stop);
    EXPECT_TRUE(wx_testing::runEventLoopUntil(
        [&] { return green(page->trackList).empty() && green(page->playlistList).empty(); }));
    // Rows are inserted black and only rows of another colour are painted
    // again: the played ones must still turn black.
    for (wxListCtrl* shown : {page->playlistList, page->trackList})
        for (long row = 0; row < shown->GetItemCount(); ++row)
            EXPECT_EQ(shown->GetItemTextColour(row), *wxBLACK) << row;
}

TEST_F(PlaylistPage, FilledAheadTheRowsComeInSharesAndShowingThePageAddsOnlyWhatIsMissing) {
    open(false);
    const auto fill = [this](int count) {
        for (int n = 0; n < count; ++n)
            playlists->add(boost::make_shared<Playlist>(L"Плейлист " + std::to_wstring(n), true));
    };
    fill(700);
    playlists->getOne(699)->add(L"a", file("a.mp3"));
    page->fillAhead(playlists);
    EXPECT_EQ(page->playlistList->GetItemCount(), 0) << "nothing before the event loop runs";
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return page->playlistList->GetItemCount() > 0; }));
    EXPECT_LT(page->playlistList->GetItemCount(), 700) << "a share at a time";
    page->setListOfPlaylist(playlists);  // the page shown before the fill has ended
    ASSERT_EQ(page->playlistList->GetItemCount(), 700);
    wx_testing::runEventLoopFor(std::chrono::milliseconds(100));
    ASSERT_EQ(page->playlistList->GetItemCount(), 700) << "the rest of the fill added nothing twice";
    const Texts names = column(page->playlistList, 0);
    EXPECT_EQ(names[0], L"Плейлист 0");
    EXPECT_EQ(names[699], L"Плейлист 699");
    EXPECT_EQ(column(page->playlistList, 1)[699], L"1");

    // Rows of another list are never extended: the showing fills anew.
    auto other = boost::make_shared<ListOfPlaylist>();
    other->add(boost::make_shared<Playlist>(L"Другой", true));
    page->fillAhead(other);
    wx_testing::runEventLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(page->playlistList->GetItemCount(), 700);
    page->setListOfPlaylist(other);
    EXPECT_EQ(column(page->playlistList, 0), (Texts{L"Другой"}));
}

TEST_F(PlaylistPage, ShownAgainTheRowsKeepTheirPlaylistsCountsAndNoSelection) {
    open(false);
    const auto first = addPlaylist(L"Первый", {file("a.mp3")});
    addPlaylist(L"Второй", {file("b.mp3"), file("c.mp3")});
    EXPECT_EQ(column(page->playlistList, 1), (Texts{L"1", L"2"}));
    first->add(L"d", file("d.mp3"));
    first->add(L"e", file("e.mp3"));
    select(page->playlistList, {1});
    ASSERT_EQ(playlists->getSelection(), std::vector<unsigned>{1});
    page->setListOfPlaylist(playlists);  // the page shown again over the same playlists
    EXPECT_EQ(column(page->playlistList, 1), (Texts{L"3", L"2"}));
    EXPECT_EQ(page->playlistList->GetSelectedItemCount(), 0) << "shown again, nothing is selected";
    EXPECT_TRUE(playlists->getSelection().empty());
    playlists->moveItem(1, 0);
    page->setListOfPlaylist(playlists);
    EXPECT_EQ(column(page->playlistList, 0), (Texts{L"Второй", L"Первый"})) << "another order: filled anew";
    playlists->moveItem(0, 1);
    page->setListOfPlaylist(playlists);
    mouse(page->playlistList, wxEVT_LEFT_DOWN, 0);
    EXPECT_EQ(column(page->trackList, 0), (Texts{L"a", L"d", L"e"}));
    first->clear();
    page->redrawGuiElements(false, true, false, false);
    EXPECT_EQ(column(page->playlistList, 1), (Texts{L"0", L"2"})) << "the shown playlist emptied";
}
