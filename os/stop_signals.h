#pragma once

#include <atomic>
#include <functional>
#include <thread>

// The signals by which the system asks the program to stop: SIGTERM (also
// what logind sends at logout), SIGINT (Ctrl-C) and SIGHUP (the terminal
// went away). main blocks them before any thread starts, so every thread
// inherits the mask and none is interrupted; one thread takes them with
// sigwait and turns each into the program's ordinary stop. A signal that
// arrives before that thread runs stays pending and is taken when it starts.
namespace os {

/// Blocks the stop signals in the calling thread. Call in main before any
/// thread exists.
void blockStopSignals();

/// Undoes blockStopSignals in the calling thread: a process that will not
/// run the signal thread (the --quit path) ends on them as usual.
void unblockStopSignals();

/// The signal thread. Construction starts it; `onSignal` runs on it with the
/// signal's number, once per signal taken. Owned by the application object,
/// which stops it at exit.
class StopSignalThread {
public:
    explicit StopSignalThread(std::function<void(int signal)> onSignal);
    /// stop()
    ~StopSignalThread();
    StopSignalThread(const StopSignalThread&) = delete;
    StopSignalThread& operator=(const StopSignalThread&) = delete;

    /// Ends the thread and joins it; a later call does nothing. Any thread
    /// but the signal thread itself.
    void stop();

private:
    void run();

    std::function<void(int)> m_onSignal;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

}  // namespace os
