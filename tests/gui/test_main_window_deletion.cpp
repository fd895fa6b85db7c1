// ctest-labels: net
// "Удалить устройства" on loudspeakers that an alarm holds, in the main
// window over its real collection, alarm channel, player channel and ledger,
// beside simulated loudspeakers that the window files itself. A loudspeaker
// deleted so and found again by its state packets is one loudspeaker again:
// once in the zone file (also after a restart), one row that shows it
// answering, chosen by "Выделить все устройства", switched by the next alarm
// and given the next service message's volume, not muted as a loudspeaker of
// the zones left out.
#include <gtest/gtest.h>
#include <wx/button.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>

#include "audio/alarm_channel.h"
#include "audio/host_window.h"
#include "audio/loudspeaker_ledger.h"
#include "audio/mp3stream.h"
#include "audio/mp3streamf.h"
#include "audio/orvel_link.h"
#include "audio/player.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/wx/gui_thread_invoker.h"
#include "gui/channel_gui.h"
#include "gui/device_view.h"
#include "gui/layout/icon_grid.h"
#include "tests/audio/engine_fixture.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/store_support.h"
#include "tests/gui/ui_script.h"
#include "tests/support/test_index.h"
#include "tests/support/wav_file.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/stream_probe.h"

using namespace main_frame_testing;
using namespace std::chrono_literals;
using DevicePtr = frm::ItemDataMap::DevicePtr;
using Devices = std::vector<DevicePtr>;
using Strings = std::vector<std::string>;

