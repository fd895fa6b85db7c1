// How fast an alarm goes on air. Twenty simulated loudspeakers listen while
// the common stream plays a sine tone from the player engine; then the alarm
// channel launches a notice (gong, then message, both MP3 files) again and
// again through its real API, each one stopped before the next. Per launch:
//  - first datagram: from the launch call to the first datagram of the
//    notification stream that a socket joined to its group on loopback sees;
//  - all switched: from the launch call to the switching request ("set ch 1")
//    that reached the last loudspeaker, from the simulators' request logs (0
//    for one that was still on the channel from the notice before).
// Median and 95th percentile of both against the budget of voice-alarm
// practice (first datagram 0.5 s, every loudspeaker on the notification
// channel 1.5 s). What a launch spends before its first datagram is broken
// down from the same logs: launch call, first and last volume request.
//
// The first launch after start-up is shown on its own: its clips change the
// notification stream's input format from the start-up one. A second round
// launches with one loudspeaker that has just gone silent (it still counts
// as online and answering, as a loudspeaker does for a few seconds after it
// died), a different one each time. A third round launches while a
// service message of lower priority (channel 6) plays, which the alarm
// replaces: its first datagram and switching then wait for that stop. A
// fourth round launches on a site where half the loudspeakers answer every
// request 800 ms late (a loaded network, a busy loudspeaker): its first
// datagram is set against the voice-alarm budget of EN 54-16, 3 s from the
// operator's action. A fifth round, on the same slow site, launches 0.3 s
// after the stop of the notice before (the operator replacing a notice):
// its loudspeakers are still being given back. Then every one of the twenty
// answers 1 s late, and later 1.5 s late (as long as the resend time and
// longer), each launch after the give-back of the one before: the first
// launch after the lateness began is shown on its own (the transport has not
// heard from them since), the others make the round. A sixth round adds ten
// late Orvel-510, whose memory is asked about before they are switched. A
// last round launches on 300 loudspeakers that all answer 800 ms late.
//
// Then the notices' deadline, as the window hands a launch over (3 s from
// the operator's action to the first datagram, whatever the loudspeakers
// do), on loudspeakers whose stream port is read from their settings:
//  - 13 loudspeakers, one Orvel-610 answering 1.9 s late;
//  - 12 Orvel-610 and 8 Orvel-510, all 1 s late, then all 1.2 s late (each
//    on loudspeakers the program has not asked their stream port yet: the
//    first launch reads it, and is shown on its own);
//  - a loudspeaker that answered 2.4 s late once and on time since, whose
//    switch is lost at the next alarm: when it is switched and at the
//    alarm's volume, beside the first datagram; and the same after it
//    answered every request of a whole alarm 2.4 s late and one on time;
//  - a service message on the player channel with the program's pause,
//    its first datagram on the common stream (the keep-alive datagrams
//    left aside) against the pause and 0.5 s: on 20 loudspeakers, on the
//    same with one not chosen answering 1.9 s late, and on 300 of which 30
//    are Orvel-510 answering 800 ms late.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/bench/bench_alarm [launches, default 50 [silent-loudspeaker launches, default 5
//       [replacing launches, default 5 [slow-site launches, default 3 [300-loudspeaker launches, default 2
//       [all-late launches, default 3 [deadline launches, default 3 [service messages, default 2]]]]]]]]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <future>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "audio/alarm_channel.h"
#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "tests/audio/channel_fixture.h"
#include "tools/stream_probe.h"

using namespace stream_probe;
using frm::AlarmChannel;

