// The plug-in host on the wire, beside ffmpeg doing the same work:
//  1. from the operator's play request to the first stream datagram, with the
//     keep-alive datagrams on (as shipped), for in_wav and in_vlc; ffmpeg
//     from its start to its first datagram of the same file;
//  2. the silence between two playlist items (tones without silence of their
//     own) as heard by a receiver; an item counts as finished only after the
//     stream has been handed 2000 ms of silence, so this includes that rule
//     (goal: under 100 ms beyond the items' own silence);
//  3. CPU time per second of audio while in_vlc plays an MP3 into the common
//     stream, against ffmpeg decoding and re-encoding the same file to the
//     same codec and transport at the same time.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/bench/bench_plugins [seconds of audio for 3, default 30]

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

void bench_line(const char* name, double ours, const char* peer, double theirs, const char* unit) {
    char line[256];
    std::snprintf(line, sizeof line, "BENCH %s ours=%.2f%s %s=%.2f%s ratio=%.2f", name, ours, unit, peer, theirs,
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

/// The silence between the last window of one tone and the first of the next.
double gap_ms(const std::vector<std::int16_t>& heard, const std::vector<double>& tones) {
    const auto track = tone_track(heard, tones);
    int last_first = -1, first_second = -1;
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i] == 0) last_first = static_cast<int>(i);
        if (track[i] == 1 && first_second < 0) first_second = static_cast<int>(i);
    }
    if (last_first < 0 || first_second < 0) return -1;
    return (first_second - last_first - 1) * 50.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
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

    // 2. Track-to-track gap heard by a receiver.
    {
        const char* names[] = {"in_wav", "in_vlc"};
        const std::vector<std::string> lists[] = {{wav1, wav2}, {mp31, mp32}};
        for (int i = 0; i < 2; ++i) {
            const std::string group = "224.0.224.63";
            const std::uint16_t port = static_cast<std::uint16_t>(12511 + i);
            Rig rig(group, port, true);
            LiveReceiver receiver(group, port, dir + "/gap" + std::to_string(i) + ".raw", 6000);
            receiver.joined();
            rig.play(lists[i]);
            rig.playlist.wait_done(20000);
            const double gap = gap_ms(receiver.samples(), tones);
            bench_line((std::string("track_gap_heard_") + names[i]).c_str(), gap, "goal", 100.0, "ms");
        }
    }

    // 3. CPU per second of audio: in_vlc into the common stream against ffmpeg.
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
