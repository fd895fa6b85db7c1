#pragma once

#include <chrono>
#include <cstddef>

/// Tells when a list whose items keep failing should pause. An item has
/// failed when it ends within its first seconds having given (almost) no
/// audio: a station that does not answer, a file its decoder cannot read.
/// An item that gave all the audio its decoder said it holds has played
/// through and never fails, however short it is; an item whose length is
/// not known (a stream) fails when it ends that soon with less than a second
/// of audio.
/// Once every item of the list has failed, one after another, the next
/// round waits: 5 s at first, twice as long each following round, at most a
/// minute. Any other end ends the series, and the next failure starts
/// counting afresh.
///
/// A spell of failures is told to the operator once: from its first wait
/// until an item plays, or until the operator stops the list or takes
/// another one. A new try of the operator's on the same list (play, next,
/// previous) counts the rounds afresh but goes on with the spell.
///
/// Not thread-safe: the player calls it under its own lock.
class FailingRounds {
public:
    struct Timing {
        /// An item that ends sooner than this after its start, having given
        /// less audio than minimumAudio and not played through, has failed.
        std::chrono::milliseconds quickEnd{5000};
        std::chrono::milliseconds minimumAudio{1000};
        std::chrono::milliseconds firstWait{5000};
        std::chrono::milliseconds longestWait{60000};
    };

    explicit FailingRounds(Timing timing) : m_timing(timing) {}

    /// A stop, another list, or an item that played: what failed before no
    /// longer counts, and the next failing round is told again.
    void reset() {
        restart();
        m_spell = false;
        m_toldNow = false;
    }
    /// A new try by the operator on the same list: the rounds count afresh,
    /// a spell already told is not told again.
    void restart() {
        m_failed = 0;
        m_rounds = 0;
    }
    /// An item of a list of `items` ended `played` after its start, having
    /// given `audio`; `length` is the item's length as its decoder told it,
    /// zero or less when not known. Returns how long to wait before the next
    /// item; zero for no wait.
    std::chrono::milliseconds ended(std::chrono::milliseconds played, std::chrono::milliseconds audio,
                                    std::size_t items,
                                    std::chrono::milliseconds length = std::chrono::milliseconds(-1));
    /// The wait that `ended` has just returned is the first of its spell:
    /// the one the operator is told of.
    bool firstWait() const { return m_toldNow; }

private:
    bool failed(std::chrono::milliseconds played, std::chrono::milliseconds audio,
                std::chrono::milliseconds length) const;

    Timing m_timing;
    std::size_t m_failed = 0;  // items failed one after another in this round
    unsigned m_rounds = 0;     // rounds failed one after another
    bool m_spell = false;      // a wait of this spell has been returned
    bool m_toldNow = false;    // the last wait returned began the spell
};
