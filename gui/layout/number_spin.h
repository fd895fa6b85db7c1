#pragma once

#include <wx/spinctrl.h>

#include <string>

#include "base/number_text.h"

namespace frm {
namespace fb {

/// The spin field of the layouts' whole numbers (ports, counts, minutes).
///
/// GTK's spin button of a wxSpinCtrl is "numeric": it drops every character
/// but digits and a sign as they are typed, so "1199o" (an "o" for a "0")
/// would stand as 1199 and be taken. It also reads its text whenever it loses
/// the focus, is activated or spun, and silently turns a text it cannot take
/// into a number of its range: an empty field or "-" becomes the lowest value,
/// "70000" the highest. A click on "Сохранить" or "Применить" takes the focus,
/// so by the time the click is handled the typed text is gone.
///
/// This field takes every character the operator types and keeps a text
/// that the numbers' rule (base::readNumberText over the field's range)
/// refuses: the text stays as typed and the spin button's value stays what
/// it was, so that OK and Apply read the typed text (typedText, read) and
/// refuse it with a word. A text the rule takes becomes the value as before;
/// the arrows and the program's SetValue replace a kept text with a number.
///
/// While a refused text is shown, GetValue() tells nothing (wx then answers
/// the lowest value): read the field through read(). GUI thread only.
class NumberSpin : public wxSpinCtrl {
public:
    NumberSpin(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos, const wxSize& size,
               long style, int min, int max, int initial);

    /// The text the field shows: what the operator typed, or the value the
    /// program or the arrows set last.
    std::wstring typedText() const;
    /// typedText() read against the field's range.
    base::NumberText read() const;
    /// Shows `text` as the operator typed it, letters included (the panel
    /// puts back what a fill of its page would have replaced): a text the
    /// numbers' rule takes becomes the value, any other stays as it is.
    void showTypedText(const wxString& text);

#ifdef __WXGTK__
    /// Called by wx whenever GTK is about to read the text into its value.
    GTKInputResult GTKInput(double* value) const override;
#endif
};

}  // namespace fb
}  // namespace frm
