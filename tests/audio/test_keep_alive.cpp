// ctest-labels: net
#include <cerrno>
#include <deque>
#include <memory>

#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "audio/keep_alive.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/elapsed.h"
#include "tests/support/private_network.h"
#include "tools/stream_probe.h"

// The keep-alive sending through a link that fails as the test says, and
// through a socket whose link and address go away in a network of its own.

using namespace std::chrono_literals;
using boost::system::error_code;
using testing_support::waitUntil;

namespace {

error_code code(int value) { return error_code(value, boost::system::system_category()); }

/// Opens and sends fail in the order given (0: succeeds), then succeed.
struct ScriptedLink : keep_alive::Link {
    error_code open() override {
        ++opened;
        is_open = next(opens) == 0;
        return code(is_open ? 0 : last);
    }
    error_code send() override {
        EXPECT_TRUE(is_open) << "a send on a closed socket";
        sent += next(sends) == 0;
        return code(last);
    }
    void close() override { is_open = false; }
    int next(std::deque<int>& script) {
        last = script.empty() ? 0 : script.front();
        if (!script.empty()) script.pop_front();
        return last;
    }
    std::deque<int> opens, sends;
    int opened = 0, sent = 0, last = 0;
    bool is_open = false;
};

class KeepAlive : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::DEBUG); }
    int told(int cause) { return loggedCount("aren't sent: " + code(cause).message()); }
};

}  // namespace

TEST_F(KeepAlive, ANetworkDropIsWaitedOutAndEachCauseToldOncePerOutage) {
    ScriptedLink link;
    // The cable pulled for three datagrams, the address gone for two opens;
    // no buffers after hibernation; the cable pulled again; a packet filter.
    link.sends = {0, ENETUNREACH, ENETUNREACH, ENETUNREACH, 0, ENOBUFS, ENOBUFS, 0, ENETUNREACH, 0, EPERM};
    link.opens = {0, 0, 0, EADDRNOTAVAIL, EADDRNOTAVAIL};
    try {
        keep_alive::send_until_stopped(link, 1ms, [] { return false; });
        ADD_FAILURE() << "stopped";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code(), code(EPERM)) << "what is not the network's still ends the sending";
    }
    EXPECT_EQ(link.sent, 4);
    EXPECT_EQ(link.opened, 9) << "every failed send reopens; a failed open is tried again";
    EXPECT_EQ(told(ENETUNREACH), 2);
    EXPECT_EQ(told(EADDRNOTAVAIL), 1);
    EXPECT_EQ(loggedCount("woke up from hibernate."), 1);
    EXPECT_EQ(loggedCount("keep-alive datagrams are sent again", "INFO"), 3);
}

TEST_F(KeepAlive, DatagramsComeBackWhenTheLinkAndTheAddressReturn) {
    testing_support::PrivateNetwork network;
    network.addressBothEnds();
    const auto member = network.inPeer(
        [] { return std::make_unique<stream_probe::GroupSniffer>("224.0.224.1", 11991, "10.77.0.2"); });
    ASSERT_TRUE(member->ok());
    const boost::asio::ip::udp::endpoint group(boost::asio::ip::make_address_v4("224.0.224.1"), 11991);
    keep_alive::UdpLink link("10.77.0.1", 11985, group, 1);
    boost::thread sending([&] {
        try {
            keep_alive::send_until_stopped(link, 20ms, [] { return false; });
        } catch (const boost::system::system_error& e) {
            ADD_FAILURE() << "the sending ended: " << e.what();
        }
    });
    const auto heard_again = [&] {
        const std::size_t before = member->count();
        return waitUntil([&] { return member->count() > before + 1; }, 2s);
    };
    const auto told_soon = [&](int cause) { return waitUntil([&] { return told(cause) > 0; }); };

    EXPECT_TRUE(heard_again());
    ASSERT_TRUE(network.here("link set svt0 down"));
    EXPECT_TRUE(told_soon(ENETUNREACH));
    ASSERT_TRUE(network.here("link set svt0 up"));
    EXPECT_TRUE(heard_again()) << "after the link came back";
    ASSERT_TRUE(network.here("addr del 10.77.0.1/24 dev svt0"));
    EXPECT_TRUE(told_soon(EADDRNOTAVAIL));
    ASSERT_TRUE(network.here("addr add 10.77.0.1/24 brd + dev svt0"));
    EXPECT_TRUE(heard_again()) << "after the address came back";

    sending.interrupt();
    sending.join();
    EXPECT_EQ(loggedCount("keep-alive datagrams are sent again"), 2);
}
