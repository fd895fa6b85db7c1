#include "device/transfer_protocol.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "device/command.h"
#include "device/source_cache.h"

namespace device {

namespace {

using Clock = RequestQueue::Clock;

/// Responders, each reading a socket of its own on the control port. The
/// kernel keeps the datagrams of one sender on one socket, so one device's
/// replies are handled in order while those of different devices are
/// handled at once: a reply's cost is mostly the wake-up of its caller, and
/// with many devices answering at once the replies wait less for a free
/// responder the more there are. One per processor, four to eight.
int responderCount() {
    static const int count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 4u, 8u));
    return count;
}

/// Source endpoints each reader of a socket keeps made: more than a whole site.
constexpr std::size_t kSourceCacheLimit = 16384;

std::int64_t steadyNanoseconds(RequestQueue::TimePoint at) {
    if (at == RequestQueue::TimePoint::max()) return INT64_MAX;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

/// Takes a mutex that is only ever held briefly: a few tries before sleeping
/// on it spare the sleep and the wake-up when many callers meet there (a
/// shard's queue lock, taken by every request and every reply to its devices).
std::unique_lock<std::mutex> lockBriefly(std::mutex& mutex) {
    for (int i = 0; i < 64; ++i) {
        if (mutex.try_lock()) return std::unique_lock<std::mutex>(mutex, std::adopt_lock);
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return std::unique_lock<std::mutex>(mutex);
}

/// The transport whose thread this is; handlers, monitors and completions run
/// on such threads and must not wait for the transport itself.
thread_local const void* t_transportOfThread = nullptr;
thread_local bool t_isResponder = false;

/// The caller a thread's requests count as (see RequestQueue): a number of
/// its own, from 1.
RequestQueue::Caller callerOfThisThread() {
    static std::atomic<RequestQueue::Caller> last{0};
    thread_local const RequestQueue::Caller caller = ++last;
    return caller;
}

/// Runs a callback of the transport's users; whatever it throws is logged
/// under the caller's place, so that one faulty handler does not end a
/// transport thread.
template <class F>
void guarded(base::LogPlace place, const char* what, F&& f) {
    try {
        f();
    } catch (const std::exception& error) {
        place.error(L"%1% failed: %2%", what, std::string(error.what()));
    } catch (...) {
        place.error(L"%1% failed with an unknown exception", what);
    }
}

}  // namespace

void TransferProtocol::Waiter::set(Result result) {
    m_result = std::move(result);
    m_set.store(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&m_set), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool TransferProtocol::Waiter::waitUntil(RequestQueue::TimePoint end) {
    for (;;) {
        if (m_set.load(std::memory_order_acquire) != 0) return true;
        timespec timeout{};
        const timespec* limit = nullptr;
        if (end != RequestQueue::TimePoint::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now()).count();
            if (left <= 0) return false;
            timeout = {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            limit = &timeout;
        }
        // Returns at once when set meanwhile.
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&m_set), FUTEX_WAIT_PRIVATE, 0, limit, nullptr, 0);
    }
}

TransferProtocol::TransferProtocol(std::uint16_t port, const std::string& interfaceIp)
    : m_socket(m_io, port, interfaceIp),
      m_queues(new Shard[kShardCount]),
      m_handlers(new HandlerSlot[responderCount()]),
      m_firstSources(kSourceCacheLimit) {
    for (int i = 1; i < responderCount(); ++i) m_shards.push_back(std::make_unique<ControlSocket>(m_io, m_socket));
    // A site of thousands of loudspeakers sends hundreds of state packets
    // within a few milliseconds. On one responder they come in batches, one
    // wake-up of the responder and of the dispatcher for each batch; spread
    // over all of them, nearly every packet wakes a thread of its own.
    if (!m_shards.empty()) m_socket.takeStatePackets();
}

TransferProtocol::~TransferProtocol() {
    try {
        stop();
    } catch (...) {
        // stop() throws only on a thread of this transport, a fault of the
        // caller that a destructor cannot report.
    }
}

