// ctest-labels: net
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/transfer_protocol.h"
#include "tests/device/device_test_support.h"
#include "tests/support/elapsed.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;
using device::TransferProtocol;
using device::sim::Endpoint;
using device::sim::ReplyPolicy;
using device::sim::SimulatedDevice;
using Clock = std::chrono::steady_clock;

namespace {

using device_test::endpointOf;
using testing_support::msSince;

template <class F>
bool eventually(F condition, std::chrono::milliseconds limit = 3000ms) {
    return device_test::waitUntil(condition, limit);
}

/// What the completions of async() reported, in the order they ran.
class Completions {
public:
    TransferProtocol::Completion make(const std::string& tag) {
        return [this, tag](const std::string& reply, bool answered) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_results.push_back(tag + (answered ? "=" + reply : "!"));
            m_threads.push_back(std::this_thread::get_id());
        };
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit = 3000ms) {
        return eventually([&] { return size() >= count; }, limit);
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results.size();
    }
    std::vector<std::string> results() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_results;
    std::vector<std::thread::id> m_threads;
};

/// Datagrams a handler saw: text and source text.
class Seen {
public:
    void add(const std::string& text, const net::IpAndPort& source) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.push_back(text);
        m_sources.push_back(source);
    }
    std::vector<std::string> texts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }
    std::vector<net::IpAndPort> sources() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sources;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::vector<net::IpAndPort> m_sources;
};

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        m_transport = std::make_shared<TransferProtocol>(0, "");
        m_transport->setUnknownResponseHandler([this](const std::string& text, const net::IpAndPort& source) {
            m_unknown.add(text, source);
            return true;
        });
        m_simulator.start();
        m_transport->run();
    }
    void TearDown() override {
        m_transport->stop();
        m_simulator.stop();
    }

    /// A loudspeaker at 127.0.0.`n` that also answers "echo X" with "X".
    SimulatedDevice& addDevice(int n) {
        auto& device = m_simulator.addOrvel("127.0.0." + std::to_string(n), 0,
                                            device::sim::Simulator::hardwareAddress(n));
        device.withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
            model.on("echo", [](const std::string& text) { return std::optional<std::string>(text); });
        });
        return device;
    }
    Endpoint server() const { return Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort()); }

    device::sim::Simulator m_simulator;
    std::shared_ptr<TransferProtocol> m_transport;
    Seen m_unknown;
};

}  // namespace

TEST_F(Transport, ReplyResendAndTimeOut) {
    auto& speaker = addDevice(2);
    const auto to = endpointOf(speaker);
    std::string reply = "stale";

    ASSERT_TRUE(m_transport->sync(to, "get vol", reply, 2, 100));
    EXPECT_EQ(reply, "-15");
    EXPECT_EQ(speaker.received().at(0).text, "get vol\n") << "a request is one line";
    ASSERT_TRUE(m_transport->sync(to, "echo x\n", reply, 2, 100));
    EXPECT_EQ(reply, "x") << "a request that ends its line gets no second line feed";

    speaker.clearReceived();
    speaker.setReplyPolicy({1});  // the first send is lost
    auto start = Clock::now();
    ASSERT_TRUE(m_transport->sync(to, "echo again", reply, 2, 100));
    EXPECT_GE(msSince(start), 100);
    EXPECT_EQ(reply, "again");
    EXPECT_EQ(speaker.receivedCount(), 2u);

    // The resent request drains the device's address for a while (a second
    // reply may still come); sync's time counts from the call, so let the
    // drain pass first.
    std::this_thread::sleep_for(200ms);
    speaker.clearReceived();
    speaker.setReplyPolicy({0, true});  // silent
    start = Clock::now();
    EXPECT_FALSE(m_transport->sync(to, "echo lost", reply, 2, 100));
    const auto elapsed = msSince(start);
    EXPECT_GE(elapsed, 200);
    EXPECT_LE(elapsed, 250 + 150) << "2R + 50 ms and scheduling slack";
    EXPECT_EQ(reply, "");
    EXPECT_EQ(speaker.receivedCount(), 2u) << "sent and resent once";
    const auto counts = m_transport->getStatistics();
    EXPECT_EQ(counts.timedOut, 1u);
    EXPECT_EQ(counts.resent, 2u);
    EXPECT_EQ(counts.answered, 3u);
}

