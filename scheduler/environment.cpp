#include "scheduler/task.h"

namespace scheduler::task {

Environment systemEnvironment() {
    return Environment{systemClock(), {}};
}

}  // namespace scheduler::task
