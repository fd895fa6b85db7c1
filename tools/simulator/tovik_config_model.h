#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/simulator/model.h"

namespace device::sim {

/// A microphone console that keeps its settings and passkeys: "get state"
/// ("state:" and 29 values, one a line), "set <key> <value>" for its 24
/// configuration keys, "get dbg", and the passkey requests "passkeyList",
/// "passkeyAdd", "passkeyFinish", "passkeyDel <key>", "passkeyReset". While
/// it listens for a new key, "present key <key>" (a test trigger standing
/// for a key held to the reader) adds the key and ends listening.
///
/// Tests change the public members through SimulatedDevice::withModel.
class TovikConfigModel : public TovikModel {
public:
    TovikConfigModel(std::string hardwareAddress, std::string versionText = kDefaultTovikVersion);

    /// Setting name -> value text as "set" stores it ("on"/"off" for flags).
    /// Names are the keys, plus "consoleWord", "addr1".."addr3" and "free"
    /// for the fields no key writes. "priority" is the raw value with the
    /// AIN bit 0x80. "dhcp" is "on"/"off", reported as "DHCP"/"static".
    std::map<std::string, std::string> values;
    /// Not empty: "get state" answers exactly this.
    std::string stateReplyOverride;
    /// The learnt keys in order, and whether a new one is awaited.
    std::vector<std::string> passkeys;
    bool listening = false;
    /// Not empty: "passkeyList" answers exactly this.
    std::string passkeyReplyOverride;

    std::string stateReply() const;
    std::string passkeyList() const;
    /// The key reader: ends listening and adds the key (ignored otherwise).
    void presentKey(const std::string& key);

private:
    std::string value(const std::string& name) const;
};

}  // namespace device::sim
