// ctest-labels: e2e net
// The whole program, started and stopped the ways an operator and the
// system do it, with the files it leaves behind.
#include <csignal>

#include <gtest/gtest.h>

#include "tests/app/e2e_harness.h"

namespace {

using e2e::Sandbox;
using e2e::SettingsFile;
using e2e::occurrences;
using e2e::wellFormed;
using e2e::xpath;
using testing_support::readFile;

const char kBanner[] = "--------------------------------- Sonvar 1.2.0.470 ---------------------------------";
const char kEndLog[] = "--------------------------------- END LOG ---------------------------------";
const char kFirstRunNote[] =
    "После первого запуска в общих настройка необходимо сменить пароль и выбрать сетевой интерфейс для вещания";
const char kNewDevices[] = "Новые усилители";

std::string lastLine(const std::string& text) {
    std::string rest = text;
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r')) rest.pop_back();
    return rest.substr(rest.find_last_of('\n') + 1);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The first run in an empty data folder, stopped by --quit while the
// first-run note is still open: the note ends with the program.
TEST(EndToEndBoxes, EnglishWordsOutsideQuotedRepliesAreFound) {
    using e2e::englishWords;
    EXPECT_TRUE(englishWords("Устройство не в сети").empty());
    EXPECT_TRUE(englishWords("Ответ устройства: «ERR 3 bad index»\\nПовторите").empty());
    EXPECT_TRUE(englishWords("Файл '/tmp/x/record/Запись1.mp3' 02:56:53:00:00:0A 127.0.1.10 Orvel-510").empty());
    EXPECT_EQ(englishWords("Ошибка: offline / Internal error"),
              (std::vector<std::string>{"offline", "Internal", "error"}));
    EXPECT_EQ(englishWords("«open: Read-only» and «x"), (std::vector<std::string>{"and"}))
        << "an unclosed quote ends the search";
    EXPECT_EQ(englishWords("Сведения:\\nNo"), (std::vector<std::string>{"No"}));
    EXPECT_TRUE(englishWords("Параметр 'multicast.address' в файле '/tmp/a b/Varko Systems/sonvar.cfg'").empty());
    EXPECT_EQ(englishWords("'no path' here"), (std::vector<std::string>{"no", "path", "here"}));
}

TEST(EndToEnd, FirstRunFindsTheDevicesAndLeavesValidFiles) {
    Sandbox box;
    auto simulator = box.startSimulator(2, 1);
    const auto devices = box.simulatedDevices(*simulator);
    ASSERT_EQ(devices.size(), 3u);

    auto program = box.startProgram({"--trace"});
    ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
    ASSERT_TRUE(box.waitForWindow("^Информация$", *program)) << "the first-run note";
    ASSERT_TRUE(box.waitForLog("device added successfully", devices.size(), *program));
    EXPECT_TRUE(box.waitForRequests(*simulator, devices.size(), *program)) << "asked from the interface's address";
    EXPECT_EQ(box.quit(), "exit 0");
    EXPECT_EQ(program->finish(), "exit 0") << program->output();

    const auto boxes = box.boxes();
    ASSERT_EQ(boxes.size(), 1u) << "the note, once, and nothing else";
    EXPECT_EQ(boxes[0].caption, "Информация");
    EXPECT_EQ(boxes[0].text, kFirstRunNote);

    SettingsFile settings(box.dataFile("sonvar.cfg"));
    ASSERT_TRUE(settings.readable());
    EXPECT_EQ(settings.number("multicast.basePort"), 11990);
    EXPECT_EQ(settings.text("multicast.address"), "224.0.224.1");
    EXPECT_EQ(settings.number("multicast.commonStream.bitrate"), 128);
    EXPECT_EQ(settings.number("multicast.messagesStream.bitrate"), 128);
    EXPECT_EQ(settings.number("multicast.ttl"), 1);
    EXPECT_EQ(settings.flag("multicast.commonStream.active"), true);
    EXPECT_EQ(settings.flag("multicast.zeroPing"), true);
    EXPECT_EQ(settings.text("net.interfaceIp"), Sandbox::kInterface) << "the chosen interface is kept";
    EXPECT_EQ(settings.text("net.interfaceDescription"), "");
    EXPECT_EQ(settings.text("debug.level"), "info");

    const std::string list = box.dataFile("device_collection.xml");
    const std::string zones = box.dataFile("zone_collection.xml");
    ASSERT_TRUE(wellFormed(list));
    ASSERT_TRUE(wellFormed(zones));
    EXPECT_EQ(xpath(list, "count(/device_collection/device)"), "3");
    EXPECT_EQ(xpath(zones, "count(/zone_collection/zone)"), "1");
    for (const auto& device : devices) {
        const std::string hw = device.hardware;
        EXPECT_EQ(xpath(list, "count(/device_collection/device[hardware_address='" + hw + "' and type='" +
                                  (device.console ? "Tovik-30" : "Orvel-610") + "' and name='Новое устройство " +
                                  hw + "' and ip='" + device.address + "'])"),
                  "1")
            << hw;
        EXPECT_EQ(xpath(zones, "count(/zone_collection/zone[name='" + std::string(kNewDevices) +
                                   "']/devices/hardware_address[.='" + hw + "'])"),
                  "1")
            << hw;
    }
    for (const char* name : {"list_of_playlist_music.xml", "list_of_playlist_radio.xml"})
        EXPECT_TRUE(wellFormed(box.dataFile(name))) << name;
    for (const char* name : {"service_message.xml", "alarm_message.xml"}) {
        ASSERT_TRUE(wellFormed(box.dataFile(name))) << name;
        EXPECT_EQ(xpath(box.dataFile(name), "count(/tree[not(*)])"), "1") << "an empty tree: " << name;
    }
    const std::string playback = box.dataFile("device_playback.xml");
    ASSERT_TRUE(wellFormed(playback));
    EXPECT_EQ(xpath(playback, "count(/device)"), "1");
    EXPECT_EQ(xpath(playback, "count(/device/*)"), "0") << "no medium chosen";
    const std::string scheduler = box.dataFile("scheduler.xml");
    ASSERT_TRUE(wellFormed(scheduler));
    EXPECT_EQ(xpath(scheduler, "count(/scheduler_v2/*)"), "0") << "no task planned";

    const std::string log = box.log();
    EXPECT_NE(firstLine(log).find(kBanner), std::string::npos) << firstLine(log);
    EXPECT_NE(log.find("Startup BSD sockets, used v2.2, avaliable v2.2"), std::string::npos);
    EXPECT_NE(lastLine(log).find(kEndLog), std::string::npos) << lastLine(log);
    const auto shown = log.find("Show main frame");
    const auto note = log.find(kFirstRunNote);
    ASSERT_NE(note, std::string::npos) << "every box is logged";
    EXPECT_LT(shown, note) << "the note comes after the window";

    const std::vector<std::string> inhibitor{"systemctl is-active --quiet sonvar2.service", "inhibit started",
                                             "inhibit released"};
    EXPECT_EQ(box.toolLog(), inhibitor) << "kept awake from start-up to exit";
}

TEST(EndToEnd, SignalsStopLikeQuitAndASecondCopyIsRefused) {
    Sandbox box;
    box.answer("Информация", "OK");
    box.answer("Сообщение", "OK");
    for (const int signal : {SIGTERM, SIGINT}) {
        auto program = box.startProgram();
        ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
        if (signal == SIGTERM) {
            auto second = box.startProgram();
            EXPECT_EQ(second->finish(), "exit 2");
            EXPECT_TRUE(program->running()) << "the first copy is unaffected";
        }
        const std::size_t ended = occurrences(box.log(), kEndLog);
        program->signal(signal);
        EXPECT_EQ(program->finish(), "exit 0") << "signal " << signal;
        EXPECT_EQ(occurrences(box.log(), kEndLog), ended + 1) << "shut down in order";
        EXPECT_TRUE(wellFormed(box.dataFile("device_collection.xml")));
        EXPECT_TRUE(wellFormed(box.dataFile("zone_collection.xml")));
        EXPECT_TRUE(SettingsFile(box.dataFile("sonvar.cfg")).readable());
    }
    std::size_t refusals = 0;
    for (const auto& shown : box.boxes())
        if (shown.caption == "Сообщение" && shown.text == "Копия программы уже запущена.") ++refusals;
    EXPECT_EQ(refusals, 1u);
}

// --quit right after the start, before the copy listens for it: it is heard
// all the same, and the copy stops as soon as it can.
TEST(EndToEnd, QuitAtOnceStillStopsTheStartingCopy) {
    Sandbox box;
    box.answer("Информация", "OK");
    auto program = box.startProgram();
    ASSERT_TRUE(box.waitForLock(*program)) << program->output();
    EXPECT_EQ(box.quit(), "exit 0");
    EXPECT_EQ(program->finish(), "exit 0") << program->output();
    EXPECT_NE(lastLine(box.log()).find(kEndLog), std::string::npos);
    EXPECT_EQ(box.quit(), "exit 0") << "no copy runs";
}

TEST(EndToEnd, ServerOfTheSecondGenerationRefusesTheStart) {
    Sandbox box;
    box.setSystemctlStatus(0);
    box.answer("Внимание", "OK");
    auto program = box.startProgram();
    EXPECT_EQ(program->finish(), "exit 255");
    const auto boxes = box.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Внимание");
    EXPECT_EQ(boxes[0].text, "Запущен Сонвар 2.\\n(Остановите для запуска первой версии)");
    const std::vector<std::string> tools{"systemctl is-active --quiet sonvar2.service"};
    EXPECT_EQ(box.toolLog(), tools) << "refused before the PC is kept awake";
}

TEST(EndToEnd, MalformedStreamAddressIsReportedWithKeyAndFile) {
    Sandbox box;
    const std::string settings = "multicast = { address = \"224.0.224\"; };\n";
    box.writeDataFile("sonvar.cfg", settings);
    box.answer("Ошибка", "OK");
    auto program = box.startProgram();
    EXPECT_EQ(program->finish(), "exit 255");
    const auto boxes = box.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("'224.0.224'"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("'multicast.address'"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("«sonvar.cfg»"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(readFile(box.dataFile("sonvar.cfg")), settings) << "left for the operator to mend";
}

// A damaged settings file, then one of 80,000 groups that held the start in
// the parser for minutes: each is set aside and told once, beside the
// window, in place of the first-run note; the program starts and stops at
// once and leaves a settings file of its own.
TEST(EndToEnd, DamagedOrHugeSettingsFileIsSetAsideAndToldOnce) {
    Sandbox box;
    std::string huge;
    for (int i = 0; i < 80000; ++i)
        huge += "group" + std::to_string(i) + " = { level = \"info\"; port = 11990; on = true; };\n";
    const std::string settings = box.dataFile("sonvar.cfg");
    const struct {
        std::string text, reason, aside;
    } files[] = {{"multicast = {\n  basePort = 11990;\n", "ошибка в строке 3", ".bad"},
                 {huge, "файл больше 1 МБ", ".bad.2"}};
    for (const auto& file : files) {
        box.writeDataFile("sonvar.cfg", file.text);
        {
            auto program = box.startProgram();
            ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
            ASSERT_TRUE(box.waitForWindow("^Внимание$", *program));
            EXPECT_EQ(box.quit(), "exit 0");
            EXPECT_EQ(program->finish(), "exit 0");
        }
        EXPECT_EQ(readFile(settings + file.aside), file.text);
        EXPECT_TRUE(SettingsFile(settings).readable());
    }
    const auto boxes = box.boxes();
    ASSERT_EQ(boxes.size(), 2u) << "once for each file, and no first-run note";
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].caption, "Внимание");
        EXPECT_EQ(boxes[i].text, "Файл настроек «sonvar.cfg» повреждён (" + files[i].reason +
                                     ") и сохранён как «sonvar.cfg" + files[i].aside +
                                     "». Используются настройки по умолчанию.");
    }
}

TEST(EndToEnd, DamagedDeviceListStillStartsAndIsRewritten) {
    Sandbox box;
    box.answer("Информация", "OK");
    const std::string list = box.dataFile("device_collection.xml");
    const std::string damaged =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection>"
        "<device><hardware_address>02:56:53:00:00:0A</hardware_address><type>Orvel-610</type>"
        "<name>Зал</name><ip>127.0.1.10</ip></device>"
        "<device><type>Orvel-610</type><name>Без адреса</name><ip>127.0.1.11</ip></device>"
        "<device><hardware_address>02:56:53:00:00:0C</hardware_address><type>Tovik-30</type>"
        "<ip>127.0.1.12</ip></device>"
        "</device_collection>\n";
    box.writeDataFile("device_collection.xml", damaged);
    {
        auto program = box.startProgram();
        ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
        EXPECT_EQ(box.quit(), "exit 0");
        EXPECT_EQ(program->finish(), "exit 0");
    }
    ASSERT_TRUE(wellFormed(list));
    EXPECT_EQ(xpath(list, "count(/device_collection/device)"), "2") << "the entry without an address is skipped";
    EXPECT_EQ(xpath(list, "count(/device_collection/device[hardware_address='02:56:53:00:00:0A' and name='Зал'])"),
              "1");
    EXPECT_EQ(xpath(list, "count(/device_collection/device[hardware_address='02:56:53:00:00:0C' and "
                          "name='Устройство 02:56:53:00:00:0C'])"),
              "1")
        << "an entry without a name loads untitled";
    EXPECT_EQ(readFile(list + ".bad"), damaged) << "kept aside before the save dropped the entry";
    EXPECT_EQ(
        occurrences(box.log(), "Файл '" + list + "' повреждён (пропущено повреждённых записей устройств: 1)"),
        1u)
        << "one notice, naming the file";

    const std::string rootless =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<devices><device><hardware_address>02:56:53:00:00:0A"
        "</hardware_address><name>Зал</name></device></devices>\n";
    box.writeDataFile("device_collection.xml", rootless);
    {
        auto program = box.startProgram();
        ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
        EXPECT_EQ(box.quit(), "exit 0");
        EXPECT_EQ(program->finish(), "exit 0");
    }
    EXPECT_EQ(readFile(list + ".bad.2"), rootless) << "set aside, not destroyed";
    ASSERT_TRUE(wellFormed(list));
    EXPECT_EQ(xpath(list, "count(/device_collection)"), "1");
}

// A hand-made scheduler.xml: the task whose radio station exists is loaded
// (its loudspeaker, unknown here, stays with it), the one whose playlist is
// missing is reported and kept; both come back unchanged at exit.
TEST(EndToEnd, PlannedTasksSurviveAStartAndAQuit) {
    Sandbox box;
    box.answer("Информация", "OK");
    box.answer("Ошибка", "OK");
    const std::string tasks =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<scheduler_v2>"
        "<task><type>once</type><startDate>2020-01-02</startDate><finalDate>2020-01-02</finalDate>"
        "<startTime>10:00</startTime><stopTime/><enable>true</enable><playback><placeName>radio</placeName>"
        "<subPlaceName>Радио</subPlaceName><devices><devices>02:56:53:00:00:7F</devices></devices>"
        "</playback></task>"
        "<task><type>daily</type><startDate>2020-01-02</startDate><finalDate/><startTime>08:00</startTime>"
        "<stopTime>09:00</stopTime><enable>false</enable><playback><placeName>playlist</placeName>"
        "<subPlaceName>Утро</subPlaceName><devices/></playback></task>"
        "</scheduler_v2>";
    box.writeDataFile("scheduler.xml", tasks);
    auto program = box.startProgram();
    ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
    ASSERT_TRUE(box.waitForLog("Загрузка заданий планировщика завершена.", 1, *program));
    EXPECT_EQ(box.quit(), "exit 0");
    EXPECT_EQ(program->finish(), "exit 0") << program->output();
    const std::string file = box.dataFile("scheduler.xml");
    EXPECT_TRUE(wellFormed(file));
    EXPECT_EQ(readFile(file), tasks);
    EXPECT_NE(box.log().find("Задания планировщика не удалось загрузить, кол-во: 1"), std::string::npos)
        << "the task that was not loaded is reported";
}

// The removable-medium page's file without its root element: the start goes
// on, the operator is told, the file is kept aside and written anew at exit.
TEST(EndToEnd, MediumStateWithoutItsRootIsSetAsideAndWrittenAnew) {
    Sandbox box;
    box.answer("Информация", "OK");
    const std::string foreign = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<disk>/media/op/USB</disk>\n";
    box.writeDataFile("device_playback.xml", foreign);
    {
        auto program = box.startProgram();
        ASSERT_TRUE(box.waitForWindow(Sandbox::kMainWindow, *program)) << program->output();
        EXPECT_TRUE(box.waitForWindow("^Внимание$", *program));
        EXPECT_EQ(box.quit(), "exit 0");
        EXPECT_EQ(program->finish(), "exit 0");
    }
    const std::string playback = box.dataFile("device_playback.xml");
    EXPECT_EQ(readFile(playback + ".bad"), foreign);
    ASSERT_TRUE(wellFormed(playback));
    EXPECT_EQ(xpath(playback, "count(/device/*)"), "0");
    bool told = false;
    for (const auto& shown : box.boxes())
        told = told || (shown.caption == "Внимание" && shown.text.find(".bad") != std::string::npos);
    EXPECT_TRUE(told);
}

}  // namespace
