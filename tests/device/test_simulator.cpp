// ctest-labels: net
#include <map>
#include <stdexcept>

#include "base/exception.h"
#include "device/command.h"
#include "device/state_packet.h"
#include "tests/device/device_test_support.h"

using namespace std::chrono_literals;
using device::sim::Endpoint;
using device::sim::Simulator;
using device_test::endpointOf;

namespace {

/// The server side: a transport that collects the state packets it hears.
class Server {
public:
    Server() : m_transport(0, "") {
        m_transport.setAllResponseHandler([this](const std::string& text, const net::IpAndPort& source) {
            net::HardwareAddress address(0, 0);
            if (!device::isStatePacket(text, address)) return false;
            device::Version version;
            device::parseStatePacketVersion(text, version);
            std::lock_guard<std::mutex> lock(m_mutex);
            auto& seen = m_seen[address.toCharArray()];
            ++seen.packets;
            seen.typeCode = version.typeCode;
            seen.source = source;
            return true;
        });
        m_transport.run();
    }
    struct Seen {
        int packets = 0;
        std::uint64_t typeCode = 0;
        net::IpAndPort source;
    };
    std::map<std::string, Seen> seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    bool waitFor(std::size_t devices, int packetsEach) {
        return device_test::waitUntil([&] {
            std::size_t ready = 0;
            for (const auto& entry : seen()) ready += entry.second.packets >= packetsEach;
            return ready >= devices;
        });
    }
    Endpoint endpoint() const { return Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport.getPort()); }
    device::TransferProtocol& transport() { return m_transport; }

private:
    device::TransferProtocol m_transport;
    std::mutex m_mutex;
    std::map<std::string, Seen> m_seen;
};

}  // namespace

TEST(Simulator, DevicesAnnounceThemselvesByStatePackets) {
    Server server;
    Simulator simulator(2);
    for (unsigned n = 0; n < 4; ++n) {
        const auto address = Simulator::loopbackAddress("127.0.3.1", n);
        auto& device = n == 3   ? simulator.addTovik(*address, 0, Simulator::hardwareAddress(n + 1))
                       : n == 2 ? simulator.addOrvel(*address, 0, Simulator::hardwareAddress(n + 1),
                                                     device::sim::kDefaultOrvel510Version)
                                : simulator.addOrvel(*address, 0, Simulator::hardwareAddress(n + 1));
        device.startStatePackets(server.endpoint(), 40ms);
    }
    simulator.start();
    ASSERT_TRUE(server.waitFor(4, 3)) << "every device keeps sending";
    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.at("02:56:53:00:00:01").typeCode, device::kTypeOrvel610);
    EXPECT_EQ(std::string(seen.at("02:56:53:00:00:01").source.getText()), "127.0.3.1");
    EXPECT_EQ(seen.at("02:56:53:00:00:03").typeCode, device::kTypeOrvel510);
    EXPECT_EQ(seen.at("02:56:53:00:00:04").typeCode, device::kTypeTovik30);
    EXPECT_EQ(std::string(seen.at("02:56:53:00:00:04").source.getText()), "127.0.3.4");
    simulator.stop();
}

TEST(Simulator, AnEmptyDatagramDrawsAStatePacket) {
    Server server;
    Simulator simulator;
    auto& speaker = simulator.addOrvel("127.0.0.9", 0, "02:56:53:00:00:09");
    speaker.startStatePackets(server.endpoint(), 0ms);  // the first packet only, then silence
    simulator.start();
    ASSERT_TRUE(server.waitFor(1, 1));
    boost::asio::io_context io;
    boost::asio::ip::udp::socket search(io, Endpoint(boost::asio::ip::udp::v4(), 0));
    search.send_to(boost::asio::buffer(std::string()), speaker.endpoint());
    ASSERT_TRUE(server.waitFor(1, 2));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.seen().at("02:56:53:00:00:09").packets, 2);
}

TEST(Simulator, ModelsAnswerTheirCommands) {
    Server server;
    Simulator simulator;
    auto& speaker = simulator.addOrvel("127.0.0.2", 0, "02:56:53:00:00:02");
    auto& old = simulator.addOrvel("127.0.0.3", 0, "02:56:53:00:00:03", device::sim::kDefaultOrvel510Version);
    auto& console = simulator.addTovik("127.0.0.4", 0, "02:56:53:00:00:04");
    simulator.start();
    auto ask = [&](const device::sim::SimulatedDevice& device, const char* request) {
        std::string reply;
        EXPECT_TRUE(server.transport().sync(endpointOf(device), request, reply, 2, 500)) << request;
        return reply;
    };
    EXPECT_EQ(ask(speaker, "get ver"), device::sim::kDefaultOrvelVersion);
    EXPECT_TRUE(device::handleResponse(ask(speaker, "set vol -96")));
    EXPECT_EQ(ask(speaker, "get vol"), "-96");
    EXPECT_THROW(device::handleResponse(ask(speaker, "get volume")), exception::UnexpectedResponseOfDevice)
        << "not a command";
    EXPECT_THROW(device::handleResponse(ask(speaker, "set vol")), exception::UnexpectedResponseOfDevice) << "no level";
    EXPECT_EQ(ask(old, "get vol"), "1E:1E") << "Orvel-510 firmware speaks in level pairs";
    EXPECT_EQ(ask(console, "get vol"), "50");
    EXPECT_EQ(speaker.withModel<device::sim::OrvelModel>([](auto& model) { return model.volume; }), "-96");
}

TEST(Simulator, StaysOnLoopback) {
    Simulator simulator;
    for (const char* address : {"192.168.100.1", "0.0.0.0", "255.255.255.255"})
        EXPECT_THROW(simulator.addOrvel(address, 0, "02:56:53:00:00:01"), std::invalid_argument) << address;
    EXPECT_EQ(Simulator::loopbackAddress("127.0.1.1", 0), "127.0.1.1");
    EXPECT_EQ(Simulator::loopbackAddress("127.0.1.1", 300), "127.0.2.45");
    EXPECT_EQ(Simulator::loopbackAddress("127.255.255.254", 1), "127.255.255.255");
    EXPECT_EQ(Simulator::loopbackAddress("127.255.255.254", 2), std::nullopt);
    EXPECT_EQ(Simulator::hardwareAddress(0x10203), "02:56:53:01:02:03");
}
