#include "gui/item_data_map.h"

#include <algorithm>
#include <climits>
#include <functional>

#include <boost/thread/locks.hpp>

#include "base/log.h"
#include "base/wx/gui_guards.h"
#include "device/device_base.h"
#include "device/models/orvel_info.h"
#include "gui/layout/icon_grid.h"

#include <wx/listctrl.h>

namespace frm {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> RegistryLock;

unsigned saturatingAdd(unsigned a, unsigned b) { return a > UINT_MAX - b ? UINT_MAX : a + b; }

}  // namespace

class ItemDataMap::ShapeSource {
public:
    /// `snapshot` null: the live tree (GUI thread, registry lock held).
    ShapeSource(const ItemDataMap& map, const Snapshot* snapshot) : m_map(map), m_snapshot(snapshot) {}

    /// The zone's shape, or null when it is unknown; `scratch` holds a
    /// shape read from the tree.
    const Shape* shapeOf(ItemId zone, Shape& scratch) const {
        if (m_snapshot != nullptr) {
            const auto found = m_snapshot->shapes.find(zone);
            return found == m_snapshot->shapes.end() ? nullptr : &found->second;
        }
        if (zone >= m_map.m_items.size() || !m_map.m_items[zone].zone) return nullptr;
        const ZoneElement& element = *m_map.m_items[zone].zone;
        scratch.zones.clear();
        scratch.devices.clear();
        for (const ZoneElement::Ptr& child : element.getZones()) {
            const auto id = m_map.m_zoneIds.find(child.get());
            if (id != m_map.m_zoneIds.end()) scratch.zones.push_back(id->second);
        }
        for (const DevicePtr& device : element.getDevices()) {
            const auto id = m_map.m_deviceIds.find(device.get());
            if (id != m_map.m_deviceIds.end()) scratch.devices.push_back(id->second);
        }
        return &scratch;
    }

private:
    const ItemDataMap& m_map;
    const Snapshot* const m_snapshot;
};

ItemDataMap::ItemDataMap(IconGrid* deviceList, ZoneElement::Ptr root)
    : m_deviceList(deviceList),
      m_root(std::move(root)),
      m_guiThread(std::this_thread::get_id()),
      m_snapshot(std::make_shared<Snapshot>()) {
    registerElement(m_root);
    refreshSnapshot();
}

ItemDataMap::ItemDataMap(wxListCtrl* deviceList, ZoneElement::Ptr root)
    : m_listControl(deviceList),
      m_root(std::move(root)),
      m_guiThread(std::this_thread::get_id()),
      m_snapshot(std::make_shared<Snapshot>()) {
    registerElement(m_root);
    refreshSnapshot();
}

// ---- registration and lookups ----------------------------------------------------------------

void ItemDataMap::registerElement(const ZoneElement::Ptr& zone) {
    if (!zone) return;
    if (!onGuiThread()) {
        LOG_ERROR(L"Internal error. The zone tree is read off the GUI thread");
        return;
    }
    RegistryLock lock(m_lock);
    if (m_zoneIds.find(zone.get()) == m_zoneIds.end()) add(Entry{DevicePtr(), zone});
    for (const DevicePtr& device : zone->getDevices())
        if (device && m_deviceIds.find(device.get()) == m_deviceIds.end())
            add(Entry{device, ZoneElement::Ptr()});
    for (const ZoneElement::Ptr& child : zone->getZones()) registerElement(child);
}

ItemDataMap::ItemId ItemDataMap::add(const Entry& entry) {
    const auto id = static_cast<ItemId>(m_items.size());
    if (id == kNone) return kNone;  // every id given: nothing more gets one
    m_items.push_back(entry);
    if (entry.device)
        m_deviceIds.emplace(entry.device.get(), id);
    else
        m_zoneIds.emplace(entry.zone.get(), id);
    return id;
}

void ItemDataMap::refreshIfAsked(bool refresh) {
    if (refresh && onGuiThread()) registerElement(m_root);
}

