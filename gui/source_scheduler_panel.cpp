#include "gui/source_scheduler_panel.h"

#include <wx/renderer.h>
#include <wx/arrstr.h>
#include <wx/settings.h>

#include <algorithm>
#include <cwctype>
#include <boost/pointer_cast.hpp>

#include "base/check.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/wx/gui_guards.h"
#include "device/models/orvel_info.h"
#include "gui/gui_thread.h"
#include "gui/scheduler_checks.h"
#include "gui/scheduler_store.h"
#include "gui/ui.h"
#include "os/thread_priority.h"

namespace frm {

namespace {

/// The top-level width from which the device list stands in the top row.
constexpr int kWideWindow = 1200;
constexpr int kBorder = 5;
/// The device list's narrowest width (what the editor row has room for at
/// the main window's smallest size), and what a row needs beyond its text,
/// check box and scroll bar (GTK's focus line and the cell's inner spacing).
constexpr int kDeviceListWidth = 240;
/// The rows the device list's best height stops growing at (wx's rule).
constexpr unsigned kMeasuredRows = 10;
constexpr int kRowSlack = 16;
/// The root zone's name; it is no choice of the zone filter.
const std::wstring kAllZones = L"Все зоны";

/// The task list's columns: title and share of the list's width at construction.
struct ColumnLayout {
    const wchar_t* title;
    int divisor;
};
const ColumnLayout kColumns[] = {{L"Дата начала", 7},
                                 {L"Дата окончания", 7},
                                 {L"Время запуска", 6},
                                 {L"Время останова", 7},
                                 {L"Источник (Объект/Контент)", 3},
                                 {L"Гонг", 5},
                                 {L"Устройства", 3},
                                 {L"Включено", 8}};

/// "02:56:53:00:00:01": six pairs of hexadecimal digits joined by ':'.
bool isAddressText(const std::wstring& text) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i % 3 == 2 ? text[i] != L':' : !std::iswxdigit(text[i])) return false;
    return true;
}

}  // namespace

SourceSchedulerPanel::SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr root,
                                           boost::shared_ptr<device::DeviceCollection> deviceCollection,
                                           std::shared_ptr<scheduler::Clock> clock,
                                           scheduler::task::Environment environment)
    : fb::SourceSchedulerPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(1322, 870), wxTAB_TRAVERSAL),
      m_rootZone(std::move(root)) {
    FRM_ASSERT_GUI_THREAD();
    m_filterDate.clear();
    m_filterStartTime.clear();
    m_filterStopTime.clear();
    m_core = std::make_unique<scheduler::Core>(std::move(clock));
    // The scheduler thread wakes once a minute and must not be late for it.
    os::setThreadPriority(m_core->nativeHandle());
    scheduler::logTimeZone();
    SchedulerStore::Hooks hooks;
    hooks.checkPlaybackAndTask = [this](const boost::shared_ptr<PlaybackTrack>& track,
                                        const std::shared_ptr<scheduler::task::BaseTask>& task) {
        checkPlaybackAndTask(track, task);
    };
    hooks.deviceIds = [this](const boost::shared_ptr<IPlayback>& playback) {
        return playbackDeviceIds(playback);
    };
    m_store = std::make_unique<SchedulerStore>(*m_core, std::move(environment), std::move(deviceCollection),
                                               std::move(hooks));

    stopTime->Enable();
    stopTime->SetValue(false);
    stopHour->Disable();
    stopMinute->Disable();
    firstDateCalendar->SetDate(todayDate());
    lastDateCalendar->SetDate(todayDate());
    filterCalendar->SetDate(todayDate());
    showTaskType(1);
    const int width = taskList->GetClientSize().GetWidth();
    for (int column = 0; column < scheduler_list::kColumns; ++column)
        taskList->InsertColumn(column, kColumns[column].title, wxLIST_FORMAT_LEFT,
                               width / kColumns[column].divisor);
    noGongLabel->Hide();
    devices->Clear();  // no sample rows before resetControls fills the list
    Layout();
}

// The core goes first: its thread and its tasks' events must not outlive
// the store and the page they call.
SourceSchedulerPanel::~SourceSchedulerPanel() {
    m_alive.reset();
    m_core.reset();
}

