// ctest-labels: net
// The interface lock of the main window: the lock button, the idle lock with
// its timing shrunk, one lock dialog at a time, and a stop from outside while
// the dialog is up.
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <wx/app.h>

#include "base/clock.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/ui_script.h"

using namespace main_frame_testing;
using namespace std::chrono_literals;

namespace {

const frm::IdleLock::Timing kShrunk{50ms, 300000};  // a minute of 300 ms

/// Runs what other threads queued for the GUI thread so far.
void drainGuiTasks() {
    bool done = false;
    GuiThreadInvoker::add([&] { done = true; });
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return done; }));
}

}  // namespace

TEST_F(MainWindow, TheLockButtonShowsOneCentredDialogAndTimeoutZeroNeverLocks) {
    setPref("security.interfaceTimeout", 0);
    start(kShrunk);
    ui_testing::ScriptedUi answers;
    drainGuiTasks();  // past the invoker's start pause
    frame->setLastActivity(0);
    wx_testing::runEventLoopFor(500ms);  // ten periods: no idle lock

    std::int64_t unlocked = 0;
    answers.expectDialog(L"", wxID_OK, [&](wxDialog& dialog) {
        EXPECT_EQ(dialog.GetSize(), wxSize(410, 240));
        const wxPoint offset = frame->GetRect().GetPosition() + frame->GetSize() / 2 -
                               dialog.GetRect().GetPosition() - dialog.GetSize() / 2;
        EXPECT_LE(std::abs(offset.x) + std::abs(offset.y), 20) << "centred on the window";
        std::thread([&] { frame->lockInterface(); }).join();  // opens nothing while this one is up
        drainGuiTasks();
        unlocked = nowMicroseconds();
    });
    click(frame->zonePanel()->lockInterface);
    EXPECT_EQ(answers.shown().size(), 1u);
    EXPECT_GE(frame->getLastActivity(), unlocked) << "the idle time counts from the unlock";
}

TEST_F(MainWindow, TheIdleLockComesWithinAPeriodAfterTheLimitAndAgainOnlyAfterAnUnlock) {
    setPref("security.interfaceTimeout", 0);
    ui_testing::ScriptedUi answers;
    start(kShrunk);
    drainGuiTasks();
    std::vector<std::int64_t> idle;
    const auto shown = [&](wxDialog&) {
        const std::int64_t span = nowMicroseconds() - frame->getLastActivity();
        drainGuiTasks();  // as the dialog's own loop would
        idle.push_back(span);
    };
    answers.expectDialog(L"", wxID_OK, shown).expectDialog(L"", wxID_CANCEL, shown);
    frame->setLastActivity(nowMicroseconds());
    setPref("security.interfaceTimeout", 1);  // read on the next pass
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return idle.size() == 2; }));
    for (const std::int64_t span : idle) {
        EXPECT_GE(span, 300000);
        EXPECT_LT(span, 300000 + 50000 + 300000) << "a period, and the GUI thread's queue";
    }
    wx_testing::runEventLoopFor(1000ms);  // cancelled (as by a stop): no timer, no third dialog
}

TEST_F(MainWindow, AStopFromOutsideEndsTheLockDialogAndShutsDown) {
    setPref("security.interfaceTimeout", 0);
    start();
    wxTheApp->CallAfter([this] { frame->stopFromOutside(); });  // runs in the dialog's loop
    click(frame->zonePanel()->lockInterface);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return !frame; }));
    EXPECT_EQ(loggedCount("main frame: shutdown end"), 1);
    EXPECT_EQ(loggedCount("thread lockTimerThread()"), 1)
        << "no new timer after a dialog that was not unlocked";
}
