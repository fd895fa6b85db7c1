// When a loudspeaker counts as back from a restart, a power loss, an outage
// or a move, judged from its state packets and the switches made on it: and,
// as much, when it does not (its discovery, packets lost now and then,
// firmware whose packets never show the channel, packets that crossed a
// switch's reply, its own playback).
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "device/models/return_watch.h"

using device::ReturnCause;
using device::ReturnWatch;

namespace {

constexpr std::int64_t kSecond = 1000000;
// Playback kinds as the packets show them.
constexpr std::uint32_t kIdle = 0;
constexpr std::uint32_t kLow = 1;
constexpr std::uint32_t kHigh = 4;
constexpr std::uint32_t kRepeating = 5;
constexpr std::uint32_t kScenario = 9;
constexpr std::uint32_t kAnalogInput = 10;

/// A loudspeaker's packets, one a second unless told otherwise.
class Packets {
public:
    explicit Packets(ReturnWatch& watch) : m_watch(watch) {}
    ReturnCause next(std::uint32_t kind = kIdle, std::int64_t after = kSecond) {
        m_at += after;
        ReturnWatch::Packet packet;
        packet.at = m_at;
        packet.kind = kind;
        return m_watch.packet(packet);
    }
    ReturnCause next(const ReturnWatch::Packet& shape, std::int64_t after = kSecond) {
        m_at += after;
        ReturnWatch::Packet packet = shape;
        packet.at = m_at;
        return m_watch.packet(packet);
    }
    std::int64_t now() const { return m_at; }

private:
    ReturnWatch& m_watch;
    std::int64_t m_at = 100 * kSecond;
};

ReturnWatch::Packet offlineBefore() {
    ReturnWatch::Packet packet;
    packet.offline = true;
    return packet;
}

ReturnWatch::Packet moved() {
    ReturnWatch::Packet packet;
    packet.moved = true;
    return packet;
}

/// Whether the watch holds a channel that packets confirmed: a packet of
/// `other` kind, one period on, would count (asked of a copy).
bool confirmedAgainst(const ReturnWatch& watch, const Packets& packets, std::uint32_t other) {
    ReturnWatch probe = watch;
    ReturnWatch::Packet packet;
    packet.at = packets.now() + kSecond;
    packet.kind = other;
    return probe.packet(packet) == ReturnCause::kPlaybackContradiction;
}

}  // namespace

TEST(ReturnWatch, OutagesMovesAndRestartsCountButNotTheDiscovery) {
    ReturnWatch watch;
    Packets packets(watch);
    EXPECT_EQ(packets.next(offlineBefore()), ReturnCause::kNone) << "the first packet is the discovery";
    EXPECT_EQ(packets.next(), ReturnCause::kNone);
    EXPECT_EQ(packets.next(offlineBefore(), 9 * kSecond), ReturnCause::kOnlineAgain)
        << "counted offline, then back: one cause, the outage";
    EXPECT_EQ(packets.next(), ReturnCause::kNone);
    EXPECT_EQ(packets.next(moved()), ReturnCause::kMoved);
    EXPECT_EQ(packets.next(), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kIdle, 3 * kSecond + 1), ReturnCause::kPacketGap) << "a restart within the offline window";
    EXPECT_EQ(packets.next(), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kIdle, 3 * kSecond), ReturnCause::kNone) << "the gap must be exceeded";

    ReturnWatch tight(kSecond / 2);
    Packets fast(tight);
    fast.next(kIdle, kSecond / 10);
    EXPECT_EQ(fast.next(kIdle, kSecond / 10), ReturnCause::kNone);
    EXPECT_EQ(fast.next(kIdle, kSecond), ReturnCause::kPacketGap) << "the gap is the one given";
    tight.setPacketGap(2 * kSecond);
    EXPECT_EQ(fast.next(kIdle, kSecond), ReturnCause::kNone);
    EXPECT_EQ(fast.next(kIdle, -kSecond), ReturnCause::kNone) << "a clock set back is no gap";
}

