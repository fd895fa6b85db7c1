// What the zone and linked-console pages show, without a window: the zone
// buttons' colours for each mask and record case, the loudspeaker rows of a
// zone (listed, ticked, grey, amber, unknown targets), the linked consoles.
#include <gtest/gtest.h>

#include "gui/zone_page_model.h"

using namespace frm::zone_page;

namespace {

device::ConsoleZone zone(int number, int scenario, std::set<unsigned> addresses) {
    device::ConsoleZone record;
    record.zoneNumber = number;
    record.virtualZone = 100 + number;
    record.scenario = scenario;
    record.addresses = std::move(addresses);
    return record;
}

}  // namespace

TEST(ZonePageModel, ZoneColoursFollowTheMasksTheReportAndTheRecords) {
    const device::ConsoleZoneMap zones = {{1, zone(1, -1, {1})},
                                          {2, zone(2, 3, {1})},
                                          {3, zone(3, 3, {1})},
                                          {4, zone(4, -1, {1})},
                                          {6, zone(6, -1, {1})}};
    ZoneMasks masks;
    masks.bound = 0b1111110;      // zones 1 to 6
    masks.connected = 0b1101110;  // zone 4 not connected
    masks.activated = 0b0001000;  // zone 3 plays
    const BrokenZones broken = {{6, {net::HardwareAddress(7u)}}};
    const struct {
        int zone;
        const BrokenZones* report;
        ZoneTone tone;
    } cases[] = {
        {1, nullptr, ZoneTone::kMicrophone},
        {2, nullptr, ZoneTone::kMessage},
        {3, nullptr, ZoneTone::kActivated},
        {4, nullptr, ZoneTone::kBroken},  // not connected
        {5, nullptr, ZoneTone::kBroken},  // bound, but the console lists no such zone
        {6, nullptr, ZoneTone::kMicrophone},
        {6, &broken, ZoneTone::kBroken},
        {7, &broken, ZoneTone::kDefault},
        {0, nullptr, ZoneTone::kDefault},
        {31, nullptr, ZoneTone::kDefault},
        {40, nullptr, ZoneTone::kDefault},  // past the mask: no shift fault
    };
    for (const auto& c : cases)
        EXPECT_EQ(zoneTone(c.zone, masks, c.report, zones), c.tone) << "zone " << c.zone;

    masks.activated = masks.bound;
    EXPECT_EQ(zoneTone(6, masks, &broken, zones), ZoneTone::kActivated) << "playing comes first";
    EXPECT_EQ(zoneRecord(zones, 9).scenario, -1);
    EXPECT_TRUE(zoneRecord(zones, 9).addresses.empty());
    EXPECT_EQ(zoneRecord(zones, 2).scenario, 3);
}

TEST(ZonePageModel, TheReportIsComparedByTheLowerHalfOnly) {
    // The report rebuilds addresses with the maker's prefix; a loudspeaker
    // with another upper half is still the one meant.
    const BrokenZones broken = {{2, {net::HardwareAddress(0x5A0002u), net::HardwareAddress(0x5A0003u)}}};
    EXPECT_EQ(brokenTargets(&broken, 2), (std::set<unsigned>{0x5A0002, 0x5A0003}));
    EXPECT_TRUE(brokenTargets(&broken, 3).empty());
    EXPECT_TRUE(brokenTargets(nullptr, 2).empty());
}

TEST(ZonePageModel, TargetRowsListTargetsAndAnsweringNewLoudspeakersThenUnknownTargets) {
    const std::vector<Loudspeaker> loudspeakers = {
        {0x10, 18, true, L"Зал", L"02:56:53:00:00:10"},
        {0x11, 17, true, L"Старый", L"02:56:53:00:00:11"},   // index 17, not a target: not listed
        {0x12, 21, false, L"Молчит", L"02:56:53:00:00:12"},  // not answering, not a target: not listed
        {0x13, 17, false, L"Цель", L"02:56:53:00:00:13"},    // a target: listed whatever it is
        {0x14, 19, true, L"Сломан", L"02:56:53:00:00:14"},
    };
    const device::ConsoleZone record = zone(4, -1, {0x13, 0x14, 0xABCDE});
    const std::vector<TargetRow> rows = targetRows(loudspeakers, record, {0x14}, false);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].loudspeaker, 0u);
    EXPECT_EQ(rows[0].label, L"Зал");
    EXPECT_FALSE(rows[0].checked);
    EXPECT_EQ(rows[0].tone, RowTone::kAnswering);
    EXPECT_EQ(rows[1].loudspeaker, 3u);
    EXPECT_TRUE(rows[1].checked);
    EXPECT_EQ(rows[1].tone, RowTone::kSilent);
    EXPECT_EQ(rows[2].loudspeaker, 4u);
    EXPECT_TRUE(rows[2].checked);
    EXPECT_EQ(rows[2].tone, RowTone::kBroken) << "a broken binding outranks answering";
    EXPECT_FALSE(rows[3].loudspeaker) << "a target the collection lacks carries no loudspeaker";
    EXPECT_EQ(rows[3].label, L"02:56:53:0A:BC:DE");
    EXPECT_TRUE(rows[3].checked);
    EXPECT_EQ(rows[3].tone, RowTone::kBroken);

    const std::vector<TargetRow> debug = targetRows(loudspeakers, record, {}, true);
    EXPECT_EQ(debug[0].label, L"02:56:53:00:00:10 | Зал");
    EXPECT_TRUE(targetRows({}, zone(1, -1, {}), {}, false).empty());
}

TEST(ZonePageModel, LinkedConsolesInAscendingAddressOrder) {
    const std::vector<Console> consoles = {
        {0x30, true, L"Пост 2"}, {0x20, false, L"Пост 1"}, {0x30, true, L"Двойник"}};
    const std::vector<ConsoleRow> rows = linkedConsoleRows({0x30, 0x25, 0x20}, consoles, false);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, L"1. Пост 1");
    EXPECT_EQ(rows[0].tone, RowTone::kSilent);
    EXPECT_EQ(rows[1].text, L"2. [02:56:53:00:00:25]");
    EXPECT_FALSE(rows[1].console);
    EXPECT_EQ(rows[2].text, L"3. Пост 2") << "the first console of the list with that address";
    EXPECT_EQ(rows[2].console, 0u);
    EXPECT_EQ(rows[2].tone, RowTone::kAnswering);
    EXPECT_EQ(linkedConsoleRows({0x20}, consoles, true)[0].text, L"1. [02:56:53:00:00:20] Пост 1");
}
