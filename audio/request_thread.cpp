#include "audio/request_thread.h"

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"

namespace frm {

RequestThread::~RequestThread() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void RequestThread::add(Request request) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ending || m_closed) return;
        m_queue.push_back(std::move(request));
        if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    }
    m_changed.notify_all();
}

void RequestThread::drain() {
    std::deque<Request> dropped;
    std::unique_lock<std::mutex> lock(m_mutex);
    dropped.swap(m_queue);
    m_changed.wait(lock, [this] { return !m_busy; });
    lock.unlock();
    // `dropped` goes here, outside the lock: what its requests hold may log.
}

void RequestThread::close() {
    std::deque<Request> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        dropped.swap(m_queue);
    }
    // `dropped` goes here, outside the lock.
}

void RequestThread::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_ending || !m_queue.empty(); });
        if (m_ending) return;
        Request request = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        try {
            request();
        } catch (const exception::Base& e) {
            LOG_ERROR(L"%1%", e.getNotification());
        } catch (const std::exception& e) {
            LOG_ERROR(L"%1%", base::toWide(e.what()));
        }
        request = Request();
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

}  // namespace frm
