// The audio-memory page, the equalizer, the line check, the reboot and the
// dependent check boxes of the Zarno and sources pages. The handlers run on
// the GUI thread; the device exchanges (play, stop, whether the device
// plays, a fragment's bytes, the revert, the equalizer, the line test, the
// reboot) run on the panel's worker, and their refusals are told to the
// operator as the main loop tells a handler's exception. Refusals of the
// audio memory's edits, which ask no device, leave the handlers as
// exceptions, which the application's main loop shows.

#include <boost/make_shared.hpp>

#include "audio/device_action.h"
#include "base/check.h"
#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/wx/gui_guards.h"
#include "device/memory/audio_control.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/version.h"
#include "gui/device_control_rules.h"
#include "gui/fragment_dialog.h"
#include "gui/gui_thread.h"
#include "gui/item_data_map.h"
#include "gui/memory_page_rules.h"
#include "gui/property_device_panel.h"
#include "gui/property_settings_rules.h"
#include "gui/scenario_dialog.h"
#include "gui/ui.h"

namespace frm {

namespace {

using device::memory::IAudioControl;
using memory_page::MenuItem;

const wchar_t kFragmentFilter[] = L"Audio (*.mp3)|*.mp3";
const wchar_t kImageFilter[] = L"orvel audio image (*.a-bin)|*.a-bin";

/// A fragment or scenario reference as a list cell: 0xFFFF names nothing
/// (a scenario without a gong) and gives an empty cell.
wxString fragmentTitle(IAudioControl& audio, std::uint16_t id) {
    if (id == IAudioControl::kNone) return wxString();
    return audio.getFragmentAt(id).title;
}

}  // namespace

// ---- the selection and the lists ----------------------------------------------------------

IAudioControl& PropertyDevicePanel::audioControl(const char* place) {
    debug::throwIfFalse(m_audioControl != nullptr, place);
    return *m_audioControl;
}

std::uint16_t PropertyDevicePanel::selectedFragment() const {
    return static_cast<std::uint16_t>(m_audioSelection & 0xFFFF);
}

std::uint16_t PropertyDevicePanel::selectedScenario() const {
    return static_cast<std::uint16_t>(m_audioSelection >> 16);
}

void PropertyDevicePanel::selectFragment(std::uint16_t id, long row) {
    m_audioSelection = (m_audioSelection & 0xFFFF0000u) | id;
    m_fragmentRow = id == IAudioControl::kNone ? -1 : row;
}

void PropertyDevicePanel::selectScenario(std::uint16_t id, long row) {
    m_audioSelection = (m_audioSelection & 0x0000FFFFu) | (static_cast<std::uint32_t>(id) << 16);
    m_scenarioRow = id == IAudioControl::kNone ? -1 : row;
}

void PropertyDevicePanel::loadListCtrlAudioFragment() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::loadListCtrlAudioFragment");
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::loadListCtrlAudioFragment");
    selectFragment(IAudioControl::kNone, -1);
    GuiFreezer freeze(listCtrlAudioFragment);
    listCtrlAudioFragment->DeleteAllItems();
    const std::vector<device::memory::FragmentInfo> fragments = audio.getFragments();
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        const long row = listCtrlAudioFragment->InsertItem(static_cast<long>(i), wxString());
        listCtrlAudioFragment->SetItem(row, 1, fragments[i].title);
        listCtrlAudioFragment->SetItem(row, 2, wxString::Format(L"%u", fragments[i].size));
        listCtrlAudioFragment->SetItem(row, 3, memory_page::sourceText(m_fragmentTexts, fragments.size(), i));
        listCtrlAudioFragment->SetItemData(row, fragments[i].id);
    }
    reorderListCtrlAudioFragment();
}

void PropertyDevicePanel::reorderListCtrlAudioFragment() {
    FRM_ASSERT_GUI_THREAD();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::reorderListCtrlAudioFragment");
    for (long row = 0; row < listCtrlAudioFragment->GetItemCount(); ++row)
        listCtrlAudioFragment->SetItem(row, 0, wxString::Format(L"%li", row + 1));
    textFreeMemory->SetValue(wxString::Format(L"%u", audio.getSizeOfFreeMemory()));
    selectFragment(IAudioControl::kNone, -1);
}

