#include "audio/keep_alive.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>

#include "base/log.h"
#include "base/system_error_text.h"

namespace keep_alive {

namespace ip = boost::asio::ip;

UdpLink::UdpLink(const std::string& local, std::uint16_t local_port, const ip::udp::endpoint& to, int ttl)
    : m_local(local.empty() ? ip::address_v4::any() : ip::make_address_v4(local)),
      m_any_local(local.empty()),
      m_local_port(local_port),
      m_to(to),
      m_ttl(ttl) {
    if (ttl < 0 || ttl > 255) throw std::out_of_range("multicast hops value out of range");
}

boost::system::error_code UdpLink::open() {
    boost::system::error_code error;
    m_socket.open(ip::udp::v4(), error);
    // Shared: a second program on this computer (tests side by side) sends
    // its keep-alive from the same port.
    if (!error) m_socket.set_option(ip::udp::socket::reuse_address(true), error);
    if (!error) m_socket.bind(ip::udp::endpoint(m_local, m_local_port), error);
    if (!error && !m_any_local) m_socket.set_option(ip::multicast::outbound_interface(m_local), error);
    if (!error) m_socket.set_option(ip::multicast::hops(m_ttl), error);
    if (error) close();
    return error;
}

boost::system::error_code UdpLink::send() {
    boost::system::error_code error;
    m_socket.send_to(boost::asio::const_buffer(nullptr, 0), m_to, 0, error);
    return error;
}

void UdpLink::close() {
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

std::string UdpLink::localAddress() const { return m_any_local ? std::string() : m_local.to_string(); }

bool is_network_cause(const boost::system::error_code& error) {
    const auto& category = error.category();
    if (category != boost::system::system_category() && category != boost::system::generic_category()) return false;
    switch (error.value()) {
        // No route: the link is down, or the local address went with it.
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENONET:
        // The interface the socket was tied to is gone (made anew since).
        case ENODEV:
        // The local address is not there (yet).
        case EADDRNOTAVAIL:
        // Seen for a while after the computer wakes from hibernation.
        case ENOBUFS:
            return true;
        default:
            return false;
    }
}

namespace {

/// One spell of network failures: told to the operator once, when the try
/// after the first failure fails too (a single datagram lost is no spell to
/// tell, and by then the cause is the lasting one: a send from an address
/// that went away fails "no route" once, the opens after it "no such
/// address"); each cause once in the log, and the spell's end there. No
/// buffers after hibernation is logged only.
class Outage {
public:
    explicit Outage(std::string local) : m_local(std::move(local)) {}

    /// A failure of the network.
    void failed(const boost::system::error_code& cause) {
        const bool hibernation = cause == boost::asio::error::no_buffer_space;
        if (!hibernation) ++m_failures;
        const bool fresh = std::find(m_told.begin(), m_told.end(), cause) == m_told.end();
        if (fresh) m_told.push_back(cause);
        if (!m_toldOperator && m_failures >= 2) {
            m_toldOperator = true;
            tellOperator(cause);
        } else if (fresh && hibernation) {
            LOG_INFO(L"woke up from hibernate.");
        } else if (fresh) {
            LOG_INFO(L"keep-alive datagrams aren't sent: %1%; trying again", base::errorForOperator(cause));
        }
    }
    /// A datagram went out; logged when that ends a spell.
    void sent() {
        if (m_told.empty()) return;
        m_told.clear();
        m_failures = 0;
        m_toldOperator = false;
        LOG_INFO(L"keep-alive datagrams are sent again");
    }

private:
    void tellOperator(const boost::system::error_code& cause) const {
        const std::wstring why = base::errorForOperator(cause);
        if (m_local.empty())
            LOG_WARN(L"Потоки вещания не могут выйти в сеть: %1%. Вещание возобновится само, когда сеть вернётся",
                     why);
        else
            LOG_WARN(L"Потоки вещания не могут выйти в сеть через адрес %1% сетевого интерфейса из общих "
                     L"настроек: %2%. Вещание возобновится само, когда сеть вернётся",
                     m_local, why);
    }

    const std::string m_local;
    std::vector<boost::system::error_code> m_told;
    int m_failures = 0;  // of the network, not counting no buffers
    bool m_toldOperator = false;
};

/// True when the call succeeded; a failure of the network goes to the
/// outage, any other throws.
bool succeeded(const boost::system::error_code& error, Outage& outage) {
    if (!error) return true;
    if (!is_network_cause(error)) throw boost::system::system_error(error);
    outage.failed(error);
    return false;
}

}  // namespace

void send_until_stopped(Link& link, std::chrono::milliseconds interval,
                        const std::function<bool()>& stopped) {
    Outage outage(link.localAddress());
    bool open = succeeded(link.open(), outage);
    for (;;) {
        if (boost::this_thread::interruption_requested() || stopped()) return;
        boost::this_thread::sleep_for(boost::chrono::milliseconds(interval.count()));
        if (!open && !(open = succeeded(link.open(), outage))) continue;
        const boost::system::error_code error = link.send();
        if (!error) {
            outage.sent();
            continue;
        }
        // Made anew for the next one: the address or the interface the
        // socket was tied to may be gone, and come back as another.
        link.close();
        open = false;
        succeeded(error, outage);
    }
}

}  // namespace keep_alive
