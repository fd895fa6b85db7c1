#include "gui/layout/notice_window.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

NoticeWindow::NoticeWindow(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                           const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    // Small enough to fit below a dialog that leaves little of the screen.
    SetSizeHints(wxSize(360, 140), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    messages = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxTE_MULTILINE | wxTE_READONLY | wxTE_WORDWRAP);
    topSizer->Add(messages, 1, wxEXPAND | wxALL, 8);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, 5);
    ok = new wxButton(this, wxID_OK, L"OK");
    ok->SetDefault();
    buttonRow->Add(ok, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
    topSizer->Add(buttonRow, 0, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(ok, wxEVT_BUTTON, &NoticeWindow::okOnButtonClick, this);
    c.connect(this, wxEVT_CLOSE_WINDOW, &NoticeWindow::onClose, this);
}

NoticeWindow::~NoticeWindow() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