void TransferProtocol::run() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_started || m_stopping) return;
        m_started = true;
    }
    LOG_DEBUG(L"transport threads start, port %1%", getPort());
    m_running = true;
    m_watched = base::ThreadDispatcher::watch(m_socket.descriptor(), [this] { readFirstSocket(); });
    m_responder = std::thread([this] {
        if (m_watched)
            firstResponderMain();
        else
            responderMain(m_socket, m_handlers[0]);
    });
    for (std::size_t i = 0; i < m_shards.size(); ++i)
        m_shardResponders.emplace_back([this, i] { responderMain(*m_shards[i], m_handlers[i + 1]); });
    m_sender = std::thread([this] { senderMain(); });
    m_completer = std::thread([this] { completerMain(); });
}

void TransferProtocol::stop() {
    if (t_transportOfThread == this)
        throw exception::InternalError(L"device::TransferProtocol::stop on a thread of the transport");
    std::vector<std::shared_ptr<Waiter>> waiters;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return;
        m_stopping = true;
        m_closing = true;
    }
    for (std::size_t i = 0; i < kShardCount; ++i) {
        Shard& shard = m_queues[i];
        std::lock_guard<std::mutex> lock(shard.mutex);
        for (auto& entry : shard.pending)
            if (entry.second.waiter) waiters.push_back(entry.second.waiter);
        shard.pending.clear();
        shard.late.clear();
        shard.queue.clear();
    }
    LOG_DEBUG(L"transport stops; %1% waiting callers released", waiters.size());
    for (auto& waiter : waiters) waiter->set(Result());
    {
        std::lock_guard<std::mutex> lock(m_handlerMutex);
        m_monitors.clear();
        m_anyMonitor = false;
    }
    setHandler(&HandlerSlot::all, ResponseHandler());
    setHandler(&HandlerSlot::unknown, ResponseHandler());
    {
        std::lock_guard<std::mutex> lock(m_finishedMutex);
        m_finishedClosed = true;
        m_finished.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_senderWake.notify_all();
    }
    m_finishedWake.notify_all();
    for (std::thread* thread : {&m_sender, &m_completer})
        if (thread->joinable()) thread->join();
    {
        // A caller that put its own request on the wire just before the stop
        // may still be sending; the descriptor must stay open until it is done.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_callerSendsDone.wait(lock, [this] { return m_callerSends == 0; });
    }
    // Waits for a dispatcher thread that reads; no other reads after.
    if (m_watched) base::ThreadDispatcher::unwatch(m_socket.descriptor());
    // Wakes the responder in its receive; it sends nothing more once it has
    // seen the stop, and then nothing uses the socket.
    m_socket.shutdown();
    for (auto& shard : m_shards) shard->shutdown();
    if (m_responder.joinable()) m_responder.join();
    for (auto& thread : m_shardResponders)
        if (thread.joinable()) thread.join();
    m_socket.close();
    for (auto& shard : m_shards) shard->close();
}

void TransferProtocol::setHandler(std::shared_ptr<const ResponseHandler> HandlerSlot::*which,
                                  const ResponseHandler& handler) {
    for (int i = 0; i < responderCount(); ++i) {
        auto copy = handler ? std::make_shared<const ResponseHandler>(handler) : nullptr;
        HandlerSlot& slot = m_handlers[i];
        std::lock_guard<std::mutex> lock(slot.mutex);
        // The old copy is destroyed after the lock is released (or by the
        // responder whose call still runs it).
        (slot.*which).swap(copy);
    }
}

void TransferProtocol::setAllResponseHandler(ResponseHandler handler) {
    LOG_TRACE(L"setAllResponseHandler(..)");
    setHandler(&HandlerSlot::all, handler);
}

void TransferProtocol::setUnknownResponseHandler(ResponseHandler handler) {
    setHandler(&HandlerSlot::unknown, handler);
}

