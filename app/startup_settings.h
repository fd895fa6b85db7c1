#pragma once

#include <cstdint>
#include <string>

#include "base/log.h"

// The settings that start-up reads, each with its default right here (a
// missing key is created with it). The two values everything on the network
// hangs on are checked where they are read: a bad one would otherwise
// surface later as a puzzling failure of a socket or a stream. GUI thread,
// between pref_init and pref_free.

/// A text setting; created holding `defaultValue` when missing.
std::wstring stringSetting(const char* path, const std::wstring& defaultValue);

/// `debug.level` (default "info") as a log level, compared whole and case
/// sensitive: "trace3", "trace2", "trace", "debug", anything else INFO.
/// `forceTrace3` gives TRACE3 whatever the text.
base::Log::Level debugLevelSetting(bool forceTrace3);

/// `multicast.address` (default "224.0.224.1"): four dotted numbers, each at
/// most 255, and nothing else, else exception::UserError "Неверное значение '%1%' параметра
/// '%2%' в файле настроек %3%" with the value, the key and the file (as
/// notices name it, base::Log::fileForNotice). Leading zeros, which earlier
/// versions took in the settings dialog and stored, are read as decimal
/// (net::parseStoredIp4Address); the dotted form is returned and replaces
/// the stored text.
std::string multicastAddressSetting();

/// `multicast.basePort` (default 11990): 1024 to 65500, the range the
/// settings dialog allows, else the same exception.
std::uint16_t basePortSetting();
