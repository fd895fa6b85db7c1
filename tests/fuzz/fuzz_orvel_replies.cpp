// fuzz-area: models
// fuzz-dict: device_replies.dict
// A loudspeaker's replies through the object's own readers: the
// configuration in both reply shapes (by band), volume, channel, lines,
// equalizer and the line-control module ("lsensor"). Input: byte 0 the
// firmware band, byte 1 the reader; the rest the device's replies in the
// order it is asked, separated by 0x1E (an empty reply is silence).
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/models/equalizer.h"
#include "device/models/line_control.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void read(device::OrvelInfo& object, unsigned reader, const std::string& rest) {
    using fuzz::tolerate;
    switch (reader % 9) {
        case 0:
            tolerate([&] { (void)object.getConfig(true); });
            tolerate([&] { (void)object.readConfig(false); });
            break;
        case 1:
            object.handleVolume(rest);
            tolerate([&] { (void)object.getVolume(); });
            object.checkResponding(false);
            break;
        case 2:
            tolerate([&] { (void)object.getChannel(); });
            tolerate([&] { (void)object.switchChannel(device::CHANNEL_NOTICE_LOW); });
            break;
        case 3:
            tolerate([&] { (void)object.setLine(); });
            tolerate([&] { (void)object.getLineDouble(); });
            break;
        case 4:
            tolerate([&] {
                const auto equalizer = object.getEqualizer();
                if (equalizer) (void)equalizer->toCommand();
            });
            break;
        case 5:
            tolerate([&] {
                const auto module = object.getLineControl();
                module->refresh(true);
                (void)module->getTipDevices();
                (void)module->getMasterFirmwareVersion();
                (void)module->getInitializationProgress();
                module->requestTipDevices();
                (void)module->getTipDevices();
            });
            break;
        case 6:
            tolerate([&] { (void)object.getDebugInfo(); });
            tolerate([&] { (void)object.hasInternalPlaying(); });
            break;
        case 7:
            tolerate([&] { (void)object.setVolume(40); });
            tolerate([&] { (void)object.reboot(); });
            break;
        default:
            // Whatever is asked, in whatever order: the replies then rarely
            // fit the request.
            tolerate([&] { (void)object.getChannel(); });
            tolerate([&] { (void)object.getConfig(true); });
            tolerate([&] { (void)object.getEqualizer(); });
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int band = data[0] % device::kVersionIndexCount;
    auto object = fuzz::ScriptedOrvel::make();
    object->parsePing(fuzz::bandPacket(band), fuzz::kSource);
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    object->replies = fuzz::Replies(rest);
    object->markAnswered();
    read(*object, data[1], rest);
    return 0;
}
