#include "tools/simulator/simulated_device.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>
#include <stdexcept>

namespace device::sim {

namespace asio = boost::asio;

SimulatedDevice::SimulatedDevice(asio::io_context& io, const Endpoint& local, std::unique_ptr<Model> model)
    : m_strand(asio::make_strand(io)),
      m_socket(m_strand, local),
      m_buffer(65536),
      m_stateTimer(m_strand),
      m_upTimer(m_strand),
      m_deferTimer(m_strand),
      m_rebootTimer(m_strand),
      m_moveTimer(m_strand),
      m_local(m_socket.local_endpoint()),
      m_model(std::move(model)) {
    m_lastHoldings = holdingsLocked();
    m_history.push_back({std::chrono::steady_clock::now(), m_lastHoldings, std::string()});
}

Endpoint SimulatedDevice::endpoint() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_local;
}

void SimulatedDevice::start() {
    asio::post(m_strand, [this] {
        m_receiving = true;
        receive();
    });
}

void SimulatedDevice::close() {
    asio::post(m_strand, [this] {
        m_closed = true;
        boost::system::error_code ignored;
        m_socket.close(ignored);
        m_stateTimer.cancel();
        m_upTimer.cancel();
        m_deferTimer.cancel();
        m_rebootTimer.cancel();
        m_moveTimer.cancel();
    });
}

void SimulatedDevice::setReplyPolicy(const ReplyPolicy& policy) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_policy = policy;
    m_random.seed(policy.seed);
}

void SimulatedDevice::setFaults(std::shared_ptr<FaultSwitches> faults) {
    std::optional<std::chrono::steady_clock::time_point> rebootAt;
    std::optional<std::chrono::steady_clock::time_point> moveAt;
    std::chrono::milliseconds down{0};
    std::string moveTo;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faults = std::move(faults);
        if (m_faults) {
            rebootAt = m_faults->rebootAt();
            down = m_faults->settings().reboot.down;
            moveAt = m_faults->moveAt();
            moveTo = m_faults->settings().move.to;
        }
    }
    asio::post(m_strand, [this, rebootAt, down, moveAt, moveTo] {
        m_rebootTimer.cancel();
        m_moveTimer.cancel();
        if (m_closed) return;
        if (rebootAt) {
            m_rebootTimer.expires_at(*rebootAt);
            m_rebootTimer.async_wait([this, down](const boost::system::error_code& error) {
                if (!error && !m_closed) restartNow(down);
            });
        }
        if (moveAt) {
            m_moveTimer.expires_at(*moveAt);
            m_moveTimer.async_wait([this, moveTo](const boost::system::error_code& error) {
                if (error || m_closed) return;
                std::shared_ptr<Socket> socket;
                std::string cause = "move to " + moveTo;
                try {
                    socket = bindAt(moveTo);
                } catch (const std::exception& failure) {
                    cause += std::string(" failed: ") + failure.what();
                }
                moveNow(std::move(socket), kMoveSilence, cause);
            });
        }
    });
}

void SimulatedDevice::setHoldingsObserver(HoldingsObserver observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holdingsObserver = std::move(observer);
}

void SimulatedDevice::restart(std::chrono::milliseconds down) {
    asio::post(m_strand, [this, down] {
        if (!m_closed) restartNow(down);
    });
}

void SimulatedDevice::moveTo(const std::string& address, std::chrono::milliseconds silence) {
    std::shared_ptr<Socket> socket = bindAt(address);
    asio::post(m_strand, [this, socket, silence, address] {
        if (!m_closed) moveNow(socket, silence, "move to " + address);
    });
}

std::shared_ptr<SimulatedDevice::Socket> SimulatedDevice::bindAt(const std::string& address) {
    boost::system::error_code error;
    const auto ip = asio::ip::make_address_v4(address, error);
    if (error || !ip.is_loopback())
        throw std::invalid_argument("a simulated device must use a loopback address: " + address);
    return std::make_shared<Socket>(m_strand, Endpoint(ip, endpoint().port()));
}

