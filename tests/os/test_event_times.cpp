#include <chrono>

#include <gtest/gtest.h>

#include "base/clock.h"
#include "os/event_times.h"
#include "tests/base/log_fixture.h"

using base::Log;

using EventTimes = LogFixture;

TEST_F(EventTimes, UnknownEventIsAnErrorAndZero) {
    startLog(Log::DEBUG);
    EXPECT_EQ(os::getEventTime(3), 0);
    EXPECT_TRUE(observed().empty());
    EXPECT_EQ(os::getEventTime(4), 0);
    EXPECT_EQ(os::getEventTime(0xFFFFFFFFu), 0);
    EXPECT_EQ(observed(), (std::vector<std::wstring>{L"ERROR|Получено неизвестное событие=4",
                                                      L"ERROR|Получено неизвестное событие=4294967295"}));
}

// With no event recorded, the window is the first 180 s after 1970-01-01,
// the end included; the scheduler's name for it gives the same answer.
TEST_F(EventTimes, WindowEndsThreeMinutesAfterTheEpoch) {
    constexpr std::int64_t kThreeMinutes = 180LL * 10000000;
    EXPECT_TRUE(os::isWithinEventWindow(kThreeMinutes));
    EXPECT_FALSE(os::isWithinEventWindow(kThreeMinutes + 1));
    EXPECT_FALSE(os::isWithinEventWindow());
    EXPECT_FALSE(os::checkEventTimes());
}

// Microseconds since 1601 against the system clock read independently.
TEST(WallClock, NowMicrosecondsCountsFrom1601) {
    constexpr std::int64_t k1601To1970Seconds = 11644473600LL;
    const std::int64_t before =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::int64_t stamp = nowMicroseconds() - k1601To1970Seconds * 1000000;
    const std::int64_t after =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
}
