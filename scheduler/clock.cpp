#include "scheduler/clock.h"

#include <chrono>

namespace scheduler {

void Alarm::ring() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_rung = true;
    }
    m_wake.notify_all();
}

bool Alarm::waitFor(TimePoint duration) {
    // A steady deadline: setting the system clock must not stretch the sleep;
    // the scheduler notices the jump itself after waking.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::nanoseconds(duration > 0 ? duration * 100 : 0);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, deadline, [this] { return m_rung; });
    return take();
}

void Alarm::poke() {
    // Taking the mutex orders the waker's change before the waiter's check.
    { std::lock_guard<std::mutex> lock(m_mutex); }
    m_wake.notify_all();
}

bool Alarm::take() {
    const bool rung = m_rung;
    m_rung = false;
    return rung;
}

namespace {

class SystemClock : public Clock {
public:
    TimePoint now() const override { return systemNow(); }
    bool sleep(TimePoint duration, Alarm& alarm) override { return alarm.waitFor(duration); }
};

}  // namespace

std::shared_ptr<Clock> systemClock() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

}  // namespace scheduler
