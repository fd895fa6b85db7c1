#include "device/models/tovik_state.h"

#include <cstdio>

#include "base/check.h"
#include "base/log.h"

namespace device {

namespace {

const wchar_t* const kPowerStatus[] = {L"missing", L"notUsed", L"ok", L"outside", L"over"};
const wchar_t* const kEthernetStatus[] = {L"break",   L"connected", L"connectedPoe",
                                          L"connectedNoPoe", L"onlyPoe", L"over"};
const wchar_t* const kMicrophoneLine[] = {L"break", L"ok", L"shortCircuit", L"over"};
const wchar_t* const kAin[] = {L"break", L"shortCircuit", L"on", L"off", L"skip", L"over"};
const wchar_t* const kAccess[] = {L"free", L"denied", L"allowed", L"over"};
const wchar_t* const kCase[] = {L"open", L"close", L"over"};
const wchar_t* const kPlaybackKind[] = {L"none", L"gong", L"alarm", L"scenario", L"analog_input1", L"over"};

template <std::size_t N>
std::wstring rowOf(const wchar_t* const (&rows)[N], std::uint32_t value) {
    debug::throwIfFalse(value < N, "device::toText");
    return rows[value];
}

// Packet field (0-based, field 1 is index 0) -> record member, accepted
// maximum, replacement, message. The order is the order of the log lines.
struct RangeCheck {
    std::size_t field;
    std::uint32_t TovikState::*member;
    std::uint32_t maximum;
    bool mask;  // replaced by value AND maximum, not by `replacement`
    std::uint32_t replacement;
    const wchar_t* message;
};

constexpr std::uint32_t kZoneMask = 0x1FFFFF;

const RangeCheck kChecks[] = {
    {1, &TovikState::power1Level, 100, false, 100, L"Ping packet has unknown power 1 level '%1%'"},
    {2, &TovikState::power1State, 15, false, 16, L"Ping packet has unknown power 1 state '%1%'"},
    {3, &TovikState::power2Level, 100, false, 100, L"Ping packet has unknown power 2 level '%1%'"},
    {4, &TovikState::power2State, 15, false, 16, L"Ping packet has unknown power 2 state '%1%'"},
    {5, &TovikState::ethernet1State, 31, false, 32, L"Ping packet has unknown ethernet 1 state '%1%'"},
    {6, &TovikState::ethernet2State, 31, false, 32, L"Ping packet has unknown ethernet 2 state '%1%'"},
    {7, &TovikState::microphoneLine, 3, false, 3, L"Ping packet has unknown microphone state '%1%'"},
    {8, &TovikState::playbackState, 31, false, 32, L"Ping packet has unknown playback state '%1%'"},
    {9, &TovikState::accessState, 3, false, 3, L"Ping packet has unknown access state '%1%'"},
    {10, &TovikState::caseState, 2, false, 2, L"Ping packet has unknown case state '%1%'"},
    {11, &TovikState::boundZones, kZoneMask, true, 0, L"Ping packet has unknown bound zones '%1%'"},
    {12, &TovikState::connectedZones, kZoneMask, true, 0, L"Ping packet has unknown connected zones '%1%'"},
    {13, &TovikState::activatedZones, kZoneMask, true, 0, L"Ping packet has unknown activated zones '%1%'"},
    {14, &TovikState::zarnoState, 15, false, 16, L"Ping packet has unknown zarno state '%1%'"},
    {15, &TovikState::ainState, 5, false, 5, L"Ping packet has unknown AIN state '%1%'"},
};

std::uint32_t powerStatus(std::uint32_t p) {
    if (p & 0x08) return 3;
    if (p & 0x01) return 2;
    if (p & 0x10) return 4;
    if (!(p & 0x04)) return 1;
    return 0;
}

bool powerPresent(std::uint32_t p) { return (p & 0x02) || ((p & 0x01) && !(p & 0x08)); }

std::uint32_t ethernetStatus(std::uint32_t e) {
    if (e & 0x01) return (e & 0x02) ? 2 : (e & 0x04) ? 3 : 1;
    return (e & 0x02) ? 4 : (e & 0x20) ? 5 : 0;
}

bool ethernetCounted(std::uint32_t e) { return (e & 0x04) && (e & 0x12); }
bool ethernetOk(std::uint32_t e) { return (e & 0x09) && (!(e & 0x04) || (e & 0x12)); }

bool zarnoLineOk(std::uint32_t z, std::uint32_t lineBit) {
    return !(z & 0x01) || (!(z & 0x02) && (z & 0x0C)) || ((z & 0x02) && (z & lineBit));
}

}  // namespace

std::wstring toText(TovikTable table, std::uint32_t value) {
    switch (table) {
    case TovikTable::PowerStatus: return rowOf(kPowerStatus, value);
    case TovikTable::EthernetStatus: return rowOf(kEthernetStatus, value);
    case TovikTable::MicrophoneLine: return rowOf(kMicrophoneLine, value);
    case TovikTable::Ain: return rowOf(kAin, value);
    case TovikTable::Access: return rowOf(kAccess, value);
    case TovikTable::Case: return rowOf(kCase, value);
    case TovikTable::PlaybackKind: return rowOf(kPlaybackKind, value);
    }
    debug::throwIfFalse(false, "device::toText");
    return std::wstring();
}

TovikPacket readTovikPacket(const std::string& text) {
    TovikPacket packet;
    char address[18] = {};
    std::array<unsigned, 16> f{};
    const int read = std::sscanf(text.c_str(), "%17[^,],%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u", address,
                                 &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10],
                                 &f[11], &f[12], &f[13], &f[14], &f[15]);
    if (read >= 1) packet.hardwareText = address;
    if (read == 17)
        for (std::size_t i = 0; i < f.size(); ++i) packet.fields[i] = f[i];
    return packet;
}

