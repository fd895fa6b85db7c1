// The scheduler page's task editor and task creation, its answers to the
// other pages (the scheduler control, the device-use test) and what a due
// message task does.
#include <boost/filesystem/operations.hpp>
#include <boost/pointer_cast.hpp>
#include <cwchar>
#include <map>
#include <utility>
#include <vector>

#include "audio/alarm_channel.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/orvel_info.h"
#include "gui/gui_thread.h"
#include "gui/number_field.h"
#include "gui/scheduler_checks.h"
#include "gui/scheduler_store.h"
#include "gui/source_scheduler_panel.h"

namespace frm {

namespace {

constexpr std::string_view kAddTask = "frm::SourceSchedulerPanel::addTaskOnButtonClick";

/// Hours and minutes, two digits each ("08:05").
std::wstring timeText(int hours, int minutes) {
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02d:%02d", hours, minutes);
    return text;
}

bool fileExists(const std::wstring& path) {
    boost::system::error_code ec;
    return boost::filesystem::is_regular_file(base::toUtf8(path), ec);
}

/// A source title on one line.
wxString oneLine(const std::wstring& title) {
    wxString text(title);
    text.Replace(L"\n", L" ");
    return text;
}

}  // namespace

// ---- the editor --------------------------------------------------------------------

void SourceSchedulerPanel::setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>& sources) {
    FRM_ASSERT_GUI_THREAD();
    place->Clear();
    content->Clear();
    gong->Disable();
    noGongLabel->Hide();
    m_store->setSources(sources);
    for (const auto& source : sources) place->Append(oneLine(source ? source->getTitle() : std::wstring()));
    if (!sources.empty()) fillContentChoice(0);
    Layout();
}

void SourceSchedulerPanel::fillContentChoice(std::size_t source) {
    content->Clear();
    const auto& sources = m_store->getSources();
    if (source >= sources.size() || !sources[source]) return;
    place->SetSelection(static_cast<int>(source));
    // In one call: a music source may hold many thousand playlists.
    const auto playbacks = sources[source]->getAll();
    wxArrayString names;
    names.reserve(playbacks.size());
    for (const auto& playback : playbacks) names.push_back(playback->getName());
    content->Append(names);
}

void SourceSchedulerPanel::placeOnChoice(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::placeOnChoice");
    FRM_ASSERT_GUI_THREAD();
    const int chosen = event.GetSelection();
    const auto& sources = m_store->getSources();
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= sources.size() || !sources[chosen]) {
        LOG_ERROR(L"Internal error. Not found source. Selection %1%", chosen);
        return;
    }
    fillContentChoice(static_cast<std::size_t>(chosen));
    const auto playbacks = sources[chosen]->getAll();
    if (!playbacks.empty()) {
        // A group holds one kind: its first playback tells whether a gong goes with it.
        const bool message = boost::dynamic_pointer_cast<PlaybackTrack>(playbacks.front()) != nullptr;
        gong->Enable(message);
        noGongLabel->Show(message);
        LOG_DEBUG(L"position: %1%, is enabled gong: %2%", chosen, message ? L"true" : L"false");
    }
    selectTask(false);
    Layout();
}

void SourceSchedulerPanel::fillGongChoice() {
    FRM_ASSERT_GUI_THREAD();
    m_gongPaths = AlarmChannel::getGongFiles();
    m_gongPaths.insert(m_gongPaths.begin(), std::wstring());
    gong->Clear();
    for (const std::wstring& path : m_gongPaths) gong->Append(getFileName(path));
}

void SourceSchedulerPanel::repeatOnRadioBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::repeatOnRadioBox");
    showTaskType(repeat->GetSelection());
    selectTask(false);
}

