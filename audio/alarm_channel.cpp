#include "audio/alarm_channel.h"

#include <set>

#include <boost/filesystem/operations.hpp>

#include "audio/mp3streamf.h"
#include "audio/orvel_link.h"
#include "audio/own_notices.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/models/stream_ports.h"
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

const wchar_t* const kNotSwitched = L"Громкоговорители не переключены на канал оповещений (%1%): %2%. Например: %3%";
const wchar_t* const kVolumeNotRead =
    L"Громкость громкоговорителей не прочитана, оповещение звучит с их громкостью (%1%): %2%. Например: %3%";
const wchar_t* const kVolumeNotSet = L"Громкость оповещения не назначена громкоговорителям (%1%): %2%. Например: %3%";

/// A give-back's failures, once per cause: a loudspeaker that gave no
/// answer is given back when it answers again.
void tellGiveBack(const LedgerBatch& batch) {
    tellFailures(batch.failures(Settlement::kSwitch), kNotSwitchedBack);
    tellFailures(batch.failures(Settlement::kVolume), kVolumeNotReturned);
}

/// A give-back's failures once its late replies had their time: one that
/// answered after the reply time went back all the same.
void tellGiveBackLater(LoudspeakerLedger& ledger, const LedgerBatch& batch) {
    ledger.afterLateReplies(batch, tellGiveBack);
}

/// When the request that runs on this thread was handed over (hand): the
/// deadline of a launch it makes counts from then.
thread_local std::optional<std::chrono::steady_clock::time_point> t_handedAt;

/// The failures of a take by step, for the operator.
struct TakeFailures {
    StepFailures notSwitched, notRead, notSet;

    void add(const Loudspeaker& device, const Settlement& settlement) {
        StepFailures& step = settlement.step == Settlement::kSwitch       ? notSwitched
                             : settlement.step == Settlement::kVolumeRead ? notRead
                                                                          : notSet;
        step.add(settlement.cause, device->getTitle());
    }
    void tell(std::set<std::wstring>* told = nullptr) const {
        tellFailures(notSwitched, kNotSwitched, told);
        tellFailures(notRead, kVolumeNotRead, told);
        tellFailures(notSet, kVolumeNotSet, told);
    }
};

}  // namespace

AlarmChannel::AlarmChannel(DeviceSelection* selection, ChannelGui* gui, mp3streamf& stream, Options options)
    : m_selection(selection), m_gui(gui), m_stream(stream), m_options(std::move(options)),
      m_ledger(m_options.ledger ? m_options.ledger : std::make_shared<LoudspeakerLedger>(std::make_shared<OrvelLink>())),
      m_ports(m_options.discoveryPort) {
    if (!m_options.captureDevices) m_options.captureDevices = &os::getAudioCaptureDeviceList;
}

