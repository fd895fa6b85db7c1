// ctest-labels: net
// The zone page over a real device collection and simulated devices (an
// Orvel-610, an Orvel-510, a console, and a loudspeaker that never reports):
// rows of the toggled zones, the selection kept across rebuilds, the state
// display of a loudspeaker and of a console, volume and sound on the
// selection, renames and moves, deletion from every zone, administrator
// mode, the device search, and a window that never waits for a silent
// loudspeaker. The collection's state handler calls refreshDevices from its
// own thread throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/make_shared.hpp>
#include <chrono>
#include <thread>

#include "audio/loudspeaker_ledger.h"
#include "audio/orvel_link.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/icons.h"
#include "gui/item_data_map.h"
#include "gui/zone_element_panel.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"

using namespace std::chrono_literals;

namespace {

using DevicePtr = frm::ZoneElementPanel::DevicePtr;
using Devices = std::vector<DevicePtr>;
const std::wstring kCaption = L"Сообщение";
// The collection's port for devices it knows only from its list: the quiet
// loudspeaker listens there.
constexpr std::uint16_t kQuietPort = 15990;

/// The panel with its layout's controls in reach.
class Panel : public frm::ZoneElementPanel {
public:
    using frm::fb::ZoneElementPanel::access, frm::fb::ZoneElementPanel::apply,
        frm::fb::ZoneElementPanel::deleteDevices, frm::fb::ZoneElementPanel::firmware,
        frm::fb::ZoneElementPanel::firmwareLabel, frm::fb::ZoneElementPanel::hardwareAddress,
        frm::fb::ZoneElementPanel::ipAddress, frm::fb::ZoneElementPanel::line1,
        frm::fb::ZoneElementPanel::microphone, frm::fb::ZoneElementPanel::mute,
        frm::fb::ZoneElementPanel::playback, frm::fb::ZoneElementPanel::power1,
        frm::fb::ZoneElementPanel::searchDevices, frm::fb::ZoneElementPanel::title,
        frm::fb::ZoneElementPanel::volumeHint, frm::fb::ZoneElementPanel::volumePanel,
        frm::fb::ZoneElementPanel::volumeSlider, frm::fb::ZoneElementPanel::zone;
    using ZoneElementPanel::ZoneElementPanel;
};

void send(wxWindow* control, wxEvent& event) {
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

void click(wxWindow* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    send(button, event);
}

/// The values of the information area that their fields cut (the name
/// while it is edited scrolls instead).
std::vector<std::wstring> cutValues(wxWindow* area, wxWindow* editedTitle) {
    std::vector<std::wstring> cut;
    for (wxWindow* control : area->GetChildren()) {
        auto* field = dynamic_cast<wxTextCtrl*>(control);
        if (field == nullptr || field == editedTitle || !field->IsShown()) continue;
        const int needed = field->GetSizeFromTextSize(field->GetTextExtent(field->GetValue()).x).x;
        if (field->GetSize().x < needed) cut.push_back(field->GetValue().ToStdWstring());
    }
    return cut;
}

bool sameImage(const wxBitmap& a, const wxBitmap& b) {
    const wxImage left = a.ConvertToImage(), right = b.ConvertToImage();
    return left.GetSize() == right.GetSize() &&
           std::equal(left.GetData(), left.GetData() + left.GetWidth() * left.GetHeight() * 3,
                      right.GetData());
}

class ZonePanel : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        window->SetClientSize(827, 640);  // the page at the main window's minimum size
        GuiThreadInvoker::createInstance(window);
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        collection = device::DeviceCollection::create(transport, kQuietPort);
        collection->setNewDeviceHandler(
            [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
        collection->setStateChangedHandler([this](DevicePtr device) {
            if (Panel* shown = panel.load()) shown->refreshDevices(device);
        });
        transport->run();

        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        const auto speaker = [this](const char* at, int n, int index) -> device::sim::SimulatedDevice& {
            return simulator.add(at, 0, std::make_unique<device::sim::OrvelBandModel>(address(n), index));
        };
        devices = {&speaker("127.0.1.1", 1, 18), &speaker("127.0.1.2", 2, 4),
                   &simulator.addTovik("127.0.1.3", 0, address(3))};
        for (device::sim::SimulatedDevice* device : devices)
            device->startStatePackets(server, 200ms);  // not E
        devices.push_back(&simulator.add("127.0.5.1", kQuietPort,
                                         std::make_unique<device::sim::OrvelBandModel>(address(5), 18)));
        simulator.start();
        e = collection->addDevice(++ids, L"Orvel-610", net::HardwareAddress(address(5)),
                                  net::Ip4Address("127.0.5.1"), L"Молчащий");
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                for (int n = 1; n <= 3; ++n) {
                    const DevicePtr found = collection->searchFor(net::HardwareAddress(address(n)));
                    if (!found || !found->isOnlineAndAnswered()) return false;
                }
                return true;
            },
            10s));
        a = collection->searchFor(net::HardwareAddress(address(1)));
        b = collection->searchFor(net::HardwareAddress(address(2)));
        c = collection->searchFor(net::HardwareAddress(address(3)));

