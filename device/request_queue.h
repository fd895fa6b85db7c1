#pragma once

#include <array>
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

#include "device/reply_estimate.h"
#include "device/reply_times.h"

namespace device {

/// The bookkeeping of the control transport, free of sockets, threads and
/// clocks so that tests drive it with their own time: per device address a
/// queue ordered by priority (higher first, first come first served among
/// equals), at most one request in flight per address, the resend and give-up
/// times of the request in flight, and the pause after a resent request.
///
/// Resend times. Each device has a ReplyEstimate: its smoothed reply time
/// and their variation, learnt from requests answered after a single send,
/// and a back-off after requests that drew a reply only once resent. A
/// request with base resend time R gets the resend time T the estimate gives
/// it as it leaves (between R and 3R). Unanswered T after its first send it
/// is sent again; unanswered T after that it is given up, unless anything at
/// all came from the device since its first send (a state packet that
/// another handler took counts too, see heard()): an answering device that
/// lost two datagrams in a row is sent the request a third time, and it is
/// given up T after that. Each send follows the last by T however late the
/// last went, so the sends are at least T apart. replyTimes() tells these
/// figures for the next request.
///
/// Devices answer without sequence numbers, so a reply is recognised only by
/// its source address. A request that had to be sent more than once may draw
/// more than one reply; a second must not become the reply to the next
/// request. Hence after such a request is answered or given up its address
/// "drains": nothing is sent there and match() takes nothing from it as a
/// reply. How long depends on what the estimate says ("fits" a send: came
/// within the spread of the smoothed reply time after it; "overdue":
/// unanswered for the smoothed time plus the spread):
///  - given up: from T after its last send (the give-up) for T + T/2, so
///    that a reply to the last send up to 2.5T late falls inside. The first
///    datagram from the address meanwhile is the request's late reply, which
///    match() reports as such;
///  - answered, the answer fitting the first send and not the last (a
///    device known to answer later than its resend time): the replies to
///    the later sends come at the latest the time between the first and the
///    last send after the answer. The address drains until then plus the
///    spread, and at least until the reply to the last send is overdue;
///  - answered otherwise: as if given up at its time, or at the answer when
///    that came later. Which send the answer replied to is not known: a
///    device that answered the resend promptly may have had its reply to the
///    first send held back (a busy switch, a queue on the way) rather than
///    lost, and that reply comes up to 2.5T late, inside the drain.
/// Each datagram during a drain extends it to the time between the first and
/// the last send plus the margin (half a resend time, or the spread after a
/// drain the estimate chose) from the datagram's arrival, as often as the
/// drained request may still draw replies (once per send; one less when it
/// was answered): a device that sends datagrams of its own meanwhile holds up
/// its queue no longer. When the request has drawn a reply to every send,
/// the last as far after the first as the last send went after the first
/// (to within an eighth of its resend time), every send is answered and
/// nothing is left to drain: the drain ends with that reply. A duplicate, or
/// a datagram of the device's own, comes at another time and ends nothing.
///
/// So a reply never answers another request when the replies to a
/// request's sends come up to 2.5T late each, or, of a device known to answer
/// later than its resend time, about as late as each other however late.
///
/// Waiting requests. A caller that waits for its reply (the transport's
/// sync()) waits its turn behind the other requests to the device, however
/// many, as long as the device answers: its request ends, answered or given
/// up, by its own give-up after its own first send. A device counts as not
/// answering from a give-up until anything comes from it again: a waiting
/// request that would wait behind another caller's request to such a device
/// (in flight or queued ahead of it) ends at once, unanswered and unsent (at
/// the give-up itself for one that was queued before it). Behind its own
/// caller's requests or only a drain it waits its turn, and to an idle device
/// it is sent: the device may be back.
///
/// A caller is what the transport says it is: the thread that made the
/// request. One thread's requests to a device follow one another as its code
/// made them (a dispatcher thread's jobs, one after another, count as one
/// caller), while another thread's requests are somebody else's business.
///
/// A request to an idle device goes into flight as it is added, and the next
/// queued request as the previous one is answered: the caller of add() or
/// match() sends it at once. poll() only deals with what time brings:
/// resends, give-ups, waiting requests to let go and the ends of drains.
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

    /// A waiting request's caller is given this beyond the give-up: the
    /// hand-over of the reply or of the give-up to it.
    static constexpr Duration kWaitSlack = std::chrono::milliseconds(50);

    /// `ageing`: how long a device's estimate keeps unrenewed (see ReplyEstimate).
    explicit RequestQueue(Duration ageing = ReplyEstimate::kAgeing) : m_ageing(ageing) {}

    /// Changes the ageing period of every device's estimate, from now on.
    void setAgeing(Duration ageing);

    /// One datagram to put on the wire.
    struct Send {
        Id id = 0;
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::string datagram;
        bool resend = false;
    };

    /// Queues a request of `caller`; ids start at 1. `resend` is the base
    /// resend time (R); one below 1 ms counts as 1 ms. When the device is idle
    /// the request is in flight at once and `send` holds its datagram, else
    /// `send` is left empty. `waits`: its caller waits for it (see the class
    /// comment); 0 when it ends at once, unanswered and never queued (it would
    /// wait behind another caller's request to a device that counts as not
    /// answering).
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

