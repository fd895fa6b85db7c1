// The kit's own measures against the running program, where the answer is
// known: a window thread held still for a while is seen as a stall at least
// that long, and the window answers again once it runs.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

TEST(TrialKit, ThePingerSeesTheWholeTimeTheProgramWasHeldStill) {
    Trial trial("kit_pinger", Site::orvel610(1));
    trial.start();
    const auto before = Trial::Clock::now();
    trial.check(trial.pinger().longestStallSince(before) < 400ms, "a stall before the program was held");
    trial.program().signal(SIGSTOP);
    std::this_thread::sleep_for(400ms);  // how long it is held; the pinger cannot be answered meanwhile
    trial.program().signal(SIGCONT);
    const std::size_t answered = trial.pinger().answered();
    const bool again = [&] {
        for (int i = 0; i < 500 && trial.pinger().answered() <= answered + 2; ++i)
            std::this_thread::sleep_for(10ms);
        return trial.pinger().answered() > answered + 2;
    }();
    trial.check(again, "the window did not answer again after it ran on");
    const auto held = trial.pinger().longestStallSince(before);
    trial.report().seconds("stall", held);
    // A ping goes out at most one period (20 ms) after the last answer, so
    // a round trip may begin that much after the hold did.
    trial.check(held >= 375ms,
                "a window held for 0.4 s was seen stalled for only " + secondsText(held) + " s");
    trial.quit("quit", 10s);
}
