#include "audio/alarm_channel.h"

#include <set>

#include <boost/filesystem/operations.hpp>

#include "audio/loudspeaker_steps.h"
#include "audio/mp3streamf.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "os/data_directory.h"

namespace frm {

std::atomic<AlarmChannel*> AlarmChannel::s_instance{nullptr};

namespace {

bool fileExists(const std::wstring& path) {
    boost::system::error_code error;
    return boost::filesystem::is_regular_file(base::toUtf8(path), error);
}

device::AudioChannel channelOf(int priority) {
    return priority <= 2 ? device::CHANNEL_NOTICE_LOW : device::CHANNEL_NOTICE_HIGH;
}

/// How long a launch waits for the previous notice's thread: one that was
/// stopped before it began has nothing left to do but start and return.
constexpr boost::chrono::milliseconds kRunningThreadJoin{100};
constexpr boost::chrono::milliseconds kIdleThreadJoin{3000};

const wchar_t* flag(bool on) { return on ? L"true" : L"false"; }

using LoudspeakerList = std::vector<boost::shared_ptr<device::OrvelInfo>>;

/// One notice per cause of a step's failures, with the count and a few
/// loudspeakers; each loudspeaker alone is in the log at DEBUG already. With
/// `told`, a text and cause told before (kept there) is not told again.
void tellFailures(const StepFailures& failures, const wchar_t* text, std::set<std::wstring>* told = nullptr) {
    for (const StepFailures::Summary& summary : failures.summaries()) {
        if (told != nullptr && !told->insert(std::wstring(text) + L"\n" + summary.cause).second) {
            LOG_DEBUG(L"Alarm channel: told before for this notice: %1%", summary.cause);
            continue;
        }
        LOG_WARN(text, static_cast<std::uint64_t>(summary.count), summary.cause, StepFailures::examples(summary));
    }
}

const wchar_t* const kNotSwitched = L"Громкоговорители не переключены на канал оповещений (%1%): %2%. Например: %3%";
const wchar_t* const kNotSwitchedBack = L"Громкоговорители не возвращены на общий канал (%1%): %2%. Например: %3%";
const wchar_t* const kVolumeNotRead =
    L"Громкость громкоговорителей не прочитана, оповещение звучит с их громкостью (%1%): %2%. Например: %3%";

/// Every online and answering loudspeaker of the set back on channel 0 at
/// once; the failures.
StepFailures switchBack(WalkThreads& threads, const DeviceSet& devices) {
    StepFailures failures;
    switchAtOnce(threads, LoudspeakerList(devices.begin(), devices.end()), device::CHANNEL_DISCOVERY, failures);
    return failures;
}

/// The channel-0 port from the loudspeaker's configuration record.
std::uint16_t configuredDiscoveryPort(device::OrvelInfo& device) {
    return device.readConfig(false).discoveryPort;
}

}  // namespace

AlarmChannel::AlarmChannel(DeviceSelection* selection, ChannelGui* gui, mp3streamf& stream, Options options)
    : m_selection(selection), m_gui(gui), m_stream(stream), m_options(std::move(options)) {
    if (!m_options.discoveryPort) m_options.discoveryPort = configuredDiscoveryPort;
}

/// Holds the steps' lock for one step of the alarm thread and marks the
/// thread as waiting for loudspeakers meanwhile.
class AlarmChannel::Step {
public:
    Step(AlarmChannel& channel, std::uint64_t launch) : m_channel(channel), m_steps(channel.m_stepLock) {
        m_current = channel.current(launch);
        m_channel.m_inStep = true;
    }
    ~Step() { m_channel.m_inStep = false; }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    explicit operator bool() const { return m_current; }

private:
    AlarmChannel& m_channel;
    boost::lock_guard<boost::mutex> m_steps;
    bool m_current = false;
};

AlarmChannel::~AlarmChannel() {
    // No request of the window starts any more; one that runs ends first.
    m_requests.drain();
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_stoppedLaunch = m_launches;
    }
    m_endEvent.set();
    interruptAndJoinWatcher();
    {
        boost::lock_guard<boost::mutex> lock(m_threadsLock);
        if (m_alarmThread.joinable() && m_alarmThread.get_id() != boost::this_thread::get_id()) {
            m_alarmThread.interrupt();
            m_alarmThread.join();
        }
    }
    // The stream's decoder holds our end event until it is idle.
    m_stream.stop();
}

