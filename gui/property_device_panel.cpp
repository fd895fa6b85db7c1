#include "gui/property_device_panel.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <algorithm>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_guards.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "device/version.h"
#include "gui/gui_thread.h"
#include "gui/property_apply_report.h"

namespace frm {

namespace pages = property_pages;

PropertyDevicePanel::PropertyDevicePanel(wxWindow* parent,
                                         boost::shared_ptr<device::DeviceCollection> collection,
                                         ItemDataMap* items,
                                         boost::shared_ptr<device::TransferProtocol> transport,
                                         bool debugMode)
    : fb::PropertyDevicePanel(parent, wxID_ANY, wxDefaultPosition, wxSize(1503, 1217), wxTAB_TRAVERSAL,
                              wxEmptyString),
      m_transport(std::move(transport)),
      m_items(items),
      m_debugMode(debugMode),
      m_collection(std::move(collection)) {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::PropertyDevicePanel");
    panelExchange->Show(m_debugMode);
    buttonRebootMaster->Show(m_debugMode);
    checkBoxIgmp->Show(m_debugMode);

    buttonApply->Disable();
    buttonCancel->Disable();
    m_currentPage = pages::kCommon;
    panelTipDeviceSample->Hide();
    panelPasskeySample->Hide();

    listCtrlAudioFragment->SetWindowStyleFlag(wxLC_REPORT | wxLC_HRULES | wxLC_SINGLE_SEL);
    for (const wchar_t* column : {L"№", L"Название", L"Размер", L"Путь к файлу"})
        listCtrlAudioFragment->AppendColumn(column);
    listCtrlAudioScenario->SetWindowStyleFlag(wxLC_REPORT | wxLC_HRULES | wxLC_SINGLE_SEL);
    for (const wchar_t* column : {L"№", L"Название", L"Гонг", L"Фрагмент", L"Повторять (сек)"})
        listCtrlAudioScenario->AppendColumn(column);
    m_audioSelection = 0xFFFFFFFF;

    m_bandSliders = {sliderBand1, sliderBand2, sliderBand3, sliderBand4, sliderBand5, sliderBand6};
    for (wxSlider* band : m_bandSliders) {
        band->SetRange(-10, 0);
        band->SetValue(0);
    }

    buttonResetPref->Disable();
    staticVersionValue->Hide();
    buttonExchange->SetClientData(textCommand);
    buttonDebugExchange->SetClientData(textDebugExchange);

    for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i) {
        wxWindow* page = notebookPref->GetPage(i);
        m_pages[page->GetId()] = Page{notebookPref->GetPageText(i), page};
    }

    staticPasskeyHint->Hide();
    panelCommon->Layout();
    panelNetwork->Layout();

    // Made insensitive while the notebook lays out or switches its pages,
    // GTK's text views crash: the page being read is greyed from a timer,
    // after the event that started the read.
    m_readingTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        if (!m_reading || m_reading->quiet) return;
        setPageState(L"Чтение…");
        if (const auto reading = m_pages.find(m_reading->page); reading != m_pages.end())
            reading->second.window->Disable();
    });
}

PropertyDevicePanel::~PropertyDevicePanel() {
    LOG_TRACE2(L"%1%", L"PropertyDevicePanel::~PropertyDevicePanel() begin");
    // A read under way ends at its next exchange; what it would hand over
    // finds the panel gone.
    ++*m_shown;
    m_worker.stop();
    m_readingTimer.Stop();
    // Nothing may reach this half-destroyed object any more: the event table
    // goes first, then the controls, whose destruction (of a filled list, say)
    // still sends events.
    m_connections.disconnectAll();
    DestroyChildren();
    if (m_transport && !m_shuttingDown) m_transport->clearConsoleMonitors();
    m_transport.reset();
    LOG_TRACE2(L"%1%", L"PropertyDevicePanel::~PropertyDevicePanel() end");
}