void PropertyDevicePanel::loadListCtrlAudioScenario() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%", L"frm::PropertyDevicePanel::loadListCtrlAudioScenario");
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::loadListCtrlAudioScenario");
    selectScenario(IAudioControl::kNone, -1);
    GuiFreezer freeze(listCtrlAudioScenario);
    listCtrlAudioScenario->DeleteAllItems();
    const std::vector<device::memory::ScenarioInfo> scenarios = audio.getScenarios();
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        const device::memory::ScenarioInfo& scenario = scenarios[i];
        const long row = listCtrlAudioScenario->InsertItem(static_cast<long>(i),
                                                           wxString::Format(L"%hu", scenario.number));
        listCtrlAudioScenario->SetItem(row, 1, scenario.title);
        listCtrlAudioScenario->SetItem(row, 2, fragmentTitle(audio, scenario.gongId));
        listCtrlAudioScenario->SetItem(row, 3, fragmentTitle(audio, scenario.messageId));
        listCtrlAudioScenario->SetItem(row, 4, wxString::Format(L"%hu", scenario.period));
        listCtrlAudioScenario->SetItemData(row, scenario.id);
    }
    textFreeMemory->SetValue(memory_page::groupedDigits(audio.getSizeOfFreeMemory()));
}

void PropertyDevicePanel::listCtrlAudioFragmentOnListItemSelected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioFragmentOnListItemSelected");
    event.Skip();
    const long row = event.GetIndex();
    selectFragment(static_cast<std::uint16_t>(listCtrlAudioFragment->GetItemData(row)), row);
}

void PropertyDevicePanel::listCtrlAudioFragmentOnListItemDeselected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioFragmentOnListItemDeselected");
    event.Skip();
    selectFragment(IAudioControl::kNone, -1);
}

void PropertyDevicePanel::listCtrlAudioScenarioOnListItemSelected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioScenarioOnListItemSelected");
    event.Skip();
    const long row = event.GetIndex();
    selectScenario(static_cast<std::uint16_t>(listCtrlAudioScenario->GetItemData(row)), row);
}

void PropertyDevicePanel::listCtrlAudioScenarioOnListItemDeselected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioScenarioOnListItemDeselected");
    event.Skip();
    selectScenario(IAudioControl::kNone, -1);
}

// ---- the list menus --------------------------------------------------------------------------
//
// A press of either button empties the list's menu, so that the layout's
// opener, which runs after the press handler, finds nothing to pop up; the
// release builds the menu for the state of that moment and pops it up. The
// items taken out are destroyed; those built are the menu's until the next
// press or the menu's end. The menu binds its items by id, so new items
// reach the same handlers.

namespace {

/// The list view the page was drawn for selects the row under a right
/// press; GTK's list leaves the selection alone. The press selects it here,
/// so that the release offers what that row allows.
void selectRowUnderRightPress(wxListCtrl* list, const wxMouseEvent& event) {
    if (!event.RightDown()) return;
    int flags = 0;
    const long row = list->HitTest(event.GetPosition(), flags);
    if (row == wxNOT_FOUND || list->GetItemState(row, wxLIST_STATE_SELECTED) != 0) return;
    list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                       wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
}

}  // namespace

void PropertyDevicePanel::emptyListMenu(wxMenu* menu) {
    while (menu->GetMenuItemCount() > 0) menu->Destroy(menu->FindItemByPosition(0));
    if (menu == menuFragment)
        menuFragmentPlay = menuFragmentStop = menuFragmentAdd = menuFragmentSave = menuFragmentDelete =
            nullptr;
    else if (menu == menuScenario)
        menuScenarioAdd = menuScenarioDelete = menuScenarioPlay = menuScenarioStop = nullptr;
}

void PropertyDevicePanel::listCtrlAudioFragmentOnRightDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioFragmentOnRightDown");
    emptyListMenu(menuFragment);
    selectRowUnderRightPress(listCtrlAudioFragment, event);
    event.Skip();
}

void PropertyDevicePanel::listCtrlAudioFragmentOnRightUp(wxMouseEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioFragmentOnRightUp");
    event.Skip();
    emptyListMenu(menuFragment);
    // A page that could not read the memory offers nothing.
    if (!m_audioControl) {
        LOG_DEBUG(L"%1%", L"no audio memory, no menu for fragments");
        return;
    }
    popUpMemoryMenu(true, event.GetPosition());
}

