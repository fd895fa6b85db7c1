// The property panel's page fills: updateData until the page shows what the
// panel's worker read, for the common, network, Zarno and sources pages of a simulated loudspeaker (index
// 21, with its equalizer and an audio memory of three fragments), beside the
// same requests sent one after the other straight through the transport, the
// network's share of the fill. The device's caches are dropped before every
// run, so each run asks what the first opening of the page asks. Medians of
// 15 runs after one warm-up. Goal: no page more than 30 ms above its
// exchanges. Opens sockets and a window:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_page_fill
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <algorithm>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/memory/audio_control.h"
#include "device/memory/memory_image.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "gui/property_device_panel.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kRuns = 15;
constexpr std::uint16_t kDevicePort = 29990;
constexpr double kGoalMs = 30;

class Panel : public frm::PropertyDevicePanel {
public:
    using frm::PropertyDevicePanel::PropertyDevicePanel;
    void show(int page) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPage(i)->GetId() == page) notebookPref->SetSelection(i);
    }
};

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void settle() {
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
}

/// Hands the GUI-thread invoker's tasks (the panel's reads) to it.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "tasks") {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

/// Until the panel's read has shown the page.
void untilShown(const frm::PropertyDevicePanel& panel) {
    while (panel.working()) wxTheApp->Yield(true);
}

/// An image of three fragments and one scenario, as the memory's own writer
/// lays it out.
std::string memoryImage() {
    using namespace device::memory;
    std::vector<FragmentRecord> records;
    std::vector<std::shared_ptr<const std::string>> data;
    for (std::uint16_t id = 10; id < 13; ++id) {
        FragmentRecord record;
        record.id = id;
        record.title = L"Фрагмент " + std::to_wstring(id);
        records.push_back(record);
        data.push_back(std::make_shared<const std::string>(std::string(1500 + id, static_cast<char>(id))));
    }
    ScenarioInfo scenario;
    scenario.id = 5;
    scenario.number = 1;
    scenario.title = L"Эвакуация";
    scenario.gongId = 10;
    scenario.messageId = 12;
    scenario.period = 30;
    return encodeImage(kLayout611, records, {scenario}, data);
}

}  // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    base::ThreadDispatcher::create();
    auto* tasks = new TaskFrame;
    GuiThreadInvoker::createInstance(tasks);
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    auto collection = device::DeviceCollection::create(transport, kDevicePort);
    std::uint32_t ids = 0;
    collection->setNewDeviceHandler(
        [&ids](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
    transport->run();

    device::sim::Simulator simulator;
    const std::string hardware = device::sim::Simulator::hardwareAddress(0x70001);
    auto model = std::make_unique<device::sim::OrvelConfigModel>(hardware, 21);
    device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(21), *model);
    auto memory = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
    memory->plant(memoryImage());
    device::sim::AudioMemoryStore::install(memory, *model);
    device::sim::SimulatedDevice& simulated = simulator.add("127.0.70.1", kDevicePort, std::move(model));
    simulated.setRecording(false);
    std::mutex requestsLock;
    std::vector<std::string> requests;
    simulated.setObserver(
        [&](const std::string& request, const device::sim::Endpoint&, const std::optional<std::string>&) {
            std::lock_guard<std::mutex> lock(requestsLock);
            requests.push_back(request);
        });
    simulated.startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()}, 500ms);
    simulator.start();

    boost::shared_ptr<device::OrvelInfo> speaker;
    const Clock::time_point deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        speaker = collection->searchForOrvel(net::HardwareAddress(hardware));
        if (speaker && speaker->getVersionIndex() == 21 && speaker->isOnlineAndAnswered()) break;
        std::this_thread::sleep_for(20ms);
    }
    if (!speaker || !speaker->isOnlineAndAnswered()) {
        std::fprintf(stderr, "the simulated loudspeaker was not found\n");
        return 2;
    }

    auto* frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));
    auto* panel = new Panel(frame, collection, nullptr, transport, false);
    panel->setCallbacks([] {}, [] {});
    frame->Show();
    panel->imbueDevice(speaker);
    panel->updateData();
    untilShown(*panel);
    settle();

    bool met = true;
    const std::pair<int, const char*> pages[] = {
        {1000, "common"}, {1015, "network"}, {1023, "zarno"}, {1027, "sources"}};
    for (const auto& [page, name] : pages) {
        panel->show(page);
        untilShown(*panel);
        settle();
        std::vector<double> fills;
        std::vector<double> floors;
        std::size_t lastAsked = 0;
        for (int run = 0; run <= kRuns; ++run) {
            speaker->resetCache();
            {
                std::lock_guard<std::mutex> lock(requestsLock);
                requests.clear();
            }
            Clock::time_point start = Clock::now();
            panel->updateData();
            untilShown(*panel);
            const double fill = milliseconds(Clock::now() - start);
            std::vector<std::string> asked;
            {
                std::lock_guard<std::mutex> lock(requestsLock);
                asked = requests;
            }
            settle();
            // The same exchanges, one after the other, as the device object
            // sends them (priority 2, resend after 1000 ms).
            start = Clock::now();
            for (const std::string& request : asked) {
                std::string reply;
                transport->sync(speaker->getIp(), request, reply, 2, 1000);
            }
            const double floor = milliseconds(Clock::now() - start);
            lastAsked = asked.size();
            if (run == 0) continue;  // the first warms up
            fills.push_back(fill);
            floors.push_back(floor);
        }
        const double ours = median(fills);
        const double alone = median(floors);
        std::fprintf(stderr, "%s: %zu requests a fill\n", name, lastAsked);
        std::printf("BENCH page_fill_%s ours=%.2fms exchanges_alone=%.2fms ratio=%.2f\n", name, ours, alone,
                    alone > 0 ? ours / alone : 0.0);
        std::fflush(stdout);
        met = met && ours - alone <= kGoalMs;
    }

    frame->Destroy();
    settle();
    collection->stop();
    transport->stop();
    simulator.stop();
    collection.reset();
    GuiThreadInvoker::destroyInstance();
    tasks->Destroy();
    base::ThreadDispatcher::destroy();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return met ? 0 : 1;
}
