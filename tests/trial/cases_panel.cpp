// The device property panel beside an Orvel-610 and a console that answer
// 1.9 s late: the window never waits over 0.1 s while the panel opens,
// changes pages and applies; what the installer types on the network page
// while the late read runs is kept and is what Apply writes (read back
// from the device); an apply that fails (a silent device, an ERR) leaves
// the name unsaved and tells what was written; `sonvar --quit` during an
// apply on the late console leaves it whole or as it was (and one that
// comes after the first write lets the apply finish, five settings as well
// as two, the window answering), and one during a late Orvel-510's base
// port change leaves its ports whole; a panel left open over a device's
// silence applies once the device answers again; an Orvel-510 answering
// "get eq" busy or with ERR shows one text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

namespace {

/// How many fields of the console's state differ from `old`.
std::size_t changedIn(const std::vector<std::string>& old, const std::string& reply) {
    const auto now = stateFields(reply);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < std::min(old.size(), now.size()); ++i) changed += old[i] != now[i];
    return changed;
}

/// Once Apply was clicked on the late console: the apply reads the
/// console's settings afresh before it writes, so the console is looked at
/// every 150 ms (each look answered 1.9 s later) until a look shows the
/// first setting written; how many a look showed (0: none within 20 s).
/// The looks still on their way stay in `looks`: the caller quits first.
using Looks = std::deque<std::future<std::string>>;
std::size_t lookForTheFirstWrite(Trial& trial, const std::vector<std::string>& old, Looks& looks) {
    std::size_t seen = 0;
    const auto lookEnd = std::chrono::steady_clock::now() + 20s;
    while (seen == 0 && std::chrono::steady_clock::now() < lookEnd) {
        looks.push_back(std::async(std::launch::async, [&trial] { return trial.ask(kConsole, "get state"); }));
        std::this_thread::sleep_for(150ms);
        while (!looks.empty() && looks.front().wait_for(0s) == std::future_status::ready) {
            seen = std::max(seen, changedIn(old, looks.front().get()));
            looks.pop_front();
        }
    }
    return seen;
}

}  // namespace

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
    trial.mark();
    trial.clickButton("Применить");
    Looks looks;
    const std::size_t seen = lookForTheFirstWrite(trial, old, looks);
    trial.report().figure("seen_before_quit", std::to_string(seen));
    if (!trial.check(seen == 1, "a look before the quit saw " + std::to_string(seen) + " of 2 options written"))
        return;
    trial.quit("quit", 6s);
    looks.clear();
    const std::size_t changed = changedIn(old, trial.ask(kConsole, "get state"));
    trial.report().share("changed", changed, 2);
    trial.check(changed == 2, "the console holds " + std::to_string(changed) + " changed settings of 2");
    trial.check(trial.logSinceMark().find("завершена, записано всё") != std::string::npos,
                "the log does not say the write was finished");
}

namespace {

/// Types `text` over the number field on the row of the caption that
/// begins with `caption`, as the installer does.
void typeIntoNumber(Trial& trial, const std::string& caption, const std::string& text) {
    const auto listing = trial.driver().listing();
    const Widget* label = listing.find([&](const Widget& w) {
        return w.type == "wxStaticText" && plainLabel(w.label).rfind(caption, 0) == 0;
    });
    const Widget* field = label == nullptr ? nullptr : listing.find([&](const Widget& w) {
        return w.toolkitClass == "wxSpinCtrl" && w.enabled &&
               std::abs(w.rect.centreY() - label->rect.centreY()) <= label->rect.height;
    });
    if (!trial.check(field != nullptr, "no number field \"" + caption + "\" is shown"))
        throw CaseStopped("no number field");
    // Its text, not its arrows at the right.
    trial.driver().click(field->rect.x + 10, field->rect.centreY());
    trial.driver().key("ctrl+a");
    trial.driver().type(text);
}

/// The panel's site with its Orvel-510 1.9 s late, restarting (5 s down)
/// when told to.
Site lateOrvel510Site() {
    Site late = site({"--reboot-on", "reboot", "--reboot-down", "5"});
    late.loudspeakers[kOrvel510 - 1].late = 1.9;
    return late;
}

/// The ports an old Orvel-510 holds, as its "config" reply lists them: the
/// channel-0 and channel-1 ports (7th and 8th fields, "server:port") and
/// the command port (9th, "allowed:port"), "-" each that does not read.
std::vector<std::string> portsOf(const std::string& reply) {
    std::vector<std::string> fields;
    std::istringstream lines(reply);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        fields.push_back(line);
    }
    std::vector<std::string> ports;
    for (std::size_t field : {6, 7, 8}) {
        const std::size_t colon = field < fields.size() ? fields[field].rfind(':') : std::string::npos;
        ports.push_back(colon == std::string::npos ? "-" : fields[field].substr(colon + 1));
    }
    return ports;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "/") + part;
    return text;
}

}  // namespace

