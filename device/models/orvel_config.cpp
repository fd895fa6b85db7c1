// The loudspeaker's configuration: reading both reply formats into the
// record, writing it key by key, and keeping the analog inputs aimed at their
// scenarios when the audio memory changes. Also the generic configuration
// slots and the debug request.
#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "device/memory/audio_control.h"
#include "device/models/config_journal.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"
#include "device/models/version_tables.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

constexpr std::int64_t kConfigLifetime = 5000000;  // microseconds
constexpr int kFirstStateIndex = 9;                 // "get state" instead of "config"/"ifconfig"
constexpr int kFirstScenarioIndex = 14;             // analog inputs launch scenarios
constexpr std::uint64_t kInputsModelMask = 0x1000000;  // Orvel-611, Orvel-45, Orvel-Lan

std::int16_t asPosition(std::uint16_t value) { return static_cast<std::int16_t>(value); }

}  // namespace

// ---- reading -------------------------------------------------------------------------------------

OrvelInfo::Config OrvelInfo::getConfig(bool noCache) {
    if (!isOnlineAndAnswered()) throw exception::Offline();
    if (!noCache && now() <= m_configValidUntil.load()) {
        DeviceLock lock(m_lock);
        // A reboot may have changed what the device holds (a write that
        // restarted it); the copy taken before it is stale.
        if (m_config && m_configTakenAt > m_rebootTime.load()) return *m_config;
    }
    LOG_TRACE(L"get config from device ip %1%", std::string(getIp().getText()));
    const int index = getVersionIndex();
    const Config config = index < kFirstStateIndex ? readOldConfig(index) : readStateConfig(index);
    keepConfig(config);
    return config;
}

OrvelInfo::Config OrvelInfo::readOldConfig(int index) {
    Config config;
    const std::string configReply = transfer("config");
    const std::string ifconfigReply = transfer("ifconfig");
    const std::vector<std::string> a = splitResponse(configReply);
    const std::vector<std::string> i = splitResponse(ifconfigReply);
    if (a.size() < 13 || i.size() < 13) throw exception::UnexpectedResponseOfDevice(std::string());
    parseOldConfigAddresses(a, i, index, configReply + "\r\n" + ifconfigReply, config);
    config.linesJoined = getLineDouble();
    const bool zarnoOk = parseOldConfigZarno(a, config);
    config.lineTest = index < 2 || findIgnoringCase(transfer("get linetest"), "On") >= 0;
    if (index < 3)
        config.zarnoTest = true;
    else if (index == 3 || index == 6)
        config.zarnoTest = false;  // these generations can't test the line
    else
        config.zarnoTest = findOff(transfer("get zarnotest")) < 0;
    config.switchMode = true;
    if (index == 3 || index == 6) {
        DeviceLock lock(m_lock);
        LOG_EXTERN(L"Need update Orvel with name '%1%' (%2%). Current version is %3%", getTitle(),
                   std::string(m_hardwareAddress.toCharArray()), getVersionTextNarrow());
    }
    if (!zarnoOk)
        LOG_ERROR(L"Неверный формат настроек прибора Орвел-510. (hw=%1%, response=%2%)",
                  std::string(m_hardwareAddress.toCharArray()), ifconfigReply);
    return config;
}

OrvelInfo::Config OrvelInfo::readStateConfig(int index) {
    Config config;
    const std::string reply = transfer("get state");
    std::vector<std::string> s = splitResponse(reply);
    normaliseStateFields(s, index, reply);
    if (s.size() < 33) {
        s.push_back(transfer("get igmpReport"));
        if (s.size() < 33) throw exception::UnexpectedResponseOfDevice(reply);
    }
    parseStateAddresses(s, index, reply, config);
    if (!parseStateSettings(s, config)) {
        LOG_ERROR(L"Неверный формат настроек прибора Орвел-610. (hw=%1%, response=%2%)",
                  std::string(m_hardwareAddress.toCharArray()), reply);
        throw exception::UnexpectedResponseOfDevice(reply);
    }
    takeScenarioIds(config);
    return config;
}

