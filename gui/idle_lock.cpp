#include "gui/idle_lock.h"

#include <boost/thread/thread.hpp>

#include "base/clock.h"

namespace frm {

IdleLock::IdleLock(Sources sources, Timing timing) : m_sources(std::move(sources)), m_timing(timing) {
    if (!m_sources.now) m_sources.now = nowMicroseconds;
}

bool IdleLock::check() const {
    const int minutes = m_sources.timeoutMinutes();
    if (minutes <= 0) return false;
    const std::int64_t limit =
        m_sources.lastActivity() + static_cast<std::int64_t>(minutes) * m_timing.minute;
    if (limit > m_sources.now()) return false;
    m_sources.requestLock();
    return true;
}

void IdleLock::run() const {
    try {
        while (!boost::this_thread::interruption_requested()) {
            check();
            boost::this_thread::sleep_for(boost::chrono::microseconds(m_timing.period.count()));
        }
    } catch (const boost::thread_interrupted&) {
        // Asked to stop during the wait: the thread ends here.
    }
}

}  // namespace frm
