// ctest-labels: net
// The ledger with the loudspeakers' own requests (OrvelLink) and simulated
// loudspeakers of each generation (an Orvel-510, an Orvel-610, an Orvel-611)
// over the real transport: what each holds once a notice lets it go, its
// channel and its volume exactly as its firmware writes it, after one notice
// and after ten, beside loudspeakers that answer after the reply time, stop
// answering, answer busy or with an error, or restart during the notice
// (the simulator's restart: down, then up on the common channel at the
// volume it powers up with).
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "audio/loudspeaker_ledger.h"
#include "audio/orvel_link.h"
#include "base/thread_dispatcher.h"
#include "tests/audio/channel_fixture.h"
#include "tests/base/log_fixture.h"

using namespace channel_test;
using Speaker = boost::shared_ptr<device::OrvelInfo>;
using frm::Holder;
using State = std::pair<unsigned, std::string>;

namespace {

/// One loudspeaker of each generation with the volume its installer set:
/// levels whose percent loses steps (-40 and -30 dB are both 1 %).
struct Model {
    int index;
    bool orvel611;
    std::string own;   // as "get vol" answers it
    std::string loud;  // 100 %, as the notice sets it
};
const std::vector<Model> kModels{
    {8, false, "19:19", "00:00"}, {18, false, "-40", "0"}, {18, true, "-4", "0"}};

class LedgerDevicesTest : public LogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        base::ThreadDispatcher::create();
        m_speakers = std::make_unique<Speakers>();
        m_ledger = std::make_shared<frm::LoudspeakerLedger>(std::make_shared<frm::OrvelLink>());
    }
    void TearDown() override {
        m_ledger.reset();
        m_speakers.reset();
        base::ThreadDispatcher::instance()->shutdown();
        base::ThreadDispatcher::destroy();
        LogFixture::TearDown();
    }

    /// One loudspeaker of each model, its volume read once as the program
    /// reads it when the loudspeaker answers first.
    std::vector<Speaker> loudspeakers() {
        std::vector<Speaker> added;
        for (const Model& model : kModels) {
            const Speaker d = m_speakers->add(model.index, model.orvel611);
            m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = model.own; });
            d->getVolume();
            m_speakers->sim(d).clearReceived();
            m_model[d] = model;
            added.push_back(d);
        }
        return added;
    }
    State state(const Speaker& d) {
        State now;
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { now = {m.channel, m.volume}; });
        return now;
    }
    /// Each loudspeaker in `expected` holds it within `limit`.
    ::testing::AssertionResult hold(const std::map<Speaker, State>& expected,
                                    std::chrono::milliseconds limit) {
        if (waitUntil(
                [&] {
                    for (const auto& [d, wanted] : expected)
                        if (state(d) != wanted) return false;
                    return true;
                },
                limit))
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure();
        for (const auto& [d, wanted] : expected)
            failure << base::toUtf8(d->getTitle()) << ": channel " << state(d).first << ", volume "
                    << state(d).second << " (wanted " << wanted.first << ", " << wanted.second << ") "
                    << ::testing::PrintToString(m_speakers->requests(d)) << "\n";
        return failure;
    }
    ::testing::AssertionResult onTheNotice(const std::vector<Speaker>& all,
                                           std::chrono::milliseconds limit = 5s) {
        std::map<Speaker, State> expected;
        for (const auto& d : all) expected[d] = {1u, m_model[d].loud};
        return hold(expected, limit);
    }
    ::testing::AssertionResult back(const std::vector<Speaker>& all, std::chrono::milliseconds limit = 5s) {
        std::map<Speaker, State> expected;
        for (const auto& d : all) expected[d] = {0u, m_model[d].own};
        return hold(expected, limit);
    }
    frm::LedgerBatch alarm(const std::vector<Speaker>& all) {
        std::map<frm::Loudspeaker, frm::Wish> wishes;
        for (const auto& d : all) wishes[d] = frm::Wish{device::CHANNEL_NOTICE_HIGH, 100, std::nullopt};
        return m_ledger->hold(Holder::kAlarm, wishes);
    }
    std::unique_ptr<Speakers> m_speakers;
    std::shared_ptr<frm::LoudspeakerLedger> m_ledger;
    std::map<Speaker, Model> m_model;
};

}  // namespace

