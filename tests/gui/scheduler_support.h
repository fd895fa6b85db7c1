#pragma once

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "audio/playlist.h"
#include "base/files.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "gui/message_kinds.h"
#include "gui/scheduler_store.h"
#include "gui/scheduler_vault.h"
#include "os/data_directory.h"
#include "scheduler/core.h"
#include "tests/gui/store_support.h"
#include "tests/scheduler/scheduler_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"

// The scheduler's tasks without a window: a real core on a clock the test
// moves, a dispatch that queues due events until the test runs them, real
// loudspeaker objects, and source groups like those the main window builds
// (playlists, radio, drives, messages, recordings) over message and gong
// files in a temporary data folder.
namespace scheduler_testing {

using frm::PlaybackCollection;
using GroupPtr = boost::shared_ptr<PlaybackCollection>;
using TaskPtr = std::shared_ptr<scheduler::task::BaseTask>;

/// Holds due events until the test runs them: the dispatcher worker that
/// runs an event after the scheduler thread handed it over.
class QueuedDispatch {
public:
    void operator()(const std::wstring&, scheduler::task::Event job) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_jobs.size();
    }
    /// Runs and drops the queued jobs in order; how many ran.
    std::size_t runAll() {
        std::deque<scheduler::task::Event> jobs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            jobs.swap(m_jobs);
        }
        for (auto& job : jobs) job();
        return jobs.size();
    }

private:
    std::mutex m_mutex;
    std::deque<scheduler::task::Event> m_jobs;
};

/// Records what the playbacks would send to the channels.
class RecordingChannels : public frm::PlaybackChannels {
public:
    struct Played {
        std::wstring first;  // playlist name, or the message path
        frm::DeviceSet devices;
    };
    void playOnPlayerChannel(boost::shared_ptr<Playlist> playlist, const frm::DeviceSet& devices,
                             int) override {
        std::lock_guard<std::mutex> lock(mutex);
        played.push_back({playlist->getName(), devices});
    }
    bool launchOnAlarmChannel(const std::wstring&, const frm::DeviceSet& devices, const std::wstring& message,
                              const std::wstring&, int, boost::function<void(int)>) override {
        std::lock_guard<std::mutex> lock(mutex);
        played.push_back({message, devices});
        return true;
    }
    std::mutex mutex;
    std::vector<Played> played;
};

/// Names the runs of a fixture whose parameter says whether the folder
/// settings stay empty.
inline std::string folderSettingsName(const testing::TestParamInfo<bool>& info) {
    return info.param ? "EmptyFolderSettings" : "FolderSettings";
}