TEST_F(Transport, RequestsToOneDeviceNeverOverlapOthersRunInParallel) {
    auto& first = addDevice(2);
    auto& second = addDevice(3);
    first.setReplyPolicy({0, false, 20ms});
    second.setReplyPolicy({0, false, 100ms});

    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                const std::string text = std::to_string(t) + "-" + std::to_string(i);
                std::string reply;
                if (!m_transport->sync(endpointOf(first), "echo " + text, reply, 2, 1000) || reply != text) ++wrong;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(wrong, 0) << "every caller got its own reply";
    EXPECT_EQ(first.maxPending(), 1u) << "one request in flight per device";
    EXPECT_EQ(first.receivedCount(), 12u);

    // Two slow devices at once: the second does not wait for the first.
    const auto start = Clock::now();
    std::string reply2;
    std::thread other([&] { m_transport->sync(endpointOf(second), "echo b", reply2, 2, 1000); });
    std::string reply3;
    second.clearReceived();
    auto& third = addDevice(4);
    third.setReplyPolicy({0, false, 100ms});
    EXPECT_TRUE(m_transport->sync(endpointOf(third), "echo c", reply3, 2, 1000));
    other.join();
    EXPECT_EQ(reply2, "b");
    EXPECT_EQ(reply3, "c");
    EXPECT_LT(msSince(start), 190);
}

TEST_F(Transport, QueuedRequestsGoByPriorityThenArrival) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, false, 100ms});
    const auto to = endpointOf(speaker);
    Completions done;
    m_transport->async(to, "echo busy", done.make("busy"), 2, 1000);
    ASSERT_TRUE(eventually([&] { return speaker.receivedCount() == 1; }));
    m_transport->async(to, "echo p0", done.make("p0"), 0, 1000);
    m_transport->async(to, "echo p3", done.make("p3"), 3, 1000);
    m_transport->async(to, "echo p2", done.make("p2"), 2, 1000);
    m_transport->async(to, "echo p3b", done.make("p3b"), 3, 1000);
    ASSERT_TRUE(done.waitFor(5));
    EXPECT_EQ(done.results(),
              (std::vector<std::string>{"busy=busy", "p3=p3", "p3b=p3b", "p2=p2", "p0=p0"}));
    const auto threads = done.threads();
    for (const auto& id : threads) {
        EXPECT_EQ(id, threads.front()) << "completions run on one transport thread";
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

TEST_F(Transport, AsyncReportsSilenceAndRefusals) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, true});
    Completions done;
    m_transport->async(endpointOf(speaker), "echo x", done.make("silent"), 0, 50);
    m_transport->async(net::IpAndPort("0.0.0.0", endpointOf(speaker).getPort()), "echo x", done.make("any"), 2, 50);
    m_transport->async(net::IpAndPort("127.0.0.2", 0), "echo x", done.make("port0"), 2, 50);
    m_transport->async(endpointOf(speaker), std::string(1472, 'x'), done.make("long"), 2, 50);
    ASSERT_TRUE(done.waitFor(4));
    EXPECT_EQ(done.results(), (std::vector<std::string>{"any!", "port0!", "long!", "silent!"}));
    EXPECT_EQ(speaker.receivedCount(), 2u) << "the refused requests never left";
    EXPECT_EQ(m_transport->getStatistics().refused, 3u);
}

TEST_F(Transport, InvalidEndpointFailsAtOnceWithNothingOnTheWire) {
    // Linux delivers a datagram to 0.0.0.0 to the local host: a device on
    // 127.0.0.1 would see it.
    auto& local = m_simulator.addOrvel("127.0.0.1", 0, "02:56:53:00:00:01");
    std::string reply = "x";
    const auto start = Clock::now();
    EXPECT_FALSE(m_transport->sync(net::IpAndPort("0.0.0.0", local.endpoint().port()), "get vol", reply, 2, 1000));
    EXPECT_FALSE(m_transport->sync(net::IpAndPort("127.0.0.1", 0), "get vol", reply, 2, 1000));
    EXPECT_FALSE(m_transport->sync(net::IpAndPort(), "get vol", reply, 2, 1000));
    EXPECT_LT(msSince(start), 50);
    EXPECT_EQ(reply, "");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(local.receivedCount(), 0u);
}

TEST_F(Transport, HandlersConsumeOrReceiveWhatIsNotAReply) {
    auto& speaker = addDevice(2);
    auto& other = addDevice(3);
    Seen all;
    m_transport->setAllResponseHandler([&](const std::string& text, const net::IpAndPort& source) {
        all.add(text, source);
        return text.rfind("STATE", 0) == 0;
    });
    speaker.send("STATE packet", server());
    other.send("spontaneous", server());
    ASSERT_TRUE(eventually([&] { return all.texts().size() == 2 && m_unknown.texts().size() == 1; }));
    EXPECT_EQ(m_unknown.texts(), std::vector<std::string>{"spontaneous"}) << "the consumed packet went nowhere else";
    EXPECT_EQ(m_unknown.sources().at(0), endpointOf(other));
    EXPECT_EQ(std::string(m_unknown.sources().at(0).getText()), "127.0.0.3");

    // A reply is offered to the all-responses handler first, then matched.
    std::string reply;
    ASSERT_TRUE(m_transport->sync(endpointOf(speaker), "echo r", reply, 2, 1000));
    EXPECT_EQ(all.texts().back(), "r");
    EXPECT_EQ(m_unknown.texts().size(), 1u);

    // A consumed reply leaves the request unanswered.
    m_transport->setAllResponseHandler([](const std::string&, const net::IpAndPort&) { return true; });
    EXPECT_FALSE(m_transport->sync(endpointOf(speaker), "echo eaten", reply, 2, 50));
    EXPECT_EQ(m_transport->getStatistics().unmatched, 1u);
}

