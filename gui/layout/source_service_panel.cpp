#include "gui/layout/source_service_panel.h"

#include <wx/sizer.h>

namespace frm {
namespace fb {

namespace {

/// A player button as every page makes it: the empty image until the window
/// class sets the real one.
wxBitmapButton* playerButton(wxWindow* parent) {
    auto* button =
        new wxBitmapButton(parent, wxID_ANY, wxNullBitmap, wxDefaultPosition, wxDefaultSize, wxBU_AUTODRAW);
    button->SetBitmap(wxNullBitmap);
    return button;
}

}  // namespace

SourceServicePanel::SourceServicePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                       const wxSize& size, long style, const wxString& name_)
    : wxPanel(parent, id, pos, size, style, name_) {
    auto* topSizer = new wxBoxSizer(wxHORIZONTAL);
    messageTree = new wxTreeCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                 wxTR_HAS_BUTTONS | wxTR_NO_LINES | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT);
    topSizer->Add(messageTree, 1, wxEXPAND, 5);

    auto* side = new wxBoxSizer(wxVERTICAL);
    const wxString actions[] = {L"Создать группу", L"Добавить сообщение", L"Удалить выделенное"};
    action = new wxRadioBox(this, wxID_ANY, L"Действие", wxDefaultPosition, wxDefaultSize, 3, actions, 1,
                            wxRA_SPECIFY_COLS);
    action->SetSelection(0);
    side->Add(action, 0, wxEXPAND | wxALL, 5);

    namePanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* nameSizer = new wxBoxSizer(wxVERTICAL);
    nameLabel = new wxStaticText(namePanel, wxID_ANY, L"Название");
    nameLabel->Wrap(-1);
    nameSizer->Add(nameLabel, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    name = new wxTextCtrl(namePanel, wxID_ANY, wxEmptyString);
    name->SetMaxLength(50);
    nameSizer->Add(name, 0, wxEXPAND | wxALL, 5);
    namePanel->SetSizer(nameSizer);
    namePanel->Layout();
    nameSizer->Fit(namePanel);
    side->Add(namePanel, 0, wxEXPAND, 5);

    filePanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* fileSizer = new wxBoxSizer(wxVERTICAL);
    gongLabel = new wxStaticText(filePanel, wxID_ANY, L"Гонг");
    gongLabel->Wrap(-1);
    fileSizer->Add(gongLabel, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    gong = new wxChoice(filePanel, wxID_ANY);
    gong->SetSelection(0);
    fileSizer->Add(gong, 0, wxEXPAND | wxALL, 5);
    messageLabel = new wxStaticText(filePanel, wxID_ANY, L"Сообщение");
    messageLabel->Wrap(-1);
    fileSizer->Add(messageLabel, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    message = new wxChoice(filePanel, wxID_ANY);
    message->SetSelection(0);
    fileSizer->Add(message, 0, wxEXPAND | wxALL, 5);
    filePanel->SetSizer(fileSizer);
    filePanel->Layout();
    fileSizer->Fit(filePanel);
    side->Add(filePanel, 0, wxEXPAND, 5);

    execute = new wxButton(this, wxID_ANY, L"Создать группу");
    side->Add(execute, 0, wxALL, 5);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    play = playerButton(this);
    buttons->Add(play, 0, wxALIGN_CENTER_VERTICAL | wxTOP, 5);
    stop = playerButton(this);
    buttons->Add(stop, 0, wxALIGN_CENTER_VERTICAL | wxTOP, 5);
    side->Add(buttons, 0, wxEXPAND | wxLEFT, 5);

    side->Add(0, 0, 1, wxEXPAND, 5);
    status = new wxStaticText(this, wxID_ANY, wxEmptyString);
    status->Wrap(-1);
    side->Add(status, 0, wxALL, 5);
    topSizer->Add(side, 0, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();

    EventConnections& c = m_connections;
    c.connect(messageTree, wxEVT_TREE_SEL_CHANGING, &SourceServicePanel::onSelectMessage, this);
    c.connect(action, wxEVT_RADIOBOX, &SourceServicePanel::actionOnRadioBox, this);
    c.connect(execute, wxEVT_BUTTON, &SourceServicePanel::executeOnButtonClick, this);
    c.connect(play, wxEVT_BUTTON, &SourceServicePanel::playOnButtonClick, this);
    c.connect(stop, wxEVT_BUTTON, &SourceServicePanel::stopOnButtonClick, this);
}

SourceServicePanel::~SourceServicePanel() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
