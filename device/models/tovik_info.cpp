// The microphone-console object: creation, the state packet, the cache and
// the volume reply.
#include "device/models/tovik_info.h"

#include <cstdio>

#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "device/firmware/firmware.h"
#include "device/memory/audio_memory.h"
#include "device/version.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

const char* const kParsePlace = "device::TovikInfo::parsePing";

int consoleTypeOf(const Version& version, int current) {
    if (version.major == 0) {
        if (version.minor == 0) return 1;
        if (version.minor == 1) return 2;
        return current;
    }
    return version.major == 1 ? 3 : 4;
}

}  // namespace

TovikInfo::TovikInfo(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
                     const std::wstring& title, boost::shared_ptr<TransferProtocol> transport)
    : DeviceBase(id, hardwareAddress, endpoint, title, std::move(transport)) {
    presetTypeCode(kTypeTovik30);
}

boost::shared_ptr<TovikInfo> TovikInfo::create(std::uint32_t id, const net::HardwareAddress& hardwareAddress,
                                               const net::IpAndPort& endpoint, const std::wstring& title,
                                               boost::shared_ptr<TransferProtocol> transport,
                                               StateChangedHandler handler) {
    boost::shared_ptr<TovikInfo> self(new TovikInfo(id, hardwareAddress, endpoint, title, std::move(transport)));
    self->setThisWeakPtr(self);
    self->setStateChangedHandler(std::move(handler));
    return self;
}

TovikInfo::State TovikInfo::getState() const {
    DeviceLock lock(m_lock);
    return m_state;
}

boost::shared_ptr<TovikInfo> TovikInfo::getThisPtr() const {
    return boost::dynamic_pointer_cast<TovikInfo>(getThisBasePtr());
}

// ---- state packet ---------------------------------------------------------------------------

bool TovikInfo::parsePing(const std::string& packet, const net::IpAndPort& source) {
    // Packets of one console may be parsed on two dispatcher workers at once;
    // the copy-compare-write below and the first-packet step must not interleave.
    boost::lock_guard<boost::mutex> serial(m_parseLock);
    return parsePingLocked(packet, source);
}

bool TovikInfo::parsePingLocked(const std::string& packet, const net::IpAndPort& source) {
    Version version;
    if (!parseStatePacketVersion(packet, version)) {
        LOG_WARN(L"Failure to extract tovik version: %1%", packet);
        return false;
    }
    const TovikPacket read = readTovikPacket(packet);
    if (version.typeCode != kTypeTovik30) {
        LOG_WARN(L"Failure to parse tovik ping: %1%", packet);
        return false;
    }
    const net::HardwareAddress address(read.hardwareText);
    if (!address.isValid()) {
        logUnknownHardwareAddress(read.hardwareText);
        return false;
    }
    if (skipsPacketAfterReboot(kRebootSkipWindow)) return true;

    bool changed = false;
    if (followPacketSource(source)) changed = true;

    State before;
    std::string storedText;
    {
        DeviceLock lock(m_lock);
        before = m_state;
        storedText = getVersionTextNarrow();
    }
    const std::string versionText = version.text;
    takeVersion(version, versionText, storedText, changed);

    State state = before;
    takeTovikFields(read, state, kParsePlace);
    if (state.playbackState != before.playbackState) {
        state.playbackKind = tovikPlaybackKind(state.playbackState);
        takeGongPlaying(state.playbackState);
    }
    logChanges(state, before, changed);

    const bool first = !m_firstPacket.load();
    if (first) {
        logConnected();
        m_answered = false;
    }
    if (changed) computeTovikFlags(state);
    const std::int64_t at = now();
    m_lastPacketTime = at;
    m_lastContactTime = at;
    m_firstPacket = true;
    {
        DeviceLock lock(m_lock);
        m_state = state;
    }
    if (changed || first) notifyIfStateChanged();
    if (first) {
        const boost::shared_ptr<TovikInfo> self = getThisPtr();
        if (self) base::ThreadDispatcher::add(L"check responding", 200, [self] { self->checkRespondingLater(); });
    }
    return true;
}

void TovikInfo::takeVersion(const Version& version, const std::string& text, const std::string& storedText,
                            bool& changed) {
    if (text == storedText) return;
    logVersionChanged(text, storedText);
    setVersion(version, text);
    m_consoleType = consoleTypeOf(version, m_consoleType.load());
    changed = true;
}

