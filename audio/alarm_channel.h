#pragma once

#include <atomic>
#include <boost/function.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio/channel_host.h"
#include "audio/exit_gate.h"
#include "audio/loudspeaker_ledger.h"
#include "audio/playback.h"
#include "audio/request_thread.h"
#include "audio/stream_port.h"
#include "audio/sync_event.h"
#include "os/capture_devices.h"

class mp3streamf;

namespace frm {

struct AlarmChannelOptions {
    /// The channel-0 port of a loudspeaker, to which the notification
    /// channel's number is added.
    using DiscoveryPort = std::function<std::uint16_t(device::OrvelInfo&)>;
    /// How often the watcher looks at the loudspeakers.
    std::chrono::milliseconds watcherPeriod{15000};
    /// How long after the operator's action a notice's stream starts at the
    /// latest, whatever its loudspeakers do: counted from when the window
    /// handed the launch over (hand), else from the launch call. Those that
    /// have not taken the notice by then join it as they answer. The first
    /// datagram follows the start by the time libvlc takes to start (about
    /// 0.3 s): the notice is on air within 3 s of the action.
    std::chrono::milliseconds deadline{2300};
    /// Asks a loudspeaker its channel-0 port (may wait for its reply, and
    /// throw). Empty: the port their settings told, else the loudspeakers
    /// are asked before their switch (StreamPortReader).
    DiscoveryPort discoveryPort;
    /// Called first by every alarm thread, before it looks at the notice;
    /// tests hold a thread here to let a stop overtake it.
    std::function<void()> threadStarts;
    /// Who drives the loudspeakers; shared with the player channel. Empty:
    /// one of the channel's own over the loudspeakers' requests.
    std::shared_ptr<LoudspeakerLedger> ledger;
    /// The capture devices a microphone notice may open; empty: the system's.
    std::function<std::vector<os::AudioCaptureDevice>()> captureDevices;
};

/// Notices that pre-empt the common broadcast: a gong, a message file or the
/// live microphone on the notification stream, sent to loudspeakers that are
/// switched for the time of the notice to a notification channel (6 for
/// priority 2 and lower, 1 above) and back to the common channel after it.
/// A notice of equal or higher priority replaces the running one; a lower
/// one is refused.
///
/// Every notice that broadcasts starts its stream when all its loudspeakers
/// have taken it (switched, at its volume) or at its deadline, whichever
/// comes first (Options::deadline); the stream's port is looked for while
/// the loudspeakers are taken (StreamPortReader). A loudspeaker that has not
/// taken the notice by then stays held: the ledger goes on with its steps
/// and it joins the notice as it answers, and the operator hears of it only
/// if it never does. What the deadline shows decides the refusals: all
/// loudspeakers known to play a notice of their own refuse the notice, some
/// of them ask the operator; a refusal that comes later is told later.
///
/// Threads: launch and stop come from the channel's request thread (the
/// window's requests, see hand) and dispatcher jobs, the getters from any
/// thread. The alarm thread runs one notice; the watcher thread beside it
/// ends the notice when the loudspeakers play a notice of their own, and
/// restarts a lost microphone stream. The loudspeakers are driven by the
/// ledger, which the channel tells what the notice wants of them: it never
/// waits for a loudspeaker under a lock, a stop gives the loudspeakers back
/// without waiting for their answers, and a notice that takes them again at
/// once finds them where they are. Launches take their turns under a lock
/// of their own. One recursive lock guards the fields and is held only
/// briefly. A stream that starts as a stop comes is closed again at once.
/// Completion codes 0 to 3 reach the callback on the GUI thread, 4 and 5 on
/// the thread that calls stop.
class AlarmChannel {
public:
    using Callback = boost::function<void(int)>;
    using DiscoveryPort = AlarmChannelOptions::DiscoveryPort;

    enum Source { kMicrophone = 0, kMessageList = 1 };
    enum Code {
        kGongStarted = 0,
        kGongEnded = 1,
        kMessageStarted = 2,
        kMessageEnded = 3,
        kReplaced = 4,
        kStopped = 5
    };

    using Options = AlarmChannelOptions;

    /// Marks the overloads that act on the singleton.
    struct Tag {};

    AlarmChannel(DeviceSelection* selection, ChannelGui* gui, mp3streamf& stream,
                 Options options = Options());
    /// Wakes a waiting clip and stops and joins both threads.
    ~AlarmChannel();
    AlarmChannel(const AlarmChannel&) = delete;
    AlarmChannel& operator=(const AlarmChannel&) = delete;

    /// Start-up; a second call is logged and ignored.
    static void createInstance(DeviceSelection* selection, ChannelGui* gui, mp3streamf& stream,
                               Options options = Options());
    static void destroyInstance();
    static AlarmChannel* instance() { return s_instance.load(std::memory_order_acquire); }

    /// True when the alarm thread was started; refusals are logged.
    bool launch(int source, bool broadcasting, DeviceSet devices, const std::wstring& message,
                const std::wstring& gong, const std::wstring& record, int priority, int volume,
                const std::wstring& description, Callback callback, bool onlySelected);

