// The broadcast-zone page ("Зоны трансляции") of a microphone console and the
// linked-console page ("Связанные консоли") of a loudspeaker: the bindings of
// console zones to loudspeakers that the device collection keeps, their
// repair, and the apply of one zone's binding.
//
// Threads: the GUI thread only; the device reads block it as every page's
// fill does. The colours and rows come from zone_page (no window).

#include <wx/tglbtn.h>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/wx/gui_guards.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "gui/gui_thread.h"
#include "gui/property_device_panel.h"
#include "gui/ui.h"
#include "gui/zone_page_model.h"

namespace frm {

namespace {

using zone_page::RowTone;
using zone_page::ZoneTone;

const wxString kMicrophone = L"Вещание с микрофона";

wxColour zoneColour(ZoneTone tone) {
    switch (tone) {
        case ZoneTone::kActivated:
            return wxColour(255, 0, 0);
        case ZoneTone::kBroken:
            return wxColour(255, 216, 0);
        case ZoneTone::kMicrophone:
            return wxColour(143, 250, 129);
        case ZoneTone::kMessage:
            return wxColour(34, 208, 9);
        default:
            return wxNullColour;
    }
}

wxColour rowColour(RowTone tone) {
    switch (tone) {
        case RowTone::kAnswering:
            return wxColour(0, 0, 0);
        case RowTone::kBroken:
            return wxColour(238, 202, 0);
        default:
            return wxColour(158, 158, 158);
    }
}

/// Destroys the rows of a list but the layout's sample, which stays hidden.
void clearRows(wxWindow* list, wxWindow* sample) {
    sample->Hide();
    wxWindowList rows = list->GetChildren();
    for (wxWindow* row : rows)
        if (row != sample) row->Destroy();
}

/// A loudspeaker's audio memory, or none when it cannot be read (logged).
boost::shared_ptr<device::memory::IAudioControl> memoryOf(
    const boost::shared_ptr<device::OrvelInfo>& loudspeaker) {
    try {
        return loudspeaker->getAudioControl(false, true);
    } catch (const exception::Base& e) {
        LOG_INFO(L"The audio memory of device id=%1% is not read: %2%", loudspeaker->getId(),
                 base::toWide(e.what()));
        return boost::shared_ptr<device::memory::IAudioControl>();
    }
}

wxFont rowFont() { return wxFont(11, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL); }

std::wstring translated(const std::wstring& codeWord) { return wxGetTranslation(codeWord).ToStdWstring(); }

/// The integrity check over every online device; empty when a device could
/// not be read (logged): one silent loudspeaker must not close the pages of
/// every console, which the main window refills on its periodic refresh.
device::DeviceCollection::BrokenZonesReport brokenBindings(device::DeviceCollection& collection) {
    try {
        return collection.searchForDevicesWithBrokenTranslationZones();
    } catch (const exception::Base& e) {
        LOG_INFO(L"The zone bindings are not checked: %1%", base::toWide(e.what()));
        return device::DeviceCollection::BrokenZonesReport();
    }
}

}  // namespace

void PropertyDevicePanel::useRowFont(wxControl* control, const wxFont& given) {
    // "Courier New" 11 by default; the family brings the installed
    // monospace face, which covers Cyrillic.
    const wxFont font =
        given.IsOk() ? given : wxFont(11, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL);
    const wxString text = control->GetLabelText();
    int width = 0, height = 0;
    control->GetTextExtent(text, &width, &height, nullptr, nullptr, &font);
    if (dynamic_cast<wxStaticText*>(control) != nullptr) {
        control->SetFont(font);
        control->SetMinSize(wxSize(width, height));
        return;
    }
    // What the control adds to its text (a check box's indicator), measured
    // in the font it has now.
    const wxSize before = control->GetBestSize();
    int oldWidth = 0, oldHeight = 0;
    control->GetTextExtent(text, &oldWidth, &oldHeight);
    control->SetFont(font);
    control->SetMinSize(
        wxSize(before.x - oldWidth + width, std::max(before.y, before.y - oldHeight + height)));
}

// ---- "Зоны трансляции" ------------------------------------------------------------------------

void PropertyDevicePanel::fillZoneTargets() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::fillZoneTargets");
    GuiFreezer freeze(panelZones);
    // The check boxes of the last fill are kept and given the new rows'
    // texts, marks and loudspeakers: a console's page with a thousand rows
    // is refilled whenever a device changes, and making the boxes anew is
    // what takes the time. Anything else in the list goes.
    checkBoxZoneTargetSample->Hide();
    std::vector<wxCheckBox*> boxes;
    {
        wxWindowList children = scrolledZoneTargets->GetChildren();
        for (wxWindow* child : children) {
            if (child == checkBoxZoneTargetSample) continue;
            if (auto* box = dynamic_cast<wxCheckBox*>(child))
                boxes.push_back(box);
            else
                child->Destroy();
        }
    }
    // The rows take the list's font and colour as they are made.
    if (!scrolledZoneTargets->GetFont().IsSameAs(rowFont())) {
        scrolledZoneTargets->SetOwnFont(rowFont());
        scrolledZoneTargets->SetOwnForegroundColour(rowColour(RowTone::kAnswering));
    }
    buttonResetZones->Enable();
    buttonRemoveZone->Disable();
    staticZoneNote->Hide();
    buttonFixZoneIntegrity->Hide();

