// fuzz-area: models
// fuzz-dict: device_replies.dict
// A console's replies through the object's own readers: "get state", the
// passkey list and its learning mode, volume and the debug text. Input:
// byte 0 the firmware generation, byte 1 the reader; the rest the replies in
// the order the console is asked, separated by 0x1E (empty: silence).
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kVersions[] = {"Tovik-30 0.0.3.0", "Tovik-30 0.1.5.0", "Tovik-30 1.0.7.0 Feb 14 2022",
                                 "Tovik-30 2.3.1.0"};

void read(device::TovikInfo& console, unsigned reader, const std::string& rest) {
    using fuzz::tolerate;
    switch (reader % 5) {
        case 0:
            tolerate([&] { (void)console.getConfig(true); });
            tolerate([&] { (void)console.readConfig(false); });
            break;
        case 1:
            tolerate([&] {
                const auto keys = console.listPasskeys();
                if (!keys.empty()) console.deletePasskey(keys.front().key);
            });
            tolerate([&] { (void)console.isPasskeyListening(); });
            break;
        case 2:
            tolerate([&] { console.addPasskey(); });
            tolerate([&] { (void)console.isPasskeyListening(); });
            tolerate([&] { console.finishPasskeyListening(); });
            tolerate([&] { (void)console.listPasskeys(); });
            break;
        case 3:
            console.handleVolume(rest);
            console.checkResponding(false);
            tolerate([&] { (void)console.getDebugInfo(); });
            break;
        default:
            tolerate([&] { (void)console.listPasskeys(); });
            tolerate([&] { (void)console.getConfig(true); });
            tolerate([&] { console.resetPasskeys(); });
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    auto console = fuzz::ScriptedTovik::make();
    console->parsePing(fuzz::kHardware + ",0,3,90,3,80,3,3,1,0,1,1,0,0,0,0,0," + kVersions[data[0] % 4],
                       fuzz::kSource);
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    console->replies = fuzz::Replies(rest);
    console->markAnswered();
    read(*console, data[1], rest);
    return 0;
}
