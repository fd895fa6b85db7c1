#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace soak {

/// What a TsMonitor has seen so far.
struct TsFigures {
    std::uint64_t datagrams = 0;
    std::uint64_t packets = 0;
    /// Packets whose continuity counter is not the one after the last of
    /// their PID (a lost, reordered or repeated-twice packet).
    std::uint64_t ccErrors = 0;
    /// Datagrams that are not whole 188-byte packets, and packets without
    /// the sync byte.
    std::uint64_t syncErrors = 0;
    /// Largest time between two datagrams of one segment, in microseconds.
    std::int64_t largestGapUs = 0;
    /// Where in its segment the largest gap ended: microseconds since the
    /// segment's first datagram, and the datagrams of the segment before it.
    std::int64_t largestGapIntoSegmentUs = 0;
    std::uint64_t largestGapAfterDatagrams = 0;
    /// Gaps longer than the monitor's limit.
    std::uint64_t longGaps = 0;
    /// How many segments have begun (the stream started again on purpose).
    std::uint64_t segments = 0;
};

/// Checks an MPEG transport stream as it arrives in datagrams: the
/// continuity counter of every PID and the time between datagrams. The
/// stream may stop and start again on purpose (a message ends, the next one
/// starts later); the owner says so with newSegment(), and the pause between
/// two segments is no gap, nor is the counter jump of the new mux.
///
/// Threads: the receiving thread feeds datagrams, any other thread reads the
/// figures or starts a segment.
class TsMonitor {
public:
    static constexpr std::size_t kPacketSize = 188;

    /// Gaps longer than `longGapUs` are counted.
    explicit TsMonitor(std::int64_t longGapUs = 100'000);

    /// One received datagram and the time it arrived (microseconds of a
    /// clock that doesn't jump). Empty datagrams (keep-alives) are ignored.
    void datagram(const std::uint8_t* data, std::size_t size, std::int64_t atUs);
    /// The next datagram starts a new segment.
    void newSegment();
    TsFigures figures() const;

private:
    void packet(const std::uint8_t* p);
    void forgetCounters();

    static constexpr int kNoCounter = -1;
    static constexpr std::size_t kPids = 8192;

    const std::int64_t m_longGapUs;
    mutable std::mutex m_mutex;
    TsFigures m_figures;
    bool m_segmentOpen = false;
    std::int64_t m_lastAtUs = 0;
    std::int64_t m_segmentStartUs = 0;
    std::uint64_t m_segmentDatagrams = 0;
    std::array<std::int8_t, kPids> m_lastCc{};
    /// The last packet of the PID repeated its predecessor's counter: a
    /// second repetition is an error (a stream may send a packet twice).
    std::array<bool, kPids> m_repeated{};
};

}  // namespace soak
