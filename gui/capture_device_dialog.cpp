#include "gui/capture_device_dialog.h"

#include "base/log.h"
#include "gui/end_dialog.h"
#include "gui/gui_thread.h"
#include "gui/ui.h"

namespace frm {

CaptureDeviceDialog::CaptureDeviceDialog(wxWindow* parent)
    : CaptureDeviceDialog(parent, os::getAudioCaptureDeviceList()) {}

CaptureDeviceDialog::CaptureDeviceDialog(wxWindow* parent, std::vector<os::AudioCaptureDevice> devices)
    : fb::CaptureDeviceDialog(parent, wxID_ANY, L"Выбор устройства захвата", wxDefaultPosition,
                              wxSize(524, 485), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_devices(std::move(devices)) {
    for (const os::AudioCaptureDevice& captureDevice : m_devices) device->Append(captureDevice.name);
}

std::wstring CaptureDeviceDialog::selectedName() const {
    FRM_ASSERT_GUI_THREAD();
    const int chosen = device->GetSelection();
    if (chosen == wxNOT_FOUND || static_cast<std::size_t>(chosen) >= m_devices.size()) return {};
    return m_devices[static_cast<std::size_t>(chosen)].name;
}

void CaptureDeviceDialog::buttonOkOnClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CaptureDeviceDialog::buttonOkOnClick");
    if (device->GetSelection() != wxNOT_FOUND) {
        endDialog(*this, wxID_OK);
        return;
    }
    ui::messageBox(L"Нобходимо выбрать устройство для захвата аудио сигнала", L"Внимание",
                   wxOK | wxICON_INFORMATION);
}

void CaptureDeviceDialog::cancelOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::CaptureDeviceDialog::cancelOnButtonClick");
    endDialog(*this, wxID_CANCEL);
}

}  // namespace frm