    static bool launchWithoutDevices(Tag, const std::wstring& description, const std::wstring& record);
    static bool launchSelected(Tag, int priority, const std::wstring& description, const std::wstring& gong,
                               const std::wstring& record, int volume, Callback callback);
    static bool launchSelectedWithCallback(Tag, int priority, const std::wstring& description,
                                           const std::wstring& message, const std::wstring& gong, int volume,
                                           Callback callback);
    static bool launchWithCallback(Tag, const std::wstring& description, const DeviceSet& devices,
                                   const std::wstring& message, const std::wstring& gong, int volume,
                                   Callback callback);

    /// Ends the running notice and gives its loudspeakers back; `callback`
    /// (may be empty) and the notice's own callback get 4 (replaced) or 5 on
    /// this thread.
    void stop(Callback callback);

    /// Runs `request` (a launch or a stop) on the channel's request thread,
    /// after the requests handed over before it: the window's handlers hand
    /// theirs here, so that the window never waits for the loudspeakers. The
    /// deadline of a launch the request makes counts from here. Any thread.
    void hand(std::function<void()> request);
    /// Drops the handed requests not begun and waits for the one that runs
    /// (the window's shutdown, before what the requests reach goes).
    void drainRequests();
    bool isRunning();
    int getPriority();
    std::wstring getDescription();
    std::wstring getCurrentMessage();

    /// The quit, before every loudspeaker is given back: from here on no
    /// launch, step of the alarm thread, look of the watcher or stop reaches
    /// a loudspeaker, and the requests handed over and not begun are
    /// dropped (later ones too). Waits only for a ledger call under way.
    void beginExit();
    /// The quit, once both channels began their exit and before the
    /// transport stops: every loudspeaker that the ledger drives for either
    /// channel goes back to its own settings, once; waits for their
    /// answers, `limit` at most.
    void giveBackBeforeExit(std::chrono::milliseconds limit);

    /// Whether a notice that loudspeakers took over with one of their own
    /// left them behind: restoreCommonChannelForAllDevices has them to ask.
    /// False when no channel exists. Any thread.
    static bool commonChannelOwed();
    /// Before the common channel plays: false while loudspeakers that took
    /// over with a notice of their own still play it; otherwise puts the
    /// loudspeakers that a pre-empted notice left behind back on channel 0.
    /// True when no channel exists. Waits for the loudspeakers' answers until
    /// `until` at most, by default until each answers or is given up: never
    /// on the GUI thread (see playOnCommonChannel).
    static bool restoreCommonChannelForAllDevices(
        std::optional<std::chrono::steady_clock::time_point> until = std::nullopt);

    /// The gong files: the folder place.pathDirGong, else "gong" in the data
    /// folder, filtered by the player engine's extensions.
    static std::vector<std::wstring> getGongFiles();
    /// The gong files of a given folder, filtered the same way.
    static std::vector<std::wstring> getGongFiles(const std::wstring& folder);

    /// The notification stream this channel plays on; the settings dialog's
    /// capture test plays through it too, while it is idle.
    mp3streamf& stream() { return m_stream; }

private:
    /// Posts the start and end codes of one clip to the GUI thread.
    struct Guard {
        int start;
        int end;
    };
    using Clock = std::chrono::steady_clock;
    /// What a take of the loudspeakers came to by the notice's deadline.
    struct Take {
        DeviceSet busy;    // they play a notice of their own
        DeviceSet failed;  // they refused with an error: out of the notice
        std::shared_ptr<StreamPortReader::Search> port;  // the stream port looked for meanwhile
        bool quit = false;  // the quit came first: nothing was taken
    };

