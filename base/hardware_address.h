#pragma once

#include <cstdint>
#include <string>

namespace net {

/// The first three bytes given to an address that is built from its last
/// three alone (a device named by the 24-bit address of the zone binding).
/// The maker's own prefix is not known to us: 02:56:53 is a locally
/// administered unicast prefix, so it can't stand for another maker's device.
constexpr std::uint32_t kMakerPrefix = 0x025653;

/// A 48-bit hardware (MAC) address, the key of every device. It is kept as two
/// 24-bit halves; the map of devices orders by them, so the text and the valid
/// flag take no part in ordering and equality. Bad input never throws: the
/// address comes out invalid, both halves 0, text "AA:BB:CC:DD:EE:FF", with one
/// WARN naming the input. A plain value, copied between threads.
class HardwareAddress {
public:
    /// Six parts of one or two hexadecimal digits (either case) joined by
    /// ':'; the last part may have more digits as long as its value fits a
    /// byte, and whatever follows it is ignored.
    explicit HardwareAddress(const std::string& text) : HardwareAddress(text.c_str()) {}
    /// The same from a text ending with a NUL.
    explicit HardwareAddress(const char* text);
    /// Each half holds three bytes, the first byte most significant.
    HardwareAddress(std::uint32_t high, std::uint32_t low);
    /// The maker's prefix followed by the 24-bit device address.
    explicit HardwareAddress(std::uint32_t low);

    /// The address of a text that is one and nothing else: six parts of one
    /// or two hexadecimal digits joined by ':', with no blank, wider part or
    /// tail (which the text constructor passes over). False, `address`
    /// untouched, for any other text; no WARN. For the readers of our own
    /// files, which tell a bad entry themselves.
    static bool parse(const std::string& text, HardwareAddress& address);

    /// Upper case, two digits per byte, joined by ':'. Asking for the text of
    /// an invalid address is allowed and logs a WARN each time.
    const char* toCharArray() const;

    bool isValid() const { return m_valid; }
    std::uint32_t getHigh() const { return m_high; }
    std::uint32_t getLow() const { return m_low; }

    friend bool operator<(const HardwareAddress& a, const HardwareAddress& b) {
        return a.m_high != b.m_high ? a.m_high < b.m_high : a.m_low < b.m_low;
    }
    friend bool operator==(const HardwareAddress& a, const HardwareAddress& b) {
        return a.m_high == b.m_high && a.m_low == b.m_low;
    }
    friend bool operator!=(const HardwareAddress& a, const HardwareAddress& b) { return !(a == b); }

private:
    void setHalves(std::uint32_t high, std::uint32_t low);

    bool m_valid = false;
    std::uint32_t m_high = 0;
    std::uint32_t m_low = 0;
    // Held in place: an address is made for every state packet and copied
    // into every job about its device, and a text of 17 characters would not
    // fit a short string's own buffer.
    char m_text[18] = "AA:BB:CC:DD:EE:FF";
};

}  // namespace net
