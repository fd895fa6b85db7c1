// ctest-labels: net
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <unistd.h>

#include "base/exception.h"
#include "tests/device/device_test_support.h"
#include "tests/device/thrown.h"
#include "tests/support/elapsed.h"
#include "tests/support/thread_states.h"

using namespace std::chrono_literals;
using device::TransferProtocol;
using device::sim::Endpoint;
using device::sim::SimulatedDevice;
using device_test::endpointOf;
using device_test::waitUntil;
using testing_support::msSince;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

namespace {

/// What the completions of async() reported, in the order they ran, and on
/// which thread.
class Completions : public device_test::LockedList<std::pair<std::string, std::thread::id>> {
public:
    TransferProtocol::Completion make(const std::string& tag) const {
        return [add = adder(), tag](const std::string& reply, bool answered) {
            add({tag + (answered ? "=" + reply : "!"), std::this_thread::get_id()});
        };
    }
    Texts results() const {
        Texts texts;
        for (const auto& item : items()) texts.push_back(item.first);
        return texts;
    }
};

/// Datagrams a handler saw: text and source.
class Seen : public device_test::LockedList<std::pair<std::string, net::IpAndPort>> {
public:
    TransferProtocol::ResponseHandler handler(bool consume = true) const {
        return [add = adder(), consume](const std::string& text, const net::IpAndPort& source) {
            add({text, source});
            return consume;
        };
    }
    Texts texts() const {
        Texts texts;
        for (const auto& item : items()) texts.push_back(item.first);
        return texts;
    }
};

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        m_transport = std::make_shared<TransferProtocol>(0, "");
        m_transport->setUnknownResponseHandler(m_unknown.handler());
        m_simulator.start();
        m_transport->run();
    }
    void TearDown() override {
        m_transport->stop();
        m_simulator.stop();
    }

    /// A loudspeaker at 127.0.0.`n` that also answers "echo X" with "X".
    SimulatedDevice& addDevice(int n) {
        auto& device =
            m_simulator.addOrvel("127.0.0." + std::to_string(n), 0, device::sim::Simulator::hardwareAddress(n));
        device.withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
            model.on("echo", [](const std::string& text) { return std::optional<std::string>(text); });
        });
        return device;
    }
    bool sync(const SimulatedDevice& device, const std::string& text, std::string& reply, unsigned resendMs = 1000) {
        return m_transport->sync(endpointOf(device), text, reply, 2, resendMs);
    }
    Endpoint server() const { return Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort()); }

    device::sim::Simulator m_simulator;
    std::shared_ptr<TransferProtocol> m_transport;
    Seen m_unknown;
};

}  // namespace

TEST_F(Transport, ReplyResendAndTimeOut) {
    auto& speaker = addDevice(2);
    std::string reply = "stale";

    ASSERT_TRUE(sync(speaker, "get vol", reply, 100));
    EXPECT_EQ(reply, "-15");
    EXPECT_EQ(speaker.received().at(0).text, "get vol\n") << "a request is one line";
    ASSERT_TRUE(sync(speaker, "echo x\n", reply, 100));
    EXPECT_EQ(reply, "x") << "a request that ends its line gets no second line feed";

    speaker.clearReceived();
    speaker.setReplyPolicy({1});  // the first send is lost
    auto start = Clock::now();
    ASSERT_TRUE(sync(speaker, "echo again", reply, 100));
    EXPECT_GE(msSince(start), 100);
    EXPECT_EQ(reply, "again");
    EXPECT_EQ(speaker.receivedCount(), 2u);

    // The answer to the resend backed the resend time off: the next request
    // is resent only after twice the base, and given up, nothing heard from
    // the device meanwhile, after twice that from its first send (the drain
    // after the resent request may hold it before it leaves).
    speaker.clearReceived();
    speaker.setReplyPolicy({0, true});  // silent
    const auto times = m_transport->replyTimes(endpointOf(speaker), 100);
    EXPECT_EQ(times.resend, 200ms);
    EXPECT_FALSE(sync(speaker, "echo lost", reply, 100));
    const auto returned = Clock::now();
    EXPECT_EQ(reply, "");
    ASSERT_EQ(speaker.receivedCount(), 2u) << "sent and resent once";
    const auto received = speaker.received();
    const auto sinceFirstSend =
        std::chrono::duration_cast<std::chrono::milliseconds>(returned - received[0].at);
    EXPECT_GE(sinceFirstSend.count(), times.giveUpUnheard.count() - 5);
    EXPECT_LE(sinceFirstSend.count(), times.giveUpUnheard.count() + 150) << "and scheduling slack";
    EXPECT_GE(received[1].at - received[0].at, times.resend - 5ms);
    const auto counts = m_transport->getStatistics();
    EXPECT_EQ(counts.timedOut, 1u);
    EXPECT_EQ(counts.resent, 2u);
    EXPECT_EQ(counts.answered, 3u);
}

