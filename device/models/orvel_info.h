#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <optional>
#include <string>
#include <utility>

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "device/device_base.h"
#include "device/memory/audio_memory_types.h"
#include "device/models/orvel_config.h"
#include "device/models/orvel_state.h"
#include "device/models/playback_type.h"
#include "device/models/return_watch.h"
#include "device/models/volume_level.h"

namespace device {

class IEqualizer;
namespace tip_device {
class LineControl;
}

/// The channel a loudspeaker listens to: its discovery port plus this
/// number. -1 is the system's own "unknown", never sent.
typedef std::int32_t AudioChannel;
constexpr AudioChannel CHANNEL_UNKNOWN = -1;
constexpr AudioChannel CHANNEL_DISCOVERY = 0;      // the common broadcast
constexpr AudioChannel CHANNEL_NOTICE_HIGH = 1;    // notices of priority 3 and higher
constexpr AudioChannel CHANNEL_REPEATER = 3;
constexpr AudioChannel CHANNEL_NOTICE_LOW = 6;     // notices of priority 2 and lower
/// A "get ch" reply above this is not a channel.
constexpr AudioChannel kMaxChannel = 20;

/// One networked loudspeaker of the Orvel family (Orvel-510, -610, -611, -45,
/// -Lan). The base owns identity, address, version and the request layer;
/// this class adds the firmware-version index, the state-packet record, the
/// channel and the playback-type code, and the model's command formats.
///
/// Threads: parsePing runs on the dispatcher's state-packet jobs, one at a
/// time per loudspeaker (its own parse lock); the GUI thread and the
/// channels' jobs call the rest. The state record lives under the device
/// lock, copied in and written back; the index, channel and playback-type
/// code are atomics read without it. No lock is held across an exchange.
class OrvelInfo : public DeviceBase {
public:
    typedef OrvelState State;
    typedef OrvelConfig Config;

    /// Packets this soon (microseconds) after a reboot are skipped: the
    /// loudspeaker still reports what it did before.
    static constexpr std::int64_t kRebootSkipWindow = 2000000;

    /// The collection's factory, for type codes with the loudspeaker bit. The
    /// type code given is kept and the index starts at the newest generation
    /// of that model (initialVersionIndex), so that a loudspeaker loaded from
    /// the device list keeps its model while it stays silent. The first
    /// parsed packet replaces both.
    static boost::shared_ptr<OrvelInfo> create(std::uint32_t id, std::uint64_t typeCode,
                                               const net::HardwareAddress& hardwareAddress,
                                               const net::IpAndPort& endpoint, const std::wstring& title,
                                               boost::shared_ptr<TransferProtocol> transport,
                                               StateChangedHandler handler);

    int getVersionIndex() const { return m_versionIndex.load(); }

    /// How often the loudspeaker was seen coming back: online again after it
    /// was counted offline (not its first discovery), its packets from a
    /// new address or port, its packets again after a silence longer than
    /// the packet gap (a restart), or a packet that contradicts the channel
    /// it was seen on (ReturnWatch). Each return first forgets the cached
    /// channel and volume (level and percent; it may hold anything now),
    /// then counts, once the loudspeaker is online: whoever drives it polls
    /// the count and drives it again when it grew. Any thread.
    std::uint64_t returnCount() const { return m_returns.load(); }
    /// The silence of state packets that counts as a return (the
    /// collection's CollectionTiming::packetGap; ReturnWatch::kDefaultPacketGap
    /// until set).
    void setPacketGap(std::int64_t microseconds);
    /// A copy of the record with `sounding` recomputed from the volume and
    /// the playback-type code.
    State getState() const;
    /// Throws exception::UnsupportedByDevice naming the generation needed
    /// when the index is below `minimum`.
    void requireMinimumVersion(int minimum) const;
    boost::shared_ptr<OrvelInfo> getThisPtr() const;

    // ---- slots of the base ------------------------------------------------

