// ctest-labels: net
// The main window over its real services in a temporary data folder: start-up
// and shutdown with the state files written once whichever trigger comes
// first, the close question, full screen, the forced close after a stop from
// outside, the window geometry, devices from the simulator filed into zones,
// and a stop from outside while a worker's question is open.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <wx/tglbtn.h>
#include <wx/weakref.h>

#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/channel_gui.h"
#include "gui/item_data_map.h"
#include "gui/main_frame.h"
#include "gui/ui.h"
#include "os/data_directory.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/ui_script.h"
#include "tests/gui/screenshot.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;

namespace {

const std::wstring kCloseCaption = L"Завершение работы";

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class MainFrameTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        folder = base::toUtf8(os::getUserDataDirectory()) + "/";
        pref_init(os::getUserDataDirectory() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
    }
    void TearDown() override {
        if (frame) destroyFrame();
        transport->stop();
        simulator.stop();
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }

    void start(bool fullScreen = false) {
        frame = new frm::MainFrame(transport, false, fullScreen);
        frame->Startup();
    }
    void destroyFrame() {
        frame->Destroy();
        wx_testing::runEventLoopUntil([this] { return !frame; });
    }
    frm::ZoneElement::Ptr zone(std::size_t index) {
        return frame->getItemDataMap()->getZoneElement(0)->getZones().at(index);
    }
    std::string file(const std::string& name) const { return folder + name; }
    void write(const std::string& name, const std::string& text) const { std::ofstream(file(name)) << text; }
    static int prefInt(const char* key) {
        pref::Guard guard(g_pref);
        libconfig::Setting* setting = pref::find(g_pref, key, pref::Type::TypeInt);
        return setting != nullptr ? static_cast<int>(*setting) : -2;
    }

    testing_support::TempDir home;
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    std::string folder;
    boost::shared_ptr<device::TransferProtocol> transport;
    device::sim::Simulator simulator;
    wxWeakRef<frm::MainFrame> frame;
};

}  // namespace

TEST_F(MainFrameTest, StateFilesAreWrittenOnceWhicheverTriggerComesFirst) {
    ui_testing::ScriptedUi answers;
    start();
    wx_testing::writeShot(frame, "main_frame");
    EXPECT_EQ(frame->GetTitle().utf8_string().rfind("Сонвар 1.2.0.470 - ", 0), 0u);

    answers.expect(kCloseCaption, wxID_NO);
    EXPECT_FALSE(frame->Close());
    EXPECT_FALSE(frame->isShutdownDone());
    EXPECT_TRUE(GuiThreadInvoker::isActive());
    EXPECT_FALSE(exists(file("zone_collection.xml")));

    answers.expect(kCloseCaption, wxID_YES);
    EXPECT_TRUE(frame->Close());
    EXPECT_TRUE(frame->isShutdownDone());
    for (const char* name : {"device_collection.xml", "zone_collection.xml", "list_of_playlist_music.xml",
                             "list_of_playlist_radio.xml", "device_playback.xml", "service_message.xml",
                             "alarm_message.xml", "scheduler.xml", "sonvar.cfg"}) {
        EXPECT_TRUE(exists(file(name))) << name;
        std::remove(file(name).c_str());
    }

    frame->stopFromOutside();  // before the toolkit deleted the window
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return !frame; }));
    EXPECT_FALSE(exists(file("zone_collection.xml")));
    EXPECT_EQ(loggedCount("main frame: shutdown begin"), 1);
}

TEST_F(MainFrameTest, FullScreenVetoesEveryCloseAndKeepsNoGeometry) {
    ui_testing::ScriptedUi answers;  // no box expected
    start(true);
    EXPECT_FALSE(frame->Close());
    frame->Shutdown();
    EXPECT_FALSE(frame->Close());
    EXPECT_EQ(prefInt("mainWindow.width"), -2);
}

TEST_F(MainFrameTest, ACloseAfterAStopFromOutsideEndsTheProcessWithCode2) {
    start();
    frame->Shutdown();
    EXPECT_EQ(testing_support::statusText(testing_support::runInChild([this] {
                  frame->Close();
                  return 0;
              })),
              "exit 2");
}

