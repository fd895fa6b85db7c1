#pragma once

#include <memory>

#include "scheduler/core.h"
#include "scheduler/task.h"
#include "tools/soak/minute_ledger.h"
#include "tools/soak/stepped_clock.h"

namespace soak {

/// The scheduler on a stepped clock with one daily task for every minute of
/// a stretch, each at its own local wall-clock minute: together a task due
/// every minute, through whatever change of summer time the stretch holds
/// and through clock steps. Each firing is entered in a MinuteLedger.
///
/// Threads: the owner's thread builds, steps, closes and stops; the
/// scheduler thread runs the tasks; their events run wherever `dispatch`
/// sends them and may outlive this object.
class MinuteSchedule {
public:
    /// The clock starts at `start` and runs `speed` times as fast as real
    /// time; the tasks cover every minute after `start` up to `until`.
    MinuteSchedule(scheduler::TimePoint start, double speed, scheduler::TimePoint until,
                   scheduler::task::Dispatch dispatch);
    ~MinuteSchedule();
    MinuteSchedule(const MinuteSchedule&) = delete;
    MinuteSchedule& operator=(const MinuteSchedule&) = delete;

    /// Sets the clock `by` ticks forward (once).
    void step(scheduler::TimePoint by);
    /// Ends the account at the current time less `margin`, which leaves the
    /// last tick time to come in.
    void close(scheduler::TimePoint margin);
    /// Stops the scheduler thread; safe to repeat.
    void stop();

    MinuteLedger::Figures figures() const { return m_ledger->figures(); }
    std::uint64_t firings() const { return m_ledger->firings(); }
    scheduler::TimePoint now() const { return m_clock->now(); }
    scheduler::TimePoint started() const { return m_started; }
    scheduler::TimePoint ended() const { return m_ended; }
    /// Where the step left from (0: no step yet).
    scheduler::TimePoint stepFrom() const { return m_stepFrom; }

private:
    const std::shared_ptr<SteppedClock> m_clock;
    const std::shared_ptr<MinuteLedger> m_ledger;
    std::unique_ptr<scheduler::Core> m_core;
    scheduler::TimePoint m_started = 0;
    scheduler::TimePoint m_ended = 0;
    scheduler::TimePoint m_stepFrom = 0;
    scheduler::TimePoint m_stepTo = 0;
};

}  // namespace soak
