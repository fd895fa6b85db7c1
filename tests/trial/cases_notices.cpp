// Every notice path of the running program, on 20 loudspeakers each at its
// own volume: what the loudspeakers hold while the notice sounds and after
// it, when its first datagram is on the wire, and how long the window
// thread left the window unanswered meanwhile.
#include <gtest/gtest.h>

#include "tests/trial/trial.h"

using namespace trial;
using Stream = Receiver::Stream;

namespace {

/// The window may take this long over any action; longer, the operator
/// sees it hang.
constexpr auto kResponsive = 500ms;

}  // namespace

// The alarm page: ▶ on "Тревожное оповещение" after the password, then
// "■": every loudspeaker takes the notice's channel, then gets exactly its
// own volume back.
TEST(TrialNotices, AlarmPageEndedByStop) {
    Trial trial("alarm_page_stop", Site::orvel610(20));
    trial.prepareAlarmMessage(120);
    trial.start();
    trial.selectAll();
    trial.openAlarmPage();
    const auto played = trial.clickPlay();
    trial.firstDatagram("first_datagram", Stream::NoticeHigh, played, 3s);
    trial.check(trial.waitAllSwitched(10s).has_value(), "not every loudspeaker took the notice's channel");
    const auto stopped = trial.clickStop();
    trial.expectOwnVolumes(10s);
    trial.stall("stall", played, kResponsive);
    (void)stopped;
    trial.quit("quit", 3s);
}
