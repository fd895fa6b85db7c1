#pragma once

#include <wx/panel.h>

#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/scheduler_control.h"
#include "gui/zone_element.h"
#include "scheduler/clock.h"
#include "scheduler/core.h"
#include "scheduler/task.h"

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

namespace frm {

class IPlayback;
class PlaybackCollection;
class PlaybackTrack;
class SchedulerStore;

/// The scheduler page, for now a panel without controls around the
/// scheduler core and its file: it owns the core (and so the scheduler
/// thread) from its construction to its destruction, loads "scheduler.xml"
/// into it at start-up and writes it back at shutdown, and answers the
/// other pages whether a task plays a file. As their scheduler control it
/// has no task that uses a playlist yet.
///
/// GUI thread, except the tasks' events: they run on dispatcher workers
/// (the environment's dispatch), touch no control and reach the page only
/// through checkPlaybackAndTask.
class SourceSchedulerPanel : public wxPanel, public ISchedulerControl {
public:
    /// `clock` drives the core, `environment` every task the page builds
    /// (the time they are planned against and where due events go).
    SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr root,
                         boost::shared_ptr<device::DeviceCollection> devices,
                         std::shared_ptr<scheduler::Clock> clock = scheduler::systemClock(),
                         scheduler::task::Environment environment = scheduler::task::systemEnvironment());
    ~SourceSchedulerPanel() override;

    void load(const std::wstring& path);
    void saveToFile(const std::wstring& path);
    void save(const scheduler::task::BaseTask& task, boost::property_tree::wptree& node);
    /// Empties and stops the core and lets go of the sources and devices;
    /// after the file was saved.
    void shutdown();
    /// True when a task uses the device.
    bool isUsedDevice(const boost::shared_ptr<device::DeviceBase>& device);
    /// True when a task plays the file as its message or gong (an empty path
    /// never). The message and microphone pages ask before deleting a file.
    bool isUsed(const std::wstring& path);
    void setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>& sources);
    void resetControls();
    void refreshTaskListCtrl();
    /// The ids of the playback's devices, in the order of its device set.
    std::vector<std::uint32_t> playbackDeviceIds(const boost::shared_ptr<IPlayback>& playback);
    /// A message task fell due (dispatcher worker). For now it only logs.
    void checkPlaybackAndTask(const boost::shared_ptr<PlaybackTrack>& track,
                              const std::shared_ptr<scheduler::task::BaseTask>& task);
    /// The scheduler core the page owns; it lives until the page is
    /// destroyed (shutdown stops its thread and empties it).
    scheduler::Core& getCore() { return *m_core; }
    SchedulerStore& getStore() { return *m_store; }

    void renamePlaylist(const std::wstring& oldName, const std::wstring& newName) override;
    bool existPlaylist(const std::wstring& name) override;

private:
    std::unique_ptr<scheduler::Core> m_core;
    std::unique_ptr<SchedulerStore> m_store;
};

}  // namespace frm
