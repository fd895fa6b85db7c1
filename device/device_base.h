#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/weak_ptr.hpp>

#include "base/hardware_address.h"
#include "base/ip_address.h"
#include "device/config_common.h"
#include "device/firmware/upgrade_worker.h"
#include "device/reply_times.h"
#include "device/version.h"

namespace device {

class TransferProtocol;
class IFirmware;
class FirmwareCollection;
namespace memory {
class IAudioControl;
}

/// How one request to a device ended.
struct RequestOutcome {
    enum Kind {
        kDone,     // the device did it
        kRefused,  // the device or this side declined it (a kept channel, a deferred switch); nothing failed
        kFailed,   // an error reply, a reply that can't be read, or a request the device can't take
        kSilent    // no reply (given up), or nothing could be sent
    };
    Kind kind = kDone;
    std::wstring cause;  // Russian, what the operator is told (empty for kDone), e.g. kNoAnswerCause (reply_times.h)
    bool late = false;   // the reply came after the request had been given up as kSilent
    bool busy = false;   // kFailed: the device still worked on an earlier request
};
using RequestDone = std::function<void(const RequestOutcome&)>;

/// The base of every device object (loudspeaker, microphone console): its
/// identity, address, version and title, the request layer over the shared
/// transport with its reply cache, the online bookkeeping, and the common
/// operations (volume, reboot, parameters, audio memory). The device
/// collection owns the objects by shared pointer; the GUI, the channels and
/// jobs hold more pointers.
///
/// Threads: state packets arrive on dispatcher jobs, the GUI thread and the
/// channels' jobs call the operations, the collection's control thread checks
/// the online state. The device lock (recursive) guards the title, the
/// version, the reply cache, the handler and the models' state records; it
/// may be taken while the collection's lock is held, never the reverse, and
/// it is never held across a network exchange. The flags, times and the
/// volume are atomics read without it; the endpoint is replaced as a whole.
class DeviceBase {
public:
    /// Runs on a dispatcher job with the device that changed.
    typedef boost::function<void(boost::shared_ptr<DeviceBase>)> StateChangedHandler;
    /// Progress of a firmware upgrade: -1 failure, 0..99 progress, 100 done.
    typedef boost::function<void(boost::shared_ptr<DeviceBase>, int)> FirmwareProgress;

    static constexpr std::int32_t kUnknownVolume = 0x7FFFFFFF;
    /// A device heard from within this many microseconds is online.
    static constexpr std::int64_t kOnlineWindow = 7000000;
    /// What a device answers while it still works on the previous request.
    static constexpr const char* kBusyReply = "Processing of the previous command isn't complete!";
    /// How often a busy answer is asked again, and how long to wait between.
    static constexpr int kBusyRetries = 10;
    static constexpr int kBusyPauseMs = 100;
    /// Asks the volume; handleVolume reads the reply.
    static constexpr const char* kGetVolume = "get vol";

    DeviceBase(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
               const std::wstring& title, boost::shared_ptr<TransferProtocol> transport);
    virtual ~DeviceBase();
    DeviceBase(const DeviceBase&) = delete;
    DeviceBase& operator=(const DeviceBase&) = delete;

    // ---- what the models provide ----------------------------------------

    /// Drops the kept audio-memory object (the collection's stop calls it).
    virtual void releaseAudioControl();
    /// Called every second by the collection (false) and by the zone panel
    /// for online devices that haven't answered (true). Silent for 7 s: with
    /// true only a log line; with false, once, the offline transition (flags
    /// cleared, volume unknown, resetCache, handler notified). Recent: with
    /// true and no answer yet, checkResponding.
    virtual void checkOnline(bool skipWithoutPing);
    /// Forgets the cached replies; models forget their state with it.
    virtual void resetCache();
    virtual bool isFirmwareSuitable(boost::shared_ptr<IFirmware> image) = 0;
    virtual bool setVolume(std::uint32_t percent) = 0;
    virtual bool parsePing(const std::string& packet, const net::IpAndPort& source) = 0;
    virtual bool hasInternalPlaying() = 0;
    virtual std::wstring getPlaybackTypeText() = 0;
    virtual ConfigCommon readConfig(bool noCache) = 0;
    virtual bool writeConfig(const ConfigCommon& config) = 0;
    virtual std::string getDebugInfo() = 0;
    /// Takes the reply of "get vol" into the cached volume (unknown when the
    /// reply can't be read) and counts it as contact.
    virtual void handleVolume(const std::string& reply) = 0;
    /// Called on the upgrade worker once the device is back from taking an
    /// image while m_firmware still holds more; a model that upgrades in
    /// steps sends the next with upgradeFirmware. Nothing by default.
    virtual void continueUpgrade() {}
    virtual void resetPlaybackType() {}

