// The console's configuration: reading "get state" into the record, writing
// it key by key, and keeping the gong on its fragment when the audio memory
// changes. Also the generic configuration slots.
#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "device/memory/audio_control.h"
#include "device/models/config_journal.h"
#include "device/models/tovik_info.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

std::int16_t asPosition(std::uint16_t value) { return static_cast<std::int16_t>(value); }

}  // namespace

// ---- reading -------------------------------------------------------------------------------------

TovikInfo::Config TovikInfo::getConfig(bool noCache) {
    if (!isOnlineAndAnswered()) throw exception::Offline();
    if (!noCache) {
        DeviceLock lock(m_lock);
        if (m_config) return *m_config;
    }
    LOG_TRACE(L"get config from device ip %1%", std::string(getIp().getText()));
    const std::string reply = transfer("get state");
    const std::vector<std::string> fields = splitResponse(reply);
    if (fields.size() < kTovikStateFields) throw exception::UnexpectedResponseOfDevice(reply);
    Config config;
    if (!parseTovikState(fields, config)) {
        LOG_ERROR(L"Неверный формат настроек микрофонной консоли. (hw=%1%, state=%2%)",
                  std::string(m_hardwareAddress.toCharArray()), reply);
        throw exception::UnexpectedResponseOfDevice(reply);
    }
    config.gongId = readGongId(config);
    keepConfig(config);
    return config;
}

std::uint16_t TovikInfo::readGongId(const Config& config) {
    {
        DeviceLock lock(m_lock);
        if (m_deferredGongId != Config::kNoGong) return m_deferredGongId;
    }
    // Made outside the device lock: making the memory reads the device.
    std::uint16_t id = Config::kNoGong;
    if (const boost::shared_ptr<memory::IAudioControl> memory = getAudioControl(false, false))
        id = memory->getFragmentId(config.gongOrder);
    DeviceLock lock(m_lock);
    if (m_deferredGongId == Config::kNoGong) {
        m_deferredGongId = id;
        // The flag goes with the id: a later memory write re-aims the gong
        // with it, and must not switch off a gong the console plays.
        if (id != Config::kNoGong) m_deferredGong = config.gong;
    }
    return m_deferredGongId;
}

void TovikInfo::keepConfig(const Config& config) {
    const boost::shared_ptr<const Config> copy = boost::make_shared<const Config>(config);
    DeviceLock lock(m_lock);
    m_config = copy;
}

void TovikInfo::takeGongPlaying(std::uint32_t playbackState) {
    DeviceLock lock(m_lock);
    if (!m_config) return;
    const boost::shared_ptr<Config> copy = boost::make_shared<Config>(*m_config);
    copy->gong = (playbackState & 0x01) != 0;
    m_config = copy;
}

void TovikInfo::forgetConfigAndKeys() {
    DeviceLock lock(m_lock);
    m_config.reset();
    m_deferredGong = false;
    m_deferredGongId = Config::kNoGong;
    m_passkeyReply.clear();
}

// ---- writing -------------------------------------------------------------------------------------

bool TovikInfo::setConfig(const Config& config) {
    if (!isOnlineAndAnswered()) throw exception::Offline();
    {
        DeviceLock lock(m_lock);
        if (m_state.playbackKind != 0) throw exception::UserResponse(L"internalPlaying", L"");
    }
    validateTovikConfig(config);
    const Config current = getConfig(true);

    // The gong is chosen by fragment id; the console stores its position.
    // No gong (0xFFFF) is switched off without asking the memory: there is
    // no fragment to find, and its position is not one the console takes.
    const bool clearing = config.gongId == Config::kNoGong;
    const bool gongChanged = config.gong || config.gongId != current.gongId;
    boost::shared_ptr<memory::IAudioControl> memory;
    if (gongChanged && !clearing) {
        memory = getAudioControl(false, false);
        if (memory && memory->hasChanges()) throw exception::UserResponse(L"changes", L"");
        // Without a readable memory only the gong already set can be kept.
        if (memory ? !memory->hasFragment(config.gongId) : config.gongId != current.gongId) {
            logGongNotFound(config.gongId);
            throw exception::UserResponse(L"brokenGong", L"");
        }
    }
    checkTovikPowerRules(config);
    const bool gong = clearing ? false : config.gong;
    std::int16_t order = asPosition(current.gongOrder);
    if (gongChanged && !clearing && memory) order = asPosition(memory->getFragmentPosition(config.gongId));

    // The keys that change, each sent as "set <key> <value>"; the record's
    // field beside it names the setting to whoever reports the write.
    ConfigWrites writes;
    const auto key = [this, &writes](const char* name, const char* field, auto now, auto wanted,
                                     bool restart) {
        if (now == wanted) return;
        writes.add(name, field,
                   [this, name = std::string(name), now, wanted, restart] {
                       return setParameter(name, now, wanted, restart);
                   });
    };
    const bool staticAddress = !config.dhcp;
    key("ip", "ip", current.ip, config.ip, staticAddress);
    key("mask", "mask", current.mask, config.mask, staticAddress);
    key("gw", "gw", current.gw, config.gw, staticAddress);
    key("dhcp", "dhcp", current.dhcp, config.dhcp, true);
    key("multicastIp", "multicastIp", current.multicastIp, config.multicastIp, true);
    key("srvPort", "srvPort", current.srvPort, config.srvPort, true);
    key("srvAllowedIP", "srvAllowedIP", current.srvAllowedIP, config.srvAllowedIP, true);
    if (gongChanged && !clearing) key("gongOrder", "gongId", asPosition(current.gongOrder), order, false);
    key("gong", "gong", current.gong, gong, false);
    key("beeper", "beeper", current.beeper, config.beeper, false);
    key("faultAlarm", "faultAlarm", current.faultAlarm, config.faultAlarm, false);
    key("ledScBlink", "ledScBlink", current.ledScBlink, config.ledScBlink, false);
    key("passkey", "passkey", current.passkey, config.passkey, false);
    key("switchMode", "switchMode", current.switchMode, config.switchMode, true);
    key("singlePower", "singlePower", current.singlePower, config.singlePower, false);
    key("zarnoAddr", "zarnoAddr", static_cast<int>(current.zarnoAddr), static_cast<int>(config.zarnoAddr),
        false);
    key("zarnoTest", "zarnoTest", current.zarnoTest, config.zarnoTest, false);
    key("zarnoReserve", "zarnoReserve", current.zarnoReserve, config.zarnoReserve, false);
    key("gochsArm", "gochsArm", current.gochsArm, config.gochsArm, false);
    key("priority", "priority", current.rawPriority, config.priorityToSend(), false);
    key("priorityGOChS", "priorityGOChS", current.priorityGOChS, config.priorityGOChS, false);
    key("powerIn1", "powerIn1", current.powerIn1, config.powerIn1, false);
    key("powerIn2", "powerIn2", current.powerIn2, config.powerIn2, false);
    key("igmpReport", "igmpReport", current.igmpReport, config.igmpReport, false);

    LOG_TRACE(L"set config for device ip %1%", std::string(getIp().getText()));
    // The gong the memory watch keeps is taken once every refusal has passed
    // and the writes may begin, so that a refused or withheld write leaves it
    // as it was.
    bool restart = false;
    try {
        restart = writes.run([&] {
            if (!gongChanged) return;
            DeviceLock lock(m_lock);
            m_deferredGong = gong;
            m_deferredGongId = config.gongId;
        });
    } catch (...) {
        // Some keys may have reached the console: the kept record no longer
        // tells what it holds, the next read asks it.
        DeviceLock lock(m_lock);
        m_config.reset();
        throw;
    }

    if (restart) {
        // The kept record is the console's before the restart; the next
        // read asks it what it holds now.
        {
            DeviceLock lock(m_lock);
            m_config.reset();
        }
        reboot();
    } else {
        Config kept = config;
        kept.gong = gong;
        kept.gongOrder = static_cast<std::uint16_t>(order);
        kept.rawPriority = config.priorityToSend();
        keepConfig(kept);
        clearCachedResponses();
    }
    checkInvariant();
    return restart;
}

