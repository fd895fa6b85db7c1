// fuzz-area: models
// fuzz-dict: device_replies.dict
// State packets as the transport's responder sees them: the recognition of
// a packet, then the parser of a loudspeaker or a console at a firmware band.
// Input: byte 0 chooses the model (bit 7: console) and the band; byte 1 bit
// 0 wraps each packet between the device's address and its band's version,
// so that the numbers are what varies; bit 1 hands the packets to the device
// collection instead, which makes the object of whatever model a packet
// names. The rest is up to four packets, separated by 0x1E, fed one after
// another to one object after a steady packet of its band.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/device_base.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_state.h"
#include "device/models/tovik_state.h"
#include "device/state_packet.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kConsoleVersions[] = {"Tovik-30 0.0.3.0", "Tovik-30 0.1.5.0", "Tovik-30 1.0.7.0 Feb 14 2022",
                                        "Tovik-30 2.3.1.0"};

std::string consolePacket(const std::string& version) {
    return fuzz::kHardware + ",0,3,90,3,80,3,3,1,0,1,1,0,0,0,0,0," + version;
}

/// The pure steps every datagram passes before it reaches an object, and
/// what their callers rely on: a recognised packet is within its bounds
/// with a valid address, and a refused one leaves the records alone.
void recognise(const std::string& packet, int band) {
    net::HardwareAddress address(0u, 0u);
    if (device::isStatePacket(packet, address)) {
        if (packet.size() < device::kMinStatePacket || packet.size() > device::kMaxStatePacket || !address.isValid())
            __builtin_trap();
    }
    device::Version version;
    version.text = "kept";
    if (!device::parseStatePacketVersion(packet, version) && version.text != "kept") __builtin_trap();

    device::OrvelPacket read;
    read.hardwareText = "kept";
    const bool taken = device::readOrvelPacket(packet, read);
    if (!taken && read.hardwareText != "kept") __builtin_trap();
    if (taken && read.hardwareText.size() > 17) __builtin_trap();
    if (taken) {
        for (std::uint32_t raw : read.fields) {
            const std::uint32_t kind = device::playbackKindOf(band, raw);
            (void)device::playbackKindName(kind);
            (void)device::playbackCodeOf(kind, 0, band, raw, raw);
        }
    }
    const device::TovikPacket console = device::readTovikPacket(packet);
    device::TovikState state;
    device::takeTovikFields(console, state, "fuzz");
    device::computeTovikFlags(state);
}

/// The packets as the transport hands them to the collection: recognised,
/// then parsed into the device of the address, made on its first packet.
void throughCollection(const std::string& rest) {
    const auto collection = device::DeviceCollection::create(nullptr, 11990);
    std::uint32_t ids = 0;
    collection->setNewDeviceHandler(
        [&](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
    fuzz::Replies packets(rest);
    std::string packet;
    for (int i = 0; i < 4 && !packets.empty(); ++i) {
        packets.next(packet);
        net::HardwareAddress address(0u, 0u);
        if (device::isStatePacket(packet, address)) collection->handleAllPingsCallback(packet, fuzz::kSource, address);
    }
    for (const auto& device : collection->getDevices()) (void)device->getVersionText();
    collection->stop();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool console = (data[0] & 0x80) != 0;
    const bool wrap = (data[1] & 1) != 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);

    if ((data[1] & 2) != 0) {
        throughCollection(rest);
        return 0;
    }
    if (console) {
        const std::string version = kConsoleVersions[(data[0] & 0x7F) % 4];
        auto object = fuzz::ScriptedTovik::make();
        object->parsePing(consolePacket(version), fuzz::kSource);
        fuzz::Replies packets(rest);
        std::string piece;
        for (int i = 0; i < 4 && !packets.empty(); ++i) {
            packets.next(piece);
            const std::string packet = wrap ? fuzz::kHardware + "," + piece + "," + version : piece;
            recognise(packet, 0);
            object->parsePing(packet, fuzz::kSource);
            const device::TovikState state = object->getState();
            (void)state;
            (void)object->getPlaybackTypeText();
        }
        return 0;
    }

    const int band = (data[0] & 0x7F) % device::kVersionIndexCount;
    auto object = fuzz::ScriptedOrvel::make();
    object->parsePing(fuzz::bandPacket(band), fuzz::kSource);
    fuzz::Replies packets(rest);
    std::string piece;
    for (int i = 0; i < 4 && !packets.empty(); ++i) {
        packets.next(piece);
        const std::string packet = wrap ? fuzz::kHardware + "," + piece + "," + fuzz::bandVersion(band) : piece;
        recognise(packet, object->getVersionIndex());
        object->parsePing(packet, fuzz::kSource);
        const device::OrvelState state = object->getState();
        (void)state;
        (void)object->getPlaybackTypeText();
    }
    return 0;
}
