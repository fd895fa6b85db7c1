// ctest-labels: net
// Binding console zones to loudspeakers through the device collection, end to
// end over UDP against a broadcast console, a fire console and three
// loudspeakers: the exact requests on both sides, the choice of the virtual
// zone, unbinding and rebinding, the refusals that write nothing, the undo
// of a failed binding and a console turned from fire to broadcast.
#include <gtest/gtest.h>

#include "tests/device/memory/memory_test_support.h"
#include "tests/device/models/zone_site_fixture.h"
#include "tools/simulator/audio_memory_store.h"

using device::DeviceCollection;

namespace {

constexpr std::size_t kBroadcast = 0;
constexpr std::size_t kFire = 1;

class ZoneBinding : public ZoneSiteFixture {
protected:
    void SetUp() override {
        ZoneSiteFixture::SetUp();
        openSite(device::sim::addBindingSite, 3, 2);
    }
    DeviceCollection::OrvelSet speakers(std::initializer_list<std::size_t> positions) {
        DeviceCollection::OrvelSet set;
        for (std::size_t n : positions) set.insert(speaker(n));
        return set;
    }
    unsigned address(std::size_t n) const { return site.loudspeakers.at(n).address; }
    int preferred(std::size_t console, int zone) const {
        return static_cast<int>(consoleAddress(console) % 51) * 20 + zone;
    }
    /// Loudspeakers with an audio memory holding scenario number 1.
    void plantScenarios(std::initializer_list<std::size_t> positions) {
        for (std::size_t n : positions) {
            const auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
            store->plant(memory_test::plantedImage(device::memory::kLayout611, 2, 1000));
            site.loudspeakers.at(n).device->withModel<device::sim::CommandModel>(
                [&store](device::sim::CommandModel& m) {
                    device::sim::AudioMemoryStore::install(store, m);
                    return 0;
                });
        }
    }
};

}  // namespace

TEST_F(ZoneBinding, BindWritesLoudspeakersThenConsoleAndReusesASharedSet) {
    int zone = 2;
    collection->bindDevices(console(kBroadcast), zone, -1, speakers({0, 1}));
    const int virtualZone = preferred(kBroadcast, 2);
    const std::string consoleHex = hex(consoleAddress(kBroadcast));
    for (std::size_t n : {0, 1}) {
        EXPECT_EQ(speakerLog(n), (Requests{"zoneAnnAdd " + std::to_string(virtualZone), "zoneAddrAdd " + consoleHex}));
        EXPECT_EQ(lists(n).announcements(), std::set<int>{virtualZone});
    }
    EXPECT_EQ(speakerLog(2), Requests{});
    EXPECT_EQ(consoleLog(kBroadcast),
              (Requests{"zoneList all", "zoneScList",
                        "zoneBind 2 " + std::to_string(virtualZone) + " " + hex(address(0)) + "," + hex(address(1)) + ","}));
    EXPECT_EQ(consoleLog(kFire), (Requests{"zoneList all", "zoneScList"})) << "its zones count as used";

    // The fire console's zone of the same loudspeakers shares the virtual zone.
    clearLogs();
    int other = 5;
    collection->bindDevices(console(kFire), other, -1, speakers({1, 0}));
    EXPECT_EQ(simZone(kFire, 5).virtualZone, virtualZone);
    EXPECT_EQ(speakerLog(0), (Requests{"zoneAnnAdd " + std::to_string(virtualZone),
                                       "zoneAddrAdd " + hex(consoleAddress(kFire))}));
    EXPECT_EQ(lists(0).addresses(), (std::set<unsigned>{consoleAddress(kBroadcast), consoleAddress(kFire)}));
    EXPECT_TRUE(collection->searchForDevicesWithBrokenTranslationZones().empty());
}

