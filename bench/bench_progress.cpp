// The progress dialog under load: 100 devices report 0, 1, ..., 100 each
// (10,100 reports) from 8 threads into one progress dialog; the time until
// every report is shown and the dialog has ended, beside the same number of
// no-op tasks handed to the GUI thread through the GUI-thread invoker, the
// floor that every report pays. Per report. Goal: no report lost, within 3x
// the floor. Needs a display:
//
//   NO_AT_BRIDGE=1 scripts/netns-run xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_progress
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/progress_bar_dialog.h"
#include "tools/simulator/stub_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using Device = frm::ProgressBarDialog::Device;

constexpr int kDevices = 100;
constexpr int kThreads = 8;
constexpr int kReports = kDevices * 101;

/// Routes the invoker's task events as the main window does.
class TaskFrame : public wxFrame {
public:
    TaskFrame() : wxFrame(nullptr, wxID_ANY, "tasks") {
        Bind(
            wxEVT_TEXT, [](wxCommandEvent& event) { GuiThreadInvoker::runTask(event); }, kGuiInvokerEventId);
    }
};

/// Runs `post(device, percent)` for every report from kThreads threads, each
/// thread for its share of the devices, percent by percent. Every thread
/// posts its devices' first reports before any thread goes on, so every line
/// exists before a device can finish (the dialog ends when the lines shown
/// have finished).
template <class Post>
std::vector<std::thread> startPosting(const std::vector<Device>& devices, Post post) {
    auto firstRound = std::make_shared<boost::barrier>(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&devices, post, firstRound, t] {
            for (int percent = 0; percent <= 100; ++percent) {
                for (int d = t; d < kDevices; d += kThreads)
                    post(devices[static_cast<std::size_t>(d)], percent);
                if (percent == 0) firstRound->wait();
            }
        });
    return threads;
}

double microsecondsPerReport(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kReports;
}

}  // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        return 2;
    }
    auto* frame = new TaskFrame;
    GuiThreadInvoker::createInstance(frame);
    base::ThreadDispatcher::create();

    std::vector<Device> devices;
    for (int d = 0; d < kDevices; ++d)
        devices.push_back(boost::make_shared<device::sim::StubDevice>(
            d + 1, net::HardwareAddress(0x025653, static_cast<std::uint32_t>(d + 1)),
            net::IpAndPort("10.0.1." + std::to_string(d + 1), 11991),
            L"Громкоговоритель " + std::to_wstring(d + 1), nullptr));

    // The invoker posts nothing during its first second: wait for that.
    wxGUIEventLoop loop;
    GuiThreadInvoker::add([&loop] { loop.Exit(); });
    loop.Run();

    // In the program the dialog opens over the shown main window, with the
    // toolkit's drawing and theme code loaded: a first dialog here pays that
    // once, outside the figures.
    {
        frm::ProgressBarDialog warmUp(nullptr, L"Обновление прошивки, подождите...");
        warmUp.postProgress(devices[0], 0);
        warmUp.postProgress(devices[0], 100);
        warmUp.ShowModal();
    }

    // The floor: the same number of tasks that do nothing.
    int ran = 0;
    Clock::time_point start = Clock::now();
    auto threads = startPosting(devices, [&ran, &loop](const Device&, int) {
        GuiThreadInvoker::add([&ran, &loop] {
            if (++ran == kReports) loop.Exit();
        });
    });
    loop.Run();
    const double floor = microsecondsPerReport(start);
    for (auto& thread : threads) thread.join();

    int result = wxID_NONE;
    std::size_t shown = 0, failed = 0;
    {
        frm::ProgressBarDialog dialog(nullptr, L"Обновление прошивки, подождите...");
        start = Clock::now();
        threads = startPosting(
            devices, [&dialog](const Device& device, int percent) { dialog.postProgress(device, percent); });
        result = dialog.ShowModal();
        const double ours = microsecondsPerReport(start);
        for (auto& thread : threads) thread.join();
        shown = dialog.reportCount();
        failed = dialog.failedDevices().size();
        std::printf("BENCH progress_reports ours=%.2fus invoker_noop=%.2fus ratio=%.2f\n", ours, floor,
                    ours / floor);
    }

    GuiThreadInvoker::destroyInstance();
    base::ThreadDispatcher::destroy();
    frame->Destroy();
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (result != wxID_OK || shown != static_cast<std::size_t>(kReports) || failed != 0) {
        std::fprintf(stderr, "reports shown %zu of %d, failed devices %zu, result %d\n", shown, kReports,
                     failed, result);
        return 1;
    }
    return 0;
}
