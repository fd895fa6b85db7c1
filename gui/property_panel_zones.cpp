// The broadcast-zone and linked-console pages, the line-control page and the
// passkeys page.

#include "gui/property_device_panel.h"

#include "base/log.h"

namespace frm {

void PropertyDevicePanel::fillPasskeyPage() {}
void PropertyDevicePanel::fillZoneTargets() {}
void PropertyDevicePanel::fillLinkedConsoles() {}
void PropertyDevicePanel::onCheckBoxPowerSave(wxCommandEvent&) {}
void PropertyDevicePanel::rebootMasterOfTipDevices(wxCommandEvent&) {}
void PropertyDevicePanel::addAllTipDevices_onButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::resetPrefOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::addOrRemoveTipDeviceOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::accessControlOnToggle(wxCommandEvent&) {}
void PropertyDevicePanel::addPasskeyOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::resetPasskeysOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::deletePasskeyOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::toggleZoneButton(wxCommandEvent&) {}
void PropertyDevicePanel::removeZoneOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::resetZonesOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::fixZoneIntegrityOnButtonClick(wxCommandEvent&) {}

void PropertyDevicePanel::refreshTipDevices() {}
void PropertyDevicePanel::refreshPasskeys() {}
bool PropertyDevicePanel::applyLineControlPage() { return true; }
std::optional<bool> PropertyDevicePanel::applyZonePage() { return true; }

}  // namespace frm
