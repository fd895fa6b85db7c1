// The loudspeaker's volume, channel, lines and playback-type code: what the
// player channel, the alarm channel and the GUI drive while broadcasting.
#include <cstdio>

#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/command.h"
#include "device/memory/audio_control.h"
#include "device/memory/memory_wire.h"
#include "device/models/orvel_info.h"
#include "device/models/version_tables.h"
#include "device/transfer_protocol.h"

namespace device {

namespace {

constexpr int kLinePriority = 2;
constexpr unsigned kLineResendMs = 1400;
/// The Orvel-510 generations: their own volume scale (FE:FE levels) and
/// their audio memory that blocks volume and channel changes.
constexpr int kLastOrvel510Index = 8;

// What the operator is told of the asynchronous forms' refusals and failures.
const wchar_t kRepeaterKept[] = L"оставлен на канале ретрансляции";
const wchar_t kSwitchDeferred[] = L"устройство отложило переключение канала";
const wchar_t kUnknownChannel[] = L"внутренняя ошибка: неизвестный канал";
const wchar_t kUnsupported[] = L"не поддерживается версией устройства";

// The complaints about a "get vol" reply (warnings, or DEBUG lines when quiet).
const wchar_t kBad510Volume[] = L"Ошибка в формате громкости прибора Орвел-510. (hw='%1%', response='%2%')";
const wchar_t kBad610Volume[] = L"Ошибка в формате громкости прибора Орвел-610. (hw='%1%', response='%2%')";
const wchar_t kVolumeOutOfRange[] = L"Значение громкости прибора Орвел-610 вне диапазона. (%1%)";
const wchar_t kMemoryMismatch[] =
    L"Внутренний тип воспроизведения прибора не совпадает со статусом воспроизведения памяти. (%1%)";

RequestOutcome outcome(RequestOutcome::Kind kind, const std::wstring& cause) {
    RequestOutcome result;
    result.kind = kind;
    result.cause = cause;
    return result;
}

// A volume in one word: bit 63 known, bit 62 the level pair, bits 32..39
// the percent shown, bits 0..31 the level (the pair's left << 8 | right, or
// the dB's 32 bits).
constexpr std::uint64_t kKnownVolume = 1ull << 63;
constexpr std::uint64_t kPairVolume = 1ull << 62;

std::uint64_t packVolume(std::uint32_t percent, const VolumeLevel& level) {
    const std::uint32_t value = level.isLevelPair()
                                    ? static_cast<std::uint32_t>(level.left()) << 8 | level.right()
                                    : static_cast<std::uint32_t>(level.decibels());
    return kKnownVolume | (level.isLevelPair() ? kPairVolume : 0) | static_cast<std::uint64_t>(percent & 0xFF) << 32 |
           value;
}

std::optional<VolumeLevel> levelOfWord(std::uint64_t word) {
    if ((word & kKnownVolume) == 0) return std::nullopt;
    const auto value = static_cast<std::uint32_t>(word);
    if ((word & kPairVolume) != 0)
        return VolumeLevel::levelPair(static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value));
    return VolumeLevel::decibels(static_cast<std::int32_t>(value));
}

std::uint32_t percentOfWord(std::uint64_t word) { return static_cast<std::uint32_t>(word >> 32) & 0xFF; }

}  // namespace

bool OrvelInfo::setVolume(std::uint32_t percent) {
    if (!isOnline()) throw exception::Offline();
    if (percent > 100) {
        LOG_WARN(L"Некорректная громкость '%1%'", percent);
        return false;
    }
    return writeVolume(*VolumeLevel::ofPercent(getVersionIndex(), percent), percent, std::to_string(percent),
                       [this, percent] { return static_cast<std::int32_t>(percent) == m_volume.load(); });
}

bool OrvelInfo::setVolumeLevel(const VolumeLevel& level, std::uint32_t percent) {
    if (!isOnline()) throw exception::Offline();
    if (!level.fits(getVersionIndex())) {
        LOG_WARN(L"Некорректная громкость '%1%'", level.text());
        return false;
    }
    return writeVolume(level, percent, level.text(), [this, &level] { return getCachedVolumeLevel() == level; });
}

