// ctest-labels: net
// The simulator's own guard: whatever the tests and the soak ask of it, it
// places devices on loopback only; and its devices send their state packets
// on their own schedules, as real ones do. What the simulated devices answer
// is checked by every device test that talks to them.
#include <chrono>
#include <stdexcept>
#include <thread>

#include <sys/socket.h>
#include <sys/time.h>

#include <boost/asio/ip/udp.hpp>
#include <gtest/gtest.h>

#include "tools/simulator/simulator.h"

using device::sim::Simulator;
using namespace std::chrono_literals;

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

// A device held up by the simulator's threads sends the packet it owes late
// and the next one on its old schedule: were the schedule to restart from the
// late packet, every device held up by one stall would go on sending in step.
TEST(Simulator, StatePacketsKeepTheirScheduleAfterAHoldUp) {
    namespace asio = boost::asio;
    using Clock = std::chrono::steady_clock;
    asio::io_context io;
    asio::ip::udp::socket server(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    const timeval limit{2, 0};
    ASSERT_EQ(setsockopt(server.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit), 0);
    const auto arrival = [&] {
        char buffer[1500];
        asio::ip::udp::endpoint from;
        server.receive_from(asio::buffer(buffer), from);
        return Clock::now();
    };

    Simulator simulator(1);
    auto& device = simulator.addOrvel("127.0.1.1", 0, Simulator::hardwareAddress(1));
    simulator.start();
    device.startStatePackets(server.local_endpoint(), 200ms);
    const Clock::time_point first = arrival();
    // The packet due at 400 ms waits for the model until about 700 ms; the
    // one due at 600 ms is missed altogether.
    std::this_thread::sleep_until(first + 300ms);
    device.withModel<device::sim::Model>([](device::sim::Model&) {
        std::this_thread::sleep_for(400ms);
        return 0;
    });
    arrival();  // 200 ms
    const auto late = arrival() - first;
    const auto next = arrival() - first;
    const auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
    EXPECT_GE(ms(late), 650);
    EXPECT_NEAR(ms(next), 800, 60);
    simulator.stop();
}
