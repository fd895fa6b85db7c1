#include "gui/layout/progress_bar_dialog.h"

namespace frm {
namespace fb {

ProgressBarDialog::ProgressBarDialog(wxWindow* parent, wxWindowID id, const wxString& title,
                                     const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxDefaultSize, wxDefaultSize);
    Centre(wxBOTH);
}

}  // namespace fb
}  // namespace frm
