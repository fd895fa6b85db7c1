#include "tools/soak/minute_ledger.h"

#include <set>

namespace soak {

namespace {
constexpr std::size_t kListedMisses = 10;
}  // namespace

void MinuteLedger::ranThrough(scheduler::TimePoint from, scheduler::TimePoint to) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (to > from) m_stretches.emplace_back(from, to);
}

void MinuteLedger::fired(scheduler::TimePoint minute, scheduler::TimePoint at) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (scheduler::floorToMinute(at) == minute) ++m_onTime[minute];
    else ++m_offTime;
}

std::uint64_t MinuteLedger::firings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::uint64_t count = m_offTime;
    for (const auto& entry : m_onTime) count += entry.second;
    return count;
}

MinuteLedger::Figures MinuteLedger::figures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<scheduler::TimePoint> expected;
    for (const auto& stretch : m_stretches) {
        // The first minute whose tick is not before the stretch's start.
        scheduler::TimePoint minute = scheduler::floorToMinute(stretch.first - m_tickDelay);
        if (minute + m_tickDelay < stretch.first) minute += scheduler::kTicksPerMinute;
        for (; minute + m_tickDelay < stretch.second; minute += scheduler::kTicksPerMinute)
            expected.insert(minute);
    }
    Figures figures;
    figures.expected = expected.size();
    figures.extra = m_offTime;
    for (const auto& entry : m_onTime) {
        const bool wanted = expected.count(entry.first) != 0;
        figures.extra += wanted ? entry.second - 1 : entry.second;
    }
    for (const scheduler::TimePoint minute : expected) {
        if (m_onTime.count(minute) != 0) {
            ++figures.fired;
        } else {
            ++figures.missed;
            if (figures.missedMinutes.size() < kListedMisses) figures.missedMinutes.push_back(minute);
        }
    }
    return figures;
}

}  // namespace soak
