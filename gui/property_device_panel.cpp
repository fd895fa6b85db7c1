#include "gui/property_device_panel.h"

namespace frm {

PropertyDevicePanel::PropertyDevicePanel(wxWindow* parent, boost::shared_ptr<device::DeviceCollection>, ItemDataMap*,
                                         boost::shared_ptr<device::TransferProtocol>, bool)
    : wxPanel(parent) {}

void PropertyDevicePanel::setCallbacks(std::function<void()>, std::function<void()>) {}
void PropertyDevicePanel::imbueDevice(const boost::shared_ptr<device::DeviceBase>&) {}
void PropertyDevicePanel::updateData() {}
void PropertyDevicePanel::refreshZonePage() {}
void PropertyDevicePanel::killFocus() {}
void PropertyDevicePanel::shutdown() {}

}  // namespace frm
