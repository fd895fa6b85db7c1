// The rules behind the property panel's controls that its page tests do not
// reach: the stream boxes that exclude each other, the entries of out-of-range
// priority positions, a fire console in debug mode, and the list of devices
// whose firmware upgrade failed.
#include <gtest/gtest.h>

#include "device/models/tovik_config.h"
#include "gui/property_settings_rules.h"

namespace rules = frm::property_rules;

TEST(PropertySettingsRules, PlayingTheOthersStreamAndSendingAnInputExcludeEachOther) {
    const auto enabled = [](bool allow, bool send1, bool send2) {
        const rules::StreamBoxes boxes = rules::streamBoxesEnabled(allow, send1, send2);
        return std::array<bool, 3>{boxes.allowOthers, boxes.sendInput1, boxes.sendInput2};
    };
    using States = std::array<bool, 3>;
    EXPECT_EQ(enabled(false, false, false), (States{true, true, true}));
    EXPECT_EQ(enabled(true, false, false), (States{true, false, false}));
    EXPECT_EQ(enabled(false, false, true), (States{false, true, true}));
    EXPECT_EQ(enabled(true, false, true), (States{true, true, true})) << "read from a device that has both";
}

TEST(PropertySettingsRules, EdgesOfThePriorityEntriesTheDebugModeAndTheFailedList) {
    EXPECT_EQ(rules::priorityPositions({4, 4, 4, 4, 4, 4}), (std::array<int, 6>{}));
    EXPECT_EQ(rules::priorityOfEntry(-1), 7);
    EXPECT_EQ(rules::priorityOfEntry(9), 2);

    device::TovikConfig config;
    config.gochsArm = true;
    const rules::ConsoleOptions debug = rules::consoleOptionsForType(true, true, config, true, false);
    EXPECT_TRUE(debug.singlePower && !debug.faultSound) << "debug mode keeps what the boxes show";
    EXPECT_TRUE(debug.analogInput);

    EXPECT_EQ(rules::failedDeviceList({L"A", L"B"}), L"\t\"A\"\t\"B\"");
}
