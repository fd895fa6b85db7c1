#include "tests/trial/window_pinger.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/app/e2e_harness.h"
#include "tests/support/temp_dir.h"

namespace trial {

using namespace std::chrono_literals;

namespace {

/// Xlib's own handler ends the process on a ping to a window that has gone.
int ignoreError(Display*, XErrorEvent*) { return 0; }

}  // namespace

WindowPinger::WindowPinger(const std::string& display, unsigned long window, std::chrono::milliseconds period)
    : m_period(period) {
    XSetErrorHandler(ignoreError);
    Display* connection = XOpenDisplay(display.c_str());
    if (connection == nullptr) throw std::runtime_error("the pinger cannot open the display " + display);
    m_thread = std::thread([this, connection, window] { run(connection, window); });
    const auto end = Clock::now() + 10s;
    while (answered() == 0) {
        if (Clock::now() > end) {
            stop();
            throw std::runtime_error("the window never answered a ping");
        }
        std::this_thread::sleep_for(5ms);
    }
}

WindowPinger::~WindowPinger() { stop(); }

void WindowPinger::stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void WindowPinger::run(void* opaque, unsigned long window) {
    Display* display = static_cast<Display*>(opaque);
    const Window root = DefaultRootWindow(display);
    // GTK sends the answer to the root window with the substructure masks:
    // whoever selected either gets it.
    XSelectInput(display, root, SubstructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    long serial = 0;
    bool waiting = false;
    Clock::time_point sent;
    Clock::time_point next = Clock::now();
    while (!m_stop) {
        const auto now = Clock::now();
        if (!waiting && now >= next) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(ping);
            event.xclient.data.l[1] = ++serial;  // stands for the time stamp: it comes back as it went
            event.xclient.data.l[2] = static_cast<long>(window);
            XSendEvent(display, window, False, NoEventMask, &event);
            XFlush(display);
            sent = Clock::now();
            waiting = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_waiting = sent;
        }
        pollfd wait{ConnectionNumber(display), POLLIN, 0};
        ::poll(&wait, 1, 2);
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != ClientMessage || event.xclient.message_type != protocols ||
                static_cast<Atom>(event.xclient.data.l[0]) != ping || event.xclient.data.l[1] != serial ||
                !waiting)
                continue;
            const auto back = Clock::now();
            waiting = false;
            next = sent + m_period;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pings.push_back({sent, back});
            m_waiting.reset();
        }
    }
    XCloseDisplay(display);
}

std::chrono::milliseconds WindowPinger::longestStallSince(Clock::time_point from) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    Clock::duration longest = longestAnsweredLocked(from);
    if (m_waiting) longest = std::max(longest, Clock::now() - std::max(*m_waiting, from));
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

std::chrono::milliseconds WindowPinger::longestAnsweredStallSince(Clock::time_point from) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::chrono::duration_cast<std::chrono::milliseconds>(longestAnsweredLocked(from));
}

WindowPinger::Clock::duration WindowPinger::longestAnsweredLocked(Clock::time_point from) const {
    Clock::duration longest{0};
    for (auto it = m_pings.rbegin(); it != m_pings.rend() && it->answered >= from; ++it)
        longest = std::max(longest, it->answered - std::max(it->sent, from));
    return longest;
}

std::size_t WindowPinger::answered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pings.size();
}

unsigned long findWindow(const std::vector<std::string>& environment, const std::string& scratchFolder,
                         int pid, const std::string& title) {
    const std::string out = scratchFolder + "/xdotool-search.out";
    std::remove(out.c_str());
    e2e::Child search(
        {"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", title},
        environment, out);
    if (search.finish(10s) != "exit 0") return 0;
    return std::strtoul(testing_support::readFile(out).c_str(), nullptr, 10);
}

bool writeScreenshot(const std::vector<std::string>& environment, const std::string& display,
                     const std::string& path) {
    e2e::Child grab({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size", "1280x1024", "-i",
                     display, "-frames:v", "1", path},
                    environment, path + ".log");
    return grab.finish(20s) == "exit 0";
}

}  // namespace trial
