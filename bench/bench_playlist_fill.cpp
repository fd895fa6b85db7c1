// A folder of 10,000 audio files added to the current playlist of the music
// page ("Добавить каталог..."): from the folder chosen until every row is
// shown and the window has painted, beside a bare report list control filled
// with the same 10,000 rows. Goal: under 1 s and within 3x the bare fill.
// Needs a display:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_playlist_fill
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>

#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "audio/list_of_playlist.h"
#include "audio/playlist.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/source_playlist_panel.h"
#include "gui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFiles = 10000;

/// Routes the invoker's task events as the main window does.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "playlist", wxPoint(0, 0), wxSize(1000, 700)) {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

/// The operator who picks the folder at once.
class FolderChooser : public frm::ui::Presenter {
public:
    explicit FolderChooser(wxString folder) : m_folder(std::move(folder)) {}
    int messageBox(const frm::ui::Box&, wxWindow*) override { return wxID_CANCEL; }
    int showModal(wxDialog&) override { return wxID_CANCEL; }
    bool askText(const wxString&, const wxString&, wxString&, bool, wxWindow*) override { return false; }
    wxString chooseFile(wxWindow*, const wxString&, const wxString&, const wxString&, bool, bool) override {
        return {};
    }
    wxString chooseDirectory(wxWindow*, const wxString&, const wxString&) override { return m_folder; }

private:
    wxString m_folder;
};

class Page : public frm::SourcePlaylistPanel {
public:
    using frm::fb::SourcePlaylistPanel::addDir, frm::fb::SourcePlaylistPanel::playlistList,
        frm::fb::SourcePlaylistPanel::playlistMenu, frm::fb::SourcePlaylistPanel::trackList;
    using frm::SourcePlaylistPanel::SourcePlaylistPanel;
};

void settle(wxWindow* window) {
    window->Update();
    wxTheApp->Yield(true);
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    const boost::filesystem::path folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("sonvar-bench-%%%%-%%%%");
    boost::filesystem::create_directories(folder);
    std::vector<wxString> titles, paths;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Композиция %05d", i);
        const std::string path = (folder / (std::string(name) + ".mp3")).string();
        std::ofstream(path).put('\0');
        titles.push_back(wxString::FromUTF8(name));
        paths.push_back(wxString::FromUTF8(path));
    }

    auto* frame = new TaskFrame;
    GuiThreadInvoker::createInstance(frame);
    base::ThreadDispatcher::create();
    frm::SourcePlaylistPanel::Outside outside;
    outside.hasInternet = [] { return true; };
    outside.captureDevices = [] { return std::vector<os::AudioCaptureDevice>(); };
    outside.fileFilter = [](bool) { return std::wstring(L"*.mp3;*.mp2;*.wav;*.ogg;*.wma;*.aac"); };
    auto* page = new Page(frame, nullptr, false, outside);
    frame->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame->GetSizer()->Add(page, 1, wxEXPAND);
    frame->Show();
    auto playlists = boost::make_shared<ListOfPlaylist>();
    playlists->add(boost::make_shared<Playlist>(L"Большой", true));
    page->setListOfPlaylist(playlists);
    settle(frame);

    // The playlist made current by a click on its row.
    wxRect row;
    page->playlistList->GetItemRect(0, row);
    const wxPoint screen = page->playlistList->ClientToScreen(wxPoint(row.x + 10, row.y + row.height / 2));
    wxMouseEvent click(wxEVT_LEFT_DOWN);
    for (wxWindow* inner : page->playlistList->GetChildren())
        if (inner->GetScreenRect().Contains(screen)) click.SetPosition(inner->ScreenToClient(screen));
    click.SetEventObject(page->playlistList);
    page->playlistList->GetEventHandler()->ProcessEvent(click);

    auto previous = frm::ui::setPresenter(std::make_unique<FolderChooser>(wxString(folder.string())));
    Clock::time_point start = Clock::now();
    wxCommandEvent choice(wxEVT_MENU, page->addDir->GetId());
    page->playlistMenu->ProcessEvent(choice);
    settle(frame);
    const double ours = millisecondsSince(start);
    const int shown = page->trackList->GetItemCount();
    frm::ui::setPresenter(std::move(previous));

    // The floor: the same rows in a bare report list.
    auto* bare = new wxListCtrl(frame, wxID_ANY, wxDefaultPosition, wxSize(900, 600), wxLC_REPORT);
    frame->GetSizer()->Add(bare, 1, wxEXPAND);
    page->Hide();
    frame->Layout();
    settle(frame);
    start = Clock::now();
    bare->Freeze();
    bare->InsertColumn(0, L"Название");
    bare->InsertColumn(1, L"Путь");
    for (int i = 0; i < kFiles; ++i) {
        const long at = bare->InsertItem(i, titles[static_cast<std::size_t>(i)]);
        bare->SetItem(at, 1, paths[static_cast<std::size_t>(i)]);
    }
    bare->Thaw();
    settle(frame);
    const double floor = millisecondsSince(start);

    std::printf("BENCH playlist_fill_10000 ours=%.0fms bare_listctrl=%.0fms ratio=%.2f\n", ours, floor,
                ours / floor);
    GuiThreadInvoker::stop();
    frame->Destroy();
    wxTheApp->Yield(true);
    GuiThreadInvoker::destroyInstance();
    base::ThreadDispatcher::destroy();
    wxTheApp->OnExit();
    wxEntryCleanup();
    boost::filesystem::remove_all(folder);
    if (shown != kFiles) {
        std::fprintf(stderr, "rows shown %d of %d\n", shown, kFiles);
        return 1;
    }
    return 0;
}
