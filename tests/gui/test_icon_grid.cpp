// The icon grid of the zone page on its own: labels wrapped without losing a
// letter, cells laid out in rows as wide as the control and again after a
// resize or new items, a scroll bar for what does not fit, and the list
// control's selection events for calls, clicks and keys.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <utility>
#include <vector>

#include "gui/layout/icon_grid.h"
#include "tests/base/wx/wx_app.h"

using frm::IconGrid;

namespace {

using Events = std::vector<std::pair<wxEventType, long>>;

class Grid : public ::testing::Test {
protected:
    void SetUp() override {
        frame = new wxFrame(nullptr, wxID_ANY, "grid", wxPoint(0, 0), wxSize(420, 300));
        grid = new IconGrid(frame);
        auto* images = new wxImageList(48, 48, true, 1);
        images->Add(wxBitmap(48, 48));
        grid->AssignImageList(images, wxIMAGE_LIST_NORMAL);
        for (const auto& type : {wxEVT_LIST_ITEM_SELECTED, wxEVT_LIST_ITEM_DESELECTED})
            grid->Bind(type, [this](wxListEvent& event) {
                events.emplace_back(event.GetEventType(), event.GetIndex());
                EXPECT_EQ(event.GetData(), static_cast<wxUIntPtr>(100 + event.GetIndex()));
            });
        frame->Show();
    }
    void TearDown() override {
        frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(10));
    }
    void fill(int count, const wxString& label = "Громкоговоритель") {
        for (int i = 0; i < count; ++i) {
            const long item = grid->InsertItem(grid->GetItemCount(), label, 0);
            grid->SetItemPtrData(item, static_cast<wxUIntPtr>(100 + item));
        }
    }
    std::vector<long> selected() const {
        std::vector<long> items;
        for (long i = grid->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); i != -1;
             i = grid->GetNextItem(i, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            items.push_back(i);
        return items;
    }
    wxRect cell(long item) const {
        wxRect rect;
        grid->GetItemRect(item, rect);
        return rect;
    }
    void clickAt(const wxPoint& at, bool control = false, bool shift = false) {
        wxMouseEvent event(wxEVT_LEFT_DOWN);
        event.SetPosition(at);
        event.SetControlDown(control);
        event.SetShiftDown(shift);
        event.SetEventObject(grid);
        grid->GetEventHandler()->ProcessEvent(event);
    }
    void press(int key, bool shift = false) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = key;
        event.SetShiftDown(shift);
        event.SetEventObject(grid);
        grid->GetEventHandler()->ProcessEvent(event);
    }
    /// Items per row (cells with the first one's top).
    int columns() const {
        int count = 0;
        while (count < grid->GetItemCount() && cell(count).y == cell(0).y) ++count;
        return count;
    }

    wxFrame* frame = nullptr;
    IconGrid* grid = nullptr;
    Events events;
};

const wxEventType kOn = wxEVT_LIST_ITEM_SELECTED;
const wxEventType kOff = wxEVT_LIST_ITEM_DESELECTED;

}  // namespace

TEST(IconGridLabels, WrapAtBlanksOrBetweenLettersAndKeepEveryLetter) {
    const IconGrid::Measure tenEach = [](const wxString& text) {
        return 10 * static_cast<int>(text.length());
    };
    const auto wrap = [&](const wxString& label, int width) {
        return IconGrid::wrapLabel(label, width, tenEach);
    };
    EXPECT_EQ(wrap(L"Громкоговоритель у входа", 200),
              (std::vector<wxString>{L"Громкоговоритель у", L"входа"}));
    EXPECT_EQ(wrap(L"Зал", 200), std::vector<wxString>{L"Зал"});
    EXPECT_EQ(wrap(L"", 200), std::vector<wxString>{L""});
    // A word wider than the cell is cut between letters, the rest follows.
    EXPECT_EQ(wrap(L"02:56:53:00:00:0C у входа", 60),
              (std::vector<wxString>{L"02:56:", L"53:00:", L"00:0C", L"у", L"входа"}));
    for (const int width : {10, 35, 80}) {
        wxString joined;
        for (const wxString& line : wrap(L"Новое устройство 12", width)) {
            EXPECT_LE(tenEach(line), std::max(width, 10)) << width;
            joined += line;
        }
        joined.Replace(L" ", L"");
        EXPECT_EQ(joined, L"Новоеустройство12") << "blanks aside, every letter in order";
    }
}

