// The line-control module of a loudspeaker: made on first use, reached
// through a request function that outlives no loudspeaker.
#include <boost/algorithm/string/trim.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/line_control.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

constexpr int kMinimumLineControlIndex = 9;
constexpr int kLineControlPriority = 2;
constexpr int kLineControlResendMs = 1000;

}  // namespace

boost::shared_ptr<tip_device::LineControl> OrvelInfo::existingLineControl() const {
    DeviceLock lock(m_lock);
    return m_lineControl;
}

boost::shared_ptr<tip_device::LineControl> OrvelInfo::getLineControl() {
    requireMinimumVersion(kMinimumLineControlIndex);
    DeviceLock lock(m_lock);
    if (m_lineControl) return m_lineControl;
    LOG_TRACE(L"%1%", L"initialize line controller.");
    const boost::weak_ptr<OrvelInfo> weak = getThisPtr();
    m_lineControl = boost::shared_ptr<tip_device::LineControl>(new tip_device::LineControl(
        [weak](const std::string& text) { return lineControlRequest(weak, text); }));
    m_lineControl->setTipDeviceMasks(m_state.tipsAdded, m_state.tipsActive);
    return m_lineControl;
}

std::string OrvelInfo::lineControlRequest(const boost::weak_ptr<OrvelInfo>& device, const std::string& request) {
    const boost::shared_ptr<OrvelInfo> self = device.lock();
    if (!self) {
        LOG_ERROR(L"The device is no longer available. The request isn't handled. (%1%)", request);
        return std::string();
    }
    if (!self->isOnlineAndAnswered()) {
        LOG_INFO(L"The device (id=%1%) is offline. Skip request '%2%'", self->getId(), request);
        return std::string();
    }
    const boost::shared_ptr<const net::IpAndPort> endpoint = self->getIpPtr();
    std::string reply;
    if (!endpoint->isValid() ||
        !self->sendAndWait(*endpoint, request, reply, kLineControlPriority, kLineControlResendMs))
        return std::string();
    try {
        handleResponse(reply);
    } catch (const exception::UnexpectedResponseOfDevice&) {
        throw exception::UserResponse(L"Произошла ошибка в модуле контроля линии", base::toWide(reply));
    }
    boost::algorithm::trim_right(reply);
    return reply;
}

}  // namespace device
