// ctest-labels: net
// The transport against a simulated device behind a faulty network: replies
// lost, late, doubled and swapped. A request gets its own reply or none,
// never another's; time-outs keep to the resend rule; nothing leaves a
// thread.
#include <cstdio>

#include "tests/device/fault_test_support.h"
#include "tools/simulator/fault_model.h"

using namespace std::chrono_literals;
using device::sim::Fault;
using device::sim::FaultModel;
using device::sim::FaultRates;
using device::sim::SimulatedDevice;

namespace {

// The simulated device shares the machine with the transport: under load its
// late replies come later still, by the scheduler's delays of up to tens of
// milliseconds. The transport holds back replies up to 2.5 resend times
// late; the latest here, 2.05 resend times, leaves 45 ms for those delays.
constexpr unsigned kResend = 100;

/// What the completions of async() reported, by request tag.
class Outcomes : public device_test::LockedList<std::pair<std::string, std::string>> {
public:
    device::TransferProtocol::Completion make(const std::string& tag) const {
        return [add = adder(), tag](const std::string& reply, bool answered) {
            add({tag, answered ? reply : "<none>"});
        };
    }
};

class FaultyNetwork : public fault_test::FaultFixture {
protected:
    void SetUp() override {
        FaultFixture::SetUp();
        m_transport->setUnknownResponseHandler([this](const std::string& text, const net::IpAndPort&) {
            m_unknown.add(text);
            return true;
        });
    }

    /// A loudspeaker at 127.0.3.`n` that answers "echo X" with "X", behind
    /// the fault model returned.
    FaultModel& addEchoDevice(int n, unsigned seed) {
        auto inner = std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(n),
                                                               device::sim::kDefaultOrvelVersion);
        inner->on("echo", [](const std::string& text) { return std::optional<std::string>(text); });
        auto faulty = std::make_unique<FaultModel>(std::move(inner), seed);
        FaultModel& model = *faulty;
        m_device = &m_simulator.add("127.0.3." + std::to_string(n), 0, std::move(faulty));
        model.attach(*m_device, server());
        m_to = device_test::endpointOf(*m_device);
        return model;
    }

    std::vector<std::string> unknown() const { return m_unknown.items(); }
    std::size_t unknownCount(const std::string& text) const {
        const auto texts = unknown();
        return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
    }

    SimulatedDevice* m_device = nullptr;
    net::IpAndPort m_to;
    device_test::LockedList<std::string> m_unknown;
};

}  // namespace

// Without a rest after a give-up, a reply still on its way was taken by the
// next request to the device, which then reported the old request's answer.
TEST_F(FaultyNetwork, LateReplyAfterGiveUpIsNotTheReplyToTheNextRequest) {
    FaultModel& model = addEchoDevice(2, 1);
    model.setDelay(std::chrono::milliseconds(kResend * 22 / 10));  // after the give-up, within the rest
    model.script({Fault::Delay, Fault::Delay, Fault::Delay});      // both sends of A, the first of B

    std::string reply;
    EXPECT_FALSE(m_transport->sync(m_to, "echo A", reply, 2, kResend));
    Outcomes outcomes;
    m_transport->async(m_to, "echo B", outcomes.make("B"), 2, kResend);
    // A's late reply backed the resend time off to 2R; B's reply, 2.2R
    // late, still comes after its resend (unless the sender was that late
    // to resend it), which is answered at once, and the reply to its first
    // send then goes where unknown replies go.
    ASSERT_TRUE(device_test::waitUntil([&] {
        return outcomes.size() == 1 && unknownCount("A") == 2 &&
               unknownCount("B") + 1 == m_transport->getStatistics().resent;
    }));
    EXPECT_EQ(outcomes.items().at(0).second, "B");
    EXPECT_EQ(unknown().size(), 2 + unknownCount("B"));
    const auto counts = m_transport->getStatistics();
    EXPECT_EQ(counts.timedOut, 1u);
    EXPECT_EQ(counts.resent, 1 + unknownCount("B"));
}

