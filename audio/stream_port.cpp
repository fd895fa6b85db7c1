#include "audio/stream_port.h"

#include <condition_variable>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"

namespace frm {

class StreamPortReader::Search {
public:
    void finish(std::optional<std::uint16_t> port) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_port = port;
            m_done = true;
        }
        m_changed.notify_all();
    }
    bool done() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }
    std::optional<std::uint16_t> waitUntil(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_until(lock, until, [this] { return m_done; });
        return m_port;
    }

private:
    std::mutex m_mutex;  // guards what follows
    std::condition_variable m_changed;
    bool m_done = false;
    std::optional<std::uint16_t> m_port;
};

std::optional<std::uint16_t> knownDiscoveryPort(const DeviceSet& speakers) {
    for (const auto& speaker : speakers)
        if (const auto port = speaker->knownDiscoveryPort()) return port;
    return std::nullopt;
}

StreamPortReader::StreamPortReader(Read read) : m_read(std::move(read)) {}

StreamPortReader::~StreamPortReader() {
    std::vector<Running> running;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        running.swap(m_running);
    }
    for (Running& read : running) read.thread.join();
}

boost::shared_ptr<device::OrvelInfo> StreamPortReader::quickest(const DeviceSet& speakers) {
    boost::shared_ptr<device::OrvelInfo> best;
    std::chrono::milliseconds bestResend{0};
    for (const auto& speaker : speakers) {
        if (!speaker->isOnlineAndAnswered()) continue;
        const std::chrono::milliseconds resend = speaker->replyTimes().resend;
        if (!best || resend < bestResend) {
            best = speaker;
            bestResend = resend;
        }
    }
    return best;
}

std::shared_ptr<StreamPortReader::Search> StreamPortReader::begin(const DeviceSet& speakers) {
    reap();
    const auto search = std::make_shared<Search>();
    if (const auto known = knownDiscoveryPort(speakers)) {
        search->finish(known);
        return search;
    }
    const boost::shared_ptr<device::OrvelInfo> source = quickest(speakers);
    if (!source) {
        search->finish(std::nullopt);
        return search;
    }
    LOG_DEBUG(L"Alarm channel: the stream port is asked of '%1%'", source->getTitle());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running.push_back({std::thread([read = m_read, source, search] {
                             std::optional<std::uint16_t> port;
                             try {
                                 port = read(*source);
                             } catch (const exception::Base& e) {
                                 LOG_DEBUG(L"Alarm channel: the stream port of '%1%' not read: %2%",
                                           source->getTitle(), e.getNotification());
                             } catch (const std::exception& e) {
                                 LOG_DEBUG(L"Alarm channel: the stream port of '%1%' not read: %2%",
                                           source->getTitle(), base::toWide(e.what()));
                             }
                             search->finish(port);
                         }),
                         search});
    return search;
}

void StreamPortReader::reap() {
    std::vector<Running> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto read = m_running.begin(); read != m_running.end();) {
            if (!read->search->done()) {
                ++read;
                continue;
            }
            ended.push_back(std::move(*read));
            read = m_running.erase(read);
        }
    }
    // Each has set its answer and is about to return.
    for (Running& read : ended) read.thread.join();
}

std::uint16_t StreamPortReader::portBy(const std::shared_ptr<Search>& search, const DeviceSet& speakers,
                                       Clock::time_point until, std::uint16_t basePort) {
    if (search)
        if (const auto read = search->waitUntil(until)) return *read;
    if (const auto known = knownDiscoveryPort(speakers)) return *known;
    LOG_DEBUG(L"Alarm channel: no loudspeaker told its stream port in time, the base port %1% is taken", basePort);
    return device::discoveryPortOf(basePort);
}

}  // namespace frm