bool OrvelInfo::writeVolume(const VolumeLevel& level, std::uint32_t percent, const std::string& shown,
                            const std::function<bool()>& kept) {
    const std::string hardware = m_hardwareAddress.toCharArray();
    if (getVersionIndex() <= kLastOrvel510Index && hasInternalPlaying()) {
        LOG_NOTICE(L"Орвел занят внутренним воспроизведением или сигналом ГОиЧС");
        LOG_INFO(L"Пропуск изменения громкости (id=%1%).", hardware);
        return false;
    }
    if (kept()) {
        LOG_DEBUG(L"Skip changing volume to %1% (there are no differences)", shown);
        return true;
    }
    try {
        transfer(level.command());
        takeSetVolume(percent, level);
        return true;
    } catch (const exception::Offline&) {
        // The request, or only its reply, was lost: the loudspeaker may have
        // taken it, and a later request for the volume kept must not be skipped.
        forgetVolume();
    } catch (const exception::UnexpectedResponseOfDevice&) {
    }
    LOG_WARN(L"Не удалось назначить уровень громкости '%1%' устройству '%2%'", shown, hardware);
    return false;
}

void OrvelInfo::takeSetVolume(std::uint32_t percent, const VolumeLevel& level) {
    keepVolume(percent, level);
    LOG_INFO(L"Назначен уровень громкости %1%%% устройству '%2%'", percent,
             std::string(m_hardwareAddress.toCharArray()));
    notifyIfStateChanged();
}

void OrvelInfo::keepVolume(std::uint32_t percent, const VolumeLevel& level) {
    m_volumeLevel = packVolume(percent, level);
    m_volume = static_cast<std::int32_t>(percent);
}

void OrvelInfo::forgetVolume() {
    m_volumeLevel = 0;
    m_volume = kUnknownVolume;
}

void OrvelInfo::keepVolumeBeforeMute(std::uint32_t percent, const VolumeLevel& level) {
    m_levelBeforeMute = packVolume(percent, level);
    setVolumeBeforeMute(static_cast<std::int32_t>(percent));
}

std::optional<VolumeLevel> OrvelInfo::getCachedVolumeLevel() const { return levelOfWord(m_volumeLevel.load()); }

std::optional<VolumeLevel> OrvelInfo::getVolumeLevelBeforeMute() const {
    return levelOfWord(m_levelBeforeMute.load());
}

bool OrvelInfo::muteVolume() {
    const std::uint64_t kept = m_volumeLevel.load();
    if (const std::optional<VolumeLevel> level = levelOfWord(kept))
        keepVolumeBeforeMute(percentOfWord(kept), *level);
    else
        keepVolumeBeforeMute(100, *VolumeLevel::ofPercent(getVersionIndex(), 100));
    return setVolume(0);
}

bool OrvelInfo::restoreVolume() {
    const std::uint64_t kept = m_levelBeforeMute.load();
    const std::optional<VolumeLevel> level = levelOfWord(kept);
    if (!level || !level->fits(getVersionIndex())) return DeviceBase::restoreVolume();
    return setVolumeLevel(*level, percentOfWord(kept));
}

void OrvelInfo::handleVolume(const std::string& reply) {
    LOG_TRACE(L"handle volume for device %1%", std::string(m_hardwareAddress.toCharArray()));
    m_lastContactTime = now();
    if (const std::optional<VolumeLevel> level = levelOfReply(reply, false)) keepVolume(level->percent(), *level);
}

std::optional<VolumeLevel> OrvelInfo::levelOfReply(const std::string& reply, bool quiet) const {
    const int index = getVersionIndex();
    const std::optional<VolumeLevel> level = VolumeLevel::parse(index, reply);
    if (!level) {
        const std::string hardware = m_hardwareAddress.toCharArray();
        const wchar_t* const complaint = VolumeLevel::usesLevelPair(index) ? kBad510Volume : kBad610Volume;
        if (quiet)
            LOG_DEBUG(complaint, hardware, reply);
        else
            LOG_WARN(complaint, hardware, reply);
        return level;
    }
    if (!level->isLevelPair() && level->decibels() > 0) {
        // Shown as the loudest; kept as it is, to be written back so.
        if (quiet)
            LOG_DEBUG(kVolumeOutOfRange, level->decibels());
        else
            LOG_NOTICE(kVolumeOutOfRange, level->decibels());
    }
    return level;
}