// Devices are kept in several queues with a lock each; the sender sleeps
// until the earliest timed action of all. A short request added while it
// sleeps over a long one elsewhere must wake it.
TEST_F(Transport, ShortTimesOfManyDevicesAreKeptWhileALongOneWaits) {
    auto& slow = addDevice(2);
    slow.setReplyPolicy({0, true});
    Completions done;
    m_transport->async(endpointOf(slow), "echo long", done.make("long"), 2, 5000);
    ASSERT_TRUE(waitUntil([&] { return slow.receivedCount() == 1; }));

    std::vector<SimulatedDevice*> silent;
    for (int n = 10; n < 26; ++n) {
        silent.push_back(&addDevice(n));
        silent.back()->setReplyPolicy({0, true});
    }
    std::vector<long long> waited(silent.size());
    std::vector<std::thread> callers;
    for (std::size_t i = 0; i < silent.size(); ++i)
        callers.emplace_back([&, i] {
            std::string reply;
            const auto start = Clock::now();
            EXPECT_FALSE(sync(*silent[i], "echo short", reply, 50));
            waited[i] = msSince(start);
        });
    for (auto& caller : callers) caller.join();
    for (std::size_t i = 0; i < silent.size(); ++i) {
        EXPECT_GE(waited[i], 100) << i;
        EXPECT_LE(waited[i], 150 + 150) << i << ": given up at 2R, not when the long request is resent";
        EXPECT_EQ(silent[i]->receivedCount(), 2u) << i << ": sent and resent once";
    }
    EXPECT_EQ(slow.receivedCount(), 1u);
    EXPECT_EQ(done.size(), 0u);
}

TEST_F(Transport, RequestsToOneDeviceNeverOverlapOthersRunInParallel) {
    auto& first = addDevice(2);
    auto& second = addDevice(3);
    auto& third = addDevice(4);
    first.setReplyPolicy({0, false, 20ms});
    second.setReplyPolicy({0, false, 100ms});
    third.setReplyPolicy({0, false, 100ms});

    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                const std::string text = std::to_string(t) + "-" + std::to_string(i);
                std::string reply;
                if (!sync(first, "echo " + text, reply) || reply != text) ++wrong;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(wrong, 0) << "every caller got its own reply";
    EXPECT_EQ(first.maxPending(), 1u) << "one request in flight per device";
    EXPECT_EQ(first.receivedCount(), 12u);

    // Two slow devices at once: the second does not wait for the first.
    const auto start = Clock::now();
    std::string reply2, reply3;
    std::thread other([&] { sync(second, "echo b", reply2); });
    EXPECT_TRUE(sync(third, "echo c", reply3));
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
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() == 1; }));
    for (const auto& [tag, priority] :
         std::vector<std::pair<std::string, int>>{{"p0", 0}, {"p3", 3}, {"p2", 2}, {"p3b", 3}})
        m_transport->async(to, "echo " + tag, done.make(tag), priority, 1000);
    ASSERT_TRUE(waitUntil([&] { return done.size() == 5; }));
    EXPECT_EQ(done.results(), (Texts{"busy=busy", "p3=p3", "p3b=p3b", "p2=p2", "p0=p0"}));
    const auto items = done.items();
    for (const auto& item : items) {
        EXPECT_EQ(item.second, items.front().second) << "completions run on one transport thread";
        EXPECT_NE(item.second, std::this_thread::get_id());
    }
}

TEST_F(Transport, InvalidEndpointsAndOverlongRequestsAreRefusedAtOnceWithNothingOnTheWire) {
    // Linux delivers a datagram to 0.0.0.0 to the local host: a device on
    // 127.0.0.1 would see it.
    auto& local = m_simulator.addOrvel("127.0.0.1", 0, "02:56:53:00:00:01");
    const auto port = local.endpoint().port();
    std::string reply = "x";
    const auto start = Clock::now();
    for (const auto& to : {net::IpAndPort("0.0.0.0", port), net::IpAndPort("127.0.0.1", 0), net::IpAndPort()})
        EXPECT_FALSE(m_transport->sync(to, "get vol", reply, 2, 1000)) << to.getText();
    EXPECT_LT(msSince(start), 50);
    EXPECT_EQ(reply, "");

    // Asynchronous: the refusals complete unanswered before a silent device
    // gives up on the earlier request.
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, true});
    Completions done;
    m_transport->async(endpointOf(speaker), "echo x", done.make("silent"), 0, 50);
    m_transport->async(net::IpAndPort("0.0.0.0", port), "echo x", done.make("any"), 2, 50);
    m_transport->async(net::IpAndPort("127.0.0.2", 0), "echo x", done.make("port0"), 2, 50);
    m_transport->async(endpointOf(speaker), std::string(1472, 'x'), done.make("long"), 2, 50);
    ASSERT_TRUE(waitUntil([&] { return done.size() == 4; }));
    EXPECT_EQ(done.results(), (Texts{"any!", "port0!", "long!", "silent!"}));
    EXPECT_EQ(speaker.receivedCount(), 2u) << "the refused requests never left";
    EXPECT_EQ(m_transport->getStatistics().refused, 6u);
    EXPECT_EQ(local.receivedCount(), 0u);
}