void takeTovikFields(const TovikPacket& packet, TovikState& state, const char* place) {
    for (const RangeCheck& check : kChecks) {
        std::uint32_t value = packet.fields[check.field];
        if (value > check.maximum) {
            base::LogPlace(place).external(check.message, value);
            value = check.mask ? (value & check.maximum) : check.replacement;
        }
        state.*check.member = value;
    }
}

std::uint32_t tovikPlaybackKind(std::uint32_t playbackState) {
    if (playbackState & 0x02) return 1;
    if (playbackState & 0x04) return 2;
    if (playbackState & 0x08) return 3;
    if (playbackState & 0x10) return 4;
    if (playbackState & 0x20) return 5;
    return 0;
}

void computeTovikFlags(TovikState& s) {
    s.power1Status = powerStatus(s.power1State);
    s.power2Status = powerStatus(s.power2State);
    s.power1Present = powerPresent(s.power1State);
    s.power2Present = powerPresent(s.power2State);
    s.ethernet1Status = ethernetStatus(s.ethernet1State);
    s.ethernet2Status = ethernetStatus(s.ethernet2State);
    s.ethernet1Ok = ethernetOk(s.ethernet1State);
    s.ethernet2Ok = ethernetOk(s.ethernet2State);
    const int supplies = ((s.power1State & 0x04) && s.power1Present) + ((s.power2State & 0x04) && s.power2Present) +
                         ethernetCounted(s.ethernet1State) + ethernetCounted(s.ethernet2State);
    s.twoSuppliesOk = supplies >= 2;
    s.zonesConsistent = s.boundZones == s.connectedZones;
    s.zarnoLine1Ok = zarnoLineOk(s.zarnoState, 0x04);
    s.zarnoLine2Ok = zarnoLineOk(s.zarnoState, 0x08);
    s.ainInUse = s.ainState >= 2 && s.ainState <= 4;
    s.allOk = s.caseState == 1 && s.microphoneLine == 1 && s.twoSuppliesOk && s.ethernet1Ok && s.ethernet2Ok &&
              s.zonesConsistent && s.zarnoLine1Ok && s.zarnoLine2Ok && s.ainInUse;
    s.valid = 1;
}

}  // namespace device
