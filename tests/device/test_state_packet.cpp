#include <gtest/gtest.h>

#include "device/state_packet.h"
#include "tests/base/log_fixture.h"

using namespace device;

namespace {

const char kHw[] = "02:56:53:00:00:2A";

/// A loudspeaker packet padded (inside its build date) to exactly `size` bytes.
std::string packetOfSize(std::size_t size) {
    std::string packet = std::string(kHw) + ",100,0,0,0,1,0,0,1,0,0,3,1,0,0,0,Orvel-610 1.0.112.0 ";
    packet.resize(std::max(size, packet.size()), 'x');
    packet.resize(size);
    return packet;
}

}  // namespace

using StatePacket = LogFixture;

TEST_F(StatePacket, SizeBoundsAreTwentySixToTwoHundredFiftySix) {
    net::HardwareAddress address(0, 0);
    // One-digit address parts and an unknown model make a packet this short.
    const std::string shortest = "02:56:53:0:0:2A,X 1.0.0.1";
    ASSERT_EQ(shortest.size(), 25u);
    EXPECT_FALSE(isStatePacket(shortest, address));
    EXPECT_TRUE(isStatePacket(shortest + "0", address));  // 26
    EXPECT_EQ(address, net::HardwareAddress(0x025653, 0x2A));
    EXPECT_TRUE(isStatePacket(packetOfSize(256), address));
    EXPECT_FALSE(isStatePacket(packetOfSize(257), address));
}

TEST_F(StatePacket, RefusesOtherDatagramsWithoutLogging) {
    startLog(base::Log::TRACE3);
    net::HardwareAddress address(0x1, 0x2);
    const std::string version = ",0,0,Orvel-610 1.0.112.0 Mar 03 2021";
    for (const std::string& text : {
             std::string("OK: the command was accepted by the device"),   // ':' third, no address
             std::string("02-56-53-00-00-2A") + version,                  // third character not ':'
             std::string("02:56:53:00:00") + version,                     // five parts
             std::string("02:56:53:00:00:2A:01") + version,               // seven parts
             std::string("02:56:53:00:00:2AB") + version,                 // three digits
             std::string("02:56:53:00:0G:2A") + version,                  // not hexadecimal
             std::string(kHw) + ",0,0,Orvel-610 1.0.112",                 // version incomplete
             std::string(kHw) + " 0 0 Orvel-610 1.0.112.0 no commas at all",
         }) {
        EXPECT_FALSE(isStatePacket(text, address)) << text;
    }
    EXPECT_EQ(address, net::HardwareAddress(0x1, 0x2)) << "left as it was";
    base::Log::instance()->flush();
    EXPECT_TRUE(observed().empty()) << "every datagram passes here; nothing may be logged";
}

TEST_F(StatePacket, VersionIsTheCleanedTailAfterTheLastComma) {
    Version v;
    ASSERT_TRUE(parseStatePacketVersion(std::string(kHw) + ",1,2,Orvel-610 1.0.7\r.3 d\r\n", v));
    EXPECT_EQ(v.text, "Orvel-610 1.0.7.3 d");
    EXPECT_EQ(v.typeCode, kTypeOrvel610);
    ASSERT_TRUE(parseStatePacketVersion(std::string(kHw) + ",Orvel-610 2.0.1.0 d" + std::string(1, '\0'), v));
    EXPECT_EQ(v.typeCode, kTypeOrvel611) << "an Orvel-610 of major version 2 is an Orvel-611";
    ASSERT_TRUE(parseStatePacketVersion(std::string(kHw) + ",Orvel-45 2.0.1.0", v));
    EXPECT_EQ(v.typeCode, kTypeOrvel45) << "only the Orvel-610 changes its code";
    ASSERT_TRUE(parseStatePacketVersion(std::string(kHw) + ",Acme-7 1.0.0.0", v));
    EXPECT_EQ(v.typeCode, 0u) << "a foreign device is recognised with code 0; the collection refuses it";
    EXPECT_FALSE(parseStatePacketVersion("Orvel-610 1.0.1.0", v)) << "no comma";
}
