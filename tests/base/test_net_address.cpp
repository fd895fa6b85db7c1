#include <cstdio>
#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "base/hardware_address.h"
#include "base/ip_address.h"
#include "tests/base/log_fixture.h"

using base::Log;

namespace {

class NetAddress : public LogFixture {
protected:
    void SetUp() override { startLog(Log::DEBUG); }

    /// Observed WARN messages since the last call.
    std::vector<std::wstring> takeWarnings() {
        std::vector<std::wstring> warnings;
        for (const auto& line : observed())
            if (line.rfind(L"WARN|", 0) == 0) warnings.push_back(line.substr(5));
        std::lock_guard<std::mutex> lock(m_observedMutex);
        m_observed.clear();
        return warnings;
    }
};

}  // namespace

TEST_F(NetAddress, AddressTextsGoodAndBad) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t number;
        const char* keptText;
        bool warns;
    };
    const Case cases[] = {
        {"192.168.1.20", true, 0xC0A80114, "192.168.1.20", false},
        {"1.2.3.4:80", true, 0x01020304, "1.2.3.4:80", false},  // the port stays in the text
        {"00.0.0.0", true, 0, "00.0.0.0", false},                // not spelled as the empty address
        {"255.255.255.255", true, 0xFFFFFFFF, "255.255.255.255", false},
        {" 10. 0.0.1", true, 0x0A000001, " 10. 0.0.1", false},  // blanks before a number are skipped
        {"0.0.0.0", false, 0, "0.0.0.0", false},                 // the empty address, no warning
        {"1.2.3", false, 0, "0.0.0.0", true},
        {"256.1.1.1", false, 0, "0.0.0.0", true},
        {"1.2.3.4:65536", false, 0, "0.0.0.0", true},
        {"", false, 0, "0.0.0.0", true},
        {"a.b.c.d", false, 0, "0.0.0.0", true},
        {"1,2,3,4", false, 0, "0.0.0.0", true},
        {"-1.2.3.4", false, 0, "0.0.0.0", true},          // scanf would wrap it to 4294967295
        {"-4294967295.2.3.4", false, 0, "0.0.0.0", true},  // ... and this one to 1
        {"4294967297.0.0.0", false, 0, "0.0.0.0", true},   // 32-bit wrap would read 1.0.0.0
        {"99999999999999999999999.1.1.1", false, 0, "0.0.0.0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const net::Ip4Address address(c.text);
        EXPECT_EQ(address.isValid(), c.valid);
        EXPECT_EQ(address.getAddress(), c.number);
        EXPECT_STREQ(address.getText(), c.keptText);
        const auto warnings = takeWarnings();
        if (c.warns) {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0], L"Некорректный IP адрес '" + base::toWide(c.text) + L"'");
        } else {
            EXPECT_TRUE(warnings.empty());
        }
    }
}

TEST_F(NetAddress, ParseStoresOnlyWhatItMayStore) {
    std::uint32_t address = 7;
    std::uint16_t port = 9;
    EXPECT_FALSE(net::parseIp4AndPort("1.2.3.4", &address, &port));  // no port: address stored anyway
    EXPECT_EQ(address, 0x01020304u);
    EXPECT_EQ(port, 9);

    address = 7;
    EXPECT_FALSE(net::parseIp4AndPort("1.2.3.4:65536", &address, &port));
    EXPECT_FALSE(net::parseIp4AndPort("1.2.3.256:80", &address, &port));
    EXPECT_EQ(address, 7u);
    EXPECT_EQ(port, 9);

    EXPECT_TRUE(net::parseIp4AndPort("10.0.0.1:65535 trailing", &address, &port));
    EXPECT_EQ(address, 0x0A000001u);
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(net::parseIp4AndPort("10.0.0.2:1", nullptr, &port));
    EXPECT_EQ(port, 1);
    EXPECT_TRUE(net::parseIp4AndPort("10.0.0.3", nullptr, nullptr));

    EXPECT_TRUE(net::isIp4AddressText("1.2.3.4:anything"));
    EXPECT_TRUE(net::isIp4AddressText("0.0.0.0"));
    EXPECT_FALSE(net::isIp4AddressText("1.2.3."));
    EXPECT_FALSE(net::isIp4AddressText("1.2.3.999"));
}

