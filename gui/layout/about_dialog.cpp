#include "gui/layout/about_dialog.h"

#include <wx/settings.h>

namespace frm {
namespace fb {

AboutDialog::AboutDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                         const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(200, 200), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    topSizer->SetMinSize(wxSize(150, 150));

    panel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* panelSizer = new wxBoxSizer(wxVERTICAL);

    text = new wxTextCtrl(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                          wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH | wxTE_AUTO_URL | wxBORDER_NONE);
    text->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    panelSizer->Add(text, 1, wxEXPAND | wxALL, 5);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    help = new wxButton(panel, wxID_ANY, L"Справка");
    buttonRow->Add(help, 1, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);
    checkUpdate = new wxButton(panel, wxID_ANY, L"Проверить обновления");
    checkUpdate->Hide();
    buttonRow->Add(checkUpdate, 1, wxLEFT | wxRIGHT, 5);
    buttonSizer = new wxStdDialogButtonSizer();
    buttonSizerOk = new wxButton(panel, wxID_OK);
    buttonSizer->AddButton(buttonSizerOk);
    buttonSizer->Realize();
    buttonRow->Add(buttonSizer, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_CENTER_HORIZONTAL | wxLEFT | wxRIGHT, 5);
    panelSizer->Add(buttonRow, 0, wxEXPAND, 5);

    panel->SetSizer(panelSizer);
    panel->Layout();
    panelSizer->Fit(panel);
    topSizer->Add(panel, 1, wxEXPAND | wxALL, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(text, wxEVT_LEFT_UP, &AboutDialog::textOnLeftUp, this);
    c.connect(text, wxEVT_TEXT_URL, &AboutDialog::textOnTextUrl, this);
    c.connect(help, wxEVT_BUTTON, &AboutDialog::helpOnButtonClick, this);
    c.connect(checkUpdate, wxEVT_BUTTON, &AboutDialog::checkUpdateOnButtonClick, this);
}

AboutDialog::~AboutDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