        // Зал {A, C} with Сцена {E} below it, Склад {B, A}.
        root = frm::ZoneElement::createDetached(L"Все зоны");
        hall = frm::ZoneElement::createDetached(L"Зал");
        stage = frm::ZoneElement::createDetached(L"Сцена");
        store = frm::ZoneElement::createDetached(L"Склад");
        for (const auto& [parent, child] : {std::pair{root, hall}, {hall, stage}, {root, store}})
            parent->addElement(child);
        for (const auto& [zone, device] : {std::pair{hall, a}, {hall, c}, {stage, e}, {store, b}, {store, a}})
            zone->addElement(device);
        panel = new Panel(window, root, collection);
        registry = std::make_unique<frm::ItemDataMap>(panel.load()->deviceList, root);
        panel.load()->setItemDataMap(registry.get());
        panel.load()->setIsUsedDevice([](const DevicePtr&) { return false; });
        window->Show();
    }
    void TearDown() override {
        simulator.stop();
        transport->stop();
        base::ThreadDispatcher::destroy();
        collection->stop();
        panel = nullptr;
        GuiThreadInvoker::destroyInstance();
        window->Destroy();
        wx_testing::runEventLoopFor(50ms);
        CountingLogFixture::TearDown();
    }

    static std::string address(int n) { return device::sim::Simulator::hardwareAddress(n); }
    Panel& p() { return *panel.load(); }

    /// Exactly these zones toggled (with their sub-zones), rows rebuilt.
    void toggle(const std::vector<frm::ZoneElement::Ptr>& zones) {
        root->setChecked(false);
        for (const auto& zone : zones) zone->setChecked(true);
        p().updateCurrentZone();
    }
    void showAll() { toggle({root}); }
    frm::DeviceRowData& row(long index) {
        return *reinterpret_cast<frm::DeviceRowData*>(p().deviceList->GetItemData(index));
    }
    long rowOf(const DevicePtr& device) {
        for (long i = 0; i < p().deviceList->GetItemCount(); ++i)
            if (row(i).device == device) return i;
        return -1;
    }
    /// The rows' devices (the selected ones only) in row order.
    Devices shown(bool selectedOnly = false) {
        Devices rows;
        for (long i = 0; i < p().deviceList->GetItemCount(); ++i)
            if (!selectedOnly || p().deviceList->GetItemState(i, wxLIST_STATE_SELECTED) != 0)
                rows.push_back(row(i).device);
        return rows;
    }
    /// Selects these rows and no other, as clicks would.
    void select(const Devices& chosen) {
        for (long i = 0; i < p().deviceList->GetItemCount(); ++i) {
            const bool on = std::find(chosen.begin(), chosen.end(), row(i).device) != chosen.end();
            p().deviceList->SetItemState(i, on ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
        }
    }
    int image(const DevicePtr& device) {
        wxListItem item;
        item.SetId(rowOf(device));
        item.SetMask(wxLIST_MASK_IMAGE);
        p().deviceList->GetItem(item);
        return item.GetImage();
    }
    /// What the simulated device (A, B, C, E) was asked that starts so.
    std::vector<std::string> requests(std::size_t device, const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& datagram : devices[device]->received())
            if (datagram.text.rfind(prefix, 0) == 0)
                found.push_back(datagram.text.substr(0, datagram.text.find('\n')));
        return found;
    }
    /// Loudspeaker A (an Orvel-610) as the simulator has it: channel, volume.
    std::pair<unsigned, std::string> stateOfA() {
        std::pair<unsigned, std::string> now;
        devices[0]->withModel<device::sim::OrvelBandModel>([&](device::sim::OrvelBandModel& m) {
            now = {m.channel, m.volume};
            return 0;
        });
        return now;
    }
    /// The program's ledger, an alarm holding A on its channel at 100 %.
    std::shared_ptr<frm::LoudspeakerLedger> alarmOnA() {
        auto ledger = std::make_shared<frm::LoudspeakerLedger>(std::make_shared<frm::OrvelLink>());
        frm::LoudspeakerLedger::setInstance(ledger);
        const frm::Wish alarm{device::CHANNEL_NOTICE_HIGH, 100, std::nullopt};
        EXPECT_TRUE(ledger->hold(frm::Holder::kAlarm, {{loudspeaker(a), alarm}}).wait(5s));
        EXPECT_EQ(stateOfA(), std::make_pair(1u, std::string("0")));
        return ledger;
    }
    static boost::shared_ptr<device::OrvelInfo> loudspeaker(const DevicePtr& device) {
        return boost::dynamic_pointer_cast<device::OrvelInfo>(device);
    }
    void moveSlider(int value) {
        p().volumeSlider->SetValue(value);
        wxScrollEvent event(wxEVT_SCROLL_CHANGED, p().volumeSlider->GetId(), value);
        send(p().volumeSlider, event);
    }

    wx_testing::TaskWindow* window = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    std::atomic<std::uint32_t> ids{0};
    device::sim::Simulator simulator{2};
    std::vector<device::sim::SimulatedDevice*> devices;  // A, B, C, E
    DevicePtr a, b, c, e;
    frm::ZoneElement::Ptr root, hall, stage, store;
    std::atomic<Panel*> panel{nullptr};
    std::unique_ptr<frm::ItemDataMap> registry;
};

}  // namespace

