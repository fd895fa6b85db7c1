#pragma once

#include <map>
#include <string>

#include "tools/simulator/orvel_band_model.h"

namespace device::sim {

/// A loudspeaker of a firmware generation that keeps its settings: it
/// answers "config" and "ifconfig" (index 8 and below) or "get state" (9 and
/// above) in the generation's reply shape, "get igmpReport", the line and
/// Zarno test queries, "set <key> <value>" for the keys that generation
/// knows, "getLineParam" and "get dbg".
///
/// One store holds every setting by a canonical name; the key names of the
/// generations map onto it. Index 17 firmware exists with both namings of
/// the analog inputs: "multicastAIN1", "priAIN1" and "scAIN1" there mean the
/// first input (the newer naming), "...AIN0" the first input too, "...AIN2"
/// the second.
class OrvelConfigModel : public OrvelBandModel {
public:
    OrvelConfigModel(std::string hardwareAddress, int index, bool orvel611 = false);

    /// Canonical name -> value text as "set" stores it ("on"/"off" for flags).
    /// Names: ip mask gw dhcp multicast srvPort srvAllowed ch0Port ch1Port
    /// audioSrv zarnoAddr zarnoRelay zarnoTest zarnoReserve lineTest
    /// lineDouble multicastListen multicastAin1 multicastAin2 priAin1 priAin2
    /// priVoiceAlert priStreamMCast priZoneInput priStream scAin1 scAin2
    /// switchMode ain2Arm ainFilter igmpReport stateWord stateText pair
    /// stateNumber. Tests change it through SimulatedDevice::withModel.
    std::map<std::string, std::string> values;
    /// Not empty: "get state" answers exactly this.
    std::string stateReplyOverride;
    /// Not empty: "config" answers exactly this.
    std::string configReplyOverride;

    /// The canonical name a key sets at this generation and model; empty
    /// when the firmware doesn't know the key.
    std::string settingOfKey(const std::string& key) const;

    std::string configReply() const;
    std::string ifconfigReply() const;
    std::string stateReply() const;

private:
    std::string value(const std::string& name) const;
    bool hasInputsMask() const;
};

}  // namespace device::sim