TEST(ReturnWatch, PacketsLostNowAndThenNeverCount) {
    // A day of packets a second, one lost now and then, and parsing that
    // comes up to 900 ms late.
    ReturnWatch watch;
    Packets packets(watch);
    std::mt19937 random(17);
    std::uniform_int_distribution<int> lost(0, 9);
    std::uniform_int_distribution<std::int64_t> late(0, 900000);
    std::int64_t lateness = 0;
    int returns = 0;
    for (int second = 0; second < 86400; ++second) {
        const int burst = lost(random) == 0 ? 1 : 0;
        const std::int64_t nextLateness = late(random);
        if (packets.next(kIdle, (1 + burst) * kSecond - lateness + nextLateness) != ReturnCause::kNone) ++returns;
        lateness = nextLateness;
    }
    EXPECT_EQ(returns, 0);
}

// A loudspeaker that restarts within 3 s on the common channel shows only
// the silence: it counts, whatever the phase of its packets. Before, a
// silence had to pass 4 s, and one restarted during a service message
// played its power-on volume until the message's end.
TEST(ReturnWatch, ARestartOfThreeSecondsCounts) {
    for (const std::int64_t phase : {1000, 250000, 999000}) {
        ReturnWatch watch;
        Packets packets(watch);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(packets.next(kIdle, kSecond), ReturnCause::kNone);
        EXPECT_EQ(packets.next(kIdle, 3 * kSecond + phase), ReturnCause::kPacketGap) << phase << " us";
    }
}

TEST(ReturnWatch, ASlowerLoudspeakerIsJudgedByItsOwnPace) {
    ReturnWatch watch;
    Packets every2s(watch);
    every2s.next();
    EXPECT_EQ(every2s.next(kIdle, 5 * kSecond), ReturnCause::kNone) << "no pace known yet";
    for (int i = 0; i < 10; ++i) EXPECT_EQ(every2s.next(kIdle, 2 * kSecond), ReturnCause::kNone);
    EXPECT_EQ(every2s.next(kIdle, 6 * kSecond), ReturnCause::kNone) << "two of its packets lost";
    EXPECT_EQ(every2s.next(kIdle, 6 * kSecond + 1), ReturnCause::kPacketGap);

    ReturnWatch slow;
    Packets every5s(slow);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(every5s.next(kIdle, 5 * kSecond), ReturnCause::kNone);
    EXPECT_EQ(every5s.next(kIdle, 10 * kSecond), ReturnCause::kNone) << "left to the offline window";
    ReturnWatch::Packet back;
    back.offline = true;
    EXPECT_EQ(every5s.next(back, 10 * kSecond), ReturnCause::kOnlineAgain);
}

// The object switched to a notice channel, a packet showed it there, a later
// one shows the common stream: it restarted and lost the switch.
TEST(ReturnWatch, APacketThatContradictsAConfirmedChannelCounts) {
    struct Case {
        std::int32_t channel;
        std::uint32_t shown;  // what a packet shows on that channel
        std::uint32_t other;  // a stream that contradicts it
    };
    const Case cases[] = {{1, kHigh, kIdle}, {2, kHigh, kLow},      {6, kLow, kIdle},
                          {4, kLow, kHigh},  {3, kRepeating, kIdle}, {0, kIdle, kHigh}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        ReturnWatch watch;
        Packets packets(watch);
        packets.next(kIdle);
        watch.channelHeld(c.channel);
        EXPECT_EQ(packets.next(c.other), ReturnCause::kNone) << "sent before the switch: nothing confirmed yet";
        EXPECT_EQ(packets.next(c.shown), ReturnCause::kNone);
        EXPECT_TRUE(confirmedAgainst(watch, packets, c.other));
        EXPECT_EQ(packets.next(c.shown), ReturnCause::kNone);
        EXPECT_EQ(packets.next(c.other), ReturnCause::kPlaybackContradiction);
        EXPECT_EQ(packets.next(c.other), ReturnCause::kNone) << "counted once";
        EXPECT_EQ(packets.next(c.shown), ReturnCause::kNone);
        EXPECT_EQ(packets.next(c.other), ReturnCause::kNone) << "forgotten: it may be on any channel";
    }
}

