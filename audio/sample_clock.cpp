#include "audio/sample_clock.h"

void sample_clock_set_rate(sample_clock& clock, std::uint32_t samplerate) {
    clock.divider = samplerate == 0 ? 1 : samplerate;
    clock.remainder = 0;
}

std::int64_t sample_clock_increment(sample_clock& clock, std::uint32_t frames) {
    const std::uint64_t dividend = std::uint64_t{frames} * 1000000u;
    clock.date += static_cast<std::int64_t>(dividend / clock.divider);
    clock.remainder += static_cast<std::uint32_t>(dividend % clock.divider);
    if (clock.remainder >= clock.divider) {
        clock.date += 1;
        clock.remainder -= clock.divider;
    }
    return clock.date;
}