void PropertyDevicePanel::popUpMemoryMenu(bool fragments, wxPoint position) {
    // Whether the device plays is its answer: the menu pops up when it comes,
    // where the button was released, unless the page changed meanwhile.
    const boost::shared_ptr<IAudioControl> control = m_audioControl;
    const DevicePtr device = m_device;
    const std::uint64_t ticket = m_shown->load();
    runJob<bool>(
        wantedFor(ticket), [control](const page_jobs::Wanted&) { return control->isPlaying(); },
        [this, control, device, ticket, fragments, position](page_jobs::Outcome<bool> outcome) {
            if (m_shown->load() != ticket || m_audioControl != control || m_device != device) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            wxListCtrl* list = fragments ? listCtrlAudioFragment : listCtrlAudioScenario;
            if (!list->IsShownOnScreen()) return;
            memory_page::MenuState state;
            state.playing = *outcome.value;
            state.pending = control->hasChanges();
            state.loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device) != nullptr;
            if (fragments) {
                emptyListMenu(menuFragment);
                state.selected = selectedFragment() != IAudioControl::kNone;
                showFragmentMenu(state, position);
            } else {
                emptyListMenu(menuScenario);
                state.selected = selectedScenario() != IAudioControl::kNone;
                showScenarioMenu(state, position);
            }
        });
}

void PropertyDevicePanel::showFragmentMenu(const memory_page::MenuState& state, wxPoint position) {
    for (const MenuItem item : memory_page::fragmentMenu(state)) {
        switch (item) {
            case MenuItem::kPlay:
                menuFragmentPlay = menuFragment->Append(ID_MENU_FRAGMENT_PLAY, L"Воспроизвести");
                break;
            case MenuItem::kStop:
                menuFragmentStop = menuFragment->Append(ID_MENU_FRAGMENT_STOP, L"Остановить");
                break;
            case MenuItem::kAdd:
                menuFragmentAdd = menuFragment->Append(ID_MENU_FRAGMENT_ADD, L"Добавить");
                break;
            case MenuItem::kSave:
                menuFragmentSave = menuFragment->Append(ID_MENU_FRAGMENT_SAVE, L"Сохранить");
                break;
            case MenuItem::kDelete:
                menuFragmentDelete = menuFragment->Append(ID_MENU_FRAGMENT_DELETE, L"Удалить");
                break;
        }
    }
    // On GTK an empty popup never returns.
    if (menuFragment->GetMenuItemCount() == 0) return;
    LOG_TRACE2(L"%1%", L"Show menu for fragments.");
    listCtrlAudioFragment->PopupMenu(menuFragment, position);
    LOG_DEBUG(L"%1%", L"Showed menu for fragments.");
}

void PropertyDevicePanel::listCtrlAudioScenarioOnRightDown(wxMouseEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioScenarioOnRightDown");
    emptyListMenu(menuScenario);
    selectRowUnderRightPress(listCtrlAudioScenario, event);
    event.Skip();
}

void PropertyDevicePanel::listCtrlAudioScenarioOnRightUp(wxMouseEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::listCtrlAudioScenarioOnRightUp");
    event.Skip();
    emptyListMenu(menuScenario);
    if (!m_audioControl) {
        LOG_DEBUG(L"%1%", L"no audio memory, no menu for scenarios");
        return;
    }
    popUpMemoryMenu(false, event.GetPosition());
}

void PropertyDevicePanel::showScenarioMenu(const memory_page::MenuState& state, wxPoint position) {
    for (const MenuItem item : memory_page::scenarioMenu(state)) {
        switch (item) {
            case MenuItem::kPlay:
                menuScenarioPlay = menuScenario->Append(ID_MENU_SCENARIO_PLAY, L"Воспроизвести");
                break;
            case MenuItem::kStop:
                menuScenarioStop = menuScenario->Append(ID_MENU_SCENARIO_STOP, L"Остановить");
                break;
            case MenuItem::kAdd:
                menuScenarioAdd = menuScenario->Append(ID_MENU_SCENARIO_ADD, L"Добавить");
                break;
            case MenuItem::kDelete:
                menuScenarioDelete = menuScenario->Append(ID_MENU_SCENARIO_DELETE, L"Удалить");
                break;
            case MenuItem::kSave:
                break;
        }
    }
    if (menuScenario->GetMenuItemCount() == 0) return;
    LOG_TRACE2(L"%1%", L"Show menu for scenarios.");
    listCtrlAudioScenario->PopupMenu(menuScenario, position);
    LOG_DEBUG(L"%1%", L"Showed menu for scenarios.");
}

