#include "audio/player_channel.h"

#include <algorithm>
#include <iterator>
#include <set>

#include <boost/thread/thread.hpp>

#include "audio/alarm_channel.h"
#include "audio/engine_player.h"
#include "audio/orvel_link.h"
#include "audio/own_notices.h"
#include "audio/player.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/playback_type.h"
#include "device/reply_times.h"

namespace frm {

std::atomic<PlayerChannel*> PlayerChannel::s_instance{nullptr};

namespace {

bool playerPlaying() {
    Player* player = Player::instance();
    return player != nullptr && player->state() == EnginePlayer::k_state_playing;
}

boost::shared_ptr<Playlist> playerPlaylist() {
    Player* player = Player::instance();
    return player != nullptr ? player->playlist() : boost::shared_ptr<Playlist>();
}

/// A notice of the channels' own holds it (its state shows the voice code).
bool carriesVoice(const boost::shared_ptr<device::OrvelInfo>& device) {
    const std::uint64_t type = device->getPlaybackType();
    return (type & device::playback::kVoiceHighPriority) == device::playback::kVoiceHighPriority ||
           (type & device::playback::kVoiceLowPriority) == device::playback::kVoiceLowPriority;
}

const wchar_t* const kVolumeNotSet = L"Громкость громкоговорителей не назначена (%1%): %2%. Например: %3%";
const wchar_t* const kNotMuted = L"Громкоговорители не выключены (%1%): %2%. Например: %3%";

/// The hold's lead before the pause ends: each loudspeaker reads its volume,
/// then takes the message's (or its mute), so it needs two of its answers,
/// and a resend time for a datagram lost, before the pause ends; the whole
/// pause at most. Loudspeakers that answer in time are held the last resend
/// time of the pause, while the common stream no longer carries the music.
std::chrono::milliseconds leadOf(const DeviceSet& speakers, std::chrono::milliseconds pause) {
    std::chrono::milliseconds lead{0};
    for (const auto& speaker : speakers) {
        const device::ReplyTimes times = speaker->replyTimes();
        lead = std::max({lead, times.resend, 2 * times.answer});
    }
    return std::min(lead, pause);
}

/// The failures of a batch: those answered by now at once, the others
/// once the late replies are in (a reply after the reply time still sets a
/// volume), so that the operator hears only of those that stayed silent.
void tellFailuresOf(LoudspeakerLedger& ledger, const LedgerBatch& batch, const wchar_t* text) {
    const auto failed = [](const Settlement& settlement) {
        return settlement.kind != Settlement::kDone && settlement.kind != Settlement::kOffline;
    };
    StepFailures now;
    std::set<Loudspeaker> answered;
    for (const auto& [device, settlement] : batch.settlements()) {
        if (settlement.toldLater()) continue;
        answered.insert(device);
        if (failed(settlement)) now.add(settlement.cause, device->getTitle());
    }
    tellFailures(now, text);
    ledger.afterLateReplies(batch, [answered, text, failed](const LedgerBatch& settled) {
        StepFailures later;
        for (const auto& [device, settlement] : settled.settlements())
            if (answered.count(device) == 0 && failed(settlement)) later.add(settlement.cause, device->getTitle());
        tellFailures(later, text);
    });
}

}  // namespace

PlayerChannel::PlayerChannel(DeviceSelection* selection, ChannelGui* gui, std::chrono::milliseconds pause,
                             std::shared_ptr<LoudspeakerLedger> ledger)
    : m_selection(selection),
      m_gui(gui),
      m_pause(pause),
      m_ledger(ledger ? std::move(ledger) : std::make_shared<LoudspeakerLedger>(std::make_shared<OrvelLink>())) {}

PlayerChannel::~PlayerChannel() {
    boost::unique_lock<boost::mutex> lock(m_jobsLock);
    // The jobs hold `this`; a job still queued when the dispatcher stops
    // never runs and is no longer counted by it, hence the bound.
    m_jobsDone.wait_for(lock, boost::chrono::seconds(30), [this] { return m_jobs == 0; });
    LOG_TRACE3(L"%1%", L"");
}

void PlayerChannel::createInstance(DeviceSelection* selection, ChannelGui* gui, std::chrono::milliseconds pause,
                                   std::shared_ptr<LoudspeakerLedger> ledger) {
    if (instance() != nullptr) {
        LOG_WARN(L"recall PlayerChannel::createInstance");
        return;
    }
    s_instance.store(new PlayerChannel(selection, gui, pause, std::move(ledger)), std::memory_order_release);
}

void PlayerChannel::destroyInstance() { delete s_instance.exchange(nullptr); }

void PlayerChannel::play(boost::shared_ptr<Playlist> playlist, DeviceSet devices, int volume) {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::play");
    if (devices.empty()) {
        LOG_WARN(L"Нет устройств для воспроизведения");
        return;
    }
    // The refusals that ask the loudspeakers (an Orvel-510 about its memory)
    // come in the job: the window never waits for a loudspeaker.
    boost::unique_lock<boost::recursive_mutex> lock(m_lock, boost::try_to_lock);
    if (!lock.owns_lock()) {
        LOG_NOTICE(L"Подождите выполнение предыдущей операции");
        return;
    }
    if (playerPlaying() && playerPlaylist() == playlist && devices == m_devices && volume == m_volume) {
        LOG_INFO(L"Skip playing the same playlist and devices");
        return;
    }
    m_devices = std::move(devices);
    m_playlist = std::move(playlist);
    m_volume = volume;
    m_asked = std::chrono::steady_clock::now();
    if (m_playing) {
        m_stopOnEnd = false;
        m_restartAfterStop = true;
        // A stop asked before this play is overtaken by it.
        m_stopsAsked = 0;
        queueStop(false);
    } else if (!m_jobPending) {
        m_jobPending = true;
        queue(&PlayerChannel::playWithDelay);
    } else {
        LOG_EXTERN(L"Player channel: skip play");
    }
}

void PlayerChannel::playForSelected(boost::shared_ptr<Playlist> playlist, int volume) {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::playForSelected");
    play(std::move(playlist), m_selection != nullptr ? m_selection->getSelectedDevices() : DeviceSet(), volume);
}

void PlayerChannel::stop() { queueStop(true); }

void PlayerChannel::queueStop(bool asked) {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stop");
    if (m_gui == nullptr || !m_gui->exists()) return;
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    if (asked) {
        // A play waiting to replace the playback is dropped with it.
        ++m_stopsAsked;
        m_restartAfterStop = false;
    }
    LOG_DEBUG(L"%1%", L"Player channel stop. create thread.");
    queue(&PlayerChannel::stopWithDelay);
}

void PlayerChannel::stopCallback() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stopCallback");
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    if (m_stopOnEnd) {
        m_stopOnEnd = false;
        stop();
    } else if (m_playing && m_restartAfterStop) {
        // Disarmed for a play that replaces the playback: should that play
        // be refused, the playback that ended meanwhile is stopped.
        m_endedMeanwhile = true;
    }
}

