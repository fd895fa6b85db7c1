#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
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
    std::chrono::milliseconds delay{0};    // answer this late ...
    unsigned copies = 1;                   // send each reply this many times ...
    std::chrono::milliseconds copyGap{0};  // ... this far apart
    /// ... and up to this much later again, drawn for each reply from a
    /// generator seeded with `seed`, so that replies may overtake each other.
    std::chrono::milliseconds jitter{0};
    unsigned seed = 1;
};

/// One datagram the device received.
struct Datagram {
    std::string text;
    Endpoint source;
    std::chrono::steady_clock::time_point at;
};

/// One change of what a device holds, and what made it: the request it
/// acted on, "restart", "up" (started again), the deferred request carried
/// out ("deferred set ch 1"), "move to 127.0.1.9" (silent while it takes
/// the address), "move to 127.0.1.9 failed: <reason>" (silent, then back
/// where it was), or "by hand" (withModel).
struct HoldingsChange {
    std::chrono::steady_clock::time_point at;
    Holdings holdings;  // after the change
    std::string cause;
};

/// One simulated loudspeaker or console: a UDP socket on a loopback address
/// that answers requests through its model and sends state packets to the
/// server. All socket work runs on the device's strand of the simulator's
/// io_context; the public calls may come from any thread.
///
/// Besides what it says, the device tells what it holds (holdings()): its
/// channel and volume as its model has them, whatever the replies and the
/// server's caches say, and each change of them with its cause.
class SimulatedDevice {
public:
    /// Called on the device's strand for every request with the reply sent
    /// (nothing when the request was dropped or the model stayed silent).
    using Observer = std::function<void(const std::string& request, const Endpoint& source,
                                        const std::optional<std::string>& reply)>;
    /// Called for each change of the holdings, outside the device's lock, on
    /// the strand or on the thread of withModel.
    using HoldingsObserver = std::function<void(const HoldingsChange& change)>;

    /// Binds the socket at once (throws boost::system::system_error when the
    /// address is taken); receiving starts with start().
    SimulatedDevice(boost::asio::io_context& io, const Endpoint& local, std::unique_ptr<Model> model);
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    /// Where the device answers now (a move changes it).
    Endpoint endpoint() const;

    void start();
    /// Closes the socket and stops the timers; the simulator calls it before its
    /// threads end.
    void close();

    void setReplyPolicy(const ReplyPolicy& policy);
    /// Faults of the device itself, asked before the model about every
    /// request (the server's search too) and every state packet. A restart
    /// they time (rebootAt, a steady_clock time) is armed here.
    /// A move they time (moveAt) is armed here too; one that cannot bind
    /// its address when its time comes leaves the device where it was,
    /// after the silence, with the reason in the holdings' history.
    void setFaults(std::shared_ptr<FaultSwitches> faults);
    void setObserver(Observer observer);
    void setHoldingsObserver(HoldingsObserver observer);

    // Faults switched on while the run goes on (the simulator's control
    // channel, a test), beside those of setFaults; any thread. A restart
    // keeps them.
    /// The next `count` requests are lost on the way in: the device never
    /// acts on them (the server's search does not count).
    void loseNextRequests(unsigned count);
    /// The next reply leaves `delay` after its request in place of the
    /// usual delay; the replies after it as before.
    void delayNextReply(std::chrono::milliseconds delay);
    /// Every reply from now on leaves this long after its request (zero: at once).
    void setReplyDelay(std::chrono::milliseconds delay);
    /// For `span` from now the device neither answers nor sends state
    /// packets, as one that lost its link; zero ends a silence.
    void silenceFor(std::chrono::milliseconds span);
    /// For `span` from now every request gets kBusyReply; zero ends it.
    void busyFor(std::chrono::milliseconds span);
    /// From now on the requests that start with `prefix` get
    /// "ERR simulated fault: <request>"; an empty prefix ends every such
    /// refusal.
    void refuseWithError(const std::string& prefix);
    /// Whether received datagrams and the changes of the holdings are kept
    /// for received() and holdingsHistory(); on by default.
    void setRecording(bool on);

    /// The device loses power now and starts again: its model restarts
    /// (Model::restart), a deferred request and the replies it still owed
    /// are lost, and for `down` it neither answers nor sends state packets;
    /// then it sends its state packet at once and every period from then on.
    void restart(std::chrono::milliseconds down);

    /// How long a device that moves stays silent, unless a restart keeps it
    /// down longer.
    static constexpr std::chrono::milliseconds kMoveSilence{1000};
    /// The device takes another loopback address, the port staying: its
    /// old address goes dead at once, and for `silence` it neither answers
    /// nor sends state packets, and the replies it still owed are lost (a
    /// restart under way keeps it down for its own down time instead); then
    /// it announces itself from `address`, answers there and keeps its
    /// period. It keeps what it holds, a deferred switch too. Binds at
    /// once: throws std::invalid_argument for an address that is no
    /// loopback address and boost::system::system_error when it cannot be
    /// bound.
    void moveTo(const std::string& address, std::chrono::milliseconds silence = kMoveSilence);

