#pragma once

#include <wx/bitmap.h>
#include <wx/clntdata.h>
#include <wx/imaglist.h>
#include <wx/timer.h>

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "audio/device_action.h"
#include "audio/loudspeaker_ledger.h"
#include "gui/device_reads.h"
#include "gui/device_view.h"
#include "gui/item_data_map.h"
#include "gui/layout/zone_element_panel.h"
#include "gui/zone_element.h"

namespace device {
class DeviceBase;
class DeviceCollection;
class OrvelInfo;
}  // namespace device

namespace frm {

/// The zone and device page of the main window: the devices of every zone
/// whose toggle is on as large state icons (each device once, under the
/// first such zone in tree order), the state and settings of the first
/// selected device, and what the operator does to the selection: volume and
/// sound on and off of the chosen loudspeakers, a device's name and zone,
/// deletion, a search for silent devices, and four buttons whose work the
/// main window supplies.
///
/// Threads: the GUI thread only; refreshDevices may be called from any
/// thread and moves itself there through the GUI-thread invoker, and
/// applyToSelectedDevices runs on its caller's thread. The panel
/// never waits for a device: the channel, the volume and the online probe of
/// the shown device are read by dispatcher jobs (DeviceReads) and shown when
/// they come back (one read for a run of refreshes, none while the page is
/// hidden), the sound and volume changes of the selection run as one
/// dispatcher job each, the device search too. Worker threads read the
/// selection from the item registry's snapshot, which the panel refreshes at
/// every selection change and rebuild. Results coming back after the panel
/// went are dropped (a weak token). Owned by the toolkit as a child of the
/// main window's content panel.
class ZoneElementPanel : public fb::ZoneElementPanel {
public:
    typedef boost::shared_ptr<device::DeviceBase> DevicePtr;
    using ButtonCallback = std::function<void(wxCommandEvent&)>;
    using DeviceUseTest = std::function<bool(const DevicePtr&)>;
    /// One call on a loudspeaker answering true or false (a condition or an action).
    using LoudspeakerCall = IAction<bool, device::OrvelInfo>;
    /// The record each row carries as item data.
    using RowData = DeviceRowData;

    /// What each entry of the zone choice carries: its zone.
    class ZoneElementClientData : public wxClientData {
    public:
        explicit ZoneElementClientData(ZoneElement::Ptr zone) : m_zone(std::move(zone)) {}
        const ZoneElement::Ptr& getZone() const { return m_zone; }

    private:
        ZoneElement::Ptr m_zone;
    };

    /// A null root or collection ends the program (FATAL).
    ZoneElementPanel(wxWindow* parent, ZoneElement::Ptr root,
                     boost::shared_ptr<device::DeviceCollection> devices);
    ~ZoneElementPanel() override;

    // The controls the main window reads.
    using fb::ZoneElementPanel::deviceList;
    using fb::ZoneElementPanel::deviceProperty;
    using fb::ZoneElementPanel::generalProperty;
    using fb::ZoneElementPanel::lockAdmin;
    using fb::ZoneElementPanel::lockInterface;

    /// Name and zone editable, delete allowed and the firmware, hardware
    /// and network address rows shown only in administrator mode; "Применить"
    /// disabled either way.
    void enableAdministratorMode(bool on);
    /// Rebuilds the rows of the toggled zones, keeping the selection by
    /// hardware address.
    void updateCurrentZone();
    /// Drops every row with its record and clears the information area.
    void refreshList();
    /// The icons of all rows and, when the first selected row shows it (or
    /// with none), the details of that row. Any thread.
    void refreshDevices(const DevicePtr& device = DevicePtr());
    /// refreshDevices for a batch of devices whose state changed, with one
    /// pass over the rows: the details when the row shown is one of them.
    /// GUI thread.
    void refreshDevices(const std::vector<DevicePtr>& devices);
    /// Calls `action` on each loudspeaker of the selected rows and zones for
    /// which `condition` holds, on this thread: the OR of the results, true
    /// when no action ran. Reads the registry (its snapshot off the GUI
    /// thread); waits for the devices, so the GUI thread's handlers hand
    /// their calls to a dispatcher job instead (applyToSelectedDevicesLater).
    bool applyToSelectedDevices(LoudspeakerCall& condition, LoudspeakerCall& action);
    void setItemDataMap(ItemDataMap* registry);
    /// How long the refreshes of the device already shown gather before its
    /// read starts (300 ms); tests shorten it.
    void setReadSettle(std::chrono::milliseconds settle) { readSettle = settle; }
    void setIsUsedDevice(DeviceUseTest test);

    /// Set by the main window; a button without one logs a WARN.
    ButtonCallback lockInterfaceCallback;
    ButtonCallback generalPropertyCallback;
    ButtonCallback devicePropertyCallback;
    ButtonCallback lockAdminCallback;

protected:
    void onSize(wxSizeEvent& event) override;
    void onListItemDeselected(wxListEvent& event) override;
    void onListItemSelected(wxListEvent& event) override;
    void selectAllDevicesOnButtonClick(wxCommandEvent& event) override;
    void titleOnChar(wxKeyEvent& event) override;
    void zoneOnChoice(wxCommandEvent& event) override;
    void muteOnButtonClick(wxCommandEvent& event) override;
    void volumeSliderOnScrollChanged(wxScrollEvent& event) override;
    void lockInterfaceOnButtonClick(wxCommandEvent& event) override;
    void generalPropertyOnButtonClick(wxCommandEvent& event) override;
    void devicePropertyOnButtonClick(wxCommandEvent& event) override;
    void lockAdminOnButtonClick(wxCommandEvent& event) override;
    void deleteOnButtonClick(wxCommandEvent& event) override;
    void applyOnButtonClick(wxCommandEvent& event) override;

private:
    using DeviceSet = std::set<boost::shared_ptr<device::OrvelInfo>>;

