// The device property panel beside an Orvel-610 and a console that answer
// 1.9 s late: the window never waits over 0.1 s while the panel opens,
// changes pages and applies; what the installer types on the network page
// while the late read runs is kept and is what Apply writes (read back
// from the device); an apply that fails (a silent device, an ERR) leaves
// the name unsaved and tells what was written; `sonvar --quit` during an
// apply on the late console leaves it whole or as it was (and one that
// comes after the first write lets the apply finish); an Orvel-510
// answering "get eq" busy or with ERR shows one text.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <future>
#include <sstream>
#include <thread>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr auto kPanelResponsive = 100ms;
constexpr unsigned kLate = 2;      // an Orvel-610 1.9 s late
constexpr unsigned kPlain = 3;     // one on time
constexpr unsigned kOrvel510 = 5;  // an Orvel-510
constexpr unsigned kConsole = 7;   // the console, 1.9 s late

Site site(const std::vector<std::string>& orvel510Options = {}) {
    Site site = Site::orvel610(6);
    site.loudspeakers[kLate - 1].late = 1.9;
    site.loudspeakers[kOrvel510 - 1] = {Model::Orvel510, ownVolume(Model::Orvel510, kOrvel510), 0,
                                        orvel510Options};
    site.consoles = 1;
    site.consoleLate = 1.9;
    return site;
}

/// The fields of a device's "get state" reply, in order, after its
/// "state:" line.
std::vector<std::string> stateFields(const std::string& reply) {
    std::vector<std::string> fields;
    std::istringstream lines(reply);
    std::string line;
    if (!std::getline(lines, line) || line.rfind("state:", 0) != 0) return fields;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        fields.push_back(line);
    }
    return fields;
}

/// The loudspeaker's gateway: the eighth field of its state.
std::string gatewayOf(const std::string& reply) {
    const auto fields = stateFields(reply);
    return fields.size() > 7 ? fields[7] : "(no state: " + reply + ")";
}

void settle(Trial& trial) {
    // The page's state line says "Чтение…" or "Запись…" while the device is asked.
    const auto quiet = trial.driver().waitFor(
        [](const WidgetListing& listing) {
            return listing.find([](const Widget& w) {
                return w.type == "wxStaticText" && (w.label == "Чтение…" || w.label == "Запись…");
            }) == nullptr;
        },
        20s);
    if (!quiet) throw CaseStopped("the panel kept reading or writing for 20 s");
}

}  // namespace

namespace {

/// Opens the panel of the device, goes through the pages and applies;
/// notes a page that is never filled, and the window's longest stall.
void walkThePanel(Trial& trial, unsigned number, const std::vector<const char*>& pages,
                  const std::string& figure) {
    const auto begin = trial.openPanel(number);
    const std::string device = "device " + std::to_string(number);
    trial.check(trial.filledField("Название устройства").has_value(),
                device + ": the common page was never filled");
    for (const char* page : pages) {
        trial.clickItem("wxNotebook", page);
        trial.check(trial.itemSelected("wxNotebook", page),
                    device + ": the page \"" + page + "\" was not shown");
        settle(trial);
    }
    // Apply once the installer changed something: the name, typed again.
    if (const auto name = trial.filledField("Название устройства", 1s)) {
        trial.typeInto("Название устройства", *name->value + " ");
        trial.clickButton("Применить");
        settle(trial);
    }
    trial.stall(figure, begin, kPanelResponsive);
    trial.clickButton("Закрыть");
}

}  // namespace

TEST(TrialPanel, TheWindowNeverWaitsBesideLateDevices) {
    Trial trial("panel_responsive", site());
    trial.start();
    trial.enterAdministratorMode();
    walkThePanel(trial, kLate, {"Сеть", "Зарно", "Источники", "Общие"}, "stall_loudspeaker");
    walkThePanel(trial, kConsole, {"Сеть", "Общие"}, "stall_console");
    trial.quit("quit", 3s);
}

