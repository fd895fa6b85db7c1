#pragma once

#include <cstdint>

namespace device {

/// Why a loudspeaker counts as back: it may hold anything now (the volume
/// it powers up with, the common channel), so whoever drives it has to set
/// it again.
enum class ReturnCause {
    kNone,
    kOnlineAgain,            // its packets came again after it was counted offline
    kMoved,                  // its packets came from another address or port
    kPacketGap,              // its packets stopped for longer than a few periods: a restart
    kPlaybackContradiction,  // its packets show another stream than the channel confirmed before
};

/// The operator's words for a cause (Russian), for the log line of a return.
const wchar_t* returnCauseText(ReturnCause cause);

/// Tells from a loudspeaker's state packets and the channel switches made
/// on it whether it came back from somewhere (a restart, a power loss, an
/// outage, a move). Packets and times in, a cause out: no sockets, no
/// clock, no lock (the loudspeaker object guards it).
///
/// The channel rule: a loudspeaker's packet shows which stream it plays
/// (playback kind 0 the common channel, 4 the high-priority notice channels
/// 1 and 2, 1 the low-priority ones 4 and 6, 5 the repeater's channel 3).
/// Once a packet showed the channel held (switched to or read), a later one
/// that shows another of these streams contradicts it: the loudspeaker
/// lost the switch. Firmware whose packets never show the channel never
/// confirms one; a packet that left before a switch's reply came is not
/// held against the new channel, which nothing has confirmed yet; packets
/// while a switch is on its way are not held against either. A source of
/// the loudspeaker's own (a scenario, an analog input, a console's
/// announcement, ...) is no contradiction and leaves the channel
/// unconfirmed: what it returns to afterwards is for the code that handles
/// its own playback.
class ReturnWatch {
public:
    /// State packets come about once a second. A silence above this many
    /// microseconds (and above three of the loudspeaker's own intervals,
    /// below) is a restart (or an outage) shorter than the offline window of
    /// 7 s: a loudspeaker that restarts within 3 s shows nothing else, and
    /// one that plays the common channel at a volume a notice set would play
    /// its power-on volume for the rest of the notice. A packet lost now and
    /// then, with the delay a busy dispatcher adds to parsing (up to 0.9 s),
    /// stays below it; two lost in a row may count, which costs a notice's
    /// loudspeaker its channel and volume sent once more.
    static constexpr std::int64_t kDefaultPacketGap = 2900000;
    /// A loudspeaker that sends less often is judged by its own pace: a
    /// silence counts only beyond this many of its shortest recent
    /// intervals too (one that sends every 3 s never counts before it
    /// is offline), and not before one interval is known.
    static constexpr int kGapPeriods = 3;
    static constexpr int kIntervalsKept = 8;
    /// A switch whose end was never told stops shielding packets after this
    /// long (a request is given up within a few seconds).
    static constexpr std::int64_t kSwitchShield = 10000000;
    static constexpr std::int32_t kNoChannel = -1;

    explicit ReturnWatch(std::int64_t packetGap = kDefaultPacketGap) : m_packetGap(packetGap) {}
    void setPacketGap(std::int64_t packetGap) { m_packetGap = packetGap; }

    struct Packet {
        std::int64_t at = 0;       // microseconds, when it was taken
        bool offline = false;      // the loudspeaker was counted offline before it
        bool moved = false;        // it came from another valid address than the one known
        std::uint32_t kind = 0;    // the playback kind it shows
    };
    /// One state packet taken. The first one seen is the loudspeaker's
    /// discovery, never a return. On a return the channel held is forgotten.
    ReturnCause packet(const Packet& packet);

    /// A channel switch leaves at `at`; switchEnded when it ended in any way
    /// (answered, refused, given up).
    void switchStarted(std::int64_t at);
    void switchEnded();
    /// The channel the loudspeaker is known to be on now (a switch done, a
    /// channel read), kNoChannel when not known. The same channel again
    /// keeps what packets confirmed.
    void channelHeld(std::int32_t channel);

private:
    /// The kind a packet shows for the channel, or -1 when packets tell
    /// nothing of it.
    static int kindOfChannel(std::int32_t channel);
    static bool isStreamKind(std::uint32_t kind);
    bool contradicts(const Packet& packet) const;
    void follow(std::uint32_t kind);
    /// Whether a silence this long is beyond the packet gap and the
    /// loudspeaker's own pace.
    bool isGap(std::int64_t interval) const;
    void keepInterval(std::int64_t interval);

    std::int64_t m_packetGap;
    std::int64_t m_lastPacketAt = 0;
    bool m_seen = false;
    std::int64_t m_intervals[kIntervalsKept] = {};  // the latest intervals that were no gap
    int m_intervalCount = 0;
    std::int32_t m_held = kNoChannel;
    bool m_confirmed = false;
    int m_switching = 0;
    std::int64_t m_switchStartedAt = 0;
};

}  // namespace device
