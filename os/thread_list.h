#pragma once

#include <string>

namespace os {

/// The ids of this process's threads, each in upper-case hexadecimal without
/// leading zeros, joined by commas ("1A2C,3F0"), in the order the system lists
/// them under /proc/self/task; empty when that can't be read. Start-up and
/// shutdown log it. Any thread.
std::wstring getThreadIdList();

}  // namespace os
