#include "device/control_socket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <boost/asio/ip/address_v4.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "device/state_packet.h"

namespace device {

namespace asio = boost::asio;

namespace {

const wchar_t kOpenFailed[] = L"Не удалось открыть порт управления устройствами";

/// The index of the interface that holds the IPv4 address (host order); 0 when none does.
unsigned interfaceIndexOf(std::uint32_t address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (ifaddrs* entry = list; entry && index == 0; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (ntohl(in->sin_addr.s_addr) == address) index = if_nametoindex(entry->ifa_name);
    }
    freeifaddrs(list);
    return index;
}

/// The interface a received datagram came in on (IP_PKTINFO); 0 when not told.
unsigned arrivalInterface(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            return static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    return 0;
}

/// Whether the datagram was sent to this host's own address rather than to
/// a broadcast or multicast address (IP_PKTINFO); true when not told.
bool sentToUs(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            return info.ipi_addr.s_addr == info.ipi_spec_dst.s_addr;
        }
    }
    return true;
}

/// Asks the kernel to stamp each received datagram with its arrival
/// (SO_TIMESTAMPNS); without the stamps a datagram counts as come when read.
void stampArrivals(int descriptor) {
    const int on = 1;
    if (setsockopt(descriptor, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        LOG_DEBUG(L"received datagrams are not stamped: %1%", std::string(std::strerror(errno)));
}

/// The system clock and the steady clock read at one moment, to take the
/// kernel's stamps over to the steady clock.
struct ClockReading {
    timespec system{};
    std::chrono::steady_clock::time_point steady;
};

/// Reads both clocks. A pause between the system clock's reading and the
/// steady one after it (the thread preempted) places every datagram of the
/// batch later than it came by the pause's length, and one that came before
/// a request left could be taken for its reply. A reading of the steady
/// clock before the system one bounds that pause: the pair is read again
/// while the two steady readings lie apart, and the closest try stands. A
/// datagram then seems to come at most that much later than it did, never
/// earlier (before the request it answers was sent).
ClockReading readClocks() {
    constexpr auto kClose = std::chrono::microseconds(20);
    constexpr int kTries = 5;
    ClockReading best;
    auto apart = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < kTries && apart > kClose; ++i) {
        ClockReading reading;
        const auto before = std::chrono::steady_clock::now();
        clock_gettime(CLOCK_REALTIME, &reading.system);
        reading.steady = std::chrono::steady_clock::now();
        if (reading.steady - before >= apart) continue;
        apart = reading.steady - before;
        best = reading;
    }
    return best;
}

/// When the datagram came, by the kernel's stamp (system clock) taken over
/// to the steady clock through `clocks` read just after the read;
/// `clocks.steady` when the kernel told none.
std::chrono::steady_clock::time_point arrivalOf(msghdr& message, const ClockReading& clocks) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            const std::int64_t age =
                (static_cast<std::int64_t>(clocks.system.tv_sec) - stamp.tv_sec) * 1000000000 +
                (clocks.system.tv_nsec - stamp.tv_nsec);
            // A system clock set meanwhile misplaces it; set back, it counts as come when read.
            return clocks.steady - std::chrono::nanoseconds(std::max<std::int64_t>(age, 0));
        }
    }
    return clocks.steady;
}

}  // namespace

