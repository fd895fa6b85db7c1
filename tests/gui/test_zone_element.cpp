// The zone tree in a real window: rows in the zone column whose toggles
// reach the top-level window's handler with their zone, pressed together
// with their sub-zones, taken out again; and the registry reading the
// selected rows of a real list.
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/tglbtn.h>

#include "base/text.h"
#include "device/device_base.h"
#include "device/models/orvel_info.h"
#include "gui/item_data_map.h"
#include "gui/layout/icon_grid.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using frm::ZoneElement;

/// A top-level window with a zone column, recording which zone each toggle
/// event named.
class ZoneFrame : public wxFrame {
public:
    ZoneFrame() : wxFrame(nullptr, wxID_ANY, "zones") {
        column = new wxScrolledWindow(this);
        columnSizer = new Column;
        column->SetSizer(columnSizer);
        all = new wxToggleButton(this, wxID_ANY, "Все зоны");
        list = new frm::IconGrid(this, wxID_ANY);
    }
    /// The zone column's sizer, counting its layouts.
    class Column : public wxBoxSizer {
    public:
        Column() : wxBoxSizer(wxVERTICAL) {}
        void RepositionChildren(const wxSize& minSize) override {
            ++layouts;
            wxBoxSizer::RepositionChildren(minSize);
        }
        int layouts = 0;
    };

    void onZone(wxCommandEvent& event) { toggled.push_back(ZoneElement::extractZoneElement(event)); }
    wxObjectEventFunction handler() const { return wxCommandEventHandler(ZoneFrame::onZone); }

    wxScrolledWindow* column;
    Column* columnSizer;
    wxToggleButton* all;
    frm::IconGrid* list;
    std::vector<ZoneElement::Ptr> toggled;
};

void toggle(const ZoneElement::Ptr& zone) {
    wxCommandEvent event(wxEVT_TOGGLEBUTTON, zone->getButton()->GetId());
    event.SetEventObject(zone->getButton());
    zone->getButton()->GetEventHandler()->ProcessEvent(event);
}

class ZoneWindow : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        frame = new ZoneFrame;
        sizeColumn();
        frame->Show();
        root = ZoneElement::createRoot(frame->all);
    }
    void TearDown() override {
        frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(10));
        CountingLogFixture::TearDown();
    }
    ZoneElement::Ptr zone(const std::wstring& name) {
        return ZoneElement::createZone(frame->column, frame->handler(), name);
    }
    std::size_t rows() const { return frame->column->GetSizer()->GetItemCount(); }

    /// zone_collection.xml with `count` zones named "Зона N", each
    /// `withChild`-th (none at 0) with a sub-zone "Часть N".
    std::string writeFile(int count, int withChild) {
        const std::string path = folder.path() + "/zone_collection.xml";
        std::ofstream file(path);
        file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>";
        for (int n = 0; n < count; ++n) {
            file << "<zone><name>Зона " << n << "</name><enableVolume>false</enableVolume><volume>0</volume>"
                 << "<devices/><zones>";
            if (withChild != 0 && n % withChild == 0)
                file << "<zone><name>Часть " << n << "</name><enableVolume>true</enableVolume><volume>7</volume>"
                     << "<devices/><zones/></zone>";
            file << "</zones></zone>";
        }
        file << "</zone_collection>\n";
        return path;
    }
    /// A column of 400 pixels that scrolls by pixels.
    void sizeColumn() {
        frame->SetClientSize(320, 420);
        frame->column->SetSize(0, 0, 300, 400);
        frame->column->SetScrollRate(0, 1);
    }
    /// The height of a row, read off the first row of the load.
    int rowHeight() {
        if (m_rowHeight == 0) m_rowHeight = flat().at(0)->getPanel()->GetSize().y;
        return m_rowHeight;
    }
    /// The zones in the order of their rows (file order, depth first).
    std::vector<ZoneElement::Ptr> flat() const {
        std::vector<ZoneElement::Ptr> zones;
        const std::function<void(const ZoneElement&)> walk = [&](const ZoneElement& zone) {
            for (const ZoneElement::Ptr& child : zone.getZones()) {
                zones.push_back(child);
                walk(*child);
            }
        };
        walk(*root);
        return zones;
    }
    /// Scrolls the column so that row `row` is at its top, and lets the loop
    /// run until that row's group has built its rows.
    void showRowsAt(std::size_t row) {
        const ZoneElement::Ptr zone = flat().at(row);
        frame->column->Scroll(0, static_cast<int>(row) * rowHeight());
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return zone->getButton() != nullptr; })) << "row " << row;
    }
    std::size_t builtRows() const {
        std::size_t built = 0;
        for (const wxWindow* group : frame->column->GetChildren()) built += group->GetChildren().size();
        return built;
    }

    testing_support::TempDir folder;
    int m_rowHeight = 0;

    gui_testing::DeviceSite site;
    ZoneFrame* frame = nullptr;
    ZoneElement::Ptr root;
};

}  // namespace