TEST_F(Transport, ConsoleMonitorSeesItsEndpointOnly) {
    auto& watched = addDevice(2);
    auto& other = addDevice(3);
    std::mutex mutex;
    std::vector<std::string> lines;
    m_transport->setConsoleMonitor(endpointOf(other), [](const std::string&, bool) { FAIL() << "replaced"; });
    m_transport->setConsoleMonitor(endpointOf(watched), [&](const std::string& text, bool outgoing) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back((outgoing ? "> " : "< ") + text);
    });
    m_transport->setConsoleMonitor(endpointOf(other), TransferProtocol::ConsoleMonitor());

    std::string reply;
    ASSERT_TRUE(m_transport->sync(endpointOf(watched), "echo one", reply, 2, 1000));
    ASSERT_TRUE(m_transport->sync(endpointOf(other), "echo two", reply, 2, 1000));
    watched.send("ERR line break", server());
    other.send("ERR elsewhere", server());
    ASSERT_TRUE(eventually([&] { return m_unknown.texts().size() == 2; }));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lines, (std::vector<std::string>{"> echo one", "< one", "< ERR line break"}));
    }
    m_transport->clearConsoleMonitors();
    ASSERT_TRUE(m_transport->sync(endpointOf(watched), "echo three", reply, 2, 1000));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(lines.size(), 3u);
}

TEST_F(Transport, MonitorsChangeWhileTrafficFlows) {
    auto& speaker = addDevice(2);
    const auto to = endpointOf(speaker);
    std::atomic<bool> running{true};
    std::atomic<int> calls{0};
    std::thread changer([&] {
        while (running) {
            m_transport->setConsoleMonitor(to, [&](const std::string&, bool) { ++calls; });
            m_transport->clearConsoleMonitors();
        }
    });
    std::thread unsolicited([&] {
        for (int i = 0; i < 200 && running; ++i) speaker.send("ERR noise", server());
    });
    std::string reply;
    int answered = 0;
    for (int i = 0; i < 200; ++i) answered += m_transport->sync(to, "echo " + std::to_string(i), reply, 2, 1000);
    running = false;
    changer.join();
    unsolicited.join();
    EXPECT_EQ(answered, 200);
}

TEST_F(Transport, LateDuplicateIsNotTheReplyToTheNextRequest) {
    auto& speaker = addDevice(2);
    const auto to = endpointOf(speaker);
    // Answers 150 ms late: the request is resent at 100 ms and both sends are
    // answered, the second at about 250 ms.
    speaker.setReplyPolicy({0, false, 150ms});
    std::string reply;
    ASSERT_TRUE(m_transport->sync(to, "echo A", reply, 2, 100));
    EXPECT_EQ(reply, "A");
    speaker.setReplyPolicy({});
    ASSERT_TRUE(m_transport->sync(to, "echo B", reply, 2, 1000));
    EXPECT_EQ(reply, "B") << "the duplicate reply to A was taken for B";
    ASSERT_TRUE(eventually([&] { return m_unknown.texts().size() == 1; }));
    EXPECT_EQ(m_unknown.texts().at(0), "A");
}

TEST_F(Transport, SpontaneousSecondReplyWithoutPendingRequestIsUnknown) {
    auto& speaker = addDevice(2);
    ReplyPolicy twice;
    twice.copies = 2;
    twice.copyGap = 30ms;
    speaker.setReplyPolicy(twice);
    std::string reply;
    ASSERT_TRUE(m_transport->sync(endpointOf(speaker), "echo once", reply, 2, 1000));
    EXPECT_EQ(reply, "once");
    ASSERT_TRUE(eventually([&] { return m_unknown.texts().size() == 1; }));
}

TEST_F(Transport, SyncInsideAHandlerIsRefused) {
    auto& speaker = addDevice(2);
    std::atomic<int> refusals{0};
    m_transport->setAllResponseHandler([&](const std::string&, const net::IpAndPort& source) {
        std::string reply;
        try {
            m_transport->sync(source, "echo nested", reply, 2, 100);
        } catch (const exception::InternalError&) {
            ++refusals;
        }
        return true;
    });
    speaker.send("hello", server());
    ASSERT_TRUE(eventually([&] { return refusals == 1; }));
}

