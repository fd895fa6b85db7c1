#include "gui/build_date.h"

#include <array>
#include <cstdio>
#include <sstream>

#include "base/log.h"

namespace frm {

std::wstring formatBuildDate(const std::string& compilerDate) {
    static const std::array<const char*, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::istringstream in(compilerDate);
    std::string word;
    int day = 0;
    int year = 0;
    in >> word >> day >> year;
    int month = 0;
    for (std::size_t i = 0; i < months.size() && month == 0; ++i)
        if (word == months[i]) month = static_cast<int>(i) + 1;
    if (month == 0) LOG_WARN(L"internal error. month %1%", word);
    wchar_t text[32];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02d.%02d.%04d", day, month, year);
    return text;
}

std::wstring getBuildDate() { return formatBuildDate(__DATE__); }

}  // namespace frm
