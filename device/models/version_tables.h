#pragma once

#include <cstdint>
#include <string>

#include "device/version.h"

namespace device {

/// Firmware-version indexes run from 0 (unknown) to 21. Every command and
/// reply format of a loudspeaker that changed between firmware generations is
/// chosen by ranges of this index.
constexpr int kVersionIndexCount = 22;

/// The label of a firmware-version index (the generation it stands for, e.g.
/// "O610_1.00.56"). An index of 22 or more is a programming error:
/// debug::throwIfFalse logs and throws exception::ServerError. A negative
/// index gives the label of index 0. Any thread; constant data.
std::wstring get(int index);

/// The firmware-generation span of an index (the configuration record's
/// `versionSpan` holds it plus one): 0 -> 0, 1 -> 2, 2 -> 10, 3..21 -> 21.
/// Same checks as get().
std::uint16_t getVersionSpan(int index);

/// The firmware-version index of a loudspeaker's version record: the model
/// name of its type code and its four numbers. Models other than the
/// loudspeakers (the modules, the console, unknown ones) give 0.
int versionIndexOf(const Version& version);

/// The index a loudspeaker starts with before its first state packet tells
/// its version: the newest generation of the model that the type code names
/// (8 for the Orvel-510, 21 for the Orvel-610 and Orvel-611, 20 for the
/// Orvel-45 and Orvel-Lan), 0 for any other code.
int initialVersionIndex(std::uint64_t typeCode);

/// Position of the first occurrence of `text` in `reply`, letters compared
/// without case (ASCII, as the devices answer); -1 when absent. An empty
/// `text` is found at 0.
int findIgnoringCase(const std::string& reply, const std::string& text);
/// findIgnoringCase(reply, "Off"): the "get zarnotest" reply.
int findOff(const std::string& reply);

}  // namespace device
