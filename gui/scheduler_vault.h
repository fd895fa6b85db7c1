#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace frm {
class IPlayback;
}

namespace scheduler::task {

class BaseTask;

/// The stop task id of a start task that has none.
constexpr std::uint32_t kNoStopTask = 0xFFFFFFFF;

/// The scheduler page's record of one task, kept in the task's client-data
/// slot: what the task plays and how the operator planned it. A value,
/// copied whole whenever it is read; a start task and its stop task share
/// one playback object, which nobody changes once the tasks exist (reads
/// come from the GUI thread and from dispatcher jobs at once).
struct DataVault {
    /// Year-month-day, four, two and two digits.
    std::wstring startDate;
    /// The last day; equal to startDate in a one-shot task, empty in a daily
    /// task without a last day.
    std::wstring finalDate;
    /// Hours:minutes, two digits each.
    std::wstring startTime;
    /// Empty when the item has no stop.
    std::wstring stopTime;
    /// In a start task its stop task's id (kNoStopTask when none), 0 in a
    /// stop task.
    std::uint32_t stopTaskId = 0;
    /// The ids of the playback's devices when the task was built, for the
    /// task list's filters.
    std::vector<std::uint32_t> deviceIds;
    /// The task's own copy of a playback source.
    boost::shared_ptr<frm::IPlayback> playback;
    bool isStopTask = false;
    /// Hardware-address texts of scheduler.xml that named no known
    /// loudspeaker when the file was read; written back after the resolved
    /// devices so that a device missing at start-up is not lost. The
    /// filters and the task list ignore them.
    std::vector<std::wstring> unresolvedDevices;
};

/// A copy of the task's record. An empty slot or one holding anything else
/// logs the ERROR "task: Failed to retrieve data" and gives an empty record
/// (no playback, stopTaskId 0). Any thread (the slot has the task's lock).
DataVault getVault(const BaseTask& task);

/// Replaces the task's record; set before the task goes to the core.
void setVault(BaseTask& task, const DataVault& vault);

}  // namespace scheduler::task
