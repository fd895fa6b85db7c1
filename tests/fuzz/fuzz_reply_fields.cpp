// fuzz-area: device
// fuzz-dict: device_replies.dict
// The reply parsers below the device objects, one reply at a time: the
// split into fields, the success/error test, flags, numbers and DHCP, both
// configuration layouts of the loudspeaker (the band from byte 0), the
// console's state list, the equalizer forms, the line-control state and the
// audio-memory replies. Input: byte 0 the band, the rest one reply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_base.h"
#include "device/memory/memory_wire.h"
#include "device/models/equalizer.h"
#include "device/models/line_control.h"
#include "device/models/orvel_config.h"
#include "device/models/tovik_config.h"
#include "device/models/version_tables.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using device::DeviceBase;
using fuzz::tolerate;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

/// The fields are what the readers index: never empty, no line ends, trimmed.
void fields(const std::vector<std::string>& split) {
    for (const std::string& field : split) {
        if (field.empty() || field.find_first_of("\r\n") != std::string::npos || blank(field.front()) ||
            blank(field.back()))
            __builtin_trap();
        bool flag = false;
        DeviceBase::parseBoolValue(field, flag);
        std::uint8_t small = 0;
        DeviceBase::parseIntValue(field, small, 0, 255);
        // A number out of range is refused with the value untouched.
        std::int16_t position = 77;
        const bool inRange = DeviceBase::parseIntValue(field, position, -1, 63);
        if (inRange ? position < -1 || position > 63 : position != 77) __builtin_trap();
        std::uint32_t word = 0;
        DeviceBase::parseIntValue(field, word, 0, 0xFFFFFFFFu);
        std::int32_t any = 0;
        DeviceBase::parseIntValue(field, any, INT32_MIN, INT32_MAX);
        (void)DeviceBase::parseDhcpValue(field);
    }
}

void configurations(const std::vector<std::string>& split, const std::string& reply, int band) {
    if (split.size() >= 13) {
        tolerate([&] {
            device::OrvelConfig config;
            device::parseOldConfigAddresses(split, split, band, reply, config);
        });
        device::OrvelConfig config;
        device::parseOldConfigZarno(split, config);
    }
    tolerate([&] {
        std::vector<std::string> s = split;
        device::normaliseStateFields(s, band, reply);
        if (s.size() < 33) s.resize(33, "60");
        device::OrvelConfig config;
        device::parseStateAddresses(s, band, reply, config);
        if (device::parseStateSettings(s, config)) tolerate([&] { device::validateOrvelConfig(config, band); });
    });
    if (split.size() >= device::kTovikStateFields) {
        device::TovikConfig config;
        if (device::parseTovikState(split, config)) {
            tolerate([&] { device::validateTovikConfig(config); });
            tolerate([&] { device::checkTovikPowerRules(config); });
        }
    }
}

void others(const std::string& reply) {
    tolerate([&] { (void)DeviceBase::handleResponse(reply); });
    tolerate([&] { (void)device::o510::Equalizer(device::parsePackedEqualizer(reply)).toCommand(); });
    tolerate([&] {
        device::o610::Equalizer equalizer(true, reply.size() % 2 == 0);
        device::parseEqualizerBands(reply, equalizer);
        for (int band = 0; band < device::o610::Equalizer::kBands; ++band)
            if (equalizer.getBand(band) < device::o610::Equalizer::kMinimum ||
                equalizer.getBand(band) > device::o610::Equalizer::kMaximum)
                __builtin_trap();
        (void)device::withExtendedTail(equalizer.toCommand());
    });
    (void)device::tip_device::LineControl::findModuleState(reply);
    (void)device::findOff(reply);
    tolerate([&] { (void)device::memory::parseMemoryInfo(reply); });
    tolerate([&] { (void)device::memory::parseMemoryRead(reply, static_cast<std::uint32_t>(reply.size() / 2)); });
    tolerate([&] { (void)device::memory::parseMemoryState(reply); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int band = data[0] % device::kVersionIndexCount;
    const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> split = DeviceBase::splitResponse(reply);
    fields(split);
    configurations(split, reply, band);
    others(reply);
    return 0;
}
