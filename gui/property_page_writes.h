#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "device/models/tovik_config.h"

namespace device {
class DeviceBase;
class DeviceCollection;
class OrvelInfo;
class TovikInfo;
}  // namespace device

namespace frm {

/// The writing halves of the property panel's Apply: the GUI thread takes
/// what the operator chose on the shown page into a plain record, and these
/// write it to the device on the panel's worker, reading first what the
/// device holds where the page leaves it as it is. No window. The device's
/// and the collection's exceptions pass on.
namespace page_writes {

/// "Общие" of a loudspeaker: the settings of its lines.
struct LineChoice {
    bool linesJoined = false;
    bool lineTest = false;
};
/// A fresh read of the loudspeaker's settings with the lines' two set, then
/// written: true when the device restarts for them (the panel closes).
bool writeLines(device::OrvelInfo& loudspeaker, const LineChoice& choice);

/// "Общие" of a console: its options. No gong id while no entry of the gong
/// list is chosen: the console keeps its own.
struct ConsoleChoice {
    bool gong = false;
    std::optional<std::uint16_t> gongId;
    bool beeper = false;
    bool singlePower = false;
    bool gochsArm = false;
    bool faultAlarm = false;
    bool ledScBlink = false;
    bool fire = false;
    std::uint32_t priority = 0;
    std::uint32_t powerIn1 = 0;
    std::uint32_t powerIn2 = 0;
};
/// The console's settings (the kept copy allowed) with the choice set.
device::TovikConfig consoleConfig(device::TovikInfo& console, const ConsoleChoice& choice);

/// "Сеть".
struct NetworkChoice {
    std::string multicastIp;
    /// The address the server is allowed from; none: any ("0.0.0.0").
    std::optional<std::string> allowedIp;
    std::uint16_t port = 0;
    bool dhcp = false;
    std::string ip, mask, gateway;
    bool lanRedundancy = false;
    bool igmp = false;
};
/// A fresh read of the record with the choice set, written: true when the
/// device restarts for it.
bool writeNetwork(device::DeviceBase& device, const NetworkChoice& choice);

/// "Зарно".
struct ZarnoChoice {
    std::uint8_t address = 0;
    bool relayEvents = false;
    bool interfaceErrors = false;
    bool lineRedundancy = false;
};
bool writeZarno(device::DeviceBase& device, const ZarnoChoice& choice);

/// "Источники". An input's scenario is none while no entry of its choice is
/// chosen: the loudspeaker keeps its own.
struct SourceChoice {
    bool streamFromOthers = false;
    bool forwardInput1 = false;
    bool forwardInput2 = false;
    bool analogFilter = false;
    std::uint16_t zarnoMessages = 0, analogInput2 = 0, analogInput1 = 0, multicast = 0, console = 0,
                  alarmStream = 0;
    std::optional<std::uint16_t> scenarioInput2, scenarioInput1;
    bool lineIntegrity = false;
};
/// The loudspeaker's settings (the kept copy allowed) with the choice set,
/// written: true when the device restarts for them.
bool writeSources(device::OrvelInfo& loudspeaker, const SourceChoice& choice);

/// "Зоны трансляции": how the binding of one zone ended. A refusal of the
/// collection is kept by its code word ("partialIntersection",
/// "internalPlaying" or another), for the GUI thread to tell.
struct ZoneWrite {
    bool written = true;
    std::wstring refusal;
};
/// No entry of the message choice chosen (`selection` none) keeps the zone's
/// message; entry 0 is the microphone (-1), entry n scenario n. An empty
/// set unbinds the zone (nothing when nothing was bound), else the set is
/// bound with the message.
using OrvelSet = std::set<boost::shared_ptr<device::OrvelInfo>>;
ZoneWrite writeZone(device::DeviceCollection& collection, const boost::shared_ptr<device::TovikInfo>& console,
                    int zone, std::optional<int> selection, const OrvelSet& chosen);

}  // namespace page_writes
}  // namespace frm