TEST_F(ZoneWindow, TogglesNameTheirZoneAndGoWithTheirSubZones) {
    const auto hall = zone(L"Зал"), stage = zone(L"Сцена"), yard = zone(L"Двор");
    hall->addElement(stage);
    root->addElement(hall);
    root->addElement(yard);
    ASSERT_EQ(rows(), 3u);

    toggle(stage);
    toggle(yard);
    EXPECT_EQ(frame->toggled, (std::vector<ZoneElement::Ptr>{stage, yard}));

    hall->setChecked(true);
    EXPECT_TRUE(stage->getButton()->GetValue() && stage->isSelected());
    EXPECT_FALSE(yard->getButton()->GetValue() || frame->all->GetValue());

    root->removeElement(yard, false);  // kept as a row, no longer heard
    toggle(yard);
    EXPECT_EQ(frame->toggled.size(), 2u);
    root->removeElement(hall, true);
    EXPECT_EQ(rows(), 1u);
}

TEST_F(ZoneWindow, TheRegistryReadsTheSelectedRowsAndWorkersTheirSnapshot) {
    const auto hall = zone(L"Зал");
    root->addElement(hall);
    const auto speaker = site.add("01"), other = site.add("02"),
               console = site.add("03", L"Пульт", L"Tovik-30");
    std::vector<frm::DeviceRowData> rowData{{speaker, hall}, {other, hall}, {console, hall}};
    for (const auto& device : {speaker, other, console}) hall->addElement(device);
    frm::ItemDataMap map(frame->list, root);
    for (long row = 0; row < 4; ++row) {
        frame->list->InsertItem(row, "row");
        if (row < 3) frame->list->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(&rowData[2 - row]));
        if (row != 1) frame->list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    // Rows: console (selected), other, speaker (selected), one without data (selected).
    EXPECT_EQ(map.selectedItems(), (std::vector<frm::ItemDataMap::ItemId>{4, 2}));
    EXPECT_TRUE(logged("Internal error. Element pointer is equal null"));
    EXPECT_EQ(map.getSelectedDevices(),
              (frm::DeviceSet{boost::dynamic_pointer_cast<device::OrvelInfo>(speaker)}));

    std::size_t before = 99, after = 99;
    std::thread([&] { before = map.collectSelectedDevices().size(); }).join();
    map.refreshSnapshot();
    std::thread([&] { after = map.collectSelectedDevices().size(); }).join();
    EXPECT_EQ(before, 0u);  // selected after the last snapshot
    EXPECT_EQ(after, 2u);
}

TEST_F(ZoneWindow, AFileOfThousandsOfZonesGetsItsRowsInOrderWithOneLayoutOfTheColumn) {
    // 3,000 zones, each fifth with a sub-zone: a layout per row would take
    // time in the square of the rows (minutes at tens of thousands).
    const std::string path = writeFile(2500, 5);
    frame->columnSizer->layouts = 0;
    root->load(base::fromUtf8(path), *site.collection, frame->column, frame->handler(), ZoneElement::Ptr());

    // The rows sit in groups of the column, so that no window has thousands
    // of children; the load built the first group's rows alone.
    ASSERT_EQ(frame->column->GetChildren().size(), 30u);
    std::size_t toggles = 0;
    for (const wxWindow* group : frame->column->GetChildren()) {
        EXPECT_LE(group->GetChildren().size(), 100u);
        for (const wxWindow* row : group->GetChildren()) toggles += row->GetChildren().size() - 1;  // less the icon
    }
    EXPECT_EQ(toggles, 100u);
    EXPECT_LE(frame->columnSizer->layouts, 3);
    ASSERT_EQ(root->getZones().size(), 2500u);
    EXPECT_EQ(root->getZones()[1]->getName(), L"Зона 1");
    ASSERT_EQ(root->getZones()[5]->getZones().size(), 1u);
    EXPECT_EQ(root->getZones()[5]->getZones()[0]->getVolume(), 7u);
    ASSERT_NE(root->getZones()[82]->getButton(), nullptr);  // row 99
    EXPECT_EQ(root->getZones()[82]->getButton()->GetLabel(), L"Зона 82");
    EXPECT_EQ(root->getZones()[83]->getButton(), nullptr);
    // Laid out after all: the groups without rows hold the place of theirs,
    // so the column scrolls over every zone.
    EXPECT_GE(frame->column->GetVirtualSize().y, 3000 * 36);

    // The last group builds its rows when it comes into view, in file order
    // and in their places.
    showRowsAt(2999);
    const auto columnY = [](const wxWindow* row) { return row->GetPosition().y + row->GetParent()->GetPosition().y; };
    const auto& zones = root->getZones();
    ASSERT_NE(zones[2499]->getPanel(), nullptr);
    EXPECT_EQ(columnY(zones[2499]->getPanel()) - columnY(zones[0]->getPanel()), 2999 * rowHeight());
    EXPECT_EQ(columnY(zones[2495]->getZones()[0]->getPanel()) - columnY(zones[2495]->getPanel()), rowHeight());
    toggle(zones[2499]);
    EXPECT_EQ(frame->toggled, std::vector<ZoneElement::Ptr>{zones[2499]});
    EXPECT_EQ(zones[1500]->getButton(), nullptr) << "a group never in view has no rows";

    // A row taken out of its group leaves the group laid out again; a row
    // added later goes to the column itself, after the groups.
    showRowsAt(0);
    const auto second = zones[1];
    const int below = columnY(zones[2]->getPanel());
    root->removeElement(zones[0], true);
    EXPECT_LT(columnY(second->getPanel()), below);
    const auto later = zone(L"Новая");
    root->addElement(later);
    EXPECT_GE(columnY(later->getPanel()), columnY(zones[2498]->getPanel()));
    // Hidden and shown again within a group: its place comes back.
    const int place = columnY(zones[3]->getPanel());
    zones[2]->setShown(false);
    EXPECT_LT(columnY(zones[3]->getPanel()), place);
    zones[2]->setShown(true);
    EXPECT_EQ(columnY(zones[3]->getPanel()), place);
}

