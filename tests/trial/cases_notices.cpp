// Every notice path of the running program, on 20 loudspeakers each at its
// own volume, and again with every second one answering 800 ms late (the
// microphone's notices, live, end only by the operator's stop; a gong
// alone keeps the loudspeakers on the notice's channel once it has sounded,
// the window saying "Завершено", until the operator's stop): while
// the notice sounds every loudspeaker is on the notice's channel (or, for a
// service message, at its volume on the common channel); after it ends,
// by the operator's stop or by itself, every loudspeaker holds channel 0
// and exactly its own volume. The figures: the first datagram of the
// notice after the operator's click, the window's longest stall, the
// notices the log told.
#include <gtest/gtest.h>

#include "tests/trial/trial.h"

using namespace trial;
using Stream = Receiver::Stream;

namespace {

/// The window may take this long over any action; longer, the operator
/// sees it hang.
constexpr auto kResponsive = 500ms;
/// How long a loudspeaker may take to be switched, or given back, beside
/// loudspeakers 800 ms late that each need a switch and a volume.
constexpr auto kSettle = 15s;

struct NoticeCase {
    Path path;
    bool byItself;  // ends by itself, not by the operator's stop
    double late;    // every second loudspeaker's lateness
};

std::string nameOf(const NoticeCase& c) {
    return pathName(c.path) + (c.byItself ? "_by_itself" : "_stop") + (c.late > 0 ? "_late" : "");
}

class TrialNoticePaths : public ::testing::TestWithParam<NoticeCase> {};

}  // namespace

TEST_P(TrialNoticePaths, Notice) {
    const NoticeCase c = GetParam();
    Trial trial("notice_" + nameOf(c), Site::orvel610(20, c.late));
    // A notice that ends by itself is short; one the operator stops lasts
    // far longer than the case.
    trial.prepareNotice(c.path, c.byItself ? 8 : 300);
    trial.start();
    trial.openPath(c.path);
    const auto started = trial.startNotice(c.path);
    trial.firstDatagram("first_datagram", Trial::streamOf(c.path), started, Trial::deadlineOf(c.path));
    const auto taken = trial.waitAllTaken(c.path, kSettle);
    if (trial.check(taken.has_value(), "not every loudspeaker was taken by the notice"))
        trial.report().seconds("all_taken", *taken - started);
    if (c.byItself && c.path == Path::GongButton) {
        trial.check(trial.shows("wxStaticText", "Завершено", 30s), "the window never said the gong ended");
        trial.stopNotice(c.path);
    }
    if (!c.byItself) trial.stopNotice(c.path);
    trial.expectOwnVolumes(c.byItself ? 30s : kSettle);
    trial.stall("stall", started, kResponsive);
    trial.report().figure("told", std::to_string(trial.toldSinceMark().size()));
    trial.quit("quit", 3s);
}

INSTANTIATE_TEST_SUITE_P(
    , TrialNoticePaths,
    ::testing::Values(NoticeCase{Path::AlarmPage, false, 0}, NoticeCase{Path::AlarmPage, true, 0},
                      NoticeCase{Path::AlarmPage, false, 0.8}, NoticeCase{Path::AlarmPage, true, 0.8},
                      NoticeCase{Path::AlarmButton, false, 0}, NoticeCase{Path::AlarmButton, false, 0.8},
                      NoticeCase{Path::GongButton, false, 0}, NoticeCase{Path::GongButton, true, 0},
                      NoticeCase{Path::GongButton, true, 0.8}, NoticeCase{Path::MicrophonePage, false, 0},
                      NoticeCase{Path::MicrophonePage, false, 0.8}, NoticeCase{Path::ServicePage, false, 0},
                      NoticeCase{Path::ServicePage, true, 0}, NoticeCase{Path::ServicePage, false, 0.8},
                      NoticeCase{Path::ServicePage, true, 0.8}, NoticeCase{Path::Scheduled, true, 0},
                      NoticeCase{Path::Scheduled, true, 0.8}),
    [](const ::testing::TestParamInfo<NoticeCase>& info) { return nameOf(info.param); });

// Ten notices in a row on the alarm page, each stopped once every
// loudspeaker took it: each time every loudspeaker gets exactly its own
// volume back, never a volume the notice read while it held them.
TEST(TrialNotices, TenAlarmsInARowKeepTheExactVolumes) {
    Trial trial("notice_ten_in_a_row", Site::orvel610(20, 0.8));
    trial.prepareNotice(Path::AlarmPage, 300);
    trial.start();
    trial.openPath(Path::AlarmPage);
    std::size_t back = 0;
    std::chrono::duration<double> latest{0};
    const auto first = Trial::Clock::now();
    for (int round = 1; round <= 10; ++round) {
        const std::string name = "round " + std::to_string(round) + ": ";
        const auto started = trial.startNotice(Path::AlarmPage);
        const auto datagram = trial.receiver().waitFirstAfter(Stream::NoticeHigh, started, 13s);
        if (!trial.check(datagram.has_value(), name + "no notice datagram")) break;
        latest = std::max(latest, std::chrono::duration<double>(*datagram - started));
        if (!trial.check(trial.waitAllTaken(Path::AlarmPage, kSettle).has_value(),
                         name + "not every loudspeaker took the notice"))
            break;
        trial.stopNotice(Path::AlarmPage);
        if (!trial.expectOwnVolumes(kSettle)) break;
        ++back;
    }
    trial.report().seconds("first_datagram_max", latest);
    trial.check(latest <= 3s, "a notice's first datagram came " + secondsText(latest) + " s after its click");
    trial.report().share("rounds", back, 10);
    trial.stall("stall", first, kResponsive);
    trial.quit("quit", 3s);
}
