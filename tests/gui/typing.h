#pragma once

#include <wx/spinctrl.h>
#include <wx/uiaction.h>

#include <string>

#include "base/text.h"
#include "tests/base/wx/wx_app.h"

// Real keys and clicks on the test display (wxUIActionSimulator, through
// XTest), for the windows' fields as the operator types into them. The
// window must be shown. GUI thread.
namespace typing_testing {

/// Puts the focus on the field, as a click there would, and types `text`
/// over what it shows; true once the field shows exactly that text. (A
/// simulated click into a GTK entry of a window without a window manager
/// moves the focus only when the window is raised again.)
inline bool typeOver(wxSpinCtrl* field, const std::string& text) {
    field->SetFocus();
    if (!wx_testing::runEventLoopUntil([field] { return field->HasFocus(); })) return false;
    wxUIActionSimulator input;
    input.Char('A', wxMOD_CONTROL);
    input.Char(WXK_DELETE);
    if (!text.empty()) input.Text(text.c_str());
    const std::wstring wanted = base::fromUtf8(text);
    return wx_testing::runEventLoopUntil([&] { return field->GetTextValue().ToStdWstring() == wanted; });
}

/// A click of the pointer in the middle of the window (a button): the
/// field that has the focus loses it first, as under the operator's hand.
inline void click(wxWindow* window) {
    wxUIActionSimulator input;
    const wxRect area = window->GetScreenRect();
    input.MouseMove(area.GetPosition() + area.GetSize() / 2);
    input.MouseClick();
}

}  // namespace typing_testing