bool TransferProtocol::sync(const net::IpAndPort& to, const std::string& request, std::string& reply, int priority,
                            unsigned resendMs) {
    if (t_isResponder && t_transportOfThread == this)
        throw exception::InternalError(L"device::TransferProtocol::sync on the responder thread would wait for itself");
    reply.clear();
    const auto waiter = std::make_shared<Waiter>();
    Pending pending{to.getAddress(), to.getPort(), request, waiter, Completion(), Completion()};
    RequestQueue::TimePoint bound = RequestQueue::TimePoint::max();
    const RequestQueue::Id id = enqueue(to, request, priority, resendMs, std::move(pending), &bound);
    if (id == 0) return false;

    // The request ends by its answer or give-up, or the sender lets the
    // caller go behind another's request to a device that does not answer,
    // and stop() when the transport stops. Before run() nobody reads replies
    // or gives up: the caller then keeps to the bound itself.
    if (!waiter->waitUntil(m_running ? RequestQueue::TimePoint::max() : bound)) {
        Shard& shard = shardOf(to.getAddress());
        std::unique_lock<std::mutex> lock(shard.mutex);
        const auto it = shard.pending.find(id);
        if (it != shard.pending.end()) {
            shard.pending.erase(it);
            shard.queue.cancel(to.getAddress(), id);
            lock.unlock();
            LOG_DEBUG(L"no reply from %1% to '%2%' in time", to.getWideText(), request);
            return false;
        }
        // A reply or the give-up took the request just now; its result is on its way.
        lock.unlock();
        waiter->waitUntil(RequestQueue::TimePoint::max());
    }
    Result result = waiter->take();
    if (result.answered) reply = std::move(result.reply);
    return result.answered;
}

void TransferProtocol::async(const net::IpAndPort& to, const std::string& request, Completion done, int priority,
                             unsigned resendMs, Completion late) {
    enqueue(to, request, priority, resendMs,
            Pending{to.getAddress(), to.getPort(), request, nullptr, std::move(done), std::move(late)}, nullptr);
}

ReplyTimes TransferProtocol::replyTimes(const net::IpAndPort& to, unsigned resendMs) {
    Shard& shard = shardOf(to.getAddress());
    const auto lock = lockBriefly(shard.mutex);
    return shard.queue.replyTimes(to.getAddress(), std::chrono::milliseconds(resendMs), Clock::now());
}

void TransferProtocol::windUp() {
    for (std::size_t i = 0; i < kShardCount; ++i) {
        Shard& shard = m_queues[i];
        std::lock_guard<std::mutex> lock(shard.mutex);
        shard.queue.windUp();
    }
}

void TransferProtocol::setEstimateAgeing(std::chrono::milliseconds ageing) {
    for (std::size_t i = 0; i < kShardCount; ++i) {
        Shard& shard = m_queues[i];
        std::lock_guard<std::mutex> lock(shard.mutex);
        shard.queue.setAgeing(ageing);
    }
}

RequestQueue::Id TransferProtocol::enqueue(const net::IpAndPort& to, const std::string& request, int priority,
                                           unsigned resendMs, Pending pending, RequestQueue::TimePoint* bound) {
    std::string datagram = request;
    if (datagram.empty() || datagram.back() != '\n') datagram += '\n';
    bool refused = false;
    if (!to.isValid()) {
        LOG_DEBUG(L"request '%1%' to the invalid endpoint %2% is not sent", request, to.getWideText());
        refused = true;
    } else if (datagram.size() > kMaxRequestDatagram) {
        LOG_WARN(L"request of %1% bytes to %2% is longer than one datagram; not sent", datagram.size(),
                 to.getWideText());
        refused = true;
    }
    if (refused) {
        ++m_counters.refused;
        finish(pending, Result());
        return 0;
    }
    RequestQueue::Id id = 0;
    std::optional<RequestQueue::Send> send;
    std::optional<Shown> shown;
    {
        Shard& shard = shardOf(to.getAddress());
        const auto lock = lockBriefly(shard.mutex);
        if (m_stopping) return 0;  // dropped: a stopped transport completes nothing
        const auto now = Clock::now();
        const auto resend = std::chrono::milliseconds(resendMs);
        if (bound != nullptr)
            *bound =
                now + shard.queue.replyTimes(to.getAddress(), resend, now).giveUp + RequestQueue::kWaitSlack;
        id = shard.queue.add(to.getAddress(), to.getPort(), std::move(datagram), priority, resend, now, send,
                             callerOfThisThread(), pending.waiter != nullptr);
        if (id == 0) {
            // A waiting request behind another caller's to a device that
            // counts as not answering.
            ++m_counters.released;
            LOG_DEBUG(L"request '%1%' to %2%, which does not answer, is not waited for behind another's", request,
                      to.getWideText());
            return 0;
        }
        if (send && m_anyMonitor) shown = Shown{to, request};
        shard.pending.emplace(id, std::move(pending));
        if (send) ++m_callerSends;
        rescheduleSender(shard);
    }
    if (send) {
        // The device is idle: the caller sends its request itself, which
        // spares a hand-over to the sender thread.
        transmit(*send, shown);
        if (--m_callerSends == 0 && m_closing) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_callerSendsDone.notify_all();
        }
    }
    return id;
}