TEST_F(Transport, HandlersConsumeOrReceiveWhatIsNotAReply) {
    auto& speaker = addDevice(2);
    auto& other = addDevice(3);
    Seen all;
    m_transport->setAllResponseHandler([add = all.adder()](const std::string& text, const net::IpAndPort& source) {
        add({text, source});
        return text.rfind("STATE", 0) == 0;
    });
    speaker.send("STATE packet", server());
    other.send("spontaneous", server());
    ASSERT_TRUE(waitUntil([&] { return all.size() == 2 && m_unknown.size() == 1; }));
    EXPECT_EQ(m_unknown.texts(), Texts{"spontaneous"}) << "the consumed packet went nowhere else";
    EXPECT_EQ(m_unknown.items().at(0).second, endpointOf(other));
    EXPECT_EQ(std::string(m_unknown.items().at(0).second.getText()), "127.0.0.3");

    // A reply is offered to the all-responses handler first, then matched.
    std::string reply;
    ASSERT_TRUE(sync(speaker, "echo r", reply));
    EXPECT_EQ(all.texts().back(), "r");
    EXPECT_EQ(m_unknown.size(), 1u);

    // A consumed reply leaves the request unanswered.
    m_transport->setAllResponseHandler([](const std::string&, const net::IpAndPort&) { return true; });
    EXPECT_FALSE(sync(speaker, "echo eaten", reply, 50));
    EXPECT_EQ(m_transport->getStatistics().unmatched, 1u);
}

// Many devices' datagrams are read by several responders at once: a new
// handler reaches every one of them before the setter returns, and the old
// one is let go then.
TEST_F(Transport, ANewHandlerReachesEveryResponder) {
    std::vector<SimulatedDevice*> devices;
    for (int n = 10; n < 42; ++n) devices.push_back(&addDevice(n));
    const auto sendAll = [&](const std::string& text) {
        for (auto* device : devices) device->send(text, server());
    };
    Seen first, second;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> firstAlive = token;
    m_transport->setAllResponseHandler(
        [add = first.adder(), token](const std::string& text, const net::IpAndPort& source) {
            add({text, source});
            return true;
        });
    token.reset();
    sendAll("STATE 1");
    ASSERT_TRUE(waitUntil([&] { return first.size() == devices.size(); }));

    m_transport->setAllResponseHandler(second.handler());
    EXPECT_TRUE(firstAlive.expired()) << "no responder keeps the replaced handler";
    sendAll("STATE 2");
    ASSERT_TRUE(waitUntil([&] { return second.size() == devices.size(); }));
    EXPECT_EQ(first.size(), devices.size());

    m_transport->setAllResponseHandler(TransferProtocol::ResponseHandler());
    sendAll("STATE 3");
    ASSERT_TRUE(waitUntil([&] { return m_unknown.size() == devices.size(); }));
    EXPECT_EQ(second.size(), devices.size());
}

