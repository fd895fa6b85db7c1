// in_vlc driven through a fake host with files made by LAME and ffmpeg.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/fake_plugin_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vlc_plugin_check.h"
#include "tests/support/wav_file.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

class InVlc : public ::testing::Test {
protected:
    void SetUp() override {
        m_mp3 = m_dir.path() + "/tones.mp3";
        ASSERT_TRUE(stream_probe::write_mp3(m_mp3, vlcTestPcm(), 44100, 1));
        ASSERT_NE(host.module(), nullptr) << host.loadError();
    }

    TempDir m_dir{"sonvar-in-vlc"};
    std::string m_mp3;
    FakePluginHost host{productPlugin("in_vlc.so")};
};

}  // namespace

TEST_F(InVlc, DecodesMp3MadeByLameAndOggVorbisAndFlacMadeByFfmpeg) {
    host.holdBack = true;  // refused writes are repeated, not lost
    ASSERT_EQ(host.module()->Play(const_cast<char*>(m_mp3.c_str())), 0);
    ASSERT_TRUE(host.waitEof(20000));
    EXPECT_EQ(host.openRate, 44100);
    EXPECT_EQ(host.openChannels, 1);
    EXPECT_EQ(host.openBits, 16);
    EXPECT_EQ(host.oversizedWrites, 0);
    EXPECT_EQ(host.misalignedWrites, 0);
    EXPECT_GT(host.refusedWrites, 0);
    EXPECT_GT(host.saCalls, 0);
    expectTonesInOrder(host.pcm(), 1);
    // No more than the file holds: the decoder adds its priming at most.
    EXPECT_LT(host.pcm().size(), vlcTestPcm().size() + 44100 / 5);
    EXPECT_GE(host.eofAt(), host.silentSince);
    char title[2048] = {};
    int length = 0;
    host.module()->GetFileInfo(nullptr, title, &length);
    EXPECT_STREQ(title, "tones.mp3");
    host.module()->Stop();
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(host.eofCount(), 1);

    host.holdBack = false;
    const std::string wav = m_dir.path() + "/tones.wav";
    writeBytes(wav, wavFile(vlcTestPcm(), 44100, 1));
    for (const char* extension : {"ogg", "flac"}) {
        SCOPED_TRACE(extension);
        const std::string path = m_dir.path() + "/tones." + extension;
        ASSERT_TRUE(encodeWithFfmpeg(wav, path));
        const size_t before = host.pcm().size();
        const int eofs = host.eofCount();
        ASSERT_EQ(host.module()->Play(const_cast<char*>(path.c_str())), 0);
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (host.eofCount() == eofs && Clock::now() < end) stream_probe::sleep_ms(20);
        ASSERT_EQ(host.eofCount(), eofs + 1);
        const auto all = host.pcm();
        expectTonesInOrder(std::vector<std::int16_t>(all.begin() + static_cast<long>(before), all.end()),
                           host.openChannels);
        host.module()->Stop();
    }
}

TEST_F(InVlc, StopEndsAPlayWhoseOutputIsFull) {
    host.blocked = true;
    ASSERT_EQ(host.module()->Play(const_cast<char*>(m_mp3.c_str())), 0);
    const auto waitOpen = Clock::now() + std::chrono::seconds(10);
    while (host.opens == 0 && Clock::now() < waitOpen) stream_probe::sleep_ms(10);
    ASSERT_EQ(host.opens, 1);
    stream_probe::sleep_ms(100);  // libvlc's audio thread is now waiting in the plug-in
    const auto before = Clock::now();
    host.module()->Stop();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_EQ(host.closes, 1);
    EXPECT_TRUE(host.pcm().empty());
    stream_probe::sleep_ms(200);
    EXPECT_EQ(host.eofCount(), 0);
}

TEST_F(InVlc, MissingFileFailsAndARefusedFormatStillEnds) {
    const std::string missing = m_dir.path() + "/missing.mp3";
    EXPECT_NE(host.module()->Play(const_cast<char*>(missing.c_str())), 0);
    host.module()->Stop();
    EXPECT_EQ(host.opens, 0);
    EXPECT_EQ(host.closes, 0);

    // The output refuses the format: nothing is written, but the item still
    // ends, so the player is not left waiting.
    host.refuseOpen = true;
    ASSERT_EQ(host.module()->Play(const_cast<char*>(m_mp3.c_str())), 0);
    ASSERT_TRUE(host.waitEof(20000));
    EXPECT_GE(host.opens, 1);
    EXPECT_TRUE(host.pcm().empty());
    host.module()->Stop();
    EXPECT_EQ(host.closes, 0);
}
