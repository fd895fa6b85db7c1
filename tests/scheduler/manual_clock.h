#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>

#include "scheduler/clock.h"

namespace testing_support {

/// A clock that moves only when told: the scheduler thread's sleep blocks
/// until the driver ends it with tick(), which also sets the time the sleeper
/// wakes to. The driver returns only when the scheduler sleeps again, so
/// whatever the tick ran is finished by then. Used by the scheduler tests and
/// its benchmark, so that a day of minutes takes no real minutes.
class ManualClock : public scheduler::Clock {
public:
    explicit ManualClock(scheduler::TimePoint start) : m_now(start) {}

    scheduler::TimePoint now() const override { return m_now.load(); }

    /// Sets the time while the scheduler sleeps, e.g. before making tasks.
    void set(scheduler::TimePoint now) { m_now.store(now); }

    bool sleep(scheduler::TimePoint duration, scheduler::Alarm& alarm) override {
        std::uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_deadline = m_now.load() + (duration > 0 ? duration : 0);
            m_alarm = &alarm;
            m_asleep = true;
            ++m_sleeps;
            generation = m_releases;
        }
        m_changed.notify_all();
        const bool rung = alarm.waitUntil([&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_releases != generation;
        });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_asleep = false;
            m_alarm = nullptr;
        }
        m_changed.notify_all();
        return rung;
    }

    /// Ends the current sleep as if it had lasted as planned, with the system
    /// clock then `shift` ticks off (a clock set during the sleep), and waits
    /// until the scheduler sleeps again. Returns the time it woke to.
    scheduler::TimePoint tick(scheduler::TimePoint shift = 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitFor(lock, [&] { return m_asleep; });
        const scheduler::TimePoint woke = m_deadline + shift;
        m_now.store(woke);
        ++m_releases;
        const std::uint64_t sleeps = m_sleeps;
        scheduler::Alarm* alarm = m_alarm;
        lock.unlock();
        alarm->poke();
        lock.lock();
        waitFor(lock, [&] { return m_asleep && m_sleeps > sleeps; });
        return woke;
    }

    /// Ticks minute by minute until the clock has reached `until`.
    void runUntil(scheduler::TimePoint until) {
        while (m_now.load() < until) tick();
    }

    /// Runs `action` (which rings the scheduler's alarm, like putTask) and
    /// waits until the scheduler has woken and sleeps again.
    template <class Action>
    void afterWake(Action action) {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitFor(lock, [&] { return m_asleep; });
        const std::uint64_t sleeps = m_sleeps;
        lock.unlock();
        action();
        lock.lock();
        waitFor(lock, [&] { return m_asleep && m_sleeps > sleeps; });
    }

    /// Waits until the scheduler thread sleeps.
    void waitAsleep() {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitFor(lock, [&] { return m_asleep; });
    }

    /// When the current sleep is planned to end.
    scheduler::TimePoint deadline() {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitFor(lock, [&] { return m_asleep; });
        return m_deadline;
    }

private:
    template <class Ready>
    void waitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
        // A scheduler that never comes back is a failed test, not a hang.
        if (!m_changed.wait_for(lock, std::chrono::seconds(20), ready))
            throw std::runtime_error("the scheduler thread did not go to sleep");
    }

    std::atomic<scheduler::TimePoint> m_now;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    scheduler::TimePoint m_deadline = 0;
    scheduler::Alarm* m_alarm = nullptr;
    bool m_asleep = false;
    std::uint64_t m_sleeps = 0;
    std::uint64_t m_releases = 0;
};

}  // namespace testing_support