TEST_F(FaultyNetwork, SwappedAndDoubledRepliesAnswerTheirRequestOnce) {
    FaultModel& model = addEchoDevice(3, 2);
    model.setDelay(20ms);
    // A's first reply is held back and follows the reply to its resend; C's
    // reply comes twice while nothing else is asked.
    model.script({Fault::Reorder, Fault::None, Fault::None, Fault::Duplicate});
    Outcomes outcomes;
    for (const char* tag : {"A", "B"})
        m_transport->async(m_to, std::string("echo ") + tag, outcomes.make(tag), 2, kResend);
    ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 2; }));
    std::string reply;
    ASSERT_TRUE(m_transport->sync(m_to, "echo C", reply, 2, kResend));
    EXPECT_EQ(reply, "C");
    ASSERT_TRUE(device_test::waitUntil([&] { return unknownCount("A") == 1 && unknownCount("C") == 1; }));
    EXPECT_EQ(outcomes.items(), (std::vector<std::pair<std::string, std::string>>{{"A", "A"}, {"B", "B"}}));
    EXPECT_EQ(unknown().size(), 2 + unknownCount("B")) << "only a slow exchange's own second reply besides";
    EXPECT_EQ(model.count(Fault::Reorder), 1u);
    EXPECT_EQ(model.count(Fault::Duplicate), 1u);
}

// Replies lost or late by up to two resend times and a little more (beyond
// the give-up, within the rest that follows it), in a seeded mix, to queued
// requests and to a caller that waits for each: every request completes
// exactly once, with its own reply or none. Each reply is lost or late on
// its own: the reply to a first send may come after the prompt reply to the
// resend, and a request sent just before the lateness grows has its two
// replies late by different times.
TEST_F(FaultyNetwork, MixedLossAndLatenessNeverCrossReplies) {
    constexpr int kRequests = 20;
    FaultModel& model = addEchoDevice(4, 7);
    model.setRates(FaultRates{0.2, 0.25, 0, 0, 0});
    Outcomes outcomes;
    std::atomic<bool> running{true};
    std::atomic<int> waited{0}, waitedAnswers{0};
    // The waiting caller's requests go ahead of the queued ones, yet wait
    // for the one in flight, another caller's; behind a request given up
    // they end at once (the pause spares asking again and again while the
    // device drains).
    std::thread waiter([&] {
        std::string reply;
        for (int k = 0; running; ++k, ++waited) {
            const std::string tag = "w" + std::to_string(k);
            if (!m_transport->sync(m_to, "echo " + tag, reply, 3, kResend)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kResend / 5));
                continue;
            }
            ++waitedAnswers;
            EXPECT_EQ(reply, tag) << "a waiting caller took another's reply";
        }
    });
    int sent = 0;
    for (const unsigned lateness : {kResend / 2, kResend * 3 / 2, kResend * 205 / 100}) {
        model.setDelay(std::chrono::milliseconds(lateness));
        for (int i = 0; i < kRequests; ++i, ++sent) {
            const std::string tag = std::to_string(sent);
            m_transport->async(m_to, "echo " + tag, outcomes.make(tag), 2, kResend);
        }
        EXPECT_TRUE(device_test::waitUntil([&] { return outcomes.size() == static_cast<std::size_t>(sent); },
                                           std::chrono::milliseconds(kRequests * kResend * 6 + 2000)))
            << "lateness " << lateness;
    }
    running = false;
    waiter.join();
    int answered = 0;
    std::vector<std::string> tags;
    for (const auto& result : outcomes.items()) {
        tags.push_back(result.first);
        if (result.second == "<none>") continue;
        ++answered;
        EXPECT_EQ(result.second, result.first) << "request " << result.first << " took another's reply";
    }
    EXPECT_EQ(tags.size(), static_cast<std::size_t>(sent));
    std::sort(tags.begin(), tags.end());
    EXPECT_EQ(std::unique(tags.begin(), tags.end()), tags.end()) << "a request completed twice";
    // Every queued request ends answered or given up; a waiting caller's
    // may also have been let go unsent behind one given up.
    const auto counts = m_transport->getStatistics();
    EXPECT_GE(counts.answered, static_cast<std::uint64_t>(answered + waitedAnswers));
    EXPECT_LE(counts.answered + counts.timedOut, static_cast<std::uint64_t>(sent + waited));
    EXPECT_GE(counts.answered + counts.timedOut, static_cast<std::uint64_t>(sent));
    EXPECT_GT(counts.timedOut, 0u) << "the mix must reach the give-up";
    EXPECT_GT(answered, sent / 2);
    EXPECT_GT(waited.load(), 5);
    EXPECT_GT(waitedAnswers.load(), 0);
    EXPECT_GT(model.count(Fault::Drop) + model.count(Fault::Delay), 20u);
}