void OrvelInfo::takeScenarioIds(Config& config) {
    std::uint16_t remembered1 = 0;
    std::uint16_t remembered2 = 0;
    {
        DeviceLock lock(m_lock);
        remembered1 = m_scenarioIdAin1;
        remembered2 = m_scenarioIdAin2;
    }
    if (remembered1 != kUnreadScenario && remembered2 != kUnreadScenario) {
        config.scenarioIdAin1 = remembered1;
        config.scenarioIdAin2 = remembered2;
    } else {
        config.scenarioIdAin1 = config.scenarioIdAin2 = Config::kNoScenario;
        // Made outside the device lock: making the memory reads the device.
        if (const boost::shared_ptr<memory::IAudioControl> memory = getAudioControl(false, false)) {
            config.scenarioIdAin1 = memory->getScenarioId(static_cast<std::uint16_t>(config.scenarioAin1));
            config.scenarioIdAin2 = memory->getScenarioId(static_cast<std::uint16_t>(config.scenarioAin2));
            DeviceLock lock(m_lock);
            m_scenarioIdAin1 = config.scenarioIdAin1;
            m_scenarioIdAin2 = config.scenarioIdAin2;
        }
    }
    bool missing = false;
    DeviceLock lock(m_lock);
    if (config.scenarioIdAin1 == Config::kNoScenario && config.scenarioAin1 != -1) {
        config.scenarioIdAin1 = m_scenarioIdAin1 = Config::kMissingScenario;
        missing = true;
    }
    if (config.scenarioIdAin2 == Config::kNoScenario && config.scenarioAin2 != -1) {
        config.scenarioIdAin2 = m_scenarioIdAin2 = Config::kMissingScenario;
        missing = true;
    }
    if (missing) LOG_WARN(L"Проверьте аудио память и запускаемые сообщения для аналоговых входов");
}

void OrvelInfo::keepConfig(const Config& config) {
    const boost::shared_ptr<const Config> copy = boost::make_shared<const Config>(config);
    m_discoveryPort = config.discoveryPort;
    m_discoveryPortTakenAt = now();
    DeviceLock lock(m_lock);
    m_config = copy;
    m_configTakenAt = now();
    m_configValidUntil = m_configTakenAt + kConfigLifetime;
}

void OrvelInfo::forgetConfig() {
    m_discoveryPort = 0;
    DeviceLock lock(m_lock);
    m_config.reset();
    m_configValidUntil = 0;
    m_scenarioIdAin1 = m_scenarioIdAin2 = kUnreadScenario;
}

// ---- writing -------------------------------------------------------------------------------------

