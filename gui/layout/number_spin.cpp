#include "gui/layout/number_spin.h"

#ifdef __WXGTK__
#include <dlfcn.h>
#endif

namespace frm {
namespace fb {

#ifdef __WXGTK__
namespace {

// The program reaches GTK only through wx, which has no call for the two
// below; they are looked up in GTK, which wx has loaded.

/// The spin button's own value. wx has none while a text of its own is
/// shown (GetValue() then answers the lowest value).
double gtkValue(const wxSpinCtrl& spin) {
    using GetValue = double (*)(void*);
    static const auto get = reinterpret_cast<GetValue>(dlsym(RTLD_DEFAULT, "gtk_spin_button_get_value"));
    return get != nullptr ? get(spin.GetHandle()) : spin.GetMin();
}

/// Lets the spin button take any character as typed: wx makes it numeric,
/// and GTK then drops each letter as it comes.
void takeEveryCharacter(wxSpinCtrl& spin) {
    using SetNumeric = void (*)(void*, int);
    static const auto set = reinterpret_cast<SetNumeric>(dlsym(RTLD_DEFAULT, "gtk_spin_button_set_numeric"));
    if (set != nullptr) set(spin.GetHandle(), 0);
}

/// Puts a text into the spin button's entry as typing does (wx would read
/// "12x" as 12).
void setEntryText(wxSpinCtrl& spin, const wxString& text) {
    using SetText = void (*)(void*, const char*);
    static const auto set = reinterpret_cast<SetText>(dlsym(RTLD_DEFAULT, "gtk_entry_set_text"));
    if (set != nullptr) set(spin.GetHandle(), text.utf8_str());
}

}  // namespace
#endif

NumberSpin::NumberSpin(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos,
                       const wxSize& size, long style, int min, int max, int initial)
    : wxSpinCtrl(parent, id, value, pos, size, style, min, max, initial) {
#ifdef __WXGTK__
    takeEveryCharacter(*this);
#endif
}

std::wstring NumberSpin::typedText() const { return GetTextValue().ToStdWstring(); }

base::NumberText NumberSpin::read() const { return base::readNumberText(typedText(), GetMin(), GetMax()); }

void NumberSpin::showTypedText(const wxString& text) {
    const base::NumberText taken = base::readNumberText(text.ToStdWstring(), GetMin(), GetMax());
    if (taken.kind == base::NumberText::Number) {
        SetValue(taken.value);
        return;
    }
#ifdef __WXGTK__
    setEntryText(*this, text);
#else
    SetValue(text);
#endif
}

#ifdef __WXGTK__
wxSpinCtrl::GTKInputResult NumberSpin::GTKInput(double* value) const {
    const base::NumberText taken = read();
    if (taken.kind == base::NumberText::Number) {
        *value = taken.value;
        return GTKInput_Converted;
    }
    // GTK is given its own value, so it changes nothing and only asks for the
    // text to show; wx's text override answers with the text as typed. The
    // override ends when the operator types again, the arrows change the
    // value or the program sets one.
    *value = gtkValue(*this);
    const_cast<NumberSpin*>(this)->GTKSetTextOverride(GetTextValue());
    return GTKInput_Converted;
}
#endif

}  // namespace fb
}  // namespace frm
