// The soak's account of a task due every minute: which minutes count as
// expected around a clock step, and which firings serve them.
#include <gtest/gtest.h>

#include "tools/soak/minute_ledger.h"

using scheduler::kTicksPerMinute;
using scheduler::kTicksPerSecond;
using scheduler::TimePoint;
using soak::MinuteLedger;

namespace {

constexpr TimePoint kTick = 500'000;  // 50 ms
constexpr TimePoint kBase = 1'000 * kTicksPerMinute;

TimePoint minute(int n) { return kBase + n * kTicksPerMinute; }

}  // namespace

TEST(MinuteLedger, EveryMinuteTheClockRanThroughIsExpectedOnce) {
    MinuteLedger ledger(kTick);
    // From 20 s into minute 0 to just past minute 5's tick: minutes 1..5.
    ledger.ranThrough(minute(0) + 20 * kTicksPerSecond, minute(5) + kTick + 1);
    for (int n = 1; n <= 5; ++n)
        if (n != 3) ledger.fired(minute(n), minute(n) + kTick);
    const auto figures = ledger.figures();
    EXPECT_EQ(figures.expected, 5u);
    EXPECT_EQ(figures.fired, 4u);
    EXPECT_EQ(figures.missed, 1u);
    ASSERT_EQ(figures.missedMinutes.size(), 1u);
    EXPECT_EQ(figures.missedMinutes[0], minute(3));
    EXPECT_EQ(figures.extra, 0u);
}

TEST(MinuteLedger, MinutesAStepJumpedOverAreNotExpected) {
    MinuteLedger ledger(kTick);
    // A jump from 30 s into minute 2 to 30 s into minute 12.
    ledger.ranThrough(minute(0) + 20 * kTicksPerSecond, minute(2) + 30 * kTicksPerSecond);
    ledger.ranThrough(minute(12) + 30 * kTicksPerSecond, minute(15));
    for (const int n : {1, 2, 13, 14}) ledger.fired(minute(n), minute(n) + kTick);
    const auto figures = ledger.figures();
    EXPECT_EQ(figures.expected, 4u);
    EXPECT_EQ(figures.missed, 0u);
    // The minute the step landed in may still be served: extra, not wrong.
    ledger.fired(minute(12), minute(12) + 30 * kTicksPerSecond);
    EXPECT_EQ(ledger.figures().extra, 1u);
    EXPECT_EQ(ledger.figures().missed, 0u);
}

TEST(MinuteLedger, LateOrRepeatedFiringsDoNotServeTheirMinute) {
    MinuteLedger ledger(kTick);
    ledger.ranThrough(minute(0) + 20 * kTicksPerSecond, minute(3));
    ledger.fired(minute(1), minute(2) + kTick);  // a minute late
    ledger.fired(minute(2), minute(2) + kTick);
    ledger.fired(minute(2), minute(2) + 2 * kTick);  // twice
    const auto figures = ledger.figures();
    EXPECT_EQ(figures.expected, 2u);
    EXPECT_EQ(figures.fired, 1u);
    EXPECT_EQ(figures.missed, 1u);
    EXPECT_EQ(figures.extra, 2u);
}
