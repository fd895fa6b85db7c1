#pragma once

#include <functional>

#include <boost/shared_ptr.hpp>
#include <wx/panel.h>

namespace device {
class DeviceBase;
class DeviceCollection;
class TransferProtocol;
}  // namespace device

namespace frm {

class ItemDataMap;

/// The device property editor, for now an empty panel that answers the main
/// window's calls with no work. GUI thread only.
class PropertyDevicePanel : public wxPanel {
public:
    PropertyDevicePanel(wxWindow* parent, boost::shared_ptr<device::DeviceCollection> devices, ItemDataMap* registry,
                        boost::shared_ptr<device::TransferProtocol> transport, bool debugMode);
    /// `close` shows the zone page again; `apply` refreshes the current zone.
    void setCallbacks(std::function<void()> close, std::function<void()> apply);
    void imbueDevice(const boost::shared_ptr<device::DeviceBase>& device);
    void updateData();
    void refreshZonePage();
    /// Leaves the page shown before the content area switches away.
    void killFocus();
    void shutdown();
};

}  // namespace frm
