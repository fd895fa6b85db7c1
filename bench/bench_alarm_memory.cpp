// Whether an alarm leaves memory behind. Simulated loudspeakers listen while
// the common stream runs, as in the program; the alarm channel then launches
// and stops alarms again and again through its real API, and the process's
// resident memory, heap in use (mallinfo2), threads and open files are read
// after each stop. The first alarms warm up what stays (libvlc's plug-ins,
// the transport's per-device queues, the log's ring, whose record buffers
// are kept for reuse: about six records a loudspeaker and alarm fill its
// 16384 places within some 30 alarms at 100 loudspeakers); after them the
// figures should stay flat. One round per kind of alarm the operator starts:
//  - launch and stop: gong and message (the message page), stopped as soon as
//    the first datagram of the notification stream is seen;
//  - message to its end: gong and message played whole, then stopped as the
//    main window stops it on the message's end;
//  - gong: the gong button's notice, stopped once the gong has ended;
//  - microphone: the alarm button's broadcast of the capture device
//    record.deviceName, stopped a second after its first datagram. Without
//    a sound card the capture device is an MP3 file that libvlc reads at the
//    pace of its clock, as a microphone gives its samples (ALSA's "null"
//    device would hand out silence as fast as it is read);
//    SONVAR_BENCH_CAPTURE names a real one ("hw:0,0", "pulse://..."). A
//    round whose first alarm sends nothing is skipped.
//
// Per round: growth per alarm over the first 20 and over the rest, of the
// resident memory and of the heap in use. The BENCH lines set the growth per
// alarm after the first 20 beside that of the first 20 (levelled off: ratio
// well under 1) and beside a goal of 4 KiB per alarm (a year of hourly
// alarms under 40 MB).
//
// The log translates its records through the program's catalogue, as in the
// program, which needs the toolkit and so a display. Opens sockets: run it
// inside the private namespace,
//   scripts/netns-run xvfb-run -a build/bench/bench_alarm_memory [alarms, default 200
//       [other rounds' alarms, default 40 [loudspeakers, default 100
//       [rounds to run, e.g. "gong,microphone"; default all]]]]

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <wx/app.h>
#include <wx/init.h>

#include "audio/alarm_channel.h"
#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/log_setup.h"
#include "gui/translations.h"
#include "tests/audio/channel_fixture.h"
#include "tools/stream_probe.h"

using namespace stream_probe;
using frm::AlarmChannel;

namespace {

const std::string kGroup = "224.0.224.72";
constexpr std::uint16_t kDiscoveryPort = 12620;
constexpr std::uint16_t kNoticePort = kDiscoveryPort + 1;  // priority 3 and above
constexpr int kPriority = 3;
constexpr std::size_t kWarmUp = 20;
constexpr double kGoalKiB = 4;
constexpr std::int64_t kGiveUpUs = 15000000;

/// Counts the datagrams of a multicast group on loopback, keeping none of
/// them: a recording receiver would grow with every alarm itself.
class GroupCounter {
public:
    GroupCounter(const std::string& group, std::uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, group.c_str(), &local.sin_addr);
        ip_mreq join{};
        ::inet_pton(AF_INET, group.c_str(), &join.imr_multiaddr);
        ::inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            std::printf("cannot join %s:%u\n", group.c_str(), port);
        m_thread = std::thread([this] {
            char data[2048];
            while (!m_stop) {
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, 20) > 0 && ::recv(m_fd, data, sizeof data, 0) >= 0) ++m_count;
            }
        });
    }
    ~GroupCounter() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    std::size_t count() const { return m_count; }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_count{0};
    std::thread m_thread;
};

/// What the process holds after one alarm.
struct Sample {
    double rssKiB = 0;
    double heapKiB = 0;
    unsigned threads = 0;
    unsigned files = 0;
};

unsigned entries(const char* folder) {
    boost::system::error_code error;
    unsigned n = 0;
    for (boost::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        ++n;
    return n;
}

Sample sample() {
    Sample s;
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    s.rssKiB = resident * (::sysconf(_SC_PAGESIZE) / 1024.0);
    s.heapKiB = static_cast<double>(::mallinfo2().uordblks) / 1024.0;
    s.threads = entries("/proc/self/task");
    s.files = entries("/proc/self/fd");
    return s;
}

/// <build> of <build>/bench, where the program's catalogue is made.
std::wstring buildFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    folder = folder.substr(0, folder.rfind('/'));
    return base::fromUtf8(folder.substr(0, folder.rfind('/')));
}

/// Growth per alarm between two samples, in KiB.
double perAlarm(double from, double to, std::size_t alarms) { return alarms == 0 ? 0 : (to - from) / alarms; }

struct Round {
    const char* name;
    std::vector<Sample> after;  // [0]: before the first alarm
    unsigned failed = 0;        // alarms that were refused or sent nothing
    bool skipped = false;
};

