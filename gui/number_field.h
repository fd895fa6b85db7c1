#pragma once

#include <wx/window.h>

#include <optional>
#include <string>

#include "gui/layout/number_spin.h"

// OK and Apply reading the spin fields of whole numbers, and what the
// operator is shown when a typed text is refused. GUI thread only.
namespace frm {

/// A number field read for OK or Apply: the number it holds, or, when its
/// text is no whole number of its range, the operator's text of the refusal
/// naming the field (`name`), what was typed and the range.
struct FieldNumber {
    std::optional<int> value;
    std::wstring refusal;
};
FieldNumber readNumberField(const fb::NumberSpin& field, const std::wstring& name);

/// The number of a field read for the OK of a modal dialog; without one, the
/// refusal is shown in a box over `dialog` (a notice could not be closed
/// while the dialog runs, and would stand over its fields) and the field is
/// brought into sight, and the dialog stays open.
std::optional<int> takeDialogNumber(fb::NumberSpin& field, const std::wstring& name, wxWindow& dialog);

/// Shows a typed text's refusal in a box over the modal dialog it was typed
/// into, then brings the field into sight (showRefusedField).
void refuseInDialog(const std::wstring& refusal, wxWindow& field, wxWindow& dialog);

/// Brings a field whose text was refused into sight: its notebook page to the
/// front, the focus on it and its text selected, ready to be typed over.
void showRefusedField(wxWindow& field);

}  // namespace frm
