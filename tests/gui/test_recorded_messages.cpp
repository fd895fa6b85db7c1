// The files of the recorded messages without a window: the folder and its
// fallback, the per-user folder of the recording in progress and the move
// that never replaces a recording.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>

#include "base/pref.h"
#include "base/text.h"
#include "gui/recorded_messages.h"
#include "os/data_directory.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace fs = boost::filesystem;

namespace {

class RecordedMessages : public ::testing::Test {
protected:
    void SetUp() override { pref_init(base::fromUtf8(home.path() + "/sonvar.cfg")); }
    void TearDown() override { pref_free(); }

    std::string data() const { return base::toUtf8(os::getUserDataDirectory()); }

    testing_support::TempDir home{"recorded-messages"};
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
};

std::string content(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(RecordedMessages, TheFolderIsTheSettingOrTheDataFoldersRecordEndingWithOneSlash) {
    EXPECT_EQ(frm::recordedMessageFolder(), base::fromUtf8(data() + "/record/"));
    for (const wchar_t* setting : {L"/srv/Записи", L"/srv/Записи/"}) {
        pref::setString("place.pathDirRecordedMessage", setting);
        EXPECT_EQ(frm::recordedMessageFolder(), L"/srv/Записи/");  // the message trees compare by text
    }
}

TEST_F(RecordedMessages, TheRecordingInProgressStaysInAFolderOfThisUser) {
    {
        testing_support::ScopedEnv runtime{"XDG_RUNTIME_DIR", (home.path() + "/run").c_str()};
        fs::create_directories(home.path() + "/run");
        EXPECT_EQ(frm::temporaryRecordPath(), base::fromUtf8(home.path() + "/run/sonvar/sonvar_record.mp3"));
        EXPECT_EQ(fs::status(home.path() + "/run/sonvar").permissions(), fs::owner_all);
    }
    // No runtime folder, or one that is no absolute path: the data folder's "tmp".
    for (const char* runtime : {static_cast<const char*>(nullptr), "", "run"}) {
        testing_support::ScopedEnv unset{"XDG_RUNTIME_DIR", runtime};
        EXPECT_EQ(frm::temporaryRecordPath(), base::fromUtf8(data() + "/tmp/sonvar_record.mp3"))
            << (runtime != nullptr ? runtime : "(unset)");
        EXPECT_EQ(fs::status(data() + "/tmp").permissions(), fs::owner_all);
    }
    // A runtime folder that cannot hold ours (a file stands there).
    std::ofstream(home.path() + "/run/sonvar-file") << "x";
    testing_support::ScopedEnv odd{"XDG_RUNTIME_DIR", (home.path() + "/run/sonvar-file").c_str()};
    EXPECT_EQ(frm::temporaryRecordPath(), base::fromUtf8(data() + "/tmp/sonvar_record.mp3"));
}

TEST_F(RecordedMessages, AMoveNeverReplacesARecording) {
    const std::string from = home.path() + "/new.mp3";
    const std::string to = home.path() + "/Объявление.mp3";
    std::ofstream(from) << "new";
    std::ofstream(to) << "old";
    EXPECT_FALSE(frm::moveRecording(base::fromUtf8(from), base::fromUtf8(to)));
    EXPECT_EQ(content(to), "old");
    EXPECT_EQ(content(from), "new");

    fs::remove(to);
    EXPECT_TRUE(frm::moveRecording(base::fromUtf8(from), base::fromUtf8(to)));
    EXPECT_EQ(content(to), "new");
    EXPECT_FALSE(fs::exists(from));
    EXPECT_FALSE(frm::moveRecording(base::fromUtf8(from), base::fromUtf8(home.path() + "/again.mp3")))
        << "nothing recorded";
    EXPECT_FALSE(fs::exists(home.path() + "/again.mp3"));
}

TEST_F(RecordedMessages, NamesThatLeaveTheFolderOrHideInItAreUnsafe) {
    for (const wchar_t* name : {L"Объявление 1", L"a.b", L"...", L"Эвакуация: этаж 2"})
        EXPECT_TRUE(frm::isSafeRecordName(name)) << base::toUtf8(name);
    for (const wchar_t* name : {L"", L".", L"..", L"../x", L"a/b", L"a\\b", L"a\x7f", L"a\x85", L"\x1b[31m"})
        EXPECT_FALSE(frm::isSafeRecordName(name)) << base::toUtf8(name);
}

TEST_F(RecordedMessages, OnlyAFrameOfSoundMakesARecordingWorthKeeping) {
    const auto file = [this](const std::string& name, const std::string& bytes) {
        std::ofstream(home.path() + "/" + name, std::ios::binary) << bytes;
        return base::fromUtf8(home.path() + "/" + name);
    };
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame.
    const std::string header("\xFF\xFB\x90\x64", 4);
    const std::string frame = header + std::string(413, '\0');
    std::string summary = frame;
    summary.replace(36, 4, "Info");
    const std::string tag = std::string("ID3\x04\x00\x00\x00\x00\x01\x00", 10) + std::string(128, 'T');

    EXPECT_FALSE(frm::recordingHasAudio(base::fromUtf8(home.path() + "/missing.mp3")));
    EXPECT_FALSE(frm::recordingHasAudio(file("empty.mp3", "")));
    EXPECT_FALSE(frm::recordingHasAudio(file("tag.mp3", tag)));
    EXPECT_FALSE(frm::recordingHasAudio(file("summary.mp3", tag + summary))) << "the encoder's summary alone";
    EXPECT_FALSE(frm::recordingHasAudio(file("reserved.mp3", std::string("\xFF\xFB\xF0\x64\xFF\xFF\xFF\xFF", 8))))
        << "reserved bit rates are no frames";
    EXPECT_TRUE(frm::recordingHasAudio(file("frame.mp3", frame)));
    EXPECT_TRUE(frm::recordingHasAudio(file("tagged.mp3", tag + summary + frame)));
    // What a tag holds is no sound, even where it looks like a frame.
    EXPECT_FALSE(frm::recordingHasAudio(
        file("inside.mp3", std::string("ID3\x04\x00\x00\x00\x00\x00\x08", 10) + header + "abcd")));
}
