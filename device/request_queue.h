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
/// Each device's resend time is learnt from its answers. A device that
/// answers as late as the resend time or later had every request sent twice,
/// and each answer then cost a drain: about two reply times a request. Once
/// its lateness is known, its requests are resent only after that lateness
/// plus a quarter of R, so that its single reply answers them and nothing
/// drains; the give-up (twice the resend time) and the drains (built from
/// the resend time and the times of the sends) scale with it. A device that
/// answers within 0.75R keeps R, and so does one with nothing learnt yet. A
/// device later than 2.75R keeps R too: a resend time at the lateness would
/// go as the reply comes, and a drain scaled up to it would hold the device
/// longer than the give-up and the late reply do (up to 2.5R late, as
/// above). So the resend time is R or between R and 3R. What is learnt:
///  - the reply to a request sent once: the time from the send;
///  - an answer that came after the resend: nothing until the other reply
///    comes within the drain, then the later of the two times each reply
///    took from its own send (replies in the order of the sends). Without
///    that second reply the answer may be the prompt reply to the resend
///    after a lost first send: no lateness is taken from it;
///  - the late reply of a given-up request: its time from the first send.
/// A reply time above the one held replaces it at once (a resend found to
/// be needless is not repeated); below it, the held time moves a quarter of
/// the way towards it per answer, so one prompt answer between late ones
/// does not bring the resends back.
/// With the lateness equal to R, the reply to a resend and the reply to a
/// request sent at the first answer come at the same moment and cannot be
/// told apart: not resending to a device known to be that late is what
/// avoids the second reply. The first request to a device whose lateness
/// has not been learnt still drains as before.
///
/// Waiting requests. A caller that waits for its reply (the transport's
/// sync()) is not kept past its bound: twice the device's resend time plus
/// kWaitSlack from the call, plus the time the request waited while the
/// device was busy with requests of the same caller (in flight or draining
/// after them): that wait is the caller's own doing. Time behind another
/// caller's requests counts against the bound. When the bound passes, a
/// request still queued is withdrawn unsent and one in flight stays in
/// flight (its device busy until it is answered or given up) while its
/// caller is let go. A device counts as not answering from a give-up until
/// the next datagram from it: a waiting request that would wait behind
/// another caller's request to such a device (in flight or queued ahead of
/// it) ends at once, unanswered; behind its own caller's requests or only a
/// drain it waits its turn within its bound, and to an idle device it is
/// sent: the device may be back. Requests nobody waits for are never
/// withdrawn for their time in the queue: they wait their turn however long
/// it takes.
///
/// A caller is what the transport says it is: the thread that made the
/// request. One thread's requests to a device follow one another as its code
/// made them (a dispatcher thread's jobs, one after another, count as one
/// caller), while another thread's requests are somebody else's business.
///
/// A request to an idle device goes into flight as it is added, and the next
/// queued request as the previous one is answered: the caller of add() or
/// match() sends it at once. poll() only deals with what time brings:
/// resends, give-ups, waiting requests whose time is up and the ends of
/// drains.
///
/// Not thread-safe: the transport calls it under its own lock.
class RequestQueue {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;
    using Id = std::uint64_t;
    /// Who made a request (see the class comment); 0 for nobody in particular.
    using Caller = std::uint64_t;

    /// A waiting request's bound beyond twice the resend time: the hand-over
    /// of the reply to its caller.
    static constexpr Duration kWaitSlack = std::chrono::milliseconds(50);
    /// A device's resend time is at most this many times the request's own;
    /// a device that would need more keeps the request's own.
    static constexpr int kMostResends = 3;

    /// One datagram to put on the wire.
    struct Send {
        Id id = 0;
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::string datagram;
        bool resend = false;
    };

    /// Queues a request of `caller`; ids start at 1. `resend` is the least
    /// resend time (R); one below 1 ms counts as 1 ms. When the device is idle
    /// the request is in flight at once and `send` holds its datagram, else
    /// `send` is left empty. `waits`: its caller waits for it, and it is
    /// bounded as the class comment says; 0 when it ends at once, unanswered
    /// and never queued (it would wait behind another caller's request to a
    /// device that counts as not answering).
    Id add(std::uint32_t address, std::uint16_t port, std::string datagram, int priority, Duration resend,
           TimePoint now, std::optional<Send>& send, Caller caller = 0, bool waits = false);

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
    /// (resends, and requests whose device's drain ended), to `expired` the
    /// requests given up unanswered (sent, resent and still silent one resend
    /// time later), and to `released` the waiting requests whose callers stop
    /// waiting, unanswered (each once): their bound passed, or they wait
    /// behind another caller's request to a device that counts as not
    /// answering. A released request that was still queued is gone; one in
    /// flight is answered or given up later like any other.
    void poll(TimePoint now, std::vector<Send>& sends, std::vector<Id>& expired, std::vector<Id>& released);

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

