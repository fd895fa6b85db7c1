#include "gui/device_view.h"

#include <boost/algorithm/string/replace.hpp>

#include "device/models/playback_type.h"
#include "device/version.h"

namespace frm {

namespace {

/// The words of one state table under their catalogue prefix; a value
/// beyond the words reads "over".
struct WordTable {
    const wchar_t* prefix;
    std::vector<const wchar_t*> words;

    std::wstring key(std::uint32_t value) const {
        return prefix + std::wstring(value < words.size() ? words[value] : L"over");
    }
};

const WordTable kBattery{L"battery-", {L"unknown", L"ok", L"charge", L"discharge", L"missing", L"error"}};
const WordTable kSpeakerLine{L"device-", {L"unknown", L"ok", L"break", L"shortCircuit", L"error"}};
const WordTable kSpeakerCase{L"device-", {L"close", L"open", L"unknown"}};
const WordTable kSpeakerAin{L"ain-", {L"break", L"shortCircuit", L"on", L"off"}};
const WordTable kPower{L"u-", {L"missing", L"notUsed", L"ok", L"outside"}};
const WordTable kEthernet{L"ethernet-",
                          {L"break", L"connected", L"connectedPoe", L"connectedNoPoe", L"onlyPoe"}};
const WordTable kMicrophoneLine{L"mic-", {L"break", L"ok", L"shortCircuit"}};
const WordTable kAccess{L"access-", {L"free", L"denied", L"allowed"}};
const WordTable kConsoleCase{L"device-", {L"open", L"close"}};
const WordTable kConsoleAin{L"ain-", {L"break", L"shortCircuit", L"on", L"off", L"skip"}};
const wchar_t* const kConsolePlayback[] = {L"none",     L"gong",          L"alarm",
                                           L"scenario", L"analog_input1", L"over"};
const wchar_t* const kPlaybackPrefix = L"playback-";

// Battery states after which no level is shown.
constexpr std::uint32_t kBatteryUnknown = 0;
constexpr std::uint32_t kBatteryMissing = 4;
constexpr std::uint32_t kBatteryError = 5;
constexpr std::uint32_t kConsoleCaseClosed = 1;
constexpr std::uint32_t kMicrophoneLineOk = 1;
// The firmware-version index from which a loudspeaker reports its Zarno
// lines, broadcast zones and analogue inputs.
constexpr int kZarnoIndex = 17;

constexpr bool bit(std::uint32_t bits, unsigned n) { return ((bits >> n) & 1u) != 0; }
constexpr bool isTypeOf(std::uint64_t typeCode, std::uint64_t mask) { return (typeCode & mask) == mask; }

FieldView& field(StateView& view, StateField which) { return view[static_cast<std::size_t>(which)]; }

const wchar_t* connected(bool on) { return on ? L"Подключена" : L"Отключена"; }

}  // namespace

int loudspeakerIcon(const device::OrvelState& state, bool online, bool answered) {
    const int busy = state.sounding ? 1 : 0;
    if (online && answered) {
        if (state.playbackKind != device::kind::kStream) return icon::kSpeakerAlarm + busy;
        if (state.allOk) return icon::kSpeakerNormal + busy;
        return icon::kSpeakerError + busy;
    }
    return online ? icon::kSpeakerIncoming + busy : icon::kSpeakerOffline;
}

int consoleIcon(const device::TovikState& state, bool online, bool answered) {
    if (online && answered) {
        if (state.playbackKind != 0) return icon::kMicrophoneAlarm;
        return state.allOk ? icon::kMicrophoneNormal : icon::kMicrophoneError;
    }
    return online ? icon::kMicrophoneIncoming : icon::kMicrophoneOffline;
}

bool playbackNamesChannel(std::uint64_t playbackCode, bool online, bool answered) {
    return online && answered &&
           (playbackCode == device::playback::kNone || playbackCode == device::playback::kVoiceLowPriority ||
            playbackCode == device::playback::kVoiceHighPriority);
}

StateView describeLoudspeaker(const LoudspeakerFacts& facts, const Translate& translate) {
    const device::OrvelState& r = facts.state;
    StateView view;

    FieldView& playback = field(view, StateField::Playback);
    playback.text = translate(kPlaybackPrefix + facts.playbackWord);
    if (facts.channel && playbackNamesChannel(facts.playbackCode, facts.online, facts.answered)) {
        const ChannelFacts& channel = *facts.channel;
        const bool voice = facts.playbackCode != device::playback::kNone;
        if (channel.channel == 0) {
            if (channel.playerPlaying)
                playback.text += L" " + channel.playlistName + L" | " + channel.itemTitle;
        } else if (channel.channel >= 1 && channel.channel <= 20) {
            if (channel.alarmRunning && !channel.alarmMessage.empty())
                playback.text += L" (" + channel.alarmMessage + L")";
            else if (voice && !channel.alarmRunning)
                playback.text += L" (Приостановлено)";
        }
    }
    field(view, StateField::Firmware).text = facts.versionText;
    field(view, StateField::Power1).text = r.powerOk ? L"Норма сети 220 В" : L"Нет 220 В";
    std::wstring battery = translate(kBattery.key(r.batteryState));
    if (r.batteryState != kBatteryUnknown && r.batteryState != kBatteryMissing &&
        r.batteryState != kBatteryError)
        battery += L" " + std::to_wstring(r.batteryLevel) + L"%";
    field(view, StateField::Power2).text = battery;
    field(view, StateField::Line1).text = translate(kSpeakerLine.key(r.line1));
    field(view, StateField::Network1).text = bit(r.ethState, 1) ? L"Подключён" : L"Отключён";
    field(view, StateField::Network2).text = bit(r.ethState, 2) ? L"Подключён" : L"Отключён";
    field(view, StateField::Zones).text = !bit(r.zoneState, 0) ? L"Обрыв пожарной консоли"
                                          : !bit(r.zoneState, 1) ? L"Обрыв консоли оповещения"
                                          : !bit(r.zoneState, 2) ? L"Имеются не используемые зоны трансляции"
                                                                 : L"Норма";
    field(view, StateField::Zarno1).text = connected(bit(r.zarnoState, 2));
    field(view, StateField::Zarno2).text = connected(bit(r.zarnoState, 3));
    field(view, StateField::AnalogInput1).text = translate(kSpeakerAin.key(r.ainState1));
    field(view, StateField::AnalogInput2).text = translate(kSpeakerAin.key(r.ainState2));
    field(view, StateField::CaseState).text = translate(kSpeakerCase.key(r.caseState));

    // What the model and the firmware generation report at all.
    const bool orvel510 = isTypeOf(facts.typeCode, device::kMaskOrvel510);
    const bool lanFamily = isTypeOf(facts.typeCode, device::kMaskLanFamily);
    const bool zarno = facts.versionIndex >= kZarnoIndex;
    if (orvel510) field(view, StateField::Line2).text = translate(kSpeakerLine.key(r.line2));
    field(view, StateField::Line2).enabled = orvel510;
    field(view, StateField::Network2).enabled = lanFamily;
    for (const StateField reported :
         {StateField::Zarno1, StateField::Zones, StateField::AnalogInput1, StateField::AnalogInput2}) {
        field(view, reported).enabled = zarno;
        if (!zarno) field(view, reported).text.clear();
    }
    field(view, StateField::Zarno2).enabled = zarno && lanFamily;
    if (!lanFamily) {
        field(view, StateField::Network2).text.clear();
        field(view, StateField::Zarno2).text.clear();
    }
    field(view, StateField::Microphone).enabled = false;
    field(view, StateField::Access).enabled = false;

    const std::pair<StateField, bool> normal[] = {
        {StateField::Playback, r.noError},    {StateField::Power1, r.powerOk},
        {StateField::Power2, r.batteryOk},    {StateField::Line1, r.line1Ok},
        {StateField::Line2, r.line2Ok},       {StateField::CaseState, r.caseClosed},
        {StateField::Network1, r.eth1Ok},     {StateField::Network2, r.eth2Ok},
        {StateField::Zones, r.zoneOk},        {StateField::Zarno1, r.zarnoLine1Ok},
        {StateField::Zarno2, r.zarnoLine2Ok}, {StateField::AnalogInput1, r.alwaysTrue},
        {StateField::AnalogInput2, r.ainOk},
    };
    for (const auto& [which, ok] : normal) field(view, which).warning = !ok;
    return view;
}

StateView describeConsole(const ConsoleFacts& facts, const Translate& translate) {
    const device::TovikState& c = facts.state;
    StateView view;
    field(view, StateField::Playback).text = translate(kPlaybackPrefix + facts.playbackWord);
    field(view, StateField::Firmware).text = facts.versionText;
    field(view, StateField::Power1).text =
        boost::algorithm::replace_all_copy(translate(kPower.key(c.power1Status)), L"U", L"U1");
    field(view, StateField::Power2).text =
        boost::algorithm::replace_all_copy(translate(kPower.key(c.power2Status)), L"U", L"U2");
    field(view, StateField::Network1).text = translate(kEthernet.key(c.ethernet1Status));
    field(view, StateField::Network2).text = translate(kEthernet.key(c.ethernet2Status));
    field(view, StateField::Zones).text = c.boundZones == c.connectedZones ? L"Норма" : L"Обрыв";
    field(view, StateField::Zarno1).text = connected(bit(c.zarnoState, 2));
    field(view, StateField::Zarno2).text = connected(bit(c.zarnoState, 3));
    field(view, StateField::AnalogInput1).text = translate(kConsoleAin.key(c.ainState));
    field(view, StateField::CaseState).text = translate(kConsoleCase.key(c.caseState));
    field(view, StateField::Microphone).text = translate(kMicrophoneLine.key(c.microphoneLine));
    field(view, StateField::Access).text = translate(kAccess.key(c.accessState));

    for (const StateField absent : {StateField::Line1, StateField::Line2, StateField::AnalogInput2})
        field(view, absent).enabled = false;

    const std::pair<StateField, bool> normal[] = {
        {StateField::Power1, c.power1Present},
        {StateField::Power2, c.power2Present},
        {StateField::Network1, c.ethernet1Ok},
        {StateField::Network2, c.ethernet2Ok},
        {StateField::Zones, c.zonesConsistent},
        {StateField::Zarno1, c.zarnoLine1Ok},
        {StateField::Zarno2, c.zarnoLine2Ok},
        {StateField::AnalogInput1, c.ainInUse},
        {StateField::CaseState, c.caseState == kConsoleCaseClosed},
        {StateField::Microphone, c.microphoneLine == kMicrophoneLineOk},
    };
    for (const auto& [which, ok] : normal) field(view, which).warning = !ok;
    return view;
}

std::vector<std::wstring> stateTextKeys() {
    std::vector<std::wstring> keys;
    for (const WordTable* table : {&kBattery, &kSpeakerLine, &kSpeakerCase, &kSpeakerAin, &kPower, &kEthernet,
                                   &kMicrophoneLine, &kAccess, &kConsoleCase, &kConsoleAin}) {
        for (std::uint32_t value = 0; value <= table->words.size(); ++value)
            keys.push_back(table->key(value));
    }
    for (const auto& entry : device::playbackTypeTexts()) keys.push_back(kPlaybackPrefix + entry.second);
    for (const wchar_t* word : kConsolePlayback) keys.push_back(kPlaybackPrefix + std::wstring(word));
    return keys;
}

}  // namespace frm