// ---- what the main window calls ---------------------------------------------------------

void PropertyDevicePanel::setCallbacks(std::function<void()> close, std::function<void()> afterApply) {
    m_afterApply = std::move(afterApply);
    m_close = [this, close = std::move(close)] {
        killFocus();
        close();
    };
}

void PropertyDevicePanel::imbueDevice(const DevicePtr& device) {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::imbueDevice");
    debug::throwIfFalse(static_cast<bool>(device), "frm::PropertyDevicePanel::imbueDevice");
    // What was read of another device is no read of this one, and a read of
    // it under way fills nothing.
    if (device != m_device) {
        m_pagesRead.clear();
        m_fragmentTexts.clear();
        m_editStamps.clear();
        bumpView();
    }
    m_device = device;
}

page_jobs::HandOver PropertyDevicePanel::guiHandOver() {
    return [](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); };
}

void PropertyDevicePanel::bumpView() {
    ++*m_shown;
    if (m_reading) {
        // The page it was filling stays disabled until its own read, if any,
        // comes; the bar no longer speaks of it.
        m_reading.reset();
        setPageState(wxEmptyString);
    }
}

page_jobs::Wanted PropertyDevicePanel::wantedFor(std::uint64_t ticket) const {
    return [shown = m_shown, ticket] { return shown->load() == ticket; };
}

bool PropertyDevicePanel::fillWanted(const DevicePtr& device, int page, std::uint64_t ticket) const {
    return !m_shuttingDown && m_reading && m_reading->ticket == ticket && m_shown->load() == ticket &&
           m_device == device && m_currentPage == page;
}

void PropertyDevicePanel::setPageState(const wxString& text) {
    if (staticPageState->GetLabel() == text) return;
    staticPageState->SetLabel(text);
    panelButtons->Layout();
}

void PropertyDevicePanel::reloadPage(bool editPending) {
    FRM_ASSERT_GUI_THREAD();
    if (m_reading) bumpView();
    updateData();
    if (editPending && m_reading) m_reading->editPending = true;
}

void PropertyDevicePanel::updateData() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::updateData");
    if (m_shuttingDown) return;
    if (m_updating) {
        LOG_DEBUG(L"skip the update data for current tab is %1%", m_currentPage);
        return;
    }
    m_updating = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_updating};

    if (!m_device) return;
    LOG_TRACE(L"update data, current tab %1%", m_currentPage);
    // A device that does not answer is neither read nor shown: the panel
    // closes.
    if (!isOnlineDevices()) return;
    debug::throwIfFalse(m_device && m_transport, "frm::PropertyDevicePanel::updateData");
    m_transport->setConsoleMonitor(m_device->getIp(),
                                   [this](const std::string& text, bool) { toConsoleLog(text); });
    layoutTabs();
    staticDeviceName->SetLabel(m_device->getTitle());
    panelButtons->Layout();

    if (const char* name = pages::logName(m_currentPage)) LOG_TRACE(L"%1%", name);
    fillCurrentPage();
    LOG_TRACE(L"%1%", L"property data is updated");
}