void TransferProtocol::finish(Pending& pending, Result result) {
    if (pending.waiter) {
        pending.waiter->set(std::move(result));
        return;
    }
    complete(std::move(pending.completion), std::move(result));
}

void TransferProtocol::complete(Completion completion, Result result) {
    if (!completion) return;
    {
        std::lock_guard<std::mutex> lock(m_finishedMutex);
        if (m_finishedClosed) return;
        m_finished.push_back({std::move(completion), std::move(result)});
    }
    m_finishedWake.notify_one();
}

TransferProtocol::Shard& TransferProtocol::shardOf(std::uint32_t address) {
    // The high bits of a multiplicative hash: the devices of one subnet,
    // whose addresses differ in the low bits, spread over all shards.
    return m_queues[(address * 0x9E3779B1u) >> 28];
}

std::optional<TransferProtocol::Shown> TransferProtocol::shownOf(const Shard& shard,
                                                                 const RequestQueue::Send& send) const {
    if (send.resend || !m_anyMonitor) return std::nullopt;
    const auto it = shard.pending.find(send.id);
    if (it == shard.pending.end()) return std::nullopt;
    return Shown{endpointOf(it->second.address, it->second.port), it->second.request};
}

// The sender publishes when it means to wake, then reads every shard's next
// action again; a caller publishes its shard's next action, then reads when
// the sender means to wake. Of the two, one sees the other's store (both
// are sequentially consistent), so an earlier action is never slept over.
void TransferProtocol::rescheduleSender(Shard& shard) {
    const std::int64_t wake = steadyNanoseconds(shard.queue.nextWake());
    shard.nextWake.store(wake);
    const std::int64_t sleepsUntil = m_senderSleepsUntil.load();
    if (sleepsUntil == kSenderAwake || wake >= sleepsUntil) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_senderKick = true;
    m_senderWake.notify_one();
}

std::int64_t TransferProtocol::earliestWake() const {
    std::int64_t earliest = kNever;
    for (std::size_t i = 0; i < kShardCount; ++i) earliest = std::min(earliest, m_queues[i].nextWake.load());
    return earliest;
}

void TransferProtocol::transmit(const RequestQueue::Send& send, const std::optional<Shown>& shown) {
    // The monitor sees a request before its reply can arrive.
    if (shown) monitor(shown->endpoint, shown->request, true);
    ++(send.resend ? m_counters.resent : m_counters.sent);
    std::string error;
    if (!m_socket.send(send.address, send.port, send.datagram, error))
        LOG_DEBUG(L"send to %1%:%2% failed: %3%", addressText(send.address), send.port, error);
    else
        LOG_TRACE2(L"%1% to %2%:%3%: %4%", send.resend ? L"resend" : L"send", addressText(send.address), send.port,
                   send.datagram);
}

void TransferProtocol::setConsoleMonitor(const net::IpAndPort& endpoint, ConsoleMonitor monitor) {
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_monitors[endpoint] = std::move(monitor);
    m_anyMonitor = true;
}

void TransferProtocol::clearConsoleMonitors() {
    std::lock_guard<std::mutex> lock(m_handlerMutex);
    m_monitors.clear();
    m_anyMonitor = false;
}

void TransferProtocol::monitor(const net::IpAndPort& endpoint, const std::string& text, bool outgoing) {
    ConsoleMonitor target;
    {
        std::lock_guard<std::mutex> lock(m_handlerMutex);
        const auto it = m_monitors.find(endpoint);
        if (it == m_monitors.end()) return;
        target = it->second;
    }
    if (target) guarded(SV_LOG_PLACE, "console monitor", [&] { target(text, outgoing); });
}

TransferProtocol::Statistics TransferProtocol::getStatistics() const {
    Statistics s;
    s.sent = m_counters.sent;
    s.resent = m_counters.resent;
    s.answered = m_counters.answered;
    s.timedOut = m_counters.timedOut;
    s.consumed = m_counters.consumed;
    s.unmatched = m_counters.unmatched;
    s.late = m_counters.late;
    s.refused = m_counters.refused;
    s.released = m_counters.released;
    return s;
}

