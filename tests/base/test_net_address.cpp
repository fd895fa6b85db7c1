#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/hardware_address.h"
#include "base/ip_address.h"
#include "tests/base/log_fixture.h"

namespace {

class NetAddress : public LogFixture {
protected:
    void SetUp() override { startLog(base::Log::DEBUG); }

    std::vector<std::wstring> takeWarnings() { return observedAt(L"WARN", true); }
};

const char* kInvalidMac = "AA:BB:CC:DD:EE:FF";

}  // namespace

TEST_F(NetAddress, AddressTextsGoodAndBad) {
    struct Case { const char* text; bool valid; std::uint32_t number; const char* kept; bool warns; };
    const Case cases[] = {
        {"192.168.1.20", true, 0xC0A80114, "192.168.1.20", false},
        {"1.2.3.4:80", true, 0x01020304, "1.2.3.4:80", false},  // the port stays in the text
        {"00.0.0.0", true, 0, "00.0.0.0", false},                // not spelled as the empty address
        {" 10. 0.0.1", true, 0x0A000001, " 10. 0.0.1", false},  // blanks before a number are skipped
        {"0.0.0.0", false, 0, "0.0.0.0", false},                 // the empty address, no warning
        {"1.2.3", false, 0, "0.0.0.0", true},
        {"256.1.1.1", false, 0, "0.0.0.0", true},
        {"1.2.3.4:65536", false, 0, "0.0.0.0", true},
        {"a.b.c.d", false, 0, "0.0.0.0", true},
        {"-1.2.3.4", false, 0, "0.0.0.0", true},          // scanf would wrap it to 4294967295
        {"-4294967295.2.3.4", false, 0, "0.0.0.0", true},  // ... and this one to 1
        {"4294967297.0.0.0", false, 0, "0.0.0.0", true},   // a 32-bit wrap would read 1.0.0.0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const net::Ip4Address address(c.text);
        EXPECT_EQ(address.isValid(), c.valid);
        EXPECT_EQ(address.getAddress(), c.number);
        EXPECT_STREQ(address.getText(), c.kept);
        const auto warnings = takeWarnings();
        EXPECT_EQ(warnings, c.warns ? std::vector<std::wstring>{L"Некорректный IP адрес '" + base::toWide(c.text) + L"'"}
                                    : std::vector<std::wstring>{});
    }

    std::uint32_t number = 7;
    std::uint16_t port = 9;
    EXPECT_FALSE(net::parseIp4AndPort("1.2.3.4", &number, &port));  // no port: the address is stored anyway
    EXPECT_EQ(number, 0x01020304u);
    number = 7;
    EXPECT_FALSE(net::parseIp4AndPort("1.2.3.4:65536", &number, &port));
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(port, 9);
}

// For every text that scanf reads without wrapping a number, the parser
// answers exactly as "%u.%u.%u.%u:%u" does.
TEST_F(NetAddress, ParseAgreesWithScanfOnRandomTexts) {
    std::mt19937 random(20261206);
    auto chance = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const char* strays[] = {".", ":", " ", "x", ",", ".:"};
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;  // address-shaped, with missing or long numbers, blanks, stray separators
        const int count = chance(4) == 0 ? 1 + chance(6) : 4 + chance(2);
        for (int part = 0; part < count; ++part) {
            if (chance(20) == 0) text += ' ';
            for (int digits = chance(6) == 0 ? chance(12) : 1 + chance(3); digits > 0; --digits)
                text += static_cast<char>('0' + chance(10));
            if (part + 1 < count) text += chance(8) != 0 ? (part < 3 ? "." : ":") : strays[chance(6)];
        }
        unsigned long p[5] = {};
        const int n = std::sscanf(text.c_str(), "%lu.%lu.%lu.%lu:%lu", &p[0], &p[1], &p[2], &p[3], &p[4]);
        if (*std::max_element(p, p + 5) > 0xFFFFFFFFul) continue;  // where "%u" would wrap
        const bool isAddress = n >= 4 && std::max({p[0], p[1], p[2], p[3]}) <= 255;
        const bool parses = isAddress && (n == 4 || p[4] <= 65535);
        std::uint32_t number = 0;
        SCOPED_TRACE(text);
        ASSERT_EQ(net::parseIp4AndPort(text, &number, nullptr), parses);
        ASSERT_EQ(net::isIp4AddressText(text), isAddress);
        if (parses) {
            ASSERT_EQ(number, (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]);
        }
        accepted += parses;
    }
    EXPECT_GT(accepted, 1000);  // the sample reached the accepting paths
}

