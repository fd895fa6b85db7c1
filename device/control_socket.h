#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace device {

/// A UDP socket of the transport. The first is bound to the control port on every
/// address: on Linux a socket bound to one interface address does not
/// receive the devices' broadcasts. When an interface is chosen, datagrams
/// that arrived on another interface are dropped (IP_PKTINFO) and datagrams
/// leave with the interface address as their source.
///
/// receive() blocks one thread (the transport's responder); send() may be
/// called from other threads at the same time; both use the descriptor
/// directly, never the asio object. Threads that take turns at receiving
/// must not overlap (the batch's buffers are the socket's). shutdown()
/// wakes the receiver; close() runs once no thread receives or sends any
/// more.
class ControlSocket {
public:
    /// Throws exception::ExternalError "Не удалось открыть порт управления
    /// устройствами" with the system's reason when the socket cannot be made
    /// or bound, or when no interface has the given address. An empty text or
    /// "0.0.0.0" chooses no interface. Port 0 binds any free port.
    ControlSocket(boost::asio::io_context& io, std::uint16_t port, const std::string& interfaceIp);
    /// One more socket on the port of `first`, which shares the port's
    /// unicast datagrams with it (SO_REUSEPORT: the kernel keeps each
    /// sender on one socket); it drops broadcasts and multicasts, which
    /// every socket of the port gets and `first` already takes.
    ControlSocket(boost::asio::io_context& io, const ControlSocket& first);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    std::uint16_t port() const { return m_port; }

    /// Sends one datagram; on failure returns false with the system's reason.
    bool send(std::uint32_t address, std::uint16_t port, const std::string& data, std::string& error);

    struct Datagram {
        std::string text;
        std::uint32_t address;  // host order
        std::uint16_t port;
        /// When the kernel took it in (steady clock): a reader that fell
        /// behind reads it later. The time it was read when the kernel tells none.
        std::chrono::steady_clock::time_point arrival;
    };

    /// Waits for datagrams that pass the interface filter and returns those
    /// that have come (at least one, at most kBatch); false once the socket
    /// is shut down.
    bool receive(std::vector<Datagram>& datagrams);
    /// Takes the datagrams that have come (at most kBatch) without waiting;
    /// false when none passed the filter.
    bool receiveReady(std::vector<Datagram>& datagrams);
    /// Waits until a datagram is there, without taking it: false once the
    /// socket is shut down. The wait is exclusive, like receive()'s: the
    /// kernel wakes one of such waiters per datagram.
    bool waitForDatagram();
    /// For a wait of another thread (ThreadDispatcher::watch).
    int descriptor() const { return m_fd; }
    /// Makes the kernel deliver every datagram shaped like a state packet
    /// (the length of one, ':' after the first two characters) to this
    /// socket, the first of the port; other unicast datagrams keep being
    /// spread over the port's sockets by sender. Returns false, and the
    /// port stays as it was, when the system refuses.
    bool takeStatePackets();
    /// Ends a receive() that waits and every later one.
    void shutdown();
    void close();

private:
    boost::asio::ip::udp::socket m_socket;
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::uint32_t m_interfaceAddress = 0;  // host order; 0: no interface chosen
    bool m_unicastOnly = false;
    unsigned m_interfaceIndex = 0;
    static constexpr std::size_t kBatch = 16;
    /// One recvmmsg: the count of datagrams taken, or -1 with errno.
    int take(std::vector<Datagram>& datagrams, int flags);
    /// Whether a failed receive may be tried again at once; otherwise waits a little.
    static bool passing(int error);

    std::vector<std::vector<char>> m_buffers;  // the receiver's, one per datagram of a batch
    std::atomic<bool> m_shutDown{false};
};

}  // namespace device