void PlayerChannel::resetLastPlayback() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::resetLastPlayback");
    PlayerChannel* self = instance();
    if (self == nullptr) return;
    boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
    self->m_playerWasPlaying = false;
    self->m_lastPlaylist.reset();
}

bool PlayerChannel::isPlaying() {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    return m_playing;
}

void PlayerChannel::queue(void (PlayerChannel::*job)()) {
    {
        boost::lock_guard<boost::mutex> lock(m_jobsLock);
        ++m_jobs;
    }
    base::ThreadDispatcher::add(L"player channel -> stop", 0, [this, job] {
        // Counted out however the job ends: the dispatcher's shutdown
        // interrupts a job in its pause, and the destructor must not wait
        // for it.
        struct Done {
            PlayerChannel& channel;
            ~Done() {
                boost::lock_guard<boost::mutex> lock(channel.m_jobsLock);
                if (--channel.m_jobs == 0) channel.m_jobsDone.notify_all();
            }
        } done{*this};
        try {
            (this->*job)();
        } catch (const exception::Base& e) {
            LOG_ERROR(L"%1%", base::toWide(e.what()));
        } catch (const std::exception& e) {
            LOG_ERROR(L"%1%", base::toWide(e.what()));
        }
    });
}

bool PlayerChannel::voiceFree(const DeviceSet& devices) {
    // A notice of the program's own that was just stopped still shows in
    // the state of the loudspeakers on their way back from it.
    const DeviceSet ours = m_ledger->switchingBack();
    if (std::none_of(devices.begin(), devices.end(),
                     [&ours](const Loudspeaker& device) {
                         return (ours.count(device) == 0 && carriesVoice(device)) || device->showsInternalPlaying();
                     }))
        return true;
    LOG_NOTICE(L"На выбранных устройствах запущено оповещение с более высоким приоритетом.");
    return false;
}

