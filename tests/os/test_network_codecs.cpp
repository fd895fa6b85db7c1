// The parts of the network functions that need no system: the route table,
// the choice of the interface, subnets and the ICMP packets.
#include <gtest/gtest.h>

#include "os/network_interface.h"
#include "os/pinger.h"
#include "tests/support/counting_log_fixture.h"

using os::NetworkInterface;

namespace {

NetworkInterface record(const wchar_t* name, const char* ip, bool up) {
    NetworkInterface r;
    r.description = name;
    r.ip = ip;
    r.mask = "255.255.255.0";
    r.up = up;
    return r;
}

/// An IPv4 header of `headerWords` 32-bit words in front of an ICMP message.
std::string withIpHeader(const std::string& icmp, int headerWords = 5) {
    std::string header(static_cast<std::size_t>(headerWords) * 4, '\0');
    header[0] = static_cast<char>(0x40 | headerWords);
    header[9] = 1;  // ICMP
    return header + icmp;
}

/// The request turned into its reply, as the peer's kernel does it.
std::string replyTo(std::string request) {
    request[0] = 0;
    request[2] = request[3] = 0;
    const std::uint16_t sum = os::icmpChecksum(request);
    request[2] = static_cast<char>(sum >> 8);
    request[3] = static_cast<char>(sum & 0xFF);
    return request;
}

}  // namespace

TEST(RouteTable, DefaultGatewayPerInterfaceLowestMetricWins) {
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0200A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"   // lower metric: this one
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"     // the subnet, no gateway
        "wlan0\t00000000\t01020A0A\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"    // default without RTF_GATEWAY
        "eth1\t00000000\t014D0A0A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"     // not up
        "eth2\t00000000\t024D0A0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "broken line\n"
        "eth3\tzz\t024D0A0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    const auto gateways = os::parseDefaultGateways(table);
    ASSERT_EQ(gateways.size(), 2u);
    EXPECT_EQ(gateways.at("eth0"), "192.168.0.2") << "little-endian bytes, lowest metric";
    EXPECT_EQ(gateways.at("eth2"), "10.10.77.2");
    EXPECT_TRUE(os::parseDefaultGateways("").empty());
}

TEST(Subnets, MembershipAndDeviceNames) {
    EXPECT_TRUE(os::isInSubnet("192.168.100.1", "192.168.100.2", "255.255.255.0"));
    EXPECT_FALSE(os::isInSubnet("192.168.100.1", "192.168.1.2", "255.255.255.0"));
    EXPECT_TRUE(os::isInSubnet("192.168.100.1", "192.168.1.2", "255.255.0.0"));
    EXPECT_FALSE(os::isInSubnet("192.168.100.1", "192.168.100.2", ""));
    EXPECT_FALSE(os::isInSubnet("no address", "192.168.100.2", "255.255.255.0"));
    EXPECT_EQ(os::deviceOf(L"eth0:1"), "eth0");
    EXPECT_EQ(os::deviceOf(L"eth0"), "eth0");
}

using InterfaceChoice = CountingLogFixture;

TEST_F(InterfaceChoice, AddressWinsThenWorkingDescriptionThenFirstWorkingThenFirst) {
    startLog(base::Log::TRACE3);
    const std::vector<NetworkInterface> list = {record(L"eth0", "10.0.0.5", false), record(L"eth1", "10.0.1.5", true),
                                                record(L"wlan0", "10.0.2.5", true), record(L"eth2", "10.0.3.5", false)};
    EXPECT_EQ(os::chooseInterface(list, "10.0.0.5", L"wlan0"), 0u) << "the address wins, even when down";
    EXPECT_EQ(os::chooseInterface(list, "10.9.9.9", L"wlan0"), 2u) << "else the description";
    EXPECT_EQ(os::chooseInterface(list, "10.9.9.9", L"eth2"), 1u) << "a description of a down interface doesn't count";
    EXPECT_EQ(os::chooseInterface(list, "", L""), 1u) << "first run: the first working interface";
    const std::vector<NetworkInterface> down = {record(L"eth0", "10.0.0.5", false), record(L"eth1", "10.0.1.5", false)};
    EXPECT_EQ(os::chooseInterface(down, "", L""), 0u) << "none works: the first";
    EXPECT_EQ(os::chooseInterface({}, "10.0.0.5", L"eth0"), 0u) << "an empty list gives its size";
    EXPECT_EQ(loggedCount("the address decides"), 1) << "the address that wins over another description is logged";
}

TEST(IcmpCodec, ChecksumOfTheKnownExampleAndOfOddLengths) {
    // The example of RFC 1071: words 0001 f203 f4f5 f6f7 sum to ddf2 (folded),
    // the checksum is its complement.
    const std::string data("\x00\x01\xf2\x03\xf4\xf5\xf6\xf7", 8);
    EXPECT_EQ(os::icmpChecksum(data), 0x220D);
    EXPECT_EQ(os::icmpChecksum(std::string("\x01", 1)), static_cast<std::uint16_t>(~0x0100));
    const std::string request = os::makeEchoRequest(0x1234, 0xBEEF, "odd payload");
    EXPECT_EQ(request.size(), 8u + 11u);
    EXPECT_EQ(os::icmpChecksum(request), 0) << "a message with its checksum sums to zero";
    EXPECT_EQ(static_cast<unsigned char>(request[0]), 8u);
}

TEST(IcmpCodec, ReplyMatchesOnlyItsRequest) {
    const std::string reply = replyTo(os::makeEchoRequest(0x1234, 7, "payload"));
    EXPECT_TRUE(os::isEchoReply(reply, false, 0x1234, 7, false));
    EXPECT_TRUE(os::isEchoReply(withIpHeader(reply), true, 0x1234, 7, false));
    EXPECT_TRUE(os::isEchoReply(withIpHeader(reply, 6), true, 0x1234, 7, false)) << "IP options";
    EXPECT_FALSE(os::isEchoReply(reply, false, 0x1234, 8, false)) << "another sequence";
    EXPECT_FALSE(os::isEchoReply(reply, false, 0x4321, 7, false)) << "another identifier";
    EXPECT_TRUE(os::isEchoReply(reply, false, 0x4321, 7, true)) << "the kernel chose the identifier";
    EXPECT_FALSE(os::isEchoReply(withIpHeader(reply), false, 0x1234, 7, false)) << "header not expected";
    EXPECT_FALSE(os::isEchoReply(os::makeEchoRequest(0x1234, 7, "payload"), false, 0x1234, 7, false))
        << "our own request is no reply";
    std::string damaged = reply;
    damaged.back() ^= 0x01;
    EXPECT_FALSE(os::isEchoReply(damaged, false, 0x1234, 7, false)) << "checksum";
    EXPECT_FALSE(os::isEchoReply(reply.substr(0, 7), false, 0x1234, 7, false)) << "short";
    EXPECT_FALSE(os::isEchoReply(withIpHeader(reply).substr(0, 19), true, 0x1234, 7, false));
    std::string notIcmp = withIpHeader(reply);
    notIcmp[9] = 17;
    EXPECT_FALSE(os::isEchoReply(notIcmp, true, 0x1234, 7, false));
}
