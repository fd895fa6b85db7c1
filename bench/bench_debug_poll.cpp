// The property panel's debug page polling a simulated loudspeaker (a child
// process, so that its work is not counted) at the shortest period, 50 ms,
// for 60 s: the CPU share of this process (GUI thread, transport,
// dispatcher, device collection), beside a bare client that polls the same
// loudspeaker with the same asynchronous requests over the transport from a
// dispatcher job chain, without a window or a collection. Each reply holds
// two new numbered messages and two other lines, so the page's history grows
// all the time, as a talkative device's does. Also the requests that went
// unanswered in each run. Goals: no reply lost, under 10 % of one core.
// BENCH_SECONDS shortens both runs for a quick look.
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_debug_poll
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <atomic>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/property_device_panel.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint16_t kBasePort = 29992;
const char* const kAddress = "127.0.2.1";

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// The child: one loudspeaker whose "get dbg" answers two new messages each
/// time. Ends when the parent closes the pipe.
[[noreturn]] void runDevice(std::uint16_t serverPort, int pipe) {
    device::sim::Simulator simulator(1);
    // A loudspeaker that keeps its settings, as the page fills read them.
    auto model =
        std::make_unique<device::sim::OrvelConfigModel>(device::sim::Simulator::hardwareAddress(1), 17);
    device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(17), *model);
    device::sim::SimulatedDevice& speaker = simulator.add(kAddress, kBasePort, std::move(model));
    auto number = std::make_shared<unsigned>(0);
    speaker.withModel<device::sim::CommandModel>([number](device::sim::CommandModel& model) {
        model.on("get dbg", [number](const std::string&) {
            const unsigned n = ++*number * 2;
            return std::optional<std::string>("!" + std::to_string(n) + " line sensor " + std::to_string(n) +
                                              ": 12.5 V, 3 mA\r\n!" + std::to_string(n + 1) + " amplifier " +
                                              std::to_string(n + 1) +
                                              ": 41 C\r\nuptime=" + std::to_string(n) + "\r\nresets=0");
        });
        return 0;
    });
    speaker.setRecording(false);
    speaker.startStatePackets(
        device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), serverPort),
        std::chrono::milliseconds(1000));
    simulator.start();
    char c = 0;
    while (read(pipe, &c, 1) > 0) {
    }
    simulator.stop();
    std::_Exit(0);
}

/// The main window's part that the panel needs: the invoker's task events.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "debug poll", wxDefaultPosition, wxSize(1280, 1000)) {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

class Panel : public frm::PropertyDevicePanel {
public:
    using frm::fb::PropertyDevicePanel::choiceRefreshRate, frm::fb::PropertyDevicePanel::notebookPref;
    using frm::PropertyDevicePanel::PropertyDevicePanel,
        frm::PropertyDevicePanel::startRequestingDebugMessages;
};

bool runUntil(const std::function<bool()>& done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    wxGUIEventLoop loop;
    bool finished = false;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        finished = done();
        if (finished || Clock::now() > end) loop.Exit();
    });
    timer.Start(20);
    loop.Run();
    return finished;
}

struct Run {
    double cpuShare = 0;  // per cent of one core
    std::uint64_t sent = 0, answered = 0, timedOut = 0;
};

/// Runs the event loop for `span` and measures what the process spent.
Run measure(device::TransferProtocol& transport, std::chrono::seconds span) {
    const auto before = transport.getStatistics();
    const double cpu = processCpuSeconds();
    const auto start = Clock::now();
    runUntil([] { return false; }, span);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const auto after = transport.getStatistics();
    Run run;
    run.cpuShare = (processCpuSeconds() - cpu) / wall * 100;
    run.sent = after.sent - before.sent;
    run.answered = after.answered - before.answered;
    run.timedOut = after.timedOut - before.timedOut;
    return run;
}