// Every loudspeaker answering as late as the resend time or later: each
// request was resent, answered by the reply to its first send, and the
// device's address drained for the reply to the resend before the next
// request could go, about two reply times a request (an alarm's switch and
// volume took 3.4-4.2 s). The first answer to a resent request backs the
// resend time off, the next request goes once and its reply time is
// learnt: from then on each request goes once and takes one reply time.
// The latenesses are well away from every resend time the transport uses
// (a lateness equal to one would make whether a request is resent a race).
TEST_F(FaultyNetwork, ALateDeviceIsAskedOnceARequestOnceItsLatenessIsKnown) {
    constexpr unsigned kSlowResend = 400;
    int n = 5;
    for (const unsigned lateness : {kSlowResend / 2, kSlowResend * 3 / 2}) {
        FaultModel& model = addEchoDevice(n++, 11);
        model.setRates(FaultRates{0, 1, 0, 0, 0});
        model.setDelay(std::chrono::milliseconds(lateness));
        const bool resent = lateness > kSlowResend;
        std::string reply;
        ASSERT_TRUE(m_transport->sync(m_to, "echo first", reply, 2, kSlowResend)) << lateness;
        EXPECT_EQ(reply, "first");
        EXPECT_EQ(m_device->receivedCount(), resent ? 2u : 1u) << "nothing learnt yet";
        if (resent) {
            EXPECT_EQ(m_transport->replyTimes(m_to, kSlowResend).resend, 2ms * kSlowResend) << "backed off";
        }

        Outcomes outcomes;
        const auto start = std::chrono::steady_clock::now();
        for (const char* tag : {"a", "b", "c"})
            m_transport->async(m_to, std::string("echo ") + tag, outcomes.make(tag), 2, kSlowResend);
        ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 3; }, 10s));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                start);
        EXPECT_EQ(outcomes.items(),
                  (std::vector<std::pair<std::string, std::string>>{{"a", "a"}, {"b", "b"}, {"c", "c"}}));
        EXPECT_EQ(m_device->receivedCount(), resent ? 5u : 4u) << lateness << ": each sent once";
        // After the drain of the first request (the reply to its resend
        // extends it to 2.5 resend times after that reply): three reply times.
        EXPECT_LT(took.count(), static_cast<long long>(kSlowResend * 5 / 2 + 3 * lateness + 300)) << lateness;
    }
    EXPECT_EQ(m_transport->getStatistics().timedOut, 0u);
    EXPECT_EQ(m_transport->getStatistics().resent, 1u);
}

namespace {

/// When each request that starts with `prefix` first reached the device.
std::vector<std::chrono::steady_clock::time_point> firstArrivals(const SimulatedDevice& device,
                                                                 const std::string& prefix) {
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const auto& datagram : device.received())
        if (datagram.text.compare(0, prefix.size(), prefix) == 0) times.push_back(datagram.at);
    return times;
}

long long msBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

