#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "audio/channel_host.h"
#include "audio/device_action.h"
#include "gui/zone_element.h"

class wxListCtrl;

namespace device {
class DeviceBase;
}

namespace frm {

/// What a row of the zone panel's device list carries as item data.
struct DeviceRowData {
    boost::shared_ptr<device::DeviceBase> device;
};

/// The main window's registry of the zone tree: every zone element and
/// every device filed in a zone gets an item id (depth-first from the root's
/// 0, never reused, kept while the registry lives), through which the
/// selection of the device list and of the zone toggles becomes a set of
/// devices.
///
/// Threads: the lookups take the registry's own (recursive) lock and may be
/// called from any thread; the tree and the list control are read on the GUI
/// thread only. Off the GUI thread the selection operations and the three
/// DeviceSelection calls read the snapshot that refreshSnapshot() (GUI
/// thread) keeps: the selected rows' devices, the selected zones' devices and
/// every loudspeaker under the root. Owned by the main window.
class ItemDataMap : public DeviceSelection {
public:
    typedef std::uint32_t ItemId;
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;
    typedef std::set<DevicePtr> DevicePtrSet;
    static constexpr ItemId kNone = 0xFFFFFFFF;

    ItemDataMap(wxListCtrl* deviceList, ZoneElement::Ptr root);

    void registerElement(const ZoneElement::Ptr& zone);
    ItemId findDevice(bool refresh, const DevicePtr& device);
    ItemId findZoneElement(const ZoneElement::Ptr& zone, bool refresh);
    DevicePtr getDevice(ItemId id);
    ZoneElement::Ptr getZoneElement(ItemId id);
    bool contains(ItemId id);
    std::vector<ItemId> findZoneItems(ItemId zone);
    std::vector<ItemId> selectedItems();
    DevicePtrSet selectedDevices();
    DevicePtrSet zoneDevices(ItemId zone);
    DevicePtrSet selectedZoneDevices();
    DevicePtrSet collectSelectedDevices();
    DevicePtrSet mapSelectedDevices(IAction<DevicePtr, device::DeviceBase>& action);
    DevicePtrSet applyActionToDeviceSet(const DevicePtrSet& devices, IAction<DevicePtr, device::DeviceBase>& action);
    unsigned countDeviceItems(const DevicePtr& device, ItemId zone);

    /// GUI thread: takes a new snapshot after a change of the selection, of
    /// the rows or of the zone tree.
    void refreshSnapshot();

    // DeviceSelection: loudspeakers only.
    DeviceSet getSelectedDevices() override;
    DeviceSet getDevicesOfSelectedZones() override;
    DeviceSet getDevicesOfZones() override;
};

}  // namespace frm
