#pragma once

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

// A playlist page in a frame of its own over the program's player, with its
// controls and handlers in reach and a scheduler that the test controls.
namespace page_testing {

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
    using frm::SourcePlaylistPanel::SourcePlaylistPanel;
    using Layout = frm::fb::SourcePlaylistPanel;
    using Layout::addDir, Layout::addFiles, Layout::addPlaylist, Layout::addUrl,
        Layout::captureAudioWithDevice, Layout::clearPlayList, Layout::controlPlaylists,
        Layout::deleteSelected, Layout::editUrl, Layout::next, Layout::play, Layout::playlistList,
        Layout::playlistMenu, Layout::prev, Layout::rename, Layout::stop, Layout::trackList;
};

class PageSite : public PlayerSite {
protected:
    void TearDown() override {
        if (page != nullptr) page->GetParent()->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        PlayerSite::TearDown();
    }
    void open(bool radio) {
        frm::SourcePlaylistPanel::Outside outside;
        outside.hasInternet = [this] { return ++internetChecks, internet; };
        outside.captureDevices = [] {
            return std::vector<os::AudioCaptureDevice>{{L"Линейный вход", 0, "hw:0"}};
        };
        outside.fileFilter = [this](bool masks) { return engine->getFileFilter(masks); };
        outside.dataFolder = base::fromUtf8(m_dir.path());
        page = new Page(new wxFrame(nullptr, wxID_ANY, "page", wxPoint(0, 0), wxSize(900, 500)), &scheduler,
                        radio, outside);
        frame = frameAround(page);
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
    static void key(wxListCtrl* list, int code) {
        wxKeyEvent event(wxEVT_KEY_UP);
        event.m_keyCode = code;
        event.SetEventObject(list);
        list->GetEventHandler()->ProcessEvent(event);
    }
    /// Only these rows selected.
    static void select(wxListCtrl* list, const std::vector<long>& rows) {
        for (long row = 0; row < list->GetItemCount(); ++row)
            list->SetItemState(row, 0, wxLIST_STATE_SELECTED);
        for (long row : rows) list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    void choose(wxMenuItem* item) {
        wxCommandEvent event(wxEVT_MENU, item->GetId());
        page->playlistMenu->ProcessEvent(event);
    }

    FakeScheduler scheduler;
    boost::shared_ptr<ListOfPlaylist> playlists = boost::make_shared<ListOfPlaylist>();
    bool internet = true;
    int internetChecks = 0;
    wxFrame* frame = nullptr;
    Page* page = nullptr;
};

}  // namespace page_testing
