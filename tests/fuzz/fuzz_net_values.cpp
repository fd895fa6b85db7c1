// fuzz-area: base
// fuzz-dict: net_values.dict
// Address texts from devices, files and the settings: IPv4 addresses with
// and without a port, and hardware addresses. What one parser accepts the
// others must agree with, and a hardware address read back from its own
// text is the same address. The input is one text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/hardware_address.h"
#include "base/ip_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::uint32_t address = 0;
    std::uint16_t port = 0;
    (void)net::parseIp4AndPort(text, &address, &port);
    (void)net::parseIp4AndPort(text, &address, nullptr);
    (void)net::isIp4AddressText(text);

    // An address as a whole is its own dotted form, and the lenient readers
    // read the same number from it.
    std::uint32_t whole = 0;
    if (net::parseWholeIp4Address(text, &whole)) {
        const std::string dotted = std::to_string(whole >> 24) + "." + std::to_string(whole >> 16 & 0xFF) + "." +
                                   std::to_string(whole >> 8 & 0xFF) + "." + std::to_string(whole & 0xFF);
        std::uint32_t lenient = 0;
        if (dotted != text || !net::parseIp4AndPort(text, &lenient, nullptr) || lenient != whole)
            __builtin_trap();
    }

    // A stored address reads as the lenient reader read it, and its dotted
    // form is a whole address of the same number; every whole address is
    // one.
    std::uint32_t stored = 0;
    if (net::parseStoredIp4Address(text, &stored)) {
        std::uint32_t lenient = 0;
        std::uint32_t again = 0;
        if (!net::parseIp4AndPort(text, &lenient, nullptr) || lenient != stored ||
            !net::parseWholeIp4Address(net::dottedIp4Address(stored), &again) || again != stored)
            __builtin_trap();
    } else if (net::parseWholeIp4Address(text)) {
        __builtin_trap();
    }

    std::string addressText;
    if (net::splitIpAndPort(text, &addressText, &port)) {
        const net::IpAndPort endpoint(addressText, port);
        (void)endpoint.getWideText();
        if (endpoint.isValid() && net::IpAndPort(endpoint.getText(), endpoint.getPort()) != endpoint)
            __builtin_trap();
    }
    const net::Ip4Address ip(text);
    if (ip.isValid()) (void)net::Ip4Address(ip.getText()).getAddress();

    const net::HardwareAddress hardware(text);
    const std::string shown = hardware.toCharArray();
    if (hardware.isValid() && net::HardwareAddress(shown) != hardware) __builtin_trap();
    // A file's address as a whole is one the constructor reads alike.
    net::HardwareAddress read(0u, 0u);
    if (net::HardwareAddress::parse(text, read) && (!hardware.isValid() || read != hardware)) __builtin_trap();
    return 0;
}