TEST_F(MainFrameTest, GeometryKeysAreCreatedRestoredAndSaved) {
    start();  // no keys yet: created with their defaults, the window left alone
    const wxSize initial = frame->GetSize();
    for (const char* key : {"mainWindow.top", "mainWindow.left", "mainWindow.hight", "mainWindow.width"})
        EXPECT_EQ(prefInt(key), -1) << key;
    frame->Shutdown();
    EXPECT_EQ(prefInt("mainWindow.hight"), initial.y);
    EXPECT_EQ(prefInt("mainWindow.width"), initial.x);
    destroyFrame();

    struct Case {
        int width, hight;
        bool applied;
    };
    for (const Case& c : {Case{0, 650, false}, Case{1100, 650, true}}) {
        {
            pref::Guard guard(g_pref);
            pref::create(g_pref, "mainWindow.width", pref::Type::TypeInt) = c.width;
            pref::create(g_pref, "mainWindow.hight", pref::Type::TypeInt) = c.hight;
        }
        start();
        EXPECT_EQ(frame->GetSize() == wxSize(1100, 650), c.applied) << c.width;
        destroyFrame();  // without a shutdown: nothing saved
        EXPECT_EQ(prefInt("mainWindow.width"), c.width);
    }
}

TEST_F(MainFrameTest, DevicesAreFiledIntoTheirZoneOrIntoNewDevices) {
    const std::string kept = device::sim::Simulator::hardwareAddress(1);
    const std::string fresh = device::sim::Simulator::hardwareAddress(2);
    // One device known from the device list, one zone waiting for `kept`.
    write("device_collection.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection><device><hardware_address>" +
              device::sim::Simulator::hardwareAddress(3) +
              "</hardware_address><name>Склад</name></device></device_collection>");
    write("zone_collection.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection><zone><name>Зал</name><enableVolume>false"
          "</enableVolume><volume>0</volume><devices><hardware_address>" +
              kept + "</hardware_address></devices><zones/></zone></zone_collection>");
    start();
    const auto server = device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort());
    simulator.addOrvel("127.0.1.1", 0, kept).startStatePackets(server, 100ms);
    simulator.addOrvel("127.0.1.2", 0, fresh).startStatePackets(server, 100ms);
    simulator.start();

    const auto hall = zone(1);
    ASSERT_EQ(hall->getName(), L"Зал");
    EXPECT_FALSE(zone(0)->getPanel()->IsShown());
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [&] { return hall->getDevices().size() == 1 && zone(0)->getDevices().size() == 1; }));
    EXPECT_TRUE(zone(0)->getPanel()->IsShown());
    const auto newcomer = zone(0)->getDevices().front();
    EXPECT_EQ(newcomer->getHardwareAddress().toCharArray(), fresh);
    EXPECT_GT(newcomer->getId(), 1u);  // the loaded device has id 1

    // A later change from a worker: the row is refreshed, nothing filed again.
    std::thread([&] { frame->updateGui(newcomer); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return logged("updateGui, count=1"); }));
    EXPECT_EQ(zone(0)->getDevices().size(), 1u);
    EXPECT_FALSE(logged("Reinclusion"));

    // Work queued before the shutdown finds the panels gone and does nothing.
    frame->Shutdown();
    const int counted = loggedCount("updateGui, count=");
    frame->updateGui(newcomer);
    frame->UpdatePlayingTitle();
    EXPECT_EQ(loggedCount("updateGui, count="), counted);
}

// A deleted device's report that was on its way (its give-back's reply, a
// packet parsed as it left) files nothing, neither into the zone that keeps
// its address nor into "Новые усилители"; the object the collection makes
// when it is found again is filed there, once.
TEST_F(MainFrameTest, AReportOfADeviceNoLongerInTheCollectionFilesNothing) {
    const std::string kept = device::sim::Simulator::hardwareAddress(41);
    write("zone_collection.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection><zone><name>Зал</name><enableVolume>false"
          "</enableVolume><volume>0</volume><devices><hardware_address>" +
              kept + "</hardware_address></devices><zones/></zone></zone_collection>");
    start();
    const auto collection = frame->getDeviceCollection();
    const auto add = [&](const std::string& address, std::uint32_t id) {
        return collection->addDevice(id, L"Orvel-610", net::HardwareAddress(address),
                                     net::Ip4Address("10.0.0.5"), L"Громкоговоритель");
    };
    const std::string fresh = device::sim::Simulator::hardwareAddress(42);
    const auto gone = add(kept, 500), goneFresh = add(fresh, 501);
    collection->remove(net::HardwareAddress(kept));
    collection->remove(net::HardwareAddress(fresh));
    frame->updateDevices({gone, goneFresh});
    EXPECT_TRUE(zone(1)->getDevices().empty());
    EXPECT_EQ(zone(1)->getPendingAddresses().size(), 1u) << "the zone still waits for it";
    EXPECT_TRUE(zone(0)->getDevices().empty());
    EXPECT_FALSE(zone(0)->getPanel()->IsShown());

    const auto again = add(kept, 502), freshAgain = add(fresh, 503);
    frame->updateDevices({gone, again, goneFresh, freshAgain});
    EXPECT_EQ(zone(1)->getDevices(), (std::vector<frm::MainFrame::DevicePtr>{again}));
    EXPECT_EQ(zone(0)->getDevices(), (std::vector<frm::MainFrame::DevicePtr>{freshAgain}));
    EXPECT_TRUE(logged("device batch: 4 devices, 2 filed now"));
}

