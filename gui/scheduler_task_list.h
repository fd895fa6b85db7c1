#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/scheduler_vault.h"

namespace scheduler::task {
class BaseTask;
}

// What the scheduler page shows of its tasks and how its list filters them,
// without any window: the cells of a task's row, the filter, the indentation
// of the device list and the time fields' key rule. Any thread; the page
// calls them on the GUI thread.
namespace frm::scheduler_list {

/// Cells of a task row, in column order.
enum Column { kStartDate, kFinalDate, kStartTime, kStopTime, kSource, kGong, kDevices, kEnabled, kColumns };

/// The eight cells of a start task's row: its first day; its last day (a
/// one-shot task's first day, "-" for a daily task without one); its start
/// time; its stop time ("-" without a stop task, for a one-shot task and
/// for an empty stop time); "<source title>: <playback name>"; a message's
/// gong name ("-" for a playlist); its loudspeakers' titles in the order of
/// the playback's device set, joined by ", "; "Вкл" or "Выкл".
std::vector<std::wstring> rowCells(const scheduler::task::BaseTask& task,
                                   const scheduler::task::DataVault& vault);

/// The filter of the task list as the operator applied it last; only the
/// ticked parts count.
struct TaskFilter {
    bool enabledOnly = false;
    bool byDate = false;
    /// Year-month-day.
    std::wstring date;
    /// Either time bound ticked: scheduler::isInsideTime with both texts
    /// (an empty one is no bound).
    bool byTime = false;
    std::wstring from;
    std::wstring to;
    bool byDevice = false;
    /// Negative: no loudspeaker chosen, every task passes.
    std::int32_t deviceId = -1;
    bool byZone = false;
    /// The ids of the devices filed in the chosen zone.
    std::vector<std::uint32_t> zoneDeviceIds;

    bool any() const { return enabledOnly || byDate || byTime || byDevice || byZone; }
    bool passes(const scheduler::task::BaseTask& task, const scheduler::task::DataVault& vault) const;
};

/// The text of a device-list row: three blanks per level before the name.
std::wstring indentText(const std::wstring& text, unsigned level);

/// The row after the last one below `row` in the device list's tree: the
/// first following row whose level is not greater than that of `row`.
std::size_t endOfBranch(const std::vector<unsigned>& levels, std::size_t row);

/// Whether the time fields refuse this character: a letter, a punctuation
/// character or the blank in the Russian code page (a character that code
/// page cannot hold counts as one). ':' is punctuation too: the key filter
/// lets it pass before asking.
bool refusedInTimeField(wchar_t character);

}  // namespace frm::scheduler_list
