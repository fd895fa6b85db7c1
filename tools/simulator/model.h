#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace device::sim {

/// What a simulated device holds at one moment, read from inside it rather
/// than from its replies: what the server set and what a listener hears. A
/// field the device has no such thing for stays empty.
struct Holdings {
    std::optional<unsigned> channel;    // the channel a loudspeaker plays
    std::optional<std::string> volume;  // exactly as "get vol" answers it
    std::optional<std::string> memory;  // what the audio memory plays: "idle", "fragment 3"
    /// A request the device has taken and carries out later ("set ch 1"
    /// answered as deferred).
    std::optional<std::string> deferred;
    bool down = false;  // restarting: it neither answers nor sends state packets

    bool operator==(const Holdings& other) const;
    bool operator!=(const Holdings& other) const { return !(*this == other); }
};

/// `channel=1 volume=-15 memory="idle"`: the fields a device has, in that
/// order, then `deferred="set ch 1"` and `down` when they apply; "-" for none.
std::string describe(const Holdings& holdings);

/// What one simulated device says: the state packet it sends on its own and
/// its answers to requests. A device calls its model under its own lock, one
/// call at a time.
class Model {
public:
    virtual ~Model() = default;
    /// The state packet ("<hardware address>,<numbers...>,<version text>").
    virtual std::string statePacket() const = 0;
    /// The reply to one request (its line end removed); nothing keeps the
    /// device silent, as a real device is for a request it drops.
    virtual std::optional<std::string> answer(const std::string& request) = 0;
    /// What the device holds (Holdings::deferred and down are the device's).
    virtual Holdings holdings() const { return {}; }
    /// The device loses power and starts again: what it keeps only while
    /// running (its channel, the volume set since it started, a playback
    /// of its memory) goes back to what it powers up with; its settings stay.
    virtual void restart() {}
};

/// A model as a table of commands: a request is the longest registered
/// command followed by nothing or by a blank and its arguments. Later models
/// add their commands with on(); a request of no command gets
/// "ERR unknown command".
class CommandModel : public Model {
public:
    using Handler = std::function<std::optional<std::string>(const std::string& arguments)>;

    CommandModel(std::string hardwareAddress, std::string versionText);

    void on(const std::string& command, Handler handler);
    std::optional<std::string> answer(const std::string& request) override;
    /// From now on the requests that start with `prefix` ("" is every
    /// request) get `reply` instead of their answer, as a device that refuses
    /// them ("ERR busy"); an empty reply ends the refusal of that prefix.
    void refuse(const std::string& prefix, const std::string& reply);

    /// Something installed on the model (an audio memory, say) that holds
    /// part of what the device holds: `fill` adds it to the holdings, and
    /// `restart`, when given, takes it back to its power-on state. A second
    /// part under the same name replaces the first.
    struct Part {
        std::function<void(Holdings&)> fill;
        std::function<void()> restart;
    };
    void addPart(const std::string& name, Part part);

    Holdings holdings() const override;
    void restart() override;

    const std::string& hardwareAddress() const { return m_hardwareAddress; }
    const std::string& versionText() const { return m_versionText; }
    void setVersionText(std::string text) { m_versionText = std::move(text); }

private:
    std::string m_hardwareAddress;
    std::string m_versionText;
    std::map<std::string, Handler> m_commands;
    std::map<std::string, std::string> m_refusals;  // request prefix -> reply
    std::map<std::string, Part> m_parts;
};

/// A loudspeaker of the Orvel family. The model name in the version text
/// decides the volume format: Orvel-510 firmware speaks "FE:FE" levels, the
/// others signed decibels ("-15").
class OrvelModel : public CommandModel {
public:
    OrvelModel(std::string hardwareAddress, std::string versionText);

    /// The fifteen numbers of the state packet: battery level and state,
    /// line 1 and 2, case, playback state, sound pressure, AC power, Zarno,
    /// AIN, eth, zone state, active zone, alarm order, playback source.
    std::array<unsigned, 15> fields{100, 0, 0, 0, 1, 0, 0, 1, 0, 0, 3, 1, 0, 0, 0};
    /// The volume exactly as "get vol" answers it and "set vol" stores it.
    std::string volume;
    /// The volume it has after a restart: the one it was made with, unless
    /// a test sets another (the last volume set, for a loudspeaker that
    /// keeps it).
    std::string powerOnVolume;

    /// The loudspeaker starts, and starts again after each restart, at
    /// `text` ("-4", or "19:19" for an Orvel-510). Throws
    /// std::invalid_argument with volumeFormError's text for one of the
    /// wrong form.
    void setPowerOnVolume(const std::string& text);

    std::string statePacket() const override;
    Holdings holdings() const override;
    void restart() override;
};

/// Why `text` is no volume that a loudspeaker of `versionText` reports to
/// "get vol"; empty when it is one. An Orvel-510 reports two levels of two
/// upper-case hex digits, 00 (loudest) to 3C, or FE muted ("1E:1E"); the
/// others whole decibels from -96 (muted) to 0, written as "%i" writes them
/// ("-15").
std::string volumeFormError(const std::string& versionText, const std::string& text);

/// A microphone console.
class TovikModel : public CommandModel {
public:
    TovikModel(std::string hardwareAddress, std::string versionText);

    /// The sixteen numbers of the state packet (the first is unused by the
    /// server): power 1 level and state, power 2 level and state, ethernet 1
    /// and 2, microphone line, playback, access, case, bound, connected and
    /// activated zones, Zarno lines, AIN.
    std::array<unsigned, 16> fields{0, 100, 5, 100, 5, 5, 5, 1, 0, 1, 1, 0, 0, 0, 0, 2};
    int volume = 50;

    std::string statePacket() const override;
    Holdings holdings() const override;
};

/// Version texts the simulator gives its devices unless told otherwise.
extern const char* const kDefaultOrvelVersion;
extern const char* const kDefaultOrvel510Version;
extern const char* const kDefaultTovikVersion;

}  // namespace device::sim
