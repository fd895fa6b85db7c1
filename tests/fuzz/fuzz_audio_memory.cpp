// fuzz-area: device
// Audio memory from outside: an "*.a-bin" image an operator loads
// (setImage), and a device's memory as its "mem" replies report it.
// Input: byte 0 chooses the model's memory (bits 0-1) and the source (bit
// 2: the device, else an image); byte 1 bit 0 lets a memory that can't be
// read be replaced. The rest is the image, or the device's replies
// separated by 0x1E.
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/make_shared.hpp>

#include "device/memory/audio_memory.h"
#include "device/memory/memory_image.h"
#include "device/memory/memory_wire.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using device::memory::AudioMemoryBase;

boost::shared_ptr<AudioMemoryBase> memoryOf(unsigned model, const boost::shared_ptr<fuzz::ScriptedOrvel>& device,
                                            bool allowOverwrite) {
    const auto wire = boost::make_shared<device::memory::DeviceMemoryWire>(nullptr, device);
    switch (model % 4) {
        case 0:
            return boost::make_shared<device::o510::memory::AudioMemory>(wire, AudioMemoryBase::PlayingCallback(), allowOverwrite);
        case 1:
            return boost::make_shared<device::o610::memory::AudioMemory>(wire, AudioMemoryBase::PlayingCallback(), allowOverwrite);
        case 2:
            return boost::make_shared<device::o611::memory::AudioMemory>(wire, AudioMemoryBase::PlayingCallback(), allowOverwrite);
        default:
            return boost::make_shared<device::tovik::memory::AudioMemory>(wire);
    }
}

/// Everything the pages show of a memory.
void look(AudioMemoryBase& memory) {
    for (const auto& scenario : memory.getScenarios()) {
        (void)memory.getScenarioPosition(scenario.id);
        (void)memory.hasFragment(scenario.gongId);
    }
    for (const auto& fragment : memory.getFragments()) {
        (void)memory.getFragmentPosition(fragment.id);
        (void)memory.getFragmentAt(fragment.id);
    }
    (void)memory.getSizeOfFreeMemory();
    (void)memory.makeMemoryStamp();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned model = data[0] & 3;
    const bool fromDevice = (data[0] & 4) != 0;
    const bool allowOverwrite = (data[1] & 1) != 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);

    auto device = fuzz::ScriptedOrvel::make();
    device->parsePing(fuzz::bandPacket(21), fuzz::kSource);
    device->markAnswered();
    if (fromDevice) {
        device->replies = fuzz::Replies(rest);
        fuzz::tolerate([&] {
            const auto memory = memoryOf(model, device, allowOverwrite);
            look(*memory);
            const auto fragments = memory->getFragments();
            if (!fragments.empty()) (void)memory->getFragmentFile(fragments.front().id);
        });
        return 0;
    }

    fuzz::tolerate([&] { (void)device::memory::parseImage(rest); });
    // An erased memory of 4 MiB, then the image loaded into it.
    device->replies = fuzz::Replies("OK " + std::to_string(model == 0 ? 1 : model == 1 ? 2 : 3) + " 4194304 0");
    boost::shared_ptr<AudioMemoryBase> memory;
    fuzz::tolerate([&] { memory = memoryOf(model, device, allowOverwrite); });
    if (!memory) __builtin_trap();  // the erased memory must be readable
    bool taken = false;
    fuzz::tolerate([&] {
        memory->setImage(rest);
        taken = true;
    });
    look(*memory);
    if (taken) {
        // What was taken must come out again as an image that reads back.
        const std::string image = memory->getImage();
        (void)device::memory::parseImage(image);
    }
    return 0;
}
