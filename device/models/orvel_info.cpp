// The loudspeaker object: creation, the state packet, the cache and the
// firmware checks. Volume, channel and the playback-type code are in
// orvel_playback.cpp.
#include "device/models/orvel_info.h"

#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "device/firmware/firmware.h"
#include "device/firmware/firmware_collection.h"
#include "device/memory/audio_control.h"
#include "device/memory/audio_memory.h"
#include "device/models/line_control.h"
#include "device/models/version_tables.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

// Replies that stay the same while the loudspeaker runs.
const char* const kCachedRequests[] = {"get zarnotest", "get linedouble", "get linetest", "get igmpReport",
                                       "config",        "get ver",        "get pssVer"};

struct RangeCheck {
    std::size_t field;  // 0-based: f1 is 0
    std::uint32_t maximum;
    std::uint32_t replacement;
    const wchar_t* message;
};

// The order of the checks is the order of their log lines.
constexpr RangeCheck kFirstChecks[] = {
    {0, 100, 100, L"Ping packet has unknown battery level '%1%'"},
    {1, 6, 6, L"Ping packet has unknown battery state '%1%'"},
    {4, 3, 3, L"Ping packet has unknown case state '%1%'"},
    {5, 13, 13, L"Ping packet has unknown playback state '%1%'"},
};
constexpr RangeCheck kLaterChecks[] = {
    {2, 5, 5, L"Ping packet has unknown line1 state '%1%'"},
    {3, 5, 5, L"Ping packet has unknown line2 state '%1%'"},
    {7, 2, 2, L"Ping packet has unknown acPowerSupply '%1%'"},
    {8, 15, 16, L"Ping packet has unknown zarno state '%1%'"},
    {9, 15, 16, L"Ping packet has unknown ain state '%1%'"},
    {10, 7, 8, L"Ping packet has unknown eth state '%1%'"},
    {11, 7, 8, L"Ping packet has unknown zone state '%1%'"},
    {12, 0xFFFFFE, 0xFFFFFF, L"Ping packet has an unknown address of the active zone '%1%'"},
    {13, 0xFFFF, 0, L"Ping packet has an unknown active alarm order '%1%'"},
    {14, 13, 13, L"Ping packet has unknown playback source state '%1%'"},
};

constexpr base::LogPlace kParsePlace("device::OrvelInfo::parsePing");

/// Stores a number of the packet that differs from the record and logs the
/// change (by the names of its values when it has them). True when stored.
bool take(std::uint32_t id, std::uint32_t value, std::uint32_t& field, const wchar_t* format,
          const wchar_t* (*name)(std::uint32_t) = nullptr) {
    if (value == field) return false;
    if (name != nullptr)
        kParsePlace.info(format, id, name(value), name(field));
    else
        kParsePlace.info(format, id, value, field);
    field = value;
    return true;
}

template <std::size_t N>
void applyChecks(const RangeCheck (&checks)[N], std::array<std::uint32_t, 15>& f) {
    for (const RangeCheck& check : checks) {
        if (f[check.field] <= check.maximum) continue;
        kParsePlace.external(check.message, f[check.field]);
        f[check.field] = check.replacement;
    }
}

}  // namespace

OrvelInfo::OrvelInfo(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
                     const std::wstring& title, boost::shared_ptr<TransferProtocol> transport)
    : DeviceBase(id, hardwareAddress, endpoint, title, std::move(transport)), m_state(State::initial()) {
    for (const char* request : kCachedRequests) addCachedRequest(request);
}

boost::shared_ptr<OrvelInfo> OrvelInfo::create(std::uint32_t id, std::uint64_t typeCode,
                                               const net::HardwareAddress& hardwareAddress,
                                               const net::IpAndPort& endpoint, const std::wstring& title,
                                               boost::shared_ptr<TransferProtocol> transport,
                                               StateChangedHandler handler) {
    boost::shared_ptr<OrvelInfo> self(new OrvelInfo(id, hardwareAddress, endpoint, title, std::move(transport)));
    setUp(self, typeCode, std::move(handler));
    return self;
}

