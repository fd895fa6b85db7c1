#include "gui/zone_element_panel.h"

#include <wx/image.h>
#include <wx/intl.h>
#include <wx/settings.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>

#include "audio/loudspeaker_ledger.h"
#include "base/dbg.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "gui/gui_thread.h"
#include "gui/icons.h"
#include "gui/ui.h"

namespace frm {

namespace {

const wchar_t* const kCaption = L"Сообщение";
const wchar_t* const kNothingSelected = L"Нет выделенных устройств";
const wxColour kWarningColour(255, 216, 0);
constexpr int kIconSize = 48;
/// The narrowest the name field gets while it is edited.
constexpr int kTitleEditorWidth = 160;
// The icon table's ids of the mute button's two images.
constexpr int kSoundOnIcon = 6;
constexpr int kSoundOffIcon = 7;

std::wstring translate(const std::wstring& key) { return wxGetTranslation(key).ToStdWstring(); }

wxColour normalBackground() { return wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE); }

/// The action on each loudspeaker that passes the condition: the OR of the
/// results, true when none ran. A loudspeaker that went offline since the
/// condition is skipped like one that failed it; other refusals are shown
/// and count as failures, and the others still get their call.
bool applyCaught(const std::set<boost::shared_ptr<device::OrvelInfo>>& devices,
                 ZoneElementPanel::LoudspeakerCall& condition, ZoneElementPanel::LoudspeakerCall& action) {
    std::set<bool> results;
    for (const auto& device : devices) {
        try {
            if (condition.call(*device)) results.insert(action.call(*device));
        } catch (const exception::Offline&) {
            LOG_DEBUG(L"device '%1%' went offline", device->getTitle());
        } catch (const exception::Base& e) {
            LOG_WARN(L"%1%", e.getNotification());
            results.insert(false);
        }
    }
    return mergeActionResults(results);
}

}  // namespace

ZoneElementPanel::ZoneElementPanel(wxWindow* parent, ZoneElement::Ptr root,
                                   boost::shared_ptr<device::DeviceCollection> devices)
    : fb::ZoneElementPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(1430, 965), wxTAB_TRAVERSAL),
      rootZone(std::move(root)),
      deviceCollection(std::move(devices)),
      reads([this](const DevicePtr& device) { refreshNow(device, false); }),
      alive(std::make_shared<char>(0)) {
    FRM_ASSERT_GUI_THREAD();
    if (!rootZone)
        dbg_abort("Internal error. root zone isn't initialized", "frm::ZoneElementPanel::ZoneElementPanel");
    if (!deviceCollection)
        dbg_abort("Internal error. Device Collection isn't initialized",
                  "frm::ZoneElementPanel::ZoneElementPanel");

    wxInitAllImageHandlers();
    soundOnBitmap = loadSvgBitmap(kSoundOnIcon);
    soundOffBitmap = loadSvgBitmap(kSoundOffIcon);
    // The list owns its images; they are set once, for every row to come.
    auto* images = new wxImageList(kIconSize, kIconSize, true, icon::kCount);
    for (int id = icon::kFirstTableId; id < icon::kFirstTableId + icon::kCount; ++id) {
        wxBitmap image = loadSvgBitmap(id);
        if (!image.IsOk()) image = wxBitmap(kIconSize, kIconSize);  // keeps the indexes in step
        images->Add(image);
    }
    deviceList->AssignImageList(images, wxIMAGE_LIST_NORMAL);
    searchDevices->Bind(wxEVT_BUTTON, &ZoneElementPanel::searchDevicesOnButtonClick, this);
    readTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { startGatheredRead(); }, readTimer.GetId());
    Bind(wxEVT_SHOW, &ZoneElementPanel::onShow, this);
    // The fields keep the height they have now: GTK asks for a taller entry
    // for a while after its colour changed, and the area is laid out again
    // while the state display recolours them. Their widths follow their
    // values (fitFieldsToValues), the zone choice's its zones.
    for (wxWindow* control : infoPanel->GetChildren())
        if (auto* field = dynamic_cast<wxTextCtrl*>(control))
            field->SetMinSize(wxSize(field->GetMinSize().x, field->GetBestSize().y));
    zone->SetMinSize(wxSize(-1, zone->GetBestSize().y));

    enableAdministratorMode(false);
    showMute(false);
    volumePanel->Disable();
}

