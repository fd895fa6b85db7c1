// The pages read from the device's configuration (common, network, Zarno,
// sources), the audio-memory page's reading, the debug page's settings, the
// option edits, the online check, the firmware upgrade, and Apply and Cancel.
//
// The handlers run on the GUI thread and never wait for the device: the
// reads (page_reads) and writes (page_writes) run on the panel's worker, and
// the GUI thread shows what they found. The firmware upgrade and the
// audio-memory write run on the device's worker threads, whose reports reach
// the progress dialog through the GUI-thread invoker.

#include <wx/evtloop.h>
#include <wx/msgdlg.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/check.h"
#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/equalizer.h"
#include "device/models/line_control.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/version.h"
#include "gui/gui_thread.h"
#include "gui/list_columns.h"
#include "gui/number_field.h"
#include "gui/progress_bar_dialog.h"
#include "gui/property_apply_report.h"
#include "gui/property_device_panel.h"
#include "gui/property_settings_rules.h"
#include "gui/ui.h"

namespace frm {

namespace pages = property_pages;
namespace rules = property_rules;

namespace {

constexpr std::uint16_t kNoId = 0xFFFF;
/// The first entry of the input-message choices: the input plays itself.
const wchar_t* const kOwnInput = L"ГОиЧС / Микрофон";
const wchar_t* const kNoMessageCaption = L"Сообщение";
using page_reads::kFirstFilterIndex;
using page_reads::kFirstIgmpIndex;
using page_reads::kFirstInputMessageIndex;
using page_reads::kFirstLineIndex;
using page_reads::kLastLineIndex;
using page_reads::kLastPackedEqualizerIndex;

void* asClientData(std::uint16_t id) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)); }

/// The 16-bit id an entry of a list carries; 0xFFFF when none is chosen.
std::uint16_t chosenId(const wxItemContainer& list) {
    const int chosen = list.GetSelection();
    if (chosen == wxNOT_FOUND || !list.HasClientUntypedData()) return kNoId;
    return static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(list.GetClientData(chosen)));
}

/// Selects the entry that carries `id`, none when no entry does: a default
/// shown for a value the list cannot name would be written as a choice.
void selectId(wxItemContainer& list, std::uint16_t id) {
    for (unsigned n = 0; n < list.GetCount(); ++n) {
        if (static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(list.GetClientData(n))) == id) {
            list.SetSelection(static_cast<int>(n));
            return;
        }
    }
    list.SetSelection(wxNOT_FOUND);
}

/// The id of the entry chosen; none (the device keeps its own value) while
/// the installer has chosen none.
std::optional<std::uint16_t> chosenIdIfAny(const wxItemContainer& list) {
    if (list.GetSelection() == wxNOT_FOUND) return std::nullopt;
    return chosenId(list);
}

/// The number a priority entry shows ("7" .. "2").
std::uint16_t entryPriority(const wxChoice& choice) {
    long value = 0;
    if (choice.GetStringSelection().ToLong(&value) && value > 0 && value <= 0xFFFF)
        return static_cast<std::uint16_t>(value);
    return rules::priorityOfEntry(choice.GetSelection());
}

std::string narrow(const wxString& text) { return base::toNarrow(text.ToStdWstring()); }

}  // namespace

// ---- the online check ------------------------------------------------------------------------

bool PropertyDevicePanel::isOnlineDevices(bool askAgain) {
    FRM_ASSERT_GUI_THREAD();
    const bool online = m_device && (askAgain ? m_device->isOnline() : m_device->isOnlineAndAnswered());
    LOG_DEBUG(L"there are devices on the network: %1%", online ? L"true" : L"false");
    m_offline = !online;
    if (online) {
        Enable(true);
        return true;
    }
    // Made insensitive while the notebook switches its pages, GTK's text
    // views crash: the controls go grey once the event is handled, unless
    // the device answered again by then.
    CallAfter([this] {
        if (m_offline) Enable(false);
    });
    LOG_NOTICE(L"Выбранного устройства нет в сети");
    m_close();  // std::bad_function_call without a callback
    return false;
}

void PropertyDevicePanel::enableEditButtons(bool enable) {
    buttonApply->Enable(enable);
    buttonCancel->Enable(enable);
}

// ---- page 1000, common -------------------------------------------------------------------------

void PropertyDevicePanel::fillCommonPage() {
    // The groups of the device's kind are there while it is read: what kind
    // and generation it is the panel knows without asking.
    const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    arrangeCommonPage(static_cast<bool>(boost::dynamic_pointer_cast<device::TovikInfo>(m_device)),
                      static_cast<bool>(speaker), speaker ? speaker->getVersionIndex() : 0);
    readPage<page_reads::CommonPage>(
        [device = m_device](const page_jobs::Wanted& wanted) {
            return page_reads::readCommonPage(device, wanted);
        },
        [this](const page_reads::CommonPage& page) {
            showCommonPage(page);
            return true;
        });
}

void PropertyDevicePanel::arrangeCommonPage(bool console, bool loudspeaker, int index) {
    wxSizer* page = panelCommon->GetSizer();
    if (console) {
        panelEqualizer->Disable();
        panelEqualizer->Hide();
        panelEqBands->Hide();
        checkBoxEqualizer->Hide();
        page->Show(sizerLine, false, true);
        panelTovik->Show();
    } else if (loudspeaker) {
        panelTovik->Hide();
        const bool sixBand = index > kLastPackedEqualizerIndex;
        checkBoxEqualizer->Show();
        panelEqualizer->Show();
        panelBassTreble->Show(!sixBand);
        panelEqBands->Show(sixBand);
        choiceLineMode->Show(index <= kLastPackedEqualizerIndex);
        page->Show(sizerLine, index >= kFirstLineIndex && index <= kLastLineIndex, true);
    }
    panelCommon->Layout();
}

