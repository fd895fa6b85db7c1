#include "audio/stream_port.h"

#include <atomic>
#include <condition_variable>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"

namespace frm {

class StreamPortReader::Search {
public:
    explicit Search(std::size_t reads) : m_pending(reads) {}
    /// One read ended, with the port or without it: the first port is kept,
    /// and the search is done with it or once every read has ended. A late
    /// reply of a read that ended (`ended` false) may bring the port after all.
    void offer(std::optional<std::uint16_t> port, bool ended = true) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (ended && m_pending > 0) --m_pending;
            if (port && !m_port) m_port = port;
            m_done = m_port.has_value() || m_pending == 0;
        }
        m_changed.notify_all();
    }
    void cancel() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cancelled = true;
        }
        m_changed.notify_all();
    }
    bool done() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }
    /// Every read has ended (a thread's read may be joined).
    bool ended() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pending == 0;
    }
    std::optional<std::uint16_t> waitUntil(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_until(lock, until, [this] { return m_done || m_cancelled; });
        return m_port;
    }
    /// A port, a late reply's too; empty once cancelled or at `until`.
    std::optional<std::uint16_t> waitForPort(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_until(lock, until, [this] { return m_port || m_cancelled; });
        return m_cancelled ? std::nullopt : m_port;
    }

private:
    std::mutex m_mutex;  // guards what follows
    std::condition_variable m_changed;
    std::size_t m_pending;  // reads under way
    bool m_done = false;
    bool m_cancelled = false;
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
    const auto all = quickestAll(speakers);
    return all.empty() ? boost::shared_ptr<device::OrvelInfo>() : all.front();
}

std::vector<boost::shared_ptr<device::OrvelInfo>> StreamPortReader::quickestAll(const DeviceSet& speakers) {
    std::vector<boost::shared_ptr<device::OrvelInfo>> best;
    std::chrono::milliseconds bestResend{0};
    for (const auto& speaker : speakers) {
        if (!speaker->isOnlineAndAnswered()) continue;
        const std::chrono::milliseconds resend = speaker->replyTimes().resend;
        if (!best.empty() && resend > bestResend) continue;
        if (best.empty() || resend < bestResend) best.clear();
        best.push_back(speaker);
        bestResend = resend;
    }
    return best;
}

std::shared_ptr<StreamPortReader::Search> StreamPortReader::begin(const DeviceSet& speakers) {
    reap();
    if (const auto known = knownDiscoveryPort(speakers)) {
        const auto search = std::make_shared<Search>(1);
        search->offer(known);
        return search;
    }
    if (!m_read) {
        // Each asked before its switch: the first answer is the notice's.
        const auto sources = quickestAll(speakers);
        const auto search = std::make_shared<Search>(sources.size());
        if (sources.empty()) search->offer(std::nullopt);
        if (!sources.empty())
            LOG_DEBUG(L"Alarm channel: the stream port is asked of %1% loudspeakers, '%2%' first", sources.size(),
                      sources.front()->getTitle());
        for (const auto& source : sources) {
            auto first = std::make_shared<std::atomic<bool>>(true);
            source->readDiscoveryPortAsync(kReadResendMs, [search, first](std::optional<std::uint16_t> port) {
                // The read ends with its first call; a late reply may follow.
                const bool ended = first->exchange(false);
                if (ended || port) search->offer(port, ended);
            });
        }
        return search;
    }
    const auto search = std::make_shared<Search>(1);
    const boost::shared_ptr<device::OrvelInfo> source = quickest(speakers);
    if (!source) {
        search->offer(std::nullopt);
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
                             search->offer(port);
                         }),
                         search});
    return search;
}

void StreamPortReader::reap() {
    std::vector<Running> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto read = m_running.begin(); read != m_running.end();) {
            if (!read->search->ended()) {
                ++read;
                continue;
            }
            ended.push_back(std::move(*read));
            read = m_running.erase(read);
        }
    }
    // Each has offered its answer and is about to return.
    for (Running& read : ended) read.thread.join();
}

std::uint16_t StreamPortReader::portBy(const std::shared_ptr<Search>& search, const DeviceSet& speakers,
                                       Clock::time_point until, std::uint16_t basePort, bool* byRule) {
    if (byRule != nullptr) *byRule = false;
    if (search)
        if (const auto read = search->waitUntil(until)) return *read;
    if (const auto known = knownDiscoveryPort(speakers)) return *known;
    LOG_DEBUG(L"Alarm channel: no loudspeaker told its stream port in time, the base port %1% is taken", basePort);
    if (byRule != nullptr) *byRule = true;
    return device::discoveryPortOf(basePort);
}

std::optional<std::uint16_t> StreamPortReader::laterPort(const std::shared_ptr<Search>& search,
                                                         Clock::time_point until) {
    return search ? search->waitForPort(until) : std::nullopt;
}

void StreamPortReader::cancel(const std::shared_ptr<Search>& search) {
    if (search) search->cancel();
}

}  // namespace frm