ItemDataMap::ItemId ItemDataMap::findDevice(bool refresh, const DevicePtr& device) {
    RegistryLock lock(m_lock);
    refreshIfAsked(refresh);
    const auto found = m_deviceIds.find(device.get());
    return found == m_deviceIds.end() ? kNone : found->second;
}

ItemDataMap::ItemId ItemDataMap::findZoneElement(const ZoneElement::Ptr& zone, bool refresh) {
    RegistryLock lock(m_lock);
    refreshIfAsked(refresh);
    const auto found = m_zoneIds.find(zone.get());
    return found == m_zoneIds.end() ? kNone : found->second;
}

ItemDataMap::DevicePtr ItemDataMap::getDevice(ItemId id) {
    RegistryLock lock(m_lock);
    if (id >= m_items.size()) {
        LOG_WARN(L"Internal error. Data with item '%1%' not found.", id);
        return DevicePtr();
    }
    return m_items[id].device;
}

ZoneElement::Ptr ItemDataMap::getZoneElement(ItemId id) {
    RegistryLock lock(m_lock);
    if (id >= m_items.size()) {
        LOG_WARN(L"Internal error. Data with item '%1%' not found.", id);
        return ZoneElement::Ptr();
    }
    return m_items[id].zone;
}

bool ItemDataMap::contains(ItemId id) { return static_cast<bool>(getDevice(id)); }

// ---- walks below a zone ------------------------------------------------------------------------

bool ItemDataMap::isZoneItem(ItemId zone) {
    if (contains(zone)) return false;
    if (!getZoneElement(zone)) {
        LOG_WARN(L"Internal error. Zone not found (item %1%)", zone);
        return false;
    }
    return true;
}

std::shared_ptr<const ItemDataMap::Snapshot> ItemDataMap::snapshot() const {
    std::lock_guard<std::mutex> lock(m_snapshotLock);
    return m_snapshot;
}

namespace {

/// The walks share one shape of recursion: for each child of a zone, the
/// child's shape, then the same below it.
template <class Source, class Shape, class Visit>
void walkBelow(const Shape& zone, const Source& source, Visit&& visit) {
    for (const auto child : zone.zones) {
        Shape scratch;
        const Shape* shape = source.shapeOf(child, scratch);
        visit(child, shape);
        if (shape != nullptr) walkBelow(*shape, source, visit);
    }
}

}  // namespace

void ItemDataMap::collectZoneItems(ItemId zone, const ShapeSource& shapes, std::vector<ItemId>& out) {
    Shape scratch;
    const Shape* shape = shapes.shapeOf(zone, scratch);
    if (shape == nullptr) return;
    walkBelow(*shape, shapes, [&out](ItemId child, const Shape* childShape) {
        out.push_back(child);
        if (childShape != nullptr)
            out.insert(out.end(), childShape->devices.begin(), childShape->devices.end());
    });
}

void ItemDataMap::collectDevices(ItemId zone, const ShapeSource& shapes, DevicePtrSet& out) {
    Shape scratch;
    const Shape* shape = shapes.shapeOf(zone, scratch);
    if (shape == nullptr) return;
    walkBelow(*shape, shapes, [this, &out](ItemId, const Shape* childShape) {
        if (childShape == nullptr) return;
        for (const ItemId device : childShape->devices) out.insert(m_items[device].device);
    });
}

std::vector<ItemDataMap::ItemId> ItemDataMap::findZoneItems(ItemId zone) {
    RegistryLock lock(m_lock);
    std::vector<ItemId> items;
    if (!isZoneItem(zone)) return items;
    std::shared_ptr<const Snapshot> copy;
    if (onGuiThread()) {
        if (!m_items[zone].zone->getZones().empty()) registerElement(m_root);
    } else {
        copy = snapshot();
    }
    collectZoneItems(zone, ShapeSource(*this, copy.get()), items);
    return items;
}

ItemDataMap::DevicePtrSet ItemDataMap::zoneDevices(ItemId zone) {
    RegistryLock lock(m_lock);
    DevicePtrSet devices;
    if (!isZoneItem(zone)) return devices;
    std::shared_ptr<const Snapshot> copy;
    if (onGuiThread()) {
        if (!m_items[zone].zone->getZones().empty()) registerElement(m_root);
    } else {
        copy = snapshot();
    }
    collectDevices(zone, ShapeSource(*this, copy.get()), devices);
    return devices;
}

