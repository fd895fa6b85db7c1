// The device property panel's cost on the GUI thread: constructing it with
// its ten pages, beside a notebook of ten pages that hold as many plain
// controls; and one page layout from a console's pages to a loudspeaker's,
// beside removing and inserting the same pages in that bare notebook (both
// frozen, as the panel's layout is). Medians of 15 runs after one warm-up.
// Goals: construction under 300 ms, a layout under 30 ms.
//
// Then the panel beside simulated loudspeakers, an Orvel-510 and an
// Orvel-610, answering 800 ms late: opening the panel, changing to the
// network page and applying a rename, each timed twice: the window's longest
// wait (a timer every 5 ms, the longest gap between its ticks) beside the
// time until the page shows the device's values, which is what a fill on
// the window thread would hold the window for; and that time beside the
// same action with the loudspeaker answering at once. Medians of 3 runs
// after one warm-up, the device's caches dropped before each. Goal: the
// window never waits 0.5 s. Needs a display and opens sockets:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_property_panel
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "device/version.h"
#include "gui/property_device_panel.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/stub_device.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 15;

/// A device of a given type code and nothing else.
class TypedDevice : public device::sim::StubDevice {
public:
    TypedDevice(std::uint32_t id, std::uint64_t typeCode)
        : StubDevice(id, net::HardwareAddress(0x025653, id), net::IpAndPort("10.0.1.1", 11991), L"",
                     nullptr) {
        presetTypeCode(typeCode);
    }
};

class Panel : public frm::PropertyDevicePanel {
public:
    // Outside debug mode, as the program starts by default: every page is
    // built all the same, the debug page is only never shown.
    explicit Panel(wxWindow* parent) : PropertyDevicePanel(parent, nullptr, nullptr, nullptr, false) {}
    using frm::PropertyDevicePanel::layoutTabs;
};

double milliseconds(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

/// The median of `runs` timings of `step`; `prepare` runs untimed before each.
double median(const std::function<void()>& prepare, const std::function<void()>& step) {
    std::vector<double> times;
    for (int run = 0; run <= kRuns; ++run) {
        prepare();
        const Clock::time_point start = Clock::now();
        step();
        if (run > 0) times.push_back(milliseconds(Clock::now() - start));  // the first warms up
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::size_t countWindows(wxWindow* window) {
    std::size_t count = 1;
    for (wxWindow* child : window->GetChildren()) count += countWindows(child);
    return count;
}

/// The bare notebook: ten pages sharing `controls` static texts.
wxNotebook* bareNotebook(wxWindow* parent, std::size_t controls) {
    auto* notebook = new wxNotebook(parent, wxID_ANY);
    for (int page = 0; page < 10; ++page) {
        auto* panel = new wxPanel(notebook);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        for (std::size_t i = page; i < controls; i += 10)
            sizer->Add(new wxStaticText(panel, wxID_ANY, wxString::Format(L"Поле %zu", i)), 0, wxALL, 5);
        panel->SetSizer(sizer);
        notebook->AddPage(panel, wxString::Format(L"Страница %d", page + 1), page == 0);
    }
    return notebook;
}

/// Lets the toolkit show what changed.
void settle() {
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
}

// ---- beside late loudspeakers ------------------------------------------------------------

using namespace std::chrono_literals;
constexpr int kLateRuns = 3;
constexpr std::uint16_t kDevicePort = 29990;
constexpr auto kLate = 800ms;

/// Hands the GUI-thread invoker's tasks (the panel's outcomes) to it.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "tasks") {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

class LivePanel : public frm::PropertyDevicePanel {
public:
    LivePanel(wxWindow* parent, boost::shared_ptr<device::DeviceCollection> collection,
              boost::shared_ptr<device::TransferProtocol> transport)
        : PropertyDevicePanel(parent, std::move(collection), nullptr, std::move(transport), false) {
        setCallbacks([] {}, [] {});
    }
    void choose(int page) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPage(i)->GetId() == page) notebookPref->SetSelection(i);
    }
    void rename(const wxString& title) {
        textName->ChangeValue(title);
        wxCommandEvent click(wxEVT_BUTTON, buttonApply->GetId());
        applyOnButtonClick(click);
    }
};

/// The window's longest wait while an action runs to its end: the action is
/// called from the event loop, and a timer every 5 ms measures the gaps
/// between the loop's turns until the panel has shown what its worker did.
struct Timed {
    double windowMs = 0;
    double shownMs = 0;
};
Timed timeAction(LivePanel* panel, const std::function<void()>& action) {
    wxGUIEventLoop loop;
    Clock::time_point last = Clock::now(), started{};
    Clock::duration longest{};
    bool begun = false;
    Timed timed;
    wxTimer probe;
    probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
        if (!begun) {
            begun = true;
            longest = Clock::duration::zero();
            started = Clock::now();
            action();
            return;
        }
        if (!panel->working() || now - started > 60s) {
            timed.shownMs = milliseconds(now - started);
            loop.Exit();
        }
    });
    probe.Start(5);
    loop.Run();
    probe.Stop();
    timed.windowMs = milliseconds(longest);
    return timed;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// Medians of the runs of one action: `prepare` untimed before each.
