#include "device/firmware/firmware_selection.h"

#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "base/log.h"

namespace device {

namespace {

bool sameNumbers(const Version& a, const Version& b) {
    return a.major == b.major && a.minor == b.minor && a.build == b.build && a.revision == b.revision;
}

}  // namespace

boost::shared_ptr<FirmwareCollection> selectFirmware(
    const FirmwareCollection& offered, const Version& running,
    const boost::function<bool(boost::shared_ptr<IFirmware>)>& isSuitable, bool force) {
    std::vector<FirmwareCollection::Image> own;
    std::vector<FirmwareCollection::Image> modules;
    bool sameVersionLeftOut = false;
    for (const FirmwareCollection::Image& image : offered.images()) {
        if (!image || !image->isValid()) {
            LOG_WARN(L"A firmware image that isn't valid is left out");
            continue;
        }
        const Version version = image->getVersion();
        bool suitable = false;
        try {
            suitable = isSuitable(image);
        } catch (const exception::UserResponse& refusal) {
            if (!force || refusal.getNotification() != L"wrongPower") throw;
            LOG_IMPOR(L"The power check of the image '%1%' is passed over with the force option", version.text);
            suitable = true;
        }
        if (!suitable) continue;
        if (version.typeCode != running.typeCode) {
            modules.push_back(image);
        } else if (!force && sameNumbers(version, running)) {
            LOG_INFO(L"The device already runs the firmware '%1%'", version.text);
            sameVersionLeftOut = true;
        } else {
            own.push_back(image);
        }
    }
    own.insert(own.end(), modules.begin(), modules.end());
    if (own.empty()) {
        if (sameVersionLeftOut)
            throw exception::UserResponse(L"wrongVersion", L"Эта версия прошивки уже установлена на устройстве");
        throw exception::UserResponse(L"incorrectFirmware", L"Прошивка не подходит для устройства");
    }
    return boost::make_shared<FirmwareCollection>(std::move(own));
}

}  // namespace device
