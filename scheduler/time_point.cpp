#include "scheduler/time_point.h"

#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <fstream>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text_checks.h"

namespace scheduler {

LocalDateTime parseLocalDateTime(const std::wstring& date, const std::wstring& time) {
    if (!parseDate(date) || !parseTime(time)) {
        base::LogPlace("scheduler::strUtcToTimePoint")
            .warn(L"Неправильный формат даты %1% или времени %2%", date, time);
        throw exception::IncorrectFormat(L"date '" + date + L"', time '" + time + L"'");
    }
    // Both texts passed the checks, so the scans below cannot fail; seconds,
    // when given, are dropped.
    LocalDateTime local;
    std::swscanf(date.c_str(), L"%d-%d-%d", &local.year, &local.month, &local.day);
    std::swscanf(time.c_str(), L"%d:%d", &local.hour, &local.minute);
    return local;
}

TimePoint toTimePoint(const LocalDateTime& local, std::int64_t dayOffset) {
    std::tm calendar{};
    calendar.tm_year = local.year - 1900;
    calendar.tm_mon = local.month - 1;
    calendar.tm_mday = static_cast<int>(local.day + dayOffset);
    calendar.tm_hour = local.hour;
    calendar.tm_min = local.minute;
    calendar.tm_sec = 0;
    // Let mktime find out whether summer time applies on that day; a fixed 0
    // would put every summer date one hour off.
    calendar.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&calendar);
    debug::throwIfFalse(seconds != static_cast<std::time_t>(-1), SV_PLACE,
                        L"mktime failed");
    return fromTimeT(seconds);
}

TimePoint strUtcToTimePoint(const std::wstring& date, const std::wstring& time) {
    return toTimePoint(parseLocalDateTime(date, time));
}

std::tm toLocalCalendar(TimePoint point) {
    const std::time_t seconds = toTimeT(point);
    std::tm calendar{};
    if (localtime_r(&seconds, &calendar) == nullptr)
        throw exception::InternalError(L"Ошибка конвертации глобального времени в локальное");
    return calendar;
}

std::wstring toLocalText(TimePoint point) {
    const std::tm calendar = toLocalCalendar(point);
    wchar_t text[64];
    const std::size_t length = std::wcsftime(text, 64, L"%Y-%m-%d %H-%M-%S", &calendar);
    return std::wstring(text, length);
}

TimePoint systemNow() {
    using namespace std::chrono;
    // system_clock counts from 1970-01-01 UTC on every platform we build for.
    return duration_cast<duration<TimePoint, std::ratio<1, kTicksPerSecond>>>(
               system_clock::now().time_since_epoch())
        .count();
}

void logTimeZone() {
    tzset();
    std::string name;
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        name = tz[0] == ':' ? tz + 1 : tz;
    } else {
        std::ifstream file("/etc/timezone");
        std::getline(file, name);
    }
    std::string zone = name.empty() ? std::string(tzname[0]) : name;
    zone += std::string(" (") + tzname[0] + "/" + tzname[1] + ")";
    LOG_INFO(L"Планировщик. Временная зона '%1%'", base::fromUtf8(zone));
}

}  // namespace scheduler
