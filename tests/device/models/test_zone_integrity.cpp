// ctest-labels: net
// The zone-binding check and repair end to end over UDP: a site with every
// kind of broken binding is reported finding by finding, repaired device by
// device until the check comes back clean, and left with exactly the sound
// bindings; loudspeakers without zone lists are not asked for them.
#include <gtest/gtest.h>

#include "base/exception.h"
#include "tests/device/models/zone_site_fixture.h"

using device::sim::kUnknownConsole;
using device::sim::kUnknownLoudspeaker;

namespace {

/// The report by hardware-address text, comparable in a test.
typedef std::map<std::string, std::map<int, std::set<std::string>>> Report;

std::string text(const net::HardwareAddress& address) { return address.toCharArray(); }

Report readable(const device::DeviceCollection::BrokenZonesReport& report) {
    Report out;
    for (const auto& device : report) {
        auto& entries = out[text(device.first->getHardwareAddress())];
        for (const auto& entry : device.second) {
            auto& set = entries[entry.first];
            for (const auto& address : entry.second) set.insert(text(address));
        }
    }
    return out;
}

class ZoneIntegrity : public ZoneSiteFixture {
protected:
    std::string hw(unsigned address) const { return text(net::HardwareAddress(address)); }
    std::string speakerHw(std::size_t n) const { return hw(site.loudspeakers.at(n).address); }
    std::string consoleHw(std::size_t n) const { return hw(site.consoles.at(n).address); }
};

}  // namespace

TEST_F(ZoneIntegrity, BrokenSiteReportsEveryKind) {
    // Loudspeaker 3 and console T3 answer nothing.
    openSite(device::sim::addBrokenSite, 10, 2);
    const Report report = readable(collection->searchForDevicesWithBrokenTranslationZones());
    const unsigned t2 = consoleAddress(1);
    const unsigned t3 = consoleAddress(2);
    const Report expected = {
        // 1 unknown loudspeaker, 2 a console in a zone, 3 no console address, 4 no virtual zone
        {consoleHw(0), {{1, {hw(kUnknownLoudspeaker)}}, {2, {consoleHw(1)}}, {3, {speakerHw(1)}}, {4, {speakerHw(2)}}}},
        // 5 an offline loudspeaker; 11 the second zone of virtual zone 500 with another set
        {consoleHw(1), {{1, {speakerHw(3)}}, {2, {speakerHw(10)}}}},
        // 10 the virtual zone of T1 zone 3 with no console address to back it
        {speakerHw(1), {{103, {}}}},
        // 6 an unknown console
        {speakerHw(4), {{static_cast<int>(kUnknownConsole), {hw(kUnknownConsole)}}}},
        // 7 a loudspeaker's address where a console's belongs
        {speakerHw(5), {{static_cast<int>(site.loudspeakers[0].address), {speakerHw(0)}}}},
        // 8 an offline console, and its virtual zone as 10
        {speakerHw(6), {{static_cast<int>(t3), {hw(t3)}}, {301, {}}}},
        // 9 a console none of whose zones the loudspeaker hears, and 10
        {speakerHw(7), {{static_cast<int>(t2), {hw(t2)}}, {900, {}}}},
        // 10 a virtual zone alone
        {speakerHw(8), {{777, {}}}},
    };
    EXPECT_EQ(report, expected);
    EXPECT_EQ(loggedCount("is bound with Tovik '"), 1);
    EXPECT_EQ(loggedCount("is bound with Orvel '"), 1);
}

TEST_F(ZoneIntegrity, RepairsUntilTheCheckComesBackClean) {
    openSite(device::sim::addBrokenSite, 10, 2);
    int rounds = 0;
    for (;; ++rounds) {
        ASSERT_LT(rounds, 4) << "the repairs don't converge";
        const auto report = collection->searchForDevicesWithBrokenTranslationZones();
        if (report.empty()) break;
        for (const auto& entry : report) {
            try {
                collection->fixIntegrity(entry.first);
            } catch (const exception::UserResponse& e) {
                // An earlier repair of this round may have mended it already.
                EXPECT_EQ(e.getNotification(), L"none");
            }
        }
    }
    EXPECT_GE(rounds, 2) << "dropping a console's zone leaves its loudspeaker for the next round";

    // T1 keeps zone 1 with its answering loudspeaker and zone 5; T2 keeps nothing.
    EXPECT_EQ(simZone(0, 1).addresses, std::set<unsigned>{site.loudspeakers[0].address});
    EXPECT_EQ(simZone(0, 1).virtualZone, 101);
    EXPECT_EQ(simZone(0, 5).virtualZone, 500);
    EXPECT_EQ(simZoneCount(0), 2u);
    EXPECT_EQ(simZoneCount(1), 0u);
    EXPECT_EQ(lists(0).announcements(), std::set<int>{101});
    EXPECT_EQ(lists(9).addresses(), std::set<unsigned>{consoleAddress(0)});
    for (std::size_t n : {1, 4, 5, 6, 7, 8, 10}) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(lists(n).announcements().empty());
        EXPECT_TRUE(lists(n).addresses().empty());
    }
    EXPECT_EQ(lists(3).announcements(), std::set<int>{201}) << "an offline loudspeaker is not touched";
    // T1 zone 1 was written back without the unknown address.
    const Requests log = consoleLog(0);
    const auto del = std::find(log.begin(), log.end(), "zoneDel 1");
    ASSERT_NE(del, log.end());
    ASSERT_NE(del + 1, log.end());
    EXPECT_EQ(*(del + 1), "zoneBind 1 101 " + hex(site.loudspeakers[0].address) + ",");
    EXPECT_EQ(consoleLog(2), Requests{}) << "an offline console is not touched";

    expectUserResponse([&] { collection->fixIntegrity(speaker(0)); }, L"none");  // a sound loudspeaker
}

TEST_F(ZoneIntegrity, LoudspeakersWithoutZoneListsAreNotAsked) {
    openSite(device::sim::addBandSite, 12, 0);
    EXPECT_TRUE(collection->searchForDevicesWithBrokenTranslationZones().empty());
    for (std::size_t n = 0; n < site.loudspeakers.size(); ++n) {
        SCOPED_TRACE(site.loudspeakers[n].index);
        const Requests expected = site.loudspeakers[n].index >= 18 ? Requests{"zoneAnnRead", "zoneAddrRead"}
                                                                   : Requests{};
        EXPECT_EQ(speakerLog(n), expected);
    }
    device::DeviceCollection::OrvelSet older{speaker(6)};
    ASSERT_EQ(site.loudspeakers[6].index, 17);
    int zone = 1;
    // No console at all: the binding stops before it looks at the loudspeakers.
    EXPECT_THROW(collection->bindDevices(boost::shared_ptr<device::TovikInfo>(), zone, -1, older),
                 exception::ServerError);
}
