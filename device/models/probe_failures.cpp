#include "device/models/probe_failures.h"

#include <algorithm>

namespace device {

AddressFault addressFault(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    if (first == 0) return AddressFault::ThisNetwork;
    if (first >= 224 && first <= 239) return AddressFault::Multicast;
    if (first >= 240) return AddressFault::Reserved;
    return AddressFault::None;
}

void ProbeFailures::add(const ProbeCause& cause, const std::wstring& device) {
    const auto found = m_index.find(cause);
    Summary* summary = nullptr;
    if (found == m_index.end()) {
        m_index.emplace(cause, m_summaries.size());
        m_summaries.push_back({cause, 0, {}});
        summary = &m_summaries.back();
    } else {
        summary = &m_summaries[found->second];
    }
    ++summary->count;
    if (summary->examples.size() < kExamples) summary->examples.push_back(device);
}

ProbeNoticeGate::ProbeNoticeGate(std::chrono::milliseconds quietSpell, Clock clock)
    : m_quietSpell(quietSpell), m_clock(std::move(clock)) {}

std::vector<ProbeFailures::Summary> ProbeNoticeGate::select(const ProbeFailures& search) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = m_clock();
    std::vector<ProbeFailures::Summary> told;
    std::vector<ProbeCause> causes;
    for (const ProbeFailures::Summary& summary : search.summaries()) {
        causes.push_back(summary.cause);
        const bool lasting =
            std::find(m_previous.begin(), m_previous.end(), summary.cause) != m_previous.end();
        const auto last = m_told.find(summary.cause);
        if (lasting && last != m_told.end() && now - last->second < m_quietSpell) continue;
        m_told[summary.cause] = now;
        told.push_back(summary);
    }
    m_previous = std::move(causes);
    return told;
}

std::wstring joinedExamples(const std::vector<std::wstring>& examples, std::size_t count) {
    std::wstring joined;
    for (const std::wstring& example : examples) {
        if (!joined.empty()) joined += L"; ";
        joined += example;
    }
    if (count > examples.size()) joined += L", …";
    return joined;
}

}  // namespace device
