#pragma once

#include <cstdint>

/// Wall-clock time stamp: the current UTC time in whole microseconds since
/// 1601-01-01 00:00:00. It jumps when the system clock is set, so it stamps
/// events (activity, silence start) and never measures waits or delays.
/// Any thread.
std::int64_t nowMicroseconds();
