#include "gui/device_control_rules.h"

namespace frm {
namespace device_controls {

int bassPercent(int value, int maximum) { return maximum == 0 ? 0 : value * 100 / maximum; }

int treblePercent(int value, int minimum, int maximum) {
    const int range = value >= 0 ? maximum : -minimum;
    return range == 0 ? 0 : value * 100 / range;
}

std::wstring bassTooltip(int value, int maximum) {
    return L"Громкость басса " + std::to_wstring(bassPercent(value, maximum)) + L"%";
}

std::wstring trebleTooltip(int value, int minimum, int maximum) {
    return L"Громкость высоких частот " + std::to_wstring(treblePercent(value, minimum, maximum)) + L"%";
}

std::wstring lineVerdict(bool line1Good, bool line2Good) {
    if (line1Good && line2Good) return std::wstring();
    std::wstring text = L"Параметры линии ";
    if (!line1Good) text += L"1 ";
    if (!line2Good) text += L"2 ";
    return text + L"не соответствуют норме";
}

StreamBoxes enabledStreamBoxes(bool allowOthers, bool sendInput1, bool sendInput2) {
    const bool sending = sendInput1 || sendInput2;
    if (allowOthers && sending) return {true, true, true};
    return {!sending, !allowOthers, !allowOthers};
}

}  // namespace device_controls
}  // namespace frm
