// ctest-labels: net
// The soak's receiver on a loopback multicast group: every datagram reaches
// the checker with the kernel's arrival time on the steady clock, so the gaps
// it reports are the gaps on the wire.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/soak/group_receiver.h"

namespace {

constexpr const char* kGroup = "224.0.226.9";
constexpr std::uint16_t kPort = 12609;

/// Sends 188-byte packets with counting continuity counters to the group.
class Sender {
public:
    Sender() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        in_addr local{};
        ::inet_pton(AF_INET, "127.0.0.1", &local);
        ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local);
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(kPort);
        ::inet_pton(AF_INET, kGroup, &m_to.sin_addr);
    }
    ~Sender() { ::close(m_fd); }
    void send() {
        std::vector<std::uint8_t> packet(soak::TsMonitor::kPacketSize, 0xFF);
        packet[0] = 0x47;
        packet[1] = 0x01;
        packet[3] = static_cast<std::uint8_t>(0x10 | (m_cc++ & 0x0F));
        ::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&m_to), sizeof m_to);
    }

private:
    int m_fd = -1;
    sockaddr_in m_to{};
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
