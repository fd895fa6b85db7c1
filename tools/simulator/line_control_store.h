#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "tools/simulator/model.h"

namespace device::sim {

/// The line-control module of a simulated Orvel-610-LC loudspeaker: its
/// state ("Active", "Pause", "Not Ready"), power-save mode, initialization
/// progress and end devices by index, answering the "lsensor" requests.
/// Thread-safe: the device's strand calls answer, the test thread the rest.
class LineControlStore {
public:
    struct Tip {
        unsigned flags = 0;  // bit 0 added, bit 1 active, bit 2 third
        unsigned first = 0;
        unsigned second = 0;
        std::string code = "0";
    };

    /// Registers "lsensor" on `model`; the model keeps the store alive.
    static void install(const std::shared_ptr<LineControlStore>& store, CommandModel& model);

    /// The reply to "lsensor <arguments>".
    std::optional<std::string> answer(const std::string& arguments);

    void setState(const std::string& state);
    std::string state() const;
    void setPowerSave(unsigned mode);
    unsigned powerSave() const;
    void setProgress(unsigned percent);
    /// The number "lsensor dbg" shows behind "Init mode:" while not active.
    void setInitMode(unsigned mode);
    void setTip(unsigned index, const Tip& tip);
    std::map<unsigned, Tip> tips() const;
    void setVersion(const std::string& version, const std::string& hardwareAddress);
    /// Not empty: the requests of `command` ("" is "lsensor" alone, "ver",
    /// "dbg") answer exactly this.
    void setReply(const std::string& command, const std::string& reply);
    /// Not empty: the loudspeaker has no module, and every "lsensor" request
    /// answers this ("ERR line control module is absent"); empty: the module
    /// is back.
    void setAbsent(const std::string& reply);
    /// The masks the loudspeaker's state packet would carry: (added, active).
    std::pair<std::uint32_t, std::uint32_t> masks() const;

private:
    std::string stateReply() const;

    mutable std::mutex m_mutex;
    std::string m_state = "Active";
    unsigned m_powerSave = 0;
    unsigned m_progress = 100;
    unsigned m_initMode = 3;
    std::map<unsigned, Tip> m_tips;
    std::string m_version = "1.2.7.0 2024-02-01";
    std::string m_hardwareAddress = "02:56:53:10:00:01";
    std::map<std::string, std::string> m_replies;
    std::string m_absent;
};

}  // namespace device::sim
