#include "audio/player_channel.h"

#include <algorithm>
#include <iterator>

#include <boost/thread/thread.hpp>

#include "audio/alarm_channel.h"
#include "audio/engine_player.h"
#include "audio/orvel_actions.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/playback_type.h"

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

bool busyWithHigherNotice(const boost::shared_ptr<device::OrvelInfo>& device) {
    const std::uint64_t type = device->getPlaybackType();
    return device->hasInternalPlaying() ||
           (type & device::playback::kVoiceHighPriority) == device::playback::kVoiceHighPriority ||
           (type & device::playback::kVoiceLowPriority) == device::playback::kVoiceLowPriority;
}

}  // namespace

PlayerChannel::PlayerChannel(DeviceSelection* selection, ChannelGui* gui, std::chrono::milliseconds pause)
    : m_selection(selection), m_gui(gui), m_pause(pause) {}

PlayerChannel::~PlayerChannel() {
    boost::unique_lock<boost::mutex> lock(m_jobsLock);
    // The jobs hold `this`; a job still queued when the dispatcher stops
    // never runs and is no longer counted by it, hence the bound.
    m_jobsDone.wait_for(lock, boost::chrono::seconds(30), [this] { return m_jobs == 0; });
    LOG_TRACE3(L"%1%", L"");
}

void PlayerChannel::createInstance(DeviceSelection* selection, ChannelGui* gui, std::chrono::milliseconds pause) {
    if (instance() != nullptr) {
        LOG_WARN(L"recall PlayerChannel::createInstance");
        return;
    }
    s_instance.store(new PlayerChannel(selection, gui, pause), std::memory_order_release);
}

void PlayerChannel::destroyInstance() { delete s_instance.exchange(nullptr); }

void PlayerChannel::play(boost::shared_ptr<Playlist> playlist, DeviceSet devices, int volume) {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::play");
    if (devices.empty()) {
        LOG_WARN(L"Нет устройств для воспроизведения");
        return;
    }
    if (!AlarmChannel::restoreCommonChannelForAllDevices()) {
        LOG_EXTERN(L"Общий канал плеера: канал занят, воспроизведение пропущено");
        return;
    }
    for (const auto& device : devices) {
        if (busyWithHigherNotice(device)) {
            LOG_NOTICE(L"На выбранных устройствах запущено оповещение с более высоким приоритетом.");
            return;
        }
    }
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
    if (m_playing) {
        m_stopOnEnd = false;
        m_restartAfterStop = true;
        stop();
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

void PlayerChannel::stop() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stop");
    if (m_gui == nullptr || !m_gui->exists()) return;
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    LOG_DEBUG(L"%1%", L"Player channel stop. create thread.");
    queue(&PlayerChannel::stopWithDelay);
}

void PlayerChannel::stopCallback() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stopCallback");
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    if (m_stopOnEnd) {
        m_stopOnEnd = false;
        stop();
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
        try {
            (this->*job)();
        } catch (const exception::Base& e) {
            LOG_ERROR(L"%1%", base::toWide(e.what()));
        } catch (const std::exception& e) {
            LOG_ERROR(L"%1%", base::toWide(e.what()));
        }
        boost::lock_guard<boost::mutex> lock(m_jobsLock);
        if (--m_jobs == 0) m_jobsDone.notify_all();
    });
}

void PlayerChannel::playWithDelay() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::playWithDelay");
    boost::unique_lock<boost::recursive_mutex> lock(m_lock);
    m_lastPlaylist = playerPlaylist();
    m_playerWasPlaying = playerPlaying();
    if (!m_keepPlayer) {
        if (Player::instance() != nullptr) Player::instance()->stop(true);
        LOG_TRACE(L"%1%", L"waiting stopping 2");
        lock.unlock();
        boost::this_thread::sleep_for(boost::chrono::milliseconds(m_pause.count()));
        lock.lock();
    }
    {
        const DeviceSet zone = m_selection != nullptr ? m_selection->getDevicesOfZones() : DeviceSet();
        DeviceSet others;
        std::set_difference(zone.begin(), zone.end(), m_devices.begin(), m_devices.end(),
                            std::inserter(others, others.end()));
        m_savedVolumeEnabled = volumeStatesOfAnswering(zone);
        enableVolumeOfAnswering(others, false);
        if (m_volume == kKeepVolume) {
            m_savedVolumes.clear();
        } else {
            m_savedVolumes = volumesOfAnswering(m_devices);
            setVolumeOfAnswering(m_devices, m_volume);
        }
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
}

void PlayerChannel::stopWithDelay() {
    LOG_TRACE2(L"%1%(..)", "frm::PlayerChannel::stopWithDelay");
    boost::unique_lock<boost::recursive_mutex> lock(m_lock);
    if (!m_playing) return;
    m_keepPlayer = playerPlaying() && m_playerWasPlaying && playerPlaylist() == m_lastPlaylist;
    if (!m_keepPlayer) {
        lock.unlock();
        if (Player::instance() != nullptr) Player::instance()->stop(true);
        LOG_TRACE(L"%1%", L"waiting stopping 1");
        boost::this_thread::sleep_for(boost::chrono::milliseconds(m_pause.count()));
        lock.lock();
    }
    restoreVolumes(m_savedVolumes, m_savedVolumeEnabled);
    m_playing = false;
    if (!m_keepPlayer) {
        if (m_playerWasPlaying)
            Player::play(m_lastPlaylist);
        else if (m_lastPlaylist && Player::instance() != nullptr)
            Player::instance()->setPlaylist(m_lastPlaylist);
        else
            Player::reset();
    }
    if (m_restartAfterStop) {
        m_jobPending = true;
        lock.unlock();  // the play job pauses with the lock released
        playWithDelay();
    }
}

}  // namespace frm
