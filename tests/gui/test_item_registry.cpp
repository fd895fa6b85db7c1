// The item registry without a window: ids, lookups, the walks below a zone
// and what another thread reads while the GUI thread changes the tree. Run
// under ThreadSanitizer as well (a build with -DSONVAR_SANITIZE=thread).
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "device/device_base.h"
#include "gui/item_data_map.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using frm::ItemDataMap;
using frm::ZoneElement;
using Ids = std::vector<ItemDataMap::ItemId>;

/// countDeviceItems as its definition reads, one lookup per element.
unsigned literalCount(ItemDataMap& map, const ItemDataMap::DevicePtr& device, ItemDataMap::ItemId zone) {
    unsigned count = 0;
    for (const auto id : map.findZoneItems(zone))
        count += map.getDevice(id) == device ? 1 : literalCount(map, device, id);
    return count;
}

class ItemRegistry : public CountingLogFixture {
protected:
    /// root (0) -> A (1) {d1 2, d2 3} -> A1 (4) {d3 5}; root -> B (6) {d1, console 7}
    void SetUp() override {
        startLog(base::Log::TRACE3);
        a->addElement(d1);
        a->addElement(d2);
        a1->addElement(d3);
        a->addElement(a1);
        b->addElement(d1);
        b->addElement(console);
        root->addElement(a);
        root->addElement(b);
    }

    gui_testing::DeviceSite site;
    ZoneElement::Ptr root = ZoneElement::createDetached(L"Все зоны"), a = ZoneElement::createDetached(L"A"),
                     a1 = ZoneElement::createDetached(L"A1"), b = ZoneElement::createDetached(L"B");
    ItemDataMap::DevicePtr d1 = site.add("01"), d2 = site.add("02"), d3 = site.add("03");
    ItemDataMap::DevicePtr console = site.add("04", L"Пульт", L"Tovik-30");
};

}  // namespace

TEST_F(ItemRegistry, IdsGoDepthFirstOncePerObjectAndStayWhenTheTreeChanges) {
    ItemDataMap map(nullptr, root);
    EXPECT_EQ((Ids{map.findZoneElement(root, false), map.findZoneElement(a, false), map.findDevice(false, d1),
                   map.findDevice(false, d2), map.findZoneElement(a1, false), map.findDevice(false, d3),
                   map.findZoneElement(b, false), map.findDevice(false, console)}),
              (Ids{0, 1, 2, 3, 4, 5, 6, 7}));

    const auto c = ZoneElement::createDetached(L"C");
    const auto d4 = site.add("05"), d5 = site.add("06");
    c->addElement(d4);
    a1->addElement(d5);
    root->addElement(c);
    EXPECT_EQ(map.findDevice(false, d4), ItemDataMap::kNone);
    EXPECT_EQ(map.findDevice(true, d4), 10u);  // d5 8, C 9, d4 10
    EXPECT_EQ(map.findDevice(false, d5), 8u);

    root->removeElement(a, false);
    EXPECT_EQ((Ids{map.findZoneElement(a, true), map.findDevice(true, d2)}), (Ids{1, 3}));
}

TEST_F(ItemRegistry, LookupsWalksAndCountsKeepTheirDefinedResults) {
    ItemDataMap map(nullptr, root);
    EXPECT_FALSE(map.getDevice(1));
    EXPECT_FALSE(map.getZoneElement(2));
    EXPECT_TRUE(map.findZoneItems(2).empty());
    EXPECT_FALSE(logged("Internal error"));
    EXPECT_FALSE(map.getDevice(999));
    EXPECT_TRUE(logged("Internal error. Data with item '999' not found."));

    EXPECT_EQ(map.findZoneItems(0), (Ids{1, 2, 3, 4, 5, 6, 2, 7}));
    EXPECT_EQ(map.zoneDevices(1), (ItemDataMap::DevicePtrSet{d3}));  // A's own devices are not below A

    a1->addElement(ZoneElement::createDetached(L"A2"));
    a1->getZones()[0]->addElement(d1);
    for (const auto& device : {d1, d2, d3, console, site.add("09")})
        for (const ItemDataMap::ItemId zone : {0u, 1u, 4u, 6u})
            EXPECT_EQ(map.countDeviceItems(device, zone), literalCount(map, device, zone));
    // Its three places, and A2's once more in each of the three walks below A and A1 that meet it.
    EXPECT_EQ(map.countDeviceItems(d1, 0), 6u);

    EXPECT_EQ(map.getDevicesOfZones().size(), 3u);  // the console is left out
}

TEST_F(ItemRegistry, AnotherThreadReadsTheSnapshotWhileTheGuiThreadChangesTheTree) {
    ItemDataMap map(nullptr, root);
    const auto d5 = site.add("05");
    std::atomic<bool> done{false};
    std::atomic<int> inconsistent{0}, reads{0};
    std::thread reader([&] {
        for (; !done; ++reads) {
            const std::size_t all = map.getDevicesOfZones().size();
            const unsigned count = map.countDeviceItems(d5, 0);
            if (all < 3 || all > 4 || count > 2 || map.findZoneItems(0).size() < 8 || map.getDevice(2) != d1)
                ++inconsistent;
            map.collectSelectedDevices();
        }
    });
    while (reads == 0) std::this_thread::yield();
    for (int i = 0; i < 2000; ++i) {
        if (i % 2 == 0)
            a1->addElement(d5);
        else
            a1->removeElement(d5);
        map.refreshSnapshot();
    }
    done = true;
    reader.join();
    EXPECT_EQ(inconsistent, 0);
}
