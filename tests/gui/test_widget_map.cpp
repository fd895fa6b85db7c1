// The trial's map of the windows on screen: each shown control with its
// screen rectangle, state and text, hidden ones left out; the items of the
// icon grid, of a tree and the tabs of a notebook where a click lands on
// them; the file rewritten on the timer only when something changed, and
// nothing at all without the environment variable.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/treectrl.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gui/layout/icon_grid.h"
#include "gui/widget_map.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

std::string rectText(const wxRect& rect) {
    return std::to_string(rect.x) + "," + std::to_string(rect.y) + "," + std::to_string(rect.width) + "," +
           std::to_string(rect.height);
}

/// The lines of the listing that contain every one of the parts.
std::vector<std::string> linesWith(const std::string& listing, const std::vector<std::string>& parts) {
    std::vector<std::string> found;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        bool all = true;
        for (const auto& part : parts) all = all && line.find(part) != std::string::npos;
        if (all) found.push_back(line);
    }
    return found;
}

/// x,y of the centre of the rect=... field of a line.
wxPoint centreOf(const std::string& line) {
    int x = 0, y = 0, w = 0, h = 0;
    std::sscanf(line.c_str() + line.find("rect=") + 5, "%d,%d,%d,%d", &x, &y, &w, &h);
    return {x + w / 2, y + h / 2};
}

std::string fileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class Map : public ::testing::Test {
protected:
    void SetUp() override {
        frame = new wxFrame(nullptr, wxID_ANY, "Сонвар map", wxPoint(20, 30), wxSize(700, 500));
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        stop = new wxButton(frame, wxID_ANY, L"Стоп");
        hidden = new wxButton(frame, wxID_ANY, L"Скрытая");
        hidden->Hide();
        toggle = new wxToggleButton(frame, wxID_ANY, L"Тревожное\nоповещение");
        toggle->SetValue(true);
        field = new wxTextCtrl(frame, wxID_ANY, L"-29 дБ");
        field->Disable();
        const wxString sources[] = {L"Микрофон", L"Список"};
        radio = new wxRadioBox(frame, wxID_ANY, L"Источник", wxDefaultPosition, wxDefaultSize, 2, sources);
        radio->SetSelection(1);
        book = new wxNotebook(frame, wxID_ANY, wxDefaultPosition, wxSize(460, 80));
        book->AddPage(new wxPanel(book), L"Общие");
        auto* network = new wxPanel(book);
        new wxButton(network, wxID_ANY, L"На другой странице");
        book->AddPage(network, L"Сеть");
        // A page taken out and kept for another device, as the property
        // panel keeps the pages of other kinds of devices.
        auto* kept = new wxPanel(book);
        new wxButton(kept, wxID_ANY, L"На снятой странице");
        book->AddPage(kept, L"Зоны");
        book->RemovePage(2);
        kept->Show();
        grid = new frm::IconGrid(frame);
        auto* images = new wxImageList(48, 48, true, 1);
        images->Add(wxBitmap(48, 48));
        images->Add(wxBitmap(48, 48));
        grid->AssignImageList(images, wxIMAGE_LIST_NORMAL);
        grid->InsertItem(0, L"Зал", 0);
        grid->InsertItem(1, L"Холл", 1);
        grid->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        tree = new wxTreeCtrl(frame, wxID_ANY, wxDefaultPosition, wxSize(-1, 90),
                              wxTR_HIDE_ROOT | wxTR_DEFAULT_STYLE);
        const wxTreeItemId root = tree->AddRoot("");
        const wxTreeItemId group = tree->AppendItem(root, L"Эвакуация");
        tree->AppendItem(group, L"Этаж 2");
        tree->Expand(group);
        for (wxWindow* control : std::initializer_list<wxWindow*>{stop, hidden, toggle, field, radio, book})
            sizer->Add(control, 0, wxALL, 2);
        sizer->Add(grid, 1, wxEXPAND);
        sizer->Add(tree, 0, wxEXPAND);
        frame->SetSizer(sizer);
        frame->Show();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
        wx_testing::runEventLoopFor(100ms);
    }
    void TearDown() override {
        frame->Destroy();
        wx_testing::runEventLoopFor(10ms);
    }

    wxFrame* frame = nullptr;
    wxButton* stop = nullptr;
    wxButton* hidden = nullptr;
    wxToggleButton* toggle = nullptr;
    wxTextCtrl* field = nullptr;
    wxRadioBox* radio = nullptr;
    wxNotebook* book = nullptr;
    frm::IconGrid* grid = nullptr;
    wxTreeCtrl* tree = nullptr;
};

}  // namespace

