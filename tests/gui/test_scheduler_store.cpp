// scheduler.xml as the scheduler page writes and reads it, over a real core:
// the exact bytes, the round trip, the task pairs and their ids, files of
// another kind or damaged, tasks and devices that cannot be resolved (kept
// for the next start), and the events that due tasks hand over. No window.
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <chrono>
#include <thread>

#include "base/storage.h"
#include "tests/gui/scheduler_support.h"

namespace {

using scheduler_testing::Planner;
using scheduler_testing::TaskPtr;
using testing_support::readFile;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

class SchedulerFile : public scheduler_testing::SchedulerSite, public testing::WithParamInterface<bool> {
protected:
    bool emptyFolderSettings() const override { return GetParam(); }
    std::unique_ptr<Planner> planner() { return std::make_unique<Planner>(m_site.collection, makeSources()); }
    std::wstring path() const { return base::fromUtf8(m_file); }
    std::string saved(Planner& planner) {
        planner.store.saveToFile(path());
        EXPECT_TRUE(gui_testing::xmllintAccepts(m_file));
        return readFile(m_file);
    }
    std::string in(const std::wstring& relative) const { return narrow(folder(relative)); }

    /// A task element in the file's own form.
    static std::string task(const std::string& type, const std::string& stopTime, const std::string& enable,
                            const std::string& playback) {
        return "<task><type>" + type + "</type><startDate>2024-03-05</startDate><finalDate>" +
               (type == "once" ? "2024-03-05" : "") + "</finalDate><startTime>10:00</startTime>" +
               (stopTime.empty() ? "<stopTime/>" : "<stopTime>" + stopTime + "</stopTime>") + "<enable>" +
               enable + "</enable>" + playback + "</task>";
    }
    static std::string playlist(const std::string& name, const std::string& devices = "<devices/>") {
        return "<playback><placeName>playlist</placeName><subPlaceName>" + name + "</subPlaceName>" +
               devices + "</playback>";
    }
    std::string message(const std::string& title, const std::string& name, const std::string& path,
                        const std::string& gong = std::string()) const {
        return "<playback><placeName>serviceMessage</placeName><subPlaceName>" + title +
               "</subPlaceName><messageName>" + name + "</messageName><messagePath>" + path +
               "</messagePath><gongName>" + (gong.empty() ? "" : "гонг.mp3") + "</gongName>" +
               (gong.empty() ? "<gongPath/>" : "<gongPath>" + gong + "</gongPath>") + "<devices/></playback>";
    }
    static std::string document(const std::string& tasks) {
        return kDeclaration + "<scheduler_v2>" + tasks + "</scheduler_v2>";
    }
    static std::string shaped(std::string text) {
        // An empty element as the writer makes it.
        for (const char* name : {"finalDate", "gongName"}) {
            const std::string open = std::string("<") + name + "></" + name + ">";
            for (auto at = text.find(open); at != std::string::npos; at = text.find(open))
                text.replace(at, open.size(), std::string("<") + name + "/>");
        }
        return text;
    }
};

// ---- the file's bytes and the round trip ------------------------------------------

TEST_P(SchedulerFile, ExactBytesThenTheSameBytesAfterLoadingEvenWhenTheGroupsAreRebuilt) {
    const std::string golden =
        kDeclaration +
        "<scheduler_v2>"
        "<task><type>once</type><startDate>2024-03-05</startDate><finalDate>2024-03-05</finalDate>"
        "<startTime>10:00</startTime><stopTime/><enable>true</enable><playback><placeName>playlist</"
        "placeName>"
        "<subPlaceName>Утро</subPlaceName><devices><devices>02:56:53:00:00:01</devices>"
        "<devices>02:56:53:00:00:02</devices></devices></playback></task>"
        "<task><type>daily</type><startDate>2024-03-05</startDate><finalDate/><startTime>08:30</startTime>"
        "<stopTime>09:00</stopTime><enable>true</enable><playback><placeName>serviceMessage</placeName>"
        "<subPlaceName>Объявления: Обед</subPlaceName><messageName>Обед</messageName><messagePath>" +
        in(L"service/обед.mp3") + "</messagePath><gongName>гонг.mp3</gongName><gongPath>" +
        in(L"gong/гонг.mp3") +
        "</gongPath><devices><devices>02:56:53:00:00:02</devices></devices></playback></task>"
        "</scheduler_v2>";
    {
        auto made = planner();
        const auto sources = made->store.getSources();
        made->plan(find(sources, L"playlist", L"Утро"), false, L"2024-03-05", L"10:00", L"", L"",
                   {m_speakers[1], m_speakers[0]});
        made->plan(find(sources, L"serviceMessage", L"Объявления: Обед"), true, L"2024-03-05", L"08:30", L"",
                   L"09:00", {m_speakers[1]}, folder(L"gong/гонг.mp3"));
        ASSERT_EQ(made->core.getTasks().size(), 3u);
        EXPECT_EQ(saved(*made), golden) << "devices by address, stop tasks left out";
    }
    EXPECT_EQ(gui_testing::xmllintXpath(m_file, "count(/scheduler_v2/task)"), "2");
    EXPECT_EQ(gui_testing::xmllintXpath(m_file, "count(//devices/devices)"), "3");

    auto loaded = planner();
    loaded->store.load(path());
    ASSERT_EQ(loaded->core.getTasks().size(), 3u) << "once, then a daily task with its stop task";
    EXPECT_EQ(loaded->core.getTasks().begin()->first, 1u) << "new ids";
    const auto once = loaded->vaultOf(1);
    EXPECT_EQ(once.stopTaskId, scheduler::task::kNoStopTask);
    EXPECT_EQ(once.deviceIds, (std::vector<std::uint32_t>{std::min(m_speakers[0], m_speakers[1])->getId(),
                                                          std::max(m_speakers[0], m_speakers[1])->getId()}))
        << "in the order of the device set";
    const auto daily = loaded->vaultOf(3);
    const auto stop = loaded->vaultOf(4);
    EXPECT_EQ(daily.stopTaskId, 4u);
    EXPECT_TRUE(stop.isStopTask);
    EXPECT_EQ(stop.stopTaskId, 0u);
    EXPECT_EQ(stop.playback, daily.playback) << "one playback for the pair";
    EXPECT_EQ(saved(*loaded), golden);

    // The main window makes new groups whenever the scheduler page is shown;
    // the tasks' copies still name theirs.
    loaded->store.setSources(makeSources());
    EXPECT_EQ(saved(*loaded), golden);
    loaded->store.release();
    EXPECT_EQ(saved(*loaded), golden);
}

TEST_P(SchedulerFile, IdsComeInPairsAndTheStopTimeAndEnableFlagMakeThePair) {
    write(m_file, document(task("once", "11:00", "true", playlist("Утро")) +
                           task("weekly", "", "true", playlist("Утро")) +
                           task("daily", "", "true", playlist("Вечер")) +
                           task("daily", "12:00", "false", playlist("Утро"))));
    auto made = planner();
    made->store.load(path());
    const auto tasks = made->core.getTasks();
    std::vector<std::uint32_t> ids;
    for (const auto& entry : tasks) ids.push_back(entry.first);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 5, 7, 8}))
        << "a once task with a stop time and an unknown type use their two ids too";
    EXPECT_EQ(made->vaultOf(1).stopTaskId, scheduler::task::kNoStopTask) << "a once task has no stop task";
    EXPECT_EQ(made->vaultOf(1).stopTime, L"11:00");
    EXPECT_EQ(made->vaultOf(5).stopTaskId, scheduler::task::kNoStopTask)
        << "a daily task without a stop time";
    EXPECT_TRUE(tasks.at(5)->isEnabled());
    EXPECT_EQ(made->vaultOf(7).stopTaskId, 8u);
    EXPECT_FALSE(tasks.at(7)->isEnabled());
    EXPECT_FALSE(tasks.at(8)->isEnabled()) << "the stop task follows its start task";
    EXPECT_EQ(loggedCount("Файл заданий планировщика '" + m_file +
                              "' повреждён (задание №2: неизвестный тип задания 'weekly')",
                          "WARN"),
              1)
        << "told as a damaged entry of the file";
    EXPECT_EQ(loggedCount("Internal error"), 0);

    const auto [start, stop] = made->store.takeTaskIds();
    EXPECT_EQ(start, 9u);
    EXPECT_EQ(stop, 10u);
}

