#include "device/request_queue.h"

#include <algorithm>

namespace device {

RequestQueue::Id RequestQueue::add(std::uint32_t address, std::uint16_t port, std::string datagram, int priority,
                                   Duration resend, TimePoint now, std::optional<Send>& send) {
    const Id id = ++m_lastId;
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    Peer& peer = m_peers[address];
    peer.queue.emplace(priority, Queued{id, port, std::move(datagram), resend});
    m_queuedAt.emplace(id, address);
    if (!peer.inFlight && now >= peer.drainUntil) send = launch(address, peer, now);
    reschedule(address, peer, now);
    return id;
}

RequestQueue::Id RequestQueue::match(std::uint32_t address, TimePoint now, std::optional<Send>& next) {
    const auto it = m_peers.find(address);
    if (it == m_peers.end() || !it->second.inFlight) return 0;
    Peer& peer = it->second;
    const InFlight& request = *peer.inFlight;
    const Id id = request.id;
    if (request.sends > 1) peer.drainUntil = now + (request.lastSent - request.firstSent) + request.resend / 2;
    peer.inFlight.reset();
    if (!peer.queue.empty() && now >= peer.drainUntil) next = launch(address, peer, now);
    reschedule(address, peer, now);
    return id;
}

void RequestQueue::poll(TimePoint now, std::vector<Send>& sends, std::vector<Id>& expired) {
    while (!m_agenda.empty() && m_agenda.begin()->first <= now) {
        const std::uint32_t address = m_agenda.begin()->second;
        m_agenda.erase(m_agenda.begin());
        const auto it = m_peers.find(address);
        if (it == m_peers.end()) continue;
        Peer& peer = it->second;
        peer.scheduled = TimePoint::max();

        if (peer.inFlight) {
            InFlight& request = *peer.inFlight;
            if (now >= request.firstSent + 2 * request.resend) {
                expired.push_back(request.id);
                peer.inFlight.reset();
            } else if (request.sends == 1 && now >= request.firstSent + request.resend) {
                request.sends = 2;
                request.lastSent = now;
                sends.push_back({request.id, address, request.port, request.datagram, true});
            }
        }
        if (!peer.inFlight && !peer.queue.empty() && now >= peer.drainUntil) sends.push_back(launch(address, peer, now));
        reschedule(address, peer, now);
    }
}

RequestQueue::TimePoint RequestQueue::nextWake() const {
    return m_agenda.empty() ? TimePoint::max() : m_agenda.begin()->first;
}

RequestQueue::Send RequestQueue::launch(std::uint32_t address, Peer& peer, TimePoint now) {
    auto next = peer.queue.begin();
    InFlight request;
    request.id = next->second.id;
    request.port = next->second.port;
    request.datagram = std::move(next->second.datagram);
    request.resend = next->second.resend;
    request.firstSent = now;
    request.lastSent = now;
    request.sends = 1;
    peer.queue.erase(next);
    m_queuedAt.erase(request.id);
    peer.inFlight = std::move(request);
    return {peer.inFlight->id, address, peer.inFlight->port, peer.inFlight->datagram, false};
}

void RequestQueue::reschedule(std::uint32_t address, Peer& peer, TimePoint now) {
    TimePoint when = TimePoint::max();
    if (peer.inFlight)
        when = peer.inFlight->firstSent + peer.inFlight->sends * peer.inFlight->resend;
    else if (now < peer.drainUntil)
        when = peer.drainUntil;  // queued requests wait for it; an idle peer is forgotten then
    if (when != peer.scheduled) {
        if (peer.scheduled != TimePoint::max()) m_agenda.erase({peer.scheduled, address});
        if (when != TimePoint::max()) m_agenda.emplace(when, address);
        peer.scheduled = when;
    }
    if (!peer.inFlight && peer.queue.empty() && now >= peer.drainUntil) m_peers.erase(address);
}

bool RequestQueue::cancel(Id id, TimePoint now) {
    const auto where = m_queuedAt.find(id);
    if (where == m_queuedAt.end()) return false;
    const std::uint32_t address = where->second;
    m_queuedAt.erase(where);
    const auto it = m_peers.find(address);
    if (it == m_peers.end()) return true;
    Peer& peer = it->second;
    for (auto entry = peer.queue.begin(); entry != peer.queue.end(); ++entry) {
        if (entry->second.id == id) {
            peer.queue.erase(entry);
            break;
        }
    }
    reschedule(address, peer, now);
    return true;
}

void RequestQueue::clear() {
    m_peers.clear();
    m_queuedAt.clear();
    m_agenda.clear();
}

}  // namespace device