TEST(TrialPanel, TypedNetworkValuesSurviveTheLateReadAndAreWhatApplyWrites) {
    Trial trial("panel_typed_network", site());
    trial.start();
    trial.enterAdministratorMode();
    const auto begin = trial.openPanel(kLate);
    // The installer goes to the network page and, once it shows the
    // loudspeaker's values (the page is greyed while it is read), ticks DHCP
    // and clears it again, which reads the loudspeaker's network anew, and
    // types the gateway while those reads are still on their way.
    trial.clickItem("wxNotebook", "Сеть");
    trial.waitField("Основной шлюз", 20s);
    for (int click = 0; click < 2; ++click) {
        const auto dhcp = trial.driver().waitForWidget(ofType("wxCheckBox", "DHCP"), 5s);
        if (!trial.check(dhcp.has_value(), "the DHCP box is not shown enabled")) break;
        trial.driver().click(dhcp->rect);
    }
    trial.typeInto("Основной шлюз", "127.0.0.9");
    settle(trial);
    const auto gateway = trial.filledField("Основной шлюз", 5s);
    trial.report().figure("shown_after_read", gateway ? *gateway->value : std::string("(no field enabled)"));
    trial.check(gateway && gateway->value == std::optional<std::string>("127.0.0.9"),
                "the late read did not keep the typed gateway");
    const auto apply = trial.driver().waitForWidget(ofType("wxButton", "Применить"), 2s);
    if (trial.check(apply.has_value(), "Apply is not enabled after the typed gateway")) {
        trial.driver().click(apply->rect);
        settle(trial);
    }
    const std::string written = gatewayOf(trial.ask(kLate, "get state"));
    trial.report().figure("device_holds", written);
    trial.check(written == "127.0.0.9", "the loudspeaker holds gateway " + written + ", not the typed one");
    trial.stall("stall", begin, kPanelResponsive);
    trial.quit("quit", 3s);
}