namespace {

std::string ownGroup() { return "224.0.226." + std::to_string(20 + testing_support::indexInSuite()); }
const std::uint16_t kNoticePort = 14751;  // channel 1 above the loudspeakers' channel 0
/// The loudspeakers' own volumes, each its own, none an alarm's or a message's.
const Strings kOwnVolumes{"-12", "-15", "-18", "-21"};
/// The service message's volume, in percent.
constexpr int kMessageVolume = 80;

class MainWindowDeletion : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        setPref("multicast.address", ownGroup());
        const std::string voice = files.path() + "/voice.wav";
        testing_support::writeBytes(
            voice, testing_support::wavFile(stream_probe::stepped_tone({600}, 60000, 44100, 1), 44100, 1));
        setPref("record.deviceName", "file://" + voice);
        message = files.path() + "/Объявление.mp3";
        std::ofstream(message).put('\0');  // the fixture plug-ins never read it
    }
    void TearDown() override {
        dropChannels();
        simulator.stop();
        if (frame) frame->Destroy();
        wx_testing::runEventLoopUntil([this] { return !frame; });
        dropPlayer();
        MainWindow::TearDown();
    }

    /// The window with the loudspeakers 1 to 3 sending (filed into "Новые
    /// усилители"), and with `offline` a fourth one in "Зал" that the
    /// device list knows but that sends nothing yet.
    void begin(bool offline = false) {
        if (offline)
            writeStores({204}, zoneXml("Зал", {204}));
        else
            writeStores({}, "");
        start();
        makeChannels();
        for (int n = 1; n <= (offline ? 4 : 3); ++n) {
            auto model = std::make_unique<device::sim::OrvelBandModel>(address(200 + n), 18);
            model->volume = kOwnVolumes[n - 1];
            speakers.push_back(&simulator.add("127.0.4." + std::to_string(n), 0, std::move(model)));
            if (n <= 3) speakers.back()->startStatePackets(server(), 200ms);
        }
        simulator.start();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return answering({0, 1, 2}); }, 10s));
        frame->zonePanel()->enableAdministratorMode(true);
    }
    device::sim::Endpoint server() const {
        return {boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()};
    }
    /// The channels and the ledger as the program makes them: one ledger for
    /// both channels and the window.
    void makeChannels() {
        ledger = std::make_shared<frm::LoudspeakerLedger>(std::make_shared<frm::OrvelLink>());
        frm::LoudspeakerLedger::setInstance(ledger);
        notices.set_stream_fmt(128);
        notices.set_stream_ttl(1);
        notices.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.discoveryPort = [](device::OrvelInfo&) {
            return static_cast<std::uint16_t>(kNoticePort - 1);
        };
        options.ledger = ledger;
        frm::AlarmChannel::createInstance(frame->getItemDataMap(), &channelGui, notices, options);
        host = std::make_unique<HostWindow>(
            [](HostWindow::Task task) { GuiThreadInvoker::add(std::move(task)); });
        engine = std::make_unique<PlayerEngine>(host->handle(), &common, engine_test::fixture_folder());
        host->attach(engine.get());
        engine->set_host([](std::function<void()> task) { GuiThreadInvoker::add(std::move(task)); }, nullptr);
        g_player_engine = engine.get();
        Player::create(engine.get(), [] { return std::vector<os::AudioCaptureDevice>(); });
        frm::PlayerChannel::createInstance(frame->getItemDataMap(), &channelGui, 20ms, ledger);
    }
    /// Before the window that owns their selection goes.
    void dropChannels() {
        frm::PlayerChannel::destroyInstance();
        frm::AlarmChannel::destroyInstance();
        frm::LoudspeakerLedger::setInstance(nullptr);
        ledger.reset();
    }
    void dropPlayer() {
        if (!engine) return;
        if (base::ThreadDispatcher* dispatcher = base::ThreadDispatcher::instance()) dispatcher->shutdown();
        Player::destroy();
        g_player_engine = nullptr;
        host->attach(nullptr);
        engine.reset();
        host.reset();
    }

    // ---- what the window has ---------------------------------------------------------------------

    /// Every device of the zone tree with the simulated loudspeaker's address,
    /// once per zone that holds it.
    Devices filed(std::size_t speaker) {
        const std::string wanted = address(201 + static_cast<int>(speaker));
        Devices found;
        const std::function<void(const frm::ZoneElement::Ptr&)> walk =
            [&](const frm::ZoneElement::Ptr& zone) {
                for (const DevicePtr& device : zone->getDevices())
                    if (device->getHardwareAddress().toCharArray() == wanted) found.push_back(device);
                for (const frm::ZoneElement::Ptr& child : zone->getZones()) walk(child);
            };
        walk(frame->getItemDataMap()->getZoneElement(0));
        return found;
    }
    /// The one device the window files for the loudspeaker, once it answers.
    DevicePtr device(std::size_t speaker) {
        const Devices found = filed(speaker);
        return found.size() == 1 && found.front()->isOnlineAndAnswered() ? found.front() : DevicePtr();
    }
    bool answering(const std::vector<std::size_t>& chosen) {
        for (const std::size_t speaker : chosen)
            if (!device(speaker)) return false;
        return true;
    }
    frm::IconGrid* rows() const { return frame->zonePanel()->deviceList; }
    const frm::DeviceRowData& row(long index) const {
        return *reinterpret_cast<const frm::DeviceRowData*>(rows()->GetItemData(index));
    }
    /// The rows that show the loudspeaker.
    std::vector<long> rowsOf(std::size_t speaker) const {
        std::vector<long> found;
        for (long index = 0; index < rows()->GetItemCount(); ++index)
            if (row(index).device->getHardwareAddress().toCharArray() ==
                address(201 + static_cast<int>(speaker)))
                found.push_back(index);
        return found;
    }
    int image(long index) const {
        wxListItem item;
        item.SetId(index);
        item.SetMask(wxLIST_MASK_IMAGE);
        rows()->GetItem(item);
        return item.GetImage();
    }
    /// A button of the zone page, as the operator finds it.
    wxButton* pageButton(const wchar_t* label) const {
        return dynamic_cast<wxButton*>(wxWindow::FindWindowByLabel(label, frame->zonePanel()));
    }
    /// These rows selected and no other, as clicks would.
    void select(const std::vector<std::size_t>& chosen) {
        for (long index = 0; index < rows()->GetItemCount(); ++index) {
            bool on = false;
            for (const std::size_t speaker : chosen)
                on = on || row(index).device->getHardwareAddress().toCharArray() ==
                               address(201 + static_cast<int>(speaker));
            rows()->SetItemState(index, on ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
        }
    }

    // ---- what the loudspeakers have ------------------------------------------------------------

    std::pair<unsigned, std::string> state(std::size_t speaker) {
        std::pair<unsigned, std::string> now;
        speakers[speaker]->withModel<device::sim::OrvelBandModel>([&](device::sim::OrvelBandModel& model) {
            now = {model.channel, model.volume};
            return 0;
        });
        return now;
    }
    /// What the loudspeaker was asked that starts so, each text once (a
    /// request sent again on a loaded machine counts once).
    std::set<std::string> requests(std::size_t speaker, const std::string& prefix) const {
        std::set<std::string> found;
        for (const auto& datagram : speakers[speaker]->received())
            if (datagram.text.rfind(prefix, 0) == 0)
                found.insert(datagram.text.substr(0, datagram.text.find('\n')));
        return found;
    }
    bool allOn(const std::vector<std::size_t>& chosen, unsigned channel) {
        for (const std::size_t speaker : chosen)
            if (state(speaker).first != channel) return false;
        return true;
    }
    /// Back on the common channel with its own volume.
    bool givenBack(std::size_t speaker) { return state(speaker) == std::make_pair(0u, kOwnVolumes[speaker]); }

    // ---- what the operator does ----------------------------------------------------------------

    /// "Выделить все устройства", "Тревога" with its password; the alarm
    /// holds the loudspeakers.
    void startAlarm(const std::vector<std::size_t>& held) {
        main_frame_testing::click(pageButton(L"Выделить все устройства"));
        answers.expect(kPrompt, wxID_OK, L"123456");
        main_frame_testing::click(frame->playAlarm);
        ASSERT_EQ(frame->playAlarm->GetLabel(), L"Стоп");
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return allOn(held, 1); }, 20s));
    }
    void stopAlarm(const std::vector<std::size_t>& held) {
        main_frame_testing::click(frame->playAlarm);
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [&] {
                if (frame->playAlarm->GetLabel() != L"Тревога" || !frame->playAlarm->IsEnabled())
                    return false;
                for (const std::size_t speaker : held)
                    if (!givenBack(speaker)) return false;
                return true;
            },
            20s));
    }
    /// "Удалить устройства" on these rows, "Да".
    void deleteRows(const std::vector<std::size_t>& chosen) {
        select(chosen);
        answers.expect(kMessage, wxID_YES);
        main_frame_testing::click(pageButton(L"Удалить устройства"));
        for (const std::size_t speaker : chosen) ASSERT_TRUE(rowsOf(speaker).empty()) << speaker;
    }
    /// Each loudspeaker is back in the window as another object than `before`
    /// and answers, and is on the common channel with its own volume.
    void foundAgain(const std::vector<std::size_t>& chosen, const Devices& before) {
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            const std::size_t speaker = chosen[i];
            ASSERT_TRUE(wx_testing::runEventLoopUntil(
                [&] {
                    const Devices found = filed(speaker);
                    return std::any_of(found.begin(), found.end(),
                                       [&](const DevicePtr& d) {
                                           return d != before[i] && d->isOnlineAndAnswered();
                                       }) &&
                           givenBack(speaker);
                },
                20s))
                << speaker << ": " << state(speaker).first << " " << state(speaker).second;
        }
    }

    /// What a loudspeaker never deleted is: one zone entry, one row showing
    /// it answering, chosen by "Выделить все устройства", switched by the
    /// next alarm and given the next service message's volume. `all`: the
    /// answering loudspeakers, `chosen` those deleted and found again.
    void expectWhole(const std::vector<std::size_t>& all, const std::vector<std::size_t>& chosen) {
        for (const std::size_t speaker : chosen) {
            SCOPED_TRACE("loudspeaker " + std::to_string(speaker));
            EXPECT_EQ(filed(speaker).size(), 1u) << "once in the zone tree";
            const std::vector<long> shown = rowsOf(speaker);
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_TRUE(row(shown.front()).device->isOnlineAndAnswered())
                << "the row has the object that answers";
            // The state display takes the state packets in batches: the row
            // follows within a few of them.
            EXPECT_TRUE(wx_testing::runEventLoopUntil(
                [&] { return image(rowsOf(speaker).front()) != frm::icon::kSpeakerOffline; }, 5s))
                << "shown answering";
        }
        for (auto* speaker : speakers) speaker->clearReceived();
        startAlarm(all);
        for (const std::size_t speaker : chosen)
            EXPECT_EQ(requests(speaker, "set ch"), std::set<std::string>{"set ch 1"}) << speaker;
        const frm::DeviceSet selected = frame->getItemDataMap()->getSelectedDevices();
        EXPECT_EQ(selected.size(), all.size());
        for (const std::size_t speaker : chosen) {
            const Devices objects = filed(speaker);
            ASSERT_FALSE(objects.empty());
            EXPECT_EQ(selected.count(boost::dynamic_pointer_cast<device::OrvelInfo>(objects.front())), 1u)
                << speaker << ": the object filed is the one chosen";
        }
        stopAlarm(all);

        for (auto* speaker : speakers) speaker->clearReceived();
        auto playlist = boost::make_shared<Playlist>(L"Служебное", false);
        playlist->add(L"Объявление", base::fromUtf8(message));
        frm::PlayerChannel::instance()->playForSelected(playlist, kMessageVolume);
        std::size_t kept = all.front();
        for (const std::size_t speaker : all)
            if (std::find(chosen.begin(), chosen.end(), speaker) == chosen.end()) kept = speaker;
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [&] {
                if (!frm::PlayerChannel::instance()->isPlaying()) return false;
                for (const std::size_t speaker : all)
                    if (requests(speaker, "set vol").empty()) return false;
                return true;
            },
            20s));
        for (const std::size_t speaker : chosen) {
            EXPECT_EQ(requests(speaker, "set vol"), requests(kept, "set vol"))
                << speaker << ": the message's volume, as a loudspeaker never deleted";
        }
        frm::PlayerChannel::instance()->stop();
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [&] {
                if (frm::PlayerChannel::instance()->isPlaying()) return false;
                for (const std::size_t speaker : all)
                    if (!givenBack(speaker)) return false;
                return true;
            },
            20s));
    }
    /// How often the saved zone file names the loudspeaker (the exit's save).
    std::string savedCount(std::size_t speaker) const {
        return gui_testing::xmllintXpath(
            folder + "zone_collection.xml",
            "count(//hardware_address[text()=\"" + address(201 + static_cast<int>(speaker)) + "\"])");
    }

    testing_support::TempDir files{"deletion"};
    std::string message;
    ui_testing::ScriptedUi answers;
    mp3streamf notices;
    mp3stream common{2000};
    frm::InvokerChannelGui channelGui;
    std::shared_ptr<frm::LoudspeakerLedger> ledger;
    std::unique_ptr<HostWindow> host;
    std::unique_ptr<PlayerEngine> engine;
    device::sim::Simulator simulator{2};
    std::vector<device::sim::SimulatedDevice*> speakers;
};

}  // namespace

