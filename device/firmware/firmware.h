#pragma once

#include <cstdint>
#include <string>

#include "device/version.h"

namespace device {

/// One firmware image as read from a firmware file. Immutable once made, so
/// any thread may read it while the upgrade worker sends it.
class IFirmware {
public:
    virtual ~IFirmware() = default;

    /// The version record of the image's version text, its type code being
    /// the header's; type code 0 when the image is not valid.
    virtual Version getVersion() const = 0;
    /// Every check of the image holds: framing, sizes, version text and type
    /// code, payload CRC. An image that is not valid is never sent.
    virtual bool isValid() const = 0;
    /// The bytes the device flashes.
    virtual const std::string& getPayload() const = 0;
    /// The payload CRC as the header states it.
    virtual std::uint32_t getCrc() const = 0;
};

}  // namespace device
