#include "gui/layout/source_device_panel.h"

namespace frm {
namespace fb {

namespace {

wxBitmapButton* playerButton(wxWindow* parent, const wxString& tooltip) {
    auto* button =
        new wxBitmapButton(parent, wxID_ANY, wxNullBitmap, wxDefaultPosition, wxDefaultSize, wxBU_AUTODRAW);
    button->SetBitmap(wxNullBitmap);
    button->SetToolTip(tooltip);
    return button;
}

}  // namespace

SourceDevicePanel::SourceDevicePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                     long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    auto* topSizer = new wxBoxSizer(wxHORIZONTAL);
    driveSizer = new wxBoxSizer(wxVERTICAL);
    driveSizer->SetMinSize(wxSize(30, -1));
    topSizer->Add(driveSizer, 0, wxEXPAND, 5);

    auto* right = new wxBoxSizer(wxVERTICAL);
    trackList = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
    right->Add(trackList, 1, wxEXPAND, 5);

    controlPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    prev = playerButton(controlPanel, L"Предыдущий элемент");
    prev->SetBitmapDisabled(wxNullBitmap);
    buttons->Add(prev, 0, wxALIGN_CENTER_VERTICAL, 5);
    play = playerButton(controlPanel, L"Играть");
    buttons->Add(play, 0, wxALIGN_CENTER_VERTICAL, 5);
    stop = playerButton(controlPanel, L"Стоп");
    buttons->Add(stop, 0, wxALIGN_CENTER_VERTICAL, 5);
    next = playerButton(controlPanel, L"Следующий элемент");
    buttons->Add(next, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
    controlPanel->SetSizer(buttons);
    controlPanel->Layout();
    buttons->Fit(controlPanel);
    right->Add(controlPanel, 0, wxEXPAND, 5);
    topSizer->Add(right, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();

    EventConnections& c = m_connections;
    c.connect(trackList, wxEVT_LEFT_DCLICK, &SourceDevicePanel::listCtrlLeftDoubleClick, this);
    c.connect(prev, wxEVT_BUTTON, &SourceDevicePanel::buttonPrev, this);
    c.connect(play, wxEVT_BUTTON, &SourceDevicePanel::buttonPlay, this);
    c.connect(stop, wxEVT_BUTTON, &SourceDevicePanel::buttonStop, this);
    c.connect(next, wxEVT_BUTTON, &SourceDevicePanel::buttonNext, this);
}

SourceDevicePanel::~SourceDevicePanel() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