ZoneElementPanel::~ZoneElementPanel() {
    // The controls may be gone already (the main window's shutdown destroys
    // the pages' children first): nothing here touches them. The row
    // records go with the panel's members.
    LOG_TRACE3(L"%1%", L"frm::ZoneElementPanel::~ZoneElementPanel");
}

void ZoneElementPanel::setItemDataMap(ItemDataMap* registry) { itemRegistry = registry; }

void ZoneElementPanel::setIsUsedDevice(DeviceUseTest test) { isDeviceUsed = std::move(test); }

// ---- modes and rebuilds -------------------------------------------------------------------

void ZoneElementPanel::enableAdministratorMode(bool on) {
    FRM_ASSERT_GUI_THREAD();
    administratorMode = on;
    title->Enable(on);
    zone->Enable(on);
    deleteDevices->Enable(on);
    apply->Disable();
    editedDevice.reset();
    for (wxWindow* row :
         {static_cast<wxWindow*>(firmwareLabel), static_cast<wxWindow*>(firmware),
          static_cast<wxWindow*>(hardwareAddressLabel), static_cast<wxWindow*>(hardwareAddress),
          static_cast<wxWindow*>(ipAddressLabel), static_cast<wxWindow*>(ipAddress)})
        row->Show(on);
    fitFieldsToValues();
    infoPanel->Layout();
    Layout();
}

void ZoneElementPanel::updateCurrentZone() {
    FRM_ASSERT_GUI_THREAD();
    std::set<net::HardwareAddress> selected;
    for (const long row : selectedRows()) {
        const RowData* data = rowData(row);
        if (data == nullptr) {
            LOG_WARN(L"Internal error. Poiner is equal null");
            return;
        }
        selected.insert(data->device->getHardwareAddress());
    }
    {
        GuiFreezer freeze(deviceList);
        refreshList();
        rebuilding = true;
        fillZone(rootZone);
        for (const auto& [row, device] : rowDevices)
            if (selected.count(device->getHardwareAddress()) > 0)
                deviceList->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        rebuilding = false;
    }
    refreshNow(DevicePtr(), true);
    // An edit not applied survives a rebuild only while its device is still
    // the one shown; applied, deleted or moved out of sight, there is
    // nothing left to apply.
    if (!editedDevice || editedDevice != shownDevice) {
        apply->Disable();
        editedDevice.reset();
    }
    // What the selection events of the rows selected again would bring.
    if (selected.empty())
        refreshSnapshot();
    else
        selectionChanged();
}

void ZoneElementPanel::refreshList() {
    FRM_ASSERT_GUI_THREAD();
    for (long row = 0; row < deviceList->GetItemCount(); ++row)
        if (rowData(row) == nullptr) LOG_ERROR(L"Internal error. Element pointer is equal null");
    rebuilding = true;
    deviceList->DeleteAllItems();
    rebuilding = false;
    // The records go after their rows: nothing may read one while it is freed.
    rowRecords.clear();
    rowDevices.clear();
    rowImages.clear();
    shownAddresses.clear();
    clearDeviceInfo();
    fitFieldsToValues();
    refreshSnapshot();
}

void ZoneElementPanel::fillZone(const ZoneElement::Ptr& zoneElement) {
    if (zoneElement->isSelected())
        for (const DevicePtr& device : zoneElement->getDevices()) addDeviceRow(zoneElement, device);
    for (const ZoneElement::Ptr& child : zoneElement->getZones()) fillZone(child);
}

