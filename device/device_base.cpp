#include "device/device_base.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/thread.hpp>

#include "base/check.h"
#include "base/clock.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/command.h"
#include "device/reply_times.h"
#include "device/state_packet.h"
#include "device/transfer_protocol.h"

namespace device {

namespace {

constexpr int kPriority = 2;
constexpr auto kResendMs = static_cast<unsigned>(kBaseResendTime.count());

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

bool beginsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

const wchar_t* yesNo(bool value) { return value ? L"true" : L"false"; }

/// True the first time it is asked for this hardware address in this run:
/// an unreadable audio memory is logged once per device, not at every
/// playback, volume or channel action that looks for it.
bool firstMemoryFailureOf(const std::wstring& hardwareAddress) {
    static std::mutex mutex;
    static std::set<std::wstring> logged;
    std::lock_guard<std::mutex> lock(mutex);
    return logged.insert(hardwareAddress).second;
}

}  // namespace

bool DeviceBase::isErrorReply(const std::string& reply) {
    const std::size_t start = reply.find_first_not_of(" \t\r\n\v\f");
    return start != std::string::npos && reply.compare(start, 3, "ERR") == 0;
}

bool DeviceBase::isBusyReply(const std::string& reply) {
    return beginsWith(boost::algorithm::trim_left_copy(reply), kBusyReply);
}

DeviceBase::DeviceBase(std::uint32_t id, const net::HardwareAddress& hardwareAddress, const net::IpAndPort& endpoint,
                       const std::wstring& title, boost::shared_ptr<TransferProtocol> transport)
    : m_id(id),
      m_hardwareAddress(hardwareAddress),
      m_transport(std::move(transport)),
      m_title(title),
      m_endpoint(boost::make_shared<const net::IpAndPort>(endpoint)) {}

DeviceBase::~DeviceBase() = default;

std::int64_t DeviceBase::now() const { return nowMicroseconds(); }

// ---- online bookkeeping ------------------------------------------------------

bool DeviceBase::isOnline() const {
    const std::int64_t last = m_lastContactTime.load();
    const std::int64_t current = now();
    return last > current || current - last < kOnlineWindow;
}

void DeviceBase::checkOnline(bool skipWithoutPing) {
    if (!isOnline()) {
        if (skipWithoutPing) {
            LOG_DEBUG(L"Skip online check due to no ping for device=%1%", hardwareText());
            return;
        }
        // Only the transition: a device that stays silent is not reset and
        // announced again every second.
        const bool wasOnline = m_online.exchange(false);
        const bool hadFirstPacket = m_firstPacket.exchange(false);
        if (!wasOnline && !hadFirstPacket) return;
        m_answered = false;
        forgetVolume();
        LOG_DEBUG(L"The device %1% is offline (id=%2%)", hardwareText(), m_id);
        resetCache();
        notifyIfStateChanged();
        return;
    }
    if (skipWithoutPing && !m_answered.load()) checkResponding(false);
}

void DeviceBase::checkResponding(bool) {
    const bool before = m_answered.load();
    std::string reply;
    const bool answered = exchange(kGetVolume, reply);
    if (answered && !isErrorReply(reply) && !isBusyReply(reply)) handleVolume(reply);
    LOG_DEBUG(L"check i/o for device ip %1%. result is %2%.", getIp().getWideText(), yesNo(answered));
    if (answered != before) notifyIfStateChanged();
}

void DeviceBase::checkRespondingLater() { askResponding(0, m_answered.load()); }

void DeviceBase::askResponding(int retry, bool before) {
    const boost::shared_ptr<const net::IpAndPort> endpoint = getIpPtr();
    if (!m_transport || !endpoint->isValid()) {
        checkResponding(false);
        return;
    }
    const boost::weak_ptr<DeviceBase> weak = m_self;
    m_transport->async(
        *endpoint, kGetVolume,
        [weak, retry, before](const std::string& reply, bool answered) {
            const boost::shared_ptr<DeviceBase> self = weak.lock();
            if (!self) return;
            if (answered) {
                self->m_lastContactTime = self->now();
                if (retry < kBusyRetries && isBusyReply(reply)) {
                    self->m_answered = true;
                    base::ThreadDispatcher::add(L"check responding", kBusyPauseMs,
                                                [weak, retry, before] {
                                                    if (const auto device = weak.lock())
                                                        device->askResponding(retry + 1, before);
                                                });
                    return;
                }
                if (!isErrorReply(reply) && !isBusyReply(reply)) self->handleVolume(reply);
            }
            // Set after the volume: whoever waits for the answer finds it read.
            self->m_answered = answered;
            LOG_DEBUG(L"check i/o for device ip %1%. result is %2%.", self->getIp().getWideText(), yesNo(answered));
            if (answered != before) self->notifyIfStateChanged();
        },
        kPriority, kResendMs);
}

bool DeviceBase::probeVolume() {
    std::string reply;
    request(kGetVolume, &reply, true);
    handleVolume(reply);
    return true;
}

// ---- request layer -------------------------------------------------------------

bool DeviceBase::exchange(const std::string& request, std::string& reply) {
    const boost::shared_ptr<const net::IpAndPort> endpoint = getIpPtr();
    for (int retry = 0;; ++retry) {
        reply.clear();
        const bool answered = endpoint->isValid() && sendAndWait(*endpoint, request, reply, kPriority, kResendMs);
        m_answered = answered;
        if (!answered) return false;
        m_lastContactTime = now();
        if (retry == kBusyRetries || !isBusyReply(reply)) return true;
        // The device still works on a request of somebody else's; bounded,
        // for a stuck device must not hang the caller (often the GUI thread).
        boost::this_thread::sleep_for(boost::chrono::milliseconds(kBusyPauseMs));
    }
}

void DeviceBase::exchangeAsync(const std::string& request, ExchangeDone done) {
    askAsync(request, std::move(done), 0, kResendMs);
}

void DeviceBase::exchangeAsync(const std::string& request, ExchangeDone done, unsigned resendMs) {
    askAsync(request, std::move(done), 0, resendMs);
}

ReplyTimes DeviceBase::replyTimes() const {
    const boost::shared_ptr<const net::IpAndPort> endpoint = boost::atomic_load(&m_endpoint);
    if (!m_transport || !endpoint || !endpoint->isValid()) return ReplyTimes();
    return m_transport->replyTimes(*endpoint, kResendMs);
}

void DeviceBase::askAsync(const std::string& request, ExchangeDone done, int retry, unsigned resendMs) {
    const boost::shared_ptr<const net::IpAndPort> endpoint = getIpPtr();
    boost::shared_ptr<DeviceBase> self;
    {
        DeviceLock lock(m_lock);
        self = m_self.lock();
    }
    if (!m_transport || !endpoint->isValid() || !self) {
        m_answered = false;
        LOG_DEBUG(L"request '%1%' to %2% is not sent", request, endpoint->getWideText());
        done(false, std::string(), false);
        return;
    }
    // The first completion holds the device, so that `done` always comes;
    // the late one does not, for the transport may keep it a while after the
    // device left the collection.
    const boost::weak_ptr<DeviceBase> weak = self;
    m_transport->async(
        *endpoint, request,
        [self, request, done, retry, resendMs](const std::string& reply, bool answered) {
            self->m_answered = answered;
            if (!answered) {
                LOG_DEBUG(L"no reply from %1% to '%2%'", self->getIp().getWideText(), request);
                done(false, std::string(), false);
                return;
            }
            self->m_lastContactTime = self->now();
            if (retry < kBusyRetries && isBusyReply(reply)) {
                // The device still works on a request of somebody else's.
                const std::uint32_t job = base::ThreadDispatcher::add(
                    L"ask a busy device again", kBusyPauseMs,
                    [self, request, done, retry, resendMs] { self->askAsync(request, done, retry + 1, resendMs); });
                if (job != 0) return;
            }
            done(true, reply, false);
        },
        kPriority, resendMs,
        [weak, done](const std::string& reply, bool) {
            const boost::shared_ptr<DeviceBase> device = weak.lock();
            if (!device) return;
            device->m_lastContactTime = device->now();
            device->m_answered = true;
            done(true, reply, true);
        });
}

RequestOutcome DeviceBase::outcomeOfReply(bool answered, const std::string& reply, bool late) {
    RequestOutcome outcome;
    outcome.late = late;
    if (!answered) {
        outcome.kind = RequestOutcome::kSilent;
        outcome.cause = kNoAnswerCause;
    } else if (isErrorReply(reply) || isBusyReply(reply)) {
        outcome.kind = RequestOutcome::kFailed;
        outcome.cause = unexpectedReplyCause(reply);
        outcome.busy = !isErrorReply(reply);
    }
    return outcome;
}

std::wstring DeviceBase::unexpectedReplyCause(const std::string& reply) {
    return exception::deviceReasonText(base::toWide(boost::algorithm::trim_copy(reply)));
}

bool DeviceBase::sendAndWait(const net::IpAndPort& endpoint, const std::string& request, std::string& reply,
                             int priority, unsigned resendMs) {
    return m_transport && m_transport->sync(endpoint, request, reply, priority, resendMs);
}

std::string DeviceBase::transfer(const std::string& request) {
    bool cacheable = false;
    {
        DeviceLock lock(m_lock);
        cacheable = m_cachedRequests.count(request) != 0;
        if (cacheable) {
            const auto cached = m_cachedResponses.find(request);
            if (cached != m_cachedResponses.end()) return cached->second;
        }
    }
    std::string reply;
    if (!exchange(request, reply)) throw exception::Offline();
    if (isErrorReply(reply) || isBusyReply(reply))
        throw exception::UnexpectedResponseOfDevice(reply);
    boost::algorithm::trim(reply);
    if (cacheable) {
        DeviceLock lock(m_lock);
        m_cachedResponses[request] = reply;
    }
    return reply;
}

bool DeviceBase::request(const std::string& text, std::string* reply, bool passErrors) {
    try {
        const std::string answer = transfer(text);
        if (reply != nullptr) *reply = answer;
        return true;
    } catch (const exception::UnexpectedResponseOfDevice& refusal) {
        if (reply != nullptr) *reply = refusal.getResponse();
        if (passErrors) throw;
    } catch (const exception::Offline&) {
        if (passErrors) throw;
    }
    return false;
}

void DeviceBase::addCachedRequest(const std::string& text) {
    DeviceLock lock(m_lock);
    m_cachedRequests.insert(text);
}

void DeviceBase::clearCachedResponses() {
    DeviceLock lock(m_lock);
    m_cachedResponses.clear();
}

void DeviceBase::resetCache() { clearCachedResponses(); }

// ---- reply parsing ----------------------------------------------------------------

bool DeviceBase::handleResponse(const std::string& reply) { return device::handleResponse(reply); }

std::vector<std::string> DeviceBase::splitResponse(const std::string& reply) {
    const std::size_t colon = reply.find(':');
    const std::string rest = colon == std::string::npos ? reply : reply.substr(colon + 1);
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\r\n", start);
        if (end == std::string::npos) end = rest.size();
        std::string piece = boost::algorithm::trim_copy(rest.substr(start, end - start));
        if (!piece.empty()) pieces.push_back(std::move(piece));
        start = end + 1;
    }
    return pieces;
}

