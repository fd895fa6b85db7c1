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
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem/operations.hpp>

#include "audio/mp3stream.h"
#include "audio/player_engine.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "scheduler/task.h"
#include "tools/soak/device_field.h"
#include "tools/soak/group_receiver.h"
#include "tools/soak/minute_ledger.h"
#include "tools/soak/minute_schedule.h"
#include "tools/soak/notification_loop.h"
#include "tools/soak/soak_support.h"
#include "tools/soak/ts_monitor.h"
#include "tools/stream_probe.h"

namespace {

using Steady = std::chrono::steady_clock;
using scheduler::TimePoint;
using soak::DeviceField;
using soak::GroupReceiver;
using soak::MinuteLedger;
using soak::MinuteSchedule;
using soak::NotificationLoop;
using soak::Tally;
using soak::TsFigures;
using soak::TsMonitor;
using soak::WakeProbe;

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

/// What the run measured, for the verdict and the report.
struct Results {
    long rssStart = 0;  // kB, after the warm-up
    long rssEnd = 0;
    TsFigures common;
    TsFigures notification;
    std::uint64_t messages = 0;
    double largestLateWakeMs = 0;
    std::uint64_t veryLateWakes = 0;
    MinuteLedger::Figures tasks;
    TimePoint clockStarted = 0;
    TimePoint clockEnded = 0;
    TimePoint stepFrom = 0;
    long zoneBefore = 0;  // minutes east of UTC
    long zoneAfter = 0;
    unsigned consoles = 0;
    std::size_t online = 0;
    std::uint64_t reads = 0;
    std::uint64_t failedReads = 0;