void SourceSchedulerPanel::load(const std::wstring& path) {
    if (!m_store->load(path)) return;
    refreshTaskListCtrl();
    LOG_INFO(L"Загрузка заданий планировщика завершена.");
}

void SourceSchedulerPanel::saveToFile(const std::wstring& path) { m_store->saveToFile(path); }

void SourceSchedulerPanel::save(const scheduler::task::BaseTask& task, boost::property_tree::wptree& node) {
    SchedulerStore::save(task, node);
}

void SourceSchedulerPanel::shutdown() {
    LOG_TRACE(L"%1%", L"frm::SourceSchedulerPanel::shutdown");
    m_rootZone.reset();
    m_store->release();
    m_deviceRows.clear();
    m_core->clear();
    m_core->stop();
}

bool SourceSchedulerPanel::isUsed(const std::wstring& path) { return scheduler::isUsed(*m_core, path); }

wxDateTime SourceSchedulerPanel::todayDate() const {
    const std::tm local =
        scheduler::toLocalCalendar(m_store ? m_store->environment().clock->now() : scheduler::systemNow());
    return wxDateTime(static_cast<wxDateTime::wxDateTime_t>(local.tm_mday),
                      static_cast<wxDateTime::Month>(local.tm_mon), local.tm_year + 1900);
}

// ---- the filter and the list -------------------------------------------------------

void SourceSchedulerPanel::resetControls() {
    FRM_ASSERT_GUI_THREAD();
    filterCalendar->SetDate(todayDate());
    for (wxCheckBox* box :
         {filterDate, filterStartTime, filterStopTime, filterEnabled, filterDevices, filterZones})
        box->SetValue(false);
    filterCalendar->Disable();
    filterStartTimeText->Disable();
    filterStopTimeText->Disable();
    filterDeviceChoice->Disable();
    filterZoneChoice->Disable();
    fillGongChoice();
    devices->Clear();
    filterZoneChoice->Clear();
    m_deviceRows.clear();
    m_deviceLevels.clear();
    fillDeviceList(m_rootZone, 0);
    fitDeviceListToRows();
    refreshTaskListCtrl();
}

void SourceSchedulerPanel::refreshTaskListCtrl() {
    FRM_ASSERT_GUI_THREAD();
    scheduler_list::TaskFilter filter;
    filter.enabledOnly = filterEnabled->GetValue();
    filter.byDate = filterDate->GetValue();
    filter.date = m_filterDate;
    filter.byTime = filterStartTime->GetValue() || filterStopTime->GetValue();
    filter.from = m_filterStartTime;
    filter.to = m_filterStopTime;
    filter.byDevice = filterDevices->GetValue();
    filter.deviceId = m_filterDeviceId;
    filter.byZone = filterZones->GetValue();
    filter.zoneDeviceIds = m_filterZoneDeviceIds;
    {
        GuiFreezer freezer(taskList);
        taskList->DeleteAllItems();
        LOG_TRACE(L"Filters for tasks is %1%", filter.any() ? L"enabled" : L"disabled");
        for (const auto& [id, task] : m_core->getTasks()) {
            const auto* base = dynamic_cast<const scheduler::task::BaseTask*>(task.get());
            if (base == nullptr)
                dbg_abort("Internal error. Task pointer is null",
                          "frm::SourceSchedulerPanel::refreshTaskListCtrl");
            const scheduler::task::DataVault vault = scheduler::task::getVault(*base);
            if (vault.isStopTask || !filter.passes(*base, vault)) continue;
            const std::vector<std::wstring> cells = fillRow(*base);
            if (cells.size() != scheduler_list::kColumns) {
                LOG_WARN(L"Internal error. Quantity elements in row is equal %1%", cells.size());
                break;
            }
            const long row = taskList->InsertItem(taskList->GetItemCount(), cells[0]);
            taskList->SetItemData(row, static_cast<long>(id));
            for (int column = 1; column < scheduler_list::kColumns; ++column)
                taskList->SetItem(row, column, cells[static_cast<std::size_t>(column)]);
        }
    }
    // The rebuilt list has no selection: the buttons say so.
    selectTask(false);
    Layout();
}