// ---- files that give no tasks ------------------------------------------------------

TEST_P(SchedulerFile, MissingForeignEmptyAndDamagedFilesLoadNothing) {
    auto made = planner();
    made->store.load(path());
    EXPECT_EQ(loggedCount("Skip load scheduler settings", "EXTERN"), 1) << "no file";

    const std::string old =
        kDeclaration + "<scheduler>" + task("once", "", "true", playlist("Утро")) + "</scheduler>";
    write(m_file, old);
    EXPECT_FALSE(made->store.load(path()));
    EXPECT_EQ(loggedCount("Skip loading old version of scheduler config", "EXTERN"), 1);
    EXPECT_EQ(readFile(m_file + ".bad"), old) << "kept from the next save";

    write(m_file, document(""));
    EXPECT_FALSE(made->store.load(path()));
    EXPECT_EQ(loggedCount("Skip load scheduler settings", "EXTERN"), 2) << "no task element";
    EXPECT_TRUE(boost::filesystem::exists(m_file));

    const std::string broken = document(task("once", "", "true", playlist("Утро"))).substr(0, 120);
    write(m_file, broken);
    EXPECT_FALSE(made->store.load(path()));
    EXPECT_EQ(loggedCount("повреждён", "WARN"), 2) << "the operator is told once for each file";
    EXPECT_EQ(loggedCount("", "ERROR"), 0);
    EXPECT_EQ(readFile(m_file + ".bad"), old) << "an earlier copy is never replaced";
    EXPECT_EQ(readFile(m_file + ".bad.2"), broken);
    EXPECT_FALSE(boost::filesystem::exists(m_file));
    EXPECT_TRUE(made->core.getTasks().empty());
    EXPECT_EQ(saved(*made), document("").substr(0, kDeclaration.size()) + "<scheduler_v2/>");

    // Cut short to nothing or to the declaration: damaged all the same.
    for (const std::string& cut : {std::string(), kDeclaration, document("").substr(0, kDeclaration.size() + 5)}) {
        write(m_file, cut);
        EXPECT_FALSE(made->store.load(path()));
        EXPECT_FALSE(boost::filesystem::exists(m_file)) << cut;
    }
    EXPECT_EQ(loggedCount("не загружены: файл повреждён", "INFO"), 4);
    EXPECT_EQ(loggedCount("повреждён", "WARN"), 5);
    EXPECT_EQ(loggedCount("", "ERROR"), 0);
    EXPECT_EQ(readFile(m_file + ".bad.4"), kDeclaration);
}

