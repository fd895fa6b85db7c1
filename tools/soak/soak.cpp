// The soak: the server's long-running parts together for a given time, and
// whether they hold up. Both multicast streams play (the common stream a
// sine tone from the player engine, the notification stream a generated
// message over and over, each message made and closed the way the alarm
// channel does it); receivers on the groups check the transport stream's
// continuity counters and the gaps between datagrams. The scheduler runs a
// task due every minute on a clock that is stepped forward once and passes a
// change of summer time. Simulated loudspeakers and consoles send their state
// packets to one device collection, and their configuration is read over and
// over. A log observer counts errors. At the end: resident memory after the
// warm-up and at the end, the largest gap per stream, counter errors, tasks
// expected/fired/missed, exceptions, and a verdict; the exit status is 1
// when a goal is missed.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/tools/soak --duration 3600
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/player_engine.h"
#include "audio/sync_event.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/memory/memory_image.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "scheduler/core.h"
#include "scheduler/task.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/tovik_config_model.h"
#include "tools/soak/group_receiver.h"
#include "tools/soak/minute_ledger.h"
#include "tools/soak/minute_schedule.h"
#include "tools/soak/ts_monitor.h"
#include "tools/stream_probe.h"

namespace {

using Steady = std::chrono::steady_clock;
using scheduler::TimePoint;
using soak::GroupReceiver;
using soak::MinuteLedger;
using soak::MinuteSchedule;
using soak::TsFigures;
using soak::TsMonitor;

// Goals.
constexpr double kMaxGrowthPercent = 5.0;
constexpr double kMaxGapMs = 100.0;  // --max-gap may change it

// Where things live inside the namespace.
constexpr const char* kCommonGroup = "224.0.226.1";
constexpr std::uint16_t kCommonPort = 12601;
constexpr const char* kNotificationGroup = "224.0.226.2";
constexpr std::uint16_t kNotificationPort = 12602;
constexpr std::uint16_t kDeviceBasePort = 24990;
constexpr const char* kFirstDevice = "127.20.0.1";

// A zone with summer time whose rule the C library knows without a zone
// database: Central European, the change on the last Sunday of March at
// 01:00 UTC. The scheduler clock is placed so that it passes the change.
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr TimePoint kClockStep = 10 * scheduler::kTicksPerMinute + 30 * scheduler::kTicksPerSecond;

// Firmware generations of the simulated loudspeakers, in turn; every
// twentieth device is a console.
constexpr int kOrvelIndices[] = {21, 19, 17, 16, 12, 9, 8, 5};
constexpr unsigned kConsoleEvery = 20;
constexpr auto kConfigReadPeriod = std::chrono::milliseconds(100);

struct Options {
    int duration = 120;       // seconds
    unsigned devices = 200;
    std::string report;
    double minuteSeconds = 60;  // real seconds per scheduler minute
    int warmup = -1;            // seconds; -1: min(30, duration / 4)
    double maxGapMs = kMaxGapMs;
    std::string plugins;
};

void usage() {
    std::fprintf(stderr,
                 "usage: soak [options]   (inside scripts/netns-run)\n"
                 "  --duration S   length of the run in seconds (default 120)\n"
                 "  --devices N    simulated devices, every 20th a console (default 200)\n"
                 "  --report FILE  also write the report there\n"
                 "  --minute S     real seconds per scheduler minute (default 60: real time)\n"
                 "  --warmup S     memory is measured from then on (default min(30, duration/4))\n"
                 "  --plugins DIR  input plug-ins of the player engine (default <exe>/../plugins)\n"
                 "  --max-gap MS   the goal for the largest gap between datagrams (default 100)\n");
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        const bool numeric = end != value.c_str() && *end == '\0' && number >= 0;
        if (name == "--duration" && numeric && number >= 10) options.duration = static_cast<int>(number);
        else if (name == "--devices" && numeric && number <= 5000) options.devices = static_cast<unsigned>(number);
        else if (name == "--report") options.report = value;
        else if (name == "--minute" && numeric && number >= 1) options.minuteSeconds = number;
        else if (name == "--warmup" && numeric) options.warmup = static_cast<int>(number);
        else if (name == "--plugins") options.plugins = value;
        else if (name == "--max-gap" && numeric && number >= 1) options.maxGapMs = number;
        else return false;
    }
    if (options.warmup < 0) options.warmup = std::min(30, options.duration / 4);
    return options.warmup < options.duration;
}