AlarmChannel::~AlarmChannel() {
    // No request of the window starts any more; one that runs ends first.
    m_requests.drain();
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_stoppedLaunch = m_launches;
        StreamPortReader::cancel(m_port);
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
    const Clock::time_point deadline = t_handedAt.value_or(Clock::now()) + m_options.deadline;
    // Refused before a loudspeaker is taken: they would wait on the
    // notification channel for a microphone that never sounds.
    if (source == kMicrophone && !captureAvailable()) return false;
    if (m_exit.closed()) return false;
    // One launch at a time takes the loudspeakers; it lets go while the
    // operator is asked, and a launch that got in meanwhile wins.
    boost::unique_lock<boost::mutex> launching(m_launchLock);
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

    // Refused before the busy check, which takes the free loudspeakers: a
    // lower notice refused afterwards would have pulled the running
    // notice's loudspeakers onto its own channel.
    if (isRunning()) {
        LOG_DEBUG(
            L"Fail launching. Alarm channel busy (priority %1%). new: priority %2% message %3%; gong %4%; "
            L"record %5%",
            getPriority(), priority, message, gong, record);
        LOG_NOTICE(L"Канал тревог занят.");
        return false;
    }
    std::uint64_t launchesBefore = 0;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        launchesBefore = m_launches;
    }

    // Every loudspeaker at once, each switched and then given the notice's
    // volume as it answers: one lost in a fire neither holds the others back
    // nor keeps the alarm off the air past its deadline.
    std::set<std::wstring> told;  // the notice's, once it runs
    Take taken;
    DeviceSet mine;  // what this launch took
    if (broadcasting && !devices.empty()) {
        taken = take(devices, channelOf(priority), volume, deadline, told);
        // Quitting: what was taken is given back by the quit.
        if (taken.quit || m_exit.closed()) return false;
        for (const auto& failed : taken.failed) devices.erase(failed);
        mine = devices;
        if (!taken.busy.empty() && taken.busy.size() == devices.size()) {
            LOG_NOTICE(L"На всех выбранных устройствах запущено оповещение с более высоким приоритетом.");
            m_exit.pass([&] { m_ledger->release(Holder::kAlarm, mine); });
            return false;
        }
        if (!taken.busy.empty()) {
            std::wstring busyTitles;
            for (const auto& device : taken.busy) busyTitles += device->getTitle() + L"; ";
            const std::wstring question =
                L"На выбранных устройствах (" + busyTitles +
                L") запущено оповещение с более высоким приоритетом. Запустить на свободные?";
            launching.unlock();
            const bool goOn = m_gui == nullptr || m_gui->askYesNo(L"Предупреждение", question);
            launching.lock();
            if (!goOn) {
                giveBackOnly(mine);
                return false;
            }
        }
    }

    LOG_DEBUG(
        L"Alarm channel, launch. Source [%1%]; broadcasting [%2%]; path message [%3%]; path gong [%4%]; "
        L"path record [%5%]; priority [%6%]; description [%7%], callback [%8%]; only for selecred [%9%]",
        source == kMicrophone ? L"mic" : L"list", flag(broadcasting), message, gong, record, priority,
        description, flag(!callback.empty()), flag(onlySelected));
    // Not under the channel lock while it waits: stop holds the threads'
    // lock while it waits for the alarm thread, which takes the channel lock.
    boost::lock_guard<boost::mutex> threads(m_threadsLock);
    bool previousIdle = false;
    bool overtaken = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        // A thread of a stopped notice that has not looked at the stop yet
        // does nothing when it runs: it only has to be given the processor,
        // or to close the stream it was starting.
        previousIdle = windingDown();
        overtaken = m_launches != launchesBefore;
    }
    const auto wait = previousIdle ? kIdleThreadJoin : kRunningThreadJoin;
    if (overtaken || (m_alarmThread.joinable() && !m_alarmThread.try_join_for(wait))) {
        // Another launch got in first while the operator was asked, and its
        // notice runs (a running thread's handle cannot be replaced).
        // Nothing of the channel changes: that notice, its loudspeakers and
        // its callback are what the next stop ends and gives back. This
        // launch's loudspeakers that the running notice does not hold go back.
        LOG_NOTICE(L"Канал тревог занят.");
        giveBackOnly(mine);
        return false;
    }
    std::uint64_t thisLaunch = 0;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_priority = priority;
        m_volume = volume;
        m_description = description;
        m_broadcasting = broadcasting;
        m_devices = std::move(devices);
        m_deadline = deadline;
        m_port = taken.port;
        m_source = source;
        m_message = message;
        m_gong = gong;
        m_record = record;
        m_onlySelected = onlySelected;
        m_callback = std::move(callback);
        m_stopping = false;
        m_preempted = false;
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

void AlarmChannel::giveBackOnly(const DeviceSet& taken) {
    DeviceSet mine;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        for (const auto& device : taken)
            if (m_devices.count(device) == 0) mine.insert(device);
    }
    if (mine.empty()) return;
    LedgerBatch batch;
    if (m_exit.pass([&] { batch = m_ledger->release(Holder::kAlarm, mine); })) tellGiveBackLater(*m_ledger, batch);
}

std::map<Loudspeaker, Wish> AlarmChannel::wishes(const DeviceSet& devices, device::AudioChannel channel,
                                                 std::optional<int> volume) {
    std::map<Loudspeaker, Wish> wishes;
    for (const auto& device : devices) wishes[device] = Wish{channel, volume, std::nullopt};
    return wishes;
}