    // ---- online bookkeeping ---------------------------------------------

    /// Heard from (state packet or answer) less than 7 s ago; a time in the
    /// future counts as recent.
    bool isOnline() const;
    bool isOnlineAndAnswered() const { return isOnline() && m_answered.load(); }
    /// Sends "get vol" past the cache without throwing, hands a reply to
    /// handleVolume, logs the result and notifies the handler when the
    /// answered flag changed. The flag is not used. Runs on dispatcher jobs.
    void checkResponding(bool flag);
    /// The same check without waiting: the request leaves through the
    /// transport's async(), and its completion (on the transport's completer
    /// thread) does what checkResponding does after the exchange, a busy
    /// device being asked again by a dispatcher job. Used for devices that
    /// come online, which at a site's start are thousands within a second: a
    /// dispatcher thread that waited for each answer would hold up every
    /// state packet meanwhile. Without a transport it is checkResponding.
    void checkRespondingLater();
    /// The same exchange through request(): true when answered, the request's
    /// exception otherwise.
    bool probeVolume();
    /// Microseconds since 1601 of the last state packet or answer; 0: never.
    std::int64_t getLastContactTime() const { return m_lastContactTime.load(); }

    // ---- request layer ----------------------------------------------------

    /// One exchange: a cacheable request is answered from the cache when it
    /// can; otherwise it goes through the transport (priority 2, resend
    /// 1000 ms), asked again up to kBusyRetries times while the device is
    /// busy. An "ERR..." reply (or one still busy) throws
    /// exception::UnexpectedResponseOfDevice, no answer exception::Offline;
    /// success returns the reply trimmed. An endpoint that isn't valid counts
    /// as no answer, nothing is sent. Blocks; never on the transport's threads.
    std::string transfer(const std::string& request);
    /// transfer(): true on success (reply copied when asked for). The raw
    /// reply of a refusal is copied too; refusals and silence then return
    /// false, or pass the exception on with `passErrors`.
    bool request(const std::string& text, std::string* reply, bool passErrors);
    /// The exchange without waiting: the request leaves through the
    /// transport's async() (priority 2, resend 1000 ms) and `done` runs on the
    /// transport's completer thread with the reply, a busy device being asked
    /// again after kBusyPauseMs up to kBusyRetries times (by a dispatcher job,
    /// never by sleeping on the completer). Unanswered: done(false, "", false);
    /// at once on the calling thread when nothing can be sent (no transport,
    /// an endpoint that isn't valid). The reply is the raw one ("ERR..." and
    /// a reply still busy included), and no cache is used. When the request
    /// was given up and its reply comes late (within the rest the transport
    /// keeps after a give-up), `done` runs a second time with it and `late`
    /// true. The answered flag and the time of contact follow each reply as
    /// in transfer(), the late one included. No lock of the device is held
    /// while `done` runs, and the device lives while it runs: the first call
    /// holds it, a late reply of a device that is gone calls nothing.
    using ExchangeDone = std::function<void(bool answered, const std::string& reply, bool late)>;
    /// How long a request of exchangeAsync() or transfer() that leaves now
    /// waits for the device's answer (the base times without a transport).
    ReplyTimes replyTimes() const;
    void exchangeAsync(const std::string& request, ExchangeDone done);
    /// The same with a base resend time of its own (milliseconds): a request
    /// whose single answer matters more than a quick resend.
    void exchangeAsync(const std::string& request, ExchangeDone done, unsigned resendMs);
    /// Registers a request text whose successful replies are kept until
    /// resetCache or clearCachedResponses.
    void addCachedRequest(const std::string& text);
    void clearCachedResponses();

