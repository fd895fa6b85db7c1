#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>

// Number scanning shared by the address texts. It reads what scanf's "%u" and
// "%X" read, with two differences that keep a bad text from passing as a
// different good one: no sign is taken (scanf turns "-1" into 4294967295 and
// "-4294967295" into 1), and a long run of digits saturates instead of
// wrapping into 32 bits ("4294967297" would otherwise read as 1).
namespace net::detail {

constexpr std::uint64_t kScanCeiling = 0x100000000ULL;

/// Skips blanks, then reads at most maxDigits digits of the base (10 or 16).
/// Advances p past what it read. False when no digit follows the blanks.
inline bool scanUnsigned(const char*& p, int base, std::size_t maxDigits, std::uint64_t& value) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    value = 0;
    std::size_t digits = 0;
    for (; digits < maxDigits && *p != '\0'; ++digits, ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::toupper(c) - 'A' + 10;
        else break;
        if (value < kScanCeiling) value = value * static_cast<std::uint64_t>(base) + digit;
    }
    return digits > 0;
}

/// Reads the separator character; false when the next character is another.
inline bool scanLiteral(const char*& p, char separator) {
    if (*p != separator) return false;
    ++p;
    return true;
}

}  // namespace net::detail
