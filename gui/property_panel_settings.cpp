// The pages read from the device's configuration (common, network, Zarno,
// sources), the audio-memory page's reading, the debug page's settings, the
// option edits, the online check, the firmware upgrade, and Apply and Cancel.
//
// Everything here runs on the GUI thread. The device reads and writes are
// synchronous exchanges, each bounded by the transport's time-out; the
// firmware upgrade and the audio-memory write run on the device's worker
// threads, whose reports reach the progress dialog through the GUI-thread
// invoker.

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
#include "gui/number_field.h"
#include "gui/progress_bar_dialog.h"
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
/// Firmware-version indexes from which the sources page offers a setting.
constexpr int kFirstInputMessageIndex = 14;
constexpr int kFirstFilterIndex = 18;
constexpr int kFirstIgmpIndex = 18;
/// The loudspeakers whose line settings the common page shows.
constexpr int kFirstLineIndex = 2;
constexpr int kLastLineIndex = 8;
constexpr int kLastPackedEqualizerIndex = 8;

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

/// The id of the entry chosen, or `kept` (the device's own value) while the
/// installer has chosen none.
std::uint16_t chosenIdOr(const wxItemContainer& list, std::uint16_t kept) {
    return list.GetSelection() == wxNOT_FOUND ? kept : chosenId(list);
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

bool PropertyDevicePanel::isOnlineDevices() {
    FRM_ASSERT_GUI_THREAD();
    const bool online = m_device && m_device->isOnlineAndAnswered();
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
    staticName->Enable();
    textName->Enable();
    textName->ChangeValue(m_device->getTitle());
    wxSizer* page = panelCommon->GetSizer();

    if (const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device)) {
        LOG_TRACE(L"%1%", L"select a microphone console");
        panelEqualizer->Disable();
        panelEqualizer->Hide();
        panelEqBands->Hide();
        checkBoxEqualizer->Hide();
        page->Show(sizerLine, false, true);
        panelTovik->Show();

        const device::TovikConfig config = console->getConfig(false);
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
        if (const auto memory = m_device->getAudioControl(false, false)) {
            for (const device::memory::FragmentInfo& fragment : memory->getFragments())
                comboBoxGong->Append(wxString::Format(L"%u - %s", static_cast<unsigned>(fragment.position),
                                                      wxString(fragment.title)),
                                     asClientData(fragment.id));
        }
        selectId(*comboBoxGong, config.gongId);
        const bool gongs = comboBoxGong->GetCount() > 0;
        comboBoxGong->Enable(gongs);
        checkBoxGong->SetValue(config.gong);
        checkBoxGong->Enable(gongs);
    } else if (const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)) {
        LOG_TRACE(L"%1%", L"select a megaphone");
        panelTovik->Hide();
        const int index = speaker->getVersionIndex();
        const bool sixBand = index > kLastPackedEqualizerIndex;
        m_equalizer = speaker->getEqualizer();
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
        checkBoxEqualizer->Show();
        panelEqualizer->Show();
        panelBassTreble->Show(!sixBand);
        panelEqBands->Show(sixBand);
        for (wxWindow* control :
             std::initializer_list<wxWindow*>{staticBass, sliderBass, staticTreble, sliderTreble})
            control->Enable();
        const bool on = m_equalizer && m_equalizer->isEnabled();
        checkBoxEqualizer->SetValue(on);
        panelEqualizer->Enable(on);

        const bool lineSettings = index >= kFirstLineIndex && index <= kLastLineIndex;
        checkBoxLineControl->Enable(lineSettings);
        choiceLineMode->Enable(lineSettings);
        choiceLineMode->Show(index <= kLastPackedEqualizerIndex);
        page->Show(sizerLine, lineSettings, true);
        if (lineSettings) {
            const device::OrvelConfig config = speaker->getConfig(false);
            choiceLineMode->SetSelection(config.linesJoined ? 1 : 0);
            checkBoxLineControl->SetValue(config.lineTest);
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

bool PropertyDevicePanel::fillAudioMemoryPage() {
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

    // Only a loudspeaker's memory that can't be read may be replaced by an
    // empty one; a console's never is, and a silent device is no case for it.
    const bool replaceable = static_cast<bool>(boost::dynamic_pointer_cast<device::OrvelInfo>(m_device));
    bool overwrite = false;
    bool read = false;
    m_audioControl.reset();
    for (;;) {
        try {
            m_audioControl = m_device->getAudioControl(overwrite, true);
            read = true;
            if (!m_audioControl) {
                LOG_DEBUG(L"%1%", L"the device has no audio memory");
                panelAudioMemory->Disable();
                break;
            }
            m_fragmentTexts.resize(m_audioControl->getFragments().size());
            textFreeMemory->ChangeValue(wxString::Format(L"%u", m_audioControl->getSizeOfFreeMemory()));
            loadListCtrlAudioFragment();
            loadListCtrlAudioScenario();
            panelAudioMemory->Enable();
            break;
        } catch (const exception::Base& e) {
            read = false;
            panelAudioMemory->Disable();
            LOG_WARN(L"%1%", std::string(e.what()));
            const bool unreadable =
                dynamic_cast<const exception::IncorrectFormat*>(&e) != nullptr ||
                dynamic_cast<const exception::UnknownVersionOfAudioMemory*>(&e) != nullptr;
            // Once allowed, a second failure is no memory that overwriting
            // would mend: the page stays disabled without asking again.
            if (!replaceable || !unreadable || overwrite) break;
            if (ui::messageBox(L"Разрешить перезапись аудио памяти?", kNoMessageCaption, wxOK | wxCANCEL,
                               this) != wxID_OK)
                break;
            overwrite = true;
        }
    }
    if (!read) return false;
    if (m_audioControl && m_audioControl->hasChanges()) enableEditButtons(true);
    return true;
}

// ---- page 1015, network ----------------------------------------------------------------------

void PropertyDevicePanel::fillNetworkPage() {
    const device::ConfigCommon config = m_device->readConfig(false);
    enableDhcp(config.dhcp);
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

void PropertyDevicePanel::enableDhcp(bool on) {
    checkBoxDhcp->SetValue(on);
    for (wxTextCtrl* field : {textIp, textMask, textGateway}) field->Enable(!on);
    debug::throwIfFalse(static_cast<bool>(m_device), "frm::PropertyDevicePanel::enableDhcp");
    const device::ConfigCommon config = m_device->readConfig(true);
    textIp->ChangeValue(base::toWide(config.ip));
    textMask->ChangeValue(base::toWide(config.mask));
    textGateway->ChangeValue(base::toWide(config.gw));
}

void PropertyDevicePanel::onCheckBoxDhcp(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxDhcp");
    enableDhcp(checkBoxDhcp->GetValue());
    enableEditButtons(true);
    event.Skip();
}

void PropertyDevicePanel::onCheckBoxAllowIp(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxAllowIp");
    textAllowIp->Enable(checkBoxAllowIp->GetValue());
    enableEditButtons(true);
    event.Skip();
}

// ---- page 1023, Zarno ------------------------------------------------------------------------

void PropertyDevicePanel::fillZarnoPage() {
    const device::ConfigCommon config = m_device->readConfig(true);
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
        m_close();  // std::bad_function_call without a callback
        return;
    }
    const int index = speaker->getVersionIndex();
    const device::OrvelConfig config = speaker->getConfig(false);
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
        if (const auto memory = m_device->getAudioControl(false, false)) {
            for (const device::memory::ScenarioInfo& scenario : memory->getScenarios())
                for (wxChoice* choice : {choiceAnalogInput2Function, choiceAnalogInput1Function})
                    choice->Append(wxString::Format(L"%u", static_cast<unsigned>(scenario.number)),
                                   asClientData(scenario.id));
        }
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

void PropertyDevicePanel::onCheckBoxSinglePowerSource(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxSinglePowerSource");
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
    const rules::ConsoleOptions options =
        rules::consoleOptionsForType(fire, m_debugMode, console->getConfig(false),
                                     checkBoxSinglePowerSource->GetValue(), checkBoxFaultSound->GetValue());
    choicePower2->Enable(options.power2Enabled);
    checkBoxSinglePowerSource->SetValue(options.singlePower);
    checkBoxFaultSound->SetValue(options.faultSound);
    checkBoxAnalogInput->SetValue(options.analogInput);
    enableEditButtons(true);
    event.Skip();
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

void PropertyDevicePanel::upgradeFirmwareFrom(const wxString& path) {
    const DevicePtr device = m_device;
    bool force = false;
    for (;;) {
        try {
            ProgressBarDialog dialog(this, L"Обновление прошивки, подождите...");
            const std::string file = base::readFile(path.ToStdWstring());
            const ProgressBarDialog::Reporter report = dialog.reporter();
            const bool started = device->upgradeFirmware(
                file,
                [report](boost::shared_ptr<device::DeviceBase> from, int percent) { report(from, percent); },
                force);
            if (!started) return;  // nothing was queued: no message
            dialog.CentreOnParent(wxBOTH);
            const int answer = ui::showModal(dialog);
            const std::vector<ProgressBarDialog::Device> failed = dialog.failedDevices();
            if (answer == wxID_OK && failed.empty()) {
                LOG_NOTICE(L"Прошивка успешно отправлена на прибор, ожидайте окончание процесса обновления.");
                m_close();
            }
            if (!failed.empty()) {
                std::vector<std::wstring> titles;
                for (const ProgressBarDialog::Device& one : failed) titles.push_back(one->getTitle());
                LOG_ERROR(L"Произошла ошибка при обновлении прошивки в устройствах: %1%",
                          rules::failedDeviceList(titles));
            }
            return;
        } catch (const exception::ExternalError& e) {
            // A code word alone tells the operator nothing: its text and the
            // details go together.
            if (e.getDetails().empty())
                LOG_ERROR(L"%1%", e.getNotification());
            else
                LOG_ERROR(L"%1%\n%2%", e.getNotification(), e.getDetails());
            if (!m_debugMode) return;
            const wchar_t* question = e.getNotification() == L"wrongPower"
                                          ? L"Подключите 220 и зарядите батарею! Обновить принудительно?"
                                          : L"Попробовать обновить принудительно?";
            if (!ui::askYesNo(question, L"Внимание!", wxICON_EXCLAMATION, this)) return;
            force = true;
        }
    }
}

// ---- Apply and Cancel ---------------------------------------------------------------------------

void PropertyDevicePanel::applyOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::applyOnButtonClick");
    if (!isOnlineDevices()) return;
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
    bool result = true;
    bool closeAfterwards = false;
    switch (m_currentPage) {
        case pages::kCommon:
            result = applyCommonPage(closeAfterwards);
            break;
        case pages::kAudioMemory:
            if (m_audioControl && m_audioControl->hasChanges()) result = writeAudioMemory();
            break;
        case pages::kNetwork:
            closeAfterwards = applyNetworkPage();
            break;
        case pages::kZarno:
            closeAfterwards = applyZarnoPage();
            break;
        case pages::kSource:
            closeAfterwards = applySourcePage();
            break;
        case pages::kLineControl:
            result = applyLineControlPage();
            break;
        case pages::kZones: {
            const std::optional<bool> zones = applyZonePage();
            if (!zones) return;
            result = *zones;
            break;
        }
        default:
            break;
    }
    if (result) {
        LOG_NOTICE(L"Выполнение операции завершено");
        enableEditButtons(false);
    } else {
        updateData();
    }
    if (closeAfterwards) m_close();
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

bool PropertyDevicePanel::applyCommonPage(bool& closeAfterwards) {
    const std::wstring name = textName->GetValue().ToStdWstring();
    if (m_device && name != m_device->getTitle()) {
        LOG_INFO(L"rename device, old name '%1%', new name '%2%'", m_device->getTitle(), name);
        m_device->setTitle(name);
        staticDeviceName->SetLabel(m_device->getTitle());
        panelButtons->Layout();
        m_afterApply();
    }
    if (const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device)) {
        device::OrvelConfig config = speaker->getConfig(true);
        config.linesJoined = choiceLineMode->GetSelection() == 1;
        config.lineTest = checkBoxLineControl->GetValue();
        closeAfterwards = speaker->setConfig(config);
        return true;
    }
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (!console) return true;
    device::TovikConfig config = console->getConfig(false);
    config.gong = checkBoxGong->GetValue();
    config.gongId = chosenIdOr(*comboBoxGong, config.gongId);
    config.beeper = checkBoxKeySound->GetValue();
    config.singlePower = checkBoxSinglePowerSource->GetValue();
    config.gochsArm = checkBoxAnalogInput->GetValue();
    config.faultAlarm = checkBoxFaultSound->GetValue();
    config.ledScBlink = checkBoxZoneIndication->GetValue();
    config.ainEnabled = choiceTovikType->GetSelection() != 0;
    config.priority = static_cast<std::uint32_t>(spinTovikPriority->read().value);
    config.powerIn1 = static_cast<std::uint32_t>(std::max(choicePower1->GetSelection(), 0));
    config.powerIn2 = static_cast<std::uint32_t>(std::max(choicePower2->GetSelection(), 0));
    debug::throwIfFalse(static_cast<bool>(m_collection), "frm::PropertyDevicePanel::applyOnButtonClick");
    if (m_collection->setTovikConfig(console, config, false)) return true;
    // A fire console that becomes a broadcast console loses the zones that
    // launch messages: only when the operator agrees.
    if (ui::messageBox(
            L"При переключении на консоль вещания будут удалены зоны с запуском сообщений, продолжить?",
            kNoMessageCaption, wxOK | wxCANCEL, this) != wxID_OK)
        return false;
    return m_collection->setTovikConfig(console, config, true);
}

bool PropertyDevicePanel::applyNetworkPage() {
    device::ConfigCommon config = m_device->readConfig(true);
    config.multicastIp = narrow(textMulticastIp->GetValue());
    config.srvAllowedIP = checkBoxAllowIp->GetValue() ? narrow(textAllowIp->GetValue()) : "0.0.0.0";
    config.srvPort = static_cast<std::uint16_t>(spinBasePort->read().value);
    config.dhcp = checkBoxDhcp->GetValue();
    config.ip = narrow(textIp->GetValue());
    config.mask = narrow(textMask->GetValue());
    config.gw = narrow(textGateway->GetValue());
    // The device's flag says "no redundancy".
    config.switchMode = !checkBoxLanRedundancy->GetValue();
    config.igmpReport = checkBoxIgmp->GetValue() ? 60 : 0;
    return m_device->writeConfig(config);
}

bool PropertyDevicePanel::applyZarnoPage() {
    device::ConfigCommon config = m_device->readConfig(true);
    config.zarnoAddr = static_cast<std::uint8_t>(spinZarnoAddress->read().value);
    config.zarnoRelay = checkBoxRelayEvents->GetValue();
    config.zarnoTest = checkBoxIsTestZarno->GetValue();
    config.zarnoReserve = checkBoxLineRedundancy->GetValue();
    return m_device->writeConfig(config);
}

bool PropertyDevicePanel::applySourcePage() {
    const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!speaker) return false;
    device::OrvelConfig config = speaker->getConfig(false);
    config.multicastListen = checkBoxStreamFromOthers->GetValue();
    config.multicastAin1 = checkBoxForwardInput1->GetValue();
    config.multicastAin2 = checkBoxForwardInput2->GetValue();
    config.ainFilter = checkBoxAnalogFilter->GetValue();
    config.priVoiceAlert = entryPriority(*choiceZarnoMessagesPriority);
    config.priAin2 = entryPriority(*choiceAnalogInput2Priority);
    config.priAin1 = entryPriority(*choiceAnalogInput1Priority);
    config.priStreamMCast = entryPriority(*choiceAnalogMulticastPriority);
    config.priZoneInput = entryPriority(*choiceAnalogConsolePriority);
    config.priStream = entryPriority(*choiceAlarmStreamPriority);
    config.scenarioIdAin2 = chosenIdOr(*choiceAnalogInput2Function, config.scenarioIdAin2);
    config.scenarioIdAin1 = chosenIdOr(*choiceAnalogInput1Function, config.scenarioIdAin1);
    config.ain2Arm = checkBoxLineIntegrity->GetValue();
    return speaker->setConfig(config);
}

bool PropertyDevicePanel::writeAudioMemory() {
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::writeAudioMemory");
    debug::throwIfFalse(static_cast<bool>(m_audioControl), "frm::PropertyDevicePanel::writeAudioMemory");
    ProgressBarDialog dialog(this, L"Прошивка аудио данных...");
    // The write's reports come from its worker; one that comes after the
    // dialog has closed is only logged.
    const auto dialogExists = std::make_shared<std::atomic<bool>>(true);
    struct Closed {
        std::atomic<bool>& flag;
        ~Closed() { flag = false; }
    } closed{*dialogExists};

    boost::shared_ptr<device::memory::IAudioControl> control = m_device->getAudioControl(false, true);
    if (!control) control = m_audioControl;
    const ProgressBarDialog::Reporter report = dialog.reporter();
    const DevicePtr device = m_device;
    control->writeChanges([dialogExists, report, device](int percent) {
        if (dialogExists->load())
            report(device, percent);
        else
            LOG_IMPOR(L"Progress bar doesn't exist! percent=%1%", percent);
    });
    dialog.CentreOnParent(wxBOTH);
    const int answer = ui::showModal(dialog);
    if (answer == wxID_OK && dialog.failedDevices().empty()) {
        // Every fragment now lies on the device: none has a file of its own.
        m_fragmentTexts.assign(control->getFragments().size(), std::wstring());
        updateData();
        return true;
    }
    LOG_ERROR(L"Произошла ошибка при обновлении аудио данных");
    return false;
}

void PropertyDevicePanel::cancelOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::cancelOnButtonClick");
    if (!pageRead(m_currentPage)) {
        enableEditButtons(false);
        return;
    }
    // The edits are thrown away; the page's reload enables the buttons again
    // only for audio-memory edits still pending.
    enableEditButtons(false);
    updateData();
    if (m_device && m_audioControl) {
        wxCommandEvent revert;
        revertChanges(revert);
    }
    const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(m_device);
    if (console && console->isPasskeyListening()) {
        console->finishPasskeyListening();
        refreshPasskeys();
    }
}

}  // namespace frm
