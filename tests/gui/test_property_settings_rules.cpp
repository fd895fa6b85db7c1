// The rules behind the property panel's sources, console and firmware
// controls, without a window: the priority entries (equal values share one),
// the stream boxes that exclude each other, the console options of each
// type, the equalizer tooltips and the list of failed devices.
#include <gtest/gtest.h>

#include "device/models/tovik_config.h"
#include "gui/property_settings_rules.h"

namespace rules = frm::property_rules;
using Positions = std::array<int, 6>;

TEST(PropertySettingsRules, PrioritiesRankDescendingAndEqualValuesShareTheirFirstEntry) {
    EXPECT_EQ(rules::priorityPositions({1, 4, 3, 5, 2, 6}), (Positions{5, 2, 3, 1, 4, 0}));
    EXPECT_EQ(rules::priorityPositions({7, 6, 5, 4, 3, 2}), (Positions{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(rules::priorityPositions({3, 9, 3, 9, 0, 3}), (Positions{2, 0, 2, 0, 5, 2}));
    EXPECT_EQ(rules::priorityPositions({4, 4, 4, 4, 4, 4}), (Positions{}));
    // The entries are "7" down to "2"; a position out of the list is its nearest entry.
    EXPECT_EQ(rules::priorityOfEntry(0), 7);
    EXPECT_EQ(rules::priorityOfEntry(5), 2);
    EXPECT_EQ(rules::priorityOfEntry(-1), 7);
    EXPECT_EQ(rules::priorityOfEntry(9), 2);
}

TEST(PropertySettingsRules, PlayingTheOthersStreamAndSendingAnInputExcludeEachOther) {
    const auto enabled = [](bool allow, bool send1, bool send2) {
        const rules::StreamBoxes boxes = rules::streamBoxesEnabled(allow, send1, send2);
        return std::array<bool, 3>{boxes.allowOthers, boxes.sendInput1, boxes.sendInput2};
    };
    using States = std::array<bool, 3>;
    EXPECT_EQ(enabled(false, false, false), (States{true, true, true}));
    EXPECT_EQ(enabled(true, false, false), (States{true, false, false}));
    EXPECT_EQ(enabled(false, true, false), (States{false, true, true}));
    EXPECT_EQ(enabled(false, false, true), (States{false, true, true}));
    EXPECT_EQ(enabled(true, false, true), (States{true, true, true})) << "read from a device that has both";
}

TEST(PropertySettingsRules, AFireConsoleRunsOnTwoSuppliesWithTheFaultSoundOutsideDebugMode) {
    device::TovikConfig config;
    config.singlePower = true;
    config.faultAlarm = false;
    config.gochsArm = true;
    rules::ConsoleOptions broadcast = rules::consoleOptionsForType(false, false, config, false, true);
    EXPECT_TRUE(broadcast.singlePower);
    EXPECT_FALSE(broadcast.faultSound);
    EXPECT_FALSE(broadcast.analogInput);
    EXPECT_TRUE(broadcast.singlePowerEnabled && broadcast.faultSoundEnabled);
    EXPECT_FALSE(broadcast.analogInputEnabled);
    EXPECT_FALSE(broadcast.power2Enabled) << "a single supply needs no second input";

    const rules::ConsoleOptions fire = rules::consoleOptionsForType(true, false, config, true, false);
    EXPECT_FALSE(fire.singlePower);
    EXPECT_TRUE(fire.faultSound);
    EXPECT_TRUE(fire.analogInput);
    EXPECT_FALSE(fire.singlePowerEnabled || fire.faultSoundEnabled);
    EXPECT_TRUE(fire.analogInputEnabled && fire.power2Enabled);

    const rules::ConsoleOptions debug = rules::consoleOptionsForType(true, true, config, true, false);
    EXPECT_TRUE(debug.singlePower) << "debug mode keeps what the boxes show";
    EXPECT_FALSE(debug.faultSound);
}

TEST(PropertySettingsRules, TooltipPercentsAndTheFailedDeviceList) {
    EXPECT_EQ(rules::bassPercent(15, 15), 100);
    EXPECT_EQ(rules::bassPercent(7, 15), 46);
    EXPECT_EQ(rules::treblePercent(-8, -8, 7), -100);
    EXPECT_EQ(rules::treblePercent(7, -8, 7), 100);
    EXPECT_EQ(rules::treblePercent(-3, -8, 7), -37);
    EXPECT_EQ(rules::failedDeviceList({L"A", L"B"}), L"\t\"A\"\t\"B\"");
    EXPECT_EQ(rules::failedDeviceList({}), L"");
}
