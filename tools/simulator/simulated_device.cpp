#include "tools/simulator/simulated_device.h"

#include <boost/asio/post.hpp>

namespace device::sim {

namespace asio = boost::asio;

SimulatedDevice::SimulatedDevice(asio::io_context& io, const Endpoint& local, std::unique_ptr<Model> model)
    : m_strand(asio::make_strand(io)),
      m_socket(m_strand, local),
      m_local(m_socket.local_endpoint()),
      m_buffer(65536),
      m_stateTimer(m_strand),
      m_model(std::move(model)) {}

void SimulatedDevice::start() {
    asio::post(m_strand, [this] { receive(); });
}

void SimulatedDevice::close() {
    asio::post(m_strand, [this] {
        m_closed = true;
        boost::system::error_code ignored;
        m_socket.close(ignored);
        m_stateTimer.cancel();
    });
}

void SimulatedDevice::setReplyPolicy(const ReplyPolicy& policy) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_policy = policy;
}

void SimulatedDevice::setFaults(std::shared_ptr<FaultSwitches> faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = std::move(faults);
}

void SimulatedDevice::setObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
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
    asio::post(m_strand, [this, text, to, delay] {
        if (m_closed) return;
        auto timer = makeTimer();
        timer->expires_after(delay);
        timer->async_wait([this, timer, text, to](const boost::system::error_code& error) {
            if (!error) sendNow(text, to);
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
}

std::size_t SimulatedDevice::maxPending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_maxPending;
}

void SimulatedDevice::receive() {
    if (m_closed) return;
    m_socket.async_receive_from(asio::buffer(m_buffer), m_source,
                                [this](const boost::system::error_code& error, std::size_t size) {
                                    if (error == asio::error::operation_aborted || m_closed) return;
                                    if (!error) handle(std::string(m_buffer.data(), size), m_source);
                                    receive();
                                });
}

void SimulatedDevice::handle(std::string text, const Endpoint& source) {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_receivedCount;
    if (m_recording) m_received.push_back({text, source, std::chrono::steady_clock::now()});

    if (text.empty()) {  // the server's search for devices
        const bool silent = m_faults && !m_faults->sendsStatePackets();
        lock.unlock();
        if (silent) return;
        sendStatePacketNow();
        return;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();

    std::optional<std::string> answer;
    std::optional<std::optional<std::string>> faulty;
    if (m_policy.silent) {
    } else if (m_policy.dropNext > 0) {
        --m_policy.dropNext;
    } else if (m_faults && (faulty = m_faults->intercept(text))) {
        answer = *faulty;
    } else {
        answer = m_model->answer(text);
    }
    const ReplyPolicy policy = m_policy;
    const Observer observer = m_observer;
    if (answer) {
        const std::size_t before = m_pending.size();
        ++m_pending[text];
        if (m_pending.size() > before) m_maxPending = std::max(m_maxPending, m_pending.size());
    }
    lock.unlock();

    if (observer) observer(text, source, answer);
    if (!answer) return;
    if (policy.delay.count() == 0) {
        reply(text, *answer, source, policy.copies, policy.copyGap, true);
        return;
    }
    auto timer = makeTimer();
    timer->expires_after(policy.delay);
    timer->async_wait([this, timer, text, reply = *answer, source, policy](const boost::system::error_code& error) {
        if (!error && !m_closed) this->reply(text, reply, source, policy.copies, policy.copyGap, true);
    });
}

void SimulatedDevice::reply(const std::string& request, const std::string& text, const Endpoint& to,
                            unsigned copiesLeft, std::chrono::milliseconds gap, bool first) {
    if (first) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_pending.find(request);
        if (it != m_pending.end() && --it->second == 0) m_pending.erase(it);
    }
    if (copiesLeft == 0) return;
    sendNow(text, to);
    if (copiesLeft == 1) return;
    if (gap.count() == 0) {
        reply(request, text, to, copiesLeft - 1, gap, false);
        return;
    }
    auto timer = makeTimer();
    timer->expires_after(gap);
    timer->async_wait([this, timer, request, text, to, copiesLeft, gap](const boost::system::error_code& error) {
        if (!error && !m_closed) reply(request, text, to, copiesLeft - 1, gap, false);
    });
}

void SimulatedDevice::sendNow(const std::string& text, const Endpoint& to) {
    if (m_closed) return;
    boost::system::error_code ignored;  // a lost datagram is what UDP does anyway
    m_socket.send_to(asio::buffer(text), to, 0, ignored);
}

void SimulatedDevice::sendStatePacketNow() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_server) return;
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
