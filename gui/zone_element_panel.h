#pragma once

#include <functional>

#include <boost/shared_ptr.hpp>
#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/panel.h>

#include "gui/zone_element.h"

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

namespace frm {

class ItemDataMap;

/// The zone and device page of the main window, for now without its page:
/// it holds the controls the main window reads (the device list, empty here,
/// and the four buttons whose work the main window supplies) and answers the
/// main window's calls with no work. Its layout and its rows come later.
///
/// GUI thread only.
class ZoneElementPanel : public wxPanel {
public:
    using ButtonCallback = std::function<void(wxCommandEvent&)>;
    using DeviceUseTest = std::function<bool(const boost::shared_ptr<device::DeviceBase>&)>;

    ZoneElementPanel(wxWindow* parent, ZoneElement::Ptr root, boost::shared_ptr<device::DeviceCollection> devices);

    void enableAdministratorMode(bool on);
    /// Rebuilds the rows of the chosen zones, keeping the selection.
    void updateCurrentZone();
    void refreshList();
    /// The row of one device, or of all with none.
    void refreshDevices(const boost::shared_ptr<device::DeviceBase>& device = {});
    void setItemDataMap(ItemDataMap* registry);
    void setIsUsedDevice(DeviceUseTest test);

    wxListCtrl* deviceList;
    wxButton* lockInterface;
    wxButton* generalProperty;
    wxButton* deviceProperty;
    wxButton* lockAdmin;

    /// Set by the main window; a button without one logs a WARN.
    ButtonCallback lockInterfaceCallback;
    ButtonCallback generalPropertyCallback;
    ButtonCallback devicePropertyCallback;
    ButtonCallback lockAdminCallback;

private:
    void onButton(wxCommandEvent& event, const ButtonCallback& callback, const wchar_t* missing);
};

}  // namespace frm