unsigned ItemDataMap::countDeviceItems(const DevicePtr& device, ItemId zone) {
    RegistryLock lock(m_lock);
    if (!isZoneItem(zone)) return 0;
    std::shared_ptr<const Snapshot> copy;
    if (onGuiThread()) {
        if (!m_items[zone].zone->getZones().empty()) registerElement(m_root);
    } else {
        copy = snapshot();
    }
    const ItemId target = findDevice(false, device);
    if (target == kNone) return 0;

    // Each sub-zone's walk counts the device's places in every zone below
    // it; a zone's walk repeats the walks of all zones below it. Per zone:
    // `places` below it and `repeated`, the sum of its sub-zones' counts.
    struct Tally {
        unsigned places = 0;
        unsigned repeated = 0;
    };
    const ShapeSource shapes(*this, copy.get());
    std::function<Tally(const Shape&)> tally = [&](const Shape& shape) {
        Tally total;
        for (const ItemId child : shape.zones) {
            Shape scratch;
            const Shape* childShape = shapes.shapeOf(child, scratch);
            if (childShape == nullptr) continue;
            const Tally below = tally(*childShape);
            const bool filed = std::find(childShape->devices.begin(), childShape->devices.end(), target) !=
                               childShape->devices.end();
            total.places = saturatingAdd(total.places, saturatingAdd(filed ? 1u : 0u, below.places));
            // count(child) = places + repeated of the child, plus its own repeated sum.
            total.repeated = saturatingAdd(
                total.repeated, saturatingAdd(below.places, saturatingAdd(below.repeated, below.repeated)));
        }
        return total;
    };
    Shape scratch;
    const Shape* shape = shapes.shapeOf(zone, scratch);
    if (shape == nullptr) return 0;
    const Tally total = tally(*shape);
    return saturatingAdd(total.places, total.repeated);
}

// ---- selection ---------------------------------------------------------------------------------

namespace {

/// The records of the selected rows, in row order; null for a row without.
template <class List>
std::vector<const DeviceRowData*> selectedRecords(List* list) {
    std::vector<const DeviceRowData*> records;
    if (list == nullptr) return records;
    for (long row = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
         row = list->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        records.push_back(reinterpret_cast<const DeviceRowData*>(list->GetItemData(row)));
    return records;
}

}  // namespace

std::vector<ItemDataMap::ItemId> ItemDataMap::readSelectedItems() {
    std::vector<ItemId> ids;
    bool refreshed = false;
    const std::vector<const DeviceRowData*> records =
        m_deviceList != nullptr ? selectedRecords(m_deviceList) : selectedRecords(m_listControl);
    for (const DeviceRowData* data : records) {
        if (data == nullptr) {
            LOG_ERROR(L"Internal error. Element pointer is equal null");
            continue;
        }
        if (!refreshed) registerElement(m_root);
        refreshed = true;
        const ItemId id = findDevice(false, data->device);
        if (id != kNone) ids.push_back(id);
    }
    return ids;
}

ItemDataMap::DevicePtrSet ItemDataMap::devicesOf(const std::vector<ItemId>& ids) {
    DevicePtrSet devices;
    for (const ItemId id : ids)
        if (DevicePtr device = getDevice(id)) devices.insert(device);
    return devices;
}

ItemDataMap::DevicePtrSet ItemDataMap::zoneDevicesOf(const std::vector<ItemId>& ids,
                                                     const ShapeSource& shapes) {
    DevicePtrSet devices;
    for (const ItemId id : ids)
        if (isZoneItem(id)) collectDevices(id, shapes, devices);
    return devices;
}

DeviceSet ItemDataMap::loudspeakersOf(const DevicePtrSet& devices) {
    DeviceSet loudspeakers;
    for (const DevicePtr& device : devices)
        if (auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device))
            loudspeakers.insert(loudspeaker);
    return loudspeakers;
}

