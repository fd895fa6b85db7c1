// device_playback.xml as the removable-medium page writes and reads it: the
// exact bytes, what xmllint sees, and files that are missing, damaged or of
// another kind. No window.
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <fstream>

#include "base/storage.h"
#include "base/text.h"
#include "gui/device_playback_store.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

class DevicePlaybackFile : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    std::string written(const frm::DevicePlayback& state) {
        storage::save(base::fromUtf8(file), frm::devicePlaybackTree(state));
        return testing_support::readFile(file);
    }
    void write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

    const std::string file = m_dir.path() + "/device_playback.xml";
};

}  // namespace

TEST_F(DevicePlaybackFile, ExactBytesWithAndWithoutAMediumAndPlaybackNeverFalse) {
    EXPECT_EQ(written({}), kDeclaration + "<device/>");
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/device/*)"), "0");

    EXPECT_EQ(written({L"/media/op/USB & Co", L"", true}),
              kDeclaration + "<device><disk>/media/op/USB &amp; Co</disk><playback>true</playback></device>")
        << "an ended playlist has no current item";
    EXPECT_EQ(written({L"/media/op/USB", L"/media/op/USB/Альбом/<1>.mp3", false}),
              kDeclaration +
                  "<device><disk>/media/op/USB</disk><current>/media/op/USB/Альбом/&lt;1&gt;.mp3</current>"
                  "</device>");
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/device/playback)"), "0");
    EXPECT_EQ(gui_testing::xmllintXpath(file, "string(/device/current)"), "/media/op/USB/Альбом/<1>.mp3");
}

TEST_F(DevicePlaybackFile, ReadsWhatItWroteAndAFileWithoutItsRootIsSetAside) {
    frm::DevicePlayback state;
    EXPECT_FALSE(frm::readDevicePlayback(base::fromUtf8(file), state)) << "no file";
    EXPECT_EQ(loggedCount("List of Playlist not loaded", "EXTERN"), 1);

    written({L"/media/op/USB STICK", L"/media/op/USB STICK/1.mp3", true});
    ASSERT_TRUE(frm::readDevicePlayback(base::fromUtf8(file), state));
    EXPECT_EQ(state.disk, L"/media/op/USB STICK");
    EXPECT_EQ(state.current, L"/media/op/USB STICK/1.mp3");
    EXPECT_TRUE(state.playback);

    const std::string rootless = kDeclaration + "<disk>/media/op/USB</disk><playback>true</playback>";
    write(rootless);
    state = {};
    EXPECT_FALSE(frm::readDevicePlayback(base::fromUtf8(file), state));
    EXPECT_TRUE(state.disk.empty());
    EXPECT_EQ(testing_support::readFile(file + ".bad"), rootless);
    EXPECT_FALSE(boost::filesystem::exists(file));
    EXPECT_EQ(loggedCount("List of Playlist not loaded", "EXTERN"), 2);

    write(kDeclaration + "<device><disk>/mnt/x</disk><playback>false</playback></device>");
    ASSERT_TRUE(frm::readDevicePlayback(base::fromUtf8(file), state));
    EXPECT_FALSE(state.playback);
    EXPECT_TRUE(state.current.empty());
}