bool OrvelInfo::showsInternalPlaying() const {
    return isOnline() && m_answered.load() && playback::has(getPlaybackType(), playback::kMetaInternal);
}

bool OrvelInfo::hasInternalPlaying() {
    if (!isOnline() || !m_answered.load()) return false;
    if (showsInternalPlaying()) return true;
    if (getVersionIndex() > kLastOrvel510Index) return false;
    // The Orvel-510 doesn't report its memory playback in the state packet.
    const boost::shared_ptr<memory::IAudioControl> memory = getAudioControl(false, false);
    if (!memory || !memory->isPlaying()) return false;
    takeMemoryPlaying(false);
    return true;
}

void OrvelInfo::takeMemoryPlaying(bool quiet) {
    const std::uint64_t code = getPlaybackType();
    if (playback::isMemoryPlayback(code)) return;
    if (quiet)
        LOG_DEBUG(kMemoryMismatch, findPlaybackTypeText(code));
    else
        LOG_ERROR(kMemoryMismatch, findPlaybackTypeText(code));
    setPlaybackTypeForce(playback::kScenarioServer);
}

// ---- channel and lines ------------------------------------------------------------------------

bool OrvelInfo::switchChannel(AudioChannel channel) {
    if (getVersionIndex() <= kLastOrvel510Index && hasInternalPlaying()) {
        LOG_INFO(L"Orvel is busy internal playing or GOChS. skip switching channel (id=%1%)",
                 std::string(m_hardwareAddress.toCharArray()));
        return false;
    }
    const AudioChannel cached = m_channel.load();
    if (channel == CHANNEL_DISCOVERY && cached == CHANNEL_REPEATER) {
        LOG_INFO(L"Forbid to reset the repeater channel = %1%", cached);
        return false;
    }
    if (channel == cached) {
        LOG_DEBUG(L"Skip changing channel. same channel = %1%", channel);
        return true;
    }
    if (channel > 1) requireMinimumVersion(2);
    if (channel == CHANNEL_UNKNOWN) {
        LOG_WARN(L"Внутренняя ошибка. Попытка переключить на неизвестный канал!");
        return false;
    }
    // Ends the switch for the return watch on every way out, after the
    // channel held has been set.
    struct InFlight {
        OrvelInfo& self;
        explicit InFlight(OrvelInfo& device) : self(device) { self.switchStarted(); }
        ~InFlight() { self.switchEnded(); }
    } inFlight(*this);
    std::string reply;
    try {
        reply = transfer(channelCommand(channel));
    } catch (const exception::Offline&) {
        // The request, or only its reply, was lost: the loudspeaker may have
        // switched, and a later switch to the channel kept must not be skipped.
        holdChannel(CHANNEL_UNKNOWN);
        throw;
    }
    if (isDeferredReply(reply)) {
        // The loudspeaker switches later on its own; the next getChannel asks.
        LOG_DEBUG(L"Changing of channel is deferred for device=%1%, message is '%2%'",
                  std::string(m_hardwareAddress.toCharArray()), reply);
        holdChannel(CHANNEL_UNKNOWN);
        return false;
    }
    takeSwitchedChannel(channel);
    return true;
}

void OrvelInfo::holdChannel(AudioChannel channel) {
    m_channel = channel;
    boost::lock_guard<boost::mutex> lock(m_returnLock);
    m_returnWatch.channelHeld(channel);
}

void OrvelInfo::switchStarted() {
    ++m_switchesAsked;
    const std::int64_t at = now();
    boost::lock_guard<boost::mutex> lock(m_returnLock);
    m_returnWatch.switchStarted(at);
}

void OrvelInfo::switchEnded() {
    boost::lock_guard<boost::mutex> lock(m_returnLock);
    m_returnWatch.switchEnded();
}

std::string OrvelInfo::channelCommand(AudioChannel channel) {
    return formatCommand("set ch %u", static_cast<unsigned>(channel));
}

