#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

// The keep-alive datagrams that the common stream's group carries while the
// stream is idle: an empty UDP datagram each interval. The sending survives
// the network going away under it (a cable pulled, an interface or its
// address gone, no buffers after hibernation) and resumes when the network
// is back; anything else ends it.
namespace keep_alive {

constexpr std::chrono::milliseconds k_interval{1000};

/// The socket the datagrams leave by, behind an interface that a test can
/// make fail. Used by the sending thread only.
class Link {
public:
    virtual ~Link() = default;
    /// Opens the socket with its local end and options; a failure leaves it
    /// closed.
    virtual boost::system::error_code open() = 0;
    /// Sends one empty datagram to the group.
    virtual boost::system::error_code send() = 0;
    virtual void close() = 0;
    /// The local address the datagrams leave from, as the settings name it;
    /// empty for any.
    virtual std::string localAddress() const { return {}; }
};

/// UDP from `local` (any address when empty; else also the outgoing
/// multicast interface) and `local_port`, shared with other programs on this
/// computer, to `to` with the multicast time-to-live `ttl`.
class UdpLink : public Link {
public:
    /// Throws boost::system::system_error for a local text that is no IPv4
    /// address, std::out_of_range for a time-to-live outside 0..255.
    UdpLink(const std::string& local, std::uint16_t local_port, const boost::asio::ip::udp::endpoint& to,
            int ttl);

    boost::system::error_code open() override;
    boost::system::error_code send() override;
    void close() override;
    std::string localAddress() const override;

private:
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket{m_io};
    boost::asio::ip::address_v4 m_local;
    bool m_any_local;
    std::uint16_t m_local_port;
    boost::asio::ip::udp::endpoint m_to;
    int m_ttl;
};

/// Whether a failure is the network's own (no route, interface down or
/// gone, the local address gone, no buffers): it passes when the network
/// comes back.
bool is_network_cause(const boost::system::error_code& error);

/// Opens the link and sends a datagram every `interval` until `stopped` is
/// true or the boost thread is interrupted (boost::thread_interrupted, also
/// during the wait). A failure of the network is waited out: a send that
/// failed closes the socket, and the next interval opens it anew (an address
/// that went away and came back, an interface made anew) or, while the local
/// address is absent, tries again. Each spell of such failures is told to
/// the operator once (a WARN, a notice: the streams cannot go out, and why),
/// each further cause of the spell in the log alone, and its end in the log;
/// no buffers after hibernation alone is no spell to tell. Any other failure
/// throws boost::system::system_error.
void send_until_stopped(Link& link, std::chrono::milliseconds interval, const std::function<bool()>& stopped);

}  // namespace keep_alive