TEST_F(ZonePanel, RowsShowTheToggledZonesOnceAndKeepTheSelectionByAddress) {
    showAll();
    EXPECT_EQ(shown(), (Devices{a, c, e, b}));  // A once, under Зал
    EXPECT_EQ(row(0).zone, hall);
    EXPECT_TRUE(logged("skip inclusion device '" + address(1) + "' to zone 'Склад'"));

    toggle({stage, store});  // a sub-zone is visited below a zone that is off
    EXPECT_EQ(shown(), (Devices{e, b, a}));
    EXPECT_EQ(row(2).zone, store);

    select({b, a});
    toggle({store});
    EXPECT_EQ(shown(), (Devices{b, a}));
    EXPECT_EQ(shown(true), (Devices{b, a}));
    toggle({hall});
    EXPECT_EQ(shown(true), (Devices{a}));
    showAll();
    EXPECT_EQ(shown(true), (Devices{a}));
    std::size_t seen = 0;
    std::thread([&] { seen = registry->getSelectedDevices().size(); }).join();
    EXPECT_EQ(seen, 1u) << "the snapshot follows the rebuild";
}

TEST_F(ZonePanel, ALoudspeakerAndAConsoleShowTheirStateInBothModes) {
    showAll();
    for (const bool administrator : {false, true}) {
        // As the main window switches the mode.
        p().enableAdministratorMode(administrator);
        p().lockAdmin->SetLabel(administrator ? L"Выход из настроек" : L"Настройки");
        p().generalProperty->Show(administrator);
        p().deviceProperty->Show(administrator);
        p().Layout();
        for (wxWindow* adminRow :
             {static_cast<wxWindow*>(p().firmware), static_cast<wxWindow*>(p().firmwareLabel),
              static_cast<wxWindow*>(p().hardwareAddress), static_cast<wxWindow*>(p().ipAddress)})
            EXPECT_EQ(adminRow->IsShown(), administrator);
        EXPECT_EQ(p().deleteDevices->IsEnabled(), administrator);
        EXPECT_FALSE(p().apply->IsEnabled());
        select({a});
        // The volume comes from a read on a dispatcher job.
        ASSERT_TRUE(wx_testing::runEventLoopUntil([this] {
            return p().hardwareAddress->GetValue() == address(1) && p().volumeSlider->GetValue() == 50;
        }));
        EXPECT_FALSE(p().playback->GetValue().empty());
        EXPECT_EQ(p().hardwareAddress->GetValue(), address(1));
        EXPECT_EQ(p().ipAddress->GetValue(), L"127.0.1.1:" + std::to_wstring(devices[0]->endpoint().port()));
        EXPECT_EQ(p().title->GetValue(), a->getTitle());
        EXPECT_EQ(p().title->IsEnabled(), administrator);
        ASSERT_EQ(p().zone->GetCount(), 3u);  // Зал, Сцена, Склад: depth first
        EXPECT_EQ(p().zone->GetString(1), L"Сцена");
        EXPECT_EQ(p().zone->GetValue(), L"Зал");
        EXPECT_EQ(p().volumeHint->GetLabel(), L"Громкость: " + a->getTitle());
        EXPECT_TRUE(p().volumePanel->IsEnabled());
        EXPECT_TRUE(p().line1->IsEnabled());
        EXPECT_FALSE(p().microphone->IsEnabled());
        EXPECT_TRUE(p().deviceProperty->IsEnabled());
        const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(a);
        EXPECT_EQ(image(a), frm::loudspeakerIcon(loudspeaker->getState(), true, true));
        // At the page's smallest width the firmware version, and the name
        // the operator cannot edit, are shown whole.
        EXPECT_EQ(cutValues(p().title->GetParent(), administrator ? p().title : nullptr),
                  std::vector<std::wstring>{});
        wx_testing::writeShot(
            window, administrator ? "zone_panel_loudspeaker_administrator" : "zone_panel_loudspeaker");

        select({c});
        ASSERT_TRUE(
            wx_testing::runEventLoopUntil([this] { return p().hardwareAddress->GetValue() == address(3); }));
        EXPECT_TRUE(p().microphone->IsEnabled());
        EXPECT_TRUE(p().access->IsEnabled());
        EXPECT_FALSE(p().line1->IsEnabled());
        EXPECT_FALSE(p().power1->GetValue().empty());
        EXPECT_FALSE(p().volumePanel->IsEnabled()) << "a console has no volume";
        const auto console = boost::dynamic_pointer_cast<device::TovikInfo>(c);
        EXPECT_EQ(image(c), frm::consoleIcon(console->getState(), true, true));
        wx_testing::writeShot(window,
                              administrator ? "zone_panel_console_administrator" : "zone_panel_console");
    }
}