    std::size_t used = 0;
    if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
        const device::TovikInfo::State state = console->getState();
        const device::DeviceCollection::BrokenZonesReport report = brokenBindings(*m_collection);
        const device::ConsoleZoneMap zones = console->getZones();
        const auto entry = report.find(m_device);
        const zone_page::BrokenZones* broken = entry == report.end() ? nullptr : &entry->second;

        const zone_page::ZoneMasks masks{state.boundZones, state.connectedZones, state.activatedZones};
        for (wxSizerItem* item : sizerZoneButtons->GetChildren()) {
            auto* button = dynamic_cast<wxToggleButton*>(item->GetWindow());
            debug::throwIfFalse(button != nullptr, "frm::PropertyDevicePanel::fillZoneTargets");
            const int number = std::stoi(button->GetLabel().ToStdWstring());
            button->SetBackgroundColour(zoneColour(zone_page::zoneTone(number, masks, broken, zones)));
            button->Refresh();
            if (button->GetValue()) m_currentZone = number;
        }

        const device::ConsoleZone zone = zone_page::zoneRecord(zones, m_currentZone);
        if (!zone.addresses.empty()) buttonRemoveZone->Enable();

        const std::vector<boost::shared_ptr<device::OrvelInfo>> loudspeakers = m_collection->getOrvels(false);
        std::vector<zone_page::Loudspeaker> facts;
        for (const auto& loudspeaker : loudspeakers)
            facts.push_back({loudspeaker->getHardwareAddress().getLow(), loudspeaker->getVersionIndex(),
                             loudspeaker->isOnlineAndAnswered(), loudspeaker->getTitle(),
                             base::toWide(loudspeaker->getHardwareAddress().toCharArray())});
        bool listed = false;
        boost::shared_ptr<device::memory::IAudioControl> messages;
        for (const zone_page::TargetRow& row : zone_page::targetRows(
                 facts, zone, zone_page::brokenTargets(broken, m_currentZone), m_debugMode)) {
            const wxString label = wxControl::EscapeMnemonics(row.label);
            wxCheckBox* box = used < boxes.size() ? boxes[used] : nullptr;
            ++used;
            if (box == nullptr) {
                box = new wxCheckBox(scrolledZoneTargets, wxID_ANY, label);
                box->Bind(wxEVT_CHECKBOX, &PropertyDevicePanel::selectOrvelInZoneOnCheckBox, this);
                sizerZoneTargets->Add(box, 0, wxALL, 5);
            } else if (box->GetLabel() != label) {
                box->SetLabel(label);
                box->SetInitialSize();  // the new label's size
            }
            box->SetValue(row.checked);
            const wxColour colour = rowColour(row.tone);
            if (box->GetForegroundColour() != colour) box->SetForegroundColour(colour);
            // A target the collection does not know carries no loudspeaker.
            if (!row.loudspeaker) {
                box->SetClientObject(nullptr);
                continue;
            }
            const boost::shared_ptr<device::OrvelInfo>& loudspeaker = loudspeakers[*row.loudspeaker];
            box->SetClientObject(new TranslationZoneData(loudspeaker));
            listed = true;
            // The messages offered are those of the first listed loudspeaker
            // that answers and whose memory can be read.
            if (!messages && loudspeaker->isOnlineAndAnswered()) messages = memoryOf(loudspeaker);
        }

        offerZoneMessages(messages);
        if (zone.scenario == -1) {
            comboBoxZoneMode->SetSelection(0);
        } else if (messages && zone.scenario < static_cast<int>(comboBoxZoneMode->GetCount())) {
            comboBoxZoneMode->SetSelection(zone.scenario);
        } else {
            comboBoxZoneMode->SetSelection(wxNOT_FOUND);
        }
        comboBoxZoneMode->Enable(console->getConfig(false).purpose() == 1);
        if (!listed) {
            auto* none =
                new wxStaticText(scrolledZoneTargets, wxID_ANY, L"Нет совместимого устройства в сети");
            sizerZoneTargets->Add(none, 0, wxALL, 5);
        }
        buttonFixZoneIntegrity->Show(broken != nullptr);
        buttonFixZoneIntegrity->Enable();
    }
    for (std::size_t n = used; n < boxes.size(); ++n) boxes[n]->Destroy();
    scrolledZoneTargets->FitInside();
    scrolledZoneTargets->Layout();
    panelZones->Layout();
}