void PropertyDevicePanel::showCommonPage(const page_reads::CommonPage& read) {
    staticName->Enable();
    textName->Enable();
    textName->ChangeValue(read.title);
    arrangeCommonPage(read.consoleConfig.has_value(), read.loudspeaker, read.versionIndex);

    if (read.consoleConfig) {
        LOG_TRACE(L"%1%", L"select a microphone console");

        const device::TovikConfig& config = *read.consoleConfig;
        const bool broadcast = config.purpose() == 0;
        checkBoxKeySound->SetValue(config.beeper);
        checkBoxSinglePowerSource->SetValue(config.singlePower);
        checkBoxSinglePowerSource->Enable(broadcast);
        checkBoxAnalogInput->SetValue(config.gochsArm);
        checkBoxAnalogInput->Enable(!broadcast);
        checkBoxFaultSound->SetValue(config.faultAlarm);
        checkBoxFaultSound->Enable(broadcast);
        checkBoxZoneIndication->SetValue(config.ledScBlink);
        choiceTovikType->SetSelection(config.purpose());
        spinTovikPriority->SetValue(static_cast<int>(config.priority));
        const auto power = [](std::uint32_t input) {
            return static_cast<int>(std::min<std::uint32_t>(input, 3));
        };
        choicePower1->SetSelection(power(config.powerIn1));
        choicePower2->SetSelection(power(config.powerIn2));
        choicePower2->Enable(!(broadcast && config.singlePower));

        // The gong is a fragment of the console's memory, named by its id.
        comboBoxGong->Clear();
        for (const device::memory::FragmentInfo& fragment : read.gongs)
            comboBoxGong->Append(wxString::Format(L"%u - %s", static_cast<unsigned>(fragment.position),
                                                  wxString(fragment.title)),
                                 asClientData(fragment.id));
        selectId(*comboBoxGong, config.gongId);
        const bool gongs = comboBoxGong->GetCount() > 0;
        comboBoxGong->Enable(gongs);
        checkBoxGong->SetValue(config.gong);
        checkBoxGong->Enable(gongs);
    } else if (read.loudspeaker) {
        LOG_TRACE(L"%1%", L"select a megaphone");
        const int index = read.versionIndex;
        const bool sixBand = index > kLastPackedEqualizerIndex;
        m_equalizer = read.equalizer;
        if (!sixBand) {
            const auto packed = boost::dynamic_pointer_cast<device::o510::Equalizer>(m_equalizer);
            if (!packed) LOG_ERROR(L"does not match equalizer for Orvel-510");
            SetFullBassVolume(packed && packed->isEnabled() ? packed->packed() : 0);
        } else if (const auto bands = boost::dynamic_pointer_cast<device::o610::Equalizer>(m_equalizer)) {
            if (m_bandSliders.size() == device::o610::Equalizer::kBands) {
                for (int band = 0; band < device::o610::Equalizer::kBands; ++band)
                    m_bandSliders[band]->SetValue(bands->getBand(band));
            } else {
                LOG_ERROR(L"Does not match number of bands and ratios (%1%, %2%)",
                          device::o610::Equalizer::kBands, m_bandSliders.size());
            }
        } else {
            LOG_ERROR(L"does not match equalizer for Orvel-610");
        }
        for (wxWindow* control :
             std::initializer_list<wxWindow*>{staticBass, sliderBass, staticTreble, sliderTreble})
            control->Enable();
        const bool on = m_equalizer && m_equalizer->isEnabled();
        checkBoxEqualizer->SetValue(on);
        panelEqualizer->Enable(on);

        const bool lineSettings = index >= kFirstLineIndex && index <= kLastLineIndex;
        checkBoxLineControl->Enable(lineSettings);
        choiceLineMode->Enable(lineSettings);
        if (lineSettings && read.lineConfig) {
            choiceLineMode->SetSelection(read.lineConfig->linesJoined ? 1 : 0);
            checkBoxLineControl->SetValue(read.lineConfig->lineTest);
        }
    }
    panelCommon->Layout();
    panelCommon->Refresh();
}

void PropertyDevicePanel::SetFullBassVolume(std::uint16_t packed) {
    const device::o510::Equalizer equalizer(packed);
    const int bass = equalizer.getField(1);
    const int treble = equalizer.getField(3);
    sliderBass->SetValue(bass);
    sliderBass->SetToolTip(
        wxString::Format(L"Громкость басса %i%%", rules::bassPercent(bass, sliderBass->GetMax())));
    sliderTreble->SetValue(treble);
    sliderTreble->SetToolTip(
        wxString::Format(L"Громкость высоких частот %i%%",
                         rules::treblePercent(treble, sliderTreble->GetMin(), sliderTreble->GetMax())));
}

// ---- page 1001, audio memory -----------------------------------------------------------------

void PropertyDevicePanel::fillAudioMemoryPage(bool overwrite) {
    if (!overwrite) {
        const auto width = [](wxListCtrl* list, std::initializer_list<double> parts) {
            const int total = list->GetSize().x;
            int column = 0;
            for (const double part : parts) list->SetColumnWidth(column++, static_cast<int>(total / part));
        };
        width(listCtrlAudioFragment, {18, 1.8, 10, 3.5});
        width(listCtrlAudioScenario, {18, 2.2, 9, 4.5, 6.5});
        panelAudioMemory->GetSizer()->Show(sizerScenario, m_device->isTypeOf(device::kMaskLoudspeaker), true);
        // The version record tells nothing about the playback level: the
        // warning stays hidden.
        staticLowLevelWarning->Hide();
        m_audioControl.reset();
    }
    const DevicePtr device = m_device;
    const std::uint64_t ticket = m_reading ? m_reading->ticket : m_shown->load();
    runJob<page_reads::MemoryPage>(
        wantedFor(ticket),
        [device, overwrite](const page_jobs::Wanted& wanted) {
            return page_reads::readMemoryPage(device, overwrite, wanted);
        },
        [this, device, ticket, overwrite](page_jobs::Outcome<page_reads::MemoryPage> outcome) {
            if (!fillWanted(device, pages::kAudioMemory, ticket)) return;
            if (!outcome.error && outcome.value->failed) {
                LOG_WARN(L"%1%", outcome.value->failure);
                // Once allowed, a second failure is no memory that
                // overwriting would mend: the page stays disabled without
                // asking again. The question comes between two reads.
                if (outcome.value->overwriteMends && !overwrite &&
                    ui::messageBox(L"Разрешить перезапись аудио памяти?", kNoMessageCaption, wxOK | wxCANCEL,
                                   this) == wxID_OK) {
                    // The answer took the operator's time: still the page?
                    if (fillWanted(device, pages::kAudioMemory, ticket)) fillAudioMemoryPage(true);
                    return;
                }
            }
            endFill(pages::kAudioMemory, outcome.error, [&] { return showAudioMemoryPage(*outcome.value); });
        });
}

