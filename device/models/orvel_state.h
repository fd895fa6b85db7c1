#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace device {

/// The record of a loudspeaker's last state packet: 21 numbers, then 16
/// flags. Zero-filled when reset.
struct OrvelState {
    std::uint32_t batteryLevel = 0;          // percent
    std::uint32_t notifiedBatteryLevel = 0;  // level at the last notified change
    std::uint32_t batteryState = 0;          // 0..6, batteryStateName
    std::uint32_t line1 = 0;                 // 0..5, lineStateName
    std::uint32_t tipsAdded = 0;             // line-control end devices added (index 10 and above)
    std::uint32_t line2 = 0;
    std::uint32_t tipsActive = 0;            // ... and active
    std::uint32_t caseState = 0;             // 0..3, caseStateName
    std::uint32_t playbackState = 0;         // raw, as the device sends it
    std::uint32_t soundPressure = 0;         // 0..5, soundPressureName
    std::uint32_t acPowerSupply = 0;         // 0..2, 1 is good
    std::uint32_t zarnoState = 0;            // bits, 0..16
    std::uint32_t ainState = 0;              // bits, 0..16
    std::uint32_t ainState1 = 0;             // derived: 3 when ainState bit 0 is clear, else 2
    std::uint32_t ainState2 = 0;             // derived: (ainState >> 2) & 3
    std::uint32_t ethState = 0;              // bits, 0..8
    std::uint32_t zoneState = 0;             // bits, 0..8
    std::uint32_t activeZoneAddress = 0;     // 0..0xFFFFFF
    std::uint32_t activeAlarmOrder = 0;      // 0..0xFFFF
    std::uint32_t playbackSource = 0;        // raw, 0..13
    std::uint32_t playbackKind = 0;          // normalised playback state 0..13

    bool noError = false;
    bool sounding = false;
    bool allOk = false;
    bool batteryPresent = false;
    bool powerOk = false;
    bool batteryOk = false;
    bool line1Ok = false;
    bool line2Ok = false;
    bool caseClosed = false;
    bool zarnoLine1Ok = false;
    bool zarnoLine2Ok = false;
    bool alwaysTrue = false;
    bool ainOk = false;
    bool eth1Ok = false;
    bool eth2Ok = false;
    bool zoneOk = false;

    /// What the object starts with and returns to when it goes offline.
    static OrvelState initial();
};

/// Playback kinds (OrvelState::playbackKind).
namespace kind {
constexpr std::uint32_t kStream = 0;
constexpr std::uint32_t kRepeating = 3;
constexpr std::uint32_t kDelayedVoiceAlert = 8;
constexpr std::uint32_t kVoiceAlert = 9;
constexpr std::uint32_t kAnalogInput1 = 10;
constexpr std::uint32_t kAnalogInput2 = 11;
constexpr std::uint32_t kOver = 13;
}  // namespace kind

/// The numbers and the version text of one loudspeaker state packet
/// ("HW,f1,...,fk,VERSION"), before any range check.
struct OrvelPacket {
    std::string hardwareText;
    std::array<std::uint32_t, 15> fields{};  // f1..f15; those the count doesn't keep are 0
    std::string versionText;                 // after the last comma, CR, LF and NUL removed
};

/// Reads the address and up to 15 unsigned numbers. Fewer than five numbers:
/// false. Numbers that the count doesn't keep (a packet of 9 numbers keeps
/// 7, for instance) are zeroed. Logs nothing. Any thread.
bool readOrvelPacket(const std::string& text, OrvelPacket& packet);

/// The normalised playback kind (0..13) of a raw playback state at a
/// firmware-version index. A raw state that maps above 13 is logged (WARN)
/// and read as kind::kOver: the kind indexes tables of 14 rows.
std::uint32_t playbackKindOf(int index, std::uint32_t raw);

/// The log name of a kind ("stream" ... "over"); above 13 "over".
const wchar_t* playbackKindName(std::uint32_t kind);
const wchar_t* batteryStateName(std::uint32_t state);
const wchar_t* lineStateName(std::uint32_t state);
const wchar_t* caseStateName(std::uint32_t state);
const wchar_t* soundPressureName(std::uint32_t state);

/// The playback-type code a loudspeaker gets for a kind, given the code it
/// has (some kinds keep it), the index, the raw playback source and the
/// active zone address (the scenario rule).
std::uint64_t playbackCodeOf(std::uint32_t kind, std::uint64_t current, int index, std::uint32_t source,
                             std::uint32_t activeZoneAddress);

/// Recomputes every flag but `sounding` from the numbers.
void computeFlags(OrvelState& state, int index, std::uint64_t typeCode, std::uint64_t playbackCode);

/// True when soundPressure lets the loudspeaker be heard (neither buffering
/// nor muted).
constexpr bool audibleAt(std::uint32_t soundPressure) { return soundPressure != 0 && soundPressure != 3; }

}  // namespace device
