// The firmware-version tables and the version index of every loudspeaker
// generation, the reply search and the playback-type texts: constant data
// and pure functions, no network.
#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/playback_type.h"
#include "device/models/version_tables.h"
#include "device/state_packet.h"
#include "tests/support/counting_log_fixture.h"

using namespace device;

namespace {

Version versionOf(const std::string& text) {
    Version version;
    EXPECT_TRUE(parseStatePacketVersion("02:56:53:00:00:01,100,1,1,1,0,0," + text, version)) << text;
    return version;
}

}  // namespace

using FirmwareTables = CountingLogFixture;

TEST_F(FirmwareTables, LabelsAndSpansFollowTheirRows) {
    EXPECT_EQ(get(0), L"Unknown");
    EXPECT_EQ(get(2), L"O510_1.01.70");
    EXPECT_EQ(get(7), get(6)) << "two indexes share one label";
    EXPECT_EQ(get(16), L"O610_1.02.79");
    EXPECT_EQ(get(21), L"V3_Higher");
    EXPECT_EQ(get(-3), L"Unknown") << "a negative index reads the first row";

    const std::uint16_t spans[kVersionIndexCount] = {0, 2, 10, 21, 21, 21, 21, 21, 21, 21, 21,
                                                     21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21};
    for (int index = 0; index < kVersionIndexCount; ++index) EXPECT_EQ(getVersionSpan(index), spans[index]) << index;
}

TEST_F(FirmwareTables, AnIndexPastTheTablesIsAnInternalError) {
    startLog();
    EXPECT_THROW(get(22), exception::ServerError);
    EXPECT_THROW(getVersionSpan(40), exception::ServerError);
    EXPECT_EQ(loggedCount("Используется некорректная версия"), 2);
    EXPECT_EQ(loggedCount("Проверяемое условие неверно! Место 'device::get'"), 2);
}

TEST_F(FirmwareTables, VersionBoundariesOfEachModel) {
    const struct {
        const char* text;
        int index;
    } cases[] = {
        {"Orvel-510 1.0.12.0", 1},      {"Orvel-510 1.3.71.1", 3},   {"Orvel-510 1.0.99.0", 5},
        {"Orvel-510 2.0.1.17105", 7},   {"Orvel-510 3.0.0.0", 8},    {"Orvel-510 0.9.70.0", 8},
        {"Orvel-610 1.0.39.0", 10},     {"Orvel-610 1.0.55.0", 11},  {"Orvel-610 1.0.58.0", 12},
        {"Orvel-610 1.0.62.0", 13},     {"Orvel-610 1.0.68.0", 14},  {"Orvel-610 1.0.72.0", 15},
        {"Orvel-610 3.0.109.0", 17},    {"Orvel-610 1.0.500.0", 21}, {"Orvel-610 4.0.12.0", 21},
        {"Orvel-610 0.0.40.0", 21},     {"Orvel-611 1.0.56.0", 12},  {"Orvel-Lan 7.0.0.0", 20},
        {"Orvel-610-LC 1.0.40.0", 0},   {"Orvel-610-PSS 1.0.1.0", 0}, {"Tovik-30 1.0.7.0", 0},
        {"Orvel-6100 1.0.40.0", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(versionIndexOf(versionOf(c.text)), c.index) << c.text;
}

// A loudspeaker loaded from the device list keeps its model until it is
// heard (the loudspeaker tests check the other models through the object).
TEST_F(FirmwareTables, InitialIndexKeepsTheModel) {
    EXPECT_EQ(initialVersionIndex(kTypeOrvel510Old), 8);
    EXPECT_EQ(initialVersionIndex(0x100000), 0);
}

TEST_F(FirmwareTables, ReplySearchIgnoresCase) {
    EXPECT_EQ(findIgnoringCase("Line test: ON", "On"), 11);
    EXPECT_EQ(findIgnoringCase("Line test: off", "On"), -1);
    EXPECT_EQ(findIgnoringCase("", "On"), -1);
    EXPECT_EQ(findIgnoringCase("o", "On"), -1) << "a partial match at the end";
    EXPECT_EQ(findOff("zarno test OFF"), 11);
    EXPECT_EQ(findOff("zarno test on"), -1);
}

TEST_F(FirmwareTables, PlaybackTypeTexts) {
    EXPECT_EQ(findPlaybackTypeText(playback::kMicrophone), L"microphone");
    EXPECT_EQ(findPlaybackTypeText(playback::kScenarioTovik), L"scenario_tovik");
    EXPECT_EQ(findPlaybackTypeText(0x0600000000000007), L"unknown");
    EXPECT_EQ(findPlaybackTypeText(~0ull), L"unknown");
    // The masks the models test are named codes themselves.
    EXPECT_EQ(findPlaybackTypeText(playback::kMetaMemory), L"meta_memory");
    EXPECT_TRUE(playback::isMemoryPlayback(playback::kFragment));
    EXPECT_TRUE(playback::isMemoryPlayback(playback::kScenarioServer));
    EXPECT_FALSE(playback::isMemoryPlayback(playback::kAnalogInput1));
    EXPECT_TRUE(playback::isOperatorVoice(playback::kMicrophone));
}