namespace {

constexpr unsigned kLoudspeakers = 20;
constexpr unsigned kBigSite = 300;
const std::string kGroup = "224.0.224.71";
/// The loudspeakers' channel-0 port: the common stream goes there, the
/// notices of priority 3 to the next port (channel 1), those of priority 2
/// to channel 6.
constexpr std::uint16_t kDiscoveryPort = 12610;
constexpr std::uint16_t kNoticePort = kDiscoveryPort + 1;
constexpr std::uint16_t kServicePort = kDiscoveryPort + 6;
constexpr double kFirstDatagramBudgetMs = 500;
constexpr double kAllSwitchedBudgetMs = 1500;
/// How late a slow loudspeaker answers, and the budget from the operator's
/// action to the alarm on air.
constexpr std::chrono::milliseconds kSlowReply{800};
/// The latenesses of the rounds where every loudspeaker is late.
constexpr std::chrono::milliseconds kAllLate[] = {std::chrono::milliseconds(1000), std::chrono::milliseconds(1500)};
constexpr double kSlowSiteFirstDatagramBudgetMs = 3000;
/// A launch that shows neither within this is counted at this value.
constexpr std::int64_t kGiveUpUs = 10000000;
/// The same on the slow site, where a launch may take many replies' time.
constexpr std::int64_t kSlowGiveUpUs = 60000000;

using Clock = std::chrono::steady_clock;

std::int64_t usOf(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

/// <build>/plugins beside <build>/bench: the plug-ins the engine loads.
std::wstring pluginFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    folder = folder.substr(0, folder.rfind('/'));
    folder = folder.substr(0, folder.rfind('/')) + "/plugins";
    return base::fromUtf8(folder);
}

/// One launch's times in ms from the launch call; negative when not seen.
struct Launch {
    double launchReturned = -1;
    double firstDatagram = -1;
    double allSwitched = -1;
    double firstVolumeRequest = -1;
    double lastVolumeRequest = -1;
    double stop = -1;
};

/// What the loudspeakers' request logs tell about one launch.
struct RequestTimes {
    std::int64_t lastSwitchUs = 0;  // 0: some loudspeaker has not been switched yet
    std::int64_t firstVolumeUs = 0;
    std::int64_t lastVolumeUs = 0;
};

RequestTimes requestTimes(channel_test::Speakers& speakers,
                          const std::vector<boost::shared_ptr<device::OrvelInfo>>& devices, std::int64_t fromUs) {
    RequestTimes times;
    std::int64_t lastSwitch = 0;
    for (const auto& device : devices) {
        std::int64_t switched = 0;
        for (const auto& d : speakers.sim(device).received()) {
            const std::int64_t at = usOf(d.at);
            if (at < fromUs) continue;
            if (switched == 0 && d.text.rfind("set ch 1", 0) == 0) switched = at;
            if (d.text.rfind("set vol", 0) == 0 || d.text.rfind("get vol", 0) == 0) {
                if (times.firstVolumeUs == 0 || at < times.firstVolumeUs) times.firstVolumeUs = at;
                times.lastVolumeUs = std::max(times.lastVolumeUs, at);
            }
        }
        if (switched == 0) {
            // Still on the channel from the notice before (taken again while
            // it was being given back): on it from the launch.
            unsigned channel = 0;
            speakers.model(device, [&](device::sim::OrvelBandModel& m) { channel = m.channel; });
            bool movedSince = false;
            for (const auto& d : speakers.sim(device).received())
                if (usOf(d.at) >= fromUs && d.text.rfind("set ch", 0) == 0) movedSince = true;
            if (channel == 1 && !movedSince) switched = fromUs;
        }
        if (switched == 0) return RequestTimes{0, times.firstVolumeUs, times.lastVolumeUs};
        lastSwitch = std::max(lastSwitch, switched);
    }
    times.lastSwitchUs = lastSwitch;
    return times;
}

/// The first datagram of the sniffer after the first `skip`, 0 when none.
std::int64_t firstDatagramAfter(const GroupSniffer& sniffer, std::size_t skip) {
    if (sniffer.count() <= skip) return 0;
    return sniffer.snapshot()[skip].at_us;
}

/// Nearest rank.
double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size()));
    return values[std::min(values.size(), std::max<std::size_t>(rank, 1)) - 1];
}

std::vector<double> column(const std::vector<Launch>& launches, double Launch::*field) {
    std::vector<double> values;
    for (const auto& l : launches)
        if (l.*field >= 0) values.push_back(l.*field);
    return values;
}

void benchLine(const char* name, double ours, double budget) {
    std::printf("BENCH %s ours=%.1fms budget=%.0fms ratio=%.3f\n", name, ours, budget, ours / budget);
}

// ---- the deadline rounds ------------------------------------------------------------------------

using Speaker = boost::shared_ptr<device::OrvelInfo>;

/// The first alarm datagram from the operator's action, 3 s.
constexpr double kDeadlineBudgetMs = 3000;
/// A service message's first datagram: its pause and 0.5 s.
constexpr double kServiceBudgetMs = 3300;
/// The loudspeakers' command port in the deadline rounds: they hear the
/// common stream on the next port and the notices after it.
constexpr std::uint16_t kDeadlineCommandPort = 12640;
constexpr std::uint16_t kDeadlineNoticePort = kDeadlineCommandPort + 2;
constexpr std::uint16_t kServiceCommonPort = 12661;
/// What an Orvel-610 answers "get vol" with at the alarm's 100 %.
const std::string kAlarmVolume = "0";

/// When one loudspeaker took a notice, in ms from the launch, from its
/// simulator's history of what it held; -1: not by then.
struct Took {
    double switched = -1;
    double atVolume = -1;
};

Took tookOf(channel_test::Speakers& speakers, const Speaker& device, std::int64_t fromUs, unsigned channel,
            const std::string& volume) {
    Took took;
    for (const auto& change : speakers.sim(device).holdingsHistory()) {
        const std::int64_t at = usOf(change.at);
        if (at < fromUs || change.holdings.channel != channel) continue;
        if (took.switched < 0) took.switched = (at - fromUs) / 1000.0;
        if (change.holdings.volume == volume && took.atVolume < 0) took.atVolume = (at - fromUs) / 1000.0;
    }
    return took;
}

/// Every loudspeaker on the common channel again (the give-back of the
/// notice before), 30 s at most.
void waitGivenBack(channel_test::Speakers& speakers, const std::vector<Speaker>& devices) {
    const std::int64_t end = steady_us() + 30000000;
    while (steady_us() < end) {
        bool back = true;
        for (const auto& d : devices) back = back && speakers.sim(d).holdings().channel == 0u;
        if (back) return;
        sleep_ms(20);
    }
    std::printf("loudspeakers not given back within 30 s\n");
}

/// One alarm (gong and message) handed over as the window hands it, on
/// `devices`; `watched` is waited for until it took the notice (`waitUs`
/// at most). Stopped, and given back, before it returns.
struct DeadlineLaunch {
    double firstDatagram = -1;
    Took watched;
};

