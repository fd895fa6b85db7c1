#include <chrono>

#include <gtest/gtest.h>

#include "base/clock.h"
#include "os/event_times.h"
#include "tests/base/log_fixture.h"

using EventTimes = LogFixture;

TEST_F(EventTimes, UnknownEventIsAnErrorAndZero) {
    startLog(base::Log::DEBUG);
    EXPECT_EQ(os::getEventTime(3), 0);
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

TEST(WallClock, NowMicrosecondsCountsFrom1601) {
    using namespace std::chrono;
    auto unixMicros = [] { return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count(); };
    const std::int64_t before = unixMicros();
    const std::int64_t stamp = nowMicroseconds() - 11644473600LL * 1000000;
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, unixMicros());
}