bool OrvelInfo::setConfig(const Config& config) {
    if (hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying", L"");
    const int index = getVersionIndex();
    {
        // An input whose position names no scenario of the memory keeps that
        // position while the record leaves it so (checked below): it is no
        // choice of the installer's to refuse.
        Config checked = config;
        for (std::uint16_t* id : {&checked.scenarioIdAin1, &checked.scenarioIdAin2})
            if (*id == Config::kMissingScenario) *id = Config::kNoScenario;
        validateOrvelConfig(checked, index);
    }
    if (!isOnlineAndAnswered()) throw exception::Offline();
    const Config current = getConfig(false);

    boost::shared_ptr<memory::IAudioControl> memory;
    if (index >= kFirstScenarioIndex) {
        memory = getAudioControl(false, false);
        const std::uint16_t ids[] = {config.scenarioIdAin1, config.scenarioIdAin2};
        const std::uint16_t currentIds[] = {current.scenarioIdAin1, current.scenarioIdAin2};
        if (ids[0] != currentIds[0] || ids[1] != currentIds[1]) {
            if (memory && memory->hasChanges()) throw exception::UserResponse(L"changes", L"");
            for (int n = 0; n < 2; ++n) {
                if (ids[n] == Config::kNoScenario) continue;
                // A position the memory cannot name stays as the device has it.
                if (ids[n] == Config::kMissingScenario && ids[n] == currentIds[n]) continue;
                // Without a readable memory a new scenario can't be placed;
                // refused rather than silently kept at the old position.
                if (memory ? !memory->hasScenario(ids[n]) : ids[n] != currentIds[n])
                    throw exception::UserResponse(L"unknownAinScenarioNumber", L"");
            }
            DeviceLock lock(m_lock);
            m_scenarioIdAin1 = ids[0];
            m_scenarioIdAin2 = ids[1];
        }
    }
    // The keys that change and that this generation and model know, each
    // sent as "set <key> <value>"; the record's field beside it names the
    // setting to whoever reports the write.
    ConfigWrites writes;
    const auto key = [this, &writes, index](const char* name, const char* field, auto now, auto wanted,
                                            bool restart, int minIndex, int maxIndex,
                                            std::uint64_t typeMask) {
        if (now == wanted) return;
        if (index < minIndex || index > maxIndex || (typeMask != 0 && !isTypeOf(typeMask))) {
            skipParameter(name);
            return;
        }
        writes.add(name, field,
                   [this, name = std::string(name), now, wanted, restart, minIndex, maxIndex, typeMask] {
                       return setParameter(name, now, wanted, restart, minIndex, maxIndex, typeMask);
                   });
    };
    const bool staticAddress = !config.dhcp;
    key("ip", "ip", current.ip, config.ip, staticAddress, 1, 21, 0);
    key("mask", "mask", current.mask, config.mask, staticAddress, 1, 21, 0);
    key("gw", "gw", current.gw, config.gw, staticAddress, 1, 21, 0);
    key("dhcp", "dhcp", current.dhcp, config.dhcp, true, 1, 21, 0);
    key("multicastIP", "multicastIp", current.multicastIp, config.multicastIp, true, 1, 8, 0);
    key("mCastIP", "multicastIp", current.multicastIp, config.multicastIp, true, 9, 21, 0);
    key("cmdPort", "srvPort", current.srvPort, config.srvPort, true, 1, 8, 0);
    key("srvPort", "srvPort", current.srvPort, config.srvPort, true, 9, 21, 0);
    key("cmdSrvIP", "srvAllowedIP", current.srvAllowedIP, config.srvAllowedIP, true, 1, 8, 0);
    key("srvAllowedIp", "srvAllowedIP", current.srvAllowedIP, config.srvAllowedIP, true, 9, 21, 0);
    key("AddrZarno", "zarnoAddr", current.zarnoAddr, config.zarnoAddr, true, 1, 8, 0);
    key("zarnoAddr", "zarnoAddr", current.zarnoAddr, config.zarnoAddr, true, 9, 16, 0);
    key("zarnoAddr", "zarnoAddr", current.zarnoAddr, config.zarnoAddr, false, 17, 21, 0);
    key("ReleEvent", "zarnoRelay", current.zarnoRelay, config.zarnoRelay, true, 1, 8, 0);
    key("zarnoRelay", "zarnoRelay", current.zarnoRelay, config.zarnoRelay, true, 9, 18, 0);
    key("zarnoRelay", "zarnoRelay", current.zarnoRelay, config.zarnoRelay, false, 19, 21, 0);
    key("zarnotest", "zarnoTest", current.zarnoTest, config.zarnoTest, true, 4, 18, 0);
    key("zarnoTest", "zarnoTest", current.zarnoTest, config.zarnoTest, false, 19, 21, 0);
    key("zarnoRelay", "zarnoRelay", current.zarnoRelay, config.zarnoRelay, true, 9, 18, 0);
    key("zarnoReserve", "zarnoReserve", current.zarnoReserve, config.zarnoReserve, true, 18, 18,
        kInputsModelMask);
    key("zarnoReserve", "zarnoReserve", current.zarnoReserve, config.zarnoReserve, false, 19, 21,
        kInputsModelMask);
    key("linetest", "lineTest", current.lineTest, config.lineTest, true, 3, 8, 0);
    key("linedouble", "linesJoined", !current.linesJoined, !config.linesJoined, false, 2, 8, 0);
    key("multicastListen", "multicastListen", current.multicastListen, config.multicastListen, false, 9, 21,
        0);
    // Index 17 firmware exists with either naming of the inputs; both are
    // sent there, as the firmware has always been written.
    key("multicastAIN0", "multicastAin1", current.multicastAin1, config.multicastAin1, false, 9, 17, 0);
    key("multicastAIN1", "multicastAin2", current.multicastAin2, config.multicastAin2, false, 9, 17, 0);
    key("multicastAIN1", "multicastAin1", current.multicastAin1, config.multicastAin1, false, 17, 21, 0);
    key("multicastAIN2", "multicastAin2", current.multicastAin2, config.multicastAin2, false, 17, 21, 0);
    key("priAIN0", "priAin1", current.priAin1, config.priAin1, false, 9, 17, 0);
    key("priAIN1", "priAin2", current.priAin2, config.priAin2, false, 9, 17, 0);
    key("priAIN1", "priAin1", current.priAin1, config.priAin1, false, 17, 21, 0);
    key("priAIN2", "priAin2", current.priAin2, config.priAin2, false, 17, 21, 0);
    key("priStreamMCast", "priStreamMCast", current.priStreamMCast, config.priStreamMCast, false, 9, 21,
        0);
    key("priZoneInput", "priZoneInput", current.priZoneInput, config.priZoneInput, false, 17, 21, 0);
    key("priVoiceAlert", "priVoiceAlert", current.priVoiceAlert, config.priVoiceAlert, false, 9, 21, 0);
    key("priStream", "priStream", current.priStream, config.priStream, false, 9, 21, 0);

    // The device stores positions in the memory's scenario list; the record
    // names scenarios by id. Only generations with inputs read the memory.
    std::int16_t position1 = current.scenarioAin1;
    std::int16_t position2 = current.scenarioAin2;
    if (memory) {
        if (config.scenarioIdAin1 != Config::kMissingScenario)
            position1 = asPosition(memory->getScenarioPosition(config.scenarioIdAin1));
        if (config.scenarioIdAin2 != Config::kMissingScenario)
            position2 = asPosition(memory->getScenarioPosition(config.scenarioIdAin2));
    } else {
        if (config.scenarioIdAin1 == Config::kNoScenario) position1 = -1;
        if (config.scenarioIdAin2 == Config::kNoScenario) position2 = -1;
    }
    key("scAIN0", "scenarioAin1", current.scenarioAin1, position1, false, 14, 17, 0);
    key("scAIN1", "scenarioAin2", current.scenarioAin2, position2, false, 14, 17, 0);
    key("scAIN1", "scenarioAin1", current.scenarioAin1, position1, false, 17, 21, 0);
    key("scAIN2", "scenarioAin2", current.scenarioAin2, position2, false, 17, 21, 0);
    key("switchMode", "switchMode", current.switchMode, config.switchMode, true, 17, 21,
        kInputsModelMask);
    key("ain2Arm", "ain2Arm", current.ain2Arm, config.ain2Arm, false, 17, 21, kInputsModelMask);
    key("ainFilter", "ainFilter", current.ainFilter, config.ainFilter, true, 18, 18, 0);
    key("ainFilter", "ainFilter", current.ainFilter, config.ainFilter, false, 19, 21, 0);
    key("igmpReport", "igmpReport", current.igmpReport, config.igmpReport, true, 18, 18, 0);
    key("igmpReport", "igmpReport", current.igmpReport, config.igmpReport, false, 19, 21, 0);

    if (index < kFirstStateIndex) {
        // The old firmware keeps its audio ports and the audio server apart
        // from the command port and the allowed server: they follow them.
        if (config.srvPort != current.srvPort) {
            const int discovery = discoveryPortOf(config.srvPort);
            const int mic = streamPortOf(config.srvPort, CHANNEL_NOTICE_HIGH);
            LOG_IMPOR(L"It is new discovery and mic ports %1%/%2% for device id=%3%", discovery, mic, m_id);
            key("ch0Port", "discoveryPort", 0, discovery, true, 1, 21, 0);
            key("ch1Port", "micPort", 0, mic, true, 1, 21, 0);
        }
        if (config.srvAllowedIP != current.audioSrvIp) {
            LOG_IMPOR(L"It is new allowed multicast ip %1% for device id=%2%", config.srvAllowedIP, m_id);
            key("audioSrvIP", "audioSrvIp", std::string(), config.srvAllowedIP, true, 1, 21, 0);
        }
    }

    LOG_TRACE(L"set config for device ip %1%", std::string(getIp().getText()));
    bool restart = false;
    try {
        restart = writes.run();
    } catch (...) {
        // Some keys may have reached the loudspeaker: the kept record no
        // longer tells what it holds, the next read asks it.
        m_configValidUntil = 0;
        throw;
    }

    if (restart) {
        reboot();
        return true;
    }
    Config kept = config;
    kept.scenarioAin1 = position1;
    kept.scenarioAin2 = position2;
    keepConfig(kept);
    clearCachedResponses();
    return false;
}

// ---- generic slots, debug, audio memory ------------------------------------------------------------

ConfigCommon OrvelInfo::readConfig(bool noCache) {
    Config config = getConfig(noCache);
    return std::move(static_cast<ConfigCommon&>(config));
}

std::optional<std::uint16_t> OrvelInfo::knownDiscoveryPort() const {
    const std::uint32_t port = m_discoveryPort.load();
    if (port == 0 || m_discoveryPortTakenAt.load() <= m_rebootTime.load()) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

std::uint16_t OrvelInfo::readDiscoveryPort() {
    if (!isOnlineAndAnswered()) throw exception::Offline();
    const int index = getVersionIndex();
    std::uint16_t port = 0;
    if (index < kFirstStateIndex) {
        const std::string reply = transfer("config");
        if (!discoveryPortOfOldConfig(splitResponse(reply), port))
            throw exception::UnexpectedResponseOfDevice(reply);
    } else {
        const std::string reply = transfer("get state");
        std::vector<std::string> s = splitResponse(reply);
        normaliseStateFields(s, index, reply);
        if (!discoveryPortOfState(s, port)) throw exception::UnexpectedResponseOfDevice(reply);
    }
    m_discoveryPort = port;
    m_discoveryPortTakenAt = now();
    return port;
}

void OrvelInfo::readDiscoveryPortAsync(unsigned resendMs, std::function<void(std::optional<std::uint16_t>)> done) {
    const bool old = getVersionIndex() < kFirstStateIndex;
    exchangeAsync(
        old ? "config" : "get state",
        [this, old, done](bool answered, const std::string& reply, bool) {
            std::uint16_t port = 0;
            bool read = false;
            if (answered && !isErrorReply(reply) && !isBusyReply(reply)) {
                std::vector<std::string> s = splitResponse(reply);
                try {
                    if (old) {
                        read = discoveryPortOfOldConfig(s, port);
                    } else {
                        normaliseStateFields(s, getVersionIndex(), reply);
                        read = discoveryPortOfState(s, port);
                    }
                } catch (const std::exception&) {
                    read = false;
                }
            }
            if (!read) {
                if (answered) LOG_DEBUG(L"Device id=%1% told no channel-0 port", m_id);
                done(std::nullopt);
                return;
            }
            m_discoveryPort = port;
            m_discoveryPortTakenAt = now();
            done(port);
        },
        resendMs);
}

bool OrvelInfo::writeConfig(const ConfigCommon& common) {
    Config config = getConfig(false);
    static_cast<ConfigCommon&>(config) = common;
    return setConfig(config);
}

std::string OrvelInfo::getDebugInfo() {
    return transfer(getVersionIndex() < kFirstStateIndex ? "getLineParam" : "get dbg");
}

boost::shared_ptr<memory::IAudioControl> OrvelInfo::watchScenarios(boost::shared_ptr<memory::IAudioControl> memory) {
    const boost::shared_ptr<OrvelInfo> self = getThisPtr();
    if (!self || !memory) return memory;
    // Only generations whose inputs launch scenarios have ids to learn;
    // below them the read would fetch positions that are always "none".
    bool known = getVersionIndex() < kFirstScenarioIndex;
    if (!known) {
        DeviceLock lock(m_lock);
        known = static_cast<bool>(m_config);
    }
    if (!known)
        base::ThreadDispatcher::add(L"Update the scenario IDs for AINs", 0, [self] {
            try {
                self->getConfig(false);  // fills the remembered ids
            } catch (const exception::Base& e) {
                LOG_WARN(L"The scenario ids of the device id=%1% aren't read: %2%", self->getId(),
                         std::string(e.what()));
            }
        });
    // The memory keeps these functions; a weak pointer to itself breaks the
    // cycle, and the loudspeaker is held only while a change is applied.
    const boost::weak_ptr<OrvelInfo> weakSelf = self;
    const boost::weak_ptr<memory::IAudioControl> weakMemory = memory;
    memory->setScenariosChangedCallbacks(boost::function<void()>(), [weakSelf, weakMemory] {
        const boost::shared_ptr<OrvelInfo> device = weakSelf.lock();
        const boost::shared_ptr<memory::IAudioControl> changed = weakMemory.lock();
        if (device && changed) device->applyDeferredSettings(changed);
    });
    return memory;
}

void OrvelInfo::applyDeferredSettings(const boost::shared_ptr<memory::IAudioControl>& memory) {
    LOG_TRACE(L"%1%", L"Set deferred settings");
    if (!isOnlineAndAnswered()) {
        LOG_DEBUG(L"%1%", L"Device is offline. Skip setting gong number");
        return;
    }
    try {
        Config config = getConfig(false);
        std::uint16_t id1 = 0;
        std::uint16_t id2 = 0;
        {
            DeviceLock lock(m_lock);
            id1 = m_scenarioIdAin1;
            id2 = m_scenarioIdAin2;
        }
        bool changed = false;
        bool reset = false;
        if (id1 != Config::kNoScenario) {
            const std::int16_t position = asPosition(memory->getScenarioPosition(id1));
            const bool absent = position == -1;
            changed = config.scenarioAin1 != position;
            reset = changed && absent;
            config.scenarioIdAin1 = absent ? Config::kNoScenario : id1;
        }
        if (id2 != Config::kNoScenario) {
            const std::int16_t position = asPosition(memory->getScenarioPosition(id2));
            const bool absent = position == -1;
            changed = config.scenarioAin2 != position || changed;
            reset = (changed && absent) || reset;
            config.scenarioIdAin2 = absent ? Config::kNoScenario : id2;
        }
        if (reset)
            LOG_WARN(L"Настройки для аналоговых входов сброшены. Проверьте аудио память и запускаемые "
                             L"сообщения для входов.");
        if (changed) setConfig(config);
    } catch (const exception::Base& e) {
        // Runs on the memory's write worker, which only logs what escapes.
        LOG_WARN(L"The analog inputs of the device id=%1% aren't updated: %2%", m_id, std::string(e.what()));
    }
}

}  // namespace device
