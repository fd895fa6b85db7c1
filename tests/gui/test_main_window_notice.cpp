// ctest-labels: net input
// A notice of the log shown while an alarm broadcasts: the notice window is
// not modal, so a real click (XTest) on the main window's "Стоп" ends the
// alarm at once, with the notice still listed.
#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <thread>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "base/wx/log_setup.h"
#include "gui/channel_gui.h"
#include "gui/notice_window.h"
#include "gui/ui.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/wav_file.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/stream_probe.h"

using namespace main_frame_testing;
using namespace std::chrono_literals;

namespace {

class AlarmWithNotice : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        setPref("multicast.address", std::string("224.0.224.61"));
        pref::Guard guard(g_pref);
        pref::create(g_pref, "mainWindow.alarmButtons", pref::Type::TypeBoolean) = true;
    }
    void TearDown() override {
        dbg_setMessagePresenter({});
        dbg_setRepeatCounter({});
        frm::AlarmChannel::destroyInstance();
        simulator.stop();
        MainWindow::TearDown();
    }
    /// The main window on screen over one simulated loudspeaker, the alarm
    /// channel broadcasting a long capture file.
    void startWithSpeaker() {
        const std::string voice = files.path() + "/voice.wav";
        testing_support::writeBytes(
            voice, testing_support::wavFile(stream_probe::stepped_tone({600}, 30000, 44100, 1), 44100, 1));
        setPref("record.deviceName", "file://" + voice);
        writeStores({9}, zoneXml("Склад", {9}));
        start();
        stream.set_stream_fmt(128);
        stream.set_stream_ttl(1);
        stream.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.discoveryPort = [](device::OrvelInfo&) { return static_cast<std::uint16_t>(14760); };
        frm::AlarmChannel::createInstance(frame->getItemDataMap(), &channelGui, stream, options);
        auto model = std::make_unique<device::sim::OrvelBandModel>(address(231), 18);
        auto* speaker = &simulator.add("127.0.4.31", 0, std::move(model));
        speaker->startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()}, 200ms);
        simulator.start();
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                const auto& found = frame->zone(0)->getDevices();
                return found.size() == 1 && found[0]->isOnlineAndAnswered();
            },
            10s));
        frm::IconGrid* list = frame->zonePanel()->deviceList;
        for (long row = 0; row < list->GetItemCount(); ++row)
            list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        frame->SetSize(0, 0, 1060, 700);
        frame->Show();
        frame->Raise();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->IsShownOnScreen(); }));
    }

    testing_support::TempDir files{"alarm-notice"};
    mp3streamf stream;
    frm::InvokerChannelGui channelGui;
    device::sim::Simulator simulator{1};
};

}  // namespace

TEST_F(AlarmWithNotice, StopClickedWhileNoticesAreShownEndsTheAlarmAtOnce) {
    startWithSpeaker();
    {
        ui_testing::ScriptedUi answers;
        answers.expect(kPrompt, wxID_OK, L"123456");
        click(frame->playAlarm);
    }
    ASSERT_EQ(frame->playAlarm->GetLabel(), L"Стоп");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return stream.is_stream(); }, 20s));

    // The program's notices, from a worker thread as the log observes them.
    frm::ui::presentLogNotices();
    std::thread([] {
        const auto now = boost::posix_time::microsec_clock::local_time();
        dbg_notify(now, L"WARN", L"Аудио память устройства 02:56:53:00:00:E7 недоступна: нет ответа");
        for (int n = 0; n < 17; ++n) dbg_notify(now, L"ERROR", L"Устройство захвата звука не найдено");
    }).join();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([] {
        const frm::NoticeWindow* window = frm::NoticeWindow::current();
        return window != nullptr && window->IsShownOnScreen() && window->notices().entries().size() == 2 &&
               window->notices().entries()[1].count == 17;
    }));
    frm::NoticeWindow* window = frm::NoticeWindow::current();
    EXPECT_EQ(frm::ui::openCount(), 0);
    const wxRect stop = frame->playAlarm->GetScreenRect();
    ASSERT_FALSE(window->GetScreenRect().Intersects(stop)) << "the notices leave Stop in sight";
    EXPECT_FALSE(wx_testing::writeShot(window, "notice_window_during_alarm").empty());

    wxUIActionSimulator input;
    input.MouseMove(stop.GetLeft() + stop.GetWidth() / 2, stop.GetTop() + stop.GetHeight() / 2);
    input.MouseClick();
    const auto clicked = std::chrono::steady_clock::now();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return frame->playAlarm->GetLabel() == L"Тревога"; }, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, 1500ms) << "at once, not at the file's end";
    EXPECT_TRUE(frame->playGong->IsEnabled());
    EXPECT_TRUE(window->IsShown()) << "the notices stay until the operator closes them";
}