bool PlayerChannel::loudspeakersFree(const DeviceSet& devices, Clock::time_point until) {
    if (!voiceFree(devices)) return false;
    if (!AlarmChannel::restoreCommonChannelForAllDevices(until)) {
        LOG_EXTERN(L"Общий канал плеера: канал занят, воспроизведение пропущено");
        return false;
    }
    // Every Orvel-510 is asked about its memory at once: the check costs
    // the reply time of the slowest, whatever their number.
    if (!playingOnTheirOwn(devices, until).empty()) {
        LOG_NOTICE(L"На выбранных устройствах запущено оповещение с более высоким приоритетом.");
        return false;
    }
    return true;
}

void PlayerChannel::playWithDelay() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::playWithDelay");
    boost::lock_guard<boost::mutex> job(m_jobLock);
    playNow();
}

void PlayerChannel::playNow() {
    try {
        playRequest();
    } catch (...) {
        // The request is dropped: a pending job that never ends would turn
        // every later play away ("skip play").
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_jobPending = false;
        m_restartAfterStop = false;
        throw;
    }
}

void PlayerChannel::playRequest() {
    DeviceSet devices;
    bool keepPlayer = false;
    Clock::time_point asked;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_lastPlaylist = playerPlaylist();
        m_playerWasPlaying = playerPlaying();
        keepPlayer = m_keepPlayer;
        devices = m_devices;
        asked = m_asked;
    }
    const auto dropRequest = [this] {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_jobPending = false;
        m_restartAfterStop = false;
    };
    // What needs no answer is refused before the player stops.
    if (m_exit.closed() || !voiceFree(devices)) {
        dropRequest();
        return;
    }
    // The chosen loudspeakers at the volume asked for, the other
    // loudspeakers of the zones muted, for the newest request (a play during
    // the pause replaces it); a notice of the alarm channel keeps what it
    // holds until it ends. False once the quit began.
    struct Hold {
        DeviceSet devices;
        std::map<Loudspeaker, Wish> chosenWishes;
        std::map<Loudspeaker, Wish> otherWishes;
        bool chosenHeld = false;
        bool othersHeld = false;
        LedgerBatch chosen;  // their volume: the message waits for it
        LedgerBatch others;  // their mute
    };
    const auto wishesOfNewest = [this](DeviceSet& devices) {
        int volume = kKeepVolume;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            devices = m_devices;
            volume = m_volume;
        }
        const DeviceSet zone = m_selection != nullptr ? m_selection->getDevicesOfZones() : DeviceSet();
        std::map<Loudspeaker, Wish> wishes;
        for (const auto& device : zone)
            if (devices.count(device) == 0) wishes[device] = Wish{std::nullopt, std::nullopt, false};
        if (volume != kKeepVolume)
            for (const auto& device : devices) wishes[device] = Wish{std::nullopt, volume, std::nullopt};
        return wishes;
    };
    // `chosenToo` false: the others' mute alone, the chosen ones' volume
    // later.
    const auto holdNewest = [this, &wishesOfNewest](Hold& hold, bool chosenToo) {
        DeviceSet devices;
        const std::map<Loudspeaker, Wish> wishes = wishesOfNewest(devices);
        std::map<Loudspeaker, Wish> chosen, others;
        for (const auto& [device, wish] : wishes) (devices.count(device) != 0 ? chosen : others).emplace(device, wish);
        // The same wishes again: the batch under way answers for them (a new
        // one would take a refusal of the first for done).
        const bool newChosen = chosenToo && !(hold.chosenHeld && hold.devices == devices && chosen == hold.chosenWishes);
        const bool newOthers = !(hold.othersHeld && others == hold.otherWishes);
        if (!newChosen && !newOthers) return true;
        return m_exit.pass([&] {
            if (newChosen) {
                hold.devices = devices;
                hold.chosenWishes = chosen;
                hold.chosenHeld = true;
                hold.chosen = m_ledger->hold(Holder::kPlayer, chosen);
            }
            if (newOthers) {
                hold.otherWishes = others;
                hold.othersHeld = true;
                hold.others = m_ledger->hold(Holder::kPlayer, others);
            }
            DeviceSet earlier;
            for (const auto& device : m_ledger->held(Holder::kPlayer))
                if (wishes.count(device) == 0) earlier.insert(device);
            if (!earlier.empty()) m_ledger->release(Holder::kPlayer, earlier);
        });
    };
    // A refused message leaves no loudspeaker muted for it.
    const auto dropHeld = [this, &dropRequest] {
        m_exit.pass([&] { tellFailuresOf(*m_ledger, m_ledger->releaseAll(Holder::kPlayer), kVolumeNotReturned); });
        dropRequest();
    };
    // The message starts as its pause ends, whatever loudspeakers have not
    // taken it yet: they take it as they answer, while it plays.
    const Clock::time_point deadline = asked + m_pause;
    Hold hold;
    // The loudspeakers left out are muted at once, while the chosen ones are
    // asked about notices of their own: each takes two of its answers (its
    // volume read, then the mute), which a late one would not give by the
    // message's start were it asked only with the chosen ones.
    if (!holdNewest(hold, false)) {
        dropRequest();
        return;
    }
    if (!keepPlayer) {
        if (Player::instance() != nullptr) Player::instance()->stop(true);
        LOG_TRACE(L"%1%", L"waiting stopping 2");
        const Clock::time_point stopped = Clock::now();
        const Clock::time_point pauseEnd = stopped + m_pause;
        // The loudspeakers take the new volume towards the pause's end (see
        // leadOf), so that each is ready as it ends.
        DeviceSet held;
        const std::map<Loudspeaker, Wish> wishes = wishesOfNewest(held);
        for (const auto& [device, wish] : wishes) held.insert(device);
        const Clock::time_point holdAt = pauseEnd - leadOf(held, m_pause);
        // Meanwhile the loudspeakers are asked about notices of their own: one
        // that gives no answer before the hold (by the deadline when the pause
        // leaves no time before it) counts as playing none. A refused message
        // gives the player back what it played.
        if (!loudspeakersFree(devices, holdAt > stopped ? holdAt : deadline)) {
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                if (m_playerWasPlaying && m_lastPlaylist && !m_exit.closed()) Player::play(m_lastPlaylist);
            }
            dropHeld();
            return;
        }
        // The common stream's quiet before the message's start is kept in the
        // pause's last moment, not after it.
        const Clock::time_point quietAt = pauseEnd - std::chrono::milliseconds(PlayerEngine::k_start_pause_ms);
        // The quit cuts the pause short: nothing of the request follows.
        if (!m_exit.sleepUntil(holdAt) || !holdNewest(hold, true) || !m_exit.sleepUntil(quietAt)) {
            dropRequest();
            return;
        }
        if (Player::instance() != nullptr) Player::instance()->quietForStream();
        if (!m_exit.sleepUntil(pauseEnd)) {
            dropRequest();
            return;
        }
    } else if (!loudspeakersFree(devices, deadline)) {
        dropHeld();
        return;
    }
    {
        if (!holdNewest(hold, true)) {
            dropRequest();
            return;
        }
        // The chosen ones that have not taken the message's volume by the
        // deadline take it as they answer, while it plays; the others' mute
        // is not waited for.
        m_exit.waitUntil(hold.chosen, deadline);
        tellFailuresOf(*m_ledger, hold.chosen, kVolumeNotSet);
        tellFailuresOf(*m_ledger, hold.others, kNotMuted);
    }
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    if (m_exit.closed()) {
        // Quitting: the loudspeakers are being given back; the player stays.
        m_jobPending = false;
        m_restartAfterStop = false;
        return;
    }
    // Through the singleton: the playlist may outlive this channel.
    if (m_playlist)
        m_playlist->setCallbackIfEnd([] {
            if (PlayerChannel* channel = instance()) channel->stopCallback();
        });
    if (playerPlaying() && m_playlist == m_lastPlaylist) {
        m_keepPlayer = true;
    } else {
        m_keepPlayer = false;
        Player::play(m_playlist);
    }
    m_playing = true;
    m_jobPending = false;
    m_restartAfterStop = false;
    m_stopOnEnd = true;
    m_endedMeanwhile = false;
    m_playingDevices = m_devices;
    m_playingPlaylist = m_playlist;
    m_playingVolume = m_volume;
}

