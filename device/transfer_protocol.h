#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/function.hpp>

#include "base/ip_address.h"
#include "device/control_socket.h"
#include "device/reply_times.h"
#include "device/request_queue.h"
#include "device/source_cache.h"

namespace device {

/// The control link to every device: one UDP socket on the control port, one
/// text request per datagram, the reply being the next datagram from the
/// device's address. The transport only sends, resends, gives up and matches
/// replies; what a text means is the business of the device classes.
///
/// Requests are serialised per device address (one in flight, the queue
/// ordered by priority, higher first); different devices are served at once.
/// A request with base resend time R leaves with the resend time T that
/// the transport has learnt for its device (R, or up to 3R for a device
/// known to answer later, see ReplyEstimate); unanswered after T it is sent
/// again, and given up 2T after its first send, or sent a third time then
/// and given up after 3T when anything came from the device meanwhile (its
/// state packets too). replyTimes() tells these figures for a device. After
/// a resent request is answered or given up, the device's address rests
/// while a second reply may still come, as long as what is learnt of the
/// device says: a late reply does not answer the next request (see
/// RequestQueue for how far that holds). A datagram counts from when the
/// kernel took it in, not from when
/// a responder reads it: one that came during a rest and was read after the
/// next request left is not that request's reply. The first reply after a
/// give-up is that request's late reply: it goes to the request's late
/// completion when async() was given one, else, as every other datagram that
/// answers nothing, to the unknown-response handler.
///
/// A caller of sync() waits its turn behind the other requests to the
/// device while the device answers, and then for its own request until its
/// answer or give-up; behind another thread's request to a device that has
/// not answered since its last give-up it is let go at once (see
/// RequestQueue). stop() lets every waiting caller go at once. Requests
/// nobody waits for wait their turn however long.
///
/// Every received datagram is first offered to the all-responses handler; one
/// it does not consume is the reply of the request in flight to its address,
/// or else goes to the unknown-response handler.
///
/// Threads (started by run(), joined by stop()): responders, one per
/// processor but at least four and at most eight, each
/// waiting on a socket of its own on the control port (the kernel keeps each
/// device on one of them; broadcasts, and every device's datagrams shaped
/// like state packets, reach the first only), run the handlers
/// and match replies, and must never block. The first socket is read by the
/// dispatcher's idle threads too (ThreadDispatcher::watch), ahead of its
/// responder: a state packet's job then runs on the thread that read it,
/// without a second thread's wake-up, and its responder reads only while
/// both dispatcher threads are busy; one of them reads at a time, in the
/// order of arrival, and counts as a responder meanwhile. Replies of one
/// device are handled in order, those of different devices at once, so the
/// handlers and monitors may be called on several responders at the same
/// time. The sender resends, gives up, lets waiting callers go and ends
/// drain pauses on time; the completer runs the completions of async(), in
/// order, so that a completion that waits (for the GUI lock, say) holds up
/// no reply. A request to an idle device leaves at once from its caller's
/// thread, and the next queued one from the responder as the reply frees
/// the device: an exchange needs no hand-over to the sender.
///
/// Held by a shared pointer; stop() must run before the objects that the
/// handlers reach are destroyed.
class TransferProtocol {
public:
    /// Runs on a responder thread (or a dispatcher thread reading the first
    /// socket); true consumes the datagram.
    typedef boost::function<bool(const std::string& text, const net::IpAndPort& source)> ResponseHandler;
    /// Runs on the completer thread: the reply, or an empty text and false.
    typedef boost::function<void(const std::string& reply, bool answered)> Completion;
    /// Runs on the thread that sends a request (the caller of sync/async when
    /// the device is idle, else the responder or the sender) and on the
    /// responder thread for datagrams from the endpoint; must not block.
    typedef boost::function<void(const std::string& text, bool outgoing)> ConsoleMonitor;

    /// Counts since construction, for logs, tests and benchmarks.
    struct Statistics {
        std::uint64_t sent = 0;       // first sends
        std::uint64_t resent = 0;
        std::uint64_t answered = 0;
        std::uint64_t timedOut = 0;
        std::uint64_t consumed = 0;   // taken by the all-responses handler
        std::uint64_t unmatched = 0;  // answered no request in flight
        std::uint64_t late = 0;       // of those, the late reply of a given-up request
        std::uint64_t refused = 0;    // invalid endpoint or too long, never sent
        std::uint64_t released = 0;   // waiting callers let go unanswered and unsent
    };

    /// Binds the socket on `port` (0: any free port, see getPort) on every
    /// address; `interfaceIp` (empty: none) chooses the interface whose
    /// traffic alone is taken. Starts no thread. Throws exception::ExternalError
    /// when the socket cannot be opened.
    TransferProtocol(std::uint16_t port, const std::string& interfaceIp);
    ~TransferProtocol();
    TransferProtocol(const TransferProtocol&) = delete;
    TransferProtocol& operator=(const TransferProtocol&) = delete;

