#pragma once

#include <string>
#include <vector>

#include "gui/layout/capture_device_dialog.h"
#include "os/capture_devices.h"

namespace frm {

/// Lets the operator pick the audio capture device whose signal the
/// playlist plays ("adev://" + the device's name). The list is the capture
/// devices as they are when the dialog opens, shown by their descriptions;
/// "Выбрать" without a choice only shows a message. Built for one modal
/// showing; GUI thread only.
class CaptureDeviceDialog : public fb::CaptureDeviceDialog {
public:
    /// Lists the devices the system has now.
    explicit CaptureDeviceDialog(wxWindow* parent);
    CaptureDeviceDialog(wxWindow* parent, std::vector<os::AudioCaptureDevice> devices);

    /// The chosen device's name (its description), empty without a choice.
    std::wstring selectedName() const;

protected:
    void buttonOkOnClick(wxCommandEvent& event) override;
    void cancelOnButtonClick(wxCommandEvent& event) override;

private:
    const std::vector<os::AudioCaptureDevice> m_devices;
};

}  // namespace frm