// Before, the deleted object came back into "Новые усилители" beside the
// new one: the file named the loudspeaker twice, its row showed the old
// object grey, and the notices chose the old object (the next alarm left the
// loudspeaker out, the next service message muted it at -96 dB).
TEST_F(MainWindowDeletion, ALoudspeakerFoundAgainIsOneLoudspeakerInTheFileTheRowAndTheNotices) {
    begin();
    startAlarm({0, 1, 2});
    const Devices before{device(0)};
    deleteRows({0});
    foundAgain({0}, before);
    stopAlarm({1, 2});
    expectWhole({0, 1, 2}, {0});

    frame->Shutdown();
    EXPECT_TRUE(gui_testing::xmllintAccepts(folder + "zone_collection.xml"));
    EXPECT_EQ(savedCount(0), "1");
    EXPECT_EQ(savedCount(1), "1");

    // The next start reads it once and writes it once.
    dropChannels();
    frame->Destroy();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return !frame; }));
    dropPlayer();
    transport->stop();
    base::ThreadDispatcher::destroy();
    base::ThreadDispatcher::create();
    transport = boost::make_shared<device::TransferProtocol>(0, "");
    start();
    for (std::size_t speaker = 0; speaker < 3; ++speaker)
        speakers[speaker]->startStatePackets(server(), 200ms);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return answering({0, 1, 2}); }, 10s));
    frame->Shutdown();
    EXPECT_EQ(savedCount(0), "1");
}

