// The scheduler on a clock that follows real time (here 120 times as fast:
// a minute lasts half a second), with a task due every minute, through the
// change to summer time and a forward step of the clock: no minute the clock
// ran through may go without its firing.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <gtest/gtest.h>

#include "tests/scheduler/scheduler_fixture.h"
#include "tools/soak/minute_schedule.h"

using scheduler::kTicksPerMinute;
using scheduler::kTicksPerSecond;
using scheduler::TimePoint;
using testing_support::utc;

namespace {

long zoneOffsetMinutes(TimePoint point) { return scheduler::toLocalCalendar(point).tm_gmtoff / 60; }

/// The events only record: they may run on the scheduler thread.
void runAtOnce(const std::wstring&, scheduler::task::Event job) { job(); }

}  // namespace

class MinuteScheduleTest : public testing_support::SchedulerTest {};

TEST_F(MinuteScheduleTest, EveryMinuteFiresThroughSummerTimeAndAClockStep) {
    useZone("CET-1CEST,M3.5.0,M10.5.0/3");  // summer time from 2027-03-28 01:00 UTC
    const TimePoint start = utc(2027, 3, 28, 0, 56, 20);
    soak::MinuteSchedule schedule(start, 120.0, start + 30 * kTicksPerMinute, runAtOnce);
    const long before = zoneOffsetMinutes(schedule.now());

    std::this_thread::sleep_for(std::chrono::milliseconds(3200));  // past 01:02 UTC, 03:02 local
    schedule.step(10 * kTicksPerMinute + 30 * kTicksPerSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    schedule.close(20 * kTicksPerSecond);
    schedule.stop();

    EXPECT_EQ(before, 60);
    EXPECT_EQ(zoneOffsetMinutes(schedule.now()), 120);
    const auto figures = schedule.figures();
    // About six minutes before the step and five after it.
    EXPECT_GE(figures.expected, 9u);
    EXPECT_EQ(figures.missed, 0u);
    EXPECT_EQ(figures.fired, figures.expected);
    // The minute the step lands in may or may not be served; nothing else is extra.
    EXPECT_LE(figures.extra, 1u);
}
