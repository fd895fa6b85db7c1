// Reading and checking the loudspeaker's configuration record: the two reply
// formats and the validation before a write. No device, no lock.
#include <cstdio>

#include "base/check.h"
#include "base/exception.h"
#include "base/ip_address.h"
#include "base/log.h"
#include "device/device_base.h"
#include "device/models/orvel_config.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"
#include "device/models/version_tables.h"

namespace device {

namespace {

constexpr std::string_view kReadPlace = "device::OrvelInfo::getConfig";
constexpr std::int32_t kLargestNumber = 2147483647;

/// A reply the record can't be built from. The check's log lines stay as
/// they always were; the caller gets the device's reply, not an internal
/// error, because the fault is the device's.
void malformedIfFalse(bool ok, const std::string& reply) {
    if (ok) return;
    try {
        debug::throwIfFalse(false, kReadPlace, L"Detected an error in device response!");
    } catch (const exception::ServerError&) {
    }
    throw exception::UnexpectedResponseOfDevice(reply);
}

bool addressOf(const std::string& field, std::string& address) {
    return net::splitIpAndPort(field, &address, nullptr);
}

bool addressAndPortOf(const std::string& field, std::string& address, std::uint16_t& port) {
    return net::splitIpAndPort(field, &address, &port);
}

bool flag(const std::string& field, bool& value) { return DeviceBase::parseBoolValue(field, value); }

/// Ports and priorities: the device may send any non-negative int; the
/// record keeps 16 bits, so a larger number is cut, and said so.
bool number16(const std::string& field, std::uint16_t& value, const wchar_t* name) {
    std::uint32_t wide = 0;
    if (!DeviceBase::parseIntValue<std::uint32_t>(field, wide, 0, kLargestNumber)) return false;
    if (wide > 0xFFFF)
        LOG_WARN(L"The device sent %1% = %2%, which is cut to %3%", std::wstring(name), wide,
                 static_cast<std::uint16_t>(wide));
    value = static_cast<std::uint16_t>(wide);
    return true;
}

bool position(const std::string& field, std::int16_t& value) {
    return DeviceBase::parseIntValue<std::int16_t>(field, value, -1, 64);
}

}  // namespace

void parseOldConfigAddresses(const std::vector<std::string>& a, const std::vector<std::string>& i, int index,
                             const std::string& reply, OrvelConfig& config) {
    config.ip = a[0];
    config.mask = a[1];
    config.gw = a[2];
    config.dhcp = DeviceBase::parseDhcpValue(a[4]) >= 0;
    config.ifIp = i[0];
    config.ifMask = i[1];
    config.ifGw = i[2];
    config.multicastIp = a[5];
    bool ok = addressAndPortOf(a[6], config.audioSrvIp, config.discoveryPort);
    ok = ok && addressOf(i[6], config.ifAudioSrvIp);
    config.versionSpan = static_cast<std::uint16_t>(getVersionSpan(index) + 1);
    ok = ok && addressAndPortOf(a[8], config.srvAllowedIP, config.srvPort);
    ok = ok && addressOf(i[8], config.ifSrvAllowedIp);
    std::string ignored;
    ok = ok && addressAndPortOf(a[7], ignored, config.micPort);
    malformedIfFalse(ok, reply);
}

bool parseOldConfigZarno(const std::vector<std::string>& a, OrvelConfig& config) {
    bool ok = DeviceBase::parseIntValue<std::uint8_t>(a[9], config.zarnoAddr, 0, 127);
    ok = flag(a[12], config.zarnoRelay) && ok;
    return ok;
}

void normaliseStateFields(std::vector<std::string>& s, int index, const std::string& reply) {
    if (index < 15) {
        // No analog-input scenarios before this generation.
        s.push_back("-1");
        s.push_back("-1");
    }
    if (index >= 18) return;
    if (s.size() < 26) throw exception::UnexpectedResponseOfDevice(reply);
    // Older generations know neither the zone input's priority, the Zarno
    // reserve, nor the switch mode, the second input's arming, the input
    // filter and the IGMP report: their factory values stand in.
    s.insert(s.begin() + 21, "0");
    s.insert(s.begin() + 26, "off");
    for (const char* value : {"on", "off", "off", "60"}) s.push_back(value);
}

void parseStateAddresses(const std::vector<std::string>& s, int index, const std::string& reply,
                         OrvelConfig& config) {
    bool ok = DeviceBase::parseIntValue<std::uint32_t>(s[0], config.stateWord, 0, 4294967295u);
    config.stateText = s[1];
    unsigned first = 0;
    unsigned second = 0;
    char rest = 0;
    if (ok && std::sscanf(s[2].c_str(), "%u/%u%c", &first, &second, &rest) == 2) {
        config.pairFirst = first;
        config.pairSecond = second;
    } else {
        ok = false;
    }
    ok = ok && DeviceBase::parseIntValue<std::uint32_t>(s[3], config.stateNumber, 0, 6);
    ok = ok && addressOf(s[5], config.ip);
    ok = ok && addressOf(s[6], config.mask);
    ok = ok && addressOf(s[7], config.gw);
    config.dhcp = DeviceBase::parseDhcpValue(s[4]) >= 0;
    ok = ok && addressOf(s[8], config.ifIp);
    ok = ok && addressOf(s[9], config.ifMask);
    ok = ok && addressOf(s[10], config.ifGw);
    ok = ok && addressOf(s[11], config.multicastIp);
    config.versionSpan = static_cast<std::uint16_t>(getVersionSpan(index) + 1);
    malformedIfFalse(ok, reply);
}

bool discoveryPortOfState(const std::vector<std::string>& s, std::uint16_t& port) {
    std::uint16_t command = 0;
    if (s.size() <= 13 || !number16(s[13], command, L"command port") || command == 0xFFFF) return false;
    port = discoveryPortOf(command);
    return true;
}

bool discoveryPortOfOldConfig(const std::vector<std::string>& a, std::uint16_t& port) {
    std::string address;
    return a.size() > 6 && addressAndPortOf(a[6], address, port);
}

bool parseStateSettings(const std::vector<std::string>& s, OrvelConfig& config) {
    bool ok = true;
    const auto take = [&ok](bool parsed) { ok = parsed && ok; };
    std::uint16_t port = 0;
    if (number16(s[13], port, L"command port")) {
        config.srvPort = port;
        config.discoveryPort = discoveryPortOf(port);
        config.micPort = streamPortOf(port, CHANNEL_NOTICE_HIGH);
    } else {
        ok = false;
    }
    std::string allowed;
    if (addressOf(s[12], allowed)) {
        config.srvAllowedIP = config.ifAudioSrvIp = config.ifSrvAllowedIp = config.audioSrvIp = allowed;
    } else {
        ok = false;
    }
    take(flag(s[14], config.multicastListen));
    take(flag(s[15], config.multicastAin1));
    take(flag(s[16], config.multicastAin2));
    take(number16(s[17], config.priAin1, L"priAin1"));
    take(number16(s[18], config.priAin2, L"priAin2"));
    take(number16(s[20], config.priStreamMCast, L"priStreamMCast"));
    take(number16(s[21], config.priZoneInput, L"priZoneInput"));
    take(number16(s[19], config.priVoiceAlert, L"priVoiceAlert"));
    take(number16(s[22], config.priStream, L"priStream"));
    take(position(s[27], config.scenarioAin1));
    take(position(s[28], config.scenarioAin2));
    take(DeviceBase::parseIntValue<std::uint8_t>(s[23], config.zarnoAddr, 0, 127));
    take(flag(s[24], config.zarnoRelay));
    take(flag(s[25], config.zarnoTest));
    take(flag(s[26], config.zarnoReserve));
    config.lineTest = true;
    config.linesJoined = true;
    take(flag(s[29], config.switchMode));
    take(flag(s[30], config.ain2Arm));
    take(flag(s[31], config.ainFilter));
    take(DeviceBase::parseIntValue<std::uint32_t>(s[32], config.igmpReport, 0, 65535));
    return ok;
}

void validateOrvelConfig(const OrvelConfig& config, int index) {
    const auto stage = [](bool ok, const wchar_t* text) {
        if (!ok) throw exception::IncorrectFormat(text);
    };
    int firstOctet = -1;
    // What goes to the device is an address as a whole, not one followed by
    // something the device would read in its own way.
    const bool multicastOk = net::isWholeDeviceAddressText(config.multicastIp) &&
                             std::sscanf(config.multicastIp.c_str(), "%i", &firstOctet) == 1 && firstOctet >= 224 &&
                             firstOctet <= 239;
    stage(net::isWholeDeviceAddressText(config.ip) && net::isWholeDeviceAddressText(config.mask) &&
              net::isWholeDeviceAddressText(config.gw) && net::isWholeDeviceAddressText(config.srvAllowedIP) && multicastOk &&
              config.srvPort >= 1024 && config.srvPort <= 65514,
          L"Проверка сетевых настроек");
    stage(config.zarnoAddr >= 1 && config.zarnoAddr <= 127 && (!config.zarnoReserve || config.zarnoTest),
          L"Проверка настроек подсистемы ЗАРНО");
    const auto scenarioIdOk = [](std::uint16_t id) {
        const auto signedId = static_cast<std::int16_t>(id);
        return signedId >= -1 && signedId <= 32766;
    };
    stage((!config.multicastListen || (!config.multicastAin1 && !config.multicastAin2)) &&
              (index < 14 || (scenarioIdOk(config.scenarioIdAin1) && scenarioIdOk(config.scenarioIdAin2))),
          L"Проверка настроек источника воспроизведения (мультикаст)");
    if (index < 9) return;
    const std::uint16_t priorities[] = {config.priAin1,      config.priAin2,       config.priStreamMCast,
                                        config.priZoneInput, config.priVoiceAlert, config.priStream};
    bool distinct = true;
    for (std::size_t x = 0; x < 6; ++x)
        for (std::size_t y = x + 1; y < 6; ++y) distinct = distinct && priorities[x] != priorities[y];
    stage(distinct, L"Проверка приоритетов");
}

}  // namespace device
