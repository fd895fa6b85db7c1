// The soak's scheduler clock: real time times a speed, sleeps shortened by
// the same factor and not cut by a step, and a step that moves the time.
#include <chrono>

#include <gtest/gtest.h>

#include "tools/soak/stepped_clock.h"

using scheduler::kTicksPerMinute;
using scheduler::kTicksPerSecond;

TEST(SteppedClock, RunsFasterSleepsShorterAndSteps) {
    const scheduler::TimePoint start = 1'000 * kTicksPerMinute;
    soak::SteppedClock clock(start, 60.0);  // a minute a second
    scheduler::Alarm alarm;

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(clock.sleep(15 * kTicksPerSecond, alarm));  // a quarter of a real second
    const auto slept = std::chrono::steady_clock::now() - before;
    EXPECT_GE(slept, std::chrono::milliseconds(245));
    EXPECT_LT(slept, std::chrono::milliseconds(2000));
    const scheduler::TimePoint woke = clock.now();
    EXPECT_GE(woke, start + 15 * kTicksPerSecond);
    EXPECT_LT(woke, start + 2 * kTicksPerMinute);

    const scheduler::TimePoint left = clock.step(10 * kTicksPerMinute);
    const scheduler::TimePoint after = clock.now();
    EXPECT_GE(left, woke);
    EXPECT_GE(after, left + 10 * kTicksPerMinute);
    EXPECT_LT(after, left + 11 * kTicksPerMinute);

    // A ring still ends the sleep early.
    alarm.ring();
    EXPECT_TRUE(clock.sleep(kTicksPerMinute, alarm));
}