TEST_F(ZonePanel, VolumeAndSoundReachTheAnsweringLoudspeakersOfTheSelection) {
    showAll();
    select({a, b, e, c});
    for (auto* device : devices) device->clearReceived();
    moveSlider(40);
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return requests(0, "set vol").size() == 1 && requests(1, "set vol").size() == 1; }));
    wx_testing::runEventLoopFor(300ms);
    EXPECT_EQ(requests(0, "set vol"), std::vector<std::string>{"set vol -18"});
    EXPECT_EQ(requests(1, "set vol"), std::vector<std::string>{"set vol 24:24"});
    EXPECT_TRUE(requests(3, "").empty()) << "the loudspeaker that never reported";
    EXPECT_EQ(p().volumeSlider->GetToolTipText(), L"Громкость: 40%");
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return sameImage(p().mute->GetBitmapLabel(), loadSvgBitmap(6)); }));

    click(p().mute);  // sound off
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return sameImage(p().mute->GetBitmapLabel(), loadSvgBitmap(7)); }));
    EXPECT_EQ(requests(0, "set vol").back(), "set vol -96");
    EXPECT_EQ(requests(1, "set vol").back(), "set vol FE:FE");
    EXPECT_FALSE(a->isVolumeEnabled());
    click(p().mute);  // on again: the volume before
    ASSERT_TRUE(
        wx_testing::runEventLoopUntil([this] { return a->isVolumeEnabled() && b->isVolumeEnabled(); }));
    EXPECT_EQ(requests(0, "set vol").back(), "set vol -18");
}

