#pragma once

#include <string>

// The line measurement's verdict as the operator reads it. Pure function;
// any thread.
namespace frm {
namespace device_controls {

/// The warning for a line measurement that found a line out of order,
/// naming the failed lines ("Параметры линии 2 не соответствуют норме");
/// empty when both lines are good.
std::wstring lineVerdict(bool line1Good, bool line2Good);

}  // namespace device_controls
}  // namespace frm
