#include "device/request_queue.h"

#include <algorithm>

namespace device {

namespace {

/// A time moves this part of the way towards a shorter reply time per answer.
constexpr int kFallShare = 4;

}  // namespace

RequestQueue::Id RequestQueue::add(std::uint32_t address, std::uint16_t port, std::string datagram, int priority,
                                   Duration resend, TimePoint now, std::optional<Send>& send, Caller caller,
                                   bool waits) {
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    Peer& peer = m_peers[address];
    Queued request{0, port, std::move(datagram), resend, caller, waits, now,
                   now + 2 * resendOf(peer, resend) + kWaitSlack};
    endDrain(peer, now);
    const bool idle = !peer.inFlight && peer.queue.empty() && now >= peer.drainUntil;
    if (!idle && waits && peer.silent) {
        // Queued last among its priority: behind the request in flight and
        // whatever of that priority or higher waits already.
        bool another = peer.inFlight && peer.inFlight->caller != caller;
        for (auto it = peer.queue.begin(); !another && it != peer.queue.end() && it->first >= priority; ++it)
            another = it->second.caller != caller;
        if (another) return 0;
    }
    request.id = ++m_lastId;
    ++m_active;
    const Id id = request.id;
    if (idle)
        send = launch(address, peer, std::move(request), now);
    else
        peer.queue.emplace(priority, std::move(request));
    reschedule(address, peer, now);
    return id;
}

RequestQueue::Match RequestQueue::match(std::uint32_t address, TimePoint arrival, TimePoint now,
                                        std::optional<Send>& next) {
    const auto it = m_peers.find(address);
    if (it == m_peers.end()) return {};
    Peer& peer = it->second;
    // What a datagram is depends on when it came, not on when it is handed
    // over: one that came during the drain may be read after the drain ended
    // and the next request left.
    arrival = std::min(arrival, now);
    // The device is heard from again, whatever the datagram is.
    peer.silent = false;
    if (arrival < peer.drainUntil) {
        if (peer.drainReplies == 0 || arrival < peer.drainedSent) return {};
        // A reply of the drained request: the one to its resend may be as
        // late after this one as the resend was after the first send.
        --peer.drainReplies;
        peer.drainUntil = std::max(peer.drainUntil, arrival + peer.drainStep);
        if (peer.givenUp != 0) {
            learn(peer, arrival - peer.drainedSent);
        } else if (peer.answeredAfter) {
            // The answer's sibling: with the replies in the order of the
            // sends, each took this long.
            learn(peer, std::max(*peer.answeredAfter, arrival - peer.drainedResent));
            peer.answeredAfter.reset();
        }
        const Match late{peer.givenUp, peer.givenUp != 0};
        peer.givenUp = 0;
        reschedule(address, peer, now);
        return late;
    }
    // Nothing in flight, or a datagram that came before the request left.
    if (!peer.inFlight || arrival < peer.inFlight->firstSent) return {};
    const InFlight& request = *peer.inFlight;
    const Id id = request.id;
    if (request.sends > 1) {
        // Which send this answers is unknown, and the device may be later
        // with the other reply than with this one: the address drains as
        // long as after a give-up at its time.
        drain(peer, request, std::max(now, request.firstSent + 2 * request.resend), request.sends - 1);
        peer.answeredAfter = arrival - request.firstSent;
    } else {
        learn(peer, arrival - request.firstSent);
        occupy(peer, std::nullopt, now);
    }
    peer.inFlight.reset();
    --m_active;
    if (!peer.queue.empty() && now >= peer.drainUntil) {
        Queued first = std::move(peer.queue.begin()->second);
        peer.queue.erase(peer.queue.begin());
        next = launch(address, peer, std::move(first), now);
    }
    reschedule(address, peer, now);
    return {id, false};
}

void RequestQueue::poll(TimePoint now, std::vector<Send>& sends, std::vector<Id>& expired,
                        std::vector<Id>& released) {
    while (!m_agenda.empty() && m_agenda.begin()->first <= now) {
        const std::uint32_t address = m_agenda.begin()->second;
        m_agenda.erase(m_agenda.begin());
        Peer& peer = m_peers[address];
        peer.scheduled = TimePoint::max();

        if (peer.inFlight) {
            InFlight& request = *peer.inFlight;
            if (now >= request.firstSent + 2 * request.resend) {
                // Both sends may still be answered, only late: the address
                // drains as after an answered resend, or a late reply would
                // become the reply to the next request. The device holds
                // on for the same caller meanwhile.
                drain(peer, request, now, request.sends);
                peer.givenUp = request.id;
                peer.silent = true;
                expired.push_back(request.id);
                peer.inFlight.reset();
                --m_active;
            } else if (request.sends == 1 && now >= request.firstSent + request.resend) {
                request.sends = 2;
                request.lastSent = now;
                sends.push_back({request.id, address, request.port, request.datagram, true});
            }
        }
        endDrain(peer, now);
        release(peer, now, released);
        if (!peer.inFlight && !peer.queue.empty() && now >= peer.drainUntil) {
            Queued first = std::move(peer.queue.begin()->second);
            peer.queue.erase(peer.queue.begin());
            sends.push_back(launch(address, peer, std::move(first), now));
            // Another caller's request may hold the device now.
            release(peer, now, released);
        }
        reschedule(address, peer, now);
    }
}

RequestQueue::TimePoint RequestQueue::nextWake() const {
    return m_agenda.empty() ? TimePoint::max() : m_agenda.begin()->first;
}

RequestQueue::TimePoint RequestQueue::drainEnd(std::uint32_t address) const {
    const auto it = m_peers.find(address);
    return it == m_peers.end() ? TimePoint{} : it->second.drainUntil;
}

RequestQueue::Duration RequestQueue::resendTime(std::uint32_t address, Duration resend) const {
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    const auto it = m_peers.find(address);
    return it == m_peers.end() ? resend : resendOf(it->second, resend);
}

std::optional<RequestQueue::Duration> RequestQueue::replyTime(std::uint32_t address) const {
    const auto it = m_peers.find(address);
    return it == m_peers.end() ? std::nullopt : it->second.replyTime;
}

void RequestQueue::drain(Peer& peer, const InFlight& request, TimePoint from, int replies) {
    peer.drainStep = (request.lastSent - request.firstSent) + request.resend / 2;
    // Past a drain that a datagram read late extended while this request was in flight.
    peer.drainUntil = std::max(peer.drainUntil, from + peer.drainStep);
    peer.drainReplies = replies;
    peer.drainedSent = request.firstSent;
    peer.drainedResent = request.lastSent;
    peer.givenUp = 0;
    peer.answeredAfter.reset();
}

RequestQueue::Send RequestQueue::launch(std::uint32_t address, Peer& peer, Queued queued, TimePoint now) {
    if (queued.waits && peer.occupant && *peer.occupant == queued.caller) queued.deadline += credit(peer, queued, now);
    occupy(peer, queued.caller, now);
    // Assigned rather than emplaced: clang checks emplace() against the
    // nested type before its member initialisers are seen, and refuses it.
    peer.inFlight = InFlight{};
    InFlight& request = *peer.inFlight;
    request.id = queued.id;
    request.port = queued.port;
    request.datagram = std::move(queued.datagram);
    request.resend = resendOf(peer, queued.resend);
    request.firstSent = now;
    request.lastSent = now;
    request.sends = 1;
    request.caller = queued.caller;
    request.waits = queued.waits;
    request.deadline = queued.deadline;
    return {request.id, address, request.port, request.datagram, false};
}

void RequestQueue::occupy(Peer& peer, std::optional<Caller> caller, TimePoint at) {
    if (peer.occupant)
        for (auto& entry : peer.queue)
            if (entry.second.waits && entry.second.caller == *peer.occupant)
                entry.second.deadline += credit(peer, entry.second, at);
    peer.occupant = caller;
    peer.occupiedSince = at;
}

RequestQueue::Duration RequestQueue::credit(const Peer& peer, const Queued& request, TimePoint at) {
    return std::max(Duration::zero(), at - std::max(peer.occupiedSince, request.added));
}

void RequestQueue::endDrain(Peer& peer, TimePoint now) {
    if (peer.occupant && !peer.inFlight && now >= peer.drainUntil)
        occupy(peer, std::nullopt, std::max(peer.drainUntil, peer.occupiedSince));
}

void RequestQueue::learn(Peer& peer, Duration sample) {
    if (sample < Duration::zero()) return;
    if (!peer.replyTime || sample >= *peer.replyTime)
        peer.replyTime = sample;
    else
        *peer.replyTime -= (*peer.replyTime - sample) / kFallShare;
}

RequestQueue::Duration RequestQueue::resendOf(const Peer& peer, Duration resend) {
    if (!peer.replyTime) return resend;
    const Duration wanted = *peer.replyTime + resend / 4;
    // Later than that, a resend at the most would go just as the reply
    // comes, and the drain after it would be scaled up for nothing: such a
    // device is served as one that does not answer in time, its replies
    // taken as late ones.
    if (wanted <= resend || wanted > kMostResends * resend) return resend;
    return wanted;
}

RequestQueue::TimePoint RequestQueue::deadlineOf(const Peer& peer, const Queued& request, TimePoint now) {
    const bool held = peer.inFlight || now < peer.drainUntil;
    if (held && peer.occupant && *peer.occupant == request.caller) return TimePoint::max();
    return request.deadline;
}

bool RequestQueue::due(const Peer& peer, QueueEntry it, TimePoint now) {
    const Queued& request = it->second;
    if (!request.waits) return false;
    if (now >= deadlineOf(peer, request, now)) return true;
    if (!peer.silent) return false;
    if (peer.inFlight && peer.inFlight->caller != request.caller) return true;
    // A queue holds a few requests: those ahead are looked at anew for each.
    for (auto ahead = peer.queue.begin(); ahead != it; ++ahead)
        if (ahead->second.caller != request.caller) return true;
    return false;
}

void RequestQueue::release(Peer& peer, TimePoint now, std::vector<Id>& released) {
    if (peer.inFlight && peer.inFlight->waits && now >= peer.inFlight->deadline) {
        // Its caller goes; the request keeps the device until it ends.
        peer.inFlight->waits = false;
        released.push_back(peer.inFlight->id);
    }
    for (auto it = peer.queue.begin(); it != peer.queue.end();) {
        if (!due(peer, it, now)) {
            ++it;
            continue;
        }
        released.push_back(it->second.id);
        it = peer.queue.erase(it);
        --m_active;
    }
}

void RequestQueue::reschedule(std::uint32_t address, Peer& peer, TimePoint now) {
    TimePoint when = TimePoint::max();
    if (peer.inFlight) {
        when = peer.inFlight->firstSent + peer.inFlight->sends * peer.inFlight->resend;
        if (peer.inFlight->waits) when = std::min(when, peer.inFlight->deadline);
    } else if (!peer.queue.empty()) {
        // A drain that ended before the sender's poll came round still owes
        // its queue a launch: without an entry it would wait for ever.
        when = std::max(peer.drainUntil, now);
    }
    for (auto it = peer.queue.begin(); it != peer.queue.end(); ++it) {
        if (!it->second.waits) continue;
        // A request of another caller may have been queued ahead of this
        // one, to a device that counts as not answering: let go at once.
        when = std::min(when, due(peer, it, now) ? now : deadlineOf(peer, it->second, now));
    }
    if (when == peer.scheduled) return;
    if (peer.scheduled != TimePoint::max()) m_agenda.erase({peer.scheduled, address});
    if (when != TimePoint::max()) m_agenda.emplace(when, address);
    peer.scheduled = when;
}

bool RequestQueue::cancel(std::uint32_t address, Id id) {
    const auto it = m_peers.find(address);
    if (it == m_peers.end()) return false;
    auto& queue = it->second.queue;
    for (auto entry = queue.begin(); entry != queue.end(); ++entry) {
        if (entry->second.id == id) {
            queue.erase(entry);
            --m_active;
            return true;
        }
    }
    return false;
}

void RequestQueue::clear() {
    m_peers.clear();
    m_agenda.clear();
    m_active = 0;
}

}  // namespace device
