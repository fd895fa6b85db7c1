#include "os/network_probe.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <future>
#include <memory>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/format.hpp>

#include "base/exception.h"
#include "base/ip_address.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "os/network_interface.h"

namespace os {

namespace asio = boost::asio;
using asio::ip::udp;

namespace {

constexpr const char* kLimitedBroadcast = "255.255.255.255";
constexpr const char* kInternetHost = "www.google.com";
constexpr const char* kInternetService = "80";
constexpr std::chrono::seconds kInternetLimit(3);

/// A UDP socket bound to `from` with any free port.
void openFrom(udp::socket& socket, const std::string& from, bool broadcast, boost::system::error_code& error) {
    const auto address = asio::ip::make_address_v4(from, error);
    if (!error) socket.open(udp::v4(), error);
    if (!error && broadcast) socket.set_option(asio::socket_base::broadcast(true), error);
    if (!error) socket.bind(udp::endpoint(address, 0), error);
}

/// The same; false (logged) when the address can't be bound.
bool openFrom(udp::socket& socket, const std::string& from, bool broadcast) {
    boost::system::error_code error;
    openFrom(socket, from, broadcast, error);
    if (error) {
        LOG_WARN(L"No socket from the address '%1%': %2%", from, base::errorForOperator(error));
        return false;
    }
    return true;
}

void sendEmpty(udp::socket& socket, const std::string& to, std::uint16_t port, boost::system::error_code& error) {
    const auto address = asio::ip::make_address_v4(to, error);
    if (!error) socket.send_to(asio::const_buffer(nullptr, 0), udp::endpoint(address, port), 0, error);
}

bool sendEmpty(udp::socket& socket, const std::string& to, std::uint16_t port) {
    boost::system::error_code error;
    sendEmpty(socket, to, port, error);
    if (error) {
        LOG_WARN(L"An empty datagram to %1%:%2% isn't sent: %3%", to, port, base::errorForOperator(error));
        return false;
    }
    LOG_TRACE(L"An empty datagram is sent to %1%:%2%", to, port);
    return true;
}

std::wstring formatted(const wchar_t* format, const std::string& argument) {
    return boost::str(boost::wformat(format) % base::toWide(argument));
}

}  // namespace

bool sendPackageToUdpAddress(const std::string& from, const std::string& to, std::uint16_t port) {
    asio::io_context io;
    udp::socket socket(io);
    return openFrom(socket, from, false) && sendEmpty(socket, to, port);
}

bool sendProbe(const std::string& from, const std::string& to, std::uint16_t port, std::string& error) {
    asio::io_context io;
    udp::socket socket(io);
    boost::system::error_code failure;
    openFrom(socket, from, false, failure);
    if (!failure) sendEmpty(socket, to, port, failure);
    if (failure) {
        error = base::toNarrow(base::errorForOperator(failure));
        return false;
    }
    LOG_TRACE(L"An empty datagram is sent to %1%:%2%", to, port);
    return true;
}

bool findLostDevices(const std::string& interfaceAddress, std::uint16_t port) {
    const auto list = getNetworkInterfaceList();
    const NetworkInterface* chosen = nullptr;
    for (const auto& record : list)
        if (record.ip == interfaceAddress) chosen = &record;
    if (chosen == nullptr) {
        LOG_WARN(L"No interface has the ip '%1%'; devices aren't searched", interfaceAddress);
        return false;
    }
    asio::io_context io;
    udp::socket socket(io);
    if (!openFrom(socket, interfaceAddress, true)) return false;

    bool factoryOnSegment = false;
    for (const auto& record : list)
        if (deviceOf(record.description) == deviceOf(chosen->description) &&
            isInSubnet(kFactoryAddress, record.ip, record.mask))
            factoryOnSegment = true;
    if (factoryOnSegment)
        sendEmpty(socket, kFactoryAddress, kFactoryPort);
    else
        LOG_DEBUG(L"The factory address %1% isn't on the segment of the interface '%2%'; it isn't asked",
                  kFactoryAddress, chosen->description);

    bool sent = false;
    if (!chosen->broadcast.empty()) sent = sendEmpty(socket, chosen->broadcast, port);
    sent = sendEmpty(socket, kLimitedBroadcast, port) || sent;
    return sent;
}

bool hasStream(const std::string& interfaceAddress, const std::string& groupAndPort,
               std::chrono::milliseconds wait) {
    if (!hasNetworkInterface(interfaceAddress))
        throw exception::ExternalError(formatted(L"Сетевой интерфейс с ip='%1%' адресом не существует", interfaceAddress),
                                       L"");
    std::string groupText;
    std::uint16_t port = 0;
    boost::system::error_code error;
    asio::ip::address_v4 group;
    if (net::splitIpAndPort(groupAndPort, &groupText, &port) && port != 0)
        group = asio::ip::make_address_v4(groupText, error);
    if (port == 0 || error || !group.is_multicast())
        throw exception::ExternalError(formatted(L"Неверный формат мультикаст адреса '%1%'", groupAndPort), L"");
    const auto local = asio::ip::make_address_v4(interfaceAddress);

    asio::io_context io;
    udp::socket socket(io);
    bool seen = false;
    std::array<char, 2048> buffer;
    udp::endpoint source;
    try {
        socket.open(udp::v4());
        socket.set_option(asio::socket_base::reuse_address(true));
        // Bound to the group, the socket takes that group's traffic alone.
        socket.bind(udp::endpoint(group, port));
        socket.set_option(asio::ip::multicast::join_group(group, local));
        socket.async_receive_from(asio::buffer(buffer), source,
                                  [&seen](const boost::system::error_code& received, std::size_t) {
                                      if (!received) seen = true;
                                  });
        io.run_for(wait);
    } catch (const boost::system::system_error& e) {
        LOG_WARN(L"The stream %1% can't be watched on '%2%': %3%", groupAndPort, interfaceAddress,
                 base::errorForOperator(e.code()));
    }
    boost::system::error_code ignored;
    socket.close(ignored);
    io.restart();
    io.run();  // the cancelled receive ends before its buffer does
    LOG_DEBUG(L"Stream %1% on '%2%': %3%", groupAndPort, interfaceAddress, seen ? L"present" : L"absent");
    return seen;
}

bool canConnect(const std::string& host, const std::string& service, std::chrono::milliseconds limit) {
    auto outcome = std::make_shared<std::promise<bool>>();
    std::future<bool> result = outcome->get_future();
    std::thread worker([outcome, host, service, limit] {
        bool connected = false;
        try {
            asio::io_context io;
            asio::ip::tcp::resolver resolver(io);
            asio::ip::tcp::socket socket(io);
            resolver.async_resolve(host, service, [&](const boost::system::error_code& error,
                                                      const asio::ip::tcp::resolver::results_type& found) {
                if (error) return;
                asio::async_connect(socket, found,
                                    [&](const boost::system::error_code& failed, const asio::ip::tcp::endpoint&) {
                                        connected = !failed;
                                    });
            });
            io.run_for(limit);
        } catch (const std::exception&) {
            connected = false;
        }
        outcome->set_value(connected);
    });
    if (result.wait_for(limit + std::chrono::milliseconds(200)) == std::future_status::ready) {
        worker.join();
        return result.get();
    }
    worker.detach();  // still resolving: it ends by itself and touches only `outcome`
    LOG_DEBUG(L"No answer from '%1%' within %2% ms", host, static_cast<std::int64_t>(limit.count()));
    return false;
}

bool hasInternet() {
    const bool reachable = canConnect(kInternetHost, kInternetService, kInternetLimit);
    LOG_DEBUG(L"Internet is %1%", reachable ? L"reachable" : L"unreachable");
    return reachable;
}

}  // namespace os
