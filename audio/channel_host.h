#pragma once

#include <string>

#include <boost/function.hpp>

#include "audio/playback.h"

namespace frm {

/// Which loudspeakers the operator has chosen: the main window's item
/// registry implements it (the device list's selected rows and the zone
/// tree), taking the GUI lock and its own lock while it reads. Called from
/// the channels' jobs and the alarm thread.
class DeviceSelection {
public:
    virtual ~DeviceSelection() = default;
    /// Loudspeakers behind the selected rows of the device list.
    virtual DeviceSet getSelectedDevices() = 0;
    /// Loudspeakers of the selected zones, sub-zones included.
    virtual DeviceSet getDevicesOfSelectedZones() = 0;
    /// Every loudspeaker under the root of the zone tree.
    virtual DeviceSet getDevicesOfZones() = 0;
    DeviceSet getSelectedDevicesAndZones() {
        DeviceSet all = getSelectedDevices();
        const DeviceSet zones = getDevicesOfSelectedZones();
        all.insert(zones.begin(), zones.end());
        return all;
    }
};

/// What the channels need of the GUI thread, without depending on wx: the
/// program hands them one backed by GuiThreadInvoker and a message box.
class ChannelGui {
public:
    virtual ~ChannelGui() = default;
    /// The GUI-thread invoker exists (start-up to shutdown).
    virtual bool exists() = 0;
    /// Queues the task for the GUI thread; dropped when no invoker exists.
    virtual void post(boost::function<void()> task) = 0;
    /// A Yes/No question asked on the GUI thread; the calling thread waits
    /// for the answer (asked directly when it is the GUI thread). True for
    /// any answer but No.
    virtual bool askYesNo(const std::wstring& caption, const std::wstring& text) = 0;
};

}  // namespace frm

namespace frm {

/// Hands the playbacks to the player and alarm channel singletons (start-up,
/// once both exist) and takes them back (exit, before they go).
void registerPlaybackChannels();
void unregisterPlaybackChannels();

}  // namespace frm
