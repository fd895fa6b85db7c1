#pragma once

#include <atomic>
#include <chrono>

#include "scheduler/clock.h"

namespace soak {

/// The scheduler's clock in the soak: it starts at a chosen date, then runs
/// with real time, `speed` times as fast (a scheduler minute lasts 60/speed
/// real seconds), and jumps forward when told, as a system clock does when
/// the operator or a time server sets it. Sleeps are real waits, shortened
/// by the same factor, and are not cut short by a jump (nor are the system
/// clock's).
///
/// Threads: the scheduler thread sleeps and reads; any thread reads; one
/// thread (the soak's main thread) steps.
class SteppedClock : public scheduler::Clock {
public:
    SteppedClock(scheduler::TimePoint start, double speed);

    scheduler::TimePoint now() const override;
    bool sleep(scheduler::TimePoint duration, scheduler::Alarm& alarm) override;

    /// Jumps `by` ticks forward; returns the time just before the jump.
    scheduler::TimePoint step(scheduler::TimePoint by);

private:
    const scheduler::TimePoint m_start;
    const double m_speed;
    const std::chrono::steady_clock::time_point m_origin;
    std::atomic<scheduler::TimePoint> m_offset{0};
};

}  // namespace soak