AlarmChannel::Take AlarmChannel::take(const DeviceSet& devices, device::AudioChannel channel, int volume,
                                      Clock::time_point deadline, std::set<std::wstring>& told) {
    // One that gave no answer lately is asked again: it may be back. One
    // that is away is not waited for; it is served when it comes back.
    Take taken;
    LedgerBatch batch;
    // The port's requests before the hold: they go out ahead of the switches
    // of the loudspeakers they ask, and are answered by the deadline whenever
    // one of those answers in time. Behind its switch, a late loudspeaker's
    // answer came only once the switch's resend had drained.
    if (!m_exit.pass([&] {
            taken.port = m_ports.begin(devices);
            batch = m_ledger->hold(Holder::kAlarm, wishes(devices, channel, volume));
        })) {
        taken.quit = true;
        return taken;
    }
    m_exit.waitUntil(batch, deadline);
    // What has not settled by the deadline is on its way: it joins the
    // notice as it answers.
    const LedgerBatch::Settlements settled = batch.settlements();
    TakeFailures failures;
    std::set<Loudspeaker> answered;  // settled by the deadline with an answer, or offline
    for (const auto& [device, settlement] : settled) {
        if (settlement.toldLater()) continue;
        answered.insert(device);
        if (settlement.kind == Settlement::kDone || settlement.kind == Settlement::kOffline) continue;
        if (settlement.step == Settlement::kSwitch && settlement.kind == Settlement::kBusy) {
            taken.busy.insert(device);
            continue;
        }
        // One that refused the switch with an error is out of the notice.
        if (settlement.step == Settlement::kSwitch && settlement.kind == Settlement::kFailed)
            taken.failed.insert(device);
        failures.add(device, settlement);
    }
    if (!taken.failed.empty()) m_exit.pass([&] { m_ledger->release(Holder::kAlarm, taken.failed); });
    failures.tell(&told);
    // A reply after the reply time still switches a loudspeaker: those that
    // had not answered by the deadline are told of only if they refused or
    // stayed silent by the time late replies are in.
    m_ledger->afterLateReplies(batch, [answered](const LedgerBatch& later) {
        TakeFailures failures;
        for (const auto& [device, settlement] : later.settlements())
            if (answered.count(device) == 0 && settlement.kind != Settlement::kDone &&
                settlement.kind != Settlement::kOffline)
                failures.add(device, settlement);
        failures.tell();
    });
    return taken;
}

bool AlarmChannel::aimStream(const DeviceSet& devices, const std::shared_ptr<StreamPortReader::Search>& port,
                             Clock::time_point deadline, device::AudioChannel channel) {
    const auto basePort = static_cast<std::uint16_t>(pref::getInt("multicast.basePort", 11990));
    bool byRule = false;
    const std::uint16_t discovery = StreamPortReader::portBy(port, devices, deadline, basePort, &byRule);
    aimStream(discovery, channel);
    return byRule;
}

void AlarmChannel::aimStream(std::uint16_t discovery, device::AudioChannel channel) {
    std::wstring address = pref::getString("multicast.address");
    if (address.empty()) address = L"224.0.224.1";
    const unsigned to = device::channelPortOf(discovery, channel);
    LOG_TRACE2(L"%1%(..)", "mp3streamf::set_stream_endp");
    m_stream.set_stream_endp((base::toUtf8(address) + ":" + std::to_string(to)).c_str());
}