ControlSocket::ControlSocket(asio::io_context& io, const ControlSocket& first)
    : m_socket(io), m_buffers(kBatch, std::vector<char>(65536)) {
    m_interfaceAddress = first.m_interfaceAddress;
    m_interfaceIndex = first.m_interfaceIndex;
    m_unicastOnly = true;
    try {
        m_socket.open(asio::ip::udp::v4());
        const int on = 1;
        if (setsockopt(m_socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
            setsockopt(m_socket.native_handle(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
            throw boost::system::system_error(errno, boost::system::system_category());
        const int bufferSize = 4 << 20;
        setsockopt(m_socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        stampArrivals(m_socket.native_handle());
        m_socket.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), first.m_port));
        m_port = first.m_port;
    } catch (const boost::system::system_error& error) {
        boost::system::error_code ignored;
        m_socket.close(ignored);
        LOG_DEBUG(L"control socket: %1%", std::string(error.what()));
        throw exception::ExternalError(kOpenFailed, base::errorForOperator(error.code()));
    }
    m_fd = m_socket.native_handle();
}

ControlSocket::ControlSocket(asio::io_context& io, std::uint16_t port, const std::string& interfaceIp)
    : m_socket(io), m_buffers(kBatch, std::vector<char>(65536)) {
    if (!interfaceIp.empty() && interfaceIp != "0.0.0.0") {
        boost::system::error_code error;
        const auto address = asio::ip::make_address_v4(interfaceIp, error);
        if (error)
            throw exception::ExternalError(kOpenFailed, L"Некорректный адрес интерфейса '" + base::toWide(interfaceIp) + L"'");
        m_interfaceAddress = address.to_uint();
        m_interfaceIndex = interfaceIndexOf(m_interfaceAddress);
        if (m_interfaceIndex == 0)
            throw exception::ExternalError(kOpenFailed, L"Нет сетевого интерфейса с адресом '" + base::toWide(interfaceIp) + L"'");
    }
    try {
        m_socket.open(asio::ip::udp::v4());
        if (m_interfaceIndex != 0) {
            const int on = 1;
            if (setsockopt(m_socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)
                throw boost::system::system_error(errno, boost::system::system_category());
        }
        // The responder reads the socket between its handlers: a site's
        // burst of state packets waits in the kernel meanwhile (the system
        // may cap the size; what it grants is enough for hundreds of devices).
        const int bufferSize = 4 << 20;
        setsockopt(m_socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
        stampArrivals(m_socket.native_handle());
        // The port is shared with the transport's further sockets
        // (SO_REUSEPORT), which would let another program of the same user
        // share it too: a socket without the option tries the port first,
        // so that a port in use is refused as before (and port 0 is chosen).
        {
            asio::ip::udp::socket probe(io);
            probe.open(asio::ip::udp::v4());
            probe.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), port));
            port = probe.local_endpoint().port();
        }
        const int on = 1;
        setsockopt(m_socket.native_handle(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
        m_socket.bind(asio::ip::udp::endpoint(asio::ip::address_v4::any(), port));
        m_port = m_socket.local_endpoint().port();
    } catch (const boost::system::system_error& error) {
        boost::system::error_code ignored;
        m_socket.close(ignored);
        LOG_DEBUG(L"control socket: %1%", std::string(error.what()));
        throw exception::ExternalError(kOpenFailed, base::errorForOperator(error.code()));
    }
    m_fd = m_socket.native_handle();
    LOG_DEBUG(L"control socket on port %1%, interface '%2%'", m_port, interfaceIp);
}

bool ControlSocket::takeStatePackets() {
    // A classic BPF program of the port's group: it sees the UDP payload
    // and answers the index of the socket, in the order they joined the
    // port; an index past the last lets the kernel choose by sender.
    constexpr std::uint32_t kFirst = 0;
    constexpr std::uint32_t kBySender = 0xffffffffu;
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kMinStatePacket, 0, 4),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kMaxStatePacket, 3, 0),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 2),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ':', 0, 1),
        BPF_STMT(BPF_RET | BPF_K, kFirst),
        BPF_STMT(BPF_RET | BPF_K, kBySender),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_REUSEPORT_CBPF, &program, sizeof program) != 0) {
        LOG_DEBUG(L"state packets stay spread over the port: %1%", std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

ControlSocket::~ControlSocket() {
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

bool ControlSocket::send(std::uint32_t address, std::uint16_t port, const std::string& data, std::string& error) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    iovec part{const_cast<char*>(data.data()), data.size()};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;

    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (m_interfaceAddress != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(m_interfaceAddress);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    if (sendmsg(m_fd, &message, MSG_NOSIGNAL) >= 0) return true;
    error = std::strerror(errno);
    return false;
}

void ControlSocket::shutdown() {
    m_shutDown = true;
    // On Linux this also wakes a thread blocked in recvmsg on this unconnected
    // socket (which then reads 0 bytes), though it reports ENOTCONN.
    ::shutdown(m_fd, SHUT_RDWR);
}

void ControlSocket::close() {
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

int ControlSocket::take(std::vector<Datagram>& datagrams, int flags) {
    datagrams.clear();
    sockaddr_in from[kBatch];
    iovec parts[kBatch];
    alignas(cmsghdr) char control[kBatch][CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
    mmsghdr messages[kBatch];
    for (std::size_t i = 0; i < kBatch; ++i) {
        parts[i] = iovec{m_buffers[i].data(), m_buffers[i].size()};
        messages[i] = mmsghdr{};
        messages[i].msg_hdr.msg_name = &from[i];
        messages[i].msg_hdr.msg_namelen = sizeof from[i];
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_control = control[i];
        messages[i].msg_hdr.msg_controllen = sizeof control[i];
    }
    const int count = recvmmsg(m_fd, messages, kBatch, flags, nullptr);
    if (count <= 0) return count;
    const ClockReading clocks = readClocks();
    for (int i = 0; i < count; ++i) {
        msghdr& message = messages[i].msg_hdr;
        if (m_interfaceIndex != 0 && arrivalInterface(message) != m_interfaceIndex) continue;
        if (m_unicastOnly && !sentToUs(message)) continue;
        datagrams.push_back({std::string(m_buffers[i].data(), messages[i].msg_len), ntohl(from[i].sin_addr.s_addr),
                             ntohs(from[i].sin_port), arrivalOf(message, clocks)});
    }
    return count;
}

bool ControlSocket::passing(int error) {
    // ICMP errors of earlier sends may surface here; they end nothing.
    if (error == EINTR || error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH) return true;
    // Anything else (out of memory, say) may pass; try again shortly rather
    // than stop listening to the devices for good.
    LOG_WARN(L"receive failed: %1%", base::errnoForOperator(error));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return false;
}

bool ControlSocket::receive(std::vector<Datagram>& datagrams) {
    for (;;) {
        // Blocks for the first datagram only, then takes what else is there.
        const int count = take(datagrams, MSG_WAITFORONE);
        if (m_shutDown) return false;
        if (count < 0) {
            passing(errno);
            continue;
        }
        if (!datagrams.empty()) return true;
    }
}

bool ControlSocket::receiveReady(std::vector<Datagram>& datagrams) {
    for (;;) {
        const int count = take(datagrams, MSG_DONTWAIT);
        if (!datagrams.empty()) return true;
        if (count == 0 || (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return false;
        // A batch the filter emptied: more may wait behind it.
        if (count < 0 && !passing(errno)) return false;
    }
}

bool ControlSocket::waitForDatagram() {
    for (;;) {
        char first;
        const ssize_t size = recv(m_fd, &first, 1, MSG_PEEK | MSG_TRUNC);
        if (m_shutDown) return false;
        if (size >= 0) return true;
        passing(errno);
    }
}

}  // namespace device