void ZoneElementPanel::addDeviceRow(const ZoneElement::Ptr& zoneElement, const DevicePtr& device) {
    const net::HardwareAddress address = device->getHardwareAddress();
    if (shownAddresses.count(address) > 0) {
        LOG_DEBUG(L"skip inclusion device '%1%' to zone '%2%'", base::toWide(address.toCharArray()),
                  zoneElement->getName());
        return;
    }
    const long row = deviceList->InsertItem(deviceList->GetItemCount(), device->getTitle(), 0);
    rowDevices[row] = device;
    rowImages.push_back(0);
    shownAddresses.insert(address);
    rowRecords.push_back(std::make_unique<RowData>(RowData{device, zoneElement}));
    deviceList->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(rowRecords.back().get()));
    // A rebuild refreshes once when all its rows are there.
    if (!rebuilding) refreshNow(device, true);
}

// ---- the state display ----------------------------------------------------------------------

void ZoneElementPanel::refreshDevices(const DevicePtr& device) {
    if (!GuiThreadInvoker::exists()) return;
    if (!wxIsMainThread()) {
        later([this, device] { refreshNow(device, true); });
        return;
    }
    refreshNow(device, true);
}

void ZoneElementPanel::refreshDevices(const std::vector<DevicePtr>& devices) {
    FRM_ASSERT_GUI_THREAD();
    if (!devices.empty()) refreshNow(&devices, true);
}

void ZoneElementPanel::refreshNow(const DevicePtr& device, bool startReads) {
    if (!device) {
        refreshNow(nullptr, startReads);
        return;
    }
    const std::vector<DevicePtr> one{device};
    refreshNow(&one, startReads);
}

void ZoneElementPanel::refreshNow(const std::vector<DevicePtr>* devices, bool startReads) {
    FRM_ASSERT_GUI_THREAD();
    const long count = deviceList->GetItemCount();
    if (count == 0) return;
    if (static_cast<std::size_t>(count) != rowDevices.size()) {
        LOG_WARN(L"Internal error. Discrepancy size %1% != %2%", count, rowDevices.size());
        return;
    }
    refreshIcons();
    const long first = deviceList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (first == -1) return;
    const RowData* row = rowData(first);
    if (row == nullptr) {
        LOG_WARN(L"Internal error. Pointer is equal null.");
        return;
    }
    if (devices != nullptr && std::find(devices->begin(), devices->end(), row->device) == devices->end()) return;
    showDetails(first, *row, startReads);
    fitFieldsToValues();
}

void ZoneElementPanel::refreshIcons() {
    for (const auto& [row, device] : rowDevices) {
        int& shown = rowImages[static_cast<std::size_t>(row)];
        int image = shown;
        const bool online = device->isOnline();
        const bool answered = online && device->isOnlineAndAnswered();
        if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device))
            image = loudspeakerIcon(loudspeaker->getState(), online, answered);
        else if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(device))
            image = consoleIcon(console->getState(), online, answered);
        if (image == shown) continue;
        deviceList->SetItemImage(row, image);
        shown = image;
    }
}

