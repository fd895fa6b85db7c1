#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace device::sim {

/// A span of time in which a device misbehaves: `length` long, opened once
/// `after` the run began, or each time a request starting with `onPrefix`
/// arrives while none is open (the request that opens it is its first
/// victim). Neither given: open from the start of the run.
struct FaultWindow {
    std::chrono::milliseconds length{0};  // zero: never open
    std::optional<std::chrono::milliseconds> after;
    std::string onPrefix;
};

/// A device that loses power and starts again (SimulatedDevice::restart):
/// once `after` the run began, and after answering each request that starts
/// with `onPrefix` ("reboot": a loudspeaker that really reboots when told;
/// "set ch": one that takes the switch, says so, and forgets it). Neither
/// given: it never restarts.
struct RebootFault {
    std::optional<std::chrono::milliseconds> after;
    std::string onPrefix;
    std::chrono::milliseconds down{3000};  // neither answers nor sends state packets
};

/// A device that takes another address once, `after` the run began: it
/// falls silent for a second (or for its down time when it restarts
/// meanwhile), keeps what it holds, and answers and sends its state packets
/// from `to` (a loopback address, the same port) from then on
/// (SimulatedDevice::moveTo).
struct MoveFault {
    std::optional<std::chrono::milliseconds> after;
    std::string to;
};

/// The faults of one device that an operator switches on from the
/// simulator's command line.
struct FaultSettings {
    bool noLineControl = false;        // "lsensor..." answered as by a device without the module
    std::vector<std::string> errorOn;  // requests starting with one of these get an error reply
    FaultWindow busy;                  // every request answered with the busy reply
    FaultWindow silent;                // no reply and no state packet
    std::chrono::milliseconds replyDelay{0};  // every reply sent this late ...
    std::chrono::milliseconds replyJitter{0};  // ... and up to this much later again, each its own
    RebootFault reboot;
    MoveFault move;
    /// Not zero: "set ch N" is answered kDeferredSwitchReply and carried out
    /// this long later; a later one takes the place of one still waiting.
    std::chrono::milliseconds deferSwitch{0};
    double loseRequests = 0;  // share of requests lost on the way in: the device never sees them
    double loseReplies = 0;   // share of replies lost on the way out: the device did act
    std::vector<std::string> loseOn;  // only requests starting with one of these are lost; none: all
    unsigned seed = 1;  // of the losses and the jitter; the device's number on the command line
};

/// The settings for one device of the run, by its number in the simulator's
/// order (1 for the first): its faults, and what the group says the device
/// is, which the simulator applies as it makes the device.
struct DeviceFaults {
    unsigned device = 0;
    FaultSettings settings;
    std::optional<int> band;            // a loudspeaker of this firmware index (1..21) ...
    bool orvel611 = false;              // ... in its Orvel-611 form
    std::optional<std::string> volume;  // its power-on volume, as "get vol" answers it
};

/// The reply of a loudspeaker that has no line-control module.
extern const char* const kNoLineControlReply;
/// The reply of a device still working on an earlier request.
extern const char* const kBusyReply;
/// The reply of a loudspeaker that takes a channel switch and makes it later.
extern const char* const kDeferredSwitchReply;

/// Takes one fault option of the command line. Returns false when `name` is
/// no fault option; throws std::invalid_argument for a fault option with a
/// bad value or one given before "--fault-device". `value` is null for an
/// option that takes none (faultOptionTakesValue). "--volume" before the
/// first "--fault-device" is no fault option: it is the whole run's.
bool takeFaultOption(const std::string& name, const char* value, std::vector<DeviceFaults>& faults);
/// Whether a fault option takes a value (true for names that are no fault option).
bool faultOptionTakesValue(const std::string& name);
/// Checks what only the whole group tells (once every option is taken):
/// throws std::invalid_argument for a move without its time or its address.
void checkFaultGroups(const std::vector<DeviceFaults>& faults);

/// The faults of one device in front of its model. The device asks it about
/// each request and each state packet, under the device's lock; any thread.
class FaultSwitches {
public:
    using Clock = std::chrono::steady_clock;

    /// `now` stands for the clock (tests give their own); the run begins
    /// at construction.
    explicit FaultSwitches(FaultSettings settings, std::function<Clock::time_point()> now = Clock::now);

    /// What the device does with a request: nothing when the faults leave it
    /// to the model; otherwise the reply it sends instead, or no reply at all
    /// (an empty optional inside).
    std::optional<std::optional<std::string>> intercept(const std::string& request);
    /// Whether the device sends its state packet now.
    bool sendsStatePackets();
    /// Whether the reply to a request the device took is lost on its way
    /// out. Asked once for each reply the device would send.
    bool losesReply(const std::string& request);
    /// For a request the faults left to the model: how long after its reply
    /// (kDeferredSwitchReply) the device carries it out; nothing when the
    /// model answers it now.
    std::optional<std::chrono::milliseconds> defers(const std::string& request) const;
    /// How long the device stays down when it restarts after answering
    /// `request`; nothing when it does not.
    std::optional<std::chrono::milliseconds> rebootsAfter(const std::string& request) const;
    /// When the device restarts of its own accord, once; nothing: never.
    std::optional<Clock::time_point> rebootAt() const;
    /// When the device moves to settings().move.to, once; nothing: never.
    std::optional<Clock::time_point> moveAt() const;

    const FaultSettings& settings() const { return m_settings; }

    /// A line that says what the switches do, for the simulator's listing.
    std::string describe() const;

private:
    struct Span {
        FaultWindow window;
        std::optional<Clock::time_point> openedAt;
        bool open(Clock::time_point now, Clock::time_point start, const std::string* request);
    };

    bool lost(double share, const std::string& request);  // under m_mutex

    const FaultSettings m_settings;
    const std::function<Clock::time_point()> m_now;
    const Clock::time_point m_start;
    std::mutex m_mutex;  // guards the spans and the generator
    Span m_busy;
    Span m_silent;
    std::mt19937 m_random;
};

}  // namespace device::sim
