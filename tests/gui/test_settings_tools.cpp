// ctest-labels: net
// The settings dialog's tools: the gong list and the folder chooser, the
// capture devices kept by their ALSA name, the log viewer's size limit and
// UTF-8, the capture test through a real notification stream (a WAV file
// stands in for the capture device, libvlc's file output for the speakers),
// and the default gong that the build makes.
#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "audio/mp3streamf.h"
#include "gui/log_file.h"
#include "tests/gui/settings_support.h"
#include "tests/gui/ui_script.h"
#include "tests/support/wav_file.h"
#include "tools/stream_probe.h"

using settings_testing::Dialog;

namespace {

class SettingsToolsTest : public settings_testing::SettingsTest {
protected:
    std::string folder(const std::string& name, std::initializer_list<const char*> files = {}) {
        const std::string path = home.path() + "/" + name;
        ::mkdir(path.c_str(), 0755);
        for (const char* file : files) std::ofstream(path + "/" + file) << "x";
        return path;
    }
};

const std::wstring kGongCaption = L"Каталог для файлов 'Гонг'";

}  // namespace

TEST_F(SettingsToolsTest, TheGongListEndsWithNoGongAndFollowsTheChosenFolder) {
    const std::wstring gongs = base::fromUtf8(folder("gongs", {"Бом.mp3", "a.MP3", "Преамбула.mp3", "notes.txt"}));
    const std::wstring other = base::fromUtf8(folder("Другие", {"c.mp3"}));
    setText("place.pathDirGong", gongs);
    setText("place.pathFileGong", L"Бом");
    set("mainWindow.alarmButtons", pref::Type::TypeBoolean, true);
    ui_testing::ScriptedUi answers;
    Dialog& d = open(false);
    EXPECT_EQ(Dialog::entries(d.pathFileGong), (std::vector<std::wstring>{L"a", L"Бом", L"Преамбула", L""}));
    EXPECT_EQ(d.pathFileGong->GetStringSelection(), L"Бом");

    answers.expect(kGongCaption, wxID_OK, other);
    Dialog::press(d.pathDirGong);
    EXPECT_EQ(d.textPathDirGong->GetValue(), other);
    EXPECT_EQ(Dialog::entries(d.pathFileGong), (std::vector<std::wstring>{L"c", L""}));
    EXPECT_EQ(d.pathFileGong->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(text("place.pathDirGong"), gongs) << "stored only by OK";
    answers.expect(kGongCaption, wxID_OK, gongs + L"/missing");
    Dialog::press(d.pathDirGong);
    EXPECT_EQ(d.textPathDirGong->GetValue(), other);

    set("mainWindow.alarmButtons", pref::Type::TypeBoolean, false);
    Dialog& plain = open(false);
    answers.expect(kGongCaption, wxID_OK, gongs);
    Dialog::press(plain.pathDirGong);
    EXPECT_EQ(plain.pathFileGong->GetCount(), 0u);
    EXPECT_FALSE(plain.pathFileGong->IsShown());
}

TEST_F(SettingsToolsTest, CaptureDevicesAreListedByNameAndKeptByTheirAlsaName) {
    devices = {{L"USB микрофон", 0, "hw:CARD=USB,DEV=0"}, {L"Встроенный", 1, "hw:CARD=PCH,DEV=0"}};
    setText("record.deviceName", L"hw:CARD=Gone,DEV=0");
    Dialog& d = open(false);
    EXPECT_EQ(Dialog::entries(d.recordDevice),
              (std::vector<std::wstring>{L"USB микрофон", L"Встроенный", L"[по умолчанию]"}));
    EXPECT_EQ(d.recordDevice->GetSelection(), 2) << "a device that is gone";
    Dialog::press(d.buttonOk);
    EXPECT_EQ(text("record.deviceName"), L"");

    open(false).recordDevice->SetSelection(1);
    Dialog::press(dialog->buttonOk);
    EXPECT_EQ(text("record.deviceName"), L"hw:CARD=PCH,DEV=0");
    EXPECT_EQ(open(false).recordDevice->GetSelection(), 1);
}

TEST_F(SettingsToolsTest, TheLogViewerShowsFilesBelowTwoMebibytesAndOnlyWellFormedUtf8) {
    const std::string logs = folder("log");
    std::string largest = "\xEF\xBB\xBF";
    while (largest.size() + 40 < frm::LogFile::kSizeLimit) largest += "09:05:03.042 INFO\tЗапуск сервера\n";
    largest.append(frm::LogFile::kSizeLimit - 1 - largest.size(), 'x');
    std::ofstream(logs + "/20261203.log", std::ios::binary) << largest;
    std::ofstream(logs + "/20261201.log", std::ios::binary) << largest << "y";
    std::ofstream(logs + "/20261202.log", std::ios::binary) << "ok \xC3\x28 broken";
    services.logFolder = base::fromUtf8(logs);
    Dialog& d = open(false);
    EXPECT_EQ(Dialog::entries(d.log), (std::vector<std::wstring>{L"20261201", L"20261202", L"20261203"}));
    const auto show = [&d](int entry) {
        d.log->SetSelection(entry);
        Dialog::press(d.log, wxEVT_CHOICE);
        return d.logText->GetValue().ToStdWstring();
    };
    const std::wstring tooLarge = L"Размер журнала имеет большую величину.\n" + base::fromUtf8(logs) + L"/20261201.log";
    EXPECT_EQ(show(2), base::fromUtf8(largest.substr(3)));
    EXPECT_EQ(show(1), L"");
    EXPECT_EQ(show(0), tooLarge);
    std::remove((logs + "/20261203.log").c_str());
    EXPECT_EQ(show(2), tooLarge) << "a file gone since the list was made leaves the viewer as it was";
}

TEST_F(SettingsToolsTest, TheCaptureTestPlaysTheDeviceLocallyAndEndsWithTheDialog) {
    const auto wav = [this](const char* name, unsigned ms) {
        const std::string path = home.path() + "/" + name;
        testing_support::writeBytes(path, testing_support::wavFile(stream_probe::stepped_tone({800}, ms, 44100, 1), 44100, 1));
        return "file://" + path;
    };
    devices = {{L"Длинный", 0, wav("long.wav", 4000)}, {L"Короткий", 1, wav("short.wav", 300)}};
    const std::string monitor = home.path() + "/monitor.wav";
    mp3streamf stream;
    stream.set_stream_endp("224.0.224.41:12241");
    stream.set_address_interface("127.0.0.1", 9);
    stream.set_local_monitor_output({"--aout=afile", "--audiofile-file=" + monitor, "--audiofile-wav"});
    services.streamer = [&stream] { return &stream; };

    // Busy: the alarm channel's stream runs.
    ASSERT_TRUE(stream.set_read_mode(mp3streamf::READ_FILE) && stream.set_write_mode(true, false));
    stream.stream_create();
    Dialog::press(open(false).buttonPlay);
    EXPECT_EQ(observedAt(L"NOTICE", true), std::vector<std::wstring>{L"Модуль занят"});
    EXPECT_EQ(dialog->buttonPlay->GetLabel(), L"Воспроизвести");
    stream.stream_close();

    stream_probe::GroupSniffer sniffer("224.0.224.41", 12241);
    // Once the test has let go of the stream, a capture is sent to the group again.
    const auto sendsToTheGroup = [&] {
        const std::size_t before = sniffer.count();
        EXPECT_TRUE(stream.set_read_mode(mp3streamf::READ_MICROPHONE)) << "the stream's objects are gone";
        stream.set_microphone_name(base::fromUtf8(devices[0].alsaName));
        stream.stream_create();
        const bool sent = wx_testing::runEventLoopUntil([&] { return sniffer.count() > before + 5; });
        stream.stream_close();
        return sent;
    };
    const auto closeDialog = [this] {
        dialog->Destroy();
        return wx_testing::runEventLoopUntil([this] { return !dialog; });
    };

    // Closed while the device plays.
    setText("record.deviceName", base::fromUtf8(devices[0].alsaName));
    Dialog::press(open(false).buttonPlay);
    EXPECT_EQ(dialog->buttonPlay->GetLabel(), L"Стоп");
    const auto heardSeconds = [&monitor] {  // what the monitor file holds, by its header's byte rate
        const std::string bytes = testing_support::readFile(monitor);
        const std::uint32_t rate = bytes.size() < 44 ? 0 : *reinterpret_cast<const std::uint32_t*>(&bytes[28]);
        return rate == 0 ? 0.0 : double(bytes.size() - 44) / rate;
    };
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return heardSeconds() > 1.0; }));
    ASSERT_TRUE(closeDialog());
    EXPECT_FALSE(stream.is_stream());
    EXPECT_EQ(sniffer.count(), 0u) << "the test is heard on the PC only";
    const auto heard = stream_probe::decode_file(monitor, home.path() + "/monitor.raw");
    EXPECT_GE(stream_probe::tone_counts(stream_probe::tone_track(heard, {800}), 1)[0], 15);
    EXPECT_TRUE(sendsToTheGroup());

    // A device that has ended by itself: its stream goes with the dialog all the same.
    open(false).recordDevice->SetSelection(1);
    Dialog::press(dialog->buttonPlay);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !stream.is_stream(); }));
    ASSERT_TRUE(closeDialog());
    EXPECT_TRUE(sendsToTheGroup());

    // "Стоп" ends the test at once.
    Dialog::press(open(false).buttonPlay);
    Dialog::press(dialog->buttonPlay);
    EXPECT_EQ(dialog->buttonPlay->GetLabel(), L"Воспроизвести");
    EXPECT_TRUE(sendsToTheGroup());
}

TEST(DefaultGong, IsAHighNoteThenALowerOne) {
    testing_support::TempDir scratch("gong");
    const auto track = stream_probe::tone_track(
        stream_probe::decode_file(std::string(SONVAR_BUILD_DIR) + "/alarm/0. Преамбула.mp3", scratch.path() + "/gong.raw"),
        {659.25, 523.25});
    const auto counts = stream_probe::tone_counts(track, 2);
    EXPECT_TRUE(counts[0] >= 4 && counts[1] >= 10 && stream_probe::tones_in_order(track)) << counts[0] << " " << counts[1];
}
