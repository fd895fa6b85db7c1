#pragma once

// The zone replies of loudspeakers and consoles, read into records, and the
// console's bind command built from one. Text in, records out: no device, no
// socket, no lock, so table tests and a fuzzer call them directly.
//
// Every reader either returns a record or throws
// exception::UnexpectedResponseOfDevice; no std or boost exception leaves
// them, whatever the text. A reader that logs names the device operation it
// serves as the place.

#include <map>
#include <set>
#include <string>

namespace device {

/// One zone of a microphone console: the console's zone number, the virtual
/// zone it broadcasts the zone under, the message it launches there (-1:
/// none) and the 24-bit addresses of the zone's loudspeakers.
struct ConsoleZone {
    int zoneNumber = 0;
    int virtualZone = 0;
    int scenario = -1;
    std::set<unsigned> addresses;

    bool operator==(const ConsoleZone& o) const {
        return zoneNumber == o.zoneNumber && virtualZone == o.virtualZone && scenario == o.scenario &&
               addresses == o.addresses;
    }
};

/// Zones by zone number.
typedef std::map<int, ConsoleZone> ConsoleZoneMap;

/// What a console's "zoneList all" reply lists, before the messages are
/// joined in: the zones by number and how many items the reply had (a later
/// item of the same number replaces an earlier one, so the two may differ).
struct ZoneListReply {
    ConsoleZoneMap zones;
    std::size_t items = 0;
};

/// A loudspeaker's "zoneAnnRead" reply: "no" is none; otherwise items
/// separated by "," (an empty item is malformed), each a C "%i" number
/// (decimal, 0x hexadecimal or 0 octal) below 65535.
std::set<int> parseZoneAnnouncements(const std::string& reply);

/// A loudspeaker's "zoneAddrRead" reply: "no" is none; otherwise hexadecimal
/// items separated by "," (empty items skipped), each below 0x1000000.
std::set<unsigned> parseZoneAddresses(const std::string& reply);

/// A console's "zoneList all" reply other than "no": items separated by ";"
/// (a trailing one dropped), each "zone,virtual zone,address,...": two
/// decimal numbers and at least one hexadecimal address below 0x1000000.
/// The virtual zone keeps its low 16 bits; scenarios are left at -1.
ZoneListReply parseZoneList(const std::string& reply);

/// A console's "zoneScList" reply: "no" is none; otherwise decimal numbers
/// separated by "," or ";" (a trailing empty one dropped), read in pairs zone
/// number, message number; a later pair for the same zone wins. An odd count
/// is malformed.
std::map<int, int> parseZoneMessages(const std::string& reply);

/// A console's "zoneSizeGet" reply "%i(%i)": the zone capacity and the free
/// capacity. False when the two numbers can't be read or are negative (the
/// values are then untouched); never throws.
bool parseZoneSize(const std::string& reply, int& capacity, int& free);

/// The longest request a console takes.
constexpr std::size_t kZoneCommandLimit = 1395;

/// "zoneBind <zone> <virtual zone> " and "%X," for each address in ascending
/// order. False when the text would pass kZoneCommandLimit characters;
/// `command` then holds the chunks that fitted.
bool zoneBindCommand(int zoneNumber, int virtualZone, const std::set<unsigned>& addresses, std::string& command);

/// "[1,2,3]" for the log lines that list virtual zones.
std::string zoneSetText(const std::set<int>& zones);

/// A 24-bit device address as commands write it: upper-case hexadecimal
/// without leading zeros.
std::string zoneAddressText(unsigned address);

/// The virtual zones the zones use.
std::set<int> virtualZonesOf(const ConsoleZoneMap& zones);

}  // namespace device
