// The plug-in host on the wire, as a listener meets it, beside ffmpeg doing
// the same work where there is a peer:
//  1. from the operator's play request to the first stream datagram, with the
//     keep-alive datagrams on (as shipped), for in_wav and in_vlc; ffmpeg
//     from its start to its first datagram of the same file;
//  2. the dead air between two playlist items (tones without silence of their
//     own), from the arrival times of the datagrams that carry the audio:
//     silence inside the decoded audio plus time in which nothing was sent
//     (goal: 100 ms, better 50); the continuity-counter errors across the
//     change, the source ports (one stream) and whether both tones arrived
//     whole and in order. The decoded silence alone is printed beside it;
//  3. a ten-item playlist through in_wav and through in_vlc (MP3), each item
//     a tone of its own: windows inside an item that are silent or name
//     another tone (goal 0), the largest dead air at a change, counter
//     errors; with [hogs] busy processes beside it (default 0);
//  4. CPU time per second of audio while in_vlc plays an MP3 into the common
//     stream, against ffmpeg decoding and re-encoding the same file to the
//     same codec and transport at the same time.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/bench/bench_plugins [seconds of audio for 4, default 30 [hogs, default 0]]

#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>

#include "audio/engine_player.h"
#include "audio/host_window.h"
#include "audio/mp3stream.h"
#include "audio/player_engine.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "bench/wire_gap.h"
#include "tests/support/wav_file.h"
#include "tools/stream_probe.h"

using namespace stream_probe;

namespace {

std::int64_t process_cpu_us() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000000ll + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1000000ll +
           usage.ru_stime.tv_usec;
}

std::vector<std::string> g_bench_lines;

void bench_line(const std::string& name, double ours, const char* peer, double theirs, const char* unit) {
    char line[256];
    std::snprintf(line, sizeof line, "BENCH %s ours=%.2f%s %s=%.2f%s ratio=%.2f", name.c_str(), ours, unit, peer, theirs,
                  unit, theirs != 0 ? ours / theirs : 0.0);
    g_bench_lines.push_back(line);
}

std::string executable_folder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.rfind('/'));
}

/// The GUI thread of the program: runs what the host window queues.
class HostThread {
public:
    HostThread() : m_thread([this] { run(); }) {}
    ~HostThread() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void add(std::function<void()> task) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_wake.notify_all();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
            if (m_stop) return;
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
    std::thread m_thread;
};

/// A playlist of files: next() plays the following one.
class Playlist : public EnginePlayer {
public:
    int state() const override { return m_state.load(); }
    bool switching() const override { return false; }
    void next() override {
        const int at = ++m_at;
        if (at < static_cast<int>(m_items.size())) m_engine->play(base::fromUtf8(m_items[static_cast<std::size_t>(at)]));
        else m_state = 0;
    }
    bool wait_done(int timeout_ms) const {
        const std::int64_t end = steady_us() + timeout_ms * 1000ll;
        while (m_state.load() != 0 && steady_us() < end) sleep_ms(20);
        return m_state.load() == 0;
    }

    PlayerEngine* m_engine = nullptr;
    std::vector<std::string> m_items;
    std::atomic<int> m_at{0};
    std::atomic<int> m_state{k_state_playing};
};

struct Rig {
    Rig(const std::string& group, std::uint16_t port, bool zero_ping) {
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.zeroPing", pref::Type::TypeBoolean) = zero_ping;
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = group;
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = port - 1;
        }
        stream.set_pcm_fmt(44100, 2, 16);
        stream.set_stream_endp((group + ":" + std::to_string(port)).c_str());
        stream.set_stream_fmt(128);
        stream.set_stream_ttl(1);
        stream.set_address_interface("127.0.0.1", 9);
        stream.libvlc_create();
        stream.libvlc_imem_create();
        const std::string folder = executable_folder() + "/../plugins";
        engine = std::make_unique<PlayerEngine>(window.handle(), &stream, base::fromUtf8(folder));
        engine->set_host([this](std::function<void()> task) { host.add(std::move(task)); }, nullptr);
        playlist.m_engine = engine.get();
        engine->register_player(&playlist);
    }
    ~Rig() {
        engine->shutdown();
        engine.reset();
    }
    bool play(const std::vector<std::string>& items) {
        playlist.m_items = items;
        playlist.m_at = 0;
        playlist.m_state = EnginePlayer::k_state_playing;
        return engine->play(base::fromUtf8(items.front()));
    }

    HostThread host;
    HostWindow window{[this](HostWindow::Task task) { host.add(std::move(task)); }};
    mp3stream stream{2000};
    std::unique_ptr<PlayerEngine> engine;
    Playlist playlist;
};

/// Microseconds from `from` to the first datagram that carries stream data.
double first_stream_datagram_ms(const GroupSniffer& sniffer, std::int64_t from, int timeout_ms) {
    const std::int64_t end = steady_us() + timeout_ms * 1000ll;
    while (steady_us() < end) {
        for (const Datagram& d : sniffer.snapshot())
            if (d.at_us >= from && !d.bytes.empty()) return (d.at_us - from) / 1000.0;
        sleep_ms(2);
    }
    return -1;
}

