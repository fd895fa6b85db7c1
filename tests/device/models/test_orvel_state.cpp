// The pure parts of the loudspeaker's state packet: reading the numbers,
// the playback kind per firmware band, the playback-type code per kind and
// the summary flags.
#include <random>

#include <gtest/gtest.h>

#include "device/models/orvel_state.h"
#include "device/models/playback_type.h"
#include "device/version.h"
#include "tests/support/counting_log_fixture.h"

using namespace device;

namespace {

const std::string kHw = "02:56:53:00:00:02";

std::string packetOf(unsigned count, const std::string& version = "Orvel-610 1.0.112.0") {
    std::string packet = kHw;
    for (unsigned i = 1; i <= count; ++i) packet += "," + std::to_string(i);
    return packet + "," + version;
}

}  // namespace

using OrvelStateTest = CountingLogFixture;

TEST_F(OrvelStateTest, NumbersKeptByTheirCount) {
    // Numbers read -> how many of f1..f15 are kept; the rest read as 0.
    const unsigned kept[16] = {0, 0, 0, 0, 0, 5, 6, 7, 7, 7, 9, 9, 11, 13, 14, 15};
    for (unsigned count = 5; count <= 15; ++count) {
        OrvelPacket packet;
        ASSERT_TRUE(readOrvelPacket(packetOf(count), packet)) << count;
        EXPECT_EQ(packet.hardwareText, kHw);
        EXPECT_EQ(packet.versionText, "Orvel-610 1.0.112.0");
        for (unsigned i = 0; i < 15; ++i)
            EXPECT_EQ(packet.fields[i], i < kept[count] ? i + 1 : 0u) << count << " numbers, f" << i + 1;
    }
}

TEST_F(OrvelStateTest, MalformedPacketsAreRefusedSilently) {
    startLog(base::Log::TRACE3);
    OrvelPacket packet;
    packet.hardwareText = "unchanged";
    const std::string refused[] = {
        packetOf(4),                                   // four numbers
        "",                                            // nothing
        ",1,2,3,4,5,Orvel-610 1.0.112.0",               // no address
        "02:56:53:00:00:02:77:88,1,2,3,4,5,Orvel-610 1.0.112.0",  // address too long
        kHw + ",1,-2,3,4,5,Orvel-610 1.0.112.0",        // a sign stops the numbers
        kHw + ",1,2,3,4,99999999999,Orvel-610 1.0.112.0",  // past 32 bits
        kHw,
    };
    for (const auto& text : refused) EXPECT_FALSE(readOrvelPacket(text, packet)) << text;
    EXPECT_EQ(packet.hardwareText, "unchanged") << "a refused packet leaves the record alone";

    // Random bytes and every truncation of a good packet: no crash, no
    // log line, and nothing beyond the first comma taken as an address.
    std::mt19937 random(8);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 80, '\0');
        for (char& c : text) c = static_cast<char>(random() % 4 == 0 ? ',' : random() % 256);
        OrvelPacket any;
        if (readOrvelPacket(text, any)) {
            EXPECT_LE(any.hardwareText.size(), 17u);
        }
    }
    const std::string good = packetOf(15);
    for (std::size_t size = 0; size < good.size(); ++size) {
        OrvelPacket any;
        readOrvelPacket(good.substr(0, size), any);
    }
    EXPECT_EQ(loggedCount("\t"), 0) << "nothing logged";
}

TEST_F(OrvelStateTest, VersionTextLosesLineEndsAndStopsAt255) {
    OrvelPacket packet;
    ASSERT_TRUE(readOrvelPacket(kHw + ",1,2,3,4,5,Orvel-510 1.1.70.0\r\n" + std::string(1, '\0'), packet));
    EXPECT_EQ(packet.versionText, "Orvel-510 1.1.70.0");
    ASSERT_TRUE(readOrvelPacket(kHw + ",1,2,3,4,5,Orvel-510 1.1.70.0 " + std::string(400, 'x'), packet));
    EXPECT_EQ(packet.versionText.size(), 255u);
}

TEST_F(OrvelStateTest, PlaybackKindPerFirmwareBand) {
    struct Case {
        int index;
        std::uint32_t raw;
        std::uint32_t kind;
    };
    const Case cases[] = {
        {2, 0, 0},   {2, 1, 10},  {2, 2, 9},   {8, 3, 3},   {8, 13, 13},
        {9, 0, 0},   {9, 1, 1},   {9, 2, 4},   {9, 3, 5},   {9, 4, 8},   {12, 5, 9},  {16, 6, 10},
        {16, 7, 11}, {16, 8, 12}, {16, 9, 13},
        {17, 1, 1},  {17, 2, 2},  {17, 3, 4},  {17, 6, 7},  {17, 7, 3},  {17, 8, 8},
        {18, 7, 7},  {21, 12, 12},
    };
    for (const Case& c : cases) EXPECT_EQ(playbackKindOf(c.index, c.raw), c.kind) << c.index << "/" << c.raw;
}

// Raw states 10..13 at index 9..16 map past the 14 kinds; they used to index
// the kind tables out of bounds.
TEST_F(OrvelStateTest, KindsPastTheTableAreClampedToOver) {
    startLog(base::Log::TRACE3);
    for (std::uint32_t raw = 10; raw <= 13; ++raw) {
        const std::uint32_t kind = playbackKindOf(12, raw);
        EXPECT_EQ(kind, kind::kOver) << raw;
        EXPECT_EQ(playbackCodeOf(kind, 0, 12, 0, 0), playback::kUnknown);
        EXPECT_STREQ(playbackKindName(kind), L"over");
    }
    EXPECT_EQ(loggedCount("device::playbackKindOf"), 4) << "each logged once";
}

