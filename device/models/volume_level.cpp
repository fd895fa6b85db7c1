#include "device/models/volume_level.h"

#include <cstdio>
#include <limits>

namespace device {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void skipBlanks(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && isBlank(text[pos])) ++pos;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

/// One or two hexadecimal digits at `pos`, white space before them skipped
/// (what "%02X" reads, less its sign and "0x").
bool readHexField(const std::string& text, std::size_t& pos, std::uint8_t& value) {
    skipBlanks(text, pos);
    unsigned read = 0;
    int digits = 0;
    while (digits < 2 && pos < text.size() && hexDigit(text[pos]) >= 0) {
        read = read * 16 + static_cast<unsigned>(hexDigit(text[pos]));
        ++pos;
        ++digits;
    }
    value = static_cast<std::uint8_t>(read);
    return digits > 0;
}

/// A decimal integer of 32 bits, white space before it skipped; leading
/// zeros are decimal too (the firmware writes decimal).
bool readDecimal(const std::string& text, std::int32_t& value) {
    std::size_t pos = 0;
    skipBlanks(text, pos);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
    const std::size_t first = pos;
    long long read = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        read = read * 10 + (text[pos] - '0');
        if (read > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
        ++pos;
    }
    if (pos == first) return false;
    if (negative) read = -read;
    if (read < std::numeric_limits<std::int32_t>::min() || read > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(read);
    return true;
}

}  // namespace

VolumeLevel VolumeLevel::levelPair(std::uint8_t left, std::uint8_t right) {
    return VolumeLevel(true, static_cast<std::int32_t>(left) << 8 | right);
}

VolumeLevel VolumeLevel::decibels(std::int32_t value) { return VolumeLevel(false, value); }

std::optional<VolumeLevel> VolumeLevel::parse(int versionIndex, const std::string& reply) {
    if (usesLevelPair(versionIndex)) {
        std::size_t pos = 0;
        std::uint8_t left = 0;
        std::uint8_t right = 0;
        if (!readHexField(reply, pos, left)) return std::nullopt;
        if (pos >= reply.size() || reply[pos] != ':') return std::nullopt;
        ++pos;
        if (!readHexField(reply, pos, right)) return std::nullopt;
        return levelPair(left, right);
    }
    std::int32_t value = 0;
    if (!readDecimal(reply, value)) return std::nullopt;
    return decibels(value);
}

std::optional<VolumeLevel> VolumeLevel::ofPercent(int versionIndex, std::uint32_t percent) {
    if (percent > 100) return std::nullopt;
    if (percent == 0) return muted(versionIndex);
    // The expressions the program has always sent, in double arithmetic:
    // the loudspeakers in the field are set by them.
    if (usesLevelPair(versionIndex)) {
        const auto level = static_cast<std::uint8_t>(60 - static_cast<int>(percent * 0.6));
        return levelPair(level, level);
    }
    return decibels(-30 - static_cast<int>(percent * -0.3));
}

VolumeLevel VolumeLevel::muted(int versionIndex) {
    return usesLevelPair(versionIndex) ? levelPair(kMutedPairLevel, kMutedPairLevel) : decibels(kMutedDecibels);
}

bool VolumeLevel::isMuted() const {
    return m_levelPair ? left() == kMutedPairLevel : m_value == kMutedDecibels;
}

std::uint32_t VolumeLevel::percent() const {
    int percent = 0;
    if (m_levelPair) {
        const int level = left() > 60 ? 60 : left();
        percent = static_cast<int>((60 - level) / 0.6);
    } else {
        int level = m_value > 0 ? 0 : m_value;
        if (level < -30) level = -30;
        percent = static_cast<int>((-30 - level) / -0.3);
    }
    if (!isMuted() && percent == 0) percent = 1;
    return static_cast<std::uint32_t>(percent);
}

std::string VolumeLevel::text() const {
    char buffer[16];
    if (m_levelPair)
        std::snprintf(buffer, sizeof buffer, "%02X:%02X", static_cast<unsigned>(left()), static_cast<unsigned>(right()));
    else
        std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(m_value));
    return buffer;
}

std::string VolumeLevel::command() const { return "set vol " + text(); }

}  // namespace device
