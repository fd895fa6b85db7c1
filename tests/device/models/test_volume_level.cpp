// A loudspeaker's volume as its firmware writes it: the replies read on each
// scale (odd and cut ones included), the percent the window shows for them,
// the level a percent is sent as, and a level read written back as it was.
#include <cstdio>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "device/models/volume_level.h"

using device::VolumeLevel;

namespace {

constexpr int kPairIndex = 8;     // the last Orvel-510 generation
constexpr int kDecibelIndex = 9;  // the first Orvel-610 generation

std::string pairText(unsigned left, unsigned right) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X:%02X", left, right);
    return text;
}

}  // namespace

TEST(VolumeLevel, RepliesOnBothScalesAndThePercentShown) {
    struct Case {
        int index;
        const char* reply;
        const char* text;  // nullptr: no value read
        int percent;
        bool muted;
    };
    const Case cases[] = {
        // The level pair: left decides the percent, 60 and beyond read as 60.
        {kPairIndex, "19:19", "19:19", 58, false},
        {kPairIndex, "1A:1A", "1A:1A", 56, false},
        {kPairIndex, "00:00", "00:00", 100, false},
        {kPairIndex, "3B:3B", "3B:3B", 1, false},
        {kPairIndex, "3C:3C", "3C:3C", 1, false},  // 0 % but heard: shown as 1
        {kPairIndex, "50:50", "50:50", 1, false},
        {kPairIndex, "FE:FE", "FE:FE", 0, true},
        {kPairIndex, "FE:10", "FE:10", 0, true},
        {kPairIndex, "10:FE", "10:FE", 73, false},
        {kPairIndex, "1a:2b", "1A:2B", 56, false},
        {kPairIndex, "5:5", "05:05", 91, false},
        {kPairIndex, " 19:19\r\n", "19:19", 58, false},
        {kPairIndex, "19: 19", "19:19", 58, false},
        {kPairIndex, "19:19 left right", "19:19", 58, false},
        {kPairIndex, "1A", nullptr, 0, false},
        {kPairIndex, "1A:", nullptr, 0, false},
        {kPairIndex, ":1A", nullptr, 0, false},
        {kPairIndex, "19 :19", nullptr, 0, false},
        {kPairIndex, "123:45", nullptr, 0, false},
        {kPairIndex, "GG:GG", nullptr, 0, false},
        {kPairIndex, "7FFFFFFF", nullptr, 0, false},
        {kPairIndex, "-1:-1", nullptr, 0, false},
        {kPairIndex, "-", nullptr, 0, false},
        {kPairIndex, "", nullptr, 0, false},
        // The dB: above 0 shown as the loudest, below -30 as 1 %.
        {kDecibelIndex, "-40", "-40", 1, false},
        {kDecibelIndex, "-30", "-30", 1, false},
        {kDecibelIndex, "-31", "-31", 1, false},
        {kDecibelIndex, "-23", "-23", 23, false},
        {kDecibelIndex, "-15", "-15", 50, false},
        {kDecibelIndex, "-5", "-5", 83, false},
        {kDecibelIndex, "-4", "-4", 86, false},
        {kDecibelIndex, " -4", "-4", 86, false},
        {kDecibelIndex, "-4\r\n", "-4", 86, false},
        {kDecibelIndex, "-23 dB", "-23", 23, false},
        {kDecibelIndex, "0", "0", 100, false},
        {kDecibelIndex, "3", "3", 100, false},
        {kDecibelIndex, "+3", "3", 100, false},
        {kDecibelIndex, "-96", "-96", 0, true},
        {kDecibelIndex, "-97", "-97", 1, false},
        {kDecibelIndex, "-010", "-10", 66, false},  // the firmware writes decimal
        {kDecibelIndex, "7FFFFFFF", "7", 100, false},
        {kDecibelIndex, "-2147483648", "-2147483648", 1, false},
        {kDecibelIndex, "2147483647", "2147483647", 100, false},
        {kDecibelIndex, "2147483648", nullptr, 0, false},
        {kDecibelIndex, "-2147483649", nullptr, 0, false},
        {kDecibelIndex, "99999999999999999999", nullptr, 0, false},
        {kDecibelIndex, "-", nullptr, 0, false},
        {kDecibelIndex, "- 4", nullptr, 0, false},
        {kDecibelIndex, "x-15", nullptr, 0, false},
        {kDecibelIndex, "", nullptr, 0, false},
        {kDecibelIndex, "1A:1A", "1", 100, false},  // another scale's reply reads as what it starts with
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " reply '" << c.reply << "'");
        const std::optional<VolumeLevel> level = VolumeLevel::parse(c.index, c.reply);
        if (c.text == nullptr) {
            EXPECT_FALSE(level);
            continue;
        }
        ASSERT_TRUE(level);
        EXPECT_EQ(level->isLevelPair(), c.index == kPairIndex);
        EXPECT_EQ(level->text(), c.text);
        EXPECT_EQ(level->command(), std::string("set vol ") + c.text);
        EXPECT_EQ(level->percent(), static_cast<std::uint32_t>(c.percent));
        EXPECT_EQ(level->isMuted(), c.muted);
    }
}