std::vector<ItemDataMap::ItemId> ItemDataMap::selectedItems() {
    GuiLocker guiLock;
    if (!onGuiThread()) return snapshot()->selectedItems;
    RegistryLock lock(m_lock);
    return readSelectedItems();
}

ItemDataMap::DevicePtrSet ItemDataMap::selectedDevices() {
    GuiLocker guiLock;
    if (!onGuiThread()) return snapshot()->selectedDevices;
    RegistryLock lock(m_lock);
    return devicesOf(readSelectedItems());
}

ItemDataMap::DevicePtrSet ItemDataMap::selectedZoneDevices() {
    GuiLocker guiLock;
    if (!onGuiThread()) return snapshot()->selectedZoneDevices;
    RegistryLock lock(m_lock);
    return zoneDevicesOf(readSelectedItems(), ShapeSource(*this, nullptr));
}

ItemDataMap::DevicePtrSet ItemDataMap::collectSelectedDevices() {
    GuiLocker guiLock;
    if (!onGuiThread()) {
        const auto copy = snapshot();
        DevicePtrSet devices = copy->selectedDevices;
        devices.insert(copy->selectedZoneDevices.begin(), copy->selectedZoneDevices.end());
        return devices;
    }
    RegistryLock lock(m_lock);
    const std::vector<ItemId> ids = readSelectedItems();
    DevicePtrSet devices = devicesOf(ids);
    const DevicePtrSet zones = zoneDevicesOf(ids, ShapeSource(*this, nullptr));
    devices.insert(zones.begin(), zones.end());
    return devices;
}

ItemDataMap::DevicePtrSet ItemDataMap::mapSelectedDevices(DeviceAction& action) {
    GuiLocker guiLock;
    return applyActionToDeviceSet(collectSelectedDevices(), action);
}

ItemDataMap::DevicePtrSet ItemDataMap::applyActionToDeviceSet(const DevicePtrSet& devices,
                                                              DeviceAction& action) {
    GuiLocker guiLock;
    DevicePtrSet results;
    for (const DevicePtr& device : devices) results.insert(action.call(*device));
    return results;
}

void ItemDataMap::detachList() {
    if (!onGuiThread()) {
        LOG_ERROR(L"Internal error. The device list is dropped off the GUI thread");
        return;
    }
    {
        RegistryLock lock(m_lock);
        m_deviceList = nullptr;
        m_listControl = nullptr;
    }
    refreshSnapshot();
}

void ItemDataMap::refreshSnapshot() {
    if (!onGuiThread()) {
        LOG_ERROR(L"Internal error. The zone tree is read off the GUI thread");
        return;
    }
    auto fresh = std::make_shared<Snapshot>();
    {
        RegistryLock lock(m_lock);
        registerElement(m_root);
        const ShapeSource live(*this, nullptr);
        fresh->selectedItems = readSelectedItems();
        fresh->selectedDevices = devicesOf(fresh->selectedItems);
        fresh->selectedZoneDevices = zoneDevicesOf(fresh->selectedItems, live);
        if (!m_items.empty()) {
            DevicePtrSet all;
            collectDevices(0, live, all);
            fresh->loudspeakers = loudspeakersOf(all);
        }
        for (ItemId id = 0; id < m_items.size(); ++id) {
            if (!m_items[id].zone) continue;
            Shape shape;
            live.shapeOf(id, shape);
            fresh->shapes.emplace(id, std::move(shape));
        }
    }
    std::lock_guard<std::mutex> lock(m_snapshotLock);
    m_snapshot = std::move(fresh);
}

// ---- DeviceSelection ---------------------------------------------------------------------------

DeviceSet ItemDataMap::getSelectedDevices() { return loudspeakersOf(selectedDevices()); }

DeviceSet ItemDataMap::getDevicesOfSelectedZones() { return loudspeakersOf(selectedZoneDevices()); }

DeviceSet ItemDataMap::getDevicesOfZones() {
    GuiLocker guiLock;
    if (!onGuiThread()) return snapshot()->loudspeakers;
    RegistryLock lock(m_lock);
    return loudspeakersOf(zoneDevices(0));
}

}  // namespace frm