void ZoneElementPanel::showDetails(long rowIndex, const RowData& row, bool startReads) {
    const DevicePtr device = row.device;
    // An edit of the name or the zone not applied yet stays while the same
    // device is refreshed.
    const bool keepEdit = apply->IsEnabled() && editedDevice == device;
    const wxString editedTitle = title->GetValue();
    const int editedZone = zone->GetSelection();

    clearDeviceInfo();
    shownDevice = device;
    const bool online = device->isOnline();
    const bool answered = online && device->isOnlineAndAnswered();
    deviceProperty->Enable(answered);
    zone->Enable();
    title->Enable(administratorMode);
    const std::wstring deviceTitle = device->getTitle();
    title->ChangeValue(keepEdit ? editedTitle : wxString(deviceTitle));
    hardwareAddress->ChangeValue(device->getHardwareAddress().toCharArray());
    deviceList->SetItemText(rowIndex, deviceTitle);

    std::vector<ZoneElement::Ptr> zoneList;
    collectZones(rootZone, zoneList);
    int rowZone = wxNOT_FOUND;
    for (const ZoneElement::Ptr& entry : zoneList) {
        const int index = zone->Append(entry->getName(), new ZoneElementClientData(entry));
        if (entry == row.zone) rowZone = index;
    }
    zone->SetSelection(keepEdit && editedZone < static_cast<int>(zone->GetCount()) ? editedZone : rowZone);

    const net::IpAndPort endpoint = device->getIp();
    if (endpoint.isValid() || online) ipAddress->ChangeValue(endpoint.getWideText());
    if (!online) return;

    if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device)) {
        LoudspeakerFacts facts;
        facts.state = loudspeaker->getState();
        facts.versionIndex = loudspeaker->getVersionIndex();
        facts.typeCode = device->getTypeCode();
        facts.playbackCode = loudspeaker->getPlaybackType();
        facts.playbackWord = loudspeaker->getPlaybackTypeText();
        facts.versionText = device->getVersionText();
        facts.online = online;
        facts.answered = answered;
        facts.channel = reads.known(*device).channel;
        showState(describeLoudspeaker(facts, translate));
        if (startReads) {
            unsigned what = DeviceReads::kVolume;
            if (playbackNamesChannel(facts.playbackCode, online, answered)) what |= DeviceReads::kChannel;
            requestRead(device, what);
        }
    } else if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(device)) {
        ConsoleFacts facts;
        facts.state = console->getState();
        facts.playbackWord = console->getPlaybackTypeText();
        facts.versionText = device->getVersionText();
        facts.online = online;
        facts.answered = answered;
        showState(describeConsole(facts, translate));
    }
    updateVolumeControls(device);
}

void ZoneElementPanel::showState(const StateView& view) {
    const std::pair<wxStaticText*, wxTextCtrl*> rows[kStateFieldCount] = {
        {playbackLabel, playback},     {firmwareLabel, firmware},
        {line1Label, line1},           {network1Label, network1},
        {line2Label, line2},           {network2Label, network2},
        {power1Label, power1},         {caseStateLabel, caseState},
        {power2Label, power2},         {zonesLabel, zones},
        {zarno1Label, zarno1},         {analogInput1Label, analogInput1},
        {zarno2Label, zarno2},         {analogInput2Label, analogInput2},
        {microphoneLabel, microphone}, {accessLabel, access},
    };
    for (std::size_t i = 0; i < kStateFieldCount; ++i) {
        const FieldView& shown = view[i];
        rows[i].first->Enable(shown.enabled);
        rows[i].second->Enable(shown.enabled);
        rows[i].second->ChangeValue(shown.text);
        rows[i].second->SetBackgroundColour(shown.warning ? kWarningColour : normalBackground());
    }
}

void ZoneElementPanel::fitFieldsToValues() {
    // Each field asks for the width of its whole value: the grid gives its
    // column that much before it shares out the rest, so that a long value
    // (a firmware version) takes room from short ones instead of being cut.
    // The name is a value too, except while it is edited (administrator
    // mode): an edit field scrolls, and the name stands under its icon.
    bool changed = false;
    for (wxWindow* control : infoPanel->GetChildren()) {
        auto* field = dynamic_cast<wxTextCtrl*>(control);
        if (field == nullptr) continue;
        const int width = field == title && administratorMode
                              ? kTitleEditorWidth
                              : field->GetSizeFromTextSize(field->GetTextExtent(field->GetValue()).x).x;
        if (field->GetMinSize().x == width) continue;
        field->SetMinSize(wxSize(width, field->GetMinSize().y));
        changed = true;
    }
    if (changed) infoPanel->Layout();
}

void ZoneElementPanel::clearDeviceInfo() {
    FRM_ASSERT_GUI_THREAD();
    for (wxWindow* control : infoPanel->GetChildren()) {
        if (auto* field = dynamic_cast<wxTextCtrl*>(control)) {
            field->ChangeValue(wxEmptyString);
            if (field == title) continue;
            field->SetBackgroundColour(normalBackground());
        }
        control->Enable();
    }
    zone->Clear();
    zone->Disable();
    title->Disable();
    deviceProperty->Disable();
    shownDevice.reset();
    updateVolumeControls(DevicePtr());
}