    // ---- reply parsing ----------------------------------------------------

    /// "OK..."/"SUCCESS..." true; "ERR..." throws
    /// exception::UnexpectedResponseOfDevice; anything else false.
    static bool handleResponse(const std::string& reply);
    /// The text after the first ':' (all of it without one), cut at every
    /// CR and LF, each piece trimmed, empty pieces dropped.
    static std::vector<std::string> splitResponse(const std::string& reply);
    /// "on" anywhere, in any case, is true; else "off" is false; neither
    /// logs and returns false.
    static bool parseBoolValue(const std::string& field, bool& value);
    /// A decimal integer (white space around allowed) within [minimum,
    /// maximum]; otherwise a log line and false, the value untouched.
    template <class T>
    static bool parseIntValue(const std::string& field, T& value, std::common_type_t<T> minimum,
                              std::common_type_t<T> maximum);
    /// Position of "DHCP" in any case, -1 when absent.
    static int parseDhcpValue(const std::string& field);

    // ---- operations ---------------------------------------------------------

    /// Equal values: false, nothing sent. Otherwise logs, sends "set <key>
    /// <value>" (flags "on"/"off", numbers decimal) passing errors on, and
    /// returns `restart`; the signed 16-bit form returns false in any case.
    bool setParameter(const std::string& key, const std::string& current, const std::string& wanted, bool restart);
    bool setParameter(const std::string& key, const char* current, const char* wanted, bool restart);
    bool setParameter(const std::string& key, bool current, bool wanted, bool restart);
    bool setParameter(const std::string& key, std::uint16_t current, std::uint16_t wanted, bool restart);
    bool setParameter(const std::string& key, std::int16_t current, std::int16_t wanted, bool restart);
    bool setParameter(const std::string& key, std::uint32_t current, std::uint32_t wanted, bool restart);
    bool setParameter(const std::string& key, int current, int wanted, bool restart);

    /// Sends "reboot"; refused with exception::UserResponse "internalPlaying"
    /// while the device plays on its own. The reboot time is taken before
    /// sending, so the models skip the packets of a device that restarts
    /// before it answers.
    bool reboot();

    /// Mutes (the model's setVolume(0), remembering the volume) or restores
    /// the remembered volume. Same state as kept: true, nothing sent. The
    /// exceptions of setVolume pass on.
    bool enableVolume(bool on);
    bool isVolumeEnabled() const { return m_volumeEnabled.load() != 0; }
    /// The volume enableVolume(true) restores (percent).
    std::int32_t getVolumeBeforeMute() const { return m_volumeBeforeMute.load(); }

    /// Upgrades the firmware from the bytes of a firmware file: a file that
    /// isn't one throws exception::UserResponse "incorrectFirmware"
    /// ("Файл не является прошивкой"); then as the collection form.
    bool upgradeFirmware(const std::string& file, FirmwareProgress progress, bool force);
    /// Picks the images for this device (selectFirmware with the model's
    /// isFirmwareSuitable; its refusals pass out), refuses without `force`
    /// while the device plays on its own ("internalPlaying"), keeps the picked
    /// images and `progress` for the continuation and queues the job "upgrade
    /// firmware", which starts the upgrade worker. False, nothing queued, when
    /// the device isn't online and answered or an upgrade of it runs.
    ///
    /// The worker reports 0 at once, then the share sent (to 99), then exactly
    /// one final 100 or -1. After a success it removes the sent image; when
    /// images remain it waits (at most 120 s) for the device to restart and
    /// calls continueUpgrade. Any thread but the transport's.
    bool upgradeFirmware(boost::shared_ptr<FirmwareCollection> firmware, FirmwareProgress progress, bool force);

    /// Asks "get vol" and returns the percent; no answer, a refusal or a reply
    /// that leaves the volume unknown throw exception::DeviceReason.
    int getVolume();
    /// The volume as last set or read, kUnknownVolume when not known; asks nothing.
    std::int32_t getCachedVolume() const { return m_volume.load(); }

