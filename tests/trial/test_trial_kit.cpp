// The trial kit's readers, without a program: the simulator's holdings
// file, the program's widget map and the report line a case prints, and the
// site's command line and volumes.
#include <gtest/gtest.h>

#include <set>

#include "tests/trial/holdings.h"
#include "tests/trial/receiver.h"
#include "tests/trial/report.h"
#include "tests/trial/site.h"
#include "tests/trial/widget_listing.h"

using namespace trial;
using namespace std::chrono_literals;

TEST(TrialHoldings, EachLineGivesTheDeviceItsChannelVolumeAndState) {
    const auto devices = parseHoldings(
        "1 127.0.1.1 channel=0 volume=-6 memory=\"idle\"\n"
        "2 127.0.1.2 channel=1 volume=0B:0B memory=\"fragment 3\" deferred=\"set ch 1\" down\n"
        "3 127.0.1.3 volume=50\n"
        "garbage\n"
        "4 127.0.1.4 channel=x volume=-3\n");
    ASSERT_EQ(devices.size(), 3u) << "the garbage and the unreadable channel are left out";
    EXPECT_EQ(devices.at(1).channel, 0u);
    EXPECT_EQ(devices.at(1).volume, "-6");
    EXPECT_FALSE(devices.at(1).down);
    EXPECT_EQ(devices.at(2).channel, 1u);
    EXPECT_EQ(devices.at(2).volume, "0B:0B");
    EXPECT_EQ(devices.at(2).memory, "fragment 3");
    EXPECT_EQ(devices.at(2).deferred, "set ch 1");
    EXPECT_TRUE(devices.at(2).down);
    EXPECT_FALSE(devices.at(3).channel) << "a console has none";
    EXPECT_EQ(devices.at(3).volume, "50");
    EXPECT_EQ(describe(devices.at(2)), "channel=1 volume=0B:0B deferred=\"set ch 1\" down");
}

TEST(TrialWidgetListing, ControlsAndTheirItemsAreFoundByTypeLabelAndPlace) {
    const auto listing = WidgetListing::parse(
        "window id=1 parent=0 type=frm::MainFrame class=wxFrame rect=0,0,1270,1000 enabled=1 focus=0 "
        "label=\"Сонвар 1.2.0.470 - © Varko\" tip=\"\"\n"
        "window id=2 parent=1 type=wxToggleButton class=wxToggleButton rect=10,5,90,40 enabled=1 focus=0 "
        "label=\"Тревожное\\nоповещение\" tip=\"\" value=\"0\"\n"
        "window id=3 parent=1 type=frm::IconGrid class=wxScrolledCanvas rect=200,100,800,600 enabled=1 "
        "focus=1 "
        "label=\"\" tip=\"\"\n"
        "item of=3 index=0 rect=204,104,96,80 selected=1 title=\"Новое устройство 02:56:53:00:00:01\" "
        "hw=02:56:53:00:00:01\n"
        "item of=3 index=1 rect=306,104,96,80 selected=0 title=\"Зал \\\"Б\\\"\" hw=02:56:53:00:00:02 "
        "image=2\n"
        "window id=4 parent=0 type=wxTextEntryDialog class=wxDialog rect=400,300,300,150 enabled=1 focus=0 "
        "label=\"Окно ввода пароля\" tip=\"\"\n"
        "window id=5 parent=4 type=wxTextCtrl class=wxTextCtrl rect=410,340,280,30 enabled=1 focus=1 "
        "label=\"\" "
        "tip=\"\" value=\"\"\n"
        "item of=9 index=0 rect=1,1,1,1 selected=0 title=\"orphan\"\n"
        "window id=6 parent=1 type=wxStaticText class=wxStaticText rect=300,700,120,20 enabled=1 focus=0 "
        "label=\"Основной шлюз\" tip=\"\"\n"
        "window id=7 parent=1 type=wxTextCtrl class=wxTextCtrl rect=900,698,150,26 enabled=1 focus=0 "
        "label=\"\" "
        "tip=\"\" value=\"127.0.0.1\"\n"
        "window id=8 parent=1 type=wxTextCtrl class=wxTextCtrl rect=450,698,150,26 enabled=1 focus=0 "
        "label=\"\" "
        "tip=\"\" value=\"10.0.0.1\"\n"
        "window id=9 parent=1 type=wxTextCtrl class=wxTextCtrl rect=450,740,150,26 enabled=1 focus=0 "
        "label=\"\" "
        "tip=\"\" value=\"next row\"\n");
    ASSERT_EQ(listing.widgets().size(), 9u);
    const Widget* gateway = listing.fieldBeside("Основной шлюз");
    ASSERT_NE(gateway, nullptr);
    EXPECT_EQ(gateway->value, std::optional<std::string>("10.0.0.1")) << "the nearest on its row";
    const Widget* toggle = listing.control("wxToggleButton", "Тревожное\nоповещение");
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->value, std::optional<std::string>("0"));
    EXPECT_EQ(toggle->rect.centreX(), 55);
    EXPECT_EQ(toggle->rect.centreY(), 25);
    const Widget* grid = listing.find(ofType("frm::IconGrid"));
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->items.size(), 2u) << "the orphan item belongs to no window listed before it";
    EXPECT_EQ(grid->items[1].title, "Зал \"Б\"");
    const Item* second = listing.deviceItem("02:56:53:00:00:02");
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->selected);
    EXPECT_EQ(second->rect.x, 306);
    EXPECT_EQ(second->image, 2);
    EXPECT_EQ(grid->items[0].image, -1) << "none given";
    EXPECT_TRUE(iconAnswering(2));
    EXPECT_FALSE(iconAnswering(grid->items[0].image));

    const Widget* prompt = listing.window("Окно ввода пароля");
    ASSERT_NE(prompt, nullptr);
    const Widget* field = listing.findInside(*prompt, ofType("wxTextCtrl"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->focus);
    EXPECT_FALSE(listing.inside(*grid, *prompt));
    EXPECT_EQ(listing.control("wxToggleButton", "Тревожное оповещение"), nullptr) << "labels match exactly";
    EXPECT_EQ(plainLabel("&Применить"), "Применить");
    EXPECT_EQ(plainLabel("A && B"), "A & B");
}

