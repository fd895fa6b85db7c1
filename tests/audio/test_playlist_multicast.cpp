// ctest-labels: net
#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "audio/mp3stream.h"
#include "audio/player.h"
#include "audio/playlist.h"
#include "tests/audio/player_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tests/support/wav_file.h"
#include "tools/stream_probe.h"

// A two-file WAV playlist played through the shipped in_wav and the common
// stream, heard by ffmpeg on the group; the playlist's end told once.

using namespace player_test;
using namespace stream_probe;

namespace {

const char* const k_group = "224.0.224.51";
const std::uint16_t k_port = 12151;

class PlaylistOnTheWire : public PlayerEnvironment {
protected:
    std::wstring pluginFolder() override { return engine_test::product_folder(); }
    void prepareStream(mp3stream& stream) override { wire_test::open_common_stream(stream, k_group, k_port); }

    std::wstring wav(const std::string& name, const std::vector<double>& tones) {
        const std::string path = m_dir.path() + "/" + name;
        testing_support::writeBytes(path, testing_support::wavFile(stepped_tone(tones, 400, 44100, 1), 44100, 1));
        return base::fromUtf8(path);
    }
};

}  // namespace

TEST_F(PlaylistOnTheWire, TwoWavFilesAreHeardInOrderAndTheEndIsToldOnce) {
    const std::vector<double> tones = {400, 500, 600, 800, 900, 1000};
    auto playlist = boost::make_shared<Playlist>(L"Two files", false);
    ASSERT_TRUE(playlist->add(L"First", wav("first.wav", {400, 500, 600})));
    ASSERT_TRUE(playlist->add(L"Second", wav("second.wav", {800, 900, 1000})));
    auto told = observe(*playlist);

    LiveReceiver receiver(k_group, k_port, m_dir.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(m_stream.stream_start());
    Player::play(playlist);
    // Each item ends once libvlc has taken its last sample.
    EXPECT_TRUE(waitFor([&] { return told->ends.load() == 1; }, 20000)) << trace();
    settle();
    for (const char* name : {"/first.wav", "/second.wav"})
        EXPECT_NE(trace().find("in_wav eof " + m_dir.path() + name), std::string::npos) << trace();
    EXPECT_EQ(Player::instance()->state(), 0);
    EXPECT_FALSE(playlist->isPlayable());
    EXPECT_EQ(told->playingTrue, 2);
    EXPECT_TRUE(wire_test::stop_when_sent(m_stream));
    m_engine->shutdown();

    wire_test::expect_tones_whole(receiver.samples(), tones, 6);
}
