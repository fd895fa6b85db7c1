#pragma once

#include <chrono>
#include <cstddef>

/// Tells when a list whose items keep failing should pause. An item that
/// ends within its first seconds without having given a second of audio has
/// failed (a short file that played through has not); once every item of
/// the list has failed, one after another, the next round waits: 5 s at
/// first, twice as long each following round, at most a minute. Any other
/// end ends the series, and the next failure starts counting afresh.
///
/// Not thread-safe: the player calls it under its own lock.
class FailingRounds {
public:
    struct Timing {
        /// An item that ends sooner than this after its start, having given
        /// less audio than minimumAudio, has failed.
        std::chrono::milliseconds quickEnd{5000};
        std::chrono::milliseconds minimumAudio{1000};
        std::chrono::milliseconds firstWait{5000};
        std::chrono::milliseconds longestWait{60000};
    };

    explicit FailingRounds(Timing timing) : m_timing(timing) {}

    /// A start or stop by the operator: what failed before no longer counts.
    void reset() {
        m_failed = 0;
        m_rounds = 0;
    }
    /// An item of a list of `items` ended `played` after its start, having
    /// given `audio`. Returns how long to wait before the next item; zero for
    /// no wait.
    std::chrono::milliseconds ended(std::chrono::milliseconds played, std::chrono::milliseconds audio,
                                    std::size_t items);
    /// The wait that `ended` has just returned is the first of its series.
    bool firstWait() const { return m_rounds == 1; }

private:
    Timing m_timing;
    std::size_t m_failed = 0;  // items failed one after another in this round
    unsigned m_rounds = 0;     // rounds failed one after another
};