bool DeviceBase::parseBoolValue(const std::string& field, bool& value) {
    const std::string lower = boost::algorithm::to_lower_copy(field);
    if (lower.find("on") != std::string::npos) {
        value = true;
        return true;
    }
    if (lower.find("off") != std::string::npos) {
        value = false;
        return true;
    }
    LOG_EXTERN(L"It got incorrect type for bool value (%1%)", field);
    return false;
}

bool DeviceBase::parseDecimal(const std::string& field, long long& value) {
    const std::string text = boost::algorithm::trim_copy(field);
    if (text.empty()) return false;
    const std::size_t firstDigit = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (firstDigit == text.size()) return false;
    for (std::size_t i = firstDigit; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    value = parsed;
    return true;
}

void DeviceBase::logIncorrectInteger(const std::string& field) {
    LOG_EXTERN(L"It got incorrect integer value (%1%)", field);
}

int DeviceBase::parseDhcpValue(const std::string& field) {
    const std::size_t position = boost::algorithm::to_upper_copy(field).find("DHCP");
    return position == std::string::npos ? -1 : static_cast<int>(position);
}

// ---- operations ------------------------------------------------------------------------

bool DeviceBase::sendParameter(const std::string& key, const std::string& valueText, bool restart) {
    LOG_INFO(L"Настройка '%1%' установлена в значение '%2%' для устройства id=%3%", key, valueText, m_id);
    request("set " + key + " " + valueText, nullptr, true);
    return restart;
}

bool DeviceBase::setParameter(const std::string& key, const std::string& current, const std::string& wanted,
                              bool restart) {
    return current != wanted && sendParameter(key, wanted, restart);
}

bool DeviceBase::setParameter(const std::string& key, const char* current, const char* wanted, bool restart) {
    return setParameter(key, std::string(current), std::string(wanted), restart);
}

bool DeviceBase::setParameter(const std::string& key, bool current, bool wanted, bool restart) {
    return current != wanted && sendParameter(key, wanted ? "on" : "off", restart);
}

bool DeviceBase::setParameter(const std::string& key, std::uint16_t current, std::uint16_t wanted, bool restart) {
    return current != wanted && sendParameter(key, std::to_string(wanted), restart);
}

bool DeviceBase::setParameter(const std::string& key, std::int16_t current, std::int16_t wanted, bool restart) {
    if (current != wanted) sendParameter(key, std::to_string(wanted), restart);
    return false;
}

bool DeviceBase::setParameter(const std::string& key, std::uint32_t current, std::uint32_t wanted, bool restart) {
    return current != wanted && sendParameter(key, std::to_string(wanted), restart);
}

bool DeviceBase::setParameter(const std::string& key, int current, int wanted, bool restart) {
    return current != wanted && sendParameter(key, std::to_string(wanted), restart);
}

bool DeviceBase::reboot() {
    if (hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying", L"");
    m_rebootTime = now();
    const bool sent = request("reboot", nullptr, false);
    // Replies kept from before the restart may no longer hold (a written
    // configuration takes effect only now).
    clearCachedResponses();
    if (sent) LOG_INFO(L"The device '%1%' is rebooted", getTitle());
    return sent;
}

bool DeviceBase::enableVolume(bool on) {
    if (isVolumeEnabled() == on) return true;
    const bool done = on ? restoreVolume() : muteVolume();
    if (done) {
        m_volumeEnabled = on ? 1 : 0;
        if (on)
            LOG_INFO(L"Громкость включена устройству '%1%'", hardwareText());
        else
            LOG_INFO(L"Громкость выключена устройству '%1%'", hardwareText());
    } else {
        LOG_WARN(L"Не удалось включить/выключить громкость устройству '%1%'", hardwareText());
    }
    return done;
}

bool DeviceBase::muteVolume() {
    const std::int32_t volume = m_volume.load();
    m_volumeBeforeMute = volume == kUnknownVolume ? 100 : volume;
    return setVolume(0);
}

bool DeviceBase::restoreVolume() { return setVolume(static_cast<std::uint32_t>(m_volumeBeforeMute.load())); }

int DeviceBase::getVolume() {
    std::string reply;
    if (request(kGetVolume, &reply, false)) {
        // The reply decides alone: one that can't be read leaves the volume
        // unknown rather than the value of an earlier reply.
        forgetVolume();
        handleVolume(reply);
        const std::int32_t volume = m_volume.load();
        if (volume != kUnknownVolume) return volume;
    }
    throw exception::DeviceReason(L"Не удалось произвести обмен с устройством. Уровень громкости не получен.");
}

void DeviceBase::releaseAudioControl() {
    boost::shared_ptr<memory::IAudioControl> dropped;
    {
        DeviceLock lock(m_lock);
        dropped.swap(m_audioControl);
    }
    // `dropped` ends here, outside the lock: the memory object may be large.
}

boost::shared_ptr<memory::IAudioControl> DeviceBase::getAudioControl(bool allowOverwrite, bool passErrors) {
    {
        DeviceLock lock(m_lock);
        if (m_audioControl) return m_audioControl;
    }
    // Creation reads the device over many round trips: state packets of this
    // device must not wait for it, so it holds a lock of its own.
    boost::lock_guard<boost::mutex> creating(m_audioCreation);
    {
        DeviceLock lock(m_lock);
        if (m_audioControl) return m_audioControl;  // made by the caller we waited for
    }
    boost::shared_ptr<memory::IAudioControl> made;
    try {
        made = createAudioControl(allowOverwrite);
    } catch (const exception::Base& e) {
        if (passErrors) throw;
        const std::wstring hardware = hardwareText();
        if (firstMemoryFailureOf(hardware))
            LOG_DEBUG(L"Аудио память устройства %1% недоступна: %2%", hardware, std::string(e.what()));
        return {};
    }
    DeviceLock lock(m_lock);
    m_audioControl = made;
    return made;
}

// ---- identity ---------------------------------------------------------------------------

std::wstring DeviceBase::hardwareText() const { return base::toWide(m_hardwareAddress.toCharArray()); }

std::wstring DeviceBase::getTitle() const {
    {
        DeviceLock lock(m_lock);
        if (!m_title.empty()) return m_title;
    }
    return L"Устройство " + hardwareText();
}

void DeviceBase::setTitle(const std::wstring& title) {
    std::wstring old;
    {
        DeviceLock lock(m_lock);
        old.swap(m_title);
        m_title = title;
    }
    LOG_INFO(L"Назначено название '%1%' устройству '%2%', предыдущее '%3%'", title, hardwareText(), old);
}

boost::shared_ptr<const net::IpAndPort> DeviceBase::getIpPtr() const { return boost::atomic_load(&m_endpoint); }

net::IpAndPort DeviceBase::getIp() const { return *getIpPtr(); }

void DeviceBase::setIp(const net::IpAndPort& endpoint) {
    boost::atomic_store(&m_endpoint, boost::make_shared<const net::IpAndPort>(endpoint));
}

Version DeviceBase::getVersion() const {
    DeviceLock lock(m_lock);
    return m_version;
}

std::string DeviceBase::getVersionTextNarrow() const {
    DeviceLock lock(m_lock);
    return m_versionText;
}

bool DeviceBase::hasVersionText(const std::string& text) const {
    DeviceLock lock(m_lock);
    return m_versionText == text;
}

std::wstring DeviceBase::getVersionText() const { return base::toWide(getVersionTextNarrow()); }

void DeviceBase::setVersion(const Version& version, const std::string& text) {
    DeviceLock lock(m_lock);
    m_version = version;
    m_versionText = text;
    m_typeCode = version.typeCode;
}

void DeviceBase::presetTypeCode(std::uint64_t typeCode) {
    DeviceLock lock(m_lock);
    m_version.typeCode = typeCode;
    m_typeCode = typeCode;
}

std::wstring DeviceBase::getFirmwareVersionTypeText() const { return toText(getTypeCode()); }

void DeviceBase::setStateChangedHandler(StateChangedHandler handler) {
    DeviceLock lock(m_lock);
    m_stateChangedHandler = std::move(handler);
}

void DeviceBase::notifyIfStateChanged() {
    StateChangedHandler handler;
    {
        DeviceLock lock(m_lock);
        handler = m_stateChangedHandler;
    }
    if (!handler) return;
    const boost::shared_ptr<DeviceBase> self = getThisBasePtr();
    if (!self) return;
    base::ThreadDispatcher::add(L"device state changed", 0, [handler, self] { handler(self); });
}

void DeviceBase::setThisWeakPtr(const boost::weak_ptr<DeviceBase>& self) {
    DeviceLock lock(m_lock);
    m_self = self;
}

boost::shared_ptr<DeviceBase> DeviceBase::getThisBasePtr() const {
    boost::shared_ptr<DeviceBase> self;
    {
        DeviceLock lock(m_lock);
        self = m_self.lock();
    }
    if (!self) LOG_ERROR(L"Ошибка блокировки устройства");
    return self;
}

// ---- state packets and the models' log lines ------------------------------------------------

bool DeviceBase::isStatePacket(const std::string& text, net::HardwareAddress& address) {
    return device::isStatePacket(text, address);
}

bool DeviceBase::parseStatePacketVersion(const std::string& text, Version& version) {
    return device::parseStatePacketVersion(text, version);
}

bool DeviceBase::skipsPacketAfterReboot(std::int64_t window) {
    const std::int64_t sinceReboot = now() - m_rebootTime.load();
    if (sinceReboot < 0 || sinceReboot >= window) return false;
    LOG_IMPOR(L"Skip ping packet after rebooting during one second");
    return true;
}

bool DeviceBase::followPacketSource(const net::IpAndPort& source) {
    const boost::shared_ptr<const net::IpAndPort> endpoint = getIpPtr();
    if (*endpoint == source) return false;
    debug::warnIfFalse(source.isValid() && source.getPort() != 0, SV_PLACE);
    logAddressChanged(source, *endpoint);
    setIp(source);
    return true;
}

void DeviceBase::logAddressChanged(const net::IpAndPort& current, const net::IpAndPort& old) const {
    LOG_INFO(L"changed device address with id=%1%, new=%2%, old=%3%", m_id, current.getWideText(), old.getWideText());
}

void DeviceBase::logVersionChanged(const std::string& current, const std::string& old) const {
    LOG_INFO(L"changed version of device id=%1%, new=%2%, old=%3%", m_id, current, old);
}

void DeviceBase::logAinChanged(unsigned current, unsigned old) const {
    LOG_INFO(L"changed AIN line of device id=%1%, new=%2%, old=%3%", m_id, current, old);
}

void DeviceBase::logConnected() const {
    LOG_INFO(L"Устройство подключено: '%1%' (hw=%2%, ip=%3%, version='%4%')", getTitle(), hardwareText(),
             getIp().getWideText(), getVersionTextNarrow());
}

void DeviceBase::logUnknownHardwareAddress(const std::string& text) {
    LOG_EXTERN(L"Ping packet has unknown hardware address '%1%'", text);
}

void DeviceBase::logGongNotFound(unsigned index) { LOG_IMPOR(L"don't found gong index=%1%", index); }

}  // namespace device
