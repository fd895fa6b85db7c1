#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// The ICMP pinger: one echo request, one reply awaited. It takes an
// unprivileged ICMP socket where the system allows one (the group of the
// process within net.ipv4.ping_group_range), else a raw socket (root or
// CAP_NET_RAW), else it logs and reports no answer. Any thread; each call
// has its own socket.
namespace os {

/// One echo to `address` (a dotted quad); true when the reply came within `wait`.
bool ping(const std::string& address, std::chrono::milliseconds wait = std::chrono::seconds(1));

/// Pings the gateway of the interface with `interfaceAddress`. Without a
/// gateway (or without such an interface) logs DEBUG "no gateway ip for
/// ping" and returns false.
bool pingGateway(const std::string& interfaceAddress);

// ---- the packet codec, for tests -------------------------------------------

/// The Internet checksum (ones' complement of the ones' complement sum of
/// 16-bit words) of `data`.
std::uint16_t icmpChecksum(const std::string& data);

/// An echo request with its checksum.
std::string makeEchoRequest(std::uint16_t identifier, std::uint16_t sequence, const std::string& payload);

/// Whether `packet` is the echo reply to the request with `identifier` and
/// `sequence`. A raw socket receives the IP header in front (`withIpHeader`);
/// an unprivileged socket gets the ICMP message alone and the kernel has set
/// the identifier itself, so it isn't compared there (pass `anyIdentifier`).
bool isEchoReply(const std::string& packet, bool withIpHeader, std::uint16_t identifier, std::uint16_t sequence,
                 bool anyIdentifier);

}  // namespace os
