#include "gui/device_batch.h"

namespace frm {

bool DeviceBatch::add(const DevicePtr& device) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (device && m_noted.insert(device.get()).second) m_devices.push_back(device);
    if (m_handOverPending) return false;
    m_handOverPending = true;
    return true;
}

std::vector<DeviceBatch::DevicePtr> DeviceBatch::take() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<DevicePtr> devices;
    devices.swap(m_devices);
    m_noted.clear();
    m_handOverPending = false;
    return devices;
}

std::size_t DeviceBatch::size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_devices.size();
}

}  // namespace frm
