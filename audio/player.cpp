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

Player::Pacing completed(Player::Pacing pacing) {
    if (!pacing.now) pacing.now = [] { return std::chrono::steady_clock::now(); };
    if (!pacing.after)
        pacing.after = [](std::chrono::milliseconds wait, std::function<void()> job) {
            return base::ThreadDispatcher::add(L"Player: next round",
                                               static_cast<std::uint32_t>(wait.count()), std::move(job));
        };
    if (!pacing.cancel) pacing.cancel = [](std::uint32_t id) { base::ThreadDispatcher::remove(id); };
    return pacing;
}
}  // namespace

Player::Player(PlayerEngine* engine, CaptureDevices devices, Pacing pacing)
    : m_engine(engine),
      m_devices(std::move(devices)),
      m_pacing(completed(std::move(pacing))),
      m_rounds(m_pacing.timing) {
    if (m_engine == nullptr) dbg_abort("player pointer == NULL", "Player::Player");
    m_engine->register_player(this);
}

Player::~Player() {
    cancelRound();
    m_engine->register_player(nullptr);
}

Player* Player::create(PlayerEngine* engine, CaptureDevices devices, Pacing pacing) {
    // A second player would take the engine's end-of-track calls from the first.
    if (Player* existing = instance()) {
        LOG_WARN(L"recall Player::create");
        return existing;
    }
    Player* player = new Player(engine, std::move(devices), std::move(pacing));
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
        LOG_WARN(L"Аудио не запущено");
        return;
    }
    player.m_playlist->setCurrent(index);
    player.playItem();
}

void Player::playItem() {
    dbg_puts(TRACE2, "%s(..)", "Player::play");
    if (m_shuttingDown) return;
    Lock lock(m_lock);
    tryAnew();
    startItem();
}

void Player::startItem() {
    if (m_shuttingDown) return;
    error::terminateIfNull(m_playlist, "Player::play");
    if (!m_playlist->isPlayable()) return;
    m_switching = true;
    ++m_ticket;
    cancelRound();
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
    // A source that fails at once may end before play() has returned, its
    // end handled on another thread: the engine must find the player
    // playing and not switching by then, or that end would be lost and the
    // player would stay on a silent item. The stop of a start that fails
    // comes back to itemEnded, which finds the player stopped.
    m_startedAt = m_pacing.now();
    m_state = k_state_playing;
    m_switching = false;
    const bool ok = m_engine->play(path);
    if (!ok) m_state = 0;
    m_playlist->notifyPlaying(ok);
}

void Player::stepAndPlay(bool forward, const char* place) {
    Lock lock(m_lock);
    error::terminateIfNull(m_playlist, place);
    stopInternal();
    if (!m_playlist->isPlayable()) return;
    if (forward) m_playlist->next();
    else m_playlist->previous();
    startItem();
}

void Player::next() {
    dbg_puts(TRACE2, "%s(..)", "Player::next");
    Lock lock(m_lock);
    tryAnew();
    stepAndPlay(true, "Player::next");
}

void Player::previous() {
    dbg_puts(TRACE2, "%s(..)", "Player::previous");
    Player& player = global("Player::previous");
    Lock lock(player.m_lock);
    player.tryAnew();
    player.stepAndPlay(false, "Player::previous");
}

void Player::itemEnded(std::uint64_t ticket, std::uint32_t audioMs, std::int32_t lengthMs) {
    dbg_puts(TRACE2, "%s(..)", "Player::next");
    Lock lock(m_lock);
    if (ticket != m_ticket || m_state != k_state_playing) {
        dbg_puts(DEBUG, "%s", "Player: end of an item stopped or replaced meanwhile, dropped");
        return;
    }
    error::terminateIfNull(m_playlist, "Player::next");
    const auto played = std::chrono::duration_cast<std::chrono::milliseconds>(m_pacing.now() - m_startedAt);
    const std::chrono::milliseconds wait = m_rounds.ended(played, std::chrono::milliseconds(audioMs),
                                                          m_playlist->getItems().size(),
                                                          std::chrono::milliseconds(lengthMs));
    if (wait.count() > 0) waitForRound(wait);
    else stepAndPlay(true, "Player::next");
}

