// fuzz-area: device
// fuzz-dict: device_replies.dict
// Version texts as devices and firmware files report them: the parser, the
// firmware band of a loudspeaker, the console generation, the model names
// and the line-control module's version reply. The input is one text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "device/models/line_control.h"
#include "device/models/version_tables.h"
#include "device/version.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    device::Version version;
    version.text = "kept";
    const bool parsed = device::parseVersion(text, version);
    if (parsed ? version.text != text : version.text != "kept") __builtin_trap();
    // Handing the text over gives the same record, and a text refused stays the caller's.
    device::Version taken;
    std::string given = text;
    if (device::parseVersion(std::move(given), taken) != parsed) __builtin_trap();
    if (parsed && (taken.text != text || taken.typeCode != version.typeCode || taken.major != version.major ||
                   taken.minor != version.minor || taken.build != version.build ||
                   taken.revision != version.revision || taken.buildDate != version.buildDate ||
                   taken.debug != version.debug || taken.emulator != version.emulator))
        __builtin_trap();
    if (!parsed && (given != text || !taken.text.empty())) __builtin_trap();
    if (parsed) {
        const int index = device::versionIndexOf(version);
        if (index < 0 || index >= device::kVersionIndexCount) __builtin_trap();
        (void)device::get(index);
        (void)device::getVersionSpan(index);
        const std::wstring model = device::toText(version.typeCode);
        if (version.typeCode != 0 && device::toText(device::toFirmwareType(model)) != model) __builtin_trap();
    }
    (void)device::toFirmwareType(base::toWide(text));

    // The module answers "lsensor ver" with its address and version.
    device::tip_device::LineControl module([&](const std::string&) { return text; });
    fuzz::tolerate([&] { module.initVersionAndAddress(); });
    fuzz::tolerate([&] { (void)module.getMasterHardwareAddress(); });
    fuzz::tolerate([&] { (void)module.getMasterFirmwareVersion(); });
    return 0;
}