TEST_F(ZonePanel, ApplyRenamesOneDeviceAndMovesTheSelection) {
    ui_testing::ScriptedUi answers;
    showAll();
    answers.expect(kCaption, wxID_OK);
    click(p().apply);
    EXPECT_EQ(answers.shown().back().text, L"Нет выделенных устройств");

    p().enableAdministratorMode(true);
    select({a});
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return p().title->GetValue() == a->getTitle(); }));
    p().title->ChangeValue(L"Сцена слева");
    wxKeyEvent key(wxEVT_CHAR);
    send(p().title, key);
    p().zone->SetSelection(p().zone->FindString(L"Сцена"));
    wxCommandEvent choice(wxEVT_COMBOBOX, p().zone->GetId());
    send(p().zone, choice);
    EXPECT_TRUE(p().apply->IsEnabled());
    // A state refresh of the device keeps the edit that waits to be applied.
    std::thread([this] { p().refreshDevices(a); }).join();
    wx_testing::runEventLoopFor(300ms);
    EXPECT_EQ(p().title->GetValue(), L"Сцена слева");
    EXPECT_EQ(p().zone->GetValue(), L"Сцена");

    click(p().apply);
    EXPECT_FALSE(p().apply->IsEnabled()) << "applied: nothing left to apply";
    EXPECT_EQ(a->getTitle(), L"Сцена слева");
    EXPECT_EQ(p().deviceList->GetItemText(rowOf(a)), L"Сцена слева");
    EXPECT_EQ(hall->getDevices(), (Devices{c}));
    EXPECT_EQ(stage->getDevices(), (Devices{e, a}));
    EXPECT_EQ(store->getDevices(), (Devices{b, a})) << "moved from the row's zone only";

    const std::wstring titleB = b->getTitle();
    select({b, c});
    p().zone->SetSelection(p().zone->FindString(L"Зал"));
    click(p().apply);
    EXPECT_EQ(b->getTitle(), titleB);
    EXPECT_EQ(hall->getDevices(), (Devices{c, b}));
    EXPECT_EQ(store->getDevices(), (Devices{a}));

    // Moved out of the zones shown: nothing selected, nothing to apply.
    toggle({hall});
    select({c});
    p().zone->SetSelection(p().zone->FindString(L"Склад"));
    send(p().zone, choice);
    ASSERT_TRUE(p().apply->IsEnabled());
    click(p().apply);
    EXPECT_EQ(store->getDevices(), (Devices{a, c}));
    EXPECT_TRUE(shown(true).empty());
    EXPECT_FALSE(p().apply->IsEnabled());
}

TEST_F(ZonePanel, DeleteKeepsScheduledDevicesAndTakesTheOthersFromEveryZone) {
    ui_testing::ScriptedUi answers;
    showAll();
    p().enableAdministratorMode(true);
    answers.expect(kCaption, wxID_OK);
    click(p().deleteDevices);
    EXPECT_EQ(answers.shown().back().text, L"Нет выделенных устройств");

    p().setIsUsedDevice([this](const DevicePtr& device) { return device == b; });
    select({a, b});
    answers.expect(kCaption, wxID_NO);
    click(p().deleteDevices);
    EXPECT_EQ(answers.shown().back().text, L"Удалить устройства? (2 шт)");
    EXPECT_EQ(shown().size(), 4u);

    answers.expect(kCaption, wxID_YES).expect(kCaption, wxID_OK);
    click(p().deleteDevices);
    EXPECT_EQ(answers.shown().back().text,
              L"Устройства удалить не удалось:\n\"" + b->getTitle() + L"\"\nт.к. используются в расписании");
    EXPECT_EQ(hall->getDevices(), (Devices{c}));
    EXPECT_EQ(store->getDevices(), (Devices{b})) << "no stale copy in the other zone";
    EXPECT_NE(collection->searchFor(a->getHardwareAddress()), a);
    EXPECT_TRUE(collection->searchFor(b->getHardwareAddress()));
    EXPECT_EQ(shown(), (Devices{c, e, b}));
}