void PropertyDevicePanel::offerZoneMessages(const boost::shared_ptr<device::memory::IAudioControl>& memory) {
    FRM_ASSERT_GUI_THREAD();
    comboBoxZoneMode->Clear();
    comboBoxZoneMode->Append(kMicrophone);
    if (!memory) return;
    for (const device::memory::ScenarioInfo& scenario : memory->getScenarios())
        comboBoxZoneMode->Append(std::to_wstring(scenario.number) + L" - " + scenario.title);
}

void PropertyDevicePanel::toggleZoneButton(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::toggleZoneButton");
    // One zone at a time: the clicked one stays pressed.
    for (wxSizerItem* item : sizerZoneButtons->GetChildren())
        if (auto* button = dynamic_cast<wxToggleButton*>(item->GetWindow()))
            button->SetValue(button == event.GetEventObject());
    enableEditButtons(false);
    fillZoneTargets();
}

void PropertyDevicePanel::selectOrvelInZoneOnCheckBox(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::selectOrvelInZoneOnCheckBox");
    enableEditButtons(true);
    // A ticked target the collection does not know is only an edit: it has
    // no memory to compare, and Apply refuses it on its own.
    auto* clicked = dynamic_cast<wxCheckBox*>(event.GetEventObject());
    if (clicked != nullptr && dynamic_cast<TranslationZoneData*>(clicked->GetClientObject()) == nullptr)
        return;
    offerZoneMessages(nullptr);
    comboBoxZoneMode->SetSelection(0);
    staticZoneNote->Hide();

    // The other ticked targets the collection does not know are left out.
    std::vector<boost::shared_ptr<device::OrvelInfo>> ticked;
    for (wxWindow* child : scrolledZoneTargets->GetChildren()) {
        auto* box = dynamic_cast<wxCheckBox*>(child);
        if (box == nullptr || box == checkBoxZoneTargetSample || !box->GetValue()) continue;
        const auto* data = dynamic_cast<TranslationZoneData*>(box->GetClientObject());
        if (data == nullptr) continue;
        const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(data->device());
        debug::throwIfFalse(static_cast<bool>(loudspeaker),
                            "frm::PropertyDevicePanel::selectOrvelInZoneOnCheckBox");
        ticked.push_back(loudspeaker);
    }
    boost::shared_ptr<device::memory::IAudioControl> first;
    std::string stamp;
    bool same = !ticked.empty();
    for (std::size_t n = 0; n < ticked.size() && same; ++n) {
        const auto memory = memoryOf(ticked[n]);
        if (!memory) {
            same = false;
        } else if (n == 0) {
            first = memory;
            stamp = memory->makeMemoryStamp();
        } else {
            same = memory->makeMemoryStamp() == stamp;
        }
    }
    if (same) {
        offerZoneMessages(first);
        comboBoxZoneMode->SetSelection(0);
    } else if (ticked.size() >= 2) {
        staticZoneNote->Show();
    }
    scrolledZoneTargets->Layout();
    panelZones->Layout();
}

void PropertyDevicePanel::removeZoneOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::removeZoneOnButtonClick");
    if (!ui::askYesNo(L"Удалить текущую зону?", L"Внимание!", wxICON_WARNING, this)) return;
    buttonRemoveZone->Disable();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(console), "frm::PropertyDevicePanel::removeZoneOnButtonClick");
    int zone = m_currentZone;  // the collection may change its argument
    m_collection->unbindDevices(console, zone);
    updateData();
}

void PropertyDevicePanel::resetZonesOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::resetZonesOnButtonClick");
    if (!ui::askYesNo(L"Удалить все зоны?", L"Внимание!", wxICON_WARNING, this)) return;
    buttonResetZones->Disable();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(console), "frm::PropertyDevicePanel::resetZonesOnButtonClick");
    for (const auto& entry : console->getZones()) {
        int zone = entry.first;
        m_collection->unbindDevices(console, zone);
    }
    updateData();
}

