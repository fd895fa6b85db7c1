#include "gui/layout/scenario_dialog.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

ScenarioDialog::ScenarioDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                               const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(300, 200), wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    auto* grid = new wxFlexGridSizer(0, 2, 0, 0);
    grid->AddGrowableCol(1);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    const wxSize fieldSize(200, -1);
    const auto addLabel = [this, grid](const wchar_t* text) {
        auto* label = new wxStaticText(this, wxID_ANY, text);
        label->Wrap(-1);
        grid->Add(label, 0, wxALL | wxALIGN_CENTER_VERTICAL, 10);
        return label;
    };
    const auto addField = [grid](wxWindow* field) {
        grid->Add(field, 0, wxEXPAND | wxALL | wxALIGN_CENTER_VERTICAL, 5);
    };

    nameLabel = addLabel(L"Название");
    name = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, fieldSize);
    name->SetMaxLength(80);
    addField(name);

    gongLabel = addLabel(L"Гонг");
    gong = new wxChoice(this, wxID_ANY, wxDefaultPosition, fieldSize);
    gong->SetSelection(-1);
    addField(gong);

    fragmentLabel = addLabel(L"Фрагмент");
    fragment = new wxChoice(this, wxID_ANY, wxDefaultPosition, fieldSize);
    fragment->SetSelection(-1);
    addField(fragment);

    repeatLabel = addLabel(L"Повторять каждые (сек)");
    repeat = new NumberSpin(this, wxID_ANY, wxEmptyString, wxDefaultPosition, fieldSize, wxSP_ARROW_KEYS, 0,
                            65535, 0);
    addField(repeat);
    topSizer->Add(grid, 1, wxEXPAND, 5);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, 5);
    save = new wxButton(this, wxID_ANY, L"&Сохранить");
    save->SetDefault();
    buttonRow->Add(save, 0, wxALL | wxALIGN_BOTTOM, 5);
    cancel = new wxButton(this, wxID_ANY, L"&Отмена");
    buttonRow->Add(cancel, 0, wxALL | wxALIGN_BOTTOM, 5);
    topSizer->Add(buttonRow, 0, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(fragment, wxEVT_CHOICE, &ScenarioDialog::fragmentOnChoice, this);
    c.connect(save, wxEVT_BUTTON, &ScenarioDialog::saveOnButtonClick, this);
    c.connect(cancel, wxEVT_BUTTON, &ScenarioDialog::cancelOnButtonClick, this);
}

ScenarioDialog::~ScenarioDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