TEST_F(Transport, StatePacketsMeetOneResponderOtherDatagramsSpreadBySender) {
    std::vector<SimulatedDevice*> devices;
    for (int n = 10; n < 42; ++n) devices.push_back(&addDevice(n));
    // Shaped like a state packet: its length, ':' after two characters.
    const std::string state = "00:11:22:33:44:55,1,2,3,4,5,6,7";
    const std::string tooShort = "00:11:22:33:44:55";
    struct Handled {  // the handler's own, should a datagram come late
        std::mutex mutex;
        std::map<std::string, std::set<std::thread::id>> threads;  // by text
        std::map<std::string, std::vector<std::string>> order;     // of each sender
        std::size_t seen = 0;
    };
    const auto handled = std::make_shared<Handled>();
    m_transport->setAllResponseHandler([handled](const std::string& text, const net::IpAndPort& source) {
        std::lock_guard<std::mutex> lock(handled->mutex);
        handled->threads[text.substr(0, text.find(' '))].insert(std::this_thread::get_id());
        handled->order[source.getText()].push_back(text);
        ++handled->seen;
        return true;
    });
    for (auto* device : devices)
        for (const auto& text : {state + " 1", tooShort + " 1", std::string("STATE 1"), state + " 2"})
            device->send(text, server());
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(handled->mutex);
        return handled->seen == 4 * devices.size();
    }));
    std::lock_guard<std::mutex> lock(handled->mutex);
    auto& threads = handled->threads;
    const auto& order = handled->order;
    EXPECT_EQ(threads[state].size(), 1u) << "state packets meet one responder";
    EXPECT_GT(threads[tooShort].size(), 1u) << "other datagrams spread over the responders";
    EXPECT_GT(threads["STATE"].size(), 1u);
    for (const auto& [sender, texts] : order) {
        const auto first = std::find(texts.begin(), texts.end(), state + " 1");
        EXPECT_LT(first - texts.begin(), std::find(texts.begin(), texts.end(), state + " 2") - texts.begin())
            << sender << ": state packets of one sender keep their order";
    }
}

TEST_F(Transport, ConsoleMonitorSeesItsEndpointOnly) {
    auto& watched = addDevice(2);
    auto& other = addDevice(3);
    device_test::LockedList<std::string> lines;
    m_transport->setConsoleMonitor(endpointOf(other), [](const std::string&, bool) { FAIL() << "replaced"; });
    m_transport->setConsoleMonitor(endpointOf(watched), [add = lines.adder()](const std::string& text, bool outgoing) {
        add((outgoing ? "> " : "< ") + text);
    });
    m_transport->setConsoleMonitor(endpointOf(other), TransferProtocol::ConsoleMonitor());

    std::string reply;
    ASSERT_TRUE(sync(watched, "echo one", reply));
    ASSERT_TRUE(sync(other, "echo two", reply));
    watched.send("ERR line break", server());
    other.send("ERR elsewhere", server());
    ASSERT_TRUE(waitUntil([&] { return m_unknown.size() == 2; }));
    EXPECT_EQ(lines.items(), (Texts{"> echo one", "< one", "< ERR line break"}));
    m_transport->clearConsoleMonitors();
    ASSERT_TRUE(sync(watched, "echo three", reply));
    EXPECT_EQ(lines.size(), 3u);
}

TEST_F(Transport, MonitorsChangeWhileTrafficFlows) {
    auto& speaker = addDevice(2);
    const auto to = endpointOf(speaker);
    std::atomic<bool> running{true};
    std::thread changer([&] {
        while (running) {
            m_transport->setConsoleMonitor(to, [](const std::string&, bool) {});
            m_transport->clearConsoleMonitors();
        }
    });
    std::thread unsolicited([&] {
        for (int i = 0; i < 200 && running; ++i) speaker.send("ERR noise", server());
    });
    std::string reply;
    int answered = 0;
    for (int i = 0; i < 200; ++i) answered += sync(speaker, "echo " + std::to_string(i), reply);
    running = false;
    changer.join();
    unsolicited.join();
    EXPECT_EQ(answered, 200);
}

TEST_F(Transport, LateDuplicateIsNotTheReplyToTheNextRequest) {
    auto& speaker = addDevice(2);
    // Answers 150 ms late: the request is resent at 100 ms and both sends are
    // answered, the second at about 250 ms.
    speaker.setReplyPolicy({0, false, 150ms});
    std::string reply;
    ASSERT_TRUE(sync(speaker, "echo A", reply, 100));
    EXPECT_EQ(reply, "A");
    speaker.setReplyPolicy({});
    ASSERT_TRUE(sync(speaker, "echo B", reply));
    EXPECT_EQ(reply, "B") << "the duplicate reply to A was taken for B";
    ASSERT_TRUE(waitUntil([&] { return m_unknown.size() == 1; }));
    EXPECT_EQ(m_unknown.texts().at(0), "A");

    // A second reply that comes while nothing is pending is unknown too.
    device::sim::ReplyPolicy twice;
    twice.copies = 2;
    twice.copyGap = 30ms;
    speaker.setReplyPolicy(twice);
    ASSERT_TRUE(sync(speaker, "echo once", reply));
    EXPECT_EQ(reply, "once");
    ASSERT_TRUE(waitUntil([&] { return m_unknown.size() == 2; }));
    EXPECT_EQ(m_unknown.texts().at(1), "once");
}

