#pragma once

#include <string>

namespace frm {

/// The scheduler page as the playlist and message pages see it: before a
/// playback is renamed or deleted they ask whether a scheduled task plays it,
/// and a rename is passed on so that the tasks keep playing it. Names are
/// compared exactly (letter case counts): a playlist's name, or a message's
/// track title. The pages hold a plain pointer; the scheduler page lives as
/// long as the main window. GUI thread only.
class ISchedulerControl {
public:
    /// Every task whose playback bears `oldName` is given `newName`.
    virtual void renamePlaylist(const std::wstring& oldName, const std::wstring& newName) = 0;
    /// True when at least one task's playback bears the name.
    virtual bool existPlaylist(const std::wstring& name) = 0;

protected:
    ~ISchedulerControl() = default;
};

}  // namespace frm
