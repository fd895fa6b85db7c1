#pragma once

#include <wx/dialog.h>

namespace frm {

/// Ends a dialog with `code`: shown modally, ShowModal returns it; shown
/// modeless, the dialog keeps it as its return code and hides (the toolkit's
/// EndDialog would only hide it, and the code would be lost).
inline void endDialog(wxDialog& dialog, int code) {
    if (dialog.IsModal()) {
        dialog.EndModal(code);
        return;
    }
    dialog.SetReturnCode(code);
    dialog.Hide();
}

}  // namespace frm