    void resetCache() override;
    bool isFirmwareSuitable(boost::shared_ptr<IFirmware> image) override;
    /// Volume in percent 0..100. Offline: exception::Offline. False when the
    /// loudspeaker refused, didn't answer (its volume is then unknown: it may
    /// have taken the request) or was busy with its own playback. The volume
    /// kept already is not sent again.
    bool setVolume(std::uint32_t percent) override;
    /// One state packet of this loudspeaker from `source`. False when it is
    /// refused (malformed, another device's, unparsable version); true when
    /// taken or skipped after a reboot. Never throws for packet content.
    bool parsePing(const std::string& packet, const net::IpAndPort& source) override;
    bool hasInternalPlaying() override;
    /// A notice of its own (its audio memory, a console's scenario) that its
    /// state packets already show; asks nothing.
    bool showsInternalPlaying() const;
    std::wstring getPlaybackTypeText() override { return findPlaybackTypeText(getPlaybackType()); }
    /// getConfig's common part; writeConfig puts the given common part into
    /// the current record and writes it with setConfig.
    ConfigCommon readConfig(bool noCache) override;
    /// The port the loudspeaker hears the common channel on (the notice
    /// channels on the ports after it), as last read with its settings;
    /// asks nothing. Empty when never read, forgotten or read before the
    /// loudspeaker's last reboot (it may hear on another port now).
    std::optional<std::uint16_t> knownDiscoveryPort() const;
    /// The same port with one request ("get state", an early firmware
    /// "config") instead of the whole settings record; kept for
    /// knownDiscoveryPort. Not online or no answer: exception::Offline; a
    /// reply without the port: exception::UnexpectedResponseOfDevice.
    std::uint16_t readDiscoveryPort();
    /// The same without waiting, with a base resend time of its own: `done`
    /// gets the port, or nothing for no answer or a reply without it, on
    /// the transport's completer thread (at once when nothing is sent), and
    /// once more with a late reply that tells it.
    void readDiscoveryPortAsync(unsigned resendMs, std::function<void(std::optional<std::uint16_t>)> done);
    bool writeConfig(const ConfigCommon& config) override;
    /// "getLineParam" below index 9, else "get dbg": the raw reply.
    std::string getDebugInfo() override;
    void handleVolume(const std::string& reply) override;
    void continueUpgrade() override;
    void resetPlaybackType() override { setPlaybackTypeForce(playback::kNone); }

    // ---- channel and lines ----------------------------------------------------

    /// True when switched or already there; false when skipped (own playback,
    /// the repeater kept, unknown channel) or deferred by the loudspeaker.
    /// Channels above 1 need index 2; the exchange's errors are thrown. After
    /// a request that went unanswered the channel is unknown (the loudspeaker
    /// may have switched), so the next switch is sent whatever it asks for.
    bool switchChannel(AudioChannel channel);
    /// The cached channel, else "get ch"; CHANNEL_UNKNOWN when the reply is no
    /// channel; CHANNEL_DISCOVERY while the loudspeaker plays a source of its own.
    AudioChannel getChannel();
    /// The channel as last set or read, CHANNEL_UNKNOWN when not known; asks nothing.
    AudioChannel getCachedChannel() const { return m_channel.load(); }
    /// The volume as the loudspeaker writes it, kept with the percent
    /// (getCachedVolume) by every read and write, waiting or not: empty
    /// exactly when the percent is unknown. A level set by percent is the
    /// level that percent is sent as. Asks nothing.
    std::optional<VolumeLevel> getCachedVolumeLevel() const;
    /// The exact level enableVolume(true) restores, kept with
    /// getVolumeBeforeMute by every mute; empty until the first mute.
    std::optional<VolumeLevel> getVolumeLevelBeforeMute() const;
    /// Tests both lines: (line 1 good, line 2 good). No answer:
    /// exception::Offline.
    std::pair<bool, bool> setLine();
    bool getLineDouble();

    // ---- without waiting -------------------------------------------------------------

    // Each sends its request through exchangeAsync and returns at once; `done`
    // runs on the transport's completer thread (at once on the calling thread
    // when nothing is sent), never while a lock of the device is held, and a
    // second time with `late` set when the reply of a request given up as
    // kSilent comes after all (the caches then follow that reply). Nothing is
    // skipped for what the caches hold, and the loudspeaker's own playback is
    // not asked about: the caller decides. They log at DEBUG and INFO only;
    // the caller tells the operator of failures.