// The program's quit gave the loudspeakers back, the volume, then "set ch
// 0". With one datagram to each lost, the volume was resent at 1 s and
// answered at once, the address then drained until 3.5 s, the quit stopped
// the transport at 2.5 s, and "set ch 0" never left: every loudspeaker
// stayed on the alarm's channel (the quit now waits for the give-back). The
// next request leaves once the drain is over, and a reply to the first send
// that was held back rather than lost answers nothing: never the next
// request's reply.
TEST_F(FaultyNetwork, ARequestAfterALostOrHeldBackDatagramGetsItsOwnReply) {
    constexpr unsigned kResendMs = 1000;
    for (const Fault first : {Fault::Drop, Fault::Delay}) {
        FaultModel& model = addEchoDevice(first == Fault::Drop ? 20 : 24, 3);
        model.setDelay(std::chrono::milliseconds(kResendMs * 24 / 10));
        std::string reply;
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(m_transport->sync(m_to, "echo prompt", reply, 2, kResendMs));
        model.script({first}, "echo volume");
        Outcomes outcomes;
        m_transport->async(m_to, "echo volume", outcomes.make("volume"), 2, kResendMs);
        m_transport->async(m_to, "echo channel", outcomes.make("channel"), 2, kResendMs);
        ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 2; }, 10s));
        EXPECT_EQ(outcomes.items(), (std::vector<std::pair<std::string, std::string>>{{"volume", "volume"},
                                                                                      {"channel", "channel"}}));
        const auto volume = firstArrivals(*m_device, "echo volume");
        const auto channel = firstArrivals(*m_device, "echo channel");
        ASSERT_EQ(volume.size(), 2u);
        ASSERT_EQ(channel.size(), 1u);
        const long long out = msBetween(volume[0], channel[0]);
        std::printf("the next request left %lld ms after the first send of the one whose datagram was %s\n", out,
                    first == Fault::Drop ? "lost" : "held back");
        EXPECT_LT(out, kResendMs * 9 / 2) << "after the drain, well within the quit's 5 s";
        if (first == Fault::Delay) {
            EXPECT_TRUE(device_test::waitUntil([&] { return unknownCount("volume") == 1; }))
                << "the held-back reply answered nothing";
        }
    }
}

// A loudspeaker answered 2.4 resend times late once, and then nothing was
// asked of it for a while; at the next alarm its first datagram was lost.
// The one late reply held with no time limit: the switch was resent only at
// 2.66 s and the volume went at 9.3 s (at 1.0 s and 3.5 s beside a
// loudspeaker never late). Now the late reply teaches nothing but a
// back-off, which fades with quiet, and the alarm goes as for a loudspeaker
// never late.
TEST_F(FaultyNetwork, OneLateReplyIsForgottenWithQuiet) {
    constexpr unsigned kResendMs = 500;
    FaultModel& model = addEchoDevice(21, 4);
    std::string reply;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(m_transport->sync(m_to, "echo prompt", reply, 2, kResendMs));
    model.setDelay(std::chrono::milliseconds(kResendMs * 24 / 10));
    model.script({Fault::Delay, Fault::Delay}, "echo late");
    EXPECT_FALSE(m_transport->sync(m_to, "echo late", reply, 2, kResendMs)) << "given up";
    ASSERT_TRUE(device_test::waitUntil([&] { return unknownCount("late") == 2; }));
    EXPECT_EQ(m_transport->replyTimes(m_to, kResendMs).resend, 2ms * kResendMs)
        << "backed off, nothing learnt";
    m_transport->setEstimateAgeing(300ms);
    ASSERT_TRUE(device_test::waitUntil([&] {
        return m_transport->replyTimes(m_to, kResendMs).resend == std::chrono::milliseconds(kResendMs);
    })) << "faded with quiet";

    model.script({Fault::Drop}, "echo switch");
    Outcomes outcomes;
    m_transport->async(m_to, "echo switch", outcomes.make("switch"), 2, kResendMs);
    m_transport->async(m_to, "echo volume", outcomes.make("volume"), 2, kResendMs);
    ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 2; }, 10s));
    EXPECT_EQ(outcomes.items(),
              (std::vector<std::pair<std::string, std::string>>{{"switch", "switch"}, {"volume", "volume"}}));
    const auto switched = firstArrivals(*m_device, "echo switch");
    const auto volume = firstArrivals(*m_device, "echo volume");
    ASSERT_EQ(switched.size(), 2u);
    ASSERT_EQ(volume.size(), 1u);
    std::printf("switch resent after %lld ms, volume out after %lld ms (resend time %u ms)\n",
                msBetween(switched[0], switched[1]), msBetween(switched[0], volume[0]), kResendMs);
    EXPECT_LT(msBetween(switched[0], switched[1]), kResendMs * 3 / 2) << "resent at the base time";
    EXPECT_LT(msBetween(switched[0], volume[0]), kResendMs * 4)
        << "the volume after the drain of a resent request, as for a loudspeaker never late";
}

