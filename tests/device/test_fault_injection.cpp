// ctest-labels: net
// The transport against a simulated device behind a faulty network: replies
// lost, late, doubled and swapped. A request gets its own reply or none,
// never another's; time-outs keep to the resend rule; nothing leaves a
// thread.
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
    ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 1 && unknownCount("A") == 2; }));
    EXPECT_EQ(outcomes.items().at(0).second, "B");
    // A's late reply told the device's lateness: B goes once, unless the
    // simulator's slack took its reply past the resend time learnt (R/4
    // beyond the lateness); then its second reply goes the same way.
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
// exactly once, with its own reply or none. A request sent just before the
// lateness grows has its two replies late by different times.
TEST_F(FaultyNetwork, MixedLossAndLatenessNeverCrossReplies) {
    constexpr int kRequests = 20;
    FaultModel& model = addEchoDevice(4, 7);
    model.setRates(FaultRates{0.2, 0.25, 0, 0, 0});
    Outcomes outcomes;
    std::atomic<bool> running{true};
    std::atomic<int> waited{0}, waitedAnswers{0};
    // The waiting caller's requests go ahead of the queued ones, yet wait
    // for the one in flight, another caller's: its time counts from its
    // call, and behind a request given up it ends at once (the pause spares
    // asking again and again while the device drains).
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
    // may also have been let go unsent.
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
// volume took 3.4-4.2 s). Once a device's lateness is known its requests go
// once each and take one reply time.
TEST_F(FaultyNetwork, ALateDeviceIsAskedOnceARequestOnceItsLatenessIsKnown) {
    constexpr unsigned kSlowResend = 400;  // a quarter of it beyond the lateness covers the simulator's slack
    int n = 5;
    for (const unsigned lateness : {kSlowResend, kSlowResend * 3 / 2}) {
        FaultModel& model = addEchoDevice(n++, 11);
        model.setRates(FaultRates{0, 1, 0, 0, 0});
        model.setDelay(std::chrono::milliseconds(lateness));
        std::string reply;
        ASSERT_TRUE(m_transport->sync(m_to, "echo first", reply, 2, kSlowResend)) << lateness;
        EXPECT_EQ(reply, "first");
        EXPECT_EQ(m_device->receivedCount(), 2u) << "not known yet: resent";
        // Known once the reply to the resend came too.
        EXPECT_TRUE(device_test::waitUntil([&] {
            return m_transport->resendTime(m_to, kSlowResend).count() >= lateness + kSlowResend / 4 - 5;
        })) << lateness;

        Outcomes outcomes;
        const auto start = std::chrono::steady_clock::now();
        for (const char* tag : {"a", "b", "c"})
            m_transport->async(m_to, std::string("echo ") + tag, outcomes.make(tag), 2, kSlowResend);
        ASSERT_TRUE(device_test::waitUntil([&] { return outcomes.size() == 3; }, 10s));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                start);
        EXPECT_EQ(outcomes.items(),
                  (std::vector<std::pair<std::string, std::string>>{{"a", "a"}, {"b", "b"}, {"c", "c"}}));
        EXPECT_EQ(m_device->receivedCount(), 5u) << lateness << ": each sent once";
        // After the drain of the first request: three reply times.
        EXPECT_LT(took.count(), static_cast<long long>(kSlowResend * 2 + lateness / 2 + 3 * lateness + 300))
            << lateness;
    }
    EXPECT_EQ(m_transport->getStatistics().timedOut, 0u);
    EXPECT_EQ(m_transport->getStatistics().resent, 2u);
}