void SourceSchedulerPanel::showTaskType(int kind) {
    FRM_ASSERT_GUI_THREAD();
    for (wxWindow* panel : {static_cast<wxWindow*>(periodPanel), static_cast<wxWindow*>(weekDays),
                            static_cast<wxWindow*>(firstDatePanel), static_cast<wxWindow*>(lastDatePanel),
                            static_cast<wxWindow*>(dayTimePanel), static_cast<wxWindow*>(stepPanel)})
        panel->Hide();
    stopTimePanel->Show();
    if (kind == 0) {
        firstDatePanel->Show();
        dayTimePanel->Show();
        stopTimePanel->Hide();
    } else if (kind == 1) {
        dayTimePanel->Show();
        firstDatePanel->Show();
        lastDatePanel->Show();
    }
    repeat->SetSelection(kind);
    // The time-of-day box shrinks or grows with the stop row.
    dayTimePanel->InvalidateBestSize();
    dayTimePanel->Layout();
    dayTimePanel->GetSizer()->Fit(dayTimePanel);
    Layout();
    Refresh();
}

void SourceSchedulerPanel::firstDateOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::firstDateOnCheckBox");
    selectTask(false);
    firstDateCalendar->Enable(firstDate->GetValue());
}

void SourceSchedulerPanel::lastDateOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::lastDateOnCheckBox");
    selectTask(false);
    lastDateCalendar->Enable(lastDate->GetValue());
}

void SourceSchedulerPanel::stopTimeOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::stopTimeOnCheckBox");
    stopHour->Enable(stopTime->GetValue());
    stopMinute->Enable(stopTime->GetValue());
}

bool SourceSchedulerPanel::timeFieldsTaken() {
    std::vector<std::pair<fb::NumberSpin*, const wchar_t*>> fields = {
        {startHour, L"Время запуска: часы"}, {startMinute, L"Время запуска: минуты"}};
    // A one-shot item has no stop: its fields are hidden and not read.
    if (stopTime->GetValue() && repeat->GetSelection() != 0)
        fields.insert(fields.end(),
                      {{stopHour, L"Время останова: часы"}, {stopMinute, L"Время останова: минуты"}});
    for (const auto& [field, name] : fields)
        if (!takeNumber(*field, name)) return false;
    return true;
}

std::wstring SourceSchedulerPanel::dayOf(const wxGenericCalendarCtrl* calendar) const {
    const wxDateTime day = calendar->IsThisEnabled() ? calendar->GetDate() : todayDate();
    return day.FormatISODate().ToStdWstring();
}

// ---- adding an item ----------------------------------------------------------------

