#include "base/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <utility>

#include <boost/locale/encoding_utf.hpp>

namespace base {
namespace {

// Bytes 0x80..0xBF of code page 1251; 0xC0..0xFF are U+0410..U+044F.
constexpr std::array<char16_t, 64> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

using ReverseEntry = std::pair<char16_t, unsigned char>;

// kUpperHalf sorted by character, for the wide-to-narrow direction.
const std::array<ReverseEntry, 64>& reverseTable() {
    static const std::array<ReverseEntry, 64> table = [] {
        std::array<ReverseEntry, 64> t{};
        for (std::size_t i = 0; i < kUpperHalf.size(); ++i)
            t[i] = {kUpperHalf[i], static_cast<unsigned char>(0x80 + i)};
        std::sort(t.begin(), t.end());
        return t;
    }();
    return table;
}

/// The code page byte of a character, or -1 when it has none.
int narrowByte(wchar_t c) {
    if (c >= 0 && c < 0x80) return static_cast<int>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<int>(c - 0x0410 + 0xC0);
    if (c < 0 || c > 0xFFFF) return -1;
    const auto& table = reverseTable();
    const auto key = static_cast<char16_t>(c);
    auto it = std::lower_bound(table.begin(), table.end(), key,
                               [](const ReverseEntry& e, char16_t k) { return e.first < k; });
    if (it == table.end() || it->first != key) return -1;
    return it->second;
}

wchar_t wideChar(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return static_cast<wchar_t>(0x0410 + (byte - 0xC0));
    return static_cast<wchar_t>(kUpperHalf[byte - 0x80]);
}

}  // namespace

std::string toNarrow(const std::wstring& text) {
    const std::size_t length = std::wcslen(text.c_str());
    std::string result(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        const int byte = narrowByte(text[i]);
        result[i] = byte < 0 ? '?' : static_cast<char>(byte);
    }
    return result;
}

std::wstring toWide(const std::string& text) {
    const std::size_t length = std::strlen(text.c_str());
    std::wstring result(length, L'\0');
    for (std::size_t i = 0; i < length; ++i)
        result[i] = wideChar(static_cast<unsigned char>(text[i]));
    return result;
}

bool isRepresentableInCp1251(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return narrowByte(c) >= 0; });
}

std::string toUtf8(const std::wstring& text) {
    return boost::locale::conv::utf_to_utf<char>(text);
}

std::wstring fromUtf8(const std::string& text) {
    return boost::locale::conv::utf_to_utf<wchar_t>(text);
}

bool isValidUtf8(const std::string& text) {
    try {
        boost::locale::conv::utf_to_utf<wchar_t>(text, boost::locale::conv::stop);
        return true;
    } catch (const boost::locale::conv::conversion_error&) {
        return false;
    }
}

}  // namespace base

std::string toNarrowString(const wchar_t* text) {
    return base::toNarrow(std::wstring(text));
}

int toCharBuffer(char* destination, const wchar_t* text) {
    const std::string converted = toNarrowString(text);
    std::memcpy(destination, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size());
}

std::wstring toWString(const char* text) {
    return base::toWide(std::string(text));
}

int toWCharBuffer(wchar_t* destination, const char* text) {
    const std::wstring converted = toWString(text);
    std::wmemcpy(destination, converted.c_str(), converted.size() + 1);
    return static_cast<int>(converted.size());
}
