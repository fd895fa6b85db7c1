#pragma once

#include <boost/property_tree/ptree.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scheduler/task.h"

namespace device {
class DeviceCollection;
}
namespace scheduler {
class Core;
}

namespace frm {

class IPlayback;
class PlaybackCollection;
class PlaybackTrack;

/// The scheduler page's tasks as they live in a scheduler::Core and in
/// "scheduler.xml", without any window: reading the file into tasks (with
/// their records and events), writing the tasks back, the task-id counter
/// and the events a task runs when due.
///
/// GUI thread: everything but the events, which the tasks hand to their
/// environment's dispatch (a dispatcher worker in the program). The events
/// touch no control; what they hold is named at each.
///
/// The file:
///   scheduler_v2          root
///     task                one per start task, in ascending id; stop tasks
///                         come back from their start task's stopTime
///       type              "once" or "daily"
///       startDate, finalDate, startTime, stopTime, enable
///       playback          missing when the task had none
///         placeName       key of the playback's source group
///         subPlaceName    the playback's name in that group
///         messageName, messagePath, gongName, gongPath   message tasks only
///         devices
///           devices       a loudspeaker's hardware address, one each
///
/// Nothing of the operator's is lost on the way through: a task element
/// that cannot be loaded (its source, playlist, drive, message or gong is
/// missing, or it is damaged) is kept as read and written back after the
/// loaded tasks, and so are the elements after one that raised an internal
/// error; a device address that names no known loudspeaker stays in its
/// task's record and is written back after the task's other devices.
class SchedulerStore {
public:
    using TaskPtr = std::shared_ptr<scheduler::task::BaseTask>;

    struct Hooks {
        /// A message task fell due (dispatcher worker): its track and its
        /// start task, both alive for the call.
        std::function<void(const boost::shared_ptr<PlaybackTrack>&, const TaskPtr&)> checkPlaybackAndTask;
        /// The device ids kept in a task's record (GUI thread).
        std::function<std::vector<std::uint32_t>(const boost::shared_ptr<IPlayback>&)> deviceIds;
    };

    /// `environment` goes to every task built here; `devices` is where the
    /// file's addresses are looked up (none: no address is found).
    SchedulerStore(scheduler::Core& core, scheduler::task::Environment environment,
                   boost::shared_ptr<device::DeviceCollection> devices, Hooks hooks);
    SchedulerStore(const SchedulerStore&) = delete;
    SchedulerStore& operator=(const SchedulerStore&) = delete;

    /// The playback sources, one group per key ("playlist", "radio",
    /// "device", "serviceMessage", "microphone"); loading finds a task's
    /// group by its key and names it by its title.
    void setSources(std::vector<boost::shared_ptr<PlaybackCollection>> sources);
    const std::vector<boost::shared_ptr<PlaybackCollection>>& getSources() const { return m_sources; }
    /// The world of the tasks built here: their clock and where their events go.
    const scheduler::task::Environment& environment() const { return m_environment; }
    /// Shutdown: lets go of the sources and the device collection.
    void release();

    /// The next two ids (start, stop); the counter moves by two whether or
    /// not both tasks are built.
    std::pair<std::uint32_t, std::uint32_t> takeTaskIds();

    /// Gives a start task its event: the message event for a track (it holds
    /// the track and only a weak pointer to the task, so a task erased while
    /// its event waits for a worker makes the event do nothing), the play
    /// event otherwise (it holds the playback and executes it).
    void setStartEvent(const TaskPtr& task, const boost::shared_ptr<IPlayback>& playback) const;
    /// The stop task's event: stops the player channel of the moment.
    static scheduler::task::Event stopEvent();

    /// Reads the file and adds its tasks to the core (which is not emptied
    /// first); what could not be loaded is logged and kept, each element
    /// skipped alone: the tasks whose sources are missing summed up in one
    /// ERROR, the damaged elements in one WARN naming the file. False when
    /// the file gave no task list to read (no file, another root, no
    /// "task"): the caller then does not refresh its list. A file that is
    /// not well-formed XML is set aside as "<path>.bad" with the one WARN of
    /// storage::load (the INFO line "не загружены" in the log only); one
    /// with another root is set aside too, since the next save would
    /// replace it.
    bool load(const std::wstring& path);

    /// The document of the core's start tasks and the kept elements.
    boost::property_tree::wptree tree() const;
    void saveToFile(const std::wstring& path) const;
    /// One task's members below "type" into its element.
    static void save(const scheduler::task::BaseTask& task, boost::property_tree::wptree& node);

    /// Elements of the file kept as read.
    std::size_t keptCount() const { return m_kept.size(); }

private:
    /// Steps of one element; false when it was skipped: counted in `errors`
    /// when its source is missing, described in `damage` when the element
    /// itself is damaged (a missing element, a bad text, an unknown type).
    /// Internal errors raise.
    bool loadTask(const boost::property_tree::wptree& element, std::vector<std::wstring>& errors,
                  std::wstring& damage);

    scheduler::Core& m_core;
    const scheduler::task::Environment m_environment;
    boost::shared_ptr<device::DeviceCollection> m_devices;
    const Hooks m_hooks;
    std::vector<boost::shared_ptr<PlaybackCollection>> m_sources;
    std::uint32_t m_taskIdCounter = 0;
    std::vector<std::pair<std::wstring, boost::property_tree::wptree>> m_kept;
};

}  // namespace frm
