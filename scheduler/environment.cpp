#include "base/thread_dispatcher.h"
#include "scheduler/task.h"

namespace scheduler::task {

Environment systemEnvironment() {
    // A job added while no dispatcher runs (start-up, shutdown) is dropped by
    // the dispatcher with a DEBUG line; the task's minute has passed then.
    return Environment{systemClock(), [](const std::wstring& description, Event job) {
                           base::ThreadDispatcher::add(description, 0, std::move(job));
                       }};
}

}  // namespace scheduler::task
