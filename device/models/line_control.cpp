// The line-control module of an Orvel-610-LC loudspeaker: "lsensor" requests
// and the parsing of their replies.
#include "device/models/line_control.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include <boost/algorithm/string/find.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"

namespace device::tip_device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> ModuleLock;

// Walked in code order: the first name found in a reply names the state.
const std::map<std::uint32_t, std::string>& stateNames() {
    static const std::map<std::uint32_t, std::string> names = {
        {LineControl::kUnknown, ""},
        {LineControl::kNotReady, "Not Ready"},
        {LineControl::kActive, "Active"},
        {LineControl::kPause, "Pause"},
    };
    return names;
}

const char kModelName[] = "Orvel-610-LC ";
const char kAddressMark[] = "hwaddr ";
const char kInitMode[] = "Init mode:";

}  // namespace

LineControl::LineControl(RequestFunction request) : m_request(std::move(request)) {}

std::wstring LineControl::defaultTitle(std::uint8_t address) {
    return L"Оконечное устройство " + std::to_wstring(address);
}

std::uint32_t LineControl::findModuleState(const std::string& firstPart) {
    for (const auto& entry : stateNames()) {
        if (entry.second.empty()) continue;
        if (!boost::algorithm::ifind_first(firstPart, entry.second).empty()) return entry.first;
    }
    return kUnknown;
}

std::uint32_t LineControl::getModuleState() const { return m_state.load(); }
std::uint32_t LineControl::getPowerSaveMode() const { return m_powerSave.load(); }

void LineControl::refresh(bool withVersion) {
    if (withVersion) initVersionAndAddress();
    requestTipDevices();
}

// ---- end devices ----------------------------------------------------------------------------------

void LineControl::requestTipDevices() {
    LOG_TRACE(L"%1%", L"");
    const std::string reply = m_request("lsensor");
    if (reply.empty()) {
        LOG_DEBUG(L"%1%", L"A device isn't responded");
        return;
    }
    ModuleLock lock(m_lock);
    std::vector<std::string> parts;
    boost::algorithm::split(parts, reply, [](char c) { return c == ';'; });
    if (parts.empty()) {
        LOG_WARN(L"Получен неверный формат состояния модуля контроля линии. (%1%)", reply);
        return;
    }
    m_state = findModuleState(parts[0]);
    if (m_state == kUnknown) {
        LOG_WARN(L"Неизвестное состояние модуля контроля линии. (%1%)", reply);
        return;
    }
    unsigned power = 0;
    unsigned progress = 0;
    if (std::sscanf(parts[0].c_str(), "%*[A-Za-z ],%u,%u:", &power, &progress) == 2) {
        m_powerSave = power == 0 ? kPowerSaveOff : power == 1 ? kPowerSaveOn : kPowerSaveUnknown;
        m_progress = progress;
    } else {
        m_powerSave = kPowerSaveUnknown;
        m_progress = m_state == kNotReady ? 0 : 100;
    }
    if (m_state != kActive) {
        m_reported.clear();
        LOG_DEBUG(L"Skip parsing states of line control. (%1%)", reply);
        return;
    }
    // The first item follows the header's ':' and one separating character.
    const std::size_t colon = parts[0].find(':');
    parts[0].erase(0, std::min(parts[0].size(), colon == std::string::npos ? 1 : colon + 2));

    std::vector<TipDevice> fresh;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        unsigned index = 0;
        unsigned flags = 0;
        unsigned first = 0;
        unsigned second = 0;
        char code[5] = {};
        if (std::sscanf(part.c_str(), "%u:%x:%x:%x:%4s", &index, &flags, &first, &second, code) < 5) {
            LOG_WARN(L"Неверное количество частей в состоянии оконечных устройств. (%1%)", reply);
            return;
        }
        if (index > 127 || flags > 7) {
            LOG_WARN(L"Неверные значения частей в состоянии оконечных устройств. (%1%)", reply);
            return;
        }
        TipDevice tip;
        tip.valid = true;
        tip.address = static_cast<std::uint8_t>(index + kFirstAddress);
        tip.added = (flags & 1) != 0;
        tip.active = (flags & 2) != 0;
        tip.addedAndActive = tip.added && tip.active;
        tip.thirdFlag = (flags & 4) != 0;
        tip.firstValue = first;
        tip.secondValue = second;
        tip.code = code;
        tip.title = titleLocked(tip.address);  // from the list being replaced
        if (tip.title.empty()) tip.title = defaultTitle(tip.address);
        fresh.push_back(std::move(tip));
    }
    m_reported = std::move(fresh);

    // One stale title at a time, the lowest address first.
    for (auto it = m_titles.begin(); it != m_titles.end(); ++it) {
        const std::uint8_t address = it->first;
        const bool listed = std::any_of(m_reported.begin(), m_reported.end(),
                                        [address](const TipDevice& tip) { return tip.address == address; });
        if (!listed) {
            m_titles.erase(it);
            break;
        }
    }
}