TEST_F(ZoneBinding, UsedPreferredNumberGivesTheSmallestFreeOne) {
    int zone = 1;
    collection->bindDevices(console(kBroadcast), zone, -1, speakers({2}));
    // The fire console's preferred number for zone 4, taken by a zone of its own.
    site.consoles[kFire].device->withModel<device::sim::TovikZoneModel>([&](device::sim::TovikZoneModel& m) {
        m.zones[3] = device::sim::TovikZoneModel::Zone{preferred(kFire, 4), {address(0), address(1), address(2)}};
        return 0;
    });
    console(kFire)->resetCache();
    ASSERT_EQ(console(kFire)->getZones().size(), 1u);
    int four = 4;
    collection->bindDevices(console(kFire), four, -1, speakers({0}));
    const int expected = preferred(kBroadcast, 1) == 1 ? 2 : 1;
    EXPECT_EQ(simZone(kFire, 4).virtualZone, expected);
}

TEST_F(ZoneBinding, UnbindKeepsWhatOtherZonesStillUse) {
    int zone = 2;
    int other = 5;
    collection->bindDevices(console(kBroadcast), zone, -1, speakers({0, 1}));
    collection->bindDevices(console(kFire), other, -1, speakers({0, 1}));
    const int virtualZone = preferred(kBroadcast, 2);
    clearLogs();

    // The fire console still broadcasts the virtual zone: only the
    // broadcast console's address leaves the loudspeakers.
    collection->unbindDevices(console(kBroadcast), zone);
    EXPECT_EQ(consoleLog(kBroadcast), Requests{"zoneDel 2"});
    EXPECT_EQ(speakerLog(0), (Requests{"zoneAnnRead", "zoneAddrDel " + hex(consoleAddress(kBroadcast))}));
    EXPECT_EQ(lists(0).announcements(), std::set<int>{virtualZone});
    EXPECT_EQ(lists(1).addresses(), std::set<unsigned>{consoleAddress(kFire)});

    // The last zone of the virtual zone takes it from every loudspeaker.
    clearLogs();
    collection->unbindDevices(console(kFire), other);
    EXPECT_EQ(speakerLog(0), (Requests{"zoneAddrDel " + hex(consoleAddress(kFire)),
                                       "zoneAnnDel " + std::to_string(virtualZone)}));
    EXPECT_EQ(speakerLog(2), Requests{"zoneAnnRead"});
    for (std::size_t n : {0, 1, 2}) {
        EXPECT_TRUE(lists(n).announcements().empty());
        EXPECT_TRUE(lists(n).addresses().empty());
    }
    expectUserResponse([&] { collection->unbindDevices(console(kFire), other); }, L"unknownZone");
}

TEST_F(ZoneBinding, RebindReplacesTheZonesLoudspeakers) {
    collection->rebindDevices(console(kBroadcast), 3, -1, speakers({0, 1}));
    collection->rebindDevices(console(kBroadcast), 3, -1, speakers({1, 2}));
    const device::sim::TovikZoneModel::Zone zone = simZone(kBroadcast, 3);
    EXPECT_EQ(zone.addresses, (std::set<unsigned>{address(1), address(2)}));
    EXPECT_TRUE(lists(0).announcements().empty());
    EXPECT_TRUE(lists(0).addresses().empty());
    for (std::size_t n : {1, 2}) {
        EXPECT_EQ(lists(n).announcements(), std::set<int>{zone.virtualZone});
        EXPECT_EQ(lists(n).addresses(), std::set<unsigned>{consoleAddress(kBroadcast)});
    }
    Requests log = consoleLog(kBroadcast);
    EXPECT_EQ(std::count(log.begin(), log.end(), "get vol"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "zoneDel 3"), 1);
}