void AlarmChannel::createInstance(DeviceSelection* selection, ChannelGui* gui, mp3streamf& stream,
                                  Options options) {
    if (instance() != nullptr) {
        LOG_WARN(L"recall AlarmChannel::createInstance");
        return;
    }
    s_instance.store(new AlarmChannel(selection, gui, stream, std::move(options)), std::memory_order_release);
}

void AlarmChannel::destroyInstance() { delete s_instance.exchange(nullptr); }

// ---- launching -------------------------------------------------------------------------------

bool AlarmChannel::launch(int source, bool broadcasting, DeviceSet devices, const std::wstring& message,
                          const std::wstring& gong, const std::wstring& record, int priority, int volume,
                          const std::wstring& description, Callback callback, bool onlySelected) {
    // A missing gong is refused here like a missing message: found only by
    // the alarm thread, it would end the notice after the loudspeakers were
    // taken.
    for (const std::wstring* path : {&message, &gong}) {
        if (!path->empty() && !fileExists(*path)) {
            LOG_WARN(L"Не найден файл %1%", *path);
            return false;
        }
    }
    if (priority == 4) {
        PlayerChannel::resetLastPlayback();
        if (Player::instance() != nullptr) Player::instance()->stop(true);
    }
    if (getPriority() <= priority) {
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            m_relaunch = true;
        }
        stop(Callback());
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_relaunch = false;
    }

    // Refused before the busy check, which switches the free loudspeakers:
    // a lower notice refused afterwards would have pulled the running
    // notice's loudspeakers onto its own channel.
    if (isRunning()) {
        LOG_DEBUG(
            L"Fail launching. Alarm channel busy (priority %1%). new: priority %2% message %3%; gong %4%; "
            L"record %5%",
            getPriority(), priority, message, gong, record);
        LOG_NOTICE(L"Канал тревог занят.");
        return false;
    }

    // Every loudspeaker at once: one lost in a fire neither holds the others
    // back by the transport's give-up time nor keeps the alarm off the air.
    const device::AudioChannel channel = channelOf(priority);
    std::vector<SwitchOutcome> switched;
    std::set<std::wstring> told;  // the notice's, once it runs
    {
        boost::lock_guard<boost::mutex> steps(m_stepLock);
        StepFailures failures;
        switched = switchAtOnce(m_walkers, LoudspeakerList(devices.begin(), devices.end()), channel, failures);
        tellFailures(failures, kNotSwitched, &told);
    }
    std::wstring busyTitles;
    std::size_t busy = 0;
    auto at = switched.begin();
    for (auto device = devices.begin(); device != devices.end(); ++at) {
        if (*at == SwitchOutcome::kBusy) {
            busyTitles += (*device)->getTitle() + L"; ";
            ++busy;
        }
        // Out of the notice: asked again by the alarm thread, it would end
        // the notice for all the others.
        device = *at == SwitchOutcome::kFailed ? devices.erase(device) : std::next(device);
    }
    if (busy > 0 && busy == devices.size()) {
        LOG_NOTICE(L"На всех выбранных устройствах запущено оповещение с более высоким приоритетом.");
        return false;
    }
    if (busy > 0) {
        const std::wstring question =
            L"На выбранных устройствах (" + busyTitles +
            L") запущено оповещение с более высоким приоритетом. Запустить на свободные?";
        const bool goOn = m_gui == nullptr || m_gui->askYesNo(L"Предупреждение", question);
        if (!goOn) {
            boost::lock_guard<boost::mutex> steps(m_stepLock);
            tellFailures(switchBack(m_walkers, devices), kNotSwitchedBack);
            return false;
        }
    }

    LOG_DEBUG(
        L"Alarm channel, launch. Source [%1%]; broadcasting [%2%]; path message [%3%]; path gong [%4%]; "
        L"path record [%5%]; priority [%6%]; description [%7%], callback [%8%]; only for selecred [%9%]",
        source == kMicrophone ? L"mic" : L"list", flag(broadcasting), message, gong, record, priority,
        description, flag(!callback.empty()), flag(onlySelected));
    {
        // Not under the channel lock while it waits: stop holds the threads'
        // lock while it waits for the alarm thread, which takes the channel
        // lock.
        boost::lock_guard<boost::mutex> threads(m_threadsLock);
        bool previousIdle = false;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            // A thread of a stopped notice that has not looked at the stop
            // yet does nothing when it runs: it only has to be given the
            // processor.
            previousIdle = m_stoppedLaunch == m_launches && m_begunLaunch != m_launches;
        }
        const auto wait = previousIdle ? kIdleThreadJoin : kRunningThreadJoin;
        if (!m_alarmThread.joinable() || m_alarmThread.try_join_for(wait)) {
            std::uint64_t thisLaunch = 0;
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                m_priority = priority;
                m_volume = volume;
                m_description = description;
                m_broadcasting = broadcasting;
                m_devices = std::move(devices);
                m_source = source;
                m_message = message;
                m_gong = gong;
                m_record = record;
                m_onlySelected = onlySelected;
                m_callback = std::move(callback);
                m_stopping = false;
                m_told = std::move(told);
                thisLaunch = ++m_launches;
            }
            m_threadActive = true;
            try {
                m_alarmThread = boost::thread([this, thisLaunch] {
                    struct Ended {
                        std::atomic<bool>& active;
                        ~Ended() { active = false; }
                    } ended{m_threadActive};
                    alarmThread(thisLaunch);
                });
            } catch (...) {
                m_threadActive = false;
                throw;
            }
            return m_alarmThread.joinable();
        }
    }
    // Another launch, from another thread, got in first while this one
    // asked the operator or switched its loudspeakers, and its notice runs
    // (a running thread's handle cannot be replaced). Nothing of the channel
    // changes: that notice, its loudspeakers and its callback are what the
    // next stop ends, after its thread, and gives back. This launch's busy
    // check took its free loudspeakers; those that the running notice does
    // not hold go back to the common channel, after that notice's thread
    // has switched its own (the steps' lock).
    {
        boost::lock_guard<boost::mutex> steps(m_stepLock);
        DeviceSet taken;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            for (const auto& device : devices)
                if (m_devices.count(device) == 0) taken.insert(device);
        }
        tellFailures(switchBack(m_walkers, taken), kNotSwitchedBack);
    }
    LOG_NOTICE(L"Канал тревог занят.");
    return false;
}