std::string executableFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string text(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.rfind('/'));
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

std::string localText(TimePoint point) {
    const std::time_t seconds = scheduler::toTimeT(point);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %s", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_zone);
    return text;
}

long zoneOffsetMinutes(TimePoint point) {
    const std::time_t seconds = scheduler::toTimeT(point);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return tm.tm_gmtoff / 60;
}

/// Waits up to `period` or until `stop` is set; false when stopped.
class StopFlag {
public:
    void set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
    }
    bool waitFor(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return !m_changed.wait_for(lock, period, [this] { return m_stopped; });
    }
    bool stopped() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stopped;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped = false;
};

/// Keeps the first few texts of a kind, and counts them all.
class Tally {
public:
    void add(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        if (m_samples.size() < 5) m_samples.push_back(text);
    }
    std::uint64_t count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    std::vector<std::string> samples() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples;
    }

private:
    mutable std::mutex m_mutex;
    std::uint64_t m_count = 0;
    std::vector<std::string> m_samples;
};

/// What a device's audio memory holds in the soak: two short fragments and,
/// for a loudspeaker, a scenario that plays them (consoles keep none), in the
/// device's layout.
std::string memoryImage(std::uint16_t layout, bool console) {
    std::vector<device::memory::FragmentRecord> fragments(2);
    std::vector<std::shared_ptr<const std::string>> data;
    for (std::uint16_t i = 0; i < 2; ++i) {
        fragments[i].id = static_cast<std::uint16_t>(10 + i);
        fragments[i].title = L"Фрагмент " + std::to_wstring(i + 1);
        data.push_back(std::make_shared<const std::string>(2048 + i, static_cast<char>('a' + i)));
    }
    device::memory::ScenarioInfo scenario;
    scenario.id = 5;
    scenario.number = 1;
    scenario.title = L"Эвакуация";
    scenario.gongId = 10;
    scenario.messageId = 11;
    scenario.period = 30;
    std::vector<device::memory::ScenarioInfo> scenarios;
    if (!console) scenarios.push_back(scenario);
    return device::memory::encodeImage(layout, fragments, scenarios, data);
}

/// The layout of the audio memory a device of this version text has.
std::uint16_t memoryLayout(const std::string& versionText) {
    if (versionText.rfind("Orvel-510", 0) == 0) return device::memory::kLayout510;
    if (versionText.rfind("Orvel-610", 0) == 0) return device::memory::kLayout610;
    return device::memory::kLayout611;
}

/// The simulated devices, the server's transport and collection, and a
/// thread that reads one online device's configuration every 100 ms.
class DeviceField {
public:
    DeviceField(unsigned devices, Tally& exceptions) : m_exceptions(exceptions) {
        m_transport = boost::make_shared<device::TransferProtocol>(0, "");
        m_transport->run();
        m_collection = device::DeviceCollection::create(m_transport, kDeviceBasePort);
        m_collection->setNewDeviceHandler(
            [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return m_nextId++; });
        for (unsigned n = 0; n < devices; ++n) {
            const auto address = device::sim::Simulator::loopbackAddress(kFirstDevice, n);
            if (!address) throw std::runtime_error("too many devices for 127.0.0.0/8");
            const std::string hardware = device::sim::Simulator::hardwareAddress(n + 1);
            std::unique_ptr<device::sim::CommandModel> model;
            const bool console = n % kConsoleEvery == kConsoleEvery - 1;
            if (console) {
                model = std::make_unique<device::sim::TovikConfigModel>(hardware);
                ++m_consoles;
            } else {
                const int index = kOrvelIndices[n % (sizeof kOrvelIndices / sizeof kOrvelIndices[0])];
                model = std::make_unique<device::sim::OrvelConfigModel>(hardware, index);
            }
            const std::uint16_t layout = memoryLayout(model->versionText());
            auto memory = std::make_shared<device::sim::AudioMemoryStore>(layout, 256 * 1024);
            memory->plant(memoryImage(layout, console));
            device::sim::AudioMemoryStore::install(memory, *model);
            m_simulator.add(*address, kDeviceBasePort, std::move(model)).setRecording(false);
        }
        m_simulator.start();
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort());
        // Spread over the second, as real devices are.
        for (unsigned n = 0; n < devices; ++n) {
            m_simulator.device(n).startStatePackets(server, std::chrono::milliseconds(1000));
            std::this_thread::sleep_for(std::chrono::microseconds(1000000 / std::max(devices, 1u)));
        }
        m_reader = std::thread([this] { readConfigurations(); });
    }
    ~DeviceField() { stop(); }

    void stop() {
        m_stop.set();
        if (m_reader.joinable()) m_reader.join();
        if (m_collection) m_collection->stop();
        m_transport->stop();
        m_simulator.stop();
    }

    unsigned consoles() const { return m_consoles; }
    std::size_t online() {
        return m_collection->getOrvelList(true).size() + m_collection->getTovikList(true).size();
    }
    std::uint64_t reads() const { return m_reads.load(); }
    std::uint64_t failedReads() const { return m_failedReads.load(); }

