// ctest-labels: net
// Scheduled items falling due: tasks the page planned against the test's
// clock, the minute's tick done by the test and the due jobs run on a worker
// of the test's (the dispatcher's place). A daily message plays its gong and
// message through the player channel on simulated loudspeakers, heard by
// ffmpeg on the common group, also when the message was moved into its
// message folder; a playlist starts at its minute and its stop task stops
// it; a message whose file is gone disables its task and the list shows it;
// a disabled task does not run.
#include <gtest/gtest.h>

#include <thread>

#include "audio/alarm_channel.h"
#include "audio/channel_host.h"
#include "audio/mp3streamf.h"
#include "audio/player_channel.h"
#include "gui/message_kinds.h"
#include "tests/audio/channel_fixture.h"
#include "tests/audio/wire_fixture.h"
#include "tests/gui/player_site.h"
#include "tests/gui/scheduler_page.h"
#include "tests/support/test_index.h"
#include "tools/stream_probe.h"

using namespace std::chrono_literals;
using frm::PlayerChannel;
using scheduler_page_testing::Page;

namespace {

std::string commonGroup() { return "224.0.226." + std::to_string(10 + 2 * testing_support::indexInSuite()); }
std::uint16_t commonPort() {
    return static_cast<std::uint16_t>(15661 + 20 * testing_support::indexInSuite());
}
std::string noticeGroup() { return "224.0.226." + std::to_string(11 + 2 * testing_support::indexInSuite()); }
int noticeBasePort() { return 15670 + 20 * testing_support::indexInSuite(); }

const std::wstring kSpeakerA = L"      Громкоговоритель 1";

class DueTasks : public page_testing::PlayerSite {
protected:
    std::wstring pluginFolder() override { return engine_test::product_folder(); }
    void prepareStream(mp3stream& common) override {
        wire_test::open_common_stream(common, commonGroup(), commonPort());
    }
    void SetUp() override {
        PlayerSite::SetUp();
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "multicast.address", pref::Type::TypeString) = noticeGroup();
            pref::create(g_pref, "multicast.basePort", pref::Type::TypeInt) = noticeBasePort();
            pref::create(g_pref, "place.pathDirServiceMessage", pref::Type::TypeString) = path("service");
            pref::create(g_pref, "place.pathDirGong", pref::Type::TypeString) = path("gongs");
        }
        notices.set_stream_fmt(128);
        notices.set_stream_ttl(1);
        notices.set_address_interface("127.0.0.1", 9);
        speakers = std::make_unique<channel_test::Speakers>();
        a = speakers->add();
        b = speakers->add();
        frm::AlarmChannelOptions options;
        options.watcherPeriod = 100ms;
        options.discoveryPort =
            [port = static_cast<std::uint16_t>(noticeBasePort() + 1)](device::OrvelInfo&) { return port; };
        frm::AlarmChannel::createInstance(&selection, &gui, notices, options);
        PlayerChannel::createInstance(&selection, &gui, 20ms);
        frm::registerPlaybackChannels();

        mp3("gongs/Гонг.mp3", 880, 1500);
        mp3("service/Эвакуация.mp3", 440, 3000);
        mp3("music/Утро.mp3", 660, 20000);

