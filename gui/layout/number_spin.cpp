#include "gui/layout/number_spin.h"

#ifdef __WXGTK__
#include <dlfcn.h>
#endif

namespace frm {
namespace fb {

#ifdef __WXGTK__
namespace {

/// The spin button's own value. wx has no call for it while a text of its
/// own is shown (GetValue() then answers the lowest value), and the program
/// reaches GTK only through wx, so the function is looked up in GTK, which wx
/// has loaded.
double gtkValue(const wxSpinCtrl& spin) {
    using GetValue = double (*)(void*);
    static const auto get = reinterpret_cast<GetValue>(dlsym(RTLD_DEFAULT, "gtk_spin_button_get_value"));
    return get != nullptr ? get(spin.GetHandle()) : spin.GetMin();
}

}  // namespace
#endif

std::wstring NumberSpin::typedText() const { return GetTextValue().ToStdWstring(); }

base::NumberText NumberSpin::read() const { return base::readNumberText(typedText(), GetMin(), GetMax()); }

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
