#include "device/models/return_watch.h"

namespace device {

namespace {

// The playback kinds of the streams a switch sends a loudspeaker to: the
// kinds whose playback-type codes are the ones a switch to the channel sets.
constexpr std::uint32_t kKindCommon = 0;        // "none"
constexpr std::uint32_t kKindLowPriority = 1;   // "voice_low_priority", channels 4 and 6
constexpr std::uint32_t kKindHighPriority = 4;  // "voice_high_priority", channels 1 and 2
constexpr std::uint32_t kKindRepeating = 5;     // "voice_high_repeating", the repeater's channel 3

}  // namespace

const wchar_t* returnCauseText(ReturnCause cause) {
    switch (cause) {
        case ReturnCause::kOnlineAgain: return L"снова на связи после отключения";
        case ReturnCause::kMoved: return L"сменился сетевой адрес";
        case ReturnCause::kPacketGap: return L"перезагрузка (перерыв в статусных пакетах)";
        case ReturnCause::kPlaybackContradiction:
            return L"перезагрузка (состояние воспроизведения не соответствует каналу)";
        case ReturnCause::kNone: break;
    }
    return L"";
}

int ReturnWatch::kindOfChannel(std::int32_t channel) {
    switch (channel) {
        case 0: return static_cast<int>(kKindCommon);
        case 1:
        case 2: return static_cast<int>(kKindHighPriority);
        case 3: return static_cast<int>(kKindRepeating);
        case 4:
        case 6: return static_cast<int>(kKindLowPriority);
        default: return -1;
    }
}

bool ReturnWatch::isStreamKind(std::uint32_t kind) {
    return kind == kKindCommon || kind == kKindLowPriority || kind == kKindHighPriority || kind == kKindRepeating;
}

ReturnCause ReturnWatch::packet(const Packet& packet) {
    if (m_switching > 0 && packet.at - m_switchStartedAt >= kSwitchShield) m_switching = 0;
    const bool shielded = m_switching > 0;
    if (!m_seen) {
        m_seen = true;
        m_lastPacketAt = packet.at;
        if (!shielded) follow(packet.kind);
        return ReturnCause::kNone;
    }
    ReturnCause cause = ReturnCause::kNone;
    if (packet.offline)
        cause = ReturnCause::kOnlineAgain;
    else if (packet.moved)
        cause = ReturnCause::kMoved;
    else if (isGap(packet.at - m_lastPacketAt))
        cause = ReturnCause::kPacketGap;
    else if (!shielded && contradicts(packet))
        cause = ReturnCause::kPlaybackContradiction;
    if (cause != ReturnCause::kPacketGap && cause != ReturnCause::kOnlineAgain) keepInterval(packet.at - m_lastPacketAt);
    m_lastPacketAt = packet.at;
    if (cause != ReturnCause::kNone) {
        // It may be on any channel now: nothing is held until it is switched or asked.
        m_held = kNoChannel;
        m_confirmed = false;
        return cause;
    }
    if (!shielded) follow(packet.kind);
    return ReturnCause::kNone;
}

bool ReturnWatch::isGap(std::int64_t interval) const {
    if (interval <= m_packetGap || m_intervalCount == 0) return false;
    const int kept = m_intervalCount < kIntervalsKept ? m_intervalCount : kIntervalsKept;
    std::int64_t shortest = m_intervals[0];
    for (int i = 1; i < kept; ++i)
        if (m_intervals[i] < shortest) shortest = m_intervals[i];
    return interval > kGapPeriods * shortest;
}

void ReturnWatch::keepInterval(std::int64_t interval) {
    if (interval < 0) return;  // a clock set back says nothing of the pace
    m_intervals[m_intervalCount % kIntervalsKept] = interval;
    ++m_intervalCount;
    if (m_intervalCount == 2 * kIntervalsKept) m_intervalCount = kIntervalsKept;  // keeps the slot order, never overflows
}

bool ReturnWatch::contradicts(const Packet& packet) const {
    if (!m_confirmed || !isStreamKind(packet.kind)) return false;
    return static_cast<int>(packet.kind) != kindOfChannel(m_held);
}

void ReturnWatch::follow(std::uint32_t kind) {
    const int expected = kindOfChannel(m_held);
    if (expected < 0) return;
    if (static_cast<int>(kind) == expected)
        m_confirmed = true;
    else if (!isStreamKind(kind))
        m_confirmed = false;  // a source of its own: what follows it is not ours to judge
}

void ReturnWatch::switchStarted(std::int64_t at) {
    ++m_switching;
    m_switchStartedAt = at;
}

void ReturnWatch::switchEnded() {
    if (m_switching > 0) --m_switching;
}

void ReturnWatch::channelHeld(std::int32_t channel) {
    if (channel == m_held) return;
    m_held = channel < 0 ? kNoChannel : channel;
    m_confirmed = false;
}

}  // namespace device