void PropertyDevicePanel::fillCurrentPage(bool quiet) {
    FRM_ASSERT_GUI_THREAD();
    const int page = m_currentPage;
    // A second open of the device (or a refresh) while its page is read
    // waits for that read instead of queueing another behind it.
    if (m_reading && m_reading->device == m_device && m_reading->page == page &&
        m_reading->ticket == m_shown->load()) {
        LOG_DEBUG(L"the page %1% is being read already: its read fills it", page);
        return;
    }
    const auto shown = m_pages.find(page);
    if (page == pages::kDebugMessage) {
        // Only settings and the chain of its own requests: no read to wait for.
        m_pagesRead.erase(page);
        if (shown != m_pages.end()) shown->second.window->Enable();
        try {
            fillDebugPage();
        } catch (...) {
            failPage(page);
            throw;
        }
        m_pagesRead.insert(page);
        return;
    }
    m_reading = Reading{m_device, page, m_shown->load(), quiet};
    if (!quiet) {
        // Nothing the last fill left, for this device or the one before,
        // stays to be seen or applied while the page is read; a read that
        // takes a while greys the page and says so.
        m_pagesRead.erase(page);
        clearPage(page, true);
        enableEditButtons(false);
        m_readingTimer.StartOnce(static_cast<int>(
            std::max<std::chrono::milliseconds::rep>(m_pagePeriods.readingShown.count(), 1)));
    }
    switch (page) {
        case pages::kCommon:
            fillCommonPage();
            break;
        case pages::kAudioMemory:
            fillAudioMemoryPage(false);
            break;
        case pages::kNetwork:
            fillNetworkPage();
            break;
        case pages::kZarno:
            fillZarnoPage();
            break;
        case pages::kSource:
            fillSourcePage();
            break;
        case pages::kLineControl:
            fillLineControlPage();
            break;
        case pages::kPasskey:
            fillPasskeyPage();
            break;
        case pages::kZones:
            fillZoneTargets();
            break;
        case pages::kLinkedConsoles:
            fillLinkedConsoles();
            break;
        default:
            m_reading.reset();
            setPageState(wxEmptyString);
            if (shown != m_pages.end()) shown->second.window->Enable();
            break;
    }
}

namespace {

/// What the operator left in one control of a page, taken before a fill and
/// put back after it without an event. Spin fields keep their text as typed
/// (letters included); a choice or a list of entries keeps the entry by its
/// text, for a fill may have made the entries anew (an entry no longer
/// there leaves the fill's choice).
struct KeptValue {
    wxWindow* control = nullptr;
    wxString text;
    int number = 0;
};

KeptValue keep(wxWindow* control) {
    KeptValue kept;
    kept.control = control;
    if (auto* field = dynamic_cast<fb::NumberSpin*>(control))
        kept.text = field->typedText();
    else if (auto* spin = dynamic_cast<wxSpinCtrl*>(control))
        kept.text = spin->GetTextValue();
    else if (auto* text = dynamic_cast<wxTextCtrl*>(control))
        kept.text = text->GetValue();
    else if (auto* combo = dynamic_cast<wxComboBox*>(control))
        kept.text = combo->GetValue();
    else if (auto* choice = dynamic_cast<wxChoice*>(control))
        kept.text = choice->GetSelection() == wxNOT_FOUND ? wxString() : choice->GetStringSelection();
    else if (auto* box = dynamic_cast<wxCheckBox*>(control))
        kept.number = box->GetValue() ? 1 : 0;
    else if (auto* toggle = dynamic_cast<wxToggleButton*>(control))
        kept.number = toggle->GetValue() ? 1 : 0;
    else if (auto* slider = dynamic_cast<wxSlider*>(control))
        kept.number = slider->GetValue();
    else
        kept.control = nullptr;  // nothing the operator edits
    return kept;
}

void putBack(const KeptValue& kept) {
    wxWindow* control = kept.control;
    if (auto* field = dynamic_cast<fb::NumberSpin*>(control)) {
        if (field->GetTextValue() != kept.text) field->showTypedText(kept.text);
    } else if (auto* spin = dynamic_cast<wxSpinCtrl*>(control)) {
        if (spin->GetTextValue() != kept.text) spin->SetValue(kept.text);
    } else if (auto* text = dynamic_cast<wxTextCtrl*>(control)) {
        text->ChangeValue(kept.text);
    } else if (auto* combo = dynamic_cast<wxComboBox*>(control)) {
        const int entry = combo->FindString(kept.text, true);
        if (entry != wxNOT_FOUND)
            combo->SetSelection(entry);
        else if (!combo->HasFlag(wxCB_READONLY))
            combo->ChangeValue(kept.text);
    } else if (auto* choice = dynamic_cast<wxChoice*>(control)) {
        const int entry = kept.text.empty() ? wxNOT_FOUND : choice->FindString(kept.text, true);
        if (kept.text.empty() || entry != wxNOT_FOUND) choice->SetSelection(entry);
    } else if (auto* box = dynamic_cast<wxCheckBox*>(control)) {
        box->SetValue(kept.number != 0);
    } else if (auto* toggle = dynamic_cast<wxToggleButton*>(control)) {
        toggle->SetValue(kept.number != 0);
    } else if (auto* slider = dynamic_cast<wxSlider*>(control)) {
        slider->SetValue(kept.number);
    }
}

/// The windows under `window`, at any depth.
void descendants(wxWindow* window, std::vector<wxWindow*>& found) {
    for (wxWindow* child : window->GetChildren()) {
        found.push_back(child);
        descendants(child, found);
    }
}

}  // namespace

