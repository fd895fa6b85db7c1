#pragma once

#include <boost/core/noncopyable.hpp>
#include <boost/property_tree/ptree_fwd.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "gui/layout/source_scheduler_panel.h"
#include "gui/scheduler_control.h"
#include "gui/scheduler_task_list.h"
#include "gui/zone_element.h"
#include "scheduler/clock.h"
#include "scheduler/core.h"
#include "scheduler/task.h"

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

namespace frm {

class SchedulerStore;

/// The scheduler page: the operator plans one-shot and daily items (a start
/// task and, for a daily item with a stop time, a paired stop task) on any
/// source and set of loudspeakers, sees the items in a filtered task list,
/// enables, disables and deletes them. The page owns the scheduler core (and
/// so the scheduler thread, raised above normal priority) from its
/// construction to its shutdown, keeps its tasks in "scheduler.xml"
/// (scheduler_store.h), and answers the other pages whether a task plays a
/// playlist, a message file or a loudspeaker.
///
/// Threads: the GUI thread, except checkPlaybackAndTask, which a due message
/// task runs on a dispatcher worker (the environment's dispatch): it reads
/// the task's track, plays a copy of it or disables the task, and hands the
/// list's refresh to the GUI thread through the GUI-thread invoker, skipped
/// once the page is gone. The main window stops the dispatcher before the
/// page is destroyed. Tasks are read through the core's copies of its map
/// and the tasks' own locks; the scheduler thread may run a task meanwhile.
class SourceSchedulerPanel : public fb::SourceSchedulerPanel,
                             public ISchedulerControl,
                             private boost::noncopyable {
public:
    /// `clock` drives the core, `environment` every task the page builds
    /// (the time they are planned against, "today" of the editor and the
    /// filter, and where due events go).
    SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr root,
                         boost::shared_ptr<device::DeviceCollection> deviceCollection,
                         std::shared_ptr<scheduler::Clock> clock = scheduler::systemClock(),
                         scheduler::task::Environment environment = scheduler::task::systemEnvironment());
    ~SourceSchedulerPanel() override;

    void load(const std::wstring& path);
    void saveToFile(const std::wstring& path);
    void save(const scheduler::task::BaseTask& task, boost::property_tree::wptree& node);
    /// Empties and stops the core and lets go of the sources, the zones and
    /// the devices; after the file was saved.
    void shutdown();

    /// True when a task playing a playlist plays it on the device.
    bool isUsedDevice(const boost::shared_ptr<device::DeviceBase>& device);
    /// True when a task plays the file as its message or gong (an empty path
    /// never). The message and microphone pages ask before deleting a file.
    bool isUsed(const std::wstring& path);

    /// The playback sources behind the place choice, one group per key
    /// ("playlist", "radio", "device", "serviceMessage", "microphone").
    void setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>& sources);
    /// The filter off and its calendar on today, the gong choice, the device
    /// list and the zone filter refilled from the zones, the task list rebuilt.
    void resetControls();
    void refreshTaskListCtrl();
    /// The eight cells of a start task's row; logs them at INFO.
    std::vector<std::wstring> fillRow(const scheduler::task::BaseTask& task);
    /// The buttons after a change of the selection; false also clears it.
    void selectTask(bool selected);
    /// The task ids of the selected rows, in row order.
    std::vector<std::uint32_t> selectedTaskIds() const;
    /// The ids of the playback's devices, in the order of its device set;
    /// each device the device filter does not offer yet is added to it.
    std::vector<std::uint32_t> playbackDeviceIds(const boost::shared_ptr<IPlayback>& playback);
    /// The loudspeakers of the ticked rows of the device list.
    DeviceSet checkedDevices() const;
    /// A message task fell due (dispatcher worker): plays a copy of the
    /// track with its message and gong paths resolved in their folders, or,
    /// when a file is missing, disables the task and has the GUI thread
    /// reset the page. Touches no control.
    void checkPlaybackAndTask(const boost::shared_ptr<PlaybackTrack>& track,
                              const std::weak_ptr<scheduler::task::BaseTask>& task);

    /// The scheduler core the page owns; it lives until the page is
    /// destroyed (shutdown stops its thread and empties it).
    scheduler::Core& getCore() { return *m_core; }
    SchedulerStore& getStore() { return *m_store; }

    void renamePlaylist(const std::wstring& oldName, const std::wstring& newName) override;
    bool existPlaylist(const std::wstring& name) override;

