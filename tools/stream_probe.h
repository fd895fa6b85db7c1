#pragma once

// Receivers and signal checks for the stream tests and the stream benchmark:
// an in-process sniffer that records every datagram of a multicast group with
// its arrival time and TTL, ffmpeg/ffprobe as the independent MPEG decoder, a
// Goertzel filter that names the tone of each short window, and LAME's encoder
// to make MP3 message files. Header-only, so that tests/audio and bench/ share
// it without a library of their own. Everything here runs inside the private
// network namespace and joins groups on 127.0.0.1 unless told another
// interface address (a veth end of the namespace).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <lame/lame.h>

extern char** environ;

namespace stream_probe {

inline std::int64_t steady_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---------------------------------------------------------------------------
// Datagrams on the wire

struct Datagram {
    std::int64_t at_us = 0;  // steady clock
    int ttl = -1;
    unsigned from_port = 0;  // the sender's UDP port
    std::string bytes;
};

/// Joins group:port on the interface with the address `interface_address`
/// and records every datagram on its own thread until destroyed.
class GroupSniffer {
public:
    GroupSniffer(const std::string& group, std::uint16_t port,
                 const std::string& interface_address = "127.0.0.1") {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(m_fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
        const int big = 4 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, group.c_str(), &local.sin_addr);  // bound to the group: only its datagrams
        m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        ip_mreq join{};
        ::inet_pton(AF_INET, group.c_str(), &join.imr_multiaddr);
        m_ok = m_ok && ::inet_pton(AF_INET, interface_address.c_str(), &join.imr_interface) == 1;
        m_ok = m_ok && ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
        m_thread = std::thread([this] { run(); });
    }
    ~GroupSniffer() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    GroupSniffer(const GroupSniffer&) = delete;
    GroupSniffer& operator=(const GroupSniffer&) = delete;

    bool ok() const { return m_ok; }
    std::vector<Datagram> snapshot() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen.size();
    }
    /// Arrival time of the last datagram, 0 when none came.
    std::int64_t last_at_us() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen.empty() ? 0 : m_seen.back().at_us;
    }
    /// Waits until the group has been quiet for quiet_ms (or timeout_ms passed).
    void wait_quiet(int quiet_ms, int timeout_ms) const {
        const std::int64_t end = steady_us() + timeout_ms * 1000ll;
        while (steady_us() < end) {
            const std::int64_t last = last_at_us();
            if (last != 0 && steady_us() - last >= quiet_ms * 1000ll) return;
            sleep_ms(20);
        }
    }

private:
    void run() {
        char data[65536];
        char control[256];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            iovec io{data, sizeof data};
            msghdr msg{};
            msg.msg_iov = &io;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            sockaddr_in from{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            const ssize_t n = ::recvmsg(m_fd, &msg, 0);
            if (n < 0) continue;
            Datagram d;
            d.at_us = steady_us();
            d.from_port = ntohs(from.sin_port);
            d.bytes.assign(data, static_cast<std::size_t>(n));
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
                    d.ttl = *reinterpret_cast<int*>(CMSG_DATA(c));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back(std::move(d));
        }
    }

    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<Datagram> m_seen;
    std::thread m_thread;
};

/// The payload of the datagrams, in order, as one transport-stream file.
inline void write_capture(const std::vector<Datagram>& seen, const std::string& path,
                          std::size_t count = static_cast<std::size_t>(-1)) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < seen.size() && i < count; ++i)
        out.write(seen[i].bytes.data(), static_cast<std::streamsize>(seen[i].bytes.size()));
}

/// Number of sockets of this namespace joined to the group (from /proc/net/igmp).
inline int group_users(const std::string& group) {
    in_addr a{};
    ::inet_pton(AF_INET, group.c_str(), &a);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(a.s_addr));
    std::ifstream in("/proc/net/igmp");
    std::string line;
    int users = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string first;
        int n = 0;
        if (fields >> first >> n && first == hex) users += n;
    }
    return users;
}

