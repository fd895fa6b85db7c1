#include "device/state_packet.h"

#include <cctype>

namespace device {

namespace {

/// Six parts of one or two hexadecimal digits joined by ':', and nothing else.
bool isHardwareAddressText(const std::string& text, std::size_t end) {
    std::size_t pos = 0;
    for (int part = 0; part < 6; ++part) {
        if (part > 0) {
            if (pos >= end || text[pos] != ':') return false;
            ++pos;
        }
        std::size_t digits = 0;
        while (pos < end && digits < 2 && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
            ++pos;
            ++digits;
        }
        if (digits == 0) return false;
    }
    return pos == end;
}

}  // namespace

bool isStatePacket(const std::string& text, net::HardwareAddress& address) {
    Version version;
    return isStatePacket(text, address, version);
}

bool isStatePacket(const std::string& text, net::HardwareAddress& address, Version& version) {
    if (text.size() < kMinStatePacket || text.size() > kMaxStatePacket || text[2] != ':') return false;
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || !isHardwareAddressText(text, comma)) return false;
    Version parsed;
    if (!parseStatePacketVersion(text, parsed)) return false;
    // At most 17 characters, as checked above.
    char head[18];
    text.copy(head, comma);
    head[comma] = '\0';
    const net::HardwareAddress found(head);
    if (!found.isValid()) return false;
    address = found;
    version = std::move(parsed);
    return true;
}

bool parseStatePacketVersion(const std::string& text, Version& version) {
    const std::size_t comma = text.rfind(',');
    if (comma == std::string::npos) return false;
    char kept[255];
    std::size_t size = 0;
    for (std::size_t i = comma + 1; i < text.size() && size < sizeof kept; ++i)
        if (text[i] != '\r' && text[i] != '\n' && text[i] != '\0') kept[size++] = text[i];
    Version parsed;
    if (!parseVersion(std::string(kept, size), parsed)) return false;
    if (parsed.typeCode == kTypeOrvel610 && parsed.major == 2) parsed.typeCode = kTypeOrvel611;
    version = std::move(parsed);
    return true;
}

}  // namespace device
