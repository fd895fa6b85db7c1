#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/config_common.h"

namespace device {

/// A loudspeaker's settings as its firmware reports them: the common part
/// every device shares, then the loudspeaker's own ports, line, analog-input
/// and priority settings. A plain record copied by value. Firmware below
/// index 9 has none of the analog-input and priority settings; they keep the
/// defaults below. Scenario positions are what the device stores (-1 none);
/// the scenario ids are the audio memory's stable ids of the same scenarios
/// (0xFFFF none, 0xFFFD a position that names no scenario of the memory).
struct OrvelConfig : ConfigCommon {
    static constexpr std::uint16_t kNoScenario = 0xFFFF;
    static constexpr std::uint16_t kMissingScenario = 0xFFFD;

    std::uint16_t micPort = 0;
    std::string audioSrvIp;
    std::string ifSrvAllowedIp;
    bool linesJoined = false;
    bool lineTest = false;
    std::string stateText;
    std::uint32_t pairFirst = 0;
    std::uint32_t pairSecond = 0;
    std::uint32_t stateNumber = 0;
    bool multicastListen = false;
    bool multicastAin1 = false;
    bool multicastAin2 = false;
    std::uint16_t priVoiceAlert = 0;
    std::uint16_t priAin1 = 0;
    std::uint16_t priAin2 = 0;
    std::uint16_t priStreamMCast = 0;
    std::uint16_t priZoneInput = 0;
    std::uint16_t priStream = 0;
    std::int16_t scenarioAin1 = -1;
    std::uint16_t scenarioIdAin1 = kNoScenario;
    std::int16_t scenarioAin2 = -1;
    std::uint16_t scenarioIdAin2 = kNoScenario;
    bool ain2Arm = false;
    bool ainFilter = false;
};

// Reply parsing of the two configuration formats, without a device: the
// loudspeaker object makes the requests and hands the split replies here.
// "Malformed" below means exception::UnexpectedResponseOfDevice carrying
// `reply`, after the log lines of debug::throwIfFalse; no std or boost
// exception leaves these functions.

/// Firmware below index 9, "config" list `a` and "ifconfig" list `i` (each
/// at least 13 fields): addresses, DHCP, ports and the allowed server. A
/// field that is no address (and port) is malformed.
void parseOldConfigAddresses(const std::vector<std::string>& a, const std::vector<std::string>& i, int index,
                             const std::string& reply, OrvelConfig& config);
/// The Zarno address and relay of the "config" list; false when either is
/// badly formatted (logged, the field left as it was).
bool parseOldConfigZarno(const std::vector<std::string>& a, OrvelConfig& config);

/// Brings a "get state" list of firmware below index 18 to the newest
/// 33-field layout, except the IGMP report interval that a separate request
/// gives: fewer than 26 fields (before the additions) is malformed.
void normaliseStateFields(std::vector<std::string>& s, int index, const std::string& reply);
/// The "get state" list of 33 fields: the state, DHCP and address fields;
/// any of them wrong is malformed.
void parseStateAddresses(const std::vector<std::string>& s, int index, const std::string& reply,
                         OrvelConfig& config);
/// The common channel's port alone: from a "get state" list brought to the
/// newest layout (the command port's field, plus one) or from an early
/// firmware's "config" list (its audio server's address and port). False
/// when the field is missing or no port.
bool discoveryPortOfState(const std::vector<std::string>& s, std::uint16_t& port);
bool discoveryPortOfOldConfig(const std::vector<std::string>& a, std::uint16_t& port);
/// The rest of the 33 fields (ports, flags, priorities, scenario positions,
/// Zarno). False when any is badly formatted; each failure logs its line.
bool parseStateSettings(const std::vector<std::string>& s, OrvelConfig& config);

/// The checks a record must pass before anything is written to a
/// loudspeaker of the index; the first failing stage throws
/// exception::IncorrectFormat with the stage's text.
void validateOrvelConfig(const OrvelConfig& config, int index);

}  // namespace device
