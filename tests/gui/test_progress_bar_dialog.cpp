// The progress dialog with reports posted from worker threads: one line per
// device, the last final report decides the result, the inactivity barrier
// ends a dialog whose jobs fell silent (the devices without a final report
// failed), and reports that come after the dialog is gone are only logged.
#include <gtest/gtest.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <memory>
#include <thread>

#include "base/thread_dispatcher.h"
#include "gui/progress_bar_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/stub_device.h"

namespace {

using namespace std::chrono_literals;
using Device = frm::ProgressBarDialog::Device;
using dialog_testing::all;
using wx_testing::runEventLoopUntil;

Device speaker(unsigned n) {
    return boost::make_shared<device::sim::StubDevice>(n, net::HardwareAddress(0x025653, n),
                                                       net::IpAndPort("10.0.0." + std::to_string(n), 11991),
                                                       L"Громкоговоритель " + std::to_wstring(n), nullptr);
}

class ProgressTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        GuiThreadInvoker::createInstance(window);
        dialog = std::make_unique<frm::ProgressBarDialog>(nullptr, L"Обновление прошивки, подождите...", 5s);
    }
    void TearDown() override {
        dialog.reset();
        wx_testing::closeInvokerAndWindow(window);
        base::ThreadDispatcher::destroy();
        CountingLogFixture::TearDown();
    }
    /// Posts the reports from a thread of their own, in order.
    void postFromThread(std::vector<std::pair<Device, int>> reports) {
        std::thread([this, reports] {
            for (const auto& report : reports) dialog->postProgress(report.first, report.second);
        }).join();
    }
    /// Until the GUI thread has handled `count` reports.
    bool handled(std::size_t count) {
        return runEventLoopUntil([this, count] { return dialog->reportCount() >= count; });
    }

    wx_testing::TaskWindow* window = nullptr;
    std::unique_ptr<frm::ProgressBarDialog> dialog;
};

}  // namespace

TEST_F(ProgressTest, OneDeviceShowsOneLineThenSuccessOnGreenAndEndsWithOk) {
    const Device device = speaker(1);
    postFromThread({{device, 0}, {device, 50}});
    ASSERT_TRUE(runEventLoopUntil([this] {
        const auto gauges = all<wxGauge>(dialog.get());
        return gauges.size() == 1 && gauges[0]->GetValue() == 50;
    }));
    EXPECT_EQ(all<wxStaticText>(dialog.get())[0]->GetLabel(), L"Громкоговоритель 1");
    EXPECT_FALSE(wx_testing::writeShot(dialog.get(), "progress_bar_dialog").empty());
    dialog->Hide();

    postFromThread({{device, 100}});
    EXPECT_EQ(dialog->ShowModal(), wxID_OK);
    wxStaticText* label = all<wxStaticText>(dialog.get())[0];
    EXPECT_EQ(label->GetLabel(), L"Громкоговоритель 1\n[успешно]");
    EXPECT_EQ(label->GetBackgroundColour(), wxColour(0, 255, 0));
    EXPECT_EQ(all<wxGauge>(dialog.get())[0]->GetValue(), 50);
    EXPECT_TRUE(dialog->failedDevices().empty());
}

TEST_F(ProgressTest, TheLastFinalReportDecidesAndFailuresAreListed) {
    for (const bool firstFails : {true, false}) {
        dialog = std::make_unique<frm::ProgressBarDialog>(nullptr, L"Прошивка аудио данных...", 5s);
        const Device first = speaker(1), second = speaker(2);
        std::thread early([&] { dialog->postProgress(first, 10); });
        postFromThread({{second, 0}, {second, 40}});
        early.join();
        postFromThread({{first, firstFails ? -1 : 100}});
        postFromThread({{second, firstFails ? 100 : -1}, {second, 100}});
        EXPECT_EQ(dialog->ShowModal(), firstFails ? wxID_OK : wxID_CANCEL);
        EXPECT_EQ(dialog->failedDevices(), std::vector<Device>{firstFails ? first : second});
        EXPECT_EQ(all<wxGauge>(dialog.get()).size(), 2u);
    }
    EXPECT_FALSE(wx_testing::writeShot(dialog.get(), "progress_bar_dialog_results").empty());
    EXPECT_EQ(loggedCount("ProgressBarDialog, result: wxID_CANCEL (IncorrectExecution), ip device 10.0.0.",
                          "DEBUG"),
              2);
}

TEST_F(ProgressTest, TheBarrierEndsASilentDialogCountingEveryReport) {
    dialog = std::make_unique<frm::ProgressBarDialog>(nullptr, L"Тишина", 100ms);
    EXPECT_EQ(dialog->ShowModal(), wxID_CANCEL);
    EXPECT_TRUE(dialog->failedDevices().empty());

    // A job that dies after 50 %: the barrier runs from its last report.
    const std::chrono::milliseconds barrier = 600ms;
    dialog = std::make_unique<frm::ProgressBarDialog>(nullptr, L"Обрыв", barrier);
    const Device quiet = speaker(3), done = speaker(4);
    postFromThread({{quiet, 0}, {done, 0}, {done, 100}});
    ASSERT_TRUE(handled(3));
    wx_testing::runEventLoopFor(barrier / 2);
    postFromThread({{quiet, 50}});
    ASSERT_TRUE(handled(4));
    const auto lastReport = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog->ShowModal(), wxID_CANCEL);
    const auto silence =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastReport);
    EXPECT_GE(silence.count(), (barrier - 20ms).count()) << "the report re-armed the barrier";
    EXPECT_EQ(dialog->failedDevices(), std::vector<Device>{quiet});
}

TEST_F(ProgressTest, AReportAfterTheDialogIsGoneIsOnlyLogged) {
    const auto late = dialog->reporter();
    dialog = std::make_unique<frm::ProgressBarDialog>(nullptr, L"Следующий", 5s);
    std::thread([&late] { late(speaker(5), 70); }).join();
    ASSERT_TRUE(runEventLoopUntil([this] { return logged("The progressbar isn't exist! percent=70"); }));
    EXPECT_EQ(dialog->reportCount(), 0u);
    EXPECT_TRUE(all<wxGauge>(dialog.get()).empty());
}