bool AlarmChannel::captureAvailable() {
    const std::wstring name = pref::getString("record.deviceName");
    // A location of another kind (a file, a network source) is opened as given.
    if (name.find(L"://") != std::wstring::npos) return true;
    const std::vector<os::AudioCaptureDevice> devices = m_options.captureDevices();
    const bool found = std::any_of(devices.begin(), devices.end(), [&](const os::AudioCaptureDevice& device) {
        return name.empty() || base::fromUtf8(device.alsaName) == name;
    });
    if (found) return true;
    if (name.empty())
        LOG_NOTICE(L"Нет устройства записи звука: вещание с микрофона невозможно.");
    else
        LOG_NOTICE(L"Устройство записи звука '%1%' не найдено: вещание с микрофона невозможно. Выберите устройство "
                   L"записи в настройках.",
                   name);
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
    // counts as idle. Give them back now, unless a stop came: it does.
    if (current(launch)) giveBack();
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
    int volume = 0;
    DeviceSet devices;
    Clock::time_point deadline;
    std::shared_ptr<StreamPortReader::Search> port;
    bool byRule = false;  // the stream goes to the base-port rule's port
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return true;
        volume = m_volume;
        deadline = m_deadline;
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
            std::set<std::wstring> told;
            Take taken = take(devices, channelOf(priority), volume, deadline, told);
            if (taken.quit) return true;  // the quit gives back what was taken
            for (const auto& failed : taken.failed) devices.erase(failed);
            port = taken.port;
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            if (!current(launch)) return true;
            m_devices = devices;
            m_port = port;
            m_told.insert(told.begin(), told.end());
        } else {
            // Made sure of: a stop from another thread between the launch's
            // take and this thread's start let them go. Those still held are
            // not waited for again (a silent one would cost another give-up).
            const DeviceSet held = m_ledger->held(Holder::kAlarm);
            DeviceSet letGo;
            for (const auto& device : devices)
                if (held.count(device) == 0) letGo.insert(device);
            LedgerBatch again;
            if (!letGo.empty() &&
                m_exit.pass([&] { again = m_ledger->hold(Holder::kAlarm, wishes(letGo, channelOf(priority), volume)); }))
                m_exit.waitUntil(again, deadline);
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            if (!current(launch)) return true;
            port = m_port;
        }
        // Quitting: the loudspeakers are being given back, and no stream
        // starts for them.
        if (m_exit.closed()) return true;
        // Those that have not answered yet join the notice when they do;
        // without one online it has nobody to reach.
        if (std::none_of(devices.begin(), devices.end(),
                         [](const Loudspeaker& device) { return device->isOnline(); })) {
            LOG_WARN(L"Канал оповещений: Нет устройств для вещания.");
            LOG_DEBUG(L"%1%", L"break alarm thread");
            return false;
        }
        byRule = aimStream(devices, port, deadline, channelOf(priority));
    }
    // A message or a gong aimed by the rule moves as soon as a port is told.
    m_follow = byRule ? port : nullptr;
    m_followChannel = channelOf(priority);

    if (!gong.empty()) {
        if (!fileExists(gong)) {
            LOG_WARN(L"Не найден гонг, '%1%'", gong);
            return aborted(L"break alarm thread");
        }
        LOG_TRACE(L"%1%", L"play gong");
        playMessage(launch, gong, 300, Guard{kGongStarted, kGongEnded});
        if (!current(launch)) return true;
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
        LOG_TRACE(L"%1%", L"play message");
        playMessage(launch, message, 50, Guard{kMessageStarted, kMessageEnded});
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return true;
        // The notice has ended: its loudspeakers go back. The window or the
        // next launch may stop the channel meanwhile, and gives back the same.
        giveBack();
    } else if (source == kMessageList && !gong.empty() && broadcasting) {
        // A gong alone: the loudspeakers stay on the channel until the stop,
        // with their own volume.
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return true;
        m_exit.pass([&] { m_ledger->hold(Holder::kAlarm, wishes(m_devices, channelOf(priority), std::nullopt)); });
    } else if (source == kMicrophone) {
        const bool recording = !record.empty();
        if (!current(launch)) return true;
        m_stream.set_microphone_name(pref::getString("record.deviceName"));
        m_stream.set_read_mode(mp3streamf::READ_MICROPHONE);
        m_stream.set_write_mode(broadcasting, recording);
        if (recording) m_stream.set_write_file(record);
        LOG_TRACE(L"%1%", L"play with microphone");
        boost::this_thread::interruption_point();
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            if (!current(launch)) return true;
            m_microphoneStreaming = true;
        }
        if (startStream(launch) && byRule) followPort(launch, port, deadline, channelOf(priority));
    }
    LOG_TRACE(L"%1%", L"end alarm thread");
    boost::lock_guard<boost::recursive_mutex> relock(m_lock);
    m_currentMessage.clear();
    return true;
}

void AlarmChannel::followPort(std::uint64_t launch, const std::shared_ptr<StreamPortReader::Search>& port,
                              Clock::time_point deadline, device::AudioChannel channel) {
    // A stop or the quit cancels the search, and the wait ends at once.
    const std::optional<std::uint16_t> told =
        StreamPortReader::laterPort(port, deadline + StreamPortReader::kReadsEnd);
    if (!told || !current(launch) || m_exit.closed()) return;
    // The watcher restarts a lost microphone stream: it is not there while
    // the stream is made anew.
    interruptAndJoinWatcher();
    if (!moveStream(launch, *told, channel)) return;
    boost::lock_guard<boost::mutex> watcher(m_watcherLock);
    if (current(launch)) m_watcherThread = boost::thread([this] { checkInternalPlayingThread(); });
}