void PropertyDevicePanel::noteEdit(wxObject* control) {
    if (m_filling || control == nullptr) return;
    m_editStamps[control] = ++m_edits;
}

bool PropertyDevicePanel::editedSince(const wxObject* control, std::uint64_t mark) const {
    const auto found = m_editStamps.find(control);
    return found != m_editStamps.end() && found->second > mark;
}

std::vector<wxWindow*> PropertyDevicePanel::editedControls(int page) const {
    std::vector<wxWindow*> edited;
    const auto found = m_pages.find(page);
    if (found == m_pages.end() || m_editStamps.empty()) return edited;
    std::vector<wxWindow*> controls;
    descendants(found->second.window, controls);
    // Looked up by address only: a control that has gone since its edit is
    // never touched.
    for (wxWindow* control : controls)
        if (m_editStamps.count(control) != 0) edited.push_back(control);
    return edited;
}

void PropertyDevicePanel::followEdits(int page) {
    switch (page) {
        case pages::kNetwork:
            for (wxTextCtrl* field : {textIp, textMask, textGateway})
                field->Enable(!checkBoxDhcp->GetValue());
            textAllowIp->Enable(checkBoxAllowIp->GetValue());
            break;
        case pages::kCommon:
            if (boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
                const bool fire = choiceTovikType->GetSelection() != 0;
                checkBoxSinglePowerSource->Enable(!fire);
                checkBoxFaultSound->Enable(!fire);
                checkBoxAnalogInput->Enable(fire);
                choicePower2->Enable(fire || !checkBoxSinglePowerSource->GetValue());
            }
            break;
        case pages::kZarno:
            if (m_device && m_device->isTypeOf(device::kMaskLanFamily))
                checkBoxLineRedundancy->Enable(checkBoxIsTestZarno->GetValue());
            break;
        case pages::kSource:
            initSource(checkBoxStreamFromOthers->GetValue(), checkBoxForwardInput1->GetValue(),
                       checkBoxForwardInput2->GetValue());
            break;
        default:
            break;
    }
}

void PropertyDevicePanel::endFill(int page, const std::exception_ptr& error,
                                  const std::function<bool()>& show) {
    FRM_ASSERT_GUI_THREAD();
    const bool editPending = m_reading && m_reading->editPending;
    m_reading.reset();
    m_readingTimer.Stop();
    setPageState(wxEmptyString);
    const auto shown = m_pages.find(page);
    if (shown != m_pages.end()) shown->second.window->Enable();
    if (error) {
        failPage(page);
        page_jobs::reportFailure(error);
        return;
    }
    // What the operator changed on the page and has neither applied nor
    // cancelled is no value of the device's: it stays, and only the rest is
    // filled.
    std::vector<KeptValue> kept;
    for (wxWindow* control : editedControls(page))
        if (const KeptValue value = keep(control); value.control) kept.push_back(value);
    // Filling the controls sends events of its own (a choice refilled, a page
    // laid out): none of them may start another fill meanwhile, nor count as
    // the operator's edit.
    const bool updating = m_updating;
    m_updating = true;
    m_filling = true;
    bool read = false;
    try {
        read = show();
        for (const KeptValue& value : kept) putBack(value);
        if (!kept.empty()) followEdits(page);
    } catch (...) {
        m_updating = updating;
        m_filling = false;
        failPage(page);
        page_jobs::reportFailure(std::current_exception());
        return;
    }
    m_updating = updating;
    m_filling = false;
    if (!read) {
        failPage(page);
        return;
    }
    m_pagesRead.insert(page);
    if (editPending || !kept.empty()) enableEditButtons(true);
}