    /// Sends "set ch N". Before sending: kRefused for channel 0 while the
    /// repeater's is kept; kFailed for CHANNEL_UNKNOWN and for a channel above
    /// 1 below index 2. The reply: "...is deferred..." kRefused, the channel
    /// unknown; an error kFailed; none kSilent, the channel unknown (it may
    /// have switched); success keeps the channel and the playback type as
    /// switchChannel does.
    void switchChannelAsync(AudioChannel channel, RequestDone done);
    /// Sends "set vol" for an exact level: `level` as it is, or with
    /// `enabled` false the model's muted level, keeping `level` as the one
    /// enableVolume(true) restores (getVolumeLevelBeforeMute). Success keeps
    /// the level sent, its percent and `enabled` as the volume switch; no
    /// reply: kSilent, the volume unknown (it may have been taken). A level
    /// of the other scale (the Orvel-510's pair for a later loudspeaker, or
    /// the reverse) is kFailed, nothing sent.
    void setVolumeLevelAsync(const VolumeLevel& level, bool enabled, RequestDone done);
    /// Asks "get vol" and keeps the level and its percent as getVolume
    /// does; a reply that can't be read is kFailed and leaves the volume
    /// unknown. `level` is empty unless kDone.
    void readVolumeLevelAsync(std::function<void(const RequestOutcome& outcome, std::optional<VolumeLevel> level)> done);
    /// What hasInternalPlaying answers: at once from the playback-type code,
    /// or for an Orvel-510 from "mem state" (the audio-memory object is not
    /// made for it): an error reply means no memory, so nothing plays; no
    /// reply kSilent; a reply that can't be read kFailed; `playing` false
    /// unless kDone. A memory that plays corrects the code as hasInternalPlaying does.
    void internalPlayingAsync(std::function<void(const RequestOutcome& outcome, bool playing)> done);

    // ---- playback-type code -------------------------------------------------------

    /// The server's idea of what plays, kept unless a stronger playback holds.
    void setPlaybackType(std::uint64_t code);
    void setPlaybackTypeForce(std::uint64_t code);
    std::uint64_t getPlaybackType() const { return m_playbackType.load(); }
    /// The audio memory's report of its playback state (any thread).
    void setPlaybackTypeCallback(memory::Playing playing);

    // ---- configuration (orvel_config.cpp) ------------------------------------------

    /// The loudspeaker's settings, from a copy kept for 5 s unless `noCache`
    /// (a copy from before the last reboot is never used). Not online or not
    /// answered: exception::Offline; a reply the record can't be built from:
    /// exception::UnexpectedResponseOfDevice. Any thread but the transport's.
    Config getConfig(bool noCache);
    /// Validates, then sends each changed key the firmware knows; reboots the
    /// loudspeaker and returns true when a sent key needs it. Refusals:
    /// UserResponse "internalPlaying", "changes", "unknownAinScenarioNumber";
    /// IncorrectFormat naming the failed check; Offline. A failing key ends
    /// the write with the exchange's exception (earlier keys stay set).
    bool setConfig(const Config& config);

    // ---- equalizer and line control (orvel_equalizer.cpp, orvel_line_control.cpp) ----------

    /// A copy of the kept equalizer, read first when none is kept: the packed
    /// form below index 9, the six bands from 9 on. No answer:
    /// exception::DeviceReason (index below 9) or exception::Offline; a reply
    /// that isn't an equalizer: exception::UnexpectedResponseOfDevice.
    boost::shared_ptr<IEqualizer> getEqualizer();
    /// Writes what differs from the kept equalizer (the bands, the on/off
    /// switch or both); true when nothing differs or the loudspeaker took
    /// every request, false when it refused or didn't answer. A missing
    /// equalizer: exception::ServerError.
    bool setEqualizer(const boost::shared_ptr<IEqualizer>& equalizer);
    /// The line-control module, made on first use with the state packet's
    /// end-device masks. Below index 9: exception::UnsupportedByDevice.
    boost::shared_ptr<tip_device::LineControl> getLineControl();

    // ---- virtual zones (orvel_zones.cpp) ---------------------------------------------------

    /// The loudspeaker's announcement zones (the virtual zones it plays
    /// consoles' announcements of) and zone addresses (the 24-bit addresses
    /// of those consoles), kept in its own memory from index 18 on. Adds and
    /// removes below index 18 throw exception::UnsupportedByDevice and send
    /// nothing; an add the valid cache already holds sends nothing; each
    /// change drops the cache. Reads below index 18 give an empty set without
    /// a request. Any thread but the transport's; no lock is held across an
    /// exchange. Exchange errors pass on; a malformed list:
    /// exception::UnexpectedResponseOfDevice with the reply.
    void addZoneAnnouncement(int virtualZone);
    void removeZoneAnnouncement(int virtualZone);
    std::set<int> readZoneAnnouncements();
    void addZoneAddress(unsigned address);
    void removeZoneAddress(unsigned address);
    std::set<unsigned> readZoneAddresses();

