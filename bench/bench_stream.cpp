// The multicast streams beside ffmpeg doing the same work:
//  1. CPU time per second of audio: the common stream encoding a 44.1 kHz
//     stereo tone to 128 kbit/s mono MPEG audio in TS over UDP, against ffmpeg
//     encoding the same PCM to the same codec, bitrate and transport, at the
//     same time (our process against ffmpeg's);
//  2. latency from the first PCM block written to the first datagram that
//     carries it, and from the last block to the datagram that completes it;
//  3. the notification stream's tail: the last tone of a message, as received,
//     against ffmpeg sending the same MP3 file;
//  4. one item following another on the running common stream, as the player
//     engine hands them over (the second is written as soon as libvlc has
//     taken the last block of the first): the dead air between them from the
//     arrival times of the datagrams (wall clock), the continuity-counter
//     errors across the change;
//  5. from the stream's start, with the ring filled as the engine fills it
//     before the start, to the first datagram, against ffmpeg from its start
//     to its first datagram of the same audio.
// What went over the wire is decoded by ffmpeg from the captured datagrams.
//
// Opens sockets: run it inside the private namespace,
//   scripts/netns-run build/bench/bench_stream [seconds of audio for 1, default 60]

#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "audio/mp3stream.h"
#include "base/clock.h"
#include "audio/mp3streamf.h"
#include "bench/wire_gap.h"
#include "tools/stream_probe.h"

using namespace stream_probe;

namespace {

std::int64_t process_cpu_us() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1000000ll + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_sec * 1000000ll + usage.ru_stime.tv_usec;
}

// The comparison lines, printed together at the end.
std::vector<std::string> g_bench_lines;

void bench_line(const char* name, double ours, const char* peer, double theirs, const char* unit) {
    char line[256];
    std::snprintf(line, sizeof line, "BENCH %s ours=%.2f%s %s=%.2f%s ratio=%.2f", name, ours, unit,
                  peer, theirs, unit, theirs != 0 ? ours / theirs : 0.0);
    g_bench_lines.push_back(line);
}

std::string endpoint(const std::string& group, std::uint16_t port) {
    return group + ":" + std::to_string(port);
}

std::string ffmpeg_udp(const std::string& group, std::uint16_t port) {
    return "udp://" + endpoint(group, port) + "?pkt_size=1316&ttl=1";
}

std::unique_ptr<mp3stream> common_stream(const std::string& group, std::uint16_t port) {
    auto stream = std::make_unique<mp3stream>(2000);
    stream->set_pcm_fmt(44100, 2, 16);
    stream->set_stream_endp(endpoint(group, port).c_str());
    stream->set_stream_fmt(128);
    stream->set_stream_ttl(1);
    stream->libvlc_create();
    stream->libvlc_imem_create();
    return stream;
}

/// Writes as the output module does: a refused chunk is retried shortly
/// after. Returns the time of the last successful write.
std::int64_t write_all(mp3stream& stream, const std::vector<std::int16_t>& pcm,
                       std::int64_t* first_write_us = nullptr) {
    const char* bytes = reinterpret_cast<const char*>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    std::int64_t last = 0;
    for (std::size_t at = 0; at < total;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(4096, total - at));
        if (stream.write_pcm(bytes + at, n)) {
            last = steady_us();
            if (at == 0 && first_write_us != nullptr) *first_write_us = last;
            at += n;
        } else {
            sleep_ms(5);
        }
    }
    return last;
}

void wait_until_played(mp3stream& stream) {
    const std::int64_t end = steady_us() + 30000000ll;
    while (steady_us() < end) {
        const std::uint64_t start = stream.silence_start_us();
        if (start != 0 && static_cast<std::uint64_t>(nowMicroseconds()) - start >= stream.buffer_time_ms() * 1000ull) return;
        sleep_ms(10);
    }
}

