#include "gui/zone_element.h"

#include <algorithm>
#include <optional>

#include <wx/dcclient.h>
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

/// The rows of a loaded zone file in the zone column: groups of kGroupRows
/// zones in file order (depth first), each group a panel of the column. The
/// toolkit gives every row windows of its own, and each idle pass visits
/// every window, and each window destroyed searches a list as long as all
/// windows: with tens of thousands of rows the start, every click and above
/// all the quit would freeze for minutes. So a group builds its rows only
/// when it is first drawn (it came into view), and while more than
/// kBuiltGroups groups hold rows, the one farthest from the group just built
/// takes its rows down again. A group without rows keeps the height of its
/// shown rows, so the column scrolls over every zone and nothing moves when
/// the rows come. The rows of a group are built from the zones' current
/// name, toggle state and shown flag; a zone taken out of the tree gets none.
///
/// GUI thread only. Owned by the root that loaded the file; the handlers of
/// the group panels and the zones hold weak pointers to it.
class ZoneRowGroups : public std::enable_shared_from_this<ZoneRowGroups> {
public:
    static constexpr std::size_t kGroupRows = 100;
    static constexpr std::size_t kBuiltGroups = 20;

    explicit ZoneRowGroups(wxWindow* owner) : m_owner(owner) {}

    /// Files the next zone of the file, in a new group after every
    /// kGroupRows zones. The column is laid out by the caller.
    void add(const ZoneElement::Ptr& zone) {
        if (m_groups.empty() || m_groups.back().zones.size() == kGroupRows) {
            Group group;
            group.panel = new wxPanel(m_owner, wxID_ANY);
            group.panel->SetSizer(new wxBoxSizer(wxVERTICAL));
            m_owner->GetSizer()->Add(group.panel, 0, wxEXPAND);
            const std::size_t index = m_groups.size();
            const std::weak_ptr<ZoneRowGroups> self = weak_from_this();
            group.panel->Bind(wxEVT_PAINT, [self, index](wxPaintEvent& event) {
                wxPaintDC dc(static_cast<wxWindow*>(event.GetEventObject()));
                if (const auto groups = self.lock()) groups->wanted(index);
            });
            m_groups.push_back(std::move(group));
        }
        zone->m_rowGroups = weak_from_this();
        zone->m_groupIndex = m_groups.size() - 1;
        m_groups.back().zones.push_back(zone);
    }

    /// The file is in: the first group gets its rows (the height of a row
    /// comes from them), the others the height of theirs.
    void finish() {
        if (m_groups.empty()) return;
        build(0, false);
        for (Group& group : m_groups)
            if (!group.built) fitPlaceholder(group, false);
    }

    /// A zone of a group whose shown flag changed or that left the column.
    void changed(const ZoneElement& zone) {
        if (zone.m_groupIndex >= m_groups.size()) return;
        Group& group = m_groups[zone.m_groupIndex];
        if (!group.built) fitPlaceholder(group, true);
    }

private:
    struct Group {
        wxPanel* panel = nullptr;
        std::vector<boost::weak_ptr<ZoneElement>> zones;
        bool built = false;
        bool requested = false;
    };

    /// A group was drawn: its rows are built from the event loop, not from
    /// within the drawing.
    void wanted(std::size_t index) {
        Group& group = m_groups[index];
        if (group.built || group.requested) return;
        group.requested = true;
        const std::weak_ptr<ZoneRowGroups> self = weak_from_this();
        m_owner->CallAfter([self, index] {
            if (const auto groups = self.lock()) groups->build(index, true);
        });
    }

    /// The zones of the group that still have their place in the column.
    template <typename Visit>
    void forEachZone(const Group& group, Visit visit) {
        for (const boost::weak_ptr<ZoneElement>& weak : group.zones) {
            const ZoneElement::Ptr zone = weak.lock();
            if (zone && zone->m_rowGroups.lock().get() == this) visit(*zone);
        }
    }

    void build(std::size_t index, bool layOut) {
        Group& group = m_groups[index];
        group.requested = false;
        if (group.built) return;
        group.built = true;
        ++m_built;
        {
            GuiFreezer frozen(group.panel);
            forEachZone(group, [&](ZoneElement& zone) {
                zone.buildRow(false, group.panel);
                if (m_rowHeight == 0) m_rowHeight = std::max(zone.m_panel->GetSize().y, 1);
            });
            group.panel->SetMinSize(wxDefaultSize);
        }
        if (layOut) relayout(m_owner, group.panel);
        if (m_built > kBuiltGroups) releaseFarthestFrom(index);
    }

    void releaseFarthestFrom(std::size_t index) {
        std::size_t farthest = index;
        for (std::size_t other = 0; other < m_groups.size(); ++other) {
            const auto distance = [index](std::size_t at) { return at > index ? at - index : index - at; };
            if (m_groups[other].built && distance(other) > distance(farthest)) farthest = other;
        }
        if (farthest == index) return;
        Group& group = m_groups[farthest];
        {
            GuiFreezer frozen(group.panel);
            forEachZone(group, [](ZoneElement& zone) { zone.dropRow(); });
        }
        group.built = false;
        --m_built;
        fitPlaceholder(group, true);
    }