Timed medianAction(LivePanel* panel, const std::function<void()>& prepare,
                   const std::function<void()>& action) {
    std::vector<double> window, shown;
    for (int run = 0; run <= kLateRuns; ++run) {
        prepare();
        const Timed one = timeAction(panel, action);
        if (run == 0) continue;  // the first warms up
        window.push_back(one.windowMs);
        shown.push_back(one.shownMs);
    }
    return {medianOf(window), medianOf(shown)};
}

/// Opening, the network page and Apply beside late loudspeakers; false when
/// the window waited 0.5 s or more.
bool benchLateLoudspeakers(wxFrame* frame) {
    base::ThreadDispatcher::create();
    auto* tasks = new TaskFrame;
    GuiThreadInvoker::createInstance(tasks);
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    auto collection = device::DeviceCollection::create(transport, kDevicePort);
    std::uint32_t ids = 0;
    collection->setNewDeviceHandler(
        [&ids](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
    transport->run();

    struct Loudspeaker {
        const char* name;
        int index;
        std::string hardware;
        device::sim::SimulatedDevice* simulated = nullptr;
        boost::shared_ptr<device::OrvelInfo> object;
    };
    Loudspeaker loudspeakers[] = {
        {"orvel510", 8, device::sim::Simulator::hardwareAddress(0x71001), nullptr, nullptr},
        {"orvel610", 21, device::sim::Simulator::hardwareAddress(0x71002), nullptr, nullptr}};
    device::sim::Simulator simulator;
    unsigned host = 1;
    for (Loudspeaker& one : loudspeakers) {
        auto model = std::make_unique<device::sim::OrvelConfigModel>(one.hardware, one.index);
        device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(one.index),
                                             *model);
        one.simulated = &simulator.add("127.0.71." + std::to_string(host++), kDevicePort, std::move(model));
        one.simulated->setRecording(false);
        one.simulated->startStatePackets(
            {boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()}, 500ms);
    }
    simulator.start();
    bool found = false;
    for (const Clock::time_point deadline = Clock::now() + 10s; !found && Clock::now() < deadline;) {
        found = true;
        for (Loudspeaker& one : loudspeakers) {
            one.object = collection->searchForOrvel(net::HardwareAddress(one.hardware));
            found = found && one.object && one.object->getVersionIndex() == one.index &&
                    one.object->isOnlineAndAnswered();
        }
        settle();
        std::this_thread::sleep_for(20ms);
    }

    bool met = found;
    if (!found) std::fprintf(stderr, "the simulated loudspeakers were not found\n");
    auto* panel = new LivePanel(frame, collection, transport);
    panel->SetSize(frame->GetClientSize());
    panel->Show();
    settle();
    for (Loudspeaker& one : loudspeakers) {
        if (!found) break;
        const auto speaker = one.object;
        std::map<std::string, std::pair<Timed, Timed>> figures;  // action -> on time, late
        for (const bool late : {false, true}) {
            one.simulated->setReplyPolicy({0, false, late ? kLate : 0ms});
            const auto fresh = [&] {
                panel->killFocus();
                speaker->resetCache();
            };
            const auto open = [&] {
                panel->imbueDevice(speaker);
                panel->updateData();
            };
            const Timed opened = medianAction(panel, fresh, open);
            const Timed network = medianAction(
                panel,
                [&] {
                    fresh();
                    open();
                    timeAction(panel, [] {});
                    speaker->resetCache();
                    panel->choose(frm::property_pages::kCommon);
                    timeAction(panel, [] {});
                    speaker->resetCache();
                },
                [&] { panel->choose(frm::property_pages::kNetwork); });
            int renames = 0;
            const Timed applied = medianAction(
                panel,
                [&] {
                    panel->choose(frm::property_pages::kCommon);
                    timeAction(panel, [] {});
                    speaker->resetCache();
                },
                [&] { panel->rename(wxString::Format(L"Громкоговоритель %d", ++renames)); });
            (late ? figures["open"].second : figures["open"].first) = opened;
            (late ? figures["page"].second : figures["page"].first) = network;
            (late ? figures["apply"].second : figures["apply"].first) = applied;
        }
        for (const char* action : {"open", "page", "apply"}) {
            const Timed& onTime = figures[action].first;
            const Timed& slow = figures[action].second;
            std::printf("BENCH panel_%s_%s_late800_window ours=%.1fms values_shown=%.1fms ratio=%.4f\n",
                        action, one.name, slow.windowMs, slow.shownMs, slow.windowMs / slow.shownMs);
            std::printf("BENCH panel_%s_%s_late800_shown ours=%.1fms on_time=%.1fms ratio=%.2f\n", action,
                        one.name, slow.shownMs, onTime.shownMs, slow.shownMs / onTime.shownMs);
            std::fflush(stdout);
            met = met && slow.windowMs < 500 && onTime.windowMs < 500;
        }
    }
    panel->killFocus();
    collection->stop();
    transport->stop();
    panel->shutdown();
    panel->Destroy();
    simulator.stop();
    collection.reset();
    settle();
    GuiThreadInvoker::destroyInstance();
    tasks->Destroy();
    base::ThreadDispatcher::destroy();
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("SONVAR_NETNS_INSIDE")) {
        std::fprintf(stderr, "bench_property_panel opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    auto* frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));

    // Construction, in a frame not yet shown, as the main window builds it.
    Panel* panel = nullptr;
    const double ours = median([&] { delete panel; }, [&] { panel = new Panel(frame); });
    const std::size_t controls = countWindows(panel) - 12;  // not the panel, the notebook and its ten pages
    wxNotebook* bare = nullptr;
    const double floor = median([&] { delete bare; }, [&] { bare = bareNotebook(frame, controls); });
    std::printf("BENCH property_panel_build ours=%.1fms bare_notebook=%.1fms ratio=%.2f\n", ours, floor,
                ours / floor);
    bare->Hide();

    // From a console's pages to a loudspeaker's, on the screen.
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(panel, 1, wxEXPAND);
    sizer->Add(bare, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    settle();
    const auto console = boost::make_shared<TypedDevice>(1, device::kTypeTovik30);
    const auto loudspeaker = boost::make_shared<TypedDevice>(2, device::kTypeOrvel610);
    const double layout = median(
        [&] {
            panel->imbueDevice(console);
            panel->layoutTabs();
            settle();
            panel->imbueDevice(loudspeaker);
        },
        [&] { panel->layoutTabs(); });

    panel->Hide();
    bare->Show();
    frame->Layout();
    std::vector<wxWindow*> pages;
    std::vector<wxString> labels;
    for (std::size_t i = 0; i < bare->GetPageCount(); ++i) {
        pages.push_back(bare->GetPage(i));
        labels.push_back(bare->GetPageText(i));
    }
    const auto relayout = [&](const std::vector<std::size_t>& chosen) {
        bare->Freeze();
        while (bare->GetPageCount() > 0) bare->RemovePage(bare->GetPageCount() - 1);
        for (const std::size_t page : chosen)
            bare->InsertPage(bare->GetPageCount(), pages[page], labels[page], page == 0);
        bare->Thaw();
    };
    const double bareLayout = median(
        [&] {
            relayout({0, 1, 2, 3, 6, 7});
            settle();
        },
        [&] {
            relayout({0, 1, 2, 3, 4, 5});
        });
    std::printf("BENCH page_layout ours=%.2fms bare_notebook=%.2fms ratio=%.2f\n", layout, bareLayout,
                layout / bareLayout);
    std::fflush(stdout);

    bare->Hide();
    const bool lateMet = benchLateLoudspeakers(frame);

    frame->Destroy();
    settle();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return ours < 300 && layout < 30 && lateMet ? 0 : 1;
}