// "1.2.3.4.5" in a file was read as 1.2.3.4 and never told: where a text
// must be an address and nothing else, any tail, blank, port or leading zero
// (octal to the system's readers) makes it none.
TEST_F(NetAddress, AnAddressWithATailIsNoWholeAddress) {
    std::uint32_t number = 0;
    EXPECT_TRUE(net::parseWholeIp4Address("10.213.0.255", &number));
    EXPECT_EQ(number, 0x0AD500FFu);
    EXPECT_TRUE(net::parseWholeIp4Address("0.0.0.0"));
    for (const char* bad : {"1.2.3.4.5", "1.2.3.4.", "1.2.3.4 ", " 1.2.3.4", "1. 2.3.4", "1.2.3.4x", "1.2.3.4:80",
                            "01.2.3.4", "1.2.3.00", "1.2.3.0004", "256.1.1.1", "+1.2.3.4", "1..2.3", "1.2.3", ""}) {
        number = 7;
        EXPECT_FALSE(net::parseWholeIp4Address(bad, &number)) << bad;
        EXPECT_EQ(number, 7u) << bad << ": nothing stored";
    }
    EXPECT_FALSE(net::parseWholeIp4Address(std::string("1.2.3.4\0", 8))) << "a NUL ends no text";
    // A device's own record may write its parts with leading zeros; a tail
    // is refused there all the same.
    EXPECT_TRUE(net::isWholeDeviceAddressText("192.168.001.010"));
    for (const char* bad : {"1.2.3.4.5", "1.2.3.4 ", "1.2.3.4x", "1.2.3.0004", "256.1.1.1"})
        EXPECT_FALSE(net::isWholeDeviceAddressText(bad)) << bad;
}

// The last version took "224.0.224.01" in its settings dialog and
// "10.0.0.04" from devices and stored them; the whole-text rule refused them
// when read back, which ended the start or dropped the device's address.
TEST_F(NetAddress, AStoredAddressWithLeadingZerosReadsAsDecimal) {
    const std::pair<const char*, std::uint32_t> stored[] = {
        {"224.0.224.01", 0xE000E001u}, {"10.0.0.04", 0x0A000004u},  {"10.0.0.010", 0x0A00000Au},
        {"010.08.09.0", 0x0A080900u},  {"1.2.3.0004", 0x01020304u}, {"0.00.000.0000", 0u},
    };
    for (const auto& [text, expected] : stored) {
        std::uint32_t number = 7;
        EXPECT_TRUE(net::parseStoredIp4Address(text, &number)) << text;
        EXPECT_EQ(number, expected) << text << ": decimal, not octal";
        EXPECT_EQ(net::dottedIp4Address(number), net::dottedIp4Address(expected));
    }
    EXPECT_EQ(net::dottedIp4Address(0xE000E001u), "224.0.224.1");
    for (const char* bad : {"1.2.3.4.5", "1.2.3.4 ", " 1.2.3.4", "1.2.3.4:80", "1.2.3.0256", "1.2.3.1000", "1.2.3",
                            "1.2.3.4x", "1.2.3.-4", ""}) {
        std::uint32_t number = 7;
        EXPECT_FALSE(net::parseStoredIp4Address(bad, &number)) << bad;
        EXPECT_EQ(number, 7u) << bad << ": nothing stored";
    }
}

TEST_F(NetAddress, SplitRefusesBadPortsWithoutThrowing) {
    std::string text = "unchanged";
    std::uint16_t port = 9;
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.1", &text, &port));
    EXPECT_EQ(port, 9) << "no port: the port is left alone";
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.1:11990", &text, &port));
    EXPECT_EQ(text, "10.0.0.1");
    EXPECT_EQ(port, 11990);

    for (const char* bad : {"10.0.0.2:x", "10.0.0.2:", "10.0.0.2:65536", "10.0.0.2:-1", "10.0.0.2: 80",
                            "10.0.0.2:80x", "10.0.0.2:+80", "10.0.0.2:99999999999999999999", "10.0.0:80"}) {
        SCOPED_TRACE(bad);
        text = "unchanged";
        bool result = true;
        EXPECT_NO_THROW(result = net::splitIpAndPort(bad, &text, &port));
        EXPECT_FALSE(result);
        EXPECT_EQ(text, "unchanged");
        EXPECT_EQ(port, 11990);
    }
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.3:x", &text, nullptr));  // the port isn't asked for
    EXPECT_EQ(text, "10.0.0.3");
}

TEST_F(NetAddress, EndpointsTextValidityAndOrder) {
    EXPECT_FALSE(net::IpAndPort("10.0.0.1", 0).isValid());
    EXPECT_EQ(net::IpAndPort("10.0.0.256", 11990).getWideText(), L"0.0.0.0:11990");

    // By number, then port, whatever the texts say.
    std::map<net::IpAndPort, int> endpoints;
    endpoints[net::IpAndPort("10.0.0.2", 1)] = 1;
    endpoints[net::IpAndPort("9.255.255.255", 65535)] = 2;
    endpoints[net::IpAndPort("10.0.0.1", 2)] = 3;
    endpoints[net::IpAndPort("10.0.0.1", 1)] = 4;
    endpoints[net::IpAndPort("010.0.0.1", 1)] = 5;  // the same endpoint spelled otherwise
    std::vector<int> order;
    for (const auto& e : endpoints) order.push_back(e.second);
    EXPECT_EQ(order, (std::vector<int>{2, 5, 3, 1}));
}