private:
    void readConfigurations() {
        std::size_t next = 0;
        while (m_stop.waitFor(kConfigReadPeriod)) {
            const auto devices = m_collection->getDevices();
            if (devices.empty()) continue;
            // The next online device in map order.
            for (std::size_t tries = 0; tries < devices.size(); ++tries) {
                const auto& device = devices[next++ % devices.size()];
                if (!device->isOnlineAndAnswered()) continue;
                read(*device);
                break;
            }
        }
    }

    void read(device::DeviceBase& device) {
        try {
            device.readConfig(true);
            ++m_reads;
            return;
        } catch (const exception::Base& e) {
            m_exceptions.add("configuration read: " + base::toUtf8(e.getNotification() + L" / " + e.getDetails()));
        } catch (const std::exception& e) {
            m_exceptions.add(std::string("configuration read: ") + e.what());
        }
        ++m_failedReads;
    }

    Tally& m_exceptions;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    boost::shared_ptr<device::DeviceCollection> m_collection;
    device::sim::Simulator m_simulator{2};
    std::atomic<std::uint32_t> m_nextId{1};
    unsigned m_consoles = 0;
    StopFlag m_stop;
    std::atomic<std::uint64_t> m_reads{0};
    std::atomic<std::uint64_t> m_failedReads{0};
    std::thread m_reader;
};

/// The notification stream playing one message after another, each made,
/// played and closed as the alarm channel does it, half a second apart.
class NotificationLoop {
public:
    NotificationLoop(const std::string& message, TsMonitor& monitor, Tally& faults)
        : m_message(base::fromUtf8(message)), m_monitor(monitor), m_faults(faults) {
        m_stream.set_stream_endp((std::string(kNotificationGroup) + ":" + std::to_string(kNotificationPort)).c_str());
        m_stream.set_stream_fmt(128);
        m_stream.set_stream_ttl(1);
        m_stream.set_address_interface("127.0.0.1", 9);
        m_thread = std::thread([this] { run(); });
    }
    ~NotificationLoop() { stop(); }