namespace {

class TrialPanelFailedApply : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(TrialPanelFailedApply, LeavesTheNameUnsavedAndTellsWhatWasWritten) {
    const std::string fault = GetParam();
    Trial trial("panel_failed_apply_" + fault, site());
    trial.start();
    trial.enterAdministratorMode();
    const std::string oldTitle = "Новое устройство " + hardwareOf(kPlain);
    trial.openPanel(kPlain);
    trial.waitField("Название устройства");
    trial.typeInto("Название устройства", "Зал заседаний");
    // The apply reads the device's settings afresh before it writes them:
    // a silent loudspeaker, or one refusing that read, fails it.
    trial.control(std::to_string(kPlain) + (fault == "silent" ? " silent 60" : " error-on get state"));
    trial.mark();
    trial.clickButton("Применить");
    settle(trial);
    // The outcome as told: the failure, saying that nothing was written
    // (the read before the writes failed), not the end of a write.
    const auto told = trial.toldSinceMark();
    trial.report().figure("told", std::to_string(told.size()));
    bool failureTold = false;
    for (const std::string& line : told)
        failureTold = failureTold || line.find("Настройки устройства не изменены.") != std::string::npos;
    trial.check(failureTold, "the failed apply was told as " +
                                 (told.empty() ? std::string("nothing") : "\"" + told.front() + "\""));
    trial.clickButton("Закрыть");
    const auto shown = trial.driver().waitFor([&](const WidgetListing& listing) {
        const Item* item = listing.deviceItem(hardwareOf(kPlain));
        return item != nullptr;
    });
    const Item* item = shown ? shown->deviceItem(hardwareOf(kPlain)) : nullptr;
    trial.report().figure("name", item ? "\"" + item->title + "\"" : "-");
    trial.check(item != nullptr && item->title == oldTitle,
                "the name of the failed apply was kept: \"" + (item ? item->title : std::string()) + "\"");
    trial.quit("quit", 5s);
    const std::string list = trial.box().dataFile("device_collection.xml");
    const std::string saved = e2e::xpath(
        list, "string(/device_collection/device[hardware_address='" + hardwareOf(kPlain) + "']/name)");
    trial.check(saved == oldTitle, "device_collection.xml saved the name \"" + saved + "\"");
}

INSTANTIATE_TEST_SUITE_P(, TrialPanelFailedApply, ::testing::Values("silent", "err"));

TEST(TrialPanel, AQuitDuringAnApplyOnTheLateConsoleLeavesItWholeOrAsItWas) {
    Trial trial("panel_quit_during_apply", site());
    trial.start();
    const unsigned console = kConsole;
    const std::string before = trial.ask(console, "get state");
    trial.enterAdministratorMode();
    trial.openPanel(console);
    trial.waitField("Название устройства");
    settle(trial);
    for (const char* option : {"Звуковое сопровождение при нажатии на клавиши и при использовании ключей",
                               "Звуковое сопровождение при неисправности"})
        trial.click(ofType("wxCheckBox", option), std::string("\"") + option + "\"");
    trial.clickButton("Применить");
    trial.quit("quit", 5s);
    const auto old = stateFields(before);
    const auto now = stateFields(trial.ask(console, "get state"));
    if (!trial.check(!old.empty() && old.size() == now.size(), "the console's state could not be read back"))
        return;
    // The installer changed two options: the console holds both or neither.
    std::size_t changed = 0;
    for (std::size_t i = 0; i < old.size(); ++i) changed += old[i] != now[i];
    trial.report().share("changed", changed, 2);
    trial.check(changed == 0 || changed == 2,
                "the console holds " + std::to_string(changed) + " changed settings of 2");
}

// The quit once the late console holds the first of the two options: the
// apply has begun, so its second write goes out and is answered before the
// program ends, and the log says the write was finished.
TEST(TrialPanel, AQuitAfterTheFirstWriteOnTheLateConsoleLetsTheApplyFinish) {
    Trial trial("panel_quit_after_first_write", site());
    trial.start();
    const auto old = stateFields(trial.ask(kConsole, "get state"));
    trial.enterAdministratorMode();
    trial.openPanel(kConsole);
    trial.waitField("Название устройства");
    settle(trial);
    for (const char* option : {"Звуковое сопровождение при нажатии на клавиши и при использовании ключей",
                               "Звуковое сопровождение при неисправности"})
        trial.click(ofType("wxCheckBox", option), std::string("\"") + option + "\"");
    const auto changedIn = [&old](const std::string& reply) {
        const auto now = stateFields(reply);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < std::min(old.size(), now.size()); ++i) changed += old[i] != now[i];
        return changed;
    };
    trial.mark();
    trial.clickButton("Применить");
    // The apply reads the console's settings afresh before it writes: the
    // console is looked at every 150 ms (each look answered 1.9 s later),
    // and the quit comes as soon as a look shows the first option written.
    std::deque<std::future<std::string>> looks;
    std::size_t seen = 0;
    const auto lookEnd = std::chrono::steady_clock::now() + 20s;
    while (seen == 0 && std::chrono::steady_clock::now() < lookEnd) {
        looks.push_back(std::async(std::launch::async, [&trial] { return trial.ask(kConsole, "get state"); }));
        std::this_thread::sleep_for(150ms);
        while (!looks.empty() && looks.front().wait_for(0s) == std::future_status::ready) {
            seen = std::max(seen, changedIn(looks.front().get()));
            looks.pop_front();
        }
    }
    trial.report().figure("seen_before_quit", std::to_string(seen));
    if (!trial.check(seen == 1, "a look before the quit saw " + std::to_string(seen) + " of 2 options written"))
        return;
    trial.quit("quit", 6s);
    looks.clear();
    const std::size_t changed = changedIn(trial.ask(kConsole, "get state"));
    trial.report().share("changed", changed, 2);
    trial.check(changed == 2, "the console holds " + std::to_string(changed) + " changed settings of 2");
    trial.check(trial.logSinceMark().find("завершена, записано всё") != std::string::npos,
                "the log does not say the write was finished");
}

namespace {

class TrialPanelEqualizer : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(TrialPanelEqualizer, AnOrvel510RefusingGetEqShowsOneText) {
    const std::string fault = GetParam();
    const std::vector<std::string> options =
        fault == "busy" ? std::vector<std::string>{"--busy-on", "get eq", "--busy", "60"}
                        : std::vector<std::string>{"--error-on", "get eq"};
    Trial trial("panel_get_eq_" + fault, site(options));
    trial.start();
    trial.enterAdministratorMode();
    trial.mark();
    const auto begin = trial.openPanel(kOrvel510);
    settle(trial);
    trial.driver().waitFor([](const WidgetListing&) { return false; }, 1s);  // what comes late is told too
    const auto told = trial.toldSinceMark();
    trial.report().figure("texts", std::to_string(told.size()));
    trial.check(told.size() == 1,
                "the refused equalizer read told " + std::to_string(told.size()) + " texts");
    trial.stall("stall", begin, kPanelResponsive);
    trial.quit("quit", 3s);
}

INSTANTIATE_TEST_SUITE_P(, TrialPanelEqualizer, ::testing::Values("busy", "err"));
