#include "gui/medium_watcher.h"

#include <boost/shared_ptr.hpp>
#include <cerrno>

#include "audio/engine_player.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "base/log.h"
#include "base/text.h"

namespace frm {

namespace {

/// access() failures that mean the medium has gone, not that the file has.
bool mediumGone(int error) { return error == ENOENT || error == EIO || error == ENODEV || error == ENXIO; }

}  // namespace

MediumWatcher::MediumWatcher(std::shared_ptr<os::MediaProbe> probe, PlayingPath playingPath,
                             StopPlayer stopPlayer, std::chrono::milliseconds tick)
    : m_probe(std::move(probe)),
      m_playingPath(std::move(playingPath)),
      m_stopPlayer(std::move(stopPlayer)),
      m_tick(tick) {}

MediumWatcher::~MediumWatcher() { stopThread(); }

void MediumWatcher::start() {
    if (m_thread.joinable()) return;
    m_thread = boost::thread([this] { run(); });
}

void MediumWatcher::stopThread() {
    if (!m_thread.joinable()) return;
    m_thread.interrupt();
    m_thread.join();
}

void MediumWatcher::run() {
    try {
        for (;;) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(m_tick.count()));
            check();
        }
    } catch (const boost::thread_interrupted&) {
    }
}

bool MediumWatcher::check() {
    const std::string path = base::toUtf8(m_playingPath());
    if (path.empty() || path[0] != '/') {
        m_path.clear();
        return false;
    }
    if (path != m_path) {
        const std::vector<os::MountEntry> mounts = m_probe->mounts();
        const os::MountEntry* mount = os::findMountOf(mounts, path);
        if (mount == nullptr) return false;
        m_path = path;
        m_mount = *mount;
        m_blockDevice = m_probe->hasBlockDevice(mount->major, mount->minor);
        m_removable =
            m_blockDevice && m_probe->driveKind(mount->major, mount->minor) == os::DriveKind::kRemovable;
        m_reported = false;
        return false;
    }
    if (m_reported) return false;

    bool mounted = false;
    for (const os::MountEntry& mount : m_probe->mounts())
        mounted = mounted || (mount.id == m_mount.id && mount.point == m_mount.point);
    const bool gone = !mounted || (m_blockDevice && !m_probe->hasBlockDevice(m_mount.major, m_mount.minor)) ||
                      (m_removable && mediumGone(m_probe->accessError(path)));
    if (!gone) return false;
    m_reported = true;
    LOG_ERROR(L"Носитель '%1%' был удален", base::fromUtf8(m_mount.point));
    m_stopPlayer();
    return true;
}

std::wstring MediumWatcher::playerPath() {
    Player* player = Player::instance();
    if (player == nullptr || player->state() != EnginePlayer::k_state_playing) return {};
    const boost::shared_ptr<Playlist> playlist = player->playlist();
    if (!playlist) return {};
    // Item and position are read apart, so the list may change in between:
    // a position past the end reads as nothing playing.
    const std::vector<Playlist::Item> items = playlist->getItems();
    const std::uint32_t position = playlist->getCurrentPosition();
    return position < items.size() ? items[position].path : std::wstring();
}

void MediumWatcher::stopPlayer() {
    if (Player* player = Player::instance()) player->stop(true);
}

}  // namespace frm
