#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "base/clock.h"
#include "tools/stream_probe.h"

// What the tests that hear a stream on its multicast group share.

namespace wire_test {

/// The common stream fed 44.1 kHz stereo and sending 128 kbit/s from
/// 127.0.0.1 to the group, its libvlc objects made.
inline void open_common_stream(mp3stream& stream, const std::string& group, std::uint16_t port, unsigned ttl = 1) {
    EXPECT_TRUE(stream.set_pcm_fmt(44100, 2, 16));
    stream.set_stream_endp((group + ":" + std::to_string(port)).c_str());
    EXPECT_TRUE(stream.set_stream_fmt(128));
    EXPECT_TRUE(stream.set_stream_ttl(ttl));
    stream.set_address_interface("127.0.0.1", 9);
    stream.libvlc_create();
    stream.libvlc_imem_create();
}

inline std::unique_ptr<mp3stream> make_common_stream(const std::string& group, std::uint16_t port, unsigned ttl = 1) {
    auto stream = std::make_unique<mp3stream>(2000);
    open_common_stream(*stream, group, port, ttl);
    return stream;
}

/// Stops the stream once the audio libvlc took last has had the buffer time
/// to leave it, as the engine does after a track's end; false when audio is
/// still queued after the timeout.
inline bool stop_when_sent(mp3stream& stream, int timeout_ms = 10000) {
    const std::int64_t end = stream_probe::steady_us() + timeout_ms * 1000ll;
    bool sent = false;
    while (!(sent = stream.drained_tail_ms(static_cast<std::uint64_t>(nowMicroseconds())) == 0 &&
                    stream.queued_ms() == 0) &&
           stream_probe::steady_us() < end)
        stream_probe::sleep_ms(10);
    stream.stream_stop();
    return sent;
}

/// Continuity-counter errors of the transport stream in the datagrams, read
/// as one stream: a payload packet whose counter is neither the next one of
/// its PID nor a single repetition. A restarted stream counts its jumps.
inline int cc_errors(const std::vector<stream_probe::Datagram>& datagrams) {
    std::vector<int> last(8192, -1);
    int errors = 0;
    for (const auto& d : datagrams) {
        for (std::size_t at = 0; at + 188 <= d.bytes.size(); at += 188) {
            const auto* p = reinterpret_cast<const unsigned char*>(d.bytes.data()) + at;
            const unsigned pid = (unsigned(p[1] & 0x1F) << 8) | p[2];
            if (p[0] != 0x47 || pid == 0x1FFF || (p[3] & 0x10) == 0) continue;
            const int cc = p[3] & 0x0F;
            if (last[pid] >= 0 && cc != ((last[pid] + 1) & 0x0F) && cc != last[pid]) ++errors;
            last[pid] = cc;
        }
    }
    return errors;
}

/// What was heard before the first tone came again after the last one (a
/// repeating playlist starting over).
inline std::vector<std::int16_t> until_repeat(const std::vector<std::int16_t>& heard, const std::vector<double>& tones) {
    const auto track = stream_probe::tone_track(heard, tones);
    bool last_seen = false;
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i] + 1 == static_cast<int>(tones.size())) last_seen = true;
        if (last_seen && track[i] == 0)
            return std::vector<std::int16_t>(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(i * stream_probe::k_window));
    }
    return heard;
}

/// Each tone heard for at least `min_windows` 50 ms windows, all in order;
/// returns the track.
inline std::vector<int> expect_tones_whole(const std::vector<std::int16_t>& heard, const std::vector<double>& tones,
                                           int min_windows) {
    const auto track = stream_probe::tone_track(heard, tones);
    const auto counts = stream_probe::tone_counts(track, tones.size());
    for (std::size_t i = 0; i < tones.size(); ++i)
        EXPECT_GE(counts[i], min_windows) << tones[i] << " Hz: " << ::testing::PrintToString(counts);
    EXPECT_TRUE(stream_probe::tones_in_order(track)) << ::testing::PrintToString(track);
    return track;
}

}  // namespace wire_test
