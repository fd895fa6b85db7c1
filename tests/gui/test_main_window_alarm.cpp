// ctest-labels: net
// The gong and alarm buttons over the real alarm channel and notification
// stream, on simulated loudspeakers that the window files itself; ffmpeg in
// the private namespace listens to the notices.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <thread>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "gui/channel_gui.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/ui_script.h"
#include "tests/support/test_index.h"
#include "tests/support/wav_file.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/stream_probe.h"

using namespace main_frame_testing;
using namespace std::chrono_literals;
using namespace stream_probe;
using Devices = std::vector<frm::ItemDataMap::DevicePtr>;

namespace {

// Each test sends to a group of its own: ctest runs them side by side in
// one network namespace, where a shared group would mix their sounds.
std::string ownGroup() { return "224.0.224." + std::to_string(47 + testing_support::indexInSuite()); }
const std::uint16_t kNoticePort = 14711;  // channel 1 above the loudspeakers' channel 0

class GongAndAlarm : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        setPref("multicast.address", ownGroup());
        setPref("place.pathFileGong", "Преамбула");  // place.pathDirGong stays empty
        boost::filesystem::create_directories(folder + "gong");
        ASSERT_TRUE(write_mp3(folder + "gong/Преамбула.mp3", stepped_tone({880}, 1500, 44100, 1), 44100, 1));
        writeStores({9}, zoneXml("Склад", {9}));  // a loudspeaker that never reports
        start();
        stream.set_stream_fmt(128);
        stream.set_stream_ttl(1);
        stream.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.discoveryPort = [](device::OrvelInfo&) {
            return static_cast<std::uint16_t>(kNoticePort - 1);
        };
        frm::AlarmChannel::createInstance(frame->getItemDataMap(), &channelGui, stream, options);
        for (int n = 1; n <= 2; ++n) {
            // With an equalizer: the property panel's common page reads it.
            auto model = std::make_unique<device::sim::OrvelBandModel>(address(200 + n), 18);
            device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(18), *model);
            speakers.push_back(&simulator.add("127.0.4." + std::to_string(n), 0, std::move(model)));
            speakers.back()->startStatePackets(
                {boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()}, 200ms);
        }
        simulator.start();
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                const Devices& found = frame->zone(0)->getDevices();
                return found.size() == 2 && found[0]->isOnlineAndAnswered() &&
                       found[1]->isOnlineAndAnswered();
            },
            10s));
    }
    void TearDown() override {
        frm::AlarmChannel::destroyInstance();
        simulator.stop();
        MainWindow::TearDown();
    }
    /// The zone panel's rows of these devices selected, the others not.
    void select(const Devices& devices) {
        frm::IconGrid* list = frame->zonePanel()->deviceList;
        for (long row = 0; row < list->GetItemCount(); ++row) {
            const auto* data = reinterpret_cast<const frm::DeviceRowData*>(list->GetItemData(row));
            const bool chosen = std::find(devices.begin(), devices.end(), data->device) != devices.end();
            list->SetItemState(row, chosen ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
        }
    }
    std::wstring banner() const {
        return frame->alarmPanel->IsShown() ? frame->alarmText->GetLabelText().ToStdWstring() : L"(hidden)";
    }
    bool idle() const {
        return frame->playGong->GetLabel() == L"Гонг" && frame->playAlarm->GetLabel() == L"Тревога" &&
               frame->playGong->IsEnabled() && frame->playAlarm->IsEnabled() && banner() == L"(hidden)";
    }
    std::vector<std::string> channels(std::size_t speaker) const {
        std::vector<std::string> texts;
        for (const auto& datagram : speakers[speaker]->received())
            if (datagram.text.rfind("set ch", 0) == 0) texts.push_back(datagram.text.substr(0, 8));
        return texts;
    }

    testing_support::TempDir files{"alarm-buttons"};
    mp3streamf stream;
    frm::InvokerChannelGui channelGui;
    device::sim::Simulator simulator{2};
    std::vector<device::sim::SimulatedDevice*> speakers;
};

}  // namespace

TEST_F(GongAndAlarm, TheGongFromTheDataFolderIsHeardAndTheButtonsFollowItsNotices) {
    ui_testing::ScriptedUi answers;
    for (const auto& selection : {Devices{}, frame->zone(1)->getDevices()}) {
        select(selection);
        answers.expect(kPrompt, wxID_OK, L"123456").expect(kMessage, wxID_OK);
        click(frame->playGong);
    }
    EXPECT_EQ(answers.shown()[1].text, L"Нет выделенных устройств");
    EXPECT_EQ(answers.shown()[3].text, L"Нет активных устройств");

    select(frame->zone(0)->getDevices());
    LiveReceiver receiver(ownGroup(), kNoticePort, files.path() + "/heard.raw", 3000);
    ASSERT_TRUE(receiver.joined());
    answers.expect(kPrompt, wxID_OK, L"123456");
    click(frame->playGong);
    EXPECT_EQ(frame->playGong->GetLabel(), L"Стоп");
    std::vector<std::wstring> banners{banner()};
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [&] {
            if (banner() != banners.back()) banners.push_back(banner());
            return banner() == L"Завершено";
        },
        30s));
    EXPECT_EQ(banners, (std::vector<std::wstring>{L"Подготовка..", L"Проигрывание", L"Завершено"}));
    click(frame->playGong);  // "Стоп" needs no password
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return idle(); }));
    // The stop gives the loudspeakers back without waiting for them: the
    // switch back may reach them after the buttons went idle.
    const std::vector<std::string> back{"set ch 1", "set ch 0"};
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return channels(0) == back; }, 10s))
        << ::testing::PrintToString(channels(0));
    const auto counts = tone_counts(tone_track(receiver.samples(), {880, 440}), 2);
    EXPECT_GE(counts[0], 15) << "1.5 s of gong";
    EXPECT_EQ(counts[1], 0);
}

