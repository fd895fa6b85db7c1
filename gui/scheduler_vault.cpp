#include "gui/scheduler_vault.h"

#include <boost/any.hpp>

#include "audio/playback.h"
#include "base/log.h"
#include "scheduler/task.h"

namespace scheduler::task {

DataVault getVault(const BaseTask& task) {
    const boost::any data = task.getClientData();
    if (const DataVault* vault = boost::any_cast<DataVault>(&data)) return *vault;
    base::LogPlace("scheduler::task::BaseTask::getClientData")
        .error(L"task: Failed to retrieve data");
    return DataVault();
}

void setVault(BaseTask& task, const DataVault& vault) { task.setClientData(vault); }

}  // namespace scheduler::task
