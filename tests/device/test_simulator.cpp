// ctest-labels: net
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/command.h"
#include "device/state_packet.h"
#include "device/transfer_protocol.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::sim::Endpoint;
using device::sim::Simulator;

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
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < end) {
            const auto now = seen();
            std::size_t ready = 0;
            for (const auto& entry : now) ready += entry.second.packets >= packetsEach;
            if (ready >= devices) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    Endpoint endpoint() const { return Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport.getPort()); }
    device::TransferProtocol& transport() { return m_transport; }

private:
    device::TransferProtocol m_transport;
    std::mutex m_mutex;
    std::map<std::string, Seen> m_seen;
};

net::IpAndPort endpointOf(const device::sim::SimulatedDevice& device) {
    return net::IpAndPort(device.endpoint().address().to_string(), device.endpoint().port());
}

}  // namespace

TEST(Simulator, DevicesAnnounceThemselvesByStatePackets) {
    Server server;
    Simulator simulator(2);
    for (unsigned n = 0; n < 4; ++n) {
        const auto address = Simulator::loopbackAddress("127.0.3.1", n);
        auto& device = n < 3 ? simulator.addOrvel(*address, 0, Simulator::hardwareAddress(n + 1))
                             : simulator.addTovik(*address, 0, Simulator::hardwareAddress(n + 1));
        device.startStatePackets(server.endpoint(), 40ms);
    }
    simulator.start();
    ASSERT_TRUE(server.waitFor(4, 3)) << "every device keeps sending";
    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.at("02:56:53:00:00:01").typeCode, device::kTypeOrvel610);
    EXPECT_EQ(std::string(seen.at("02:56:53:00:00:01").source.getText()), "127.0.3.1");
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
    auto& transport = server.transport();
    std::string reply;

    ASSERT_TRUE(transport.sync(endpointOf(speaker), "get ver", reply, 2, 500));
    EXPECT_EQ(reply, device::sim::kDefaultOrvelVersion);
    ASSERT_TRUE(transport.sync(endpointOf(speaker), "set vol -96", reply, 2, 500));
    EXPECT_TRUE(device::handleResponse(reply));
    ASSERT_TRUE(transport.sync(endpointOf(speaker), "get vol", reply, 2, 500));
    EXPECT_EQ(reply, "-96");
    ASSERT_TRUE(transport.sync(endpointOf(speaker), "get volume", reply, 2, 500));
    EXPECT_THROW(device::handleResponse(reply), exception::UnexpectedResponseOfDevice) << "not a command";
    ASSERT_TRUE(transport.sync(endpointOf(speaker), "set vol", reply, 2, 500));
    EXPECT_THROW(device::handleResponse(reply), exception::UnexpectedResponseOfDevice) << "no level";

    ASSERT_TRUE(transport.sync(endpointOf(old), "get vol", reply, 2, 500));
    EXPECT_EQ(reply, "1E:1E") << "Orvel-510 firmware speaks in level pairs";
    ASSERT_TRUE(transport.sync(endpointOf(console), "get vol", reply, 2, 500));
    EXPECT_EQ(reply, "50");
    EXPECT_EQ(speaker.withModel<device::sim::OrvelModel>([](auto& model) { return model.volume; }), "-96");
}

TEST(Simulator, StaysOnLoopback) {
    Simulator simulator;
    EXPECT_THROW(simulator.addOrvel("192.168.100.1", 0, "02:56:53:00:00:01"), std::invalid_argument);
    EXPECT_THROW(simulator.addOrvel("0.0.0.0", 0, "02:56:53:00:00:01"), std::invalid_argument);
    EXPECT_THROW(simulator.addOrvel("255.255.255.255", 0, "02:56:53:00:00:01"), std::invalid_argument);
    EXPECT_EQ(Simulator::loopbackAddress("127.0.1.1", 0), "127.0.1.1");
    EXPECT_EQ(Simulator::loopbackAddress("127.0.1.1", 300), "127.0.2.45");
    EXPECT_EQ(Simulator::loopbackAddress("127.255.255.254", 1), "127.255.255.255");
    EXPECT_EQ(Simulator::loopbackAddress("127.255.255.254", 2), std::nullopt);
    EXPECT_EQ(Simulator::hardwareAddress(0x10203), "02:56:53:01:02:03");
}