// ---- what cannot be loaded is reported and kept -------------------------------------

TEST_P(SchedulerFile, BadTasksAreNumberedInOneErrorAndWrittenBackAfterTheLoadedOnes) {
    const std::string unknownGroup = shaped(task(
        "daily", "", "true",
        "<playback><placeName>podcast</placeName><subPlaceName>Выпуск</subPlaceName><devices/></playback>"));
    const std::string missingPlaylist = shaped(task("daily", "", "true", playlist("Ночь")));
    const std::string missingMessage =
        shaped(task("daily", "", "true", message("Объявления: Обед", "Обед", in(L"elsewhere/ужин.mp3"))));
    const std::string good1 = shaped(task("once", "", "true", playlist("Утро")));
    const std::string good2 = shaped(task("daily", "", "true", playlist("Вечер")));
    write(m_file, document(unknownGroup + good1 + missingPlaylist + good2 + missingMessage));

    auto made = planner();
    ASSERT_TRUE(made->store.load(path()));
    EXPECT_EQ(made->core.getTasks().size(), 2u);
    EXPECT_EQ(made->store.keptCount(), 3u);
    EXPECT_TRUE(
        logged("Неверный формат данных. Задания планировщика не удалось загрузить, кол-во: 3\\A"
               "1. Ошибка загрузки настроек. Объект 'podcast', контент 'Выпуск'\\A"
               "2. Ошибка загрузки настроек. Объект 'Плейлисты', контент 'Ночь'\\A"
               "3. Ошибка загрузки настроек. Объект 'Служебные сообщения', контент 'Объявления: Обед'"))
        << "one ERROR, the group's key where no group has it, its title otherwise";
    EXPECT_EQ(loggedCount("Scheduler: Error search place name", "EXTERN"), 1);
    EXPECT_EQ(loggedCount("Scheduler: Error search sub place name", "EXTERN"), 1);
    EXPECT_EQ(loggedCount("Scheduler: Skip loading task (type 'daily', message", "EXTERN"), 1);

    const std::string expected = document(good1 + good2 + unknownGroup + missingPlaylist + missingMessage);
    EXPECT_EQ(saved(*made), expected) << "the operator's tasks survive a start without their sources";

    // Once the message is back, the next start loads it.
    touch(L"elsewhere/ужин.mp3");
    auto next = planner();
    next->store.load(path());
    EXPECT_EQ(next->core.getTasks().size(), 3u);
    EXPECT_EQ(next->store.keptCount(), 2u);
}

