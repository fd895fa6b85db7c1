#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace device {

/// The bookkeeping of the control transport, free of sockets, threads and
/// clocks so that tests drive it with their own time: per device address a
/// queue ordered by priority (higher first, first come first served among
/// equals), at most one request in flight per address, the resend and give-up
/// times of the request in flight, and the pause after a resent request.
///
/// Devices answer without sequence numbers, so a reply is recognised only by
/// its source address. A request that had to be sent twice may draw two
/// replies; the second must not become the reply to the next request. Hence
/// after such a request is answered or given up its address "drains":
/// nothing is sent there and match() takes nothing from it as a reply. A
/// request given up drains from the give-up (2R after its first send) for
/// the time between its sends plus half a resend time: its replies, when
/// they come at all, are late ones, and one to the resend may be up to 2.5R
/// late. An answered request drains just as long, counted from its answer
/// when that came after the time of the give-up: which send the answer
/// replied to is unknown, and a device's lateness differs from send to send
/// (a reply 1.5R late to the first send may be followed by one 2R late to
/// the resend, past a drain counted from the answer). The first datagram from
/// the address during the drain after a give-up is the given-up request's
/// late reply, which match() reports as such.
///
/// A device later than that is about as late with its reply to the resend:
/// the second reply comes one time between the sends after its first, which
/// may be past the end of the drain. So each datagram during a drain extends
/// it to that span plus half a resend time from the datagram's arrival, as
/// often as the drained request may still draw replies (once per send; one
/// less when it was answered): a device that sends datagrams of its own
/// meanwhile holds up its queue no longer.
///
/// A request to an idle device goes into flight as it is added, and the next
/// queued request as the previous one is answered: the caller of add() or
/// match() sends it at once. poll() only deals with what time brings:
/// resends, give-ups and the ends of drains.
///
/// Not thread-safe: the transport calls it under its own lock.
class RequestQueue {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;
    using Id = std::uint64_t;

    /// One datagram to put on the wire.
    struct Send {
        Id id = 0;
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::string datagram;
        bool resend = false;
    };

    /// Queues a request; ids start at 1. A resend time below 1 ms counts as
    /// 1 ms. When the device is idle the request is in flight at once and
    /// `send` holds its datagram, else `send` is left empty.
    Id add(std::uint32_t address, std::uint16_t port, std::string datagram, int priority, Duration resend,
           TimePoint now, std::optional<Send>& send);

    /// What a datagram from a device is to the queue.
    struct Match {
        Id id = 0;          // the request it answers; 0 when none
        bool late = false;  // `id` was given up before: the datagram is its late reply
    };

    /// A datagram that came from `address` at `arrival` is handed over at
    /// `now` (a reader that fell behind hands it over later). When it came
    /// after the request in flight there left, and not during a drain, it
    /// answers that request, which is taken off the queue (and when the
    /// device's next request can go at once, `next` holds it). A datagram
    /// that came during a drain answers nothing, even when the drain ended
    /// and the next request left before it was handed over; the first after a
    /// given-up request is that request's late reply.
    Match match(std::uint32_t address, TimePoint arrival, TimePoint now, std::optional<Send>& next);

    /// Brings the queue up to `now`: appends to `sends` the datagrams due
    /// (resends, and requests whose device's drain ended) and to `expired` the
    /// requests given up unanswered (sent, resent and still silent one resend
    /// time later).
    void poll(TimePoint now, std::vector<Send>& sends, std::vector<Id>& expired);

    /// When poll() has something to do next; TimePoint::max() when nothing waits for time.
    TimePoint nextWake() const;

    /// Removes a request to `address` that was not yet sent; false when it is
    /// unknown or in flight (a request in flight keeps its device busy until
    /// it is answered or given up, whoever waits for it).
    bool cancel(std::uint32_t address, Id id);

    /// When the drain of `address` ends as it stands (a datagram meanwhile
    /// extends it); a time past for an address that does not drain. A
    /// request given up just now has its late reply reported until then at
    /// the latest.
    TimePoint drainEnd(std::uint32_t address) const;

    /// Forgets every request and pause.
    void clear();

    /// No request queued or in flight.
    bool empty() const { return m_active == 0; }

private:
    struct Queued {
        Id id;
        std::uint16_t port;
        std::string datagram;
        Duration resend;
    };
    struct InFlight {
        Id id = 0;
        std::uint16_t port = 0;
        std::string datagram;
        Duration resend{};
        TimePoint firstSent{};
        TimePoint lastSent{};
        int sends = 0;
    };
    struct Peer {
        std::multimap<int, Queued, std::greater<int>> queue;  // equal keys keep insertion order
        std::optional<InFlight> inFlight;
        TimePoint drainUntil{};
        Duration drainStep{};   // how far a datagram during the drain extends it
        int drainReplies = 0;   // datagrams the drain still extends for
        Id givenUp = 0;         // the drained request, when given up and its late reply not yet come
        TimePoint drainedSent{};  // the drained request's first send: nothing that came before is its reply
        TimePoint scheduled = TimePoint::max();  // this peer's entry in m_agenda
    };

    /// Starts the drain after the request in flight was answered or given up,
    /// for the time between its sends plus R/2 from `from`; `replies`: the
    /// datagrams it may still draw.
    static void drain(Peer& peer, const InFlight& request, TimePoint from, int replies);
    /// Puts a request into flight; returns what to send.
    Send launch(std::uint32_t address, Peer& peer, Queued request, TimePoint now);
    /// Files the peer's next timed action in the agenda.
    void reschedule(std::uint32_t address, Peer& peer, TimePoint now);

    Id m_lastId = 0;
    std::size_t m_active = 0;  // requests queued or in flight
    // Peers stay once made (a site has a bounded set of devices), which spares
    // making and dropping one per exchange.
    std::unordered_map<std::uint32_t, Peer> m_peers;
    std::set<std::pair<TimePoint, std::uint32_t>> m_agenda;
};

}  // namespace device
