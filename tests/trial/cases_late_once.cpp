// A loudspeaker whose reply is late once (2.4 s), then on time, then one
// that loses one datagram at the next alarm: each time, when it is on the
// notice's channel (within the notice's deadline) and at the alarm's volume
// after ▶ (figures); and after each alarm every loudspeaker is back at
// exactly its own volume.
#include <gtest/gtest.h>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr unsigned kOdd = 5;  // the loudspeaker the faults meet
constexpr unsigned kPlain = 1;

}  // namespace

TEST(TrialLateOnce, LateOnceThenOnTimeThenOneDatagramLost) {
    Trial trial("late_once_then_lost", Site::orvel610(20));
    trial.prepareNotice(Path::AlarmPage, 300);
    trial.start();
    trial.openPath(Path::AlarmPage);
    const std::string odd = std::to_string(kOdd);
    const struct {
        std::string figure;
        std::string fault;
    } rounds[] = {
        {"late_once", odd + " delay-once 2.4"}, {"on_time", ""}, {"lost_one", odd + " lose-next 1"}};
    for (const auto& round : rounds) {
        if (!round.fault.empty()) trial.control(round.fault);
        const auto started = trial.startNotice(Path::AlarmPage);
        // The alarm's channel and volume are what the plain loudspeaker
        // holds under it.
        std::optional<Trial::Clock::time_point> switched, ready;
        trial.waitHoldings(
            [&](const Trial::Holdings& now) {
                if (!now.count(kOdd) || !now.count(kPlain)) return false;
                const Holding& plain = now.at(kPlain);
                const Holding& faulty = now.at(kOdd);
                if (plain.channel == 0u || faulty.channel != plain.channel) return false;
                if (!switched) switched = Trial::Clock::now();
                if (faulty.volume != plain.volume) return false;
                ready = Trial::Clock::now();
                return true;
            },
            15s);
        if (!trial.check(ready.has_value(), round.figure + ": loudspeaker " + odd +
                                                " never held the alarm's channel and volume")) {
            trial.report().figure(round.figure, "never");
        } else {
            // On the alarm's channel within the notice's deadline; at its
            // volume once the request that met the fault has drained (3.5
            // resend times after its first send, longer by what a held-back
            // reply adds), as a loudspeaker never late that loses a datagram.
            trial.report().seconds(round.figure + "_switched", *switched - started);
            trial.report().seconds(round.figure, *ready - started);
            trial.check(*switched - started <= 3s, round.figure + ": loudspeaker " + odd + " switched " +
                                                       secondsText(*switched - started) + " s after ▶, over 3 s");
            trial.check(*ready - started <= 4500ms, round.figure + ": loudspeaker " + odd + " at the alarm's volume " +
                                                        secondsText(*ready - started) + " s after ▶, over 4.5 s");
        }
        trial.check(trial.waitAllTaken(Path::AlarmPage, 15s).has_value(),
                    round.figure + ": not every loudspeaker took the alarm");
        trial.stopNotice(Path::AlarmPage);
        if (!trial.expectOwnVolumes(15s)) break;
    }
    trial.quit("quit", 3s);
}
