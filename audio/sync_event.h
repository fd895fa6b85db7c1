#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

/// A signalled/not-signalled flag that threads wait on, in the two flavours
/// the streaming modules use: an auto-reset event wakes one waiter and clears
/// itself; a manual-reset event stays signalled until reset. Safe on any thread.
class sync_event {
public:
    enum wait_result { signalled, timed_out };
    static constexpr std::uint32_t infinite = 0xFFFFFFFFu;

    explicit sync_event(bool manual_reset, bool initially_signalled = false)
        : m_manual_reset(manual_reset), m_signalled(initially_signalled) {}
    sync_event(const sync_event&) = delete;
    sync_event& operator=(const sync_event&) = delete;

    void set();
    void reset();
    bool is_set() const;

    /// Waits until the event is signalled or timeout_ms have passed
    /// (infinite: no limit). An auto-reset event is cleared by the wait it ends.
    wait_result wait(std::uint32_t timeout_ms = infinite);

private:
    const bool m_manual_reset;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled;
};
