#pragma once

#include <cstdint>
#include <string>

namespace device {

// Firmware type codes: each names a device model and the kind of its firmware
// image. Callers test single bits of them (see the masks below) as well as
// whole values.
constexpr std::uint64_t kTypeOrvel510Old = 0x300001;
constexpr std::uint64_t kTypeOrvel510 = 0x300002;
constexpr std::uint64_t kTypeOrvel610 = 0x500004;
constexpr std::uint64_t kTypeOrvel610Pss = 0x500010;  // power module image
constexpr std::uint64_t kTypeOrvel610Lc = 0x500020;   // line-control module image
constexpr std::uint64_t kTypeOrvel611 = 0x1500040;
constexpr std::uint64_t kTypeOrvel45 = 0x1101000;
constexpr std::uint64_t kTypeOrvelLan = 0x1102000;
constexpr std::uint64_t kTypeTovik30 = 0x1804000;

constexpr std::uint64_t kMaskLoudspeaker = 0x100000;
constexpr std::uint64_t kMaskOrvel510 = 0x300000;     // with the loudspeaker bit: the Orvel-510 pages
constexpr std::uint64_t kMaskOrvel610Family = 0x500000;
constexpr std::uint64_t kMaskConsole = 0x800000;
constexpr std::uint64_t kMaskLanFamily = 0x1000000;   // Orvel-611/45/Lan and the console

/// A firmware version as a device reports it, e.g. "Orvel-610 1.0.112.0 Mar 3 2021".
/// Copied whole; a record that nothing was parsed into has type code 0.
struct Version {
    std::uint64_t typeCode = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    unsigned revision = 0;
    std::string buildDate;  // what follows the four numbers, trimmed
    bool debug = false;     // the build date part mentions "debug"
    bool emulator = false;  // the build date part mentions "emul"
    std::string text;       // the whole text as received (narrow, CP1251)
};

/// Parses "<model> <major>.<minor>.<build>.<revision>[ <build date>]". The
/// model is the text up to the first blank and must not be empty; all four
/// numbers are required. An unknown model still parses, with type code 0 (the
/// caller decides what to do with foreign devices). Logs nothing: it runs for
/// every datagram that looks like a state packet. On false the record is
/// left as it was.
bool parseVersion(const std::string& text, Version& version);
/// The same, the record taking over the text instead of a copy of it.
bool parseVersion(std::string&& text, Version& version);

/// The model name of a type code; "Unsupported" for a code of no model.
std::wstring toText(std::uint64_t typeCode);

/// The type code of a model name, compared as a whole text; 0 for anything
/// else. "Orvel-510" names two codes and gives the newer one, 0x300002.
std::uint64_t toFirmwareType(const std::wstring& modelName);

}  // namespace device
