// What the zone page shows of a device's state, without a window: the row
// icons by their rules, and per state field its text, enable state and
// warning colour for the firmware generations and models that report it.
// Texts are catalogue keys here (the translation gives back the key); the
// built catalogue translates every key the descriptions use.
#include <gtest/gtest.h>
#include <wx/intl.h>
#include <wx/translation.h>

#include "device/models/playback_type.h"
#include "device/version.h"
#include "gui/device_view.h"
#include "tests/base/wx/wx_app.h"

namespace {

using frm::StateField;

const frm::Translate kKeys = [](const std::wstring& key) { return key; };

const frm::FieldView& at(const frm::StateView& view, StateField field) {
    return view[static_cast<std::size_t>(field)];
}

/// An answering Orvel-610 of index 18 whose every state is normal.
frm::LoudspeakerFacts normalLoudspeaker() {
    frm::LoudspeakerFacts facts;
    device::OrvelState& r = facts.state;
    r.batteryState = 1;
    r.batteryLevel = 80;
    r.line1 = r.line2 = 1;
    r.ethState = 0x6;
    r.zoneState = 0x7;
    r.zarnoState = 0xC;
    r.ainState1 = 2;
    r.ainState2 = 3;
    r.noError = r.allOk = r.powerOk = r.batteryOk = r.line1Ok = r.line2Ok = r.caseClosed = true;
    r.zarnoLine1Ok = r.zarnoLine2Ok = r.alwaysTrue = r.ainOk = r.eth1Ok = r.eth2Ok = r.zoneOk = true;
    facts.versionIndex = 18;
    facts.typeCode = device::kTypeOrvel610;
    facts.playbackWord = L"none";
    facts.online = facts.answered = true;
    return facts;
}

}  // namespace

TEST(DeviceView, RowIconsFollowTheirRules) {
    struct Case {
        const char* name;
        std::uint32_t playbackKind;  // a console plays "alarm" for any but 0
        bool sounding, allOk, online, answered;
        int loudspeaker, console;
    };
    const Case cases[] = {
        {"own playback wins over a fault", 9, false, false, true, true, 7, 13},
        {"own playback while heard", 9, true, true, true, true, 8, 13},
        {"normal", 0, false, true, true, true, 1, 10},
        {"normal and heard", 0, true, true, true, true, 2, 10},
        {"a fault", 0, false, false, true, true, 5, 12},
        {"a fault, heard", 0, true, false, true, true, 6, 12},
        {"packets but no answer", 9, false, true, true, false, 3, 11},
        {"packets but no answer, heard", 0, true, true, true, false, 4, 11},
        {"offline", 9, true, true, false, false, 0, 9},
    };
    for (const Case& c : cases) {
        device::OrvelState state;
        state.playbackKind = c.playbackKind;
        state.sounding = c.sounding;
        state.allOk = c.allOk;
        EXPECT_EQ(frm::loudspeakerIcon(state, c.online, c.answered), c.loudspeaker) << c.name;
        device::TovikState console;
        console.playbackKind = c.playbackKind == 0 ? 0 : 2;
        console.allOk = c.allOk;
        EXPECT_EQ(frm::consoleIcon(console, c.online, c.answered), c.console) << c.name;
    }
}

TEST(DeviceView, ValuesBeyondALoudspeakerTableReadOver) {
    frm::LoudspeakerFacts facts = normalLoudspeaker();
    facts.state.batteryState = 9;
    facts.state.line1 = 5;
    facts.state.caseState = 3;
    facts.state.ainState2 = 4;
    const frm::StateView view = frm::describeLoudspeaker(facts, kKeys);
    EXPECT_EQ(at(view, StateField::Power2).text, L"battery-over 80%");
    EXPECT_EQ(at(view, StateField::Line1).text, L"device-over");
    EXPECT_EQ(at(view, StateField::CaseState).text, L"device-over");
    EXPECT_EQ(at(view, StateField::AnalogInput2).text, L"ain-over");

    for (const std::uint32_t noLevel : {0u, 4u, 5u}) {
        facts.state.batteryState = noLevel;
        EXPECT_EQ(at(frm::describeLoudspeaker(facts, kKeys), StateField::Power2).text.find(L'%'),
                  std::wstring::npos)
            << noLevel;
    }
}

TEST(DeviceView, PlaybackTextNamesWhatTheChannelCarries) {
    frm::ChannelFacts common;
    common.channel = 0;
    common.playerPlaying = true;
    common.playlistName = L"Плейлист";
    common.itemTitle = L"title";
    frm::ChannelFacts alarmChannel;
    alarmChannel.channel = 3;
    frm::ChannelFacts alarmWithMessage = alarmChannel;
    alarmWithMessage.alarmRunning = true;
    alarmWithMessage.alarmMessage = L"/m/пожар.mp3";

    struct Case {
        const char* name;
        std::optional<frm::ChannelFacts> channel;
        std::uint64_t code;
        bool answered;
        std::wstring expected;
    };
    const std::wstring none = L"playback-none";
    const std::wstring voice = L"playback-voice_low_priority";
    const Case cases[] = {
        {"player on the common channel", common, device::playback::kNone, true, none + L" Плейлист | title"},
        {"channel not read yet", std::nullopt, device::playback::kNone, true, none},
        {"not answering", common, device::playback::kNone, false, none},
        {"voice, no alarm: paused", alarmChannel, device::playback::kVoiceLowPriority, true,
         voice + L" (Приостановлено)"},
        {"the alarm's message", alarmWithMessage, device::playback::kVoiceLowPriority, true,
         voice + L" (/m/пожар.mp3)"},
        {"nothing plays on an alarm channel", alarmChannel, device::playback::kNone, true, none},
        {"another playback", common, device::playback::kSine, true, L"playback-sine"},
    };
    for (const Case& c : cases) {
        frm::LoudspeakerFacts facts = normalLoudspeaker();
        facts.channel = c.channel;
        facts.playbackCode = c.code;
        facts.playbackWord = device::findPlaybackTypeText(c.code);
        facts.answered = c.answered;
        EXPECT_EQ(at(frm::describeLoudspeaker(facts, kKeys), StateField::Playback).text, c.expected)
            << c.name;
    }
}

