// The property panel's broadcast-zone page of a console with 1,000 simulated
// loudspeakers of index 18 online (a child process, so that their work is
// not counted): the page's fill (its read on the panel's worker, then the
// rows on the GUI thread) making every row (the zone's two targets
// ticked, the rest offered), laid out and painted, beside creating 1,000
// plain check boxes in a scrolled window the same way. Also printed: a
// refill over the rows already there.
// Medians of 9 runs after one warm-up (for ours the first fill, which reads
// the loudspeakers' zone lists into their caches). Goal: under 500 ms.
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_zone_targets
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>

#include <algorithm>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/memory/memory_image.h"
#include "device/models/device_collection.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/property_device_panel.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/speaker_zone_store.h"
#include "tools/simulator/tovik_zone_model.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kLoudspeakers = 1000;
constexpr int kRuns = 9;
const char* const kFirst = "127.0.9.1";
constexpr unsigned kConsole = 1;  // hardware number; the loudspeakers follow

/// An audio memory of one fragment and one scenario that plays it.
std::string messageImage() {
    device::memory::FragmentRecord fragment;
    fragment.id = 10;
    fragment.title = L"Сообщение";
    device::memory::ScenarioInfo scenario;
    scenario.id = 5;
    scenario.number = 1;
    scenario.title = L"Эвакуация";
    scenario.messageId = 10;
    return device::memory::encodeImage(device::memory::kLayout611, {fragment}, {scenario},
                                       {std::make_shared<const std::string>(std::string(2000, '\x55'))});
}

/// The child: the console with zone 1 bound to the first two loudspeakers,
/// and the loudspeakers, the first with an audio memory. 'g' starts their
/// state packets, 'q' ends them.
[[noreturn]] void runDevices(std::uint16_t serverPort, int commands) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    {
        device::sim::Simulator simulator(2);
        const auto address = [](unsigned n) { return *device::sim::Simulator::loopbackAddress(kFirst, n); };
        auto console =
            std::make_unique<device::sim::TovikZoneModel>(device::sim::Simulator::hardwareAddress(kConsole));
        const unsigned first = (kConsole + 1) & 0xFFFFFF, second = (kConsole + 2) & 0xFFFFFF;
        console->zones[1] = device::sim::TovikZoneModel::Zone{21, {first, second}};
        simulator.add(address(0), 0, std::move(console));
        for (unsigned n = 1; n <= kLoudspeakers; ++n) {
            auto model = std::make_unique<device::sim::OrvelConfigModel>(
                device::sim::Simulator::hardwareAddress(kConsole + n), 18);
            const auto zones = std::make_shared<device::sim::SpeakerZoneStore>();
            if (n <= 2) {
                zones->setAnnouncements({21});
                zones->setAddresses({kConsole});
            }
            device::sim::SpeakerZoneStore::install(zones, *model);
            if (n == 1) {
                const auto memory =
                    std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
                memory->plant(messageImage());
                device::sim::AudioMemoryStore::install(memory, *model);
            }
            simulator.add(address(n), 0, std::move(model));
        }
        for (std::size_t n = 0; n < simulator.size(); ++n) simulator.device(n).setRecording(false);
        simulator.start();
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"), serverPort);
        for (char command = 0; read(commands, &command, 1) == 1 && command != 'q';)
            for (std::size_t n = 0; n < simulator.size(); ++n)
                simulator.device(n).startStatePackets(server, std::chrono::seconds(1));
        simulator.stop();
    }
    std::_Exit(0);
}

class Panel : public frm::PropertyDevicePanel {
public:
    using frm::PropertyDevicePanel::PropertyDevicePanel;
    /// The zone page shown (its first read waits for the loudspeakers).
    void showZones() {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPage(i)->GetId() == frm::property_pages::kZones)
                notebookPref->SetSelection(i);
    }
    /// The page filled in place as the device views' refresh fills it: the
    /// read on the panel's worker, the rows on the GUI thread.
    void fillZoneTargets() { fillCurrentPage(true); }
    std::size_t rows() const { return scrolledZoneTargets->GetChildren().size() - 1; }  // the sample
    /// The rows of the last fill go, so that the next fill makes them all.
    void dropRows() {
        wxWindowList rows = scrolledZoneTargets->GetChildren();
        for (wxWindow* row : rows)
            if (row != checkBoxZoneTargetSample) row->Destroy();
    }
};

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

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

/// Lays out and paints what changed, as the next idle time and paint would;
/// the panel's read over and its rows made first.
void showNow(wxWindow* window) {
    if (auto* panel = dynamic_cast<Panel*>(window))
        while (panel->working()) wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
    window->Update();
}