// Each generation gets back its volume exactly as its firmware wrote it, and
// the operator's percent as it was sent, after one notice and after ten.
// Before, each went through its percent: -40 dB came back as -30, -4 as -5,
// and 19:19 as 1A:1A, then 1B:1B.
TEST_F(LedgerDevicesTest, EachGenerationGetsItsVolumeBackExactlyAfterOneNoticeAndAfterTen) {
    std::vector<Speaker> all = loudspeakers();
    const Speaker set = m_speakers->add();
    m_speakers->model(set, [](device::sim::OrvelBandModel& m) { m.volume = "-10"; });
    set->getVolume();
    m_model[set] = {18, false, "-19", "0"};  // 37 % as the Orvel-610 sends it
    all.push_back(set);
    for (int notice = 1; notice <= 10; ++notice) {
        ASSERT_TRUE(alarm(all).wait(5s));
        ASSERT_TRUE(onTheNotice(all)) << "notice " << notice;
        if (notice == 1) {
            ASSERT_TRUE(m_ledger->setOwnVolume({set}, frm::OwnVolume{37, std::nullopt}).wait(5s));
        }
        ASSERT_TRUE(m_ledger->releaseAll(Holder::kAlarm).wait(5s));
        ASSERT_TRUE(back(all)) << "after notice " << notice;
    }
    EXPECT_EQ(m_ledger->size(), 0u);
}

// Loudspeakers whose every reply comes after the reply time (yet within the
// time the transport still takes a late reply) are switched, set and given
// back exactly all the same; one silent at the give-back is given back
// exactly once it answers again.
TEST_F(LedgerDevicesTest, LateAndSilentLoudspeakersEndWithTheirOwnVolume) {
    const std::vector<Speaker> all = loudspeakers();
    for (const auto& d : all) m_speakers->setReplyDelay(d, 2300ms);
    alarm(all);
    ASSERT_TRUE(onTheNotice(all, 20s));
    m_ledger->releaseAll(Holder::kAlarm);
    ASSERT_TRUE(back(all, 20s));

    for (const auto& d : all) m_speakers->setReplyDelay(d, 0ms);
    ASSERT_TRUE(alarm(all).wait(5s));
    ASSERT_TRUE(onTheNotice(all));
    device::sim::ReplyPolicy quiet;
    quiet.silent = true;
    for (const auto& d : all) m_speakers->sim(d).setReplyPolicy(quiet);
    m_ledger->releaseAll(Holder::kAlarm).wait(5s);
    EXPECT_TRUE(onTheNotice(all, 0ms)) << "silent: nothing changed";
    for (const auto& d : all) m_speakers->sim(d).setReplyPolicy(device::sim::ReplyPolicy());
    EXPECT_TRUE(back(all, 40s));
}

// A switch answered late busy is asked again and done; one answered late
// with an error is told once the late replies had their time, with its
// cause, and the loudspeaker stays where it was. Both end with their own
// volume. Before, both counted as answered: neither was switched for the
// notice, and nobody was told.
TEST_F(LedgerDevicesTest, ALateBusyIsAskedAgainAndALateErrorIsTold) {
    const std::vector<Speaker> all = loudspeakers();
    const Speaker busy = all[1], refusing = all[2];
    // Later than the transport's give-up after three sends (its state
    // packets still come) at the base resend time.
    for (const auto& d : {busy, refusing}) m_speakers->setReplyDelay(d, 3300ms);
    m_speakers->model(
        busy, [](device::sim::OrvelBandModel& m) { m.refuse("set ch", device::DeviceBase::kBusyReply); });
    m_speakers->model(refusing, [](device::sim::OrvelBandModel& m) { m.refuse("set ch", "ERR channel"); });
    const frm::LedgerBatch taken = alarm({busy, refusing});
    ASSERT_TRUE(taken.wait(10s));
    std::promise<frm::StepFailures> toldPromise;
    auto told = toldPromise.get_future();
    m_ledger->afterLateReplies(taken, [&](const frm::LedgerBatch& settled) {
        toldPromise.set_value(
            settled.failures(frm::Settlement::kSwitch, frm::LedgerBatch::Answer::kUnanswered));
    });
    // Busy no more by the time it is asked again.
    ASSERT_TRUE(waitUntil([&] { return !m_speakers->requests(busy).empty(); }, 5s));
    m_speakers->model(busy, [](device::sim::OrvelBandModel& m) { m.refuse("set ch", ""); });
    ASSERT_EQ(told.wait_for(10s), std::future_status::ready);
    const frm::StepFailures failures = told.get();
    ASSERT_EQ(failures.summaries().size(), 1u);
    EXPECT_NE(failures.summaries()[0].cause.find(L"ERR channel"), std::wstring::npos);
    EXPECT_EQ(failures.summaries()[0].examples, std::vector<std::wstring>{refusing->getTitle()});
    // Four steps of a loudspeaker 3.3 s late, each sent up to three times
    // and drained after: the switch refused busy, the switch again, the
    // read and the volume.
    EXPECT_TRUE(onTheNotice({busy}, 30s));
    EXPECT_EQ(state(refusing).first, 0u);

    // On time again for the give-back: a loudspeaker later than three resend
    // times has each request resent and long drained.
    for (const auto& d : {busy, refusing}) m_speakers->setReplyDelay(d, 0ms);
    m_ledger->releaseAll(Holder::kAlarm);
    EXPECT_TRUE(back({busy, refusing}, 20s));
}