bool AlarmChannel::moveStream(std::uint64_t launch, std::uint16_t told, device::AudioChannel channel) {
    LOG_DEBUG(L"Alarm channel: the stream port %1% was told after the deadline; the stream goes there", told);
    m_stream.stop();
    m_stream.stream_close();
    if (!current(launch)) return false;
    aimStream(told, channel);
    return startStream(launch);
}

bool AlarmChannel::startStream(std::uint64_t launch) {
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        if (!current(launch)) return false;
        m_streamStarting = true;
    }
    // Not under the channel's lock: libvlc may take its time to start (some
    // seconds on a loaded machine), and neither the getters nor a stop wait
    // for it. A stop that came meanwhile left the stream to this thread.
    m_stream.stream_create();
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_streamStarting = false;
        if (current(launch)) return true;
    }
    m_stream.stop();
    m_stream.stream_close();
    return false;
}

bool AlarmChannel::windingDown() const {
    return m_stoppedLaunch == m_launches && (m_begunLaunch != m_launches || m_streamStarting);
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
                if (!m_follow) continue;
                const std::optional<std::uint16_t> told = StreamPortReader::laterPort(m_follow, Clock::now());
                if (!told) continue;
                // Told after the deadline: the clip starts again on the port
                // its loudspeakers hear; nobody heard it on the rule's.
                m_follow.reset();
                if (!moveStream(launch, *told, m_followChannel)) return;
                m_endEvent.reset();
                if (!m_stream.play_file(silenceMs, path, &m_endEvent)) break;
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

void AlarmChannel::giveBack() {
    DeviceSet devices;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        LOG_TRACE(L"%1%", L"Alarm channel: Restore settings for devices");
        devices.swap(m_devices);
        m_port.reset();
    }
    // All the alarm's: a loudspeaker taken by the selection at the thread's
    // start is the notice's too. Quitting, the quit gives them back.
    LedgerBatch batch;
    if (!m_exit.pass([&] { batch = m_ledger->releaseAll(Holder::kAlarm); })) return;
    tellGiveBackLater(*m_ledger, batch);
}

void AlarmChannel::beginExit() {
    LOG_DEBUG(L"%1%", L"Alarm channel: quit, no step reaches the loudspeakers any more");
    m_exit.close();
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        StreamPortReader::cancel(m_port);
    }
    m_requests.close();
}

void AlarmChannel::giveBackBeforeExit(std::chrono::milliseconds limit) {
    // Both channels' loudspeakers, those a stop just before began to give
    // back included; the ledger sends nothing more after it.
    m_ledger->close().wait(limit);
}

bool AlarmChannel::takenOver(const DeviceSet& devices, std::optional<Clock::time_point> until) {
    DeviceSet answering;
    for (const auto& device : devices)
        if (device->isOnlineAndAnswered()) answering.insert(device);
    if (answering.empty()) {
        LOG_DEBUG(L"All devices is offline. Number of devices %1%", devices.size());
        return false;
    }
    if (until) return playingOnTheirOwn(answering, *until).size() == answering.size();
    // One after the other, up to the first that plays nothing of its own.
    for (const auto& device : answering)
        if (!device->hasInternalPlaying()) return false;
    return true;
}

// ---- the watcher ----------------------------------------------------------------------------

