#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "device/version.h"

namespace device::tip_device {

/// The line-control module ("master") of an Orvel-610-LC loudspeaker, which
/// supervises end devices on a line. It talks to the module with "lsensor"
/// requests through the loudspeaker's request function, caches what the
/// module reported and keeps the end devices' titles.
///
/// Threads: the GUI thread and the property panel's jobs call the
/// operations, the loudspeaker's state-packet jobs setTipDeviceMasks, its
/// cache reset resetCache. The module lock guards the lists, the state and
/// the version; it is not held across a request except inside getTipDevices.
class LineControl {
public:
    /// Sends one request line and returns the reply; empty means failure.
    /// May throw the loudspeaker's exceptions for refusals.
    typedef boost::function<std::string(const std::string&)> RequestFunction;

    enum ModuleState : std::uint32_t { kUnknown = 0, kNotReady = 1, kActive = 2, kPause = 3 };
    enum PowerSave : std::uint32_t { kPowerSaveOff = 0, kPowerSaveOn = 1, kPowerSaveUnknown = 2 };
    /// End-device addresses are the module's indexes plus this.
    static constexpr std::uint8_t kFirstAddress = 11;
    static constexpr unsigned kMaskBits = 20;

    struct TipDevice {
        bool valid = false;
        std::uint8_t address = 0;
        bool addedAndActive = false;
        bool added = false;
        bool active = false;
        std::wstring title;
        bool thirdFlag = false;
        std::uint32_t firstValue = 0;
        std::uint32_t secondValue = 0;
        std::string code;  // at most 4 characters
    };

    explicit LineControl(RequestFunction request);
    LineControl(const LineControl&) = delete;
    LineControl& operator=(const LineControl&) = delete;

    /// With version: initVersionAndAddress first; then requestTipDevices.
    void refresh(bool withVersion);
    /// "lsensor ver". A version that doesn't parse throws
    /// exception::UnexpectedResponseOfDevice (the address is taken already).
    void initVersionAndAddress();
    Version getMasterFirmwareVersion();
    std::string getMasterHardwareAddress();
    /// Percent; a value the module reports while initializing is not kept.
    std::uint32_t getInitializationProgress();
    bool setPowerSaveMode(std::uint32_t mode);
    /// False, nothing sent, when power saving is on or the end device isn't
    /// reported (or, for add, is added already).
    bool add(std::uint8_t address);
    bool remove(std::uint8_t address);
    /// The reported end devices while the module is active, else those of
    /// the state packet's masks (the module is asked first when not active).
    std::vector<TipDevice> getTipDevices();
    /// "lsensor": state, power-save mode, progress and, while active, the
    /// end devices. A malformed reply changes nothing (WARN line).
    void requestTipDevices();
    void resetCache();
    /// Sends a line of the module's own ("lsensor addAll", "lsensor prefReset",
    /// "lsensor reboot") and returns the reply; empty: the module didn't take
    /// it (silent, offline). An "ERR" reply throws exception::UserResponse
    /// "Произошла ошибка в модуле контроля линии" with the reply. Nothing is
    /// cached; callers that change the module's lists reset the cache first.
    std::string request(const std::string& line);
    /// Bits 0..19 stand for the end devices at addresses 11..30.
    void setTipDeviceMasks(std::uint32_t added, std::uint32_t active);
    std::wstring getTipDeviceTitle(std::uint8_t address);
    TipDevice findTipDevice(std::uint8_t address);

    std::uint32_t getModuleState() const;
    std::uint32_t getPowerSaveMode() const;

    static std::wstring defaultTitle(std::uint8_t address);
    /// The state code named in a reply's first part, 0 when none is.
    static std::uint32_t findModuleState(const std::string& firstPart);

private:
    bool sendToTip(const char* verb, std::uint8_t address);
    /// Under the lock: the title of a reported end device, empty when none.
    std::wstring titleLocked(std::uint8_t address) const;

    mutable boost::recursive_mutex m_lock;
    const RequestFunction m_request;
    std::atomic<std::uint32_t> m_state{kUnknown};
    std::string m_address;
    Version m_version;
    // Caches read and written without the lock.
    std::atomic<std::uint32_t> m_powerSave{kPowerSaveUnknown};
    std::atomic<std::uint32_t> m_progress{0};
    std::uint32_t m_addedMask = 0;
    std::uint32_t m_activeMask = 0;
    std::vector<TipDevice> m_reported;
    std::vector<TipDevice> m_masked;
    std::map<std::uint8_t, std::wstring> m_titles;
};

}  // namespace device::tip_device