inline bool wait_group_users(const std::string& group, int users, int timeout_ms) {
    const std::int64_t end = steady_us() + timeout_ms * 1000ll;
    while (steady_us() < end) {
        if (group_users(group) >= users) return true;
        sleep_ms(10);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Child processes (ffmpeg, ffprobe)

class Child {
public:
    /// Starts the program; standard output goes to out_path ("" keeps ours),
    /// standard error to /dev/null, standard input from /dev/null or, with
    /// stdin_pipe, from a pipe that stdin_fd() writes to.
    Child(const std::vector<std::string>& argv, const std::string& out_path = "",
          bool stdin_pipe = false) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipe_fds[2] = {-1, -1};
        if (stdin_pipe && ::pipe2(pipe_fds, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
            m_stdin = pipe_fds[1];
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        if (!out_path.empty())
            posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
    }
    ~Child() {
        close_stdin();
        if (m_pid > 0 && !m_done) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return m_pid > 0; }
    int stdin_fd() const { return m_stdin; }
    void close_stdin() {
        if (m_stdin >= 0) ::close(m_stdin);
        m_stdin = -1;
    }
    /// Waits for the end; the exit code, or -1.
    int wait() {
        if (m_pid <= 0) return -1;
        if (!m_done) {
            int status = 0;
            rusage usage{};
            if (::wait4(m_pid, &status, 0, &usage) == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                m_cpu_us = usage.ru_utime.tv_sec * 1000000ll + usage.ru_utime.tv_usec +
                           usage.ru_stime.tv_sec * 1000000ll + usage.ru_stime.tv_usec;
            }
            m_done = true;
        }
        return m_status;
    }
    /// Waits up to timeout_ms, then kills it.
    int wait_for(int timeout_ms) {
        const std::int64_t end = steady_us() + timeout_ms * 1000ll;
        while (!m_done && steady_us() < end) {
            int status = 0;
            rusage usage{};
            const pid_t r = ::wait4(m_pid, &status, WNOHANG, &usage);
            if (r == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                m_cpu_us = usage.ru_utime.tv_sec * 1000000ll + usage.ru_utime.tv_usec +
                           usage.ru_stime.tv_sec * 1000000ll + usage.ru_stime.tv_usec;
                m_done = true;
                break;
            }
            sleep_ms(10);
        }
        if (!m_done && m_pid > 0) ::kill(m_pid, SIGKILL);
        return wait();
    }
    /// CPU time (user + system) the child used, known after the wait.
    std::int64_t cpu_us() const { return m_cpu_us; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    bool m_done = false;
    int m_status = -1;
    std::int64_t m_cpu_us = 0;
};

inline std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

/// "codec_name=mp2\nsample_rate=44100\nchannels=1\nbit_rate=128000\n" for the
/// first audio stream of a media file, as ffprobe sees it.
inline std::string probe_audio(const std::string& media_path, const std::string& scratch_path) {
    Child probe({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                 "stream=codec_name,sample_rate,channels,bit_rate", "-of", "default=nw=1",
                 media_path},
                scratch_path);
    probe.wait_for(20000);
    // ffprobe lists the stream under its program too: keep the first listing.
    std::istringstream lines(read_all(scratch_path));
    std::string line, first;
    for (int i = 0; i < 4 && std::getline(lines, line); ++i) first += line + "\n";
    return first;
}

/// Decodes a media file to 16-bit mono samples at 44100 Hz with ffmpeg.
inline std::vector<std::int16_t> decode_file(const std::string& media_path,
                                             const std::string& raw_path) {
    Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", media_path, "-f", "s16le",
                  "-ac", "1", "-ar", "44100", raw_path});
    ffmpeg.wait_for(30000);
    const std::string bytes = read_all(raw_path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

/// How long ffmpeg waits for a datagram, before the first one too. Under
/// ThreadSanitizer libvlc starts several times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int k_receiver_idle_ms = 10000;
#else
constexpr int k_receiver_idle_ms = 3000;
#endif

/// ffmpeg reading the multicast group live and decoding it to 16-bit mono
/// samples at 44100 Hz; it ends by itself idle_ms after the last datagram
/// (an interrupted ffmpeg loses what its demuxer and output still hold).
class LiveReceiver {
public:
    LiveReceiver(const std::string& group, std::uint16_t port, const std::string& raw_path,
                 int idle_ms = k_receiver_idle_ms)
        : m_group(group),
          m_raw_path(raw_path),
          m_users_before(group_users(group)),
          m_child({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                   "udp://" + group + ":" + std::to_string(port) +
                       "?localaddr=127.0.0.1&timeout=" + std::to_string(idle_ms * 1000ll) +
                       "&fifo_size=1000000&overrun_nonfatal=1",
                   "-f", "s16le", "-ac", "1", "-ar", "44100", raw_path}) {}

    /// True once ffmpeg has joined the group.
    bool joined(int timeout_ms = 5000) {
        return m_child.started() && wait_group_users(m_group, m_users_before + 1, timeout_ms);
    }
    /// Waits for ffmpeg to end and returns what it decoded.
    std::vector<std::int16_t> samples(int timeout_ms = 30000) {
        m_child.wait_for(timeout_ms);
        const std::string bytes = read_all(m_raw_path);
        std::vector<std::int16_t> out(bytes.size() / 2);
        if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
        return out;
    }

private:
    std::string m_group;
    std::string m_raw_path;
    int m_users_before;
    Child m_child;
};

// ---------------------------------------------------------------------------
// Tones

constexpr unsigned k_rate = 44100;
constexpr unsigned k_window = k_rate / 20;  // 50 ms

/// Power of one frequency in a window (Goertzel), normalised by the length.
inline double goertzel(const std::int16_t* x, std::size_t n, double freq, double rate = k_rate) {
    const double w = 2.0 * M_PI * freq / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s0 = x[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return power / (double(n) * double(n));
}

/// Per 50 ms window of 44.1 kHz mono: the index of the candidate frequency
/// that clearly dominates it, or -1 for a quiet or ambiguous window.
inline std::vector<int> tone_track(const std::vector<std::int16_t>& samples,
                                   const std::vector<double>& freqs) {
    std::vector<int> track;
    for (std::size_t start = 0; start + k_window <= samples.size(); start += k_window) {
        const std::int16_t* w = samples.data() + start;
        double energy = 0;
        for (std::size_t i = 0; i < k_window; ++i) energy += double(w[i]) * w[i];
        energy /= k_window;
        int best = -1;
        double best_power = 0, second = 0;
        for (std::size_t f = 0; f < freqs.size(); ++f) {
            const double p = goertzel(w, k_window, freqs[f]);
            if (p > best_power) {
                second = best_power;
                best_power = p;
                best = static_cast<int>(f);
            } else if (p > second) {
                second = p;
            }
        }
        // A pure tone of amplitude A gives power A^2/4 and energy A^2/2.
        const bool loud = energy > 1e5;  // about -40 dBFS
        const bool clear = best_power > 0.3 * energy && best_power > 4 * second;
        track.push_back(loud && clear ? best : -1);
    }
    return track;
}

/// How many windows of the track name each candidate.
inline std::vector<int> tone_counts(const std::vector<int>& track, std::size_t candidates) {
    std::vector<int> counts(candidates, 0);
    for (const int t : track)
        if (t >= 0) ++counts[static_cast<std::size_t>(t)];
    return counts;
}

/// Index of the first window that names a candidate, -1 when none does.
inline int first_tone_window(const std::vector<int>& track) {
    for (std::size_t i = 0; i < track.size(); ++i)
        if (track[i] >= 0) return static_cast<int>(i);
    return -1;
}

/// True when the candidates appear in the track in ascending order only.
inline bool tones_in_order(const std::vector<int>& track) {
    int last = -1;
    for (const int t : track) {
        if (t < 0) continue;
        if (t < last) return false;
        last = t;
    }
    return true;
}

/// Interleaved 16-bit PCM: each frequency for segment_ms in turn.
inline std::vector<std::int16_t> stepped_tone(const std::vector<double>& freqs, unsigned segment_ms,
                                              unsigned rate, unsigned channels,
                                              double amplitude = 12000) {
    const std::size_t per_segment = std::size_t{rate} * segment_ms / 1000;
    std::vector<std::int16_t> pcm;
    pcm.reserve(per_segment * freqs.size() * channels);
    double phase = 0;
    for (const double f : freqs) {
        for (std::size_t i = 0; i < per_segment; ++i) {
            const auto v = static_cast<std::int16_t>(amplitude * std::sin(phase));
            for (unsigned c = 0; c < channels; ++c) pcm.push_back(v);
            phase += 2 * M_PI * f / rate;
        }
    }
    return pcm;
}

/// An MP3 file made by LAME's encoder from interleaved 16-bit PCM.
inline bool write_mp3(const std::string& path, const std::vector<std::int16_t>& pcm, unsigned rate,
                      unsigned channels, unsigned bitrate_kbps = 128) {
    lame_global_flags* gf = lame_init();
    if (gf == nullptr) return false;
    lame_set_in_samplerate(gf, static_cast<int>(rate));
    lame_set_out_samplerate(gf, static_cast<int>(rate));
    lame_set_num_channels(gf, static_cast<int>(channels));
    lame_set_mode(gf, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(gf, static_cast<int>(bitrate_kbps));
    lame_set_bWriteVbrTag(gf, 0);
    lame_set_quality(gf, 5);
    if (lame_init_params(gf) < 0) {
        lame_close(gf);
        return false;
    }
    const int frames = static_cast<int>(pcm.size() / channels);
    std::vector<unsigned char> mp3(static_cast<std::size_t>(frames) * 5 / 4 + 7200 + 16384);
    int n;
    if (channels == 1)
        n = lame_encode_buffer(gf, pcm.data(), nullptr, frames, mp3.data(), static_cast<int>(mp3.size()));
    else
        n = lame_encode_buffer_interleaved(gf, const_cast<short*>(pcm.data()), frames, mp3.data(),
                                           static_cast<int>(mp3.size()));
    if (n < 0) {
        lame_close(gf);
        return false;
    }
    const int tail = lame_encode_flush(gf, mp3.data() + n, static_cast<int>(mp3.size()) - n);
    lame_close(gf);
    if (tail < 0) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(mp3.data()), n + tail);
    return static_cast<bool>(out);
}

}  // namespace stream_probe