void SimulatedDevice::moveNow(std::shared_ptr<Socket> socket, std::chrono::milliseconds silence,
                              const std::string& cause) {
    if (socket) {
        // The old address goes dead now; a receive still waiting on it ends.
        boost::system::error_code ignored;
        m_socket.close(ignored);
        m_socket = std::move(*socket);
        ++m_socketCount;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    if (socket) {
        boost::system::error_code ignored;
        m_local = m_socket.local_endpoint(ignored);
    }
    // A restart under way brings the device up at its own time.
    const bool restarting = m_down;
    const unsigned life = restarting ? m_life.load() : ++m_life;
    if (!restarting) m_pending.clear();
    m_down = true;
    const std::optional<HoldingsChange> change = noteHoldings(cause);
    const HoldingsObserver observer = m_holdingsObserver;
    lock.unlock();
    tell(change, observer);
    if (socket && m_receiving) receive();
    if (restarting) return;
    m_upTimer.expires_after(silence);
    m_upTimer.async_wait([this, life](const boost::system::error_code& error) {
        if (!error && !m_closed && m_life == life) comeUp(life);
    });
}

Holdings SimulatedDevice::holdings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return holdingsLocked();
}

std::vector<HoldingsChange> SimulatedDevice::holdingsHistory() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history;
}

Holdings SimulatedDevice::holdingsLocked() const {
    Holdings holdings = m_model->holdings();
    if (m_deferred) holdings.deferred = m_deferred->request;
    holdings.down = m_down;
    return holdings;
}

std::optional<HoldingsChange> SimulatedDevice::noteHoldings(const std::string& cause) {
    Holdings now = holdingsLocked();
    if (now == m_lastHoldings) return std::nullopt;
    m_lastHoldings = now;
    HoldingsChange change{std::chrono::steady_clock::now(), std::move(now), cause};
    if (m_recording) m_history.push_back(change);
    return change;
}

void SimulatedDevice::noteChangeByHand(std::unique_lock<std::mutex>& lock) {
    const std::optional<HoldingsChange> change = noteHoldings("by hand");
    const HoldingsObserver observer = change ? m_holdingsObserver : HoldingsObserver();
    lock.unlock();
    tell(change, observer);
}

void SimulatedDevice::tell(const std::optional<HoldingsChange>& change, const HoldingsObserver& observer) {
    if (change && observer) observer(*change);
}

void SimulatedDevice::setObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

void SimulatedDevice::loseNextRequests(unsigned count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_policy.dropNext += count;
}

void SimulatedDevice::delayNextReply(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delayOnce = delay;
}

void SimulatedDevice::setReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_policy.delay = delay;
}

void SimulatedDevice::silenceFor(std::chrono::milliseconds span) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silentUntil = std::chrono::steady_clock::now() + span;
}

void SimulatedDevice::busyFor(std::chrono::milliseconds span) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyUntil = std::chrono::steady_clock::now() + span;
}

void SimulatedDevice::refuseWithError(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (prefix.empty())
        m_errorPrefixes.clear();
    else
        m_errorPrefixes.push_back(prefix);
}

void SimulatedDevice::setRecording(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = on;
}

void SimulatedDevice::startStatePackets(const Endpoint& server, std::chrono::milliseconds period) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_server = server;
        m_period = period;
    }
    asio::post(m_strand, [this] {
        if (m_closed) return;
        m_nextStatePacket = std::chrono::steady_clock::now();
        sendStatePacketNow();
        scheduleStatePacket();
    });
}

void SimulatedDevice::send(const std::string& text, const Endpoint& to) {
    asio::post(m_strand, [this, text, to] { sendNow(text, to); });
}

void SimulatedDevice::sendAfter(const std::string& text, const Endpoint& to, std::chrono::milliseconds delay) {
    const unsigned life = m_life;  // a restart meanwhile loses it
    asio::post(m_strand, [this, text, to, delay, life] {
        if (m_closed) return;
        auto timer = makeTimer();
        timer->expires_after(delay);
        timer->async_wait([this, timer, text, to, life](const boost::system::error_code& error) {
            if (!error && m_life == life) sendNow(text, to);
        });
    });
}

std::vector<Datagram> SimulatedDevice::received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::size_t SimulatedDevice::receivedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_receivedCount;
}

void SimulatedDevice::clearReceived() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_receivedCount = 0;
    m_lastHoldings = holdingsLocked();
    m_history.assign(1, {std::chrono::steady_clock::now(), m_lastHoldings, std::string()});
}

