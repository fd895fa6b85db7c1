#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "scheduler/time_point.h"

namespace soak {

/// The account of a task due every minute: which minutes the scheduler
/// should have served and which firings came. A minute is expected when its
/// tick (the minute plus the scheduler's tick delay) lies on a stretch the
/// clock ran through without a jump; minutes a clock step jumped over are not
/// expected. A firing counts for its minute only when the clock read that
/// minute at the time; anything else is extra.
///
/// Threads: firings come from the dispatcher's workers, the stretches and the
/// figures from the soak's main thread.
class MinuteLedger {
public:
    struct Figures {
        std::uint64_t expected = 0;
        std::uint64_t fired = 0;   // expected minutes served, once each
        std::uint64_t missed = 0;  // expected minutes without a firing
        std::uint64_t extra = 0;   // a second firing, a wrong minute, a minute not expected
        std::vector<scheduler::TimePoint> missedMinutes;  // the first few
    };

    explicit MinuteLedger(scheduler::TimePoint tickDelay) : m_tickDelay(tickDelay) {}

    /// The clock ran from `from` to `to` (scheduler time) without a jump.
    void ranThrough(scheduler::TimePoint from, scheduler::TimePoint to);
    /// The task of `minute` fired while the clock read `at`.
    void fired(scheduler::TimePoint minute, scheduler::TimePoint at);
    Figures figures() const;
    /// Every firing so far, on time or not.
    std::uint64_t firings() const;

private:
    const scheduler::TimePoint m_tickDelay;
    mutable std::mutex m_mutex;
    std::vector<std::pair<scheduler::TimePoint, scheduler::TimePoint>> m_stretches;
    std::map<scheduler::TimePoint, unsigned> m_onTime;  // minute -> firings read in it
    std::uint64_t m_offTime = 0;
};

}  // namespace soak
