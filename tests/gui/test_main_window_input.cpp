// ctest-labels: net input
// The operator's activity as the idle lock sees it, from real input (XTest):
// a key press reaches it through the program's activity filter, mouse motion
// over the main window through the window's own handlers.
#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include "gui/activity_filter.h"
#include "tests/gui/main_frame_fixture.h"

using namespace main_frame_testing;

TEST_F(MainWindow, KeyPressesAndMouseMotionOverTheWindowMoveTheLastActivity) {
    start();
    frame->Show();
    frame->Raise();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
    frame->allZones->SetFocus();
    wx_testing::runEventLoopFor(std::chrono::milliseconds(100));

    frm::ActivityFilter filter([this](std::int64_t now) { frame->setLastActivity(now); });
    wxEvtHandler::AddFilter(&filter);
    frame->setLastActivity(0);
    wxUIActionSimulator input;
    input.Char('a');
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->getLastActivity() != 0; }));
    wxEvtHandler::RemoveFilter(&filter);

    frame->setLastActivity(0);
    const wxRect over = frame->allZones->GetScreenRect();
    input.MouseMove(over.GetLeft() + 5, over.GetTop() + 5);
    input.MouseMove(over.GetLeft() + over.GetWidth() / 2, over.GetTop() + over.GetHeight() / 2);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->getLastActivity() != 0; }));
}
