#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/sample_clock.h"
#include "base/log.h"

// The common stream's ring, callbacks and configuration, driven as libvlc's
// memory input drives them, without libvlc.

namespace {

struct Pulled {
    std::int64_t pts = 0;
    std::size_t size = 0;
    void* buffer = nullptr;
};

Pulled pull(mp3stream& stream) {
    Pulled p;
    std::int64_t dts = 0;
    unsigned flags = 7;
    EXPECT_EQ(mp3stream::imem_get(&stream, "0", &dts, &p.pts, &flags, &p.size, &p.buffer), 0);
    EXPECT_EQ(dts, -1);
    EXPECT_EQ(flags, 0u);
    return p;
}

void give_back(mp3stream& stream, const Pulled& p) {
    mp3stream::imem_release(&stream, "0", p.size, p.buffer);
}

std::vector<char> block(std::size_t length, char fill) { return std::vector<char>(length, fill); }

bool is_silence(const Pulled& p) {
    const char* bytes = static_cast<const char*>(p.buffer);
    for (std::size_t i = 0; i < p.size; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

class CommonStream : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(stream.set_pcm_fmt(44100, 2, 16)); }
    mp3stream stream{2000};
};

}  // namespace

TEST_F(CommonStream, RingHoldsHalfASecondWhateverTheChunkSizeAndRefusesWithoutWaiting) {
    const auto full = block(8193, 1);
    // Overlong, null and empty writes queue nothing.
    EXPECT_FALSE(stream.write_pcm(full.data(), 8193));
    EXPECT_TRUE(stream.write_pcm(nullptr, 100));
    EXPECT_TRUE(stream.write_pcm(full.data(), 0));
    EXPECT_EQ(stream.queued_ms(), 0u);
    // 44.1 kHz stereo: 576 frames (the old plug-in chunk), an MPEG frame,
    // the whole block, and single frames all fill the ring to the same time.
    for (const std::uint32_t chunk : {2304u, 4608u, 8192u, 4u}) {
        std::uint32_t written = 0;
        while (stream.write_pcm(full.data(), chunk)) written += chunk;
        const double ms = written * 1000.0 / (44100 * 4);
        EXPECT_GE(ms, 500.0) << chunk;
        EXPECT_LT(ms, 500.0 + chunk * 1000.0 / (44100 * 4) + 0.1) << chunk;
        EXPECT_FALSE(stream.has_free_slot());
        // Packed into whole blocks: the ring is emptied by a handful of pulls.
        int pulls = 0;
        std::uint32_t pulled = 0;
        for (Pulled p = pull(stream); !is_silence(p); p = pull(stream)) {
            pulled += static_cast<std::uint32_t>(p.size);
            give_back(stream, p);
            ++pulls;
        }
        EXPECT_EQ(pulled, written) << chunk;
        EXPECT_EQ(pulls, static_cast<int>((written + 8191) / 8192)) << chunk;
        EXPECT_TRUE(stream.has_free_slot());
    }
    // Mono at 8 kHz: half a second is 8000 bytes, one block.
    ASSERT_TRUE(stream.set_pcm_fmt(8000, 1, 16));
    EXPECT_TRUE(stream.write_pcm(full.data(), 6000));
    EXPECT_TRUE(stream.write_pcm(full.data(), 2000));
    EXPECT_FALSE(stream.write_pcm(full.data(), 2));
    EXPECT_EQ(stream.queued_ms(), 500u);
}

TEST_F(CommonStream, ChunksArePackedInWholeFramesNeverIntoTheBlockLibvlcHolds) {
    const auto a = block(4608, 'a');
    ASSERT_TRUE(stream.write_pcm(a.data(), 4608));
    const Pulled held = pull(stream);  // libvlc holds the first block now
    ASSERT_EQ(held.size, 4608u);
    const auto b = block(4608, 'b');
    ASSERT_TRUE(stream.write_pcm(b.data(), 4608));
    ASSERT_TRUE(stream.write_pcm(b.data(), 4608));
    EXPECT_EQ(static_cast<const char*>(held.buffer)[4607], 'a');
    give_back(stream, held);
    // The second block took 3584 bytes (896 frames) of the third chunk, the
    // rest started a block of its own.
    Pulled p = pull(stream);
    EXPECT_EQ(p.size, 8192u);
    give_back(stream, p);
    p = pull(stream);
    EXPECT_EQ(p.size, 1024u);
    EXPECT_EQ(static_cast<const char*>(p.buffer)[0], 'b');
    give_back(stream, p);

    // A chunk of broken frames is queued as it came, and nothing is packed
    // behind it.
    const auto odd = block(1001, 'o');
    ASSERT_TRUE(stream.write_pcm(odd.data(), 1001));
    ASSERT_TRUE(stream.write_pcm(a.data(), 4608));
    EXPECT_EQ(pull(stream).size, 1001u);

    // The notification stream keeps an MPEG frame per block: its end is
    // seen a frame after the last one, not a packed block after.
    mp3streamf notices;
    ASSERT_TRUE(notices.write_pcm(a.data(), 2304));
    ASSERT_TRUE(notices.write_pcm(a.data(), 2304));
    EXPECT_EQ(pull(notices).size, 2304u);
}