TEST_P(SchedulerFile, ATaskWithoutTypeIsSkippedAloneAndKept) {
    const std::string good = shaped(task("once", "", "true", playlist("Утро")));
    std::string typeless = good;
    typeless.erase(typeless.find("<type>once</type>"), 17);
    const std::string later = shaped(task("daily", "", "true", playlist("Вечер")));
    const std::string noPlayback = shaped(task("daily", "", "true", ""));
    write(m_file, document(noPlayback + good + typeless + later));

    auto made = planner();
    EXPECT_TRUE(made->store.load(path())) << "the list is refreshed";
    EXPECT_EQ(made->core.getTasks().size(), 2u) << "the tasks before and after it load";
    EXPECT_EQ(loggedCount("повреждён (задание №3: нет элемента 'type')", "WARN"), 1);
    EXPECT_TRUE(logged("кол-во: 1\\A1. Playback section not found")) << "the damaged task is told apart";
    EXPECT_EQ(saved(*made), document(good + later + noPlayback + typeless));
}

TEST_P(SchedulerFile, DamagedTasksAreSkippedAloneToldOnceForTheFileAndWrittenBack) {
    const std::string good = shaped(task("daily", "", "true", playlist("Утро")));
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string changed = good;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const std::string unknownType = with("<type>daily</type>", "<type>xyz</type>");
    const std::string badDate = with("2024-03-05", "2024-13-45");
    const std::string badEnable = with("<enable>true</enable>", "<enable>xyz</enable>");
    const std::string noDevices = with("<devices/>", "");
    const std::string badStop = with("<stopTime/>", "<stopTime>25:00</stopTime>");
    write(m_file, document(unknownType + badDate + good + badEnable + noDevices + badStop));

    auto made = planner();
    ASSERT_TRUE(made->store.load(path()));
    EXPECT_EQ(made->core.getTasks().size(), 1u);
    EXPECT_EQ(made->store.keptCount(), 5u);
    EXPECT_EQ(
        loggedCount("Файл заданий планировщика '" + m_file +
                        "' повреждён (задание №1: неизвестный тип задания 'xyz'; задание №2: неверные дата "
                        "или время начала '2024-13-45 10:00'; задание №4: неверное значение 'xyz' элемента "
                        "'enable'; задание №5: нет элемента 'devices'; задание №6: неверное время остановки "
                        "'25:00'): эти задания не загружены и остаются в файле",
                    "WARN"),
        1)
        << "one notice for the file";
    EXPECT_EQ(loggedCount("", "ERROR"), 0) << "no internal error, no summary of missing sources";
    EXPECT_EQ(loggedCount("Неправильный формат даты"), 0);
    EXPECT_EQ(saved(*made), document(good + unknownType + badDate + badEnable + noDevices + badStop));
}

TEST_P(SchedulerFile, UnknownAndBadDeviceAddressesStayWithTheirTask) {
    const std::string devices =
        "<devices><devices>02:56:53:00:00:7F</devices><devices>02:56:53:00:00:02</devices>"
        "<devices>не адрес</devices><devices>02:56:53:00:00:01</devices></devices>";
    write(m_file, document(shaped(task("daily", "", "true", playlist("Утро", devices)))));
    auto made = planner();
    made->store.load(path());
    const auto vault = made->vaultOf(1);
    ASSERT_TRUE(vault.playback);
    EXPECT_EQ(vault.playback->getDevices().size(), 2u);
    EXPECT_EQ(vault.deviceIds, (std::vector<std::uint32_t>{std::min(m_speakers[0], m_speakers[1])->getId(),
                                                           std::max(m_speakers[0], m_speakers[1])->getId()}))
        << "in the order of the device set";
    EXPECT_EQ(vault.unresolvedDevices, (std::vector<std::wstring>{L"02:56:53:00:00:7F", L"не адрес"}));
    EXPECT_EQ(loggedCount("Scheduler: skip adding device. device not found into collection", "EXTERN"), 1);
    EXPECT_EQ(loggedCount("Scheduler: skip adding device. hardware address isn't valid", "EXTERN"), 1);
    EXPECT_EQ(loggedCount("Получен некорректный аппаратный адрес"), 0)
        << "the file's text is no device's fault";
    EXPECT_EQ(saved(*made),
              document(shaped(task("daily", "", "true",
                                   playlist("Утро",
                                            "<devices><devices>02:56:53:00:00:01</devices>"
                                            "<devices>02:56:53:00:00:02</devices>"
                                            "<devices>02:56:53:00:00:7F</devices><devices>не адрес</devices>"
                                            "</devices>")))));

    // The loudspeaker is back at the next start: it joins its task.
    auto back = orvel("7F");
    auto next = planner();
    next->store.load(path());
    EXPECT_EQ(next->vaultOf(1).playback->getDevices().count(back), 1u);
    EXPECT_EQ(next->vaultOf(1).unresolvedDevices, (std::vector<std::wstring>{L"не адрес"}));
}

