#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "audio/mp3streamf.h"
#include "tools/soak/soak_support.h"
#include "tools/soak/ts_monitor.h"

namespace soak {

/// The notification stream playing one message file after another on its
/// own thread, each made, played and closed the way the alarm channel does
/// it, half a second apart. Before each it tells the monitor that a new
/// segment begins; what goes wrong goes to the faults tally.
class NotificationLoop {
public:
    NotificationLoop(const std::string& endpoint, const std::string& messageUtf8, TsMonitor& monitor,
                     Tally& faults);
    ~NotificationLoop();
    NotificationLoop(const NotificationLoop&) = delete;
    NotificationLoop& operator=(const NotificationLoop&) = delete;

    /// Ends the current message and joins the thread; safe to repeat.
    void stop();
    std::uint64_t messages() const { return m_messages.load(); }

private:
    void run();

    const std::wstring m_message;
    TsMonitor& m_monitor;
    Tally& m_faults;
    mp3streamf m_stream;
    StopFlag m_stop;
    std::atomic<std::uint64_t> m_messages{0};
    std::thread m_thread;
};

}  // namespace soak
