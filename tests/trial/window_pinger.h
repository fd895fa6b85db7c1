#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace trial {

/// How long a program's window thread leaves its window unanswered, seen
/// from outside: every 20 ms (or as soon as the last one was answered, when
/// that took longer) a _NET_WM_PING goes to the window, which GTK answers
/// from its event loop by sending it back to the root window. A ping's
/// round trip is how long the window thread did not run.
///
/// Its own thread and X connection; the constructor returns once the
/// first ping was answered or refuses (std::runtime_error) after 10 s.
/// Pings may go on while the window goes: the X errors of a window that
/// is no more are ignored.
/// stop() (also the destructor) ends the thread.
class WindowPinger {
public:
    using Clock = std::chrono::steady_clock;

    WindowPinger(const std::string& display, unsigned long window,
                 std::chrono::milliseconds period = std::chrono::milliseconds(20));
    ~WindowPinger();
    WindowPinger(const WindowPinger&) = delete;
    WindowPinger& operator=(const WindowPinger&) = delete;

    void stop();

    /// The longest the window was found unanswered from `from` on: each
    /// ping's round trip counted from `from` at the earliest, and the one
    /// waiting now counted until now.
    std::chrono::milliseconds longestStallSince(Clock::time_point from) const;
    /// The same over the answered pings only: how long the window left
    /// them unanswered while it was there (a ping to a window that has gone
    /// is never answered, and is no stall).
    std::chrono::milliseconds longestAnsweredStallSince(Clock::time_point from) const;
    /// How many pings were answered.
    std::size_t answered() const;

private:
    struct Ping {
        Clock::time_point sent;
        Clock::time_point answered;
    };
    void run(void* display, unsigned long window);
    /// The longest round trip of the pings answered from `from` on (the mutex held).
    Clock::duration longestAnsweredLocked(Clock::time_point from) const;

    const std::chrono::milliseconds m_period;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;  // guards what follows
    std::vector<Ping> m_pings;
    std::optional<Clock::time_point> m_waiting;  // sent, not answered yet
    std::thread m_thread;
};

/// The X window id of the program's top-level window whose title matches
/// the extended regular expression (xdotool search), 0 when none is found.
unsigned long findWindow(const std::vector<std::string>& environment, const std::string& scratchFolder,
                         int pid, const std::string& title);

/// The display's whole screen as a PNG (ffmpeg's x11grab); false when it
/// could not be written.
bool writeScreenshot(const std::vector<std::string>& environment, const std::string& display,
                     const std::string& path);

}  // namespace trial