    // ---- configuration keys -----------------------------------------------------------

    /// Sends "set <key> <value>" when the value changed and the key exists
    /// at this index and model (typeMask 0: every model); otherwise a DEBUG
    /// line and false. Returns the restart mark of the base's setParameter
    /// (the i16 form never marks; the int form, used for ports, always does).
    template <class T>
    bool setParameter(const std::string& key, const T& current, const T& wanted, bool restart, int minIndex,
                      int maxIndex, std::uint64_t typeMask);

protected:
    OrvelInfo(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
              const std::wstring& title, boost::shared_ptr<TransferProtocol> transport);
    /// What create does after construction: the self pointer, the handler,
    /// the initial index and type code.
    static void setUp(const boost::shared_ptr<OrvelInfo>& self, std::uint64_t typeCode, StateChangedHandler handler);

    boost::shared_ptr<memory::IAudioControl> createAudioControl(bool allowOverwrite) override;
    void forgetVolume() override;
    /// The base's mute, with the exact level kept beside the percent.
    bool muteVolume() override;
    /// The exact level kept at the mute when there is one for this model,
    /// else the base's percent.
    bool restoreVolume() override;
    /// What follows the making of every audio memory: the analog inputs'
    /// scenario ids are read when unknown, and each change of the memory's
    /// scenarios re-aims the inputs (applyDeferredSettings). Returns `memory`.
    boost::shared_ptr<memory::IAudioControl> watchScenarios(boost::shared_ptr<memory::IAudioControl> memory);

private:
    // What the waiting and the asynchronous forms of the playback requests share.
    static std::string channelCommand(AudioChannel channel);
    static bool isDeferredReply(const std::string& reply);
    /// A switch to `channel` done: the cached channel and the playback type.
    void takeSwitchedChannel(AudioChannel channel);
    /// The cached channel as a switch or a read left it (CHANNEL_UNKNOWN:
    /// it may be on any), told to the return watch as the channel held.
    void holdChannel(AudioChannel channel);
    /// A switch request leaves, and has ended in any way: the packets in
    /// between are not held against the channel.
    void switchStarted();
    void switchEnded();
    /// A loudspeaker found on a notice channel before the program ever
    /// asked it to switch (a notice of an earlier run left it there) goes
    /// back to channel 0, unless a switch of the program's is asked first.
    void revertToDiscovery();
    /// One state packet's part in the return count: the cause, or kNone.
    ReturnCause watchPacket(std::int64_t at, bool wasOnline, bool moved, std::uint32_t kind);
    /// A return seen: what the loudspeaker may have lost is forgotten and
    /// the return logged (the count grows later, once it is online).
    void takeReturn(ReturnCause cause);
    /// A volume set: the percent and the level sent kept, logged, notified.
    void takeSetVolume(std::uint32_t percent, const VolumeLevel& level);
    /// Both halves of the volume at once.
    void keepVolume(std::uint32_t percent, const VolumeLevel& level);
    void keepVolumeBeforeMute(std::uint32_t percent, const VolumeLevel& level);
    /// The level a "get vol" reply tells on the model's scale; empty when it
    /// tells none. What is wrong with the reply (no value, a dB above 0) is
    /// logged, at DEBUG when `quiet`.
    std::optional<VolumeLevel> levelOfReply(const std::string& reply, bool quiet) const;
    /// setVolume for an exact level kept as `percent`, with setVolume's
    /// checks, skip and log lines.
    bool setVolumeLevel(const VolumeLevel& level, std::uint32_t percent);
    /// What both share once the level is known to fit: the busy Orvel-510
    /// refused, the level `kept` already skipped, else sent; `shown` in the
    /// log lines.
    bool writeVolume(const VolumeLevel& level, std::uint32_t percent, const std::string& shown,
                     const std::function<bool()>& kept);
    /// The audio memory plays: a playback-type code that says otherwise is
    /// corrected (logged as an error unless `quiet`).
    void takeMemoryPlaying(bool quiet);
    /// switchChannelAsync's reply: the outcome, the caches updated.
    RequestOutcome takeSwitchReply(AudioChannel channel, bool answered, const std::string& reply, bool late);

