#include "gui/device_control_rules.h"

namespace frm {
namespace device_controls {

std::wstring lineVerdict(bool line1Good, bool line2Good) {
    if (line1Good && line2Good) return std::wstring();
    std::wstring text = L"Параметры линии ";
    if (!line1Good) text += L"1 ";
    if (!line2Good) text += L"2 ";
    return text + L"не соответствуют норме";
}

}  // namespace device_controls
}  // namespace frm
