// A site whose loudspeakers hear the streams on ports of their own (their
// command port 12990, channel 0 on 12991, the notice of priority 3 on 12992),
// not on those after the program's base port (11990): the first alarm after
// the start, beside late loudspeakers, is heard on their port within its
// deadline, on the alarm page and by the "Тревога" button; every loudspeaker
// takes it and is back at exactly its own volume after.
//
// The program checks each loudspeaker as it finds it at its start; one that
// answers 1.2 s late answers that check after its resend, and the transport
// sends it nothing more until the reply to the resend has come too. The
// "Тревога" button pressed as soon as the loudspeakers show has its port
// told within the deadline all the same.
#include <gtest/gtest.h>

#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr auto kResponsive = 500ms;

struct PortsCase {
    std::string name;
    Site site;
    Path path;
    std::chrono::milliseconds firstDatagram = Trial::deadlineOf(path);
    std::chrono::milliseconds quit = 3s;
    bool atOnce = false;  // the alarm as soon as the loudspeakers show
};

Site onOwnPorts(Site site) {
    site.ownPorts = true;
    return site;
}

class TrialPorts : public ::testing::TestWithParam<PortsCase> {};

}  // namespace

TEST_P(TrialPorts, FirstAlarmOnTheLoudspeakersPort) {
    const PortsCase& c = GetParam();
    Trial trial("ports_" + c.name, c.site);
    trial.prepareNotice(c.path, 300);
    trial.start();
    if (!c.atOnce) std::this_thread::sleep_for(4s);  // the start's checks have drained
    trial.openPath(c.path);
    const auto started = trial.startNotice(c.path);
    // The trial's receiver listens where the site's loudspeakers do.
    trial.firstDatagram("first_datagram", Trial::streamOf(c.path), started, c.firstDatagram);
    const auto taken = trial.waitAllTaken(c.path, 15s);
    if (trial.check(taken.has_value(), "not every loudspeaker was taken by the alarm once it answered"))
        trial.report().seconds("all_taken", *taken - started);
    trial.stopNotice(c.path);
    trial.expectOwnVolumes(20s);
    trial.stall("stall", started, kResponsive);
    trial.quit("quit", c.quit);
}

INSTANTIATE_TEST_SUITE_P(
    , TrialPorts,
    ::testing::Values(PortsCase{"mixed_20_all_1_2s_late_alarm_page", onOwnPorts(Site::mixed(12, 8, 1.2)),
                                Path::AlarmPage},
                      PortsCase{"mixed_20_all_1_2s_late_alarm_button", onOwnPorts(Site::mixed(12, 8, 1.2)),
                                Path::AlarmButton, Trial::deadlineOf(Path::AlarmButton), 3s, true},
                      // The quit beside loudspeakers 2.5 s late: within 5 s.
                      PortsCase{"half_of_20_2_5s_late_alarm_page", onOwnPorts(Site::orvel610(20, 2.5)),
                                Path::AlarmPage, Trial::deadlineOf(Path::AlarmPage), 5s}),
    [](const ::testing::TestParamInfo<PortsCase>& info) { return info.param.name; });
