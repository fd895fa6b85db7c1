// A simulated loudspeaker's state packet read by the server's own parser: in
// every firmware generation it shows the stream of the channel it plays, as
// the server's return watch expects of a real one (a notice channel lost in
// a restart shows), and nothing else of the packet moves with the channel.
#include <gtest/gtest.h>

#include <string>

#include "device/models/orvel_state.h"
#include "device/models/version_tables.h"
#include "device/state_packet.h"
#include "tools/simulator/orvel_band_model.h"

using device::sim::OrvelBandModel;

namespace {

/// The kinds the server reads for the streams a switch sends a loudspeaker
/// to: the common channel's, the low-priority notices', the high-priority
/// notices' and the repeater's.
constexpr std::uint32_t kCommon = 0;
constexpr std::uint32_t kLow = 1;
constexpr std::uint32_t kHigh = 4;
constexpr std::uint32_t kRepeater = 5;

/// The packet as the server takes it: its numbers, and the index it finds
/// from the version text.
struct Read {
    device::OrvelPacket packet;
    int index = 0;
    std::uint32_t kind = 0;
};

Read readBack(const OrvelBandModel& model) {
    Read read;
    const std::string text = model.statePacket();
    EXPECT_TRUE(device::readOrvelPacket(text, read.packet)) << text;
    device::Version version;
    EXPECT_TRUE(device::parseStatePacketVersion(text, version)) << text;
    read.index = device::versionIndexOf(version);
    read.kind = device::playbackKindOf(read.index, read.packet.fields[5]);
    return read;
}

std::uint32_t kindAfter(OrvelBandModel& model, const std::string& request) {
    EXPECT_EQ(model.answer(request), std::string("OK")) << request;
    return readBack(model).kind;
}

}  // namespace

TEST(SimulatedPlaybackState, EveryGenerationShowsTheStreamOfItsChannel) {
    for (int index = 2; index <= 21; ++index) {
        SCOPED_TRACE(testing::Message() << "index " << index);
        OrvelBandModel model("02:56:53:00:00:01", index);
        const Read idle = readBack(model);
        ASSERT_EQ(idle.index, index) << "the server reads the generation the model stands for";
        EXPECT_EQ(idle.kind, kCommon);

        EXPECT_EQ(kindAfter(model, "set ch 1"), kHigh);
        EXPECT_EQ(kindAfter(model, "set ch 2"), kHigh);
        EXPECT_EQ(kindAfter(model, "set ch 3"), kRepeater);
        // The Orvel-510 has no state of its own for a low-priority stream.
        EXPECT_EQ(kindAfter(model, "set ch 6"), index <= 8 ? kCommon : kLow);
        EXPECT_EQ(kindAfter(model, "set ch 4"), index <= 8 ? kCommon : kLow);
        EXPECT_EQ(kindAfter(model, "set ch 0"), kCommon);

        ASSERT_EQ(model.answer("set ch 1"), std::string("OK"));
        Read switched = readBack(model);
        model.restart();
        EXPECT_EQ(readBack(model).kind, kCommon) << "back on the common channel";
        switched.packet.fields[5] = idle.packet.fields[5];
        EXPECT_EQ(switched.packet.fields, idle.packet.fields)
            << "only the playback state follows the channel";
        EXPECT_EQ(switched.packet.versionText, idle.packet.versionText);
    }
    // The oldest firmware's packets tell no playback: its state stays.
    OrvelBandModel oldest("02:56:53:00:00:02", 1);
    ASSERT_EQ(oldest.answer("set ch 1"), std::string("OK"));
    EXPECT_EQ(readBack(oldest).packet.fields[5], 0u);
    // Nor do a test's loudspeakers told to keep it to themselves.
    OrvelBandModel silent("02:56:53:00:00:06", 18);
    silent.showsChannel = false;
    EXPECT_EQ(kindAfter(silent, "set ch 1"), kCommon);
}

// A loudspeaker that plays something of its own (a voice alert a test set)
// goes on showing it through a switch; a restart ends it.
TEST(SimulatedPlaybackState, APlaybackOfItsOwnOutlastsASwitchButNotARestart) {
    OrvelBandModel model("02:56:53:00:00:03", 18);
    model.fields[5] = device::kind::kVoiceAlert;
    EXPECT_EQ(kindAfter(model, "set ch 1"), device::kind::kVoiceAlert);
    EXPECT_EQ(model.channel, 1u);
    model.restart();
    EXPECT_EQ(readBack(model).kind, kCommon);
    EXPECT_EQ(kindAfter(model, "set ch 3"), kRepeater);
}

// A channel number too long for the firmware is refused, not thrown out of
// the device's strand (where it ended the whole simulator).
TEST(SimulatedPlaybackState, AnOverlongChannelIsRefused) {
    OrvelBandModel model("02:56:53:00:00:05", 21);
    EXPECT_EQ(model.answer("set ch 99999999999999999999"), std::string("ERR wrong arguments"));
    EXPECT_EQ(model.answer("set ch 4294967296"), std::string("ERR wrong arguments"));
    EXPECT_EQ(model.channel, 0u);
}
