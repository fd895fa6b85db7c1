#include "device/models/orvel_state.h"

#include <algorithm>
#include <cctype>

#include "base/check.h"
#include "device/models/playback_type.h"
#include "device/version.h"

namespace device {

namespace {

// How many of f1..f15 a packet keeps, by the items read (the address counts
// as one): the older firmware sends fields that it doesn't fill.
constexpr int kKept[17] = {0, 0, 0, 0, 0, 0, 5, 6, 7, 7, 7, 9, 9, 11, 13, 14, 15};

bool readNumber(const std::string& text, std::size_t& pos, std::uint32_t& value) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    const std::size_t start = pos;
    std::uint64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        number = number * 10 + static_cast<unsigned>(text[pos] - '0');
        if (number > 0xFFFFFFFFu) return false;
        ++pos;
    }
    if (pos == start) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

template <std::size_t N>
const wchar_t* nameOf(const wchar_t* const (&names)[N], std::uint32_t value) {
    return value < N ? names[value] : names[N - 1];
}

}  // namespace

OrvelState OrvelState::initial() {
    OrvelState state;
    state.caseState = 2;
    state.ainState1 = 3;
    return state;
}

bool readOrvelPacket(const std::string& text, OrvelPacket& packet) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0 || comma > 17) return false;
    OrvelPacket read;
    read.hardwareText = text.substr(0, comma);
    std::size_t pos = comma;
    int items = 1;
    while (items < 16 && pos < text.size() && text[pos] == ',') {
        std::size_t next = pos + 1;
        if (!readNumber(text, next, read.fields[static_cast<std::size_t>(items - 1)])) break;
        pos = next;
        ++items;
    }
    if (items < 6) return false;
    for (int i = kKept[items]; i < 15; ++i) read.fields[static_cast<std::size_t>(i)] = 0;

    const std::size_t last = text.rfind(',');
    read.versionText.reserve(std::min<std::size_t>(text.size() - last - 1, 255));
    for (std::size_t i = last + 1; i < text.size() && read.versionText.size() < 255; ++i)
        if (text[i] != '\r' && text[i] != '\n' && text[i] != '\0') read.versionText += text[i];
    packet = std::move(read);
    return true;
}

std::uint32_t playbackKindOf(int index, std::uint32_t raw) {
    std::uint32_t kind = raw;
    if (index <= 8) {
        if (raw == 1) kind = kind::kAnalogInput1;
        else if (raw == 2) kind = kind::kVoiceAlert;
    } else if (index <= 16) {
        if (raw >= 2) kind = raw + 2;
        if (kind >= 6 && raw >= 2) kind += 2;
    } else if (index == 17) {
        if (raw >= 3 && raw <= 6) kind = raw + 1;
        else if (raw == 7) kind = kind::kRepeating;
    }
    debug::warnIfFalse(kind <= kind::kOver, "device::playbackKindOf");
    // The kind picks a row of 14-row tables; what the device sent beyond them
    // is an unknown playback, not a read past their end.
    return kind <= kind::kOver ? kind : kind::kOver;
}

const wchar_t* playbackKindName(std::uint32_t kind) {
    static const wchar_t* const names[] = {
        L"stream",        L"voice_stream_low_priority", L"voice_stream_high_priority",
        L"voice_stream_repeating", L"voice_stream_zone_analog_input", L"voice_stream_zone_fire",
        L"voice_stream_zone_notice", L"voice_fragment", L"delayed_voice_alert",
        L"voice_alert",   L"analog_input1",            L"analog_input2",
        L"sine",          L"over"};
    return nameOf(names, kind);
}

const wchar_t* batteryStateName(std::uint32_t state) {
    static const wchar_t* const names[] = {L"unknown", L"ok", L"charge", L"discharge", L"missing", L"error", L"over"};
    return nameOf(names, state);
}

const wchar_t* lineStateName(std::uint32_t state) {
    static const wchar_t* const names[] = {L"unknown", L"ok", L"break", L"shortCircuit", L"error", L"over"};
    return nameOf(names, state);
}

