#pragma once

#include <optional>
#include <string>

#include "gui/layout/number_spin.h"

// OK and Apply reading the spin fields of whole numbers. GUI thread only.
namespace frm {

/// A number field read for OK or Apply: the number it holds, or, when its
/// text is no whole number of its range, the operator's text of the refusal
/// naming the field (`name`), what was typed and the range.
struct FieldNumber {
    std::optional<int> value;
    std::wstring refusal;
};
FieldNumber readNumberField(const fb::NumberSpin& field, const std::wstring& name);

/// Brings a field whose text was refused into sight: its notebook page to the
/// front, the focus on it and its text selected, ready to be typed over.
void showRefusedField(fb::NumberSpin& field);

}  // namespace frm