// A loudspeaker that restarts while a notice holds it (down for longer than
// its state packets may pause, then up on the common channel at the volume
// it powers up with) is switched and set again within a reply time of being
// seen back, and given back exactly at the end. Before, it was seen back and
// never switched again: it heard nothing of the rest of the alarm.
TEST_F(LedgerDevicesTest, ALoudspeakerThatRestartsDuringANoticeIsTakenAgain) {
    const std::vector<Speaker> all = loudspeakers();
    ASSERT_TRUE(alarm(all).wait(5s));
    ASSERT_TRUE(onTheNotice(all));
    // A few state packets first: their pace is what a restart's silence is
    // told from.
    std::this_thread::sleep_for(2500ms);
    std::map<Speaker, std::uint64_t> returns;
    for (const auto& d : all) {
        returns[d] = d->returnCount();
        m_speakers->model(d, [](device::sim::OrvelBandModel& m) {
            m.powerOnVolume = m.volume.find(':') != std::string::npos ? "1E:1E" : "-20";
        });
        m_speakers->sim(d).restart(4500ms);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& d : all)
                if (d->returnCount() == returns[d]) return false;
            return true;
        },
        10s))
        << "each seen back";
    const auto seen = std::chrono::steady_clock::now();
    ASSERT_TRUE(onTheNotice(all, 3s));
    EXPECT_LT(std::chrono::steady_clock::now() - seen, device::kBaseResendTime);

    m_ledger->releaseAll(Holder::kAlarm);
    EXPECT_TRUE(back(all));
}

// An installer turns a loudspeaker at the loudspeaker itself between two
// notices (its object still tells the volume it read at discovery): after
// the next notice it has the installer's volume, exactly, on an alarm's path
// (switched, set, given back) as on a service message's (the chosen ones set,
// the zone's others muted), for an Orvel-610 (dB) and an Orvel-510 (its
// level pair). Before, the volume read at discovery came back: -29 dB as
// -7, -45 as -17, 2A:2A as 12:14.
TEST_F(LedgerDevicesTest, AVolumeTurnedAtTheLoudspeakerBetweenTwoNoticesComesBackAfterTheNext) {
    struct Turned {
        int index;
        std::string discovered;  // what the object read
        std::string turned;      // what the installer set since
        std::string again;       // and between the next two notices
    };
    const std::vector<Turned> kinds{{18, "-7", "-29", "-4"}, {18, "-17", "-45", "-23"},
                                    {8, "12:14", "2A:2A", "19:19"}, {5, "20:20", "33:31", "0A:0A"}};
    std::vector<Speaker> all;
    std::map<Speaker, Turned> turned;
    for (const Turned& kind : kinds) {
        const Speaker d = m_speakers->add(kind.index);
        m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = kind.discovered; });
        d->getVolume();
        turned[d] = kind;
        all.push_back(d);
    }
    const auto turnAll = [&](std::string Turned::*value) {
        for (const auto& d : all)
            m_speakers->model(d, [&](device::sim::OrvelBandModel& m) { m.volume = turned[d].*value; });
    };
    const auto backAt = [&](std::string Turned::*value) {
        std::map<Speaker, State> expected;
        for (const auto& d : all) expected[d] = {0u, turned[d].*value};
        return hold(expected, 5s);
    };
    // A service message on the Orvel-610 at -7 and the Orvel-510 at 12:14,
    // the other two of the zone muted.
    const auto service = [&] {
        std::map<frm::Loudspeaker, frm::Wish> wishes;
        for (std::size_t i = 0; i < all.size(); ++i)
            wishes[all[i]] = i % 2 == 0 ? frm::Wish{std::nullopt, 90, std::nullopt}
                                        : frm::Wish{std::nullopt, std::nullopt, false};
        return m_ledger->hold(Holder::kPlayer, wishes);
    };

    turnAll(&Turned::turned);
    ASSERT_TRUE(alarm(all).wait(5s));
    ASSERT_TRUE(m_ledger->releaseAll(Holder::kAlarm).wait(5s));
    EXPECT_TRUE(backAt(&Turned::turned)) << "the alarm";
    turnAll(&Turned::again);
    ASSERT_TRUE(service().wait(5s));
    EXPECT_EQ(state(all[0]).second, "-3") << "the service message's 90 %";
    EXPECT_EQ(state(all[1]).second, "-96") << "muted";
    ASSERT_TRUE(m_ledger->releaseAll(Holder::kPlayer).wait(5s));
    EXPECT_TRUE(backAt(&Turned::again)) << "the service message";
    turnAll(&Turned::turned);
    ASSERT_TRUE(service().wait(5s));
    ASSERT_TRUE(m_ledger->releaseAll(Holder::kPlayer).wait(5s));
    EXPECT_TRUE(backAt(&Turned::turned)) << "the next service message";
    EXPECT_EQ(m_ledger->size(), 0u);
}
