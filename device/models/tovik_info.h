#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "device/device_base.h"
#include "device/models/tovik_config.h"
#include "device/models/tovik_state.h"
#include "device/models/zone_replies.h"

namespace device {

/// The Tovik-30 microphone console. The base owns identity, address, version
/// and the request layer; this class keeps the record of the console's state
/// packets with the flags derived from it, and the console type of its
/// firmware.
///
/// Threads: parsePing runs on the collection's state-packet jobs, one at a
/// time per console (its own parse lock); the GUI thread reads the state.
/// The record and the version text live under the device lock; the console
/// type, flags, volume and times are atomics. No lock is held while logging,
/// notifying or exchanging.
class TovikInfo : public DeviceBase {
public:
    typedef TovikState State;
    typedef TovikConfig Config;
    typedef ConsoleZone Zone;

    /// One passkey as the console lists it.
    struct Passkey {
        bool present = true;
        std::string key;          // hexadecimal digits, as the console sends it
        std::wstring description; // "Ключ <n>"
    };

    /// Packets this soon (microseconds) after a reboot request are skipped.
    static constexpr std::int64_t kRebootSkipWindow = 1000000;

    /// The collection's factory, for type codes with the console bit.
    static boost::shared_ptr<TovikInfo> create(std::uint32_t id, const net::HardwareAddress& hardwareAddress,
                                               const net::IpAndPort& endpoint, const std::wstring& title,
                                               boost::shared_ptr<TransferProtocol> transport,
                                               StateChangedHandler handler);

    State getState() const;
    /// 0: no version seen; 1: firmware 0.0; 2: 0.1; 3: major 1; 4: major 2 or more.
    int getConsoleType() const { return m_consoleType.load(); }
    boost::shared_ptr<TovikInfo> getThisPtr() const;

    // ---- slots of the base ------------------------------------------------

    void resetCache() override;
    bool isFirmwareSuitable(boost::shared_ptr<IFirmware> image) override;
    /// The console has no volume of its own: exception::UnsupportedByDevice.
    bool setVolume(std::uint32_t percent) override;
    /// One state packet of this console from `source`. False when refused
    /// (version unreadable, another model, bad address); true when taken or
    /// skipped after a reboot. Never throws for packet content.
    bool parsePing(const std::string& packet, const net::IpAndPort& source) override;
    bool hasInternalPlaying() override;
    std::wstring getPlaybackTypeText() override;
    /// getConfig's common part; writeConfig puts the given common part into
    /// the current record and writes it with setConfig.
    ConfigCommon readConfig(bool noCache) override;
    bool writeConfig(const ConfigCommon& config) override;
    std::string getDebugInfo() override;
    void handleVolume(const std::string& reply) override;

    // ---- configuration (tovik_config.cpp) --------------------------------------

    /// The kept record unless `noCache`, else "get state". Not online and
    /// answered: exception::Offline; a short or malformed reply:
    /// exception::UnexpectedResponseOfDevice with the reply.
    Config getConfig(bool noCache);
    /// Checks, then sends the keys that differ from what the console holds.
    /// True when a key that needs a restart was sent and the console was
    /// rebooted. Refusals (exception::Offline, UserResponse code words,
    /// IncorrectFormat) come before any key is sent. Dispatcher jobs or the
    /// GUI thread; blocks.
    bool setConfig(const Config& config);
    /// Logs when the kept gong settings disagree with the audio memory.
    void checkInvariant();

    // ---- passkeys (tovik_passkeys.cpp) -------------------------------------------

    std::vector<Passkey> listPasskeys();
    /// Starts learning a new key.
    void addPasskey();
    /// True while the console waits for a new key; false also when it can't
    /// be asked.
    bool isPasskeyListening();
    void finishPasskeyListening();
    /// Only a key of the last list: exception::UserError "Ключ не существует"
    /// otherwise; not hexadecimal: exception::IncorrectFormat.
    void deletePasskey(const std::string& key);
    void resetPasskeys();

    // ---- zones (tovik_zones.cpp) --------------------------------------------------

    /// Reads the zone list, the message bindings and, once, the capacity,
    /// unless the kept map is valid. Exchange errors pass on; a malformed
    /// list: exception::UnexpectedResponseOfDevice. Any thread but the
    /// transport's; no lock across an exchange.
    void initZones();
    /// A copy of the map, read first when not valid.
    ConsoleZoneMap getZones();
    /// A copy of one zone; absent: exception::InternalError.
    Zone findZone(int zoneNumber);
    /// Writes the zone (zone number 0..20, virtual zone 1..1023, at least one
    /// address) and, unless `scenario` is -1, its message. False, after its
    /// log line, when refused before sending (arguments, capacity, command
    /// too long) or when the message binding failed and the zone was deleted
    /// again. The zone command's own errors pass on.
    bool bindZone(int zoneNumber, int virtualZone, int scenario, const std::set<unsigned>& addresses);
    /// Deletes a listed zone; false when the zone isn't listed.
    bool unbindZone(int zoneNumber);
    /// Loudspeaker addresses stored in all kept zones together.
    int countBoundAddresses() const;
    /// How many addresses the console stores in all; 0 until read.
    int getZoneCapacity() const { return m_zoneCapacity.load(); }

protected:
    TovikInfo(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
              const std::wstring& title, boost::shared_ptr<TransferProtocol> transport);

    boost::shared_ptr<memory::IAudioControl> createAudioControl(bool allowOverwrite) override;
    /// Checks the kept gong against a new memory, queues the job "Update the
    /// gong settings" and has the memory re-aim the gong after every change
    /// of it (applyDeferredSettings). Returns `memory`.
    boost::shared_ptr<memory::IAudioControl> watchGong(boost::shared_ptr<memory::IAudioControl> memory);

private:
    bool parsePingLocked(const std::string& packet, const net::IpAndPort& source);
    void takeVersion(const Version& version, const std::string& text, const std::string& storedText, bool& changed);
    void logChanges(const State& now, const State& before, bool& changed) const;
    /// The gong flag of the kept record follows the playback state's bit 0x01.
    void takeGongPlaying(std::uint32_t playbackState);
    /// Re-aims the gong at its fragment after the audio memory changed.
    void applyDeferredSettings();
    void checkInvariant(const boost::shared_ptr<memory::IAudioControl>& memory);
    std::uint16_t readGongId(const Config& config);
    void keepConfig(const Config& config);
    void forgetConfigAndKeys();
    /// The cached "passkeyList" reply, asked for when none is cached.
    /// False (nothing cached) when asking failed and `passErrors` is clear.
    bool cachePasskeyReply(bool passErrors, std::string& reply);

    std::atomic<std::int32_t> m_consoleType{0};
    State m_state;             // under the device lock
    boost::mutex m_parseLock;  // one parsePing at a time

    // Under the device lock:
    boost::shared_ptr<const Config> m_config;  // the last record read or written
    bool m_deferredGong = false;                // the gong chosen by fragment id,
    std::uint16_t m_deferredGongId = Config::kNoGong;  // kept across memory rewrites
    std::string m_passkeyReply;                 // of the last "passkeyList"; empty: ask
    std::vector<Passkey> m_passkeys;
    std::vector<Passkey> m_passkeysBeforeAdd;
    boost::weak_ptr<memory::IAudioControl> m_memory;  // the audio memory made last, if alive

    ConsoleZoneMap m_zones;                // under the device lock
    std::atomic<bool> m_zonesValid{false};
    std::atomic<int> m_zoneCapacity{0};    // learnt once, kept across cache resets
};

}  // namespace device