        auto root = frm::ZoneElement::createDetached(L"Все зоны");
        auto hall = frm::ZoneElement::createDetached(L"Зал");
        root->addElement(hall);
        hall->addElement(a);
        hall->addElement(b);
        auto* frame = new wxFrame(nullptr, wxID_ANY, "scheduler", wxPoint(0, 0), wxSize(1280, 900));
        scheduler::task::Environment environment{
            clock, [this](const std::wstring& description, scheduler::task::Event job) {
                dispatch(description, std::move(job));
            }};
        page = new Page(frame, root, nullptr, clock, environment);
        page->setPlaybacks(sources());
        page->resetControls();
    }
    void TearDown() override {
        page->GetParent()->Destroy();
        wx_testing::runEventLoopFor(20ms);
        frm::unregisterPlaybackChannels();
        PlayerChannel::destroyInstance();
        frm::AlarmChannel::destroyInstance();
        speakers.reset();
        PlayerSite::TearDown();
    }

    std::string path(const std::string& relative) const { return m_dir.path() + "/" + relative; }
    void mp3(const std::string& relative, double tone, unsigned ms) {
        boost::filesystem::create_directories(boost::filesystem::path(path(relative)).parent_path());
        ASSERT_TRUE(stream_probe::write_mp3(path(relative), stream_probe::stepped_tone({tone}, ms, 44100, 1),
                                            44100, 1));
    }
    /// The groups as the main window builds them. The message's stored path
    /// is where it was recorded; the file is in the message folder by now.
    std::vector<scheduler_testing::GroupPtr> sources() {
        auto playlists = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлисты");
        auto morning = boost::make_shared<Playlist>(L"Утро", false);
        morning->add(L"Утро", base::fromUtf8(path("music/Утро.mp3")));
        frm::addPlaylistPlaybacks(playlists, {morning});
        auto messages =
            boost::make_shared<frm::PlaybackCollection>(L"serviceMessage", L"Служебные сообщения");
        for (const std::wstring name : {L"Эвакуация", L"Пропавшее"}) {
            auto track =
                boost::make_shared<frm::PlaybackTrack>(L"Объявления: " + name, frm::kServiceMessage, false);
            track->setMessage(name, base::fromUtf8(path("recorded/")) + name + L".mp3");
            messages->add(track);
        }
        return {playlists, messages};
    }
    /// A daily item from today at 10:00 on the first loudspeaker.
    void plan(const std::wstring& object, const std::wstring& content, int gongLine, int stopMinute = -1) {
        page->tickDevice(static_cast<unsigned>(page->rowOf(kSpeakerA)));
        page->choose(object, content);
        page->gong->SetSelection(gongLine);
        page->kind(1);
        page->startAt(10, 0);
        page->stopAt(stopMinute < 0 ? -1 : 10, stopMinute);
        Page::click(page->addTask);
    }
    /// What the scheduler thread's tick does 50 ms past hh:mm, done here so
    /// that the test decides the moment (the clock does not move, and the
    /// core's own thread stays asleep), then the due jobs on a worker (the
    /// dispatcher's place); how many ran.
    std::size_t dueAt(int hour, int minute) {
        for (const auto& entry : page->getCore().getTasks())
            entry.second->run(testing_support::utc(2024, 3, 5, hour, minute, 0, 50));
        std::size_t ran = 0;
        std::thread worker([&] { ran = dispatch.runAll(); });
        worker.join();
        return ran;
    }
    PlayerChannel& player() { return *PlayerChannel::instance(); }

    std::shared_ptr<testing_support::ManualClock> clock =
        std::make_shared<testing_support::ManualClock>(testing_support::utc(2024, 3, 5, 9, 59, 30));
    scheduler_testing::QueuedDispatch dispatch;
    mp3streamf notices;
    std::unique_ptr<channel_test::Speakers> speakers;
    boost::shared_ptr<device::OrvelInfo> a, b;
    channel_test::FakeSelection selection;
    channel_test::FakeGui gui;
    Page* page = nullptr;
};

}  // namespace

TEST_F(DueTasks, ADailyMessagePlaysItsGongAndTheMessageFoundInItsFolder) {
    plan(L"Служебные сообщения", L"Объявления: Эвакуация", 1);
    ASSERT_EQ(page->rowIds().size(), 1u);
    stream_probe::LiveReceiver receiver(commonGroup(), commonPort(), path("common.raw"));
    ASSERT_TRUE(receiver.joined());
    ASSERT_TRUE(stream.stream_start());

    EXPECT_EQ(dueAt(10, 0), 1u) << "the message task";
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return player().isPlaying(); }, 10s));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !player().isPlaying(); }, 30s));
    stream.stream_stop();
    wire_test::expect_tones_whole(receiver.samples(), {880, 440}, 15);
    const auto sent = speakers->requests(a);
    EXPECT_NE(std::find_if(sent.begin(), sent.end(),
                           [](const std::string& s) { return s.rfind("set vol", 0) == 0; }),
              sent.end())
        << ::testing::PrintToString(sent);
    const auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(page->vault(1).playback);
    EXPECT_EQ(track->getMessagePath(), base::fromUtf8(path("recorded/Эвакуация.mp3")))
        << "played from a copy: the task's own track is not written";
    EXPECT_TRUE(page->task(1)->isEnabled());
}

TEST_F(DueTasks, APlaylistStartsAtItsMinuteAndItsStopTaskStopsIt) {
    plan(L"Плейлисты", L"Утро", 0, 1);
    ASSERT_NE(page->task(2), nullptr) << "the stop task at 10:01";
    ASSERT_TRUE(stream.stream_start());
    EXPECT_EQ(dueAt(10, 0), 1u);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return player().isPlaying(); }, 10s));
    EXPECT_EQ(dueAt(10, 1), 1u) << "the stop task";
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !player().isPlaying(); }, 10s));
    stream.stream_stop();
}

TEST_F(DueTasks, AMessageWithoutItsFileDisablesItsTaskAndADisabledTaskDoesNotRun) {
    plan(L"Служебные сообщения", L"Объявления: Пропавшее", 0);  // 1
    plan(L"Плейлисты", L"Утро", 0);                             // 3
    page->selectRows({1});
    Page::click(page->disableTask);
    ASSERT_EQ(page->row(1)[7], L"Выкл");

    EXPECT_EQ(dueAt(10, 0), 1u) << "the disabled playlist task hands nothing over";
    EXPECT_EQ(loggedCount("Задание имеет неверные пути файлов '" + path("recorded/Пропавшее.mp3") + "'/''",
                          "ERROR"),
              1);
    EXPECT_FALSE(page->task(1)->isEnabled());
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return page->row(0)[7] == L"Выкл"; }))
        << "the list, refreshed on the GUI thread";
    EXPECT_FALSE(player().isPlaying());
}