bool PropertyDevicePanel::showAudioMemoryPage(const page_reads::MemoryPage& read) {
    if (read.failed) {
        m_audioControl.reset();
        panelAudioMemory->Disable();
        return false;
    }
    m_audioControl = read.control;
    if (!m_audioControl) {
        LOG_DEBUG(L"%1%", L"the device has no audio memory");
        panelAudioMemory->Disable();
        return true;
    }
    m_fragmentTexts.resize(read.fragments);
    textFreeMemory->ChangeValue(wxString::Format(L"%u", m_audioControl->getSizeOfFreeMemory()));
    loadListCtrlAudioFragment();
    loadListCtrlAudioScenario();
    panelAudioMemory->Enable();
    fitMemoryColumns();
    if (read.pending) enableEditButtons(true);
    return true;
}

void PropertyDevicePanel::fitMemoryColumns() {
    // The columns share the list's width, but none gets narrower than its
    // header or its longest value: the list scrolls sideways rather than cut
    // a file's place or "Повторять (сек)".
    for (wxListCtrl* list : {listCtrlAudioFragment, listCtrlAudioScenario})
        for (int column = 0; column < list->GetColumnCount(); ++column) {
            const int shared = list->GetColumnWidth(column);
            list->SetColumnWidth(column, wxLIST_AUTOSIZE);
            setColumnWidth(list, column, std::max(shared, list->GetColumnWidth(column)));
        }
}

// ---- page 1015, network ----------------------------------------------------------------------

void PropertyDevicePanel::fillNetworkPage() {
    readPage<page_reads::NetworkPage>(
        [device = m_device](const page_jobs::Wanted& wanted) {
            return page_reads::readNetworkPage(device, wanted);
        },
        [this](const page_reads::NetworkPage& page) {
            showNetworkPage(page);
            return true;
        });
}

void PropertyDevicePanel::showNetworkPage(const page_reads::NetworkPage& read) {
    const device::ConfigCommon& config = read.config;
    enableDhcp(config.dhcp, read.addresses, editMark());
    textMulticastIp->ChangeValue(base::toWide(config.multicastIp));
    spinBasePort->SetValue(config.srvPort);
    const bool allowed = !config.srvAllowedIP.empty() && config.srvAllowedIP != "0.0.0.0";
    checkBoxAllowIp->SetValue(allowed);
    textAllowIp->Enable(allowed);
    textAllowIp->ChangeValue(allowed ? base::toWide(config.srvAllowedIP) : L"0.0.0.0");
    checkBoxLanRedundancy->Enable(m_device->isTypeOf(device::kMaskLanFamily));
    checkBoxLanRedundancy->SetValue(!config.switchMode);
    const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    checkBoxIgmp->SetValue(config.igmpReport != 0);
    checkBoxIgmp->Enable(!(speaker && speaker->getVersionIndex() < kFirstIgmpIndex));
    panelNetwork->Layout();
}

void PropertyDevicePanel::enableDhcp(bool on, const device::ConfigCommon& addresses, std::uint64_t mark) {
    checkBoxDhcp->SetValue(on);
    for (wxTextCtrl* field : {textIp, textMask, textGateway}) field->Enable(!on);
    // An address the operator typed after the read began is no address of
    // the device's: it stays.
    const std::pair<wxTextCtrl*, const std::string*> fields[] = {
        {textIp, &addresses.ip}, {textMask, &addresses.mask}, {textGateway, &addresses.gw}};
    for (const auto& [field, address] : fields)
        if (!editedSince(field, mark)) field->ChangeValue(base::toWide(*address));
}

void PropertyDevicePanel::onCheckBoxDhcp(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxDhcp");
    debug::throwIfFalse(static_cast<bool>(m_device), "frm::PropertyDevicePanel::enableDhcp");
    noteEdit(event.GetEventObject());
    enableEditButtons(true);
    event.Skip();
    // The fields show the addresses the device holds now: a fresh read,
    // shown when it comes, as the box then stands, in the fields the
    // operator has not typed into since.
    const bool on = checkBoxDhcp->GetValue();
    for (wxTextCtrl* field : {textIp, textMask, textGateway}) field->Enable(!on);
    const DevicePtr device = m_device;
    const std::uint64_t ticket = m_shown->load();
    const std::uint64_t mark = editMark();
    runJob<device::ConfigCommon>(
        wantedFor(ticket), [device](const page_jobs::Wanted&) { return device->readConfig(true); },
        [this, device, ticket, mark](page_jobs::Outcome<device::ConfigCommon> outcome) {
            if (m_device != device || m_shown->load() != ticket) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            m_filling = true;
            enableDhcp(checkBoxDhcp->GetValue(), *outcome.value, mark);
            m_filling = false;
        });
}

void PropertyDevicePanel::onCheckBoxAllowIp(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxAllowIp");
    noteEdit(event.GetEventObject());
    textAllowIp->Enable(checkBoxAllowIp->GetValue());
    enableEditButtons(true);
    event.Skip();
}

// ---- page 1023, Zarno ------------------------------------------------------------------------