namespace {

/// Empties the controls under `window` that show a device's values, without
/// an event: texts and spin fields go blank, boxes unticked, choices and
/// lists unselected, lists emptied, sliders at their lowest. The windows of
/// `kept` and what they hold stay as they are.
void emptyControls(wxWindow* window, const std::vector<wxWindow*>& kept) {
    for (wxWindow* child : window->GetChildren()) {
        if (std::find(kept.begin(), kept.end(), child) != kept.end()) continue;
        if (auto* text = dynamic_cast<wxTextCtrl*>(child)) {
            text->ChangeValue(wxEmptyString);
        } else if (auto* spin = dynamic_cast<wxSpinCtrl*>(child)) {
            spin->SetValue(wxEmptyString);
        } else if (auto* combo = dynamic_cast<wxComboBox*>(child)) {
            combo->SetSelection(wxNOT_FOUND);
            if (!combo->HasFlag(wxCB_READONLY)) combo->ChangeValue(wxEmptyString);
        } else if (auto* choice = dynamic_cast<wxChoice*>(child)) {
            choice->SetSelection(wxNOT_FOUND);
        } else if (auto* box = dynamic_cast<wxCheckBox*>(child)) {
            box->SetValue(false);
        } else if (auto* slider = dynamic_cast<wxSlider*>(child)) {
            slider->SetValue(slider->GetMin());
            slider->UnsetToolTip();
        } else if (auto* list = dynamic_cast<wxListCtrl*>(child)) {
            list->DeleteAllItems();
        }
        emptyControls(child, kept);
    }
}

/// Destroys the rows a page built in `list`; the layout's sample stays.
void destroyRows(wxWindow* list, wxWindow* sample) {
    wxWindowList rows = list->GetChildren();
    for (wxWindow* row : rows)
        if (row != sample) row->Destroy();
}

}  // namespace

void PropertyDevicePanel::clearPage(int page, bool keepEdits) {
    FRM_ASSERT_GUI_THREAD();
    const auto found = m_pages.find(page);
    if (found == m_pages.end()) return;
    // What the operator changed and has neither applied nor cancelled stays
    // while the page is read again.
    std::vector<wxWindow*> edited = keepEdits ? editedControls(page) : std::vector<wxWindow*>();
    const auto keeping = [&edited](std::initializer_list<wxWindow*> more) {
        std::vector<wxWindow*> kept(more);
        kept.insert(kept.end(), edited.begin(), edited.end());
        return kept;
    };
    switch (page) {
        case pages::kCommon:
            // The operator's own command rows are no value of a device; the
            // answer to one is.
            emptyControls(found->second.window, keeping({panelExchange}));
            textExchangeAnswer->ChangeValue(wxEmptyString);
            break;
        case pages::kAudioMemory:
            emptyControls(found->second.window, keeping({}));
            m_audioSelection = 0xFFFFFFFF;
            m_fragmentRow = -1;
            m_scenarioRow = -1;
            break;
        case pages::kLineControl:
            clearTipRows();
            staticVersion->SetLabel(wxEmptyString);
            staticVersionValue->SetLabel(wxEmptyString);
            staticVersionValue->Hide();
            emptyControls(found->second.window, keeping({panelTipDeviceSample}));
            break;
        case pages::kPasskey:
            destroyRows(scrolledPasskeys, panelPasskeySample);
            staticPasskeyHint->Hide();
            toggleAccessControl->SetValue(false);
            break;
        case pages::kDebugMessage:
            // The history and what the drawing shows; the request kind, the
            // period, "Line error" and the operator's commands stay.
            for (wxTextCtrl* field : {textDebugUpper, textDebugLower, textDebugLog})
                field->ChangeValue(wxEmptyString);
            sliderVolume->SetValue(sliderVolume->GetMin());
            sliderVolume->UnsetToolTip();
            setDebugText(std::wstring());
            break;
        case pages::kZones:
        case pages::kLinkedConsoles:
            emptyControls(found->second.window,
                          keeping({checkBoxZoneTargetSample, checkBoxLinkedConsoleSample}));
            // While the page is read: neither the layout's sample row nor a
            // repair or a note that the last device needed.
            checkBoxZoneTargetSample->Hide();
            checkBoxLinkedConsoleSample->Hide();
            buttonFixZoneIntegrity->Hide();
            buttonFixLinkIntegrity->Hide();
            staticZoneNote->Hide();
            found->second.window->Layout();
            break;
        default:
            emptyControls(found->second.window,
                          keeping({checkBoxZoneTargetSample, checkBoxLinkedConsoleSample}));
            break;
    }
}

