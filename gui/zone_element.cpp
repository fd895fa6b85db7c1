#include "gui/zone_element.h"

#include <algorithm>
#include <optional>

#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/tglbtn.h>
#include <wx/window.h>

#include "base/dbg.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"
#include "base/wx/gui_guards.h"
#include "device/device_base.h"
#include "device/models/device_collection.h"
#include "gui/zone_store.h"

namespace frm {

namespace {

/// Lays out the zone column after a row came or went; it scrolls, so its
/// virtual size follows the rows. `rowParent`: the window the row sat in,
/// when that was one of the column's groups of rows.
void relayout(wxWindow* owner, wxWindow* rowParent = nullptr) {
    if (owner == nullptr) return;
    const bool grouped = rowParent != nullptr && rowParent != owner;
    if (grouped) rowParent->InvalidateBestSize();
    owner->Layout();
    if (grouped) rowParent->Layout();
    owner->FitInside();
    owner->Refresh();
}

void writeZones(const ZoneElement& zone, ZoneFileWriter& writer) {
    for (const ZoneElement::Ptr& child : zone.getZones()) {
        ZoneEntry entry;
        entry.name = child->getName();
        entry.enableVolume = child->getEnableVolume();
        entry.volume = child->getVolume();
        for (const ZoneElement::DevicePtr& device : child->getDevices())
            entry.addresses.push_back(device->getHardwareAddress().toCharArray());
        for (const net::HardwareAddress& address : child->getPendingAddresses())
            entry.addresses.push_back(address.toCharArray());
        writer.enterZone(entry);
        writeZones(*child, writer);
        writer.leaveZone();
    }
}

}  // namespace

/// Rebuilds the zones of the file under a root: each entry becomes a new
/// zone of its parent, except those named like the special zone, which
/// stand for it where it is.
class ZoneTreeLoader : public ZoneBuilder {
public:
    ZoneTreeLoader(const ZoneElement::Ptr& root, const ZoneElement::Ptr& newDevicesZone,
                   device::DeviceCollection& devices)
        : m_root(root), m_newDevicesZone(newDevicesZone), m_devices(devices), m_parents{root} {}

    void enterZone(const ZoneEntry& entry) override {
        ZoneElement::Ptr zone;
        if (m_newDevicesZone && entry.name == m_newDevicesZone->m_name) {
            zone = m_newDevicesZone;
        } else {
            // The column is laid out once when the whole file is in: a layout
            // per row would take time in the square of the zones.
            zone = m_root->m_owner != nullptr ? ZoneElement::createZone(m_root->m_owner, m_root->m_toggleHandler,
                                                                        entry.name, false, group())
                                              : ZoneElement::createDetached(entry.name);
            // A zone made just now can't be among its parent's children yet:
            // no search of the list, which would be as slow.
            m_parents.back()->m_zones.push_back(zone);
        }
        zone->m_enableVolume = entry.enableVolume;
        zone->m_volume = entry.volume;
        for (const std::string& text : entry.addresses) file(*zone, text);
        if (zone == m_newDevicesZone && !zone->m_devices.empty()) zone->setShown(true);
        m_parents.push_back(zone);
    }

    void leaveZone() override {
        if (m_parents.size() > 1) m_parents.pop_back();
    }

private:
    /// The window that takes the next row. The rows of the file go into
    /// groups of kGroupRows in the column: the toolkit keeps a window's
    /// children in lists that it searches at each new child and at each
    /// move, which takes time in the square of the children of one window.
    wxWindow* group() {
        if (m_group == nullptr || m_groupRows == kGroupRows) {
            m_group = new wxPanel(m_root->m_owner, wxID_ANY);
            m_group->SetSizer(new wxBoxSizer(wxVERTICAL));
            m_root->m_owner->GetSizer()->Add(m_group, 0, wxEXPAND);
            m_groupRows = 0;
        }
        ++m_groupRows;
        return m_group;
    }

    void file(ZoneElement& zone, const std::string& text) {
        const net::HardwareAddress address(text);
        if (!address.isValid()) {
            LOG_WARN(L"Internal error. Device '%1%' not found. Into zone not added", base::fromUtf8(text));
            return;
        }
        if (const ZoneElement::DevicePtr device = m_devices.searchFor(address)) {
            zone.addElement(device);
            return;
        }
        // The device list may have been lost or damaged: the zone keeps the
        // address until its device reports itself.
        LOG_DEBUG(L"device '%1%' not known yet, zone '%2%' keeps its place", base::fromUtf8(text),
                  zone.m_name);
        auto& pending = zone.m_pendingAddresses;
        if (std::find(pending.begin(), pending.end(), address) == pending.end()) pending.push_back(address);
    }