TEST_F(Transport, FaultyHandlerDoesNotStopTheTransport) {
    auto& speaker = addDevice(2);
    m_transport->setAllResponseHandler([](const std::string& text, const net::IpAndPort&) -> bool {
        if (text == "boom") throw std::runtime_error("handler fault");
        return false;
    });
    speaker.send("boom", server());
    ASSERT_TRUE(eventually([&] { return m_unknown.texts().size() == 1; })) << "offered on after the fault";
    Completions done;
    m_transport->async(endpointOf(speaker), "echo after", [&](const std::string&, bool) {
        throw exception::InternalError(L"completion fault");
    }, 2, 1000);
    m_transport->async(endpointOf(speaker), "echo next", done.make("next"), 2, 1000);
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_EQ(done.results().at(0), "next=next");
    std::string reply;
    EXPECT_TRUE(m_transport->sync(endpointOf(speaker), "echo still", reply, 2, 1000));
}

TEST_F(Transport, StopReleasesWaitersAndDropsCompletions) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, true});
    Completions done;
    m_transport->async(endpointOf(speaker), "echo dropped", done.make("dropped"), 2, 1000);
    std::atomic<bool> result{true};
    std::atomic<long long> waited{0};
    std::thread caller([&] {
        std::string reply;
        const auto start = Clock::now();
        result = m_transport->sync(endpointOf(speaker), "echo waits", reply, 0, 1000);
        waited = msSince(start);
    });
    ASSERT_TRUE(eventually([&] { return speaker.receivedCount() >= 1; }));
    std::this_thread::sleep_for(50ms);
    m_transport->stop();
    caller.join();
    EXPECT_FALSE(result);
    EXPECT_LT(waited, 1000) << "released by stop, not by its time-out";
    m_transport->stop();  // twice is harmless
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(done.size(), 0u) << "a stopped transport completes nothing";
    std::string reply;
    EXPECT_FALSE(m_transport->sync(endpointOf(speaker), "echo late", reply, 2, 100));
}

TEST(TransportLife, DestroyedWithoutRunAndPortTaken) {
    auto first = std::make_unique<TransferProtocol>(0, "");
    const auto port = first->getPort();
    EXPECT_NE(port, 0);
    try {
        TransferProtocol second(port, "");
        FAIL() << "the port is taken";
    } catch (const exception::ExternalError& error) {
        EXPECT_EQ(error.getNotification(), L"Не удалось открыть порт управления устройствами");
        EXPECT_FALSE(error.getDetails().empty());
    }
    EXPECT_THROW(TransferProtocol(0, "192.0.2.77"), exception::ExternalError) << "no interface has it";
    EXPECT_THROW(TransferProtocol(0, "not an address"), exception::ExternalError);
    first.reset();  // never ran
    TransferProtocol again(port, "127.0.0.1");  // the port is free again
    again.run();
    again.run();
}

TEST(TransportInterface, OnlyTrafficOfTheChosenInterfaceIsTaken) {
    // An interface of our own (an empty bridge, in the test namespace) with a
    // documentation address. The kernel reports a datagram to an interface's
    // address as arriving on that interface, a datagram to 127.0.0.1 as
    // arriving on lo.
    const std::string name = "svt" + std::to_string(getpid() % 100000);
    const std::string add = "ip link add " + name + " type bridge 2>/dev/null && ip addr add 192.0.2.1/32 dev " +
                            name + " && ip link set " + name + " up";
    if (std::system(add.c_str()) != 0) GTEST_SKIP() << "cannot make an interface here";
    struct Remove {
        std::string name;
        ~Remove() {
            if (std::system(("ip link del " + name + " 2>/dev/null").c_str()) != 0) std::fprintf(stderr, "ip link del failed\n");
        }
    } remove{name};

    device::sim::Simulator simulator;
    auto& speaker = simulator.addOrvel("127.0.0.2", 0, "02:56:53:00:00:02");
    simulator.start();
    const net::IpAndPort to("127.0.0.2", speaker.endpoint().port());

    TransferProtocol transport(0, "192.0.2.1");
    Seen unknown;
    transport.setUnknownResponseHandler([&](const std::string& text, const net::IpAndPort& source) {
        unknown.add(text, source);
        return true;
    });
    transport.run();
    std::string reply;
    EXPECT_TRUE(transport.sync(to, "get vol", reply, 2, 100));
    ASSERT_EQ(speaker.receivedCount(), 1u);
    EXPECT_EQ(speaker.received().at(0).source.address().to_string(), "192.0.2.1")
        << "requests leave with the interface address";

    const auto port = transport.getPort();
    speaker.send("via loopback", Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port));
    speaker.send("via the interface", Endpoint(boost::asio::ip::make_address_v4("192.0.2.1"), port));
    ASSERT_TRUE(eventually([&] { return !unknown.texts().empty(); }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(unknown.texts(), std::vector<std::string>{"via the interface"});
    transport.stop();
    simulator.stop();
}