    double growthPercent() const { return rssStart > 0 ? 100.0 * (rssEnd - rssStart) / rssStart : 0.0; }
};

/// The goals the run missed; empty when it met them all.
std::vector<std::string> missedGoals(const Options& options, const Results& r, const Tally& exceptions,
                                     const Tally& errors, const Tally& faults) {
    std::vector<std::string> misses;
    const double maxGapUs = options.maxGapMs * 1000;
    if (r.growthPercent() >= kMaxGrowthPercent) misses.push_back("memory growth");
    if (r.common.datagrams == 0 || r.common.largestGapUs > maxGapUs) misses.push_back("common stream gap");
    if (r.notification.datagrams == 0 || r.notification.largestGapUs > maxGapUs)
        misses.push_back("notification stream gap");
    if (r.common.ccErrors + r.notification.ccErrors + r.common.syncErrors + r.notification.syncErrors != 0)
        misses.push_back("continuity");
    if (r.tasks.missed != 0 || r.tasks.expected == 0) misses.push_back("missed task");
    if (exceptions.count() != 0) misses.push_back("exceptions");
    if (errors.count() != 0) misses.push_back("errors logged");
    if (faults.count() != 0) misses.push_back("soak faults");
    if (r.online != options.devices) misses.push_back("devices offline");
    if (r.zoneBefore == r.zoneAfter) misses.push_back("no change of summer time");
    return misses;
}

std::string reportOf(const Options& options, const Results& r, const Tally& exceptions, const Tally& errors,
                     const Tally& warnings, const Tally& faults, const std::vector<std::string>& misses) {
    std::ostringstream report;
    char line[512];
    const auto add = [&](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        report << line << "\n";
    };
    const auto count = [](const Tally& tally) { return static_cast<unsigned long long>(tally.count()); };
    add("duration: %d s, warm-up %d s, scheduler minute %.1f s", options.duration, options.warmup,
        options.minuteSeconds);
    add("RSS start (after warm-up): %ld kB", r.rssStart);
    add("RSS end: %ld kB", r.rssEnd);
    add("RSS growth: %.2f %% (goal < %.0f %%)", r.growthPercent(), kMaxGrowthPercent);
    add("common stream: %s", gapText(r.common, options.maxGapMs).c_str());
    add("notification stream: %s, messages %llu", gapText(r.notification, options.maxGapMs).c_str(),
        static_cast<unsigned long long>(r.messages));
    add("largest TS gap: common %.1f ms, notification %.1f ms (goal <= %.0f ms)", r.common.largestGapUs / 1000.0,
        r.notification.largestGapUs / 1000.0, options.maxGapMs);
    add("host: a 10 ms sleep woke at most %.1f ms late, %llu times more than 50 ms late", r.largestLateWakeMs,
        static_cast<unsigned long long>(r.veryLateWakes));
    const double largestGapMs = std::max(r.common.largestGapUs, r.notification.largestGapUs) / 1000.0;
    if (largestGapMs > options.maxGapMs && r.veryLateWakes > 0)
        add("  note: threads of this process woke late too; a gap after which the datagrams catch up on their "
            "schedule was the host's");
    add("CC errors: common %llu, notification %llu", static_cast<unsigned long long>(r.common.ccErrors),
        static_cast<unsigned long long>(r.notification.ccErrors));
    add("scheduler clock: %s .. %s, stepped +%lld s at %s, zone offset %+ld min -> %+ld min",
        localText(r.clockStarted).c_str(), localText(r.clockEnded).c_str(),
        static_cast<long long>(kClockStep / scheduler::kTicksPerSecond), localText(r.stepFrom).c_str(),
        r.zoneBefore, r.zoneAfter);
    add("tasks: expected %llu, fired %llu, missed %llu, extra %llu", static_cast<unsigned long long>(r.tasks.expected),
        static_cast<unsigned long long>(r.tasks.fired), static_cast<unsigned long long>(r.tasks.missed),
        static_cast<unsigned long long>(r.tasks.extra));
    for (const TimePoint minute : r.tasks.missedMinutes) add("  missed minute %s", localText(minute).c_str());
    add("devices: %u (%u consoles), online at end %zu, configuration reads %llu, failed %llu", options.devices,
        r.consoles, r.online, static_cast<unsigned long long>(r.reads),
        static_cast<unsigned long long>(r.failedReads));
    add("exceptions logged: %llu", count(exceptions));
    for (const auto& text : exceptions.samples()) add("  %s", text.c_str());
    add("errors logged: %llu", count(errors));
    for (const auto& text : errors.samples()) add("  %s", text.c_str());
    add("warnings logged: %llu", count(warnings));
    for (const auto& text : warnings.samples()) add("  %s", text.c_str());
    for (const auto& text : faults.samples()) add("soak fault: %s", text.c_str());
    std::string verdict = misses.empty() ? "VERDICT: PASS" : "VERDICT: FAIL (";
    for (std::size_t i = 0; i < misses.size(); ++i) verdict += (i ? ", " : "") + misses[i];
    if (!misses.empty()) verdict += ")";
    report << verdict << "\n";
    return report.str();
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
    std::string report;
    std::uint64_t errorsBeforeShutdown = 0;
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
        NotificationLoop notifications(std::string(kNotificationGroup) + ":" + std::to_string(kNotificationPort),
                                       message, notification.monitor, faults);
        DeviceField devices(options.devices, kFirstDevice, kDeviceBasePort, exceptions);
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
        Results results;
        results.rssStart = rssStart;
        results.rssEnd = residentKb();
        results.online = devices.online();
        // A second of real time for the last tick's firing to come in.
        schedule.close(static_cast<TimePoint>(speed * scheduler::kTicksPerSecond));
        results.zoneBefore = zoneBefore;
        results.zoneAfter = zoneOffsetMinutes(schedule.now());
        results.common = common.monitor.figures();
        results.notification = notification.monitor.figures();
        results.messages = notifications.messages();
        results.largestLateWakeMs = wakeProbe.largestLateMs();
        results.veryLateWakes = wakeProbe.veryLate();
        results.tasks = schedule.figures();
        results.clockStarted = schedule.started();
        results.clockEnded = schedule.ended();
        results.stepFrom = schedule.stepFrom();
        results.consoles = devices.consoles();
        results.reads = devices.reads();
        results.failedReads = devices.failedReads();

        const auto misses = missedGoals(options, results, exceptions, errors, faults);
        status = misses.empty() ? 0 : 1;
        report = reportOf(options, results, exceptions, errors, warnings, faults, misses);
        std::fputs(report.c_str(), stdout);
        std::fflush(stdout);
        if (!options.report.empty()) std::ofstream(options.report) << report;
        errorsBeforeShutdown = errors.count();

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
    if (errors.count() != errorsBeforeShutdown) {
        const std::string text = "errors logged while shutting down: " +
                                 std::to_string(errors.count() - errorsBeforeShutdown) +
                                 "\nVERDICT: FAIL (errors while shutting down)\n";
        std::fputs(text.c_str(), stdout);
        if (!options.report.empty()) std::ofstream(options.report, std::ios::app) << text;
        status = 1;
    }
    if (status == 0) {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(folder, ignored);
    }
    return status;
}
