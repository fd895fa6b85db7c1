#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace frm {

/// The idle lock of the main window, without the window: each pass compares
/// the operator's last activity with the idle limit and asks for the lock
/// once the limit is reached, then waits one period.
///
/// Threads: run() is the body of the main window's lock-timer thread (a
/// boost::thread) and returns as soon as that thread is interrupted, in the
/// middle of a wait too. The sources are called on that thread: the last
/// activity is an atomic the GUI thread writes, the timeout is read from the
/// settings under their lock on every pass (a change counts from the next
/// one), and the lock request only queues work for the GUI thread.
class IdleLock {
public:
    struct Timing {
        /// Between two passes.
        std::chrono::microseconds period{std::chrono::seconds(15)};
        /// One minute of the timeout setting, in microseconds.
        std::int64_t minute = 60000000;
    };
    struct Sources {
        /// The operator's last action, microseconds since 1601.
        std::function<std::int64_t()> lastActivity;
        /// Minutes without activity before the lock; 0 switches it off.
        std::function<int()> timeoutMinutes;
        std::function<void()> requestLock;
        /// The current time, microseconds since 1601 (nowMicroseconds when empty).
        std::function<std::int64_t()> now;
    };

    IdleLock(Sources sources, Timing timing);

    /// One pass without the wait: asks for the lock when it is due; true
    /// when it asked.
    bool check() const;
    /// Passes until the calling boost::thread is interrupted.
    void run() const;

private:
    Sources m_sources;
    Timing m_timing;
};

}  // namespace frm