bool OrvelInfo::isDeferredReply(const std::string& reply) { return reply.find("is deferred") != std::string::npos; }

void OrvelInfo::takeSwitchedChannel(AudioChannel channel) {
    holdChannel(channel);
    switch (channel) {
        case CHANNEL_DISCOVERY: setPlaybackType(playback::kNone); break;
        case 1:
        case 2: setPlaybackType(playback::kVoiceHighPriority); break;
        case CHANNEL_REPEATER: setPlaybackType(playback::kVoiceHighRepeating); break;
        case 4:
        case 6: setPlaybackType(playback::kVoiceLowPriority); break;
        default: break;
    }
    LOG_INFO(L"Switch channel to %1% for device %2%", channel, std::string(m_hardwareAddress.toCharArray()));
}

AudioChannel OrvelInfo::getChannel() {
    if (getVersionIndex() > kLastOrvel510Index) {
        std::uint32_t kindNow = 0;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            kindNow = m_state.playbackKind;
        }
        if (kindNow == kind::kRepeating || (kindNow >= kind::kDelayedVoiceAlert && kindNow <= kind::kAnalogInput2)) {
            // A source of its own plays: the loudspeaker listens to no stream.
            m_channel = CHANNEL_UNKNOWN;
            return CHANNEL_DISCOVERY;
        }
    }
    const AudioChannel cached = m_channel.load();
    if (cached != CHANNEL_UNKNOWN) return cached;
    const std::string reply = transfer("get ch");
    unsigned channel = 0;
    if (std::sscanf(reply.c_str(), "%u", &channel) != 1) {
        LOG_WARN(L"Значение канала некорректно.");
        return CHANNEL_UNKNOWN;
    }
    if (channel > static_cast<unsigned>(kMaxChannel)) {
        LOG_ERROR(L"Получен неизвестный канал воспроизведения. (ch='%1%', response='%2%')", channel, reply);
        return CHANNEL_UNKNOWN;
    }
    holdChannel(static_cast<AudioChannel>(channel));
    return static_cast<AudioChannel>(channel);
}

std::pair<bool, bool> OrvelInfo::setLine() {
    // Straight to the transport: the test takes longer than a usual request
    // and its answer must never come from the cache.
    const boost::shared_ptr<const net::IpAndPort> endpoint = getIpPtr();
    std::string reply;
    if (!endpoint->isValid() || !sendAndWait(*endpoint, "set line", reply, kLinePriority, kLineResendMs))
        throw exception::Offline();
    if (handleResponse(reply)) return {true, true};
    return {reply.find('1') == std::string::npos, reply.find('2') == std::string::npos};
}

bool OrvelInfo::getLineDouble() {
    const int index = getVersionIndex();
    if (index > kLastOrvel510Index) return true;
    if (index < 2) return false;
    return findOff(transfer("get linedouble")) >= 0;
}

// ---- without waiting ---------------------------------------------------------------------------
//
// exchangeAsync calls back only while the device lives (the first call holds
// it, a late one of a device that is gone is dropped): the callbacks below
// may use `this`.

void OrvelInfo::switchChannelAsync(AudioChannel channel, RequestDone done) {
    if (channel == CHANNEL_DISCOVERY && m_channel.load() == CHANNEL_REPEATER) {
        LOG_DEBUG(L"The repeater channel of device id=%1% is kept", m_id);
        done(outcome(RequestOutcome::kRefused, kRepeaterKept));
        return;
    }
    if (channel == CHANNEL_UNKNOWN) {
        LOG_DEBUG(L"No switch of device id=%1% to the unknown channel", m_id);
        done(outcome(RequestOutcome::kFailed, kUnknownChannel));
        return;
    }
    if (channel > 1 && getVersionIndex() < 2) {
        LOG_DEBUG(L"Device id=%1% has no channel %2% below %3%", m_id, channel, get(2));
        done(outcome(RequestOutcome::kFailed, kUnsupported));
        return;
    }
    // Counted and queued together: a revert to channel 0 goes out before it or not at all.
    boost::lock_guard<boost::recursive_mutex> order(m_switchOrder);
    switchStarted();
    exchangeAsync(channelCommand(channel), [this, channel, done](bool answered, const std::string& reply, bool late) {
        const RequestOutcome result = takeSwitchReply(channel, answered, reply, late);
        if (!late) switchEnded();
        done(result);
    });
}

