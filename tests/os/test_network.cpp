// ctest-labels: net
// The network functions against a peer namespace joined by a veth pair; both
// namespaces are the test's own (see PrivateNetwork), so whatever the
// functions send, to the factory address or to broadcasts, stays in them.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "os/network_interface.h"
#include "os/network_probe.h"
#include "os/pinger.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tests/support/private_network.h"

namespace asio = boost::asio;
using asio::ip::udp;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::msSince;

namespace {

/// One datagram a peer socket received: size, source and the destination of
/// its IP header.
struct Arrival {
    std::size_t size;
    std::string source, destination;
};

std::string text(in_addr address) {
    char buffer[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address, buffer, sizeof buffer);
}

/// A UDP socket of the peer bound to any address and `port`, reading with
/// IP_PKTINFO to tell a directed broadcast from a limited one.
class PeerReceiver {
public:
    PeerReceiver(testing_support::PrivateNetwork& network, std::uint16_t port) {
        m_fd = network.inPeer([port] {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
            ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_port = htons(port);
            return ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 ? fd : -1;
        });
        if (m_fd < 0) throw std::runtime_error("peer receiver");
        timeval wait{0, 300000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~PeerReceiver() { ::close(m_fd); }

    /// Everything that arrives until 300 ms pass without a datagram.
    std::vector<Arrival> drain() {
        std::vector<Arrival> arrivals;
        char data[2048], control[256];
        sockaddr_in source{};
        iovec part{data, sizeof data};
        for (;;) {
            msghdr message{&source, sizeof source, &part, 1, control, sizeof control, 0};
            const ssize_t got = ::recvmsg(m_fd, &message, 0);
            if (got < 0) return arrivals;
            arrivals.push_back({static_cast<std::size_t>(got), text(source.sin_addr), ""});
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                    arrivals.back().destination = text(reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr);
        }
    }

private:
    int m_fd = -1;
};

/// A peer that sends an empty datagram to `destination` every `period`,
/// leaving by the peer's end of the pair.
class PeerSender {
public:
    PeerSender(testing_support::PrivateNetwork& network, const std::string& destination, std::uint16_t port,
               std::chrono::milliseconds period) {
        m_socket = network.inPeer([&] {
            auto socket = std::make_unique<udp::socket>(m_io, udp::v4());
            socket->set_option(asio::ip::multicast::outbound_interface(asio::ip::make_address_v4("10.77.0.2")));
            return socket;
        });
        const udp::endpoint to(asio::ip::make_address_v4(destination), port);
        m_thread = std::thread([this, to, period] {
            while (!m_stop) {
                boost::system::error_code ignored;
                m_socket->send_to(asio::const_buffer(nullptr, 0), to, 0, ignored);
                for (auto waited = 0ms; waited < period && !m_stop; waited += 10ms) std::this_thread::sleep_for(10ms);
            }
        });
    }
    ~PeerSender() {
        m_stop = true;
        m_thread.join();
    }

private:
    asio::io_context m_io;
    std::unique_ptr<udp::socket> m_socket;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class Network : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        m_net.addressBothEnds();
    }
    /// The groups that may open unprivileged ICMP sockets, in this namespace
    /// only. A range of groups that a user namespace doesn't map is refused:
    /// check the outcome with ownGroupMayPing.
    static void setPingGroupRange(const std::string& range) {
        std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
    }
    static bool ownGroupMayPing() {
        std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
        unsigned first = 1, last = 0;
        range >> first >> last;
        return first <= ::getgid() && ::getgid() <= last;
    }

    testing_support::PrivateNetwork m_net;
};

}  // namespace

TEST_F(Network, InterfaceListWithMaskBroadcastStateAndGateway) {
    auto list = os::getNetworkInterfaceList();
    ASSERT_EQ(list.size(), 1u) << "loopback is skipped";
    EXPECT_EQ(list[0].description, L"svt0");
    EXPECT_EQ(list[0].ip, "10.77.0.1");
    EXPECT_EQ(list[0].mask, "255.255.255.0");
    EXPECT_EQ(list[0].broadcast, "10.77.0.255");
    EXPECT_TRUE(list[0].up);
    EXPECT_EQ(list[0].gateway, "");

    ASSERT_TRUE(m_net.here("route add default via 10.77.0.2"));
    ASSERT_TRUE(m_net.here("addr add 192.168.100.2/24 brd + dev svt0"));
    list = os::getNetworkInterfaceList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].gateway, "10.77.0.2");
    EXPECT_EQ(list[1].ip, "192.168.100.2");
    EXPECT_EQ(list[1].gateway, "10.77.0.2") << "every address of the interface has its gateway";

    EXPECT_TRUE(os::hasNetworkInterface("192.168.100.2"));
    EXPECT_FALSE(os::hasNetworkInterface("10.77.0.2")) << "the peer's";
    EXPECT_FALSE(os::hasNetworkInterface("127.0.0.1")) << "loopback is no interface to choose";
    EXPECT_EQ(os::getNetworkInterfaceByIp("10.77.0.1").gateway, "10.77.0.2");
    EXPECT_THROW(os::getNetworkInterfaceByIp("10.77.0.9"), exception::InternalError);
    EXPECT_EQ(os::nameToIp("10.1.1.1", L"svt0"), "10.77.0.1") << "the choice itself is tested without a system";

    ASSERT_TRUE(m_net.peer("link set svt1 down"));  // no carrier on our end
    const auto end = Clock::now() + 3s;
    while (os::getNetworkInterfaceList().at(0).up && Clock::now() < end) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(os::getNetworkInterfaceList().at(0).up) << "up means running too";
}

