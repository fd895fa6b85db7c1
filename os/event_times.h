#pragma once

#include <cstdint>

// Time stamps of system events (kept in 100-ns ticks since 1970-01-01 UTC)
// and the window the scheduler consults when a sleep lasted far longer or
// shorter than planned. No code records an event yet, so the stamps stay 0
// and the window answers false. Any thread; nothing here is written.
namespace os {

/// The stamp of event 0 to 3; a larger index logs an ERROR and gives 0.
std::int64_t getEventTime(const std::uint32_t& index);

/// True when event 2 lies more than 120 s in the past (only while the event
/// switch is on), or event 3 lies no more than 180 s in the past.
bool isWithinEventWindow();
/// The same decision for a clock reading `now` in 100-ns ticks since 1970.
bool isWithinEventWindow(std::int64_t now);

/// The name the scheduler calls the window by; the same answer.
inline bool checkEventTimes() { return isWithinEventWindow(); }

}  // namespace os