void PropertyDevicePanel::fillZarnoPage() {
    readPage<device::ConfigCommon>(
        [device = m_device](const page_jobs::Wanted& wanted) {
            return page_reads::readZarnoPage(device, wanted);
        },
        [this](const device::ConfigCommon& config) {
            showZarnoPage(config);
            return true;
        });
}

void PropertyDevicePanel::showZarnoPage(const device::ConfigCommon& config) {
    spinZarnoAddress->SetValue(config.zarnoAddr);
    checkBoxRelayEvents->SetValue(config.zarnoRelay);
    checkBoxRelayEvents->Enable(static_cast<bool>(boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)));
    checkBoxIsTestZarno->SetValue(config.zarnoTest);
    checkBoxLineRedundancy->SetValue(config.zarnoReserve);
    checkBoxLineRedundancy->Enable(config.zarnoTest && m_device->isTypeOf(device::kMaskLanFamily));
}

// ---- page 1027, sources ----------------------------------------------------------------------

void PropertyDevicePanel::fillSourcePage() {
    const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!speaker) {
        m_reading.reset();
        setPageState(wxEmptyString);
        m_close();  // std::bad_function_call without a callback
        return;
    }
    readPage<page_reads::SourcePage>(
        [speaker](const page_jobs::Wanted& wanted) { return page_reads::readSourcePage(speaker, wanted); },
        [this](const page_reads::SourcePage& page) {
            showSourcePage(page);
            return true;
        });
}

void PropertyDevicePanel::showSourcePage(const page_reads::SourcePage& read) {
    const int index = read.versionIndex;
    const device::OrvelConfig& config = read.config;
    checkBoxStreamFromOthers->SetValue(config.multicastListen);
    checkBoxForwardInput1->SetValue(config.multicastAin1);
    checkBoxForwardInput2->SetValue(config.multicastAin2);
    checkBoxAnalogFilter->SetValue(config.ainFilter);
    checkBoxAnalogFilter->Enable(index >= kFirstFilterIndex);

    const std::array<wxChoice*, rules::kPriorityChoices> choices = {
        choiceZarnoMessagesPriority,   choiceAnalogInput2Priority,  choiceAnalogInput1Priority,
        choiceAnalogMulticastPriority, choiceAnalogConsolePriority, choiceAlarmStreamPriority};
    const std::array<int, rules::kPriorityChoices> positions =
        rules::priorityPositions({config.priVoiceAlert, config.priAin2, config.priAin1, config.priStreamMCast,
                                  config.priZoneInput, config.priStream});
    for (int n = 0; n < rules::kPriorityChoices; ++n) choices[n]->SetSelection(positions[n]);
    choiceAnalogConsolePriority->Enable(index >= kFirstFilterIndex);
    initSource(config.multicastListen, config.multicastAin1, config.multicastAin2);

    // The inputs' messages are scenarios of the audio memory, named by id.
    const bool messages = index >= kFirstInputMessageIndex;
    for (wxChoice* choice : {choiceAnalogInput2Function, choiceAnalogInput1Function}) {
        choice->Enable(messages);
        choice->Clear();
        choice->Append(kOwnInput, asClientData(kNoId));
    }
    checkBoxLineIntegrity->SetValue(config.ain2Arm);
    checkBoxLineIntegrity->Enable(m_device->isTypeOf(device::kMaskLanFamily));
    if (messages) {
        for (const device::memory::ScenarioInfo& scenario : read.scenarios)
            for (wxChoice* choice : {choiceAnalogInput2Function, choiceAnalogInput1Function})
                choice->Append(wxString::Format(L"%u", static_cast<unsigned>(scenario.number)),
                               asClientData(scenario.id));
        selectId(*choiceAnalogInput2Function, config.scenarioIdAin2);
        selectId(*choiceAnalogInput1Function, config.scenarioIdAin1);
    } else {
        choiceAnalogInput2Function->SetSelection(0);
        choiceAnalogInput1Function->SetSelection(0);
    }
    scrolledSource->Layout();
    panelSource->Layout();
    panelSource->Refresh();
}

void PropertyDevicePanel::initSource(bool allowOthers, bool sendInput1, bool sendInput2) {
    const rules::StreamBoxes boxes = rules::streamBoxesEnabled(allowOthers, sendInput1, sendInput2);
    checkBoxStreamFromOthers->Enable(boxes.allowOthers);
    checkBoxForwardInput1->Enable(boxes.sendInput1);
    checkBoxForwardInput2->Enable(boxes.sendInput2);
}

// ---- page 1032, the debug page's settings -----------------------------------------------------

void PropertyDevicePanel::fillDebugPage() {
    std::wstring period = L"700";
    if (g_pref != nullptr) {
        bool present = false;
        {
            pref::Guard guard(g_pref);
            present = pref::find(g_pref, "debug.refreshTime", pref::Type::TypeString) != nullptr;
        }
        if (present)
            period = pref::getString("debug.refreshTime");
        else
            pref::setString("debug.refreshTime", period);
    }
    choiceRefreshRate->SetStringSelection(period);
    long milliseconds = 0;
    if (wxString(period).ToLong(&milliseconds) && milliseconds > 0)
        m_refreshPeriod = static_cast<int>(milliseconds);
    checkBoxLineError->SetValue(g_pref != nullptr && pref::getBool("debug.requestLineError", false));
    radioBoxDebugKind->Enable(m_device->isTypeOf(device::kMaskOrvel610Family));
    startRequestingDebugMessages();
    initVolumeSlider();
}

// ---- console options of the common page -------------------------------------------------------

void PropertyDevicePanel::onCheckBoxSinglePowerSource(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxSinglePowerSource");
    noteEdit(event.GetEventObject());
    choicePower2->Enable(!checkBoxSinglePowerSource->GetValue());
    enableEditButtons(true);
}