void PropertyDevicePanel::failPage(int page) {
    FRM_ASSERT_GUI_THREAD();
    LOG_DEBUG(L"the page %1% is not read from the device: it is emptied and disabled", page);
    m_pagesRead.erase(page);
    // Nothing of the page can be applied: the operator's edits go with it.
    m_editStamps.clear();
    // The line page's notice (an unavailable loudspeaker, the module's
    // refusal) is what the page has to say: it stays.
    const wxString notice = page == pages::kLineControl && staticVersionValue->IsShown()
                                ? staticVersionValue->GetLabel()
                                : wxString();
    const auto found = m_pages.find(page);
    if (found == m_pages.end()) return;
    switch (page) {
        case pages::kAudioMemory:
            // Edits of a memory that is not shown can't be applied.
            m_audioControl.reset();
            m_fragmentTexts.clear();
            break;
        case pages::kZones:
            destroyRows(scrolledZoneTargets, checkBoxZoneTargetSample);
            comboBoxZoneMode->Clear();
            for (wxSizerItem* item : sizerZoneButtons->GetChildren())
                if (wxWindow* button = item->GetWindow()) button->SetBackgroundColour(wxNullColour);
            buttonFixZoneIntegrity->Hide();
            staticZoneNote->Hide();
            break;
        case pages::kLinkedConsoles:
            destroyRows(scrolledLinkedConsoles, checkBoxLinkedConsoleSample);
            buttonFixLinkIntegrity->Hide();
            break;
        case pages::kDebugMessage:
            leaveDebugPage();
            // A command typed for another device goes too; "Line error" is
            // the operator's setting.
            emptyControls(found->second.window, {checkBoxLineError});
            break;
        default:
            break;
    }
    clearPage(page);
    if (!notice.empty()) {
        staticVersionValue->SetLabel(notice);
        staticVersionValue->Show();
    }
    found->second.window->Disable();
    found->second.window->Layout();
    enableEditButtons(false);
}

void PropertyDevicePanel::refreshZonePage() {
    FRM_ASSERT_GUI_THREAD();
    // The ticks of a zone being edited wait for Apply or Cancel: a refill
    // for every device that changes would throw them away.
    const bool zones = m_currentPage == pages::kZones && !buttonApply->IsEnabled();
    if (!zones && m_currentPage != pages::kLinkedConsoles) return;
    if (!m_device || m_updating || m_applying || m_shuttingDown) return;
    // A page whose read failed is read as a whole again; a page read before
    // is refilled in place (its rows are reused).
    fillCurrentPage(pageRead(m_currentPage));
}

