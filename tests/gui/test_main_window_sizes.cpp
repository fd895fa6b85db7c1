// ctest-labels: net
// The main window at its smallest, default and full-screen sizes, in both
// modes: every text whole (the zone box included), and the zone page's
// device list with its icons in rows as wide as the list, none leaving it,
// the rows that do not fit reached through a vertical scroll bar; after a
// rebuild too.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/gui/clipping.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/screenshot.h"

using namespace main_frame_testing;

namespace {

/// Where the list put its items, row by row (by top edge).
struct Placement {
    std::map<int, std::vector<wxRect>> rows;
    bool allInside = true;  // every cell and label within the list's width
    int bottom = 0;
};

Placement placementOf(frm::IconGrid* list) {
    Placement found;
    const int width = list->GetClientSize().GetWidth();
    for (long item = 0; item < list->GetItemCount(); ++item) {
        wxRect cell, label;
        list->GetItemRect(item, cell, wxLIST_RECT_BOUNDS);
        list->GetItemRect(item, label, wxLIST_RECT_LABEL);
        found.rows[cell.GetTop()].push_back(cell);
        for (const wxRect& rect : {cell, label})
            if (rect.GetLeft() < 0 || rect.GetRight() >= width) found.allInside = false;
        found.bottom = std::max(found.bottom, cell.GetBottom());
    }
    return found;
}

/// The checks at one size: full rows, nothing outside, the rest scrolled to.
void expectFilledRows(frm::IconGrid* list) {
    const Placement placement = placementOf(list);
    ASSERT_FALSE(placement.rows.empty());
    EXPECT_TRUE(placement.allInside);
    const std::vector<wxRect>& first = placement.rows.begin()->second;
    ASSERT_GE(first.size(), 1u);
    if (first.size() < static_cast<std::size_t>(list->GetItemCount())) {
        // One more icon would not have fitted in the first row.
        const int columns = static_cast<int>(first.size());
        EXPECT_GT((columns + 1) * (first[0].width + frm::IconGrid::kGap) - frm::IconGrid::kGap,
                  list->GetClientSize().GetWidth() - 2 * frm::IconGrid::kMargin);
        EXPECT_GT(placement.rows.size(), 1u);
    }
    for (const auto& [top, row] : placement.rows) EXPECT_LE(row.size(), first.size()) << top;
    if (placement.bottom >= list->GetClientSize().GetHeight()) {
        EXPECT_TRUE(list->HasScrollbar(wxVERTICAL));
        EXPECT_GT(list->GetScrollRange(wxVERTICAL), 0);
        // The last icon can be brought into sight, all of it when the list
        // is tall enough for a row.
        list->EnsureVisible(list->GetItemCount() - 1);
        wxRect last;
        list->GetItemRect(list->GetItemCount() - 1, last);
        const int height = list->GetClientSize().GetHeight();
        EXPECT_GE(last.GetTop(), 0);
        if (last.height <= height) {
            EXPECT_LT(last.GetBottom(), height);
        }
        list->Scroll(0, 0);
    }
}

void expectWhole(wxWindow* window) {
    std::string all;
    for (const std::string& text : wx_testing::clippedTexts(window)) all += text + "; ";
    EXPECT_TRUE(all.empty()) << all;
}

}  // namespace

TEST_F(MainWindow, TheDeviceListFillsRowsAsWideAsItselfAtEverySizeAndMode) {
    std::vector<int> devices;
    for (int n = 1; n <= 12; ++n) devices.push_back(n);
    writeStores(devices, zoneXml("Зал", devices) + zoneXml("Склад", {1, 2}));
    start();
    frame->Show();
    frm::IconGrid* list = frame->zonePanel()->deviceList;
    ASSERT_EQ(list->GetItemCount(), 12);

    struct Size {
        int width, height;
        const char* name;
    };
    for (const bool administrator : {false, true}) {
        frame->enableAdministratorMode(administrator);
        for (const Size size :
             {Size{1060, 600, "1060x600"}, Size{1060, 700, "1060x700"}, Size{1280, 1024, "1280x1024"}}) {
            const std::string shot = std::string("zone_device_list_") + size.name +
                                     (administrator ? "_administrator" : "_operator");
            SCOPED_TRACE(shot);
            frame->SetSize(0, 0, size.width, size.height);  // all of it on the screen
            wx_testing::runEventLoopFor(std::chrono::milliseconds(300));
            ASSERT_EQ(list->GetItemCount(), 12);
            expectFilledRows(list);
            expectWhole(frame);
            EXPECT_FALSE(wx_testing::writeShot(frame, shot).empty());
        }
    }

    // A rebuild through the zone toggles lays the new rows out again.
    click(frame->zone(2)->getButton());
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(placementOf(list).rows.size(), 1u);
    click(frame->allZones);
    ASSERT_EQ(list->GetItemCount(), 12);
    expectFilledRows(list);
}

TEST_F(MainWindow, TheZoneBoxShowsItsTextsWholeAtEverySize) {
    writeStores({1}, zoneXml("Зал", {1}));
    start();
    frame->Show();
    frame->enableAdministratorMode(true);
    for (const auto& [width, height] : {std::pair{1060, 600}, {1060, 700}, {1280, 1024}}) {
        const std::string shot = "zone_box_" + std::to_string(width) + "x" + std::to_string(height);
        SCOPED_TRACE(shot);
        frame->SetSize(0, 0, width, height);
        wx_testing::runEventLoopFor(std::chrono::milliseconds(200));
        click(frame->zoneManagement);  // the box opens in the window as it is
        ASSERT_TRUE(frame->action->IsShownOnScreen());
        wx_testing::runEventLoopFor(std::chrono::milliseconds(200));
        expectWhole(frame);
        EXPECT_FALSE(wx_testing::writeShot(frame, shot).empty());
        click(frame->zoneManagement);
    }
}