bool AlarmChannel::launchWithoutDevices(Tag, const std::wstring& description, const std::wstring& record) {
    AlarmChannel* self = instance();
    return self != nullptr && self->launch(kMicrophone, false, DeviceSet(), L"", L"", record, 2, 100,
                                           description, Callback(), false);
}

bool AlarmChannel::launchSelected(Tag, int priority, const std::wstring& description,
                                  const std::wstring& gong, const std::wstring& record, int volume,
                                  Callback callback) {
    AlarmChannel* self = instance();
    if (self == nullptr) return false;
    DeviceSet devices = self->m_selection != nullptr ? self->m_selection->getSelectedDevices() : DeviceSet();
    return self->launch(kMicrophone, true, std::move(devices), L"", gong, record, priority, volume,
                        description, std::move(callback), true);
}

bool AlarmChannel::launchSelectedWithCallback(Tag, int priority, const std::wstring& description,
                                              const std::wstring& message, const std::wstring& gong,
                                              int volume, Callback callback) {
    AlarmChannel* self = instance();
    if (self == nullptr) return false;
    DeviceSet devices = self->m_selection != nullptr ? self->m_selection->getSelectedDevices() : DeviceSet();
    return self->launch(kMessageList, true, std::move(devices), message, gong, L"", priority, volume,
                        description, std::move(callback), true);
}

