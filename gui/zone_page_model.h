#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/hardware_address.h"
#include "device/models/zone_replies.h"

namespace frm {

/// What the broadcast-zone page ("Зоны трансляции") and the linked-console
/// page ("Связанные консоли") of the property panel show, worked out from
/// facts the GUI thread has read: the colour of each zone button from the
/// console's three zone masks, its broken bindings and its zone records; the
/// rows of the loudspeaker list of one zone; the rows of a loudspeaker's
/// consoles. No window and no device exchange; any thread.
namespace zone_page {

/// The zone buttons' backgrounds, by the rule that decides them.
enum class ZoneTone {
    kDefault,     // not bound (not in the first mask)
    kActivated,   // in the third mask: red
    kBroken,      // not connected, named by the broken bindings, or no record: yellow
    kMicrophone,  // bound with broadcast from the microphone: light green
    kMessage,     // bound with a message: green
};

/// The three zone masks of the console's state record, bit n for zone n.
struct ZoneMasks {
    std::uint32_t bound = 0;
    std::uint32_t connected = 0;
    std::uint32_t activated = 0;
};

/// A console's entry of the integrity report: zone number -> the
/// loudspeakers in question (addresses rebuilt from their 24-bit halves).
using BrokenZones = std::map<int, std::set<net::HardwareAddress>>;

/// `broken` is null when the report does not name the console.
ZoneTone zoneTone(int zone, const ZoneMasks& masks, const BrokenZones* broken,
                  const device::ConsoleZoneMap& zones);

/// The record of a zone, or an empty one with broadcast from the microphone.
device::ConsoleZone zoneRecord(const device::ConsoleZoneMap& zones, int zone);

/// The 24-bit halves of the loudspeakers the report names for `zone`; the
/// report's addresses carry the maker's prefix, so only halves compare.
std::set<unsigned> brokenTargets(const BrokenZones* broken, int zone);

/// Text colour of a row.
enum class RowTone {
    kAnswering,  // black
    kSilent,     // grey: offline or not answering, or unknown to the collection
    kBroken,     // amber: a broken binding, or a target the collection does not know
};

/// A loudspeaker of the collection as the zone page needs it.
struct Loudspeaker {
    unsigned address = 0;  // 24-bit half of its hardware address
    int versionIndex = 0;
    bool answering = false;  // online and answered
    std::wstring title;
    std::wstring hardwareText;
};

/// One check box of the loudspeaker list.
struct TargetRow {
    /// The position in the given list; none for a target of the zone that
    /// the collection does not know (its box carries no loudspeaker).
    std::optional<std::size_t> loudspeaker;
    std::wstring label;
    bool checked = false;
    RowTone tone = RowTone::kAnswering;
};

/// The rows of the loudspeaker list of a zone: in list order the targets of
/// the zone and the answering loudspeakers of index 18 or more ("title", or
/// "hardware | title" in debug mode), ticked when targets; then the targets
/// no listed loudspeaker has, labelled with their hardware address, ticked
/// and amber.
std::vector<TargetRow> targetRows(const std::vector<Loudspeaker>& loudspeakers,
                                  const device::ConsoleZone& zone, const std::set<unsigned>& broken,
                                  bool debugMode);

/// A console of the collection as the linked-console page needs it.
struct Console {
    unsigned address = 0;
    bool answering = false;
    std::wstring title;
};

struct ConsoleRow {
    std::optional<std::size_t> console;  // position in the given list; none when unknown
    std::wstring text;
    RowTone tone = RowTone::kSilent;
};

/// One row per console address a loudspeaker holds, in ascending order and
/// numbered from 1: "n. title" ("n. [hardware] title" in debug mode), or
/// "n. [hardware]" for a console the collection does not know.
std::vector<ConsoleRow> linkedConsoleRows(const std::set<unsigned>& addresses,
                                          const std::vector<Console>& consoles, bool debugMode);

/// The text of the hardware address made from a 24-bit half.
std::wstring addressText(unsigned address);

}  // namespace zone_page
}  // namespace frm
