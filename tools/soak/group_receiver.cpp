#include "tools/soak/group_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>

namespace soak {

namespace {

std::int64_t steadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

GroupReceiver::GroupReceiver(const std::string& group, std::uint16_t port, TsMonitor& monitor, Tap tap)
    : m_monitor(monitor), m_tap(std::move(tap)) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // The kernel's receive time: a receiving thread held up by the load must
    // not show as a gap in the stream.
    ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    const int buffer = 4 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ip_mreq join{};
    const bool ok = ::inet_pton(AF_INET, group.c_str(), &local.sin_addr) == 1 &&
                    ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                    ::inet_pton(AF_INET, group.c_str(), &join.imr_multiaddr) == 1 &&
                    ::inet_pton(AF_INET, "127.0.0.1", &join.imr_interface) == 1 &&
                    ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) == 0;
    if (!ok) {
        const std::string why = std::strerror(errno);
        ::close(m_fd);
        throw std::runtime_error("cannot receive " + group + ":" + std::to_string(port) + ": " + why);
    }
    m_thread = std::thread([this] { run(); });
}

GroupReceiver::~GroupReceiver() {
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

void GroupReceiver::run() {
    std::uint8_t buffer[65536];
    alignas(cmsghdr) char control[256];
    while (!m_stop.load()) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, 0);
        if (n < 0) continue;
        // Kernel times are on the realtime clock, which may be set meanwhile:
        // its distance to the steady clock is taken afresh for each datagram.
        std::int64_t at = steadyMicroseconds();
        timespec real{};
        ::clock_gettime(CLOCK_REALTIME, &real);
        const std::int64_t realToSteady = at - (std::int64_t(real.tv_sec) * 1000000 + real.tv_nsec / 1000);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                at = std::int64_t(stamp.tv_sec) * 1000000 + stamp.tv_nsec / 1000 + realToSteady;
            }
        }
        m_monitor.datagram(buffer, static_cast<std::size_t>(n), at);
        if (m_tap) m_tap(buffer, static_cast<std::size_t>(n), at);
    }
}

}  // namespace soak