bool AlarmChannel::launchWithCallback(Tag, const std::wstring& description, const DeviceSet& devices,
                                      const std::wstring& message, const std::wstring& gong, int volume,
                                      Callback callback) {
    AlarmChannel* self = instance();
    return self != nullptr && self->launch(kMessageList, true, devices, message, gong, L"", 3, volume,
                                           description, std::move(callback), false);
}

// ---- the alarm thread -----------------------------------------------------------------------

bool AlarmChannel::current(std::uint64_t launch) {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    return launch > m_stoppedLaunch;
}

void AlarmChannel::alarmThread(std::uint64_t launch) {
    if (m_options.threadStarts) m_options.threadStarts();
    {
        // A stop that came before this thread ran has already given the
        // loudspeakers back and answered its caller.
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (launch <= m_stoppedLaunch) {
            LOG_DEBUG(L"%1%", L"alarm thread: stopped before it began");
            return;
        }
        m_begunLaunch = launch;
    }
    bool finished = false;
    try {
        finished = runNotice(launch);
    } catch (const boost::thread_interrupted&) {
        LOG_DEBUG(L"%1%", L"alarm thread: stop handle");
        return;  // stop restores the loudspeakers
    } catch (const exception::Base& e) {
        LOG_DEBUG(L"alarm thread: '%1%', '%2%'", e.getNotification(), e.getDetails());
        if (e.getDetails().empty())
            LOG_ERROR(L"%1%", e.getNotification());
        else
            LOG_ERROR(L"Сообщение: '%1%'\nОписание: '%2%'", e.getNotification(), e.getDetails());
    } catch (const std::exception& e) {
        LOG_ERROR(L"Поток тревоги. Поймано необработанное исключение.\nПричина: '%1%'.",
                  base::toWide(e.what()));
    } catch (...) {
        LOG_ERROR(L"Поток тревоги. Поймано необработанное исключение.");
    }
    if (finished) return;
    // Ended early: the loudspeakers would stay on the notification channel
    // with changed volumes, deaf to the common channel, while the channel
    // counts as idle. Give them back now.
    try {
        Step step(*this, launch);
        if (step) restoreDeviceSettings();  // else the stop does it
    } catch (const boost::thread_interrupted&) {
    } catch (const std::exception& e) {
        LOG_ERROR(L"%1%", base::toWide(e.what()));
    }
}

bool AlarmChannel::aborted(const std::wstring& what) {
    LOG_DEBUG(L"%1%", what);
    return false;
}

