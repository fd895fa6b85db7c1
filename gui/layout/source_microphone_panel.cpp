#include "gui/layout/source_microphone_panel.h"

#include <wx/sizer.h>
#include <wx/statbox.h>

namespace frm {
namespace fb {

SourceMicrophonePanel::SourceMicrophonePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                             const wxSize& size, long style, const wxString& name)
    : wxPanel(parent, id, pos, size, style, name) {
    SetMinSize(wxSize(600, 300));
    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    listCtrlRecord = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_LIST);
    topSizer->Add(listCtrlRecord, 1, wxEXPAND, 5);

    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    controlPanel = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* controls = new wxBoxSizer(wxHORIZONTAL);

    const wxString sources[] = {L"Микрофон", L"Список"};
    radioBoxRecordSource = new wxRadioBox(controlPanel, wxID_ANY, L"Источник", wxDefaultPosition,
                                          wxDefaultSize, 2, sources, 1, wxRA_SPECIFY_COLS);
    radioBoxRecordSource->SetSelection(0);
    controls->Add(radioBoxRecordSource, 0, wxALL, 5);

    auto* transfer = new wxStaticBoxSizer(wxVERTICAL, controlPanel, L"Способ передачи");
    wxStaticBox* transferBox = transfer->GetStaticBox();
    checkBoxBroadcast = new wxCheckBox(transferBox, wxID_ANY, L"Трансляция");
    transfer->Add(checkBoxBroadcast, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    auto* recordRow = new wxBoxSizer(wxHORIZONTAL);
    checkBoxRecord = new wxCheckBox(transferBox, wxID_ANY, L"Запись");
    recordRow->Add(checkBoxRecord, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    recordRow->Add(20, 0, 0, wxEXPAND, 5);
    recordName = new wxTextCtrl(transferBox, wxID_ANY, L"Название");
    recordName->SetMaxLength(60);
    recordName->Disable();
    recordRow->Add(recordName, 1, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);
    buttonRecordSave = new wxButton(transferBox, wxID_ANY, L"Сохранить");
    buttonRecordSave->Disable();
    recordRow->Add(buttonRecordSave, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);
    transfer->Add(recordRow, 0, 0, 5);
    controls->Add(transfer, 0, wxALL, 5);

    auto* gongSizer = new wxStaticBoxSizer(wxVERTICAL, controlPanel, L"Гонг");
    wxStaticBox* gongBox = gongSizer->GetStaticBox();
    gongEnable = new wxCheckBox(gongBox, wxID_ANY, L"Включить");
    gongSizer->Add(gongEnable, 0, wxLEFT | wxRIGHT, 5);
    auto* gongRow = new wxBoxSizer(wxHORIZONTAL);
    gong = new wxChoice(gongBox, wxID_ANY);
    gong->SetSelection(wxNOT_FOUND);
    gongRow->Add(gong, 0, wxALL, 5);
    gongSizer->Add(gongRow, 1, wxEXPAND, 5);
    controls->Add(gongSizer, 1, wxEXPAND | wxALL, 5);

    controlPanel->SetSizer(controls);
    controlPanel->Layout();
    controls->Fit(controlPanel);
    bottom->Add(controlPanel, 0, 0, 5);

    buttonStartAndStop = new wxButton(this, wxID_ANY, L"Старт", wxDefaultPosition, wxSize(-1, 60));
    bottom->Add(buttonStartAndStop, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    bottom->Add(0, 0, 1, wxEXPAND, 5);
    deleteRecord = new wxButton(this, wxID_ANY, L"Удалить");
    deleteRecord->Disable();
    bottom->Add(deleteRecord, 0, wxALIGN_BOTTOM | wxALL, 8);
    topSizer->Add(bottom, 0, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();

    EventConnections& c = m_connections;
    c.connect(listCtrlRecord, wxEVT_KEY_UP, &SourceMicrophonePanel::listCtrlRecordKeyUp, this);
    c.connect(listCtrlRecord, wxEVT_LIST_ITEM_DESELECTED,
              &SourceMicrophonePanel::listCtrlRecordOnListItemDeselected, this);
    c.connect(listCtrlRecord, wxEVT_LIST_ITEM_SELECTED,
              &SourceMicrophonePanel::listCtrlRecordOnListItemSelected, this);
    c.connect(radioBoxRecordSource, wxEVT_RADIOBOX, &SourceMicrophonePanel::radioBoxRecordSourceOnRadioBox,
              this);
    c.connect(checkBoxBroadcast, wxEVT_CHECKBOX, &SourceMicrophonePanel::checkBoxBroadcastOnCheckBox, this);
    c.connect(checkBoxRecord, wxEVT_CHECKBOX, &SourceMicrophonePanel::checkBoxRecordOnCheckBox, this);
    c.connect(buttonRecordSave, wxEVT_BUTTON, &SourceMicrophonePanel::buttonRecordSaveOnClick, this);
    c.connect(gongEnable, wxEVT_CHECKBOX, &SourceMicrophonePanel::gongOnChoice, this);
    c.connect(buttonStartAndStop, wxEVT_BUTTON, &SourceMicrophonePanel::buttonStartAndStopOnButtonClick,
              this);
    c.connect(deleteRecord, wxEVT_BUTTON, &SourceMicrophonePanel::deleteOnButtonClick, this);
}

SourceMicrophonePanel::~SourceMicrophonePanel() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