/// The bare client: "get dbg" every 50 ms with half of it as resend time,
/// each completion only counted.
struct BareClient : std::enable_shared_from_this<BareClient> {
    boost::shared_ptr<device::TransferProtocol> transport;
    net::IpAndPort endpoint;
    std::atomic<bool> running{true};
    std::atomic<unsigned> replies{0};
    void poll() {
        if (!running) return;
        auto self = shared_from_this();
        transport->async(
            endpoint, "get dbg",
            [self](const std::string&, bool answered) { self->replies += answered ? 1 : 0; }, 0, 25);
        base::ThreadDispatcher::add(L"bare debug poll", 50, [self] { self->poll(); });
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (!std::getenv("SONVAR_NETNS_INSIDE")) {
        std::fprintf(stderr, "bench_debug_poll opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    const std::chrono::seconds span(std::getenv("BENCH_SECONDS") ? std::atoi(std::getenv("BENCH_SECONDS"))
                                                                 : 60);
    char pattern[] = "/tmp/bench-debug-poll-XXXXXX";
    const std::string root = mkdtemp(pattern);

    // Sockets first, threads after the fork.
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    int commands[2];
    if (pipe(commands) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(commands[1]);
        runDevice(transport->getPort(), commands[0]);
    }
    close(commands[0]);

    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        close(commands[1]);
        return 2;
    }
    boost::filesystem::create_directories(root + "/log");
    base::Log::create(base::fromUtf8(root + "/log"), base::Log::INFO, false);
    pref_init(base::fromUtf8(root + "/sonvar.cfg"));
    base::ThreadDispatcher::create();
    auto* frame = new TaskFrame;
    GuiThreadInvoker::createInstance(frame);

    device::CollectionTiming timing;
    timing.startDelay = std::chrono::milliseconds(100);
    auto collection = device::DeviceCollection::create(transport, kBasePort, timing);
    std::uint32_t ids = 0;
    collection->setNewDeviceHandler(
        [&ids](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
    transport->run();
    const net::HardwareAddress address(device::sim::Simulator::hardwareAddress(1));
    int status = 0;
    if (!runUntil(
            [&] {
                const auto speaker = collection->searchFor(address);
                return speaker && speaker->isOnlineAndAnswered();
            },
            std::chrono::seconds(20))) {
        std::fprintf(stderr, "the loudspeaker did not come online\n");
        status = 1;
    }

    Run ours, bare;
    if (status == 0) {
        auto* panel = new Panel(frame, collection, nullptr, transport, true);
        frame->Show();
        panel->imbueDevice(collection->searchFor(address));
        panel->updateData();
        panel->notebookPref->SetSelection(panel->notebookPref->GetPageCount() - 1);  // "Отладочные сообщения"
        panel->choiceRefreshRate->SetSelection(0);                                   // "50"
        wxCommandEvent chosen(wxEVT_CHOICE, panel->choiceRefreshRate->GetId());
        chosen.SetEventObject(panel->choiceRefreshRate);
        panel->choiceRefreshRate->HandleWindowEvent(chosen);
        panel->startRequestingDebugMessages();
        runUntil([] { return false; }, std::chrono::seconds(2));  // warm up
        ours = measure(*transport, span);
        panel->killFocus();
        runUntil([] { return false; }, std::chrono::milliseconds(300));
        panel->Destroy();
        collection->stop();
        runUntil([] { return false; }, std::chrono::milliseconds(300));

        auto client = std::make_shared<BareClient>();
        client->transport = transport;
        client->endpoint = net::IpAndPort(kAddress, kBasePort);
        client->poll();
        runUntil([] { return false; }, std::chrono::seconds(2));
        bare = measure(*transport, span);
        client->running = false;
        runUntil([] { return false; }, std::chrono::milliseconds(200));

        std::printf(
            "debug page: %llu requests, %llu answered, %llu given up; bare client: %llu, %llu, %llu\n",
            static_cast<unsigned long long>(ours.sent), static_cast<unsigned long long>(ours.answered),
            static_cast<unsigned long long>(ours.timedOut), static_cast<unsigned long long>(bare.sent),
            static_cast<unsigned long long>(bare.answered), static_cast<unsigned long long>(bare.timedOut));
        std::printf("BENCH debug_poll_50ms ours=%.2f%% transport_alone=%.2f%% ratio=%.2f\n", ours.cpuShare,
                    bare.cpuShare, ours.cpuShare / bare.cpuShare);
        if (ours.timedOut != 0) status = 1;
    }
    std::fflush(stdout);

    transport->stop();
    close(commands[1]);
    waitpid(child, nullptr, 0);
    GuiThreadInvoker::destroyInstance();
    frame->Destroy();
    base::ThreadDispatcher::destroy();
    pref_free();
    wxEntryCleanup();
    boost::filesystem::remove_all(root);
    return status;
}
