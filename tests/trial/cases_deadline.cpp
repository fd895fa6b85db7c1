// The notice deadline: a notice is on the air within 3 s of the operator's
// ▶ (or of the password's Return for the main window's buttons), a service
// message within its 2.8 s pause and half a second, whatever late
// loudspeakers the site has; every loudspeaker is on the notice's channel
// while it sounds once it answers, and back at exactly its own volume after.
#include <gtest/gtest.h>

#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr auto kResponsive = 500ms;

struct DeadlineCase {
    std::string name;
    Site site;
    Path path;
    /// Loudspeakers the operator leaves out of the notice.
    std::vector<unsigned> unchosen;
};

Site oneLateAmongThirteen() {
    Site site = Site::orvel610(13);
    site.loudspeakers[6].late = 1.9;
    return site;
}

Site lateUnchosen() {
    Site site = Site::orvel610(20);
    site.loudspeakers[19].late = 1.9;
    return site;
}

class TrialDeadline : public ::testing::TestWithParam<DeadlineCase> {};

}  // namespace

TEST_P(TrialDeadline, Notice) {
    const DeadlineCase& c = GetParam();
    Trial trial("deadline_" + c.name, c.site);
    trial.prepareNotice(c.path, 300);
    trial.start();
    trial.openPath(c.path, c.unchosen);
    const auto started = trial.startNotice(c.path);
    trial.firstDatagram("first_datagram", Trial::streamOf(c.path), started, Trial::deadlineOf(c.path));
    const auto taken = trial.waitAllTaken(c.path, 15s, c.unchosen);
    if (trial.check(taken.has_value(),
                    "not every chosen loudspeaker was taken by the notice once it answered"))
        trial.report().seconds("all_taken", *taken - started);
    // An unchosen loudspeaker does not sound the notice: it stays on the
    // common channel, muted while a service message plays there. One that
    // answers late is muted as it answers (its volume read, then the mute),
    // while the message plays: the message does not wait for it.
    for (const unsigned left : c.unchosen) {
        const bool common = Trial::streamOf(c.path) == Receiver::Stream::Common;
        const auto silent = [&] {
            const auto now = trial.holdings();
            return now.count(left) && now.at(left).channel == 0u && (!common || now.at(left).volume == "-96");
        };
        const auto limit = Trial::Clock::now() + 8s;
        while (!silent() && Trial::Clock::now() < limit) std::this_thread::sleep_for(50ms);
        const auto now = trial.holdings();
        if (trial.check(silent(), "the unchosen loudspeaker " + std::to_string(left) + " sounds the notice: " +
                                      (now.count(left) ? describe(now.at(left)) : std::string("not listed"))))
            trial.report().seconds("unchosen_silent", Trial::Clock::now() - started);
    }
    trial.stopNotice(c.path);
    trial.expectOwnVolumes(20s);
    trial.stall("stall", started, kResponsive);
    trial.quit("quit", 3s);
}

INSTANTIATE_TEST_SUITE_P(
    , TrialDeadline,
    ::testing::Values(
        DeadlineCase{"one_late_among_13_alarm_page", oneLateAmongThirteen(), Path::AlarmPage, {}},
        DeadlineCase{"one_late_among_13_alarm_button", oneLateAmongThirteen(), Path::AlarmButton, {}},
        DeadlineCase{"mixed_20_all_1s_late_alarm_page", Site::mixed(12, 8, 1.0), Path::AlarmPage, {}},
        DeadlineCase{"mixed_20_all_1s_late_alarm_button", Site::mixed(12, 8, 1.0), Path::AlarmButton, {}},
        DeadlineCase{"mixed_20_all_1.2s_late_alarm_page", Site::mixed(12, 8, 1.2), Path::AlarmPage, {}},
        DeadlineCase{"mixed_20_all_1.2s_late_alarm_button", Site::mixed(12, 8, 1.2), Path::AlarmButton, {}},
        DeadlineCase{"service_beside_unchosen_late", lateUnchosen(), Path::ServicePage, {20}}),
    [](const ::testing::TestParamInfo<DeadlineCase>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == '.') c = '_';
        return name;
    });
