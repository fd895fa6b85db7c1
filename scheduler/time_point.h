#pragma once

#include <cstdint>
#include <ctime>
#include <limits>
#include <string>

// Scheduler time: system-clock points as signed counts of 100-nanosecond ticks
// since 1970-01-01 00:00 UTC. Task dates and times are entered as local time;
// every conversion here goes through the C library's time zone (TZ), so all of
// them are safe on any thread once the zone is set at start-up.
namespace scheduler {

using TimePoint = std::int64_t;

constexpr TimePoint kTicksPerSecond = 10'000'000;
constexpr TimePoint kTicksPerMinute = 60 * kTicksPerSecond;
constexpr TimePoint kTicksPerDay = 86'400 * kTicksPerSecond;
/// A task whose end is this never ends.
constexpr TimePoint kNoEnd = std::numeric_limits<TimePoint>::max();

constexpr TimePoint fromTimeT(std::time_t seconds) {
    return static_cast<TimePoint>(seconds) * kTicksPerSecond;
}

/// Whole seconds, rounded towards the past (also before 1970).
constexpr std::time_t toTimeT(TimePoint point) {
    TimePoint seconds = point / kTicksPerSecond;
    if (point % kTicksPerSecond < 0) --seconds;
    return static_cast<std::time_t>(seconds);
}

/// The start of the minute that holds the point.
constexpr TimePoint floorToMinute(TimePoint point) {
    TimePoint rest = point % kTicksPerMinute;
    if (rest < 0) rest += kTicksPerMinute;
    return point - rest;
}

/// A wall-clock date and minute as the operator enters them.
struct LocalDateTime {
    int year = 1970;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;
    int minute = 0;
};

/// Checks the texts ("YYYY-MM-DD"; "H:MM", "HH:MM" or "HH:MM:SS") and reads
/// the date and the minute; seconds are dropped. A text that does not fit logs
/// a WARN line and throws exception::IncorrectFormat.
LocalDateTime parseLocalDateTime(const std::wstring& date, const std::wstring& time);

/// The point of that local date and minute, plus `dayOffset` calendar days.
/// Daylight saving is decided by the C library for the resulting day, so a
/// minute keeps its wall-clock time across a change of summer time. A minute
/// that the change skips comes out one hour later, as mktime normalises it.
TimePoint toTimePoint(const LocalDateTime& local, std::int64_t dayOffset = 0);

/// Local date and time texts to a point: parseLocalDateTime, then toTimePoint.
TimePoint strUtcToTimePoint(const std::wstring& date, const std::wstring& time);

/// The local calendar time of a point (localtime_r); a failure throws
/// exception::InternalError.
std::tm toLocalCalendar(TimePoint point);

/// "%Y-%m-%d %H-%M-%S" in local time, as the run log prints a next run.
std::wstring toLocalText(TimePoint point);

/// The current system time.
TimePoint systemNow();

/// Logs the machine's time zone at INFO; the owner calls it once at start-up.
void logTimeZone();

}  // namespace scheduler