// ---- play and stop -------------------------------------------------------------------------

void PropertyDevicePanel::runMemoryAction(const std::function<void(IAudioControl&)>& action) {
    const boost::shared_ptr<IAudioControl> control = m_audioControl;
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [control, action](const page_jobs::Wanted&) {
            action(*control);
            return page_jobs::Done();
        },
        [](const page_jobs::Outcome<page_jobs::Done>& outcome) { page_jobs::reportFailure(outcome.error); });
}

void PropertyDevicePanel::menuFragmentPlayOnSelection(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuFragmentPlayOnSelection");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::menuFragmentPlayOnSelection");
    const std::uint16_t id = selectedFragment();
    if (id != IAudioControl::kNone) runMemoryAction([id](IAudioControl& audio) { audio.playFragment(id); });
}

void PropertyDevicePanel::menuScenarioPlayOnSelection(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuScenarioPlayOnSelection");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::menuScenarioPlayOnSelection");
    const std::uint16_t id = selectedScenario();
    if (id != IAudioControl::kNone) runMemoryAction([id](IAudioControl& audio) { audio.playScenario(id); });
}

void PropertyDevicePanel::menuAudioStopOnSelection(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuAudioStopOnSelection");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::menuAudioStopOnSelection");
    runMemoryAction([](IAudioControl& audio) { audio.stop(); });
}

// ---- fragments ---------------------------------------------------------------------------------

void PropertyDevicePanel::menuFragmentAddOnSelection(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuFragmentAddOnSelection");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::menuFragmentAddOnSelection");
    // The selection is gone however the dialog ends, a refusal included.
    struct Unselect {
        PropertyDevicePanel& panel;
        ~Unselect() { panel.selectFragment(IAudioControl::kNone, -1); }
    } unselect{*this};
    std::wstring name, path;
    FragmentDialog dialog(this, name, path);
    if (ui::showModal(dialog) != wxID_OK) return;
    const std::string bytes = base::readFile(path);
    audio.addFragment(name, bytes);
    m_fragmentTexts.push_back(path);
    loadListCtrlAudioFragment();
    enableEditButtons(true);
}

void PropertyDevicePanel::menuFragmentSaveOnSelection(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuFragmentSaveOnSelection");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::menuFragmentSaveOnSelection");
    const std::uint16_t id = selectedFragment();
    if (id == IAudioControl::kNone) return;
    const std::wstring title = audio.getFragmentAt(id).title;
    const wxString path =
        ui::chooseSaveFile(this, L"Сохранить фрагмент", wxEmptyString, title, kFragmentFilter);
    if (path.empty()) return;
    // The bytes may have to come from the device.
    runMemoryAction([id, file = path.ToStdWstring()](IAudioControl& memory) {
        base::writeFile(file, memory.getFragmentFile(id));
    });
}

void PropertyDevicePanel::menuFragmentDeleteOnSelection(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuFragmentDeleteOnSelection");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::menuFragmentDeleteOnSelection");
    const std::uint16_t id = selectedFragment();
    if (id == IAudioControl::kNone) return;
    const long row = m_fragmentRow;
    audio.removeFragment(id);
    memory_page::dropSource(m_fragmentTexts, audio.getFragments().size(), row);
    if (row >= 0 && row < listCtrlAudioFragment->GetItemCount()) listCtrlAudioFragment->DeleteItem(row);
    selectFragment(IAudioControl::kNone, -1);
    reorderListCtrlAudioFragment();
    // Removing a fragment also removes the scenarios that play it.
    loadListCtrlAudioScenario();
    enableEditButtons(true);
}

// ---- scenarios ---------------------------------------------------------------------------------

void PropertyDevicePanel::menuScenarioAddOnSelection(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuScenarioAddOnSelection");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::menuScenarioAddOnSelection");
    struct Unselect {
        PropertyDevicePanel& panel;
        ~Unselect() { panel.selectScenario(IAudioControl::kNone, -1); }
    } unselect{*this};
    // The dialog adds the scenario itself.
    ScenarioDialog dialog(this, m_audioControl);
    if (ui::showModal(dialog) != wxID_OK) return;
    loadListCtrlAudioScenario();
    enableEditButtons(true);
}