void PropertyDevicePanel::changeTovikTypeOnChoice(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::changeTovikTypeOnChoice");
    const bool fire = choiceTovikType->GetSelection() != 0;
    checkBoxSinglePowerSource->Enable(!fire);
    checkBoxFaultSound->Enable(!fire);
    checkBoxAnalogInput->Enable(fire);
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    debug::throwIfFalse(static_cast<bool>(console), "frm::PropertyDevicePanel::changeTovikTypeOnChoice");
    noteEdit(event.GetEventObject());
    enableEditButtons(true);
    event.Skip();
    // The boxes follow the console's settings (the kept copy, read when there
    // is none) as the operator left them when choosing; a box the operator
    // ticks or clears while they are read stays as the operator left it.
    const bool shownSinglePower = checkBoxSinglePowerSource->GetValue();
    const bool shownFaultSound = checkBoxFaultSound->GetValue();
    const std::uint64_t ticket = m_shown->load();
    const std::uint64_t mark = editMark();
    runJob<device::TovikConfig>(
        wantedFor(ticket), [console](const page_jobs::Wanted&) { return console->getConfig(false); },
        [this, console, ticket, fire, shownSinglePower, shownFaultSound,
         mark](page_jobs::Outcome<device::TovikConfig> outcome) {
            if (m_device != console || m_shown->load() != ticket) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            // Another type chosen meanwhile has a read of its own.
            if (editedSince(choiceTovikType, mark)) return;
            const rules::ConsoleOptions options = rules::consoleOptionsForType(
                fire, m_debugMode, *outcome.value, shownSinglePower, shownFaultSound);
            const std::pair<wxCheckBox*, bool> boxes[] = {{checkBoxSinglePowerSource, options.singlePower},
                                                          {checkBoxFaultSound, options.faultSound},
                                                          {checkBoxAnalogInput, options.analogInput}};
            for (const auto& [box, value] : boxes)
                if (!editedSince(box, mark)) box->SetValue(value);
            choicePower2->Enable(fire || !checkBoxSinglePowerSource->GetValue());
        });
}

// ---- the firmware upgrade ---------------------------------------------------------------------

void PropertyDevicePanel::updateFirmwareOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::updateFirmwareOnButtonClick");
    if (!isOnlineDevices() || !m_device) return;
    // GTK compares the patterns with case: both forms are offered.
    const wxString path =
        ui::chooseFile(this, L"Открыть файл прошивки", wxEmptyString,
                       L"Orvel firmwares *.bin *.eff *.fc|*.bin;*.eff;*.fc;*.BIN;*.EFF;*.FC");
    if (path.empty()) return;
    upgradeFirmwareFrom(path);
}

void PropertyDevicePanel::upgradeFirmwareFrom(const wxString& path, bool force) {
    const DevicePtr device = m_device;
    if (!device) return;
    // The dialog is there before the upgrade starts, for its first reports;
    // it is shown once the device has taken the upgrade.
    auto* dialog = new ProgressBarDialog(this, L"Обновление прошивки, подождите...");
    const ProgressBarDialog::Reporter report = dialog->reporter();
    const std::wstring file = path.ToStdWstring();
    runJob<bool>(
        page_jobs::Wanted(),
        [device, file, report, force](const page_jobs::Wanted&) {
            return device->upgradeFirmware(
                base::readFile(file),
                [report](boost::shared_ptr<device::DeviceBase> from, int percent) { report(from, percent); },
                force);
        },
        [this, dialog, path](page_jobs::Outcome<bool> outcome) {
            if (outcome.error) {
                dialog->Destroy();
                try {
                    std::rethrow_exception(outcome.error);
                } catch (const exception::ExternalError& e) {
                    // A code word alone tells the operator nothing: its text
                    // and the details go together.
                    if (e.getDetails().empty())
                        LOG_ERROR(L"%1%", e.getNotification());
                    else
                        LOG_ERROR(L"%1%\n%2%", e.getNotification(), e.getDetails());
                    if (!m_debugMode) return;
                    const wchar_t* question =
                        e.getNotification() == L"wrongPower"
                            ? L"Подключите 220 и зарядите батарею! Обновить принудительно?"
                            : L"Попробовать обновить принудительно?";
                    if (ui::askYesNo(question, L"Внимание!", wxICON_EXCLAMATION, this))
                        upgradeFirmwareFrom(path, true);
                } catch (...) {
                    page_jobs::reportFailure(std::current_exception());
                }
                return;
            }
            if (!*outcome.value) {  // nothing was queued: no message
                dialog->Destroy();
                return;
            }
            dialog->CentreOnParent(wxBOTH);
            const int answer = ui::showModal(*dialog);
            const std::vector<ProgressBarDialog::Device> failed = dialog->failedDevices();
            dialog->Destroy();
            if (answer == wxID_OK && failed.empty()) {
                LOG_NOTICE(L"Прошивка успешно отправлена на прибор, ожидайте окончание процесса обновления.");
                if (m_close) m_close();
            }
            if (!failed.empty()) {
                std::vector<std::wstring> titles;
                for (const ProgressBarDialog::Device& one : failed) titles.push_back(one->getTitle());
                LOG_ERROR(L"Произошла ошибка при обновлении прошивки в устройствах: %1%",
                          rules::failedDeviceList(titles));
            }
        });
}

// ---- Apply and Cancel ---------------------------------------------------------------------------