// The slider and the sound button on a loudspeaker an alarm holds at its
// volume leave the alarm's volume while it sounds and show the operator's
// value; that value is what the loudspeaker gets back at the alarm's end.
// The other loudspeakers of the selection take it at once, as before.
// Before, the slider dropped the sounding alarm to the operator's volume,
// and the operator's value was lost at the stop.
TEST_F(ZonePanel, TheVolumeControlsOnALoudspeakerAnAlarmHoldsTakeEffectAtItsEnd) {
    const auto ledger = alarmOnA();
    showAll();
    select({a, b});
    for (auto* device : devices) device->clearReceived();
    moveSlider(40);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return requests(1, "set vol").size() == 1; }));
    EXPECT_EQ(requests(1, "set vol"), std::vector<std::string>{"set vol 24:24"});
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return sameImage(p().mute->GetBitmapLabel(), loadSvgBitmap(6)); }));
    select({a});
    wx_testing::runEventLoopFor(1000ms);  // the reads of the new selection are in
    EXPECT_EQ(p().volumeSlider->GetValue(), 40) << "what it gets back, not the alarm's";
    EXPECT_TRUE(sameImage(p().mute->GetBitmapLabel(), loadSvgBitmap(6)));
    click(p().mute);  // sound off, at the end
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return sameImage(p().mute->GetBitmapLabel(), loadSvgBitmap(7)); }));
    EXPECT_TRUE(requests(0, "set vol").empty()) << "the alarm's volume stands";
    EXPECT_EQ(stateOfA(), std::make_pair(1u, std::string("0")));

    ASSERT_TRUE(ledger->releaseAll(frm::Holder::kAlarm).wait(5s));
    EXPECT_EQ(stateOfA(), std::make_pair(0u, std::string("-96")));
    EXPECT_FALSE(a->isVolumeEnabled());
    click(p().mute);  // on again: the operator's volume
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return stateOfA().second == "-18"; }));
    EXPECT_EQ(ledger->size(), 0u);
    frm::LoudspeakerLedger::setInstance(nullptr);
}

// A loudspeaker deleted while an alarm holds it goes back to the common
// channel and its own volume, the window not waiting for it, and the alarm
// holds it no more. Before, it stayed on the alarm's channel at the alarm's
// volume.
TEST_F(ZonePanel, ALoudspeakerDeletedWhileAnAlarmHoldsItIsGivenBack) {
    ui_testing::ScriptedUi answers;
    const auto ledger = alarmOnA();
    showAll();
    p().enableAdministratorMode(true);
    select({a});
    answers.expect(kCaption, wxID_YES);
    click(p().deleteDevices);
    EXPECT_EQ(collection->searchFor(a->getHardwareAddress()), DevicePtr()) << "gone at once";
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return stateOfA() == std::make_pair(0u, std::string("-15")); }));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return ledger->size() == 0; }));
    devices[0]->clearReceived();
    const frm::Wish alarm{device::CHANNEL_NOTICE_HIGH, 100, std::nullopt};
    EXPECT_TRUE(ledger->hold(frm::Holder::kAlarm, {{loudspeaker(a), alarm}}).settled())
        << "the gong's re-hold";
    wx_testing::runEventLoopFor(300ms);
    EXPECT_TRUE(requests(0, "set").empty());
    frm::LoudspeakerLedger::setInstance(nullptr);
}

// One that gives no answer when it is deleted is given back through the
// object the collection makes when its state packets find it again: with its
// own volume, not the alarm's that the new object reads from it. Before,
// once found again, the alarm's volume became its own for good.
TEST_F(ZonePanel, ALoudspeakerDeletedSilentIsGivenBackOnceFoundAgain) {
    ui_testing::ScriptedUi answers;
    const auto ledger = alarmOnA();
    showAll();
    p().enableAdministratorMode(true);
    select({a});
    device::sim::ReplyPolicy silent;
    silent.silent = true;
    devices[0]->setReplyPolicy(silent);
    answers.expect(kCaption, wxID_YES);
    click(p().deleteDevices);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] {
        const DevicePtr again = collection->searchFor(a->getHardwareAddress());
        return again && again != a;
    }));
    wx_testing::runEventLoopFor(2500ms);  // its give-back given up
    EXPECT_EQ(stateOfA(), std::make_pair(1u, std::string("0")));
    devices[0]->setReplyPolicy(device::sim::ReplyPolicy());
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return stateOfA() == std::make_pair(0u, std::string("-15")); }, 20s));
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return ledger->size() == 0; }));
    frm::LoudspeakerLedger::setInstance(nullptr);
}

TEST_F(ZonePanel, TheSearchWithoutAnInterfaceAddressIsReported) {
    click(p().searchDevices);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] {
        const auto notices = observedAt(L"NOTICE");
        return std::find(notices.begin(), notices.end(), L"Не удалось запустить поиск устройств") !=
               notices.end();
    }));
}