void PropertyDevicePanel::menuScenarioDeleteOnSelection(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::menuScenarioDeleteOnSelection");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::menuScenarioDeleteOnSelection");
    const std::uint16_t id = selectedScenario();
    if (id == IAudioControl::kNone) return;
    const long row = m_scenarioRow;
    audio.removeScenario(id);
    if (row >= 0 && row < listCtrlAudioScenario->GetItemCount()) listCtrlAudioScenario->DeleteItem(row);
    selectScenario(IAudioControl::kNone, -1);
    enableEditButtons(true);
    loadListCtrlAudioScenario();
}

// ---- the whole memory --------------------------------------------------------------------------

void PropertyDevicePanel::audioMemoryOnButtonClick(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::audioMemoryOnButtonClick");
    event.Skip();
    buttonAudioMemory->PopupMenu(menuAudioMemory, 0, buttonAudioMemory->GetSize().y);
}

void PropertyDevicePanel::clearMemory(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::clearMemory");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::clearMemory");
    selectFragment(IAudioControl::kNone, -1);
    selectScenario(IAudioControl::kNone, -1);
    audio.clear();
    m_fragmentTexts.clear();
    loadListCtrlAudioFragment();
    loadListCtrlAudioScenario();
    enableEditButtons(true);
}

void PropertyDevicePanel::revertChanges(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::revertChanges");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::revertChanges");
    // Nothing is pending from now on, whatever the revert finds.
    enableEditButtons(false);
    revertAudioMemory(true);
}

void PropertyDevicePanel::revertAudioMemory(bool shown) {
    FRM_ASSERT_GUI_THREAD();
    const boost::shared_ptr<IAudioControl> control = m_audioControl;
    if (!control) return;
    // The revert reads the device again (when it is online).
    runJob<std::size_t>(
        page_jobs::Wanted(),
        [control](const page_jobs::Wanted&) {
            control->revertChanges();
            return control->getFragments().size();
        },
        [this, control, shown](page_jobs::Outcome<std::size_t> outcome) {
            if (m_audioControl != control) return;
            if (outcome.error) {
                if (!shown) {
                    // Leaving the page: a device that does not answer must not
                    // keep the operator; only the log hears of it.
                    try {
                        std::rethrow_exception(outcome.error);
                    } catch (const exception::Base& e) {
                        LOG_WARN(L"%1%", base::toWide(e.what()));
                        return;
                    } catch (...) {
                    }
                }
                page_jobs::reportFailure(outcome.error);
                return;
            }
            // What the device holds now has no file behind it.
            m_fragmentTexts.assign(*outcome.value, std::wstring());
            if (!shown || m_currentPage != property_pages::kAudioMemory) return;
            selectFragment(IAudioControl::kNone, -1);
            selectScenario(IAudioControl::kNone, -1);
            loadListCtrlAudioFragment();
            loadListCtrlAudioScenario();
            enableEditButtons(false);
        });
}

void PropertyDevicePanel::saveImageMemory(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::saveImageMemory");
    event.Skip();
    audioControl("frm::PropertyDevicePanel::saveImageMemory");
    const wxString path =
        ui::chooseSaveFile(this, L"Сохранить образ аудио памяти", wxEmptyString, wxEmptyString, kImageFilter);
    if (path.empty()) return;
    // The fragments not yet read come from the device first.
    runMemoryAction(
        [file = path.ToStdWstring()](IAudioControl& memory) { base::writeFile(file, memory.getImage()); });
}

void PropertyDevicePanel::loadImageMemory(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::loadImageMemory");
    event.Skip();
    IAudioControl& audio = audioControl("frm::PropertyDevicePanel::loadImageMemory");
    const wxString path = ui::chooseFile(this, L"Открыть образ аудио памяти", wxEmptyString, kImageFilter);
    if (path.empty()) return;
    audio.setImage(base::readFile(path.ToStdWstring()));
    m_fragmentTexts.assign(audio.getFragments().size(), std::wstring());
    enableEditButtons(true);
    loadListCtrlAudioFragment();
    loadListCtrlAudioScenario();
}

// ---- the equalizer ------------------------------------------------------------------------------
//
// Every control replaces the current equalizer by a new one and sends it to
// the panel's loudspeaker at once; the device sends only what differs.