TEST(VolumeLevel, APercentIsSentAsItAlwaysWas) {
    struct Case {
        unsigned percent;
        const char* pair;
        const char* decibels;
    };
    const Case cases[] = {
        {0, "set vol FE:FE", "set vol -96"}, {1, "set vol 3C:3C", "set vol -30"},
        {2, "set vol 3B:3B", "set vol -30"}, {30, "set vol 2A:2A", "set vol -21"},
        {40, "set vol 24:24", "set vol -18"}, {50, "set vol 1E:1E", "set vol -15"},
        {77, "set vol 0E:0E", "set vol -7"},  {99, "set vol 01:01", "set vol -1"},
        {100, "set vol 00:00", "set vol 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        EXPECT_EQ(VolumeLevel::ofPercent(kPairIndex, c.percent)->command(), c.pair);
        EXPECT_EQ(VolumeLevel::ofPercent(1, c.percent)->command(), c.pair) << "every Orvel-510 generation";
        EXPECT_EQ(VolumeLevel::ofPercent(kDecibelIndex, c.percent)->command(), c.decibels);
        EXPECT_EQ(VolumeLevel::ofPercent(21, c.percent)->command(), c.decibels);
    }
    EXPECT_FALSE(VolumeLevel::ofPercent(kPairIndex, 101));
    EXPECT_FALSE(VolumeLevel::ofPercent(kDecibelIndex, 0xFFFFFFFF));
    EXPECT_EQ(*VolumeLevel::ofPercent(kPairIndex, 0), VolumeLevel::muted(kPairIndex));
    EXPECT_EQ(*VolumeLevel::ofPercent(kDecibelIndex, 0), VolumeLevel::muted(kDecibelIndex));

    // Every percent the window shows for a level it sent is what it shows
    // today for that reply: heard levels never show 0, and never more than asked.
    for (unsigned percent = 1; percent <= 100; ++percent) {
        for (int index : {kPairIndex, kDecibelIndex}) {
            const VolumeLevel level = *VolumeLevel::ofPercent(index, percent);
            EXPECT_GE(level.percent(), 1u) << percent;
            EXPECT_LE(level.percent(), percent) << percent;
        }
    }
}

// The field fault: a volume went through the percent and came back another
// (-40 dB as -30, 19:19 as 1A:1A, and on with every read). The level read is
// written back byte for byte, for every level an installer can set.
TEST(VolumeLevel, WhatWasReadIsWrittenBackByteForByte) {
    for (unsigned left = 0; left <= 0xFF; ++left) {
        for (unsigned right = 0; right <= 0xFF; ++right) {
            const std::string reply = pairText(left, right);
            const std::optional<VolumeLevel> level = VolumeLevel::parse(kPairIndex, reply);
            ASSERT_TRUE(level) << reply;
            ASSERT_EQ(level->command(), "set vol " + reply);
            ASSERT_EQ(*level, VolumeLevel::levelPair(static_cast<std::uint8_t>(left), static_cast<std::uint8_t>(right)));
        }
    }
    for (int decibels = -200; decibels <= 20; ++decibels) {
        const std::string reply = std::to_string(decibels);
        const std::optional<VolumeLevel> level = VolumeLevel::parse(kDecibelIndex, reply);
        ASSERT_TRUE(level) << reply;
        ASSERT_EQ(level->command(), "set vol " + reply);
        ASSERT_EQ(level->decibels(), decibels);
    }

    // Through the percent the same levels drift; the level does not.
    const VolumeLevel read = *VolumeLevel::parse(kPairIndex, "19:19");
    ASSERT_NE(VolumeLevel::ofPercent(kPairIndex, read.percent())->text(), "19:19") << "the percent loses the step";
    EXPECT_EQ(VolumeLevel::ofPercent(kDecibelIndex, VolumeLevel::decibels(-40).percent())->text(), "-30");
    EXPECT_EQ(VolumeLevel::ofPercent(kDecibelIndex, VolumeLevel::decibels(-23).percent())->text(), "-24");
}

TEST(VolumeLevel, ScalesAndEquality) {
    EXPECT_TRUE(VolumeLevel::levelPair(0x19, 0x1A).fits(8));
    EXPECT_FALSE(VolumeLevel::levelPair(0x19, 0x1A).fits(9));
    EXPECT_FALSE(VolumeLevel::decibels(-40).fits(8));
    EXPECT_NE(VolumeLevel::levelPair(0x19, 0x1A), VolumeLevel::levelPair(0x19, 0x19)) << "both fields count";
    EXPECT_NE(VolumeLevel::levelPair(0, 0), VolumeLevel::decibels(0)) << "the scale counts";
}
