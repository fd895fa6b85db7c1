// The soak's transport-stream checker: continuity counters per PID and the
// gaps between datagrams, fed hand-made packets.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tools/soak/ts_monitor.h"

using soak::TsMonitor;

namespace {

/// One 188-byte packet: PID, counter, and whether it carries a payload, an
/// adaptation field, and the discontinuity indicator in it.
std::vector<std::uint8_t> packet(unsigned pid, unsigned cc, bool payload = true, bool adaptation = false,
                                 bool discontinuity = false) {
    std::vector<std::uint8_t> p(TsMonitor::kPacketSize, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((pid >> 8) & 0x1F);
    p[2] = static_cast<std::uint8_t>(pid & 0xFF);
    p[3] = static_cast<std::uint8_t>(((adaptation ? 2 : 0) | (payload ? 1 : 0)) << 4 | (cc & 0x0F));
    if (adaptation) {
        p[4] = 1;
        p[5] = discontinuity ? 0x80 : 0x00;
    }
    return p;
}

/// Packets of one PID with the given counters, each its own datagram 10 ms apart.
void feed(TsMonitor& monitor, unsigned pid, const std::vector<unsigned>& counters, std::int64_t& at) {
    for (const unsigned cc : counters) {
        const auto p = packet(pid, cc);
        monitor.datagram(p.data(), p.size(), at);
        at += 10000;
    }
}

}  // namespace

TEST(TsMonitor, CountersWrapAndRunPerPid) {
    TsMonitor monitor;
    std::int64_t at = 0;
    // Two PIDs interleaved in one datagram, each counting on its own across the wrap.
    std::vector<std::uint8_t> datagram;
    for (unsigned i = 0; i < 40; ++i) {
        const auto a = packet(0x100, (i + 14) & 0x0F);
        const auto b = packet(0x101, i & 0x0F);
        datagram.insert(datagram.end(), a.begin(), a.end());
        datagram.insert(datagram.end(), b.begin(), b.end());
    }
    monitor.datagram(datagram.data(), datagram.size(), at);
    // Adaptation-only packets keep the counter; null packets have none.
    const auto still = packet(0x100, (39 + 14) & 0x0F, false, true);
    monitor.datagram(still.data(), still.size(), at += 1000);
    const auto null = packet(0x1FFF, 7);
    monitor.datagram(null.data(), null.size(), at += 1000);
    feed(monitor, 0x100, {(40 + 14) & 0x0F}, at);
    EXPECT_EQ(monitor.figures().ccErrors, 0u);
    EXPECT_EQ(monitor.figures().packets, 83u);
}

TEST(TsMonitor, LostReorderedAndTwiceRepeatedPacketsAreErrors) {
    TsMonitor monitor;
    std::int64_t at = 0;
    feed(monitor, 0x44, {0, 1, 3}, at);  // 2 lost
    EXPECT_EQ(monitor.figures().ccErrors, 1u);
    feed(monitor, 0x44, {5, 4}, at);  // 4 lost, then 4 late: two breaks
    EXPECT_EQ(monitor.figures().ccErrors, 3u);
    feed(monitor, 0x44, {5, 5}, at);  // one repetition is allowed
    EXPECT_EQ(monitor.figures().ccErrors, 3u);
    feed(monitor, 0x44, {5}, at);  // a second is not
    EXPECT_EQ(monitor.figures().ccErrors, 4u);
    // An adaptation-only packet that moves the counter is a break too.
    const auto moved = packet(0x44, 9, false, true);
    monitor.datagram(moved.data(), moved.size(), at);
    EXPECT_EQ(monitor.figures().ccErrors, 5u);
    // The discontinuity indicator announces a new count.
    const auto fresh = packet(0x44, 2, true, true, true);
    monitor.datagram(fresh.data(), fresh.size(), at);
    feed(monitor, 0x44, {3}, at);
    EXPECT_EQ(monitor.figures().ccErrors, 5u);
}

TEST(TsMonitor, BrokenFramingIsCounted) {
    TsMonitor monitor;
    auto p = packet(0x44, 0);
    p[0] = 0x46;
    monitor.datagram(p.data(), p.size(), 0);
    const auto q = packet(0x44, 1);
    monitor.datagram(q.data(), 100, 1000);  // not a whole packet
    EXPECT_EQ(monitor.figures().syncErrors, 2u);
    EXPECT_EQ(monitor.figures().ccErrors, 0u);
}

TEST(TsMonitor, LargestGapWithinSegmentsOnly) {
    TsMonitor monitor;
    const auto p = packet(0x44, 0);
    monitor.datagram(p.data(), 0, 0);  // an empty keep-alive starts nothing
    monitor.datagram(p.data(), p.size(), 1'000'000);
    monitor.datagram(nullptr, 0, 1'500'000);
    auto q = packet(0x44, 1);
    monitor.datagram(q.data(), q.size(), 1'080'000);
    q = packet(0x44, 2);
    monitor.datagram(q.data(), q.size(), 1'200'000);  // 120 ms: the largest
    q = packet(0x44, 3);
    monitor.datagram(q.data(), q.size(), 1'250'000);
    EXPECT_EQ(monitor.figures().largestGapUs, 120'000);
    EXPECT_EQ(monitor.figures().largestGapIntoSegmentUs, 200'000);
    EXPECT_EQ(monitor.figures().largestGapAfterDatagrams, 2u);
    EXPECT_EQ(monitor.figures().longGaps, 1u);
    EXPECT_EQ(monitor.figures().segments, 1u);

    // The pause before a new segment is no gap, and its mux counts afresh.
    monitor.newSegment();
    q = packet(0x44, 9);
    monitor.datagram(q.data(), q.size(), 9'000'000);
    q = packet(0x44, 10);
    monitor.datagram(q.data(), q.size(), 9'050'000);
    EXPECT_EQ(monitor.figures().largestGapUs, 120'000);
    EXPECT_EQ(monitor.figures().ccErrors, 0u);
    EXPECT_EQ(monitor.figures().segments, 2u);
    q = packet(0x44, 11);
    monitor.datagram(q.data(), q.size(), 9'250'000);
    EXPECT_EQ(monitor.figures().largestGapUs, 200'000);
    EXPECT_EQ(monitor.figures().longGaps, 2u);
}
