#pragma once

#include <cstdint>

/// Time stamps of a sample stream in microseconds: each step adds
/// frames x 1,000,000 / rate and carries the remainder, so that no time is
/// lost however the frames are split (2048 frames at 44100 Hz advance it by
/// 46,439 or 46,440, and 44,100 frames by exactly one second).
struct sample_clock {
    std::int64_t date = 0;        // microseconds
    std::uint32_t divider = 1;    // sample rate
    std::uint32_t remainder = 0;  // carried part, in units of 1/divider microsecond
};

/// A new rate from now on; the date is kept, the carried part dropped.
void sample_clock_set_rate(sample_clock& clock, std::uint32_t samplerate);

/// Advances the clock by the frames and returns the new date.
std::int64_t sample_clock_increment(sample_clock& clock, std::uint32_t frames);
