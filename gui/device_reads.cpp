#include "gui/device_reads.h"

#include <boost/pointer_cast.hpp>
#include <map>
#include <mutex>
#include <set>

#include "audio/alarm_channel.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "base/exception.h"
#include "base/hardware_address.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/orvel_info.h"

namespace frm {

namespace {

/// The player's state while it plays.
constexpr int kPlayerPlaying = 1;

}  // namespace

struct DeviceReads::Shared {
    mutable std::mutex lock;  // guards `running`, `known` and `started`
    std::uint64_t started = 0;
    std::set<net::HardwareAddress> running;
    std::map<net::HardwareAddress, Known> known;
    Done done;  // GUI thread only
};

ChannelFacts readChannelFacts(device::OrvelInfo& loudspeaker) {
    ChannelFacts facts;
    facts.channel = loudspeaker.getChannel();
    if (Player* player = Player::instance(); player != nullptr && player->state() == kPlayerPlaying) {
        if (const boost::shared_ptr<Playlist> playlist = player->playlist()) {
            // A copy and its position, not current(): the list may shrink
            // meanwhile on the GUI thread.
            const std::vector<Playlist::Item> items = playlist->getItems();
            const std::uint32_t position = playlist->getCurrentPosition();
            if (!items.empty()) {
                facts.playerPlaying = true;
                facts.playlistName = playlist->getName();
                if (position < items.size()) facts.itemTitle = items[position].title;
            }
        }
    }
    if (AlarmChannel* alarm = AlarmChannel::instance()) {
        facts.alarmRunning = alarm->isRunning();
        if (facts.alarmRunning) facts.alarmMessage = alarm->getCurrentMessage();
    }
    return facts;
}

DeviceReads::DeviceReads(Done done) : m_shared(std::make_shared<Shared>()) {
    m_shared->done = std::move(done);
}

DeviceReads::~DeviceReads() { m_shared->done = nullptr; }

bool DeviceReads::read(const DevicePtr& device, unsigned what) {
    if (!device || what == 0) return false;
    const net::HardwareAddress address = device->getHardwareAddress();
    std::uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        if (!m_shared->running.insert(address).second) return false;
        number = ++m_shared->started;
    }
    const std::shared_ptr<Shared> shared = m_shared;
    const std::uint32_t id =
        base::ThreadDispatcher::add(L"zone panel: read the device", 0,
                                    [shared, device, what, number] { runJob(shared, device, what, number); });
    if (id != 0) return true;
    std::lock_guard<std::mutex> lock(m_shared->lock);
    m_shared->running.erase(address);
    return false;
}

DeviceReads::Known DeviceReads::known(const device::DeviceBase& device) const {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    const auto found = m_shared->known.find(device.getHardwareAddress());
    return found != m_shared->known.end() ? found->second : Known();
}

std::uint64_t DeviceReads::lastStarted() const {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    return m_shared->started;
}

void DeviceReads::runJob(const std::shared_ptr<Shared>& shared, const DevicePtr& device, unsigned what,
                         std::uint64_t number) {
    std::optional<int> volume;
    std::optional<ChannelFacts> channel;
    // Each read on its own: a volume that can't be read leaves the channel to read.
    const auto attempt = [&device](const auto& step) {
        try {
            step();
        } catch (const exception::Base& e) {
            LOG_DEBUG(L"device '%1%' not read: %2%", device->getTitle(), e.getNotification());
        }
    };
    if ((what & kProbe) != 0) attempt([&] { device->checkOnline(true); });
    if ((what & kVolume) != 0) attempt([&] { volume = device->getVolume(); });
    if ((what & kChannel) != 0) {
        if (const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(device))
            attempt([&] { channel = readChannelFacts(*loudspeaker); });
    }
    {
        std::lock_guard<std::mutex> lock(shared->lock);
        Known& known = shared->known[device->getHardwareAddress()];
        if (volume) {
            known.volume = volume;
            known.volumeRead = number;
        }
        if (channel) known.channel = channel;
        shared->running.erase(device->getHardwareAddress());
    }
    GuiThreadInvoker::add([shared, device] {
        if (shared->done) shared->done(device);
    });
}

}  // namespace frm