/// A log, the settings and the folders of a data folder, with the message
/// and gong files the groups name. The folder settings name the folders,
/// or, when the fixture says so, stay empty: the folders are then those of
/// the program's data folder (below the test's folder), as on a new
/// installation.
class SchedulerSite : public CountingLogFixture {
protected:
    virtual bool emptyFolderSettings() const { return false; }

    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(m_dir.widePath() + L"/sonvar.cfg");
        m_root = m_dir.widePath();
        if (emptyFolderSettings()) {
            m_dataHome = std::make_unique<testing_support::ScopedEnv>("XDG_DATA_HOME",
                                                                      (m_dir.path() + "/home").c_str());
            m_root = os::getUserDataDirectory();
        }
        for (const char* folder : {"service", "alarm", "record", "gong", "elsewhere"})
            boost::filesystem::create_directories(narrow(m_root) + "/" + folder);
        const bool empty = emptyFolderSettings();
        pref::setString("place.pathDirServiceMessage", empty ? L"" : folder(L"service"));
        pref::setString("place.pathDirAlarmMessage", empty ? L"" : folder(L"alarm"));
        pref::setString("place.pathDirRecordedMessage", empty ? L"" : folder(L"record"));
        pref::setString("place.pathDirGong", empty ? L"" : folder(L"gong"));
        touch(L"service/обед.mp3");
        touch(L"alarm/пожар.mp3");
        touch(L"record/Запись 1.mp3");
        touch(L"gong/гонг.mp3");
        m_speakers = {orvel("01"), orvel("02")};
    }
    void TearDown() override {
        pref_free();
        CountingLogFixture::TearDown();
    }

    std::wstring folder(const std::wstring& name) const { return m_root + L"/" + name; }
    std::string narrow(const std::wstring& path) const { return base::toUtf8(path); }
    void touch(const std::wstring& relative) { std::ofstream(narrow(folder(relative))) << "ID3"; }
    void remove(const std::wstring& relative) { boost::filesystem::remove(narrow(folder(relative))); }

    /// A loudspeaker 02:56:53:00:00:<low> of the collection.
    boost::shared_ptr<device::OrvelInfo> orvel(const std::string& low) {
        return boost::dynamic_pointer_cast<device::OrvelInfo>(m_site.add(low));
    }

    /// The groups as the main window builds them, made anew on each call.
    std::vector<GroupPtr> makeSources() {
        auto playlists = boost::make_shared<PlaybackCollection>(L"playlist", L"Плейлисты");
        frm::addPlaylistPlaybacks(playlists, {boost::make_shared<Playlist>(L"Утро", false),
                                              boost::make_shared<Playlist>(L"Вечер", false)});
        auto radio = boost::make_shared<PlaybackCollection>(L"radio", L"Радио");
        frm::addPlaylistPlaybacks(radio, {boost::make_shared<Playlist>(L"Радио Сити", true)});
        auto drives = boost::make_shared<PlaybackCollection>(L"device", L"Съёмные диски");
        auto messages = boost::make_shared<PlaybackCollection>(L"serviceMessage", L"Служебные сообщения");
        messages->add(
            track(L"Объявления: Обед", frm::kServiceMessage, false, L"Обед", folder(L"service/обед.mp3")));
        messages->add(
            track(L"Тревога: Пожар", frm::kAlarmMessage, true, L"Пожар", folder(L"alarm/пожар.mp3")));
        auto records = boost::make_shared<PlaybackCollection>(L"microphone", L"Микрофон");
        records->add(
            track(L"Запись 1", frm::kRecordedMessage, true, L"Запись 1", folder(L"record/Запись 1.mp3")));
        return {playlists, radio, drives, messages, records};
    }

    static boost::shared_ptr<frm::PlaybackTrack> track(const std::wstring& title, std::uint32_t kind,
                                                       bool alarm, const std::wstring& name,
                                                       const std::wstring& path) {
        auto made = boost::make_shared<frm::PlaybackTrack>(title, kind, alarm);
        made->setMessage(name, path);
        return made;
    }

    static boost::shared_ptr<frm::IPlayback> find(const std::vector<GroupPtr>& sources,
                                                  const std::wstring& key, const std::wstring& name) {
        for (const auto& group : sources)
            if (group->getKey() == key)
                for (const auto& playback : group->getAll())
                    if (playback->getName() == name) return playback;
        return nullptr;
    }

    void write(const std::string& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }

    const std::string m_file = m_dir.path() + "/scheduler.xml";
    /// Where the message and gong folders are.
    std::wstring m_root;
    std::unique_ptr<testing_support::ScopedEnv> m_dataHome;
    gui_testing::DeviceSite m_site;
    std::vector<boost::shared_ptr<device::OrvelInfo>> m_speakers;
};

/// One core with its store, as the scheduler page holds them.
struct Planner {
    explicit Planner(boost::shared_ptr<device::DeviceCollection> devices, std::vector<GroupPtr> sources)
        : core(clock), store(core, environment(), std::move(devices), hooks()) {
        store.setSources(std::move(sources));
    }