// For every text a scanf could read without wrapping a number, the address
// parser answers exactly as "%u.%u.%u.%u:%u" does.
TEST_F(NetAddress, ParseAgreesWithScanfOnRandomTexts) {
    // Texts shaped like addresses, with the usual faults mixed in: missing or
    // long numbers, blanks, stray separators.
    std::mt19937 random(20261206);
    auto chance = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const char* separators[] = {".", ".", ".", ".", ".", ":", ":", " ", "x", ",", ".:"};
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int count = chance(4) == 0 ? 1 + chance(6) : 4 + chance(2);
        for (int part = 0; part < count; ++part) {
            if (chance(20) == 0) text += ' ';
            for (int digits = chance(6) == 0 ? chance(12) : 1 + chance(3); digits > 0; --digits)
                text += static_cast<char>('0' + chance(10));
            if (part + 1 == count) break;
            if (chance(8) != 0) text += part < 3 ? "." : ":";
            else text += separators[chance(11)];
        }
        unsigned long parts[5] = {};
        const int n = std::sscanf(text.c_str(), "%lu.%lu.%lu.%lu:%lu", &parts[0], &parts[1], &parts[2],
                                  &parts[3], &parts[4]);
        bool huge = false;
        for (unsigned long part : parts) huge = huge || part > 0xFFFFFFFFul;
        if (huge) continue;  // where scanf's "%u" would wrap
        bool addressText = n >= 4;
        for (int k = 0; k < 4 && addressText; ++k) addressText = parts[k] <= 255;
        const bool expected = addressText && (n == 4 || parts[4] <= 65535);
        std::uint32_t address = 0;
        SCOPED_TRACE(text);
        ASSERT_EQ(net::parseIp4AndPort(text, &address, nullptr), expected);
        ASSERT_EQ(net::isIp4AddressText(text), addressText);
        if (expected) {
            ++accepted;
            ASSERT_EQ(address, (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
        }
    }
    EXPECT_GT(accepted, 1000);  // the sample did reach the accepting paths
}

TEST_F(NetAddress, SplitRefusesBadPortsWithoutThrowing) {
    std::string addressText = "unchanged";
    std::uint16_t port = 9;
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.1", &addressText, &port));
    EXPECT_EQ(addressText, "10.0.0.1");
    EXPECT_EQ(port, 9);

    EXPECT_TRUE(net::splitIpAndPort("10.0.0.1:11990", &addressText, &port));
    EXPECT_EQ(addressText, "10.0.0.1");
    EXPECT_EQ(port, 11990);

    for (const char* bad : {"10.0.0.2:x", "10.0.0.2:", "10.0.0.2:65536", "10.0.0.2:-1", "10.0.0.2: 80",
                            "10.0.0.2:80x", "10.0.0.2:+80", "10.0.0.2:99999999999999999999"}) {
        SCOPED_TRACE(bad);
        addressText = "unchanged";
        port = 9;
        bool result = true;
        EXPECT_NO_THROW(result = net::splitIpAndPort(bad, &addressText, &port));
        EXPECT_FALSE(result);
        EXPECT_EQ(addressText, "unchanged");
        EXPECT_EQ(port, 9);
    }
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.3:x", &addressText, nullptr));  // port not asked for
    EXPECT_EQ(addressText, "10.0.0.3");
    EXPECT_FALSE(net::splitIpAndPort("10.0.0:80", &addressText, &port));
    EXPECT_TRUE(net::splitIpAndPort("10.0.0.4:0", nullptr, &port));
    EXPECT_EQ(port, 0);
}

TEST_F(NetAddress, EndpointTextValidityAndOrder) {
    const net::IpAndPort empty;
    EXPECT_EQ(empty.getWideText(), L"0.0.0.0:0");
    EXPECT_FALSE(empty.isValid());

    const net::IpAndPort noPort("10.0.0.1", 0);
    EXPECT_FALSE(noPort.isValid());
    EXPECT_TRUE(static_cast<const net::Ip4Address&>(noPort).isValid());

    const net::IpAndPort bad("10.0.0.256", 11990);
    EXPECT_FALSE(bad.isValid());
    EXPECT_EQ(bad.getWideText(), L"0.0.0.0:11990");

    net::IpAndPort copy = net::IpAndPort("224.0.224.1", 11991);
    EXPECT_TRUE(copy.isValid());
    EXPECT_EQ(copy.getWideText(), L"224.0.224.1:11991");
    copy = noPort;
    EXPECT_EQ(copy.getWideText(), L"10.0.0.1:0");
    EXPECT_EQ(copy.getAddress(), 0x0A000001u);

    // Ordered by number then port, whatever the texts say.
    std::map<net::IpAndPort, int> endpoints;
    endpoints[net::IpAndPort("10.0.0.2", 1)] = 1;
    endpoints[net::IpAndPort("9.255.255.255", 65535)] = 2;
    endpoints[net::IpAndPort("10.0.0.1", 2)] = 3;
    endpoints[net::IpAndPort("10.0.0.1", 1)] = 4;
    endpoints[net::IpAndPort("010.0.0.1", 1)] = 5;  // the same endpoint spelled otherwise
    std::vector<int> order;
    for (const auto& e : endpoints) order.push_back(e.second);
    EXPECT_EQ(order, (std::vector<int>{2, 5, 3, 1}));
    EXPECT_EQ(net::IpAndPort("10.0.0.1", 1), net::IpAndPort("10.0.0.01", 1));
    EXPECT_NE(net::IpAndPort("10.0.0.1", 1), net::IpAndPort("10.0.0.1", 2));
}

TEST_F(NetAddress, HardwareAddressTexts) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t high;
        std::uint32_t low;
        const char* shown;
    };
    const Case cases[] = {
        {"00:1A:2B:3C:4D:5E", true, 0x001A2B, 0x3C4D5E, "00:1A:2B:3C:4D:5E"},
        {"a:b:c:d:e:f", true, 0x0A0B0C, 0x0D0E0F, "0A:0B:0C:0D:0E:0F"},
        {"ff:ee:dd:cc:bb:aa", true, 0xFFEEDD, 0xCCBBAA, "FF:EE:DD:CC:BB:AA"},
        {"01:02:03:04:05:06 trailing", true, 0x010203, 0x040506, "01:02:03:04:05:06"},
        {"01:02:03:04:05:0FF", true, 0x010203, 0x0405FF, "01:02:03:04:05:FF"},
        {"01:02:03:04:05:100", false, 0, 0, "AA:BB:CC:DD:EE:FF"},  // would spill into the fifth byte
        {"01:02:03:04:05:FFF", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"001:02:03:04:05:06", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"01-02-03-04-05-06", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"01:02:03:04:05", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"01:02:03:04:05:", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"0G:02:03:04:05:06", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"-1:02:03:04:05:06", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
        {"", false, 0, 0, "AA:BB:CC:DD:EE:FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const net::HardwareAddress address{std::string(c.text)};
        EXPECT_EQ(address.isValid(), c.valid);
        EXPECT_EQ(address.getHigh(), c.high);
        EXPECT_EQ(address.getLow(), c.low);
        takeWarnings();
        EXPECT_STREQ(address.toCharArray(), c.shown);
        const auto warnings = takeWarnings();
        if (c.valid) {
            EXPECT_TRUE(warnings.empty());
            EXPECT_TRUE(net::HardwareAddress(std::string(c.shown)) == address) << "the text reads back";
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0], L"Запрошен некорректный аппаратный адрес");
        }
    }
    takeWarnings();
    net::HardwareAddress{std::string("01-02-03-04-05-06")};
    const auto warnings = takeWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], L"Получен некорректный аппаратный адрес '01-02-03-04-05-06'");
}