    void alarmThread(std::uint64_t launch);
    /// Whether the notice of `launch` may go on: false once a stop came for it.
    bool current(std::uint64_t launch);
    /// False when the notice ended early with the loudspeakers still taken.
    bool runNotice(std::uint64_t launch);
    void checkInternalPlayingThread();
    void playMessage(std::uint64_t launch, const std::wstring& path, std::uint32_t silenceMs,
                     const Guard& guard);
    void post(int code);
    /// The loudspeakers to the notice's channel at its volume, and the
    /// stream's port looked for meanwhile; waits for their answers until
    /// `deadline` at most and tells the failures answered by then, once
    /// (`told`: the notice's), those that come later when they come.
    Take take(const DeviceSet& devices, device::AudioChannel channel, int volume, Clock::time_point deadline,
              std::set<std::wstring>& told);
    /// The notification stream's destination for the notice's channel; true
    /// when no loudspeaker told its port by the deadline and the base-port
    /// rule gave it.
    bool aimStream(const DeviceSet& devices, const std::shared_ptr<StreamPortReader::Search>& port,
                   Clock::time_point deadline, device::AudioChannel channel);
    void aimStream(std::uint16_t discovery, device::AudioChannel channel);
    /// A live notice aimed by the base-port rule: when a loudspeaker tells
    /// its port after all (its reads' late answers), the stream is made
    /// anew there. Waits for that until the reads end, a stop or the quit.
    void followPort(std::uint64_t launch, const std::shared_ptr<StreamPortReader::Search>& port,
                    Clock::time_point deadline, device::AudioChannel channel);
    /// The running stream closed and made anew on the port `told` after the
    /// deadline; false (and the stream closed) when a stop came meanwhile.
    bool moveStream(std::uint64_t launch, std::uint16_t told, device::AudioChannel channel);
    /// What the ledger wants of the set for the notice.
    static std::map<Loudspeaker, Wish> wishes(const DeviceSet& devices, device::AudioChannel channel,
                                             std::optional<int> volume);
    /// The notice's loudspeakers back to the common channel with their own
    /// settings, without waiting for their answers. The set is then empty.
    void giveBack();
    /// Those of `taken` that the running notice does not hold back to the
    /// common channel (a launch refused after it took them).
    void giveBackOnly(const DeviceSet& taken);
    /// Starts the stream for the notice; false (and the stream closed) when
    /// a stop came for it meanwhile. A stop that comes while libvlc starts
    /// it leaves the stream to this thread, which closes it once started.
    bool startStream(std::uint64_t launch);
    /// Whether the last launch was stopped while its thread has nothing left
    /// but its end, or closing the stream a stop came into the start of.
    /// Under the channel's lock.
    bool windingDown() const;
    /// Whether the microphone of record.deviceName can be opened; tells the
    /// operator when not.
    bool captureAvailable();
    /// Every answering loudspeaker plays internally (false when none answers).
    /// With `until`: every one asked at the same time, one that gives no
    /// answer by then counting as not playing; else one after the other up
    /// to the first that does not.
    bool takenOver(const DeviceSet& devices, std::optional<Clock::time_point> until = std::nullopt);
    bool aborted(const std::wstring& place);
    void interruptAndJoinWatcher();
    /// Waits for the alarm thread after a stop: 100 ms, then interrupted
    /// 1 s more. Under m_threadsLock.
    void joinStoppedThread();

    static std::atomic<AlarmChannel*> s_instance;

    boost::thread m_alarmThread;
    boost::thread m_watcherThread;
    /// Guards the alarm thread's handle. Held while stop and the destructor
    /// join that thread, so the thread itself never takes it.
    boost::mutex m_threadsLock;
    /// Guards the watcher's handle, which the alarm thread sets as it starts.
    boost::mutex m_watcherLock;
    /// Held by a launch from its first look at the channel to its thread's
    /// start: two launches never take the loudspeakers at once. Taken before
    /// m_lock, never under it.
    boost::mutex m_launchLock;
    boost::recursive_mutex m_lock;
    /// The alarm thread has been started and has not returned yet.
    std::atomic<bool> m_threadActive{false};
    int m_source = kMessageList;
    sync_event m_endEvent{false};
    int m_priority = 0;
    std::wstring m_message;
    std::wstring m_record;
    std::wstring m_gong;
    std::wstring m_currentMessage;
    std::wstring m_description;
    Callback m_callback;
    int m_volume = 100;
    bool m_relaunch = false;
    bool m_stopping = false;  // stop() has begun: it, not the alarm thread, reports the end
    /// Launches counted from 1; every launch up to m_stoppedLaunch was
    /// stopped, and its thread, however late it starts, does nothing more.
    std::uint64_t m_launches = 0;
    std::uint64_t m_stoppedLaunch = 0;
    /// The launch whose thread has passed its first look at the stop.
    std::uint64_t m_begunLaunch = 0;
    bool m_broadcasting = false;
    bool m_onlySelected = false;
    bool m_preempted = false;
    bool m_microphoneStreaming = false;
    /// The alarm thread has libvlc start the stream (startStream): a stop
    /// meanwhile leaves the stream to it.
    bool m_streamStarting = false;
    /// The notice's loudspeakers, held in the ledger.
    DeviceSet m_devices;
    /// When the notice's stream starts at the latest.
    Clock::time_point m_deadline;
    /// The stream's port, looked for while the launch took the loudspeakers.
    std::shared_ptr<StreamPortReader::Search> m_port;
    /// The alarm thread's own: the search whose port a clip's stream moves
    /// to once told, while the stream goes to the base-port rule's port, and
    /// the notice's channel.
    std::shared_ptr<StreamPortReader::Search> m_follow;
    device::AudioChannel m_followChannel = device::CHANNEL_NOTICE_HIGH;
    /// The loudspeakers' failures told for the notice (text and cause).
    std::set<std::wstring> m_told;

    DeviceSelection* m_selection;
    ChannelGui* m_gui;
    mp3streamf& m_stream;
    Options m_options;
    std::shared_ptr<LoudspeakerLedger> m_ledger;
    /// Every step that reaches a loudspeaker passes it; the quit closes it.
    ExitGate m_exit;
    StreamPortReader m_ports;
    RequestThread m_requests;
};

}  // namespace frm
