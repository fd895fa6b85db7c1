#include "gui/layout/lock_dialog.h"

#include <wx/font.h>
#include <wx/sizer.h>

namespace frm {
namespace fb {

LockDialog::LockDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                       const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxDefaultSize, wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    topSizer->Add(0, 50, 0, wxEXPAND, 5);

    prompt = new wxStaticText(this, wxID_ANY, L"Введите пароль для разблокировки");
    prompt->Wrap(-1);
    prompt->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL,
                           wxFONTWEIGHT_BOLD, false, wxEmptyString));
    topSizer->Add(prompt, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 10);

    password = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
    topSizer->Add(password, 0, wxEXPAND | wxALL, 5);

    unlock = new wxButton(this, wxID_ANY, L"Разблокировать");
    unlock->SetDefault();
    topSizer->Add(unlock, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 10);

    message = new wxStaticText(this, wxID_ANY, wxEmptyString);
    message->Wrap(-1);
    message->SetForegroundColour(wxColour(255, 0, 0));
    topSizer->Add(message, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(this, wxEVT_CLOSE_WINDOW, &LockDialog::OnClose, this);
    c.connect(unlock, wxEVT_BUTTON, &LockDialog::unlockOnButtonClick, this);
}

LockDialog::~LockDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