TEST_F(ZonePanel, ASilentLoudspeakerNeverHoldsTheWindow) {
    showAll();
    select({a});
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return p().volumeSlider->GetValue() == 50; }));
    // A state change from a worker reaches the details on the GUI thread.
    std::thread([this] {
        a->setTitle(L"Громкоговоритель у входа");
        p().refreshDevices(a);
    }).join();
    ASSERT_TRUE(wx_testing::runEventLoopUntil(
        [this] { return p().deviceList->GetItemText(0) == L"Громкоговоритель у входа"; }));
    const wxString playback = p().playback->GetValue();

    wx_testing::runEventLoopFor(300ms);  // the reads of that refresh are done

    device::sim::ReplyPolicy silent;
    silent.silent = true;
    devices[0]->setReplyPolicy(silent);
    moveSlider(30);
    click(p().mute);
    devices[0]->withModel<device::sim::OrvelBandModel>([](device::sim::OrvelBandModel& model) {
        model.fields[0] = 40;  // the battery drops: a refresh, and its reads wait in vain
    });

    auto worst = 0ms;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < end) {
        const auto posted = std::chrono::steady_clock::now();
        bool ran = false;
        wxTheApp->CallAfter([&] {
            ran = true;
            worst = std::max(worst, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - posted));
        });
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return ran; }, 2s));
        wx_testing::runEventLoopFor(20ms);
    }
    EXPECT_LT(worst, 100ms);
    EXPECT_GT(requests(0, "set vol").size(), 0u) << "the slider did act on it";
    EXPECT_EQ(p().volumeSlider->GetValue(), 30);
    EXPECT_EQ(p().playback->GetValue(), playback);
    EXPECT_EQ(p().hardwareAddress->GetValue(), address(1));
    // Still sending state packets, no longer answering.
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] {
        return image(a) == frm::icon::kSpeakerIncoming || image(a) == frm::icon::kSpeakerIncoming + 1;
    }));
}

TEST_F(ZonePanel, ARunOfRefreshesReadsTheShownVolumeOnceAndAHiddenPageNothing) {
    p().setReadSettle(150ms);
    showAll();
    select({a});
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return p().volumeSlider->GetValue() == 50; }));
    wx_testing::runEventLoopFor(300ms);
    const auto reads = [this] { return requests(0, "get vol").size(); };
    const std::size_t before = reads();

    // A change of the playing title as the page meets it: the engine's
    // titles through the invoker and the loudspeaker's state from the
    // collection's thread, a few milliseconds apart while the page goes on.
    const auto titleChange = [this] {
        std::atomic<bool> done{false};
        std::thread poster([this, &done] {
            for (int i = 0; i < 6; ++i) {
                GuiThreadInvoker::add([this] { p().refreshDevices(); });
                p().refreshDevices(a);
                std::this_thread::sleep_for(20ms);
            }
            done = true;
        });
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&done] { return done.load(); }));
        poster.join();
        wx_testing::runEventLoopFor(400ms);
    };
    titleChange();
    EXPECT_EQ(reads() - before, 1u);

    p().Hide();
    titleChange();
    EXPECT_EQ(reads() - before, 1u) << "a hidden page reads nothing";
    p().Show();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return reads() - before == 2u; }))
        << "shown again, it reads what it shows";
    wx_testing::runEventLoopFor(300ms);
    EXPECT_EQ(reads() - before, 2u);
}

using MainWindowZones = main_frame_testing::MainWindow;

TEST_F(MainWindowZones, AZoneToggleKeepsTheSelectionByAddress) {
    using main_frame_testing::zoneXml;
    writeStores({1, 2}, zoneXml("Зал", {1, 2}) + zoneXml("Склад", {2}));
    start();
    frm::IconGrid* list = frame->zonePanel()->deviceList;
    ASSERT_EQ(list->GetItemCount(), 2);
    list->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    main_frame_testing::click(frame->zone(2)->getButton());  // Склад: the selected device alone
    ASSERT_EQ(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetSelectedItemCount(), 1);
    main_frame_testing::click(frame->allZones);
    ASSERT_EQ(list->GetItemCount(), 2);
    EXPECT_EQ(list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 1);
}