bool AlarmChannel::runNotice(std::uint64_t launch) {
    LOG_TRACE(L"%1%", L"begin alarm thread");
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_microphoneStreaming = false;
    }
    {
        boost::lock_guard<boost::mutex> watcher(m_watcherLock);
        m_watcherThread = boost::thread([this] { checkInternalPlayingThread(); });
    }
    // From here on each step that takes the loudspeakers or the stream looks
    // at the stop first, and a stop gives back what came before it: nothing
    // may come after it.
    std::wstring gong, record;
    bool broadcasting = false;
    bool onlySelected = false;
    int priority = 0;
    DeviceSet devices;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return true;
        if (!m_record.empty() && fileExists(m_record)) {
            boost::system::error_code error;
            boost::filesystem::remove(base::toUtf8(m_record), error);
        }
        gong = m_gong;
        record = m_record;
        broadcasting = m_broadcasting;
        onlySelected = m_onlySelected;
        priority = m_priority;
        devices = m_devices;
    }
    if (broadcasting) {
        if (onlySelected && devices.empty()) {
            LOG_DEBUG(L"%1%", L"Alarm channel: get selected devices.");
            devices = m_selection != nullptr ? m_selection->getSelectedDevicesAndZones() : DeviceSet();
        }
        const device::AudioChannel channel = channelOf(priority);
        {
            Step step(*this, launch);
            if (!step) return true;
            devices = answeringOnly(devices);
            const LoudspeakerList list(devices.begin(), devices.end());
            StepFailures failures;
            const std::vector<SwitchOutcome> switched = switchAtOnce(m_walkers, list, channel, failures);
            tellOnce(failures, kNotSwitched);
            // Out of the notice, as in the busy check.
            for (std::size_t i = 0; i < list.size(); ++i)
                if (switched[i] == SwitchOutcome::kFailed) devices.erase(list[i]);
            // Stored even when a stop came meanwhile: it waits for this step
            // and then gives these loudspeakers back.
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            m_devices = devices;
        }
        if (devices.empty()) {
            LOG_WARN(L"Канал оповещений: Нет устройств для вещания.");
            LOG_DEBUG(L"%1%", L"break alarm thread");
            return true;
        }
    }
    // The endpoint's port is read from the first loudspeaker to answer the
    // saving, while the others still answer: a late loudspeaker first in the
    // set's order would hold the alarm back by the replies of its record.
    std::uint16_t port = 0;
    bool portRead = false;
    std::exception_ptr unread;
    {
        Step step(*this, launch);
        if (!step) return true;
        StepFailures failures;
        std::function<void(device::OrvelInfo&)> readPort;
        if (broadcasting) {
            readPort = [&](device::OrvelInfo& speaker) {
                try {
                    port = discoveryPortOf(speaker);
                    portRead = true;
                } catch (...) {
                    unread = std::current_exception();
                }
            };
        }
        SavedSettings saved = saveAtOnce(m_walkers, devices, failures, readPort);
        tellOnce(failures, kVolumeNotRead);
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_savedVolumes = std::move(saved.volumes);
        m_savedVolumeStates = std::move(saved.states);
    }
    if (unread) std::rethrow_exception(unread);
    if (broadcasting) {
        // None gave its volume: the first of the set, as it answers.
        if (!portRead) port = discoveryPortOf(**devices.begin());
        std::wstring address = pref::getString("multicast.address");
        if (address.empty()) address = L"224.0.224.1";
        const unsigned to = port + static_cast<unsigned>(channelOf(priority));
        LOG_TRACE2(L"%1%(..)", "mp3streamf::set_stream_endp");
        m_stream.set_stream_endp((base::toUtf8(address) + ":" + std::to_string(to)).c_str());
    }

    if (!gong.empty()) {
        if (!fileExists(gong)) {
            LOG_WARN(L"Не найден гонг, '%1%'", gong);
            return aborted(L"break alarm thread");
        }
        if (!giveChannelVolume(launch)) return true;
        LOG_TRACE(L"%1%", L"play gong");
        playMessage(launch, gong, 300, Guard{kGongStarted, kGongEnded});
        if (!current(launch)) return true;
        if (!restoreSavedSettings(launch, nullptr)) return true;
    }
    if (boost::this_thread::interruption_requested()) {
        LOG_DEBUG(L"%1%", L"break alarm thread (request for stop)");
        return true;  // stop restores the loudspeakers
    }

    int source = kMessageList;
    std::wstring message;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return true;
        source = m_source;
        message = m_message;
    }
    if (source == kMessageList && !message.empty()) {
        m_stream.set_read_mode(mp3streamf::READ_FILE);
        m_stream.set_write_mode(broadcasting, false);
        if (!giveChannelVolume(launch)) return true;
        LOG_TRACE(L"%1%", L"play message");
        playMessage(launch, message, 50, Guard{kMessageStarted, kMessageEnded});
        if (!current(launch)) return true;
        if (!restoreSavedSettings(launch, &devices)) return true;
    } else if (source == kMicrophone) {
        const bool recording = !record.empty();
        if (!current(launch)) return true;
        m_stream.set_microphone_name(pref::getString("record.deviceName"));
        m_stream.set_read_mode(mp3streamf::READ_MICROPHONE);
        m_stream.set_write_mode(broadcasting, recording);
        if (recording) m_stream.set_write_file(record);
        if (!giveChannelVolume(launch)) return true;
        LOG_TRACE(L"%1%", L"play with microphone");
        boost::this_thread::interruption_point();
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            if (!current(launch)) return true;
            m_microphoneStreaming = true;
        }
        startStream(launch);
    }
    LOG_TRACE(L"%1%", L"end alarm thread");
    boost::lock_guard<boost::recursive_mutex> relock(m_lock);
    m_currentMessage.clear();
    return true;
}

