#include "gui/zone_page_model.h"

#include "base/text.h"

namespace frm {
namespace zone_page {

namespace {

constexpr int kFirstZoneIndex = 18;

bool inMask(std::uint32_t mask, int zone) { return zone >= 0 && zone < 32 && (mask >> zone & 1u) != 0; }

}  // namespace

ZoneTone zoneTone(int zone, const ZoneMasks& masks, const BrokenZones* broken,
                  const device::ConsoleZoneMap& zones) {
    if (!inMask(masks.bound, zone)) return ZoneTone::kDefault;
    if (inMask(masks.activated, zone)) return ZoneTone::kActivated;
    const auto record = zones.find(zone);
    if (!inMask(masks.connected, zone) || (broken != nullptr && broken->count(zone) != 0) ||
        record == zones.end())
        return ZoneTone::kBroken;
    return record->second.scenario == -1 ? ZoneTone::kMicrophone : ZoneTone::kMessage;
}

device::ConsoleZone zoneRecord(const device::ConsoleZoneMap& zones, int zone) {
    const auto found = zones.find(zone);
    if (found != zones.end()) return found->second;
    device::ConsoleZone empty;
    empty.zoneNumber = zone;
    empty.scenario = -1;
    return empty;
}

std::set<unsigned> brokenTargets(const BrokenZones* broken, int zone) {
    std::set<unsigned> halves;
    if (broken == nullptr) return halves;
    const auto found = broken->find(zone);
    if (found == broken->end()) return halves;
    for (const net::HardwareAddress& address : found->second) halves.insert(address.getLow());
    return halves;
}

std::vector<TargetRow> targetRows(const std::vector<Loudspeaker>& loudspeakers,
                                  const device::ConsoleZone& zone, const std::set<unsigned>& broken,
                                  bool debugMode) {
    std::vector<TargetRow> rows;
    std::set<unsigned> unlisted = zone.addresses;
    for (std::size_t n = 0; n < loudspeakers.size(); ++n) {
        const Loudspeaker& speaker = loudspeakers[n];
        const bool target = zone.addresses.count(speaker.address) != 0;
        if (!target && !(speaker.versionIndex >= kFirstZoneIndex && speaker.answering)) continue;
        TargetRow row;
        row.loudspeaker = n;
        row.label = debugMode ? speaker.hardwareText + L" | " + speaker.title : speaker.title;
        row.checked = target;
        row.tone = broken.count(speaker.address) != 0 ? RowTone::kBroken
                   : speaker.answering                ? RowTone::kAnswering
                                                      : RowTone::kSilent;
        unlisted.erase(speaker.address);
        rows.push_back(std::move(row));
    }
    for (const unsigned address : unlisted) {
        TargetRow row;
        row.label = addressText(address);
        row.checked = true;
        row.tone = RowTone::kBroken;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<ConsoleRow> linkedConsoleRows(const std::set<unsigned>& addresses,
                                          const std::vector<Console>& consoles, bool debugMode) {
    std::vector<ConsoleRow> rows;
    for (const unsigned address : addresses) {
        const std::wstring number = std::to_wstring(rows.size() + 1) + L". ";
        ConsoleRow row;
        for (std::size_t n = 0; n < consoles.size() && !row.console; ++n)
            if (consoles[n].address == address) row.console = n;
        if (!row.console) {
            row.text = number + L"[" + addressText(address) + L"]";
        } else {
            const Console& console = consoles[*row.console];
            row.text = debugMode ? number + L"[" + addressText(address) + L"] " + console.title
                                 : number + console.title;
            row.tone = console.answering ? RowTone::kAnswering : RowTone::kSilent;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::wstring addressText(unsigned address) {
    return base::toWide(net::HardwareAddress(address & 0xFFFFFFu).toCharArray());
}

}  // namespace zone_page
}  // namespace frm
