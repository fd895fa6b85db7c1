// The console's zones: its zone list with the message bindings and the
// capacity, and the commands that write and delete one zone.
#include <bitset>

#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "device/models/tovik_info.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

constexpr unsigned kLargestZoneNumber = 20;
constexpr int kLargestVirtualZone = 1023;

}  // namespace

void TovikInfo::initZones() {
    if (m_zonesValid.load()) return;
    // Both lists before any lock: the device lock is never held across an
    // exchange.
    const std::string list = transfer("zoneList all");
    const std::string messages = transfer("zoneScList");
    if (list == "no") {
        {
            DeviceLock lock(m_lock);
            m_zones.clear();
            m_zonesValid = true;
        }
        LOG_DEBUG(L"%1%", L"Read empty zone list");
        return;
    }
    const std::map<int, int> scenarios = parseZoneMessages(messages);
    ZoneListReply read = parseZoneList(list);
    for (auto& entry : read.zones) {
        const auto found = scenarios.find(entry.first);
        entry.second.scenario = found == scenarios.end() ? -1 : found->second;
    }
    {
        DeviceLock lock(m_lock);
        const std::size_t bound = std::bitset<32>(m_state.boundZones).count();
        if (bound != read.items)
            LOG_WARN(L"Связанные зоны %1% не соответствуют списку зон из статуса %2%", bound, read.items);
        m_zones = read.zones;
        m_zonesValid = true;
    }
    if (m_zoneCapacity.load() != 0) return;
    const std::string size = transfer("zoneSizeGet");
    int capacity = 0;
    int free = 0;
    if (!parseZoneSize(size, capacity, free)) {
        LOG_WARN(L"Микрофонная консоль ответила в неизвестном формате. (%1%)", size);
        return;
    }
    m_zoneCapacity = capacity;
    const int used = countBoundAddresses();
    if (used != capacity - free)
        LOG_WARN(L"Расчётное использование памяти не равно вычитанному (%1% != %2%)", used, capacity - free);
}

ConsoleZoneMap TovikInfo::getZones() {
    initZones();
    DeviceLock lock(m_lock);
    return m_zones;
}

TovikInfo::Zone TovikInfo::findZone(int zoneNumber) {
    initZones();
    DeviceLock lock(m_lock);
    const auto found = m_zones.find(zoneNumber);
    if (found == m_zones.end()) throw exception::InternalError(L"Зону микрофонной консоли не удалось найти");
    return found->second;
}

bool TovikInfo::bindZone(int zoneNumber, int virtualZone, int scenario, const std::set<unsigned>& addresses) {
    if (static_cast<unsigned>(zoneNumber) > kLargestZoneNumber || virtualZone < 1 ||
        virtualZone > kLargestVirtualZone || addresses.empty()) {
        LOG_WARN(L"Связывание зон отменено из-за неверных входных параметров. (zoneNumber=%1%, virtualZone=%2%)",
                 zoneNumber, virtualZone);
        return false;
    }
    const int capacity = m_zoneCapacity.load();
    const int used = countBoundAddresses();
    if (capacity != 0 && used + static_cast<int>(addresses.size()) > capacity) {
        LOG_ERROR(L"Нет доступной памяти для хранения орвелов %1%(%2%)+%3%.", capacity, used, addresses.size());
        return false;
    }
    std::string command;
    if (!zoneBindCommand(zoneNumber, virtualZone, addresses, command)) {
        LOG_ERROR(L"Не удалось сформировать команду для привязки зоны (очень много данных) (%1%)", command);
        return false;
    }
    transfer(command);
    if (scenario != -1) {
        bool bound = false;
        try {
            transfer("zoneScBind " + std::to_string(zoneNumber) + " " + std::to_string(scenario));
            bound = true;
        } catch (const exception::UnexpectedResponseOfDevice&) {
        } catch (const exception::Offline&) {
        }
        if (!bound) {
            // A zone without the message it was bound for would announce
            // nothing the operator expects: take it back.
            transfer("zoneDel " + std::to_string(zoneNumber));
            LOG_ERROR(L"Ошибка привязки сообщения");
            return false;
        }
    }
    Zone zone;
    zone.zoneNumber = zoneNumber;
    zone.virtualZone = virtualZone;
    zone.scenario = scenario;
    zone.addresses = addresses;
    DeviceLock lock(m_lock);
    m_zones[zoneNumber] = zone;
    return true;
}

bool TovikInfo::unbindZone(int zoneNumber) {
    initZones();
    {
        DeviceLock lock(m_lock);
        if (m_zones.count(zoneNumber) == 0) {
            LOG_WARN(L"Не удается удалить зону %1%, потому что она не найдена", zoneNumber);
            return false;
        }
    }
    transfer("zoneDel " + std::to_string(zoneNumber));
    DeviceLock lock(m_lock);
    m_zones.erase(zoneNumber);
    return true;
}

int TovikInfo::countBoundAddresses() const {
    DeviceLock lock(m_lock);
    int count = 0;
    for (const auto& entry : m_zones) count += static_cast<int>(entry.second.addresses.size());
    return count;
}

}  // namespace device