TEST_F(Map, ListsEachShownControlWhereItIsOnScreenWithItsState) {
    const std::string listing = frm::WidgetMap::describe();
    const auto top = linesWith(listing, {"parent=0", "class=wxFrame", "label=\"Сонвар map\""});
    ASSERT_EQ(top.size(), 1u) << listing;
    EXPECT_NE(top[0].find("rect=" + rectText(frame->GetScreenRect())), std::string::npos) << top[0];

    const auto button = linesWith(listing, {"type=wxButton", "label=\"Стоп\""});
    ASSERT_EQ(button.size(), 1u) << listing;
    EXPECT_NE(button[0].find(" rect=" + rectText(stop->GetScreenRect()) + " enabled=1"), std::string::npos)
        << button[0];
    EXPECT_NE(button[0].find(" parent=1 "), std::string::npos) << "a child of the frame's line";
    EXPECT_TRUE(linesWith(listing, {"Скрытая"}).empty()) << "a hidden control is left out";
    EXPECT_TRUE(linesWith(listing, {"На другой странице"}).empty()) << "and so is one of a page not on view";
    EXPECT_TRUE(linesWith(listing, {"На снятой странице"}).empty()) << "and one of a page taken out";
    EXPECT_EQ(
        linesWith(listing, {"type=wxToggleButton", "label=\"Тревожное\\nоповещение\"", "value=\"1\""}).size(),
        1u)
        << listing;
    EXPECT_EQ(linesWith(listing, {"type=wxTextCtrl", "enabled=0", "value=\"-29 дБ\""}).size(), 1u) << listing;
    EXPECT_EQ(linesWith(listing, {"type=frm::IconGrid"}).size(), 1u) << "our own class by its C++ name";

    // Items: where a click at their centre lands, and which are selected.
    const auto cells = linesWith(listing, {"item of="});
    const auto hall = linesWith(listing, {"item ", "title=\"Холл\""});
    ASSERT_EQ(hall.size(), 1u) << listing;
    EXPECT_NE(hall[0].find("selected=1"), std::string::npos);
    EXPECT_NE(hall[0].find(" image=1"), std::string::npos) << "the state icon it shows";
    int flags = 0;
    EXPECT_EQ(grid->HitTest(grid->ScreenToClient(centreOf(hall[0])), flags), 1);
    EXPECT_NE(linesWith(listing, {"item ", "title=\"Зал\"", "selected=0"}).size(), 0u);

    const auto floor = linesWith(listing, {"item ", "title=\"Этаж 2\""});
    ASSERT_EQ(floor.size(), 1u) << "the expanded group's message: " << listing;
    EXPECT_EQ(tree->GetItemText(tree->HitTest(tree->ScreenToClient(centreOf(floor[0])))), L"Этаж 2");

    const auto network = linesWith(listing, {"item ", "title=\"Сеть\"", "selected=0"});
    ASSERT_EQ(network.size(), 1u) << "the second tab: " << listing;
    EXPECT_EQ(book->HitTest(book->ScreenToClient(centreOf(network[0]))), 1);
    EXPECT_EQ(linesWith(listing, {"type=wxNotebook", "value=\"0\""}).size(), 1u);
    EXPECT_EQ(linesWith(listing, {"type=wxRadioBox", "value=\"Список\""}).size(), 1u) << "the chosen item";
}

TEST_F(Map, TheFileIsRewrittenOnlyWhenTheScreenChangedAndOnlyWithTheVariable) {
    testing_support::TempDir folder{"widget-map"};
    const std::string path = folder.path() + "/widgets.txt";
    {
        frm::WidgetMap map(path, 10000ms);  // no timer tick during the test
        EXPECT_TRUE(map.update());
        EXPECT_EQ(fileText(path), frm::WidgetMap::describe());
        EXPECT_FALSE(map.update()) << "nothing changed";
        stop->SetLabel(L"Тревога");
        EXPECT_TRUE(map.update());
        EXPECT_EQ(linesWith(fileText(path), {"label=\"Тревога\""}).size(), 1u);
    }

    ::unsetenv(frm::WidgetMap::kVariable);
    EXPECT_EQ(frm::WidgetMap::fromEnvironment(), nullptr);
    const std::string timed = folder.path() + "/timed.txt";
    ::setenv(frm::WidgetMap::kVariable, timed.c_str(), 1);
    auto map = frm::WidgetMap::fromEnvironment();
    ::unsetenv(frm::WidgetMap::kVariable);
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !fileText(timed).empty(); }));
    hidden->Show();
    frame->Layout();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] {
        return !linesWith(fileText(timed), {"Скрытая"}).empty();
    })) << "written again on its own once the screen changed";
}

// The tabs are found again when the notebook's pages change, even to as
// many as before: the property panel puts in another page set for each
// kind of device, and a click aimed by the old places would open the wrong
// page.
TEST_F(Map, ANotebooksNewPagesAreListedWhereTheirTabsNowAre) {
    frm::WidgetMap::describe();
    book->DeletePage(1);
    book->DeletePage(0);
    book->AddPage(new wxPanel(book), L"Аудио память");
    book->AddPage(new wxPanel(book), L"Зоны трансляции");
    std::string zones;
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] {
        const auto found = linesWith(frm::WidgetMap::describe(), {"item ", "title=\"Зоны трансляции\""});
        zones = found.empty() ? std::string() : found[0];
        return !zones.empty();
    }));
    EXPECT_EQ(book->HitTest(book->ScreenToClient(centreOf(zones))), 1) << zones;
}
