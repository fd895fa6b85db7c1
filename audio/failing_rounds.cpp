#include "audio/failing_rounds.h"

#include <algorithm>

std::chrono::milliseconds FailingRounds::ended(std::chrono::milliseconds played,
                                               std::chrono::milliseconds audio, std::size_t items) {
    if (played >= m_timing.quickEnd || audio >= m_timing.minimumAudio) {
        reset();
        return std::chrono::milliseconds(0);
    }
    if (++m_failed < std::max<std::size_t>(items, 1)) return std::chrono::milliseconds(0);
    m_failed = 0;
    // Doubling stops once the longest wait is reached, so it never overflows.
    std::chrono::milliseconds wait = m_timing.firstWait;
    for (unsigned round = 0; round < m_rounds && wait.count() > 0 && wait < m_timing.longestWait; ++round)
        wait *= 2;
    ++m_rounds;
    return std::min(wait, m_timing.longestWait);
}
