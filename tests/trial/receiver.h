#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace trial {

/// Of arrival times in order: the first at or after `from`, or with
/// `soundGap`, the first at or after `from` that the next follows within
/// that gap (a stream's keep-alive datagrams come a second apart, sound
/// many a second).
std::optional<std::chrono::steady_clock::time_point> firstArrival(
    const std::vector<std::chrono::steady_clock::time_point>& arrivals,
    std::chrono::steady_clock::time_point from,
    std::optional<std::chrono::milliseconds> soundGap = std::nullopt);

/// What a loudspeaker would hear: the program's streams as they arrive on
/// the sandbox's interface, each datagram's arrival time (not its bytes).
/// Joins the common stream's port (base + 1) and the notification stream's
/// ports of channel 1 (base + 2, notices of priority 3 and up) and channel
/// 6 (base + 7, priority 2 and lower) of the group, all on one thread of
/// its own that ends with the receiver.
class Receiver {
public:
    using Clock = std::chrono::steady_clock;
    enum class Stream { Common, NoticeHigh, NoticeLow };

    Receiver(const std::string& group, std::uint16_t basePort, const std::string& interfaceAddress);
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    /// Empty when every port was joined; else what failed.
    const std::string& error() const { return m_error; }
    /// When the first datagram of the stream arrived at or after `from`.
    /// The common stream keeps its listeners with a datagram a second
    /// while nothing plays (the pause before a service message): on it,
    /// the first datagram of sound is the first one that the next follows
    /// within kSoundGap.
    std::optional<Clock::time_point> firstAfter(Stream stream, Clock::time_point from) const;
    static constexpr std::chrono::milliseconds kSoundGap{300};
    /// The same, waiting for it until `limit` after `from` has passed.
    std::optional<Clock::time_point> waitFirstAfter(Stream stream, Clock::time_point from,
                                                    std::chrono::milliseconds limit) const;

private:
    static constexpr int kPorts = 3;  // common, high, low
    void run();
    /// The port a stream arrives on.
    static int portOf(Stream stream);

    int m_sockets[kPorts] = {-1, -1, -1};
    std::string m_error;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;  // guards the arrivals
    std::vector<Clock::time_point> m_arrivals[kPorts];
    std::thread m_thread;
};

}  // namespace trial
