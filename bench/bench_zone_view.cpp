// The zone page with 1,000 simulated loudspeakers (a child process, so that
// their work is not counted) in one zone of the real main window:
//
// - zone_view_1000: a click on the zone's toggle until every row is shown
//   with its state icon (the list laid out and painted), beside a bare icon
//   list filled with 1,000 items with images the same way. Median of 9.
// - state_storm_p99: the 99th percentile of how long a no-op call posted to
//   the GUI thread (every 2 ms, from a thread of its own) waits while all
//   1,000 loudspeakers change state within one second, beside the same
//   measure while they only repeat their state. Goals: under 500 ms, and
//   under 100 ms.
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_zone_view
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/imaglist.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <atomic>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/icons.h"
#include "gui/main_frame.h"
#include "gui/zone_element_panel.h"
#include "tools/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;

constexpr unsigned kDevices = 1000;
constexpr int kRuns = 9;
const char* const kFirst = "127.0.1.1";

/// The child: the loudspeakers. 'g' starts their state packets (every 2 s,
/// spread over a second), 's' starts a voice alert on each within one second
/// (every row's icon changes) and sends the changed state at once, 'q' ends
/// them.
[[noreturn]] void runDevices(std::uint16_t serverPort, int commands) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    {
        device::sim::Simulator simulator(2);
        std::vector<device::sim::SimulatedDevice*> all;
        for (unsigned n = 0; n < kDevices; ++n)
            all.push_back(&simulator.addOrvel(*device::sim::Simulator::loopbackAddress(kFirst, n), 0,
                                              device::sim::Simulator::hardwareAddress(n + 1)));
        for (auto* device : all) device->setRecording(false);
        simulator.start();
        const device::sim::Endpoint server(asio::ip::make_address_v4("127.0.0.1"), serverPort);
        for (char command = 0; read(commands, &command, 1) == 1 && command != 'q';) {
            const auto start = Clock::now();
            for (unsigned n = 0; n < kDevices; ++n) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(1000000ull * n / kDevices));
                if (command == 'g') {
                    all[n]->startStatePackets(server, std::chrono::seconds(2));
                } else {
                    const std::string packet =
                        all[n]->withModel<device::sim::OrvelModel>([](device::sim::OrvelModel& model) {
                            model.fields[5] = model.fields[5] == 0 ? 9 : 0;  // a voice alert starts
                            return model.statePacket();
                        });
                    all[n]->send(packet, server);
                }
            }
        }
        simulator.stop();
    }
    std::_Exit(0);
}

/// The main window with its zone page in reach.
class Frame : public frm::MainFrame {
public:
    using frm::MainFrame::MainFrame;
    frm::ZoneElementPanel* zonePanel() const {
        return dynamic_cast<frm::ZoneElementPanel*>(contentPanel->GetChildren()[0]);
    }
};

void writeDataFolder(const std::string& folder) {
    boost::filesystem::create_directories(folder);
    std::ofstream(folder + "/sonvar.cfg") << "debug = { level = \"info\"; };\n";
    std::ofstream devices(folder + "/device_collection.xml");
    devices << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection>";
    std::ofstream zones(folder + "/zone_collection.xml");
    zones << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>"
          << "<zone><name>Склад</name><enableVolume>false</enableVolume><volume>0</volume><devices/><zones/"
             "></zone>"
          << "<zone><name>Зал</name><enableVolume>false</enableVolume><volume>0</volume><devices>";
    for (unsigned n = 0; n < kDevices; ++n) {
        const std::string hardware = device::sim::Simulator::hardwareAddress(n + 1);
        devices << "<device><hardware_address>" << hardware
                << "</hardware_address><type>Orvel-610</type><name>"
                << "Громкоговоритель " << n + 1 << "</name><ip>"
                << *device::sim::Simulator::loopbackAddress(kFirst, n) << "</ip></device>";
        zones << "<hardware_address>" << hardware << "</hardware_address>";
    }
    devices << "</device_collection>\n";
    zones << "</devices><zones/></zone></zone_collection>\n";
}

/// Lays the list out and paints it now, as the next idle time and the next
/// paint would.
void showNow(wxWindow* list) {
    wxTheApp->ProcessIdle();
    list->Update();
}