std::wstring LineControl::titleLocked(std::uint8_t address) const {
    const auto tip = std::find_if(m_reported.begin(), m_reported.end(),
                                  [address](const TipDevice& t) { return t.address == address; });
    if (tip == m_reported.end()) return std::wstring();
    const auto title = m_titles.find(address);
    if (title != m_titles.end()) return title->second;
    return tip->title.empty() ? defaultTitle(address) : tip->title;
}

std::wstring LineControl::getTipDeviceTitle(std::uint8_t address) {
    ModuleLock lock(m_lock);
    return titleLocked(address);
}

LineControl::TipDevice LineControl::findTipDevice(std::uint8_t address) {
    ModuleLock lock(m_lock);
    for (const TipDevice& tip : m_reported)
        if (tip.address == address) return tip;
    return TipDevice();
}

void LineControl::setTipDeviceMasks(std::uint32_t added, std::uint32_t active) {
    // Under the lock: getTipDevices reads the list and the state under it on
    // another thread.
    ModuleLock lock(m_lock);
    if (added == m_addedMask && active == m_activeMask) return;
    std::vector<TipDevice> tips;
    for (unsigned bit = 0; bit < kMaskBits; ++bit) {
        const std::uint32_t mask = 1u << bit;
        if (((added | active) & mask) == 0) continue;
        TipDevice tip;
        tip.valid = true;
        tip.address = static_cast<std::uint8_t>(bit + kFirstAddress);
        tip.added = (added & mask) != 0;
        tip.active = (active & mask) != 0;
        tip.addedAndActive = tip.added && tip.active;
        tip.title = titleLocked(tip.address);
        if (tip.title.empty()) tip.title = defaultTitle(tip.address);
        tips.push_back(std::move(tip));
    }
    m_masked = std::move(tips);
    m_addedMask = added;
    m_activeMask = active;
    m_state = kUnknown;
}

std::vector<LineControl::TipDevice> LineControl::getTipDevices() {
    ModuleLock lock(m_lock);
    if (m_state != kActive) requestTipDevices();
    return m_state == kActive ? m_reported : m_masked;
}

bool LineControl::sendToTip(const char* verb, std::uint8_t address) {
    const std::string request = std::string("lsensor ") + verb + " " + std::to_string(address - kFirstAddress);
    return !m_request(request).empty();
}

bool LineControl::add(std::uint8_t address) {
    requestTipDevices();
    if (m_powerSave == kPowerSaveOn) {
        LOG_WARN(L"Не удалось добавить оконечное устройство из-за включенного режима энергосбережения");
        return false;
    }
    {
        ModuleLock lock(m_lock);
        const bool found = std::any_of(m_reported.begin(), m_reported.end(), [address](const TipDevice& tip) {
            return tip.address == address && !tip.added;
        });
        if (!found) {
            LOG_EXTERN(L"Оконечное устройство %1% невозможно добавить", address);
            return false;
        }
    }
    return sendToTip("add", address);
}

bool LineControl::remove(std::uint8_t address) {
    requestTipDevices();
    if (m_powerSave == kPowerSaveOn) {
        LOG_WARN(L"Не удалось удалить оконечное устройство из-за включенного режима энергосбережения");
        return false;
    }
    {
        ModuleLock lock(m_lock);
        const bool found = std::any_of(m_reported.begin(), m_reported.end(),
                                       [address](const TipDevice& tip) { return tip.address == address; });
        if (!found) {
            LOG_EXTERN(L"Оконечное устройство %1% не найдено в добавленных", address);
            return false;
        }
    }
    return sendToTip("del", address);
}