TEST_F(Network, DeviceSearchAndSingleAddressSendEmptyDatagrams) {
    ASSERT_TRUE(m_net.peer("addr add 192.168.100.1/24 dev svt1"));
    ASSERT_TRUE(m_net.here("addr add 192.168.100.2/24 brd + dev svt0"));
    PeerReceiver factory(m_net, os::kFactoryPort);
    PeerReceiver control(m_net, 11990);

    EXPECT_TRUE(os::findLostDevices("10.77.0.1", 11990));
    const auto atFactory = factory.drain();
    ASSERT_EQ(atFactory.size(), 1u);
    EXPECT_EQ(atFactory[0].size, 0u);
    EXPECT_EQ(atFactory[0].source, "10.77.0.1") << "from the interface";
    EXPECT_EQ(atFactory[0].destination, "192.168.100.1");
    auto atControl = control.drain();
    ASSERT_EQ(atControl.size(), 2u);
    std::set<std::string> destinations;
    for (const auto& a : atControl) {
        EXPECT_EQ(a.size, 0u);
        EXPECT_EQ(a.source, "10.77.0.1");
        destinations.insert(a.destination);
    }
    EXPECT_EQ(destinations, (std::set<std::string>{"10.77.0.255", "255.255.255.255"}));

    // One empty datagram to one address.
    EXPECT_TRUE(os::sendPackageToUdpAddress("10.77.0.1", "10.77.0.2", 11990));
    atControl = control.drain();
    ASSERT_EQ(atControl.size(), 1u);
    EXPECT_EQ(atControl[0].size, 0u);
    EXPECT_EQ(atControl[0].source, "10.77.0.1");
    EXPECT_FALSE(os::sendPackageToUdpAddress("10.77.0.9", "10.77.0.2", 11990)) << "no interface has the source";
    EXPECT_FALSE(os::sendPackageToUdpAddress("10.77.0.1", "no address", 11990));
    EXPECT_TRUE(control.drain().empty());
}

TEST_F(Network, DeviceSearchKeepsTheFactoryDatagramOnTheSegment) {
    // The peer would take the datagram as the default gateway; the search
    // must not hand it there when no address of ours is in the factory subnet.
    ASSERT_TRUE(m_net.peer("addr add 192.168.100.1/24 dev svt1"));
    ASSERT_TRUE(m_net.here("route add default via 10.77.0.2"));
    PeerReceiver factory(m_net, os::kFactoryPort);
    PeerReceiver control(m_net, 11990);
    EXPECT_TRUE(os::findLostDevices("10.77.0.1", 11990));
    EXPECT_TRUE(factory.drain().empty());
    EXPECT_EQ(control.drain().size(), 2u);
    EXPECT_TRUE(logged("isn't on the segment"));

    EXPECT_FALSE(os::findLostDevices("10.77.0.9", 11990)) << "no such interface";
    EXPECT_TRUE(control.drain().empty());
}

