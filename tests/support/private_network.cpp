#include "tests/support/private_network.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <ifaddrs.h>

namespace testing_support {

namespace {

int openOwnNamespace() {
    const int fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::string("network namespace: ") + std::strerror(errno));
    return fd;
}

void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

bool run(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool interfaceRuns(const char* name) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool runs = false;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_name && std::strcmp(entry->ifa_name, name) == 0 && (entry->ifa_flags & IFF_RUNNING))
            runs = true;
    freeifaddrs(list);
    return runs;
}

}  // namespace

PrivateNetwork::PrivateNetwork() {
    m_original = openOwnNamespace();
    if (::unshare(CLONE_NEWNET) != 0) fail("unshare for the peer");
    m_peer = openOwnNamespace();
    if (::unshare(CLONE_NEWNET) != 0) fail("unshare");
    if (!here("link set lo up") || !here("link add svt0 type veth peer name svt1") ||
        !here("link set svt1 netns " + peerPath()) || !peer("link set lo up"))
        throw std::runtime_error("the veth pair can't be made");
}

PrivateNetwork::~PrivateNetwork() {
    if (m_original >= 0) {
        ::setns(m_original, CLONE_NEWNET);
        ::close(m_original);
    }
    if (m_peer >= 0) ::close(m_peer);
}

std::string PrivateNetwork::peerPath() const {
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(m_peer);
}

bool PrivateNetwork::here(const std::string& ipArguments) { return run("ip " + ipArguments + " >/dev/null"); }

bool PrivateNetwork::peer(const std::string& ipArguments) {
    return run("nsenter --net=" + peerPath() + " ip " + ipArguments + " >/dev/null");
}

void PrivateNetwork::enterPeer() const {
    if (::setns(m_peer, CLONE_NEWNET) != 0) std::abort();
}

void PrivateNetwork::addressBothEnds() {
    if (!here("addr add 10.77.0.1/24 brd + dev svt0") || !here("link set svt0 up") ||
        !peer("addr add 10.77.0.2/24 brd + dev svt1") || !peer("link set svt1 up"))
        throw std::runtime_error("the veth pair can't be addressed");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!interfaceRuns("svt0")) {
        if (std::chrono::steady_clock::now() > end) throw std::runtime_error("svt0 doesn't run");
        ::usleep(10000);
    }
}

}  // namespace testing_support
