// The zone replies read into records, and the console's bind command. The
// number readers are written on strtol/strtoul so that nothing but our own
// exception can leave: a device's text must never end a GUI handler with a
// std::invalid_argument.
#include "device/models/zone_replies.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/exception.h"
#include "base/log.h"

namespace device {

namespace {

constexpr base::LogPlace kInitZonesPlace("device::TovikInfo::initZones");
constexpr unsigned long kAddressLimit = 0x1000000;

/// Chunks between the separators, empty ones kept.
std::vector<std::string> splitAt(const std::string& text, const char* separators) {
    std::vector<std::string> chunks(1);
    for (char c : text) {
        if (std::strchr(separators, c) != nullptr)
            chunks.emplace_back();
        else
            chunks.back() += c;
    }
    return chunks;
}

/// A leading number as strtol reads it in `base` (white space and a sign
/// first; 0 takes the C prefixes); the rest of the text is ignored, as the
/// devices' own scanf does. False when no digit was read or it overflows.
bool leadingNumber(const std::string& text, int base, long& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long read = std::strtol(begin, &end, base);
    if (end == begin || errno == ERANGE) return false;
    value = read;
    return true;
}

/// A hexadecimal address below 2^24, read as strtoul reads it (a sign
/// wraps to a huge value and is refused).
bool hexAddress(const std::string& text, unsigned& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long read = std::strtoul(begin, &end, 16);
    if (end == begin || errno == ERANGE || read >= kAddressLimit) return false;
    value = static_cast<unsigned>(read);
    return true;
}

/// The whole text a decimal int, an optional sign first; nothing else.
bool wholeDecimal(const std::string& text, int& value) {
    const std::size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos) return false;
    long read = 0;
    if (!leadingNumber(text, 10, read) || read < INT_MIN || read > INT_MAX) return false;
    value = static_cast<int>(read);
    return true;
}

bool leadingInt(const std::string& text, int& value) {
    long read = 0;
    if (!leadingNumber(text, 10, read) || read < INT_MIN || read > INT_MAX) return false;
    value = static_cast<int>(read);
    return true;
}

void dropEmptyLast(std::vector<std::string>& items) {
    if (!items.empty() && items.back().empty()) items.pop_back();
}

}  // namespace

std::set<int> parseZoneAnnouncements(const std::string& reply) {
    std::set<int> zones;
    if (reply == "no") return zones;
    for (const std::string& item : splitAt(reply, ",")) {
        long value = 0;
        // Negative values count as huge unsigned ones and are refused with them.
        if (!leadingNumber(item, 0, value) || value < 0 || value >= 65535)
            throw exception::UnexpectedResponseOfDevice(reply);
        zones.insert(static_cast<int>(value));
    }
    return zones;
}

std::set<unsigned> parseZoneAddresses(const std::string& reply) {
    std::set<unsigned> addresses;
    if (reply == "no") return addresses;
    for (const std::string& item : splitAt(reply, ",")) {
        if (item.empty()) continue;
        unsigned value = 0;
        if (!hexAddress(item, value)) throw exception::UnexpectedResponseOfDevice(reply);
        addresses.insert(value);
    }
    return addresses;
}

ZoneListReply parseZoneList(const std::string& reply) {
    ZoneListReply list;
    std::vector<std::string> items = splitAt(reply, ";");
    dropEmptyLast(items);
    list.items = items.size();
    for (const std::string& item : items) {
        const std::vector<std::string> fields = splitAt(item, ",");
        if (fields.size() < 3) {
            kInitZonesPlace.external(L"Response from Tovik has small number of parts: %1%", reply);
            throw exception::UnexpectedResponseOfDevice("");
        }
        ConsoleZone zone;
        int virtualZone = 0;
        if (!wholeDecimal(fields[0], zone.zoneNumber) || !wholeDecimal(fields[1], virtualZone))
            throw exception::UnexpectedResponseOfDevice(reply);
        zone.virtualZone = virtualZone & 0xFFFF;
        for (std::size_t i = 2; i < fields.size(); ++i) {
            unsigned address = 0;
            if (!hexAddress(fields[i], address)) {
                kInitZonesPlace.external(L"Response from Tovik has incorrect address: %1%", reply);
                throw exception::UnexpectedResponseOfDevice(reply);
            }
            zone.addresses.insert(address);
        }
        list.zones[zone.zoneNumber] = zone;
    }
    return list;
}

std::map<int, int> parseZoneMessages(const std::string& reply) {
    std::map<int, int> messages;
    if (reply == "no") return messages;
    std::vector<std::string> items = splitAt(reply, ",;");
    dropEmptyLast(items);
    // A zone without its message number: nothing says which message the
    // console launches there, so the whole list can't be trusted.
    if (items.size() % 2 != 0) throw exception::UnexpectedResponseOfDevice(reply);
    for (std::size_t i = 0; i < items.size(); i += 2) {
        int zone = 0;
        int message = 0;
        if (!leadingInt(items[i], zone) || !leadingInt(items[i + 1], message))
            throw exception::UnexpectedResponseOfDevice(reply);
        messages[zone] = message;
    }
    return messages;
}

bool parseZoneSize(const std::string& reply, int& capacity, int& free) {
    // "%i(%i)": the '(' right after the first number, white space allowed
    // only before each number.
    const char* at = reply.c_str();
    char* end = nullptr;
    errno = 0;
    const long first = std::strtol(at, &end, 0);
    if (end == at || errno == ERANGE || *end != '(') return false;
    at = end + 1;
    const long second = std::strtol(at, &end, 0);
    if (end == at || errno == ERANGE) return false;
    if (first < 0 || second < 0 || first > INT_MAX || second > INT_MAX) return false;
    capacity = static_cast<int>(first);
    free = static_cast<int>(second);
    return true;
}

bool zoneBindCommand(int zoneNumber, int virtualZone, const std::set<unsigned>& addresses, std::string& command) {
    command = "zoneBind " + std::to_string(zoneNumber) + " " + std::to_string(virtualZone) + " ";
    for (unsigned address : addresses) {
        const std::string chunk = zoneAddressText(address) + ",";
        if (command.size() + chunk.size() > kZoneCommandLimit) return false;
        command += chunk;
    }
    return true;
}

std::string zoneSetText(const std::set<int>& zones) {
    std::string text = "[";
    for (int zone : zones) text += (text.size() > 1 ? "," : "") + std::to_string(zone);
    return text + "]";
}

std::string zoneAddressText(unsigned address) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", address);
    return text;
}

std::set<int> virtualZonesOf(const ConsoleZoneMap& zones) {
    std::set<int> virtualZones;
    for (const auto& entry : zones) virtualZones.insert(entry.second.virtualZone);
    return virtualZones;
}

}  // namespace device
