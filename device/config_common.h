#pragma once

#include <cstdint>
#include <string>

namespace device {

/// The configuration part that every device model shares: the loudspeaker's
/// and the console's configuration records begin with it (they derive from
/// it), and the device base class reads and writes a device's configuration
/// as this value. Texts are narrow device texts (dotted addresses).
struct ConfigCommon {
    std::uint32_t stateWord = 0;
    std::string ip;
    std::string mask;
    std::string gw;
    bool dhcp = false;
    std::string ifIp;
    std::string ifMask;
    std::string ifGw;
    std::string multicastIp;
    std::uint16_t discoveryPort = 0;
    std::uint16_t srvPort = 0;
    std::uint16_t versionSpan = 0;
    std::string ifAudioSrvIp;
    std::string srvAllowedIP;
    bool switchMode = false;
    std::uint32_t igmpReport = 0;
    std::uint8_t zarnoAddr = 0;
    bool zarnoRelay = false;
    bool zarnoTest = false;
    bool zarnoReserve = false;
};

}  // namespace device
