// The scheduler page as the main window drives it until its controls come:
// its core on the clock and dispatch it was given, the file loaded and saved
// through it, its answer to the other pages, and a due message task's
// event, which runs off the GUI thread and touches no control.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <thread>

#include "gui/source_scheduler_panel.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/scheduler_support.h"

namespace {

using scheduler_testing::QueuedDispatch;

class SchedulerPage : public scheduler_testing::SchedulerSite, public testing::WithParamInterface<bool> {
protected:
    bool emptyFolderSettings() const override { return GetParam(); }
    void SetUp() override {
        SchedulerSite::SetUp();
        frame = new wxFrame(nullptr, wxID_ANY, "scheduler", wxPoint(0, 0), wxSize(700, 590));
        scheduler::task::Environment environment{
            clock, [this](const std::wstring& description, scheduler::task::Event job) {
                dispatch(description, std::move(job));
            }};
        page = new frm::SourceSchedulerPanel(frame, nullptr, m_site.collection, clock, environment);
    }
    void TearDown() override {
        frame->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(10));
        SchedulerSite::TearDown();
    }

    std::shared_ptr<testing_support::ManualClock> clock =
        std::make_shared<testing_support::ManualClock>(testing_support::utc(2024, 3, 5, 9, 59, 30));
    QueuedDispatch dispatch;
    wxFrame* frame = nullptr;
    frm::SourceSchedulerPanel* page = nullptr;
};

TEST_P(SchedulerPage, LoadsAndSavesItsTasksAndADueMessageRunsOffTheGuiThread) {
    EXPECT_EQ(loggedCount("Планировщик. Временная зона", "INFO"), 1);
    const std::string message = narrow(folder(L"service/обед.mp3"));
    const std::string file =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<scheduler_v2>"
        "<task><type>once</type><startDate>2024-03-05</startDate><finalDate>2024-03-05</finalDate>"
        "<startTime>10:00</startTime><stopTime/><enable>true</enable><playback>"
        "<placeName>serviceMessage</placeName><subPlaceName>Объявления: Обед</subPlaceName>"
        "<messageName>Обед</messageName><messagePath>" +
        message +
        "</messagePath><gongName/><gongPath/><devices><devices>02:56:53:00:00:02</devices></devices>"
        "</playback></task>"
        "<task><type>daily</type><startDate>2024-03-05</startDate><finalDate>2024-03-31</finalDate>"
        "<startTime>10:00</startTime><stopTime>10:30</stopTime><enable>false</enable><playback>"
        "<placeName>playlist</placeName><subPlaceName>Утро</subPlaceName><devices/></playback></task>"
        "</scheduler_v2>";
    write(m_file, file);
    page->setPlaybacks(makeSources());
    page->load(base::fromUtf8(m_file));
    EXPECT_EQ(loggedCount("Загрузка заданий планировщика завершена.", "INFO"), 1);
    ASSERT_EQ(page->getCore().getTasks().size(), 3u);
    EXPECT_TRUE(page->isUsed(folder(L"service/обед.mp3")));
    EXPECT_FALSE(page->isUsed(L""));
    auto playback = scheduler::task::getVault(
                        *std::dynamic_pointer_cast<scheduler::task::BaseTask>(page->getCore().getTask(1)))
                        .playback;
    EXPECT_EQ(page->playbackDeviceIds(playback), std::vector<std::uint32_t>{m_speakers[1]->getId()});

    // The scheduler's tick at 10:00: the message is due, the playlist task is off.
    for (const auto& entry : page->getCore().getTasks())
        entry.second->run(testing_support::utc(2024, 3, 5, 10, 0, 0, 50));
    ASSERT_EQ(dispatch.size(), 1u);
    scheduler_testing::RecordingChannels channels;
    frm::PlaybackChannels::set(&channels);
    std::thread worker([this] { dispatch.runAll(); });
    worker.join();
    frm::PlaybackChannels::set(nullptr);
    ASSERT_EQ(channels.played.size(), 1u) << "the message, on the player channel";
    EXPECT_EQ(channels.played[0].devices, frm::DeviceSet{m_speakers[1]});

    page->setPlaybacks(makeSources());  // the page shown again
    page->saveToFile(base::fromUtf8(m_file));
    EXPECT_EQ(testing_support::readFile(m_file), file);

    page->shutdown();
    EXPECT_TRUE(page->getCore().getTasks().empty());
    EXPECT_FALSE(page->isUsed(folder(L"service/обед.mp3")));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Folders, SchedulerPage, testing::Bool(), scheduler_testing::folderSettingsName);
