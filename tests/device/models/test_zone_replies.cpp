// The zone replies of loudspeakers and consoles read without a device: what
// each reader accepts and what it refuses, always with our device exception
// (random texts are the zone fuzz target's).
#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/zone_replies.h"
#include "tests/support/counting_log_fixture.h"

using device::ConsoleZone;

namespace {

class ZoneReplies : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
};

/// Runs `read` and tells whether it refused the text with our exception;
/// anything else escaping fails the test.
template <class F>
bool refuses(F read) {
    try {
        read();
        return false;
    } catch (const exception::UnexpectedResponseOfDevice&) {
        return true;
    }
}

}  // namespace

TEST_F(ZoneReplies, AnnouncementListsKeepEmptyItemsAsMalformed) {
    EXPECT_EQ(device::parseZoneAnnouncements("no"), std::set<int>());
    EXPECT_EQ(device::parseZoneAnnouncements("5,17"), (std::set<int>{5, 17}));
    EXPECT_EQ(device::parseZoneAnnouncements("0x11,010,65534"), (std::set<int>{17, 8, 65534}));  // C "%i"
    for (const char* bad : {"5,65535", "5,", ",5", "", "5,,6", "x", "5,-1", "99999999999999999999", "No"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(refuses([&] { device::parseZoneAnnouncements(bad); }));
    }
}

TEST_F(ZoneReplies, AddressListsSkipEmptyItemsAndRefuseWideAddresses) {
    EXPECT_EQ(device::parseZoneAddresses("no"), std::set<unsigned>());
    EXPECT_EQ(device::parseZoneAddresses("1F,,10"), (std::set<unsigned>{0x10, 0x1F}));
    EXPECT_EQ(device::parseZoneAddresses("FFFFFF,"), (std::set<unsigned>{0xFFFFFF}));
    for (const char* bad : {"1000000", "1F,G", "-1", "FFFFFFFFFFFFFFFFFFFF"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(refuses([&] { device::parseZoneAddresses(bad); }));
    }
}

TEST_F(ZoneReplies, ZoneListReadsItemsAndDropsTheTrailingSeparator) {
    const device::ZoneListReply one = device::parseZoneList("3,17,A1B2C3,A1B2C4;");
    EXPECT_EQ(one.items, 1u);
    ASSERT_EQ(one.zones.count(3), 1u);
    EXPECT_EQ(one.zones.at(3), (ConsoleZone{3, 17, -1, {0xA1B2C3, 0xA1B2C4}}));

    // A later item of the same number wins; the item count still says two.
    const device::ZoneListReply twice = device::parseZoneList("2,5,1;2,6,2");
    EXPECT_EQ(twice.items, 2u);
    EXPECT_EQ(twice.zones.at(2).virtualZone, 6);
    // The virtual zone keeps its low 16 bits.
    EXPECT_EQ(device::parseZoneList("1,65553,1;").zones.at(1).virtualZone, 17);
}

TEST_F(ZoneReplies, ZoneListRefusesShortItemsBadNumbersAndWideAddresses) {
    for (const char* bad : {"3,17", "3,17;", "3,17,1;;", "x,17,1", "3,y,1", "3, 17,1", "3,17,1000000",
                            "3,17,", "99999999999,1,1", "3,17,Z"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(refuses([&] { device::parseZoneList(bad); }));
    }
    EXPECT_EQ(loggedCount("small number of parts"), 3);
    EXPECT_EQ(loggedCount("incorrect address"), 3);
}

TEST_F(ZoneReplies, MessageListReadsPairsAndRefusesAnOddCount) {
    EXPECT_TRUE(device::parseZoneMessages("no").empty());
    EXPECT_EQ(device::parseZoneMessages("3,5;"), (std::map<int, int>{{3, 5}}));
    EXPECT_EQ(device::parseZoneMessages("3;5,4,6;3,7"), (std::map<int, int>{{3, 7}, {4, 6}}));
    // A zone without its message: the pair loop would read past the end.
    for (const char* bad : {"3", "3,5,4", "3,5,4;", "3,x", "3,,5", "99999999999,1"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(refuses([&] { device::parseZoneMessages(bad); }));
    }
}

TEST_F(ZoneReplies, ZoneSizeNeedsBothNumbers) {
    int capacity = -7;
    int free = -7;
    for (const char* bad : {"40", "40 (37)", "(37)", "x", "", "40(", "-1(3)", "99999999999(1)"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(device::parseZoneSize(bad, capacity, free));
        EXPECT_EQ(capacity, -7);
    }
    ASSERT_TRUE(device::parseZoneSize("40(37)", capacity, free));
    EXPECT_EQ(capacity, 40);
    EXPECT_EQ(free, 37);
    ASSERT_TRUE(device::parseZoneSize("0x10( 2)", capacity, free));
    EXPECT_EQ(capacity, 16);
}

TEST_F(ZoneReplies, BindCommandListsAddressesAndStopsAtTheLimit) {
    std::string command;
    ASSERT_TRUE(device::zoneBindCommand(2, 22, {0x1F, 0xA1B2C3, 0x5}, command));
    EXPECT_EQ(command, "zoneBind 2 22 5,1F,A1B2C3,");

    // 7 characters per address after a 14-character head: 197 fit, 198 don't.
    std::set<unsigned> many;
    for (unsigned a = 0x100000; many.size() < 197; ++a) many.insert(a);
    ASSERT_TRUE(device::zoneBindCommand(1, 20, many, command));
    EXPECT_EQ(command.size(), 14u + 197 * 7);
    many.insert(0xFFFFFF);
    EXPECT_FALSE(device::zoneBindCommand(1, 20, many, command));
    EXPECT_LE(command.size(), device::kZoneCommandLimit);
}