/// Writes PCM into a pipe at real-time pace, 4096 bytes at a time.
std::int64_t pipe_real_time(int fd, const std::vector<std::int16_t>& pcm, unsigned channels,
                            std::int64_t* first_write_us = nullptr) {
    const char* bytes = reinterpret_cast<const char*>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    const std::int64_t start = steady_us();
    std::int64_t last = 0;
    for (std::size_t at = 0; at < total;) {
        const std::size_t n = std::min<std::size_t>(4096, total - at);
        const std::int64_t due = start + static_cast<std::int64_t>(at / (2 * channels)) * 1000000 / 44100;
        while (steady_us() < due) sleep_ms(1);
        if (::write(fd, bytes + at, n) != static_cast<ssize_t>(n)) break;
        last = steady_us();
        if (at == 0 && first_write_us != nullptr) *first_write_us = last;
        at += n;
    }
    return last;
}

struct WireLatency {
    double first_ms = -1;
    double last_ms = -1;
};

/// Finds the first datagrams whose prefix of the capture, decoded, holds the
/// first and the last loud sample of the whole capture.
WireLatency wire_latency(const std::vector<Datagram>& seen, std::int64_t first_write_us,
                         std::int64_t last_write_us, const std::string& scratch) {
    WireLatency latency;
    if (seen.empty()) return latency;
    write_capture(seen, scratch + ".ts");
    const auto all = decode_file(scratch + ".ts", scratch + ".raw");
    std::size_t first_loud = all.size(), last_loud = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (std::abs(static_cast<int>(all[i])) > 2000) {
            if (first_loud == all.size()) first_loud = i;
            last_loud = i;
        }
    }
    if (first_loud == all.size()) return latency;
    const auto smallest_prefix_holding = [&](std::size_t sample) {
        std::size_t lo = 1, hi = seen.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            write_capture(seen, scratch + "-part.ts", mid);
            if (decode_file(scratch + "-part.ts", scratch + "-part.raw").size() > sample) hi = mid;
            else lo = mid + 1;
        }
        return lo;
    };
    const std::size_t first_k = smallest_prefix_holding(first_loud);
    const std::size_t last_k = smallest_prefix_holding(last_loud);
    latency.first_ms = (seen[first_k - 1].at_us - first_write_us) / 1000.0;
    latency.last_ms = (seen[last_k - 1].at_us - last_write_us) / 1000.0;
    return latency;
}

/// Windows of the last tone and the silence after it, in the decoded capture.
struct Tail {
    int last_tone_windows = 0;
    int trailing_ms = 0;
};

