// The zone tree in a real window: rows in the zone column whose toggles
// reach the top-level window's handler with their zone, pressed together
// with their sub-zones, taken out again; and the registry reading the
// selected rows of a real list.
#include <fstream>
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
    testing_support::TempDir folder;
    const std::string path = folder.path() + "/zone_collection.xml";
    {
        std::ofstream file(path);
        file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>";
        for (int n = 0; n < 2500; ++n) {
            file << "<zone><name>Зона " << n << "</name><enableVolume>false</enableVolume><volume>0</volume>"
                 << "<devices/><zones>";
            if (n % 5 == 0)
                file << "<zone><name>Часть " << n << "</name><enableVolume>true</enableVolume><volume>7</volume>"
                     << "<devices/><zones/></zone>";
            file << "</zones></zone>";
        }
        file << "</zone_collection>\n";
    }
    frame->columnSizer->layouts = 0;
    root->load(base::fromUtf8(path), *site.collection, frame->column, frame->handler(), ZoneElement::Ptr());

    // The rows sit in groups of the column, so that no window has thousands
    // of children.
    std::size_t toggles = 0;
    for (const wxWindow* group : frame->column->GetChildren()) {
        EXPECT_LE(group->GetChildren().size(), 100u);
        for (const wxWindow* row : group->GetChildren()) toggles += row->GetChildren().size() - 1;  // less the icon
    }
    EXPECT_EQ(toggles, 3000u);
    EXPECT_LE(frame->columnSizer->layouts, 3);
    ASSERT_EQ(root->getZones().size(), 2500u);
    EXPECT_EQ(root->getZones()[1]->getName(), L"Зона 1");
    ASSERT_EQ(root->getZones()[5]->getZones().size(), 1u);
    EXPECT_EQ(root->getZones()[5]->getZones()[0]->getVolume(), 7u);
    // Laid out after all: every row has its place and the column scrolls
    // over all of them.
    EXPECT_GE(frame->column->GetVirtualSize().y, 3000 * 36);
    const auto columnY = [](const wxWindow* row) { return row->GetPosition().y + row->GetParent()->GetPosition().y; };
    EXPECT_GE(columnY(root->getZones().back()->getPanel()) - columnY(root->getZones().front()->getPanel()),
              2998 * 36);
    toggle(root->getZones()[2499]);
    EXPECT_EQ(frame->toggled, std::vector<ZoneElement::Ptr>{root->getZones()[2499]});

    // A row taken out of its group leaves the group laid out again; a row
    // added later goes to the column itself, after the groups.
    const auto second = root->getZones()[1];
    const int below = columnY(root->getZones()[2]->getPanel());
    root->removeElement(root->getZones()[0], true);
    EXPECT_LT(columnY(second->getPanel()), below);
    const auto later = zone(L"Новая");
    root->addElement(later);
    EXPECT_GE(columnY(later->getPanel()), columnY(root->getZones()[2498]->getPanel()));
    // Hidden and shown again within a group: its place comes back.
    const int place = columnY(root->getZones()[3]->getPanel());
    root->getZones()[2]->setShown(false);
    EXPECT_LT(columnY(root->getZones()[3]->getPanel()), place);
    root->getZones()[2]->setShown(true);
    EXPECT_EQ(columnY(root->getZones()[3]->getPanel()), place);
}
