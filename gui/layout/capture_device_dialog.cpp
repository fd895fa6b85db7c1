#include "gui/layout/capture_device_dialog.h"

#include <wx/font.h>
#include <wx/sizer.h>

namespace frm {
namespace fb {

namespace {

const wchar_t* const kHelp =
    L"Справка:\n"
    L"Чтобы захватить системный звук, выберите устройство «PulseAudio Sound Server» и в регуляторе "
    L"громкости PulseAudio (вкладка «Запись») назначьте ему источник «Monitor of …».\n"
    L"Устройство, подключённое при открытом окне, появится в списке после повторного открытия окна.";

}  // namespace

CaptureDeviceDialog::CaptureDeviceDialog(wxWindow* parent, wxWindowID id, const wxString& title,
                                         const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style) {
    SetSizeHints(wxDefaultSize, wxDefaultSize);

    auto* topSizer = new wxBoxSizer(wxVERTICAL);
    topSizer->Add(0, 5, 0, wxEXPAND, 10);

    deviceLabel = new wxStaticText(this, wxID_ANY, L"Выберите устройство для захвата аудио сигнала");
    deviceLabel->Wrap(-1);
    topSizer->Add(deviceLabel, 0, wxALL, 5);

    device = new wxChoice(this, wxID_ANY);
    device->SetSelection(0);
    topSizer->Add(device, 0, wxEXPAND | wxALL, 5);

    helpText = new wxStaticText(this, wxID_ANY, kHelp);
    helpText->SetFont(wxFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT, wxFONTSTYLE_ITALIC,
                             wxFONTWEIGHT_NORMAL, false, wxEmptyString));
    // A GTK label, unlike the native text of other systems, never breaks a
    // line by itself: break the long lines at the width the dialog opens with.
    helpText->Wrap(GetClientSize().x - 10);
    topSizer->Add(helpText, 1, wxEXPAND | wxALL, 5);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(0, 0, 1, wxEXPAND, 5);
    buttonOk = new wxButton(this, wxID_OK, L"&Выбрать");
    buttonOk->SetDefault();
    buttonRow->Add(buttonOk, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    cancel = new wxButton(this, wxID_CANCEL, L"О&тмена");
    buttonRow->Add(cancel, 0, wxALIGN_BOTTOM | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    topSizer->Add(buttonRow, 0, wxEXPAND, 5);

    SetSizer(topSizer);
    Layout();
    Centre(wxBOTH);

    EventConnections& c = m_connections;
    c.connect(buttonOk, wxEVT_BUTTON, &CaptureDeviceDialog::buttonOkOnClick, this);
    c.connect(cancel, wxEVT_BUTTON, &CaptureDeviceDialog::cancelOnButtonClick, this);
}

CaptureDeviceDialog::~CaptureDeviceDialog() { m_connections.disconnectAll(); }

}  // namespace fb
}  // namespace frm
