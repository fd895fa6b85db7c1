#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace device::sim {

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

    const std::string& hardwareAddress() const { return m_hardwareAddress; }
    const std::string& versionText() const { return m_versionText; }
    void setVersionText(std::string text) { m_versionText = std::move(text); }

private:
    std::string m_hardwareAddress;
    std::string m_versionText;
    std::map<std::string, Handler> m_commands;
    std::map<std::string, std::string> m_refusals;  // request prefix -> reply
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

    std::string statePacket() const override;
};

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
};

/// Version texts the simulator gives its devices unless told otherwise.
extern const char* const kDefaultOrvelVersion;
extern const char* const kDefaultOrvel510Version;
extern const char* const kDefaultTovikVersion;

}  // namespace device::sim