/// Hands the GUI-thread invoker's tasks (the panel's reads) to it.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "tasks") {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (!std::getenv("SONVAR_NETNS_INSIDE")) {
        std::fprintf(stderr, "bench_zone_targets opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    char pattern[] = "/tmp/bench-zone-targets-XXXXXX";
    const std::string root = mkdtemp(pattern);

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
    base::Log::create(base::fromUtf8(root), base::Log::INFO, false);
    pref_init(base::fromUtf8(root + "/sonvar.cfg"));
    base::ThreadDispatcher::create();
    auto* tasks = new TaskFrame;
    GuiThreadInvoker::createInstance(tasks);
    std::uint32_t ids = 0;
    const auto collection = device::DeviceCollection::create(transport, 0);
    collection->setNewDeviceHandler(
        [&ids](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
    transport->run();
    command('g');

    int status = 0;
    boost::shared_ptr<device::TovikInfo> console;
    const auto ready = [&] {
        console = boost::dynamic_pointer_cast<device::TovikInfo>(
            collection->searchFor(net::HardwareAddress(device::sim::Simulator::hardwareAddress(kConsole))));
        return console && console->isOnlineAndAnswered() &&
               collection->getOrvels(true).size() == kLoudspeakers;
    };
    if (!runUntil(ready, std::chrono::seconds(60))) {
        std::fprintf(stderr, "the devices did not all come online\n");
        status = 1;
    }

    auto* frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));
    auto* panel = new Panel(frame, collection, nullptr, transport, false);
    frame->Show();
    std::vector<double> ours;
    if (status == 0) {
        panel->imbueDevice(console);
        panel->updateData();  // the frame's own work: the page layout, the title
        showNow(panel);
        panel->showZones();
        showNow(panel);
        // The first fill reads every loudspeaker's zone lists into its
        // cache; a loudspeaker that answered late meanwhile is probed again
        // by the collection before the timed runs.
        panel->fillZoneTargets();
        if (!runUntil(ready, std::chrono::seconds(60))) status = 1;
        for (int run = 0; run < kRuns; ++run) {
            panel->dropRows();
            showNow(panel);
            const auto start = Clock::now();
            panel->fillZoneTargets();
            showNow(panel);
            ours.push_back(milliseconds(Clock::now() - start));
        }
        // A refill over the rows of the last fill, as a change of any device
        // brings (not compared with anything).
        std::vector<double> refills;
        for (int run = 0; run < kRuns; ++run) {
            const auto start = Clock::now();
            panel->fillZoneTargets();
            showNow(panel);
            refills.push_back(milliseconds(Clock::now() - start));
        }
        std::printf("refill of 1,000 rows: %.1f ms\n", median(refills));
        if (panel->rows() != kLoudspeakers) {
            std::fprintf(stderr, "%zu rows instead of %u\n", panel->rows(), kLoudspeakers);
            status = 1;
        }
    }
    panel->Hide();

    std::vector<double> bare;
    {
        auto* list = new wxScrolledWindow(frame, wxID_ANY, wxDefaultPosition, frame->GetClientSize(),
                                          wxHSCROLL | wxVSCROLL);
        list->SetScrollRate(5, 5);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        list->SetSizer(sizer);
        for (int run = 0; run <= kRuns; ++run) {
            list->DestroyChildren();
            showNow(list);
            const auto start = Clock::now();
            list->Freeze();
            for (unsigned n = 0; n < kLoudspeakers; ++n)
                sizer->Add(new wxCheckBox(list, wxID_ANY, L"Громкоговоритель " + std::to_wstring(n + 1)), 0,
                           wxALL, 5);
            list->FitInside();
            list->Layout();
            list->Thaw();
            showNow(list);
            if (run > 0) bare.push_back(milliseconds(Clock::now() - start));
        }
    }
    if (status == 0) {
        const double oursMs = median(ours), bareMs = median(bare);
        std::printf("BENCH zone_targets_1000 ours=%.1fms bare_checkboxes=%.1fms ratio=%.2f\n", oursMs, bareMs,
                    oursMs / bareMs);
        if (oursMs >= 500) status = 1;
    }
    std::fflush(stdout);

    command('q');
    panel->shutdown();
    frame->Destroy();
    wxTheApp->ProcessIdle();
    collection->stop();
    transport->stop();
    GuiThreadInvoker::destroyInstance();
    tasks->Destroy();
    base::ThreadDispatcher::destroy();
    pref_free();
    base::Log::destroy();
    waitpid(child, nullptr, 0);
    boost::filesystem::remove_all(root);
    wxEntryCleanup();
    return status;
}
