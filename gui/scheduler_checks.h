#pragma once

#include <string>

namespace scheduler {

class Core;

/// True when a task of the core plays the file as its message or its gong.
/// Paths compare whole, letter case counting. GUI thread.
bool isUsed(const Core& core, const std::wstring& path);

}  // namespace scheduler