void ZoneElementPanel::collectZones(const ZoneElement::Ptr& zoneElement,
                                    std::vector<ZoneElement::Ptr>& out) const {
    for (const ZoneElement::Ptr& child : zoneElement->getZones()) {
        out.push_back(child);
        collectZones(child, out);
    }
}

// ---- volume -----------------------------------------------------------------------------

void ZoneElementPanel::updateVolumeControls(const DevicePtr& device) {
    if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device)) {
        const DeviceReads::Known known = reads.known(*device);
        // While a notice keeps the loudspeaker at its volume, the controls
        // show what it gets back at the end, the operator's where he set one.
        const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
        const std::optional<OwnVolume> held = ledger ? ledger->heldOwnVolume(loudspeaker) : std::nullopt;
        if (held && held->percent) {
            volumeSlider->SetValue(*held->percent);
            sliderDevice = device;
            sliderRead = std::max(known.volumeRead, reads.lastStarted());
        } else if (device != sliderDevice || known.volumeRead > sliderRead) {
            if (known.volume) volumeSlider->SetValue(*known.volume);
            sliderDevice = device;
            sliderRead = known.volumeRead;
        }
        volumeHint->SetLabel(L"Громкость: " + device->getTitle());
        showMute(held && held->enabled ? *held->enabled : device->isVolumeEnabled());
        updateVolumeToolTip();
        volumePanel->Enable();
        return;
    }
    const DeviceSet selection = selectedLoudspeakers();
    const bool anyAnswering = std::any_of(selection.begin(), selection.end(), [](const auto& loudspeaker) {
        return loudspeaker->isOnlineAndAnswered();
    });
    if (anyAnswering) volumeHint->SetLabel(L"Установите громкость для всех выделенных устройств");
    volumePanel->Enable(anyAnswering);
}

void ZoneElementPanel::updateVolumeToolTip() {
    volumeSlider->SetToolTip(wxString::Format(L"%s%i%%", L"Громкость: ", volumeSlider->GetValue()));
}

void ZoneElementPanel::showMute(bool soundOn) {
    soundOnShown = soundOn;
    mute->SetBitmap(soundOn ? soundOnBitmap : soundOffBitmap);
}

void ZoneElementPanel::muteOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::muteOnButtonClick");
    const bool soundOn = !soundOnShown;
    if (setOwnVolumeLater(OwnVolume{std::nullopt, soundOn}, [this, soundOn](bool done) {
            if (done) showMute(soundOn);
        }))
        return;
    auto condition =
        std::make_shared<ActionArg0<bool, device::OrvelInfo, bool (device::DeviceBase::*)() const>>(
            &device::DeviceBase::isOnlineAndAnswered);
    auto action =
        std::make_shared<ActionArg1<bool, device::OrvelInfo, bool (device::DeviceBase::*)(bool), bool>>(
            &device::DeviceBase::enableVolume, soundOn);
    applyToSelectedDevicesLater(condition, action, [this, soundOn](bool done) {
        if (done) showMute(soundOn);
    });
}

void ZoneElementPanel::volumeSliderOnScrollChanged(wxScrollEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::volumeSliderOnScrollChanged");
    const auto volume = static_cast<std::uint32_t>(std::max(0, event.GetPosition()));
    sliderRead = std::max(sliderRead, reads.lastStarted());  // what is on its way is older
    updateVolumeToolTip();
    if (setOwnVolumeLater(OwnVolume{static_cast<int>(volume), std::nullopt}, [this](bool done) {
            if (done) showMute(true);
        }))
        return;
    auto condition =
        std::make_shared<ActionArg0<bool, device::OrvelInfo, bool (device::DeviceBase::*)() const>>(
            &device::DeviceBase::isOnlineAndAnswered);
    auto action = std::make_shared<
        ActionArg1<bool, device::OrvelInfo, bool (device::OrvelInfo::*)(std::uint32_t), std::uint32_t>>(
        &device::OrvelInfo::setVolume, volume);
    applyToSelectedDevicesLater(condition, action, [this](bool done) {
        if (done) showMute(true);
    });
}

