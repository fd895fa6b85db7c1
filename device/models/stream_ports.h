#pragma once

#include <cstdint>

namespace device {

// Where a loudspeaker hears the server's streams: the common channel
// (channel 0) on the port after its command port, its "discovery port", and
// notice channel N on the Nth port after that. The server sends its streams
// to the same ports counted from its own base port, which is the command
// port of its loudspeakers: the common stream to base port + 1, the
// notification stream to base port + 2 (channel 1) or + 7 (channel 6).

/// A loudspeaker's channel-0 port, from its command port.
constexpr std::uint16_t discoveryPortOf(std::uint16_t commandPort) {
    return static_cast<std::uint16_t>(commandPort + 1);
}

/// The port of channel `channel` (an AudioChannel) from the channel-0 port.
constexpr std::uint16_t channelPortOf(std::uint16_t discoveryPort, std::int32_t channel) {
    return static_cast<std::uint16_t>(discoveryPort + channel);
}

/// The port of channel `channel` from the command port (the server's base port).
constexpr std::uint16_t streamPortOf(std::uint16_t commandPort, std::int32_t channel) {
    return channelPortOf(discoveryPortOf(commandPort), channel);
}

}  // namespace device