/// Plays the files as a playlist with the keep-alive on, records the group
/// until the keep-alive is back after the last item, and returns the capture.
std::vector<Datagram> play_and_capture(const std::string& group, std::uint16_t port,
                                       const std::vector<std::string>& items, int timeout_ms) {
    GroupSniffer wire(group, port);
    {
        Rig rig(group, port, true);
        sleep_ms(1200);  // idle: keep-alive datagrams only
        rig.play(items);
        rig.playlist.wait_done(timeout_ms);
        // The stream stops the buffer time after the last item; then the
        // keep-alive comes back.
        const std::int64_t end = steady_us() + 6000000;
        while (steady_us() < end && rig.stream.is_streaming()) sleep_ms(20);
        sleep_ms(1200);
    }
    return wire.snapshot();
}

std::string counts_text(const std::vector<int>& counts) {
    std::string text;
    for (const int c : counts) text += (text.empty() ? "" : " ") + std::to_string(c);
    return text;
}

/// A CPU hog: a busy shell loop in a process of its own.
std::vector<std::unique_ptr<Child>> start_hogs(int count) {
    std::vector<std::unique_ptr<Child>> hogs;
    for (int i = 0; i < count; ++i) hogs.push_back(std::make_unique<Child>(std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
    return hogs;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int hogs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    const std::string dir = (boost::filesystem::temp_directory_path() /
                             boost::filesystem::unique_path("bench-plugins-%%%%-%%%%")).string();
    boost::filesystem::create_directories(dir);
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    pref_init(base::fromUtf8(dir + "/sonvar.cfg"));
    base::ThreadDispatcher::create();

    const std::vector<double> tones = {440, 880};
    const std::string wav1 = dir + "/one.wav", wav2 = dir + "/two.wav";
    const std::string mp31 = dir + "/one.mp3", mp32 = dir + "/two.mp3";
    testing_support::writeBytes(wav1, testing_support::wavFile(stepped_tone({440}, 1000, 44100, 2), 44100, 2));
    testing_support::writeBytes(wav2, testing_support::wavFile(stepped_tone({880}, 1000, 44100, 2), 44100, 2));
    write_mp3(mp31, stepped_tone({440}, 1000, 44100, 2), 44100, 2);
    write_mp3(mp32, stepped_tone({880}, 1000, 44100, 2), 44100, 2);

    // 1. Play request to the first datagram, keep-alive on as shipped.
    {
        const char* names[] = {"in_wav", "in_vlc"};
        const std::string files[] = {wav1, mp31};
        for (int i = 0; i < 2; ++i) {
            const std::string group = "224.0.224.61";
            const std::uint16_t port = static_cast<std::uint16_t>(12501 + i * 2);
            GroupSniffer ours_wire(group, port);
            Rig rig(group, port, true);
            sleep_ms(1500);  // idle: keep-alive datagrams only
            const std::int64_t t0 = steady_us();
            rig.play({files[i]});
            const double ours = first_stream_datagram_ms(ours_wire, t0, 10000);
            rig.playlist.wait_done(15000);

            GroupSniffer ffmpeg_wire("224.0.224.62", port);
            const std::int64_t t1 = steady_us();
            Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", files[i], "-c:a", "mp2", "-b:a",
                          "128k", "-ac", "1", "-f", "mpegts",
                          "udp://224.0.224.62:" + std::to_string(port) + "?pkt_size=1316&ttl=1"});
            const double theirs = first_stream_datagram_ms(ffmpeg_wire, t1, 10000);
            ffmpeg.wait_for(10000);
            bench_line((std::string("play_to_first_datagram_") + names[i]).c_str(), ours, "ffmpeg", theirs, "ms");
        }
    }

    // 2. Dead air between two items, on the wire.
    {
        const char* names[] = {"in_wav", "in_vlc"};
        const std::vector<std::string> lists[] = {{wav1, wav2}, {mp31, mp32}};
        for (int i = 0; i < 2; ++i) {
            const std::string group = "224.0.224.63";
            const std::uint16_t port = static_cast<std::uint16_t>(12511 + i);
            const auto seen = play_and_capture(group, port, lists[i], 20000);
            const auto stream = wire_gap::stream_only(seen);
            wire_gap::Capture capture(stream, dir + "/gap" + std::to_string(i));
            const auto track = tone_track(capture.samples(), tones);
            bool whole = false;
            const int broken = wire_gap::broken_windows(track, tones.size(), 17, &whole);
            const wire_gap::Change change = wire_gap::change_between(capture, track, 0, 1);
            const double own = wire_gap::own_silence_ms(lists[i][0], lists[i][1], dir + "/own" + std::to_string(i));
            std::printf("track change %s: decoded silence %.1f ms (the files' own %.1f ms), nothing sent for %.1f ms, "
                        "%zu source port(s), %d keep-alive(s) inside the stream, tones whole and in order: %s, "
                        "broken windows %d\n",
                        names[i], change.decoded_silence_ms, own, change.stall_ms, wire_gap::source_ports(stream),
                        wire_gap::keepalives_inside(seen), whole ? "yes" : "no", broken);
            const std::string suffix = names[i];
            bench_line("track_gap_wallclock_" + suffix, change.found ? change.wall_gap_ms() : -1, "goal", 100.0, "ms");
            bench_line("track_gap_decoded_silence_" + suffix, change.found ? change.decoded_silence_ms : -1, "goal",
                       100.0, "ms");
            bench_line("track_change_cc_errors_" + suffix, double(wire_gap::cc_errors(stream)), "goal", 0.0, "");
        }
    }

    // 3. Ten items in a row, each a tone of its own.
    {
        std::vector<double> ten;
        for (int k = 0; k < 10; ++k) ten.push_back(400 + 100 * k);
        std::vector<std::string> wavs, mp3s;
        for (int k = 0; k < 10; ++k) {
            const auto pcm = stepped_tone({ten[static_cast<std::size_t>(k)]}, 1000, 44100, 2);
            wavs.push_back(dir + "/ten" + std::to_string(k) + ".wav");
            mp3s.push_back(dir + "/ten" + std::to_string(k) + ".mp3");
            testing_support::writeBytes(wavs.back(), testing_support::wavFile(pcm, 44100, 2));
            write_mp3(mp3s.back(), pcm, 44100, 2);
        }
        const char* names[] = {"in_wav", "in_vlc"};
        const std::vector<std::string>* lists[] = {&wavs, &mp3s};
        const std::string load = hogs > 0 ? "_hogs" + std::to_string(hogs) : "";
        for (int i = 0; i < 2; ++i) {
            const std::string group = "224.0.224.66";
            const std::uint16_t port = static_cast<std::uint16_t>(12531 + i);
            std::vector<Datagram> seen;
            {
                const auto busy = start_hogs(hogs);
                seen = play_and_capture(group, port, *lists[i], 40000);
            }
            const auto stream = wire_gap::stream_only(seen);
            wire_gap::Capture capture(stream, dir + "/ten" + std::to_string(i));
            const auto track = tone_track(capture.samples(), ten);
            bool whole = false;
            const int broken = wire_gap::broken_windows(track, ten.size(), 17, &whole);
            double largest = 0;
            for (int k = 0; k + 1 < 10; ++k) {
                const wire_gap::Change change = wire_gap::change_between(capture, track, k, k + 1);
                largest = std::max(largest, change.found ? change.wall_gap_ms() : 1e9);
            }
            std::printf("ten items %s%s: windows per tone %s, in order and whole: %s, %zu source port(s), "
                        "%d keep-alive(s) inside the stream\n",
                        names[i], load.c_str(), counts_text(tone_counts(track, ten.size())).c_str(),
                        whole ? "yes" : "no", wire_gap::source_ports(stream), wire_gap::keepalives_inside(seen));
            const std::string suffix = std::string(names[i]) + load;
            bench_line("playlist10_broken_windows_" + suffix, broken, "goal", 0.0, "");
            bench_line("playlist10_largest_gap_wallclock_" + suffix, largest, "goal", 100.0, "ms");
            bench_line("playlist10_cc_errors_" + suffix, double(wire_gap::cc_errors(stream)), "goal", 0.0, "");
        }
    }

    // 4. CPU per second of audio: in_vlc into the common stream against ffmpeg.
    {
        const std::string long_mp3 = dir + "/long.mp3";
        write_mp3(long_mp3, stepped_tone({440, 660, 880}, static_cast<unsigned>(seconds) * 1000 / 3, 44100, 2),
                  44100, 2);
        Rig rig("224.0.224.64", 12521, false);
        rig.stream.stream_start();
        Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", long_mp3, "-c:a", "mp2", "-b:a",
                      "128k", "-ac", "1", "-ar", "44100", "-f", "mpegts",
                      "udp://224.0.224.65:12522?pkt_size=1316&ttl=1"});
        const std::int64_t cpu0 = process_cpu_us();
        const std::int64_t wall0 = steady_us();
        rig.play({long_mp3});
        rig.playlist.wait_done(seconds * 1000 + 20000);
        const double ours = (process_cpu_us() - cpu0) / 1000.0 / ((steady_us() - wall0) / 1e6);
        rig.stream.stream_stop();
        ffmpeg.wait_for(30000);
        const double theirs = ffmpeg.cpu_us() / 1000.0 / seconds;
        bench_line("in_vlc_mp3_cpu_per_audio_second", ours, "ffmpeg", theirs, "ms");
    }

    base::ThreadDispatcher::instance()->shutdown();
    base::ThreadDispatcher::destroy();
    pref_free();
    boost::filesystem::remove_all(dir);
    for (const std::string& line : g_bench_lines) std::puts(line.c_str());
    return 0;
}
