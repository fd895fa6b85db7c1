#pragma once

#include <cstddef>
#include <string>

#include "base/hardware_address.h"
#include "device/version.h"

namespace device {

/// State packets are 26 to 256 bytes long.
constexpr std::size_t kMinStatePacket = 26;
constexpr std::size_t kMaxStatePacket = 256;

/// Whether a datagram is a device's state packet: its size within the bounds,
/// ':' as third character, the first field (up to the first ',') a hardware
/// address and the version after the last ',' parseable. Fills `address`
/// only then. Runs on the transport's responder thread for every datagram,
/// so it logs nothing: the address syntax is checked before the address
/// object (which warns about bad text) is made.
bool isStatePacket(const std::string& text, net::HardwareAddress& address);
/// The same, also giving the version it parsed, so that the packet's job
/// need not parse it again.
bool isStatePacket(const std::string& text, net::HardwareAddress& address, Version& version);

/// The version after the packet's last comma (CR, LF and NUL removed, at
/// most 255 characters). An Orvel-610 reporting major version 2 is an
/// Orvel-611. False, with the record unchanged, when there is no comma or
/// the version does not parse.
bool parseStatePacketVersion(const std::string& text, Version& version);

}  // namespace device