void OrvelInfo::setUp(const boost::shared_ptr<OrvelInfo>& self, std::uint64_t typeCode, StateChangedHandler handler) {
    self->setThisWeakPtr(self);
    self->setStateChangedHandler(std::move(handler));
    // The given code stays: the device list saves a silent loudspeaker under
    // the model of its type code, so a guessed model would overwrite it.
    self->m_versionIndex = initialVersionIndex(typeCode);
    self->presetTypeCode(typeCode);
    if (initialVersionIndex(typeCode) == 0)
        LOG_DEBUG(L"Loaded default device type='%1%'", toText(typeCode));
}

boost::shared_ptr<OrvelInfo> OrvelInfo::getThisPtr() const {
    return boost::dynamic_pointer_cast<OrvelInfo>(getThisBasePtr());
}

OrvelInfo::State OrvelInfo::getState() const {
    State state;
    {
        DeviceLock lock(m_lock);
        state = m_state;
    }
    state.sounding = (m_volume.load() != 0 || playback::has(getPlaybackType(), playback::kMetaInternal)) &&
                     audibleAt(state.soundPressure);
    return state;
}

void OrvelInfo::requireMinimumVersion(int minimum) const {
    const int index = getVersionIndex();
    if (index == 0) LOG_WARN(L"Неизвестная версия орвела. (%1%)", getVersionTextNarrow());
    if (index < minimum) throw exception::UnsupportedByDevice(get(minimum));
}

// ---- state packet ---------------------------------------------------------------------------

bool OrvelInfo::parsePing(const std::string& packet, const net::IpAndPort& source) {
    // Packets of one loudspeaker may arrive on two dispatcher workers at once;
    // the copy-compute-write below must not interleave.
    boost::lock_guard<boost::mutex> serial(m_parseLock);
    return parsePingLocked(packet, source);
}

bool OrvelInfo::parsePingLocked(const std::string& packet, const net::IpAndPort& source) {
    OrvelPacket read;
    if (!readOrvelPacket(packet, read)) return false;
    const net::HardwareAddress address(read.hardwareText);
    if (!address.isValid()) {
        logUnknownHardwareAddress(read.hardwareText);
        return false;
    }
    if (address != m_hardwareAddress) {
        LOG_ERROR(L"The ping packet is not suite the device '%1%', '%2%' != '%3%'", m_id, read.hardwareText,
                  std::string(m_hardwareAddress.toCharArray()));
        return false;
    }
    if (skipsPacketAfterReboot(kRebootSkipWindow)) return true;

    State state;
    {
        DeviceLock lock(m_lock);
        state = m_state;
    }
    const std::uint32_t storedBatteryLevel = state.batteryLevel;
    bool changed = false;
    if (!hasVersionText(read.versionText)) {
        // Parsed before anything is logged: a packet whose version can't be
        // read is refused without a trace above DEBUG.
        Version version;
        if (!parseStatePacketVersion(packet, version)) return false;
        logVersionChanged(read.versionText, getVersionTextNarrow());
        setVersion(version, read.versionText);
        m_versionIndex = versionIndexOf(version);
        changed = true;
    }
    const int index = getVersionIndex();
    takeFields(read, state, changed);

    // A move counts as a return only from an address it had: not from the
    // empty one of a new object, nor from one the duplicate check took.
    const bool addressKnown = getIp().isValid();
    const bool moved = followPacketSource(source);
    if (moved) changed = true;

    takePlayback(read, state, index, changed);
    takeIdleState(state, index, changed);

    const bool wasOnline = m_online.load();
    const std::int64_t at = now();
    const ReturnCause returned = watchPacket(at, wasOnline, moved && addressKnown, state.playbackKind);
    if (!wasOnline) {
        logConnected();
        m_answered = false;
    }
    if (returned != ReturnCause::kNone) takeReturn(returned);
    // A battery level within one percent of the notified one is kept
    // without a notification.
    if (changed || !wasOnline || state.batteryLevel != storedBatteryLevel) {
        computeFlags(state, index, getTypeCode(), getPlaybackType());
        DeviceLock lock(m_lock);
        m_state = state;
    }
    if (changed || !wasOnline) notifyIfStateChanged();
    // Every packet counts as contact, changed or not: a loudspeaker in a
    // steady state must not drop offline.
    m_lastPacketTime = at;
    m_lastContactTime = at;
    m_firstPacket = true;
    m_online = true;
    // Counted once it is online again, so that whoever drives it again finds it there.
    if (returned != ReturnCause::kNone) ++m_returns;
    if (!wasOnline) {
        const boost::shared_ptr<OrvelInfo> self = getThisPtr();
        if (self) base::ThreadDispatcher::add(L"check responding", 200, [self] { self->checkRespondingLater(); });
    }
    return true;
}

