#pragma once

// What a listener meets when one item of the common stream follows another,
// measured from a capture of the group: the datagrams with their arrival
// times (wall clock), decoded by ffmpeg, tones named per 50 ms window.
//
// Dead air between two items has two parts: silence inside the decoded
// audio, and time in which no audio was sent at all (a decoder joins the
// audio across it, a loudspeaker runs dry). The second is the excess of the
// arrival time over the audio time between the datagram that completes the
// first item's last tone and the one that starts the second item's tone.
// Header-only, shared by bench_plugins and bench_stream.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tools/soak/ts_monitor.h"
#include "tools/stream_probe.h"

namespace wire_gap {

using stream_probe::Datagram;

/// The datagrams that carry the stream (keep-alives are empty).
inline std::vector<Datagram> stream_only(const std::vector<Datagram>& seen) {
    std::vector<Datagram> out;
    for (const Datagram& d : seen)
        if (!d.bytes.empty()) out.push_back(d);
    return out;
}

/// Continuity-counter errors over the whole capture, as one stream: a new
/// mux (a restarted stream) counts with the jumps it makes.
inline std::uint64_t cc_errors(const std::vector<Datagram>& stream) {
    soak::TsMonitor monitor;
    for (const Datagram& d : stream)
        monitor.datagram(reinterpret_cast<const std::uint8_t*>(d.bytes.data()), d.bytes.size(), d.at_us);
    return monitor.figures().ccErrors;
}

inline std::size_t source_ports(const std::vector<Datagram>& stream) {
    std::set<unsigned> ports;
    for (const Datagram& d : stream) ports.insert(d.from_port);
    return ports.size();
}

/// Keep-alive datagrams that arrived between the first and the last datagram
/// of the stream (they must never overlap).
inline int keepalives_inside(const std::vector<Datagram>& seen) {
    std::int64_t first = 0, last = 0;
    for (const Datagram& d : seen)
        if (!d.bytes.empty()) {
            if (first == 0) first = d.at_us;
            last = d.at_us;
        }
    int inside = 0;
    for (const Datagram& d : seen)
        if (d.bytes.empty() && d.at_us > first && d.at_us < last) ++inside;
    return inside;
}

/// Decodes the capture and the prefixes of it that locate samples.
class Capture {
public:
    Capture(std::vector<Datagram> stream, const std::string& scratch)
        : m_stream(std::move(stream)), m_scratch(scratch) {
        stream_probe::write_capture(m_stream, m_scratch + ".ts");
        m_samples = stream_probe::decode_file(m_scratch + ".ts", m_scratch + ".raw");
    }

    const std::vector<std::int16_t>& samples() const { return m_samples; }
    const std::vector<Datagram>& stream() const { return m_stream; }

    /// Decoded samples of the first k datagrams.
    std::size_t decoded(std::size_t k) {
        write_capture(m_stream, m_scratch + "-part.ts", k);
        return stream_probe::decode_file(m_scratch + "-part.ts", m_scratch + "-part.raw").size();
    }
    /// The smallest k whose decoded prefix holds the sample; its decoded size.
    std::pair<std::size_t, std::size_t> datagram_holding(std::size_t sample) {
        std::size_t lo = 1, hi = m_stream.size();
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (decoded(mid) > sample) hi = mid;
            else lo = mid + 1;
        }
        return {lo, decoded(lo)};
    }

private:
    std::vector<Datagram> m_stream;
    std::string m_scratch;
    std::vector<std::int16_t> m_samples;
};

struct Change {
    bool found = false;
    double decoded_silence_ms = 0;  // quiet samples between the two tones
    double stall_ms = 0;            // time in which no audio went out
    double wall_gap_ms() const { return decoded_silence_ms + stall_ms; }
};

