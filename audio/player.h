#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/engine_player.h"
#include "audio/failing_rounds.h"
#include "os/capture_devices.h"

class Playlist;
class PlayerEngine;

/// The program's one playlist player: plays the current item of its playlist
/// through the plug-in host, moves on when the engine reports that an item
/// ended, and tells the playlist's observers when playback starts and stops.
///
/// Every stop and every start gives the player a new ticket; an end of an
/// item that the engine reports carries the ticket of the start it ended, so
/// an end that was on its way when the player stopped or started anew is
/// dropped. When every item of the list has failed within its first
/// seconds, one after another, the next round waits (FailingRounds) and the
/// operator is told once per spell of failures, however often the operator
/// tries the list again meanwhile; the player counts as playing while it
/// waits, and a stop ends the wait and the spell.
///
/// Threads: the GUI thread, dispatcher jobs (player channel, playlist
/// loading, the next round) and the engine's end-of-track path call it; one
/// recursive lock serialises them. The engine reads state(), switching() and
/// ticket() under its own lock while the player calls it with the player's
/// lock held, so those are atomics read without the player's lock. Observers
/// are queued on the thread dispatcher, never run under the lock.
class Player : public EnginePlayer {
public:
    /// The audio inputs an "adev://" item may name; the system's list in the
    /// program, a fixed one in tests.
    using CaptureDevices = std::function<std::vector<os::AudioCaptureDevice>()>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    /// Runs a job once a wait has passed; returns an id for the cancel.
    using Timer = std::function<std::uint32_t(std::chrono::milliseconds, std::function<void()>)>;
    using Cancel = std::function<void(std::uint32_t)>;

    /// How a list whose items keep failing is paced. Empty functions: the
    /// steady clock and the thread dispatcher; tests bring their own, so
    /// that they never wait for the real times.
    struct Pacing {
        FailingRounds::Timing timing;
        Clock now;
        Timer after;
        Cancel cancel;
    };

    /// Registers itself as the engine's player; a null engine stops the program.
    explicit Player(PlayerEngine* engine, CaptureDevices devices = os::getAudioCaptureDeviceList,
                    Pacing pacing = Pacing());
    ~Player() override;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    /// Start-up makes the global player after the engine (a second call
    /// keeps the first player); exit frees it.
    static Player* create(PlayerEngine* engine, CaptureDevices devices = os::getAudioCaptureDeviceList,
                          Pacing pacing = Pacing());
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
    /// Stops, advances the playlist and plays.
    void next() override;
    /// The engine's end of the item started under `ticket`: moves on, after
    /// a wait when the whole list has failed at once; an end of an item
    /// stopped or replaced since is dropped.
    void itemEnded(std::uint64_t ticket, std::uint32_t audioMs, std::int32_t lengthMs) override;
    /// Stops; with `notify` the playlist's stop observer is told.
    void stop(bool notify);
    /// Stops the engine when playing and tells the playlist it no longer plays.
    void stopInternal();
    /// A play follows in a moment on the common stream: the engine keeps
    /// the quiet before the stream's start now (PlayerEngine::quiet_for_stream).
    void quietForStream();
    /// Stops (notifying) and switches to another playlist without playing it.
    void setPlaylist(boost::shared_ptr<Playlist> playlist);
    /// The main window's shutdown: afterwards playItem and stop do nothing.
    void setShuttingDown() { m_shuttingDown = true; }

    int state() const override { return m_state.load(); }
    bool switching() const override { return m_switching.load(); }
    std::uint64_t ticket() const override { return m_ticket.load(); }
    /// The current playlist (no lock needed by the caller).
    boost::shared_ptr<Playlist> playlist();

private:
    static Player& global(const char* place);
    void stepAndPlay(bool forward, const char* place);
    /// playItem without forgetting the failed rounds (lock held).
    void startItem();
    /// Steps past the failed round and starts the next one after `wait` (lock held).
    void waitForRound(std::chrono::milliseconds wait);
    void startRound(std::uint64_t ticket);
    void cancelRound();
    /// stop(); `spell`: a spell of failing rounds ends with it.
    void stopEnding(bool notify, bool spell);
    /// The item on air has played its first seconds (lock held).
    bool itemHasPlayed() const;
    /// The operator tries the list anew (lock held): its rounds count
    /// afresh, and a spell of failures goes on unless an item has played.
    void tryAnew();

    static std::atomic<Player*> s_instance;

    boost::recursive_mutex m_lock;
    PlayerEngine* m_engine;
    std::atomic<int> m_state{0};
    boost::shared_ptr<Playlist> m_playlist;
    std::atomic<bool> m_switching{false};
    std::atomic<bool> m_shuttingDown{false};
    CaptureDevices m_devices;
    std::atomic<std::uint64_t> m_ticket{0};
    Pacing m_pacing;
    FailingRounds m_rounds;
    std::chrono::steady_clock::time_point m_startedAt;  // of the current item
    std::uint32_t m_roundJob = 0;                       // the next round's start while it waits
};
