// The broadcast-zone page ("Зоны трансляции") of a microphone console and the
// linked-console page ("Связанные консоли") of a loudspeaker: the bindings of
// console zones to loudspeakers that the device collection keeps, their
// repair, and the apply of one zone's binding.
//
// Threads: the GUI thread, but for the exchanges with the devices and the
// collection's checks: the pages' reads (page_reads) and the bindings
// (page_writes) run on the panel's worker, and the GUI thread shows what
// they found. The colours and rows come from zone_page (no window).

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

wxFont rowFont() { return wxFont(11, wxFONTFAMILY_TELETYPE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL); }

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

void PropertyDevicePanel::takeCurrentZone() {
    for (wxSizerItem* item : sizerZoneButtons->GetChildren()) {
        auto* button = dynamic_cast<wxToggleButton*>(item->GetWindow());
        debug::throwIfFalse(button != nullptr, "frm::PropertyDevicePanel::fillZoneTargets");
        if (button->GetValue()) m_currentZone = std::stoi(button->GetLabel().ToStdWstring());
    }
}

void PropertyDevicePanel::fillZoneTargets() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::fillZoneTargets");
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    takeCurrentZone();
    if (!console) {
        endFill(property_pages::kZones, nullptr, [this] {
            showZoneTargets(page_reads::ZonePage());
            return true;
        });
        return;
    }
    readPage<page_reads::ZonePage>(
        [console, collection = m_collection, zone = m_currentZone,
         debugMode = m_debugMode](const page_jobs::Wanted& wanted) {
            return page_reads::readZonePage(console, *collection, zone, debugMode, wanted);
        },
        [this](const page_reads::ZonePage& page) {
            // The ticks of a zone the operator began to edit meanwhile stay.
            if (buttonApply->IsEnabled() && pageRead(property_pages::kZones)) return true;
            showZoneTargets(page);
            return true;
        });
}

void PropertyDevicePanel::showZoneTargets(const page_reads::ZonePage& read) {
    FRM_ASSERT_GUI_THREAD();
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
    if (boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
        const zone_page::BrokenZones* broken = read.broken ? &read.brokenZones : nullptr;
        for (wxSizerItem* item : sizerZoneButtons->GetChildren()) {
            auto* button = dynamic_cast<wxToggleButton*>(item->GetWindow());
            debug::throwIfFalse(button != nullptr, "frm::PropertyDevicePanel::fillZoneTargets");
            const int number = std::stoi(button->GetLabel().ToStdWstring());
            button->SetBackgroundColour(
                zoneColour(zone_page::zoneTone(number, read.masks, broken, read.zones)));
            button->Refresh();
        }
        if (!read.zone.addresses.empty()) buttonRemoveZone->Enable();

        bool listed = false;
        for (const zone_page::TargetRow& row : read.rows) {
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
            box->SetClientObject(new TranslationZoneData(read.loudspeakers[*row.loudspeaker]));
            listed = true;
        }

        offerZoneMessages(read.messages ? &*read.messages : nullptr);
        if (read.zone.scenario == -1) {
            comboBoxZoneMode->SetSelection(0);
        } else if (read.messages && read.zone.scenario < static_cast<int>(comboBoxZoneMode->GetCount())) {
            comboBoxZoneMode->SetSelection(read.zone.scenario);
        } else {
            comboBoxZoneMode->SetSelection(wxNOT_FOUND);
        }
        comboBoxZoneMode->Enable(read.purpose == 1);
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

void PropertyDevicePanel::offerZoneMessages(const std::vector<device::memory::ScenarioInfo>* scenarios) {
    FRM_ASSERT_GUI_THREAD();
    comboBoxZoneMode->Clear();
    comboBoxZoneMode->Append(kMicrophone);
    if (scenarios == nullptr) return;
    for (const device::memory::ScenarioInfo& scenario : *scenarios)
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
    // What was chosen for the zone before is no choice for this one.
    m_editStamps.clear();
    // Another zone: a read of the one before shows nothing.
    reloadPage();
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
    // The memories are read on the worker; the choice follows the ticks as
    // they stand when the answers come.
    const DevicePtr device = m_device;
    const std::uint64_t ticket = m_shown->load();
    const std::size_t count = ticked.size();
    runJob<page_reads::TickedMemories>(
        wantedFor(ticket),
        [ticked](const page_jobs::Wanted& wanted) { return page_reads::compareMemories(ticked, wanted); },
        [this, device, ticket, count](page_jobs::Outcome<page_reads::TickedMemories> outcome) {
            if (m_device != device || m_shown->load() != ticket) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            if (outcome.value->same) {
                offerZoneMessages(&outcome.value->scenarios);
                comboBoxZoneMode->SetSelection(0);
            } else if (count >= 2) {
                staticZoneNote->Show();
            }
            scrolledZoneTargets->Layout();
            panelZones->Layout();
        });
}

void PropertyDevicePanel::removeZoneOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::removeZoneOnButtonClick");
    if (!ui::askYesNo(L"Удалить текущую зону?", L"Внимание!", wxICON_WARNING, this)) return;
    buttonRemoveZone->Disable();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(console), "frm::PropertyDevicePanel::removeZoneOnButtonClick");
    runZoneEdit([collection = m_collection, console, zone = m_currentZone] {
        int number = zone;  // the collection may change its argument
        collection->unbindDevices(console, number);
    });
}

