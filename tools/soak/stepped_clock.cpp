#include "tools/soak/stepped_clock.h"

namespace soak {

SteppedClock::SteppedClock(scheduler::TimePoint start, double speed)
    : m_start(start), m_speed(speed > 0 ? speed : 1.0), m_origin(std::chrono::steady_clock::now()) {}

scheduler::TimePoint SteppedClock::now() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - m_origin)
                             .count();
    // Ticks are 100 ns.
    return m_start + m_offset.load() + static_cast<scheduler::TimePoint>(elapsed / 100 * m_speed);
}

bool SteppedClock::sleep(scheduler::TimePoint duration, scheduler::Alarm& alarm) {
    return alarm.waitFor(static_cast<scheduler::TimePoint>(duration > 0 ? duration / m_speed : 0));
}

scheduler::TimePoint SteppedClock::step(scheduler::TimePoint by) {
    const scheduler::TimePoint before = now();
    m_offset.fetch_add(by);
    return before;
}

}  // namespace soak
