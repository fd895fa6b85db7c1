#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace device {
struct TovikConfig;
}

namespace frm {

/// The rules behind the property panel's common, sources and firmware
/// controls that need no window: which entry a priority choice shows, which
/// console options and stream boxes can be changed, and the texts the panel
/// builds. Plain functions; any thread.
namespace property_rules {

/// The sources page offers each of its six priority choices the entries
/// "7" down to "2".
constexpr int kPriorityChoices = 6;
constexpr int kHighestPriorityEntry = 7;

/// For each of six source priorities, the entry its choice selects: the
/// position of its value among the six sorted in descending order, the first
/// position holding an equal value (equal values share an entry).
std::array<int, kPriorityChoices> priorityPositions(
    const std::array<std::uint16_t, kPriorityChoices>& values);

/// The priority an entry of a priority choice stands for: its number
/// ("7" at position 0 down to "2" at position 5).
std::uint16_t priorityOfEntry(int position);

/// Which of the three stream boxes of the sources page ("Разрешить
/// воспроизводить поток с других модулей", "Передавать поток со входа 1/2
/// на другие модули") can be changed for the ticks given: playing the
/// others' stream and sending an input's own exclude each other, except
/// that a device already holding both keeps all three editable.
struct StreamBoxes {
    bool allowOthers = true;
    bool sendInput1 = true;
    bool sendInput2 = true;
};
StreamBoxes streamBoxesEnabled(bool allowOthers, bool sendInput1, bool sendInput2);

/// The console options of the common page after the console type was
/// chosen: the ticks and which boxes can be changed.
struct ConsoleOptions {
    bool singlePower = false;
    bool faultSound = false;
    bool analogInput = false;
    bool singlePowerEnabled = false;
    bool faultSoundEnabled = false;
    bool analogInputEnabled = false;
    bool power2Enabled = false;
};
/// A broadcast console (`fire` false) takes single power and the fault sound
/// from its configuration and has no alarm input; a fire console outside
/// debug mode must run on two supplies with the fault sound on, in debug mode
/// it keeps what the boxes show (`shownSinglePower`, `shownFaultSound`).
ConsoleOptions consoleOptionsForType(bool fire, bool debugMode, const device::TovikConfig& config,
                                     bool shownSinglePower, bool shownFaultSound);

/// The tooltip values of the Orvel-510 sliders, in per cent of the slider's
/// reach on the side of the value: the bass of 0..`maximum`, the treble of
/// `minimum`..`maximum` (negative values against -`minimum`).
int bassPercent(int value, int maximum);
int treblePercent(int value, int minimum, int maximum);

/// The devices whose firmware upgrade failed, as the error names them: for
/// each a tab and its title in double quotes, nothing between.
std::wstring failedDeviceList(const std::vector<std::wstring>& titles);

}  // namespace property_rules
}  // namespace frm