void PropertyDevicePanel::applyEqualizerToDevices(bool reload) {
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    debug::throwIfFalse(loudspeaker != nullptr, "frm::PropertyDevicePanel::applyEqualizerToDevices");
    // The worker sends a copy: the switch changes the current one in place.
    const boost::shared_ptr<device::IEqualizer> equalizer = m_equalizer ? m_equalizer->clone() : m_equalizer;
    runJob<bool>(
        page_jobs::Wanted(),
        [loudspeaker, equalizer](const page_jobs::Wanted&) { return loudspeaker->setEqualizer(equalizer); },
        [this, loudspeaker, reload](page_jobs::Outcome<bool> outcome) {
            if (outcome.error)
                page_jobs::reportFailure(outcome.error);
            else if (!*outcome.value)
                LOG_WARN(L"Не удалось изменить настройки эквалайзера");
            if (reload && m_device == loudspeaker) reloadPage();
        });
}

void PropertyDevicePanel::onLeftUpBassSlider(wxMouseEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onLeftUpBassSlider");
    event.Skip();  // the slider finishes its own drag
    if (!isOnlineDevices()) return;
    const int value = sliderBass->GetValue();
    sliderBass->SetToolTip(
        wxString::Format(L"Громкость басса %i%%", property_rules::bassPercent(value, sliderBass->GetMax())));
    const auto current = boost::dynamic_pointer_cast<device::o510::Equalizer>(m_equalizer);
    if (!current) {
        LOG_ERROR(L"incorrectly selected equalizer");
        return;
    }
    m_equalizer = boost::make_shared<device::o510::Equalizer>(value, current->getField(3));
    applyEqualizerToDevices();
}

void PropertyDevicePanel::onLeftUpTrebleSlider(wxMouseEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onLeftUpTrebleSlider");
    event.Skip();
    if (!isOnlineDevices()) return;
    const int value = sliderTreble->GetValue();
    sliderTreble->SetToolTip(wxString::Format(
        L"Громкость высоких частот %i%%",
        property_rules::treblePercent(value, sliderTreble->GetMin(), sliderTreble->GetMax())));
    const auto current = boost::dynamic_pointer_cast<device::o510::Equalizer>(m_equalizer);
    if (!current) {
        LOG_ERROR(L"incorrectly selected equalizer o510");
        return;
    }
    m_equalizer = boost::make_shared<device::o510::Equalizer>(current->getField(1), value);
    applyEqualizerToDevices();
}

void PropertyDevicePanel::onBandSlider(wxMouseEvent& event) { bandSliderMoved(event); }

void PropertyDevicePanel::onBandSliderScroll(wxScrollEvent& event) { bandSliderMoved(event); }

void PropertyDevicePanel::bandSliderMoved(wxEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onBandSlider");
    event.Skip();
    if (!isOnlineDevices()) return;
    auto* slider = dynamic_cast<wxSlider*>(event.GetEventObject());
    if (slider == nullptr) {
        LOG_ERROR(L"Internal error. It is detected unknown object for action.");
        return;
    }
    slider->SetToolTip(wxString::Format(L"%i дБ", slider->GetValue()));
    if (!boost::dynamic_pointer_cast<device::o610::Equalizer>(m_equalizer)) {
        LOG_ERROR(L"incorrectly selected equalizer o610");
        return;
    }
    if (m_bandSliders.size() != device::o610::Equalizer::kBands)
        throw exception::ExternalError(L"Внешняя ошибка",
                                       L"Не соответствует количеству полос эквалайзера прибора Орвел-610");
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    // Generations 9 to 13 take the extended request.
    const bool extended = loudspeaker && loudspeaker->getVersionIndex() < 14;
    auto equalizer = boost::make_shared<device::o610::Equalizer>(checkBoxEqualizer->GetValue(), extended);
    for (std::size_t band = 0; band < m_bandSliders.size(); ++band)
        equalizer->setBands(static_cast<int>(band), m_bandSliders[band]->GetValue());
    m_equalizer = equalizer;
    applyEqualizerToDevices();
}

void PropertyDevicePanel::onCheckBoxEqualizer(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxEqualizer");
    if (!isOnlineDevices()) return;
    if (!m_equalizer) {
        LOG_ERROR(L"Internal error. Is is null equalizer.");
        return;
    }
    const bool on = checkBoxEqualizer->GetValue();
    panelEqualizer->Enable(on);
    m_equalizer->setEnabled(on);
    event.Skip();
    applyEqualizerToDevices();
}

void PropertyDevicePanel::resetEqOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::resetEqOnButtonClick");
    if (!isOnlineDevices()) return;
    if (!panelBassTreble->IsShown())
        m_equalizer = boost::make_shared<device::o610::Equalizer>(true, false);
    else
        m_equalizer = boost::make_shared<device::o510::Equalizer>(0, 0);
    applyEqualizerToDevices(true);
}

