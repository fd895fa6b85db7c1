#include "os/pinger.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/log.h"
#include "base/system_error_text.h"
#include "os/network_interface.h"

namespace os {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr unsigned char kEchoRequest = 8;
constexpr unsigned char kEchoReply = 0;
constexpr const char* kPayload = "Sonvar echo request";

using Clock = std::chrono::steady_clock;

std::uint16_t wordAt(const std::string& data, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(data[at]) << 8) |
                                      static_cast<unsigned char>(data[at + 1]));
}

/// Closes the descriptor when the call ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

/// The unprivileged kind first; a raw socket when the system refuses it.
int openIcmpSocket(bool& raw) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = false;
    if (fd >= 0) return fd;
    const int dgramError = errno;
    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = true;
    if (fd >= 0) return fd;
    LOG_WARN(L"ICMP is not available to this process (%1%; raw: %2%); nothing is pinged",
             base::errnoForOperator(dgramError), base::errnoForOperator(errno));
    return -1;
}

}  // namespace

std::uint16_t icmpChecksum(const std::string& data) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < data.size(); i += 2) sum += wordAt(data, i);
    if (i < data.size()) sum += static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::string makeEchoRequest(std::uint16_t identifier, std::uint16_t sequence, const std::string& payload) {
    std::string packet(kHeaderSize, '\0');
    packet[0] = static_cast<char>(kEchoRequest);
    packet[4] = static_cast<char>(identifier >> 8);
    packet[5] = static_cast<char>(identifier & 0xFF);
    packet[6] = static_cast<char>(sequence >> 8);
    packet[7] = static_cast<char>(sequence & 0xFF);
    packet += payload;
    const std::uint16_t sum = icmpChecksum(packet);
    packet[2] = static_cast<char>(sum >> 8);
    packet[3] = static_cast<char>(sum & 0xFF);
    return packet;
}

bool isEchoReply(const std::string& packet, bool withIpHeader, std::uint16_t identifier, std::uint16_t sequence,
                 bool anyIdentifier) {
    std::size_t start = 0;
    if (withIpHeader) {
        if (packet.size() < 20) return false;
        start = (static_cast<unsigned char>(packet[0]) & 0x0F) * 4u;
        if (start < 20 || static_cast<unsigned char>(packet[9]) != IPPROTO_ICMP) return false;
    }
    if (packet.size() < start + kHeaderSize) return false;
    const std::string message = packet.substr(start);
    if (static_cast<unsigned char>(message[0]) != kEchoReply || message[1] != 0) return false;
    if (icmpChecksum(message) != 0) return false;
    if (!anyIdentifier && wordAt(message, 4) != identifier) return false;
    return wordAt(message, 6) == sequence;
}

bool ping(const std::string& address, std::chrono::milliseconds wait) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
        LOG_WARN(L"Can't ping '%1%': no address", address);
        return false;
    }
    bool raw = false;
    const Descriptor socket(openIcmpSocket(raw));
    if (socket.get() < 0) return false;

    const auto identifier = static_cast<std::uint16_t>(::getpid());
    const auto sequence = static_cast<std::uint16_t>(Clock::now().time_since_epoch().count() >> 10);
    const std::string request = makeEchoRequest(identifier, sequence, kPayload);
    if (::sendto(socket.get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target) < 0) {
        LOG_DEBUG(L"Echo request to '%1%' isn't sent: %2%", address, std::string(std::strerror(errno)));
        return false;
    }
    const auto deadline = Clock::now() + wait;
    char buffer[1500];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd ready{socket.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) break;
        sockaddr_in source{};
        socklen_t sourceSize = sizeof source;
        const ssize_t got = ::recvfrom(socket.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source),
                                       &sourceSize);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (source.sin_addr.s_addr != target.sin_addr.s_addr) continue;
        // The unprivileged socket's kernel gives the request its own identifier
        // and passes this socket only the replies that carry it.
        if (isEchoReply(std::string(buffer, static_cast<std::size_t>(got)), raw, identifier, sequence, !raw)) {
            LOG_TRACE(L"Echo reply from '%1%' (%2% socket)", address, raw ? L"raw" : L"unprivileged");
            return true;
        }
    }
    LOG_TRACE(L"No echo reply from '%1%' (%2% socket)", address, raw ? L"raw" : L"unprivileged");
    return false;
}

bool pingGateway(const std::string& interfaceAddress) {
    std::string gateway;
    for (const auto& record : getNetworkInterfaceList())
        if (record.ip == interfaceAddress) gateway = record.gateway;
    if (gateway.empty()) {
        LOG_DEBUG(L"no gateway ip for ping");
        return false;
    }
    return ping(gateway);
}

}  // namespace os
