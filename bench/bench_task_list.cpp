// The scheduler page's task list rebuilt over 1,000 tasks of its core (with
// the INFO line that each row writes to the log), beside a bare report list
// control filled with the same 1,000 rows of eight cells; both until painted.
// Goal: under 500 ms. Needs a display:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_task_list
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "audio/playlist.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "gui/scheduler_store.h"
#include "gui/scheduler_vault.h"
#include "gui/source_scheduler_panel.h"
#include "scheduler/core.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kTasks = 1000;
constexpr int kRounds = 5;
constexpr double kGoalMs = 500;

class Page : public frm::SourceSchedulerPanel {
public:
    using frm::fb::SourceSchedulerPanel::taskList;
    using frm::SourceSchedulerPanel::SourceSchedulerPanel;
};

double msSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

wchar_t* twoDigits(wchar_t* text, int a, int b, const wchar_t* format) {
    std::swprintf(text, 16, format, a, b);
    return text;
}

/// 1,000 start tasks, far in the future so that none falls due: daily and
/// one-shot items of twenty playlists and twenty messages (with a gong) on
/// one to three of ten loudspeakers.
void plan(Page& page, const std::vector<boost::shared_ptr<frm::PlaybackCollection>>& sources,
          const std::vector<boost::shared_ptr<device::OrvelInfo>>& speakers) {
    frm::SchedulerStore& store = page.getStore();
    for (int i = 0; i < kTasks; ++i) {
        const auto& group = sources[static_cast<std::size_t>(i % 2)];
        const auto playback = group->getAll()[static_cast<std::size_t>(i / 2 % 20)]->clone();
        frm::DeviceSet devices;
        for (int d = 0; d <= i % 3; ++d) devices.insert(speakers[static_cast<std::size_t>((i + d) % 10)]);
        playback->setDevices(devices);
        if (const auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(playback))
            track->setGong(L"Гонг.mp3", L"/nonexistent/Гонг.mp3");
        wchar_t date[16], time[16];
        twoDigits(date, 1 + i % 12, 1 + i % 28, L"2099-%02d-%02d");
        twoDigits(time, i % 24, i % 60, L"%02d:%02d");
        const auto [startId, stopId] = store.takeTaskIds();
        std::shared_ptr<scheduler::task::BaseTask> task;
        scheduler::task::DataVault vault;
        vault.startDate = date;
        vault.startTime = time;
        if (i % 4 == 0) {
            task = std::make_shared<scheduler::task::Once>(startId, date, time, scheduler::task::Event(),
                                                           store.environment());
            vault.finalDate = date;
        } else {
            vault.finalDate = i % 4 == 1 ? L"" : L"2099-12-31";
            task = std::make_shared<scheduler::task::Daily>(startId, date, time, vault.finalDate,
                                                            scheduler::task::Event(), store.environment());
        }
        vault.playback = playback;
        vault.deviceIds = page.playbackDeviceIds(playback);
        vault.stopTaskId = scheduler::task::kNoStopTask;
        scheduler::task::setVault(*task, vault);
        store.setStartEvent(task, playback);
        page.getCore().putTask(task);
    }
}

