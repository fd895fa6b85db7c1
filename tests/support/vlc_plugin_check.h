#pragma once

// Shared by the in_vlc tests: a tone file made by a real encoder (LAME, or
// ffmpeg for the other formats) and the check that the PCM in_vlc wrote
// holds its tones whole and in order, judged by a Goertzel filter.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/stream_probe.h"

namespace testing_support {

/// Four tones of 400 ms each, mono 44.1 kHz.
inline const std::vector<double>& vlcTestTones() {
    static const std::vector<double> tones = {440, 880, 1320, 1760};
    return tones;
}

inline std::vector<std::int16_t> vlcTestPcm() {
    return stream_probe::stepped_tone(vlcTestTones(), 400, 44100, 1);
}

/// The tones encoded by ffmpeg into path (the format follows the extension).
inline bool encodeWithFfmpeg(const std::string& wavPath, const std::string& path) {
    stream_probe::Child ffmpeg({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", wavPath, path});
    return ffmpeg.wait_for(30000) == 0;
}

/// Each tone is heard for most of its 400 ms, in order. PCM of 44.1 kHz;
/// stereo is folded to mono first.
inline void expectTonesInOrder(const std::vector<std::int16_t>& written, int channels) {
    std::vector<std::int16_t> mono;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= written.size(); i += static_cast<size_t>(channels)) {
        int sum = 0;
        for (int c = 0; c < channels; ++c) sum += written[i + static_cast<size_t>(c)];
        mono.push_back(static_cast<std::int16_t>(sum / channels));
    }
    const auto track = stream_probe::tone_track(mono, vlcTestTones());
    const auto counts = stream_probe::tone_counts(track, vlcTestTones().size());
    for (size_t i = 0; i < counts.size(); ++i)
        EXPECT_GE(counts[i], 6) << "tone " << vlcTestTones()[i] << " Hz heard in " << counts[i]
                                << " windows of 8";
    EXPECT_TRUE(stream_probe::tones_in_order(track));
}

}  // namespace testing_support