// A first datagram lost to a loudspeaker 1.2 resend times late: the reply to
// the resend came after the give-up and was timed from the first send, so
// the loudspeaker was taken for 2.2 resend times late, beside 1.2 for one
// that lost nothing. Now no reply to a resent request is timed: both back
// off alike, and their next requests, sent once, teach both the same.
TEST_F(FaultyNetwork, AReplyToAResendTeachesNothingWhetherTheFirstSendWasLostOrNot) {
    constexpr unsigned kResendMs = 500;
    const auto lateDevice = [&](int n, unsigned seed) -> FaultModel& {
        FaultModel& model = addEchoDevice(n, seed);
        model.setRates(FaultRates{0, 1, 0, 0, 0});
        model.setDelay(std::chrono::milliseconds(kResendMs * 12 / 10));
        return model;
    };
    lateDevice(22, 5).script({Fault::Drop});
    const net::IpAndPort lost = m_to;
    lateDevice(23, 6);
    const net::IpAndPort whole = m_to;
    std::string reply;
    std::thread other([&] {
        std::string own;
        EXPECT_TRUE(m_transport->sync(whole, "echo first", own, 2, kResendMs))
            << "the reply to its first send";
    });
    EXPECT_FALSE(m_transport->sync(lost, "echo first", reply, 2, kResendMs))
        << "given up before the late reply";
    other.join();
    // The reply to each resend: one late reply, one second reply.
    ASSERT_TRUE(device_test::waitUntil([&] { return unknownCount("first") == 2; }));
    EXPECT_EQ(m_transport->replyTimes(lost, kResendMs).resend, 2ms * kResendMs)
        << "not 2.2 resend times learnt";
    EXPECT_EQ(m_transport->replyTimes(whole, kResendMs).resend, 2ms * kResendMs);

    for (const auto& to : {lost, whole})
        ASSERT_TRUE(m_transport->sync(to, "echo second", reply, 2, kResendMs));
    EXPECT_EQ(m_transport->replyTimes(lost, kResendMs).resend, 3ms * kResendMs)
        << "1.2 resend times and four halves of it, at the bound";
    EXPECT_EQ(m_transport->replyTimes(whole, kResendMs).resend, 3ms * kResendMs);
    EXPECT_EQ(m_transport->getStatistics().resent, 2u) << "the second requests went once";
}

// Three callers waited for requests to a loudspeaker 800 ms late that
// answered each: the third was told "Устройство не в сети." before its
// request even left. And two datagrams lost in a row gave up a request to a
// loudspeaker that was answering all the while (its state packets came),
// which called it offline and closed the property panel. Now each caller
// waits its turn, and a request to a device heard from since its first
// send is sent a third time.
TEST_F(FaultyNetwork, CallersOfAnAnsweringDeviceAreAnsweredThroughLatenessAndLostDatagrams) {
    FaultModel& late = addEchoDevice(24, 8);
    late.setRates(FaultRates{0, 1, 0, 0, 0});
    late.setDelay(800ms);
    std::vector<std::string> replies(3);
    std::vector<char> answered(3, 0);
    std::vector<std::thread> callers;
    for (std::size_t i = 0; i < 3; ++i)
        callers.emplace_back([&, i] {
            answered[i] = m_transport->sync(m_to, "echo " + std::to_string(i), replies[i], 2, 1000);
        });
    for (auto& caller : callers) caller.join();
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(answered[i]) << i;
        EXPECT_EQ(replies[i], std::to_string(i));
    }
    EXPECT_EQ(m_transport->getStatistics().released, 0u);

    // Another loudspeaker loses two datagrams in a row. Its state packets go
    // to the handler that takes them; one leaves as each send arrives.
    FaultModel& lossy = addEchoDevice(25, 9);
    m_transport->setAllResponseHandler(
        [](const std::string& text, const net::IpAndPort&) { return text.rfind("STATE", 0) == 0; });
    SimulatedDevice* const device = m_device;
    const auto serverEndpoint = server();
    m_device->setObserver([device, serverEndpoint](const std::string&, const device::sim::Endpoint&,
                                                   const std::optional<std::string>&) {
        device->send("STATE", serverEndpoint);
    });
    lossy.script({Fault::Drop, Fault::Drop});
    std::string reply;
    EXPECT_TRUE(m_transport->sync(m_to, "echo twice lost", reply, 2, 500)) << "answered after a third send";
    EXPECT_EQ(reply, "twice lost");
    EXPECT_EQ(m_device->receivedCount(), 3u);
    EXPECT_EQ(m_transport->getStatistics().timedOut, 0u);
}
