// in_wav driven through a fake host.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fake_plugin_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_file.h"
#include "tools/plugins/plugin_trace.h"
#include "tools/stream_probe.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<double> kTones = {440, 880, 1320};

class InWav : public ::testing::Test {
protected:
    std::string writeWav(const std::string& name, const std::vector<std::int16_t>& pcm, unsigned rate,
                         unsigned channels) {
        const std::string path = m_dir.path() + "/" + name;
        writeBytes(path, wavFile(pcm, rate, channels));
        return path;
    }
    std::string tracePath() const { return m_dir.path() + "/trace.txt"; }

    TempDir m_dir{"sonvar-in-wav"};
};

}  // namespace

TEST_F(InWav, WritesEveryFrameInOrderThenPostsEofAfterSilence) {
    const auto pcm = stream_probe::stepped_tone(kTones, 300, 44100, 2);
    const std::string path = writeWav("tones.wav", pcm, 44100, 2);
    ScopedEnv trace(PLUGIN_TRACE_ENV, tracePath().c_str());
    FakePluginHost host(productPlugin("in_wav.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();

    ASSERT_EQ(host.module()->Play(const_cast<char*>(path.c_str())), 0);
    ASSERT_TRUE(host.waitEof(10000));
    EXPECT_EQ(host.pcm(), pcm);  // bit-exact: nothing lost, doubled or reordered
    EXPECT_EQ(host.openRate, 44100);
    EXPECT_EQ(host.openChannels, 2);
    EXPECT_EQ(host.openBits, 16);
    // Whole 8192-byte chunks, the last one short: few writes fill the
    // output's ring quickly.
    const auto sizes = host.writeSizes();
    ASSERT_FALSE(sizes.empty());
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 8192) << i;
    EXPECT_LE(sizes.back(), 8192);
    EXPECT_GT(host.saCalls, 0);
    EXPECT_EQ(host.saCalls, host.vsaCalls);
    EXPECT_EQ(host.savsaInits, 1);
    // The end is posted, never sent, and only once the output was silent.
    EXPECT_GE(host.eofAt(), host.silentSince);
    EXPECT_EQ(host.eofCount(), 1);

    char title[2048] = {};
    int length = 0;
    host.module()->GetFileInfo(nullptr, title, &length);
    EXPECT_STREQ(title, "tones.wav");
    EXPECT_EQ(length, 900);

    host.module()->Stop();
    EXPECT_EQ(host.closes, 1);
    stream_probe::sleep_ms(50);
    EXPECT_EQ(host.eofCount(), 1);

    // Init asked the host for its version and its folders (IPC 0, 334-337).
    const std::string lines = readFile(tracePath());
    EXPECT_NE(lines.find("in_wav ipc 0 20497\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(std::string(" ") + FakePluginHost::kIniFile + "\n"), std::string::npos);
    EXPECT_NE(lines.find(std::string(" ") + FakePluginHost::kPluginDir + "\n"), std::string::npos);
    EXPECT_NE(lines.find("in_wav open 44100 2 16 -> 2000"), std::string::npos);
    const std::vector<intptr_t> expected = {0, 334, 335, 336, 337};
    EXPECT_EQ(host.sentCodes(), expected);
}

TEST_F(InWav, RetriesRefusedWritesWithoutLosingOrDoublingSamples) {
    // Mono at 8 kHz and a DSP that negates: what is written is the DSP's
    // output, and each refused Write is repeated with the same block.
    std::vector<std::int16_t> pcm(8000 * 2 / 5 + 123);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>(i % 30000 + 1);
    const std::string path = writeWav("mono.wav", pcm, 8000, 1);
    FakePluginHost host(productPlugin("in_wav.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();
    host.holdBack = true;
    host.negatingDsp = true;

    ASSERT_EQ(host.module()->Play(const_cast<char*>(path.c_str())), 0);
    ASSERT_TRUE(host.waitEof(10000));
    std::vector<std::int16_t> negated(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) negated[i] = static_cast<std::int16_t>(-pcm[i]);
    EXPECT_EQ(host.pcm(), negated);
    EXPECT_GT(host.refusedWrites, 0);
    EXPECT_GT(host.dspCalls, 0);
    EXPECT_EQ(host.misalignedWrites, 0);
}

TEST_F(InWav, StopEndsABlockedPlayQuicklyAndPostsNothing) {
    const auto pcm = stream_probe::stepped_tone(kTones, 3000, 48000, 2);
    const std::string path = writeWav("long.wav", pcm, 48000, 2);
    FakePluginHost host(productPlugin("in_wav.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();

    host.byteBudget = 8192 * 4;  // then the output is full
    ASSERT_EQ(host.module()->Play(const_cast<char*>(path.c_str())), 0);
    ASSERT_TRUE(host.waitSamples(2048 * 2 * 4, 5000));
    stream_probe::sleep_ms(50);
    const auto before = Clock::now();
    host.module()->Stop();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(200));
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(host.pcm().size(), 2048u * 2 * 4);
    stream_probe::sleep_ms(200);
    EXPECT_EQ(host.eofCount(), 0);

    // Stop after Stop, and a new Play after it, work as from fresh.
    host.module()->Stop();
    EXPECT_EQ(host.closes, 1);
    host.byteBudget = -1;
    const std::string shortPath = writeWav("short.wav", std::vector<std::int16_t>(2000, 7), 8000, 2);
    ASSERT_EQ(host.module()->Play(const_cast<char*>(shortPath.c_str())), 0);
    EXPECT_TRUE(host.waitEof(5000));
}

TEST_F(InWav, PlayFailsCleanlyOnWhatItCannotPlay) {
    FakePluginHost host(productPlugin("in_wav.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();
    const std::string eightBit = m_dir.path() + "/eight.wav";
    writeBytes(eightBit, riffWave(wavChunk("fmt ", wavFormat(1, 1, 8000, 8)) + wavChunk("data", "abcd")));
    const std::string text = m_dir.path() + "/text.wav";
    writeBytes(text, "not a sound file at all");
    const std::string missing = m_dir.path() + "/missing.wav";
    for (const auto& path : {eightBit, text, missing})
        EXPECT_NE(host.module()->Play(const_cast<char*>(path.c_str())), 0) << path;
    EXPECT_EQ(host.opens, 0);

    // The output module refusing the format fails Play too, with no thread
    // left behind and nothing to close.
    host.refuseOpen = true;
    const std::string good = writeWav("good.wav", std::vector<std::int16_t>(800, 1), 8000, 1);
    EXPECT_NE(host.module()->Play(const_cast<char*>(good.c_str())), 0);
    EXPECT_EQ(host.opens, 1);
    host.module()->Stop();
    EXPECT_EQ(host.closes, 0);
    EXPECT_EQ(host.eofCount(), 0);

    char title[2048] = {};
    int length = 0;
    host.module()->GetFileInfo(const_cast<char*>(good.c_str()), title, &length);
    EXPECT_STREQ(title, "good.wav");
    EXPECT_EQ(length, 100);
}