void PropertyDevicePanel::applyOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::applyOnButtonClick");
    // One Apply at a time: its button is off while it runs, a stray click
    // (a mnemonic) does nothing.
    if (m_applying) return;
    // A device heard from again after a silence has not answered since: the
    // Apply asks it first (startApply).
    if (!isOnlineDevices(true)) return;
    if (!m_close || !m_afterApply) {
        LOG_WARN(L"Internal error. callback doesn't set");
        return;
    }
    // What a page shows without having read this device is nothing to write.
    if (!pageRead(m_currentPage)) {
        LOG_WARN(L"Страница не прочитана из устройства: изменения не записаны");
        enableEditButtons(false);
        return;
    }
    // A typed number that is none stops Apply before anything is read or
    // written; the edit stays pending for the operator to mend.
    if (!pageNumbersTaken()) return;
    switch (m_currentPage) {
        case pages::kCommon:
            applyCommonPage();
            break;
        case pages::kAudioMemory:
            if (m_audioControl && m_audioControl->hasChanges())
                writeAudioMemory();
            else
                startApply([](device::ConfigJournal&) { return Applied(); });
            break;
        case pages::kNetwork:
            startApply([device = m_device, choice = networkChoice()](device::ConfigJournal&) {
                Applied applied;
                applied.closeAfterwards = page_writes::writeNetwork(*device, choice);
                return applied;
            });
            break;
        case pages::kZarno:
            startApply([device = m_device, choice = zarnoChoice()](device::ConfigJournal&) {
                Applied applied;
                applied.closeAfterwards = page_writes::writeZarno(*device, choice);
                return applied;
            });
            break;
        case pages::kSource:
            startApply([speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device),
                        choice = sourceChoice()](device::ConfigJournal&) {
                Applied applied;
                // Other devices write nothing.
                if (speaker) applied.closeAfterwards = page_writes::writeSources(*speaker, choice);
                return applied;
            });
            break;
        case pages::kLineControl:
            applyLineControlPage();
            break;
        case pages::kZones:
            // False: Apply ends at once, writing nothing and saying nothing more.
            applyZonePage();
            break;
        default:
            startApply([](device::ConfigJournal&) { return Applied(); });
            break;
    }
}

namespace {

/// How the device's part in an Apply's failure ended the key in flight.
apply_report::Failure failureOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const exception::Offline&) {
        return apply_report::Failure::kUnanswered;
    } catch (const exception::DeviceReason&) {
        return apply_report::Failure::kRefused;
    } catch (...) {
        return apply_report::Failure::kDeclined;
    }
}

}  // namespace

void PropertyDevicePanel::finishApply(const DevicePtr& device, int page,
                                      const page_jobs::Outcome<Applied>& outcome,
                                      const std::shared_ptr<ApplyRun>& run) {
    FRM_ASSERT_GUI_THREAD();
    if (m_applyRun == run) m_applyRun.reset();
    m_applying = false;
    setPageState(wxEmptyString);
    // Another device or page by now: what the write did is told, the rest
    // belongs to the page it was made on.
    const bool here = m_device == device && m_currentPage == page;
    if (here) {
        const auto shown = m_pages.find(page);
        if (shown != m_pages.end() && !m_reading) shown->second.window->Enable();
    }
    // A rename is kept once the settings are written: the title line and the
    // zone view follow it.
    if (device && staticDeviceName->GetLabel() != device->getTitle() && m_device == device) {
        staticDeviceName->SetLabel(device->getTitle());
        panelButtons->Layout();
        if (m_afterApply) m_afterApply();
    }
    if (outcome.error) {
        // The edits stay pending for another try; the operator learns what
        // reached the device and what did not.
        if (here) enableEditButtons(true);
        const std::wstring written =
            run ? apply_report::failedApply(run->journal.snapshot(), failureOf(outcome.error),
                                            run->rename.has_value())
                : std::wstring();
        page_jobs::reportFailure(outcome.error, written);
        return;
    }
    const Applied& applied = *outcome.value;
    if (applied.unconfirmed) {
        // A fire console that becomes a broadcast console loses the zones that
        // launch messages: only when the operator agrees. The new name waits
        // for the answer too.
        const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(device);
        if (here && console &&
            ui::messageBox(
                L"При переключении на консоль вещания будут удалены зоны с запуском сообщений, продолжить?",
                kNoMessageCaption, wxOK | wxCANCEL, this) == wxID_OK) {
            startApply(
                [collection = m_collection, console,
                 config = *applied.unconfirmed](device::ConfigJournal& journal) {
                    // The zones go first: the writes begin with them.
                    journal.begin();
                    Applied confirmed;
                    confirmed.result = collection->setTovikConfig(console, config, true);
                    return confirmed;
                },
                run ? run->rename : std::nullopt);
            return;
        }
        // Cancel: nothing written; the page shows the console's settings
        // again, and Apply and Cancel stay.
        if (here) {
            m_editStamps.clear();
            reloadPage(true);
        }
        return;
    }
    if (!applied.refusal.empty()) {
        const std::wstring& code = applied.refusal;
        if (code == L"partialIntersection")
            LOG_NOTICE(
                L"Частичное пересечение орвелов в зонах для запуска сообщений недопускается.\n"
                L"Также в зонах должны быть разные сообщения для запуска.");
        else if (code == L"internalPlaying")
            LOG_NOTICE(L"Запрещено редактирование во время тревожного вещания на орвелах");
        else
            LOG_NOTICE(L"Зона не записана: %1%", wxGetTranslation(code).ToStdWstring());
    }
    if (applied.result) {
        LOG_NOTICE(L"Выполнение операции завершено");
        if (here) {
            enableEditButtons(false);
            // Written: the page's values are the device's again.
            m_editStamps.clear();
        }
    } else if (here) {
        // The buttons stay as they were: the edit may be tried again.
        reloadPage(true);
    }
    if (applied.closeAfterwards && m_device == device && m_close) m_close();
}

