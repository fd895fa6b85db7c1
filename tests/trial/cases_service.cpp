// Loudspeakers left out of a service message are silent before it sounds.
// On a site of 20, two left out answer late from just before the ▶ on (so
// nothing of their lateness is learnt): the one 0.9 s late is muted before
// the message's first datagram, the one 1.9 s late as soon as its answers
// allow (its volume read, the late replies to the read's resends, then the
// mute); the chosen ones take the message's volume, and every loudspeaker
// has exactly its own back after the stop.
#include <gtest/gtest.h>

#include <map>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr unsigned kLate = 19;   // 0.9 s late: both its answers come within the pause
constexpr unsigned kLater = 20;  // 1.9 s late
/// The 1.9 s late one: its volume read answered at 1.9 s, the late replies
/// to the read's resends waited out (about 4.4 s), then the mute, which it
/// takes as it comes.
constexpr auto kLaterMuted = 5s;
/// "get vol" of a muted Orvel-610.
const char* const kMuted = "-96";

}  // namespace

TEST(TrialService, LeftOutLateLoudspeakersAreMutedBeforeTheMessageSounds) {
    Trial trial("service_left_out_muted_first", Site::orvel610(20));
    trial.prepareNotice(Path::ServicePage, 300);
    trial.start();
    trial.openPath(Path::ServicePage, {kLate, kLater});
    trial.control(std::to_string(kLate) + " delay 0.9");
    trial.control(std::to_string(kLater) + " delay 1.9");
    const auto started = trial.startNotice(Path::ServicePage);
    std::map<unsigned, Trial::Clock::time_point> muted;
    trial.waitHoldings(
        [&](const Trial::Holdings& now) {
            for (const unsigned left : {kLate, kLater})
                if (muted.count(left) == 0 && now.count(left) != 0 && now.at(left).volume == kMuted)
                    muted[left] = Trial::Clock::now();
            return muted.size() == 2;
        },
        15s);
    const auto first = trial.firstDatagram("first_datagram", Receiver::Stream::Common, started,
                                           Trial::deadlineOf(Path::ServicePage));
    const auto late = muted.find(kLate);
    if (trial.check(late != muted.end(), "the left-out loudspeaker 0.9 s late was never muted")) {
        const std::chrono::duration<double> at = late->second - started;
        trial.report().seconds("muted_0.9s_late", at);
        if (first)
            trial.check(at.count() < *first, "the left-out loudspeaker 0.9 s late was muted " + secondsText(at) +
                                                 " s after ▶, after the message's first datagram");
    }
    const auto later = muted.find(kLater);
    if (trial.check(later != muted.end(), "the left-out loudspeaker 1.9 s late was never muted")) {
        const std::chrono::duration<double> at = later->second - started;
        trial.report().seconds("muted_1.9s_late", at);
        trial.check(at <= kLaterMuted, "the left-out loudspeaker 1.9 s late was muted " + secondsText(at) +
                                           " s after ▶, over " + secondsText(kLaterMuted) + " s");
    }
    trial.check(trial.waitAllTaken(Path::ServicePage, 15s, {kLate, kLater}).has_value(),
                "not every chosen loudspeaker took the message's volume");
    trial.stopNotice(Path::ServicePage);
    trial.expectOwnVolumes(20s);
    trial.stall("stall", started, 500ms);
    trial.quit("quit", 3s);
}
