#include "base/static_tables.h"

#include <boost/algorithm/string/case_conv.hpp>

const std::map<std::uint64_t, std::wstring> playbackTypeNames = {
    {0x0000000000000000ull, L"none"},
    {0x0100000000000000ull, L"meta_internal"},
    {0x0200000000000000ull, L"meta_stoppable"},
    {0x0600000000000000ull, L"meta_external"},
    {0x0800000000000000ull, L"meta_alarm"},
    {0x1100000000000000ull, L"unknown"},
    {0x2000000000000000ull, L"meta_error"},
    {0x0600000000000001ull, L"meta_server"},
    {0x0600000000000003ull, L"radio"},
    {0x0600000000000005ull, L"playlist"},
    {0x0600000000000009ull, L"ad"},
    {0x0600000000000011ull, L"service_message"},
    {0x0600000000000021ull, L"record"},
    {0x0600000000000041ull, L"alarm_message"},
    {0x0600000000000081ull, L"gong"},
    {0x0600000000000100ull, L"meta_redirection"},
    {0x0600000000000300ull, L"external_media"},
    {0x0600000000000500ull, L"microphone"},
    {0x0E00000000000900ull, L"alarm"},
    {0x0600000000001500ull, L"voice_low_priority"},
    {0x0E00000000002900ull, L"voice_high_priority"},
    {0x0900000000004000ull, L"voice_high_repeating"},
    {0x0100000000008000ull, L"meta_voice_tovik"},
    {0x0900000000018000ull, L"voice_zone_ain"},
    {0x0900000000028000ull, L"voice_zone_fire"},
    {0x0100000000048000ull, L"voice_zone_note"},
    {0x0000000000080000ull, L"no_used_1"},
    {0x0900000000100000ull, L"meta_memory"},
    {0x0B00000000300000ull, L"fragment"},
    {0x0900000000500000ull, L"scenario"},
    {0x0000000000800000ull, L"no_used_2"},
    {0x0B00000001500000ull, L"scenario_test"},
    {0x0B00000002500000ull, L"scenario_server"},
    {0x0900000004500000ull, L"scenario_zarno"},
    {0x0900000008500000ull, L"scenario_ain"},
    {0x0900000018500000ull, L"scenario_ain1"},
    {0x0900000028500000ull, L"scenario_ain2"},
    {0x0900000040508000ull, L"scenario_tovik"},
    {0x0000000080000000ull, L"no_used_3"},
    {0x0900000100000000ull, L"meta_gochs"},
    {0x0900000300000000ull, L"analog_input1"},
    {0x0900000500000000ull, L"analog_input2"},
    {0x0100000800000000ull, L"sine"},
    {0x2000100000000000ull, L"ain_scenario_broken"},
    {0x2000200000000000ull, L"scenario_misstate"},
};

const std::wstring& findPlaybackTypeName(std::uint64_t code) {
    const auto it = playbackTypeNames.find(code);
    return it != playbackTypeNames.end() ? it->second : playbackTypeNames.at(unknownPlaybackType);
}

const std::map<std::uint32_t, std::string> lineControlStateNames = {
    {0, ""},
    {1, "Not Ready"},
    {2, "Active"},
    {3, "Pause"},
};

std::uint32_t findLineControlState(const std::string& reply) {
    const std::string upperReply = boost::algorithm::to_upper_copy(reply, std::locale::classic());
    for (const auto& [state, name] : lineControlStateNames) {
        if (name.empty()) continue;
        if (upperReply.find(boost::algorithm::to_upper_copy(name, std::locale::classic())) != std::string::npos)
            return state;
    }
    return 0;
}

const std::map<int, IconInfo> iconTable = {
    {0, {"button_backward", 24}},
    {1, {"button_play", 24}},
    {2, {"button_pause", 24}},
    {3, {"button_stop", 24}},
    {4, {"button_forward", 24}},
    {5, {"button_playlist", 24}},
    {6, {"button_volume_on", 16}},
    {7, {"button_volume_off", 16}},
    {8, {"speaker_offline", 48}},
    {9, {"speaker_normal", 48}},
    {10, {"speaker_normal_play", 48}},
    {11, {"speaker_incoming", 48}},
    {12, {"speaker_incoming_play", 48}},
    {13, {"speaker_error", 48}},
    {14, {"speaker_error_play", 48}},
    {15, {"speaker_alarm", 48}},
    {16, {"speaker_alarm_play", 48}},
    {17, {"microphone_offline", 48}},
    {18, {"microphone_normal", 48}},
    {19, {"microphone_incoming", 48}},
    {20, {"microphone_error", 48}},
    {21, {"microphone_alarm", 48}},
    {22, {"drive_optical", 32}},
    {23, {"drive_removable", 32}},
};

const std::wstring commandSuiteExtension = L".txt";
const std::wstring schedulerRootElement = L"scheduler_v2";

const std::wstring keyPrefixDevice = L"device-";
const std::wstring keyPrefixAnalogInput = L"ain-";
const std::wstring keyPrefixBattery = L"battery-";
const std::wstring keyPrefixPowerSupply = L"u-";
const std::wstring keyPrefixEthernet = L"ethernet-";
const std::wstring keyPrefixPlayback = L"playback-";
const std::wstring keyPrefixMicrophone = L"mic-";
const std::wstring keyPrefixAccess = L"access-";
