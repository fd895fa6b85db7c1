// The two equalizer forms and the parsers of their replies.
#include "device/models/equalizer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <boost/algorithm/string/trim.hpp>
#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "base/log.h"

namespace device {

namespace {

const char kExtendedTail[] = ":0:0:0:0";

int signedNibble(unsigned nibble) { return nibble >= 8 ? static_cast<int>(nibble) - 16 : static_cast<int>(nibble); }

}  // namespace

// ---- packed form ------------------------------------------------------------------------------

namespace o510 {

Equalizer::Equalizer(int bass, int treble) {
    if (treble >= 8 && treble <= 15) treble -= 16;
    m_fields = {15, std::clamp(bass, 0, 15), 2, std::clamp(treble, -8, 7)};
}

Equalizer::Equalizer(std::uint16_t packed) {
    m_fields = {std::max(packed & 0xF, 2), (packed >> 4) & 0xF, (packed >> 8) & 0xF,
                signedNibble((packed >> 12) & 0xF)};
    m_enabled = packed != 0;
}

std::uint16_t Equalizer::packed() const {
    if (!m_enabled) return 0;
    return static_cast<std::uint16_t>((static_cast<unsigned>(m_fields[3]) & 0xF) << 12 | (m_fields[2] & 0xF) << 8 |
                                      (m_fields[1] & 0xF) << 4 | (m_fields[0] & 0xF));
}

std::string Equalizer::toCommand() const {
    char text[16];
    std::snprintf(text, sizeof text, "set eq %04X", static_cast<unsigned>(packed()));
    return text;
}

boost::shared_ptr<IEqualizer> Equalizer::clone() const { return boost::make_shared<Equalizer>(*this); }

}  // namespace o510

// ---- six bands ----------------------------------------------------------------------------------

namespace o610 {

int Equalizer::correctValue(int value) {
    if (value < kMinimum) {
        LOG_EXTERN(L"Значение '%1%' эквалайзера меньше минимального", value);
        return kMinimum;
    }
    if (value > kMaximum) {
        LOG_EXTERN(L"Значение '%1%' эквалайзера больше максимального", value);
        return kMaximum;
    }
    return value;
}

void Equalizer::setBands(int index, int value) {
    if (index < 0 || index >= kBands) {
        LOG_ERROR(L"Некорректный номер %1% полосы эквалайзера", index);
        return;
    }
    m_bands[index] = static_cast<std::int8_t>(correctValue(value));
}

std::string Equalizer::toCommand() const {
    std::string text = "set eqd ";
    for (int i = 0; i < kBands; ++i) {
        const int band = m_extended ? std::max<int>(m_bands[i], kExtendedMinimum) : m_bands[i];
        if (i != 0) text += ':';
        text += std::to_string(band);
    }
    if (m_extended) text += kExtendedTail;
    return text;
}

boost::shared_ptr<IEqualizer> Equalizer::clone() const { return boost::make_shared<Equalizer>(*this); }

}  // namespace o610

// ---- requests and replies ------------------------------------------------------------------------

std::string withExtendedTail(const std::string& command) {
    const std::size_t tail = sizeof kExtendedTail - 1;
    if (command.size() >= tail && command.compare(command.size() - tail, tail, kExtendedTail) == 0) return command;
    return command + kExtendedTail;
}

std::uint16_t parsePackedEqualizer(const std::string& reply) {
    // Only the four hexadecimal digits: an "ERR ..." refusal starts with a
    // hexadecimal letter and must not read as a level.
    const std::string text = boost::algorithm::trim_copy(reply);
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        LOG_WARN(L"Значение эквалайзера прибора Орвел-510 некорректно.");
        throw exception::UnexpectedResponseOfDevice(reply);
    }
    return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

void parseEqualizerBands(const std::string& reply, o610::Equalizer& equalizer) {
    const char* at = reply.c_str();
    for (int band = 0; band < o610::Equalizer::kBands; ++band) {
        int value = 0;
        int used = 0;
        if (*at == '\0' || std::sscanf(at, "%i%n", &value, &used) != 1) {
            LOG_WARN(L"%1% / %2% (%3%)", L"Неправильный формат эквалайзера прибора Орвел-610",
                     L"Неправильное количество полос эквалайзера", reply);
            throw exception::UnexpectedResponseOfDevice(reply);
        }
        equalizer.setBands(band, value);
        const char* colon = std::strchr(at + used, ':');
        at = colon != nullptr ? colon + 1 : at + std::strlen(at);
    }
}

}  // namespace device
