#pragma once

#include <string>
#include <thread>
#include <type_traits>

namespace testing_support {

/// Two network namespaces of the test's own, joined by a veth pair: the
/// calling thread (and every thread it starts afterwards) moves into a fresh
/// namespace, "here", with loopback up and the veth end "svt0"; a second
/// namespace, "the peer", holds the other end "svt1". Nothing sent in either
/// can reach an interface outside them, whatever address it goes to. Only
/// inside the namespace that scripts/netns-run makes (the test program
/// checks that at start), where the test is root.
///
/// Destroying it returns the calling thread to the namespace it came from;
/// the two namespaces end with their last thread and socket.
class PrivateNetwork {
public:
    /// Throws std::runtime_error when the namespaces or the pair can't be made.
    PrivateNetwork();
    ~PrivateNetwork();
    PrivateNetwork(const PrivateNetwork&) = delete;
    PrivateNetwork& operator=(const PrivateNetwork&) = delete;

    /// Runs "ip <arguments>" here or in the peer; true when it succeeded.
    bool here(const std::string& ipArguments);
    bool peer(const std::string& ipArguments);

    /// Runs `body` on a thread inside the peer namespace and returns what it
    /// returns. Sockets made there stay in the peer wherever they are used.
    template <class F>
    auto inPeer(F body) -> decltype(body()) {
        using Result = decltype(body());
        if constexpr (std::is_void_v<Result>) {
            std::thread worker([&] {
                enterPeer();
                body();
            });
            worker.join();
        } else {
            Result result{};
            std::thread worker([&] {
                enterPeer();
                result = body();
            });
            worker.join();
            return result;
        }
    }

    /// Both ends up with 10.77.0.1/24 here and 10.77.0.2/24 in the peer (and
    /// their broadcast addresses), waiting until "svt0" runs.
    void addressBothEnds();

private:
    void enterPeer() const;
    std::string peerPath() const;

    int m_original = -1;  // the namespace the calling thread came from
    int m_peer = -1;
};

}  // namespace testing_support