bool ZoneElementPanel::setOwnVolumeLater(const OwnVolume& volume, std::function<void(bool)> done) {
    const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
    if (!ledger) return false;
    DeviceSet devices;
    for (const auto& loudspeaker : selectedLoudspeakers())
        if (loudspeaker->isOnlineAndAnswered()) devices.insert(loudspeaker);
    const std::weak_ptr<char> token = alive;
    // Not waited for: the answers come on the transport's thread. As the
    // calls on the loudspeakers answered: true when any took it or none was
    // asked.
    ledger->setOwnVolume(devices, volume).whenSettled([token, done](const LedgerBatch::Settlements& settled) {
        bool result = settled.empty();
        for (const auto& entry : settled) result = result || entry.second.kind == Settlement::kDone;
        GuiThreadInvoker::add([token, done, result] {
            if (token.lock()) done(result);
        });
    });
    return true;
}

// ---- the selection ------------------------------------------------------------------------

ZoneElementPanel::DeviceSet ZoneElementPanel::selectedLoudspeakers() {
    return itemRegistry != nullptr ? itemRegistry->getSelectedDevicesAndZones() : DeviceSet();
}

bool ZoneElementPanel::applyToSelectedDevices(LoudspeakerCall& condition, LoudspeakerCall& action) {
    return applyCaught(selectedLoudspeakers(), condition, action);
}

void ZoneElementPanel::applyToSelectedDevicesLater(std::shared_ptr<LoudspeakerCall> condition,
                                                   std::shared_ptr<LoudspeakerCall> action,
                                                   std::function<void(bool)> done) {
    const DeviceSet devices = selectedLoudspeakers();
    const std::weak_ptr<char> token = alive;
    const std::uint32_t id = base::ThreadDispatcher::add(
        L"zone panel: the selected loudspeakers", 0, [devices, condition, action, done, token] {
            const bool result = applyCaught(devices, *condition, *action);
            GuiThreadInvoker::add([token, done, result] {
                if (token.lock()) done(result);
            });
        });
    if (id == 0) LOG_DEBUG(L"%1%", L"the selected loudspeakers are left alone: no dispatcher");
}

std::vector<long> ZoneElementPanel::selectedRows() const {
    std::vector<long> rows;
    for (long row = deviceList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
         row = deviceList->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        rows.push_back(row);
    return rows;
}

ZoneElementPanel::RowData* ZoneElementPanel::rowData(long row) const {
    return reinterpret_cast<RowData*>(deviceList->GetItemData(row));
}

void ZoneElementPanel::refreshSnapshot() {
    if (itemRegistry != nullptr) itemRegistry->refreshSnapshot();
}

void ZoneElementPanel::later(std::function<void()> task) {
    const std::weak_ptr<char> token = alive;
    GuiThreadInvoker::add([token, task] {
        if (token.lock()) task();
    });
}

void ZoneElementPanel::requestRead(const DevicePtr& device, unsigned what) {
    if (!isOnScreen()) return;
    if (device != lastReadDevice) {
        readTimer.Stop();
        gatheredDevice.reset();
        gatheredWhat = 0;
        lastReadDevice = device;
        reads.read(device, what);
        return;
    }
    gatheredDevice = device;
    gatheredWhat |= what;
    if (!readTimer.IsRunning()) readTimer.StartOnce(static_cast<int>(std::max<long long>(1, readSettle.count())));
}

void ZoneElementPanel::startGatheredRead() {
    FRM_ASSERT_GUI_THREAD();
    const DevicePtr device = std::move(gatheredDevice);
    const unsigned what = gatheredWhat;
    gatheredDevice.reset();
    gatheredWhat = 0;
    // Another device or a hidden page since: nothing of this one to read.
    if (device && device == shownDevice && isOnScreen()) reads.read(device, what);
}

bool ZoneElementPanel::isOnScreen() const {
    for (const wxWindow* window = this; window != nullptr; window = window->GetParent())
        if (!window->IsShown()) return false;
    return true;
}

void ZoneElementPanel::onShow(wxShowEvent& event) {
    event.Skip();
    if (!event.IsShown()) return;
    // What was read before the page was hidden may be old by now.
    lastReadDevice.reset();
    refreshDevices();
}

void ZoneElementPanel::selectionChanged() {
    // A click on one row of many selected deselects the others one event
    // each: the rest of the work is done once, when the events are through.
    // The snapshot at once: a worker may act on the selection right away.
    refreshSnapshot();
    if (selectionQueued) return;
    selectionQueued = true;
    later([this] {
        selectionQueued = false;
        if (itemRegistry != nullptr) {
            // Devices that send state packets but have not answered are asked.
            for (const DevicePtr& device : itemRegistry->selectedDevices())
                if (device->isOnline() && !device->isOnlineAndAnswered())
                    reads.read(device, DeviceReads::kProbe);
        }
        if (deviceList->GetSelectedItemCount() == 0) {
            clearDeviceInfo();
            fitFieldsToValues();
        }
        refreshNow(DevicePtr(), true);
    });
}

void ZoneElementPanel::onListItemSelected(wxListEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%", L"frm::ZoneElementPanel::onListItemSelected");
    event.Skip();
    if (rebuilding) return;
    lastReadDevice.reset();  // the operator's choice is read at once
    selectionChanged();
}

void ZoneElementPanel::onListItemDeselected(wxListEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%", L"frm::ZoneElementPanel::onListItemDeselected");
    event.Skip();
    if (rebuilding) return;
    apply->Disable();
    editedDevice.reset();
    lastReadDevice.reset();
    selectionChanged();
}

void ZoneElementPanel::selectAllDevicesOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::selectAllDevicesOnButtonClick");
    rebuilding = true;
    for (long row = 0; row < deviceList->GetItemCount(); ++row)
        deviceList->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    rebuilding = false;
    selectionChanged();
}

