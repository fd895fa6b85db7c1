#include "gui/property_settings_rules.h"

#include <algorithm>
#include <functional>

#include "device/models/tovik_config.h"

namespace frm {
namespace property_rules {

std::array<int, kPriorityChoices> priorityPositions(
    const std::array<std::uint16_t, kPriorityChoices>& values) {
    std::array<std::uint16_t, kPriorityChoices> sorted = values;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    std::array<int, kPriorityChoices> positions{};
    for (int i = 0; i < kPriorityChoices; ++i)
        positions[i] = static_cast<int>(std::find(sorted.begin(), sorted.end(), values[i]) - sorted.begin());
    return positions;
}

std::uint16_t priorityOfEntry(int position) {
    const int clamped = std::clamp(position, 0, kPriorityChoices - 1);
    return static_cast<std::uint16_t>(kHighestPriorityEntry - clamped);
}

StreamBoxes streamBoxesEnabled(bool allowOthers, bool sendInput1, bool sendInput2) {
    const bool sending = sendInput1 || sendInput2;
    if (allowOthers && sending) return {};
    StreamBoxes boxes;
    boxes.allowOthers = !sending;
    boxes.sendInput1 = boxes.sendInput2 = !allowOthers;
    return boxes;
}

ConsoleOptions consoleOptionsForType(bool fire, bool debugMode, const device::TovikConfig& config,
                                     bool shownSinglePower, bool shownFaultSound) {
    ConsoleOptions options;
    options.singlePowerEnabled = !fire;
    options.faultSoundEnabled = !fire;
    options.analogInputEnabled = fire;
    options.power2Enabled = fire || !config.singlePower;
    if (!fire) {
        options.singlePower = config.singlePower;
        options.faultSound = config.faultAlarm;
        options.analogInput = false;
    } else if (!debugMode) {
        options.singlePower = false;
        options.faultSound = true;
        options.analogInput = config.gochsArm;
    } else {
        options.singlePower = shownSinglePower;
        options.faultSound = shownFaultSound;
        options.analogInput = config.gochsArm;
    }
    return options;
}

int bassPercent(int value, int maximum) { return maximum != 0 ? value * 100 / maximum : 0; }

int treblePercent(int value, int minimum, int maximum) {
    const int reach = value >= 0 ? maximum : -minimum;
    return reach != 0 ? value * 100 / reach : 0;
}

std::wstring failedDeviceList(const std::vector<std::wstring>& titles) {
    std::wstring text;
    for (const std::wstring& title : titles) text += L"\t\"" + title + L"\"";
    return text;
}

}  // namespace property_rules
}  // namespace frm
