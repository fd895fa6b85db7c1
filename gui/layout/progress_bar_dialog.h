#pragma once

#include <wx/dialog.h>

namespace frm {
namespace fb {

/// Layout of the progress dialog of long device operations: a caption and
/// nothing else. frm::ProgressBarDialog adds its sizer and one line per
/// device. GUI thread only.
class ProgressBarDialog : public wxDialog {
public:
    ProgressBarDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
                      const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(586, 93),
                      long style = wxCAPTION);
};

}  // namespace fb
}  // namespace frm
