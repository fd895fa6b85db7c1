#pragma once

#include <string>
#include <vector>

namespace testing_support {

/// Interfaces visible to this process other than loopback and the veth pairs
/// that a test makes itself (names starting with "svt").
std::vector<std::string> foreignInterfaces();

}  // namespace testing_support