    /// Starts the threads; only the first call does anything.
    void run();
    /// Drops every pending request without its completion (a completion that
    /// takes the GUI lock would deadlock against the GUI thread joining here),
    /// releases waiting sync() calls with false, empties the console-monitor
    /// table, closes the socket and joins the threads. Idempotent; not to be
    /// called from a handler, monitor or completion (throws
    /// exception::InternalError there).
    void stop();

    /// The handlers run on the responder threads, several at once: each
    /// responder calls a copy of its own, so what a handler keeps must live
    /// behind a pointer it captures and be safe to reach from any thread.
    /// When a setter returns, no responder calls the old handler anew.
    void setAllResponseHandler(ResponseHandler handler);
    void setUnknownResponseHandler(ResponseHandler handler);

    /// Sends `request` (a line feed is added when it has none) and waits for
    /// the reply: behind the requests queued to the device before it while
    /// the device answers, then until its own answer or give-up (see
    /// replyTimes(); before run(), when nothing reads replies, until the
    /// give-up from the call). Behind another thread's requests to a device
    /// that has not answered since its last give-up, false at once. The
    /// caller is the calling thread (see RequestQueue). False with an empty
    /// reply when no reply came in time, for an invalid endpoint (address
    /// unset or port 0: nothing is sent), for a datagram longer than 1472
    /// bytes, and at once when the transport stops. Blocks; any thread but
    /// the responder (a handler calling it throws exception::InternalError:
    /// it would wait for itself).
    bool sync(const net::IpAndPort& to, const std::string& request, std::string& reply, int priority,
              unsigned resendMs);

    /// Queues `request` without waiting; `done` (may be empty) runs on the
    /// completer thread with the reply, or with an empty text and false when
    /// none came or the request was refused. When the request was given up
    /// and its late reply comes within the rest that follows, `late` (may be
    /// empty) runs with it (and true) on the completer thread, after `done`.
    /// Requests still pending at stop() never complete.
    void async(const net::IpAndPort& to, const std::string& request, Completion done, int priority,
               unsigned resendMs, Completion late = Completion());

    /// The times a request with base resend time `resendMs` gets when it
    /// leaves for `to` now: its resend time, its give-up (with a third send,
    /// and without) and how long its late reply may come after the give-up,
    /// with what the transport learnt of the device.
    ReplyTimes replyTimes(const net::IpAndPort& to, unsigned resendMs);

    /// The program's last requests follow (its give-back at the quit): each
    /// leaves with its own resend time, whatever was learnt of its device,
    /// and follows the previous one to its device as soon as that is
    /// answered (see RequestQueue::windUp). For good: stop() comes next.
    void windUp();

    /// How long what the transport learnt of a device's reply times keeps
    /// while nothing renews it (see ReplyEstimate); for tests that cannot sit
    /// through the usual half minute.
    void setEstimateAgeing(std::chrono::milliseconds ageing);

    /// The monitor of one endpoint sees every request sent there (true) and
    /// every datagram from it that the all-responses handler did not consume
    /// (false). A new monitor of an endpoint replaces the old one.
    void setConsoleMonitor(const net::IpAndPort& endpoint, ConsoleMonitor monitor);
    void clearConsoleMonitors();

    /// stop() has begun: nothing sent completes any more.
    bool stopping() const { return m_stopping.load(); }

    /// The bound port (useful when constructed with 0).
    std::uint16_t getPort() const { return m_socket.port(); }
    Statistics getStatistics() const;

private:
    struct Result {
        bool answered = false;
        std::string reply;
    };
    /// Where a sync() caller waits for its result: set once by whichever
    /// thread finishes the request (a futex, no lock: a reply's cost on the
    /// responder is then one wake-up).
    class Waiter {
    public:
        void set(Result result);
        /// True once set; false when `end` passed first (max(): no end).
        bool waitUntil(RequestQueue::TimePoint end);
        Result take() { return std::move(m_result); }

    private:
        std::atomic<std::uint32_t> m_set{0};
        Result m_result;
    };
    /// The waiting side of one request.
    struct Pending {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        std::string request;
        std::shared_ptr<Waiter> waiter;  // sync
        Completion completion;           // async
        Completion late;                 // async, for a late reply after the give-up
    };
    /// A given-up request's late completion, kept while its reply may come.
    struct LateWait {
        Completion completion;
        RequestQueue::TimePoint until;  // the end of the drain at the give-up
    };
    using Incoming = ControlSocket::Datagram;
    struct Finished {
        Completion completion;
        Result result;
    };
    /// What the console monitor of a request's endpoint is shown as it leaves.
    struct Shown {
        net::IpAndPort endpoint;
        std::string request;
    };

    /// The requests of a share of the device addresses under a lock of their
    /// own: callers and responders that deal with different devices seldom
    /// meet at one. A device's requests all live in the same shard.
    struct alignas(64) Shard {
        std::mutex mutex;  // guards what follows
        RequestQueue queue;
        std::unordered_map<RequestQueue::Id, Pending> pending;  // ids are the shard's queue's
        std::unordered_map<RequestQueue::Id, LateWait> late;    // given up, late completion kept
        /// The queue's next timed action as last published under the lock
        /// (steady clock, ns), for the sender to read without it.
        std::atomic<std::int64_t> nextWake{kNever};
    };
    static constexpr std::size_t kShardCount = 16;
    static constexpr std::int64_t kNever = INT64_MAX;
    static constexpr std::int64_t kSenderAwake = INT64_MIN;
    Shard& shardOf(std::uint32_t address);

