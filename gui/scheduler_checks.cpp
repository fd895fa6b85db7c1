#include "gui/scheduler_checks.h"

#include "scheduler/core.h"

namespace scheduler {

bool isUsed(const Core&, const std::wstring&) { return false; }

}  // namespace scheduler
