#include "gui/layout/cmd_suite_dialog.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

CmdSuiteDialog::CmdSuiteDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                               const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxDefaultSize, wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    topSizer->Add(0, 0, 0, wxEXPAND | wxTOP, 10);

    name = new wxComboBox(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0);
    topSizer->Add(name, 0, wxEXPAND | wxALL, 5);

    auto* grid = new wxGridSizer(0, 4, 0, 0);
    clear = new wxButton(this, wxID_ANY, L"Очистить");
    deleteButton = new wxButton(this, wxID_ANY, L"Удалить");
    apply = new wxButton(this, wxID_ANY, L"Загрузить");
    save = new wxButton(this, wxID_ANY, L"Сохранить");
    for (wxButton* button : {clear, deleteButton, apply, save})
        grid->Add(button, 0, wxALL | wxALIGN_BOTTOM, 5);
    topSizer->Add(grid, 1, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(clear, wxEVT_BUTTON, &CmdSuiteDialog::clearOnButtonClick, this);
    c.connect(deleteButton, wxEVT_BUTTON, &CmdSuiteDialog::deleteOnButtonClick, this);
    c.connect(apply, wxEVT_BUTTON, &CmdSuiteDialog::applyOnButtonClick, this);
    c.connect(save, wxEVT_BUTTON, &CmdSuiteDialog::saveOnButtonClick, this);
}

CmdSuiteDialog::~CmdSuiteDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
