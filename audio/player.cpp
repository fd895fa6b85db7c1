#include "audio/player.h"

#include <boost/thread/lock_guard.hpp>

#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"

std::atomic<Player*> Player::s_instance{nullptr};

namespace {
using Lock = boost::lock_guard<boost::recursive_mutex>;
}

Player::Player(PlayerEngine* engine, CaptureDevices devices) : m_engine(engine), m_devices(std::move(devices)) {
    if (m_engine == nullptr) dbg_abort("player pointer == NULL", "Player::Player");
    m_engine->register_player(this);
}

Player::~Player() { m_engine->register_player(nullptr); }

Player* Player::create(PlayerEngine* engine, CaptureDevices devices) {
    // A second player would take the engine's end-of-track calls from the first.
    if (Player* existing = instance()) {
        LOG_WARN(L"%1%", L"recall Player::create");
        return existing;
    }
    Player* player = new Player(engine, std::move(devices));
    s_instance.store(player, std::memory_order_release);
    return player;
}

void Player::destroy() { delete s_instance.exchange(nullptr, std::memory_order_acq_rel); }

Player& Player::global(const char* place) {
    Player* player = instance();
    error::terminateIfNull(player, place);
    return *player;
}

boost::shared_ptr<Playlist> Player::playlist() {
    Lock lock(m_lock);
    return m_playlist;
}

void Player::play(boost::shared_ptr<Playlist> playlist) {
    dbg_puts(TRACE2, "%s(..)", "Player::play");
    Player& player = global("Player::play");
    Lock lock(player.m_lock);
    player.setPlaylist(std::move(playlist));
    player.playItem();
}

void Player::playAt(unsigned index) {
    dbg_puts(TRACE2, "%s(..)", "Player::play");
    Player& player = global("Player::play");
    Lock lock(player.m_lock);
    if (!player.m_playlist) {
        LOG_WARN(L"%1%", L"Аудио не запущено");
        return;
    }
    player.m_playlist->setCurrent(index);
    player.playItem();
}

void Player::playItem() {
    dbg_puts(TRACE2, "%s(..)", "Player::play");
    if (m_shuttingDown) return;
    Lock lock(m_lock);
    error::terminateIfNull(m_playlist, "Player::play");
    if (!m_playlist->isPlayable()) return;
    m_switching = true;
    m_engine->stop(true);
    m_state = 0;
    std::wstring path = m_playlist->current().path;
    if (path.find(L"adev://") != std::wstring::npos) {
        const std::wstring name = path.substr(7);
        bool found = false;
        for (const os::AudioCaptureDevice& device : m_devices ? m_devices() : std::vector<os::AudioCaptureDevice>()) {
            if (device.name != name) continue;
            path = L"line://dev=" + std::to_wstring(device.waveInId);
            found = true;
            break;
        }
        if (!found) {
            LOG_WARN(L"Неизвестное аудио-устройство '%1%' (возможно было отключено)", name);
            m_switching = false;
            return;
        }
    }
    const bool ok = m_engine->play(path);
    m_state = ok ? k_state_playing : 0;
    m_playlist->notifyPlaying(ok);
    m_switching = false;
}

void Player::stepAndPlay(bool forward, const char* place) {
    Lock lock(m_lock);
    error::terminateIfNull(m_playlist, place);
    stopInternal();
    if (!m_playlist->isPlayable()) return;
    if (forward) m_playlist->next();
    else m_playlist->previous();
    playItem();
}

void Player::next() {
    dbg_puts(TRACE2, "%s(..)", "Player::next");
    stepAndPlay(true, "Player::next");
}

void Player::previous() {
    dbg_puts(TRACE2, "%s(..)", "Player::previous");
    global("Player::previous").stepAndPlay(false, "Player::previous");
}

void Player::stop(bool notify) {
    dbg_puts(TRACE2, "%s(..)", "Player::stop");
    if (m_shuttingDown) return;
    Lock lock(m_lock);
    stopInternal();
    if (!m_playlist || !notify) return;
    boost::shared_ptr<Playlist> playlist = m_playlist;
    base::ThreadDispatcher::add(L"Player::stop", 0, [playlist] { playlist->notifyStop(); });
}

void Player::stopInternal() {
    dbg_puts(TRACE2, "%s(..)", "Player::stopInternal");
    Lock lock(m_lock);
    if (m_state == 0) return;
    m_switching = true;
    m_engine->stop(true);
    m_state = 0;
    if (boost::shared_ptr<Playlist> playlist = m_playlist)
        base::ThreadDispatcher::add(L"Player::stopInternal", 0, [playlist] { playlist->notifyPlaying(false); });
    m_switching = false;
}

void Player::setPlaylist(boost::shared_ptr<Playlist> playlist) {
    dbg_puts(TRACE2, "%s(..)", "Player::setPlaylist");
    Lock lock(m_lock);
    const std::wstring from = m_playlist ? m_playlist->getName() : L"empty";
    const std::wstring to = playlist ? playlist->getName() : L"empty";
    dbg_puts(DEBUG, "Player. old playlist '%ls' change at '%ls'", from.c_str(), to.c_str());
    stop(true);
    m_playlist = std::move(playlist);
}

void Player::reset() {
    dbg_puts(TRACE2, "%s(..)", "Player::reset");
    Player& player = global("Player::reset");
    Lock lock(player.m_lock);
    player.stop(true);
    player.m_playlist.reset();
}

boost::shared_ptr<Playlist> Player::getPlaylist() { return global("Player::getPlaylist").playlist(); }