// ---- line check and reboot -------------------------------------------------------------------------

void PropertyDevicePanel::buttonSetLineOnClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::buttonSetLineOnClick");
    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(m_device);
    if (!loudspeaker) return;
    // The measurement takes the loudspeaker a while: the button waits for it.
    buttonSetLine->Disable();
    runJob<std::pair<bool, bool>>(
        page_jobs::Wanted(), [loudspeaker](const page_jobs::Wanted&) { return loudspeaker->setLine(); },
        [this](page_jobs::Outcome<std::pair<bool, bool>> outcome) {
            buttonSetLine->Enable();
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            const std::wstring verdict =
                device_controls::lineVerdict(outcome.value->first, outcome.value->second);
            if (verdict.empty())
                LOG_NOTICE(L"Операция выполнена успешно");
            else
                LOG_WARN(L"%1%", verdict);
        });
}

void PropertyDevicePanel::rebootOnClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::rebootOnClick");
    if (!isOnlineDevices()) return;
    debug::throwIfFalse(m_items != nullptr, "frm::PropertyDevicePanel::rebootOnClick");
    ItemDataMap::DevicePtrSet devices;
    {
        GuiLocker lock;
        devices = m_items->collectSelectedDevices();
    }
    // Each device in the set's order, on the worker. A device that does not
    // answer keeps no other from rebooting (the answers are not used); a
    // refusal (a device that plays an alarm) ends the walk there and the
    // panel stays.
    buttonReboot->Disable();
    runJob<page_jobs::Done>(
        page_jobs::Wanted(),
        [devices](const page_jobs::Wanted&) {
            ActionArg0<bool, device::DeviceBase, bool (device::DeviceBase::*)()> reboot(
                &device::DeviceBase::reboot);
            GuiLocker lock;
            applyActionToDevices(devices, reboot);
            return page_jobs::Done();
        },
        [this, device = m_device](const page_jobs::Outcome<page_jobs::Done>& outcome) {
            buttonReboot->Enable();
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            LOG_NOTICE(L"Прибор перезагружен");
            // The panel is left, unless the operator has left it already.
            if (m_device == device) m_close();  // std::bad_function_call without a callback
        });
}

// ---- dependent check boxes ------------------------------------------------------------------------

void PropertyDevicePanel::onCheckBoxIsTestZarno(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxIsTestZarno");
    editPending(event, true);
    debug::throwIfFalse(m_device != nullptr, "frm::PropertyDevicePanel::onCheckBoxIsTestZarno");
    // Only the LAN family reserves the Zarno line, and only while the
    // interface errors are indicated.
    if (!m_device->isTypeOf(device::kMaskLanFamily)) return;
    const bool indicated = checkBoxIsTestZarno->GetValue();
    checkBoxLineRedundancy->Enable(indicated);
    if (!indicated) {
        checkBoxLineRedundancy->SetValue(false);
        return;
    }
    // Ticked again: the device's own setting (the kept record allowed),
    // unless the operator has set the box meanwhile.
    const DevicePtr device = m_device;
    const std::uint64_t ticket = m_shown->load();
    const std::uint64_t mark = editMark();
    runJob<bool>(
        wantedFor(ticket),
        [device](const page_jobs::Wanted&) { return device->readConfig(false).zarnoReserve; },
        [this, device, ticket, mark](page_jobs::Outcome<bool> outcome) {
            if (m_device != device || m_shown->load() != ticket) return;
            if (outcome.error) {
                page_jobs::reportFailure(outcome.error);
                return;
            }
            if (editedSince(checkBoxLineRedundancy, mark) || editedSince(checkBoxIsTestZarno, mark)) return;
            checkBoxLineRedundancy->SetValue(checkBoxIsTestZarno->GetValue() && *outcome.value);
        });
}

void PropertyDevicePanel::onCheckBoxSource(wxCommandEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::PropertyDevicePanel::onCheckBoxSource");
    noteEdit(event.GetEventObject());
    event.Skip();
    initSource(checkBoxStreamFromOthers->GetValue(), checkBoxForwardInput1->GetValue(),
               checkBoxForwardInput2->GetValue());
    enableEditButtons(true);
}

void PropertyDevicePanel::forwardStreamOnCheckBox(wxCommandEvent& event) { onCheckBoxSource(event); }

}  // namespace frm
