#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

#include "device/firmware/firmware_collection.h"
#include "device/version.h"

namespace device {

/// Picks from `offered` the images to send to a device running `running`, in
/// sending order: the images of the device's own type code first, then the
/// module images, each in file order. `isSuitable` is the model's test
/// (DeviceBase::isFirmwareSuitable).
///
/// An image that is not valid is never picked, force or not: a forced upgrade
/// with a broken image would leave the device without firmware. Force passes
/// over the power check (a "wrongPower" refusal counts as suitable) and the
/// version check; without force the refusal passes out, and an image of the
/// device's own code with the running version numbers is left out. Nothing
/// left: exception::UserResponse "wrongVersion" when only that check left
/// images out, else "incorrectFirmware" ("Прошивка не подходит для
/// устройства"). Other exceptions of `isSuitable` pass out.
boost::shared_ptr<FirmwareCollection> selectFirmware(
    const FirmwareCollection& offered, const Version& running,
    const boost::function<bool(boost::shared_ptr<IFirmware>)>& isSuitable, bool force);

}  // namespace device
