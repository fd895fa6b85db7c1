// The debug page: periodic requests, replies, the console log, the volume;
// the direct request and the command rows with their suites.

#include <wx/dcclient.h>

#include "base/log.h"
#include "gui/property_device_panel.h"

namespace frm {

void PropertyDevicePanel::onSize(wxSizeEvent& event) { event.Skip(); }
void PropertyDevicePanel::toConsoleLog(const std::string&) {}
void PropertyDevicePanel::addDebugMessage(const std::string&, bool, int) {}
void PropertyDevicePanel::copyDebugOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::refreshRateOnChoice(wxCommandEvent&) {}
// The drawing area paints its whole surface itself.
void PropertyDevicePanel::eraseTextOnPanel(wxEraseEvent&) {}
void PropertyDevicePanel::paintTextOnPanel(wxPaintEvent&) { wxPaintDC dc(staticDebugText); }
void PropertyDevicePanel::stopDebugOnToggle(wxCommandEvent&) {}
void PropertyDevicePanel::clearDebugOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::setVolumeOnScrollChanged(wxScrollEvent&) {}
void PropertyDevicePanel::exchangeCommandsOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::manageCommandSuiteOnButtonClick(wxCommandEvent&) {}
void PropertyDevicePanel::textDebugExchangeOnPress(wxCommandEvent&) {}
void PropertyDevicePanel::buttonDebugExchangeOnClick(wxCommandEvent&) {}

void PropertyDevicePanel::startRequestingDebugMessages() {}
void PropertyDevicePanel::initVolumeSlider() {}

}  // namespace frm
