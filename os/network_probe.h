#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Probes of the network: the empty datagrams that wake devices up, the check
// for another server's stream and the check for the internet. Each call
// opens its own socket and closes it before it returns; any thread.
namespace os {

/// The devices' address as they leave the factory, and the port they listen
/// to there.
constexpr const char* kFactoryAddress = "192.168.100.1";
constexpr std::uint16_t kFactoryPort = 11991;

/// One empty UDP datagram from a socket bound to `from` to `to`:`port`; true
/// when it was sent. Failures are logged.
bool sendPackageToUdpAddress(const std::string& from, const std::string& to, std::uint16_t port);

/// The same datagram for a caller that reports failures itself: false with
/// the error in the operator's words in `error` (narrow text), nothing
/// logged above TRACE.
bool sendProbe(const std::string& from, const std::string& to, std::uint16_t port, std::string& error);

/// The search for devices on the segment of the interface with address
/// `interfaceAddress`: one empty datagram to the factory address and port,
/// then an empty directed broadcast (the interface's broadcast address) and
/// an empty limited broadcast (255.255.255.255) to `port`, all from the
/// interface's address. The factory datagram is sent only when an address of
/// the same interface has the factory address in its subnet: otherwise the
/// routing table would hand it to the default gateway, off the segment where
/// a factory-fresh device could hear it. True when a broadcast was sent.
bool findLostDevices(const std::string& interfaceAddress, std::uint16_t port);

/// Whether a stream is present: joins the group of `groupAndPort`
/// ("224.0.224.1:11991") on the interface and waits up to `wait` for one
/// datagram (another server's idle stream sends one every second). Throws
/// exception::ExternalError "Сетевой интерфейс с ip='%1%' адресом не
/// существует" for an address of no interface and "Неверный формат
/// мультикаст адреса '%1%'" for a text that is not a multicast group with a
/// port. Blocks the caller for at most `wait`.
bool hasStream(const std::string& interfaceAddress, const std::string& groupAndPort,
               std::chrono::milliseconds wait = std::chrono::seconds(3));

/// Whether a public host can be resolved and connected to within 3 s.
bool hasInternet();

/// Whether `host` resolves and accepts a TCP connection on `service` within
/// `limit`. The work runs on a worker thread that the caller stops waiting
/// for after `limit`: name resolution can't be cancelled, so a worker that
/// is still resolving then finishes on its own (it holds nothing of the
/// caller's).
bool canConnect(const std::string& host, const std::string& service, std::chrono::milliseconds limit);

}  // namespace os