std::size_t SimulatedDevice::maxPending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxPending;
}

void SimulatedDevice::receive() {
    if (m_closed) return;
    const unsigned socket = m_socketCount;
    m_socket.async_receive_from(
        asio::buffer(m_buffer), m_source,
        [this, socket](const boost::system::error_code& error, std::size_t size) {
            // A socket a move replaced: the new one has its own receive.
            if (error == asio::error::operation_aborted || m_closed || socket != m_socketCount) return;
            if (!error) handle(std::string(m_buffer.data(), size), m_source);
            receive();
        });
}

void SimulatedDevice::handle(std::string text, const Endpoint& source) {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_receivedCount;
    if (m_recording) m_received.push_back({text, source, std::chrono::steady_clock::now()});

    if (m_down) {  // restarting: nothing listens yet
        const Observer observer = text.empty() ? Observer() : m_observer;
        lock.unlock();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (observer) observer(text, source, std::nullopt);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (text.empty()) {  // the server's search for devices
        const bool silent = (m_faults && !m_faults->sendsStatePackets()) || now < m_silentUntil;
        lock.unlock();
        if (silent) return;
        sendStatePacketNow();
        return;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();

    std::optional<std::string> answer;
    std::optional<std::optional<std::string>> faulty;
    std::optional<std::chrono::milliseconds> deferBy;
    bool taken = false;  // the device acted on the request (or will)
    const auto refusedWithError = [this, &text] {
        for (const std::string& prefix : m_errorPrefixes)
            if (text.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    };
    if (m_policy.silent) {
    } else if (m_policy.dropNext > 0) {
        --m_policy.dropNext;
    } else if (now < m_silentUntil) {
    } else if (now < m_busyUntil) {
        answer = kBusyReply;
    } else if (refusedWithError()) {
        answer = "ERR simulated fault: " + text;
    } else if (m_faults && (faulty = m_faults->intercept(text))) {
        answer = *faulty;
    } else if (m_faults && (deferBy = m_faults->defers(text))) {
        answer = kDeferredSwitchReply;
        taken = true;
        m_deferred = Deferred{text, ++m_deferTokens};
    } else {
        answer = m_model->answer(text);
        taken = true;
    }
    if (answer && m_faults && m_faults->losesReply(text)) answer.reset();
    const std::optional<std::chrono::milliseconds> reboot =
        taken && m_faults ? m_faults->rebootsAfter(text) : std::nullopt;
    const ReplyPolicy policy = m_policy;
    std::chrono::milliseconds delay = policy.delay;
    if (answer && m_delayOnce) {
        delay = *m_delayOnce;
        m_delayOnce.reset();
    }
    if (answer && policy.jitter.count() > 0) {
        using Rep = std::chrono::milliseconds::rep;
        std::uniform_int_distribution<Rep> extra(0, policy.jitter.count());
        delay += std::chrono::milliseconds(extra(m_random));
    }
    const Observer observer = m_observer;
    const std::optional<HoldingsChange> change = noteHoldings(text);
    const HoldingsObserver holdingsObserver = m_holdingsObserver;
    const unsigned token = m_deferred ? m_deferred->token : 0;
    if (answer) {
        const std::size_t before = m_pending.size();
        ++m_pending[text];
        if (m_pending.size() > before) m_maxPending = std::max(m_maxPending, m_pending.size());
    }
    lock.unlock();

    if (observer) observer(text, source, answer);
    tell(change, holdingsObserver);
    if (deferBy) {
        m_deferTimer.expires_after(*deferBy);  // a switch still waiting is replaced
        m_deferTimer.async_wait([this, token](const boost::system::error_code& error) {
            if (!error && !m_closed) carryOutDeferred(token);
        });
    }
    const unsigned life = m_life;
    if (!answer) {
        if (reboot) restartNow(*reboot);
        return;
    }
    if (delay.count() == 0) {
        reply(text, *answer, source, policy.copies, policy.copyGap, true, life);
        if (reboot) restartNow(*reboot);
        return;
    }
    auto timer = makeTimer();
    timer->expires_after(delay);
    timer->async_wait([this, timer, text, reply = *answer, source, policy, life,
                       reboot](const boost::system::error_code& error) {
        if (error || m_closed || m_life != life) return;
        this->reply(text, reply, source, policy.copies, policy.copyGap, true, life);
        if (reboot) restartNow(*reboot);
    });
}

void SimulatedDevice::restartNow(std::chrono::milliseconds down) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned life = ++m_life;
    m_model->restart();
    m_pending.clear();
    m_deferred.reset();
    m_down = true;
    const std::optional<HoldingsChange> change = noteHoldings("restart");
    const HoldingsObserver observer = m_holdingsObserver;
    lock.unlock();
    tell(change, observer);
    m_deferTimer.cancel();
    m_upTimer.expires_after(down);
    m_upTimer.async_wait([this, life](const boost::system::error_code& error) {
        if (!error && !m_closed && m_life == life) comeUp(life);
    });
}

void SimulatedDevice::comeUp(unsigned life) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_life != life) return;
    m_down = false;
    const std::optional<HoldingsChange> change = noteHoldings("up");
    const HoldingsObserver observer = m_holdingsObserver;
    const bool periodic = m_server && m_period.count() > 0;
    lock.unlock();
    tell(change, observer);
    // A device that starts announces itself, then keeps its period from then on.
    sendStatePacketNow();
    if (!periodic) return;
    m_nextStatePacket = std::chrono::steady_clock::now();
    scheduleStatePacket();
}

