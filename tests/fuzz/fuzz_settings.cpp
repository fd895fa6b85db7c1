// fuzz-area: base
// The settings file (libconfig syntax): a file that can't be read is set
// aside and the settings start empty; the keys the program reads are then
// found or created with their types over whatever the file held, and what
// loaded is saved and must load again. The input is the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/pref.h"
#include "base/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct Key {
    const char* path;
    pref::Type type;
};

const Key kKeys[] = {
    {"multicast.commonStream.bitrate", libconfig::Setting::TypeInt},
    {"multicast.commonStream.address", libconfig::Setting::TypeString},
    {"multicast.notice.enabled", libconfig::Setting::TypeBoolean},
    {"server.port", libconfig::Setting::TypeInt},
    {"log.level", libconfig::Setting::TypeString},
};

/// The tree as libconfig writes it.
std::string layout(const libconfig::Config& config) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    if (stream == nullptr) __builtin_trap();
    config.write(stream);
    std::fclose(stream);
    std::string text(buffer != nullptr ? buffer : "", size);
    std::free(buffer);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzz::writeInput("sonvar.cfg", reinterpret_cast<const char*>(data), size);
    pref::Settings settings;
    pref::open(settings, base::fromUtf8(file));
    const bool read = !settings.isDefault;
    for (const Key& key : kKeys) (void)pref::find(&settings, key.path, key.type);
    if (read) {
        // What was read must survive a save unchanged in meaning, unless it
        // lays out larger than a settings file may be: then it is not saved.
        settings.path = base::fromUtf8(file + ".saved");
        if (pref::save(&settings)) {
            pref::Settings again;
            pref::open(again, settings.path);
            if (again.isDefault) __builtin_trap();
        } else if (pref::withinLimits(layout(*settings.config))) {
            __builtin_trap();
        }
    }
    for (const Key& key : kKeys) (void)pref::create(&settings, key.path, key.type);
    return 0;
}