// The quit as the late console takes the first of five settings: the four
// others follow it and the console holds all five, the window answering
// all along, and the log says the console holds them.
TEST(TrialPanel, AQuitAtTheFirstOfFiveWritesOnTheLateConsoleLeavesItWhole) {
    Trial trial("panel_quit_five_writes", site());
    trial.start();
    const auto old = stateFields(trial.ask(kConsole, "get state"));
    trial.enterAdministratorMode();
    trial.openPanel(kConsole);
    trial.waitField("Название устройства");
    settle(trial);
    for (const char* option : {"Звуковое сопровождение при нажатии на клавиши и при использовании ключей",
                               "Звуковое сопровождение при неисправности", "Разрешить один источник питания",
                               "Индикация зон с сообщениями"})
        trial.click(ofType("wxCheckBox", option), std::string("\"") + option + "\"");
    typeIntoNumber(trial, "Приоритет типа консоли", "9");
    trial.mark();
    trial.clickButton("Применить");
    Looks looks;
    const std::size_t seen = lookForTheFirstWrite(trial, old, looks);
    trial.report().figure("seen_before_quit", std::to_string(seen));
    if (!trial.check(seen == 1, "a look before the quit saw " + std::to_string(seen) + " of 5 settings written"))
        return;
    trial.quit("quit", 20s, kPanelResponsive);
    looks.clear();
    const std::size_t changed = changedIn(old, trial.ask(kConsole, "get state"));
    trial.report().share("changed", changed, 5);
    trial.check(changed == 5, "the console holds " + std::to_string(changed) + " changed settings of 5");
    trial.check(trial.logSinceMark().find("завершена, записано всё") != std::string::npos,
                "the log does not say the console holds every setting");
}

// The quit as a late Orvel-510 takes the first of the ports a new base port
// moves: it holds all three and restarts with them (or keeps all three as
// they were), never two ports on one number; the window answers all along.
TEST(TrialPanel, AQuitDuringABasePortChangeOnALateOrvel510LeavesItsPortsWhole) {
    Trial trial("panel_quit_base_port", lateOrvel510Site());
    trial.start();
    const std::vector<std::string> before = portsOf(trial.ask(kOrvel510, "config"));
    trial.report().figure("ports_before", joined(before));
    trial.enterAdministratorMode();
    trial.openPanel(kOrvel510);
    trial.clickItem("wxNotebook", "Сеть");
    trial.waitField("Основной шлюз", 40s);
    settle(trial);
    typeIntoNumber(trial, "Базовый порт", "12990");
    trial.mark();
    trial.clickButton("Применить");
    // The program names the new stream ports as the writes begin.
    const auto begun = trial.driver().waitFor(
        [&trial](const WidgetListing&) {
            return trial.logSinceMark().find("Новые порты поиска и микрофона") != std::string::npos;
        },
        40s);
    if (!trial.check(begun.has_value(), "the writes of the new base port never began")) return;
    trial.quit("quit", 20s, kPanelResponsive);
    const bool restarted = trial.waitHoldings(
        [](const Trial::Holdings& holdings) {
            const auto found = holdings.find(kOrvel510);
            return found != holdings.end() && found->second.down;
        },
        5s);
    trial.waitHoldings(
        [](const Trial::Holdings& holdings) {
            const auto found = holdings.find(kOrvel510);
            return found != holdings.end() && !found->second.down;
        },
        15s);
    const std::vector<std::string> after = portsOf(trial.ask(kOrvel510, "config"));
    trial.report().figure("ports_after", joined(after) + (restarted ? " restarted" : ""));
    const std::vector<std::string> moved{"12991", "12992", "12990"};
    trial.check((after == moved && restarted) || (after == before && !restarted),
                "the Orvel-510 holds the ports " + joined(after) + (restarted ? ", restarted" : ", not restarted") +
                    " (before " + joined(before) + ")");
    const std::string holds = restarted ? "устройство перезапускается с ними" : "устройство оставлено как было";
    trial.check(trial.logSinceMark().find(holds) != std::string::npos,
                "the log does not say \"" + holds + "\"");
}

// An Orvel-610 silent for 5 s while its panel stays open: a rename applied
// meanwhile fails and says so; once the loudspeaker answers again, the next
// rename is applied and kept, without "нет в сети" and with the panel open.
TEST(TrialPanel, APanelLeftOpenOverASilenceAppliesOnceTheDeviceAnswersAgain) {
    Trial trial("panel_open_over_silence", site());
    trial.start();
    trial.enterAdministratorMode();
    trial.openPanel(kPlain);
    trial.waitField("Название устройства");
    settle(trial);
    trial.typeInto("Название устройства", "Зал советов");
    trial.control(std::to_string(kPlain) + " silent 5");
    const auto silent = std::chrono::steady_clock::now();
    trial.mark();
    trial.clickButton("Применить");
    settle(trial);
    bool failureTold = false;
    for (const std::string& line : trial.toldSinceMark())
        failureTold = failureTold || line.find("Новое название устройства не сохранено.") != std::string::npos;
    trial.check(failureTold, "the apply during the silence was not told as failed");
    // Answering again, and heard from for a while, as the installer sees it.
    std::this_thread::sleep_until(silent + 5s);
    const bool answers = trial.driver()
                             .waitFor([&trial](const WidgetListing&) {
                                 return trial.ask(kPlain, "get vol") != "(no reply)";
                             },
                             10s)
                             .has_value();
    if (!trial.check(answers, "the loudspeaker never answered again")) return;
    std::this_thread::sleep_for(6s);
    trial.typeInto("Название устройства", "Зал приёмов");
    trial.mark();
    trial.clickButton("Применить");
    settle(trial);
    const auto told = trial.toldSinceMark();
    trial.report().figure("told", told.empty() ? std::string("-") : "\"" + told.back() + "\"");
    for (const std::string& line : told)
        trial.check(line.find("нет в сети") == std::string::npos && line.find("не в сети") == std::string::npos,
                    "the apply after the silence was told \"" + line + "\"");
    trial.check(trial.filledField("Название устройства", 2s).has_value(), "the panel is no longer shown");
    trial.clickButton("Закрыть");
    const auto shown = trial.driver().waitFor([](const WidgetListing& listing) {
        const Item* item = listing.deviceItem(hardwareOf(kPlain));
        return item != nullptr && item->title == "Зал приёмов";
    });
    trial.check(shown.has_value(), "the new name is not shown");
    trial.quit("quit", 5s);
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
