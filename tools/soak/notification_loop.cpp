#include "tools/soak/notification_loop.h"

#include <chrono>

#include "audio/sync_event.h"
#include "base/text.h"

namespace soak {

NotificationLoop::NotificationLoop(const std::string& endpoint, const std::string& messageUtf8,
                                   TsMonitor& monitor, Tally& faults)
    : m_message(base::fromUtf8(messageUtf8)), m_monitor(monitor), m_faults(faults) {
    m_stream.set_stream_endp(endpoint.c_str());
    m_stream.set_stream_fmt(128);
    m_stream.set_stream_ttl(1);
    m_stream.set_address_interface("127.0.0.1", 9);
    m_thread = std::thread([this] { run(); });
}

NotificationLoop::~NotificationLoop() { stop(); }

void NotificationLoop::stop() {
    m_stop.set();
    if (m_thread.joinable()) m_thread.join();
}

void NotificationLoop::run() {
    while (!m_stop.stopped()) {
        // The pause before is no gap, and the new mux counts afresh.
        m_monitor.newSegment();
        m_stream.set_read_mode(mp3streamf::READ_FILE);
        m_stream.set_write_mode(true, false);
        m_stream.stream_create();
        sync_event done(true);
        if (!m_stream.play_file(0, m_message, &done)) {
            m_faults.add("notification stream: the message could not be played");
        } else {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (done.wait(100) != sync_event::signalled) {
                if (m_stop.stopped()) break;
                if (std::chrono::steady_clock::now() > limit) {
                    m_faults.add("notification stream: a message did not end within 2 minutes");
                    break;
                }
            }
        }
        m_stream.stop();
        m_stream.stream_close();
        ++m_messages;
        m_stop.waitFor(std::chrono::milliseconds(500));
    }
}

}  // namespace soak
