#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "tools/simulator/model.h"

namespace device::sim {

/// The zone lists of a simulated loudspeaker of index 18 or above: its
/// announcement zones (virtual zones) and zone addresses (consoles), answering
/// "zoneAnnAdd/Del/Read" and "zoneAddrAdd/Del/Read". Lists are read back as
/// "no" when empty, else the items joined by "," (decimal zones, upper-case
/// hexadecimal addresses). Thread-safe: the device's strand calls answer, the
/// test thread the rest.
class SpeakerZoneStore {
public:
    /// Registers the six commands on `model`; the model keeps the store alive.
    static void install(const std::shared_ptr<SpeakerZoneStore>& store, CommandModel& model);

    /// The reply to "<command> <arguments>" of one of the six commands.
    std::optional<std::string> answer(const std::string& command, const std::string& arguments);

    std::set<int> announcements() const;
    std::set<unsigned> addresses() const;
    void setAnnouncements(std::set<int> zones);
    void setAddresses(std::set<unsigned> addresses);
    /// Not empty: the read `command` ("zoneAnnRead", "zoneAddrRead") answers
    /// exactly this.
    void setReply(const std::string& command, const std::string& reply);

private:
    mutable std::mutex m_mutex;
    std::set<int> m_announcements;
    std::set<unsigned> m_addresses;
    std::map<std::string, std::string> m_replies;
};

}  // namespace device::sim