// A device answering 2.6 resend times late: the reply to the first send
// comes after the give-up and goes to the request's late completion; the
// reply to the resend comes a resend time later, past the rest counted from
// the give-up, and was taken as the reply to the next request. The next
// request now leaves only after it.
TEST_F(Transport, LateRepliesOfAGivenUpRequestNeverAnswerTheNextOne) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, false, 2600ms});
    Completions done;
    m_transport->async(endpointOf(speaker), "echo first", done.make("first"), 2, 1000, done.make("first late"));
    m_transport->async(endpointOf(speaker), "echo second", done.make("second"), 2, 1000);
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() == 2; }));
    // Quicker for the next request, yet slower than the late reply to the
    // resend would be after a rest counted from the give-up alone.
    speaker.setReplyPolicy({0, false, 300ms});
    ASSERT_TRUE(waitUntil([&] { return done.size() == 3; }, 8000ms));
    EXPECT_EQ(done.results(), (Texts{"first!", "first late=first", "second=second"}));
    EXPECT_EQ(m_unknown.texts(), Texts{"first"}) << "the reply to the resend goes where unknown replies go";
    const auto counts = m_transport->getStatistics();
    EXPECT_EQ(counts.timedOut, 1u);
    EXPECT_EQ(counts.unmatched, 2u);
    EXPECT_EQ(counts.late, 1u);
    EXPECT_EQ(counts.answered, 1u);
}

// sync() waited 2R + 50 ms from its call: a request queued behind two others
// to a device answering 800 ms late was withdrawn before it was sent. Then a
// caller behind another caller's requests was let go at that bound from its
// call, unsent, and told the loudspeaker was offline, though it answered
// each request. Now every caller waits its turn while the device answers,
// whichever queued first, and gets its own reply.
TEST_F(Transport, CallersBehindEachOthersRequestsToALateDeviceThatAnswersAreEachAnswered) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, false, 800ms});
    Completions done;
    std::string own, other;
    std::atomic<bool> ownAnswered{false}, otherAnswered{false};
    std::thread caller([&] {
        m_transport->async(endpointOf(speaker), "echo 0", done.make("0"), 2, 1000);
        m_transport->async(endpointOf(speaker), "echo 1", done.make("1"), 2, 1000);
        ownAnswered = sync(speaker, "echo 2", own);
    });
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() == 1; }));
    const auto start = Clock::now();
    otherAnswered = sync(speaker, "echo 3", other);
    const auto otherWaited = msSince(start);
    caller.join();
    EXPECT_TRUE(ownAnswered);
    EXPECT_EQ(own, "2");
    EXPECT_TRUE(otherAnswered) << "a loudspeaker that answers each request is not offline";
    EXPECT_EQ(other, "3");
    EXPECT_LE(otherWaited, 4 * 800 + 1000) << "its turn, whichever it was";
    ASSERT_TRUE(waitUntil([&] { return done.size() == 2; }));
    EXPECT_EQ(done.results(), (Texts{"0=0", "1=1"}));
    const auto counts = m_transport->getStatistics();
    EXPECT_EQ(counts.timedOut, 0u);
    EXPECT_EQ(counts.released, 0u);
    EXPECT_EQ(counts.answered, 4u);
}

// The property panel opened just after the gong on a loudspeaker that had
// stopped answering: its read waited behind the gong's requests, the drain
// after each and then its own two resend times (the window froze 5.3 s).
// Once the loudspeaker counts as not answering, a waiting request behind
// another caller's request ends at once.
TEST_F(Transport, AWaitingRequestBehindAnotherCallersRequestToASilentDeviceEndsAtOnce) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, true});
    Completions done;
    // Asked from another thread: another caller's.
    std::thread([&] {
        m_transport->async(endpointOf(speaker), "echo switch", done.make("switch"), 2, 200);
        m_transport->async(endpointOf(speaker), "echo volume", done.make("volume"), 2, 200);
    }).join();
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() == 1; }));
    std::string reply;
    EXPECT_FALSE(sync(speaker, "echo panel", reply, 200));
    const auto sinceSwitch =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - speaker.received().at(0).at);
    EXPECT_GE(sinceSwitch.count(), 400 - 5) << "let go at the switch's give-up";
    EXPECT_LE(sinceSwitch.count(), 400 + 100) << "not after the gong's two give-ups and its own (1900 ms)";

    // The volume goes after the drain (700 ms): behind it, at once.
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() == 3; }));
    const auto start = Clock::now();
    EXPECT_FALSE(sync(speaker, "echo panel again", reply, 200));
    EXPECT_LE(msSince(start), 50);
    for (const auto& datagram : speaker.received()) EXPECT_NE(datagram.text.rfind("echo panel", 0), 0u);

    // Idle after the drain, the loudspeaker is asked: it may be back.
    ASSERT_TRUE(waitUntil([&] { return done.size() == 2; }));
    speaker.setReplyPolicy({});
    EXPECT_TRUE(sync(speaker, "echo back", reply, 200));
    EXPECT_EQ(reply, "back");
    EXPECT_EQ(done.results(), (Texts{"switch!", "volume!"}));
    EXPECT_EQ(m_transport->getStatistics().released, 2u);
}

