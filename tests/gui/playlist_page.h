#pragma once

#include <wx/frame.h>
#include <wx/sizer.h>

#include <boost/make_shared.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "audio/list_of_playlist.h"
#include "base/files.h"
#include "gui/scheduler_control.h"
#include "gui/source_playlist_panel.h"
#include "tests/gui/player_site.h"

// A playlist page in a frame of its own over the program's player, its
// controls and handlers in reach, and the events an operator's mouse and keys
// send to its lists.
namespace page_testing {

/// The scheduler page as the playlist page asks it.
struct FakeScheduler : frm::ISchedulerControl {
    std::set<std::wstring> used;
    std::vector<std::pair<std::wstring, std::wstring>> renames;
    void renamePlaylist(const std::wstring& from, const std::wstring& to) override {
        renames.push_back({from, to});
    }
    bool existPlaylist(const std::wstring& name) override { return used.count(name) > 0; }
};

class Page : public frm::SourcePlaylistPanel {
public:
    using frm::fb::SourcePlaylistPanel::addDir, frm::fb::SourcePlaylistPanel::addFiles,
        frm::fb::SourcePlaylistPanel::addPlaylist, frm::fb::SourcePlaylistPanel::addUrl,
        frm::fb::SourcePlaylistPanel::captureAudioWithDevice, frm::fb::SourcePlaylistPanel::clearPlayList,
        frm::fb::SourcePlaylistPanel::controlPlaylists, frm::fb::SourcePlaylistPanel::deleteSelected,
        frm::fb::SourcePlaylistPanel::editUrl, frm::fb::SourcePlaylistPanel::next,
        frm::fb::SourcePlaylistPanel::play, frm::fb::SourcePlaylistPanel::playlistList,
        frm::fb::SourcePlaylistPanel::playlistMenu, frm::fb::SourcePlaylistPanel::prev,
        frm::fb::SourcePlaylistPanel::rename, frm::fb::SourcePlaylistPanel::stop,
        frm::fb::SourcePlaylistPanel::trackList;
    using frm::SourcePlaylistPanel::SourcePlaylistPanel;
};

class PageSite : public PlayerSite {
protected:
    void TearDown() override {
        if (frame != nullptr) frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        PlayerSite::TearDown();
    }
    void open(bool radio) {
        frame = new wxFrame(nullptr, wxID_ANY, radio ? "radio" : "music", wxPoint(0, 0), wxSize(900, 500));
        frm::SourcePlaylistPanel::Outside outside;
        outside.hasInternet = [this] {
            ++internetChecks;
            return internet;
        };
        outside.captureDevices = [] {
            return std::vector<os::AudioCaptureDevice>{{L"Линейный вход", 0, "hw:0"}};
        };
        outside.fileFilter = [this](bool masks) { return engine->getFileFilter(masks); };
        outside.dataFolder = base::fromUtf8(m_dir.path());
        page = new Page(frame, &scheduler, radio, outside);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(page, 1, wxEXPAND);
        frame->SetSizer(sizer);
        frame->Show();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
        page->setListOfPlaylist(playlists);
    }
    boost::shared_ptr<Playlist> addPlaylist(const std::wstring& name,
                                            const std::vector<std::wstring>& paths) {
        auto playlist = boost::make_shared<Playlist>(name, true);
        for (const std::wstring& path : paths) playlist->add(getFileName(path, true), path);
        playlists->add(playlist);
        page->setListOfPlaylist(playlists);
        return playlist;
    }

    /// Where the row's label lies, in the coordinates of the list's mouse
    /// events (those of its inner window, below the header).
    static wxPoint rowPoint(wxListCtrl* list, long row) {
        wxRect rect;
        list->GetItemRect(row, rect);
        const wxPoint screen = list->ClientToScreen(wxPoint(rect.x + 10, rect.y + rect.height / 2));
        for (wxWindow* inner : list->GetChildren())
            if (inner->GetScreenRect().Contains(screen)) return inner->ScreenToClient(screen);
        return {};
    }
    static void mouse(wxListCtrl* list, wxEventType type, long row, bool leftDown = false) {
        wxMouseEvent event(type);
        event.SetPosition(row >= 0 ? rowPoint(list, row) : wxPoint(5, 1000));
        event.m_leftDown = leftDown;
        event.SetEventObject(list);
        list->GetEventHandler()->ProcessEvent(event);
    }
    static void key(wxListCtrl* list, int code, bool control = false) {
        wxKeyEvent event(wxEVT_KEY_UP);
        event.m_keyCode = code;
        event.m_controlDown = control;
        event.SetEventObject(list);
        list->GetEventHandler()->ProcessEvent(event);
    }
    /// Only these rows selected, as clicks with Control leave them.
    static void select(wxListCtrl* list, const std::vector<long>& rows) {
        for (long row = 0; row < list->GetItemCount(); ++row)
            list->SetItemState(row, 0, wxLIST_STATE_SELECTED);
        for (long row : rows) list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    static void click(wxButton* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    void choose(wxMenuItem* item) {
        wxCommandEvent event(wxEVT_MENU, item->GetId());
        event.SetEventObject(page->playlistMenu);
        page->playlistMenu->ProcessEvent(event);
    }
    static std::vector<std::wstring> column(wxListCtrl* list, int column) {
        std::vector<std::wstring> texts;
        for (long row = 0; row < list->GetItemCount(); ++row)
            texts.push_back(list->GetItemText(row, column).ToStdWstring());
        return texts;
    }
    static std::vector<long> green(wxListCtrl* list) {
        std::vector<long> rows;
        for (long row = 0; row < list->GetItemCount(); ++row)
            if (list->GetItemTextColour(row) == frm::SourcePlaylistPanel::kPlayingColour) rows.push_back(row);
        return rows;
    }

    FakeScheduler scheduler;
    boost::shared_ptr<ListOfPlaylist> playlists = boost::make_shared<ListOfPlaylist>();
    bool internet = true;
    int internetChecks = 0;
    wxFrame* frame = nullptr;
    Page* page = nullptr;
};

}  // namespace page_testing