// The responder receives the datagrams itself: a datagram that needs a
// hand-over to another thread before its handler runs costs a wake-up more.
// The handlers must not block, so the socket is read again soon; the
// kernel's receive buffer holds what comes meanwhile.
void TransferProtocol::responderMain(ControlSocket& socket, HandlerSlot& handlers) {
    t_transportOfThread = this;
    t_isResponder = true;
    std::vector<Incoming> datagrams;
    SourceCache sources(kSourceCacheLimit);
    while (socket.receive(datagrams))
        for (Incoming& datagram : datagrams) respond(datagram, handlers, sources);
}

void TransferProtocol::firstResponderMain() {
    t_transportOfThread = this;
    t_isResponder = true;
    while (m_socket.waitForDatagram()) readFirstSocket();
}

void TransferProtocol::readFirstSocket() {
    // A dispatcher thread is a responder while it reads: a handler that
    // waited for a reply there could wait for itself.
    struct AsResponder {
        const void* transport = t_transportOfThread;
        bool responder = t_isResponder;
        explicit AsResponder(const TransferProtocol* self) {
            t_transportOfThread = self;
            t_isResponder = true;
        }
        ~AsResponder() {
            t_transportOfThread = transport;
            t_isResponder = responder;
        }
    } asResponder(this);
    std::lock_guard<std::mutex> lock(m_firstMutex);
    if (m_socket.receiveReady(m_firstDatagrams))
        for (Incoming& datagram : m_firstDatagrams) respond(datagram, m_handlers[0], m_firstSources);
}

void TransferProtocol::respond(Incoming& datagram, HandlerSlot& handlers, SourceCache& sources) {
    const net::IpAndPort& source = sources.get(datagram.address, datagram.port);
    std::shared_ptr<const ResponseHandler> all;
    {
        std::lock_guard<std::mutex> lock(handlers.mutex);
        all = handlers.all;
    }
    bool consumed = false;
    if (all) guarded(SV_LOG_PLACE, "all-responses handler", [&] { consumed = (*all)(datagram.text, source); });
    if (consumed) {
        ++m_counters.consumed;
        // Whatever it was, the device is there: a request to it that went
        // unanswered twice is sent a third time.
        Shard& shard = shardOf(datagram.address);
        const auto lock = lockBriefly(shard.mutex);
        shard.queue.heard(datagram.address, datagram.arrival);
        return;
    }

    RequestQueue::Match match;
    Pending pending;
    bool waited = false;
    Completion late;
    std::optional<RequestQueue::Send> next;
    std::optional<Shown> shown;
    {
        Shard& shard = shardOf(datagram.address);
        const auto lock = lockBriefly(shard.mutex);
        if (m_stopping) return;
        const auto now = Clock::now();
        match = shard.queue.match(datagram.address, datagram.arrival, now, next);
        if (match.late) {
            const auto it = shard.late.find(match.id);
            if (it != shard.late.end()) {
                late = std::move(it->second.completion);
                shard.late.erase(it);
            }
        } else if (match.id != 0) {
            const auto it = shard.pending.find(match.id);
            if (it != shard.pending.end()) {
                pending = std::move(it->second);
                shard.pending.erase(it);
                waited = true;
            }
            if (next) shown = shownOf(shard, *next);
        }
        // Also after a datagram that answered nothing: it may have extended a drain.
        rescheduleSender(shard);
    }
    if (m_anyMonitor) monitor(source, datagram.text, false);
    // The device is free: its next request leaves before this reply is handed on.
    if (next) transmit(*next, shown);

    if (match.id != 0 && !match.late) {
        ++m_counters.answered;
        LOG_TRACE2(L"reply from %1%: %2%", source.getWideText(), datagram.text);
        if (waited) finish(pending, Result{true, std::move(datagram.text)});
        return;
    }
    ++m_counters.unmatched;
    if (match.late) {
        ++m_counters.late;
        if (late) {
            LOG_TRACE2(L"late reply from %1%: %2%", source.getWideText(), datagram.text);
            complete(std::move(late), Result{true, std::move(datagram.text)});
            return;
        }
    }
    std::shared_ptr<const ResponseHandler> unknown;
    {
        std::lock_guard<std::mutex> lock(handlers.mutex);
        unknown = handlers.unknown;
    }
    if (unknown)
        guarded(SV_LOG_PLACE, "unknown-response handler", [&] { (*unknown)(datagram.text, source); });
    else
        LOG_DEBUG(L"unmatched datagram from %1%: %2%", source.getWideText(), datagram.text);
}

