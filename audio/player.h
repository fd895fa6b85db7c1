#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/engine_player.h"
#include "os/capture_devices.h"

class Playlist;
class PlayerEngine;

/// The program's one playlist player: plays the current item of its playlist
/// through the plug-in host, moves on when the engine reports that an item
/// ended, and tells the playlist's observers when playback starts and stops.
///
/// Threads: the GUI thread, dispatcher jobs (player channel, playlist
/// loading) and the engine's end-of-track path call it; one recursive lock
/// serialises them. The engine reads state() and switching() under its own
/// lock while the player calls it with the player's lock held, so those two
/// are atomics read without the player's lock. Observers are queued on the
/// thread dispatcher, never run under the lock.
class Player : public EnginePlayer {
public:
    /// The audio inputs an "adev://" item may name; the system's list in the
    /// program, a fixed one in tests.
    using CaptureDevices = std::function<std::vector<os::AudioCaptureDevice>()>;

    /// Registers itself as the engine's player; a null engine stops the program.
    explicit Player(PlayerEngine* engine, CaptureDevices devices = os::getAudioCaptureDeviceList);
    ~Player() override;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    /// Start-up makes the global player after the engine (a second call
    /// keeps the first player); exit frees it.
    static Player* create(PlayerEngine* engine, CaptureDevices devices = os::getAudioCaptureDeviceList);
    static void destroy();
    static Player* instance() { return s_instance.load(std::memory_order_acquire); }

    // On the global player, which must exist.
    static void play(boost::shared_ptr<Playlist> playlist);
    static void playAt(unsigned index);
    static void previous();
    static void reset();
    static boost::shared_ptr<Playlist> getPlaylist();

    /// Plays the current item of the playlist (from the engine's stopped state).
    void playItem();
    /// Stops, advances the playlist and plays; the engine calls it when an item ends.
    void next() override;
    /// Stops; with `notify` the playlist's stop observer is told.
    void stop(bool notify);
    /// Stops the engine when playing and tells the playlist it no longer plays.
    void stopInternal();
    /// Stops (notifying) and switches to another playlist without playing it.
    void setPlaylist(boost::shared_ptr<Playlist> playlist);
    /// The main window's shutdown: afterwards playItem and stop do nothing.
    void setShuttingDown() { m_shuttingDown = true; }

    int state() const override { return m_state.load(); }
    bool switching() const override { return m_switching.load(); }
    /// The current playlist (no lock needed by the caller).
    boost::shared_ptr<Playlist> playlist();

private:
    static Player& global(const char* place);
    void stepAndPlay(bool forward, const char* place);

    static std::atomic<Player*> s_instance;

    boost::recursive_mutex m_lock;
    PlayerEngine* m_engine;
    std::atomic<int> m_state{0};
    boost::shared_ptr<Playlist> m_playlist;
    std::atomic<bool> m_switching{false};
    std::atomic<bool> m_shuttingDown{false};
    CaptureDevices m_devices;
};
