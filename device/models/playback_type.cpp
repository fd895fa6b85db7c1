#include "device/models/playback_type.h"

#include <stdexcept>

namespace device {

const std::map<std::uint64_t, std::wstring>& playbackTypeTexts() {
    static const std::map<std::uint64_t, std::wstring> texts = {
        {0x0000000000000000, L"none"},
        {0x0100000000000000, L"meta_internal"},
        {0x0200000000000000, L"meta_stoppable"},
        {0x0600000000000000, L"meta_external"},
        {0x0800000000000000, L"meta_alarm"},
        {0x1100000000000000, L"unknown"},
        {0x2000000000000000, L"meta_error"},
        {0x0600000000000001, L"meta_server"},
        {0x0600000000000003, L"radio"},
        {0x0600000000000005, L"playlist"},
        {0x0600000000000009, L"ad"},
        {0x0600000000000011, L"service_message"},
        {0x0600000000000021, L"record"},
        {0x0600000000000041, L"alarm_message"},
        {0x0600000000000081, L"gong"},
        {0x0600000000000100, L"meta_redirection"},
        {0x0600000000000300, L"external_media"},
        {0x0600000000000500, L"microphone"},
        {0x0E00000000000900, L"alarm"},
        {0x0600000000001500, L"voice_low_priority"},
        {0x0E00000000002900, L"voice_high_priority"},
        {0x0900000000004000, L"voice_high_repeating"},
        {0x0100000000008000, L"meta_voice_tovik"},
        {0x0900000000018000, L"voice_zone_ain"},
        {0x0900000000028000, L"voice_zone_fire"},
        {0x0100000000048000, L"voice_zone_note"},
        {0x0000000000080000, L"no_used_1"},
        {0x0900000000100000, L"meta_memory"},
        {0x0B00000000300000, L"fragment"},
        {0x0900000000500000, L"scenario"},
        {0x0000000000800000, L"no_used_2"},
        {0x0B00000001500000, L"scenario_test"},
        {0x0B00000002500000, L"scenario_server"},
        {0x0900000004500000, L"scenario_zarno"},
        {0x0900000008500000, L"scenario_ain"},
        {0x0900000018500000, L"scenario_ain1"},
        {0x0900000028500000, L"scenario_ain2"},
        {0x0900000040508000, L"scenario_tovik"},
        {0x0000000080000000, L"no_used_3"},
        {0x0900000100000000, L"meta_gochs"},
        {0x0900000300000000, L"analog_input1"},
        {0x0900000500000000, L"analog_input2"},
        {0x0100000800000000, L"sine"},
        {0x2000100000000000, L"ain_scenario_broken"},
        {0x2000200000000000, L"scenario_misstate"},
    };
    return texts;
}

std::wstring findPlaybackTypeText(std::uint64_t code) {
    const auto& texts = playbackTypeTexts();
    auto found = texts.find(code);
    if (found == texts.end()) found = texts.find(playback::kUnknown);
    if (found == texts.end()) throw std::out_of_range("invalid map<K, T> key");
    return found->second;
}

}  // namespace device