const wchar_t* caseStateName(std::uint32_t state) {
    static const wchar_t* const names[] = {L"close", L"open", L"unknown", L"over"};
    return nameOf(names, state);
}

const wchar_t* soundPressureName(std::uint32_t state) {
    static const wchar_t* const names[] = {L"buffering", L"waiting", L"adcInput", L"mute", L"play", L"over"};
    return nameOf(names, state);
}

std::uint64_t playbackCodeOf(std::uint32_t kind, std::uint64_t current, int index, std::uint32_t source,
                             std::uint32_t activeZoneAddress) {
    // An operator's voice source already set by the server stays.
    const bool redirected = playback::has(current, 0x100) && playback::has(current, playback::kMetaExternal);
    switch (kind) {
        case 0: return playback::kNone;
        case 1: return redirected ? current : playback::kVoiceLowPriority;
        case 2: return playback::kVoiceZoneNote;
        case 3: return playback::kFragment;
        case 4: return redirected ? current : playback::kVoiceHighPriority;
        case 5: return playback::kVoiceHighRepeating;
        case 6: return playback::kVoiceZoneAin;
        case 7: return playback::kVoiceZoneFire;
        case 8: return playback::kScenarioZarno;
        case 9: break;
        case 10: return playback::kAnalogInput1;
        case 11: return playback::kAnalogInput2;
        case 12: return playback::kSine;
        default: return playback::kUnknown;
    }
    if (index > 18) {
        switch (source) {
            case 0: return playback::kScenarioTest;
            case 4: return playback::kScenarioServer;
            case 7: return playback::kScenarioTovik;
            case 9: return playback::kScenarioZarno;
            case 10: return playback::kScenarioAin1;
            case 11: return playback::kScenarioAin2;
            default: return playback::kScenario;
        }
    }
    if (playback::has(current, playback::kMetaStoppable)) return current;
    if (activeZoneAddress != 0) return playback::kScenarioTovik;
    if (current == playback::kNone) return playback::kScenarioServer;
    return playback::kScenario;
}

void computeFlags(OrvelState& s, int index, std::uint64_t typeCode, std::uint64_t playbackCode) {
    s.noError = (playbackCode & playback::kMetaError) == 0;
    s.batteryPresent = s.batteryState != 4 && s.batteryState != 5 && s.batteryLevel != 0;
    s.powerOk = index >= 17 ? s.acPowerSupply == 1 : s.batteryState != 3;
    s.batteryOk = s.batteryState == 1 || (s.batteryState == 2 && s.batteryLevel != 0);
    s.line1Ok = s.line1 == 1;
    s.line2Ok = s.line2 == 1;
    s.caseClosed = s.caseState == 0;
    const std::uint32_t z = s.zarnoState;
    if ((z & 1) == 0) {
        s.zarnoLine1Ok = s.zarnoLine2Ok = true;
    } else if ((z & 2) == 0) {
        s.zarnoLine1Ok = s.zarnoLine2Ok = (z & 0xC) != 0;
    } else {
        s.zarnoLine1Ok = (z & 4) != 0;
        s.zarnoLine2Ok = (z & 8) != 0;
    }
    s.alwaysTrue = true;
    s.ainOk = (s.ainState & 2) == 0 || s.ainState2 == 2 || s.ainState2 == 3;
    const bool ethWatched = index >= 17 && (typeCode & kMaskLanFamily) != 0;
    s.eth1Ok = !(ethWatched && (s.ethState & 3) == 0);
    s.eth2Ok = !(ethWatched && (s.ethState & 5) == 0);
    s.zoneOk = (s.zoneState & 1) != 0;
    s.allOk = s.noError && s.batteryOk && s.powerOk && s.line1Ok && s.line2Ok && s.caseClosed && s.zarnoLine1Ok &&
              s.zarnoLine2Ok && s.ainOk && s.eth1Ok && s.eth2Ok && s.zoneOk;
}

}  // namespace device
