// fuzz-area: device
// Firmware files as an operator picks them: the split into images, each
// image's header, version and CRC, and the choice of images for a
// loudspeaker and a console of a band (byte 0) that run a firmware
// already. The rest of the input is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/firmware/firmware_collection.h"
#include "device/firmware/firmware_image.h"
#include "device/firmware/firmware_selection.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int band = data[0] % device::kVersionIndexCount;
    const bool force = (data[0] & 0x80) != 0;
    const std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The header read alone, at every offset a file of several images uses.
    for (std::size_t offset = 0; offset < file.size();) {
        const std::size_t frame = device::FirmwareImage::frameSize(file, offset);
        if (frame == 0) break;
        const device::FirmwareImage image(file.substr(offset, frame));
        if (image.isValid()) {
            // What we accept, the firmware tools' encoder writes back the same.
            const device::Version version = image.getVersion();
            const device::FirmwareImage again(
                device::FirmwareImage::encode(image.getHeaderTypeCode(), version.text, image.getPayload()));
            if (!again.isValid() || again.getVersion().text != version.text || again.getCrc() != image.getCrc() ||
                again.getVersion().typeCode != version.typeCode)
                __builtin_trap();
        }
        offset += frame;
    }

    boost::shared_ptr<device::FirmwareCollection> collection;
    fuzz::tolerate([&] { collection = device::FirmwareCollection::parse(file); });
    if (!collection) return 0;

    auto loudspeaker = fuzz::ScriptedOrvel::make();
    loudspeaker->parsePing(fuzz::bandPacket(band), fuzz::kSource);
    fuzz::tolerate([&] {
        (void)device::selectFirmware(*collection, loudspeaker->getVersion(),
                                     [&](boost::shared_ptr<device::IFirmware> image) {
                                         return loudspeaker->isFirmwareSuitable(image);
                                     },
                                     force);
    });
    auto console = fuzz::ScriptedTovik::make();
    console->parsePing(fuzz::kHardware + ",0,3,90,3,80,3,3,1,0,1,1,0,0,0,0,0,Tovik-30 1.0.7.0", fuzz::kSource);
    fuzz::tolerate([&] {
        (void)device::selectFirmware(*collection, console->getVersion(),
                                     [&](boost::shared_ptr<device::IFirmware> image) {
                                         return console->isFirmwareSuitable(image);
                                     },
                                     force);
    });
    while (collection->size() > 0) collection->removeFirst();
    return 0;
}