// ---- edits ----------------------------------------------------------------------------------

void ZoneElementPanel::enableApply(wxEvent& event) {
    event.Skip();
    apply->Enable();
    editedDevice = shownDevice;
}

void ZoneElementPanel::titleOnChar(wxKeyEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::titleOnChar");
    enableApply(event);
}

void ZoneElementPanel::zoneOnChoice(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::zoneOnChoice");
    enableApply(event);
}

void ZoneElementPanel::applyOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::applyOnButtonClick");
    const std::vector<long> rows = selectedRows();
    if (rows.empty()) {
        ui::messageBox(kNothingSelected, kCaption, wxOK);
        return;
    }
    if (rows.size() == 1) {
        const RowData* data = rowData(rows.front());
        if (data == nullptr) {
            LOG_WARN(L"Internal error. Poiner is equal null");
            return;
        }
        data->device->setTitle(title->GetValue().ToStdWstring());
    }
    const int chosen = zone->GetSelection();
    if (chosen == wxNOT_FOUND) {
        ui::messageBox(L"Не выбрана зона", kCaption, wxOK);
        return;
    }
    const ZoneElement::Ptr target =
        static_cast<ZoneElementClientData*>(zone->GetClientObject(chosen))->getZone();
    for (const long row : rows) {
        const RowData* data = rowData(row);
        if (data == nullptr) {
            LOG_WARN(L"Internal error. Poiner is equal null");
            return;
        }
        if (data->zone == target) continue;
        data->zone->removeElement(data->device);
        target->addElement(data->device);
    }
    editedDevice.reset();  // applied: what the device now has is shown
    updateCurrentZone();
}