    const ZoneElement::Ptr m_root;
    const ZoneElement::Ptr m_newDevicesZone;
    device::DeviceCollection& m_devices;
    std::vector<ZoneElement::Ptr> m_parents;
    static constexpr int kGroupRows = 100;
    wxPanel* m_group = nullptr;
    int m_groupRows = 0;
};

ZoneElement::ZoneElement() = default;

ZoneElement::~ZoneElement() { LOG_TRACE3(L"zone '%1%'", m_name); }

ZoneElement::Ptr ZoneElement::createRoot(wxToggleButton* button) {
    auto* zone = new ZoneElement;
    zone->m_button = button;
    if (button != nullptr) zone->m_name = button->GetLabel().ToStdWstring();
    return zone->createActionForButton();
}

ZoneElement::Ptr ZoneElement::createZone(wxWindow* owner, wxObjectEventFunction handler,
                                         const std::wstring& name) {
    return createZone(owner, handler, name, true, nullptr);
}

ZoneElement::Ptr ZoneElement::createZone(wxWindow* owner, wxObjectEventFunction handler, const std::wstring& name,
                                         bool layOut, wxWindow* rowParent) {
    auto* zone = new ZoneElement;
    zone->m_owner = owner;
    zone->m_toggleHandler = handler;
    zone->m_name = name;
    zone->buildRow(layOut, rowParent != nullptr ? rowParent : owner);
    const Ptr self = zone->m_self.lock();
    if (!self) LOG_FATAL(L"%1%", L"Internal error. Zone don't lock");
    return self;
}

ZoneElement::Ptr ZoneElement::createDetached(const std::wstring& name) {
    Ptr zone(new ZoneElement);
    zone->m_name = name;
    zone->m_self = zone;
    return zone;
}

void ZoneElement::buildRow(bool layOut, wxWindow* parent) {
    wxBoxSizer* column =
        m_owner != nullptr && parent != nullptr ? dynamic_cast<wxBoxSizer*>(parent->GetSizer()) : nullptr;
    if (column == nullptr) dbg_abort("Internal Error! don't add new zone", "frm::ZoneElement::createZone");

    m_panel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->SetMinSize(wxSize(-1, 36));
    m_icon = new wxStaticBitmap(m_panel, wxID_ANY, wxNullBitmap);
    m_icon->Hide();
    row->Add(m_icon, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, 5);
    m_button = new wxToggleButton(m_panel, wxID_ANY, m_name);
    row->Add(m_button, 1, wxEXPAND, 5);
    m_panel->SetSizer(row);
    m_panel->Layout();
    row->Fit(m_panel);

    column->Add(m_panel, 0, wxEXPAND, 5);
    if (layOut) relayout(m_owner, parent);

    // Bound to this zone, not connected to the window with it as the sink:
    // the window would keep a record of each toggle and search its records
    // at every new one, which takes minutes at tens of thousands of zones.
    if (m_toggleHandler != nullptr) m_button->Bind(wxEVT_TOGGLEBUTTON, &ZoneElement::onToggle, this);
    createActionForButton();
}

void ZoneElement::onToggle(wxCommandEvent& event) {
    // The toggle's row is a child of the owner, so the window is there.
    wxWindow* window = wxGetTopLevelParent(m_owner);
    if (window == nullptr) return;
    (static_cast<wxEvtHandler*>(window)->*m_toggleHandler)(event);
}

ZoneElement::Ptr ZoneElement::createActionForButton() {
    if (!m_self.expired()) return getThisPtr();
    if (m_button == nullptr)
        dbg_abort("Internal error. Button don't set", "frm::ZoneElement::createActionForButton");
    const Ptr self(this);
    m_button->SetClientObject(new ZoneElementClientData(self));
    m_self = self;
    return self;
}

ZoneElement::Ptr ZoneElement::getThisPtr() const {
    const Ptr self = m_self.lock();
    if (!self) dbg_abort("Internal error. Zone don't lock(", "frm::ZoneElement::getThisPtr");
    return self;
}

ZoneElement::Ptr ZoneElement::extractZoneElement(const wxCommandEvent& event) {
    auto* button = dynamic_cast<wxToggleButton*>(event.GetEventObject());
    if (button == nullptr)
        dbg_abort("Internal error. button with zone don't set", "frm::ZoneElement::extractZoneElement");
    auto* data = dynamic_cast<ZoneElementClientData*>(button->GetClientObject());
    if (data == nullptr || !data->getZone())
        dbg_abort("Internal error. zone element don't set", "frm::ZoneElement::extractZoneElement");
    return data->getZone();
}

void ZoneElement::addElement(const DevicePtr& device) {
    if (!device) dbg_abort("Internal error. element isn't added", "frm::ZoneElement::addElement");
    if (std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end()) {
        LOG_DEBUG(L"Internal error. Reinclusion element '%1%'", device->getTitle());
        return;
    }
    m_devices.push_back(device);
}

void ZoneElement::addElement(const Ptr& zone) {
    if (!zone) dbg_abort("Internal error. element isn't added", "frm::ZoneElement::addElement");
    if (std::find(m_zones.begin(), m_zones.end(), zone) != m_zones.end()) {
        LOG_DEBUG(L"Internal error. Reinclusion element '%1%'", zone->m_name);
        return;
    }
    m_zones.push_back(zone);
}

void ZoneElement::removeElement(const Ptr& zone, bool destroy) {
    // A copy: the caller's pointer may be the very entry erased below.
    const Ptr child = zone;
    if (!child) {
        LOG_WARN(L"%1%", L"element isn't set.");
        return;
    }
    const auto found = std::find(m_zones.begin(), m_zones.end(), child);
    if (found == m_zones.end()) {
        LOG_WARN(L"element '%1%' isn't removed from zone", child->m_name);
        return;
    }
    if (child->m_button != nullptr && child->m_toggleHandler != nullptr)
        child->m_button->Unbind(wxEVT_TOGGLEBUTTON, &ZoneElement::onToggle, child.get());
    m_zones.erase(found);
    if (!destroy) return;

    const std::vector<Ptr> grandchildren = child->m_zones;
    for (const Ptr& grandchild : grandchildren) child->removeElement(grandchild, true);
    if (child->m_panel != nullptr) {
        // Destroying the row deletes the toggle's client data, one owner of
        // the zone; `child` keeps it alive until we are done.
        wxWindow* const rowParent = child->m_panel->GetParent();
        child->m_panel->Destroy();
        child->m_panel = nullptr;
        child->m_button = nullptr;
        child->m_icon = nullptr;
        relayout(child->m_owner, rowParent);
    }
}

void ZoneElement::removeElement(const DevicePtr& device) {
    if (!device) {
        LOG_WARN(L"%1%", L"element isn't set.");
        return;
    }
    const auto found = std::find_if(m_devices.begin(), m_devices.end(), [&device](const DevicePtr& filed) {
        return filed->getHardwareAddress() == device->getHardwareAddress();
    });
    if (found == m_devices.end()) {
        LOG_WARN(L"element '%1%' isn't removed from zone", device->getTitle());
        return;
    }
    m_devices.erase(found);
}

void ZoneElement::setChecked(bool checked) {
    if (m_button != nullptr) m_button->SetValue(checked);
    m_toggleState = checked ? 1 : 0;
    for (const Ptr& child : m_zones) child->setChecked(checked);
}

void ZoneElement::setName(const std::wstring& name) {
    m_name = name;
    if (m_button == nullptr) return;
    m_button->SetLabel(name);
    if (m_panel != nullptr) m_panel->Layout();
}

void ZoneElement::setShown(bool shown) {
    m_shown = shown ? 1 : 0;
    if (m_panel == nullptr) return;
    m_panel->Show(shown);
    relayout(m_owner, m_panel->GetParent());
}

void ZoneElement::save(const ZoneElement& zone, boost::property_tree::wptree& node) {
    ZoneFileWriter writer(node);
    writeZones(zone, writer);
}

void ZoneElement::load(const std::wstring& path, device::DeviceCollection& devices, wxWindow* owner,
                       wxObjectEventFunction handler, const Ptr& newDevicesZone) {
    boost::property_tree::wptree collection;
    if (!readZoneFile(path, collection)) return;
    m_owner = owner;
    m_toggleHandler = handler;
    {
        // Thousands of rows are drawn once, not once each.
        std::optional<GuiFreezer> frozen;
        if (owner != nullptr) frozen.emplace(owner);
        ZoneTreeLoader loader(getThisPtr(), newDevicesZone, devices);
        readZones(collection, path, loader);
    }
    relayout(owner);
}

bool ZoneElement::claimPendingDevice(const DevicePtr& device) {
    if (!device) return false;
    bool taken = false;
    const auto found =
        std::find(m_pendingAddresses.begin(), m_pendingAddresses.end(), device->getHardwareAddress());
    if (found != m_pendingAddresses.end()) {
        m_pendingAddresses.erase(found);
        LOG_DEBUG(L"device '%1%' filed into zone '%2%', which kept its place", device->getTitle(), m_name);
        addElement(device);
        // Only the row of "Новые усилители" is ever hidden: while it holds
        // no device.
        if (!isShown()) setShown(true);
        taken = true;
    }
    for (const Ptr& child : m_zones) taken = child->claimPendingDevice(device) || taken;
    return taken;
}

bool ZoneElement::removePendingAddress(const net::HardwareAddress& address) {
    const auto found = std::find(m_pendingAddresses.begin(), m_pendingAddresses.end(), address);
    if (found == m_pendingAddresses.end()) return false;
    m_pendingAddresses.erase(found);
    return true;
}

void saveZoneCollection(const std::wstring& path, const ZoneElement& root) {
    boost::property_tree::wptree tree;
    ZoneElement::save(root, tree.add_child(L"zone_collection", boost::property_tree::wptree()));
    storage::save(path, tree);
}

}  // namespace frm