void TovikInfo::logChanges(const State& s, const State& old, bool& changed) const {
    const base::LogPlace log(kParsePlace);
    // Levels drift all the time: logged and kept, but no reason to notify.
    if (s.power1Level != old.power1Level)
        log.info(L"changed power U1 level of device id=%1%, new=%2%, old=%3%", m_id, s.power1Level, old.power1Level);
    if (s.power2Level != old.power2Level)
        log.info(L"changed power U2 level of device id=%1%, new=%2%, old=%3%", m_id, s.power2Level, old.power2Level);

    // In the order of the record; the named ones are logged by their texts.
    struct Field {
        std::uint32_t State::*member;
        bool named;
        TovikTable table;
        const wchar_t* message;
    };
    static const Field kFields[] = {
        {&State::power1State, false, {}, L"changed power U1 state of device id=%1%, new=0x%2$02X, old=0x%3$02X"},
        {&State::power2State, false, {}, L"changed power U2 state of device id=%1%, new=0x%2$02X, old=0x%3$02X"},
        {&State::ethernet1State, false, {}, L"changed ethernet 1 state of device id=%1%, new=0x%2$02X, old=0x%3$02X"},
        {&State::ethernet2State, false, {}, L"changed ethernet 2 state of device id=%1%, new=0x%2$02X, old=0x%3$02X"},
        {&State::microphoneLine, true, TovikTable::MicrophoneLine,
         L"changed microphone line of device id=%1%, new=%2%, old=%3%"},
        {&State::accessState, true, TovikTable::Access, L"changed access state of device id=%1%, new=%2%, old=%3%"},
        {&State::playbackState, false, {}, L"changed playback of device id=%1%, new=%2$02X, old=%3$02X"},
        {&State::caseState, true, TovikTable::Case, L"changed case state of device id=%1%, new=%2%, old=%3%"},
        {&State::boundZones, false, {}, L"changed bound zones of device id=%1%, new=%2%, old=%3%"},
        {&State::connectedZones, false, {}, L"changed connected zones of device id=%1%, new=%2%, old=%3%"},
        {&State::activatedZones, false, {}, L"changed activated zones of device id=%1%, new=%2%, old=%3%"},
        {&State::zarnoState, false, {}, L"changed zarno lines of device id=%1%, new=%2%, old=%3%"},
    };
    for (const Field& field : kFields) {
        const std::uint32_t now = s.*field.member;
        const std::uint32_t before = old.*field.member;
        if (now == before) continue;
        if (field.named)
            log.info(field.message, m_id, toText(field.table, now), toText(field.table, before));
        else
            log.info(field.message, m_id, now, before);
        changed = true;
    }
    if (s.ainState != old.ainState) {
        logAinChanged(s.ainState, old.ainState);
        changed = true;
    }
}

// ---- slots ------------------------------------------------------------------------------------

void TovikInfo::resetCache() {
    LOG_TRACE(L"Reset requested cache for device id=%1%", m_id);
    DeviceBase::resetCache();
    DeviceLock lock(m_lock);
    m_state = State();
    forgetConfigAndKeys();
    m_zones.clear();
    m_zonesValid = false;
}

bool TovikInfo::isFirmwareSuitable(boost::shared_ptr<IFirmware> image) {
    return image && image->getVersion().typeCode == kTypeTovik30;
}

bool TovikInfo::setVolume(std::uint32_t) {
    LOG_TRACE(L"%1%", L"");
    throw exception::UnsupportedByDevice(L"");
}

bool TovikInfo::hasInternalPlaying() {
    if (!isOnline() || !m_answered.load()) return false;
    DeviceLock lock(m_lock);
    return m_state.playbackKind != 0;
}

std::wstring TovikInfo::getPlaybackTypeText() {
    DeviceLock lock(m_lock);
    return toText(TovikTable::PlaybackKind, m_state.playbackKind);
}

std::string TovikInfo::getDebugInfo() { return transfer("get dbg"); }

void TovikInfo::handleVolume(const std::string& reply) {
    LOG_TRACE(L"handle volume for device %1%", std::string(m_hardwareAddress.toCharArray()));
    m_lastContactTime = now();
    int value = 0;
    if (std::sscanf(reply.c_str(), "%i", &value) != 1) {
        LOG_WARN(L"Response format for Tovik-30 is invalid 'get vol': %1%, device '%2%'", reply,
                 std::string(m_hardwareAddress.toCharArray()));
        return;
    }
    if (value < 0 || value > 100) {
        LOG_NOTICE(L"Incorrect volume of %1% is '%2%'", L"Tovik-30", value);
        value = value < 0 ? 0 : 100;
    }
    m_volume = value;
}

boost::shared_ptr<memory::IAudioControl> TovikInfo::createAudioControl(bool) {
    const boost::shared_ptr<DeviceBase> self = getThisBasePtr();
    if (!self) throw exception::Offline();
    return watchGong(boost::make_shared<tovik::memory::AudioMemory>(m_transport, self));
}

boost::shared_ptr<memory::IAudioControl> TovikInfo::watchGong(boost::shared_ptr<memory::IAudioControl> memory) {
    const boost::shared_ptr<TovikInfo> console = getThisPtr();
    if (!console || !memory) return memory;
    {
        DeviceLock lock(m_lock);
        m_memory = memory;
    }
    checkInvariant(memory);
    base::ThreadDispatcher::add(L"Update the gong settings", 0, [console] { console->applyDeferredSettings(); });
    // The memory keeps the function: a weak pointer breaks the cycle.
    const boost::weak_ptr<TovikInfo> weakConsole = console;
    memory->setScenariosChangedCallbacks(boost::function<void()>(), [weakConsole] {
        if (const boost::shared_ptr<TovikInfo> device = weakConsole.lock()) device->applyDeferredSettings();
    });
    return memory;
}

}  // namespace device