std::vector<std::wstring> SourceSchedulerPanel::fillRow(const scheduler::task::BaseTask& task) {
    std::vector<std::wstring> cells = scheduler_list::rowCells(task, scheduler::task::getVault(task));
    std::wstring text;
    for (const std::wstring& cell : cells) text += cell + L" | ";
    LOG_INFO(L"Задание №%1%: %2%", task.getId(), text);
    return cells;
}

void SourceSchedulerPanel::selectTask(bool selected) {
    FRM_ASSERT_GUI_THREAD();
    enableTask->Enable(selected);
    disableTask->Enable(selected);
    deleteTask->Enable(selected);
    addTask->Enable(!selected);
    if (!selected) {
        m_clearingSelection = true;
        for (long row = -1; (row = taskList->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) != -1;)
            taskList->SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        m_clearingSelection = false;
    }
    edit->Enable(taskList->GetSelectedItemCount() == 1);
    bool anyEnabled = false;
    bool anyDisabled = false;
    for (const std::uint32_t id : selectedTaskIds()) {
        const auto task = m_core->getTask(id);
        if (!task) {
            LOG_WARN(L"Internal error. Task not found.");
            continue;
        }
        (task->isEnabled() ? anyEnabled : anyDisabled) = true;
    }
    disableTask->Enable(anyEnabled);
    enableTask->Enable(anyDisabled);
}

std::vector<std::uint32_t> SourceSchedulerPanel::selectedTaskIds() const {
    std::vector<std::uint32_t> ids;
    for (long row = -1; (row = taskList->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) != -1;)
        ids.push_back(static_cast<std::uint32_t>(taskList->GetItemData(row)));
    return ids;
}

void SourceSchedulerPanel::taskListOnListItemSelected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::taskListOnListItemSelected");
    selectTask(true);
    event.Skip();
}

void SourceSchedulerPanel::taskListOnListItemDeselected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::taskListOnListItemDeselected");
    // A row taken out of a selection of several leaves the others selected,
    // with the buttons as they say.
    if (!m_clearingSelection) selectTask(taskList->GetSelectedItemCount() > 0);
    event.Skip();
}

void SourceSchedulerPanel::filterDateOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::filterDateOnCheckBox");
    filterCalendar->Enable(filterDate->GetValue());
}

void SourceSchedulerPanel::filterStartTimeOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::filterStartTimeOnCheckBox");
    filterStartTimeText->Enable(filterStartTime->GetValue());
}

void SourceSchedulerPanel::filterStopTimeOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::filterStopTimeOnCheckBox");
    filterStopTimeText->Enable(filterStopTime->GetValue());
}

void SourceSchedulerPanel::filterDevicesOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::filterDevicesOnCheckBox");
    filterDeviceChoice->Enable(filterDevices->GetValue());
}

void SourceSchedulerPanel::filterZonesOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::filterZonesOnCheckBox");
    filterZoneChoice->Enable(filterZones->GetValue());
}

void SourceSchedulerPanel::filterApplyOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::applyFilterOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    m_filterDate = filterDate->GetValue() ? filterCalendar->GetDate().FormatISODate().ToStdWstring() : L"";
    const wxString from = filterStartTimeText->GetValue();
    m_filterStartTime = !from.empty() && filterStartTime->GetValue() ? from.ToStdWstring() : L"";
    const wxString to = filterStopTimeText->GetValue();
    m_filterStopTime = !to.empty() && filterStopTime->GetValue() ? to.ToStdWstring() : L"";
    if (filterDevices->GetValue()) {
        const int chosen = filterDeviceChoice->GetSelection();
        if (chosen == wxNOT_FOUND) {
            ui::messageBox(L"Не выбрано ни одного устройства", L"Сообщение", wxOK, this);
            return;
        }
        m_filterDeviceId = static_cast<std::int32_t>(
            reinterpret_cast<std::uintptr_t>(filterDeviceChoice->GetClientData(chosen)));
    }
    if (filterZones->GetValue()) {
        const int chosen = filterZoneChoice->GetSelection();
        if (chosen == wxNOT_FOUND) {
            ui::messageBox(L"Не выбрано ни одной зоны", L"Сообщение", wxOK, this);
            return;
        }
        m_filterZoneName = filterZoneChoice->GetString(chosen).ToStdWstring();
        m_filterZoneDeviceIds.clear();
        collectZoneDeviceIds(m_rootZone);
    }
    refreshTaskListCtrl();
}

