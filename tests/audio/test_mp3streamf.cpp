#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3streamf.h"
#include "tools/stream_probe.h"
#include "tests/support/temp_dir.h"

// The notification stream's decoder thread without libvlc: LAME-made MP3 files
// decoded into the ring, taken out through the memory-input callbacks.

using namespace stream_probe;

namespace {

const std::vector<double> k_tones = {400, 600, 800, 1000, 1200, 1400};
// The tones and then 300 ms of silence: without libvlc nothing holds the end
// of a play until the ring is empty, so the stop that follows may drop the
// last few queued frames; the silence takes that loss.
const std::vector<double> k_tones_then_silence = {400, 600, 800, 1000, 1200, 1400, 0};

/// Takes every queued block (as queued: interleaved when stereo) until the
/// done event is set and the ring is empty (or the time is up). Silent
/// blocks handed out meanwhile are dropped.
std::vector<std::int16_t> take_until_done(mp3streamf& stream, sync_event& done, int timeout_ms = 10000) {
    std::vector<std::int16_t> taken;
    const std::int64_t end = steady_us() + timeout_ms * 1000ll;
    while (steady_us() < end) {
        std::int64_t dts, pts;
        unsigned flags;
        std::size_t size;
        void* buffer;
        mp3stream::imem_get(&stream, "0", &dts, &pts, &flags, &size, &buffer);
        const bool silent = stream.silence_start_us() != 0;
        if (!silent) {
            const auto* samples = static_cast<const std::int16_t*>(buffer);
            taken.insert(taken.end(), samples, samples + size / 2);
        }
        mp3stream::imem_release(&stream, "0", size, buffer);
        if (silent) {
            if (done.is_set()) break;
            sleep_ms(2);
        }
    }
    return taken;
}

class NotificationDecoder : public ::testing::Test {
protected:
    std::string mp3(const std::string& name, const std::vector<double>& tones, unsigned rate,
                    unsigned channels, unsigned segment_ms = 300) {
        const std::string path = dir.path() + "/" + name;
        EXPECT_TRUE(write_mp3(path, stepped_tone(tones, segment_ms, rate, channels), rate, channels));
        return path;
    }
    std::wstring wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

    testing_support::TempDir dir{"mp3streamf"};
    sync_event done{true};  // outlives the stream, which may still signal it
    mp3streamf stream;
};

}  // namespace

TEST_F(NotificationDecoder, MonoFileIsDecodedWholeInItsOwnFormat) {
    const auto path = mp3("mono.mp3", k_tones_then_silence, 44100, 1);
    ASSERT_TRUE(stream.play_file(0, wide(path), &done));
    const auto taken = take_until_done(stream, done);
    EXPECT_TRUE(done.is_set());
    // 44.1 kHz mono: 8192 bytes of silence are 4096 frames.
    std::int64_t dts, pts1, pts2;
    unsigned flags;
    std::size_t size;
    void* buffer;
    mp3stream::imem_get(&stream, "0", &dts, &pts1, &flags, &size, &buffer);
    mp3stream::imem_get(&stream, "0", &dts, &pts2, &flags, &size, &buffer);
    EXPECT_NEAR(static_cast<double>(pts2 - pts1), 92880, 1);

    // Six tones of 300 ms: six windows each, a boundary window may blur.
    const auto counts = tone_counts(tone_track(taken, k_tones), k_tones.size());
    for (std::size_t i = 0; i < k_tones.size(); ++i) EXPECT_GE(counts[i], 5) << k_tones[i];
    EXPECT_GE(taken.size(), 44100u * 18 / 10);
}

TEST_F(NotificationDecoder, FileThatChangesRateStopsAtTheChange) {
    const auto first = mp3("a.mp3", {k_tones[0], k_tones[1], 0}, 44100, 1);
    const auto second = mp3("b.mp3", {k_tones[4], k_tones[5]}, 32000, 1);
    const std::string joined = dir.path() + "/joined.mp3";
    {
        std::ofstream out(joined, std::ios::binary);
        out << testing_support::readFile(first) << testing_support::readFile(second);
    }
    ASSERT_TRUE(stream.play_file(0, wide(joined), &done));
    const auto taken = take_until_done(stream, done);
    const auto counts = tone_counts(tone_track(taken, k_tones), k_tones.size());
    EXPECT_GE(counts[0], 5);
    EXPECT_GE(counts[1], 4);
    EXPECT_EQ(counts[4] + counts[5], 0) << "played past the change of rate";
}

TEST_F(NotificationDecoder, OnlyMp3FilesThatExistArePlayed) {
    const auto path = mp3("upper.mp3", {k_tones[0]}, 44100, 1);
    const std::string upper = dir.path() + "/MESSAGE.MP3";
    std::rename(path.c_str(), upper.c_str());
    EXPECT_TRUE(stream.play_file(0, wide(upper), &done));
    take_until_done(stream, done);

    const std::string wav = dir.path() + "/message.wav";
    std::ofstream(wav) << "RIFF";
    EXPECT_FALSE(stream.play_file(0, wide(wav), nullptr));
    EXPECT_FALSE(stream.play_file(0, wide(dir.path() + "/missing.mp3"), nullptr));
    EXPECT_FALSE(stream.play_file(0, L"mp3", nullptr));
}

TEST_F(NotificationDecoder, StopRightAfterPlayReallyStops) {
    // The stop must not find the thread still "stopped" from before and
    // return, leaving the file to play on.
    const std::int64_t idle = steady_us();
    stream.stop();  // while idle: at once
    stream.stop();
    EXPECT_LT(steady_us() - idle, 50000);
    const auto path = mp3("long.mp3", k_tones, 44100, 1, 1000);
    for (int round = 0; round < 3; ++round) {
        done.reset();
        ASSERT_TRUE(stream.play_file(0, wide(path), &done));
        stream.stop();
        EXPECT_TRUE(done.is_set());
        const auto first = take_until_done(stream, done, 200);
        sleep_ms(100);
        const auto later = take_until_done(stream, done, 200);
        EXPECT_LE(first.size(), 1152u) << "round " << round;  // one frame at most
        EXPECT_TRUE(later.empty()) << "round " << round;
    }
}

TEST_F(NotificationDecoder, StopMidFileEndsEarlyAndSignalsDone) {
    const auto path = mp3("long.mp3", k_tones, 44100, 1, 1000);
    ASSERT_TRUE(stream.play_file(0, wide(path), &done));
    // Take about one second, then stop: no decoding after the stop returns.
    std::vector<std::int16_t> taken;
    for (int i = 0; i < 40 && taken.size() < 44100; ++i) {
        const auto part = take_until_done(stream, done, 25);
        taken.insert(taken.end(), part.begin(), part.end());
    }
    stream.stop();
    EXPECT_TRUE(done.is_set());
    const auto rest = take_until_done(stream, done, 300);
    EXPECT_LE(rest.size(), 8u * 1152u);  // the stop dropped or left at most a ring
    const auto counts = tone_counts(tone_track(taken, k_tones), k_tones.size());
    EXPECT_EQ(counts[5], 0);
}

TEST_F(NotificationDecoder, DestroyedWhilePlaying) {
    auto playing = std::make_unique<mp3streamf>();
    const auto path = mp3("long.mp3", k_tones, 44100, 1, 1000);
    ASSERT_TRUE(playing->play_file(0, wide(path), &done));
    sleep_ms(50);
    const std::int64_t start = steady_us();
    playing.reset();  // the ring is full and nobody takes from it
    EXPECT_LT(steady_us() - start, 1000000);
    EXPECT_TRUE(done.is_set());
}
