#include <gtest/gtest.h>

#include "base/exception.h"
#include "scheduler/time_point.h"
#include "tests/scheduler/scheduler_fixture.h"

using namespace scheduler;
using testing_support::utc;

using TimeTexts = testing_support::SchedulerTest;

TEST_F(TimeTexts, ReadsDateAndMinuteAndDropsSeconds) {
    EXPECT_EQ(strUtcToTimePoint(L"2025-01-15", L"09:30"), utc(2025, 1, 15, 9, 30));
    EXPECT_EQ(strUtcToTimePoint(L"2025-01-15", L"9:05"), utc(2025, 1, 15, 9, 5));
    EXPECT_EQ(strUtcToTimePoint(L"2025-01-15", L"23:59:59"), utc(2025, 1, 15, 23, 59));
    EXPECT_EQ(strUtcToTimePoint(L"2000-01-01", L"0:00"), utc(2000, 1, 1, 0, 0));
    // The date check does not know month lengths; the calendar carries over.
    EXPECT_EQ(strUtcToTimePoint(L"2024-02-31", L"12:00"), utc(2024, 3, 2, 12, 0));
}

// The texts themselves are checked by parseDate and parseTime; here only
// that a refused text becomes the format error.
TEST_F(TimeTexts, RefusesTextsThatDoNotFit) {
    EXPECT_THROW(strUtcToTimePoint(L"2025-1-15", L"09:30"), exception::IncorrectFormat);
    EXPECT_THROW(strUtcToTimePoint(L"2025-01-15", L"24:00"), exception::IncorrectFormat);
    EXPECT_THROW(strUtcToTimePoint(L"", L""), exception::IncorrectFormat);
}

TEST_F(TimeTexts, SummerDatesKeepTheirWallClockMinute) {
    // A calendar record with summer time left at 0 would put every summer
    // date an hour late.
    useZone("Europe/Berlin");
    EXPECT_EQ(strUtcToTimePoint(L"2025-01-15", L"12:00"), utc(2025, 1, 15, 11, 0));
    EXPECT_EQ(strUtcToTimePoint(L"2025-07-01", L"12:00"), utc(2025, 7, 1, 10, 0));
    EXPECT_EQ(strUtcToTimePoint(L"2025-03-30", L"01:59"), utc(2025, 3, 30, 0, 59));
    EXPECT_EQ(strUtcToTimePoint(L"2025-03-30", L"03:00"), utc(2025, 3, 30, 1, 0));

    // Calendar days, not 24-hour steps, across both changes of the year.
    const LocalDateTime spring{2025, 3, 29, 9, 30};
    EXPECT_EQ(toTimePoint(spring, 0), utc(2025, 3, 29, 8, 30));
    EXPECT_EQ(toTimePoint(spring, 1), utc(2025, 3, 30, 7, 30));
    const LocalDateTime autumn{2025, 10, 25, 9, 30};
    EXPECT_EQ(toTimePoint(autumn, 1), utc(2025, 10, 26, 8, 30));
    EXPECT_EQ(toTimePoint(autumn, 40), utc(2025, 12, 4, 8, 30));
}

TEST_F(TimeTexts, LocalTextOfTheRunLog) {
    EXPECT_EQ(toLocalText(utc(2025, 6, 1, 7, 8, 9, 500)), L"2025-06-01 07-08-09");
    useZone("Europe/Berlin");
    EXPECT_EQ(toLocalText(utc(2025, 6, 1, 7, 8, 9)), L"2025-06-01 09-08-09");
}

TEST(TimeArithmetic, RoundsTowardsThePastAlsoBefore1970) {
    EXPECT_EQ(floorToMinute(utc(2025, 6, 1, 7, 8, 59, 999)), utc(2025, 6, 1, 7, 8));
    EXPECT_EQ(floorToMinute(-1), -kTicksPerMinute);
    EXPECT_EQ(floorToMinute(-kTicksPerMinute), -kTicksPerMinute);
    EXPECT_EQ(toTimeT(-1), -1);
    EXPECT_EQ(toTimeT(kTicksPerSecond - 1), 0);
    const TimePoint now = systemNow();
    EXPECT_LE(std::abs(toTimeT(now) - std::time(nullptr)), 1);
}