    void stop() {
        m_stop.set();
        if (m_thread.joinable()) m_thread.join();
    }
    std::uint64_t messages() const { return m_messages.load(); }

private:
    void run() {
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
                const auto limit = Steady::now() + std::chrono::seconds(120);
                while (done.wait(100) != sync_event::signalled) {
                    if (m_stop.stopped()) break;
                    if (Steady::now() > limit) {
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

    const std::wstring m_message;
    TsMonitor& m_monitor;
    Tally& m_faults;
    mp3streamf m_stream;
    StopFlag m_stop;
    std::atomic<std::uint64_t> m_messages{0};
    std::thread m_thread;
};

/// The point the scheduler clock starts from: `before` ticks of scheduler
/// time ahead of the change to summer time in March 2027, 20 s into a minute.
TimePoint clockStart(TimePoint before) {
    std::tm change{};
    change.tm_year = 2027 - 1900;
    change.tm_mon = 2;
    change.tm_mday = 28;
    change.tm_hour = 1;
    const TimePoint at = scheduler::fromTimeT(::timegm(&change));
    return scheduler::floorToMinute(at - before) + 20 * scheduler::kTicksPerSecond;
}

struct StreamSide {
    explicit StreamSide(double maxGapMs) : monitor(static_cast<std::int64_t>(maxGapMs * 1000)) {}
    TsMonitor monitor;
    std::unique_ptr<GroupReceiver> receiver;
};

/// How late a thread of this process wakes from a short sleep: the streams'
/// senders are threads like it, so a gap that comes with a late wake here
/// was the host's doing (other work on the processors), not the stream's.
class WakeProbe {
public:
    WakeProbe() : m_thread([this] { run(); }) {}
    ~WakeProbe() {
        m_stop.set();
        m_thread.join();
    }
    double largestLateMs() const { return m_largestLateUs.load() / 1000.0; }
    /// Wakes more than 50 ms late.
    std::uint64_t veryLate() const { return m_veryLate.load(); }

private:
    void run() {
        constexpr auto kPeriod = std::chrono::milliseconds(10);
        for (;;) {
            const auto before = Steady::now();
            if (!m_stop.waitFor(kPeriod)) return;
            const auto late =
                std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - before - kPeriod).count();
            if (late > m_largestLateUs.load()) m_largestLateUs = late;
            if (late > 50'000) ++m_veryLate;
        }
    }

    StopFlag m_stop;
    std::atomic<std::int64_t> m_largestLateUs{0};
    std::atomic<std::uint64_t> m_veryLate{0};
    std::thread m_thread;
};

std::string gapText(const TsFigures& f, double maxGapMs) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "datagrams %llu, largest gap %.1f ms (%.1f s into its segment, after datagram %llu), "
                  "gaps over %.0f ms %llu, CC errors %llu, sync errors %llu",
                  static_cast<unsigned long long>(f.datagrams), f.largestGapUs / 1000.0,
                  f.largestGapIntoSegmentUs / 1e6, static_cast<unsigned long long>(f.largestGapAfterDatagrams),
                  maxGapMs, static_cast<unsigned long long>(f.longGaps),
                  static_cast<unsigned long long>(f.ccErrors), static_cast<unsigned long long>(f.syncErrors));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    if (std::getenv("SONVAR_NETNS_INSIDE") == nullptr) {
        std::fprintf(stderr, "soak opens sockets: run it through scripts/netns-run\n");
        return 2;
    }
    ::setenv("TZ", kZone, 1);
    ::tzset();
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    char folderTemplate[] = "/tmp/sonvar-soak-XXXXXX";
    if (::mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string folder = folderTemplate;
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    const std::string plugins = options.plugins.empty() ? executableFolder() + "/../plugins" : options.plugins;

    boost::filesystem::create_directory(folder + "/log");
    base::Log::create(base::fromUtf8(folder + "/log"), base::Log::INFO, false);
    Tally errors;      // ERROR and FATAL records
    Tally exceptions;  // device errors the models logged, exceptions thrown to our calls
    Tally faults;      // the soak's own machinery failing
    Tally warnings;    // WARN records: not a goal, but worth reading after a failure
    const std::wstring errorName = base::Log::levelName(base::Log::ERROR);
    const std::wstring fatalName = base::Log::levelName(base::Log::FATAL);
    const std::wstring warnName = base::Log::levelName(base::Log::WARN);
    base::Log::setObserver([&](const boost::posix_time::ptime&, const std::wstring& level, const std::wstring& text) {
        if (level == errorName || level == fatalName) errors.add(base::toUtf8(text));
        else if (text.rfind(L"Ошибка устройства", 0) == 0) exceptions.add(base::toUtf8(text));
        else if (level == warnName) warnings.add(base::toUtf8(text));
    });
    pref_init(base::fromUtf8(folder + "/sonvar.cfg"));
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = false;
    }
    base::ThreadDispatcher::create();

    const double speed = 60.0 / options.minuteSeconds;
    const TimePoint span = static_cast<TimePoint>(options.duration * speed) * scheduler::kTicksPerSecond;
    const auto started = Steady::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(Steady::now() - started).count(); };

    std::printf("soak: %d s, %u devices, a scheduler minute lasts %.1f s, warm-up %d s; work folder %s\n",
                options.duration, options.devices, options.minuteSeconds, options.warmup, folder.c_str());
    std::fflush(stdout);