bool AlarmChannel::startStream(std::uint64_t launch) {
    // Not under the channel's lock: libvlc may take its time to start, and
    // the getters must not wait for it. A stop that came meanwhile closed
    // the stream before it was made; it is closed again here.
    m_stream.stream_create();
    if (current(launch)) return true;
    m_stream.stop();
    m_stream.stream_close();
    return false;
}

void AlarmChannel::playMessage(std::uint64_t launch, const std::wstring& path, std::uint32_t silenceMs,
                               const Guard& guard) {
    LOG_TRACE(L"begin playing message '%1%'", path);
    boost::this_thread::interruption_point();
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return;
        m_microphoneStreaming = false;
        m_stream.set_read_mode(mp3streamf::READ_FILE);
        m_stream.set_write_mode(m_broadcasting, !m_record.empty());
    }
    if (!startStream(launch)) return;
    m_endEvent.reset();
    bool played = false;
    if (!fileExists(path)) {
        LOG_WARN(L"Не найден файл %1%", path);
    } else {
        LOG_TRACE(L"%1%", L"start playing message");
        if (!m_stream.play_file(silenceMs, path, &m_endEvent)) {
            LOG_INFO(L"Не удалось проиграть файл '%1%'", path);
        } else {
            played = true;
        }
    }
    try {
        if (played) {
            boost::this_thread::interruption_point();
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                m_currentMessage = getFileName(path);
            }
            post(guard.start);
            while (m_endEvent.wait(100) != sync_event::signalled) {
                boost::this_thread::interruption_point();
                boost::this_thread::sleep_for(boost::chrono::milliseconds(50));
            }
            for (int i = 0; i < 30; ++i) {
                boost::this_thread::interruption_point();
                boost::this_thread::sleep_for(boost::chrono::milliseconds(50));
            }
            // A stop that closed the stream under us ends the notice with its
            // own code; "ended" on top of it would tell the caller otherwise.
            bool stopping = false;
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                stopping = m_stopping;
            }
            if (!stopping) post(guard.end);
        }
    } catch (const boost::thread_interrupted&) {
        // Idle before the thread ends: the decoder holds our end event.
        m_stream.stop();
        m_stream.stream_close();
        throw;
    }
    m_stream.stop();
    m_stream.stream_close();
    LOG_TRACE(L"%1%", L"end playing message");
}

void AlarmChannel::post(int code) {
    Callback callback;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        callback = m_callback;
    }
    if (callback && m_gui != nullptr && m_gui->exists()) m_gui->post([callback, code] { callback(code); });
}

// ---- loudspeaker settings -------------------------------------------------------------------

bool AlarmChannel::giveChannelVolume(std::uint64_t launch) {
    Step step(*this, launch);
    if (!step) return false;
    DeviceSet devices;
    int volume = 0;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        for (const auto& entry : m_savedVolumes) devices.insert(entry.first);
        volume = m_volume;
    }
    setVolumeAtOnce(m_walkers, devices, volume);
    return true;
}

bool AlarmChannel::restoreSavedSettings(std::uint64_t launch, const DeviceSet* switchBackSet) {
    Step step(*this, launch);
    if (!step) return false;
    VolumeMap volumes;
    VolumeStateMap states;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        volumes = m_savedVolumes;
        states = m_savedVolumeStates;
    }
    restoreAtOnce(m_walkers, volumes, states);
    if (switchBackSet != nullptr) tellOnce(switchBack(m_walkers, *switchBackSet), kNotSwitchedBack);
    return true;
}

