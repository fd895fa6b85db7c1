// Failed probes of silent devices told by cause: the addresses no device can
// have, the tally of one search, and which causes of successive searches
// reach the operator. No sockets; the gate's clock is the test's.
#include <gtest/gtest.h>

#include "device/models/probe_failures.h"

using namespace std::chrono_literals;
using device::AddressFault;
using device::ProbeCause;
using device::ProbeFailures;
using device::ProbeNoticeGate;

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) { return a << 24 | b << 16 | c << 8 | d; }

ProbeCause sendError(const std::string& text) { return {AddressFault::None, text}; }
ProbeCause fault(AddressFault kind) { return {kind, ""}; }

const ProbeCause kUnreachable = sendError("Network is unreachable");
const ProbeCause kDenied = sendError("Permission denied");

std::wstring speaker(unsigned n) { return L"Громкоговоритель " + std::to_wstring(n); }

ProbeFailures search(std::initializer_list<std::pair<ProbeCause, unsigned>> counts) {
    ProbeFailures failures;
    unsigned n = 0;
    for (const auto& [cause, count] : counts)
        for (unsigned i = 0; i < count; ++i) failures.add(cause, speaker(++n));
    return failures;
}

std::vector<ProbeCause> causesOf(const std::vector<ProbeFailures::Summary>& summaries) {
    std::vector<ProbeCause> causes;
    for (const auto& summary : summaries) causes.push_back(summary.cause);
    return causes;
}

}  // namespace

TEST(ProbeFailures, AddressesNoDeviceCanHaveAreTheZeroNetworkMulticastAndReserved) {
    EXPECT_EQ(device::addressFault(ip(0, 255, 255, 255)), AddressFault::ThisNetwork);
    EXPECT_EQ(device::addressFault(ip(1, 0, 0, 0)), AddressFault::None);
    EXPECT_EQ(device::addressFault(ip(127, 0, 1, 5)), AddressFault::None) << "simulated devices live on loopback";
    EXPECT_EQ(device::addressFault(ip(223, 255, 255, 255)), AddressFault::None);
    EXPECT_EQ(device::addressFault(ip(224, 0, 0, 0)), AddressFault::Multicast);
    EXPECT_EQ(device::addressFault(ip(239, 255, 255, 255)), AddressFault::Multicast);
    EXPECT_EQ(device::addressFault(ip(240, 0, 0, 0)), AddressFault::Reserved);
    EXPECT_EQ(device::addressFault(ip(255, 255, 255, 255)), AddressFault::Reserved);
}

TEST(ProbeFailures, OneSummaryPerCauseWithTheCountAndTheFirstFewDevices) {
    ProbeFailures failures;
    for (unsigned n = 1; n <= 200; ++n) {
        failures.add(kUnreachable, speaker(n));
        if (n % 100 == 0) failures.add(fault(AddressFault::Multicast), speaker(1000 + n));
    }
    failures.add(kDenied, speaker(2000));
    ASSERT_EQ(failures.summaries().size(), 3u);
    const auto& first = failures.summaries()[0];
    EXPECT_EQ(first.cause, kUnreachable);
    EXPECT_EQ(first.count, 200u);
    EXPECT_EQ(first.examples, (std::vector<std::wstring>{speaker(1), speaker(2), speaker(3)}));
    EXPECT_EQ(device::joinedExamples(first), L"Громкоговоритель 1; Громкоговоритель 2; Громкоговоритель 3, …");
    EXPECT_EQ(failures.summaries()[1].cause, fault(AddressFault::Multicast));
    EXPECT_EQ(failures.summaries()[1].count, 2u);
    EXPECT_EQ(device::joinedExamples(failures.summaries()[1]), L"Громкоговоритель 1100; Громкоговоритель 1200");
    EXPECT_EQ(failures.summaries()[2].cause, kDenied);
    EXPECT_EQ(device::joinedExamples(failures.summaries()[2]), L"Громкоговоритель 2000") << "no ellipsis: all named";
}

TEST(ProbeFailures, ACauseIsToldWhenItComesAndAgainOnlyAfterItWentOrAfterTheQuietSpell) {
    std::chrono::steady_clock::time_point now{};
    ProbeNoticeGate gate(1h, [&now] { return now; });

    EXPECT_EQ(causesOf(gate.select(search({{kUnreachable, 200}, {fault(AddressFault::Reserved), 3}}))),
              (std::vector<ProbeCause>{kUnreachable, fault(AddressFault::Reserved)}));
    now += 10min;
    EXPECT_TRUE(gate.select(search({{kUnreachable, 250}, {fault(AddressFault::Reserved), 3}})).empty())
        << "the same causes again, whatever the counts";
    now += 10min;
    EXPECT_EQ(causesOf(gate.select(search({{kDenied, 1}, {kUnreachable, 200}}))), (std::vector<ProbeCause>{kDenied}))
        << "a new cause is told, the lasting one is not";
    now += 10min;
    EXPECT_TRUE(gate.select(search({})).empty());
    now += 1min;
    EXPECT_EQ(causesOf(gate.select(search({{kUnreachable, 200}}))), (std::vector<ProbeCause>{kUnreachable}))
        << "back after a search without it";
    now += 59min;
    EXPECT_TRUE(gate.select(search({{kUnreachable, 200}})).empty());
    now += 1min;
    EXPECT_EQ(causesOf(gate.select(search({{kUnreachable, 200}}))), (std::vector<ProbeCause>{kUnreachable}))
        << "lasting for the quiet spell: told again";
}
