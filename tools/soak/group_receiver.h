#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "tools/soak/ts_monitor.h"

namespace soak {

/// Joins a multicast group on 127.0.0.1 and hands every datagram, with the
/// time the kernel received it, to a TsMonitor; nothing is kept, so a long
/// run costs no memory. The thread runs from construction to destruction.
class GroupReceiver {
public:
    /// Sees each datagram after the monitor, on the receiving thread.
    using Tap = std::function<void(const std::uint8_t* data, std::size_t size, std::int64_t atUs)>;

    /// std::runtime_error when the socket can't be bound or the group joined.
    GroupReceiver(const std::string& group, std::uint16_t port, TsMonitor& monitor, Tap tap = {});
    ~GroupReceiver();
    GroupReceiver(const GroupReceiver&) = delete;
    GroupReceiver& operator=(const GroupReceiver&) = delete;

private:
    void run();

    TsMonitor& m_monitor;
    const Tap m_tap;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace soak
