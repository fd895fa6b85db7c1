#include "tests/trial/receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace trial {

using namespace std::chrono_literals;

std::optional<std::chrono::steady_clock::time_point> firstArrival(
    const std::vector<std::chrono::steady_clock::time_point>& arrivals,
    std::chrono::steady_clock::time_point from, std::optional<std::chrono::milliseconds> soundGap) {
    auto found = std::lower_bound(arrivals.begin(), arrivals.end(), from);
    if (soundGap)
        while (found != arrivals.end() && (found + 1 == arrivals.end() || *(found + 1) - *found > *soundGap))
            ++found;
    if (found == arrivals.end()) return std::nullopt;
    return *found;
}

Receiver::Receiver(const std::string& group, std::uint16_t basePort, const std::string& interfaceAddress) {
    const std::uint16_t ports[kPorts] = {static_cast<std::uint16_t>(basePort + 1),
                                         static_cast<std::uint16_t>(basePort + 2),
                                         static_cast<std::uint16_t>(basePort + 7)};
    for (int n = 0; n < kPorts; ++n) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        m_sockets[n] = fd;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const int big = 4 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(ports[n]);
        ::inet_pton(AF_INET, group.c_str(), &local.sin_addr);  // bound to the group: only its datagrams
        ip_mreq join{};
        ::inet_pton(AF_INET, group.c_str(), &join.imr_multiaddr);
        ::inet_pton(AF_INET, interfaceAddress.c_str(), &join.imr_interface);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            m_error += "port " + std::to_string(ports[n]) + ": " + std::strerror(errno) + "; ";
    }
    m_thread = std::thread([this] { run(); });
}

Receiver::~Receiver() {
    m_stop = true;
    m_thread.join();
    for (const int fd : m_sockets)
        if (fd >= 0) ::close(fd);
}

void Receiver::run() {
    char buffer[65536];
    while (!m_stop) {
        pollfd waits[kPorts];
        for (int n = 0; n < kPorts; ++n) waits[n] = {m_sockets[n], POLLIN, 0};
        if (::poll(waits, kPorts, 20) <= 0) continue;
        const auto at = Clock::now();
        for (int n = 0; n < kPorts; ++n) {
            if (!(waits[n].revents & POLLIN)) continue;
            while (::recv(m_sockets[n], buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_arrivals[n].push_back(at);
            }
        }
    }
}

int Receiver::portOf(Stream stream) {
    switch (stream) {
        case Stream::Common:
            return 0;
        case Stream::NoticeHigh:
            return 1;
        case Stream::NoticeLow:
            return 2;
    }
    return 0;
}

std::optional<Receiver::Clock::time_point> Receiver::firstAfter(Stream stream, Clock::time_point from) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return firstArrival(m_arrivals[portOf(stream)], from,
                        stream == Stream::Common ? std::optional(kSoundGap) : std::nullopt);
}

std::optional<Receiver::Clock::time_point> Receiver::waitFirstAfter(Stream stream, Clock::time_point from,
                                                                    std::chrono::milliseconds limit) const {
    const auto end = from + limit;
    for (;;) {
        if (const auto found = firstAfter(stream, from)) return found;
        if (Clock::now() > end) return firstAfter(stream, from);
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace trial