    /// The kept audio-memory object, else a new one from createAudioControl,
    /// then kept. A creation that throws gives an empty pointer (WARN) or,
    /// with `passErrors`, the exception. Creation reads the device: it runs
    /// outside the device lock, one creation per device at a time.
    boost::shared_ptr<memory::IAudioControl> getAudioControl(bool allowOverwrite, bool passErrors);

    // ---- identity -------------------------------------------------------------

    std::uint32_t getId() const { return m_id; }
    const net::HardwareAddress& getHardwareAddress() const { return m_hardwareAddress; }
    /// The title; an empty one reads "Устройство " and the hardware address.
    std::wstring getTitle() const;
    void setTitle(const std::wstring& title);
    net::IpAndPort getIp() const;
    boost::shared_ptr<const net::IpAndPort> getIpPtr() const;
    /// Replaces the endpoint as a whole; readers keep the copy they took.
    void setIp(const net::IpAndPort& endpoint);
    Version getVersion() const;
    std::wstring getVersionText() const;
    std::uint64_t getTypeCode() const { return m_typeCode.load(); }
    /// The model name of the type code ("Orvel-610").
    std::wstring getFirmwareVersionTypeText() const;
    /// Every bit of the mask is set in the type code.
    bool isTypeOf(std::uint64_t mask) const { return (getTypeCode() & mask) == mask; }
    boost::shared_ptr<TransferProtocol> getTransport() const { return m_transport; }

    void setStateChangedHandler(StateChangedHandler handler);
    /// Runs the handler on a dispatcher job with a shared pointer to this device.
    void notifyIfStateChanged();
    void setThisWeakPtr(const boost::weak_ptr<DeviceBase>& self);
    /// checkRespondingLater's request, the `retry`th for a busy device;
    /// `before` is the answered flag when the check began.
    void askResponding(int retry, bool before);
    /// Empty, with an ERROR line, once the device can no longer be locked.
    boost::shared_ptr<DeviceBase> getThisBasePtr() const;

    // ---- state packets ----------------------------------------------------------

    static bool isStatePacket(const std::string& text, net::HardwareAddress& address);
    static bool parseStatePacketVersion(const std::string& text, Version& version);

protected:
    /// Makes the audio-memory object of the model; reads the device.
    /// `allowOverwrite`: a memory the model can't read may be replaced.
    virtual boost::shared_ptr<memory::IAudioControl> createAudioControl(bool allowOverwrite) = 0;

    /// Microseconds since 1601 (nowMicroseconds); tests move it by hand.
    virtual std::int64_t now() const;
    /// One request over the transport at a priority and resend time, and its
    /// reply: false when nothing came back. Every exchange of the device
    /// objects passes here, so that the fuzz targets answer for the device
    /// without a socket.
    virtual bool sendAndWait(const net::IpAndPort& endpoint, const std::string& request, std::string& reply,
                             int priority, unsigned resendMs);

    /// The outcome of an exchange by its reply as transfer() judges it:
    /// kSilent unanswered; kFailed for an "ERR..." reply or one still busy,
    /// the cause carrying the reply; kDone otherwise.
    static RequestOutcome outcomeOfReply(bool answered, const std::string& reply, bool late);
    /// "ERR..." after any leading white space, as handleResponse reads it.
    static bool isErrorReply(const std::string& reply);
    static bool isBusyReply(const std::string& reply);
    /// What the operator is told of a reply the device layer can't use.
    static std::wstring unexpectedReplyCause(const std::string& reply);
    void setVolumeBeforeMute(std::int32_t percent) { m_volumeBeforeMute = percent; }
    /// The volume is no longer known (gone offline, a read that decides
    /// alone). Models that keep more of the volume forget it here too.
    virtual void forgetVolume() { m_volume = kUnknownVolume; }
    /// enableVolume's two halves: remember the volume and mute (the model's
    /// setVolume(0)); set the volume remembered. Their result is enableVolume's.
    virtual bool muteVolume();
    virtual bool restoreVolume();

    /// The version record and the text it was parsed from, under the lock.
    void setVersion(const Version& version, const std::string& text);
    /// The model's type code before any state packet told the version.
    void presetTypeCode(std::uint64_t typeCode);
    std::string getVersionTextNarrow() const;
    /// Whether the version text is `text`, without a copy of it (packet threads ask it of every packet).
    bool hasVersionText(const std::string& text) const;

