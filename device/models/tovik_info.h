#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "device/device_base.h"
#include "device/models/tovik_state.h"

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
    /// The configuration slots come with the console configuration; until
    /// then they throw exception::NotImplemented.
    ConfigCommon readConfig(bool noCache) override;
    bool writeConfig(const ConfigCommon& config) override;
    std::string getDebugInfo() override;
    void handleVolume(const std::string& reply) override;

protected:
    TovikInfo(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
              const std::wstring& title, boost::shared_ptr<TransferProtocol> transport);

    boost::shared_ptr<memory::IAudioControl> createAudioControl(bool allowOverwrite) override;

private:
    bool parsePingLocked(const std::string& packet, const net::IpAndPort& source);
    void takeVersion(const Version& version, const std::string& text, const std::string& storedText, bool& changed);
    void logChanges(const State& now, const State& before, bool& changed) const;

    std::atomic<std::int32_t> m_consoleType{0};
    State m_state;             // under the device lock
    boost::mutex m_parseLock;  // one parsePing at a time
};

}  // namespace device
