#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <vector>

#include "gui/layout/event_connections.h"
#include "gui/layout/number_spin.h"

namespace frm {
namespace fb {

/// Layout of the settings dialog: a notebook of six pages ("Расположение",
/// "Громкость", "Сеть", "Запись", "Безопасность", "События") above the
/// buttons "&Сохранить" and "Отмена". Builds the controls and routes their
/// events to the handler operations below (27 connections); frm::SettingsDialog
/// implements them, fills the controls and removes pages. The layout alone
/// opens on "Сеть", the page added as selected. GUI thread only.
class SettingsDialog : public wxDialog {
public:
    SettingsDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxEmptyString,
                   const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(862, 680),
                   long style = wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    ~SettingsDialog() override;

    /// The nine scroll events of a slider, in their connection order.
    static const std::vector<wxEventType>& sliderScrollEvents();

protected:
    wxNotebook* notebook;
    wxPanel* panelPlace;
    wxStaticText* restartNotePlace;
    wxTextCtrl* textPathDirGong;
    wxButton* pathDirGong;
    wxTextCtrl* textPathDirServiceMessage;
    wxButton* pathDirServiceMessage;
    wxTextCtrl* textPathDirAlarmMessage;
    wxButton* pathDirAlarmMessage;
    wxTextCtrl* textPathDirRecordedMessage;
    wxButton* pathDirRecordedMessage;
    wxChoice* pathFileGong;
    wxPanel* panelVolume;
    wxSlider* sliderServiceMessage;
    wxSlider* sliderMicrophone;
    wxPanel* panelNetwork;
    wxStaticText* restartNoteNetwork;
    wxStaticText* labelInterface;
    wxChoice* networkInterface;
    wxStaticText* labelMulticastAddress;
    wxTextCtrl* multicastAddress;
    wxStaticText* labelMulticastTtl;
    NumberSpin* multicastTtl;
    wxStaticText* labelMulticastBasePort;
    NumberSpin* multicastBasePort;
    wxPanel* panelRecord;
    wxStaticText* labelRecordDevice;
    wxChoice* recordDevice;
    wxButton* buttonPlay;
    wxPanel* panelSecurity;
    wxStaticText* labelPasswordAdministrator;
    wxTextCtrl* passwordAdministrator;
    wxStaticText* labelPasswordAdministratorRepeat;
    wxTextCtrl* passwordAdministratorRepeat;
    wxStaticText* labelPasswordPlaybackAlarm;
    wxTextCtrl* passwordPlaybackAlarm;
    wxStaticText* labelPasswordPlaybackAlarmRepeat;
    wxTextCtrl* passwordPlaybackAlarmRepeat;
    wxStaticText* labelPasswordInterface;
    wxTextCtrl* passwordInterface;
    wxStaticText* labelPasswordInterfaceRepeat;
    wxTextCtrl* passwordInterfaceRepeat;
    NumberSpin* interfaceTimeout;
    wxStaticText* labelInterfaceTimeout;
    wxPanel* panelEvents;
    wxStaticText* labelLogDate;
    wxChoice* log;
    wxStaticText* labelLogLevel;
    wxChoice* logLevel;
    wxTextCtrl* logText;
    wxButton* buttonOk;
    wxButton* buttonCancel;
    /// The gong box, shown or hidden as a whole by the window class.
    wxStaticBoxSizer* gongSizer;

    virtual void onNotebookPageChanged(wxBookCtrlEvent& event) = 0;
    virtual void pathDirGongOnButtonClick(wxCommandEvent& event) = 0;
    virtual void pathDirServiceMessageOnButtonClick(wxCommandEvent& event) = 0;
    virtual void pathDirAlarmMessageOnButtonClick(wxCommandEvent& event) = 0;
    virtual void pathDirRecordedMessageOnButtonClick(wxCommandEvent& event) = 0;
    virtual void sliderOnScroll(wxScrollEvent& event) = 0;
    virtual void buttonPlayOnButtonClick(wxCommandEvent& event) = 0;
    virtual void logOnChoice(wxCommandEvent& event) = 0;
    virtual void buttonOkOnClick(wxCommandEvent& event) = 0;
    virtual void buttonCancelOnClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;

private:
    wxPanel* buildPlacePage();
    wxPanel* buildVolumePage();
    wxPanel* buildNetworkPage();
    wxPanel* buildRecordPage();
    wxPanel* buildSecurityPage();
    wxPanel* buildEventsPage();
    void connectEvents();
};

}  // namespace fb
}  // namespace frm