// ---- module ---------------------------------------------------------------------------------------

void LineControl::initVersionAndAddress() {
    const std::string reply = boost::algorithm::trim_copy(m_request("lsensor ver"));
    if (reply.empty()) {
        LOG_EXTERN(L"Произошел сбой в модуле контроля линии");
        return;
    }
    std::vector<std::string> parts;
    boost::algorithm::split(parts, reply, [](char c) { return c == ','; });
    if (parts.size() != 2) {
        LOG_WARN(L"Получен неверный формат версии модуля контроля линии. (%1%)", reply);
        return;
    }
    ModuleLock lock(m_lock);
    m_address = boost::algorithm::trim_copy(parts[1]);
    const std::size_t mark = m_address.find(kAddressMark);
    if (mark != std::string::npos) m_address.erase(0, mark + sizeof kAddressMark - 1);
    const std::string versionText = kModelName + boost::algorithm::trim_copy(parts[0]);
    Version version;
    if (!parseVersion(versionText, version)) {
        const std::wstring message = L"Обнаружена ошибка формата в версии модуля контроля линии '" +
                                     base::toWide(versionText) + L"'";
        LOG_WARN(L"%1%", message);
        throw exception::UnexpectedResponseOfDevice(base::toNarrow(message));
    }
    m_version = version;
}

Version LineControl::getMasterFirmwareVersion() {
    bool unread = false;
    {
        ModuleLock lock(m_lock);
        unread = m_version.typeCode == 0;
    }
    if (unread) {
        LOG_DEBUG(L"%1%", L"Request master firmware version.");
        initVersionAndAddress();
    }
    ModuleLock lock(m_lock);
    return m_version;
}

std::string LineControl::getMasterHardwareAddress() {
    bool unread = false;
    {
        ModuleLock lock(m_lock);
        unread = m_address.empty();
    }
    if (unread) {
        LOG_DEBUG(L"%1%", L"Request master hardware address.");
        initVersionAndAddress();
    }
    ModuleLock lock(m_lock);
    return m_address;
}

std::uint32_t LineControl::getInitializationProgress() {
    const std::uint32_t cached = m_progress.load();
    if (cached != 0) return cached;
    const std::string reply = m_request("lsensor dbg");
    // A module that didn't answer tells nothing: no progress is made up and kept.
    if (reply.empty()) return 0;
    const std::size_t at = reply.find(kInitMode);
    if (at == std::string::npos || m_state == kActive) {
        m_progress = 100;
        return 100;
    }
    LOG_TRACE2(L"parse debug info: %1%", reply);
    unsigned mode = 0;
    if (std::sscanf(reply.c_str() + at + sizeof kInitMode - 1, "%u", &mode) == 1) return mode;
    m_progress = m_state == kNotReady ? 0 : 100;
    return m_progress;
}

bool LineControl::setPowerSaveMode(std::uint32_t mode) {
    if (mode == m_powerSave) {
        LOG_DEBUG(L"%1%", L"Skip setting power save mode due to no differences");
        return true;
    }
    if (m_request("lsensor power " + std::to_string(mode)).empty()) {
        LOG_ERROR(L"Не удалось установить режим энергосбережения!");
        return false;
    }
    m_powerSave = mode;
    return true;
}

std::string LineControl::request(const std::string& line) {
    LOG_TRACE(L"%1%", line);
    const std::string reply = m_request(line);
    if (reply.empty()) LOG_DEBUG(L"No reply of the line-control module to '%1%'", line);
    return reply;
}

void LineControl::resetCache() {
    LOG_TRACE(L"%1%", L"");
    ModuleLock lock(m_lock);
    m_state = kUnknown;
    m_reported.clear();
    m_version = Version();
    m_address.clear();
    m_powerSave = kPowerSaveUnknown;
    m_progress = 0;
    m_addedMask = 0;
    m_activeMask = 0;
}

}  // namespace device::tip_device