void PropertyDevicePanel::killFocus() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::killFocus");
    leaveTab();
    bumpView();
    storeLineErrorChoice();
    m_device.reset();
    m_audioControl.reset();
    m_pagesRead.clear();
    if (m_transport) m_transport->clearConsoleMonitors();
}

void PropertyDevicePanel::shutdown() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%", L"PropertyDevicePanel::shutdown() begin");
    m_shuttingDown = true;
    bumpView();
    // The transport has stopped by now: the exchange under way ends at once,
    // and the tasks not yet begun are dropped.
    m_worker.stop();
    if (m_transport) m_transport->clearConsoleMonitors();
    m_bandSliders.clear();
    m_equalizer.reset();
    m_close = nullptr;
    m_afterApply = nullptr;
    shutdownDebugPage();
    m_pages.clear();
    LOG_TRACE(L"%1%", L"PropertyDevicePanel::shutdown() 1");
    m_fragmentTexts.clear();
    m_audioControl.reset();
    LOG_TRACE(L"%1%", L"PropertyDevicePanel::shutdown() 2");
    m_device.reset();
    storeLineErrorChoice();
    LOG_TRACE(L"%1%", L"PropertyDevicePanel::shutdown() end");
}

// ---- pages --------------------------------------------------------------------------------

void PropertyDevicePanel::layoutTabs() {
    FRM_ASSERT_GUI_THREAD();
    const std::uint64_t type = m_device->getTypeCode();
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    const int versionIndex = loudspeaker ? loudspeaker->getVersionIndex() : 0;
    const pages::PageSet chosen = pages::pageSet(type, versionIndex, m_debugMode);
    // The set, not the type code, decides: two loudspeakers of one type
    // differ in their pages when their firmware generations do.
    if (m_laidOut && chosen == m_lastPages) return;

    LOG_TRACE(L"do layout for device type '%1%'", device::toText(type));
    {
        GuiFreezer freeze(notebookPref);
        while (notebookPref->GetPageCount() > 0) notebookPref->RemovePage(notebookPref->GetPageCount() - 1);

        bool currentInserted = false;
        for (const int id : pages::pageSet(type, versionIndex, true)) {
            if (id == pages::kDebugMessage && !m_debugMode) {
                LOG_TRACE(L"%1%", L"debug mode is disabled, skip debug page");
                continue;
            }
            const auto page = m_pages.find(id);
            if (page == m_pages.end()) continue;
            const bool shown = id == m_currentPage;
            const std::size_t position = notebookPref->GetPageCount();
            notebookPref->InsertPage(position, page->second.window, page->second.label, shown);
            currentInserted = currentInserted || shown;
            LOG_TRACE(L"add tab %1%,%2%(%3%)='%4%'", position, id, shown ? L"show" : L"no",
                      page->second.label.ToStdWstring());
        }
        if (!chosen.empty() && !currentInserted) {
            LOG_TRACE(L"%1%", L"change tab to default");
            m_currentPage = pages::kCommon;
            bumpView();
            notebookPref->SetSelection(0);
        }
        m_lastPages = chosen;
        m_laidOut = true;
    }
}

void PropertyDevicePanel::notebookPrefOnNotebookPageChanged(wxBookCtrlEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::notebookPrefOnNotebookPageChanged");
    if (notebookPref->IsFrozen()) {
        LOG_TRACE(L"%1%", L"skip tab changing");
        return;
    }
    leaveTab();
    const int selection = event.GetSelection();
    debug::throwIfFalse(selection != wxNOT_FOUND,
                        "frm::PropertyDevicePanel::notebookPrefOnNotebookPageChanged");
    wxWindow* page = notebookPref->GetPage(static_cast<std::size_t>(selection));
    m_currentPage = page->GetId();
    bumpView();
    LOG_TRACE(L"change tab to %1%[%2%]", selection, m_currentPage);
    // The notebook shows only its selected page; a page hidden here would
    // lose its tab on GTK.
    page->Show();
    updateData();
}

