#include "gui/layout/fragment_dialog.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

FragmentDialog::FragmentDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                               const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(390, 180), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    auto* grid = new wxFlexGridSizer(0, 3, 0, 0);
    grid->AddGrowableCol(1);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    nameLabel = new wxStaticText(this, wxID_ANY, L"Название: ");
    nameLabel->Wrap(-1);
    grid->Add(nameLabel, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    name = new wxTextCtrl(this, wxID_ANY, wxEmptyString);
    name->SetMaxLength(80);
    grid->Add(name, 1, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);
    grid->Add(0, 0, 1, wxEXPAND, 5);

    filePathLabel = new wxStaticText(this, wxID_ANY, L"Аудио файл:");
    filePathLabel->Wrap(-1);
    grid->Add(filePathLabel, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    filePath = new wxTextCtrl(this, wxID_ANY, wxEmptyString);
    grid->Add(filePath, 1, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);
    // 30 wide without the theme's inner padding and as high as the toolkit
    // makes it: a GTK button of 30 x 20 pixels shows nothing of its label.
    file = new wxButton(this, wxID_ANY, L"...", wxDefaultPosition, wxSize(30, -1), wxBU_EXACTFIT);
    grid->Add(file, 0, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);
    topSizer->Add(grid, 1, wxEXPAND, 5);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, 5);
    save = new wxButton(this, wxID_OK, L"&Сохранить");
    save->SetDefault();
    buttonRow->Add(save, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    cancel = new wxButton(this, wxID_CANCEL, L"О&тмена");
    buttonRow->Add(cancel, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    topSizer->Add(buttonRow, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(file, wxEVT_BUTTON, &FragmentDialog::fileOnButtonClick, this);
    c.connect(save, wxEVT_BUTTON, &FragmentDialog::saveOnButtonClick, this);
    c.connect(cancel, wxEVT_BUTTON, &FragmentDialog::cancelOnButtonClick, this);
}

FragmentDialog::~FragmentDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
