#pragma once

#include <cstdint>
#include <map>
#include <string>

// Tables and constants shared by modules that otherwise have nothing in
// common. Built during static initialisation and never changed, so any thread
// reads them without a lock; other static initialisers must not use them.

/// Playback-type code (class bits in the top byte, source bits below) to its
/// word; 45 rows. The table is the authority for every code.
extern const std::map<std::uint64_t, std::wstring> playbackTypeNames;

/// The code that an unknown playback type reads as ("unknown").
constexpr std::uint64_t unknownPlaybackType = 0x1100000000000000ull;

/// The word of a playback-type code, compared whole; a code the table lacks
/// gives the word of unknownPlaybackType.
const std::wstring& findPlaybackTypeName(std::uint64_t code);

/// Line-control module state to its name: 0 "" (not recognised), 1 "Not
/// Ready", 2 "Active", 3 "Pause".
extern const std::map<std::uint32_t, std::string> lineControlStateNames;

/// The module state named in a reply to "lsensor": the first row in key order
/// whose name occurs anywhere in the reply, letters compared by their upper
/// case; 0 when none does.
std::uint32_t findLineControlState(const std::string& reply);

/// An icon: the name of the raw-data resource holding its SVG document and the
/// square size in pixels at which it is drawn.
struct IconInfo {
    std::string resource;
    int size;
};

/// Icon id (0 to 23) to its resource and size.
extern const std::map<int, IconInfo> iconTable;

/// The extension of command-suite files in the data folder's commands folder.
extern const std::wstring commandSuiteExtension;

/// The root element of the scheduler's XML store; tasks sit under
/// "scheduler_v2.task".
extern const std::wstring schedulerRootElement;

// Prefixes of the translation keys of device states: prefix + state word.
extern const std::wstring keyPrefixDevice;
extern const std::wstring keyPrefixAnalogInput;
extern const std::wstring keyPrefixBattery;
extern const std::wstring keyPrefixPowerSupply;
extern const std::wstring keyPrefixEthernet;
extern const std::wstring keyPrefixPlayback;
extern const std::wstring keyPrefixMicrophone;
extern const std::wstring keyPrefixAccess;
