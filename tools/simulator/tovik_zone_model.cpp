#include "tools/simulator/tovik_zone_model.h"

#include <cstdio>
#include <sstream>

namespace device::sim {

namespace {

std::optional<std::string> reply(const std::string& text) { return text; }

/// The whole text a decimal number.
bool decimal(const std::string& text, int& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6) return false;
    value = std::stoi(text);
    return true;
}

}  // namespace

TovikZoneModel::TovikZoneModel(std::string hardwareAddress, std::string versionText)
    : TovikConfigModel(std::move(hardwareAddress), std::move(versionText)) {
    const auto scripted = [this](const std::string& command, std::string made) {
        const auto found = replies.find(command);
        return reply(found == replies.end() ? made : found->second);
    };
    on("zoneList", [this, scripted](const std::string& arguments) {
        if (arguments != "all") return reply("ERR wrong arguments");
        return scripted("zoneList", zoneList());
    });
    on("zoneScList", [this, scripted](const std::string&) { return scripted("zoneScList", messageList()); });
    on("zoneSizeGet", [this, scripted](const std::string&) {
        return scripted("zoneSizeGet", std::to_string(capacity) + "(" + std::to_string(capacity - usedCapacity()) + ")");
    });
    on("zoneBind", [this](const std::string& arguments) { return bind(arguments); });
    on("zoneScBind", [this](const std::string& arguments) {
        std::istringstream in(arguments);
        std::string zoneText, messageText;
        int zone = 0, message = 0;
        if (!(in >> zoneText >> messageText) || !decimal(zoneText, zone) || !decimal(messageText, message))
            return reply("ERR wrong arguments");
        if (refuseMessages) return reply("ERR message binding failed");
        if (zones.count(zone) == 0) return reply("ERR unknown zone");
        messages[zone] = message;
        return reply("OK");
    });
    on("zoneDel", [this](const std::string& arguments) {
        int zone = 0;
        if (!decimal(arguments, zone)) return reply("ERR wrong arguments");
        if (zones.erase(zone) == 0) return reply("ERR unknown zone");
        messages.erase(zone);
        return reply("OK");
    });
}

std::optional<std::string> TovikZoneModel::bind(const std::string& arguments) {
    // "<zone> <virtual zone> A,B,...," with the trailing comma.
    std::istringstream in(arguments);
    std::string zoneText, virtualText, list;
    int zone = 0, virtualZone = 0;
    if (!(in >> zoneText >> virtualText >> list) || !decimal(zoneText, zone) || !decimal(virtualText, virtualZone) ||
        zone > 20 || virtualZone < 1 || virtualZone > 1023)
        return reply("ERR wrong arguments");
    Zone bound;
    bound.virtualZone = virtualZone;
    std::istringstream items(list);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.empty() || item.find_first_not_of("0123456789ABCDEF") != std::string::npos || item.size() > 6)
            return reply("ERR wrong arguments");
        bound.addresses.insert(static_cast<unsigned>(std::stoul(item, nullptr, 16)));
    }
    if (bound.addresses.empty()) return reply("ERR wrong arguments");
    const auto existing = zones.find(zone);
    const unsigned freed = existing == zones.end() ? 0 : static_cast<unsigned>(existing->second.addresses.size());
    if (usedCapacity() - freed + bound.addresses.size() > capacity) return reply("ERR not enough memory");
    zones[zone] = bound;
    return reply("OK");
}

unsigned TovikZoneModel::usedCapacity() const {
    unsigned used = 0;
    for (const auto& entry : zones) used += static_cast<unsigned>(entry.second.addresses.size());
    return used;
}

std::string TovikZoneModel::zoneList() const {
    if (zones.empty()) return "no";
    std::string text;
    char chunk[16];
    for (const auto& entry : zones) {
        text += std::to_string(entry.first) + "," + std::to_string(entry.second.virtualZone);
        for (unsigned address : entry.second.addresses) {
            std::snprintf(chunk, sizeof chunk, ",%X", address);
            text += chunk;
        }
        text += ";";
    }
    return text;
}

std::string TovikZoneModel::messageList() const {
    if (messages.empty()) return "no";
    std::string text;
    for (const auto& entry : messages) text += std::to_string(entry.first) + "," + std::to_string(entry.second) + ";";
    return text;
}

std::string TovikZoneModel::statePacket() const {
    std::array<unsigned, 16> packet = fields;
    unsigned mask = 0;
    for (const auto& entry : zones)
        if (entry.first >= 0 && entry.first <= 20) mask |= 1u << entry.first;
    packet[11] = mask;
    packet[12] = mask & ~disconnectedZones;
    std::string text = hardwareAddress();
    for (unsigned field : packet) text += "," + std::to_string(field);
    return text + "," + versionText();
}

}  // namespace device::sim