TEST_F(OrvelStateTest, PlaybackCodePerKind) {
    const std::uint64_t codes[14] = {
        playback::kNone,          playback::kVoiceLowPriority, playback::kVoiceZoneNote, playback::kFragment,
        playback::kVoiceHighPriority, playback::kVoiceHighRepeating, playback::kVoiceZoneAin,
        playback::kVoiceZoneFire, playback::kScenarioZarno,   0 /* scenario rule */,  playback::kAnalogInput1,
        playback::kAnalogInput2,  playback::kSine,            playback::kUnknown,
    };
    for (std::uint32_t kind = 0; kind < 14; ++kind) {
        if (kind == kind::kVoiceAlert) continue;
        EXPECT_EQ(playbackCodeOf(kind, playback::kNone, 17, 0, 0), codes[kind]) << kind;
    }

    // The operator's microphone stays through a voice stream of low priority.
    EXPECT_EQ(playbackCodeOf(1, playback::kMicrophone, 17, 0, 0), playback::kMicrophone);
    EXPECT_EQ(playbackCodeOf(4, playback::kExternalMedia, 17, 0, 0), playback::kExternalMedia);
    EXPECT_EQ(playbackCodeOf(1, playback::kSine, 17, 0, 0), playback::kVoiceLowPriority);

    // Scenario rule, index above 18: by the playback source.
    const std::pair<std::uint32_t, std::uint64_t> sources[] = {
        {0, playback::kScenarioTest}, {4, playback::kScenarioServer}, {7, playback::kScenarioTovik},
        {9, playback::kScenarioZarno}, {10, playback::kScenarioAin1}, {11, playback::kScenarioAin2},
        {3, playback::kScenario}};
    for (const auto& s : sources) EXPECT_EQ(playbackCodeOf(9, playback::kNone, 19, s.first, 0), s.second) << s.first;
    // Index 18 and below: by what the server started and the active zone.
    EXPECT_EQ(playbackCodeOf(9, playback::kFragment, 18, 0, 5), playback::kFragment) << "stoppable stays";
    EXPECT_EQ(playbackCodeOf(9, playback::kSine, 18, 0, 5), playback::kScenarioTovik);
    EXPECT_EQ(playbackCodeOf(9, playback::kNone, 18, 0, 0), playback::kScenarioServer);
    EXPECT_EQ(playbackCodeOf(9, playback::kSine, 2, 0, 0), playback::kScenario);
}

TEST_F(OrvelStateTest, FlagsSummarizeTheNumbers) {
    OrvelState s;
    s.batteryLevel = 80;
    s.batteryState = 1;
    s.line1 = s.line2 = 1;
    s.caseState = 0;
    s.acPowerSupply = 1;
    s.ethState = 3;
    s.zoneState = 1;
    computeFlags(s, 21, kTypeOrvel611, playback::kNone);
    EXPECT_TRUE(s.allOk);
    EXPECT_TRUE(s.batteryPresent);
    EXPECT_TRUE(s.alwaysTrue);

    OrvelState t = s;
    t.ethState = 4;  // port 1 down
    computeFlags(t, 21, kTypeOrvel611, playback::kNone);
    EXPECT_FALSE(t.eth1Ok);
    EXPECT_TRUE(t.eth2Ok);
    EXPECT_FALSE(t.allOk);
    computeFlags(t, 21, kTypeOrvel610, playback::kNone);
    EXPECT_TRUE(t.eth1Ok) << "only the Lan family reports its ports";

    t = s;
    computeFlags(t, 21, kTypeOrvel611, playback::kScenarioMisstate);
    EXPECT_FALSE(t.noError);
    EXPECT_FALSE(t.allOk);

    t = s;
    t.acPowerSupply = 2;
    computeFlags(t, 16, kTypeOrvel610, playback::kNone);
    EXPECT_TRUE(t.powerOk) << "below 17 the battery tells";
    t.batteryState = 3;
    computeFlags(t, 16, kTypeOrvel610, playback::kNone);
    EXPECT_FALSE(t.powerOk);

    t = s;
    t.batteryState = 2;
    t.batteryLevel = 0;
    computeFlags(t, 21, kTypeOrvel611, playback::kNone);
    EXPECT_FALSE(t.batteryOk);
    EXPECT_FALSE(t.batteryPresent);

    // Zarno lines: bit 0 watched, bit 1 separate lines, bits 2 and 3 the lines.
    const struct {
        std::uint32_t z;
        bool one, two;
    } zarno[] = {{0, true, true}, {1, false, false}, {5, true, true}, {3, false, false}, {7, true, false},
                 {11, false, true}, {16, true, true}};
    for (const auto& z : zarno) {
        t = s;
        t.zarnoState = z.z;
        computeFlags(t, 21, kTypeOrvel611, playback::kNone);
        EXPECT_EQ(t.zarnoLine1Ok, z.one) << z.z;
        EXPECT_EQ(t.zarnoLine2Ok, z.two) << z.z;
    }

    t = s;
    t.ainState = 2;
    t.ainState2 = 0;
    computeFlags(t, 21, kTypeOrvel611, playback::kNone);
    EXPECT_FALSE(t.ainOk);
    t.ainState2 = 3;
    computeFlags(t, 21, kTypeOrvel611, playback::kNone);
    EXPECT_TRUE(t.ainOk);
}
