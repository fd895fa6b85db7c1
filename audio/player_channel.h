#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "audio/channel_host.h"
#include "audio/exit_gate.h"
#include "audio/loudspeaker_ledger.h"
#include "audio/playback.h"

class Playlist;

namespace frm {

/// Plays a playlist on chosen loudspeakers over the common stream: borrows
/// the global player, mutes the zone loudspeakers that were not chosen,
/// optionally sets one volume on the chosen ones, and on the playlist's end
/// or a stop gives every loudspeaker its volume and mute state back and the
/// player its previous playlist.
///
/// A play stops the player and waits its pause, so that the common stream
/// has drained before the loudspeakers change; meanwhile it asks them about
/// notices of their own, and they take the message's volume in the pause's
/// last reply time. The zones' other loudspeakers are muted as the pause
/// begins, so that a late one is silent before the message sounds. The
/// message starts as the pause ends, or as soon after as they all have, a
/// little past the pause at the latest (its deadline, from the play): one
/// that has not answered by then takes the message's volume as it answers,
/// while it plays. A refused message gives the others their sound back.
///
/// Threads: callers are the GUI thread, dispatcher jobs and the scheduler;
/// the work runs as dispatcher jobs, one at a time. One recursive lock
/// guards the fields and is never held while loudspeakers answer or the
/// jobs pause, so a stop never waits; play only tries it, so a busy channel
/// refuses rather than blocking. The loudspeakers are driven by the ledger
/// it shares with the alarm channel, whose notices stand over the player's
/// volumes. Lock order: this lock, then the player's, then the playlist's.
class PlayerChannel {
public:
    static constexpr int kKeepVolume = 2147483647;
    /// `pause`: how long the jobs wait after stopping the player, so that the
    /// common stream has drained before the loudspeakers change; a message
    /// starts as it ends, whatever loudspeakers have not taken it yet (its
    /// first datagram comes about 0.35 s after the player starts it, the
    /// decoder's start and the stream's caching: one that takes its volume
    /// meanwhile is in time).
    /// `ledger`: shared with the alarm channel; empty: one of its own.
    PlayerChannel(DeviceSelection* selection, ChannelGui* gui,
                  std::chrono::milliseconds pause = std::chrono::milliseconds(2800),
                  std::shared_ptr<LoudspeakerLedger> ledger = std::shared_ptr<LoudspeakerLedger>());
    /// Waits for the channel's running jobs.
    ~PlayerChannel();
    PlayerChannel(const PlayerChannel&) = delete;
    PlayerChannel& operator=(const PlayerChannel&) = delete;

    /// Start-up (after the player exists); a second call is logged and ignored.
    static void createInstance(DeviceSelection* selection, ChannelGui* gui,
                               std::chrono::milliseconds pause = std::chrono::milliseconds(2800),
                               std::shared_ptr<LoudspeakerLedger> ledger = std::shared_ptr<LoudspeakerLedger>());
    static void destroyInstance();
    static PlayerChannel* instance() { return s_instance.load(std::memory_order_acquire); }

    /// Refusals are logged; the work is queued.
    void play(boost::shared_ptr<Playlist> playlist, DeviceSet devices, int volume);
    void playForSelected(boost::shared_ptr<Playlist> playlist, int volume);
    void stop();
    /// The playlist's end callback (a dispatcher job).
    void stopCallback();
    /// Forgets what the player played before the channel took it, so that the
    /// next stop does not resume it (before an alarm of priority 4).
    static void resetLastPlayback();

    /// The channel holds the player (between its play job and its stop job).
    bool isPlaying();

    /// The quit, before every loudspeaker is given back: from here on no
    /// job of the channel reaches a loudspeaker or starts the player, and a
    /// job in its pause ends now. Waits only for a ledger call under way.
    void beginExit();

private:
    void playWithDelay();
    void stopWithDelay();
    /// The play job's work, under the jobs' lock; a request that fails is
    /// dropped.
    void playNow();
    void playRequest();
    using Clock = std::chrono::steady_clock;
    /// The refusal that needs no answer: a loudspeaker on a notice's
    /// channel. False when the request is dropped (told).
    bool voiceFree(const DeviceSet& devices);
    /// Every refusal, those that need the loudspeakers' answers included,
    /// waited for until `until`: false when the request is dropped (told).
    bool loudspeakersFree(const DeviceSet& devices, Clock::time_point until);
    /// A play that came while the channel plays, checked before the running
    /// playback is stopped for it: true when it is refused (told) and the
    /// running playback goes on as it was.
    bool replacementRefused();
    /// Queues the stop job; `asked`: a stop of the playback (the operator,
    /// a task, the playlist's end), not the one a play queues to replace it.
    void queueStop(bool asked);
    /// Queues a job that the destructor waits for.
    void queue(void (PlayerChannel::*job)());

    static std::atomic<PlayerChannel*> s_instance;

    bool m_playing = false;
    bool m_jobPending = false;
    bool m_restartAfterStop = false;
    bool m_playerWasPlaying = false;
    bool m_stopOnEnd = true;
    bool m_keepPlayer = false;
    int m_volume = kKeepVolume;
    /// When the newest play came: its deadline counts from then.
    Clock::time_point m_asked;
    boost::shared_ptr<Playlist> m_playlist;
    boost::shared_ptr<Playlist> m_lastPlaylist;
    boost::recursive_mutex m_lock;
    DeviceSet m_devices;
    /// The request that plays, kept while a play that came meanwhile waits
    /// to replace it (and is put back when that play is refused).
    DeviceSet m_playingDevices;
    boost::shared_ptr<Playlist> m_playingPlaylist;
    int m_playingVolume = kKeepVolume;
    /// Stops asked since the last stop job stopped the playback.
    int m_stopsAsked = 0;
    /// The playlist ended while a play waited to replace it (its end
    /// callback was disarmed for that play).
    bool m_endedMeanwhile = false;
    DeviceSelection* m_selection;
    ChannelGui* m_gui;
    const std::chrono::milliseconds m_pause;
    const std::shared_ptr<LoudspeakerLedger> m_ledger;
    /// Held by each job from start to end: the jobs never overlap.
    boost::mutex m_jobLock;

    boost::mutex m_jobsLock;  // guards m_jobs
    boost::condition_variable m_jobsDone;
    int m_jobs = 0;
    ExitGate m_exit;
};

}  // namespace frm
