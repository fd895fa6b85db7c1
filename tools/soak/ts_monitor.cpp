#include "tools/soak/ts_monitor.h"

namespace soak {

namespace {
constexpr std::uint8_t kSync = 0x47;
constexpr unsigned kNullPid = 0x1FFF;
}  // namespace

TsMonitor::TsMonitor(std::int64_t longGapUs) : m_longGapUs(longGapUs) { forgetCounters(); }

void TsMonitor::forgetCounters() {
    m_lastCc.fill(kNoCounter);
    m_repeated.fill(false);
}

void TsMonitor::newSegment() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_segmentOpen = false;
}

TsFigures TsMonitor::figures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_figures;
}

void TsMonitor::datagram(const std::uint8_t* data, std::size_t size, std::int64_t atUs) {
    if (size == 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_figures.datagrams;
    if (!m_segmentOpen) {
        // A new mux numbers its packets afresh.
        m_segmentOpen = true;
        ++m_figures.segments;
        m_segmentStartUs = atUs;
        m_segmentDatagrams = 0;
        forgetCounters();
    } else {
        const std::int64_t gap = atUs - m_lastAtUs;
        if (gap > m_longGapUs) ++m_figures.longGaps;
        if (gap > m_figures.largestGapUs) {
            m_figures.largestGapUs = gap;
            m_figures.largestGapIntoSegmentUs = atUs - m_segmentStartUs;
            m_figures.largestGapAfterDatagrams = m_segmentDatagrams;
        }
    }
    m_lastAtUs = atUs;
    ++m_segmentDatagrams;
    if (size % kPacketSize != 0) ++m_figures.syncErrors;
    for (std::size_t at = 0; at + kPacketSize <= size; at += kPacketSize) packet(data + at);
}

void TsMonitor::packet(const std::uint8_t* p) {
    ++m_figures.packets;
    if (p[0] != kSync) {
        ++m_figures.syncErrors;
        return;
    }
    const unsigned pid = (unsigned(p[1] & 0x1F) << 8) | p[2];
    if (pid == kNullPid) return;
    const unsigned control = (p[3] >> 4) & 0x3;
    const int cc = p[3] & 0x0F;
    const bool payload = (control & 0x1) != 0;
    const bool adaptation = (control & 0x2) != 0;
    // The discontinuity indicator announces a counter that starts afresh.
    const bool discontinuity = adaptation && p[4] > 0 && (p[5] & 0x80) != 0;
    const int last = m_lastCc[pid];
    if (discontinuity || last == kNoCounter) {
        m_lastCc[pid] = static_cast<std::int8_t>(cc);
        m_repeated[pid] = false;
        return;
    }
    // Without a payload the counter stays where it was.
    if (!payload) {
        if (cc != last) ++m_figures.ccErrors;
        m_lastCc[pid] = static_cast<std::int8_t>(cc);
        return;
    }
    if (cc == last) {
        if (m_repeated[pid]) ++m_figures.ccErrors;
        m_repeated[pid] = true;
        return;
    }
    if (cc != ((last + 1) & 0x0F)) ++m_figures.ccErrors;
    m_lastCc[pid] = static_cast<std::int8_t>(cc);
    m_repeated[pid] = false;
}

}  // namespace soak