TEST_F(CommonStream, BlocksComeOutInOrderAndReleaseFreesOnlyTheOldestNeverTheSilentOne) {
    // libvlc took silence while the ring was empty; a block written meanwhile
    // must survive the release of that silence.
    const Pulled silent = pull(stream);
    const auto a = block(100, 'a');
    const auto b = block(4000, 'b');
    ASSERT_TRUE(stream.write_pcm(a.data(), 100));
    give_back(stream, silent);
    Pulled p = pull(stream);
    ASSERT_EQ(p.size, 100u);
    EXPECT_EQ(std::memcmp(p.buffer, a.data(), 100), 0);
    ASSERT_TRUE(stream.write_pcm(b.data(), 4000));  // a block of its own: libvlc holds a's

    // A foreign pointer frees nothing.
    char other[16] = {};
    mp3stream::imem_release(&stream, "0", sizeof other, other);
    EXPECT_EQ(static_cast<const char*>(pull(stream).buffer)[0], 'a');

    give_back(stream, p);
    p = pull(stream);
    ASSERT_EQ(p.size, 4000u);
    EXPECT_EQ(std::memcmp(p.buffer, b.data(), 4000), 0);
    give_back(stream, p);

    // The silent block stays usable after being handed out and back many times.
    for (int i = 0; i < 5; ++i) {
        const Pulled s = pull(stream);
        EXPECT_EQ(s.buffer, silent.buffer);
        EXPECT_TRUE(is_silence(s));
        give_back(stream, s);
    }
}

TEST_F(CommonStream, SilenceStartIsSetOnceAndClearedByAudio) {
    EXPECT_EQ(stream.silence_start_us(), 0u);
    give_back(stream, pull(stream));
    const std::uint64_t first = stream.silence_start_us();
    EXPECT_NE(first, 0u);
    // Microseconds since 1601: later than 2020-01-01, 13,222,310,400 s after 1601.
    EXPECT_GT(first, 13222310400000000ull);
    give_back(stream, pull(stream));
    give_back(stream, pull(stream));
    EXPECT_EQ(stream.silence_start_us(), first);

    const auto a = block(4096, 3);
    ASSERT_TRUE(stream.write_pcm(a.data(), 4096));
    // Cleared as soon as audio is queued, before libvlc takes it: a short item
    // after an idle gap must not look finished already.
    EXPECT_EQ(stream.silence_start_us(), 0u);
    give_back(stream, pull(stream));
    EXPECT_EQ(stream.silence_start_us(), 0u);
    give_back(stream, pull(stream));
    EXPECT_GE(stream.silence_start_us(), first);
}

TEST_F(CommonStream, AwaitingFillTakesTheNextWriteNotSilenceButWaitsOnlySoLong) {
    using clock = std::chrono::steady_clock;
    const auto ms_since = [](clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t).count();
    };
    const auto frame = block(4608, 5);  // one MPEG frame of 44.1 kHz stereo

    // The feeder is writing a track: libvlc gets its next frame, however late.
    stream.set_await_fill(true);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(stream.write_pcm(frame.data(), 4608));
    });
    const Pulled p = pull(stream);
    writer.join();
    EXPECT_EQ(p.size, 4608u);
    EXPECT_FALSE(is_silence(p));
    give_back(stream, p);
    EXPECT_EQ(stream.silence_start_us(), 0u);

    // A feeder that stalls is not waited for past the limit: the stream keeps its pace.
    auto start = clock::now();
    const Pulled late = pull(stream);
    EXPECT_GE(ms_since(start), mp3stream::fill_wait_ms - 5);
    EXPECT_TRUE(is_silence(late));
    give_back(stream, late);

    // Off, an empty ring is silence at once.
    stream.set_await_fill(false);
    start = clock::now();
    const Pulled idle = pull(stream);
    EXPECT_LT(ms_since(start), mp3stream::fill_wait_ms);
    EXPECT_TRUE(is_silence(idle));
    give_back(stream, idle);
}