    /// Checks and queues a request; 0 when it was refused or, a waiting
    /// one, ended at once (logged). `bound` (waiting requests): set to the
    /// time its caller waits until while nothing reads replies (before run()).
    RequestQueue::Id enqueue(const net::IpAndPort& to, const std::string& request, int priority,
                             unsigned resendMs, Pending pending, RequestQueue::TimePoint* bound);
    void finish(Pending& pending, Result result);
    /// Hands a completion to the completer thread.
    void complete(Completion completion, Result result);
    /// Under the shard's lock: what the monitor must see of a first send, if any monitor is set.
    std::optional<Shown> shownOf(const Shard& shard, const RequestQueue::Send& send) const;
    /// Under the shard's lock, after its queue changed: publishes its next
    /// timed action and wakes the sender when that comes before the sender
    /// means to wake.
    void rescheduleSender(Shard& shard);
    /// The earliest published timed action of all shards (steady clock, ns).
    std::int64_t earliestWake() const;
    /// Puts one datagram on the wire (any thread, outside the shards' locks).
    void transmit(const RequestQueue::Send& send, const std::optional<Shown>& shown);
    void monitor(const net::IpAndPort& endpoint, const std::string& text, bool outgoing);
    void senderMain();
    /// The handlers as one responder sees them: each responder has its own
    /// copies behind its own lock, so that looking them up for every
    /// datagram neither waits for nor disturbs the other responders (one
    /// shared lock and one shared count of references would go from core to
    /// core with every datagram).
    struct alignas(64) HandlerSlot {
        std::mutex mutex;
        std::shared_ptr<const ResponseHandler> all;
        std::shared_ptr<const ResponseHandler> unknown;
    };
    /// Gives every responder's slot its own copy of the handler (none when empty).
    void setHandler(std::shared_ptr<const ResponseHandler> HandlerSlot::*which, const ResponseHandler& handler);

    void responderMain(ControlSocket& socket, HandlerSlot& handlers);
    /// The first socket's responder while the dispatcher watches the socket:
    /// it waits behind the dispatcher's threads and reads what they leave.
    void firstResponderMain();
    /// Takes and handles what has come on the first socket, on any thread.
    void readFirstSocket();
    void completerMain();
    /// Hands a datagram to the handlers, its source's endpoint taken from
    /// the reader's cache.
    void respond(Incoming& datagram, HandlerSlot& handlers, SourceCache& sources);

    boost::asio::io_context m_io;  // owns the socket's asio object; nothing runs on it
    ControlSocket m_socket;
    std::vector<std::unique_ptr<ControlSocket>> m_shards;  // more sockets on the port, each with a responder

    std::unique_ptr<Shard[]> m_queues;

    mutable std::mutex m_mutex;  // guards the start, the stop and the sender's sleep
    std::condition_variable m_senderWake;
    bool m_started = false;
    std::atomic<bool> m_running{false};  // run() has started the sender
    // Set under m_mutex, read under a shard's lock: a shard that stop() has
    // emptied takes nothing more.
    std::atomic<bool> m_stopping{false};
    bool m_senderKick = false;
    // When the sender means to wake (steady clock, ns); kSenderAwake while it
    // goes through the shards.
    std::atomic<std::int64_t> m_senderSleepsUntil{kSenderAwake};
    // Callers of sync/async sending their own request right now: counted up
    // under a shard's lock while not stopping, down without it; stop() waits
    // for 0.
    std::atomic<int> m_callerSends{0};
    std::atomic<bool> m_closing{false};  // set with m_stopping
    std::condition_variable m_callerSendsDone;

    std::mutex m_finishedMutex;  // guards m_finished, m_finishedClosed
    std::condition_variable m_finishedWake;
    std::deque<Finished> m_finished;
    bool m_finishedClosed = false;

    std::unique_ptr<HandlerSlot[]> m_handlers;  // one per responder
    std::mutex m_handlerMutex;  // guards the monitor table
    std::map<net::IpAndPort, ConsoleMonitor> m_monitors;
    std::atomic<bool> m_anyMonitor{false};

    struct Counters {
        std::atomic<std::uint64_t> sent{0}, resent{0}, answered{0}, timedOut{0}, consumed{0}, unmatched{0}, late{0},
            refused{0}, released{0};
    } m_counters;

    std::atomic<bool> m_watched{false};  // the dispatcher reads the first socket too (set by run())
    std::mutex m_firstMutex;   // held by the first socket's reader, from receive to the last handler
    std::vector<Incoming> m_firstDatagrams;  // under m_firstMutex
    // Under m_firstMutex: one for every thread that reads the first socket,
    // so that each source's endpoint is made once, not once per thread.
    SourceCache m_firstSources;

    std::thread m_sender;
    std::thread m_responder;
    std::vector<std::thread> m_shardResponders;
    std::thread m_completer;
};

}  // namespace device
