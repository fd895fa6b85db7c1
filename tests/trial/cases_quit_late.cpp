// The quit after late loudspeakers: every loudspeaker answers 700 ms (or
// 1 s) late during an alarm, and the transport learns a resend time of
// about 1.6 s (2 s) from it; a second alarm, or a service message, follows
// about 18 s later, and `sonvar --quit` comes during it (in the message's
// pause) with datagrams to each loudspeaker lost. Once the program has
// ended every loudspeaker holds channel 0 at exactly its own volume, within
// 5 s of the quit with one datagram to each lost and 6 s with two, whether
// the loudspeakers are on time again by then or still late; one loudspeaker
// gone silent at the quit holds up nobody else's give-back.
#include <gtest/gtest.h>

#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

struct LossyQuit {
    const char* name;
    Path second;        // the notice the quit comes during
    double late;        // how late every loudspeaker answers during the first alarm
    bool lateToTheEnd;  // and still at the second notice and the quit
    unsigned lost;      // datagrams lost to each loudspeaker at the quit
    unsigned silent;    // a loudspeaker silent from the quit on; 0: none
    std::chrono::milliseconds bound;
};

/// Every loudspeaker on the alarm's channel at the alarm's volume: the
/// alarm's steps are done. Own volumes differ from each other, so one
/// volume everywhere is the alarm's.
bool allAtTheAlarm(const Trial& trial, const Trial::Holdings& now) {
    const auto first = now.find(1);
    if (first == now.end()) return false;
    for (unsigned n = 1; n <= trial.loudspeakers(); ++n) {
        const auto found = now.find(n);
        if (found == now.end() || found->second.down || !found->second.channel || *found->second.channel == 0 ||
            found->second.volume != first->second.volume)
            return false;
    }
    return true;
}

/// An alarm of the alarm page that has taken every loudspeaker at its volume.
bool alarmTakesAll(Trial& trial, const std::string& which) {
    trial.startNotice(Path::AlarmPage);
    return trial.check(trial.waitHoldings([&](const Trial::Holdings& now) { return allAtTheAlarm(trial, now); }, 20s),
                       which + " did not take every loudspeaker at its volume");
}

}  // namespace

class TrialQuitLate : public ::testing::TestWithParam<LossyQuit> {};

TEST_P(TrialQuitLate, EveryLoudspeakerIsGivenBackWhateverWasLearnt) {
    const LossyQuit& q = GetParam();
    Trial trial(q.name, Site::orvel610(20));
    trial.prepareNotice(Path::AlarmPage, 300);
    if (q.second != Path::AlarmPage) trial.prepareNotice(q.second, 300);
    trial.start();
    trial.openPath(Path::AlarmPage);

    // The first alarm with every loudspeaker late: the switch, the volume's
    // read and the alarm's volume, then the give-back at "Стоп", each
    // answered 700 ms late, teach the transport that lateness.
    trial.control("* delay " + secondsText(std::chrono::duration<double>(q.late)));
    const auto first = Trial::Clock::now();
    if (!alarmTakesAll(trial, "the first alarm")) return;
    trial.stopNotice(Path::AlarmPage);
    if (!trial.expectOwnVolumes(20s)) return;
    if (!q.lateToTheEnd) trial.control("* delay 0");

    // Within the half minute over which the lateness learnt keeps.
    if (q.second == Path::AlarmPage) {
        std::this_thread::sleep_until(first + 18s);
        if (!alarmTakesAll(trial, "the second alarm")) return;
    } else {
        trial.showZones();
        trial.openPath(q.second);
        std::this_thread::sleep_until(first + 18s);
        const auto played = trial.startNotice(q.second);
        // In the pause before the message's first datagram (2.8 s), the
        // message's volumes on their way.
        std::this_thread::sleep_until(played + 1s);
        trial.check(!trial.receiver().firstAfter(Trial::streamOf(q.second), played).has_value(),
                    "the message sounded before the quit");
    }

    trial.control("* lose-next " + std::to_string(q.lost));
    if (q.silent != 0) trial.control(std::to_string(q.silent) + " silent 60");
    trial.quit("quit", q.bound);

    // The simulator keeps what each loudspeaker holds after the program ended.
    Trial::Holdings last;
    trial.waitHoldings(
        [&](const Trial::Holdings& now) {
            last = now;
            for (unsigned n = 1; n <= trial.loudspeakers(); ++n)
                if (n != q.silent && !trial.ownHeld(now, n)) return false;
            return true;
        },
        2s);
    std::size_t back = 0;
    std::string left;
    for (unsigned n = 1; n <= trial.loudspeakers(); ++n) {
        if (n == q.silent) continue;
        if (trial.ownHeld(last, n)) {
            ++back;
            continue;
        }
        const auto found = last.find(n);
        left += (left.empty() ? "" : ", ") + std::to_string(n) + ": " +
                (found == last.end() ? std::string("not listed") : describe(found->second));
    }
    const std::size_t held = trial.loudspeakers() - (q.silent != 0 ? 1 : 0);
    trial.report().share("own", back, held);
    trial.check(back == held, "not on channel 0 at exactly its own volume after the quit: " + left);
    if (q.second != Path::AlarmPage)
        trial.check(!trial.receiver().firstAfter(Trial::streamOf(q.second), first + 18s).has_value(),
                    "the message sounded after all");
}

INSTANTIATE_TEST_SUITE_P(
    , TrialQuitLate,
    ::testing::Values(LossyQuit{"quit_late_one_lost", Path::AlarmPage, 0.7, false, 1, 0, 5s},
                      LossyQuit{"quit_still_late_two_lost", Path::AlarmPage, 0.7, true, 2, 0, 6s},
                      LossyQuit{"quit_late_one_lost_one_silent", Path::AlarmPage, 0.7, false, 1, 7, 5s},
                      LossyQuit{"quit_late_service_pause_one_lost", Path::ServicePage, 1.0, true, 1, 0, 5s}),
    [](const ::testing::TestParamInfo<LossyQuit>& info) { return std::string(info.param.name); });