void report(const Round& round) {
    if (round.skipped || round.after.size() < kWarmUp + 2) {
        std::printf("%-18s skipped\n", round.name);
        return;
    }
    const Sample& first = round.after.front();
    const Sample& warm = round.after[kWarmUp];
    const Sample& last = round.after.back();
    const std::size_t rest = round.after.size() - 1 - kWarmUp;
    const double rssEarly = perAlarm(first.rssKiB, warm.rssKiB, kWarmUp);
    const double rssLate = perAlarm(warm.rssKiB, last.rssKiB, rest);
    const double heapEarly = perAlarm(first.heapKiB, warm.heapKiB, kWarmUp);
    const double heapLate = perAlarm(warm.heapKiB, last.heapKiB, rest);
    std::printf(
        "%-18s %3zu alarms (%u failed): RSS %.1f -> %.1f -> %.1f MiB, %.1f then %.1f KiB/alarm; "
        "heap %.1f -> %.1f -> %.1f MiB, %.1f then %.1f KiB/alarm; threads %u -> %u, files %u -> %u\n",
        round.name, round.after.size() - 1, round.failed, first.rssKiB / 1024, warm.rssKiB / 1024,
        last.rssKiB / 1024, rssEarly, rssLate, first.heapKiB / 1024, warm.heapKiB / 1024, last.heapKiB / 1024,
        heapEarly, heapLate, warm.threads, last.threads, warm.files, last.files);
    std::printf("  RSS MiB every %zu alarms:", kWarmUp);
    for (std::size_t i = 0; i < round.after.size(); i += kWarmUp)
        std::printf(" %.1f", round.after[i].rssKiB / 1024);
    std::printf("\n  heap MiB every %zu alarms:", kWarmUp);
    for (std::size_t i = 0; i < round.after.size(); i += kWarmUp)
        std::printf(" %.1f", round.after[i].heapKiB / 1024);
    std::printf("\n");
    // Levelled off, measured against the warm-up itself; a warm-up under
    // 1 KiB per alarm counts as 1 KiB.
    std::printf("BENCH alarm_memory_%s_rss_per_alarm_after_20 ours=%.2fKiB first_20=%.2fKiB ratio=%.3f\n",
                round.name, rssLate, rssEarly, rssLate / std::max(rssEarly, 1.0));
    std::printf("BENCH alarm_memory_%s_heap_per_alarm_after_20 ours=%.2fKiB goal=%.0fKiB ratio=%.3f\n",
                round.name, heapLate, kGoalKiB, heapLate / kGoalKiB);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const int alarms = argc > 1 ? std::max<int>(kWarmUp + 1, std::atoi(argv[1])) : 200;
    const int otherAlarms = argc > 2 ? std::max(0, std::atoi(argv[2])) : 40;
    const unsigned loudspeakers = argc > 3 ? std::max(1, std::min(250, std::atoi(argv[3]))) : 100;
    const std::string only = argc > 4 ? std::string(",") + argv[4] + "," : std::string();
    char dirTemplate[] = "/tmp/sonvar-bench-alarm-memory-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate) ? dirTemplate : "/tmp";
    const char* capture = std::getenv("SONVAR_BENCH_CAPTURE");

    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    // The log as the program makes it: records of INFO and above looked up
    // in the catalogue built beside the program (<build>/ru_RU).
    wxApp::SetInstance(new wxApp);
    int toolkitArgc = 1;  // our arguments are not the toolkit's
    if (!wxEntryStart(toolkitArgc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no X display: run under xvfb-run\n");
        boost::system::error_code ignored;
        boost::filesystem::remove_all(dir, ignored);
        return 2;
    }
    frm::installTranslations(buildFolder());
    dbg_init(false, INFO, base::fromUtf8(dir).c_str());
    pref_init(base::fromUtf8(dir + "/sonvar.cfg"));
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.address", pref::Type::TypeString) = kGroup.c_str();
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = false;
        pref::create(g_pref, "record.deviceName", pref::Type::TypeString) =
            (capture != nullptr ? std::string(capture) : "file://" + dir + "/voice.mp3").c_str();
    }
    base::ThreadDispatcher::create();

    const std::string gong = dir + "/gong.mp3";
    const std::string message = dir + "/message.mp3";
    write_mp3(gong, stepped_tone({880}, 500, 44100, 1), 44100, 1);
    write_mp3(message, stepped_tone({440}, 1000, 44100, 1), 44100, 1);
    write_mp3(dir + "/voice.mp3", stepped_tone({330, 660}, 3000, 44100, 1), 44100, 1);

    // The common stream runs the whole time, as in the program: libvlc's
    // plug-ins stay loaded between the notices.
    mp3stream commonStream(2000);
    commonStream.set_pcm_fmt(44100, 2, 16);
    commonStream.set_stream_endp((kGroup + ":" + std::to_string(kDiscoveryPort)).c_str());
    commonStream.set_stream_fmt(128);
    commonStream.set_stream_ttl(1);
    commonStream.set_address_interface("127.0.0.1", 9);
    commonStream.libvlc_create();
    commonStream.libvlc_imem_create();
    commonStream.stream_start();

    std::printf(
        "alarm memory bench: %u loudspeakers, %d alarms launched and stopped, %d of each other kind "
        "(gong 0.5 s, message 1 s), load: ",
        loudspeakers, alarms, otherAlarms);
    std::fflush(stdout);
    if (std::system("uptime") != 0) std::printf("\n");

    std::vector<Round> rounds;
    {
        channel_test::Speakers speakers;
        frm::DeviceSet set;
        for (unsigned i = 0; i < loudspeakers; ++i) {
            const auto loudspeaker = speakers.add();
            // The simulator's own log of requests would grow with every alarm.
            speakers.sim(loudspeaker).setRecording(false);
            set.insert(loudspeaker);
        }
        channel_test::FakeSelection selection;
        selection.zones = set;
        selection.selected = set;
        channel_test::FakeGui gui;
        mp3streamf noticeStream;
        noticeStream.set_stream_fmt(128);
        noticeStream.set_stream_ttl(1);
        noticeStream.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.discoveryPort = [](device::OrvelInfo&) { return kDiscoveryPort; };
        AlarmChannel::createInstance(&selection, &gui, noticeStream, options);
        GroupCounter notice(kGroup, kNoticePort);

        std::atomic<int> lastCode{-1};
        const AlarmChannel::Callback callback = [&lastCode](int code) { lastCode = code; };
        const auto waitFor = [](const std::function<bool()>& done) {
            const std::int64_t end = steady_us() + kGiveUpUs;
            while (!done() && steady_us() < end) sleep_ms(5);
            return done();
        };
        const auto firstDatagram = [&](std::size_t seen) {
            return waitFor([&] { return notice.count() > seen; });
        };
        const auto stop = [] {
            AlarmChannel::instance()->stop(AlarmChannel::Callback());
            sleep_ms(100);
        };
        // One alarm of a kind: true when it went on air.
        using Alarm = std::function<bool()>;
        const Alarm launchAndStop = [&] {
            const std::size_t seen = notice.count();
            const bool ok = AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), kPriority,
                                                                     L"Тревога", base::fromUtf8(message),
                                                                     base::fromUtf8(gong), 100, callback) &&
                            firstDatagram(seen);
            stop();
            return ok;
        };
        const Alarm messageToEnd = [&] {
            lastCode = -1;
            const bool ok = AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), kPriority,
                                                                     L"Тревога", base::fromUtf8(message),
                                                                     base::fromUtf8(gong), 100, callback) &&
                            waitFor([&] { return lastCode == AlarmChannel::kMessageEnded; });
            stop();
            return ok;
        };
        const Alarm gongOnly = [&] {
            lastCode = -1;
            const bool ok =
                AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), kPriority, L"Гонг", L"",
                                                         base::fromUtf8(gong), 100, callback) &&
                waitFor([&] { return lastCode == AlarmChannel::kGongEnded; });
            stop();
            return ok;
        };
        const Alarm microphone = [&] {
            const std::size_t seen = notice.count();
            const bool ok = AlarmChannel::launchSelected(AlarmChannel::Tag(), kPriority, L"Тревога", L"", L"",
                                                         100, AlarmChannel::Callback()) &&
                            firstDatagram(seen);
            if (ok) sleep_ms(1000);
            stop();
            return ok;
        };
        const auto run = [&](const char* name, int count, const Alarm& alarm) {
            if (!only.empty() && only.find(std::string(",") + name + ",") == std::string::npos) return;
            Round round{name, {sample()}};
            for (int i = 0; i < count; ++i) {
                if (!alarm()) {
                    ++round.failed;
                    // A kind that cannot go on air here at all is skipped.
                    if (i == 0) {
                        round.skipped = true;
                        std::printf("%s: the first alarm sent nothing; round skipped\n", name);
                        break;
                    }
                }
                round.after.push_back(sample());
            }
            rounds.push_back(round);
        };

        run("launch_stop", alarms, launchAndStop);
        if (otherAlarms > 0) {
            run("message_to_end", otherAlarms, messageToEnd);
            run("gong", otherAlarms, gongOnly);
            run("microphone", otherAlarms, microphone);
        }
        AlarmChannel::destroyInstance();
    }
    commonStream.stream_stop();
    commonStream.libvlc_close();
    base::ThreadDispatcher::instance()->shutdown();
    base::ThreadDispatcher::destroy();
    pref_free();
    base::Log::destroy();
    wxEntryCleanup();
    boost::system::error_code ignored;
    boost::filesystem::remove_all(dir, ignored);

    for (const Round& round : rounds) report(round);
    return 0;
}
