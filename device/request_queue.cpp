#include "device/request_queue.h"

#include <algorithm>

namespace device {

namespace {

std::chrono::milliseconds roundedUp(RequestQueue::Duration duration) {
    return std::chrono::ceil<std::chrono::milliseconds>(duration);
}

}  // namespace

void RequestQueue::setAgeing(Duration ageing) {
    m_ageing = ageing;
    for (auto& entry : m_peers) entry.second.estimate.setAgeing(ageing);
}

RequestQueue::Peer& RequestQueue::peerOf(std::uint32_t address) {
    return m_peers.try_emplace(address, m_ageing).first->second;
}

RequestQueue::Id RequestQueue::add(std::uint32_t address, std::uint16_t port, std::string datagram,
                                   int priority, Duration resend, TimePoint now, std::optional<Send>& send,
                                   Caller caller, bool waits) {
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    Peer& peer = peerOf(address);
    const bool idle = !peer.inFlight && peer.queue.empty() && now >= peer.drainUntil;
    if (!idle && waits && peer.silent) {
        // Queued last among its priority: behind the request in flight and
        // whatever of that priority or higher waits already.
        bool another = peer.inFlight && peer.inFlight->caller != caller;
        for (auto it = peer.queue.begin(); !another && it != peer.queue.end() && it->first >= priority; ++it)
            another = it->second.caller != caller;
        if (another) return 0;
    }
    Queued request{++m_lastId, port, std::move(datagram), resend, caller, waits};
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
    peer.heard = std::max(peer.heard, arrival);
    if (arrival < peer.drainUntil) {
        if (peer.drainReplies == 0 || arrival < peer.drained.first()) return {};
        // A reply of the drained request: those to its later sends may be as
        // late after this one as those sends were after the first.
        --peer.drainReplies;
        // Every send has its reply, as far apart as the sends went: none is left.
        const Duration span = peer.drained.last() - peer.drained.first();
        const bool whole = peer.drainFirst && peer.drainReplies == 0 &&
                           std::chrono::abs((arrival - *peer.drainFirst) - span) <= peer.drainTolerance;
        if (!peer.drainFirst) peer.drainFirst = arrival;
        peer.drainUntil = whole ? arrival : std::max(peer.drainUntil, arrival + peer.drainStep);
        // A resent request's late reply: the device may have grown later
        // than its resend time.
        if (peer.givenUp != 0) peer.estimate.backOff(now);
        const Match late{peer.givenUp, peer.givenUp != 0};
        peer.givenUp = 0;
        // At the end the request's own reply is all that is waited for.
        if (m_woundUp && late.late) peer.drainUntil = arrival;
        reschedule(address, peer, now);
        return late;
    }
    // Nothing in flight, or a datagram that came before the request left.
    if (!peer.inFlight || arrival < peer.inFlight->sent.first()) return {};
    const InFlight& request = *peer.inFlight;
    const Id id = request.id;
    if (request.sent.count > 1) {
        // Which send this answers is not known for sure: nothing is learnt
        // (Karn), the next requests wait longer until one sent once is
        // answered, and the address drains for the other replies (not at
        // the end: nothing asked later waits for an answer that matters).
        if (!m_woundUp) drainAnswered(peer, request, arrival, now);
        peer.estimate.backOff(now);
    } else {
        peer.estimate.sample(arrival - request.sent.first(), now);
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

void RequestQueue::heard(std::uint32_t address, TimePoint arrival) {
    const auto it = m_peers.find(address);
    if (it == m_peers.end()) return;
    it->second.heard = std::max(it->second.heard, arrival);
    it->second.silent = false;
}

void RequestQueue::poll(TimePoint now, std::vector<Send>& sends, std::vector<Id>& expired,
                        std::vector<Id>& released) {
    while (!m_agenda.empty() && m_agenda.begin()->first <= now) {
        const std::uint32_t address = m_agenda.begin()->second;
        m_agenda.erase(m_agenda.begin());
        Peer& peer = peerOf(address);
        peer.scheduled = TimePoint::max();

        if (peer.inFlight) {
            InFlight& request = *peer.inFlight;
            // Each send a resend time after the last, however late that went.
            if (now >= request.sent.last() + request.resend) {
                // Sent once: resent. Sent twice, to a device heard from since
                // (its state packets, say): the two datagrams were lost, not
                // the device, and a third goes.
                const bool again =
                    request.sent.count == 1 || (request.sent.count == 2 && peer.heard > request.sent.first());
                if (again) {
                    request.sent.at[request.sent.count++] = now;
                    sends.push_back({request.id, address, request.port, request.datagram, true});
                } else {
                    // Every send may still be answered, only late: the address
                    // drains, or a late reply would become the reply to the
                    // next request.
                    drainAsGivenUp(peer, request, now, request.sent.count, request.resend);
                    peer.givenUp = request.id;
                    peer.silent = true;
                    expired.push_back(request.id);
                    peer.inFlight.reset();
                    --m_active;
                }
            }
        }
        release(peer, released);
        if (!peer.inFlight && !peer.queue.empty() && now >= peer.drainUntil) {
            Queued first = std::move(peer.queue.begin()->second);
            peer.queue.erase(peer.queue.begin());
            sends.push_back(launch(address, peer, std::move(first), now));
            // Another caller's request may hold the device now.
            release(peer, released);
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

ReplyTimes RequestQueue::replyTimes(std::uint32_t address, Duration resend, TimePoint now) const {
    resend = std::max<Duration>(resend, std::chrono::milliseconds(1));
    const auto it = m_peers.find(address);
    const Duration t =
        it == m_peers.end() || m_woundUp ? resend : it->second.estimate.resendTime(resend, now);
    ReplyTimes times;
    times.resend = roundedUp(t);
    const std::optional<Duration> overdue =
        it == m_peers.end() ? std::nullopt : it->second.estimate.overdue(resend, now);
    times.answer = roundedUp(overdue ? std::min(*overdue, t) : t);
    times.giveUp = roundedUp(kMostSends * t);
    times.giveUpUnheard = roundedUp(2 * t);
    times.lateReply = roundedUp(t + t / 2);
    return times;
}

void RequestQueue::drain(Peer& peer, const InFlight& request, TimePoint until, Duration step, int replies) {
    // Past a drain that a datagram read late extended while this request was in flight.
    peer.drainUntil = std::max(peer.drainUntil, until);
    peer.drainStep = step;
    peer.drainReplies = replies;
    peer.drained = request.sent;
    peer.drainFirst.reset();
    peer.drainTolerance = request.resend / 8;
    peer.givenUp = 0;
}

void RequestQueue::drainAsGivenUp(Peer& peer, const InFlight& request, TimePoint now, int replies, Duration t) {
    // A reply to the last send up to 2.5T late falls inside, however late
    // the sends went.
    const Duration margin = t / 2;
    drain(peer, request, std::max(now, request.sent.last() + t) + t + margin,
          request.sent.last() - request.sent.first() + margin, replies);
}

void RequestQueue::drainAnswered(Peer& peer, const InFlight& request, TimePoint arrival, TimePoint now) {
    const ReplyEstimate& estimate = peer.estimate;
    const Duration span = request.sent.last() - request.sent.first();
    const Duration base = request.base;
    // A device known to answer later than its resend time answered the first
    // send: the replies to the later sends come about as much later as those
    // sends left, and the address drains until then. An answer that fits the
    // last send may be a prompt reply to it while the first send's reply was
    // held back, not lost: it may still come up to 2.5T late.
    if (const auto overdue = estimate.overdue(base, now)) {
        const bool fitsFirst = estimate.fits(arrival - request.sent.first(), base, now);
        const bool fitsLast = estimate.fits(arrival - request.sent.last(), base, now);
        if (fitsFirst && !fitsLast) {
            const Duration spread = estimate.spread(base, now);
            drain(peer, request, std::max(arrival + span + spread, request.sent.last() + *overdue), span + spread,
                  request.sent.count - 1);
            peer.drainFirst = arrival;
            return;
        }
    }
    // As after a give-up at its time. A request that its caller gave a
    // longer resend time than the device's own (a read that must be answered
    // once, by a late device too) drains as the device's own requests do: the
    // other sends' replies are as late as the device, not as the caller's
    // patience. Scaled on the longer time, one lost datagram held the
    // device's next request (an alarm's switch) for 10.5 s.
    const Duration t = base > kBaseResendTime ? std::min(request.resend, estimate.resendTime(kBaseResendTime, now))
                                              : request.resend;
    drainAsGivenUp(peer, request, now, request.sent.count - 1, t);
    peer.drainFirst = arrival;
}

RequestQueue::Send RequestQueue::launch(std::uint32_t address, Peer& peer, Queued queued, TimePoint now) {
    // Assigned rather than emplaced: clang checks emplace() against the
    // nested type before its member initialisers are seen, and refuses it.
    peer.inFlight = InFlight{};
    InFlight& request = *peer.inFlight;
    request.id = queued.id;
    request.port = queued.port;
    request.datagram = std::move(queued.datagram);
    request.base = queued.resend;
    request.resend = m_woundUp ? queued.resend : peer.estimate.resendTime(queued.resend, now);
    request.sent.at[0] = now;
    request.sent.count = 1;
    request.caller = queued.caller;
    return {request.id, address, request.port, request.datagram, false};
}

bool RequestQueue::due(const Peer& peer, QueueEntry it) {
    const Queued& request = it->second;
    if (!request.waits || !peer.silent) return false;
    if (peer.inFlight && peer.inFlight->caller != request.caller) return true;
    // A queue holds a few requests: those ahead are looked at anew for each.
    for (auto ahead = peer.queue.begin(); ahead != it; ++ahead)
        if (ahead->second.caller != request.caller) return true;
    return false;
}

void RequestQueue::release(Peer& peer, std::vector<Id>& released) {
    if (!peer.silent) return;
    for (auto it = peer.queue.begin(); it != peer.queue.end();) {
        if (!due(peer, it)) {
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
        when = peer.inFlight->sent.last() + peer.inFlight->resend;
    } else if (!peer.queue.empty()) {
        // A drain that ended before the sender's poll came round still owes
        // its queue a launch: without an entry it would wait for ever.
        when = std::max(peer.drainUntil, now);
    }
    if (peer.silent) {
        // A request of another caller may have been queued ahead of a
        // waiting one, to a device that counts as not answering: let go at once.
        for (auto it = peer.queue.begin(); it != peer.queue.end(); ++it)
            if (due(peer, it)) when = now;
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

void RequestQueue::windUp() { m_woundUp = true; }

void RequestQueue::clear() {
    m_peers.clear();
    m_agenda.clear();
    m_active = 0;
}

}  // namespace device
