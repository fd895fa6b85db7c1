#include "tools/simulator/speaker_zone_store.h"

#include <cstdio>
#include <cstdlib>

namespace device::sim {

namespace {

const char* const kCommands[] = {"zoneAnnAdd", "zoneAnnDel", "zoneAnnRead", "zoneAddrAdd", "zoneAddrDel", "zoneAddrRead"};

/// The whole text a number in `base`; the store refuses what a firmware
/// would not take.
bool numberOf(const std::string& text, int base, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, base);
    return *end == '\0' && text[0] != '-' && text[0] != '+';
}

}  // namespace

void SpeakerZoneStore::install(const std::shared_ptr<SpeakerZoneStore>& store, CommandModel& model) {
    for (const char* command : kCommands) {
        const std::string name = command;
        model.on(name, [store, name](const std::string& arguments) { return store->answer(name, arguments); });
    }
}

std::optional<std::string> SpeakerZoneStore::answer(const std::string& command, const std::string& arguments) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto scripted = m_replies.find(command);
    if (scripted != m_replies.end()) return scripted->second;
    if (command == "zoneAnnRead") {
        if (m_announcements.empty()) return std::string("no");
        std::string text;
        for (int zone : m_announcements) text += (text.empty() ? "" : ",") + std::to_string(zone);
        return text;
    }
    if (command == "zoneAddrRead") {
        if (m_addresses.empty()) return std::string("no");
        std::string text;
        char chunk[16];
        for (unsigned address : m_addresses) {
            std::snprintf(chunk, sizeof chunk, "%X", address);
            text += (text.empty() ? "" : ",") + std::string(chunk);
        }
        return text;
    }
    const bool zone = command.rfind("zoneAnn", 0) == 0;
    unsigned long value = 0;
    if (!numberOf(arguments, zone ? 10 : 16, value) || value >= (zone ? 65535ul : 0x1000000ul))
        return std::string("ERR wrong arguments");
    const bool add = command.compare(command.size() - 3, 3, "Add") == 0;
    if (zone) {
        if (add) m_announcements.insert(static_cast<int>(value));
        else m_announcements.erase(static_cast<int>(value));
    } else {
        if (add) m_addresses.insert(static_cast<unsigned>(value));
        else m_addresses.erase(static_cast<unsigned>(value));
    }
    return std::string("OK");
}

std::set<int> SpeakerZoneStore::announcements() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_announcements;
}

std::set<unsigned> SpeakerZoneStore::addresses() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_addresses;
}

void SpeakerZoneStore::setAnnouncements(std::set<int> zones) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announcements = std::move(zones);
}

void SpeakerZoneStore::setAddresses(std::set<unsigned> addresses) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_addresses = std::move(addresses);
}

void SpeakerZoneStore::setReply(const std::string& command, const std::string& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (reply.empty())
        m_replies.erase(command);
    else
        m_replies[command] = reply;
}

}  // namespace device::sim