void AlarmChannel::checkInternalPlayingThread() {
    try {
        while (!boost::this_thread::interruption_requested()) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(m_options.watcherPeriod.count()));
            // Quitting: the loudspeakers are neither asked nor stopped.
            if (m_exit.closed()) return;
            DeviceSet devices;
            {
                boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                devices = m_devices;
            }
            // Outside the lock: an Orvel-510 is asked about its memory.
            if (takenOver(devices) && !m_exit.closed()) {
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
                bool first = false;
                {
                    boost::lock_guard<boost::recursive_mutex> lock(m_lock);
                    first = m_told.insert(L"microphone").second;
                }
                // Once a notice: the stream is started again every period.
                if (first)
                    LOG_ERROR(L"Поток с микрофона отсутствует. Проверьте микрофон.");
                else
                    LOG_DEBUG(L"%1%", L"Alarm channel: the microphone's stream is started again");
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
    bool starting = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_stopping = true;
        m_stoppedLaunch = m_launches;
        begun = m_begunLaunch == m_launches;
        starting = m_streamStarting;
        // The alarm thread's wait for the stream's port ends at once.
        StreamPortReader::cancel(m_port);
    }
    // Joined, not only interrupted: a watcher left running could close and
    // recreate the stream while the next notice sets its destination.
    interruptAndJoinWatcher();
    if (m_stream.is_stream())
        LOG_DEBUG(L"%1%", L"Alarm channel: Message stream is running. Stop the stream of message");
    // Closed even when it is no longer running: a capture whose source ended
    // by itself still holds its libvlc instance, and the next notice could
    // not make its own. One that libvlc is still starting is closed by the
    // alarm thread once started: waiting here for libvlc held the stop for
    // seconds on a loaded machine.
    if (!starting) {
        m_stream.stop();
        m_stream.stream_close();
    }
    // A thread that has not begun yet ends as soon as it runs, without a
    // step of its own; waiting for it would only wait for the processor.
    // Nor is one waited for that only closes the stream: it touches no
    // loudspeaker, and the next launch waits for it.
    if (begun && !starting) {
        boost::lock_guard<boost::mutex> threads(m_threadsLock);
        joinStoppedThread();
    }
    // The alarm thread may have started a watcher after the first join.
    interruptAndJoinWatcher();
    // The loudspeakers go back without waiting for their answers; a notice
    // launched next takes them where they are. Those that took over with a
    // notice of their own are left to it until the common channel is wanted.
    bool preempted = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        preempted = m_preempted;
    }
    if (preempted)
        m_ledger->park(Holder::kAlarm);
    else
        giveBack();
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
    if (!m_alarmThread.try_join_for(boost::chrono::seconds(1)))
        LOG_WARN(L"Internal error. Alarm channel don't stopped. Time out.");
}

void AlarmChannel::hand(std::function<void()> request) {
    const Clock::time_point handed = Clock::now();
    m_requests.add([handed, request = std::move(request)] {
        struct Handed {
            explicit Handed(Clock::time_point at) { t_handedAt = at; }
            ~Handed() { t_handedAt.reset(); }
        } scope(handed);
        request();
    });
}

void AlarmChannel::drainRequests() { m_requests.drain(); }

bool AlarmChannel::isRunning() {
    bool idleThread = false;
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        idleThread = windingDown();
        // Stopped while libvlc starts its stream: the stream goes as soon
        // as it has started, and nothing is sent meanwhile.
        if (idleThread && m_streamStarting) return false;
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

bool AlarmChannel::commonChannelOwed() {
    AlarmChannel* self = instance();
    if (self == nullptr) return false;
    boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
    return self->m_preempted;
}

bool AlarmChannel::restoreCommonChannelForAllDevices(std::optional<Clock::time_point> until) {
    if (!commonChannelOwed()) return true;
    AlarmChannel* self = instance();
    const DeviceSet all = self->m_selection != nullptr ? self->m_selection->getDevicesOfZones() : DeviceSet();
    // Asked of every loudspeaker at once (by default until each answers or
    // is given up); the caller waits for it.
    if (self->takenOver(all, until ? *until : Clock::now() + longestAnswer(all))) {
        LOG_WARN(L"На устройствах идёт приоритетное оповещение.");
        return false;
    }
    {
        boost::lock_guard<boost::recursive_mutex> lock(self->m_lock);
        if (!self->m_preempted) return true;
        self->m_preempted = false;
    }
    // Not waited for: the ledger sends what comes after it (the player's
    // volumes) to each loudspeaker after these.
    self->giveBack();
    LedgerBatch reset;
    if (!self->m_exit.pass([&] { reset = self->m_ledger->resetChannel(all); })) return true;
    self->m_ledger->afterLateReplies(reset, [](const LedgerBatch& settled) {
        tellFailures(settled.failures(Settlement::kSwitch), kNotSwitchedBack);
    });
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
