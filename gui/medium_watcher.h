#pragma once

#include <boost/thread/thread.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "os/removable_media.h"

namespace frm {

/// Stops the player when the medium it plays from is pulled out, whichever
/// page started it. Every tick it takes the path of the item being played;
/// for an absolute local path it remembers the mount that held the path when
/// it was first seen, and reports the medium removed when that mount has
/// left the mount table, when its block device has left sysfs, or, on a
/// removable drive, when the path can no longer be reached (ENOENT, EIO,
/// ENODEV, ENXIO). Then it logs the ERROR "Носитель '%1%' был удален" with
/// the mount point and stops the player, once per path. Streams, audio
/// inputs and tones ("http://...", "adev://...", "sine://...") are never
/// watched.
///
/// Threads: its own thread runs check() every tick from start() until
/// stopThread(), which interrupts the wait and joins it at once; the thread
/// touches no window. The player's functions are called on that thread.
class MediumWatcher {
public:
    /// The path of the item being played, empty while nothing plays.
    using PlayingPath = std::function<std::wstring()>;
    using StopPlayer = std::function<void()>;

    MediumWatcher(std::shared_ptr<os::MediaProbe> probe, PlayingPath playingPath, StopPlayer stopPlayer,
                  std::chrono::milliseconds tick = std::chrono::seconds(1));
    ~MediumWatcher();
    MediumWatcher(const MediumWatcher&) = delete;
    MediumWatcher& operator=(const MediumWatcher&) = delete;

    void start();
    /// Idempotent; any thread but the watcher's own.
    void stopThread();

    /// One look; true when it stopped the player.
    bool check();

    /// The program's player: the current item's path while it plays.
    static std::wstring playerPath();
    /// The program's player: stop with notice.
    static void stopPlayer();

private:
    void run();

    const std::shared_ptr<os::MediaProbe> m_probe;
    const PlayingPath m_playingPath;
    const StopPlayer m_stopPlayer;
    const std::chrono::milliseconds m_tick;
    boost::thread m_thread;

    // The watched path and its mount; only the watcher's thread (or a test
    // calling check() without the thread) touches them.
    std::string m_path;
    os::MountEntry m_mount;
    bool m_blockDevice = false;
    bool m_removable = false;
    bool m_reported = false;
};

}  // namespace frm