void SourceSchedulerPanel::collectZoneDeviceIds(const ZoneElement::Ptr& zone) {
    if (!zone) return;
    if (zone->getName() == m_filterZoneName)
        for (const auto& device : zone->getDevices())
            if (device) m_filterZoneDeviceIds.push_back(device->getId());
    for (const auto& child : zone->getZones()) collectZoneDeviceIds(child);
}

// ---- the device list ---------------------------------------------------------------

void SourceSchedulerPanel::fillDeviceList(const ZoneElement::Ptr& zone, unsigned level) {
    if (!zone || !zone->isShown()) return;
    // A zone row would be light grey; wxGTK's check list box draws every row
    // alike, so the indentation alone tells zones from loudspeakers.
    devices->Append(scheduler_list::indentText(zone->getName(), level));
    m_deviceLevels.push_back(level);
    if (zone->getName() != kAllZones) filterZoneChoice->Append(zone->getName());
    for (const auto& device : zone->getDevices()) {
        const auto speaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device);
        if (!speaker) continue;  // consoles play nothing
        const int row = devices->Append(deviceRowText(speaker->getTitle(), level + 1));
        m_deviceRows[row] = speaker;
        m_deviceLevels.push_back(level + 1);
    }
    for (const auto& child : zone->getZones()) fillDeviceList(child, level + 1);
}

int SourceSchedulerPanel::deviceRowMargin() const {
    // The check box, the cell's padding on both sides and a vertical scroll bar.
    return wxRendererNative::Get().GetCheckBoxSize(devices).x + 4 * kBorder +
           wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, devices) + kRowSlack;
}

std::wstring SourceSchedulerPanel::deviceRowText(const std::wstring& title, unsigned level) const {
    const std::wstring oneLine = scheduler_list::indentText(title, level);
    const std::size_t space = title.rfind(L' ');
    if (devices->GetTextExtent(oneLine).x + deviceRowMargin() <= kDeviceListWidth || space == std::wstring::npos ||
        !isAddressText(title.substr(space + 1)))
        return oneLine;
    return scheduler_list::indentText(title.substr(0, space), level) + L'\n' +
           scheduler_list::indentText(title.substr(space + 1), level);
}

void SourceSchedulerPanel::fitDeviceListToRows() {
    int widest = 0;
    for (unsigned row = 0; row < devices->GetCount(); ++row)
        for (const wxString& line : wxSplit(devices->GetString(row), L'\n', L'\0'))
            widest = std::max(widest, devices->GetTextExtent(line).x);
    wxSize fit(std::max(kDeviceListWidth, widest + deviceRowMargin()), -1);
    // Left to itself, wx measures every row again for the list's best size,
    // of which only the height counts here: from ten rows on, that of ten.
    if (devices->GetCount() >= kMeasuredRows) fit.y = tenRowsHeight();
    devices->SetMinSize(fit);
    Layout();
}

int SourceSchedulerPanel::tenRowsHeight() {
    if (m_tenRowsHeight == 0) {
        const wxArrayString rows(kMeasuredRows, std::vector<wxString>(kMeasuredRows, L"X").data());
        auto* probe = new wxCheckListBox(devices->GetParent(), wxID_ANY, wxDefaultPosition, wxDefaultSize, rows,
                                         devices->GetWindowStyleFlag());
        probe->Hide();
        probe->SetFont(devices->GetFont());
        m_tenRowsHeight = probe->GetBestSize().y;
        probe->Destroy();
    }
    return m_tenRowsHeight;
}

void SourceSchedulerPanel::devicesOnCheckListBox(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::devicesOnCheckListBox");
    const int row = event.GetInt();
    if (row >= 0 && static_cast<unsigned>(row) < devices->GetCount() &&
        static_cast<std::size_t>(row) < m_deviceLevels.size()) {
        const bool ticked = devices->IsChecked(static_cast<unsigned>(row));
        const std::size_t end = scheduler_list::endOfBranch(m_deviceLevels, static_cast<std::size_t>(row));
        for (std::size_t below = static_cast<std::size_t>(row) + 1; below < end; ++below)
            devices->Check(static_cast<unsigned>(below), ticked);
        selectTask(false);
    }
    event.Skip();
}