void PropertyDevicePanel::fixZoneIntegrityOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::fixZoneIntegrityOnButtonClick");
    auto* button = dynamic_cast<wxWindow*>(event.GetEventObject());
    bool nothingLeft = false;
    try {
        m_collection->fixIntegrity(m_device);
    } catch (const exception::UserResponse& e) {
        // Someone repaired the bindings meanwhile.
        if (e.getNotification() != L"none") throw;
        nothingLeft = true;
    }
    LOG_NOTICE(L"Выполнение операции завершено");
    if (button == nullptr) return;
    if (nothingLeft) {
        button->Hide();
        button->GetParent()->Layout();
    } else {
        button->Disable();
    }
}

std::optional<bool> PropertyDevicePanel::applyZonePage() {
    FRM_ASSERT_GUI_THREAD();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return true;
    device::DeviceCollection::OrvelSet chosen;
    for (wxWindow* child : scrolledZoneTargets->GetChildren()) {
        if (child == checkBoxZoneTargetSample) continue;
        auto* box = dynamic_cast<wxCheckBox*>(child);
        // The note "Нет совместимого устройства в сети" is the one other row.
        if (box == nullptr && dynamic_cast<wxStaticText*>(child) != nullptr) continue;
        debug::throwIfFalse(box != nullptr, "frm::PropertyDevicePanel::applyOnButtonClick");
        if (!box->GetValue()) continue;
        const auto* data = dynamic_cast<TranslationZoneData*>(box->GetClientObject());
        const auto loudspeaker = data ? boost::dynamic_pointer_cast<device::OrvelInfo>(data->device())
                                      : boost::shared_ptr<device::OrvelInfo>();
        if (!loudspeaker) {
            LOG_WARN(L"Выбрано устройство вне сети");
            return std::nullopt;
        }
        chosen.insert(loudspeaker);
    }

    const device::ConsoleZoneMap zones = console->getZones();
    const device::ConsoleZone current = zone_page::zoneRecord(zones, m_currentZone);
    const int selection = comboBoxZoneMode->GetSelection();
    // No entry chosen: the zone's messages could not be listed, and the zone
    // keeps the message it has.
    const int scenario = selection == wxNOT_FOUND ? current.scenario : selection == 0 ? -1 : selection;
    try {
        if (chosen.empty()) {
            if (zones.count(m_currentZone) == 0) return true;  // nothing bound, nothing to unbind
            int zone = m_currentZone;
            m_collection->unbindDevices(console, zone);
        } else {
            m_collection->rebindDevices(console, m_currentZone, scenario, chosen);
        }
    } catch (const exception::UserResponse& e) {
        const std::wstring& code = e.getNotification();
        if (code == L"partialIntersection")
            LOG_NOTICE(L"Частичное пересечение орвелов в зонах для запуска сообщений недопускается.\n"
                       L"Также в зонах должны быть разные сообщения для запуска.");
        else if (code == L"internalPlaying")
            LOG_NOTICE(L"Запрещено редактирование во время тревожного вещания на орвелах");
        else
            LOG_NOTICE(L"Зона не записана: %1%", translated(code));
        return false;
    }
    return true;
}

// ---- "Связанные консоли" ----------------------------------------------------------------------

void PropertyDevicePanel::fillLinkedConsoles() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::fillLinkedConsoles");
    GuiFreezer freeze(panelLinkedConsoles);
    clearRows(scrolledLinkedConsoles, checkBoxLinkedConsoleSample);
    buttonFixLinkIntegrity->Hide();
    if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)) {
        const std::set<unsigned> addresses = loudspeaker->readZoneAddresses();
        const std::vector<boost::shared_ptr<device::TovikInfo>> consoles = m_collection->getTovikList(false);
        std::vector<zone_page::Console> facts;
        for (const auto& console : consoles)
            facts.push_back({console->getHardwareAddress().getLow(), console->isOnlineAndAnswered(),
                             console->getTitle()});
        for (const zone_page::ConsoleRow& row : zone_page::linkedConsoleRows(addresses, facts, m_debugMode)) {
            auto* text =
                new wxStaticText(scrolledLinkedConsoles, wxID_ANY, wxControl::EscapeMnemonics(row.text));
            useRowFont(text);
            text->SetForegroundColour(rowColour(row.tone));
            if (row.console) text->SetClientObject(new TranslationZoneData(consoles[*row.console]));
            sizerLinkedConsoles->Add(text, 0, wxALL, 5);
        }
        const device::DeviceCollection::BrokenZonesReport report = brokenBindings(*m_collection);
        buttonFixLinkIntegrity->Show(report.count(m_device) != 0);
        buttonFixLinkIntegrity->Enable();
    }
    scrolledLinkedConsoles->FitInside();
    scrolledLinkedConsoles->Layout();
    panelLinkedConsoles->Layout();
}

}  // namespace frm
