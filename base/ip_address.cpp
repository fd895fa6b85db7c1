#include "base/ip_address.h"

#include <boost/format.hpp>

#include "base/address_scan.h"
#include "base/log.h"

namespace net {

namespace {

/// Reads up to five numbers as "%u.%u.%u.%u:%u" does; returns how many.
int scanAddressParts(const std::string& text, std::uint64_t (&parts)[5]) {
    static const char separators[] = {'.', '.', '.', ':'};
    const char* p = text.c_str();
    int count = 0;
    while (count < 5 && detail::scanUnsigned(p, 10, text.size(), parts[count])) {
        ++count;
        if (count == 5 || !detail::scanLiteral(p, separators[count - 1])) break;
    }
    return count;
}

bool isDecimalPort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 0xFFFF) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool parseIp4AndPort(const std::string& text, std::uint32_t* address, std::uint16_t* port) {
    std::uint64_t parts[5] = {};
    const int count = scanAddressParts(text, parts);
    if (count != 4 && count != 5) return false;
    for (int i = 0; i < 4; ++i)
        if (parts[i] > 255) return false;
    if (count == 5 && parts[4] > 0xFFFF) return false;
    if (address != nullptr)
        *address = static_cast<std::uint32_t>(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
    if (port == nullptr) return true;
    if (count == 4) return false;
    *port = static_cast<std::uint16_t>(parts[4]);
    return true;
}

bool isIp4AddressText(const std::string& text) {
    std::uint64_t parts[5] = {};
    if (scanAddressParts(text, parts) < 4) return false;
    for (int i = 0; i < 4; ++i)
        if (parts[i] > 255) return false;
    return true;
}

namespace {

/// Whether a part of an address may begin with "0" before other digits.
enum class LeadingZeros {
    Refused,   // other readers take them for octal
    InThree,   // at most three digits in all ("001")
    Any,       // any number of them before the part's at most three digits
};

bool wholeAddress(const std::string& text, LeadingZeros zeros, std::uint32_t* address) {
    std::uint32_t value = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        if (zeros == LeadingZeros::Any)
            while (at + 1 < text.size() && text[at] == '0' && text[at + 1] >= '0' && text[at + 1] <= '9') ++at;
        const std::size_t first = at;
        std::uint32_t number = 0;
        while (at < text.size() && at - first < 3 && text[at] >= '0' && text[at] <= '9')
            number = number * 10 + static_cast<std::uint32_t>(text[at++] - '0');
        const std::size_t digits = at - first;
        // A fourth digit, or a leading zero where it is refused.
        if (digits == 0 || number > 255 || (zeros == LeadingZeros::Refused && digits > 1 && text[first] == '0'))
            return false;
        if (at < text.size() && text[at] >= '0' && text[at] <= '9') return false;
        value = value << 8 | number;
    }
    if (at != text.size()) return false;
    if (address != nullptr) *address = value;
    return true;
}

}  // namespace

bool parseWholeIp4Address(const std::string& text, std::uint32_t* address) {
    return wholeAddress(text, LeadingZeros::Refused, address);
}

bool isWholeDeviceAddressText(const std::string& text) {
    return wholeAddress(text, LeadingZeros::InThree, nullptr);
}

bool parseStoredIp4Address(const std::string& text, std::uint32_t* address) {
    return wholeAddress(text, LeadingZeros::Any, address);
}

std::string dottedIp4Address(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool splitIpAndPort(const std::string& text, std::string* addressText, std::uint16_t* port) {
    if (!isIp4AddressText(text)) return false;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        if (addressText != nullptr) *addressText = text;
        return true;
    }
    // The port is checked before anything is stored: a text a device sent
    // back must not leave half a result or an exception behind.
    std::uint16_t value = 0;
    if (port != nullptr && !isDecimalPort(text.substr(colon + 1), value)) return false;
    if (addressText != nullptr) *addressText = text.substr(0, colon);
    if (port != nullptr) *port = value;
    return true;
}

Ip4Address::Ip4Address(const std::string& text) {
    m_valid = parseIp4AndPort(text, &m_address, nullptr);
    if (!m_valid) {
        m_address = 0;
        LOG_WARN(L"Некорректный IP адрес '%1%'", text);
        return;
    }
    if (text == "0.0.0.0") {
        m_valid = false;
        return;
    }
    m_text = text;
}

IpAndPort::IpAndPort() { toString(); }

IpAndPort::IpAndPort(const std::string& addressText, std::uint16_t port)
    : Ip4Address(addressText), m_port(port) {
    toString();
}

void IpAndPort::toString() {
    // Widened byte by byte: an address text is plain ASCII.
    m_wideText = (boost::wformat(L"%1%:%2%") % std::wstring(m_text.begin(), m_text.end()) % m_port).str();
}

}  // namespace net