DeadlineLaunch deadlineLaunch(channel_test::Speakers& speakers, const std::vector<Speaker>& devices,
                              const GroupSniffer& notice, const std::string& message, const std::string& gong,
                              const Speaker& watched = Speaker(), std::int64_t waitUs = 6000000) {
    for (const auto& d : devices) speakers.sim(d).clearReceived();
    const frm::DeviceSet set(devices.begin(), devices.end());
    const std::size_t seen = notice.count();
    DeadlineLaunch launch;
    const std::int64_t t0 = steady_us();
    AlarmChannel::instance()->hand([set, message, gong] {
        AlarmChannel::launchWithCallback(AlarmChannel::Tag(), L"Тревога", set, base::fromUtf8(message),
                                         base::fromUtf8(gong), 100, AlarmChannel::Callback());
    });
    std::int64_t first = 0;
    while (first == 0 && steady_us() - t0 < kGiveUpUs) {
        first = firstDatagramAfter(notice, seen);
        sleep_ms(2);
    }
    launch.firstDatagram = first != 0 ? (first - t0) / 1000.0 : -1;
    while (watched && steady_us() - t0 < waitUs && tookOf(speakers, watched, t0, 1, kAlarmVolume).atVolume < 0)
        sleep_ms(10);
    if (watched) launch.watched = tookOf(speakers, watched, t0, 1, kAlarmVolume);
    AlarmChannel::instance()->hand([] { AlarmChannel::instance()->stop(AlarmChannel::Callback()); });
    waitGivenBack(speakers, devices);
    return launch;
}

/// `count` loudspeakers with settings (index 18, else `orvel510` of them
/// Orvel-510 first), all answering `delay` late.
std::vector<Speaker> settingsSite(channel_test::Speakers& speakers, unsigned count, unsigned orvel510,
                                  std::chrono::milliseconds delay) {
    std::vector<Speaker> devices;
    for (unsigned i = 0; i < count; ++i) {
        devices.push_back(speakers.addWithSettings(kDeadlineCommandPort, i < orvel510 ? 5 : 18));
        if (delay.count() > 0) speakers.setReplyDelay(devices.back(), delay);
    }
    return devices;
}

/// The alarm channel over its own ledger, reading the stream port from the
/// loudspeakers' settings as the program does.
struct DeadlineChannel {
    DeadlineChannel(channel_test::FakeSelection& selection, channel_test::FakeGui& gui) {
        stream.set_stream_fmt(128);
        stream.set_stream_ttl(1);
        stream.set_address_interface("127.0.0.1", 9);
        AlarmChannel::createInstance(&selection, &gui, stream, frm::AlarmChannelOptions());
    }
    ~DeadlineChannel() {
        AlarmChannel::instance()->drainRequests();
        AlarmChannel::destroyInstance();
    }
    mp3streamf stream;
};

/// The figures of the deadline rounds, printed at the end.
struct DeadlineResults {
    std::vector<double> oneLate;       // first datagram, 13 with one 1.9 s late
    std::vector<double> oneLateTook;   // when the late one took the alarm
    std::vector<double> mixedFirst[2];  // the first launch, reading the port (1 s, 1.2 s late)
    std::vector<double> mixed[2];       // the others
    DeadlineLaunch lost;                // the loudspeaker that lost its switch
    double lostBefore = -1;             // its first alarm, whose switch it answered 2.4 s late
    DeadlineLaunch lostAfterLateAlarm;  // the same after a whole alarm 2.4 s late
    double lostBeforeAfterLateAlarm = -1;
    std::vector<double> service[3];     // on time, one unchosen 1.9 s late, 300 with 30 late
};

void deadlineRounds(int launches, const std::string& message, const std::string& gong, DeadlineResults& out) {
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = kDeadlineCommandPort;
    }
    GroupSniffer notice(kGroup, kDeadlineNoticePort);
    channel_test::FakeGui gui;
    {
        // 13, one of them 1.9 s late.
        channel_test::Speakers speakers;
        std::vector<Speaker> devices = settingsSite(speakers, 13, 0, std::chrono::milliseconds(0));
        speakers.setReplyDelay(devices[6], std::chrono::milliseconds(1900));
        channel_test::FakeSelection selection;
        selection.zones = frm::DeviceSet(devices.begin(), devices.end());
        DeadlineChannel channel(selection, gui);
        for (int i = 0; i < launches; ++i) {
            const DeadlineLaunch launch = deadlineLaunch(speakers, devices, notice, message, gong, devices[6]);
            out.oneLate.push_back(launch.firstDatagram);
            out.oneLateTook.push_back(launch.watched.atVolume);
        }
    }
    const std::chrono::milliseconds lateness[] = {std::chrono::milliseconds(1000), std::chrono::milliseconds(1200)};
    for (std::size_t k = 0; k < 2; ++k) {
        // 8 Orvel-510 and 12 Orvel-610, all late, their stream port not read yet.
        channel_test::Speakers speakers;
        std::vector<Speaker> devices = settingsSite(speakers, 20, 8, lateness[k]);
        channel_test::FakeSelection selection;
        selection.zones = frm::DeviceSet(devices.begin(), devices.end());
        DeadlineChannel channel(selection, gui);
        for (int i = 0; i <= launches; ++i) {
            const DeadlineLaunch launch = deadlineLaunch(speakers, devices, notice, message, gong);
            (i == 0 ? out.mixedFirst[k] : out.mixed[k]).push_back(launch.firstDatagram);
        }
    }
    for (const bool wholeAlarm : {false, true}) {
        // One that answered 2.4 s late once (its switch), then on time, then
        // loses the switch of the next alarm; and one late with every
        // request of a whole alarm and its give-back, then on time once.
        channel_test::Speakers speakers;
        std::vector<Speaker> devices = settingsSite(speakers, 5, 0, std::chrono::milliseconds(0));
        const Speaker flaky = devices[2];
        channel_test::FakeSelection selection;
        selection.zones = frm::DeviceSet(devices.begin(), devices.end());
        DeadlineChannel channel(selection, gui);
        if (wholeAlarm)
            speakers.setReplyDelay(flaky, std::chrono::milliseconds(2400));
        else
            speakers.sim(flaky).delayNextReply(std::chrono::milliseconds(2400));
        const double before = deadlineLaunch(speakers, devices, notice, message, gong, flaky).firstDatagram;
        speakers.setReplyDelay(flaky, std::chrono::milliseconds(0));
        flaky->probeVolume();
        speakers.sim(flaky).loseNextRequests(1);
        const DeadlineLaunch after = deadlineLaunch(speakers, devices, notice, message, gong, flaky, 15000000);
        (wholeAlarm ? out.lostBeforeAfterLateAlarm : out.lostBefore) = before;
        (wholeAlarm ? out.lostAfterLateAlarm : out.lost) = after;
    }
}