void PropertyDevicePanel::leaveTab() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::leaveTab");
    buttonApply->Disable();
    buttonCancel->Disable();
    // The page's edits are given up with it.
    m_editStamps.clear();
    // A device that does not answer must not keep the operator on the page.
    const auto guarded = [](const auto& step) {
        try {
            step();
        } catch (const exception::Base& e) {
            LOG_WARN(L"%1%", base::toWide(e.what()));
        }
    };
    switch (m_currentPage) {
        case pages::kAudioMemory:
            // The revert reads the device again: on the worker.
            guarded([this] {
                if (m_audioControl && m_audioControl->hasChanges()) revertAudioMemory(false);
            });
            break;
        case pages::kPasskey:
            if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
                runJob<page_jobs::Done>(
                    page_jobs::Wanted(),
                    [console](const page_jobs::Wanted&) {
                        if (console->isPasskeyListening()) console->finishPasskeyListening();
                        return page_jobs::Done();
                    },
                    [](const page_jobs::Outcome<page_jobs::Done>& outcome) {
                        // A device that does not answer must not keep the
                        // operator on the page: only the log hears of it.
                        if (!outcome.error) return;
                        try {
                            std::rethrow_exception(outcome.error);
                        } catch (const exception::Base& e) {
                            LOG_WARN(L"%1%", base::toWide(e.what()));
                        } catch (...) {
                            page_jobs::reportFailure(std::current_exception());
                        }
                    });
            }
            removeJob(m_passkeyJob);
            break;
        case pages::kLineControl:
            removeJob(m_requestJob);
            break;
        case pages::kDebugMessage:
            leaveDebugPage();
            break;
        default:
            break;
    }
}

void PropertyDevicePanel::removeJob(std::atomic<std::uint32_t>& job) {
    if (base::ThreadDispatcher::instance() != nullptr) base::ThreadDispatcher::remove(job.exchange(0));
}

void PropertyDevicePanel::storeLineErrorChoice() {
    if (g_pref == nullptr) return;
    pref::Guard guard(g_pref);
    pref::create(g_pref, "debug.requestLineError", pref::Type::TypeBoolean) = checkBoxLineError->GetValue();
}

void PropertyDevicePanel::editPending(wxEvent& event, bool goOn) {
    noteEdit(event.GetEventObject());
    buttonApply->Enable();
    buttonCancel->Enable();
    event.Skip(goOn);
}

// ---- handlers -------------------------------------------------------------------------------

void PropertyDevicePanel::onValueChanged(wxKeyEvent& event) { editPending(event, true); }
void PropertyDevicePanel::onCheckBoxOption(wxCommandEvent& event) { editPending(event, true); }
void PropertyDevicePanel::lineModeOnChoice(wxCommandEvent& event) { editPending(event, true); }
void PropertyDevicePanel::onChoiceChanged(wxCommandEvent& event) { editPending(event, false); }
void PropertyDevicePanel::powerInputOnChoice(wxCommandEvent& event) { editPending(event, true); }
void PropertyDevicePanel::fieldOnChar(wxKeyEvent& event) { editPending(event, true); }
void PropertyDevicePanel::fieldOnSpinCtrl(wxSpinEvent& event) { editPending(event, true); }
void PropertyDevicePanel::fieldOnText(wxCommandEvent& event) { editPending(event, true); }

void PropertyDevicePanel::zarnoAddressOnSpinCtrl(wxSpinEvent& event) { editPending(event, false); }
void PropertyDevicePanel::relayEventsOnCheckBox(wxCommandEvent& event) { editPending(event, false); }

void PropertyDevicePanel::closeOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::closeOnButtonClick");
    if (!m_close) throw exception::InternalError(L"Не установлен обработчки закрытия панели");
    m_close();
}

}  // namespace frm