TEST(TrialReport, TheLineHasTheFiguresInOrderAndTheFirstReasons) {
    Report report("quit_lost");
    report.seconds("quit", 6.104s);
    report.share("back", 18, 20);
    report.seconds("quit", 6.1s);  // replaced in place
    EXPECT_EQ(report.line(), "TRIAL quit_lost quit=6.10s back=18/20 result=ok");
    report.fail("quit took 6.10 s,\nover 5 s");
    EXPECT_EQ(report.line(),
              "TRIAL quit_lost quit=6.10s back=18/20 result=FAIL (quit took 6.10 s, over 5 s)");
    for (const char* why : {"b", "c", "d", "e"}) report.fail(why);
    EXPECT_EQ(report.line(),
              "TRIAL quit_lost quit=6.10s back=18/20 result=FAIL (quit took 6.10 s, over 5 s; b; c; 2 more)");
}

TEST(TrialSite, VolumesAreDistinctOfTheirModelsFormAndNeverTheInstallersOwn) {
    for (const Model model : {Model::Orvel610, Model::Orvel510}) {
        std::set<std::string> seen;
        for (unsigned n = 1; n <= 40; ++n) {
            const std::string volume = ownVolume(model, n);
            EXPECT_TRUE(seen.insert(volume).second) << volume;
            EXPECT_NE(volume, "-29");
            EXPECT_NE(volume, "2A:2A");
            if (model == Model::Orvel510)
                EXPECT_EQ(volume.size(), 5u) << volume;
            else
                EXPECT_GE(std::stoi(volume), -96) << volume;
        }
    }
    EXPECT_EQ(hardwareOf(11), "02:56:53:00:00:0B");

    Site site = Site::orvel610(2, 0.8);
    site.loudspeakers.push_back(
        {Model::Orvel510, ownVolume(Model::Orvel510, 3), 1.9, {"--error-on", "get eq"}});
    site.consoles = 1;
    site.consoleLate = 1.9;
    const std::vector<std::string> expected{
        "--band",         "18",     "--loudspeakers", "3", "--consoles",    "1",     "--fault-device", "1",
        "--volume",       "-6",     "--fault-device", "2", "--volume",      "-7",    "--reply-delay",  "0.8",
        "--fault-device", "3",      "--device-band",  "5", "--volume",      "0D:0D", "--reply-delay",  "1.9",
        "--error-on",     "get eq", "--fault-device", "4", "--reply-delay", "1.9"};
    EXPECT_EQ(site.simulatorOptions(), expected);
}

TEST(TrialReceiver, TheFirstDatagramOfSoundIsTheFirstOfARunNotAKeepAlive) {
    const auto t0 = std::chrono::steady_clock::time_point(std::chrono::seconds(100));
    // Keep-alives a second apart through the pause, then sound every 55 ms.
    const std::vector<std::chrono::steady_clock::time_point> arrivals{
        t0 + 250ms, t0 + 1250ms, t0 + 2250ms, t0 + 3000ms, t0 + 3055ms, t0 + 3110ms, t0 + 9000ms};
    EXPECT_EQ(firstArrival(arrivals, t0), t0 + 250ms);
    EXPECT_EQ(firstArrival(arrivals, t0, 300ms), t0 + 3000ms);
    EXPECT_EQ(firstArrival(arrivals, t0 + 3001ms, 300ms), t0 + 3055ms);
    EXPECT_EQ(firstArrival(arrivals, t0 + 3111ms, 300ms), std::nullopt)
        << "a lone datagram at the end is no sound";
    EXPECT_EQ(firstArrival(arrivals, t0 + 9001ms), std::nullopt);
}
