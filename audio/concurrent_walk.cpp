#include "audio/concurrent_walk.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace frm {

WalkThreads::WalkThreads(std::size_t maxThreads) : m_maxThreads(std::max<std::size_t>(maxThreads, 1)) {}

WalkThreads::~WalkThreads() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_all();
    for (auto& thread : m_threads) thread.join();
}

void WalkThreads::forEach(std::size_t count, const std::function<void(std::size_t)>& visit) {
    if (count == 0) return;
    std::lock_guard<std::mutex> walk(m_walkLock);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_visit = &visit;
        m_count = count;
        m_next = 0;
        m_failed = false;
        m_error = nullptr;
        const std::size_t helpers = std::min(count, m_maxThreads) - 1;
        try {
            while (m_threads.size() < helpers) m_threads.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            // Out of threads: the ones there are share the work.
        }
        m_wanted = std::min(helpers, m_threads.size());
        m_joined = 0;
        m_busy = m_wanted;
        ++m_walk;
    }
    m_wake.notify_all();
    work();  // the caller's thread takes its share
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return m_busy == 0; });
    m_visit = nullptr;
    std::exception_ptr error = std::move(m_error);
    m_error = nullptr;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

void WalkThreads::run() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_ending || (m_walk != seen && m_joined < m_wanted); });
        if (m_ending) return;
        seen = m_walk;
        ++m_joined;
        lock.unlock();
        work();
        lock.lock();
        if (--m_busy == 0) m_done.notify_all();
    }
}

void WalkThreads::work() {
    for (std::size_t i = m_next++; i < m_count && !m_failed.load(); i = m_next++) {
        try {
            (*m_visit)(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_error) m_error = std::current_exception();
            m_failed = true;
        }
    }
}

}  // namespace frm

