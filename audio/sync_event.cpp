#include "audio/sync_event.h"

#include <chrono>

void sync_event::set() {
    // Notified under the lock: a waiter that wakes may destroy the event at
    // once, so set() must not touch it after letting go of the mutex.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_manual_reset) m_cv.notify_all();
    else m_cv.notify_one();
}

void sync_event::reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
}

bool sync_event::is_set() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

sync_event::wait_result sync_event::wait(std::uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return m_signalled; };
    if (timeout_ms == infinite) {
        m_cv.wait(lock, ready);
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return timed_out;
    }
    if (!m_manual_reset) m_signalled = false;
    return signalled;
}