/// The first datagram that carries the stream after `fromUs` (the
/// keep-alive datagrams are empty), 0 when none came within `giveUpUs`.
std::int64_t firstStreamDatagram(const GroupSniffer& sniffer, std::int64_t fromUs, std::int64_t giveUpUs) {
    const std::int64_t end = fromUs + giveUpUs;
    while (steady_us() < end) {
        for (const Datagram& d : sniffer.snapshot())
            if (d.at_us >= fromUs && !d.bytes.empty()) return d.at_us;
        sleep_ms(2);
    }
    return 0;
}

/// Service messages on the player channel, with the program's pause, the
/// common stream idle in between (keep-alive datagrams only).
void serviceRounds(int launches, const std::string& message, DeadlineResults& out) {
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = true;
        pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = kServiceCommonPort - 1;
    }
    GroupSniffer common(kGroup, kServiceCommonPort);
    mp3stream stream(2000);
    stream.set_pcm_fmt(44100, 2, 16);
    stream.set_stream_endp((kGroup + ":" + std::to_string(kServiceCommonPort)).c_str());
    stream.set_stream_fmt(128);
    stream.set_stream_ttl(1);
    stream.set_address_interface("127.0.0.1", 9);
    stream.libvlc_create();
    stream.libvlc_imem_create();
    channel_test::FakeGui gui;
    HostWindow window([&gui](HostWindow::Task task) { gui.post(std::move(task)); });
    auto engine = std::make_unique<PlayerEngine>(window.handle(), &stream, pluginFolder());
    window.attach(engine.get());
    engine->set_host([&gui](std::function<void()> task) { gui.post(std::move(task)); }, nullptr);
    g_player_engine = engine.get();
    Player::create(engine.get(), [] { return std::vector<os::AudioCaptureDevice>(); });
    {
        channel_test::Speakers speakers;
        channel_test::FakeSelection selection;
        std::vector<Speaker> devices;
        for (unsigned i = 0; i < kLoudspeakers; ++i) devices.push_back(speakers.add());
        selection.zones = frm::DeviceSet(devices.begin(), devices.end());
        frm::PlayerChannel::createInstance(&selection, &gui, std::chrono::milliseconds(2800));
        const auto once = [&](const frm::DeviceSet& chosen) {
            auto playlist = boost::make_shared<Playlist>(L"service", false);
            playlist->add(L"message", base::fromUtf8(message));
            const std::int64_t t0 = steady_us();
            frm::PlayerChannel::instance()->play(playlist, chosen, 90);
            const std::int64_t first = firstStreamDatagram(common, t0, kGiveUpUs);
            // The message's end stops the channel, which gives the volumes back.
            const std::int64_t end = steady_us() + 30000000;
            while (steady_us() < end && !frm::PlayerChannel::instance()->isPlaying()) sleep_ms(20);
            while (steady_us() < end && frm::PlayerChannel::instance()->isPlaying()) sleep_ms(20);
            sleep_ms(3000);  // late replies in, the stream idle again
            return first != 0 ? (first - t0) / 1000.0 : kGiveUpUs / 1000.0;
        };
        frm::DeviceSet chosen(devices.begin(), devices.end() - 1);
        for (int i = 0; i < launches; ++i) out.service[0].push_back(once(chosen));
        speakers.setReplyDelay(devices.back(), std::chrono::milliseconds(1900));
        for (int i = 0; i < launches; ++i) out.service[1].push_back(once(chosen));
        speakers.setReplyDelay(devices.back(), std::chrono::milliseconds(0));
        // 300, of them 30 late Orvel-510, whose memory is asked about first.
        for (int i = 0; i < 30; ++i) {
            devices.push_back(speakers.add(5));
            speakers.setReplyDelay(devices.back(), kSlowReply);
        }
        while (devices.size() < kBigSite) devices.push_back(speakers.add());
        selection.zones = frm::DeviceSet(devices.begin(), devices.end());
        for (int i = 0; i < launches; ++i) out.service[2].push_back(once(selection.zones));
        frm::PlayerChannel::destroyInstance();
    }
    Player::destroy();
    engine->shutdown();
    // What the engine handed to its host thread runs before the engine goes.
    // A host thread that never gets there ends the run: the engine cannot go
    // while its tasks may still run, and the task below holds this frame.
    std::promise<void> drained;
    gui.post([&drained] { drained.set_value(); });
    if (drained.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "bench_alarm: the engine's tasks did not drain from its host thread in 30 s\n");
        std::abort();
    }
    engine.reset();
    g_player_engine = nullptr;
}