TEST_F(Transport, HandlersMayNotWaitAndTheirFaultsStopNothing) {
    auto& speaker = addDevice(2);
    const auto refusals = std::make_shared<std::atomic<int>>(0);  // the handler's own
    TransferProtocol* const transport = m_transport.get();
    m_transport->setAllResponseHandler(
        [refusals, transport](const std::string& text, const net::IpAndPort& source) -> bool {
            if (text == "boom") throw std::runtime_error("handler fault");
            if (text != "nest") return false;
            std::string reply;
            try {
                transport->sync(source, "echo nested", reply, 2, 100);
            } catch (const exception::InternalError&) {
                ++*refusals;
            }
            return true;
        });
    speaker.send("nest", server());
    ASSERT_TRUE(waitUntil([&] { return *refusals == 1; })) << "sync inside a handler is refused";
    speaker.send("boom", server());
    ASSERT_TRUE(waitUntil([&] { return m_unknown.size() == 1; })) << "offered on after the fault";
    Completions done;
    m_transport->async(
        endpointOf(speaker), "echo after",
        [](const std::string&, bool) { throw exception::InternalError(L"completion fault"); }, 2, 1000);
    m_transport->async(endpointOf(speaker), "echo next", done.make("next"), 2, 1000);
    ASSERT_TRUE(waitUntil([&] { return done.size() == 1; }));
    EXPECT_EQ(done.results().at(0), "next=next");
    std::string reply;
    EXPECT_TRUE(sync(speaker, "echo still", reply));
}

// The program's exit stops the transport: every waiting caller goes at
// once, whether its request is in flight or queued, and however long the
// device is known to take.
TEST_F(Transport, StopReleasesWaitersAndDropsCompletions) {
    auto& speaker = addDevice(2);
    speaker.setReplyPolicy({0, true});
    Completions done;
    m_transport->async(endpointOf(speaker), "echo dropped", done.make("dropped"), 2, 1000);
    auto& late = addDevice(3);
    late.setReplyPolicy({0, false, 1900ms});
    std::atomic<int> released{0};
    std::vector<long long> waited(2, 0);
    std::vector<std::thread> callers;
    const auto call = [&](const SimulatedDevice& device, const char* text, int priority, std::size_t index) {
        callers.emplace_back([&, text, priority, index] {
            std::string reply;
            const auto start = Clock::now();
            if (!m_transport->sync(endpointOf(device), text, reply, priority, 1000)) ++released;
            waited[index] = msSince(start);
        });
    };
    call(speaker, "echo waits", 0, 0);  // queued behind the dropped one
    call(late, "echo in flight", 2, 1);
    ASSERT_TRUE(waitUntil([&] { return speaker.receivedCount() >= 1 && late.receivedCount() >= 1; }));
    std::this_thread::sleep_for(50ms);
    const auto stopAt = Clock::now();
    m_transport->stop();
    const auto stopTook = msSince(stopAt);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(released, 2);
    EXPECT_LT(std::max(waited[0], waited[1]), 1000) << "released by stop, not by their time-outs";
    EXPECT_LT(stopTook, 500);
    m_transport->stop();  // twice is harmless
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(done.size(), 0u) << "a stopped transport completes nothing";
    std::string reply;
    const auto after = Clock::now();
    EXPECT_FALSE(sync(speaker, "echo late", reply, 100));
    EXPECT_LE(msSince(after), 20) << "at once after the stop";
}

namespace {

/// The transport as the program runs it: the dispatcher is there first.
class TransportWithDispatcher : public Transport {
protected:
    void SetUp() override {
        m_dispatcherThreads = testing_support::threadsStartedBy([] { base::ThreadDispatcher::create(); });
        Transport::SetUp();
    }
    void TearDown() override {
        Transport::TearDown();
        base::ThreadDispatcher::destroy();
    }