TEST_F(Grid, RowsFollowTheWidthAndTheItemsAndScrollWhenTheyDoNotFit) {
    fill(12);
    wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
    const int narrow = columns();
    EXPECT_GT(narrow, 1);
    EXPECT_GT(grid->GetItemCount() / narrow, 1) << "more than one row";
    EXPECT_GT((narrow + 1) * (cell(0).width + IconGrid::kGap) - IconGrid::kGap,
              grid->GetClientSize().x - 2 * IconGrid::kMargin)
        << "as many as fit";
    EXPECT_TRUE(grid->HasScrollbar(wxVERTICAL));
    EXPECT_GT(grid->GetScrollRange(wxVERTICAL), grid->GetClientSize().y);

    frame->SetSize(1200, 600);
    wx_testing::runEventLoopFor(std::chrono::milliseconds(100));
    EXPECT_GT(columns(), narrow);
    for (long item = 0; item < 12; ++item) {
        EXPECT_LE(cell(item).GetRight(), grid->GetClientSize().x) << item;
        int flags = 0;
        EXPECT_EQ(grid->HitTest(cell(item).GetPosition() + wxPoint(5, 5), flags), item);
        EXPECT_EQ(flags, wxLIST_HITTEST_ONITEM);
    }
    int flags = 0;
    EXPECT_EQ(grid->HitTest(wxPoint(1, grid->GetClientSize().y - 2), flags), -1);

    // A name too long for a cell wraps: its row grows, the cell stays inside.
    const int height = cell(0).height;
    grid->SetItemText(0, L"Громкоговоритель над главным входом в зал со стороны парковки");
    EXPECT_GT(cell(0).height, height);
    EXPECT_LE(cell(0).GetRight(), grid->GetClientSize().x);
    EXPECT_EQ(cell(columns()).height, height) << "the next row keeps its height";

    // A rebuild lays the new items out at once.
    grid->DeleteAllItems();
    fill(3);
    EXPECT_EQ(columns(), 3);
    EXPECT_EQ(grid->GetItemText(2), L"Громкоговоритель");
}

TEST_F(Grid, SelectionCallsSendOneEventPerChangedItem) {
    fill(4);
    grid->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    grid->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);  // no change, no event
    EXPECT_EQ(events, (Events{{kOn, 2}}));
    grid->SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    EXPECT_EQ(events, (Events{{kOn, 2}, {kOn, 0}, {kOn, 1}, {kOn, 3}}));
    EXPECT_EQ(grid->GetSelectedItemCount(), 4);
    grid->SetItemState(1, 0, wxLIST_STATE_SELECTED);
    EXPECT_EQ(selected(), (std::vector<long>{0, 2, 3}));
    EXPECT_EQ(grid->GetItemState(1, wxLIST_STATE_SELECTED), 0);
    EXPECT_FALSE(grid->SetItemState(9, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED));

    events.clear();
    EXPECT_TRUE(grid->DeleteAllItems());
    EXPECT_TRUE(events.empty()) << "as the list control: no events for a clear";
    EXPECT_EQ(grid->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), -1);
}

TEST_F(Grid, ClicksAndKeysSelectAsInTheListControl) {
    fill(8);
    wx_testing::runEventLoopFor(std::chrono::milliseconds(50));
    const wxPoint inside(5, 5);
    grid->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    grid->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    events.clear();

    clickAt(cell(1).GetPosition() + inside);  // a plain click: that one alone, deselections first
    EXPECT_EQ(selected(), std::vector<long>{1});
    EXPECT_EQ(events, (Events{{kOff, 0}, {kOff, 2}, {kOn, 1}}));
    clickAt(cell(3).GetPosition() + inside, true);  // Ctrl adds
    EXPECT_EQ(selected(), (std::vector<long>{1, 3}));
    clickAt(cell(1).GetPosition() + inside, true);  // and takes away
    EXPECT_EQ(selected(), std::vector<long>{3});
    clickAt(cell(5).GetPosition() + inside, false, true);  // Shift: from the last clicked
    EXPECT_EQ(selected(), (std::vector<long>{1, 2, 3, 4, 5}));
    EXPECT_EQ(grid->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED), 5);

    press(WXK_LEFT);
    EXPECT_EQ(selected(), std::vector<long>{4});
    press(WXK_RIGHT, true);
    press(WXK_RIGHT, true);
    EXPECT_EQ(selected(), (std::vector<long>{4, 5, 6}));
    press(WXK_HOME);
    EXPECT_EQ(selected(), std::vector<long>{0});
    press(WXK_DOWN);
    EXPECT_EQ(selected(), std::vector<long>{static_cast<long>(std::min(columns(), 7))});
    press(WXK_END);
    EXPECT_EQ(selected(), std::vector<long>{7});

    const wxRect last = cell(7);
    clickAt(wxPoint(last.GetRight() + 3, last.GetBottom() + 3));  // beside the icons: nothing
    EXPECT_TRUE(selected().empty());
}