TEST_F(CommonStream, TheTailCountsFromTheLastBlockLibvlcTook) {
    // Silence since the start carries nothing to wait for.
    give_back(stream, pull(stream));
    ASSERT_NE(stream.silence_start_us(), 0u);
    EXPECT_EQ(stream.drained_at_us(), 0u);
    EXPECT_EQ(stream.drained_tail_ms(stream.silence_start_us()), 0u);

    const auto a = block(8192, 5);
    ASSERT_TRUE(stream.write_pcm(a.data(), 8192));
    ASSERT_TRUE(stream.write_pcm(a.data(), 8192));
    give_back(stream, pull(stream));
    EXPECT_EQ(stream.drained_at_us(), 0u) << "still queued: a stop may drop it";
    EXPECT_TRUE(stream.has_queued_audio());
    const Pulled last = pull(stream);
    EXPECT_TRUE(stream.has_queued_audio()) << "libvlc holds it";
    give_back(stream, last);
    EXPECT_FALSE(stream.has_queued_audio());
    const std::uint64_t dry = stream.drained_at_us();
    ASSERT_NE(dry, 0u);
    EXPECT_EQ(stream.drained_tail_ms(dry), 2000u);
    EXPECT_EQ(stream.drained_tail_ms(dry + 1500000), 500u);
    EXPECT_EQ(stream.drained_tail_ms(dry + 1999001), 1u);
    EXPECT_EQ(stream.drained_tail_ms(dry + 2000000), 0u);
    EXPECT_EQ(stream.drained_tail_ms(dry - 7), 2000u) << "a clock behind the stamp waits the whole time";
    give_back(stream, pull(stream));  // silence follows; the drain time stays
    EXPECT_EQ(stream.drained_at_us(), dry);

    // Queued again: nothing to wait for until that has gone too.
    ASSERT_TRUE(stream.write_pcm(a.data(), 8192));
    EXPECT_EQ(stream.drained_tail_ms(dry), 0u);
    give_back(stream, pull(stream));
    EXPECT_GE(stream.drained_at_us(), dry);

    // A stop drops what libvlc held: nothing is left to wait for.
    EXPECT_FALSE(stream.stream_stop());
    EXPECT_EQ(stream.drained_at_us(), 0u);
    EXPECT_EQ(stream.drained_tail_ms(dry), 0u);
}

TEST_F(CommonStream, TimeStampsCarryTheRemainder) {
    // 8192 bytes of 44.1 kHz stereo are 2048 frames: 46,439.9 microseconds.
    std::int64_t last = 0;
    for (int i = 1; i <= 21; ++i) {
        const Pulled p = pull(stream);
        const std::int64_t step = p.pts - last;
        EXPECT_TRUE(step == 46439 || step == 46440) << "step " << i << ": " << step;
        last = p.pts;
        give_back(stream, p);
    }
    // 21 x 2048 + 1092 = 44100 frames: exactly one second.
    const auto rest = block(1092 * 4, 0);
    ASSERT_TRUE(stream.write_pcm(rest.data(), 1092 * 4));
    EXPECT_EQ(pull(stream).pts, 1000000);
}

TEST(SampleClock, NoTimeIsLostHoweverFramesAreSplit) {
    sample_clock clock;
    sample_clock_set_rate(clock, 44100);
    EXPECT_EQ(sample_clock_increment(clock, 2048), 46439);
    EXPECT_EQ(sample_clock_increment(clock, 2048), 92879);
    const std::uint32_t splits[] = {1, 577, 1152, 3, 4096, 999};
    std::uint64_t frames = 4096;
    for (int round = 0; frames < 44100u * 10; ++round) {
        const std::uint32_t n = splits[round % 6];
        sample_clock_increment(clock, n);
        frames += n;
    }
    EXPECT_EQ(clock.date, static_cast<std::int64_t>(frames * 1000000 / 44100));

    // A new rate keeps the date and steps in the new unit.
    const std::int64_t before = clock.date;
    sample_clock_set_rate(clock, 22050);
    EXPECT_EQ(sample_clock_increment(clock, 22050), before + 1000000);
}

