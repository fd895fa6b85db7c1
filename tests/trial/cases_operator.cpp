// What the operator does while a notice holds the loudspeakers: moves one
// loudspeaker's volume slider (the alarm's level stays; the operator's
// value is what it holds after "Стоп"), and deletes one ("Удалить
// устройства", "Да"): it is given back at once, answers and is found again,
// listed once in zone_collection.xml once the program saved it, shown
// answering, and the next alarm and service message take it as any other.
#include <gtest/gtest.h>

#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr unsigned kChosen = 4;
constexpr unsigned kPlain = 1;

/// Clicks the volume slider at that share of its length; returns once its
/// tool tip names a new value.
void moveSlider(Trial& trial, double share) {
    const auto slider = trial.driver().waitForWidget(ofType("wxSlider"));
    if (!slider) throw CaseStopped("the volume slider is not shown enabled");
    const std::string before = slider->tip;
    const int margin = 10;
    trial.driver().click(
        slider->rect.x + margin + static_cast<int>((slider->rect.width - 2 * margin) * share),
        slider->rect.centreY());
    trial.check(trial.driver()
                    .waitFor([&](const WidgetListing& listing) {
                        const Widget* now = listing.find(ofType("wxSlider"));
                        return now != nullptr && now->tip != before;
                    })
                    .has_value(),
                "the slider's tool tip did not change after a click on it");
}

std::string volumeOf(const Trial::Holdings& holdings, unsigned number) {
    return holdings.count(number) ? holdings.at(number).volume : std::string("-");
}

}  // namespace

TEST(TrialOperator, TheSliderUnderAnAlarmIsTheOperatorsValueAfterIt) {
    Trial trial("slider_under_alarm", Site::orvel610(20));
    trial.prepareNotice(Path::AlarmPage, 300);
    trial.start();
    const std::string own = trial.site().loudspeakers[kChosen - 1].volume;

    // What two places on the slider set, without a notice.
    trial.clickDevice(kChosen);
    moveSlider(trial, 0.3);
    std::string low;
    trial.check(trial.waitHoldings(
                    [&](const Trial::Holdings& now) {
                        low = volumeOf(now, kChosen);
                        return low != own;
                    },
                    10s),
                "the slider at 30 % did not change the loudspeaker's volume");
    moveSlider(trial, 0.7);
    std::string high;
    trial.check(trial.waitHoldings(
                    [&](const Trial::Holdings& now) {
                        high = volumeOf(now, kChosen);
                        return high != low;
                    },
                    10s),
                "the slider at 70 % did not change the loudspeaker's volume");
    trial.report().figure("slider_30", low);
    trial.report().figure("slider_70", high);

    // The alarm holds it; the operator moves its slider back to 30 %.
    trial.openPath(Path::AlarmPage);
    trial.startNotice(Path::AlarmPage);
    if (!trial.check(trial.waitAllTaken(Path::AlarmPage, 15s).has_value(),
                     "the alarm did not take every loudspeaker"))
        return;
    const std::string alarmVolume = volumeOf(trial.holdings(), kPlain);
    trial.showZones();
    trial.clickDevice(kChosen);
    moveSlider(trial, 0.3);
    // The alarm's level stays while it sounds: no change within 2 s.
    const bool changed = trial.waitHoldings(
        [&](const Trial::Holdings& now) { return volumeOf(now, kChosen) != alarmVolume; }, 2s);
    trial.check(!changed, "the operator's slider changed the volume under the alarm to " +
                              volumeOf(trial.holdings(), kChosen));

    trial.clickButton("Тревожное\nоповещение");
    trial.typePassword();
    trial.stopNotice(Path::AlarmPage);
    trial.expectOwnVolumes(15s, {{kChosen, low}});
    trial.report().figure("after_stop", volumeOf(trial.holdings(), kChosen));
    trial.quit("quit", 3s);
}

TEST(TrialOperator, ALoudspeakerDeletedUnderAnAlarmIsFoundAgainAsAnyOther) {
    constexpr unsigned kDeleted = 6;
    Trial trial("deletion_under_alarm", Site::orvel610(20));
    trial.prepareNotice(Path::AlarmPage, 300);
    trial.prepareServiceMessage(300);
    trial.start();
    trial.enterAdministratorMode();
    trial.openPath(Path::AlarmPage);
    trial.startNotice(Path::AlarmPage);
    if (!trial.check(trial.waitAllTaken(Path::AlarmPage, 15s).has_value(),
                     "the alarm did not take every loudspeaker"))
        return;

    const std::string hardware = hardwareOf(kDeleted);
    const std::string connected = "(hw=" + hardware + ",";  // the log's line of a device found
    const std::size_t foundBefore = e2e::occurrences(trial.log(), connected);
    trial.showZones();
    trial.clickDevice(kDeleted);
    trial.clickButton("Удалить устройства");
    const auto deleted = trial.answerBox("Да");
    const auto given =
        trial.waitHoldings([&](const Trial::Holdings& now) { return trial.ownHeld(now, kDeleted); }, 10s);
    if (trial.check(given, "the deleted loudspeaker was not given back its channel 0 and own volume"))
        trial.report().seconds("given_back", Trial::Clock::now() - deleted);

    // Found again, shown answering, and saved once.
    const auto found = trial.driver().waitFor(
        [&](const WidgetListing& listing) {
            const Item* item = listing.deviceItem(hardware);
            return e2e::occurrences(trial.log(), connected) > foundBefore && item != nullptr &&
                   iconAnswering(item->image);
        },
        30s);
    if (trial.check(found.has_value(), "the deleted loudspeaker was not found again answering"))
        trial.report().seconds("found_again", Trial::Clock::now() - deleted);
    const std::string zones = trial.box().dataFile("zone_collection.xml");
    std::string listed;
    trial.waitHoldings(
        [&](const Trial::Holdings&) {
            listed = e2e::xpath(zones, "count(//hardware_address[.='" + hardware + "'])");
            return listed == "1";
        },
        20s);
    trial.report().figure("zone_file_lists", listed);
    trial.check(listed == "1", "zone_collection.xml lists the loudspeaker found again " + listed + " times");

    trial.clickButton("Тревожное\nоповещение");
    trial.typePassword();
    trial.stopNotice(Path::AlarmPage);
    trial.expectOwnVolumes(15s);

    // The next alarm and the next service message take it as any other.
    trial.showZones();
    trial.openPath(Path::AlarmPage);
    trial.startNotice(Path::AlarmPage);
    trial.check(trial.waitAllTaken(Path::AlarmPage, 15s).has_value(),
                "the next alarm did not take every loudspeaker");
    trial.stopNotice(Path::AlarmPage);
    trial.expectOwnVolumes(15s);
    trial.showZones();
    trial.openPath(Path::ServicePage);
    trial.startNotice(Path::ServicePage);
    trial.check(trial.waitAllTaken(Path::ServicePage, 15s).has_value(),
                "the next service message did not take every loudspeaker");
    trial.stopNotice(Path::ServicePage);
    trial.expectOwnVolumes(15s);
    trial.quit("quit", 3s);
}