TEST_F(NetAddress, HardwareAddressTexts) {
    // `whole`: a file's reader takes it too.
    struct Case { const char* text; std::uint32_t high; std::uint32_t low; const char* shown; bool whole; };
    const Case cases[] = {
        {"00:1A:2B:3C:4D:5E", 0x001A2B, 0x3C4D5E, "00:1A:2B:3C:4D:5E", true},
        {"a:b:c:d:e:f", 0x0A0B0C, 0x0D0E0F, "0A:0B:0C:0D:0E:0F", true},
        {"01:02:03:04:05:06 trailing", 0x010203, 0x040506, "01:02:03:04:05:06", false},
        {"01:02:03:04:05:0ff", 0x010203, 0x0405FF, "01:02:03:04:05:FF", false},
        {"01:02:03:04:05:100", 0, 0, kInvalidMac, false},  // would spill into the fifth byte
        {"001:02:03:04:05:06", 0, 0, kInvalidMac, false},
        {"01:02:03:04:05:", 0, 0, kInvalidMac, false},
        {"-1:02:03:04:05:06", 0, 0, kInvalidMac, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const net::HardwareAddress address{std::string(c.text)};
        const bool valid = c.shown != kInvalidMac;
        EXPECT_EQ(address.isValid(), valid);
        EXPECT_EQ(address.getHigh(), c.high);
        EXPECT_EQ(address.getLow(), c.low);
        EXPECT_EQ(takeWarnings().size(), valid ? 0u : 1u);
        EXPECT_STREQ(address.toCharArray(), c.shown);
        EXPECT_EQ(takeWarnings(), valid ? std::vector<std::wstring>{}
                                        : std::vector<std::wstring>{L"Запрошен некорректный аппаратный адрес"});
        if (valid) {
            EXPECT_EQ(net::HardwareAddress(std::string(c.shown)), address) << "the text reads back";
        }
        // The quiet reading of files takes the whole addresses among them,
        // and tells nothing.
        net::HardwareAddress parsed(0x111111, 0x111111);
        EXPECT_EQ(net::HardwareAddress::parse(c.text, parsed), c.whole);
        EXPECT_TRUE(parsed.isValid());
        EXPECT_EQ(parsed.getLow(), c.whole ? c.low : 0x111111u) << "untouched when refused";
        EXPECT_TRUE(takeWarnings().empty());
    }
    net::HardwareAddress{std::string("01-02")};
    EXPECT_EQ(takeWarnings(), std::vector<std::wstring>{L"Получен некорректный аппаратный адрес '01-02'"});
}

TEST_F(NetAddress, HardwareAddressFromHalves) {
    EXPECT_STREQ(net::HardwareAddress(0x123456, 0xFFFFFF).toCharArray(), "12:34:56:FF:FF:FF");
    EXPECT_FALSE(net::HardwareAddress(0x123456, 0x1000000).isValid());
    EXPECT_FALSE(net::HardwareAddress(0x1000000, 1).isValid());
    EXPECT_EQ(takeWarnings(), (std::vector<std::wstring>{
                                  L"Получены неверные части аппаратного адреса '00123456, 01000000'",
                                  L"Получены неверные части аппаратного адреса '01000000, 00000001'"}));

    // A device named by its 24-bit address gets the maker's prefix: locally
    // administered (bit 1 of the first byte) and unicast (bit 0 clear).
    const net::HardwareAddress device(0x0D0E0Fu);
    EXPECT_STREQ(device.toCharArray(), "02:56:53:0D:0E:0F");
    EXPECT_EQ(net::HardwareAddress(std::string("02:56:53:0d:0e:0f")), device);
}

TEST_F(NetAddress, HardwareAddressesKeyAMapByTheirBytes) {
    std::map<net::HardwareAddress, int> devices;
    devices[net::HardwareAddress(std::string("00:00:01:00:00:00"))] = 1;
    devices[net::HardwareAddress(std::string("00:00:00:FF:FF:FF"))] = 2;
    devices[net::HardwareAddress(std::string("FF:00:00:00:00:00"))] = 3;
    devices[net::HardwareAddress(std::string("00:00:00:00:00:01"))] = 4;
    devices[net::HardwareAddress(std::string("0:0:0:0:0:1"))] = 5;  // the same key as 4
    // A part above a byte gives the invalid key, never another device's key.
    devices[net::HardwareAddress(std::string("00:00:00:00:01:100"))] = 6;
    std::vector<int> order;
    for (const auto& d : devices) order.push_back(d.second);
    EXPECT_EQ(order, (std::vector<int>{6, 5, 2, 1, 3}));
    EXPECT_EQ(devices.count(net::HardwareAddress(std::string("00:00:00:00:02:00"))), 0u);
}