/// The change from tone `from` to tone `to` (indexes into the track).
inline Change change_between(Capture& capture, const std::vector<int>& track, int from, int to) {
    using stream_probe::k_window;
    Change change;
    int last_from = -1, first_to = -1;
    for (std::size_t i = 0; i < track.size(); ++i) {
        if (track[i] == from) last_from = static_cast<int>(i);
        if (track[i] == to && first_to < 0) first_to = static_cast<int>(i);
    }
    if (last_from < 0 || first_to < 0 || first_to <= last_from) return change;
    change.found = true;
    const auto& x = capture.samples();
    // The longest quiet run from inside the last window of one tone to inside
    // the first of the next: windows are too coarse for a gap of tens of ms.
    const std::size_t begin = static_cast<std::size_t>(last_from) * k_window;
    const std::size_t end = std::min(x.size(), static_cast<std::size_t>(first_to + 1) * k_window);
    std::size_t run = 0, longest = 0, longest_end = begin;
    for (std::size_t i = begin; i < end; ++i) {
        run = std::abs(static_cast<int>(x[i])) < 300 ? run + 1 : 0;
        if (run > longest) {
            longest = run;
            longest_end = i + 1;
        }
    }
    change.decoded_silence_ms = longest * 1000.0 / stream_probe::k_rate;
    // Locate the audio just before and just after that quiet run, and
    // compare arrival time with audio time on either side: in a stream that
    // never paused the two keep the same offset. One datagram carries about
    // 50 ms of audio, so the offset is taken as the median of a few
    // datagrams each side.
    const std::size_t before = longest > 0 ? longest_end - longest : (begin + end) / 2;
    const std::size_t after = longest > 0 ? longest_end : before + 1;
    const std::size_t a = capture.datagram_holding(before == 0 ? 0 : before - 1).first;
    const std::size_t b = capture.datagram_holding(after).first;
    const auto offset_ms = [&capture](std::size_t k) {
        return capture.stream()[k - 1].at_us / 1000.0 - capture.decoded(k) * 1000.0 / stream_probe::k_rate;
    };
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    constexpr std::size_t k_side = 6;
    std::vector<double> ahead, behind;
    for (std::size_t k = a > k_side ? a - k_side : 1; k <= a; ++k) ahead.push_back(offset_ms(k));
    for (std::size_t k = b; k <= std::min(capture.stream().size(), b + k_side); ++k) behind.push_back(offset_ms(k));
    change.stall_ms = std::max(0.0, median(behind) - median(ahead));
    return change;
}

/// The silence the items bring themselves to a change from the first to the
/// second (an MP3 encoder's delay and padding): quiet samples at the end of
/// the one and at the start of the other, decoded by ffmpeg.
inline double own_silence_ms(const std::string& first, const std::string& second, const std::string& scratch) {
    const auto quiet = [](int sample) { return std::abs(sample) < 300; };
    const auto a = stream_probe::decode_file(first, scratch + "-a.raw");
    const auto b = stream_probe::decode_file(second, scratch + "-b.raw");
    std::size_t n = 0;
    for (auto it = a.rbegin(); it != a.rend() && quiet(*it); ++it) ++n;
    for (auto it = b.begin(); it != b.end() && quiet(*it); ++it) ++n;
    return n * 1000.0 / stream_probe::k_rate;
}

/// Every tone named for at least `min_windows` windows, in order, and no
/// window inside a tone's stretch named otherwise or quiet; returns the
/// windows that broke a tone's stretch.
inline int broken_windows(const std::vector<int>& track, std::size_t tones, int min_windows, bool* whole) {
    const auto counts = stream_probe::tone_counts(track, tones);
    *whole = stream_probe::tones_in_order(track);
    for (const int c : counts)
        if (c < min_windows) *whole = false;
    int broken = 0;
    for (std::size_t t = 0; t < tones; ++t) {
        int first = -1, last = -1;
        for (std::size_t i = 0; i < track.size(); ++i)
            if (track[i] == static_cast<int>(t)) {
                if (first < 0) first = static_cast<int>(i);
                last = static_cast<int>(i);
            }
        for (int i = first; first >= 0 && i <= last; ++i)
            if (track[static_cast<std::size_t>(i)] != static_cast<int>(t)) ++broken;
    }
    return broken;
}

}  // namespace wire_gap