TEST_F(MainWindowDeletion, ALoudspeakerDeletedTwiceIsOneLoudspeakerAfterEach) {
    begin();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        startAlarm({0, 1, 2});
        const Devices before{device(1)};
        deleteRows({1});
        foundAgain({1}, before);
        stopAlarm({0, 2});
        expectWhole({0, 1, 2}, {1});
    }
    frame->Shutdown();
    EXPECT_EQ(savedCount(1), "1");
}

// One of them answering, the other known from the device list and silent
// since the start (deleted from "Зал", it reports itself later).
TEST_F(MainWindowDeletion, TwoLoudspeakersDeletedTogetherOneOfThemOfflineAreEachOneLoudspeaker) {
    begin(true);
    ASSERT_EQ(filed(3).size(), 1u);
    startAlarm({0, 1, 2});
    const Devices before{device(0), filed(3).front()};
    deleteRows({0, 3});
    speakers[3]->startStatePackets(server(), 200ms);
    foundAgain({0, 3}, before);
    stopAlarm({1, 2});
    expectWhole({0, 1, 2, 3}, {0, 3});
    frame->Shutdown();
    EXPECT_EQ(savedCount(0), "1");
    EXPECT_EQ(savedCount(3), "1");
}

// Silent when deleted, its give-back given up; found again by its state
// packets before it answers, then given back through the new object.
TEST_F(MainWindowDeletion, ALoudspeakerDeletedSilentAndFoundAgainBeforeItsGiveBackIsOneLoudspeaker) {
    begin();
    startAlarm({0, 1, 2});
    const Devices before{device(2)};
    device::sim::ReplyPolicy silent;
    silent.silent = true;
    speakers[2]->setReplyPolicy(silent);
    deleteRows({2});
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [&] {
            const Devices found = filed(2);
            return std::any_of(found.begin(), found.end(),
                               [&](const DevicePtr& d) { return d != before[0]; });
        },
        10s))
        << "found again while it gives no answer";
    EXPECT_EQ(state(2).first, 1u) << "not given back yet";
    speakers[2]->setReplyPolicy(device::sim::ReplyPolicy());
    foundAgain({2}, before);
    stopAlarm({0, 1});
    expectWhole({0, 1, 2}, {2});
    frame->Shutdown();
    EXPECT_EQ(savedCount(2), "1");
}
