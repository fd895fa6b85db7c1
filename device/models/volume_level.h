#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace device {

/// A loudspeaker's volume as its firmware writes it: the Orvel-510
/// generations' level pair ("19:19": left and right in hexadecimal, 0 the
/// loudest, FE muted) or the later generations' dB ("-40": 0 the loudest,
/// -96 muted). The operator sees a percent, which loses steps on the way
/// (-40 dB and -30 dB are both 1 %): a volume that has to come back as it
/// was (a notice gives back what it found) is kept as this value and
/// written back as read.
///
/// A value type of pure functions: no sockets, no locks, no log. The level
/// holds whatever the loudspeaker reported, levels beyond the scale
/// included; only the percent clamps.
class VolumeLevel {
public:
    /// Which scale a firmware-version index writes: up to index 8 the level pair.
    static bool usesLevelPair(int versionIndex) { return versionIndex <= kLastLevelPairIndex; }

    static VolumeLevel levelPair(std::uint8_t left, std::uint8_t right);
    static VolumeLevel decibels(std::int32_t value);

    /// The reply to "get vol" on the scale of the index, exact: "19:19" or
    /// "-40" as reported, surrounding white space and anything after the
    /// value left aside (as the device's earlier readers did). Empty for a
    /// reply that holds no value: not two hexadecimal fields of one or two
    /// digits joined by ':' (the pair), or no decimal integer of 32 bits
    /// (the dB).
    static std::optional<VolumeLevel> parse(int versionIndex, const std::string& reply);
    /// The level the window's percent (0..100) is sent as: the pair
    /// 60 - trunc(percent * 0.6) twice, the dB -30 - trunc(percent * -0.3);
    /// 0 % is the muted level. Above 100: empty.
    static std::optional<VolumeLevel> ofPercent(int versionIndex, std::uint32_t percent);
    /// FE:FE, or -96 dB.
    static VolumeLevel muted(int versionIndex);

    bool isLevelPair() const { return m_levelPair; }
    /// The pair's fields (0 on the dB scale).
    std::uint8_t left() const { return m_levelPair ? static_cast<std::uint8_t>(m_value >> 8) : 0; }
    std::uint8_t right() const { return m_levelPair ? static_cast<std::uint8_t>(m_value) : 0; }
    /// The dB (0 on the pair scale).
    std::int32_t decibels() const { return m_levelPair ? 0 : m_value; }
    /// The scale's muted level (left field FE on the pair scale).
    bool isMuted() const;
    /// Whether the index writes this level's scale.
    bool fits(int versionIndex) const { return usesLevelPair(versionIndex) == m_levelPair; }

    /// The percent the window shows for it: the pair by its left field,
    /// above 60 read as 60, trunc((60 - level) / 0.6); the dB above 0 read as
    /// 0 and below -30 as -30, trunc((-30 - dB) / -0.3); 0 becomes 1 unless
    /// muted, so that a loudspeaker the operator can hear never shows 0.
    std::uint32_t percent() const;
    /// The value as the reply writes it: "%02X:%02X", or the dB in decimal.
    std::string text() const;
    /// "set vol " and text(): a level read is written back byte for byte.
    std::string command() const;

    bool operator==(const VolumeLevel& other) const {
        return m_levelPair == other.m_levelPair && m_value == other.m_value;
    }
    bool operator!=(const VolumeLevel& other) const { return !(*this == other); }

    static constexpr int kLastLevelPairIndex = 8;
    static constexpr std::uint8_t kMutedPairLevel = 0xFE;
    static constexpr std::int32_t kMutedDecibels = -96;

private:
    VolumeLevel(bool levelPair, std::int32_t value) : m_levelPair(levelPair), m_value(value) {}

    bool m_levelPair = false;
    std::int32_t m_value = 0;  // the pair: left << 8 | right
};

}  // namespace device