ReturnCause OrvelInfo::watchPacket(std::int64_t at, bool wasOnline, bool moved, std::uint32_t kind) {
    ReturnWatch::Packet packet;
    packet.at = at;
    packet.offline = !wasOnline;
    packet.moved = moved;
    packet.kind = kind;
    boost::lock_guard<boost::mutex> lock(m_returnLock);
    return m_returnWatch.packet(packet);
}

void OrvelInfo::takeReturn(ReturnCause cause) {
    // The watch forgot the channel held already.
    m_channel = CHANNEL_UNKNOWN;
    forgetVolume();
    LOG_INFO(L"Громкоговоритель '%1%' вернулся: %2%", getTitle(), returnCauseText(cause));
}

void OrvelInfo::setPacketGap(std::int64_t microseconds) {
    boost::lock_guard<boost::mutex> lock(m_returnLock);
    m_returnWatch.setPacketGap(microseconds);
}

void OrvelInfo::takeFields(OrvelPacket& packet, State& state, bool& changed) {
    std::array<std::uint32_t, 15>& f = packet.fields;
    const int index = getVersionIndex();
    if (index >= 10) {
        // Lines 1 and 2 carry the line-control end devices from here on; the
        // line states become "all added are active" (1) or not (2).
        const std::uint32_t added = f[2];
        const std::uint32_t active = f[3];
        f[2] = f[3] = (added & active) == added ? 1 : 2;
        if (added != state.tipsAdded || active != state.tipsActive) {
            LOG_INFO(L"changed tips of device id=%1%, added(%2%->%3%), active(%4%->%5%)", m_id, state.tipsAdded,
                     added, state.tipsActive, active);
            state.tipsAdded = added;
            state.tipsActive = active;
            changed = true;
            if (const boost::shared_ptr<tip_device::LineControl> lineControl = existingLineControl())
                lineControl->setTipDeviceMasks(added, active);
        }
    }
    applyChecks(kFirstChecks, f);
    if (index <= 8 && (f[1] == 4 || f[1] == 5) && f[0] != 0) {
        LOG_INFO(L"fix battery level to 0");
        f[0] = 0;
    }
    applyChecks(kLaterChecks, f);

    if (f[0] != state.batteryLevel) {
        LOG_INFO(L"changed battery level of device id=%1%, new=%2%, old=%3%", m_id, f[0], state.batteryLevel);
        state.batteryLevel = f[0];
        // Unsigned on purpose: from a notified level of 0 every change counts.
        if (f[0] < state.notifiedBatteryLevel - 1 || f[0] > state.notifiedBatteryLevel + 1) {
            state.notifiedBatteryLevel = f[0];
            changed = true;
        }
    }
    if (take(m_id, f[1], state.batteryState, L"changed battery state of device id=%1%, new=%2%, old=%3%",
             batteryStateName))
        changed = true;
    if (take(m_id, f[2], state.line1, L"changed line1 of device id=%1%, new=%2%, old=%3%", lineStateName))
        changed = true;
    if (take(m_id, f[3], state.line2, L"changed line2 of device id=%1%, new=%2%, old=%3%", lineStateName))
        changed = true;
    if (take(m_id, f[4], state.caseState, L"changed case of device id=%1%, new=%2%, old=%3%", caseStateName))
        changed = true;
}