TEST(ReturnWatch, ChannelsPacketsDoNotShowAreNeverHeldAgainstThem) {
    // Firmware whose packets show the common stream whatever the channel.
    ReturnWatch blind;
    Packets packets(blind);
    packets.next(kIdle);
    blind.channelHeld(1);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone);
    blind.channelHeld(0);
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone);
    blind.channelHeld(1);
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone) << "the common channel's confirmation ended with the switch";

    // A channel no stream kind stands for, and a channel not known.
    ReturnWatch watch;
    Packets other(watch);
    watch.channelHeld(5);
    EXPECT_EQ(other.next(kHigh), ReturnCause::kNone);
    EXPECT_EQ(other.next(kIdle), ReturnCause::kNone);
    watch.channelHeld(1);
    other.next(kHigh);
    watch.channelHeld(ReturnWatch::kNoChannel);  // a switch that went unanswered
    EXPECT_EQ(other.next(kIdle), ReturnCause::kNone);
}

TEST(ReturnWatch, PacketsThatCrossASwitchDoNotCount) {
    ReturnWatch watch;
    Packets packets(watch);
    watch.channelHeld(1);
    packets.next(kHigh);
    ASSERT_TRUE(confirmedAgainst(watch, packets, kIdle));

    // Back to the common channel: the loudspeaker switched, and its packet
    // came before the reply.
    watch.switchStarted(packets.now());
    EXPECT_EQ(packets.next(kIdle, kSecond / 2), ReturnCause::kNone);
    watch.channelHeld(0);
    watch.switchEnded();
    // One it sent just before it switched comes after the reply.
    EXPECT_EQ(packets.next(kHigh, kSecond / 10), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kHigh), ReturnCause::kPlaybackContradiction) << "confirmed on the common channel since";

    // The same channel again keeps what was confirmed.
    watch.channelHeld(1);
    packets.next(kHigh);
    watch.switchStarted(packets.now());
    watch.channelHeld(1);
    watch.switchEnded();
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kPlaybackContradiction);

    // Two switches on their way: the shield lasts until both ended.
    watch.channelHeld(1);
    packets.next(kHigh);
    watch.switchStarted(packets.now());
    watch.switchStarted(packets.now());
    watch.switchEnded();
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone);
    watch.switchEnded();
    watch.switchEnded();  // one too many changes nothing
    EXPECT_EQ(packets.next(kHigh), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kPlaybackContradiction);

    // A switch whose end never came shields for a while only.
    watch.channelHeld(1);
    packets.next(kHigh);
    watch.switchStarted(packets.now());
    const std::int64_t started = packets.now();
    while (packets.now() + kSecond - started < ReturnWatch::kSwitchShield)
        EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone);
    EXPECT_EQ(packets.next(kIdle), ReturnCause::kPlaybackContradiction);
}

TEST(ReturnWatch, ItsOwnPlaybackIsNoContradiction) {
    for (std::uint32_t own : {kScenario, kAnalogInput, 2u, 3u, 6u, 7u, 8u, 11u, 12u, 13u}) {
        SCOPED_TRACE(own);
        ReturnWatch watch;
        Packets packets(watch);
        watch.channelHeld(1);
        packets.next(kHigh);
        EXPECT_EQ(packets.next(own), ReturnCause::kNone);
        EXPECT_FALSE(confirmedAgainst(watch, packets, kIdle));
        EXPECT_EQ(packets.next(kIdle), ReturnCause::kNone) << "what follows its own playback is not judged";
        EXPECT_EQ(packets.next(kHigh), ReturnCause::kNone);
        EXPECT_EQ(packets.next(kIdle), ReturnCause::kPlaybackContradiction) << "confirmed again";
    }
}