void AlarmChannel::restoreDeviceSettings() {
    VolumeMap volumes;
    VolumeStateMap states;
    DeviceSet devices;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        LOG_TRACE(L"%1%", L"Alarm channel: Restore settings for devices");
        volumes.swap(m_savedVolumes);
        states.swap(m_savedVolumeStates);
        devices.swap(m_devices);
    }
    restoreAtOnce(m_walkers, volumes, states);
    tellOnce(switchBack(m_walkers, devices), kNotSwitchedBack);
}

void AlarmChannel::tellOnce(const StepFailures& failures, const wchar_t* text) {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    tellFailures(failures, text, &m_told);
}

bool AlarmChannel::takenOver(const DeviceSet& devices) {
    bool anyAnswering = false;
    for (const auto& device : devices) {
        if (!device->isOnlineAndAnswered()) continue;
        anyAnswering = true;
        if (!device->hasInternalPlaying()) return false;
    }
    if (!anyAnswering) LOG_DEBUG(L"All devices is offline. Number of devices %1%", devices.size());
    return anyAnswering;
}

std::uint16_t AlarmChannel::discoveryPortOf(device::OrvelInfo& device) {
    return m_options.discoveryPort(device);
}

// ---- the watcher ----------------------------------------------------------------------------

void AlarmChannel::checkInternalPlayingThread() {
    try {
        while (!boost::this_thread::interruption_requested()) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(m_options.watcherPeriod.count()));
            DeviceSet devices;
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                devices = m_devices;
            }
            // Outside the lock: an Orvel-510 is asked about its memory.
            if (takenOver(devices)) {
                {
                    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                    LOG_INFO(L"Было запущено более приоритетное оповещение.\n"
                             L"Трансляция через канал оповещений прервана.");
                    m_preempted = true;
                }
                stop(Callback());
                return;
            }
            bool lost = false;
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                lost = m_microphoneStreaming;
            }
            if (lost && !m_stream.is_stream()) {
                LOG_ERROR(L"Поток с микрофона отсутствует. Проверьте микрофон.");
                m_stream.stream_close();
                m_stream.stream_create();
            }
        }
    } catch (const boost::thread_interrupted&) {
    } catch (const std::exception& e) {
        LOG_ERROR(L"%1%", base::toWide(e.what()));
    }
}

void AlarmChannel::interruptAndJoinWatcher() {
    boost::thread watcher;
    {
        boost::lock_guard<boost::mutex> handle(m_watcherLock);
        if (m_watcherThread.get_id() == boost::this_thread::get_id()) {
            m_watcherThread.detach();  // the watcher stopping the notice itself ends right after
            return;
        }
        watcher = std::move(m_watcherThread);
    }
    if (watcher.joinable()) {
        watcher.interrupt();
        watcher.join();
    }
}

// ---- stopping -------------------------------------------------------------------------------

void AlarmChannel::stop(Callback callback) {
    LOG_TRACE(L"%1%", L"Alarm channel: stop alarm channel (begin)");
    bool begun = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_stopping = true;
        m_stoppedLaunch = m_launches;
        begun = m_begunLaunch == m_launches;
    }
    // Joined, not only interrupted: a watcher left running could close and
    // recreate the stream while the next notice sets its destination.
    interruptAndJoinWatcher();
    if (m_stream.is_stream())
        LOG_DEBUG(L"%1%", L"Alarm channel: Message stream is running. Stop the stream of message");
    // Closed even when it is no longer running: a capture whose source ended
    // by itself still holds its libvlc instance, and the next notice could
    // not make its own.
    m_stream.stop();
    m_stream.stream_close();
    // A thread that has not begun yet ends as soon as it runs, without a
    // step of its own; waiting for it would only wait for the processor.
    if (begun) {
        boost::lock_guard<boost::mutex> threads(m_threadsLock);
        joinStoppedThread();
    }
    // The alarm thread may have started a watcher after the first join.
    interruptAndJoinWatcher();
    {
        // After the step the alarm thread may still be in (its thread gone
        // past its time-out): what that step took is given back too.
        boost::lock_guard<boost::mutex> steps(m_stepLock);
        bool giveBack = false;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            giveBack = !m_preempted && (!m_savedVolumes.empty() || !m_devices.empty());
        }
        if (giveBack) restoreDeviceSettings();
    }
    Callback notice;
    int code = kStopped;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        notice = m_callback;
        code = m_relaunch ? kReplaced : kStopped;
        m_currentMessage.clear();
    }
    const wchar_t* word = code == kReplaced ? L"and play" : L"-";
    if (callback) {
        LOG_DEBUG(L"Alarm channel: Notify by 'stop(callback)': notice stop (%1%)", word);
        callback(code);
    }
    if (notice) {
        LOG_DEBUG(L"Alarm channel: Notify by 'notification callback': notice stop (%1%)", word);
        notice(code);
    }
    LOG_TRACE(L"%1%", L"Alarm channel: stopped alarm channel (end)");
}

