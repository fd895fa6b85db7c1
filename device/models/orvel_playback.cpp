// The loudspeaker's volume, channel, lines and playback-type code: what the
// player channel, the alarm channel and the GUI drive while broadcasting.
#include <cstdio>

#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
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

}  // namespace

bool OrvelInfo::setVolume(std::uint32_t percent) {
    if (!isOnline()) throw exception::Offline();
    const std::string hardware = m_hardwareAddress.toCharArray();
    if (percent > 100) {
        LOG_WARN(L"Некорректная громкость '%1%'", percent);
        return false;
    }
    const int index = getVersionIndex();
    if (index <= kLastOrvel510Index && hasInternalPlaying()) {
        LOG_NOTICE(L"Орвел занят внутренним воспроизведением или сигналом ГОиЧС");
        LOG_INFO(L"Пропуск изменения громкости (id=%1%).", hardware);
        return false;
    }
    if (static_cast<std::int32_t>(percent) == m_volume.load()) {
        LOG_DEBUG(L"Skip changing volume to %1% (there are no differences)", percent);
        return true;
    }
    try {
        transfer(volumeCommand(percent));
        takeSetVolume(percent);
        return true;
    } catch (const exception::Offline&) {
        // The request, or only its reply, was lost: the loudspeaker may have
        // taken it, and a later request for the volume kept must not be skipped.
        m_volume = kUnknownVolume;
    } catch (const exception::UnexpectedResponseOfDevice&) {
    }
    LOG_WARN(L"Не удалось назначить уровень громкости '%1%' устройству '%2%'", percent, hardware);
    return false;
}

std::string OrvelInfo::volumeCommand(std::uint32_t percent) const {
    if (getVersionIndex() <= kLastOrvel510Index) {
        const int level = percent == 0 ? 0xFE : 60 - static_cast<int>(percent * 0.6);
        return formatCommand("set vol %02X:%02X", level, level);
    }
    const int level = percent == 0 ? -96 : -30 - static_cast<int>(percent * -0.3);
    return formatCommand("set vol %i", level);
}

void OrvelInfo::takeSetVolume(std::uint32_t percent) {
    m_volume = static_cast<std::int32_t>(percent);
    LOG_INFO(L"Назначен уровень громкости %1%%% устройству '%2%'", percent,
             std::string(m_hardwareAddress.toCharArray()));
    notifyIfStateChanged();
}

void OrvelInfo::handleVolume(const std::string& reply) {
    LOG_TRACE(L"handle volume for device %1%", std::string(m_hardwareAddress.toCharArray()));
    m_lastContactTime = now();
    const std::int32_t percent = volumeOfReply(reply, false);
    if (percent != kUnknownVolume) m_volume = percent;
}

std::int32_t OrvelInfo::volumeOfReply(const std::string& reply, bool quiet) const {
    const std::string hardware = m_hardwareAddress.toCharArray();
    if (getVersionIndex() <= kLastOrvel510Index) {
        unsigned left = 0;
        unsigned right = 0;
        if (std::sscanf(reply.c_str(), "%02X:%02X", &left, &right) != 2) {
            if (quiet)
                LOG_DEBUG(kBad510Volume, hardware, reply);
            else
                LOG_WARN(kBad510Volume, hardware, reply);
            return kUnknownVolume;
        }
        const bool muted = left == 0xFE;
        const unsigned level = left > 60 ? 60 : left;
        int percent = static_cast<int>((60 - static_cast<int>(level)) / 0.6);
        if (!muted && percent == 0) percent = 1;
        return percent;
    }
    int level = 0;
    if (std::sscanf(reply.c_str(), "%i", &level) != 1) {
        if (quiet)
            LOG_DEBUG(kBad610Volume, hardware, reply);
        else
            LOG_WARN(kBad610Volume, hardware, reply);
        return kUnknownVolume;
    }
    if (level > 0) {
        if (quiet)
            LOG_DEBUG(kVolumeOutOfRange, level);
        else
            LOG_NOTICE(kVolumeOutOfRange, level);
        level = 0;
    }
    const bool muted = level == -96;
    if (level < -30) level = -30;
    int percent = static_cast<int>((-30 - level) / -0.3);
    if (!muted && percent == 0) percent = 1;
    return percent;
}

