#pragma once

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/odcombo.h>
#include <wx/panel.h>
#include <wx/slider.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/layout/event_connections.h"
#include "gui/layout/icon_grid.h"

namespace frm {
namespace fb {

/// Layout of the zone and device page: the devices of the chosen zones as a
/// grid of large icons, a grid of ten rows of label and field pairs for the
/// selected device, the volume panel (hint, mute button, slider), the lock
/// button, and the row of settings, delete and apply buttons. Builds the
/// controls and routes their events to the handler operations below (14
/// connections); frm::ZoneElementPanel implements them, fills the list and
/// the fields and sets the mute image. "Принудительно искать устройства" is
/// connected by the window class, not here. GUI thread only.
class ZoneElementPanel : public wxPanel {
public:
    ZoneElementPanel(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                     const wxSize& size = wxSize(1430, 965), long style = wxTAB_TRAVERSAL,
                     const wxString& name = wxEmptyString);
    ~ZoneElementPanel() override;

protected:
    IconGrid* deviceList;
    wxPanel* infoPanel;
    wxButton* selectAllDevices;
    wxButton* searchDevices;
    wxStaticText* titleLabel;
    wxTextCtrl* title;
    wxStaticText* zoneLabel;
    // Drawn by wx, not a GTK combo box: that one takes time in the square of
    // its items to fill, and a site may have tens of thousands of zones.
    wxOwnerDrawnComboBox* zone;
    wxStaticText* playbackLabel;
    wxTextCtrl* playback;
    wxStaticText* firmwareLabel;
    wxTextCtrl* firmware;
    wxStaticText* hardwareAddressLabel;
    wxTextCtrl* hardwareAddress;
    wxStaticText* ipAddressLabel;
    wxTextCtrl* ipAddress;
    wxStaticText* line1Label;
    wxTextCtrl* line1;
    wxStaticText* network1Label;
    wxTextCtrl* network1;
    wxStaticText* line2Label;
    wxTextCtrl* line2;
    wxStaticText* network2Label;
    wxTextCtrl* network2;
    wxStaticText* power1Label;
    wxTextCtrl* power1;
    wxStaticText* caseStateLabel;
    wxTextCtrl* caseState;
    wxStaticText* power2Label;
    wxTextCtrl* power2;
    wxStaticText* zonesLabel;
    wxTextCtrl* zones;
    wxStaticText* zarno1Label;
    wxTextCtrl* zarno1;
    wxStaticText* analogInput1Label;
    wxTextCtrl* analogInput1;
    wxStaticText* zarno2Label;
    wxTextCtrl* zarno2;
    wxStaticText* analogInput2Label;
    wxTextCtrl* analogInput2;
    wxStaticText* microphoneLabel;
    wxTextCtrl* microphone;
    wxStaticText* accessLabel;
    wxTextCtrl* access;
    wxPanel* volumePanel;
    wxStaticText* volumeHint;
    wxBitmapButton* mute;
    wxSlider* volumeSlider;
    wxButton* lockInterface;
    wxButton* generalProperty;
    wxButton* deviceProperty;
    wxButton* lockAdmin;
    wxStaticLine* separator;
    wxButton* deleteDevices;
    wxButton* apply;

    virtual void onSize(wxSizeEvent& event) = 0;
    virtual void onListItemDeselected(wxListEvent& event) = 0;
    virtual void onListItemSelected(wxListEvent& event) = 0;
    virtual void selectAllDevicesOnButtonClick(wxCommandEvent& event) = 0;
    virtual void titleOnChar(wxKeyEvent& event) = 0;
    virtual void zoneOnChoice(wxCommandEvent& event) = 0;
    virtual void muteOnButtonClick(wxCommandEvent& event) = 0;
    virtual void volumeSliderOnScrollChanged(wxScrollEvent& event) = 0;
    virtual void lockInterfaceOnButtonClick(wxCommandEvent& event) = 0;
    virtual void generalPropertyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void devicePropertyOnButtonClick(wxCommandEvent& event) = 0;
    virtual void lockAdminOnButtonClick(wxCommandEvent& event) = 0;
    virtual void deleteOnButtonClick(wxCommandEvent& event) = 0;
    virtual void applyOnButtonClick(wxCommandEvent& event) = 0;

    /// The connections of the event table, undone in order by the destructor.
    EventConnections m_connections;

private:
    void buildInfoPanel();
    void buildVolumePanel();
    void connectEvents();
};

}  // namespace fb
}  // namespace frm