void PlayerChannel::beginExit() {
    LOG_DEBUG(L"%1%", L"Player channel: quit, no job reaches the loudspeakers any more");
    m_exit.close();
}

bool PlayerChannel::replacementRefused() {
    for (;;) {
        DeviceSet pending;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            if (!m_restartAfterStop || m_stopsAsked > 0) return false;
            pending = m_devices;
        }
        // Outside the lock, as in the play job: an Orvel-510 is asked, each
        // loudspeaker until its own give-up at most.
        const bool free = loudspeakersFree(pending, Clock::now() + longestAnswer(pending));
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!m_restartAfterStop || m_stopsAsked > 0) return false;
        if (m_devices != pending) continue;  // a newer play came meanwhile
        if (free) return false;
        m_devices = m_playingDevices;
        m_playlist = m_playingPlaylist;
        m_volume = m_playingVolume;
        m_restartAfterStop = false;
        m_stopOnEnd = true;
        if (!m_endedMeanwhile) return true;
        // It ended while the refused play waited: stopped as its end would have.
        m_endedMeanwhile = false;
        m_stopOnEnd = false;
        ++m_stopsAsked;
        return false;
    }
}

void PlayerChannel::stopWithDelay() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stopWithDelay");
    boost::lock_guard<boost::mutex> job(m_jobLock);
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!m_playing) return;
        // A play's stop whose play was started by an earlier stop job.
        if (m_stopsAsked == 0 && !m_restartAfterStop) return;
    }
    // A play refused for its loudspeakers leaves the running playback and
    // every loudspeaker as they are.
    if (replacementRefused()) return;
    bool keepPlayer = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_keepPlayer = playerPlaying() && m_playerWasPlaying && playerPlaylist() == m_lastPlaylist;
        keepPlayer = m_keepPlayer;
        m_stopsAsked = 0;
    }
    bool quitting = false;
    if (!keepPlayer) {
        if (Player::instance() != nullptr) Player::instance()->stop(true);
        LOG_TRACE(L"%1%", L"waiting stopping 1");
        quitting = !m_exit.sleep(m_pause);
    }
    // Each loudspeaker its own volume and switch state back, or the alarm's
    // while a notice holds it, before the player plays on: each answers or
    // is given up within two requests' time of its own (the volume read
    // and the volume). The quit gives them back itself.
    LedgerBatch batch;
    DeviceSet released;
    if (!quitting && m_exit.pass([&] {
            released = m_ledger->held(Holder::kPlayer);
            batch = m_ledger->releaseAll(Holder::kPlayer);
        })) {
        m_exit.wait(batch, 2 * longestAnswer(released));
        tellFailures(batch.failures(Settlement::kVolume, LedgerBatch::Answer::kAnswered), kVolumeNotReturned);
        m_ledger->afterLateReplies(batch, [](const LedgerBatch& settled) {
            tellFailures(settled.failures(Settlement::kVolume, LedgerBatch::Answer::kUnanswered),
                         kVolumeNotReturned);
        });
    }
    bool restart = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_playing = false;
        m_endedMeanwhile = false;
        // Quitting: the player is left stopped, and no request follows.
        if (m_exit.closed()) {
            m_restartAfterStop = false;
            return;
        }
        if (!m_keepPlayer) {
            if (m_playerWasPlaying)
                Player::play(m_lastPlaylist);
            else if (m_lastPlaylist && Player::instance() != nullptr)
                Player::instance()->setPlaylist(m_lastPlaylist);
            else
                Player::reset();
        }
        restart = m_restartAfterStop;
        if (restart) m_jobPending = true;
    }
    if (restart) playNow();
}

}  // namespace frm
