#include "tools/soak/soak_support.h"

namespace soak {

void StopFlag::set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

bool StopFlag::waitFor(std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, period, [this] { return m_stopped; });
}

bool StopFlag::stopped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopped;
}

void Tally::add(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_count;
    if (m_samples.size() < 5) m_samples.push_back(text);
}

std::uint64_t Tally::count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

std::vector<std::string> Tally::samples() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_samples;
}

WakeProbe::WakeProbe() : m_thread([this] { run(); }) {}

WakeProbe::~WakeProbe() {
    m_stop.set();
    m_thread.join();
}

void WakeProbe::run() {
    constexpr auto kPeriod = std::chrono::milliseconds(10);
    for (;;) {
        const auto before = std::chrono::steady_clock::now();
        if (!m_stop.waitFor(kPeriod)) return;
        const auto late = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - before - kPeriod)
                              .count();
        if (late > m_largestLateUs.load()) m_largestLateUs = late;
        if (late > 50'000) ++m_veryLate;
    }
}

}  // namespace soak