TEST_F(NetAddress, HardwareAddressFromHalves) {
    const net::HardwareAddress full(0x123456, 0xFFFFFF);
    EXPECT_TRUE(full.isValid());
    EXPECT_STREQ(full.toCharArray(), "12:34:56:FF:FF:FF");

    const net::HardwareAddress tooLow(0x123456, 0x1000000);
    EXPECT_FALSE(tooLow.isValid());
    EXPECT_EQ(tooLow.getHigh(), 0u);
    EXPECT_EQ(tooLow.getLow(), 0u);
    const net::HardwareAddress tooHigh(0x1000000, 1);
    EXPECT_FALSE(tooHigh.isValid());
    const auto warnings = takeWarnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], L"Получены неверные части аппаратного адреса '00123456, 01000000'");
    EXPECT_EQ(warnings[1], L"Получены неверные части аппаратного адреса '01000000, 00000001'");

    // A device named by its 24-bit address alone gets the maker's prefix,
    // which is locally administered (bit 1 of the first byte) and unicast.
    const net::HardwareAddress device(0x0D0E0Fu);
    EXPECT_TRUE(device.isValid());
    EXPECT_EQ(device.getHigh(), net::kMakerPrefix);
    EXPECT_EQ(device.getLow(), 0x0D0E0Fu);
    EXPECT_EQ(net::kMakerPrefix >> 16 & 0x03, 0x02u);
    EXPECT_STREQ(device.toCharArray(), "02:56:53:0D:0E:0F");
    EXPECT_EQ(net::HardwareAddress(std::string("02:56:53:0d:0e:0f")), device);
    EXPECT_FALSE(net::HardwareAddress(0x1000000u).isValid());
}

TEST_F(NetAddress, HardwareAddressesKeyAMapByTheirBytes) {
    std::map<net::HardwareAddress, int> devices;
    devices[net::HardwareAddress(std::string("00:00:01:00:00:00"))] = 1;
    devices[net::HardwareAddress(std::string("00:00:00:FF:FF:FF"))] = 2;
    devices[net::HardwareAddress(std::string("FF:00:00:00:00:00"))] = 3;
    devices[net::HardwareAddress(std::string("00:00:00:00:00:01"))] = 4;
    // Same key as entry 4: case and leading zeros don't matter.
    devices[net::HardwareAddress(std::string("0:0:0:0:0:1"))] = 5;
    // Both a malformed text and one with a part above a byte are the invalid
    // key, never some other device's key.
    devices[net::HardwareAddress(std::string("00:00:00:00:01:100"))] = 6;
    std::vector<int> order;
    for (const auto& d : devices) order.push_back(d.second);
    EXPECT_EQ(order, (std::vector<int>{6, 5, 2, 1, 3}));
    EXPECT_EQ(devices.count(net::HardwareAddress(std::string("00:00:00:00:02:00"))), 0u);
    EXPECT_EQ(devices.count(net::HardwareAddress(0x000001, 0)), 1u);
}