    StreamSide common(options.maxGapMs), notification(options.maxGapMs);
    const std::string message = folder + "/message.mp3";
    if (!stream_probe::write_mp3(message, stream_probe::stepped_tone({400, 600, 800, 1000, 1200, 1400}, 2000, 44100, 1),
                                 44100, 1)) {
        std::fprintf(stderr, "soak: cannot make the message file\n");
        return 2;
    }

    int status = 0;
    std::ostringstream report;
    {
        common.receiver = std::make_unique<GroupReceiver>(kCommonGroup, kCommonPort, common.monitor);
        notification.receiver = std::make_unique<GroupReceiver>(kNotificationGroup, kNotificationPort,
                                                                notification.monitor);

        mp3stream commonStream(2000);
        commonStream.set_pcm_fmt(44100, 2, 16);
        commonStream.set_stream_endp((std::string(kCommonGroup) + ":" + std::to_string(kCommonPort)).c_str());
        commonStream.set_stream_fmt(128);
        commonStream.set_stream_ttl(1);
        commonStream.set_address_interface("127.0.0.1", 9);
        commonStream.libvlc_create();
        commonStream.libvlc_imem_create();
        PlayerEngine engine(nullptr, &commonStream, base::fromUtf8(plugins));
        if (!commonStream.stream_start() || !engine.play_sine(1000))
            faults.add("common stream: the sine tone did not start");

        WakeProbe wakeProbe;
        NotificationLoop notifications(message, notification.monitor, faults);
        DeviceField devices(options.devices, exceptions);
        const TimePoint clockStarts = clockStart(span * 4 / 10);
        MinuteSchedule schedule(clockStarts, speed, clockStarts + span + kClockStep + 2 * scheduler::kTicksPerMinute,
                                [](const std::wstring& description, scheduler::task::Event job) {
                                    base::ThreadDispatcher::add(description, 0, job);
                                });
        const TimePoint zoneBefore = zoneOffsetMinutes(schedule.now());

        long rssStart = 0;
        bool stepped = false;
        int nextProgress = 60;
        const double stepAt = options.duration * 0.7;
        while (elapsed() < options.duration) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const double t = elapsed();
            if (rssStart == 0 && t >= options.warmup) rssStart = residentKb();
            if (!stepped && t >= stepAt) {
                schedule.step(kClockStep);
                stepped = true;
            }
            if (t >= nextProgress) {
                nextProgress += 60;
                std::printf("[%5.0f s] RSS %ld kB; common: %s; notification: %s; devices online %zu; "
                            "tasks fired %llu; exceptions %llu, errors %llu\n",
                            t, residentKb(), gapText(common.monitor.figures(), options.maxGapMs).c_str(),
                            gapText(notification.monitor.figures(), options.maxGapMs).c_str(), devices.online(),
                            static_cast<unsigned long long>(schedule.firings()),
                            static_cast<unsigned long long>(exceptions.count()),
                            static_cast<unsigned long long>(errors.count()));
                std::fflush(stdout);
            }
        }
        const long rssEnd = residentKb();
        const std::size_t online = devices.online();
        // A second of real time for the last tick's firing to come in.
        schedule.close(static_cast<TimePoint>(speed * scheduler::kTicksPerSecond));
        const TimePoint zoneAfter = zoneOffsetMinutes(schedule.now());
        const TsFigures commonFigures = common.monitor.figures();
        const TsFigures notificationFigures = notification.monitor.figures();
        const MinuteLedger::Figures tasks = schedule.figures();
        const double growth = rssStart > 0 ? 100.0 * (rssEnd - rssStart) / rssStart : 0.0;

        std::vector<std::string> misses;
        if (growth >= kMaxGrowthPercent) misses.push_back("memory growth");
        if (commonFigures.datagrams == 0 || commonFigures.largestGapUs > options.maxGapMs * 1000)
            misses.push_back("common stream gap");
        if (notificationFigures.datagrams == 0 || notificationFigures.largestGapUs > options.maxGapMs * 1000)
            misses.push_back("notification stream gap");
        if (commonFigures.ccErrors + notificationFigures.ccErrors + commonFigures.syncErrors +
                notificationFigures.syncErrors != 0)
            misses.push_back("continuity");
        if (tasks.missed != 0 || tasks.expected == 0) misses.push_back("missed task");
        if (exceptions.count() != 0) misses.push_back("exceptions");
        if (errors.count() != 0) misses.push_back("errors logged");
        if (faults.count() != 0) misses.push_back("soak faults");
        if (online != options.devices) misses.push_back("devices offline");
        if (zoneBefore == zoneAfter) misses.push_back("no change of summer time");