void SourceSchedulerPanel::addTaskOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::addTaskOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const int placeAt = place->GetSelection();
    const int contentAt = content->GetSelection();
    if (placeAt == wxNOT_FOUND || contentAt == wxNOT_FOUND) {
        LOG_NOTICE(L"Необходимо выбрать источник воспроизведения");
        return;
    }
    const DeviceSet chosen = checkedDevices();
    if (chosen.empty()) {
        LOG_NOTICE(L"Не выбрано ни одного устройства");
        return;
    }
    // An hour or minute as typed, never the nearest one of its range ("24"
    // stood as 23, an emptied field as 0).
    if (!timeFieldsTaken()) return;
    const auto& sources = m_store->getSources();
    debug::terminateIfOutOfRange(sources, placeAt, kAddTask);
    debug::terminateIfNull(sources[static_cast<std::size_t>(placeAt)], kAddTask);
    const auto playbacks = sources[static_cast<std::size_t>(placeAt)]->getAll();
    debug::terminateIfOutOfRange(playbacks, contentAt, kAddTask);
    debug::terminateIfNull(playbacks[static_cast<std::size_t>(contentAt)], kAddTask);
    const boost::shared_ptr<IPlayback> playback = playbacks[static_cast<std::size_t>(contentAt)]->clone();

    const std::wstring startDate = dayOf(firstDateCalendar);
    const std::wstring startTime = timeText(startHour->read().value, startMinute->read().value);
    const bool lastDay = lastDateCalendar->IsThisEnabled();
    std::wstring finalDate = lastDay ? dayOf(lastDateCalendar) : std::wstring();
    const int kind = repeat->GetSelection();
    // A ticked stop of 00:00 means no stop; a one-shot item has none.
    const bool hasStop =
        stopTime->GetValue() && kind != 0 && (stopHour->read().value != 0 || stopMinute->read().value != 0);
    std::wstring stopText =
        hasStop ? timeText(stopHour->read().value, stopMinute->read().value) : std::wstring();
    // Taken before the checks: a refused item still uses up its two ids.
    const auto [startId, stopId] = m_store->takeTaskIds();
    const scheduler::task::Environment& environment = m_store->environment();

    TaskPtr start;
    TaskPtr stop;
    if (kind == 0) {
        start = std::make_shared<scheduler::task::Once>(startId, startDate, startTime,
                                                        scheduler::task::Event(), environment);
        finalDate = startDate;
        stopText.clear();
    } else {
        // ISO dates and two-digit times order as texts.
        if (lastDay && startDate > finalDate) {
            LOG_NOTICE(L"Неверный порядок дат");
            return;
        }
        if (!stopText.empty() && startDate == finalDate && stopText <= startTime) {
            LOG_NOTICE(L"Неверный порядок времени");
            return;
        }
        start = std::make_shared<scheduler::task::Daily>(startId, startDate, startTime, finalDate,
                                                         scheduler::task::Event(), environment);
        if (!stopText.empty())
            stop = std::make_shared<scheduler::task::Daily>(stopId, startDate, stopText, finalDate,
                                                            SchedulerStore::stopEvent(), environment);
    }

    playback->setDevices(chosen);
    if (const auto track = boost::dynamic_pointer_cast<PlaybackTrack>(playback)) {
        const int at = gong->GetSelection();
        const std::wstring path = at != wxNOT_FOUND && static_cast<std::size_t>(at) < m_gongPaths.size()
                                      ? m_gongPaths[static_cast<std::size_t>(at)]
                                      : std::wstring();
        track->setGong(getFileName(path), path);
    }
    scheduler::task::DataVault vault;
    vault.playback = playback;
    vault.startDate = startDate;
    vault.finalDate = finalDate;
    vault.startTime = startTime;
    vault.stopTime = stopText;
    vault.deviceIds = playbackDeviceIds(playback);
    vault.stopTaskId = stop ? stopId : scheduler::task::kNoStopTask;
    vault.isStopTask = false;
    scheduler::task::setVault(*start, vault);
    m_store->setStartEvent(start, playback);
    if (stop) {
        vault.stopTaskId = 0;
        vault.isStopTask = true;
        scheduler::task::setVault(*stop, vault);
    }

    debug::throwIfFalse(m_core->putTask(start), kAddTask, L"Failure to add a startTask");
    LOG_INFO(L"Добавлено задание №%1%", startId);
    if (stop) {
        debug::throwIfFalse(m_core->putTask(stop), kAddTask, L"Failure to add startTask at end");
        LOG_DEBUG(L"Добавлено задание окончания №%1%", stopId);
    }
    refreshTaskListCtrl();
}

std::vector<std::uint32_t> SourceSchedulerPanel::playbackDeviceIds(
    const boost::shared_ptr<IPlayback>& playback) {
    FRM_ASSERT_GUI_THREAD();
    std::vector<std::uint32_t> ids;
    if (!playback) return ids;
    for (const auto& speaker : playback->getDevices()) {
        if (!speaker) continue;
        const std::uint32_t id = speaker->getId();
        ids.push_back(id);
        bool offered = false;
        for (unsigned entry = 0; entry < filterDeviceChoice->GetCount() && !offered; ++entry)
            offered = reinterpret_cast<std::uintptr_t>(filterDeviceChoice->GetClientData(entry)) == id;
        if (offered) continue;
        const std::wstring address = base::fromUtf8(speaker->getHardwareAddress().toCharArray());
        filterDeviceChoice->Append(speaker->getTitle() + L" (" + address + L")",
                                   reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)));
    }
    return ids;
}

// ---- a due message -----------------------------------------------------------------

