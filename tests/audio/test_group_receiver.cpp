// ctest-labels: net
// The soak's receiver on a loopback multicast group: every datagram reaches
// the checker with the kernel's arrival time on the steady clock, so the gaps
// it reports are the gaps on the wire.
#include <chrono>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include "tools/soak/group_receiver.h"

namespace {

constexpr const char* kGroup = "224.0.226.9";
constexpr std::uint16_t kPort = 12609;

/// Sends 188-byte packets with counting continuity counters to the group.
class Sender {
public:
    Sender() {
        m_socket.set_option(boost::asio::ip::multicast::outbound_interface(boost::asio::ip::address_v4::loopback()));
    }
    void send() {
        std::vector<std::uint8_t> packet(soak::TsMonitor::kPacketSize, 0xFF);
        packet[0] = 0x47;
        packet[1] = 0x01;
        packet[3] = static_cast<std::uint8_t>(0x10 | (m_cc++ & 0x0F));
        m_socket.send_to(boost::asio::buffer(packet), m_to);
    }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket{m_io, boost::asio::ip::udp::v4()};
    boost::asio::ip::udp::endpoint m_to{boost::asio::ip::make_address(kGroup), kPort};
    unsigned m_cc = 0;
};

}  // namespace

TEST(GroupReceiver, HandsEveryDatagramOnWithItsArrivalTime) {
    soak::TsMonitor monitor;
    {
        soak::GroupReceiver receiver(kGroup, kPort, monitor);
        Sender sender;
        for (int i = 0; i < 20; ++i) {
            sender.send();
            std::this_thread::sleep_for(std::chrono::milliseconds(i == 10 ? 150 : 5));
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (monitor.figures().datagrams < 20 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto figures = monitor.figures();
    EXPECT_EQ(figures.datagrams, 20u);
    EXPECT_EQ(figures.ccErrors, 0u);
    // The one long pause, measured on the wire: not shorter than slept, and
    // not stretched by a wrong clock.
    EXPECT_GE(figures.largestGapUs, 150'000);
    EXPECT_LT(figures.largestGapUs, 1'000'000);
    EXPECT_EQ(figures.largestGapAfterDatagrams, 11u);
}

TEST(GroupReceiver, RefusesAnAddressThatIsNoGroup) {
    soak::TsMonitor monitor;
    EXPECT_THROW(soak::GroupReceiver("not an address", kPort, monitor), std::runtime_error);
}