void clickToggle(wxToggleButton* toggle) {
    toggle->SetValue(true);
    wxCommandEvent event(wxEVT_TOGGLEBUTTON, toggle->GetId());
    event.SetEventObject(toggle);
    event.SetInt(1);
    toggle->GetEventHandler()->ProcessEvent(event);
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

/// The waits of no-op calls posted every 2 ms from another thread while the
/// GUI thread runs its loop for `span`: their 99th percentile.
double p99WaitMs(std::chrono::milliseconds span) {
    std::mutex lock;
    std::vector<double> waits;
    std::atomic<bool> posting{true};
    std::thread poster([&] {
        while (posting) {
            const auto posted = Clock::now();
            wxTheApp->CallAfter([&lock, &waits, posted] {
                std::lock_guard<std::mutex> guard(lock);
                waits.push_back(milliseconds(Clock::now() - posted));
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    wxGUIEventLoop loop;
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(static_cast<int>(span.count()));
    loop.Run();
    posting = false;
    poster.join();
    wxTheApp->ProcessPendingEvents();  // the last ones
    std::lock_guard<std::mutex> guard(lock);
    std::sort(waits.begin(), waits.end());
    return waits.empty() ? 0 : waits[std::min(waits.size() - 1, waits.size() * 99 / 100)];
}

/// Runs the loop until `done` holds or `limit` passes.
template <class F>
bool runUntil(F done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (!std::getenv("SONVAR_NETNS_INSIDE")) {
        std::fprintf(stderr, "bench_zone_view opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    char pattern[] = "/tmp/bench-zone-view-XXXXXX";
    const std::string root = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    const std::string folder = root + "/Varko Security Systems/Sonvar/1.2";
    writeDataFolder(folder);

    // Sockets first, threads after the fork.
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    int commands[2];
    if (pipe(commands) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(commands[1]);
        runDevices(transport->getPort(), commands[0]);
    }
    close(commands[0]);
    const auto command = [&](char c) {
        if (write(commands[1], &c, 1) != 1) std::_Exit(1);
    };

    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        command('q');
        return 2;
    }
    boost::filesystem::create_directories(folder + "/log");
    base::Log::create(base::fromUtf8(folder + "/log"), base::Log::INFO, false);
    pref_init(base::fromUtf8(folder + "/sonvar.cfg"));
    base::ThreadDispatcher::create();

    auto* frame = new Frame(transport, false, false);
    frame->SetSize(1400, 1000);
    frame->Show();
    frame->Startup();
    command('g');
    int status = 0;
    // Every loudspeaker online and answering.
    const auto collectionReady = [&] {
        // The collection is reached through the devices of the zone's rows.
        const frm::ItemDataMap::DevicePtrSet all = frame->getItemDataMap()->zoneDevices(0);
        return all.size() == kDevices && std::all_of(all.begin(), all.end(), [](const auto& device) {
                   return device->isOnlineAndAnswered();
               });
    };
    if (!runUntil(collectionReady, std::chrono::seconds(60))) {
        std::fprintf(stderr, "the loudspeakers did not all come online\n");
        status = 1;
    }

    // The zone view: "Склад" (empty) then "Зал" (1,000 loudspeakers), timed.
    const frm::ZoneElement::Ptr tree = frame->getItemDataMap()->getZoneElement(0);
    wxToggleButton* store = tree->getZones().at(1)->getButton();
    wxToggleButton* hall = tree->getZones().at(2)->getButton();
    frm::IconGrid* rows = frame->zonePanel()->deviceList;
    std::vector<double> ours;
    for (int run = 0; run < kRuns && status == 0; ++run) {
        clickToggle(store);
        runUntil([] { return true; }, std::chrono::seconds(1));
        const auto start = Clock::now();
        clickToggle(hall);
        showNow(rows);
        ours.push_back(milliseconds(Clock::now() - start));
        if (rows->GetItemCount() != static_cast<int>(kDevices)) status = 1;
    }

    std::vector<double> bare;
    {
        auto* bareFrame = new wxFrame(nullptr, wxID_ANY, "bare", wxDefaultPosition, wxSize(1400, 1000));
        auto* list = new wxListCtrl(bareFrame, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_ICON);
        auto* images = new wxImageList(48, 48, true, 14);
        for (int id = 8; id < 22; ++id) images->Add(loadSvgBitmap(id));
        list->AssignImageList(images, wxIMAGE_LIST_NORMAL);
        bareFrame->Show();
        for (int run = 0; run < kRuns; ++run) {
            list->DeleteAllItems();
            showNow(list);
            const auto start = Clock::now();
            for (unsigned n = 0; n < kDevices; ++n)
                list->InsertItem(static_cast<long>(n), L"Громкоговоритель " + std::to_wstring(n + 1), 1);
            showNow(list);
            bare.push_back(milliseconds(Clock::now() - start));
        }
        bareFrame->Destroy();
    }
    if (status == 0) {
        const double oursMs = median(ours), bareMs = median(bare);
        std::printf("BENCH zone_view_1000 ours=%.1fms bare_listctrl=%.1fms ratio=%.2f\n", oursMs, bareMs,
                    oursMs / bareMs);

        // The loudspeakers repeat their state, then all change it within a
        // second; the window settles first.
        p99WaitMs(std::chrono::milliseconds(2000));
        const double idle = p99WaitMs(std::chrono::milliseconds(3000));
        command('s');
        const double storm = p99WaitMs(std::chrono::milliseconds(3000));
        std::printf("BENCH state_storm_p99 ours=%.1fms idle_loop=%.1fms ratio=%.2f\n", storm, idle,
                    storm / idle);
    }
    std::fflush(stdout);

    command('q');
    frame->Shutdown();
    frame->Destroy();
    wxTheApp->ProcessIdle();
    base::ThreadDispatcher::destroy();
    pref_free();
    base::Log::destroy();
    waitpid(child, nullptr, 0);
    boost::filesystem::remove_all(root);
    return status;
}