void SimulatedDevice::carryOutDeferred(unsigned token) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_deferred || m_deferred->token != token) return;
    const std::string request = m_deferred->request;
    m_deferred.reset();
    m_model->answer(request);  // what it says to itself goes nowhere
    const std::optional<HoldingsChange> change = noteHoldings("deferred " + request);
    const HoldingsObserver observer = m_holdingsObserver;
    lock.unlock();
    tell(change, observer);
}

void SimulatedDevice::reply(const std::string& request, const std::string& text, const Endpoint& to,
                            unsigned copiesLeft, std::chrono::milliseconds gap, bool first, unsigned life) {
    if (first) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_pending.find(request);
        if (it != m_pending.end() && --it->second == 0) m_pending.erase(it);
    }
    if (copiesLeft == 0) return;
    sendNow(text, to);
    if (copiesLeft == 1) return;
    if (gap.count() == 0) {
        reply(request, text, to, copiesLeft - 1, gap, false, life);
        return;
    }
    auto timer = makeTimer();
    timer->expires_after(gap);
    timer->async_wait(
        [this, timer, request, text, to, copiesLeft, gap, life](const boost::system::error_code& error) {
            if (error || m_closed || m_life != life) return;
            reply(request, text, to, copiesLeft - 1, gap, false, life);
        });
}

void SimulatedDevice::sendNow(const std::string& text, const Endpoint& to) {
    if (m_closed) return;
    boost::system::error_code ignored;  // a lost datagram is what UDP does anyway
    m_socket.send_to(asio::buffer(text), to, 0, ignored);
}

void SimulatedDevice::sendStatePacketNow() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_server || m_down || std::chrono::steady_clock::now() < m_silentUntil) return;
    const Endpoint server = *m_server;
    if (m_faults && !m_faults->sendsStatePackets()) return;
    const std::string packet = m_model->statePacket();
    lock.unlock();
    if (!packet.empty()) sendNow(packet, server);
}

void SimulatedDevice::scheduleStatePacket() {
    std::chrono::milliseconds period;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        period = m_period;
    }
    if (period.count() == 0) return;
    // The device keeps its own clock, as a real one does: a late turn of the
    // simulator's threads (thousands of devices may share two) delays this
    // one packet, not every later one, so devices held up together do not go
    // on sending in step. Turns missed altogether are skipped.
    const auto now = std::chrono::steady_clock::now();
    m_nextStatePacket += period;
    if (m_nextStatePacket <= now) m_nextStatePacket += ((now - m_nextStatePacket) / period + 1) * period;
    m_stateTimer.expires_at(m_nextStatePacket);
    m_stateTimer.async_wait([this](const boost::system::error_code& error) {
        if (error || m_closed) return;
        sendStatePacketNow();
        scheduleStatePacket();
    });
}

std::shared_ptr<asio::steady_timer> SimulatedDevice::makeTimer() {
    return std::make_shared<asio::steady_timer>(m_strand);
}

}  // namespace device::sim
