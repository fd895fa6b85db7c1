#include "base/text_checks.h"

#include <locale>
#include <regex>
#include <stdexcept>

#include "base/text.h"

namespace {

// Cyrillic letters count as printable only under a UTF-8 character
// classification; the pattern must not depend on the process's global locale.
std::locale utf8Classification() {
    try {
        return std::locale("C.UTF-8");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

const std::wregex& titlePattern() {
    static const std::wregex pattern = [] {
        std::wregex re;
        re.imbue(utf8Classification());
        re.assign(L"[№А-Яа-я[:print:]]{1,64}");
        return re;
    }();
    return pattern;
}

/// The value of a matched group of decimal digits (at most four of them).
unsigned number(const std::wssub_match& group) {
    unsigned value = 0;
    for (auto it = group.first; it != group.second; ++it) value = value * 10 + static_cast<unsigned>(*it - L'0');
    return value;
}

}  // namespace

bool isValidTitle(const std::wstring& text) {
    return std::regex_match(text, titlePattern()) && base::isRepresentableInCp1251(text);
}

bool isHexText(const std::string& text) {
    static const std::regex pattern("[a-fA-F0-9]+");
    return std::regex_match(text, pattern);
}

bool parseDate(const std::wstring& text) {
    static const std::wregex pattern(L"([0-9]{4})-([0-9]{2})-([0-9]{2})");
    std::wsmatch match;
    if (!std::regex_match(text, match, pattern)) return false;
    const unsigned year = number(match[1]);
    return year >= 2000 && year <= 2100 && number(match[2]) <= 12 && number(match[3]) <= 31;
}

bool parseTime(const std::wstring& text) {
    static const std::wregex pattern(
        L"(([0-9]{1,2}):([0-9]{2}):([0-9]{2}))|(([0-9]{1,2}):([0-9]{2}))");
    std::wsmatch match;
    if (!std::regex_match(text, match, pattern)) return false;
    unsigned hours, minutes, seconds = 0;
    if (match[1].matched) {
        hours = number(match[2]);
        minutes = number(match[3]);
        seconds = number(match[4]);
    } else {
        hours = number(match[6]);
        minutes = number(match[7]);
    }
    return hours < 24 && minutes < 60 && seconds < 60;
}
