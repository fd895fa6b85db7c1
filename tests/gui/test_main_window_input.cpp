// ctest-labels: net input
// Real input (XTest) in the main window: the operator's activity as the idle
// lock sees it (a key press reaches it through the program's activity
// filter, mouse motion over the main window through the window's own
// handlers), and clicks on the zone page's device list.
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

TEST_F(MainWindow, APlainClickAfterAZoneSwitchSelectsThatDeviceAlone) {
    writeStores({1, 2, 3}, zoneXml("Зал", {1, 2, 3}) + zoneXml("Склад", {1, 2}));
    start();
    frame->SetSize(0, 0, 1060, 700);
    frame->Show();
    frame->Raise();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
    frm::IconGrid* list = frame->zonePanel()->deviceList;
    wxUIActionSimulator input;
    const auto clickRow = [&](long row) {
        wxRect icon;
        ASSERT_TRUE(list->GetItemRect(row, icon, wxLIST_RECT_ICON));
        const wxPoint at =
            list->ClientToScreen(icon.GetPosition() + wxPoint(icon.width / 2, icon.height / 2));
        input.MouseMove(at);
        input.MouseClick();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(200));
    };
    const auto selectedRows = [&] {
        std::vector<long> rows;
        for (long row = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
             row = list->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            rows.push_back(row);
        return rows;
    };
    clickRow(1);
    ASSERT_EQ(selectedRows(), std::vector<long>{1});
    click(frame->zone(2)->getButton());  // Склад: the selection kept
    ASSERT_EQ(list->GetItemCount(), 2);
    ASSERT_EQ(selectedRows(), std::vector<long>{1});

    clickRow(0);
    EXPECT_EQ(selectedRows(), std::vector<long>{0});
    EXPECT_EQ(frame->getItemDataMap()->selectedDevices().size(), 1u);
}