TEST_F(MainFrameTest, WhatChangesInTheSessionIsInItsFilesWithinSecondsNotOnlyAtExit) {
    const std::string fresh = device::sim::Simulator::hardwareAddress(2);
    write("device_collection.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection/>");
    start();
    // The files as loaded are not written again while nothing changes.
    wx_testing::runEventLoopFor(3500ms);
    EXPECT_EQ(testing_support::readFile(file("device_collection.xml")),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection/>");
    EXPECT_FALSE(exists(file("zone_collection.xml")));

    // A device found in the run is in the device list and its zone, before any exit.
    const auto server = device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort());
    simulator.addOrvel("127.0.1.2", 0, fresh).startStatePackets(server, 100ms);
    simulator.start();
    EXPECT_TRUE(wx_testing::runEventLoopUntil(
        [&] {
            return testing_support::readFile(file("device_collection.xml")).find(fresh) != std::string::npos &&
                   testing_support::readFile(file("zone_collection.xml")).find(fresh) != std::string::npos;
        },
        10s));
    EXPECT_FALSE(frame->isShutdownDone());
    frame->Shutdown();
    EXPECT_NE(testing_support::readFile(file("device_collection.xml")).find(fresh), std::string::npos);
}

TEST_F(MainFrameTest, DevicesReportedTogetherAreFiledAndRedrawnOnceForTheirBatch) {
    start();
    // The window's own collection: only its objects are filed.
    const auto collection = frame->getDeviceCollection();
    std::vector<frm::MainFrame::DevicePtr> devices;
    for (int n = 0; n < 250; ++n) {
        char low[3];
        std::snprintf(low, sizeof low, "%02x", n);
        devices.push_back(collection->addDevice(static_cast<std::uint32_t>(1000 + n), L"Orvel-610",
                                                net::HardwareAddress(std::string("02:56:53:00:00:") + low),
                                                net::Ip4Address("10.0.0.5"),
                                                L"Громкоговоритель " + std::to_wstring(n)));
    }
    // Workers report every device three times while the GUI thread is busy:
    // one batch files them all, with one rebuild of the views.
    const auto report = [&] {
        std::vector<std::thread> workers;
        for (int w = 0; w < 3; ++w)
            workers.emplace_back([&] {
                for (const auto& device : devices) frame->updateGui(device);
            });
        for (auto& worker : workers) worker.join();
    };
    report();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return zone(0)->getDevices().size() == 250; }));
    EXPECT_EQ(loggedCount("device batch:"), 1);
    EXPECT_TRUE(logged("device batch: 250 devices, 250 filed now"));
    EXPECT_TRUE(zone(0)->getPanel()->IsShown());
    // Workers read the newcomers from the registry's snapshot.
    EXPECT_EQ(frame->getItemDataMap()->getDevicesOfZones().size(), 250u);

    // Known now: reported again, soon after the last batch, they wait for
    // the period and are only refreshed, in one batch again.
    report();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return loggedCount("device batch:") == 2; }));
    EXPECT_TRUE(logged("device batch: 250 devices, 0 filed now"));
    EXPECT_EQ(zone(0)->getDevices().size(), 250u);
    EXPECT_FALSE(logged("Reinclusion"));
}

TEST_F(MainFrameTest, AStopFromOutsideAnswersAnOpenQuestionNoAndShutsDown) {
    start();
    frm::InvokerChannelGui gui([](const std::wstring& caption, const std::wstring& text) {
        return frm::ui::askYesNo(text, caption);
    });
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = gui.askYesNo(L"Предупреждение", L"Запустить?") ? 1 : 0; });
    bool stopQueued = false;
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] {
        if (!stopQueued && frm::ui::openCount() == 1) {
            stopQueued = true;
            wxTheApp->CallAfter([this] { frame->stopFromOutside(); });
        }
        return answer >= 0 && !frame;
    }));
    worker.join();
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(loggedCount("main frame: shutdown end"), 1);
}