    /// A datagram from `address` that came at `arrival` went elsewhere (a
    /// state packet): the device is heard from, though the datagram answers
    /// nothing. Nothing is noted for a device the queue never had a request for.
    void heard(std::uint32_t address, TimePoint arrival);

    /// Brings the queue up to `now`: appends to `sends` the datagrams due
    /// (resends, and requests whose device's drain ended), to `expired` the
    /// requests given up unanswered, and to `released` the waiting requests
    /// whose callers stop waiting, unanswered and unsent (each once): they
    /// wait behind another caller's request to a device that counts as not
    /// answering.
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

    /// The times a request with base resend time `resend` gets when it
    /// leaves for `address` at `now`, with what is learnt of the device.
    ReplyTimes replyTimes(std::uint32_t address, Duration resend, TimePoint now) const;

    /// The program ends: what it still asks is the last it asks of each
    /// device, and no request after it can take a stray reply. A request
    /// that leaves from now on is resent and given up by its base resend
    /// time, whatever is learnt of its device, and once a request is
    /// answered (or its late reply has come after its give-up) its device's
    /// next request leaves at once, without the drain. A datagram that
    /// answered an earlier send may then stand for the next request's
    /// answer: the device still has that request, unless it was lost too.
    /// Requests in flight and drains begun before keep their times.
    void windUp();

    /// Forgets every request, pause and what was learnt.
    void clear();

    /// No request queued or in flight.
    bool empty() const { return m_active == 0; }

private:
    struct Queued {
        Id id;
        std::uint16_t port;
        std::string datagram;
        Duration resend;  // the base
        Caller caller;
        bool waits;
    };
    /// A request sends this many times at the most.
    static constexpr int kMostSends = 3;
    /// When a request was sent, in order.
    struct Sends {
        std::array<TimePoint, kMostSends> at{};
        int count = 0;
        TimePoint first() const { return at[0]; }
        TimePoint last() const { return at[count - 1]; }
    };
    struct InFlight {
        Id id = 0;
        std::uint16_t port = 0;
        std::string datagram;
        Duration base{};    // the request's own resend time
        Duration resend{};  // the device's, as the request left
        Sends sent;
        Caller caller = 0;
    };
    struct Peer {
        explicit Peer(Duration ageing) : estimate(ageing) {}
        std::multimap<int, Queued, std::greater<int>> queue;  // equal keys keep insertion order
        std::optional<InFlight> inFlight;
        TimePoint drainUntil{};
        Duration drainStep{};  // how far a datagram during the drain extends it
        int drainReplies = 0;  // datagrams the drain still extends for
        Id givenUp = 0;        // the drained request, when given up and its late reply not yet come
        Sends drained;         // the drained request's: nothing that came before its first send is its reply
        std::optional<TimePoint> drainFirst;  // when its first reply came (the answer or the first late one)
        Duration drainTolerance{};            // how far its replies' spacing may stray from its sends' (see match)
        TimePoint scheduled = TimePoint::max();  // this peer's entry in m_agenda

        ReplyEstimate estimate;
        TimePoint heard = TimePoint::min();  // when the last datagram from the device came
        bool silent = false;                 // a give-up, and no datagram since
    };

    Peer& peerOf(std::uint32_t address);
    /// Starts the drain after a request given up at `now` (or as after one
    /// given up at its time, when answered earlier), for `replies` datagrams,
    /// a late reply being up to 2.5 `t` late.
    static void drainAsGivenUp(Peer& peer, const InFlight& request, TimePoint now, int replies, Duration t);
    /// Starts the drain after a request answered by a datagram that came at
    /// `arrival`, when it was sent more than once.
    static void drainAnswered(Peer& peer, const InFlight& request, TimePoint arrival, TimePoint now);
    /// Sets the drain up to `until`, extended by `step` per datagram, for `replies` datagrams.
    static void drain(Peer& peer, const InFlight& request, TimePoint until, Duration step, int replies);
    /// Puts a request into flight; returns what to send.
    Send launch(std::uint32_t address, Peer& peer, Queued request, TimePoint now);
    /// Files the peer's next timed action in the agenda.
    void reschedule(std::uint32_t address, Peer& peer, TimePoint now);
    /// Whether the queued request at `it` is a waiting one to let go now: it
    /// waits behind another caller's request (in flight or queued ahead of
    /// it) to a device that counts as not answering.
    using QueueEntry = std::multimap<int, Queued, std::greater<int>>::const_iterator;
    static bool due(const Peer& peer, QueueEntry it);
    /// Lets go the waiting requests that are due.
    void release(Peer& peer, std::vector<Id>& released);

    Duration m_ageing;
    bool m_woundUp = false;
    Id m_lastId = 0;
    std::size_t m_active = 0;  // requests queued or in flight
    // Peers stay once made (a site has a bounded set of devices), which spares
    // making and dropping one per exchange.
    std::unordered_map<std::uint32_t, Peer> m_peers;
    std::set<std::pair<TimePoint, std::uint32_t>> m_agenda;
};

}  // namespace device
