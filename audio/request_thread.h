#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace frm {

/// A thread of its own that runs the requests handed to it one after the
/// other, in the order they came: the window hands the alarm channel's
/// launches and stops here, so that it never waits for the loudspeakers and
/// a stop never overtakes the launch before it. The thread starts with the
/// first request. Exceptions of a request are logged.
class RequestThread {
public:
    using Request = std::function<void()>;

    RequestThread() = default;
    /// Drops the requests not begun and waits for the one that runs.
    ~RequestThread();
    RequestThread(const RequestThread&) = delete;
    RequestThread& operator=(const RequestThread&) = delete;

    /// Any thread, a request too.
    void add(Request request);
    /// Drops the requests not begun and waits until the one that runs has
    /// returned (not to be called from a request); later ones run as before.
    void drain();
    /// The quit: drops the requests not begun and refuses every later one,
    /// without waiting for the one that runs (it may wait for the GUI
    /// thread, which quits). drain waits for it afterwards.
    void close();

private:
    void run();

    std::mutex m_mutex;  // guards what follows
    std::condition_variable m_changed;
    std::deque<Request> m_queue;
    bool m_busy = false;
    bool m_ending = false;
    bool m_closed = false;  // later requests are refused
    std::thread m_thread;
};

}  // namespace frm