void OrvelInfo::revertToDiscovery() {
    boost::lock_guard<boost::recursive_mutex> order(m_switchOrder);
    if (m_switchesAsked.load() != 0) return;  // a switch of the program's came first: it stands
    LOG_INFO(L"Revert a channel to CHANNEL_DISCOVERY.");
    switchStarted();
    exchangeAsync(channelCommand(CHANNEL_DISCOVERY), [this](bool answered, const std::string& reply, bool late) {
        const RequestOutcome result = takeSwitchReply(CHANNEL_DISCOVERY, answered, reply, late);
        if (!late) switchEnded();
        if (result.kind != RequestOutcome::kDone)
            LOG_WARN(L"The channel of the device id=%1% isn't reverted: %2%", m_id, result.cause);
    });
}

RequestOutcome OrvelInfo::takeSwitchReply(AudioChannel channel, bool answered, const std::string& reply, bool late) {
    RequestOutcome result = outcomeOfReply(answered, reply, late);
    switch (result.kind) {
        case RequestOutcome::kSilent:
            // It may have switched: the next switch, whatever it asks for, is sent.
            holdChannel(CHANNEL_UNKNOWN);
            break;
        case RequestOutcome::kDone:
            if (isDeferredReply(reply)) {
                holdChannel(CHANNEL_UNKNOWN);
                result = outcome(RequestOutcome::kRefused, kSwitchDeferred);
                result.late = late;
            } else {
                takeSwitchedChannel(channel);
            }
            break;
        default: break;
    }
    if (result.kind != RequestOutcome::kDone)
        LOG_DEBUG(L"Device id=%1% not switched to channel %2%%3%: %4%", m_id, channel, late ? L" (late reply)" : L"",
                  result.cause);
    return result;
}

void OrvelInfo::setVolumeLevelAsync(const VolumeLevel& level, bool enabled, RequestDone done) {
    const int index = getVersionIndex();
    if (!level.fits(index)) {
        LOG_DEBUG(L"No volume level %1% for device id=%2% of index %3%", level.text(), m_id, index);
        done(outcome(RequestOutcome::kFailed, L"уровень громкости другой модели устройства: " + base::toWide(level.text())));
        return;
    }
    const VolumeLevel sent = enabled ? level : VolumeLevel::muted(index);
    exchangeAsync(sent.command(), [this, sent, enabled, level, done](bool answered, const std::string& reply,
                                                                      bool late) {
        const RequestOutcome result = outcomeOfReply(answered, reply, late);
        if (result.kind == RequestOutcome::kSilent) {
            forgetVolume();  // it may have been taken
        } else if (result.kind == RequestOutcome::kDone) {
            m_volumeEnabled = enabled ? 1 : 0;
            if (!enabled) keepVolumeBeforeMute(level.percent(), level);
            takeSetVolume(sent.percent(), sent);
        }
        if (result.kind != RequestOutcome::kDone)
            LOG_DEBUG(L"Volume %1% (%2%%%) not set to device id=%3%%4%: %5%", sent.text(), sent.percent(), m_id,
                      late ? L" (late reply)" : L"", result.cause);
        done(result);
    });
}

void OrvelInfo::readVolumeLevelAsync(std::function<void(const RequestOutcome&, std::optional<VolumeLevel>)> done) {
    exchangeAsync(kGetVolume, [this, done](bool answered, const std::string& reply, bool late) {
        RequestOutcome result = outcomeOfReply(answered, reply, late);
        std::optional<VolumeLevel> level;
        if (result.kind == RequestOutcome::kDone) {
            // The reply decides alone, as in getVolume.
            level = levelOfReply(reply, true);
            if (level) {
                keepVolume(level->percent(), *level);
            } else {
                forgetVolume();
                result = outcome(RequestOutcome::kFailed, unexpectedReplyCause(reply));
                result.late = late;
            }
        }
        if (result.kind != RequestOutcome::kDone)
            LOG_DEBUG(L"Volume of device id=%1% not read: %2%", m_id, result.cause);
        done(result, level);
    });
}