TEST_F(GongAndAlarm, TheAlarmBroadcastsTheCaptureDeviceUntilStopAndARefusalOnlyHidesTheBanner) {
    const std::string voice = files.path() + "/voice.wav";
    testing_support::writeBytes(voice,
                                testing_support::wavFile(stepped_tone({600}, 4000, 44100, 1), 44100, 1));
    setPref("record.deviceName", "file://" + voice);
    select(frame->zone(0)->getDevices());
    LiveReceiver receiver(ownGroup(), kNoticePort, files.path() + "/heard.raw", 2000);
    ASSERT_TRUE(receiver.joined());
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"123456").expect(kPrompt, wxID_OK, L"123456");
    click(frame->playAlarm);
    EXPECT_EQ(frame->playAlarm->GetLabel(), L"Стоп");
    EXPECT_FALSE(frame->playGong->IsEnabled());
    EXPECT_EQ(banner(), L"Вещание");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return stream.is_stream(); }, 20s));
    // Heard for a second (a loaded machine starts the stream late).
    const std::string heard = files.path() + "/heard.raw";
    wx_testing::runEventLoopUntil(
        [&] {
            boost::system::error_code error;
            const auto size = boost::filesystem::file_size(heard, error);
            return !error && size >= 2 * 44100;
        },
        15s);
    click(frame->playAlarm);  // no password; the channel's 5 ends the stop
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return idle(); }));
    const std::vector<std::string> back{"set ch 1", "set ch 0"};
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return channels(1) == back; }, 10s))
        << ::testing::PrintToString(channels(1));
    EXPECT_GE(tone_counts(tone_track(receiver.samples(), {600, 880}), 2)[0], 10)
        << "the capture device's sound";

    for (auto* speaker : speakers)  // every loudspeaker busy: refused
        speaker->withModel<device::sim::OrvelBandModel>([](device::sim::OrvelBandModel& model) {
            model.channelReply = "Changing of channel is deferred";
            return 0;
        });
    frame->showAlarmState(L"Завершено");
    click(frame->playAlarm);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return idle(); }));
    EXPECT_TRUE(logged("На всех выбранных устройствах запущено оповещение"));
}

TEST_F(GongAndAlarm, NoticesFromAnotherThreadMoveTheBannerAndTheButtons) {
    const auto notice = [this](int number) {
        const std::string line = "Playback callback with notice " + std::to_string(number);
        const int before = loggedCount(line);
        std::thread([&] { frame->onPlaybackNotice(number); }).join();
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return loggedCount(line) > before; })) << number;
    };
    frame->playGong->SetLabel(L"Стоп");
    for (const auto& step : std::vector<std::pair<int, std::wstring>>{{0, L"Проигрывание"},
                                                                      {1, L"Завершено"},
                                                                      {4, L"Завершено"},
                                                                      {6, L"Завершено"},
                                                                      {2, L"Проигрывание"}}) {
        notice(step.first);
        EXPECT_EQ(banner(), step.second) << step.first;
        EXPECT_EQ(frame->playGong->GetLabel(), L"Стоп") << step.first;
    }
    notice(3);  // a message ended: the channel is stopped and reports 5
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return idle(); }));
    frame->playGong->Disable();
    notice(5);
    EXPECT_TRUE(idle());

    select({frame->zone(0)->getDevices()[0]});  // one device: the property panel
    click(frame->zonePanel()->deviceProperty);
    EXPECT_EQ(frame->shown(), std::vector<std::size_t>{8});
}

// Loudspeakers that answer late hold neither the start nor "Стоп" on the
// window's thread: the window shows each at once, the channel's request
// thread waits for the replies, and the outcome follows.
TEST_F(GongAndAlarm, LateLoudspeakersNeverHoldTheWindow) {
    device::sim::ReplyPolicy late;
    late.delay = 700ms;
    for (auto* speaker : speakers) speaker->setReplyPolicy(late);
    select(frame->zone(0)->getDevices());
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"123456");
    const auto held = [](wxControl* button) {
        const auto before = std::chrono::steady_clock::now();
        click(button);
        return std::chrono::steady_clock::now() - before;
    };
    EXPECT_LT(held(frame->playGong), 500ms) << "the start";
    EXPECT_EQ(frame->playGong->GetLabel(), L"Стоп");
    EXPECT_EQ(banner(), L"Подготовка..");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return banner() == L"Проигрывание"; }, 30s));

    EXPECT_LT(held(frame->playGong), 500ms) << "the stop";
    EXPECT_EQ(banner(), L"Окончание..");
    EXPECT_FALSE(frame->playGong->IsEnabled());
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return idle(); }, 30s));
    // The loudspeakers go back without the window or the channel waiting for them.
    const std::vector<std::string> back{"set ch 1", "set ch 0"};
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return channels(0) == back && channels(1) == back; }, 10s))
        << ::testing::PrintToString(channels(0)) << ::testing::PrintToString(channels(1));
}
