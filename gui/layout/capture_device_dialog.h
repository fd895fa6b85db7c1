#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/stattext.h>

#include "gui/layout/event_connections.h"

namespace frm {
namespace fb {

/// Layout of the capture-device choice: the device list, a help text on
/// capturing the system's own sound, and "Выбрать" / "Отмена". Its two
/// handler operations let the event go on unless frm::CaptureDeviceDialog
/// overrides them, so the buttons end the dialog with OK or Cancel by
/// themselves. GUI thread only.
class CaptureDeviceDialog : public wxDialog {
public:
    CaptureDeviceDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                        const wxString& title = L"Выбор устройства захвата",
                        const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(524, 485),
                        long style = wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    ~CaptureDeviceDialog() override;

protected:
    wxStaticText* deviceLabel;
    wxChoice* device;
    wxStaticText* helpText;
    wxButton* buttonOk;
    wxButton* cancel;

    virtual void buttonOkOnClick(wxCommandEvent& event) { event.Skip(); }
    virtual void cancelOnButtonClick(wxCommandEvent& event) { event.Skip(); }

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;
};

}  // namespace fb
}  // namespace frm
