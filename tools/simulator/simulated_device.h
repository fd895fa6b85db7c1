#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include "tools/simulator/fault_switches.h"
#include "tools/simulator/model.h"

namespace device::sim {

using Endpoint = boost::asio::ip::udp::endpoint;

/// How a device treats the requests that come next; the faults a real
/// network and a busy device produce.
struct ReplyPolicy {
    unsigned dropNext = 0;                 // ignore this many further requests
    bool silent = false;                   // ignore every request
    std::chrono::milliseconds delay{0};    // answer this late
    unsigned copies = 1;                   // send each reply this many times ...
    std::chrono::milliseconds copyGap{0};  // ... this far apart
};

/// One datagram the device received.
struct Datagram {
    std::string text;
    Endpoint source;
    std::chrono::steady_clock::time_point at;
};

/// One simulated loudspeaker or console: a UDP socket on a loopback address
/// that answers requests through its model and sends state packets to the
/// server. All socket work runs on the device's strand of the simulator's
/// io_context; the public calls may come from any thread.
class SimulatedDevice {
public:
    /// Called on the device's strand for every request with the reply sent
    /// (nothing when the request was dropped or the model stayed silent).
    using Observer = std::function<void(const std::string& request, const Endpoint& source,
                                        const std::optional<std::string>& reply)>;

    /// Binds the socket at once (throws boost::system::system_error when the
    /// address is taken); receiving starts with start().
    SimulatedDevice(boost::asio::io_context& io, const Endpoint& local, std::unique_ptr<Model> model);
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    const Endpoint& endpoint() const { return m_local; }

    void start();
    /// Closes the socket and stops the timers; the simulator calls it before its
    /// threads end.
    void close();

    void setReplyPolicy(const ReplyPolicy& policy);
    /// Faults of the device itself, asked before the model about every
    /// request (the server's search too) and every state packet.
    void setFaults(std::shared_ptr<FaultSwitches> faults);
    void setObserver(Observer observer);
    /// Whether received datagrams are kept for received(); on by default.
    void setRecording(bool on);

    /// Sends the state packet to `server` now and then every `period`; an
    /// empty request (the server's device search) also draws one. A zero
    /// period sends nothing periodically but keeps the server for searches.
    /// A model that gives an empty packet sends none that time.
    void startStatePackets(const Endpoint& server, std::chrono::milliseconds period);
    /// Sends any text to any endpoint from the device's socket.
    void send(const std::string& text, const Endpoint& to);
    /// The same, `delay` later (a reply a slow network holds back).
    void sendAfter(const std::string& text, const Endpoint& to, std::chrono::milliseconds delay);

    std::vector<Datagram> received() const;
    std::size_t receivedCount() const;
    void clearReceived();
    /// The largest number of distinct requests that were waiting for their
    /// reply at the same time (a resend of a waiting request does not count).
    std::size_t maxPending() const;

    /// Runs `f` on the model under the device's lock and returns its result.
    template <class M, class F>
    auto withModel(F f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(static_cast<M&>(*m_model));
    }

private:
    void receive();
    void handle(std::string text, const Endpoint& source);
    void reply(const std::string& request, const std::string& text, const Endpoint& to,
               unsigned copiesLeft, std::chrono::milliseconds gap, bool first);
    void sendNow(const std::string& text, const Endpoint& to);
    void sendStatePacketNow();
    void scheduleStatePacket();
    std::shared_ptr<boost::asio::steady_timer> makeTimer();

    boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
    boost::asio::ip::udp::socket m_socket;
    const Endpoint m_local;
    std::vector<char> m_buffer;
    Endpoint m_source;
    boost::asio::steady_timer m_stateTimer;
    std::chrono::steady_clock::time_point m_nextStatePacket;  // strand only
    bool m_closed = false;  // strand only

    mutable std::mutex m_mutex;  // guards what follows
    std::unique_ptr<Model> m_model;
    ReplyPolicy m_policy;
    std::shared_ptr<FaultSwitches> m_faults;
    Observer m_observer;
    bool m_recording = true;
    std::vector<Datagram> m_received;
    std::size_t m_receivedCount = 0;
    std::map<std::string, unsigned> m_pending;  // request text -> replies still to send
    std::size_t m_maxPending = 0;
    std::optional<Endpoint> m_server;
    std::chrono::milliseconds m_period{0};
};

}  // namespace device::sim