    /// What the device holds now.
    Holdings holdings() const;
    /// The holdings when recording began or was last cleared, then each change.
    std::vector<HoldingsChange> holdingsHistory() const;

    /// Sends the state packet to `server` now and then every `period`; an
    /// empty request (the server's device search) also draws one. A zero
    /// period sends nothing periodically but keeps the server for searches.
    /// A model that gives an empty packet sends none that time.
    void startStatePackets(const Endpoint& server, std::chrono::milliseconds period);
    /// Sends any text to any endpoint from the device's socket.
    void send(const std::string& text, const Endpoint& to);
    /// The same, `delay` later (a reply a slow network holds back); lost
    /// when the device restarts meanwhile.
    void sendAfter(const std::string& text, const Endpoint& to, std::chrono::milliseconds delay);

    std::vector<Datagram> received() const;
    std::size_t receivedCount() const;
    /// Forgets what was received and the holdings' changes: the history
    /// starts again from what the device holds now.
    void clearReceived();
    /// The largest number of distinct requests that were waiting for their
    /// reply at the same time (a resend of a waiting request does not count).
    std::size_t maxPending() const;

    /// Runs `f` on the model under the device's lock and returns its result;
    /// what `f` changed of the holdings counts as changed "by hand".
    template <class M, class F>
    auto withModel(F f) {
        std::unique_lock<std::mutex> lock(m_mutex);
        M& model = static_cast<M&>(*m_model);
        if constexpr (std::is_void_v<decltype(f(model))>) {
            f(model);
            noteChangeByHand(lock);
        } else {
            auto result = f(model);
            noteChangeByHand(lock);
            return result;
        }
    }

private:
    using Socket = boost::asio::ip::udp::socket;
    void receive();
    void handle(std::string text, const Endpoint& source);
    void reply(const std::string& request, const std::string& text, const Endpoint& to, unsigned copiesLeft,
               std::chrono::milliseconds gap, bool first, unsigned life);
    void sendNow(const std::string& text, const Endpoint& to);
    void sendStatePacketNow();
    void scheduleStatePacket();
    std::shared_ptr<boost::asio::steady_timer> makeTimer();
    /// Strand only.
    void restartNow(std::chrono::milliseconds down);
    void comeUp(unsigned life);
    void carryOutDeferred(unsigned token);
    /// Strand only: takes `socket` (bound at the new address) in place of
    /// the old one, or, when it is null, stays where it is; silent for
    /// `silence` unless already down.
    void moveNow(std::shared_ptr<Socket> socket, std::chrono::milliseconds silence, const std::string& cause);
    std::shared_ptr<Socket> bindAt(const std::string& address);

    /// Under m_mutex: the holdings now, and the change since the last
    /// look when there is one.
    Holdings holdingsLocked() const;
    std::optional<HoldingsChange> noteHoldings(const std::string& cause);
    void noteChangeByHand(std::unique_lock<std::mutex>& lock);
    void tell(const std::optional<HoldingsChange>& change, const HoldingsObserver& observer);

    boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
    Socket m_socket;  // strand only, once started
    std::vector<char> m_buffer;
    Endpoint m_source;
    boost::asio::steady_timer m_stateTimer;
    boost::asio::steady_timer m_upTimer;      // the end of a restart's down time or a move's silence
    boost::asio::steady_timer m_deferTimer;   // the deferred request's time
    boost::asio::steady_timer m_rebootTimer;  // the restart the faults time
    boost::asio::steady_timer m_moveTimer;    // the move the faults time
    std::chrono::steady_clock::time_point m_nextStatePacket;  // strand only
    bool m_closed = false;                                    // strand only
    bool m_receiving = false;                                 // strand only: start() came
    /// Strand only: counts the sockets, so that a receive of one replaced
    /// by a move ends there.
    unsigned m_socketCount = 0;
    /// Counts the restarts: what was due in an earlier life is dropped.
    std::atomic<unsigned> m_life{0};

    mutable std::mutex m_mutex;  // guards what follows
    Endpoint m_local;
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
    std::mt19937 m_random{1};  // the reply jitter
    bool m_down = false;
    struct Deferred {
        std::string request;
        unsigned token;
    };
    std::optional<Deferred> m_deferred;
    unsigned m_deferTokens = 0;
    Holdings m_lastHoldings;
    std::vector<HoldingsChange> m_history;
    HoldingsObserver m_holdingsObserver;
    // The faults switched on while the run goes on.
    std::chrono::steady_clock::time_point m_silentUntil{};
    std::chrono::steady_clock::time_point m_busyUntil{};
    std::vector<std::string> m_errorPrefixes;
    std::optional<std::chrono::milliseconds> m_delayOnce;
};

}  // namespace device::sim