/// The same rows in a bare report list, as a page without any logic would
/// fill it.
double bareFill(wxListCtrl& bare, const std::vector<std::vector<wxString>>& rows) {
    const auto start = Steady::now();
    bare.Freeze();
    bare.DeleteAllItems();
    for (const auto& cells : rows) {
        const long row = bare.InsertItem(bare.GetItemCount(), cells[0]);
        for (int column = 1; column < 8; ++column)
            bare.SetItem(row, column, cells[static_cast<std::size_t>(column)]);
    }
    bare.Thaw();
    bare.Update();
    return msSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    const auto folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("sonvar-bench-%%%%%%%%");
    boost::filesystem::create_directories(folder);
    const std::wstring wideFolder = base::fromUtf8(folder.string());
    base::Log::create(wideFolder, base::Log::INFO, false);
    pref_init(wideFolder + L"/sonvar.cfg");

    int status = 0;
    {
        device::CollectionTiming timing;
        timing.startDelay = std::chrono::hours(1);
        const auto collection = device::DeviceCollection::create(nullptr, 11990, timing);
        std::vector<boost::shared_ptr<device::OrvelInfo>> speakers;
        auto root = frm::ZoneElement::createDetached(L"Все зоны");
        for (int n = 0; n < 10; ++n) {
            char address[32];
            std::snprintf(address, sizeof address, "02:56:53:00:01:%02X", n);
            speakers.push_back(boost::dynamic_pointer_cast<device::OrvelInfo>(collection->addDevice(
                static_cast<std::uint32_t>(n + 1), L"Orvel-610", net::HardwareAddress(address),
                net::Ip4Address("10.0.0.5"), L"Громкоговоритель " + std::to_wstring(n + 1))));
            root->addElement(speakers.back());
        }
        auto playlists = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлисты");
        auto messages =
            boost::make_shared<frm::PlaybackCollection>(L"serviceMessage", L"Служебные сообщения");
        for (int n = 0; n < 20; ++n) {
            const std::wstring name = L"Плейлист " + std::to_wstring(n + 1);
            playlists->add(
                boost::make_shared<frm::PlaybackPlaylist>(name, boost::make_shared<Playlist>(name, false)));
            auto track = boost::make_shared<frm::PlaybackTrack>(
                L"Объявления: Сообщение " + std::to_wstring(n + 1), 4, false);
            track->setMessage(L"Сообщение", L"/nonexistent/Сообщение.mp3");
            messages->add(track);
        }

        auto* frame = new wxFrame(nullptr, wxID_ANY, "scheduler", wxPoint(0, 0), wxSize(1280, 900));
        scheduler::task::Environment environment{scheduler::systemClock(),
                                                 [](const std::wstring&, scheduler::task::Event) {}};
        auto* page = new Page(frame, root, collection, scheduler::systemClock(), environment);
        frame->SetSizer(new wxBoxSizer(wxVERTICAL));
        frame->GetSizer()->Add(page, 1, wxEXPAND);
        auto* bareFrame = new wxFrame(nullptr, wxID_ANY, "bare", wxPoint(0, 0), wxSize(1280, 900));
        auto* bare = new wxListCtrl(bareFrame, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
        for (int column = 0; column < 8; ++column) {
            wxListItem title;
            title.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
            page->taskList->GetColumn(column, title);
            bare->InsertColumn(column, title.GetText(), wxLIST_FORMAT_LEFT, title.GetWidth());
        }
        bareFrame->Show();
        frame->Show();
        page->setPlaybacks({playlists, messages});
        page->resetControls();
        plan(*page, {playlists, messages}, speakers);
        wxTheApp->Yield(true);

        std::vector<double> ours, peer;
        for (int round = 0; round < kRounds; ++round) {
            auto start = Steady::now();
            page->refreshTaskListCtrl();
            page->taskList->Update();
            ours.push_back(msSince(start));
            wxTheApp->Yield(true);
        }
        std::vector<std::vector<wxString>> rows;
        for (long row = 0; row < page->taskList->GetItemCount(); ++row) {
            std::vector<wxString> cells;
            for (int column = 0; column < 8; ++column)
                cells.push_back(page->taskList->GetItemText(row, column));
            rows.push_back(cells);
        }
        for (int round = 0; round < kRounds; ++round) {
            peer.push_back(bareFill(*bare, rows));
            wxTheApp->Yield(true);
        }
        const double oursMs = median(ours);
        const double peerMs = median(peer);
        std::printf("task_list: %zu rows of %d tasks; refresh %.1f ms, goal %.0f ms: %s\n", rows.size(),
                    kTasks, oursMs, kGoalMs, oursMs < kGoalMs ? "met" : "MISSED");
        std::printf("BENCH task_list_1000 ours=%.1fms bare_listctrl=%.1fms ratio=%.2f\n", oursMs, peerMs,
                    peerMs > 0 ? oursMs / peerMs : 0.0);
        if (rows.size() != static_cast<std::size_t>(kTasks)) status = 1;

        page->shutdown();
        frame->Destroy();
        bareFrame->Destroy();
        wxTheApp->Yield(true);
        collection->stop();
    }

    pref_free();
    base::Log::destroy();
    boost::filesystem::remove_all(folder);
    wxEntryCleanup();
    return status;
}