TEST_F(ZoneWindow, ScrollingThroughTheColumnGivesEveryZoneItsRowAndKeepsFewRowsBuilt) {
    const std::string path = writeFile(3000, 0);
    root->load(base::fromUtf8(path), *site.collection, frame->column, frame->handler(), ZoneElement::Ptr());
    const auto& zones = root->getZones();
    std::size_t mostBuilt = 0;
    for (std::size_t row = 0; row < zones.size(); row += 50) {
        showRowsAt(row);
        ASSERT_NE(zones[row]->getButton(), nullptr) << row;
        EXPECT_EQ(zones[row]->getButton()->GetLabel(), L"Зона " + std::to_wstring(row));
        // At the top of the view: every row above held its place.
        EXPECT_EQ(zones[row]->getPanel()->GetPosition().y + zones[row]->getPanel()->GetParent()->GetPosition().y, 0)
            << row;
        mostBuilt = std::max(mostBuilt, builtRows());
    }
    // Rows of groups far from view were given up on the way.
    EXPECT_LE(mostBuilt, 2000u);
    EXPECT_GE(mostBuilt, 200u);
    EXPECT_EQ(zones.front()->getButton(), nullptr);
    EXPECT_EQ(zones.front()->getName(), L"Зона 0");

    // Back at the top, the first rows are there again and still heard.
    showRowsAt(0);
    toggle(zones.front());
    EXPECT_EQ(frame->toggled, std::vector<ZoneElement::Ptr>{zones.front()});
}

TEST_F(ZoneWindow, AZoneChangedBeforeItsRowExistsGetsTheRightRowOrNone) {
    const std::string path = writeFile(400, 0);
    root->load(base::fromUtf8(path), *site.collection, frame->column, frame->handler(), ZoneElement::Ptr());
    const std::vector<ZoneElement::Ptr> zones = root->getZones();
    ASSERT_EQ(zones[250]->getButton(), nullptr);
    const int height = frame->column->GetVirtualSize().y;

    zones[250]->setName(L"Склад");
    zones[251]->setChecked(true);
    zones[252]->setShown(false);
    root->removeElement(zones[253], true);
    root->removeElement(zones[254], false);  // kept, no longer heard
    EXPECT_EQ(frame->column->GetVirtualSize().y, height - 2 * rowHeight()) << "hidden and removed: no gap";

    showRowsAt(260);
    ASSERT_NE(zones[250]->getButton(), nullptr);
    EXPECT_EQ(zones[250]->getButton()->GetLabel(), L"Склад");
    EXPECT_TRUE(zones[251]->getButton()->GetValue());
    EXPECT_FALSE(zones[250]->getButton()->GetValue());
    EXPECT_FALSE(zones[252]->getPanel()->IsShown());
    EXPECT_EQ(zones[253]->getButton(), nullptr);
    ASSERT_NE(zones[254]->getButton(), nullptr);
    // The rows below sit where their zones are, with no gap for the hidden
    // and the removed one.
    const auto columnY = [](const wxWindow* row) { return row->GetPosition().y + row->GetParent()->GetPosition().y; };
    EXPECT_EQ(columnY(zones[255]->getPanel()) - columnY(zones[251]->getPanel()), 2 * rowHeight());

    toggle(zones[254]);
    toggle(zones[251]);
    EXPECT_EQ(frame->toggled, std::vector<ZoneElement::Ptr>{zones[251]});
    zones[252]->setShown(true);
    EXPECT_TRUE(zones[252]->getPanel()->IsShown());
    EXPECT_EQ(columnY(zones[255]->getPanel()) - columnY(zones[251]->getPanel()), 3 * rowHeight());
}