TEST_F(ZoneBinding, RefusalsWriteNothing) {
    plantScenarios({0, 1});
    int zone = 1;
    ASSERT_NO_THROW(collection->bindDevices(console(kFire), zone, 1, speakers({0, 1})));
    clearLogs();
    const auto refused = [&](std::size_t console_, int zoneNumber, int scenario,
                             std::initializer_list<std::size_t> set, const std::wstring& codeWord) {
        SCOPED_TRACE(std::string(codeWord.begin(), codeWord.end()));
        expectUserResponse([&] { collection->bindDevices(console(console_), zoneNumber, scenario, speakers(set)); },
                           codeWord);
    };
    refused(kFire, 0, -1, {2}, L"incorrectZone");
    refused(kFire, 21, -1, {2}, L"incorrectZone");
    refused(kFire, 1, -1, {2}, L"zoneBusy");
    refused(kBroadcast, 2, 1, {0}, L"noFireType");
    refused(kFire, 2, 9, {0}, L"noScenario");
    refused(kFire, 2, 1, {0}, L"partialIntersection");   // zone 1 holds 0 and 1 with message 1
    refused(kFire, 2, 1, {0, 1}, L"partialIntersection"); // the same message twice
    EXPECT_THROW(collection->bindDevices(console(kFire), zone = 3, -1, {}), exception::ServerError);
    for (std::size_t n : {0, 1, 2}) {
        for (const std::string& request : speakerLog(n)) EXPECT_NE(request.rfind("zone", 0), 0u) << request;
    }
    for (const std::string& request : consoleLog(kFire)) EXPECT_NE(request.rfind("zoneBind", 0), 0u) << request;
}

TEST_F(ZoneBinding, FailedMessageBindingKeepsTheConsolesOtherZones) {
    plantScenarios({0, 1});
    int first = 1;
    collection->bindDevices(console(kFire), first, -1, speakers({0}));
    const int kept = preferred(kFire, 1);
    site.consoles[kFire].device->withModel<device::sim::TovikZoneModel>([](device::sim::TovikZoneModel& m) {
        m.refuseMessages = true;
        return 0;
    });
    clearLogs();

    int second = 2;
    collection->bindDevices(console(kFire), second, 1, speakers({0, 1}));
    const int dropped = preferred(kFire, 2);
    const std::string fireHex = hex(consoleAddress(kFire));
    // Loudspeaker 0 still hears zone 1 of the console: it keeps the address.
    EXPECT_EQ(lists(0).announcements(), std::set<int>{kept});
    EXPECT_EQ(lists(0).addresses(), std::set<unsigned>{consoleAddress(kFire)});
    EXPECT_TRUE(lists(1).announcements().empty());
    EXPECT_TRUE(lists(1).addresses().empty());
    const Requests log = speakerLog(0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Requests(log.end() - 2, log.end()), (Requests{"zoneAnnDel " + std::to_string(dropped), "zoneAnnRead"}));
    EXPECT_EQ(speakerLog(1).back(), "zoneAddrDel " + fireHex);
    EXPECT_EQ(consoleLog(kFire).back(), "zoneDel 2");
    EXPECT_EQ(simZoneCount(kFire), 1u);

    EXPECT_TRUE(collection->searchForDevicesWithBrokenTranslationZones().empty());
    expectUserResponse([&] { collection->fixIntegrity(speaker(0)); }, L"none");
}

TEST_F(ZoneBinding, BroadcastConsoleLosesItsMessageZonesOnlyWhenConfirmed) {
    plantScenarios({0});
    int zone = 4;
    int plain = 6;
    collection->bindDevices(console(kFire), zone, 1, speakers({0}));
    collection->bindDevices(console(kFire), plain, -1, speakers({2}));
    device::TovikInfo::Config config = console(kFire)->getConfig(true);
    config.ainEnabled = false;
    clearLogs();

    EXPECT_FALSE(collection->setTovikConfig(console(kFire), config, false));
    EXPECT_EQ(consoleLog(kFire), Requests{});

    EXPECT_TRUE(collection->setTovikConfig(console(kFire), config, true));
    EXPECT_EQ(simZoneCount(kFire), 1u) << "the zone without a message stays";
    const Requests log = consoleLog(kFire);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "zoneDel 4");
    EXPECT_NE(std::find(log.begin(), log.end(), "set priority 5"), log.end());
    EXPECT_TRUE(lists(0).announcements().empty());
}