TEST(DeviceView, FieldsFollowTheModelAndTheFirmwareGeneration) {
    struct Case {
        const char* name;
        std::uint64_t typeCode;
        int index;
        bool line2, network2, zarno, zarno2;
    };
    const Case cases[] = {
        {"Orvel-510", device::kTypeOrvel510, 8, true, false, false, false},
        {"Orvel-610, index 16", device::kTypeOrvel610, 16, false, false, false, false},
        {"Orvel-610, index 17", device::kTypeOrvel610, 17, false, false, true, false},
        {"Orvel-611, index 21", device::kTypeOrvel611, 21, false, true, true, true},
        {"Orvel-45, index 16", device::kTypeOrvel45, 16, false, true, false, false},
    };
    for (const Case& c : cases) {
        frm::LoudspeakerFacts facts = normalLoudspeaker();
        facts.typeCode = c.typeCode;
        facts.versionIndex = c.index;
        const frm::StateView view = frm::describeLoudspeaker(facts, kKeys);
        EXPECT_EQ(at(view, StateField::Line2).enabled, c.line2) << c.name;
        EXPECT_EQ(at(view, StateField::Line2).text.empty(), !c.line2) << c.name;
        EXPECT_EQ(at(view, StateField::Network2).enabled, c.network2) << c.name;
        EXPECT_EQ(at(view, StateField::Network2).text.empty(), !c.network2) << c.name;
        for (const StateField f :
             {StateField::Zarno1, StateField::Zones, StateField::AnalogInput1, StateField::AnalogInput2}) {
            EXPECT_EQ(at(view, f).enabled, c.zarno) << c.name << " " << static_cast<int>(f);
            EXPECT_EQ(at(view, f).text.empty(), !c.zarno) << c.name << " " << static_cast<int>(f);
        }
        EXPECT_EQ(at(view, StateField::Zarno2).enabled, c.zarno2) << c.name;
        EXPECT_EQ(at(view, StateField::Zarno2).text.empty(), !c.network2) << c.name;
        EXPECT_FALSE(at(view, StateField::Microphone).enabled);
        EXPECT_FALSE(at(view, StateField::Access).enabled);
    }

    // Each normal flag colours its own field.
    frm::LoudspeakerFacts facts = normalLoudspeaker();
    for (const frm::FieldView& field : frm::describeLoudspeaker(facts, kKeys)) EXPECT_FALSE(field.warning);
    facts.state.batteryOk = false;
    facts.state.ainOk = false;
    facts.state.zoneState = 0x3;
    facts.state.zoneOk = false;
    const frm::StateView faulty = frm::describeLoudspeaker(facts, kKeys);
    for (std::size_t i = 0; i < frm::kStateFieldCount; ++i) {
        const auto field = static_cast<StateField>(i);
        EXPECT_EQ(faulty[i].warning, field == StateField::Power2 || field == StateField::AnalogInput2 ||
                                         field == StateField::Zones)
            << i;
    }
    EXPECT_EQ(at(faulty, StateField::Zones).text, L"Имеются не используемые зоны трансляции");
}

TEST(DeviceView, AConsoleShowsItsOwnFields) {
    frm::ConsoleFacts facts;
    facts.state.power1Status = 2;
    facts.state.power2Status = 7;
    facts.state.caseState = 0;
    facts.state.microphoneLine = 1;
    facts.state.boundZones = 3;
    facts.state.connectedZones = 1;
    facts.state.power1Present = true;
    facts.playbackWord = L"none";
    facts.online = facts.answered = true;
    const frm::Translate withU = [](const std::wstring& key) { return key == L"u-ok" ? L"U ok, Umax" : key; };
    const frm::StateView view = frm::describeConsole(facts, withU);
    EXPECT_EQ(at(view, StateField::Power1).text, L"U1 ok, U1max");
    EXPECT_EQ(at(view, StateField::Power2).text, L"u-over");
    EXPECT_EQ(at(view, StateField::Zones).text, L"Обрыв");
    for (const StateField off : {StateField::Line1, StateField::Line2, StateField::AnalogInput2})
        EXPECT_FALSE(at(view, off).enabled);
    EXPECT_TRUE(at(view, StateField::Microphone).enabled);
    EXPECT_TRUE(at(view, StateField::Access).enabled);
    EXPECT_TRUE(at(view, StateField::CaseState).warning);  // open
    EXPECT_FALSE(at(view, StateField::Microphone).warning);
    EXPECT_FALSE(at(view, StateField::Power1).warning);
    EXPECT_TRUE(at(view, StateField::Power2).warning);
}

TEST(DeviceView, TheBuiltCatalogueTranslatesEveryStateKey) {
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(SONVAR_CATALOGUE_DIR);
    wxTranslations translations;
    translations.SetLanguage("ru_RU");
    ASSERT_TRUE(translations.AddCatalog("ru_RU", wxLANGUAGE_ENGLISH_US));
    const std::vector<std::wstring> keys = frm::stateTextKeys();
    EXPECT_GT(keys.size(), 80u);
    for (const std::wstring& key : keys)
        EXPECT_NE(translations.GetTranslatedString(key), nullptr) << wxString(key).utf8_string();
}