void OrvelInfo::takePlayback(const OrvelPacket& packet, State& state, int index, bool& changed) {
    const std::array<std::uint32_t, 15>& f = packet.fields;
    if ((f[5] != state.playbackState || f[14] != state.playbackSource) && index >= 2) {
        const int current = getVersionIndex();
        const std::uint32_t kind = playbackKindOf(current, f[5]);
        if (m_revertToDiscovery.load() && getPlaybackType() == playback::kNone && (kind == 1 || kind == 4)) {
            // Once per object: a loudspeaker that the server last left on a
            // notice channel is brought back to the common broadcast.
            m_revertToDiscovery = false;
            LOG_INFO(L"Revert a channel to CHANNEL_DISCOVERY.");
            const boost::shared_ptr<OrvelInfo> self = getThisPtr();
            if (self)
                base::ThreadDispatcher::add(L"Switch channel to CHANNEL_DISCOVERY.", 0, [self] {
                    try {
                        self->switchChannel(CHANNEL_DISCOVERY);
                    } catch (const exception::Base& e) {
                        LOG_WARN(L"The channel of the device id=%1% isn't reverted: %2%", self->getId(),
                                 std::string(e.what()));
                    }
                });
        }
        const std::uint64_t code = playbackCodeOf(kind, getPlaybackType(), current, f[14], f[12]);
        m_playbackType = code;
        LOG_INFO(L"changed playback source of device id=%1%, %2% -> %3% [type=%4%]", m_id,
                 playbackKindName(state.playbackKind), playbackKindName(kind), findPlaybackTypeText(code));
        state.playbackState = f[5];
        state.playbackSource = f[14];
        state.playbackKind = kind;
        changed = true;
        m_channel = CHANNEL_UNKNOWN;
    }
    if (index >= 13 && f[6] != state.soundPressure) {
        LOG_INFO(L"changed sound pressure of device id=%1%, new=%2%, old=%3%", m_id, soundPressureName(f[6]),
                 soundPressureName(state.soundPressure));
        state.soundPressure = f[6];
        state.sounding = audibleAt(f[6]);
        changed = true;
    }
    if (index <= 16) {
        // These generations report no Ethernet or zone interface: both read good.
        state.ethState |= 2;
        state.zoneState |= 3;
        return;
    }
    const std::uint32_t ainBefore = state.ainState;
    const std::uint32_t zoneBefore = state.activeZoneAddress;
    const bool taken[] = {
        take(m_id, f[7], state.acPowerSupply, L"changed AC power supply of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[8], state.zarnoState, L"changed ZARNO state of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[9], state.ainState, L"changed AIN state of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[10], state.ethState, L"changed eth state of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[11], state.zoneState, L"changed zone state of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[12], state.activeZoneAddress, L"changed zone active address of device id=%1%, new=%2%, old=%3%"),
        take(m_id, f[13], state.activeAlarmOrder, L"changed active alarm order of device id=%1%, new=%2%, old=%3%"),
    };
    for (bool one : taken)
        if (one) changed = true;
    if (state.ainState != ainBefore) {
        state.ainState1 = (~state.ainState & 1) | 2;
        state.ainState2 = (state.ainState >> 2) & 3;
    }
    if (state.activeZoneAddress != zoneBefore && state.playbackKind == kind::kVoiceAlert && state.activeZoneAddress != 0)
        m_playbackType = playback::kScenarioTovik;
}

void OrvelInfo::takeIdleState(const State& state, int index, bool changed) {
    if (state.playbackState != 0 || index < 2) return;
    const std::uint64_t code = getPlaybackType();
    if (playback::isMemoryPlayback(code)) {
        LOG_EXTERN(L"Mismatch playback statuses: device id=%1%, device status=%2%, deduced status=%3%", m_id,
                   playbackKindName(state.playbackState), findPlaybackTypeText(code));
        // Set before the check is queued: the check may run at once on
        // another thread, and what it finds must not be overwritten here.
        m_playbackType = playback::kScenarioMisstate;
        queueMismatchCheck();
    } else if (code == playback::kScenarioMisstate) {
        m_playbackType = playback::kNone;
    }
    if (!changed) return;
    if (state.ainState1 == 2 || state.ainState2 == 2)
        m_playbackType = playback::kAinScenarioBroken;
    else if (getPlaybackType() == playback::kAinScenarioBroken)
        m_playbackType = playback::kNone;
}

void OrvelInfo::queueMismatchCheck() {
    const boost::shared_ptr<OrvelInfo> self = getThisPtr();
    if (!self) return;
    base::ThreadDispatcher::add(L"check mismatching playback statuses", 0, [self] {
        try {
            const boost::shared_ptr<memory::IAudioControl> memory = self->getAudioControl(false, false);
            if (!memory) return;
            if (memory->isPlaying()) {
                LOG_EXTERN(L"Mismatch ping and playing status of Orvel.");
                return;
            }
            LOG_EXTERN(L"Playing an audio message of a orvel was stopped. Possible reasons are 1) a command "
                               L"from the ZARNO 2) rebooting of the orvel 3) mismatch playback statuses.");
            self->setPlaybackTypeForce(playback::kNone);
        } catch (const exception::Base& e) {
            LOG_WARN(L"The playback of the device id=%1% isn't checked: %2%", self->getId(), std::string(e.what()));
        }
    });
}

// ---- cache, firmware, audio memory ------------------------------------------------------------------

void OrvelInfo::resetCache() {
    LOG_TRACE(L"Reset requested cache for device id=%1%", m_id);
    DeviceBase::resetCache();
    forgetConfig();
    boost::shared_ptr<tip_device::LineControl> lineControl;
    {
        DeviceLock lock(m_lock);
        m_state = State::initial();
        m_playbackType = playback::kNone;
        m_equalizer.reset();
        lineControl = m_lineControl;
    }
    if (lineControl) lineControl->resetCache();
}

bool OrvelInfo::isFirmwareSuitable(boost::shared_ptr<IFirmware> image) {
    if (!image) return false;
    const std::uint64_t imageType = image->getVersion().typeCode;
    const std::uint64_t ownType = getTypeCode();
    if (imageType == ownType) return true;
    if (imageType == kTypeOrvel610Pss) {
        // The power module is flashed from the mains or a charged battery only.
        if (!getState().batteryOk) throw exception::UserResponse(L"wrongPower", L"Check 220V and batteries!");
        return ownType == kTypeOrvel610 || ownType == kTypeOrvel611;
    }
    if (imageType == kTypeOrvel610Lc) return ownType == kTypeOrvel610;
    return false;
}

void OrvelInfo::continueUpgrade() {
    boost::shared_ptr<FirmwareCollection> firmware;
    FirmwareProgress progress;
    {
        DeviceLock lock(m_lock);
        firmware = m_firmware;
        progress = m_firmwareProgress;
    }
    if (!firmware) return;
    const FirmwareCollection::Image next = firmware->first();
    if (next && next->isValid()) upgradeFirmware(firmware, progress, true);
}

boost::shared_ptr<memory::IAudioControl> OrvelInfo::createAudioControl(bool allowOverwrite) {
    const boost::shared_ptr<OrvelInfo> self = getThisPtr();
    if (!self) throw exception::Offline();
    // The memory outlives no loudspeaker: it reports through a weak pointer.
    const boost::weak_ptr<OrvelInfo> weak = self;
    const auto playing = [weak](memory::Playing state) {
        if (const boost::shared_ptr<OrvelInfo> device = weak.lock()) device->setPlaybackTypeCallback(state);
    };
    const int index = getVersionIndex();
    if (index < 9)
        return watchScenarios(boost::make_shared<o510::memory::AudioMemory>(m_transport, self, playing, allowOverwrite));
    if (index <= 16)
        return watchScenarios(boost::make_shared<o610::memory::AudioMemory>(m_transport, self, playing, allowOverwrite));
    return watchScenarios(boost::make_shared<o611::memory::AudioMemory>(m_transport, self, playing, allowOverwrite));
}

void OrvelInfo::skipParameter(const std::string& key) const {
    DeviceLock lock(m_lock);
    LOG_DEBUG(L"Skip a param '%1%'. Orvel '%2%' (%3%) isn't support the param", key, getTitle(),
              std::string(m_hardwareAddress.toCharArray()));
}

}  // namespace device
