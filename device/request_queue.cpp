#include "device/request_queue.h"

#include <algorithm>

namespace device {

RequestQueue::Id RequestQueue::add(std::uint32_t address, std::uint16_t port, std::string datagram,
                                   int priority, Duration resend) {
    const Id id = ++m_lastId;
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    m_peers[address].queue.emplace(priority, Queued{id, port, std::move(datagram), resend});
    m_queuedAt.emplace(id, address);
    return id;
}

RequestQueue::TimePoint RequestQueue::poll(TimePoint now, std::vector<Send>& sends,
                                           std::vector<Id>& expired) {
    TimePoint wake = TimePoint::max();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        const std::uint32_t address = it->first;
        Peer& peer = it->second;

        if (peer.inFlight) {
            InFlight& request = *peer.inFlight;
            if (now >= request.firstSent + 2 * request.resend) {
                expired.push_back(request.id);
                peer.inFlight.reset();
            } else if (request.sends == 1 && now >= request.firstSent + request.resend) {
                request.sends = 2;
                request.lastSent = now;
                sends.push_back({request.id, address, request.port, request.datagram, true});
                wake = std::min(wake, request.firstSent + 2 * request.resend);
            } else {
                wake = std::min(wake, request.firstSent + request.sends * request.resend);
            }
        }

        if (!peer.inFlight && !peer.queue.empty()) {
            if (now >= peer.drainUntil) {
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
                sends.push_back({peer.inFlight->id, address, peer.inFlight->port,
                                 peer.inFlight->datagram, false});
                wake = std::min(wake, now + peer.inFlight->resend);
            } else {
                wake = std::min(wake, peer.drainUntil);
            }
        }

        if (!peer.inFlight && peer.queue.empty() && now >= peer.drainUntil)
            it = m_peers.erase(it);
        else
            ++it;
    }
    return wake;
}

RequestQueue::Id RequestQueue::match(std::uint32_t address, TimePoint now) {
    const auto it = m_peers.find(address);
    if (it == m_peers.end() || !it->second.inFlight) return 0;
    Peer& peer = it->second;
    const Id id = peer.inFlight->id;
    const InFlight& request = *peer.inFlight;
    if (request.sends > 1) peer.drainUntil = now + (request.lastSent - request.firstSent) + request.resend / 2;
    peer.inFlight.reset();
    return id;
}

bool RequestQueue::cancel(Id id) {
    const auto where = m_queuedAt.find(id);
    if (where == m_queuedAt.end()) return false;
    Peer& peer = m_peers[where->second];
    for (auto it = peer.queue.begin(); it != peer.queue.end(); ++it) {
        if (it->second.id == id) {
            peer.queue.erase(it);
            break;
        }
    }
    m_queuedAt.erase(where);
    return true;
}

void RequestQueue::clear() {
    m_peers.clear();
    m_queuedAt.clear();
}

}  // namespace device