TEST_F(CommonStream, MonoFramesAreCountedByTheInputFormat) {
    ASSERT_TRUE(stream.set_pcm_fmt(44100, 1, 16));
    // 8192 bytes of mono are 4096 frames.
    const Pulled p = pull(stream);
    EXPECT_TRUE(p.pts == 92879 || p.pts == 92880) << p.pts;
}

TEST_F(CommonStream, FormatBitrateAndTtlBounds) {
    EXPECT_TRUE(stream.set_pcm_fmt(44100, 2, 16));  // unchanged: nothing to do
    const struct {
        unsigned rate, channels, bits;
        bool taken;
    } formats[] = {{7999, 2, 16, false}, {48001, 2, 16, false}, {44100, 3, 16, false}, {44100, 0, 16, false},
                   {44100, 2, 8, false}, {8000, 1, 16, true},   {48000, 2, 16, true}};
    for (const auto& f : formats)
        EXPECT_EQ(stream.set_pcm_fmt(f.rate, f.channels, f.bits), f.taken) << f.rate << " " << f.channels << " " << f.bits;
    const std::pair<unsigned, bool> bitrates[] = {{32, true}, {160, true}, {31, false}, {161, false}};
    for (const auto& bitrate : bitrates) EXPECT_EQ(stream.set_stream_fmt(bitrate.first), bitrate.second) << bitrate.first;
    const std::pair<unsigned, bool> ttls[] = {{0, false}, {1, true}, {255, true}};
    for (const auto& ttl : ttls) EXPECT_EQ(stream.set_stream_ttl(ttl.first), ttl.second) << ttl.first;
}

TEST_F(CommonStream, StopWithoutPlayerDropsTheQueue) {
    const auto a = block(8192, 9);
    while (stream.write_pcm(a.data(), 8192)) {
    }
    EXPECT_FALSE(stream.stream_start());  // no libvlc objects: nothing runs
    EXPECT_FALSE(stream.is_streaming());
    EXPECT_FALSE(stream.stream_stop());
    EXPECT_TRUE(stream.has_free_slot());
    EXPECT_EQ(stream.queued_ms(), 0u);
    EXPECT_TRUE(is_silence(pull(stream)));
    // Closing a stream that never made libvlc objects is harmless, twice.
    stream.libvlc_close();
    stream.libvlc_close();
}

using CommonStreamDeathTest = CommonStream;

// The fatal stop logs the failed condition; a console log shows it to the
// death test.
#define EXPECT_FATAL(statement, condition)                                      \
    EXPECT_EXIT(                                                                \
        {                                                                       \
            base::Log::create(L"", base::Log::TRACE, true);                    \
            statement;                                                          \
        },                                                                      \
        ::testing::ExitedWithCode(1), condition)

TEST_F(CommonStreamDeathTest, BrokenPreconditionsEndTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // libvlc runs threads
    EXPECT_FATAL(mp3stream(99), "buffer_time_ms < 100");
    {
        mp3stream shortest(100);  // the notification stream's 500 must pass, and so does 100
    }
    mp3stream unformatted(2000);
    unformatted.set_stream_endp("224.0.224.1:11991");
    unformatted.set_stream_fmt(128);
    unformatted.libvlc_create();
    EXPECT_FATAL(unformatted.libvlc_imem_create(), "m_pcm_samplerate == 0");
    EXPECT_FATAL(unformatted.libvlc_create(), "m_libvlc_inst != NULL");
    EXPECT_FATAL(unformatted.set_stream_endp("224.0.224.1:1"), "is_stream_created\\(\\) == true");
    EXPECT_FATAL(unformatted.set_stream_fmt(64), "is_stream_created");
    EXPECT_FATAL(unformatted.set_stream_ttl(2), "is_stream_created");

    mp3stream twice(2000);
    twice.set_pcm_fmt(44100, 2, 16);
    twice.set_stream_endp("224.0.224.1:11991");
    twice.set_stream_fmt(128);
    twice.libvlc_create();
    twice.libvlc_imem_create();
    EXPECT_FATAL(twice.libvlc_imem_create(), "get_media\\(m_libvlc_media_player\\) != NULL");
    // A format change after creation rebuilds the media instead of failing.
    EXPECT_TRUE(twice.set_pcm_fmt(22050, 1, 16));
}