void PropertyDevicePanel::runZoneEdit(const std::function<void()>& edit) {
    const DevicePtr device = m_device;
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [edit](const page_jobs::Wanted&) {
            edit();
            return page_jobs::Done();
        },
        [this, device](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            page_jobs::reportFailure(outcome.error);
            if (m_device == device) reloadPage();
        });
}

void PropertyDevicePanel::resetZonesOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::resetZonesOnButtonClick");
    if (!ui::askYesNo(L"Удалить все зоны?", L"Внимание!", wxICON_WARNING, this)) return;
    buttonResetZones->Disable();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(console), "frm::PropertyDevicePanel::resetZonesOnButtonClick");
    runZoneEdit([collection = m_collection, console] {
        for (const auto& entry : console->getZones()) {
            int zone = entry.first;
            collection->unbindDevices(console, zone);
        }
    });
}

void PropertyDevicePanel::fixZoneIntegrityOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::fixZoneIntegrityOnButtonClick");
    // One of the page's two repair buttons; the completion takes it by
    // pointer (it lives as long as the panel), never by a tracking reference,
    // which the worker must not copy.
    wxWindow* const source = dynamic_cast<wxWindow*>(event.GetEventObject());
    wxWindow* const button =
        source == buttonFixZoneIntegrity || source == buttonFixLinkIntegrity ? source : nullptr;
    if (button) button->Disable();
    runJob<bool>(
        page_jobs::Wanted(),
        [collection = m_collection, device = m_device](const page_jobs::Wanted&) {
            try {
                collection->fixIntegrity(device);
            } catch (const exception::UserResponse& e) {
                // Someone repaired the bindings meanwhile.
                if (e.getNotification() != L"none") throw;
                return true;
            }
            return false;
        },
        [button](page_jobs::Outcome<bool> outcome) {
            if (outcome.error) {
                if (button) button->Enable();
                page_jobs::reportFailure(outcome.error);
                return;
            }
            LOG_NOTICE(L"Выполнение операции завершено");
            if (!button) return;
            if (*outcome.value) {
                button->Hide();
                button->GetParent()->Layout();
            }
        });
}

bool PropertyDevicePanel::applyZonePage() {
    FRM_ASSERT_GUI_THREAD();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) {
        startApply([](device::ConfigJournal&) { return Applied(); });
        return true;
    }
    page_writes::OrvelSet chosen;
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
            return false;
        }
        chosen.insert(loudspeaker);
    }
    const int selection = comboBoxZoneMode->GetSelection();
    const std::optional<int> message =
        selection == wxNOT_FOUND ? std::nullopt : std::optional<int>(selection);
    startApply([collection = m_collection, console, zone = m_currentZone, message,
                chosen](device::ConfigJournal& journal) {
        journal.begin();
        const page_writes::ZoneWrite write =
            page_writes::writeZone(*collection, console, zone, message, chosen);
        Applied applied;
        applied.result = write.written;
        applied.refusal = write.refusal;
        return applied;
    });
    return true;
}

// ---- "Связанные консоли" ----------------------------------------------------------------------

void PropertyDevicePanel::fillLinkedConsoles() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::fillLinkedConsoles");
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!loudspeaker) {
        endFill(property_pages::kLinkedConsoles, nullptr, [this] {
            showLinkedConsoles(page_reads::LinkedPage());
            return true;
        });
        return;
    }
    readPage<page_reads::LinkedPage>(
        [loudspeaker, collection = m_collection, debugMode = m_debugMode](const page_jobs::Wanted& wanted) {
            return page_reads::readLinkedPage(loudspeaker, *collection, debugMode, wanted);
        },
        [this](const page_reads::LinkedPage& page) {
            showLinkedConsoles(page);
            return true;
        });
}

void PropertyDevicePanel::showLinkedConsoles(const page_reads::LinkedPage& read) {
    FRM_ASSERT_GUI_THREAD();
    GuiFreezer freeze(panelLinkedConsoles);
    clearRows(scrolledLinkedConsoles, checkBoxLinkedConsoleSample);
    buttonFixLinkIntegrity->Hide();
    if (boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)) {
        for (const zone_page::ConsoleRow& row : read.rows) {
            auto* text =
                new wxStaticText(scrolledLinkedConsoles, wxID_ANY, wxControl::EscapeMnemonics(row.text));
            useRowFont(text);
            text->SetForegroundColour(rowColour(row.tone));
            if (row.console) text->SetClientObject(new TranslationZoneData(read.consoles[*row.console]));
            sizerLinkedConsoles->Add(text, 0, wxALL, 5);
        }
        buttonFixLinkIntegrity->Show(read.broken);
        buttonFixLinkIntegrity->Enable();
    }
    scrolledLinkedConsoles->FitInside();
    scrolledLinkedConsoles->Layout();
    panelLinkedConsoles->Layout();
}

}  // namespace frm