void PropertyDevicePanel::finishApplyBeforeExit() {
    FRM_ASSERT_GUI_THREAD();
    // From now on no outcome is shown: the window is going.
    m_exiting = true;
    const std::shared_ptr<ApplyRun> run = m_applyRun;
    if (!run) return;
    const std::wstring title = run->device ? run->device->getTitle() : std::wstring();
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        done = run->done;
    }
    // Writes that have not begun never will: the device stays as it was.
    if (!done && !run->journal.withhold()) {
        LOG_IMPOR(L"Выход из программы во время записи настроек устройства '%1%': запись не начиналась, "
                  L"устройство оставлено как было",
                  title);
        return;
    }
    // Writes under way go on to their end, and so does the restart they
    // need: the device holds the whole Apply (a port set with the ports it
    // moves) and never a part of it. The exit waits for them, each key still
    // to go and the restart at most as long as the device is given to
    // answer (and the late replies of a resent one are drained); a key it
    // does not answer ends the writes sooner.
    std::chrono::milliseconds bound{0};
    if (!done) {
        const device::ConfigJournal::Snapshot begun = run->journal.snapshot();
        const std::size_t left = begun.planned.size() - std::min(begun.written, begun.planned.size()) + 1;
        const device::ReplyTimes times = run->device ? run->device->replyTimes() : device::ReplyTimes();
        bound = std::min<std::chrono::milliseconds>((times.giveUp + times.lateReply) * static_cast<long>(left),
                                                    m_pagePeriods.exitWritesAtMost);
    }
    done = waitForApply(*run, bound);
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        error = run->error;
    }
    const device::ConfigJournal::Snapshot journal = run->journal.snapshot();
    const bool renameAsked = run->rename.has_value();
    if (done && !error) {
        const std::wstring written = apply_report::writtenKeys(journal);
        std::wstring keys = written.empty() ? std::wstring() : L" (" + written + L")";
        if (run->restarted) keys += L", устройство перезапускается с ними";
        LOG_IMPOR(L"Выход из программы: запись настроек устройства '%1%' завершена, записано всё%2%", title,
                  std::wstring_view(keys));
    } else if (done) {
        std::string cause;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            cause = e.what();
        } catch (...) {
        }
        const std::wstring told = apply_report::failedApply(journal, failureOf(error), renameAsked);
        LOG_IMPOR(L"Выход из программы: запись настроек устройства '%1%' не удалась (%2%)\n%3%", title, cause,
                  std::wstring_view(told));
    } else {
        const std::wstring told = apply_report::cutApply(journal, renameAsked);
        LOG_IMPOR(L"Выход из программы не дождался записи настроек устройства '%1%' (%2% мс)\n%3%", title,
                  static_cast<long long>(bound.count()), std::wstring_view(told));
    }
}

bool PropertyDevicePanel::waitForApply(ApplyRun& run, std::chrono::milliseconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    const auto ended = [&run] {
        std::lock_guard<std::mutex> lock(run.mutex);
        return run.done;
    };
    // The window keeps answering: its events are handled every few
    // milliseconds, but the operator's input, which waits (the window is
    // going; what the exit does next disables it first).
    std::unique_ptr<wxGUIEventLoop> own;
    std::unique_ptr<wxEventLoopActivator> activate;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop == nullptr) {
        own = std::make_unique<wxGUIEventLoop>();
        activate = std::make_unique<wxEventLoopActivator>(own.get());
        loop = own.get();
    }
    constexpr auto kAnswerEvery = std::chrono::milliseconds(10);
    while (!ended()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return false;
        loop->YieldFor(wxEVT_CATEGORY_ALL & ~wxEVT_CATEGORY_USER_INPUT);
        std::unique_lock<std::mutex> lock(run.mutex);
        run.ended.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kAnswerEvery, until - now),
                           [&run] { return run.done; });
    }
    return true;
}

bool PropertyDevicePanel::pageNumbersTaken() {
    fb::NumberSpin* field = nullptr;
    const wchar_t* name = nullptr;
    switch (m_currentPage) {
        case pages::kCommon:
            // Only a console shows its type's priority.
            if (boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
                field = spinTovikPriority;
                name = L"Приоритет типа консоли";
            }
            break;
        case pages::kNetwork:
            field = spinBasePort;
            name = L"Базовый порт";
            break;
        case pages::kZarno:
            field = spinZarnoAddress;
            name = L"Адрес";
            break;
        default:
            break;
    }
    return field == nullptr || takeNumber(*field, name).has_value();
}

void PropertyDevicePanel::applyCommonPage() {
    const std::wstring name = textName->GetValue().ToStdWstring();
    const bool rename = m_device && name != m_device->getTitle();
    if (rename) LOG_INFO(L"rename device, old name '%1%', new name '%2%'", m_device->getTitle(), name);
    // The program keeps the new name once the device's settings are written.
    const std::optional<std::wstring> newName = rename ? std::optional<std::wstring>(name) : std::nullopt;
    if (const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)) {
        page_writes::LineChoice choice;
        choice.linesJoined = choiceLineMode->GetSelection() == 1;
        choice.lineTest = checkBoxLineControl->GetValue();
        startApply(
            [speaker, choice](device::ConfigJournal&) {
                Applied applied;
                applied.closeAfterwards = page_writes::writeLines(*speaker, choice);
                return applied;
            },
            newName);
        return;
    }
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) {
        startApply([](device::ConfigJournal&) { return Applied(); }, newName);
        return;
    }
    debug::throwIfFalse(static_cast<bool>(m_collection), "frm::PropertyDevicePanel::applyOnButtonClick");
    page_writes::ConsoleChoice choice;
    choice.gong = checkBoxGong->GetValue();
    choice.gongId = chosenIdIfAny(*comboBoxGong);
    choice.beeper = checkBoxKeySound->GetValue();
    choice.singlePower = checkBoxSinglePowerSource->GetValue();
    choice.gochsArm = checkBoxAnalogInput->GetValue();
    choice.faultAlarm = checkBoxFaultSound->GetValue();
    choice.ledScBlink = checkBoxZoneIndication->GetValue();
    choice.fire = choiceTovikType->GetSelection() != 0;
    choice.priority = static_cast<std::uint32_t>(spinTovikPriority->read().value);
    choice.powerIn1 = static_cast<std::uint32_t>(std::max(choicePower1->GetSelection(), 0));
    choice.powerIn2 = static_cast<std::uint32_t>(std::max(choicePower2->GetSelection(), 0));
    startApply(
        [collection = m_collection, console, choice](device::ConfigJournal&) {
            Applied applied;
            const device::TovikConfig config = page_writes::consoleConfig(*console, choice);
            if (!collection->setTovikConfig(console, config, false)) applied.unconfirmed = config;
            return applied;
        },
        newName);
}