void deadlineLines(const DeadlineResults& r) {
    const auto worst = [](const std::vector<double>& values) {
        return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
    };
    const auto list = [](const char* title, const std::vector<double>& values) {
        std::printf("  %-52s", title);
        for (double v : values) std::printf(" %8.1f", v);
        std::printf("\n");
    };
    std::printf("deadline rounds, ms from the hand-over\n");
    if (!r.oneLate.empty()) {
        list("13, one 1.9 s late: first datagram", r.oneLate);
        list("  the late one switched and at the alarm's volume", r.oneLateTook);
        for (std::size_t k = 0; k < 2; ++k) {
            list(k == 0 ? "12 + 8 Orvel-510, 1 s late: first launch (port read)"
                        : "12 + 8 Orvel-510, 1.2 s late: first launch (port read)",
                 r.mixedFirst[k]);
            list("  the launches after it", r.mixed[k]);
        }
        std::printf("  %-52s %8.1f\n", "2.4 s late once: that alarm's first datagram", r.lostBefore);
        std::printf("  %-52s %8.1f\n", "then a lost switch: first datagram", r.lost.firstDatagram);
        std::printf("  %-52s %8.1f\n", "  switched", r.lost.watched.switched);
        std::printf("  %-52s %8.1f\n", "  at the alarm's volume", r.lost.watched.atVolume);
        std::printf("  %-52s %8.1f\n", "2.4 s late a whole alarm: its first datagram", r.lostBeforeAfterLateAlarm);
        std::printf("  %-52s %8.1f\n", "then on time once, then a lost switch: first datagram",
                    r.lostAfterLateAlarm.firstDatagram);
        std::printf("  %-52s %8.1f\n", "  switched", r.lostAfterLateAlarm.watched.switched);
        std::printf("  %-52s %8.1f\n", "  at the alarm's volume", r.lostAfterLateAlarm.watched.atVolume);
    }
    if (!r.service[0].empty()) {
        list("service message: first datagram, on time", r.service[0]);
        list("  one not chosen 1.9 s late", r.service[1]);
        list("  300, of them 30 Orvel-510 800 ms late", r.service[2]);
    }

    if (!r.oneLate.empty()) {
        benchLine("alarm_13_one_1900ms_late_first_datagram_max", worst(r.oneLate), kDeadlineBudgetMs);
        benchLine("alarm_12_8orvel510_1000ms_late_first_datagram_max",
                  std::max(worst(r.mixedFirst[0]), worst(r.mixed[0])), kDeadlineBudgetMs);
        benchLine("alarm_12_8orvel510_1200ms_late_first_datagram_max",
                  std::max(worst(r.mixedFirst[1]), worst(r.mixed[1])), kDeadlineBudgetMs);
        benchLine("alarm_lost_switch_after_late_first_datagram", r.lost.firstDatagram, kDeadlineBudgetMs);
        benchLine("alarm_lost_switch_after_late_switched", r.lost.watched.switched, kDeadlineBudgetMs);
        benchLine("alarm_lost_switch_after_late_at_volume", r.lost.watched.atVolume, kDeadlineBudgetMs);
        benchLine("alarm_lost_switch_after_late_alarm_first_datagram", r.lostAfterLateAlarm.firstDatagram,
                  kDeadlineBudgetMs);
        benchLine("alarm_lost_switch_after_late_alarm_at_volume", r.lostAfterLateAlarm.watched.atVolume,
                  kDeadlineBudgetMs);
    }
    if (!r.service[0].empty()) {
        benchLine("service_first_datagram_max", worst(r.service[0]), kServiceBudgetMs);
        benchLine("service_unchosen_1900ms_late_first_datagram_max", worst(r.service[1]), kServiceBudgetMs);
        benchLine("service_300_30_orvel510_late_first_datagram_max", worst(r.service[2]), kServiceBudgetMs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const int launches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const int silentLaunches = argc > 2 ? std::max(0, std::atoi(argv[2])) : 5;
    const int replacingLaunches = argc > 3 ? std::max(0, std::atoi(argv[3])) : 5;
    const int slowLaunches = argc > 4 ? std::max(0, std::atoi(argv[4])) : 3;
    const int bigLaunches = argc > 5 ? std::max(0, std::atoi(argv[5])) : 2;
    const int allLateLaunches = argc > 6 ? std::max(0, std::atoi(argv[6])) : 3;
    const int deadlineLaunches = argc > 7 ? std::max(0, std::atoi(argv[7])) : 3;
    const int serviceLaunches = argc > 8 ? std::max(0, std::atoi(argv[8])) : 2;
    char dirTemplate[] = "/tmp/sonvar-bench-alarm-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate) ? dirTemplate : "/tmp";

    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    base::Log::create(base::fromUtf8(dir), base::Log::INFO, false);
    pref_init(base::fromUtf8(dir + "/sonvar.cfg"));
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.address", pref::Type::TypeString) = kGroup.c_str();
        pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = false;
    }
    base::ThreadDispatcher::create();

    const std::string gong = dir + "/gong.mp3";
    const std::string message = dir + "/message.mp3";
    write_mp3(gong, stepped_tone({880}, 1000, 44100, 1), 44100, 1);
    write_mp3(message, stepped_tone({440}, 3000, 44100, 1), 44100, 1);

    // The common stream, playing a tone the whole time.
    GroupSniffer common(kGroup, kDiscoveryPort);
    mp3stream commonStream(2000);
    commonStream.set_pcm_fmt(44100, 2, 16);
    commonStream.set_stream_endp((kGroup + ":" + std::to_string(kDiscoveryPort)).c_str());
    commonStream.set_stream_fmt(128);
    commonStream.set_stream_ttl(1);
    commonStream.set_address_interface("127.0.0.1", 9);
    commonStream.libvlc_create();
    commonStream.libvlc_imem_create();
    HostWindow window([](HostWindow::Task) {});
    auto engine = std::make_unique<PlayerEngine>(window.handle(), &commonStream, pluginFolder());
    window.attach(engine.get());
    commonStream.stream_start();
    engine->play_sine(1000);

    std::printf("alarm launch bench: %u loudspeakers, %d + %d + %d + %d + %d + 2 x (1 + %d) launches, then %d on %u "
                "(gong 1 s, message 3 s), load: ",
                kLoudspeakers, launches, silentLaunches, replacingLaunches, slowLaunches, slowLaunches,
                allLateLaunches, bigLaunches, kBigSite);
    std::fflush(stdout);
    if (std::system("uptime") != 0) std::printf("\n");

    std::vector<Launch> results, silentResults, replacingResults, slowResults, afterStopResults, orvel510Results,
        bigResults;
    std::vector<Launch> allLateFirst[2], allLateResults[2];
    std::size_t commonBefore = 0, commonAfter = 0;
    {
        channel_test::Speakers speakers;
        std::vector<boost::shared_ptr<device::OrvelInfo>> devices;
        frm::DeviceSet set;
        for (unsigned i = 0; i < kLoudspeakers; ++i) {
            devices.push_back(speakers.add());
            set.insert(devices.back());
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
        // The simulated loudspeakers keep no configuration record to read the
        // channel-0 port from.
        options.discoveryPort = [](device::OrvelInfo&) { return kDiscoveryPort; };
        AlarmChannel::createInstance(&selection, &gui, noticeStream, options);
        GroupSniffer notice(kGroup, kNoticePort);
        GroupSniffer service(kGroup, kServicePort);
        commonBefore = common.count();

        // One launch, measured, then stopped; `silent` (may be null) is left
        // out of the switching time. `replacing`: a service message is on air
        // first. Given up after `giveUpUs`.
        const auto once = [&](const boost::shared_ptr<device::OrvelInfo>& silent, bool replacing,
                              std::int64_t giveUpUs = kGiveUpUs, bool afterStop = false) {
            if (afterStop) {
                // A notice on air, stopped 0.3 s before the measured launch.
                const std::size_t before = notice.count();
                AlarmChannel::launchWithCallback(AlarmChannel::Tag(), L"Тревога", set, base::fromUtf8(message),
                                                 L"", 100, AlarmChannel::Callback());
                const std::int64_t end = steady_us() + giveUpUs;
                while (notice.count() == before && steady_us() < end) sleep_ms(5);
                AlarmChannel::instance()->stop(AlarmChannel::Callback());
                sleep_ms(300);
            }
            if (replacing) {
                const std::size_t before = service.count();
                AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), 2, L"Служебное", base::fromUtf8(message),
                                                         L"", 90, AlarmChannel::Callback());
                const std::int64_t end = steady_us() + kGiveUpUs;
                while (service.count() == before && steady_us() < end) sleep_ms(5);
            }
            for (const auto& d : devices) speakers.sim(d).clearReceived();
            std::vector<boost::shared_ptr<device::OrvelInfo>> heard;
            for (const auto& d : devices)
                if (d != silent) heard.push_back(d);
            const std::size_t seen = notice.count();
            Launch launch;
            const std::int64_t t0 = steady_us();
            bool launched = false;
            try {
                launched = AlarmChannel::launchWithCallback(AlarmChannel::Tag(), L"Тревога", set,
                                                            base::fromUtf8(message), base::fromUtf8(gong), 100,
                                                            AlarmChannel::Callback());
            } catch (const std::exception& e) {
                std::printf("launch threw: %s\n", e.what());
            }
            launch.launchReturned = (steady_us() - t0) / 1000.0;
            std::int64_t first = 0;
            RequestTimes times;
            while (launched && steady_us() - t0 < giveUpUs) {
                if (first == 0) first = firstDatagramAfter(notice, seen);
                times = requestTimes(speakers, heard, t0);
                if (first != 0 && times.lastSwitchUs != 0) break;
                sleep_ms(5);
            }
            if (!launched) std::printf("launch refused after %.1f ms\n", launch.launchReturned);
            launch.firstDatagram = (first != 0 ? first - t0 : giveUpUs) / 1000.0;
            launch.allSwitched = (times.lastSwitchUs != 0 ? times.lastSwitchUs - t0 : giveUpUs) / 1000.0;
            if (times.firstVolumeUs != 0) launch.firstVolumeRequest = (times.firstVolumeUs - t0) / 1000.0;
            if (times.lastVolumeUs != 0) launch.lastVolumeRequest = (times.lastVolumeUs - t0) / 1000.0;
            const std::int64_t stopAt = steady_us();
            AlarmChannel::instance()->stop(AlarmChannel::Callback());
            launch.stop = (steady_us() - stopAt) / 1000.0;
            sleep_ms(100);
            return launch;
        };

        for (int i = 0; i < launches; ++i) results.push_back(once(nullptr, false));
        commonAfter = common.count();

        for (int i = 0; i < silentLaunches; ++i) {
            // First in the set's order, where a walk over the set meets it
            // before the others.
            const auto silent = *std::next(set.begin(), i % 3);
            device::sim::ReplyPolicy quiet;
            quiet.silent = true;
            speakers.sim(silent).setReplyPolicy(quiet);
            silentResults.push_back(once(silent, false));
            speakers.sim(silent).setReplyPolicy(device::sim::ReplyPolicy());
            silent->probeVolume();  // answering again
        }
        for (int i = 0; i < replacingLaunches; ++i) replacingResults.push_back(once(nullptr, true));
        if (slowLaunches > 0) {
            // Every other loudspeaker in the set's order, so that a walk over
            // the set meets a slow one at each second step.
            device::sim::ReplyPolicy slow;
            slow.delay = kSlowReply;
            for (std::size_t i = 0; i < devices.size(); i += 2)
                speakers.sim(*std::next(set.begin(), i)).setReplyPolicy(slow);
            for (int i = 0; i < slowLaunches; ++i) slowResults.push_back(once(nullptr, false, kSlowGiveUpUs));
            for (int i = 0; i < slowLaunches; ++i)
                afterStopResults.push_back(once(nullptr, false, kSlowGiveUpUs, true));
        }
        if (allLateLaunches > 0) {
            for (std::size_t k = 0; k < 2; ++k) {
                device::sim::ReplyPolicy late;
                late.delay = kAllLate[k];
                // Long enough for the give-back of the notice before, even
                // when each of its steps costs a resend and a drain.
                sleep_ms(9000);
                for (const auto& d : devices) speakers.sim(d).setReplyPolicy(late);
                allLateFirst[k].push_back(once(nullptr, false, kSlowGiveUpUs));
                for (int i = 0; i < allLateLaunches; ++i) {
                    sleep_ms(9000);
                    allLateResults[k].push_back(once(nullptr, false, kSlowGiveUpUs));
                }
            }
            for (const auto& d : devices) speakers.sim(d).setReplyPolicy(device::sim::ReplyPolicy());
        }
        if (slowLaunches > 0) {
            device::sim::ReplyPolicy slow;
            slow.delay = kSlowReply;
            for (std::size_t i = 0; i < devices.size(); i += 2)
                speakers.sim(*std::next(set.begin(), i)).setReplyPolicy(slow);
            // Ten late Orvel-510 beside them, asked about their memory before each switch.
            sleep_ms(3000);
            for (int i = 0; i < 10; ++i) {
                devices.push_back(speakers.add(5));
                set.insert(devices.back());
                speakers.sim(devices.back()).setReplyPolicy(slow);
            }
            selection.zones = set;
            selection.selected = set;
            for (int i = 0; i < slowLaunches; ++i) orvel510Results.push_back(once(nullptr, false, kSlowGiveUpUs));
            for (const auto& d : devices) speakers.sim(d).setReplyPolicy(device::sim::ReplyPolicy());
        }
        if (bigLaunches > 0) {
            // The site grows to 300 loudspeakers, every one of them late.
            sleep_ms(3000);  // the last give-back done
            while (devices.size() < kBigSite) {
                devices.push_back(speakers.add());
                set.insert(devices.back());
            }
            selection.zones = set;
            selection.selected = set;
            device::sim::ReplyPolicy slow;
            slow.delay = kSlowReply;
            for (const auto& d : devices) speakers.sim(d).setReplyPolicy(slow);
            for (int i = 0; i < bigLaunches; ++i) {
                bigResults.push_back(once(nullptr, false, kSlowGiveUpUs));
                sleep_ms(3000);  // given back
            }
            for (const auto& d : devices) speakers.sim(d).setReplyPolicy(device::sim::ReplyPolicy());
        }
        AlarmChannel::destroyInstance();
    }
    engine->stop(true);
    commonStream.stream_stop();
    engine->shutdown();
    engine.reset();
    DeadlineResults deadlines;
    if (deadlineLaunches > 0) deadlineRounds(deadlineLaunches, message, gong, deadlines);
    if (serviceLaunches > 0) serviceRounds(serviceLaunches, message, deadlines);
    base::ThreadDispatcher::instance()->shutdown();
    base::ThreadDispatcher::destroy();
    pref_free();
    base::Log::destroy();
    boost::system::error_code ignored;
    boost::filesystem::remove_all(dir, ignored);

    std::printf("common stream: %zu datagrams while the notices ran\n", commonAfter - commonBefore);
    const auto table = [](const char* title, const std::vector<Launch>& all) {
        std::printf("%-26s %9s %9s %9s\n", title, "median", "p95", "max");
        const auto row = [&](const char* name, double Launch::*field) {
            const auto values = column(all, field);
            std::printf("  %-24s %9.1f %9.1f %9.1f\n", name, percentile(values, 50), percentile(values, 95),
                        values.empty() ? 0.0 : *std::max_element(values.begin(), values.end()));
        };
        row("launch returned", &Launch::launchReturned);
        row("first volume request", &Launch::firstVolumeRequest);
        row("last volume request", &Launch::lastVolumeRequest);
        row("first datagram", &Launch::firstDatagram);
        row("all switched", &Launch::allSwitched);
        row("stop (its own call)", &Launch::stop);
    };
    table("ms from the launch call", results);
    if (!results.empty())
        std::printf("first launch after start-up: first datagram %.1f ms, all switched %.1f ms\n",
                    results.front().firstDatagram, results.front().allSwitched);
    if (!silentResults.empty()) table("one loudspeaker silent", silentResults);
    if (!replacingResults.empty()) table("replacing a service message", replacingResults);
    if (!slowResults.empty()) table("half answering 800 ms late", slowResults);
    if (!afterStopResults.empty()) table("0.3 s after a stop, half late", afterStopResults);
    for (std::size_t k = 0; k < 2; ++k) {
        if (allLateResults[k].empty()) continue;
        char title[64];
        std::snprintf(title, sizeof title, "all %lld ms late", static_cast<long long>(kAllLate[k].count()));
        table(title, allLateResults[k]);
        std::printf("  first launch after the lateness began: first datagram %.1f ms, all switched %.1f ms\n",
                    allLateFirst[k].front().firstDatagram, allLateFirst[k].front().allSwitched);
    }
    if (!orvel510Results.empty()) table("and 10 Orvel-510, late", orvel510Results);
    if (!bigResults.empty()) table("300, all 800 ms late", bigResults);

    const auto first = column(results, &Launch::firstDatagram);
    const auto switched = column(results, &Launch::allSwitched);
    benchLine("alarm_first_datagram_median", percentile(first, 50), kFirstDatagramBudgetMs);
    benchLine("alarm_first_datagram_p95", percentile(first, 95), kFirstDatagramBudgetMs);
    benchLine("alarm_all_switched_median", percentile(switched, 50), kAllSwitchedBudgetMs);
    benchLine("alarm_all_switched_p95", percentile(switched, 95), kAllSwitchedBudgetMs);
    if (!silentResults.empty()) {
        const auto silentFirst = column(silentResults, &Launch::firstDatagram);
        const auto silentSwitched = column(silentResults, &Launch::allSwitched);
        benchLine("alarm_one_silent_first_datagram_p95", percentile(silentFirst, 95), kFirstDatagramBudgetMs);
        benchLine("alarm_one_silent_all_switched_p95", percentile(silentSwitched, 95), kAllSwitchedBudgetMs);
    }
    if (!replacingResults.empty()) {
        const auto replacingFirst = column(replacingResults, &Launch::firstDatagram);
        const auto replacingSwitched = column(replacingResults, &Launch::allSwitched);
        benchLine("alarm_replacing_first_datagram_p95", percentile(replacingFirst, 95), kFirstDatagramBudgetMs);
        benchLine("alarm_replacing_all_switched_p95", percentile(replacingSwitched, 95), kAllSwitchedBudgetMs);
    }
    if (!slowResults.empty()) {
        // Beside the same figure of the site without slow loudspeakers.
        benchLine("alarm_first_datagram_p95_vs_en54", percentile(first, 95), kSlowSiteFirstDatagramBudgetMs);
        const auto slowFirst = column(slowResults, &Launch::firstDatagram);
        const auto slowSwitched = column(slowResults, &Launch::allSwitched);
        benchLine("alarm_slow_half_first_datagram_median", percentile(slowFirst, 50),
                  kSlowSiteFirstDatagramBudgetMs);
        benchLine("alarm_slow_half_first_datagram_p95", percentile(slowFirst, 95),
                  kSlowSiteFirstDatagramBudgetMs);
        benchLine("alarm_slow_half_all_switched_p95", percentile(slowSwitched, 95), kAllSwitchedBudgetMs);
    }
    if (!afterStopResults.empty()) {
        const auto afterStopFirst = column(afterStopResults, &Launch::firstDatagram);
        benchLine("alarm_after_stop_slow_half_first_datagram_p95", percentile(afterStopFirst, 95),
                  kSlowSiteFirstDatagramBudgetMs);
    }
    for (std::size_t k = 0; k < 2; ++k) {
        if (allLateResults[k].empty()) continue;
        char name[96];
        std::snprintf(name, sizeof name, "alarm_all_%lldms_late_first_datagram_p95",
                      static_cast<long long>(kAllLate[k].count()));
        benchLine(name, percentile(column(allLateResults[k], &Launch::firstDatagram), 95),
                  kSlowSiteFirstDatagramBudgetMs);
        std::snprintf(name, sizeof name, "alarm_all_%lldms_late_unknown_first_datagram",
                      static_cast<long long>(kAllLate[k].count()));
        benchLine(name, allLateFirst[k].front().firstDatagram, kSlowSiteFirstDatagramBudgetMs);
    }
    if (!orvel510Results.empty()) {
        const auto orvel510First = column(orvel510Results, &Launch::firstDatagram);
        benchLine("alarm_slow_orvel510_first_datagram_p95", percentile(orvel510First, 95),
                  kSlowSiteFirstDatagramBudgetMs);
    }
    if (!bigResults.empty()) {
        const auto bigFirst = column(bigResults, &Launch::firstDatagram);
        benchLine("alarm_300_all_late_first_datagram_p95", percentile(bigFirst, 95), kSlowSiteFirstDatagramBudgetMs);
    }
    if (deadlineLaunches > 0 || serviceLaunches > 0) deadlineLines(deadlines);
    return 0;
}
