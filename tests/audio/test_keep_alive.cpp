// ctest-labels: net
#include <cerrno>
#include <deque>
#include <memory>

#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include "audio/keep_alive.h"
#include "base/system_error_text.h"
#include "base/text.h"
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
    std::string localAddress() const override { return local; }
    int next(std::deque<int>& script) {
        last = script.empty() ? 0 : script.front();
        if (!script.empty()) script.pop_front();
        return last;
    }
    std::deque<int> opens, sends;
    int opened = 0, sent = 0, last = 0;
    bool is_open = false;
    std::string local;
};

class KeepAlive : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::DEBUG); }
    /// The log's lines of a cause, in the operator's words.
    int told(int cause) { return loggedCount("aren't sent: " + base::toUtf8(base::errnoForOperator(cause))); }
    /// The operator's notices that give this cause.
    int noticed(int cause) {
        int count = 0;
        for (const std::wstring& text : observedAt(L"WARN"))
            count += text.find(L": " + base::errnoForOperator(cause) + L".") != std::wstring::npos;
        return count;
    }
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
    EXPECT_EQ(observedAt(L"WARN").size(), 1u) << "the one spell that outlasted its retry";
}

// The field trial: net.interfaceIp 10.213.0.1 while sv0's address was
// changed to 10.213.0.5 sent nothing for as long as that lasted, told by one
// INFO line with the system's English words ("Network is unreachable",
// "Cannot assign requested address").
TEST_F(KeepAlive, ALastingOutageIsToldToTheOperatorOnceWithItsCauseInRussian) {
    ScriptedLink link;
    link.local = "10.213.0.1";
    // Address gone: the send from it has no route, the opens after it no
    // such address, 30 times; back, and gone again later.
    link.sends = {0, ENETUNREACH, 0, 0, ENETUNREACH, EPERM};
    link.opens = {0};
    for (int i = 0; i < 30; ++i) link.opens.push_back(EADDRNOTAVAIL);
    link.opens.insert(link.opens.end(), {0, EADDRNOTAVAIL, 0});
    EXPECT_THROW(keep_alive::send_until_stopped(link, 1ms, [] { return false; }), boost::system::system_error);
    EXPECT_EQ(link.sent, 3);

    const std::wstring notice =
        L"Потоки вещания не могут выйти в сеть через адрес 10.213.0.1 сетевого интерфейса из общих настроек: "
        L"адрес не назначен ни одному сетевому интерфейсу компьютера. Вещание возобновится само, когда сеть "
        L"вернётся";
    EXPECT_EQ(observedAt(L"WARN"), (std::vector<std::wstring>{notice, notice})) << "once per outage, and why";
    EXPECT_EQ(loggedCount("keep-alive datagrams are sent again", "INFO"), 1) << "the second outage lasts";
    for (const int cause : {ENETUNREACH, EADDRNOTAVAIL}) {
        const std::string english = code(cause).message();
        EXPECT_EQ(loggedCount(english), 0) << english;
    }
    EXPECT_EQ(told(ENETUNREACH), 2) << "the first failure of each outage, in the log alone";
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
    const auto told_soon = [&](int cause) { return waitUntil([&] { return noticed(cause) > 0; }); };

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
    EXPECT_EQ(observedAt(L"WARN").size(), 2u) << "one notice per outage";
}
