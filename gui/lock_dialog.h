#pragma once

#include "gui/layout/lock_dialog.h"

namespace frm {

/// The dialog of the locked interface: it stays until the password of
/// `security.interface` is typed (the key is created with the default when
/// missing), then ends with wxID_OK. Close requests (the window manager's
/// close, Esc) are refused; otherwise only a stop request, through
/// frm::ui::showModal's stack, ends it (with Cancel). Built by the main
/// window for one showing; GUI thread only.
class LockDialog : public fb::LockDialog {
public:
    LockDialog(wxWindow* parent, const wxString& title, const wxPoint& pos, const wxSize& size);

protected:
    void OnClose(wxCloseEvent& event) override;
    void unlockOnButtonClick(wxCommandEvent& event) override;
};

}  // namespace frm