void SourceSchedulerPanel::checkPlaybackAndTask(const boost::shared_ptr<PlaybackTrack>& track,
                                                const std::weak_ptr<scheduler::task::BaseTask>& weakTask) {
    const TaskPtr task = weakTask.lock();
    if (!track || !task) {
        LOG_ERROR(L"Error of data. Playback or task is null.");
        return;
    }
    // Resolved on copies: the track is the task's, and the GUI thread may be
    // saving or checking it at this moment.
    const std::wstring message = track->messageDir();
    const std::wstring gongPath = scheduler::resolvedGongPath(*track);
    const bool messageThere = !message.empty() && fileExists(message);
    if (messageThere && (gongPath.empty() || fileExists(gongPath))) {
        const auto copy = boost::dynamic_pointer_cast<PlaybackTrack>(track->clone());
        copy->setMessage(track->getMessageName(), message);
        copy->setGong(track->getGongName(), gongPath);
        copy->execute();
        return;
    }
    LOG_ERROR(L"Задание имеет неверные пути файлов '%1%'/'%2%'", message, gongPath);
    task->enable(false);
    GuiThreadInvoker::add([this, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.lock()) resetControls();
    });
}

// ---- what the other pages ask ------------------------------------------------------

boost::shared_ptr<IPlayback> SourceSchedulerPanel::getPlayback(const std::wstring& name) {
    for (const auto& [id, task] : m_core->getTasks()) {
        const auto* base = dynamic_cast<const scheduler::task::BaseTask*>(task.get());
        if (base == nullptr) {
            LOG_ERROR(L"It is unknown type of scheduler");
            continue;
        }
        const auto playback = scheduler::task::getVault(*base).playback;
        if (!playback) {
            LOG_ERROR(L"It is unknown playback in scheduler.");
            continue;
        }
        if (playback->getName() == name) return playback;
    }
    return nullptr;
}

bool SourceSchedulerPanel::existPlaylist(const std::wstring& name) {
    FRM_ASSERT_GUI_THREAD();
    return getPlayback(name) != nullptr;
}

void SourceSchedulerPanel::renamePlaylist(const std::wstring& oldName, const std::wstring& newName) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::renamePlaylist");
    FRM_ASSERT_GUI_THREAD();
    if (oldName == newName) return;
    // One pass over every task. A playback is never changed in place (a
    // worker may be playing it): each is replaced by a renamed copy, one copy
    // per playback, so that a start task and its stop task keep sharing it.
    std::map<IPlayback*, boost::shared_ptr<IPlayback>> renamed;
    for (const auto& [id, task] : m_core->getTasks()) {
        const auto base = std::dynamic_pointer_cast<scheduler::task::BaseTask>(task);
        if (!base) {
            LOG_ERROR(L"It is unknown type of scheduler");
            continue;
        }
        scheduler::task::DataVault vault = scheduler::task::getVault(*base);
        if (!vault.playback) {
            LOG_ERROR(L"It is unknown playback in scheduler.");
            continue;
        }
        if (vault.playback->getName() != oldName) continue;
        boost::shared_ptr<IPlayback>& copy = renamed[vault.playback.get()];
        if (!copy) {
            copy = vault.playback->clone();
            copy->setName(newName);
        }
        vault.playback = copy;
        scheduler::task::setVault(*base, vault);
        if (!vault.isStopTask) m_store->setStartEvent(base, copy);
        LOG_DEBUG(L"scheduler: task %1% plays '%2%' now", id, newName);
    }
    if (!renamed.empty()) refreshTaskListCtrl();
}

bool SourceSchedulerPanel::isUsedDevice(const boost::shared_ptr<device::DeviceBase>& device) {
    FRM_ASSERT_GUI_THREAD();
    if (!device) return false;
    for (const auto& [id, task] : m_core->getTasks()) {
        const auto* base = dynamic_cast<const scheduler::task::BaseTask*>(task.get());
        if (base == nullptr)
            dbg_abort("Internal error. Task pointer is null2", "frm::SourceSchedulerPanel::isUsedDevice");
        const auto playback = scheduler::task::getVault(*base).playback;
        if (!boost::dynamic_pointer_cast<PlaybackPlaylist>(playback)) continue;
        for (const auto& speaker : playback->getDevices())
            if (static_cast<device::DeviceBase*>(speaker.get()) == device.get()) return true;
    }
    return false;
}

}  // namespace frm