void ZoneElementPanel::deleteOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::deleteOnButtonClick");
    const std::vector<long> rows = selectedRows();
    if (rows.empty()) {
        ui::messageBox(kNothingSelected, kCaption, wxOK);
        return;
    }
    if (!ui::askYesNo(wxString::Format(L"Удалить устройства? (%u шт)", static_cast<unsigned>(rows.size())),
                      kCaption))
        return;
    std::wstring kept;
    for (const long row : rows) {
        const RowData* data = rowData(row);
        if (data == nullptr) {
            LOG_WARN(L"Internal error. Poiner is equal null.");
            return;
        }
        if (!isDeviceUsed) {
            LOG_WARN(L"Internal error. Unavailable handler.");
            return;
        }
        const DevicePtr device = data->device;
        if (isDeviceUsed(device)) {
            kept += L"\"" + device->getTitle() + L"\"\n";
            continue;
        }
        // A loudspeaker a notice holds is given back first, and held no
        // more; the window does not wait for it.
        dismissLoudspeaker(device);
        // From every zone, not only the row's: a copy left elsewhere would
        // come back as a second device of the same address.
        removeFromZones(rootZone, device);
        deviceCollection->remove(device->getHardwareAddress());
    }
    if (!kept.empty())
        ui::messageBox(L"Устройства удалить не удалось:\n" + kept + L"т.к. используются в расписании",
                       kCaption, wxOK);
    updateCurrentZone();
}

void ZoneElementPanel::dismissLoudspeaker(const DevicePtr& device) {
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device);
    const std::shared_ptr<LoudspeakerLedger> ledger = LoudspeakerLedger::instance();
    if (!loudspeaker || !ledger) return;
    // Found again after the deletion, it is another object of the same
    // address: one that gave no answer is given back through it.
    const boost::weak_ptr<device::DeviceCollection> collection = deviceCollection;
    ledger->dismiss({loudspeaker}, [collection](const net::HardwareAddress& address) {
        const auto devices = collection.lock();
        return devices ? devices->searchForOrvel(address) : Loudspeaker();
    });
}

void ZoneElementPanel::removeFromZones(const ZoneElement::Ptr& zoneElement, const DevicePtr& device) {
    const net::HardwareAddress address = device->getHardwareAddress();
    const auto filed = [&zoneElement, &address] {
        const auto& devices = zoneElement->getDevices();
        return std::find_if(devices.begin(), devices.end(), [&address](const DevicePtr& d) {
                   return d->getHardwareAddress() == address;
               }) != devices.end();
    };
    while (filed()) zoneElement->removeElement(device);
    while (zoneElement->removePendingAddress(address)) {
    }
    for (const ZoneElement::Ptr& child : zoneElement->getZones()) removeFromZones(child, device);
}

// ---- buttons and size -----------------------------------------------------------------------

void ZoneElementPanel::runCallback(wxCommandEvent& event, const ButtonCallback& callback,
                                   const wchar_t* missing) {
    if (callback)
        callback(event);
    else
        LOG_WARN(missing);
}

void ZoneElementPanel::lockInterfaceOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::lockInterfaceOnButtonClick");
    runCallback(event, lockInterfaceCallback, L"Internal error. Don't callback for unlock interface click");
    Layout();
}

void ZoneElementPanel::generalPropertyOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::generalPropertyOnButtonClick");
    runCallback(event, generalPropertyCallback, L"Internal error. Don't callback for general property");
}

void ZoneElementPanel::devicePropertyOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::devicePropertyOnButtonClick");
    runCallback(event, devicePropertyCallback, L"Internal error. Don't callback for device property");
}

void ZoneElementPanel::lockAdminOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::lockAdminOnButtonClick");
    runCallback(event, lockAdminCallback, L"Internal error. Don't callback for unlock admin click");
    Layout();
}

void ZoneElementPanel::searchDevicesOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::ZoneElementPanel::searchDevicesOnButtonClick");
    // The search pings the gateway: it runs as a job, and only its failure comes back.
    const boost::shared_ptr<device::DeviceCollection> collection = deviceCollection;
    base::ThreadDispatcher::add(L"zone panel: search for devices", 0, [collection] {
        if (!collection->findLostDevices(true)) LOG_NOTICE(L"Не удалось запустить поиск устройств");
    });
}

void ZoneElementPanel::onSize(wxSizeEvent& event) {
    event.Skip();
    later([this] { relayoutCurrentZone(); });
}

void ZoneElementPanel::relayoutCurrentZone() {
    FRM_ASSERT_GUI_THREAD();
    const wxSize size = GetSize();
    if (size == lastSize) return;
    LOG_TRACE(L"%1%", L"update current zone");
    updateCurrentZone();
    lastSize = size;
}

}  // namespace frm