void AlarmChannel::joinStoppedThread() {
    if (!m_alarmThread.joinable() || m_alarmThread.get_id() == boost::this_thread::get_id() ||
        m_alarmThread.try_join_for(boost::chrono::milliseconds(100)))
        return;
    LOG_DEBUG(L"%1%", L"An alarm thread is running. Stop the alarm thread of message");
    m_alarmThread.interrupt();
    // Requests already sent are not taken back: a step ends with its
    // slowest reply, or with the transport's give-up for a loudspeaker that
    // went silent. That is no hang of the thread.
    while (!m_alarmThread.try_join_for(boost::chrono::seconds(1))) {
        if (!m_inStep.load()) {
            LOG_WARN(L"Internal error. Alarm channel don't stopped. Time out.");
            return;
        }
    }
}

void AlarmChannel::hand(std::function<void()> request) { m_requests.add(std::move(request)); }

void AlarmChannel::drainRequests() { m_requests.drain(); }

bool AlarmChannel::isRunning() {
    bool idleThread = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        idleThread = m_stoppedLaunch == m_launches && m_begunLaunch != m_launches;
    }
    // Not the thread's handle: a stop holds its lock while it waits for the
    // thread, and the window asks this meanwhile.
    if (!idleThread && m_threadActive.load()) return true;
    return m_stream.is_stream();
}

int AlarmChannel::getPriority() {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    return m_priority;
}

std::wstring AlarmChannel::getDescription() {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    return m_description;
}

std::wstring AlarmChannel::getCurrentMessage() {
    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
    return m_currentMessage;
}

bool AlarmChannel::restoreCommonChannelForAllDevices() {
    AlarmChannel* self = instance();
    if (self == nullptr) return true;
    {
        // The usual answer without waiting for a step of a notice.
        boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
        if (!self->m_preempted) return true;
    }
    boost::lock_guard<boost::mutex> steps(self->m_stepLock);
    {
        boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
        if (!self->m_preempted) return true;
    }
    const DeviceSet all = self->m_selection != nullptr ? self->m_selection->getDevicesOfZones() : DeviceSet();
    if (self->takenOver(all)) {
        LOG_WARN(L"На устройствах идёт приоритетное оповещение.");
        return false;
    }
    {
        boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
        self->m_preempted = false;
    }
    self->restoreDeviceSettings();
    tellFailures(switchBack(self->m_walkers, all), kNotSwitchedBack);
    return true;
}

std::vector<std::wstring> AlarmChannel::getGongFiles() {
    std::wstring folder = pref::getString("place.pathDirGong");
    if (folder.empty()) folder = os::getUserDataDirectory() + L"/gong";
    return getGongFiles(folder);
}

std::vector<std::wstring> AlarmChannel::getGongFiles(const std::wstring& folder) {
    const std::wstring masks = g_player_engine != nullptr ? g_player_engine->getFileFilter(true) : L"*.mp3";
    return getFilesByMask(false, folder, masks);
}

}  // namespace frm
