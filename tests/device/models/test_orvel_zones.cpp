// ctest-labels: net
// The loudspeaker's zone lists over UDP against a simulated loudspeaker:
// the request texts, the read caches and when they are asked again, the
// firmware gate, and malformed or refused replies.
#include <memory>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/speaker_zone_store.h"

using device::sim::SpeakerZoneStore;

namespace {

class OrvelZones : public SpeakerFixture {
protected:
    /// A loudspeaker of the index with zone lists.
    void openWithZones(int index) {
        open(index, [this](device::sim::OrvelBandModel& model) { SpeakerZoneStore::install(m_zones, model); });
    }
    std::shared_ptr<SpeakerZoneStore> m_zones = std::make_shared<SpeakerZoneStore>();
};

}  // namespace

TEST_F(OrvelZones, OlderFirmwareHasNoListsAndSendsNothing) {
    openWithZones(17);
    m_zones->setAnnouncements({5});
    EXPECT_TRUE(m_device->readZoneAnnouncements().empty());
    EXPECT_TRUE(m_device->readZoneAddresses().empty());
    EXPECT_THROW(m_device->addZoneAnnouncement(5), exception::UnsupportedByDevice);
    EXPECT_THROW(m_device->removeZoneAnnouncement(5), exception::UnsupportedByDevice);
    EXPECT_THROW(m_device->addZoneAddress(0x1F), exception::UnsupportedByDevice);
    EXPECT_THROW(m_device->removeZoneAddress(0x1F), exception::UnsupportedByDevice);
    EXPECT_EQ(requests(), Requests{});
}

TEST_F(OrvelZones, ChangesReachTheLoudspeakerAndDropTheCache) {
    openWithZones(18);
    m_device->addZoneAnnouncement(17);
    m_device->addZoneAddress(0x1F);
    EXPECT_EQ(m_device->readZoneAnnouncements(), (std::set<int>{17}));
    EXPECT_EQ(m_device->readZoneAddresses(), (std::set<unsigned>{0x1F}));
    // Valid caches: the second reads and adds of held items send nothing.
    EXPECT_EQ(m_device->readZoneAnnouncements(), (std::set<int>{17}));
    EXPECT_EQ(m_device->readZoneAddresses(), (std::set<unsigned>{0x1F}));
    m_device->addZoneAnnouncement(17);
    m_device->addZoneAddress(0x1F);
    // A remove always goes out, and the next read asks again.
    m_device->removeZoneAnnouncement(17);
    m_device->removeZoneAddress(0xABCDEF);
    EXPECT_TRUE(m_device->readZoneAnnouncements().empty());
    EXPECT_EQ(m_device->readZoneAddresses(), (std::set<unsigned>{0x1F}));
    EXPECT_EQ(requests(), (Requests{"zoneAnnAdd 17", "zoneAddrAdd 1F", "zoneAnnRead", "zoneAddrRead",
                                    "zoneAnnDel 17", "zoneAddrDel ABCDEF", "zoneAnnRead", "zoneAddrRead"}));
    EXPECT_EQ(m_zones->announcements(), std::set<int>{});
}

TEST_F(OrvelZones, EmptyListsAreKeptLikeFullOnes) {
    openWithZones(21);
    EXPECT_TRUE(m_device->readZoneAnnouncements().empty());
    EXPECT_TRUE(m_device->readZoneAddresses().empty());
    EXPECT_TRUE(m_device->readZoneAnnouncements().empty());
    EXPECT_TRUE(m_device->readZoneAddresses().empty());
    EXPECT_EQ(requests(), (Requests{"zoneAnnRead", "zoneAddrRead"}));
}

TEST_F(OrvelZones, MalformedListsThrowTheDeviceErrorAndAreAskedAgain) {
    openWithZones(19);
    m_zones->setReply("zoneAnnRead", "5,");
    m_zones->setReply("zoneAddrRead", "1F,1000000");
    EXPECT_THROW(m_device->readZoneAnnouncements(), exception::UnexpectedResponseOfDevice);
    EXPECT_THROW(m_device->readZoneAddresses(), exception::UnexpectedResponseOfDevice);
    m_zones->setReply("zoneAnnRead", "");
    m_zones->setReply("zoneAddrRead", "");
    m_zones->setAnnouncements({3});
    m_zones->setAddresses({0x10, 0x1F});
    EXPECT_EQ(m_device->readZoneAnnouncements(), (std::set<int>{3}));
    EXPECT_EQ(m_device->readZoneAddresses(), (std::set<unsigned>{0x10, 0x1F}));
    EXPECT_EQ(requests(), (Requests{"zoneAnnRead", "zoneAddrRead", "zoneAnnRead", "zoneAddrRead"}));
}

TEST_F(OrvelZones, RefusedChangeLeavesTheValidCache) {
    openWithZones(20);
    m_zones->setAnnouncements({4});
    EXPECT_EQ(m_device->readZoneAnnouncements(), (std::set<int>{4}));
    // The store refuses numbers of 65535 and above.
    EXPECT_THROW(m_device->addZoneAnnouncement(70000), exception::UnexpectedResponseOfDevice);
    EXPECT_EQ(m_device->readZoneAnnouncements(), (std::set<int>{4}));
    EXPECT_EQ(requests(), (Requests{"zoneAnnRead", "zoneAnnAdd 70000"}));
}