    /// The dispatcher's two threads, by their kernel ids.
    std::vector<pid_t> m_dispatcherThreads;
};

/// The state packets that a handler read and the dispatcher jobs that it
/// and the test queued. The handler and the jobs own it with the test body,
/// so that a job that outlives a failed assertion touches nothing of the
/// body's; the body's Finish makes sure none does.
class StatePackets {
public:
    struct Packet {
        std::string source;
        std::string text;
        pid_t reader = 0;
        pid_t runner = 0;  // of the job that the handler queued; 0 until it runs
    };

    /// On every way out of a test body: lets the holding jobs go, queues
    /// nothing more and waits until every job queued has returned.
    class Finish {
    public:
        explicit Finish(std::shared_ptr<StatePackets> packets) : m_packets(std::move(packets)) {}
        ~Finish() {
            m_packets->release = true;
            {
                std::lock_guard<std::mutex> lock(m_packets->m_mutex);
                m_packets->m_closed = true;
            }
            if (!device_test::waitUntil([&] { return m_packets->m_unfinished == 0; }, 10s))
                ADD_FAILURE() << m_packets->m_unfinished << " dispatcher jobs still run";
        }
        Finish(const Finish&) = delete;
        Finish& operator=(const Finish&) = delete;

    private:
        std::shared_ptr<StatePackets> m_packets;
    };

    /// Notes each datagram and queues a job that notes the thread it ran on.
    static TransferProtocol::ResponseHandler handler(const std::shared_ptr<StatePackets>& self) {
        return [self](const std::string& text, const net::IpAndPort& source) {
            std::size_t index = 0;
            {
                std::lock_guard<std::mutex> lock(self->m_mutex);
                self->m_packets.push_back({source.getText(), text, testing_support::currentThreadId()});
                index = self->m_packets.size() - 1;
            }
            queue(self, L"state", [index](StatePackets& packets) {
                std::lock_guard<std::mutex> lock(packets.m_mutex);
                packets.m_packets[index].runner = testing_support::currentThreadId();
                ++packets.m_ran;
            });
            return true;
        };
    }

    /// Adds `body` as a dispatcher job, counted until it returns.
    template <class Body>
    static void queue(const std::shared_ptr<StatePackets>& self, const wchar_t* description, Body body) {
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            if (self->m_closed) return;
            ++self->m_unfinished;
        }
        struct Returned {
            StatePackets& packets;
            ~Returned() { --packets.m_unfinished; }
        };
        const auto id = base::ThreadDispatcher::add(std::wstring(description), 0, [self, body] {
            const Returned returned{*self};
            body(*self);
        });
        if (id == 0) --self->m_unfinished;
    }

    std::vector<Packet> packets() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_packets;
    }
    std::size_t ran() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ran;
    }
    int unfinished() const { return m_unfinished; }

    std::atomic<int> held{0};
    std::atomic<bool> release{false};

private:
    mutable std::mutex m_mutex;
    std::vector<Packet> m_packets;  // in the order read
    std::size_t m_ran = 0;
    bool m_closed = false;
    std::atomic<int> m_unfinished{0};
};

std::string describe(const StatePackets::Packet& packet) {
    return "'" + packet.text + "' read on " + std::to_string(packet.reader) + ", its job ran on " +
           std::to_string(packet.runner);
}

}  // namespace