    bool parsePingLocked(const std::string& packet, const net::IpAndPort& source);
    /// Step by step, on the copies taken under the device lock.
    void takeFields(OrvelPacket& packet, State& state, bool& changed);
    void checkRanges(std::array<std::uint32_t, 15>& f, int index) const;
    void takePlayback(const OrvelPacket& packet, State& state, int index, bool& changed);
    void takeIdleState(const State& state, int index, bool changed);
    void queueMismatchCheck();
    void skipParameter(const std::string& key) const;
    Config readOldConfig(int index);
    Config readStateConfig(int index);
    void takeScenarioIds(Config& config);
    void keepConfig(const Config& config);
    /// Drops the kept record and the remembered scenario ids (resetCache).
    void forgetConfig();
    /// The module when it was made already (no request, no check of the index).
    boost::shared_ptr<tip_device::LineControl> existingLineControl() const;
    /// The line-control request function's body; the function holds only a
    /// weak pointer to the loudspeaker.
    static std::string lineControlRequest(const boost::weak_ptr<OrvelInfo>& device, const std::string& request);
    void applyDeferredSettings(const boost::shared_ptr<memory::IAudioControl>& memory);

    std::atomic<std::int32_t> m_versionIndex{0};
    std::atomic<std::int32_t> m_channel{CHANNEL_UNKNOWN};
    // The exact volume with its percent in one word (keepVolume), so that a
    // reader never finds the one from another write than the other; 0:
    // unknown. The level before a mute the same way.
    std::atomic<std::uint64_t> m_volumeLevel{0};
    std::atomic<std::uint64_t> m_levelBeforeMute{0};
    std::atomic<std::uint64_t> m_playbackType{playback::kNone};
    std::atomic<bool> m_revertToDiscovery{true};
    /// Switches the program asked of the loudspeaker; counted, with the
    /// asynchronous switches sent, under m_switchOrder, so that the revert
    /// to channel 0 goes out either before a switch of the program's or not
    /// at all. Recursive: a switch that cannot be sent completes at once and
    /// its caller may ask the next one.
    std::atomic<std::uint64_t> m_switchesAsked{0};
    boost::recursive_mutex m_switchOrder;
    boost::mutex m_returnLock;   // the watch's only lock; nothing is called under it
    ReturnWatch m_returnWatch;   // under m_returnLock
    std::atomic<std::uint64_t> m_returns{0};
    State m_state;               // under the device lock
    boost::mutex m_parseLock;    // one parsePing at a time

    // The configuration kept by getConfig and setConfig, under the device
    // lock except the atomic expiry; the analog inputs' scenario ids as last
    // read or written (kUnreadScenario: not read since the last resetCache).
    static constexpr std::uint16_t kUnreadScenario = 0xFFFE;
    boost::shared_ptr<const Config> m_config;
    std::int64_t m_configTakenAt = 0;
    std::atomic<std::int64_t> m_configValidUntil{0};
    std::atomic<std::uint32_t> m_discoveryPort{0};  // 0: not known
    std::atomic<std::int64_t> m_discoveryPortTakenAt{0};
    std::uint16_t m_scenarioIdAin1 = kUnreadScenario;
    std::uint16_t m_scenarioIdAin2 = kUnreadScenario;

    // Under the device lock, replaced as a whole.
    boost::shared_ptr<IEqualizer> m_equalizer;
    boost::shared_ptr<tip_device::LineControl> m_lineControl;

    // The zone lists as last read, under the device lock; the flags say
    // whether they still hold the loudspeaker's lists.
    std::set<int> m_announcements;
    std::atomic<bool> m_announcementsValid{false};
    std::set<unsigned> m_zoneAddresses;
    std::atomic<bool> m_zoneAddressesValid{false};
};

template <class T>
bool OrvelInfo::setParameter(const std::string& key, const T& current, const T& wanted, bool restart,
                             int minIndex, int maxIndex, std::uint64_t typeMask) {
    if (current == wanted) return false;
    const int index = getVersionIndex();
    if (index < minIndex || index > maxIndex || (typeMask != 0 && !isTypeOf(typeMask))) {
        skipParameter(key);
        return false;
    }
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return DeviceBase::setParameter(key, std::to_string(current), std::to_string(wanted), restart);
    } else if constexpr (std::is_same_v<T, int>) {
        return DeviceBase::setParameter(key, current, wanted, true);
    } else {
        return DeviceBase::setParameter(key, current, wanted, restart);
    }
}

}  // namespace device