    /// An empty group holds the place of its shown rows.
    void fitPlaceholder(Group& group, bool layOut) {
        int shown = 0;
        forEachZone(group, [&shown](const ZoneElement& zone) { shown += zone.isShown() ? 1 : 0; });
        group.panel->SetMinSize(wxSize(-1, shown * std::max(m_rowHeight, 1)));
        if (layOut) relayout(m_owner, group.panel);
    }

    wxWindow* const m_owner;
    std::vector<Group> m_groups;
    std::size_t m_built = 0;
    int m_rowHeight = 0;
};

/// Rebuilds the zones of the file under a root: each entry becomes a new
/// zone of its parent, except those named like the special zone, which
/// stand for it where it is.
class ZoneTreeLoader : public ZoneBuilder {
public:
    ZoneTreeLoader(const ZoneElement::Ptr& root, const ZoneElement::Ptr& newDevicesZone,
                   device::DeviceCollection& devices, const std::shared_ptr<ZoneRowGroups>& rows)
        : m_root(root), m_newDevicesZone(newDevicesZone), m_devices(devices), m_rows(rows), m_parents{root} {}

    void enterZone(const ZoneEntry& entry) override {
        ZoneElement::Ptr zone;
        if (m_newDevicesZone && entry.name == m_newDevicesZone->m_name) {
            zone = m_newDevicesZone;
        } else {
            zone = ZoneElement::createDetached(entry.name);
            if (m_rows) {
                // The row comes with its group (see ZoneRowGroups).
                zone->m_owner = m_root->m_owner;
                zone->m_toggleHandler = m_root->m_toggleHandler;
                m_rows->add(zone);
            }
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
    const std::shared_ptr<ZoneRowGroups> m_rows;
    std::vector<ZoneElement::Ptr> m_parents;
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
    auto* zone = new ZoneElement;
    zone->m_owner = owner;
    zone->m_toggleHandler = handler;
    zone->m_name = name;
    zone->buildRow(true, owner);
    const Ptr self = zone->m_self.lock();
    if (!self) LOG_FATAL(L"Internal error. Zone don't lock");
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
    m_button->SetValue(m_toggleState != 0);
    row->Add(m_button, 1, wxEXPAND, 5);
    m_panel->SetSizer(row);
    m_panel->Layout();
    row->Fit(m_panel);
    if (m_shown == 0) m_panel->Hide();

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
    if (m_button == nullptr)
        dbg_abort("Internal error. Button don't set", "frm::ZoneElement::createActionForButton");
    Ptr self = m_self.lock();
    if (!self) {
        self.reset(this);
        m_self = self;
    }
    // A row built again (its group came back into view) takes the node too.
    if (m_button->GetClientObject() == nullptr) m_button->SetClientObject(new ZoneElementClientData(self));
    return self;
}

bool ZoneElement::dropRow() {
    if (m_panel == nullptr) return false;
    // Destroying the row deletes the toggle's client data, one owner of the
    // zone: the caller holds another.
    m_panel->Destroy();
    m_panel = nullptr;
    m_button = nullptr;
    m_icon = nullptr;
    return true;
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
        LOG_WARN(L"element isn't set.");
        return;
    }
    const auto found = std::find(m_zones.begin(), m_zones.end(), child);
    if (found == m_zones.end()) {
        LOG_WARN(L"element '%1%' isn't removed from zone", child->m_name);
        return;
    }
    if (child->m_button != nullptr && child->m_toggleHandler != nullptr)
        child->m_button->Unbind(wxEVT_TOGGLEBUTTON, &ZoneElement::onToggle, child.get());
    // Nor does a row built later for it reach the handler.
    child->m_toggleHandler = nullptr;
    m_zones.erase(found);
    if (!destroy) return;

    const std::vector<Ptr> grandchildren = child->m_zones;
    for (const Ptr& grandchild : grandchildren) child->removeElement(grandchild, true);
    // Its group, if it has one, builds no row for it any more.
    const std::shared_ptr<ZoneRowGroups> groups = child->m_rowGroups.lock();
    child->m_rowGroups.reset();
    wxWindow* const rowParent = child->m_panel != nullptr ? child->m_panel->GetParent() : nullptr;
    // `child` keeps the zone alive while its row goes.
    if (child->dropRow()) relayout(child->m_owner, rowParent);
    if (groups) groups->changed(*child);
}

void ZoneElement::removeElement(const DevicePtr& device) {
    if (!device) {
        LOG_WARN(L"element isn't set.");
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
    if (m_panel == nullptr) {
        if (const std::shared_ptr<ZoneRowGroups> groups = m_rowGroups.lock()) groups->changed(*this);
        return;
    }
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
    std::shared_ptr<ZoneRowGroups> rows;
    if (owner != nullptr) rows = std::make_shared<ZoneRowGroups>(owner);
    {
        // The column is drawn and laid out once when the whole file is in: a
        // layout per row would take time in the square of the zones.
        std::optional<GuiFreezer> frozen;
        if (owner != nullptr) frozen.emplace(owner);
        ZoneTreeLoader loader(getThisPtr(), newDevicesZone, devices, rows);
        readZones(collection, path, loader);
        if (rows) rows->finish();
    }
    m_loadedRows = rows;
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
