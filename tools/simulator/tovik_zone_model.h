#pragma once

#include <map>
#include <set>
#include <string>

#include "tools/simulator/tovik_config_model.h"

namespace device::sim {

/// A microphone console with zones: besides its settings and passkeys it
/// keeps a zone table (zone number -> virtual zone and loudspeaker
/// addresses), message bindings and a capacity, answering "zoneList all",
/// "zoneScList", "zoneSizeGet", "zoneBind", "zoneScBind" and "zoneDel". Its
/// state packets carry the bound-zones mask of the table (bit n: zone n) and
/// the same mask as connected zones, less `disconnectedZones`.
///
/// Tests change the public members through SimulatedDevice::withModel.
class TovikZoneModel : public TovikConfigModel {
public:
    struct Zone {
        int virtualZone = 0;
        std::set<unsigned> addresses;
    };

    explicit TovikZoneModel(std::string hardwareAddress, std::string versionText = kDefaultTovikVersion);

    std::map<int, Zone> zones;
    std::map<int, int> messages;  // zone number -> message number
    /// Loudspeaker addresses the console stores in all zones together; a
    /// "zoneBind" that would pass it is refused.
    unsigned capacity = 64;
    /// Zones reported bound but not connected (bit n: zone n); every other
    /// bound zone is reported connected.
    unsigned disconnectedZones = 0;
    /// "zoneScBind" is refused ("ERR ...") while set.
    bool refuseMessages = false;
    /// Not empty for a command ("zoneList", "zoneScList", "zoneSizeGet"): the
    /// command answers exactly this.
    std::map<std::string, std::string> replies;

    unsigned usedCapacity() const;
    std::string zoneList() const;
    std::string messageList() const;
    std::string statePacket() const override;

private:
    std::optional<std::string> bind(const std::string& arguments);
};

}  // namespace device::sim
