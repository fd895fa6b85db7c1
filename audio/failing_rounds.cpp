#include "audio/failing_rounds.h"

#include <algorithm>

namespace {
// What an item that played through may lack of its decoder's length: the
// output counts whole milliseconds per write, and the length of a compressed
// file is the decoder's estimate.
constexpr std::chrono::milliseconds k_lengthSlack{100};
}  // namespace

bool FailingRounds::failed(std::chrono::milliseconds played, std::chrono::milliseconds audio,
                           std::chrono::milliseconds length) const {
    if (played >= m_timing.quickEnd || audio >= m_timing.minimumAudio) return false;
    const bool playedThrough =
        length.count() > 0 && audio.count() > 0 && audio + std::max(k_lengthSlack, length / 10) >= length;
    return !playedThrough;
}

std::chrono::milliseconds FailingRounds::ended(std::chrono::milliseconds played,
                                               std::chrono::milliseconds audio, std::size_t items,
                                               std::chrono::milliseconds length) {
    if (!failed(played, audio, length)) {
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
    m_toldNow = !m_spell;
    m_spell = true;
    return std::min(wait, m_timing.longestWait);
}
