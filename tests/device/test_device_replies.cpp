// The reply parsing helpers of the device base class: tables, no network.
#include <cstdint>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/device_base.h"
#include "tests/support/counting_log_fixture.h"

using device::DeviceBase;

namespace {

class Replies : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
};

}  // namespace

TEST_F(Replies, SplitTakesTheLinesAfterTheFirstColon) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(DeviceBase::splitResponse("OK:\r\na\r\n\r\n b \n"), (Lines{"a", "b"}));
    EXPECT_EQ(DeviceBase::splitResponse("ip 10.0.0.1\nmask 255.0.0.0"), (Lines{"ip 10.0.0.1", "mask 255.0.0.0"}))
        << "no colon: the whole text";
    EXPECT_EQ(DeviceBase::splitResponse("OK: time 12:30\rnext"), (Lines{"time 12:30", "next"}))
        << "only the first colon cuts";
    EXPECT_EQ(DeviceBase::splitResponse("OK:"), Lines{});
    EXPECT_EQ(DeviceBase::splitResponse("OK:\n  \n\t\n"), Lines{}) << "blank pieces are dropped";
    EXPECT_EQ(DeviceBase::splitResponse(""), Lines{});
}

TEST_F(Replies, BoolFieldsOnWinsOverOff) {
    bool value = false;
    EXPECT_TRUE(DeviceBase::parseBoolValue("ON", value));
    EXPECT_TRUE(value);
    EXPECT_TRUE(DeviceBase::parseBoolValue("dhcp off", value));
    EXPECT_FALSE(value);
    EXPECT_TRUE(DeviceBase::parseBoolValue("Off / on", value));
    EXPECT_TRUE(value) << "\"on\" anywhere decides first";
    value = true;
    EXPECT_FALSE(DeviceBase::parseBoolValue("x", value));
    EXPECT_TRUE(value) << "untouched";
    EXPECT_EQ(loggedCount("It got incorrect type for bool value (x)"), 1);
}

TEST_F(Replies, IntegerFieldsWithinBoundsAndTheDhcpMark) {
    std::int32_t i32 = 7;
    EXPECT_TRUE(DeviceBase::parseIntValue(" -96\r\n", i32, -96, 0));
    EXPECT_EQ(i32, -96);
    EXPECT_FALSE(DeviceBase::parseIntValue("-97", i32, -96, 0));
    EXPECT_TRUE(DeviceBase::parseIntValue("+5", i32, -96, 10));
    EXPECT_EQ(i32, 5);

    std::uint32_t u32 = 7;
    EXPECT_TRUE(DeviceBase::parseIntValue("4294967295", u32, 0u, 0xFFFFFFFFu));
    EXPECT_EQ(u32, 0xFFFFFFFFu);
    EXPECT_FALSE(DeviceBase::parseIntValue("4294967296", u32, 0u, 0xFFFFFFFFu));
    EXPECT_FALSE(DeviceBase::parseIntValue("-1", u32, 0u, 0xFFFFFFFFu)) << "no wrap-around";
    EXPECT_FALSE(DeviceBase::parseIntValue("99999999999999999999999", u32, 0u, 0xFFFFFFFFu)) << "overflow";

    std::uint16_t u16 = 7;
    EXPECT_TRUE(DeviceBase::parseIntValue("11990", u16, 1, 65535));
    EXPECT_EQ(u16, 11990);
    EXPECT_FALSE(DeviceBase::parseIntValue("0", u16, 1, 65535));
    std::int16_t i16 = 7;
    EXPECT_TRUE(DeviceBase::parseIntValue("-32768", i16, -32768, 32767));
    EXPECT_EQ(i16, -32768);

    std::uint8_t u8 = 7;
    EXPECT_TRUE(DeviceBase::parseIntValue("255", u8, 0, 255));
    EXPECT_EQ(u8, 255);
    u8 = 7;
    for (const char* junk : {"256", "12x", "1 2", "0x10", "", " ", "-", "1.5"}) {
        EXPECT_FALSE(DeviceBase::parseIntValue(junk, u8, 0, 255)) << junk;
    }
    EXPECT_EQ(u8, 7) << "untouched by refused fields";
    EXPECT_EQ(loggedCount("It got incorrect integer value (12x)"), 1);

    EXPECT_EQ(DeviceBase::parseDhcpValue("ip dhcp on"), 3);
    EXPECT_EQ(DeviceBase::parseDhcpValue("ip 10.0.0.5"), -1);
}
