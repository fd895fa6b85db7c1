#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace device {

/// The transport's one UDP socket. It is bound to the control port on every
/// address: on Linux a socket bound to one interface address does not
/// receive the devices' broadcasts. When an interface is chosen, datagrams
/// that arrived on another interface are dropped (IP_PKTINFO) and datagrams
/// leave with the interface address as their source.
///
/// Receiving runs on the thread that runs the io_context; send() may be
/// called from one other thread at the same time (it uses the descriptor
/// directly, never the asio object); close() runs on the io_context's thread
/// or after every sender has stopped.
class ControlSocket {
public:
    /// Called on the io_context's thread for every datagram let through.
    using Deliver = std::function<void(std::string&& text, std::uint32_t address, std::uint16_t port)>;

    /// Throws exception::ExternalError "Не удалось открыть порт управления
    /// устройствами" with the system's reason when the socket cannot be made
    /// or bound, or when no interface has the given address. An empty text or
    /// "0.0.0.0" chooses no interface. Port 0 binds any free port.
    ControlSocket(boost::asio::io_context& io, std::uint16_t port, const std::string& interfaceIp);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    std::uint16_t port() const { return m_port; }

    /// Sends one datagram; on failure returns false with the system's reason.
    bool send(std::uint32_t address, std::uint16_t port, const std::string& data, std::string& error);

    /// Starts receiving; every datagram goes to `deliver` until close().
    void startReceiving(Deliver deliver);
    void close();

private:
    void waitForData();
    void drain();

    boost::asio::ip::udp::socket m_socket;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::uint32_t m_interfaceAddress = 0;  // host order; 0: no interface chosen
    unsigned m_interfaceIndex = 0;
    Deliver m_deliver;
    std::vector<char> m_buffer;
};

}  // namespace device