        char line[512];
        const auto add = [&](const char* format, auto... values) {
            std::snprintf(line, sizeof line, format, values...);
            report << line << "\n";
        };
        add("duration: %d s, warm-up %d s, scheduler minute %.1f s (speed x%.1f)", options.duration,
            options.warmup, options.minuteSeconds, speed);
        add("RSS start (after warm-up): %ld kB", rssStart);
        add("RSS end: %ld kB", rssEnd);
        add("RSS growth: %.2f %% (goal < %.0f %%)", growth, kMaxGrowthPercent);
        add("common stream: %s", gapText(commonFigures, options.maxGapMs).c_str());
        add("notification stream: %s, messages %llu", gapText(notificationFigures, options.maxGapMs).c_str(),
            static_cast<unsigned long long>(notifications.messages()));
        add("largest TS gap: common %.1f ms, notification %.1f ms (goal <= %.0f ms)",
            commonFigures.largestGapUs / 1000.0, notificationFigures.largestGapUs / 1000.0, options.maxGapMs);
        add("host: a 10 ms sleep woke at most %.1f ms late, %llu times more than 50 ms late",
            wakeProbe.largestLateMs(), static_cast<unsigned long long>(wakeProbe.veryLate()));
        add("CC errors: common %llu, notification %llu", static_cast<unsigned long long>(commonFigures.ccErrors),
            static_cast<unsigned long long>(notificationFigures.ccErrors));
        add("scheduler clock: %s .. %s, stepped +%lld s at %s, zone offset %+ld min -> %+ld min",
            localText(schedule.started()).c_str(), localText(schedule.ended()).c_str(),
            static_cast<long long>(kClockStep / scheduler::kTicksPerSecond), localText(schedule.stepFrom()).c_str(),
            static_cast<long>(zoneBefore), static_cast<long>(zoneAfter));
        add("tasks: expected %llu, fired %llu, missed %llu, extra %llu",
            static_cast<unsigned long long>(tasks.expected), static_cast<unsigned long long>(tasks.fired),
            static_cast<unsigned long long>(tasks.missed), static_cast<unsigned long long>(tasks.extra));
        for (const TimePoint minute : tasks.missedMinutes) add("  missed minute %s", localText(minute).c_str());
        add("devices: %u (%u consoles), online at end %zu, configuration reads %llu, failed %llu", options.devices,
            devices.consoles(), online, static_cast<unsigned long long>(devices.reads()),
            static_cast<unsigned long long>(devices.failedReads()));
        add("exceptions logged: %llu", static_cast<unsigned long long>(exceptions.count()));
        for (const auto& text : exceptions.samples()) add("  %s", text.c_str());
        add("errors logged: %llu", static_cast<unsigned long long>(errors.count()));
        for (const auto& text : errors.samples()) add("  %s", text.c_str());
        add("warnings logged: %llu", static_cast<unsigned long long>(warnings.count()));
        for (const auto& text : warnings.samples()) add("  %s", text.c_str());
        for (const auto& text : faults.samples()) add("soak fault: %s", text.c_str());
        std::string verdict = misses.empty() ? "VERDICT: PASS" : "VERDICT: FAIL (";
        for (std::size_t i = 0; i < misses.size(); ++i) verdict += (i ? ", " : "") + misses[i];
        if (!misses.empty()) verdict += ")";
        report << verdict << "\n";
        status = misses.empty() ? 0 : 1;

        std::fputs(report.str().c_str(), stdout);
        std::fflush(stdout);
        if (!options.report.empty()) std::ofstream(options.report) << report.str();

        // Shutting down is part of the run: a hang here is a failure too.
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::seconds(60));
            std::fprintf(stderr, "soak: shutdown hung for 60 s\n");
            std::_Exit(3);
        }).detach();
        schedule.stop();
        devices.stop();
        notifications.stop();
        engine.shutdown();
        commonStream.stream_stop();
    }
    base::ThreadDispatcher::instance()->shutdown();
    base::ThreadDispatcher::destroy();
    pref_free();
    base::Log::destroy();
    if (status == 0) {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder, ignored);
    }
    return status;
}
