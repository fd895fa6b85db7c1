#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

/// A stop request that the soak's threads wait on between rounds.
class StopFlag {
public:
    void set();
    /// Waits up to `period`; false when stopped (before or meanwhile).
    bool waitFor(std::chrono::milliseconds period);
    bool stopped();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped = false;
};

/// Counts the texts of one kind (errors, exceptions) and keeps the first
/// few for the report. Any thread.
class Tally {
public:
    void add(const std::string& text);
    std::uint64_t count() const;
    std::vector<std::string> samples() const;

private:
    mutable std::mutex m_mutex;
    std::uint64_t m_count = 0;
    std::vector<std::string> m_samples;
};

/// How late a thread of this process wakes from a short sleep: the streams'
/// senders are threads like it, so a gap that comes with a late wake here
/// was the host's doing (other work on the processors), not the stream's.
class WakeProbe {
public:
    WakeProbe();
    ~WakeProbe();
    WakeProbe(const WakeProbe&) = delete;
    WakeProbe& operator=(const WakeProbe&) = delete;

    double largestLateMs() const { return m_largestLateUs.load() / 1000.0; }
    /// Wakes more than 50 ms late.
    std::uint64_t veryLate() const { return m_veryLate.load(); }

private:
    void run();

    StopFlag m_stop;
    std::atomic<std::int64_t> m_largestLateUs{0};
    std::atomic<std::uint64_t> m_veryLate{0};
    std::thread m_thread;
};

}  // namespace soak