// ---- the gong and the audio memory ---------------------------------------------------------------

void TovikInfo::applyDeferredSettings() {
    LOG_TRACE(L"%1%", L"Set deferred settings");
    if (!isOnlineAndAnswered()) {
        LOG_INFO(L"Device is offline. Skip setting gong number");
        return;
    }
    try {
        Config config = getConfig(false);
        bool gong = false;
        std::uint16_t id = Config::kNoGong;
        {
            DeviceLock lock(m_lock);
            gong = m_deferredGong;
            id = m_deferredGongId;
        }
        if (id == Config::kNoGong) return;
        const boost::shared_ptr<memory::IAudioControl> memory = getAudioControl(false, false);
        if (!memory) return;
        const std::uint16_t position = memory->getFragmentPosition(id);
        if (position != memory::IAudioControl::kNone) {
            config.gongOrder = position;
            config.gong = gong;
            config.gongId = id;
            setConfig(config);
            return;
        }
        {
            DeviceLock lock(m_lock);
            m_deferredGong = false;
            m_deferredGongId = Config::kNoGong;
            if (m_config) {
                const boost::shared_ptr<Config> copy = boost::make_shared<Config>(*m_config);
                copy->gongId = Config::kNoGong;
                m_config = copy;
            }
        }
        LOG_WARN(L"Настройки для гонга сброшены. Проверьте аудио память и выбранный гонг.");
    } catch (const exception::Base& e) {
        // Runs on a dispatcher job or the memory's write worker, which only
        // log what escapes.
        LOG_WARN(L"The gong of the device id=%1% isn't updated: %2%", m_id, std::string(e.what()));
    }
}

void TovikInfo::checkInvariant() {
    boost::shared_ptr<memory::IAudioControl> memory;
    {
        DeviceLock lock(m_lock);
        memory = m_memory.lock();
    }
    checkInvariant(memory);
}

void TovikInfo::checkInvariant(const boost::shared_ptr<memory::IAudioControl>& memory) {
    boost::shared_ptr<const Config> config;
    {
        DeviceLock lock(m_lock);
        config = m_config;
    }
    // The memory answers lookups from its own copy, without the device.
    if (!config || !memory || memory->hasChanges()) return;
    const std::uint16_t found = memory->getFragmentId(config->gongOrder);
    // A cleared gong leaves its old position on the console: nothing to match.
    if (found != config->gongId && config->gongId != Config::kNoGong)
        LOG_WARN(L"Gong IDs doesn't match. [deviceId=%1%, gongId=%2%!=%3%, gongOrder=%4%]", m_id, found,
                 config->gongId, config->gongOrder);
    if (config->gong && !memory->hasFragment(found))
        LOG_WARN(L"Failure to find the gongId in its audio memory. [id=%1%, gongOrder=%2%]", found,
                 config->gongOrder);
}

// ---- generic slots -----------------------------------------------------------------------------------

ConfigCommon TovikInfo::readConfig(bool noCache) {
    Config config = getConfig(noCache);
    return std::move(static_cast<ConfigCommon&>(config));
}

bool TovikInfo::writeConfig(const ConfigCommon& common) {
    Config config = getConfig(false);
    static_cast<ConfigCommon&>(config) = common;
    return setConfig(config);
}

}  // namespace device