    /// refreshDevices on the GUI thread; a refresh that shows a read's
    /// result starts no new read.
    void refreshNow(const DevicePtr& device, bool startReads);
    /// refreshNow for any of `devices`; null: whichever device is shown.
    void refreshNow(const std::vector<DevicePtr>* devices, bool startReads);
    void refreshIcons();
    void showDetails(long rowIndex, const RowData& row, bool startReads);
    void showState(const StateView& view);
    void clearDeviceInfo();
    /// The minimum width of every field of the information area is that of
    /// its value; the area is laid out again when one changed.
    void fitFieldsToValues();
    /// The volume panel for the shown device, or for the selection with none.
    void updateVolumeControls(const DevicePtr& device);
    void updateVolumeToolTip();
    void showMute(bool soundOn);
    /// The queued relayout of a size change: a rebuild when the size changed.
    void relayoutCurrentZone();
    void fillZone(const ZoneElement::Ptr& zone);
    void addDeviceRow(const ZoneElement::Ptr& zone, const DevicePtr& device);
    /// Every zone below the root, depth first, each before its children.
    void collectZones(const ZoneElement::Ptr& zone, std::vector<ZoneElement::Ptr>& out) const;
    /// Selected row indexes in row order.
    std::vector<long> selectedRows() const;
    RowData* rowData(long row) const;
    /// Both shared bodies of the name and zone edits.
    void enableApply(wxEvent& event);
    void runCallback(wxCommandEvent& event, const ButtonCallback& callback, const wchar_t* missing);
    /// The selection's loudspeakers now (live on the GUI thread).
    DeviceSet selectedLoudspeakers();
    /// The device calls of the selection on one dispatcher job; `done` gets
    /// the combined result on the GUI thread.
    void applyToSelectedDevicesLater(std::shared_ptr<LoudspeakerCall> condition,
                                     std::shared_ptr<LoudspeakerCall> action, std::function<void(bool)> done);
    /// The operator's volume or sound for the answering loudspeakers of the
    /// selection, through the program's ledger, not waited for: a notice
    /// that keeps one at a volume of its own keeps it, and the operator's is
    /// what it gets back at the end. False when there is no ledger.
    bool setOwnVolumeLater(const OwnVolume& volume, std::function<void(bool)> done);
    /// A deleted loudspeaker goes back to the common channel and its own
    /// volume and is held no more (the program's ledger, not waited for).
    void dismissLoudspeaker(const DevicePtr& device);
    /// Removes the device, by hardware address, from every zone below `zone`
    /// (unresolved copies of its address too).
    void removeFromZones(const ZoneElement::Ptr& zone, const DevicePtr& device);
    void searchDevicesOnButtonClick(wxCommandEvent& event);
    void refreshSnapshot();
    /// What a change of the selection brings: a new snapshot at once, then,
    /// queued once for a run of selection events, the probe of devices not
    /// answering yet and the details of the first selected row (cleared
    /// without one).
    void selectionChanged();
    /// Runs `task` on the GUI thread later, unless the panel is gone by then.
    void later(std::function<void()> task);
    /// The reads a refresh wants of the shown device. A device shown anew
    /// is read at once; the refreshes of the same device (a title change,
    /// its state packets) gather for readSettle and start one read for
    /// all of them. Nothing is read while the page is hidden.
    void requestRead(const DevicePtr& device, unsigned what);
    void startGatheredRead();
    /// Whether the page and every window above it are shown (the main
    /// window hides the pages it does not show).
    bool isOnScreen() const;
    /// Shown again: a refresh, with its reads.
    void onShow(wxShowEvent& event);

    wxBitmap soundOnBitmap;
    wxBitmap soundOffBitmap;
    bool soundOnShown = false;
    bool administratorMode = false;
    ZoneElement::Ptr rootZone;
    std::map<long, DevicePtr> rowDevices;
    /// The records the rows carry, freed with the rows by refreshList.
    std::vector<std::unique_ptr<RowData>> rowRecords;
    std::vector<int> rowImages;  // the image each row shows
    std::set<net::HardwareAddress> shownAddresses;
    ItemDataMap* itemRegistry = nullptr;
    boost::shared_ptr<device::DeviceCollection> deviceCollection;
    DeviceUseTest isDeviceUsed;
    wxSize lastSize;
    /// The device the details show, while they show one.
    DevicePtr shownDevice;
    /// The loudspeaker the slider shows and the number of the read whose
    /// volume it took (DeviceReads). Only a later read or another device
    /// moves the slider: a refresh would undo the operator's move with an
    /// older value, and so would a read started before the move.
    DevicePtr sliderDevice;
    std::uint64_t sliderRead = 0;
    /// The device whose name or zone the operator edits, not applied yet.
    DevicePtr editedDevice;
    /// Rows are added or selected by the panel itself: no per-row work.
    bool rebuilding = false;
    bool selectionQueued = false;
    DeviceReads reads;
    /// The gathered read: its device and what to read, and the device read last.
    wxTimer readTimer;
    std::chrono::milliseconds readSettle{300};
    DevicePtr gatheredDevice;
    unsigned gatheredWhat = 0;
    DevicePtr lastReadDevice;
    /// Destroyed first: tasks queued for the GUI thread hold it weakly.
    std::shared_ptr<char> alive;
};

}  // namespace frm