DeviceSet SourceSchedulerPanel::checkedDevices() const {
    DeviceSet checked;
    for (const auto& [row, speaker] : m_deviceRows)
        if (static_cast<unsigned>(row) < devices->GetCount() &&
            devices->IsChecked(static_cast<unsigned>(row)))
            checked.insert(speaker);
    return checked;
}

// ---- the window's width and the time fields ----------------------------------------

void SourceSchedulerPanel::onSize(wxSizeEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::schedulerPanelOnSize");
    const wxWindow* top = wxGetTopLevelParent(this);
    placeDeviceList(top != nullptr && top->GetSize().GetWidth() >= kWideWindow);
    Layout();
    event.Skip();
}

void SourceSchedulerPanel::placeDeviceList(bool wide) {
    if (wide) {
        if (timeSizer->Detach(devices)) listSizer->Insert(0, devices, 0, wxEXPAND | wxRIGHT, kBorder);
    } else if (listSizer->Detach(devices)) {
        timeSizer->Insert(0, devices, 0, wxEXPAND | wxRIGHT | wxTOP, kBorder);
    }
}

void SourceSchedulerPanel::timeOnChar(wxKeyEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::timeTextOnChar");
    const int code = event.GetKeyCode();
    // 300 to 308: WXK_START to WXK_CONTROL, which GTK reports unchanged.
    const bool special = code >= WXK_START && code <= WXK_CONTROL;
    const bool editing = code == ':' || code == WXK_BACK || code == WXK_TAB || code == WXK_RETURN ||
                         code == WXK_ESCAPE || code == WXK_DELETE;
    // Arrows, Home, End and the like carry no character: they move the caret.
    const wxChar character = event.GetUnicodeKey();
    if (special || editing || character == WXK_NONE || !scheduler_list::refusedInTimeField(character))
        event.Skip();
}

// ---- enabling, deleting, editing ---------------------------------------------------

void SourceSchedulerPanel::enableTaskOnButtonClick(wxCommandEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::enableTaskOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const bool enable = event.GetId() == kEnableTaskId;
    for (const std::uint32_t id : selectedTaskIds()) {
        const auto task = m_core->getTask(id);
        if (!task) {
            LOG_WARN(L"Internal error. Task not found.");
            continue;
        }
        task->enable(enable);
        const auto* base = dynamic_cast<const scheduler::task::BaseTask*>(task.get());
        debug::throwIfFalse(base != nullptr, "frm::SourceSchedulerPanel::enableTaskOnButtonClick");
        const std::uint32_t stopId = scheduler::task::getVault(*base).stopTaskId;
        if (stopId == scheduler::task::kNoStopTask) continue;
        if (const auto stop = m_core->getTask(stopId))
            stop->enable(enable);
        else
            LOG_ERROR(L"Отсутствует парное задание останова");
    }
    enableTask->Disable();
    disableTask->Disable();
    refreshTaskListCtrl();
}

void SourceSchedulerPanel::deleteTaskOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::deleteTaskOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const std::vector<std::uint32_t> ids = selectedTaskIds();
    if (ids.empty()) {
        LOG_NOTICE(L"Нет выбранных задач");
        return;
    }
    for (const std::uint32_t id : ids) {
        m_core->erase(id);
        LOG_INFO(L"Удалено задание №%1%", id);
        // The stop task of a pair has the next id, which no other item gets.
        if (m_core->hasTask(id + 1)) m_core->erase(id + 1);
    }
    refreshTaskListCtrl();
    selectTask(false);
}

void SourceSchedulerPanel::editOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceSchedulerPanel::editOnButtonClick");
    const std::vector<std::uint32_t> ids = selectedTaskIds();
    if (ids.empty()) return;
    const auto task = m_core->getTask(ids.front());
    if (!task)
        LOG_WARN(L"Задание не найдено %1%", ids.front());
    else if (dynamic_cast<const scheduler::task::BaseTask*>(task.get()) == nullptr)
        LOG_WARN(L"Internal error. Unknown task.");
}

}  // namespace frm
