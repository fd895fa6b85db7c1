#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/config_common.h"

namespace device {

/// A console's settings as its "get state" reply gives them: the common part
/// every device shares, then the console's gong, alarm, power and priority
/// settings. A plain record copied by value.
///
/// The gong is chosen by the id of a fragment of the audio memory; the
/// console stores its position (the gong order). 0xFFFF is "no gong".
struct TovikConfig : ConfigCommon {
    static constexpr std::uint16_t kNoGong = 0xFFFF;
    /// The bit of the raw priority that enables the alarm input (AIN); a
    /// console with it is a fire console.
    static constexpr std::uint32_t kAinEnabledBit = 0x80;

    std::uint32_t consoleWord = 0;
    bool gong = false;
    std::uint16_t gongOrder = 0;
    std::uint16_t gongId = kNoGong;
    bool beeper = false;
    bool faultAlarm = false;
    bool ledScBlink = false;
    bool passkey = false;
    bool singlePower = false;
    bool gochsArm = false;
    std::uint32_t rawPriority = 0;  // as the console holds it, AIN bit included
    bool ainEnabled = false;
    std::uint32_t priority = 0;     // without the AIN bit
    bool priorityGOChS = false;
    std::uint32_t powerIn1 = 0;
    std::uint32_t powerIn2 = 0;

    /// What the console is used for, by its alarm input: 0 broadcast, 1 fire.
    /// Not the firmware-derived console type of TovikInfo.
    int purpose() const { return ainEnabled ? 1 : 0; }
    /// The "priority" value the console takes: the priority with the AIN bit.
    std::uint32_t priorityToSend() const { return priority + (ainEnabled ? kAinEnabledBit : 0); }
};

/// How many fields a console's "get state" list has.
constexpr std::size_t kTovikStateFields = 29;

/// Fills `config` from a "get state" list of at least kTovikStateFields
/// fields, all but the gong id. False when any field is badly formatted;
/// each failure logs its line. Never throws for field content.
bool parseTovikState(const std::vector<std::string>& fields, TovikConfig& config);

/// The checks a record must pass before anything is written to a console;
/// the first failing stage throws exception::IncorrectFormat with the
/// stage's text ("Проверка сетевых настроек", "Проверка приоритета и гонга").
void validateTovikConfig(const TovikConfig& config);

/// The power and alarm-input rules of a console: the first broken one throws
/// exception::UserResponse with its code word ("disallowedPowerIn",
/// "disallowedAin", "disallowedFaultAlarm", "disallowedSinglePowerSupply").
void checkTovikPowerRules(const TovikConfig& config);

}  // namespace device