void TransferProtocol::senderMain() {
    t_transportOfThread = this;
    std::vector<RequestQueue::Send> sends;
    std::vector<std::optional<Shown>> shown;
    std::vector<RequestQueue::Id> expired;
    std::vector<RequestQueue::Id> released;
    std::vector<Pending> givenUp;
    std::vector<Pending> letGo;

    while (!m_stopping) {
        m_senderSleepsUntil.store(kSenderAwake);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_senderKick = false;
        }
        for (std::size_t i = 0; i < kShardCount && !m_stopping; ++i) {
            Shard& shard = m_queues[i];
            sends.clear();
            shown.clear();
            expired.clear();
            released.clear();
            givenUp.clear();
            letGo.clear();
            {
                std::lock_guard<std::mutex> lock(shard.mutex);
                if (m_stopping) break;
                const auto now = Clock::now();
                shard.queue.poll(now, sends, expired, released);
                for (RequestQueue::Id id : released) {
                    const auto it = shard.pending.find(id);
                    if (it == shard.pending.end()) continue;
                    letGo.push_back(std::move(it->second));
                    shard.pending.erase(it);
                }
                // Late completions whose drain ended without the late reply.
                for (auto it = shard.late.begin(); it != shard.late.end();)
                    it = it->second.until <= now ? shard.late.erase(it) : std::next(it);
                for (RequestQueue::Id id : expired) {
                    const auto it = shard.pending.find(id);
                    if (it == shard.pending.end()) continue;  // its caller stopped waiting
                    Pending& pending = it->second;
                    if (pending.late) {
                        shard.late[id] = LateWait{std::move(pending.late), shard.queue.drainEnd(pending.address)};
                        // Queued before the lock is let go: the late reply,
                        // which may come at once, completes after it.
                        finish(pending, Result());
                    }
                    givenUp.push_back(std::move(pending));
                    shard.pending.erase(it);
                }
                for (const auto& send : sends) shown.push_back(shownOf(shard, send));
                shard.nextWake.store(steadyNanoseconds(shard.queue.nextWake()));
            }
            for (std::size_t j = 0; j < sends.size(); ++j) transmit(sends[j], shown[j]);
            m_counters.timedOut += expired.size();
            m_counters.released += letGo.size();
            for (Pending& pending : letGo) {
                LOG_DEBUG(
                    L"request '%1%' to %2%:%3%, which does not answer, is not waited for behind another's",
                    pending.request, addressText(pending.address), pending.port);
                finish(pending, Result());
            }
            for (Pending& pending : givenUp) {
                LOG_DEBUG(L"time-out of '%1%' to %2%:%3%", pending.request, addressText(pending.address),
                          pending.port);
                finish(pending, Result());
            }
        }

        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_stopping || m_senderKick) continue;
        const std::int64_t wake = earliestWake();
        m_senderSleepsUntil.store(wake);
        // A caller that published an earlier action before it could see the
        // store above is found here.
        if (earliestWake() < wake) continue;
        const auto due = [this] { return m_stopping || m_senderKick; };
        if (wake == kNever)
            m_senderWake.wait(lock, due);
        else
            m_senderWake.wait_until(lock, RequestQueue::TimePoint(std::chrono::nanoseconds(wake)), due);
    }
}

void TransferProtocol::completerMain() {
    t_transportOfThread = this;
    for (;;) {
        Finished next;
        {
            std::unique_lock<std::mutex> lock(m_finishedMutex);
            m_finishedWake.wait(lock, [this] { return m_finishedClosed || !m_finished.empty(); });
            if (m_finishedClosed) return;
            next = std::move(m_finished.front());
            m_finished.pop_front();
        }
        guarded(SV_LOG_PLACE, "completion", [&] { next.completion(next.result.reply, next.result.answered); });
    }
}

}  // namespace device
