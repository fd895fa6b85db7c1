#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <wx/clntdata.h>
#include <wx/event.h>

#include "base/hardware_address.h"

class wxPanel;
class wxStaticBitmap;
class wxToggleButton;
class wxWindow;

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

namespace frm {

class ZoneRowGroups;

/// One zone of the operator's zone tree: a name, the devices filed in it,
/// its child zones, and its toggle button in the main window's zone column.
/// The root stands over the "Все зоны" toggle; the main window also keeps
/// the special zone "Новые усилители" for devices that are in no zone.
///
/// GUI thread only. Other threads never walk the tree: they read the item
/// registry's snapshot (item_data_map.h). Owned by shared pointers only (the
/// parent's child list, its toggle's client data, the registry); the node
/// keeps a weak pointer to itself.
class ZoneElement {
public:
    typedef boost::shared_ptr<ZoneElement> Ptr;
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;

    /// The client object of a zone's toggle: how a toggle event finds its
    /// zone. It holds the zone for as long as the toggle exists.
    class ZoneElementClientData : public wxClientData {
    public:
        explicit ZoneElementClientData(const Ptr& zone) : m_zone(zone) {}
        const Ptr& getZone() const { return m_zone; }

    private:
        Ptr m_zone;
    };

    /// The root, over an existing toggle (its label becomes the name).
    static Ptr createRoot(wxToggleButton* button);
    /// A zone with its row (bitmap and toggle) appended to `owner`'s box
    /// sizer; the toggle's event goes to `handler` of the top-level window
    /// above `owner`.
    static Ptr createZone(wxWindow* owner, wxObjectEventFunction handler, const std::wstring& name);
    /// A zone without any window, for code and tests that need only the tree.
    static Ptr createDetached(const std::wstring& name);
    ~ZoneElement();

    /// The zone whose toggle sent `event` (fatal when the sender carries none).
    static Ptr extractZoneElement(const wxCommandEvent& event);
    Ptr getThisPtr() const;

    /// Appends a device or a child; a pointer already there is refused with
    /// a DEBUG line.
    void addElement(const DevicePtr& device);
    void addElement(const Ptr& zone);
    /// Removes a child (its toggle disconnected; with `destroy` its row goes
    /// too, grandchildren likewise); a child not there is a WARN.
    void removeElement(const Ptr& zone, bool destroy);
    /// Removes the first device with the same hardware address.
    void removeElement(const DevicePtr& device);
    /// Presses or releases the toggle of this zone and of every descendant.
    void setChecked(bool checked);

    const std::wstring& getName() const { return m_name; }
    /// Renames the zone and relabels its toggle.
    void setName(const std::wstring& name);
    bool isShown() const { return m_shown != 0; }
    /// Shows or hides the zone's row (the main window hides the row of
    /// "Новые усилители" while it holds no device) and lays out the column.
    void setShown(bool shown);
    bool isSelected() const { return m_toggleState != 0; }
    bool getEnableVolume() const { return m_enableVolume; }
    void setEnableVolume(bool enable) { m_enableVolume = enable; }
    std::uint32_t getVolume() const { return m_volume; }
    void setVolume(std::uint32_t volume) { m_volume = volume; }
    const std::vector<DevicePtr>& getDevices() const { return m_devices; }
    const std::vector<Ptr>& getZones() const { return m_zones; }
    /// Addresses from the file whose device is not known yet.
    const std::vector<net::HardwareAddress>& getPendingAddresses() const { return m_pendingAddresses; }
    wxToggleButton* getButton() const { return m_button; }
    wxPanel* getPanel() const { return m_panel; }
    wxWindow* getOwner() const { return m_owner; }

    /// Writes the children of `zone` under `node` (zone_collection.xml),
    /// with each zone's addresses still waiting for their device.
    static void save(const ZoneElement& zone, boost::property_tree::wptree& node);
    /// Rebuilds this root's children from the file (see zone_store.h); the
    /// new zones' rows go to `owner` (none for a root without windows), in
    /// groups of rows that the column holds in their place, their toggles
    /// to `handler`. Only the first group's rows are built here; each other
    /// group builds its rows when it first comes into view, and gives them
    /// up again while it is far from view (see ZoneRowGroups): a zone
    /// without a row keeps its name, toggle state and shown flag for the row
    /// it gets later. `newDevicesZone` stands for every entry
    /// of its name and keeps its place; its row is shown when the file gave
    /// it devices. An address the collection does not know yet is kept with
    /// its zone (and saved again) until claimPendingDevice files its device.
    void load(const std::wstring& path, device::DeviceCollection& devices, wxWindow* owner,
              wxObjectEventFunction handler, const Ptr& newDevicesZone);

    /// A device that turned up after the load: every zone below this one
    /// (this one included) that kept its address takes it. True when some
    /// zone did; the caller then need not file it in "Новые усилители".
    bool claimPendingDevice(const DevicePtr& device);
    /// Forgets a kept address of this zone (not of its children); true when
    /// it was kept.
    bool removePendingAddress(const net::HardwareAddress& address);

private:
    friend class ZoneTreeLoader;
    friend class ZoneRowGroups;

    ZoneElement();
    /// Builds the row (bitmap and toggle) in the box sizer of `parent`, with
    /// the zone's name, toggle state and shown flag; without `layOut` the
    /// column is left for the caller to lay out once after many rows.
    void buildRow(bool layOut, wxWindow* parent);
    /// Takes the row down (the zone stays); false when it had none.
    bool dropRow();
    /// The toggle's event, handed to the owner's top-level window.
    void onToggle(wxCommandEvent& event);
    /// Attaches the node to its toggle; the first shared pointer of the
    /// node is made here when it has none yet.
    Ptr createActionForButton();

    std::uint8_t m_shown = 1;
    std::uint8_t m_toggleState = 0;
    bool m_enableVolume = false;
    std::uint32_t m_volume = 0;
    std::wstring m_name;
    wxPanel* m_panel = nullptr;
    wxToggleButton* m_button = nullptr;
    wxStaticBitmap* m_icon = nullptr;
    wxWindow* m_owner = nullptr;
    boost::weak_ptr<ZoneElement> m_self;
    wxObjectEventFunction m_toggleHandler = nullptr;
    std::vector<DevicePtr> m_devices;
    std::vector<Ptr> m_zones;
    /// Addresses of the file that named no known device yet, in file order.
    std::vector<net::HardwareAddress> m_pendingAddresses;
    /// A loaded zone: the groups of rows its row belongs to (the zone has no
    /// row while its group has not built it), and the group's index there.
    std::weak_ptr<ZoneRowGroups> m_rowGroups;
    std::size_t m_groupIndex = 0;
    /// A root: the groups of the rows of the file it loaded.
    std::shared_ptr<ZoneRowGroups> m_loadedRows;
};

/// Writes zone_collection.xml from the children of `root` (storage::save).
void saveZoneCollection(const std::wstring& path, const ZoneElement& root);

}  // namespace frm
