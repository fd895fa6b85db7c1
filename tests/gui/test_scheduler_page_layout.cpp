// ctest-labels: net input
// The scheduler page on screen: in the real main window the device list
// stands beside the task list from a window width of 1200 pixels and in the
// editor row below it (photographed at both widths), and the filter's time
// fields take only digits and ":" from real key presses (XTest), while the
// arrows still move the caret.
#include <gtest/gtest.h>
#include <wx/checklst.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>

#include <clocale>

#include "tests/gui/clipping.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/scheduler_page.h"
#include "tests/gui/screenshot.h"

namespace {

using main_frame_testing::MainWindow;

/// The page's device list and task list, found among its own children.
struct Lists {
    wxCheckListBox* devices = nullptr;
    wxListCtrl* tasks = nullptr;
};

Lists listsOf(wxWindow* page) {
    Lists lists;
    for (wxWindow* child : page->GetChildren()) {
        if (auto* box = dynamic_cast<wxCheckListBox*>(child)) lists.devices = box;
        if (auto* list = dynamic_cast<wxListCtrl*>(child)) lists.tasks = list;
    }
    return lists;
}

bool inTopRow(const Lists& lists) {
    return lists.devices->GetScreenRect().GetTop() == lists.tasks->GetScreenRect().GetTop() &&
           lists.devices->GetScreenRect().GetRight() < lists.tasks->GetScreenRect().GetLeft();
}

bool inEditorRow(const Lists& lists) {
    return lists.devices->GetScreenRect().GetTop() > lists.tasks->GetScreenRect().GetBottom();
}

TEST_F(MainWindow, TheSchedulerDeviceListMovesToTheEditorRowBelow1200Pixels) {
    // Start-up names months and weekdays in Russian (frm::installTranslations).
    const std::string timeLocale = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "ru_RU.UTF-8");
    struct Restore {
        std::string locale;
        ~Restore() { std::setlocale(LC_TIME, locale.c_str()); }
    } restore{timeLocale};
    writeStores({1, 2, 3}, main_frame_testing::zoneXml("Зал", {1, 2, 3}));
    start();
    frame->Move(0, 0);
    frame->Show();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
    main_frame_testing::click(frame->scheduler);
    wxWindow* page = nullptr;
    for (wxWindow* child : frame->contentPanel->GetChildren())
        if (child->IsShown() && dynamic_cast<frm::SourceSchedulerPanel*>(child) != nullptr) page = child;
    ASSERT_NE(page, nullptr) << "the scheduler page is shown";
    const Lists lists = listsOf(page);
    ASSERT_TRUE(lists.devices != nullptr && lists.tasks != nullptr);
    ASSERT_EQ(lists.devices->GetCount(), 5u) << "all zones, the hall, three loudspeakers";
    EXPECT_EQ(lists.devices->GetString(2).AfterFirst(L'\n'), "      " + main_frame_testing::address(1))
        << "a long title's address stands on its own line";
    // Loudspeakers are told apart by their whole titles at every width.
    const auto whole = [&lists] {
        std::string cut;
        for (const std::string& text : wx_testing::clippedTexts(lists.devices)) cut += text + "; ";
        return cut;
    };

    frame->SetSize(1199, 900);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] {
        return frame->GetSize().x == 1199 && inEditorRow(lists);
    })) << "at 1199 pixels: "
        << frame->GetSize().x;
    EXPECT_FALSE(wx_testing::writeShot(frame, "scheduler_page_1199").empty());
    EXPECT_EQ(whole(), "") << "scheduler_page_1199";

    frame->SetSize(1200, 900);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return frame->GetSize().x == 1200 && inTopRow(lists); }))
        << "at 1200 pixels: " << frame->GetSize().x;
    EXPECT_FALSE(wx_testing::writeShot(frame, "scheduler_page_1200").empty());
    EXPECT_EQ(whole(), "") << "scheduler_page_1200";

    frame->SetSize(1060, 600);  // the main window's smallest size
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return inEditorRow(lists); }));
    EXPECT_FALSE(wx_testing::writeShot(frame, "scheduler_page_1060x600").empty());
    EXPECT_EQ(whole(), "") << "scheduler_page_1060x600";
}

class SchedulerTimeField : public scheduler_page_testing::PageSite {};

TEST_F(SchedulerTimeField, TypedLettersBlanksAndStopsAreRefusedDigitsAndColonsTaken) {
    frame->Show();
    frame->Raise();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
    scheduler_page_testing::Page::tick(page->filterStartTime, true);
    wxTextCtrl* field = page->filterStartTimeText;
    ASSERT_TRUE(field->IsEnabled());
    field->Clear();
    field->SetFocus();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([field] { return wxWindow::FindFocus() == field; }));

    wxUIActionSimulator input;
    for (const char key : std::string("1a2 .:b3,0")) input.Char(key, key == ':' ? wxMOD_SHIFT : wxMOD_NONE);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([field] { return field->GetValue() == "12:30"; }))
        << field->GetValue().utf8_string();
    input.Char(WXK_LEFT);
    input.Char(WXK_LEFT);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([field] { return field->GetInsertionPoint() == 3; }))
        << "the arrows move the caret: " << field->GetInsertionPoint();
    input.Char(WXK_BACK);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([field] { return field->GetValue() == "1230"; }))
        << field->GetValue().utf8_string();
}

}  // namespace