protected:
    void onSize(wxSizeEvent& event) override;
    void devicesOnCheckListBox(wxCommandEvent& event) override;
    void taskListOnListItemDeselected(wxListEvent& event) override;
    void taskListOnListItemSelected(wxListEvent& event) override;
    void filterDateOnCheckBox(wxCommandEvent& event) override;
    void filterStartTimeOnCheckBox(wxCommandEvent& event) override;
    void timeOnChar(wxKeyEvent& event) override;
    void filterStopTimeOnCheckBox(wxCommandEvent& event) override;
    void filterDevicesOnCheckBox(wxCommandEvent& event) override;
    void filterZonesOnCheckBox(wxCommandEvent& event) override;
    void filterApplyOnButtonClick(wxCommandEvent& event) override;
    void placeOnChoice(wxCommandEvent& event) override;
    void repeatOnRadioBox(wxCommandEvent& event) override;
    void firstDateOnCheckBox(wxCommandEvent& event) override;
    void lastDateOnCheckBox(wxCommandEvent& event) override;
    void stopTimeOnCheckBox(wxCommandEvent& event) override;
    void enableTaskOnButtonClick(wxCommandEvent& event) override;
    void editOnButtonClick(wxCommandEvent& event) override;
    void deleteTaskOnButtonClick(wxCommandEvent& event) override;
    void addTaskOnButtonClick(wxCommandEvent& event) override;

    /// The editor for a one-shot (0) or a daily (1) item.
    void showTaskType(int kind);
    void fillContentChoice(std::size_t source);
    void fillGongChoice();

private:
    using TaskPtr = std::shared_ptr<scheduler::task::BaseTask>;

    void fillDeviceList(const ZoneElement::Ptr& zone, unsigned level);
    /// A loudspeaker's row: its title at its level, on one line; a title
    /// that ends with a hardware address ("Новое устройство 02:56:53:…")
    /// and would make the list wider than its narrowest width has the
    /// address on a line of its own, indented alike.
    std::wstring deviceRowText(const std::wstring& title, unsigned level) const;
    /// What a row takes beside its text: check box, padding, scroll bar.
    int deviceRowMargin() const;
    /// The device list as wide as its longest line with the check box and
    /// the scroll bar beside it, so that every title is read whole.
    void fitDeviceListToRows();
    /// The device list's best height with ten rows or more (measured once).
    int tenRowsHeight();
    void collectZoneDeviceIds(const ZoneElement::Ptr& zone);
    /// The first task playback, in id order, bearing the name.
    boost::shared_ptr<IPlayback> getPlayback(const std::wstring& name);
    /// Today by the tasks' clock.
    wxDateTime todayDate() const;
    /// The calendar's day when it is enabled, else today; year-month-day.
    std::wstring dayOf(const wxGenericCalendarCtrl* calendar) const;
    /// Whether the hours and minutes that the item takes are whole numbers
    /// of their ranges as typed; the first that is not is refused
    /// (takeNumber).
    bool timeFieldsTaken();
    /// The device list at the front of the top row (a wide window) or of
    /// the editor row; nothing when it is there already.
    void placeDeviceList(bool wide);

    std::wstring m_filterDate;
    std::wstring m_filterStartTime;
    std::wstring m_filterStopTime;
    std::wstring m_filterZoneName;
    std::int32_t m_filterDeviceId = -1;
    std::vector<std::uint32_t> m_filterZoneDeviceIds;
    ZoneElement::Ptr m_rootZone;
    std::unique_ptr<scheduler::Core> m_core;
    std::unique_ptr<SchedulerStore> m_store;
    /// Index-aligned with the gong choice; the first entry empty (no gong).
    std::vector<std::wstring> m_gongPaths;
    /// The tree depth of each row of the device list.
    std::vector<unsigned> m_deviceLevels;
    int m_tenRowsHeight = 0;
    /// The loudspeaker behind each loudspeaker row.
    std::map<int, boost::shared_ptr<device::OrvelInfo>> m_deviceRows;
    /// selectTask clears the selection itself: the list's own deselection
    /// events must not come back into it.
    bool m_clearingSelection = false;
    /// Dropped first thing in the destructor: refreshes that workers handed
    /// to the GUI thread find the page gone and do nothing.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace frm