    scheduler::task::Environment environment() {
        return {clock, [this](const std::wstring& description, scheduler::task::Event job) {
                    dispatch(description, std::move(job));
                }};
    }
    frm::SchedulerStore::Hooks hooks() {
        frm::SchedulerStore::Hooks made;
        made.checkPlaybackAndTask = [this](const boost::shared_ptr<frm::PlaybackTrack>& track,
                                           const TaskPtr& task) {
            std::lock_guard<std::mutex> lock(mutex);
            checked.push_back({track, task->getId()});
        };
        made.deviceIds = [](const boost::shared_ptr<frm::IPlayback>& playback) {
            std::vector<std::uint32_t> ids;
            for (const auto& device : playback->getDevices()) ids.push_back(device->getId());
            return ids;
        };
        return made;
    }

    /// What the page does when the operator adds an item: a copy of the
    /// playback on the devices, a start task and, for a daily item with a
    /// stop, its stop task.
    TaskPtr plan(const boost::shared_ptr<frm::IPlayback>& source, bool daily, const std::wstring& startDate,
                 const std::wstring& startTime, const std::wstring& finalDate, const std::wstring& stopTime,
                 const frm::DeviceSet& devices, const std::wstring& gong = std::wstring()) {
        auto copy = source->clone();
        copy->setDevices(devices);
        if (auto track = boost::dynamic_pointer_cast<frm::PlaybackTrack>(copy); track && !gong.empty())
            track->setGong(getFileName(gong), gong);
        const auto [startId, stopId] = store.takeTaskIds();
        TaskPtr start;
        TaskPtr stop;
        if (daily) {
            start = std::make_shared<scheduler::task::Daily>(startId, startDate, startTime, finalDate,
                                                             scheduler::task::Event(), environment());
            if (!stopTime.empty())
                stop =
                    std::make_shared<scheduler::task::Daily>(startId + 1, startDate, stopTime, finalDate,
                                                             frm::SchedulerStore::stopEvent(), environment());
        } else {
            start = std::make_shared<scheduler::task::Once>(startId, startDate, startTime,
                                                            scheduler::task::Event(), environment());
        }
        store.setStartEvent(start, copy);
        scheduler::task::DataVault vault;
        vault.playback = copy;
        vault.startDate = startDate;
        vault.finalDate = daily ? finalDate : startDate;
        vault.startTime = startTime;
        vault.stopTime = stopTime;
        vault.deviceIds = hooks().deviceIds(copy);
        vault.stopTaskId = stop ? stopId : scheduler::task::kNoStopTask;
        scheduler::task::setVault(*start, vault);
        core.putTask(start);
        if (stop) {
            vault.stopTaskId = 0;
            vault.isStopTask = true;
            scheduler::task::setVault(*stop, vault);
            core.putTask(stop);
        }
        return start;
    }

    /// What the scheduler thread's tick does at `at`, done here so that the
    /// test decides the moment: every task of the core looks whether it is
    /// due and hands its event to the dispatch. The core's own thread stays
    /// asleep, since the clock does not move.
    void runTasksAt(scheduler::TimePoint at) {
        for (const auto& entry : core.getTasks()) entry.second->run(at);
    }

    scheduler::task::DataVault vaultOf(std::uint32_t id) {
        auto task = std::dynamic_pointer_cast<scheduler::task::BaseTask>(core.getTask(id));
        return task ? scheduler::task::getVault(*task) : scheduler::task::DataVault();
    }

    /// Half a minute before the tasks' 10:00 on 2024-03-05 (UTC, the test
    /// program's zone).
    std::shared_ptr<testing_support::ManualClock> clock =
        std::make_shared<testing_support::ManualClock>(testing_support::utc(2024, 3, 5, 9, 59, 30));
    QueuedDispatch dispatch;
    std::mutex mutex;
    struct Check {
        boost::shared_ptr<frm::PlaybackTrack> track;
        std::uint32_t taskId;
    };
    std::vector<Check> checked;
    scheduler::Core core;
    frm::SchedulerStore store;
};

}  // namespace scheduler_testing
