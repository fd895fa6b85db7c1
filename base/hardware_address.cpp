#include "base/hardware_address.h"

#include <cctype>
#include <cstring>

#include "base/address_scan.h"
#include "base/log.h"

namespace net {

namespace {

constexpr std::uint32_t kHalfMax = 0xFFFFFF;

/// Reads "%X:%X:%X:%X:%X:%X" where the first five parts have at most two
/// digits. False unless six parts were read and each fits in a byte: a wider
/// part would otherwise spill into its neighbour when the halves are composed
/// and two different texts would name the same device.
bool scanHardwareAddress(const char* text, std::uint32_t& high, std::uint32_t& low) {
    const char* p = text;
    std::uint64_t bytes[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && !detail::scanLiteral(p, ':')) return false;
        if (!detail::scanUnsigned(p, 16, i < 5 ? 2 : std::strlen(p), bytes[i])) return false;
        if (bytes[i] > 0xFF) return false;
    }
    high = static_cast<std::uint32_t>(bytes[0] << 16 | bytes[1] << 8 | bytes[2]);
    low = static_cast<std::uint32_t>(bytes[3] << 16 | bytes[4] << 8 | bytes[5]);
    return true;
}

/// The whole text is six parts of one or two hexadecimal digits joined by
/// ':', and nothing else.
bool scanWholeHardwareAddress(const std::string& text, std::uint32_t& high, std::uint32_t& low) {
    std::uint64_t bytes[6] = {};
    std::size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != ':')) return false;
        const std::size_t first = at;
        while (at < text.size() && at - first < 3 && std::isxdigit(static_cast<unsigned char>(text[at]))) {
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[at++])));
            bytes[i] = bytes[i] * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
        }
        if (at == first || at - first > 2) return false;
    }
    if (at != text.size()) return false;
    high = static_cast<std::uint32_t>(bytes[0] << 16 | bytes[1] << 8 | bytes[2]);
    low = static_cast<std::uint32_t>(bytes[3] << 16 | bytes[4] << 8 | bytes[5]);
    return true;
}

}  // namespace

HardwareAddress::HardwareAddress(const char* text) {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!scanHardwareAddress(text, high, low)) {
        LOG_WARN(L"Получен некорректный аппаратный адрес '%1%'", std::string(text));
        return;
    }
    setHalves(high, low);
}

bool HardwareAddress::parse(const std::string& text, HardwareAddress& address) {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!scanWholeHardwareAddress(text, high, low)) return false;
    address = HardwareAddress(high, low);
    return true;
}

HardwareAddress::HardwareAddress(std::uint32_t high, std::uint32_t low) {
    // A half above 24 bits has no place in six bytes; the first half is
    // checked as well as the second, since its top byte would be lost too.
    if (high > kHalfMax || low > kHalfMax) {
        LOG_WARN(L"Получены неверные части аппаратного адреса '%1$08X, %2$08X'", high, low);
        return;
    }
    setHalves(high, low);
}

HardwareAddress::HardwareAddress(std::uint32_t low) : HardwareAddress(kMakerPrefix, low) {}

void HardwareAddress::setHalves(std::uint32_t high, std::uint32_t low) {
    m_valid = true;
    m_high = high;
    m_low = low;
    // One spelling for every address: texts that differ in case or leading
    // zeros name the same device and must print the same.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::uint32_t bytes[6] = {(high >> 16) & 0xFF, (high >> 8) & 0xFF, high & 0xFF,
                                    (low >> 16) & 0xFF,  (low >> 8) & 0xFF,  low & 0xFF};
    char* out = m_text;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) *out++ = ':';
        *out++ = kDigits[bytes[i] >> 4];
        *out++ = kDigits[bytes[i] & 0xF];
    }
    *out = '\0';
}

const char* HardwareAddress::toCharArray() const {
    if (!m_valid) LOG_WARN(L"Запрошен некорректный аппаратный адрес");
    return m_text;
}

}  // namespace net
