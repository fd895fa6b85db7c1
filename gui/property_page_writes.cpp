#include "gui/property_page_writes.h"

#include "base/exception.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "gui/zone_page_model.h"

namespace frm {
namespace page_writes {

bool writeLines(device::OrvelInfo& loudspeaker, const LineChoice& choice) {
    device::OrvelConfig config = loudspeaker.getConfig(true);
    config.linesJoined = choice.linesJoined;
    config.lineTest = choice.lineTest;
    return loudspeaker.setConfig(config);
}

device::TovikConfig consoleConfig(device::TovikInfo& console, const ConsoleChoice& choice) {
    device::TovikConfig config = console.getConfig(false);
    config.gong = choice.gong;
    if (choice.gongId) config.gongId = *choice.gongId;
    config.beeper = choice.beeper;
    config.singlePower = choice.singlePower;
    config.gochsArm = choice.gochsArm;
    config.faultAlarm = choice.faultAlarm;
    config.ledScBlink = choice.ledScBlink;
    config.ainEnabled = choice.fire;
    config.priority = choice.priority;
    config.powerIn1 = choice.powerIn1;
    config.powerIn2 = choice.powerIn2;
    return config;
}

bool writeNetwork(device::DeviceBase& device, const NetworkChoice& choice) {
    device::ConfigCommon config = device.readConfig(true);
    config.multicastIp = choice.multicastIp;
    config.srvAllowedIP = choice.allowedIp ? *choice.allowedIp : "0.0.0.0";
    config.srvPort = choice.port;
    config.dhcp = choice.dhcp;
    config.ip = choice.ip;
    config.mask = choice.mask;
    config.gw = choice.gateway;
    // The device's flag says "no redundancy".
    config.switchMode = !choice.lanRedundancy;
    config.igmpReport = choice.igmp ? 60 : 0;
    return device.writeConfig(config);
}

bool writeZarno(device::DeviceBase& device, const ZarnoChoice& choice) {
    device::ConfigCommon config = device.readConfig(true);
    config.zarnoAddr = choice.address;
    config.zarnoRelay = choice.relayEvents;
    config.zarnoTest = choice.interfaceErrors;
    config.zarnoReserve = choice.lineRedundancy;
    return device.writeConfig(config);
}

bool writeSources(device::OrvelInfo& loudspeaker, const SourceChoice& choice) {
    device::OrvelConfig config = loudspeaker.getConfig(false);
    config.multicastListen = choice.streamFromOthers;
    config.multicastAin1 = choice.forwardInput1;
    config.multicastAin2 = choice.forwardInput2;
    config.ainFilter = choice.analogFilter;
    config.priVoiceAlert = choice.zarnoMessages;
    config.priAin2 = choice.analogInput2;
    config.priAin1 = choice.analogInput1;
    config.priStreamMCast = choice.multicast;
    config.priZoneInput = choice.console;
    config.priStream = choice.alarmStream;
    if (choice.scenarioInput2) config.scenarioIdAin2 = *choice.scenarioInput2;
    if (choice.scenarioInput1) config.scenarioIdAin1 = *choice.scenarioInput1;
    config.ain2Arm = choice.lineIntegrity;
    return loudspeaker.setConfig(config);
}

ZoneWrite writeZone(device::DeviceCollection& collection, const boost::shared_ptr<device::TovikInfo>& console,
                    int zone, std::optional<int> selection, const OrvelSet& chosen) {
    ZoneWrite write;
    const device::ConsoleZoneMap zones = console->getZones();
    const device::ConsoleZone current = zone_page::zoneRecord(zones, zone);
    // No entry chosen: the zone's messages could not be listed, and the zone
    // keeps the message it has.
    const int scenario = !selection ? current.scenario : *selection == 0 ? -1 : *selection;
    try {
        if (chosen.empty()) {
            if (zones.count(zone) == 0) return write;  // nothing bound, nothing to unbind
            int number = zone;                         // the collection may change its argument
            collection.unbindDevices(console, number);
        } else {
            collection.rebindDevices(console, zone, scenario, chosen);
        }
    } catch (const exception::UserResponse& e) {
        write.written = false;
        write.refusal = e.getNotification();
    }
    return write;
}

}  // namespace page_writes
}  // namespace frm
