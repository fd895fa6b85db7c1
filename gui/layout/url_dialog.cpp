#include "gui/layout/url_dialog.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

UrlDialog::UrlDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                     const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(390, 140), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    formatsLabel = new wxStaticText(this, wxID_ANY, L"Поддерживаются форматы mp3, ogg, aac, wma");
    formatsLabel->Wrap(-1);
    topSizer->Add(formatsLabel, 0, wxALL | wxEXPAND, 10);

    auto* grid = new wxFlexGridSizer(0, 2, 0, 0);
    grid->AddGrowableCol(1);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    nameLabel = new wxStaticText(this, wxID_ANY, L"Название");
    nameLabel->Wrap(-1);
    grid->Add(nameLabel, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    name = new wxTextCtrl(this, wxID_ANY, wxEmptyString);
    name->SetMaxLength(100);
    name->SetMinSize(wxSize(300, -1));
    grid->Add(name, 1, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);

    urlLabel = new wxStaticText(this, wxID_ANY, L"URL:");
    urlLabel->Wrap(-1);
    grid->Add(urlLabel, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    url = new wxComboBox(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0);
    url->SetMinSize(wxSize(300, -1));
    grid->Add(url, 1, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);
    topSizer->Add(grid, 1, wxEXPAND, 5);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, 5);
    ok = new wxButton(this, wxID_OK, L"&Сохранить");
    ok->SetDefault();
    buttonRow->Add(ok, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 5);
    cancel = new wxButton(this, wxID_CANCEL, L"О&тмена");
    buttonRow->Add(cancel, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 5);
    topSizer->Add(buttonRow, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(ok, wxEVT_BUTTON, &UrlDialog::okOnButtonClick, this);
    c.connect(cancel, wxEVT_BUTTON, &UrlDialog::cancelOnButtonClick, this);
}

UrlDialog::~UrlDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
