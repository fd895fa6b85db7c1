// Reading and checking the console's configuration record. No device, no lock.
#include <cstdio>

#include "base/exception.h"
#include "base/ip_address.h"
#include "device/device_base.h"
#include "device/models/stream_ports.h"
#include "device/models/tovik_config.h"

namespace device {

namespace {

bool addressOf(const std::string& field, std::string& address) {
    return net::splitIpAndPort(field, &address, nullptr);
}

bool flag(const std::string& field, bool& value) { return DeviceBase::parseBoolValue(field, value); }

bool isMulticastText(const std::string& text) {
    unsigned first = 0;
    return std::sscanf(text.c_str(), "%u", &first) == 1 && first >= 224 && first <= 239;
}

}  // namespace

bool parseTovikState(const std::vector<std::string>& s, TovikConfig& c) {
    if (s.size() < kTovikStateFields) return false;
    // Every field is tried, so that each bad one is logged.
    bool ok = true;
    const auto take = [&ok](bool parsed) { ok = parsed && ok; };
    c.stateWord = 0;
    take(DeviceBase::parseIntValue<std::uint32_t>(s[0], c.consoleWord, 0, 0xFFFFFFFFu));
    c.dhcp = DeviceBase::parseDhcpValue(s[1]) >= 0;
    take(addressOf(s[2], c.ip));
    take(addressOf(s[3], c.mask));
    take(addressOf(s[4], c.gw));
    take(addressOf(s[5], c.ifIp));
    take(addressOf(s[6], c.ifMask));
    take(addressOf(s[7], c.ifGw));
    take(addressOf(s[8], c.multicastIp));
    take(addressOf(s[9], c.srvAllowedIP));
    c.ifAudioSrvIp = c.srvAllowedIP;
    const bool port = DeviceBase::parseIntValue<std::uint16_t>(s[10], c.srvPort, 0, 0xFFFF);
    take(port);
    if (port) c.discoveryPort = discoveryPortOf(c.srvPort);
    c.versionSpan = 2;
    take(flag(s[11], c.gong));
    take(DeviceBase::parseIntValue<std::uint16_t>(s[12], c.gongOrder, 0, 32767));
    take(flag(s[13], c.beeper));
    take(flag(s[14], c.faultAlarm));
    take(flag(s[15], c.ledScBlink));
    take(flag(s[16], c.passkey));
    take(flag(s[17], c.switchMode));
    take(flag(s[18], c.singlePower));
    take(DeviceBase::parseIntValue<std::uint8_t>(s[19], c.zarnoAddr, 0, 127));
    c.zarnoRelay = false;  // field 20 is the console's own, not read
    take(flag(s[21], c.zarnoTest));
    take(flag(s[22], c.zarnoReserve));
    take(flag(s[23], c.gochsArm));
    const bool priority = DeviceBase::parseIntValue<std::uint32_t>(s[24], c.rawPriority, 0, 255);
    take(priority);
    if (priority) {
        c.ainEnabled = (c.rawPriority & TovikConfig::kAinEnabledBit) != 0;
        c.priority = c.rawPriority & ~TovikConfig::kAinEnabledBit;
    }
    take(flag(s[25], c.priorityGOChS));
    take(DeviceBase::parseIntValue<std::uint32_t>(s[26], c.powerIn1, 0, 4));
    take(DeviceBase::parseIntValue<std::uint32_t>(s[27], c.powerIn2, 0, 4));
    take(DeviceBase::parseIntValue<std::uint32_t>(s[28], c.igmpReport, 0, 65535));
    return ok;
}

void validateTovikConfig(const TovikConfig& c) {
    // Addresses as a whole, as in the loudspeaker's check.
    const bool network = net::isWholeDeviceAddressText(c.ip) && net::isWholeDeviceAddressText(c.mask) &&
                         net::isWholeDeviceAddressText(c.gw) && net::isWholeDeviceAddressText(c.multicastIp) &&
                         net::isWholeDeviceAddressText(c.srvAllowedIP) && isMulticastText(c.multicastIp) &&
                         c.srvPort >= 1024 && c.srvPort <= 65533;
    if (!network) throw exception::IncorrectFormat(L"Проверка сетевых настроек");
    // Read as the console reads it: 0xFFFF (no gong) is -1 and passes.
    const bool gongAndPriority =
        static_cast<std::int16_t>(c.gongId) < 32766 && c.priority >= 1 && c.priority <= 100;
    if (!gongAndPriority) throw exception::IncorrectFormat(L"Проверка приоритета и гонга");
}

void checkTovikPowerRules(const TovikConfig& c) {
    if (!c.singlePower && c.powerIn1 == c.powerIn2) throw exception::UserResponse(L"disallowedPowerIn", L"");
    if (!c.ainEnabled && c.gochsArm) throw exception::UserResponse(L"disallowedAin", L"");
    if (c.ainEnabled && !c.faultAlarm) throw exception::UserResponse(L"disallowedFaultAlarm", L"");
    if (c.ainEnabled && c.singlePower) throw exception::UserResponse(L"disallowedSinglePowerSupply", L"");
}

}  // namespace device
