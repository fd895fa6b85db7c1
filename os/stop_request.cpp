#include "os/stop_request.h"

#include <sys/stat.h>

#include <cerrno>
#include <thread>

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/sync/named_condition.hpp>
#include <boost/interprocess/sync/named_mutex.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>

#include "os/single_instance.h"

namespace os {

namespace ipc = boost::interprocess;

struct StopRequestWaiter::Objects {
    explicit Objects(const StopRequestNames& names)
        : mutex(ipc::open_or_create, names.mutex.c_str()), condition(ipc::open_or_create, names.condition.c_str()) {}
    ipc::named_mutex mutex;
    ipc::named_condition condition;
};

namespace {

void removeObjects(const StopRequestNames& names) {
    ipc::named_mutex::remove(names.mutex.c_str());
    ipc::named_condition::remove(names.condition.c_str());
}

}  // namespace

StopRequestNames stopRequestNames() {
    const std::string folder = runtimeFolder();
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) throw ipc::interprocess_exception(ipc::error_info(errno));
    const std::string suffix = "_" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    return {"SONVAR_STOP_APP_MUTEX" + suffix, "SONVAR_STOP_APP_CONDITION" + suffix};
}

StopRequestWaiter::StopRequestWaiter() : m_names(stopRequestNames()) {
    removeObjects(m_names);
    m_objects = std::make_unique<Objects>(m_names);
}

StopRequestWaiter::~StopRequestWaiter() {
    m_objects.reset();
    removeObjects(m_names);
}

void StopRequestWaiter::wait(const std::function<void()>& waiting) {
    ipc::scoped_lock<ipc::named_mutex> lock(m_objects->mutex);
    if (waiting) waiting();
    m_objects->condition.wait(lock);
}

void notifyStopRequest() {
    const StopRequestNames names = stopRequestNames();
    try {
        ipc::named_mutex mutex(ipc::open_only, names.mutex.c_str());
        ipc::named_condition condition(ipc::open_only, names.condition.c_str());
        ipc::scoped_lock<ipc::named_mutex> lock(mutex);
        condition.notify_all();
    } catch (const ipc::interprocess_exception& error) {
        if (error.get_error_code() != ipc::not_found_error) throw;  // nobody waits: nothing to wake
    }
}

QuitResult stopRunningCopy(std::chrono::milliseconds period, std::chrono::milliseconds limit,
                           const std::function<void()>& notify) {
    if (!SingleInstance::isHeld()) return QuitResult::NotRunning;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        notify();
        std::this_thread::sleep_for(period);
        if (!SingleInstance::isHeld()) return QuitResult::Stopped;
        if (std::chrono::steady_clock::now() >= end) return QuitResult::StillRunning;
    }
}

}  // namespace os
