#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/channel_host.h"
#include "audio/device_action.h"
#include "gui/zone_element.h"

class wxListCtrl;

namespace device {
class DeviceBase;
}

namespace frm {

class IconGrid;

/// What a row of the zone panel's device list carries as item data
/// (SetItemPtrData): the row's device and the zone through which the row
/// was added.
struct DeviceRowData {
    boost::shared_ptr<device::DeviceBase> device;
    ZoneElement::Ptr zone;
};

/// The main window's registry of the zone tree: every zone element and
/// every device filed in a zone gets an item id (depth-first from the root's
/// 0, never reused, kept while the registry lives), through which the
/// selection of the device list and of the zone toggles becomes a set of
/// devices.
///
/// Threads: the GUI thread is the one that built the registry; only it
/// walks the zone tree and reads the list control. The registry lock
/// (recursive) guards the entries and is taken by every lookup, from any
/// thread. Elements get ids on the GUI thread (registerElement, lookups with
/// refresh); off it the refresh flag is ignored and the walks below a zone
/// follow the snapshot. The snapshot (its own mutex, taken last and only to
/// swap or copy a pointer) is what refreshSnapshot() found on the GUI
/// thread: the selected rows' ids and devices, the selected zones' devices,
/// every loudspeaker under the root and the shape of every registered zone;
/// off the GUI thread the selection operations and the three
/// DeviceSelection calls read only that. Lock order: the GUI lock
/// (GuiLocker), then the registry lock. Owned by the main window.
class ItemDataMap : public DeviceSelection {
public:
    typedef std::uint32_t ItemId;
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;
    typedef std::set<DevicePtr> DevicePtrSet;
    typedef IAction<DevicePtr, device::DeviceBase> DeviceAction;
    static constexpr ItemId kNone = 0xFFFFFFFF;

    /// On the GUI thread; registers the root (id 0) and takes the first
    /// snapshot. `deviceList` may be null (no rows); its rows may also be
    /// those of a list control.
    ItemDataMap(IconGrid* deviceList, ZoneElement::Ptr root);
    ItemDataMap(wxListCtrl* deviceList, ZoneElement::Ptr root);
    ItemDataMap(std::nullptr_t, ZoneElement::Ptr root)
        : ItemDataMap(static_cast<IconGrid*>(nullptr), std::move(root)) {}

    /// The zone, its devices, then its sub-zones, each subtree complete
    /// before the next; elements already known keep their ids. GUI thread.
    void registerElement(const ZoneElement::Ptr& zone);
    /// With `refresh` (GUI thread), elements new in the tree get ids first.
    ItemId findDevice(bool refresh, const DevicePtr& device);
    ItemId findZoneElement(const ZoneElement::Ptr& zone, bool refresh);
    /// Null for an id never given (WARN) or one naming a zone (silently).
    DevicePtr getDevice(ItemId id);
    /// Null for an id never given (WARN) or one naming a device (silently).
    ZoneElement::Ptr getZoneElement(ItemId id);
    /// The id names a device.
    bool contains(ItemId id);
    /// Below the zone, for each child: its id, its devices' ids, then the
    /// same below it. The zone's own devices are not included.
    std::vector<ItemId> findZoneItems(ItemId zone);
    /// The ids of the selected rows' devices, in row order.
    std::vector<ItemId> selectedItems();
    DevicePtrSet selectedDevices();
    /// Every device below the zone's id (its own devices not included).
    DevicePtrSet zoneDevices(ItemId zone);
    /// zoneDevices of each selected item.
    DevicePtrSet selectedZoneDevices();
    DevicePtrSet collectSelectedDevices();
    DevicePtrSet mapSelectedDevices(DeviceAction& action);
    DevicePtrSet applyActionToDeviceSet(const DevicePtrSet& devices, DeviceAction& action);
    /// How often the device turns up in the walk below the zone, the walk
    /// repeated below every sub-zone it meets (0 exactly when the device is
    /// in no zone below it). One pass over the tree.
    unsigned countDeviceItems(const DevicePtr& device, ItemId zone);

    /// GUI thread, before the device list is destroyed: the registry reads
    /// no rows from then on (the channels may still hold it).
    void detachList();

    /// GUI thread: takes a new snapshot after a change of the selection, of
    /// the rows or of the zone tree.
    void refreshSnapshot();

    // DeviceSelection: loudspeakers only.
    DeviceSet getSelectedDevices() override;
    DeviceSet getDevicesOfSelectedZones() override;
    DeviceSet getDevicesOfZones() override;

private:
    /// One value of the map: a device or a zone.
    struct Entry {
        DevicePtr device;
        ZoneElement::Ptr zone;
    };
    /// A zone as the walks below it see it: its sub-zones' ids and its own
    /// devices' ids, elements without an id left out.
    struct Shape {
        std::vector<ItemId> zones;
        std::vector<ItemId> devices;
    };
    struct Snapshot {
        std::vector<ItemId> selectedItems;
        DevicePtrSet selectedDevices;
        DevicePtrSet selectedZoneDevices;
        DeviceSet loudspeakers;
        std::unordered_map<ItemId, Shape> shapes;
    };
    /// Where the walks below a zone read its shape: the tree itself on the
    /// GUI thread, a snapshot elsewhere.
    class ShapeSource;

    bool onGuiThread() const { return std::this_thread::get_id() == m_guiThread; }
    std::shared_ptr<const Snapshot> snapshot() const;
    /// Refresh from the root when `refresh` is set and this is the GUI thread.
    void refreshIfAsked(bool refresh);
    ItemId add(const Entry& entry);
    void collectZoneItems(ItemId zone, const ShapeSource& shapes, std::vector<ItemId>& out);
    void collectDevices(ItemId zone, const ShapeSource& shapes, DevicePtrSet& out);
    /// The checks findZoneItems starts with: false for a device's id or an
    /// id of no zone (WARN).
    bool isZoneItem(ItemId zone);
    std::vector<ItemId> readSelectedItems();
    DevicePtrSet devicesOf(const std::vector<ItemId>& ids);
    DevicePtrSet zoneDevicesOf(const std::vector<ItemId>& ids, const ShapeSource& shapes);
    static DeviceSet loudspeakersOf(const DevicePtrSet& devices);

    // The rows, in one or the other (under m_lock; null once the list is gone).
    IconGrid* m_deviceList = nullptr;
    wxListCtrl* m_listControl = nullptr;
    const ZoneElement::Ptr m_root;
    const std::thread::id m_guiThread;

    boost::recursive_mutex m_lock;  // the registry lock: everything below but the snapshot
    std::vector<Entry> m_items;     // by id: ids are dense and never removed
    std::unordered_map<const device::DeviceBase*, ItemId> m_deviceIds;
    std::unordered_map<const ZoneElement*, ItemId> m_zoneIds;

    mutable std::mutex m_snapshotLock;
    std::shared_ptr<const Snapshot> m_snapshot;
};

}  // namespace frm