void OrvelInfo::internalPlayingAsync(std::function<void(const RequestOutcome&, bool)> done) {
    if (!isOnline() || !m_answered.load()) {
        done(RequestOutcome(), false);
        return;
    }
    if (showsInternalPlaying()) {
        done(RequestOutcome(), true);
        return;
    }
    if (getVersionIndex() > kLastOrvel510Index) {
        done(RequestOutcome(), false);
        return;
    }
    // The Orvel-510 doesn't report its memory playback in the state packet.
    exchangeAsync(memory::kMemoryStateRequest, [this, done](bool answered, const std::string& reply, bool late) {
        RequestOutcome result = outcomeOfReply(answered, reply, late);
        bool playing = false;
        memory::MemoryState state;
        if (result.kind == RequestOutcome::kFailed && isErrorReply(reply)) {
            // No audio memory: nothing plays from it.
            result = RequestOutcome();
            result.late = late;
        } else if (result.kind == RequestOutcome::kDone) {
            if (!memory::readMemoryState(reply, state)) {
                result = outcome(RequestOutcome::kFailed, unexpectedReplyCause(reply));
                result.late = late;
            } else if (state.kind != memory::MemoryState::Idle) {
                playing = true;
                takeMemoryPlaying(true);
            }
        }
        if (result.kind != RequestOutcome::kDone)
            LOG_DEBUG(L"Memory playback of device id=%1% not known: %2%", m_id, result.cause);
        done(result, playing);
    });
}

// ---- playback-type code ------------------------------------------------------------------------------

void OrvelInfo::setPlaybackType(std::uint64_t code) {
    const std::uint64_t current = getPlaybackType();
    if (!isOnlineAndAnswered()) {
        LOG_INFO(L"Устройство '%1%' не в сети. Тип воспроизведения не установлен. (id=%2%, old type=%3%)", getTitle(),
                 m_id, findPlaybackTypeText(current));
        setPlaybackTypeForce(playback::kNone);
        return;
    }
    if (code == current) {
        LOG_DEBUG(L"The playback has the same type '%1%' (id=%2%)", findPlaybackTypeText(code), m_id);
        return;
    }
    // A stronger playback stays: the loudspeaker's own, the operator's voice
    // over a low-priority notice, an alarm over a high-priority one.
    if (code == playback::kNone && playback::has(current, playback::kMetaInternal)) return;
    if (code == playback::kVoiceLowPriority && playback::isOperatorVoice(current)) return;
    if (code == playback::kVoiceHighPriority && playback::has(current, 0x0E00000000000900)) return;
    setPlaybackTypeForce(code);
}

void OrvelInfo::setPlaybackTypeForce(std::uint64_t code) {
    const std::uint64_t old = m_playbackType.exchange(code);
    LOG_INFO(L"changed playback type of device id=%1%, %2% -> %3%, title=%4%", m_id, findPlaybackTypeText(old),
             findPlaybackTypeText(code), getTitle());
    notifyIfStateChanged();
}

void OrvelInfo::setPlaybackTypeCallback(memory::Playing playing) {
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        LOG_INFO(L"set playback type %1% for device id=%2%, title=%3%", static_cast<int>(playing), m_id, getTitle());
    }
    switch (playing) {
        case memory::Playing::Stopped:
            if (!playback::has(getPlaybackType(), playback::kMetaStoppable)) {
                LOG_ERROR(L"Запрещено изменять тип воспроизведения");
                return;
            }
            setPlaybackTypeForce(playback::kNone);
            break;
        case memory::Playing::Scenario: setPlaybackTypeForce(playback::kScenario); break;
        case memory::Playing::Fragment: setPlaybackTypeForce(playback::kFragment); break;
        case memory::Playing::ScenarioServer: setPlaybackTypeForce(playback::kScenarioServer); break;
        case memory::Playing::NoChange: break;
        default: LOG_ERROR(L"unknown playback type=%1% of flash memory", static_cast<int>(playing)); break;
    }
    switchChannel(CHANNEL_DISCOVERY);
}

}  // namespace device