    /// The resend time a request with least resend time `resend` gets now
    /// when it leaves for `address`: `resend` unless the device is known to
    /// answer later than 0.75 of it (and not later than 2.75 of it).
    Duration resendTime(std::uint32_t address, Duration resend) const;

    /// How late the device at `address` is taken to answer; empty while
    /// nothing was learnt.
    std::optional<Duration> replyTime(std::uint32_t address) const;

    /// Forgets every request, pause and what was learnt.
    void clear();

    /// No request queued or in flight.
    bool empty() const { return m_active == 0; }

private:
    struct Queued {
        Id id;
        std::uint16_t port;
        std::string datagram;
        Duration resend;  // the least
        Caller caller;
        bool waits;
        TimePoint added;
        // A waiting request's end, without the time it has still to be
        // credited for a request of its own caller that holds the device.
        TimePoint deadline;
    };
    struct InFlight {
        Id id = 0;
        std::uint16_t port = 0;
        std::string datagram;
        Duration resend{};  // the device's, as the request left
        TimePoint firstSent{};
        TimePoint lastSent{};
        int sends = 0;
        Caller caller = 0;
        bool waits = false;     // and not yet released
        TimePoint deadline{};
    };
    struct Peer {
        std::multimap<int, Queued, std::greater<int>> queue;  // equal keys keep insertion order
        std::optional<InFlight> inFlight;
        TimePoint drainUntil{};
        Duration drainStep{};   // how far a datagram during the drain extends it
        int drainReplies = 0;   // datagrams the drain still extends for
        Id givenUp = 0;         // the drained request, when given up and its late reply not yet come
        TimePoint drainedSent{};  // the drained request's first send: nothing that came before is its reply
        TimePoint drainedResent{};  // and its last
        // The drained request was answered this long after its first send;
        // its other reply, when it comes, tells what the device's lateness was.
        std::optional<Duration> answeredAfter;
        TimePoint scheduled = TimePoint::max();  // this peer's entry in m_agenda

        std::optional<Duration> replyTime;  // learnt from the answers
        bool silent = false;  // a give-up, and no datagram since
        // Whose request holds the device: in flight, or draining after it.
        std::optional<Caller> occupant;
        TimePoint occupiedSince{};
    };

    /// Starts the drain after the request in flight was answered or given up,
    /// for the time between its sends plus R/2 from `from`; `replies`: the
    /// datagrams it may still draw.
    static void drain(Peer& peer, const InFlight& request, TimePoint from, int replies);
    /// Puts a request into flight; returns what to send.
    Send launch(std::uint32_t address, Peer& peer, Queued request, TimePoint now);
    /// Files the peer's next timed action in the agenda.
    void reschedule(std::uint32_t address, Peer& peer, TimePoint now);
    /// The device is held by `caller`'s request from `at` on (nobody's when
    /// empty): the waiting requests of the caller that held it until then
    /// are credited with the time they waited meanwhile.
    static void occupy(Peer& peer, std::optional<Caller> caller, TimePoint at);
    /// Ends the hold of a drain that is over by `now`.
    static void endDrain(Peer& peer, TimePoint now);
    /// What a queued waiting request of the holder's caller is credited
    /// with for the hold until `at`.
    static Duration credit(const Peer& peer, const Queued& request, TimePoint at);
    /// Takes a lateness the device showed.
    static void learn(Peer& peer, Duration sample);
    static Duration resendOf(const Peer& peer, Duration resend);
    /// When a queued waiting request's time is up as things stand; max()
    /// while a request of its own caller holds the device.
    static TimePoint deadlineOf(const Peer& peer, const Queued& request, TimePoint now);
    /// Whether the queued request at `it` is a waiting one to let go now:
    /// its time is up, or it waits behind another caller's request (in
    /// flight or queued ahead of it) to a device that counts as not
    /// answering.
    using QueueEntry = std::multimap<int, Queued, std::greater<int>>::const_iterator;
    static bool due(const Peer& peer, QueueEntry it, TimePoint now);
    /// Lets go the waiting requests that are due.
    void release(Peer& peer, TimePoint now, std::vector<Id>& released);

    Id m_lastId = 0;
    std::size_t m_active = 0;  // requests queued or in flight
    // Peers stay once made (a site has a bounded set of devices), which spares
    // making and dropping one per exchange.
    std::unordered_map<std::uint32_t, Peer> m_peers;
    std::set<std::pair<TimePoint, std::uint32_t>> m_agenda;
};

}  // namespace device
