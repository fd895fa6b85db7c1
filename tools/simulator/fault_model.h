#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "tools/simulator/model.h"
#include "tools/simulator/simulated_device.h"

namespace device::sim {

/// What the network or a failing device does to one reply.
enum class Fault {
    None,       // delivered as the model gave it
    Drop,       // lost after the model acted on the request
    Delay,      // delivered `delay` late instead of now
    Duplicate,  // delivered now and once more `delay` later
    Reorder,    // held back and delivered just after the next reply
    Flip,       // one bit of one byte inverted
    Truncate,   // cut short (possibly to nothing)
    Garbage,    // replaced by random bytes of any value
};
constexpr std::size_t kFaultKinds = 8;

/// The chance of each fault for a reply that no script decides; the rest of
/// the probability is Fault::None.
struct FaultRates {
    double drop = 0;
    double delay = 0;
    double duplicate = 0;
    double reorder = 0;
    double corrupt = 0;  // split evenly between flip, truncate and garbage
};

/// A faulty network and a failing device in front of a model. Each reply is
/// given a fault, first from the script (in order), then by the seeded rates,
/// so that a run can be repeated. State packets can be corrupted by a rate of
/// their own. A silenced device neither answers nor sends state packets, as a
/// loudspeaker that lost power, until it is told to speak again.
///
/// Delayed, duplicated and reordered replies leave through the device's
/// socket later, to the server given to attach(); without attach() they are
/// lost. The device calls answer and statePacket under its own lock; the
/// other calls come from the test thread.
class FaultModel : public Model {
public:
    FaultModel(std::unique_ptr<Model> inner, unsigned seed);

    /// Where late replies go: sent from `device` (the one holding this model)
    /// to `server`. The device must outlive the model's use.
    void attach(SimulatedDevice& device, const Endpoint& server);

    /// The model behind the faults; tests change it under the device's lock
    /// (SimulatedDevice::withModel<FaultModel>).
    template <class M>
    M& inner() {
        return static_cast<M&>(*m_inner);
    }

    void setRates(const FaultRates& rates);
    /// The chance that a state packet is corrupted (flip, truncate or garbage).
    void setPacketCorruption(double rate);
    /// Faults for the next replies, before the rates apply again; with a
    /// prefix, for the next replies to requests that start with it.
    void script(std::initializer_list<Fault> faults, const std::string& prefix = std::string());
    /// How late Delay delivers, and how far apart Duplicate sends its copies.
    void setDelay(std::chrono::milliseconds delay);

    /// Silent from now until speak().
    void silence();
    void speak();

    /// How many replies (and state packets) met each fault.
    unsigned count(Fault fault) const;

    std::string statePacket() const override;
    std::optional<std::string> answer(const std::string& request) override;
    Holdings holdings() const override { return m_inner->holdings(); }
    /// The model restarts; a reply held back for reordering is lost with
    /// the power. A silenced device stays silent.
    void restart() override;

private:
    static std::string flipped(const std::string& text, std::mt19937& random);
    static std::string truncated(const std::string& text, std::mt19937& random);
    static std::string garbage(std::mt19937& random);

    Fault nextFault(const std::string& request);
    std::string corrupt(Fault fault, const std::string& text) const;
    void deliverLater(const std::string& text, std::chrono::milliseconds delay);

    const std::unique_ptr<Model> m_inner;

    mutable std::mutex m_mutex;  // guards what follows
    std::function<void(const std::string&, std::chrono::milliseconds)> m_outlet;
    mutable std::mt19937 m_random;
    FaultRates m_rates;
    double m_packetCorruption = 0;
    std::deque<std::pair<std::string, Fault>> m_script;  // (request prefix, fault)
    std::chrono::milliseconds m_delay{50};
    bool m_silent = false;
    std::optional<std::string> m_held;  // a reordered reply waiting for the next one
    mutable std::array<unsigned, kFaultKinds> m_counts{};  // state packets' corruptions too
};

}  // namespace device::sim
