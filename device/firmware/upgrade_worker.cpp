#include "device/firmware/upgrade_worker.h"

#include <boost/thread/locks.hpp>

namespace device {

UpgradeWorker::~UpgradeWorker() {
    boost::lock_guard<boost::mutex> lock(m_lock);
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == boost::this_thread::get_id()) {
        m_thread.detach();  // the worker dropped the last pointer to its device
        return;
    }
    m_thread.interrupt();  // ends the wait for the device's restart
    m_thread.join();
}

void UpgradeWorker::start(boost::function<void()> body) {
    boost::lock_guard<boost::mutex> lock(m_lock);
    if (m_thread.joinable()) m_thread.join();
    m_thread = boost::thread(std::move(body));
}

}  // namespace device