void Player::waitForRound(std::chrono::milliseconds wait) {
    // The engine has stopped by itself; the player still counts as playing,
    // so that a stop ends the wait and the list shows as the one on air.
    m_playlist->next();
    if (!m_playlist->isPlayable()) {  // a list that does not repeat has ended
        stopInternal();
        return;
    }
    const std::uint64_t ticket = m_ticket;
    m_roundJob = m_pacing.after(wait, [this, ticket] { startRound(ticket); });
    const long long seconds = (wait.count() + 999) / 1000;
    if (m_rounds.firstWait())
        LOG_WARN(L"Плейлист '%1%': ни один элемент не воспроизводится, каждый завершается сразу "
                 L"после запуска. Следующая попытка через %2% с, далее промежуток растёт до минуты.",
                 m_playlist->getName(), seconds);
    else
        LOG_INFO(L"Плейлист '%1%': снова ни один элемент не воспроизвёлся. Следующая попытка через %2% с.",
                 m_playlist->getName(), seconds);
}

void Player::startRound(std::uint64_t ticket) {
    Lock lock(m_lock);
    if (ticket != m_ticket || m_state != k_state_playing || m_roundJob == 0) return;
    m_roundJob = 0;
    startItem();
}

bool Player::itemHasPlayed() const {
    return m_state == k_state_playing && m_roundJob == 0 &&
           m_pacing.now() - m_startedAt >= m_pacing.timing.quickEnd;
}

void Player::tryAnew() {
    if (itemHasPlayed()) m_rounds.reset();
    else m_rounds.restart();
}

void Player::cancelRound() {
    if (m_roundJob == 0) return;
    m_pacing.cancel(m_roundJob);
    m_roundJob = 0;
}

void Player::stop(bool notify) { stopEnding(notify, true); }

void Player::stopEnding(bool notify, bool spell) {
    dbg_puts(TRACE2, "%s(..)", "Player::stop");
    if (m_shuttingDown) return;
    Lock lock(m_lock);
    if (spell) m_rounds.reset();
    stopInternal();
    if (!m_playlist || !notify) return;
    boost::shared_ptr<Playlist> playlist = m_playlist;
    base::ThreadDispatcher::add(L"Player::stop", 0, [playlist] { playlist->notifyStop(); });
}

void Player::stopInternal() {
    dbg_puts(TRACE2, "%s(..)", "Player::stopInternal");
    Lock lock(m_lock);
    // An item stopped after its first seconds has played: a spell of
    // failures, if one was on, is over.
    if (itemHasPlayed()) m_rounds.reset();
    // An end or a next round that is on its way belongs to what stops here.
    ++m_ticket;
    cancelRound();
    if (m_state == 0) return;
    m_switching = true;
    m_engine->stop(true);
    m_state = 0;
    if (boost::shared_ptr<Playlist> playlist = m_playlist)
        base::ThreadDispatcher::add(L"Player::stopInternal", 0, [playlist] { playlist->notifyPlaying(false); });
    m_switching = false;
}

void Player::quietForStream() {
    if (!m_shuttingDown) m_engine->quiet_for_stream();
}

void Player::setPlaylist(boost::shared_ptr<Playlist> playlist) {
    dbg_puts(TRACE2, "%s(..)", "Player::setPlaylist");
    Lock lock(m_lock);
    const std::wstring from = m_playlist ? m_playlist->getName() : L"empty";
    const std::wstring to = playlist ? playlist->getName() : L"empty";
    dbg_puts(DEBUG, "Player. old playlist '%ls' change at '%ls'", from.c_str(), to.c_str());
    // The same list again is the operator's new try of it, which a play
    // follows: a spell of failures goes on.
    stopEnding(true, playlist != m_playlist);
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
