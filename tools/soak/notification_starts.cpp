// The notification stream's message starts, one by one: plays a short
// message over and over through the soak's notification loop (made, played,
// closed and paused as the alarm channel does it) and prints, per message,
// the arrival times of its datagrams over its first second, with each
// datagram's PCR beside it, and the message's largest gap between datagrams.
// The PCR is the mux's own date for the packet that carries it, so a gap
// that shows in the PCRs as well was planned by the mux, and one that shows
// only in the arrival times came from a late sender.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/tools/notification_starts [--messages N] [--quiet]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "tools/soak/group_receiver.h"
#include "tools/soak/notification_loop.h"
#include "tools/soak/soak_support.h"
#include "tools/soak/ts_monitor.h"
#include "tools/stream_probe.h"

namespace {

constexpr const char* kGroup = "224.0.226.2";  // the soak's notification group
constexpr std::uint16_t kPort = 12602;
// The loop pauses half a second between messages: a longer silence than
// this begins the next one.
constexpr std::int64_t kMessageBreakUs = 300'000;
constexpr std::int64_t kStartWindowUs = 1'000'000;

struct Arrival {
    std::int64_t atUs = 0;
    std::int64_t pcrUs = -1;  // the first PCR in the datagram, -1 without one
    unsigned packets = 0;
    unsigned tablePackets = 0;  // PAT and PMT
};

/// The first PCR of the datagram in microseconds, -1 when none.
std::int64_t firstPcrUs(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 188 <= size; at += 188) {
        const std::uint8_t* p = data + at;
        const bool adaptation = (p[3] & 0x20) != 0;
        if (!adaptation || p[4] < 7 || (p[5] & 0x10) == 0) continue;
        const std::uint64_t base = (std::uint64_t(p[6]) << 25) | (std::uint64_t(p[7]) << 17) |
                                   (std::uint64_t(p[8]) << 9) | (std::uint64_t(p[9]) << 1) | (p[10] >> 7);
        const std::uint64_t extension = (std::uint64_t(p[10] & 1) << 8) | p[11];
        return static_cast<std::int64_t>((base * 300 + extension) / 27);
    }
    return -1;
}

class Recorder {
public:
    void add(const std::uint8_t* data, std::size_t size, std::int64_t atUs) {
        if (size == 0) return;
        Arrival a;
        a.atUs = atUs;
        a.pcrUs = firstPcrUs(data, size);
        a.packets = static_cast<unsigned>(size / 188);
        for (std::size_t at = 0; at + 188 <= size; at += 188) {
            const unsigned pid = (unsigned(data[at + 1] & 0x1F) << 8) | data[at + 2];
            if (pid == 0 || pid == m_pmtPid) ++a.tablePackets;
            if (pid == 0 && m_pmtPid == 0 && size >= at + 17) m_pmtPid = ((data[at + 15] & 0x1F) << 8) | data[at + 16];
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back(a);
    }
    std::vector<Arrival> snapshot() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Arrival> m_seen;
    unsigned m_pmtPid = 0;
};

struct MessageFigures {
    std::int64_t largestGapUs = 0;
    std::int64_t largestGapEndUs = 0;  // since the message's first datagram
    std::size_t largestGapAfter = 0;   // datagrams before the gap's end
    std::int64_t largestStartGapUs = 0;  // within the first second
};

std::vector<std::vector<Arrival>> splitMessages(const std::vector<Arrival>& all) {
    std::vector<std::vector<Arrival>> out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i == 0 || all[i].atUs - all[i - 1].atUs > kMessageBreakUs) out.emplace_back();
        out.back().push_back(all[i]);
    }
    return out;
}

MessageFigures measure(const std::vector<Arrival>& message) {
    MessageFigures f;
    for (std::size_t i = 1; i < message.size(); ++i) {
        const std::int64_t gap = message[i].atUs - message[i - 1].atUs;
        const std::int64_t end = message[i].atUs - message.front().atUs;
        if (gap > f.largestGapUs) {
            f.largestGapUs = gap;
            f.largestGapEndUs = end;
            f.largestGapAfter = i;
        }
        if (end <= kStartWindowUs) f.largestStartGapUs = std::max(f.largestStartGapUs, gap);
    }
    return f;
}

