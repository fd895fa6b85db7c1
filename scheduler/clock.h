#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "scheduler/time_point.h"

namespace scheduler {

/// Ends the scheduler thread's sleep early: rung by putTask (a new task may be
/// due in the current minute) and by stop. A ring is kept until a sleep takes
/// it, so one that comes while the thread is busy is not lost.
class Alarm {
public:
    /// Any thread.
    void ring();

    /// Scheduler thread: waits for the duration or the ring; true when rung.
    bool waitFor(TimePoint duration);

    /// Scheduler thread: waits until `ready()` or the ring; true when rung.
    /// Whoever changes what `ready` reads calls poke() afterwards.
    template <class Ready>
    bool waitUntil(Ready ready) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [&] { return m_rung || ready(); });
        return take();
    }

    /// Makes a waiter of waitUntil look at its condition again.
    void poke();

private:
    bool take();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_rung = false;
};

/// Where the scheduler gets the time and how it sleeps: the system clock in
/// the program, a clock that a test or a benchmark moves by hand otherwise.
class Clock {
public:
    virtual ~Clock() = default;

    /// The system time; may jump when the operator sets the clock.
    virtual TimePoint now() const = 0;

    /// Blocks the calling thread for `duration` ticks (not less than 0) or until
    /// the alarm rings; true when it rang.
    virtual bool sleep(TimePoint duration, Alarm& alarm) = 0;
};

/// The system clock with a real sleep; shared, stateless.
std::shared_ptr<Clock> systemClock();

}  // namespace scheduler
