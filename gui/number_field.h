#pragma once

#include <wx/window.h>

#include <optional>
#include <string>

#include "gui/layout/number_spin.h"

// OK and Apply reading the spin fields of whole numbers, and the one way a
// typed text is refused, in every dialog, page and panel. GUI thread only.
namespace frm {

/// The caption of every refusal of a typed text.
extern const wchar_t* const kRefusalCaption;

/// The number a field holds for OK or Apply, read by the numbers' rule
/// (base::readNumberText over its range). Without one, the text is refused
/// (refuseTypedText) with the words of base::numberTextRefusal, naming the
/// field (`name`), what was typed and the range, and none is returned.
std::optional<int> takeNumber(fb::NumberSpin& field, const std::wstring& name);

/// Refuses what was typed into `field`: the field is brought into sight
/// (showRefusedField), the refusal goes to the daily log and is shown as a
/// notice through frm::ui with the caption kRefusalCaption, over the window
/// that holds the field: beside a running modal dialog, and clear of the
/// field itself. Nothing modal: the operator mends the text at once.
void refuseTypedText(const std::wstring& refusal, wxWindow& field);

/// Brings a field whose text was refused into sight: its notebook page to the
/// front, the focus on it and its text selected, ready to be typed over.
void showRefusedField(wxWindow& field);

}  // namespace frm