TEST_F(Network, PingThroughRawAndUnprivilegedSocketsAndToTheGateway) {
    setPingGroupRange("1 0");  // no group may: a raw socket is taken
    ASSERT_FALSE(ownGroupMayPing());
    EXPECT_TRUE(os::ping("10.77.0.2"));
    EXPECT_TRUE(logged("Echo reply from '10.77.0.2' (raw socket)"));
    auto start = Clock::now();
    EXPECT_FALSE(os::ping("10.77.0.99")) << "nobody has it";
    EXPECT_LT(msSince(start), 1300);
    EXPECT_GE(msSince(start), 950);

    // Our own group only: a user namespace maps no other.
    const std::string ownGroup = std::to_string(::getgid());
    setPingGroupRange(ownGroup + " " + ownGroup);
    ASSERT_TRUE(ownGroupMayPing());
    EXPECT_TRUE(os::ping("10.77.0.2"));
    EXPECT_TRUE(logged("Echo reply from '10.77.0.2' (unprivileged socket)"));
    EXPECT_FALSE(os::ping("not an address"));

    EXPECT_FALSE(os::pingGateway("10.77.0.1"));
    EXPECT_TRUE(logged("no gateway ip for ping"));
    ASSERT_TRUE(m_net.here("route add default via 10.77.0.2"));
    EXPECT_TRUE(os::pingGateway("10.77.0.1"));
    EXPECT_FALSE(os::pingGateway("10.77.0.9")) << "no such interface, no gateway";
}

TEST_F(Network, StreamSeenOnlyWhileTheGroupIsFed) {
    const auto start = Clock::now();
    EXPECT_FALSE(os::hasStream("10.77.0.1", "224.0.224.1:11991")) << "silence";
    EXPECT_GE(msSince(start), 2950) << "waits its 3 s";
    EXPECT_LT(msSince(start), 3500);
    {
        // Traffic to the port that is not the group's doesn't count.
        PeerSender otherGroup(m_net, "224.0.224.2", 11991, 100ms);
        PeerSender unicast(m_net, "10.77.0.1", 11991, 100ms);
        EXPECT_FALSE(os::hasStream("10.77.0.1", "224.0.224.1:11991", 1000ms));
    }
    PeerSender keepAlive(m_net, "224.0.224.1", 11991, 1000ms);  // another server's idle stream
    const auto seen = Clock::now();
    EXPECT_TRUE(os::hasStream("10.77.0.1", "224.0.224.1:11991"));
    EXPECT_LT(msSince(seen), 1500);
}

TEST_F(Network, StreamProbeRefusesUnknownInterfaceAndMalformedGroup) {
    const auto refusal = [](const char* ip, const char* group) -> std::wstring {
        try {
            os::hasStream(ip, group);
        } catch (const exception::ExternalError& e) {
            return e.getNotification();
        }
        return L"accepted";
    };
    EXPECT_EQ(refusal("10.77.0.9", "224.0.224.1:11991"), L"Сетевой интерфейс с ip='10.77.0.9' адресом не существует");
    for (const char* group : {"224.0.224.1", "224.0.224.1:", "224.0.224.1:0", "10.77.0.2:11991", "garbage"})
        EXPECT_EQ(refusal("10.77.0.1", group), L"Неверный формат мультикаст адреса '" + base::toWide(group) + L"'");
}

TEST_F(Network, InternetProbeWithinItsLimit) {
    auto start = Clock::now();
    EXPECT_FALSE(os::hasInternet());
    EXPECT_LT(msSince(start), 3500);

    asio::io_context io;
    asio::ip::tcp::acceptor listener(io, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    const std::string port = std::to_string(listener.local_endpoint().port());
    EXPECT_TRUE(os::canConnect("127.0.0.1", port, 1000ms));
    EXPECT_TRUE(os::canConnect("localhost", port, 1000ms)) << "resolved by name";
    listener.close();
    EXPECT_FALSE(os::canConnect("127.0.0.1", port, 1000ms)) << "refused";
    start = Clock::now();
    EXPECT_FALSE(os::canConnect("10.77.0.99", "80", 300ms)) << "nobody answers the address";
    EXPECT_LT(msSince(start), 700);
}