bool OrvelInfo::hasInternalPlaying() {
    if (!isOnline() || !m_answered.load()) return false;
    const std::uint64_t code = getPlaybackType();
    if (playback::has(code, playback::kMetaInternal)) return true;
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
    std::string reply;
    try {
        reply = transfer(channelCommand(channel));
    } catch (const exception::Offline&) {
        // The request, or only its reply, was lost: the loudspeaker may have
        // switched, and a later switch to the channel kept must not be skipped.
        m_channel = CHANNEL_UNKNOWN;
        throw;
    }
    if (isDeferredReply(reply)) {
        // The loudspeaker switches later on its own; the next getChannel asks.
        LOG_DEBUG(L"Changing of channel is deferred for device=%1%, message is '%2%'",
                  std::string(m_hardwareAddress.toCharArray()), reply);
        m_channel = CHANNEL_UNKNOWN;
        return false;
    }
    takeSwitchedChannel(channel);
    return true;
}

std::string OrvelInfo::channelCommand(AudioChannel channel) {
    return formatCommand("set ch %u", static_cast<unsigned>(channel));
}

bool OrvelInfo::isDeferredReply(const std::string& reply) { return reply.find("is deferred") != std::string::npos; }

void OrvelInfo::takeSwitchedChannel(AudioChannel channel) {
    m_channel = channel;
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
    m_channel = static_cast<AudioChannel>(channel);
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
    exchangeAsync(channelCommand(channel), [this, channel, done](bool answered, const std::string& reply, bool late) {
        done(takeSwitchReply(channel, answered, reply, late));
    });
}

RequestOutcome OrvelInfo::takeSwitchReply(AudioChannel channel, bool answered, const std::string& reply, bool late) {
    RequestOutcome result = outcomeOfReply(answered, reply, late);
    switch (result.kind) {
        case RequestOutcome::kSilent:
            // It may have switched: the next switch, whatever it asks for, is sent.
            m_channel = CHANNEL_UNKNOWN;
            break;
        case RequestOutcome::kDone:
            if (isDeferredReply(reply)) {
                m_channel = CHANNEL_UNKNOWN;
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

void OrvelInfo::setVolumeAsync(std::uint32_t percent, bool enabled, RequestDone done) {
    if (percent > 100) {
        LOG_DEBUG(L"No volume of %1%%% for device id=%2%", percent, m_id);
        done(outcome(RequestOutcome::kFailed, L"некорректная громкость " + std::to_wstring(percent)));
        return;
    }
    const std::uint32_t level = enabled ? percent : 0;
    exchangeAsync(volumeCommand(level), [this, percent, enabled, level, done](bool answered, const std::string& reply,
                                                                             bool late) {
        const RequestOutcome result = outcomeOfReply(answered, reply, late);
        if (result.kind == RequestOutcome::kSilent) {
            m_volume = kUnknownVolume;  // it may have been taken
        } else if (result.kind == RequestOutcome::kDone) {
            m_volumeEnabled = enabled ? 1 : 0;
            if (!enabled) setVolumeBeforeMute(static_cast<std::int32_t>(percent));
            takeSetVolume(level);
        }
        if (result.kind != RequestOutcome::kDone)
            LOG_DEBUG(L"Volume %1%%% not set to device id=%2%%3%: %4%", level, m_id, late ? L" (late reply)" : L"",
                      result.cause);
        done(result);
    });
}

void OrvelInfo::readVolumeAsync(std::function<void(const RequestOutcome&, int)> done) {
    exchangeAsync(kGetVolume, [this, done](bool answered, const std::string& reply, bool late) {
        RequestOutcome result = outcomeOfReply(answered, reply, late);
        std::int32_t percent = kUnknownVolume;
        if (result.kind == RequestOutcome::kDone) {
            // The reply decides alone, as in getVolume.
            percent = volumeOfReply(reply, true);
            m_volume = percent;
            if (percent == kUnknownVolume) {
                result = outcome(RequestOutcome::kFailed, unexpectedReplyCause(reply));
                result.late = late;
            }
        }
        if (result.kind != RequestOutcome::kDone)
            LOG_DEBUG(L"Volume of device id=%1% not read: %2%", m_id, result.cause);
        done(result, percent);
    });
}

void OrvelInfo::internalPlayingAsync(std::function<void(const RequestOutcome&, bool)> done) {
    if (!isOnline() || !m_answered.load()) {
        done(RequestOutcome(), false);
        return;
    }
    if (playback::has(getPlaybackType(), playback::kMetaInternal)) {
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
