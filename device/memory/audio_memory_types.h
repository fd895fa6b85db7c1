#pragma once

#include <cstdint>
#include <string>

namespace device::memory {

/// One recorded fragment as the lists show it. The position counts from 1 in
/// memory order.
struct FragmentInfo {
    std::uint16_t id = 0;
    std::uint16_t position = 0;
    std::wstring title;
    std::uint32_t size = 0;  // bytes of the MP3 data
};

/// One scenario: a message fragment played every `period` seconds, after a
/// gong fragment when `gongId` is not 0xFFFF. The number equals the position
/// (from 1) and follows it when scenarios are removed.
struct ScenarioInfo {
    std::uint16_t id = 0;
    std::uint16_t number = 0;
    std::wstring title;
    std::uint16_t gongId = 0xFFFF;
    std::uint16_t messageId = 0;
    std::uint16_t period = 0;  // seconds
};

/// What the device plays from its memory, as reported to the loudspeaker's
/// playback-state callback.
enum class Playing { Stopped = 1, Scenario = 2, Fragment = 3, ScenarioServer = 4, NoChange = 5 };

}  // namespace device::memory