// While both dispatcher threads are busy the responder reads, and each
// sender's packets keep their order. A state packet that comes while both
// threads sleep wakes one of them, which reads it and then runs the job that
// the handler added itself; the other sleeps on.
TEST_F(TransportWithDispatcher, IdleDispatcherThreadsReadStatePacketsAndTheResponderWhileTheyAreBusy) {
    ASSERT_EQ(m_dispatcherThreads.size(), 2u);
    const std::vector<pid_t>& threads = m_dispatcherThreads;
    auto& first = addDevice(10);
    auto& second = addDevice(11);
    const std::string state = "00:11:22:33:44:55,1,2,3,4,5,6,7";
    const auto packets = std::make_shared<StatePackets>();
    const StatePackets::Finish finish(packets);
    m_transport->setAllResponseHandler(StatePackets::handler(packets));

    // Two long jobs: the second takes over after the first has had 500 ms.
    for (int i = 0; i < 2; ++i)
        StatePackets::queue(packets, L"long", [](StatePackets& p) {
            ++p.held;
            while (!p.release) std::this_thread::sleep_for(1ms);
        });
    ASSERT_TRUE(waitUntil([&] { return packets->held == 2; }));
    for (int i = 0; i < 5; ++i)
        for (auto* device : {&first, &second}) device->send(state + " busy " + std::to_string(i), server());
    ASSERT_TRUE(waitUntil([&] { return packets->packets().size() == 10; }))
        << "nobody read while the dispatcher was busy";
    packets->release = true;
    ASSERT_TRUE(waitUntil([&] { return packets->unfinished() == 0; }));
    const std::vector<StatePackets::Packet> busy = packets->packets();
    for (const auto& packet : busy)
        EXPECT_EQ(std::count(threads.begin(), threads.end(), packet.reader), 0) << describe(packet);
    for (auto* device : {&first, &second}) {
        Texts texts;
        for (const auto& packet : busy)
            if (packet.source == endpointOf(*device).getText()) texts.push_back(packet.text);
        EXPECT_EQ(texts, (Texts{state + " busy 0", state + " busy 1", state + " busy 2", state + " busy 3",
                                state + " busy 4"}));
    }

    // Each packet is sent once both threads sleep. While both are idle each
    // also wakes by itself now and then (at least every 500 ms) to look for
    // due jobs, and may then take the job or the packet: a packet that meets
    // such a look shows nothing either way and is sent again.
    const auto asleep = [&] {
        return testing_support::sleepsInEpoll(threads[0]) && testing_support::sleepsInEpoll(threads[1]);
    };
    int shown = 0;
    std::string unshown;
    for (int sent = 0; shown < 10 && sent < 40; ++sent) {
        ASSERT_TRUE(waitUntil(asleep)) << "the dispatcher threads don't go back to sleep";
        const testing_support::Sleeps sleeps(threads);
        first.send(state + " idle " + std::to_string(sent), server());
        ASSERT_TRUE(waitUntil([&] { return packets->ran() == busy.size() + sent + 1; }));
        ASSERT_TRUE(waitUntil(asleep)) << "the dispatcher threads don't go back to sleep";
        const StatePackets::Packet packet = packets->packets().back();
        const pid_t other = packet.reader == threads[0] ? threads[1] : threads[0];
        if (std::count(threads.begin(), threads.end(), packet.reader) == 1 && packet.runner == packet.reader &&
            sleeps.wakeUpsOf(other) == 0)
            ++shown;
        else
            unshown += "\n" + describe(packet) + "; the other woke " + std::to_string(sleeps.wakeUpsOf(other)) +
                       " times";
    }
    EXPECT_EQ(shown, 10) << "dispatcher threads " << threads[0] << " and " << threads[1] << ":" << unshown;
}

TEST(TransportLife, DestroyedWithoutRunAndPortTaken) {
    auto first = std::make_unique<TransferProtocol>(0, "");
    const auto port = first->getPort();
    EXPECT_NE(port, 0);
    const std::wstring taken = device_test::messageOf<exception::ExternalError>([&] { TransferProtocol(port, ""); });
    EXPECT_EQ(taken.substr(0, taken.find(L'|')), L"Не удалось открыть порт управления устройствами");
    EXPECT_LT(taken.find(L'|') + 1, taken.size()) << "with the system's reason";
    EXPECT_THROW(TransferProtocol(0, "192.0.2.77"), exception::ExternalError) << "no interface has it";
    EXPECT_THROW(TransferProtocol(0, "not an address"), exception::ExternalError);
    first.reset();                              // never ran
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
    const std::string add = "ip link add " + name + " type bridge 2>/dev/null && ip addr add 192.0.2.1/32 dev " + name +
                            " && ip link set " + name + " up";
    if (std::system(add.c_str()) != 0) GTEST_SKIP() << "cannot make an interface here";
    struct Remove {
        std::string name;
        ~Remove() {
            if (std::system(("ip link del " + name + " 2>/dev/null").c_str()) != 0)
                std::fprintf(stderr, "ip link del failed\n");
        }
    } remove{name};

    device::sim::Simulator simulator;
    auto& speaker = simulator.addOrvel("127.0.0.2", 0, "02:56:53:00:00:02");
    simulator.start();
    const net::IpAndPort to("127.0.0.2", speaker.endpoint().port());

    TransferProtocol transport(0, "192.0.2.1");
    Seen unknown;
    transport.setUnknownResponseHandler(unknown.handler());
    transport.run();
    std::string reply;
    EXPECT_TRUE(transport.sync(to, "get vol", reply, 2, 100));
    ASSERT_EQ(speaker.receivedCount(), 1u);
    EXPECT_EQ(speaker.received().at(0).source.address().to_string(), "192.0.2.1")
        << "requests leave with the interface address";

    const auto port = transport.getPort();
    speaker.send("via loopback", Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port));
    speaker.send("via the interface", Endpoint(boost::asio::ip::make_address_v4("192.0.2.1"), port));
    ASSERT_TRUE(waitUntil([&] { return unknown.size() > 0; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(unknown.texts(), Texts{"via the interface"});
    transport.stop();
    simulator.stop();
}