    // The log lines the models share.
    void logAddressChanged(const net::IpAndPort& current, const net::IpAndPort& old) const;

    // Steps every model's state-packet parser shares (packet threads).
    /// True, with its IMPOR line, while packets are skipped after a reboot;
    /// a clock set back (negative elapsed time) never skips.
    bool skipsPacketAfterReboot(std::int64_t window);
    /// Commands go where the packets come from: takes the packet's source as
    /// the endpoint; true when it changed.
    bool followPacketSource(const net::IpAndPort& source);
    void logVersionChanged(const std::string& current, const std::string& old) const;
    void logAinChanged(unsigned current, unsigned old) const;
    void logConnected() const;
    static void logUnknownHardwareAddress(const std::string& text);
    static void logGongNotFound(unsigned index);

    const std::uint32_t m_id;
    const net::HardwareAddress m_hardwareAddress;
    const boost::shared_ptr<TransferProtocol> m_transport;

    mutable boost::recursive_mutex m_lock;  // the device lock

    std::atomic<std::int32_t> m_volume{kUnknownVolume};  // percent when known
    std::atomic<std::int32_t> m_volumeEnabled{1};
    std::atomic<std::int64_t> m_rebootTime{0};
    std::atomic<bool> m_firstPacket{false};
    std::atomic<std::int64_t> m_lastPacketTime{0};
    std::atomic<std::int64_t> m_lastContactTime{0};
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_answered{false};

    // Kept from the last firmware upgrade for its continuation; under the lock.
    boost::shared_ptr<FirmwareCollection> m_firmware;
    FirmwareProgress m_firmwareProgress;

private:
    /// Sends and waits, asking again while the device is busy: false when
    /// nothing came back. Sets the answered flag and, on a reply, the time
    /// of contact.
    bool exchange(const std::string& request, std::string& reply);
    /// exchangeAsync's request, the `retry`th for a busy device.
    void askAsync(const std::string& request, ExchangeDone done, int retry, unsigned resendMs);
    /// The body of the upgrade worker thread.
    static void runUpgrade(boost::shared_ptr<DeviceBase> device, boost::shared_ptr<FirmwareCollection> firmware,
                           FirmwareProgress progress);
    /// After an image was taken: waits for the device to go offline and
    /// come back answering; false when it didn't within the limit or is gone.
    static bool waitForRestart(const boost::weak_ptr<DeviceBase>& device);
    bool sendParameter(const std::string& key, const std::string& valueText, bool restart);
    static bool parseDecimal(const std::string& field, long long& value);
    static void logIncorrectInteger(const std::string& field);
    std::wstring hardwareText() const;

    // Under m_lock:
    Version m_version;
    std::string m_versionText;
    std::wstring m_title;
    std::set<std::string> m_cachedRequests;
    std::map<std::string, std::string> m_cachedResponses;
    boost::shared_ptr<memory::IAudioControl> m_audioControl;
    StateChangedHandler m_stateChangedHandler;
    boost::weak_ptr<DeviceBase> m_self;

    std::atomic<std::uint64_t> m_typeCode{0};  // mirrors m_version.typeCode for lock-free tests
    std::atomic<std::int32_t> m_volumeBeforeMute{100};
    boost::shared_ptr<const net::IpAndPort> m_endpoint;  // atomic load and store only
    boost::mutex m_audioCreation;  // one createAudioControl at a time
    std::atomic<bool> m_upgrading{false};  // from the queued job to the hand-over to the next image
    UpgradeWorker m_upgradeWorker;         // last member, so destroyed (joined) first
};

template <class T>
bool DeviceBase::parseIntValue(const std::string& field, T& value, std::common_type_t<T> minimum,
                               std::common_type_t<T> maximum) {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool> && sizeof(T) <= 4,
                  "for integers of 8, 16 and 32 bits");
    long long parsed = 0;
    if (!parseDecimal(field, parsed) || parsed < static_cast<long long>(minimum) ||
        parsed > static_cast<long long>(maximum)) {
        logIncorrectInteger(field);
        return false;
    }
    value = static_cast<T>(parsed);
    return true;
}

}  // namespace device