page_writes::NetworkChoice PropertyDevicePanel::networkChoice() const {
    page_writes::NetworkChoice choice;
    choice.multicastIp = narrow(textMulticastIp->GetValue());
    if (checkBoxAllowIp->GetValue()) choice.allowedIp = narrow(textAllowIp->GetValue());
    choice.port = static_cast<std::uint16_t>(spinBasePort->read().value);
    choice.dhcp = checkBoxDhcp->GetValue();
    choice.ip = narrow(textIp->GetValue());
    choice.mask = narrow(textMask->GetValue());
    choice.gateway = narrow(textGateway->GetValue());
    choice.lanRedundancy = checkBoxLanRedundancy->GetValue();
    choice.igmp = checkBoxIgmp->GetValue();
    return choice;
}

page_writes::ZarnoChoice PropertyDevicePanel::zarnoChoice() const {
    page_writes::ZarnoChoice choice;
    choice.address = static_cast<std::uint8_t>(spinZarnoAddress->read().value);
    choice.relayEvents = checkBoxRelayEvents->GetValue();
    choice.interfaceErrors = checkBoxIsTestZarno->GetValue();
    choice.lineRedundancy = checkBoxLineRedundancy->GetValue();
    return choice;
}

page_writes::SourceChoice PropertyDevicePanel::sourceChoice() const {
    page_writes::SourceChoice choice;
    choice.streamFromOthers = checkBoxStreamFromOthers->GetValue();
    choice.forwardInput1 = checkBoxForwardInput1->GetValue();
    choice.forwardInput2 = checkBoxForwardInput2->GetValue();
    choice.analogFilter = checkBoxAnalogFilter->GetValue();
    choice.zarnoMessages = entryPriority(*choiceZarnoMessagesPriority);
    choice.analogInput2 = entryPriority(*choiceAnalogInput2Priority);
    choice.analogInput1 = entryPriority(*choiceAnalogInput1Priority);
    choice.multicast = entryPriority(*choiceAnalogMulticastPriority);
    choice.console = entryPriority(*choiceAnalogConsolePriority);
    choice.alarmStream = entryPriority(*choiceAlarmStreamPriority);
    choice.scenarioInput2 = chosenIdIfAny(*choiceAnalogInput2Function);
    choice.scenarioInput1 = chosenIdIfAny(*choiceAnalogInput1Function);
    choice.lineIntegrity = checkBoxLineIntegrity->GetValue();
    return choice;
}

void PropertyDevicePanel::writeAudioMemory() {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::writeAudioMemory");
    debug::throwIfFalse(static_cast<bool>(m_audioControl), "frm::PropertyDevicePanel::writeAudioMemory");
    // The dialog is there before the write starts, for its first reports;
    // it is shown once the device's memory has taken the write.
    auto* dialog = new ProgressBarDialog(this, L"Прошивка аудио данных...");
    // The write's reports come from its worker; one that comes after the
    // dialog has closed is only logged.
    const auto dialogExists = std::make_shared<std::atomic<bool>>(true);
    const ProgressBarDialog::Reporter report = dialog->reporter();
    const DevicePtr device = m_device;
    const boost::shared_ptr<device::memory::IAudioControl> held = m_audioControl;
    m_applying = true;
    panelAudioMemory->Disable();
    enableEditButtons(false);
    setPageState(L"Запись…");
    using Control = boost::shared_ptr<device::memory::IAudioControl>;
    runJob<Control>(
        page_jobs::Wanted(),
        [device, held, dialogExists, report](const page_jobs::Wanted&) {
            // Heard from again after a silence: asked first, as every Apply does.
            if (!device->isOnlineAndAnswered()) device->checkOnline(true);
            Control control = device->getAudioControl(false, true);
            if (!control) control = held;
            control->writeChanges([dialogExists, report, device](int percent) {
                if (dialogExists->load())
                    report(device, percent);
                else
                    LOG_IMPOR(L"Progress bar doesn't exist! percent=%1%", percent);
            });
            return control;
        },
        [this, dialog, dialogExists, device](page_jobs::Outcome<Control> outcome) {
            const int page = pages::kAudioMemory;
            page_jobs::Outcome<Applied> applied;
            applied.error = outcome.error;
            if (!outcome.error) {
                dialog->CentreOnParent(wxBOTH);
                const int answer = ui::showModal(*dialog);
                applied.value.emplace();
                if (answer == wxID_OK && dialog->failedDevices().empty()) {
                    // Every fragment now lies on the device: none has a file
                    // of its own. The page is read anew below.
                    if (m_device == device)
                        m_fragmentTexts.assign((*outcome.value)->getFragments().size(), std::wstring());
                } else {
                    LOG_ERROR(L"Произошла ошибка при обновлении аудио данных");
                    applied.value->result = false;
                }
            }
            *dialogExists = false;
            dialog->Destroy();
            if (applied.value && applied.value->result && m_device == device && m_currentPage == page) {
                // Reloaded as after a successful write; then told as done.
                finishApply(device, page, applied, nullptr);
                reloadPage();
                return;
            }
            finishApply(device, page, applied, nullptr);
        });
}

void PropertyDevicePanel::cancelOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::cancelOnButtonClick");
    if (m_applying) return;
    if (!pageRead(m_currentPage)) {
        enableEditButtons(false);
        return;
    }
    // The edits are thrown away; the page's reload enables the buttons again
    // only for audio-memory edits still pending. The worker reverts the
    // memory before it reads the page again.
    enableEditButtons(false);
    m_editStamps.clear();
    if (m_device && m_audioControl) revertAudioMemory(false);
    reloadPage();
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return;
    runJob<bool>(
        page_jobs::Wanted(),
        [console](const page_jobs::Wanted&) {
            if (!console->isPasskeyListening()) return false;
            console->finishPasskeyListening();
            return true;
        },
        [this, console](page_jobs::Outcome<bool> outcome) {
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            if (*outcome.value && m_device == console) refreshPasskeys();
        });
}

}  // namespace frm
