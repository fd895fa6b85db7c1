// The loudspeaker's equalizer: read in the form of its firmware generation,
// kept, and written request by request.
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/version_tables.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

constexpr int kFirstSixBandIndex = 9;
constexpr int kFirstShortFormIndex = 14;  // below: the extended "set eqd"

}  // namespace

boost::shared_ptr<IEqualizer> OrvelInfo::getEqualizer() {
    {
        DeviceLock lock(m_lock);
        if (m_equalizer) return m_equalizer->clone();
    }
    const int index = getVersionIndex();
    boost::shared_ptr<IEqualizer> equalizer;
    if (index < kFirstSixBandIndex) {
        // As every other request: a busy loudspeaker is asked again, and an
        // error reply is the device's error, never a value to parse.
        const std::uint16_t packed = parsePackedEqualizer(transfer("get eq"));
        equalizer = boost::shared_ptr<IEqualizer>(new o510::Equalizer(packed));
    } else {
        const bool enabled = findIgnoringCase(transfer("get eq"), "on") >= 0;
        const std::string bands = transfer("get eqd");
        boost::shared_ptr<o610::Equalizer> sixBands(new o610::Equalizer(enabled, index < kFirstShortFormIndex));
        parseEqualizerBands(bands, *sixBands);
        equalizer = sixBands;
    }
    DeviceLock lock(m_lock);
    m_equalizer = equalizer;
    return equalizer->clone();
}

bool OrvelInfo::setEqualizer(const boost::shared_ptr<IEqualizer>& equalizer) {
    boost::shared_ptr<IEqualizer> cached;
    {
        DeviceLock lock(m_lock);
        cached = m_equalizer;
    }
    if (!cached) {
        getEqualizer();
        DeviceLock lock(m_lock);
        cached = m_equalizer;
    }
    if (!equalizer || !cached) {
        LOG_ERROR(L"Значение эквалайзера отсутствует! (%1%,%2%)", !equalizer ? L"true" : L"false",
                  !cached ? L"true" : L"false");
        throw exception::ServerError();
    }
    const int index = getVersionIndex();
    const bool sameBands = equalizer->isEqual(*cached);
    // The six-band form's switch is no part of its request text: a change of
    // the switch alone is a change all the same.
    const bool sameSwitch = equalizer->isEnabled() == cached->isEnabled();
    if (sameBands && sameSwitch) {
        LOG_DEBUG(L"%1%", L"Skip changing equalizer due to no differences");
        return true;
    }
    bool result = true;
    if (!sameBands) {
        std::string command = equalizer->toCommand();
        if (index >= kFirstSixBandIndex && index < kFirstShortFormIndex) command = withExtendedTail(command);
        result = request(command, nullptr, false);
    }
    if (result && index >= kFirstSixBandIndex && !sameSwitch) {
        const bool enabled = equalizer->isEnabled();
        result = request(std::string("set eq ") + (enabled ? "on" : "off"), nullptr, false);
        LOG_INFO(L"Equalizer in Orvel-610 is %1% (Result is %2%)", enabled ? L"enabled" : L"disabled",
                 result ? L"success" : L"failure");
    }
    if (result) {
        const boost::shared_ptr<IEqualizer> kept = equalizer->clone();
        DeviceLock lock(m_lock);
        m_equalizer = kept;
    }
    LOG_INFO(L"Set equalizer (result: %1%), device %2%, value %3%", result ? L"true" : L"false",
             std::string(m_hardwareAddress.toCharArray()), equalizer->toCommand());
    return result;
}

}  // namespace device
