#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <wx/panel.h>

#include "gui/scheduler_control.h"
#include "gui/zone_element.h"
#include "scheduler/core.h"

namespace device {
class DeviceBase;
class DeviceCollection;
}  // namespace device

namespace frm {

class PlaybackCollection;

/// The scheduler page, for now an empty panel that answers the main window's
/// calls with no work or empty results and reads and writes no file; as the
/// other pages' scheduler control it has no task that uses anything. GUI
/// thread only.
class SourceSchedulerPanel : public wxPanel, public ISchedulerControl {
public:
    SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr root, boost::shared_ptr<device::DeviceCollection> devices);
    void load(const std::wstring& path);
    void saveToFile(const std::wstring& path);
    void shutdown();
    /// True when a task uses the device.
    bool isUsedDevice(const boost::shared_ptr<device::DeviceBase>& device);
    void setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>& sources);
    void resetControls();
    /// The scheduler core the page owns; it lives until the page is
    /// destroyed (shutdown stops its thread and empties it).
    scheduler::Core& getCore() { return *m_core; }

    void renamePlaylist(const std::wstring& oldName, const std::wstring& newName) override;
    bool existPlaylist(const std::wstring& name) override;

private:
    std::unique_ptr<scheduler::Core> m_core;
};

}  // namespace frm
