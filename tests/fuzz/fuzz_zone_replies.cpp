// fuzz-area: models
// fuzz-dict: device_replies.dict
// Zone replies: the readers of a loudspeaker's announcement zones and zone
// addresses and of a console's zone list, message bindings and capacity,
// alone and through the objects that read and write zones. Input: byte 0
// chooses the readers alone (0), a loudspeaker (1) or a console (2); byte 1
// the loudspeaker's firmware band or the console's first zone to bind. The
// rest is one reply for the readers alone, else the replies in the order the
// device is asked, separated by 0x1E (empty: silence).
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/models/zone_replies.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::tolerate;

/// What the callers rely on: addresses fit 24 bits, virtual zones 16, and a
/// bind command never passes the console's limit.
void readAlone(const std::string& reply) {
    tolerate([&] { (void)device::zoneSetText(device::parseZoneAnnouncements(reply)); });
    tolerate([&] {
        for (unsigned address : device::parseZoneAddresses(reply)) {
            if (address >= 0x1000000) __builtin_trap();
            (void)device::zoneAddressText(address);
        }
    });
    tolerate([&] {
        const device::ZoneListReply list = device::parseZoneList(reply);
        for (const auto& [number, zone] : list.zones) {
            if (zone.virtualZone < 0 || zone.virtualZone > 0xFFFF || zone.addresses.empty()) __builtin_trap();
            std::string command;
            device::zoneBindCommand(number, zone.virtualZone, zone.addresses, command);
            if (command.size() > device::kZoneCommandLimit) __builtin_trap();
        }
        (void)device::virtualZonesOf(list.zones);
    });
    tolerate([&] { (void)device::parseZoneMessages(reply); });
    int capacity = -7, free = -7;
    if (!device::parseZoneSize(reply, capacity, free) && (capacity != -7 || free != -7)) __builtin_trap();
}

void loudspeaker(int band, const std::string& rest) {
    auto object = fuzz::ScriptedOrvel::make();
    object->parsePing(fuzz::bandPacket(band), fuzz::kSource);
    object->replies = fuzz::Replies(rest);
    object->markAnswered();
    tolerate([&] { (void)object->readZoneAnnouncements(); });
    tolerate([&] { (void)object->readZoneAddresses(); });
    tolerate([&] { object->addZoneAnnouncement(7); });
    tolerate([&] { object->removeZoneAddress(0x10); });
    tolerate([&] { (void)object->readZoneAnnouncements(); });
}

void console(int zone, const std::string& rest) {
    auto object = fuzz::ScriptedTovik::make();
    object->parsePing(fuzz::kHardware + ",0,3,90,3,80,3,3,1,0,1,1,0,0,0,0,0,Tovik-30 1.0.7.0", fuzz::kSource);
    object->replies = fuzz::Replies(rest);
    object->markAnswered();
    tolerate([&] {
        const device::ConsoleZoneMap zones = object->getZones();
        if (!zones.empty()) (void)object->findZone(zones.begin()->first);
    });
    (void)object->countBoundAddresses();
    tolerate([&] { (void)object->bindZone(zone, 12, 2, {0x10, 0xABCDEF}); });
    tolerate([&] { (void)object->unbindZone(zone); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    switch (data[0] % 3) {
        case 0:
            readAlone(rest);
            break;
        case 1:
            loudspeaker(data[1] % device::kVersionIndexCount, rest);
            break;
        default:
            console(data[1] % 22, rest);
            break;
    }
    return 0;
}