Tail tail_of(const std::vector<Datagram>& seen, const std::vector<double>& tones,
             const std::string& scratch) {
    write_capture(seen, scratch + ".ts");
    const auto track = tone_track(decode_file(scratch + ".ts", scratch + ".raw"), tones);
    Tail tail;
    tail.last_tone_windows = tone_counts(track, tones.size()).back();
    int last = -1;
    for (std::size_t i = 0; i < track.size(); ++i)
        if (track[i] >= 0) last = static_cast<int>(i);
    tail.trailing_ms = (static_cast<int>(track.size()) - 1 - last) * 50;
    return tail;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    char dir_template[] = "/tmp/sonvar-bench-stream-XXXXXX";
    const std::string dir = ::mkdtemp(dir_template) ? dir_template : "/tmp";

    // 1. CPU per second of audio, both at once.
    {
        const auto tone = stepped_tone({1000}, static_cast<unsigned>(seconds) * 1000, 44100, 2);
        const std::string raw = dir + "/tone.raw";
        {
            std::ofstream out(raw, std::ios::binary);
            out.write(reinterpret_cast<const char*>(tone.data()),
                      static_cast<std::streamsize>(tone.size() * 2));
        }
        auto stream = common_stream("224.0.224.51", 12401);
        Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "s16le", "-ar",
                      "44100", "-ac", "2", "-i", raw, "-c:a", "mp2", "-b:a", "128k", "-ac", "1",
                      "-ar", "44100", "-f", "mpegts", ffmpeg_udp("224.0.224.52", 12402)});
        const std::int64_t cpu0 = process_cpu_us();
        const std::int64_t wall0 = steady_us();
        stream->stream_start();
        write_all(*stream, tone);
        wait_until_played(*stream);
        stream->stream_stop();
        const double ours = (process_cpu_us() - cpu0) / 1000.0 / ((steady_us() - wall0) / 1e6);
        ffmpeg.wait();
        const double theirs = ffmpeg.cpu_us() / 1000.0 / seconds;
        bench_line("common_stream_cpu_per_audio_second", ours, "ffmpeg", theirs, "ms");
    }

    // 2. Latency on the wire.
    {
        const auto tone = stepped_tone({440, 660, 880, 1100}, 1000, 44100, 2);
        const auto silence = std::vector<std::int16_t>(44100 * 2 * 2, 0);

        GroupSniffer ours_wire("224.0.224.53", 12403);
        auto stream = common_stream("224.0.224.53", 12403);
        std::int64_t ours_first = 0;
        stream->stream_start();  // as the player engine does, right before writing
        const std::int64_t ours_last = write_all(*stream, tone, &ours_first);
        wait_until_played(*stream);
        stream->stream_stop();

        GroupSniffer ffmpeg_wire("224.0.224.54", 12404);
        // ffmpeg at its quickest: no probing, no mux delay, packets out at once.
        Child ffmpeg({"ffmpeg", "-loglevel", "error", "-probesize", "32", "-analyzeduration", "0",
                      "-fflags", "+nobuffer", "-f", "s16le", "-ar", "44100", "-ac", "2", "-i",
                      "pipe:0", "-c:a", "mp2", "-b:a", "128k", "-ac", "1", "-ar", "44100",
                      "-muxdelay", "0", "-muxpreload", "0", "-flush_packets", "1", "-f", "mpegts",
                      ffmpeg_udp("224.0.224.54", 12404)},
                     "", true);
        std::int64_t ffmpeg_first = 0;
        const std::int64_t ffmpeg_last = pipe_real_time(ffmpeg.stdin_fd(), tone, 2, &ffmpeg_first);
        pipe_real_time(ffmpeg.stdin_fd(), silence, 2);  // keeps it live, as our stream is
        ffmpeg.close_stdin();
        ffmpeg.wait_for(10000);
        ffmpeg_wire.wait_quiet(500, 3000);

        const WireLatency ours = wire_latency(ours_wire.snapshot(), ours_first, ours_last, dir + "/ours");
        const WireLatency theirs =
            wire_latency(ffmpeg_wire.snapshot(), ffmpeg_first, ffmpeg_last, dir + "/ffmpeg");
        bench_line("common_stream_first_block_to_wire", ours.first_ms, "ffmpeg", theirs.first_ms, "ms");
        bench_line("common_stream_last_block_to_wire", ours.last_ms, "ffmpeg", theirs.last_ms, "ms");
    }

    // 3. The notification stream's tail.
    {
        const std::vector<double> tones = {400, 600, 800, 1000, 1200, 1400};
        const std::string message = dir + "/message.mp3";
        write_mp3(message, stepped_tone(tones, 500, 44100, 1), 44100, 1);

        GroupSniffer ours_wire("224.0.224.55", 12405);
        {
            mp3streamf stream;
            stream.set_stream_endp(endpoint("224.0.224.55", 12405).c_str());
            stream.set_stream_fmt(128);
            stream.set_stream_ttl(1);
            stream.set_read_mode(mp3streamf::READ_FILE);
            stream.set_write_mode(true, false);
            sync_event done(true);
            stream.stream_create();
            stream.play_file(50, std::wstring(message.begin(), message.end()), &done);
            done.wait(30000);
            stream.stop();
            stream.stream_close();
        }
        GroupSniffer ffmpeg_wire("224.0.224.56", 12406);
        Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-i", message, "-c:a",
                      "mp2", "-b:a", "128k", "-ac", "1", "-ar", "44100", "-f", "mpegts",
                      ffmpeg_udp("224.0.224.56", 12406)});
        ffmpeg.wait_for(20000);
        ffmpeg_wire.wait_quiet(500, 3000);

        const Tail ours = tail_of(ours_wire.snapshot(), tones, dir + "/ours-tail");
        const Tail theirs = tail_of(ffmpeg_wire.snapshot(), tones, dir + "/ffmpeg-tail");
        std::printf("notification stream: %d ms of silence went out after the message\n",
                    ours.trailing_ms);
        bench_line("notification_last_tone_windows", ours.last_tone_windows, "ffmpeg",
                   theirs.last_tone_windows, "");
    }

    // 4. One item after another on the running stream.
    {
        const std::vector<double> tones = {440, 880};
        const auto first = stepped_tone({440}, 1000, 44100, 2);
        const auto second = stepped_tone({880}, 1000, 44100, 2);
        GroupSniffer wire("224.0.224.57", 12407);
        auto stream = common_stream("224.0.224.57", 12407);
        write_all(*stream, std::vector<std::int16_t>(first.begin(), first.begin() + 44100 * 2 / 2));
        stream->stream_start();
        write_all(*stream, std::vector<std::int16_t>(first.begin() + 44100 * 2 / 2, first.end()));
        // Handed over whole: what the output module tells the plug-in, which
        // asks every 2 ms.
        while (stream->has_queued_audio()) sleep_ms(2);
        write_all(*stream, second);
        wait_until_played(*stream);
        stream->stream_stop();
        const auto seen = wire_gap::stream_only(wire.snapshot());
        wire_gap::Capture capture(seen, dir + "/change");
        const auto track = tone_track(capture.samples(), tones);
        const wire_gap::Change change = wire_gap::change_between(capture, track, 0, 1);
        bool whole = false;
        const int broken = wire_gap::broken_windows(track, tones.size(), 17, &whole);
        std::printf("item change on the stream: decoded silence %.1f ms, nothing sent for %.1f ms, "
                    "tones whole and in order: %s, broken windows %d\n",
                    change.decoded_silence_ms, change.stall_ms, whole ? "yes" : "no", broken);
        bench_line("stream_item_gap_wallclock", change.found ? change.wall_gap_ms() : -1, "goal", 50.0, "ms");
        bench_line("stream_item_change_cc_errors", double(wire_gap::cc_errors(seen)), "goal", 0.0, "");
    }

    // 5. Start to first datagram.
    {
        const auto tone = stepped_tone({1000}, 2000, 44100, 2);
        const std::string raw = dir + "/start.raw";
        {
            std::ofstream out(raw, std::ios::binary);
            out.write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size() * 2));
        }
        GroupSniffer ours_wire("224.0.224.58", 12408);
        auto stream = common_stream("224.0.224.58", 12408);
        const char* bytes = reinterpret_cast<const char*>(tone.data());
        std::size_t at = 0;
        while (stream->write_pcm(bytes + at, 8192)) at += 8192;  // the ring as the engine leaves it
        const std::int64_t t0 = steady_us();
        stream->stream_start();
        while (ours_wire.count() == 0 && steady_us() - t0 < 5000000) sleep_ms(1);
        const double ours = ours_wire.count() ? (ours_wire.snapshot().front().at_us - t0) / 1000.0 : -1;
        stream->stream_stop();

        GroupSniffer ffmpeg_wire("224.0.224.59", 12409);
        const std::int64_t t1 = steady_us();
        Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "s16le", "-ar", "44100", "-ac", "2",
                      "-i", raw, "-c:a", "mp2", "-b:a", "128k", "-ac", "1", "-ar", "44100", "-f", "mpegts",
                      ffmpeg_udp("224.0.224.59", 12409)});
        while (ffmpeg_wire.count() == 0 && steady_us() - t1 < 5000000) sleep_ms(1);
        const double theirs = ffmpeg_wire.count() ? (ffmpeg_wire.snapshot().front().at_us - t1) / 1000.0 : -1;
        ffmpeg.wait_for(10000);
        bench_line("common_stream_start_to_first_datagram", ours, "ffmpeg", theirs, "ms");
    }

    boost::system::error_code ignored;
    boost::filesystem::remove_all(dir, ignored);
    for (const auto& line : g_bench_lines) std::printf("%s\n", line.c_str());
    return 0;
}
