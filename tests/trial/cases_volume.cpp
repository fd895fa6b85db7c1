// The volume a loudspeaker holds is its own, whoever set it: the installer
// sets -29 dB (an Orvel-510 its level 2A:2A) at the device itself between
// two notices, and after the next notice it gets exactly that back, on the
// alarm page, the "Тревога" button, the microphone page and the service
// page.
#include <gtest/gtest.h>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

/// The site: Orvel-610 and Orvel-510 loudspeakers, every second one 800 ms
/// late; the installer changes loudspeaker 3 (an Orvel-610) and 18 (an
/// Orvel-510).
Site site() {
    Site site = Site::mixed(16, 4, 0);
    for (unsigned n = 2; n <= 20; n += 2) site.loudspeakers[n - 1].late = 0.8;
    return site;
}

constexpr unsigned kOrvel610 = 3;
constexpr unsigned kOrvel510 = 18;

class TrialInstallersVolume : public ::testing::TestWithParam<Path> {};

}  // namespace

TEST_P(TrialInstallersVolume, ComesBackAfterTheNextNotice) {
    const Path path = GetParam();
    Trial trial("installers_volume_" + pathName(path), site());
    trial.prepareNotice(path, 300);
    trial.start();
    trial.openPath(path);

    // The first notice, as any.
    trial.startNotice(path);
    trial.check(trial.waitAllTaken(path, 15s).has_value(), "the first notice did not take every loudspeaker");
    trial.stopNotice(path);
    if (!trial.expectOwnVolumes(15s)) return;

    // The installer, at the devices.
    trial.check(trial.ask(kOrvel610, "set vol -29") == "OK", "the installer's -29 dB was refused");
    trial.check(trial.ask(kOrvel510, "set vol 2A:2A") == "OK", "the installer's 2A:2A was refused");

    const auto started = trial.startNotice(path);
    trial.firstDatagram("first_datagram", Trial::streamOf(path), started, Trial::deadlineOf(path));
    trial.check(trial.waitAllTaken(path, 15s).has_value(),
                "the second notice did not take every loudspeaker");
    trial.stopNotice(path);
    trial.expectOwnVolumes(15s, {{kOrvel610, "-29"}, {kOrvel510, "2A:2A"}});
    const auto now = trial.holdings();
    trial.report().figure("installer_610", now.count(kOrvel610) ? now.at(kOrvel610).volume : "-");
    trial.report().figure("installer_510", now.count(kOrvel510) ? now.at(kOrvel510).volume : "-");
    trial.quit("quit", 3s);
}

INSTANTIATE_TEST_SUITE_P(, TrialInstallersVolume,
                         ::testing::Values(Path::AlarmPage, Path::AlarmButton, Path::MicrophonePage,
                                           Path::ServicePage),
                         [](const ::testing::TestParamInfo<Path>& info) { return pathName(info.param); });
