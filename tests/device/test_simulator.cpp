// ctest-labels: net
// The simulator's own guard: whatever the tests and the soak ask of it, it
// places devices on loopback only. What the simulated devices answer is
// checked by every device test that talks to them.
#include <stdexcept>

#include <gtest/gtest.h>

#include "tools/simulator/simulator.h"

using device::sim::Simulator;

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
