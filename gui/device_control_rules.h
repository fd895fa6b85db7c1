#pragma once

#include <string>

// The decisions of the property panel's immediate controls that need no
// window: the tooltips of the Orvel-510 equalizer sliders, the verdict of a
// line measurement and which stream boxes of the sources page may be
// changed. Pure functions; any thread.
namespace frm {
namespace device_controls {

/// The bass slider's share of its maximum in per cent, rounded towards
/// zero: 7 of 15 is 46. A maximum of 0 gives 0.
int bassPercent(int value, int maximum);
/// The treble slider's share in per cent of its maximum for values from 0,
/// of its minimum's magnitude below 0: -8 of -8..7 is -100, 7 is 100.
int treblePercent(int value, int minimum, int maximum);
/// "Громкость басса 46%".
std::wstring bassTooltip(int value, int maximum);
/// "Громкость высоких частот -100%".
std::wstring trebleTooltip(int value, int minimum, int maximum);

/// The warning for a line measurement that found a line out of order,
/// naming the failed lines ("Параметры линии 2 не соответствуют норме");
/// empty when both lines are good.
std::wstring lineVerdict(bool line1Good, bool line2Good);

/// Which of the three stream boxes of the sources page may be changed.
struct StreamBoxes {
    bool allowOthers = true;  // "Разрешить воспроизводить поток с других модулей"
    bool sendInput1 = true;  // "Передавать поток со входа 1 на другие модули"
    bool sendInput2 = true;  // "Передавать поток со входа 2 на другие модули"
};
/// Playing the others' stream and passing an input on exclude each other:
/// a ticked allow box locks both send boxes, a ticked send box the allow
/// box. A state that already has both (read from a device) leaves all
/// three free, so that the operator can untick either side.
StreamBoxes enabledStreamBoxes(bool allowOthers, bool sendInput1, bool sendInput2);

}  // namespace device_controls
}  // namespace frm