void printStart(std::size_t index, const std::vector<Arrival>& message, const MessageFigures& f) {
    std::printf("message %2zu: %3zu datagrams, largest gap %6.1f ms ending %6.1f ms in, after %zu\n", index,
                message.size(), f.largestGapUs / 1000.0, f.largestGapEndUs / 1000.0, f.largestGapAfter);
    const std::int64_t t0 = message.front().atUs;
    std::int64_t pcr0 = -1, pcrAt0 = 0;
    for (std::size_t i = 0; i < message.size() && message[i].atUs - t0 <= kStartWindowUs; ++i) {
        const Arrival& a = message[i];
        char pcr[64] = "";
        if (a.pcrUs >= 0) {
            if (pcr0 < 0) {
                pcr0 = a.pcrUs;
                pcrAt0 = a.atUs;
            }
            // Arrival against the mux's date: steady while the sender keeps time, give or
            // take the packets before the PCR in the datagram (it leaves at its first one's date).
            std::snprintf(pcr, sizeof pcr, " pcr %6.1f late %+6.1f", (a.pcrUs - pcr0) / 1000.0,
                          ((a.atUs - pcrAt0) - (a.pcrUs - pcr0)) / 1000.0);
        }
        std::printf("    #%-2zu %7.1f ms  +%6.1f  %u pk (%u tables)%s\n", i, (a.atUs - t0) / 1000.0,
                    i == 0 ? 0.0 : (a.atUs - message[i - 1].atUs) / 1000.0, a.packets, a.tablePackets, pcr);
    }
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * (v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
    int messages = 40;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) {
            messages = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet = true;
        } else {
            std::fprintf(stderr, "usage: notification_starts [--messages N] [--quiet]   (inside scripts/netns-run)\n");
            return 2;
        }
    }
    if (std::getenv("SONVAR_NETNS_INSIDE") == nullptr) {
        std::fprintf(stderr, "notification_starts opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    const std::string folder = boost::filesystem::temp_directory_path().string() + "/sonvar-starts-" +
                               std::to_string(::getpid());
    boost::filesystem::create_directories(folder);
    const std::string message = folder + "/message.mp3";
    // Long enough to reach the stream's steady pace, short enough for many starts.
    if (!stream_probe::write_mp3(message, stream_probe::stepped_tone({400, 800, 1200}, 500, 44100, 1), 44100, 1)) {
        std::fprintf(stderr, "notification_starts: cannot make the message file\n");
        return 2;
    }

    Recorder recorder;
    soak::TsMonitor monitor;
    soak::Tally faults;
    {
        soak::GroupReceiver receiver(kGroup, kPort, monitor,
                                     [&](const std::uint8_t* d, std::size_t n, std::int64_t at) { recorder.add(d, n, at); });
        soak::NotificationLoop loop(std::string(kGroup) + ":" + std::to_string(kPort), message, monitor, faults);
        while (loop.messages() < static_cast<std::uint64_t>(messages)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loop.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    boost::filesystem::remove_all(folder);

    const auto split = splitMessages(recorder.snapshot());
    std::vector<double> largest, starts;
    std::size_t over100 = 0, over85 = 0;
    for (std::size_t i = 0; i < split.size(); ++i) {
        const MessageFigures f = measure(split[i]);
        if (!quiet) printStart(i, split[i], f);
        largest.push_back(f.largestGapUs / 1000.0);
        starts.push_back(f.largestStartGapUs / 1000.0);
        if (f.largestGapUs > 100'000) ++over100;
        if (f.largestGapUs > 85'000) ++over85;
    }
    const soak::TsFigures total = monitor.figures();
    std::printf("messages %zu: largest gap per message median %.1f ms, p90 %.1f ms, max %.1f ms; "
                "in the first second median %.1f ms, max %.1f ms; over 85 ms %zu, over 100 ms %zu\n",
                split.size(), percentile(largest, 0.5), percentile(largest, 0.9), percentile(largest, 1.0),
                percentile(starts, 0.5), percentile(starts, 1.0), over85, over100);
    std::printf("monitor: largest gap %.1f ms (%.1f ms into its segment, after %llu datagrams), CC errors %llu, "
                "segments %llu, faults %llu\n",
                total.largestGapUs / 1000.0, total.largestGapIntoSegmentUs / 1000.0,
                static_cast<unsigned long long>(total.largestGapAfterDatagrams),
                static_cast<unsigned long long>(total.ccErrors), static_cast<unsigned long long>(total.segments),
                static_cast<unsigned long long>(faults.count()));
    return 0;
}