TEST_P(SchedulerFile, AMovedMessageIsFoundInTheFolderItsAlarmFlagNames) {
    const std::string service =
        shaped(task("daily", "", "true",
                    message("Объявления: Обед", "Обед", "/old/place/обед.mp3", "/old/gongs/гонг.mp3")));
    std::string alarm =
        shaped(task("daily", "", "true", message("Тревога: Пожар", "Пожар", "/old/place/пожар.mp3")));
    // A service message whose file lies only in the alarm folder is not found.
    const std::string wrongFolder =
        shaped(task("daily", "", "true", message("Объявления: Обед", "Обед", "/old/place/пожар.mp3")));
    write(m_file, document(service + alarm + wrongFolder));
    auto made = planner();
    made->store.load(path());
    ASSERT_EQ(made->core.getTasks().size(), 2u);
    auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(made->vaultOf(1).playback);
    ASSERT_TRUE(track);
    EXPECT_EQ(track->getMessagePath(), folder(L"service/обед.mp3"));
    EXPECT_EQ(track->getGongPath(), folder(L"gong/гонг.mp3"));
    track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(made->vaultOf(3).playback);
    ASSERT_TRUE(track);
    EXPECT_EQ(track->getMessagePath(), folder(L"alarm/пожар.mp3"));
    EXPECT_EQ(made->store.keptCount(), 1u);

    const std::string text = saved(*made);
    EXPECT_NE(text.find("<messagePath>" + in(L"alarm/пожар.mp3") + "</messagePath>"), std::string::npos);
}

// ---- the events of due tasks --------------------------------------------------------

TEST_P(SchedulerFile, DueTasksHandTheirEventsOverAndAMessageTaskErasedMeanwhileDoesNothing) {
    scheduler_testing::RecordingChannels channels;
    frm::PlaybackChannels::set(&channels);
    auto made = planner();
    const auto sources = made->store.getSources();
    made->plan(find(sources, L"playlist", L"Утро"), true, L"2024-03-05", L"10:00", L"", L"10:30",
               {m_speakers[0]});
    made->plan(find(sources, L"serviceMessage", L"Объявления: Обед"), false, L"2024-03-05", L"10:00", L"",
               L"", {m_speakers[1]});
    made->plan(find(sources, L"microphone", L"Запись 1"), false, L"2024-03-05", L"10:00", L"", L"", {});
    made->runTasksAt(testing_support::utc(2024, 3, 5, 10, 0, 0, 50));
    ASSERT_EQ(made->dispatch.size(), 3u)
        << "the three start tasks, on the dispatch, not run by the scheduler";
    EXPECT_TRUE(channels.played.empty());

    // The recording's task goes (deleted, or the page shut down) while its
    // event waits for a worker.
    std::weak_ptr<scheduler::task::ITask> recording = made->core.getTask(5);
    EXPECT_TRUE(made->core.erase(5));
    // The scheduler thread lets go of a task it has not looked at yet when it
    // next wakes.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!recording.expired() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(recording.expired()) << "nothing holds the erased task";
    recording.reset();  // so that AddressSanitizer sees the task's memory go
    EXPECT_EQ(made->dispatch.runAll(), 3u);
    ASSERT_EQ(channels.played.size(), 1u);
    EXPECT_EQ(channels.played[0].first, L"Утро");
    EXPECT_EQ(channels.played[0].devices, frm::DeviceSet{m_speakers[0]});
    ASSERT_EQ(made->checked.size(), 1u) << "only the message task still in the core";
    EXPECT_EQ(made->checked[0].taskId, 3u);
    EXPECT_EQ(made->checked[0].track->getMessagePath(), folder(L"service/обед.mp3"));

    made->runTasksAt(testing_support::utc(2024, 3, 5, 10, 30, 0, 50));
    EXPECT_EQ(made->dispatch.runAll(), 1u) << "the stop task";
    EXPECT_EQ(loggedCount("scheduler: no player channel to stop"), 1);
    frm::PlaybackChannels::set(nullptr);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Folders, SchedulerFile, testing::Bool(), scheduler_testing::folderSettingsName);
