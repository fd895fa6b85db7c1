#pragma once

#include <cstddef>
#include <string>

namespace device {

/// Room for one formatted request or option text, the terminating null included.
constexpr std::size_t kCommandBufferSize = 1395;

/// The largest datagram the transport sends: the payload of one 1500-byte
/// Ethernet frame after the IPv4 and UDP headers.
constexpr std::size_t kMaxRequestDatagram = 1472;

/// Formats a request text printf-style. A text that does not fit into
/// kCommandBufferSize throws exception::InternalError "Слишком длинная
/// команда": a cut command would reach the device as a different command.
std::string formatCommand(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Classifies a device reply (leading white space skipped): "OK..." and
/// "SUCCESS..." give true; "ERR..." throws exception::UnexpectedResponseOfDevice
/// carrying the reply; anything else is data and gives false.
bool handleResponse(const std::string& reply);

}  // namespace device
