// ctest-labels: net
// The device property panel over simulated devices: the page set of each
// kind of device, kept only while the set stays the same; the current page
// across devices; leaving the audio-memory and passkey pages; leaving the
// panel (settings, console monitors); the close button in the main window;
// shutdown and the refusals.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <atomic>
#include <boost/asio/ip/address_v4.hpp>

#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "gui/property_device_panel.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/clipping.h"
#include "tests/gui/main_frame_fixture.h"  // also the log, settings, simulator and wx test support
#include "tests/gui/screenshot.h"
#include "tests/support/test_index.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_zone_model.h"

using namespace std::chrono_literals;
using wx_testing::runEventLoopUntil;

namespace {

// The devices listen on the collection's base port, each at its own address,
// on a network of each test's own: ctest runs the tests side by side.
constexpr std::uint16_t kBasePort = 29990;
std::string ownNetwork() { return "127.29." + std::to_string(testing_support::indexInSuite()) + "."; }
enum Sim { kOrvel510 = 1, kSpeaker17, kSpeaker18, kTwin18, kConsole };

net::HardwareAddress hw(unsigned n) {
    return net::HardwareAddress(device::sim::Simulator::hardwareAddress(n));
}

using Tabs = std::vector<std::wstring>;
/// The tabs every device has, those of its kind, and the debug page.
Tabs tabsWith(std::initializer_list<const wchar_t*> own) {
    Tabs tabs = {L"Общие", L"Аудио память", L"Сеть", L"Зарно"};
    tabs.insert(tabs.end(), own.begin(), own.end());
    tabs.push_back(L"Отладочные сообщения");
    return tabs;
}
const Tabs kLoudspeakerTabs = tabsWith({L"Источники", L"Линия"});
const Tabs kLinkedTabs = tabsWith({L"Источники", L"Линия", L"Связанные консоли"});
const Tabs kConsoleTabs = tabsWith({L"Ключи", L"Зоны трансляции"});

class Panel : public frm::PropertyDevicePanel {
public:
    using frm::fb::PropertyDevicePanel::buttonClose, frm::fb::PropertyDevicePanel::checkBoxLineError,
        frm::fb::PropertyDevicePanel::notebookPref;
    using P = frm::fb::PropertyDevicePanel;
    using frm::PropertyDevicePanel::closeOnButtonClick, frm::PropertyDevicePanel::m_audioControl,
        frm::PropertyDevicePanel::m_passkeyJob;
    using frm::PropertyDevicePanel::PropertyDevicePanel;

    Tabs tabs() const {
        Tabs texts;
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            texts.push_back(notebookPref->GetPageText(i).ToStdWstring());
        return texts;
    }
    /// Lets the panel's worker finish and its outcomes reach the pages.
    void settle() {
        EXPECT_TRUE(runEventLoopUntil([this] { return !working(); }, 20s));
    }
    /// Chooses a page as the operator does, by its tab, and waits for its read.
    void select(const std::wstring& tab) {
        const Tabs shown = tabs();
        const auto found = std::find(shown.begin(), shown.end(), tab);
        ASSERT_NE(found, shown.end());
        notebookPref->SetSelection(static_cast<std::size_t>(found - shown.begin()));
        settle();
    }
    /// Fills every edit field of the pages with the widest value it
    /// accepts: the longest name, full addresses, the highest numbers.
    void fillLongest() {
        const wxString name = L"Громкоговоритель корпуса Б, этаж 3, коридор у лестницы № 12";
        textName->ChangeValue(name.Left(60));
        for (wxTextCtrl* address : {P::textIp, P::textMask, P::textGateway, P::textMulticastIp, P::textAllowIp})
            address->ChangeValue(L"255.255.255.255");
        P::textFreeMemory->ChangeValue(L"4294967295");
        for (wxSpinCtrl* spin : {P::spinBasePort, P::spinZarnoAddress, P::spinTovikPriority})
            spin->SetValue(spin->GetMax());
    }
    void open(const boost::shared_ptr<device::DeviceBase>& device) {
        imbueDevice(device);
        updateData();
        settle();
    }
};

class PropertyPanelTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(files.widePath() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        // The panel's reads hand their results to the GUI thread through it.
        tasks = new wx_testing::TaskWindow;
        GuiThreadInvoker::createInstance(tasks);
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, kBasePort, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();

        const auto add = [this](Sim n,
                                std::unique_ptr<device::sim::Model> model) -> device::sim::SimulatedDevice& {
            return simulator.add(ownNetwork() + std::to_string(n), kBasePort, std::move(model));
        };
        // Loudspeakers that keep their settings and equalizer: the pages read them.
        const auto speaker = [&](Sim n, int index) -> device::sim::SimulatedDevice& {
            auto model = std::make_unique<device::sim::OrvelConfigModel>(
                device::sim::Simulator::hardwareAddress(n), index);
            device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(index),
                                                 *model);
            return add(n, std::move(model));
        };
        speaker(kOrvel510, 8);
        speaker(kSpeaker17, 17);
        device::sim::SimulatedDevice& memorySpeaker = speaker(kSpeaker18, 18);
        store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
        store->plant(memory_test::plantedImage(device::memory::kLayout611, 3, 2000));
        memorySpeaker.withModel<device::sim::CommandModel>([this](device::sim::CommandModel& model) {
            device::sim::AudioMemoryStore::install(store, model);
            return 0;
        });
        speaker(kTwin18, 18);
        console = &add(kConsole, std::make_unique<device::sim::TovikZoneModel>(
                                     device::sim::Simulator::hardwareAddress(kConsole)));
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (std::size_t i = 0; i < simulator.size(); ++i)
            simulator.device(i).startStatePackets(server, 100ms);
        simulator.start();
        ASSERT_TRUE(runEventLoopUntil(
            [this] {
                const auto index = [this](Sim n) {
                    const auto found = collection->searchForOrvel(hw(n));
                    return found ? found->getVersionIndex() : -1;
                };
                return index(kSpeaker17) == 17 && index(kSpeaker18) == 18 && index(kTwin18) == 18 &&
                       index(kOrvel510) >= 0 && device(kConsole) && device(kConsole)->isOnlineAndAnswered();
            },
            10s));
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        runEventLoopUntil([this] { return !frame; });
        collection->stop();
        transport->stop();
        simulator.stop();
        collection.reset();
        wx_testing::closeInvokerAndWindow(tasks);
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }

    boost::shared_ptr<device::DeviceBase> device(Sim n) { return collection->searchFor(hw(n)); }
    Panel* makePanel(bool debugMode) {
        auto* panel = new Panel(frame, collection, nullptr, transport, debugMode);
        frame->Show();
        return panel;
    }
    bool consoleWasAsked(const std::string& request) const {
        for (const auto& datagram : console->received())
            if (datagram.text.rfind(request, 0) == 0) return true;
        return false;
    }

    testing_support::TempDir files{"property-panel"};
    wx_testing::TaskWindow* tasks = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    std::uint32_t nextId = 1;
    device::sim::Simulator simulator{2};
    std::shared_ptr<device::sim::AudioMemoryStore> store;
    device::sim::SimulatedDevice* console = nullptr;
    wxWeakRef<wxFrame> frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));
};

}  // namespace

TEST_F(PropertyPanelTest, EachDeviceGetsThePagesOfItsKindAndTheSameSetIsKept) {
    Panel* withoutDebug = makePanel(false);
    withoutDebug->open(device(kOrvel510));
    EXPECT_EQ(withoutDebug->tabs(), (Tabs{L"Общие", L"Аудио память", L"Сеть", L"Зарно"}));
    withoutDebug->Destroy();

    Panel* panel = makePanel(true);
    EXPECT_EQ(panel->tabs().size(), 10u) << "the layout's pages until a device comes";
    panel->open(device(kOrvel510));
    EXPECT_EQ(panel->tabs(), tabsWith({}));

    // One type code, two firmware generations: the second gets its own set.
    panel->open(device(kSpeaker17));
    EXPECT_EQ(panel->tabs(), kLoudspeakerTabs);
    panel->open(device(kSpeaker18));
    EXPECT_EQ(panel->tabs(), kLinkedTabs);

    // The same set again, from the same device or its twin: nothing is laid
    // out anew and the page stays.
    panel->select(L"Источники");
    EXPECT_EQ(panel->currentPage(), 1027);
    const int layouts = loggedCount("do layout for device type");
    panel->open(device(kSpeaker18));
    panel->open(device(kTwin18));
    EXPECT_EQ(loggedCount("do layout for device type"), layouts);
    EXPECT_EQ(panel->currentPage(), 1027);
    EXPECT_EQ(panel->notebookPref->GetSelection(), 4);

    panel->open(device(kConsole));
    EXPECT_EQ(panel->tabs(), kConsoleTabs);
    EXPECT_EQ(panel->currentPage(), 1000) << "the console has no sources page";

    // Every tab of the set stays after the changes of page.
    for (std::size_t page = 0; page < kConsoleTabs.size(); ++page) {
        panel->notebookPref->SetSelection(page);
        EXPECT_EQ(panel->notebookPref->GetSelection(), static_cast<int>(page));
        EXPECT_EQ(panel->currentPage(), panel->notebookPref->GetPage(page)->GetId());
    }
    EXPECT_EQ(panel->tabs(), kConsoleTabs);

    // From the console's keys to a loudspeaker: the first page, and the
    // notebook's own page changes during the layout leave no page.
    panel->select(L"Ключи");
    EXPECT_EQ(panel->currentPage(), 1029);
    const int leaves = loggedCount("frm::PropertyDevicePanel::leaveTab");
    const int skipped = loggedCount("skip tab changing");
    panel->open(device(kSpeaker17));
    EXPECT_EQ(panel->tabs(), kLoudspeakerTabs);
    EXPECT_EQ(panel->notebookPref->GetSelection(), 0);
    EXPECT_EQ(panel->currentPage(), 1000);
    EXPECT_TRUE(logged("change tab to default"));
    EXPECT_GT(loggedCount("skip tab changing"), skipped);
    EXPECT_EQ(loggedCount("frm::PropertyDevicePanel::leaveTab"), leaves);
}

TEST_F(PropertyPanelTest, LeavingAPageEndsWhatItStartedEvenWithASilentDevice) {
    Panel* panel = makePanel(true);
    panel->setCallbacks([] {}, [] {});  // a silent device closes the panel
    panel->open(device(kSpeaker18));
    panel->select(L"Аудио память");
    panel->m_audioControl = device(kSpeaker18)->getAudioControl(false, true);
    panel->m_audioControl->removeFragment(10);
    ASSERT_TRUE(panel->m_audioControl->hasChanges());
    panel->select(L"Сеть");
    EXPECT_FALSE(panel->m_audioControl->hasChanges()) << "the memory is read again";
    EXPECT_EQ(panel->m_audioControl->getFragments().size(), 3u);

    // A device that stops answering does not keep the operator on the page.
    panel->select(L"Аудио память");
    panel->m_audioControl->removeFragment(10);
    simulator.device(kSpeaker18 - 1).setReplyPolicy({0, true});
    const int warnings = loggedCount("", "WARN");
    panel->select(L"Общие");
    EXPECT_EQ(panel->currentPage(), 1000);
    EXPECT_GT(loggedCount("", "WARN"), warnings);
    simulator.device(kSpeaker18 - 1).setReplyPolicy({});

    // A console that listens for a new key stops listening.
    panel->open(device(kConsole));
    panel->select(L"Ключи");
    boost::dynamic_pointer_cast<device::TovikInfo>(device(kConsole))->addPasskey();
    panel->m_passkeyJob = base::ThreadDispatcher::add(L"passkey poll", 60000, [] {});
    panel->select(L"Общие");
    EXPECT_TRUE(consoleWasAsked("passkeyFinish"));
    EXPECT_EQ(panel->m_passkeyJob.load(), 0u);
}

TEST_F(PropertyPanelTest, LeavingThePanelKeepsTheLineErrorChoiceAndStopsTheMonitors) {
    Panel* panel = makePanel(true);
    const auto speaker = device(kSpeaker17);
    panel->open(speaker);
    std::atomic<int> seen{0};
    transport->setConsoleMonitor(speaker->getIp(), [&seen](const std::string&, bool) { ++seen; });
    ASSERT_TRUE(speaker->request("get vol", nullptr, false));
    EXPECT_GT(seen.load(), 0);

    panel->checkBoxLineError->SetValue(true);
    panel->killFocus();
    EXPECT_TRUE(pref::getBool("debug.requestLineError", false));
    seen = 0;
    EXPECT_TRUE(speaker->request("get vol", nullptr, false)) << "the device still answers";
    EXPECT_EQ(seen.load(), 0);

    // Without a device nothing is laid out or read; after shutdown neither.
    panel->updateData();
    panel->shutdown();
    const int updates = loggedCount("update data, current tab");
    panel->open(device(kConsole));
    EXPECT_EQ(loggedCount("update data, current tab"), updates);
    EXPECT_EQ(panel->tabs(), kLoudspeakerTabs);
}

TEST_F(PropertyPanelTest, RefusalsAndTheCloseCallback) {
    Panel* panel = makePanel(false);
    EXPECT_THROW(panel->imbueDevice(nullptr), exception::InternalError);
    EXPECT_TRUE(logged("Проверяемое условие неверно! Место 'frm::PropertyDevicePanel::imbueDevice'"));
    wxCommandEvent click(wxEVT_BUTTON);
    try {
        panel->closeOnButtonClick(click);
        ADD_FAILURE() << "closed without a callback";
    } catch (const exception::InternalError& e) {
        EXPECT_EQ(e.getDetails(), L"Не установлен обработчки закрытия панели");
    }

    int closed = 0;
    panel->setCallbacks([&closed] { ++closed; }, {});
    panel->open(device(kSpeaker17));
    panel->closeOnButtonClick(click);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(logged("frm::PropertyDevicePanel::killFocus")) << "the panel is left first";
    panel->setCallbacks({}, {});
    EXPECT_THROW(panel->closeOnButtonClick(click), std::bad_function_call);
}

namespace {
using MainWindowProperty = main_frame_testing::MainWindow;
}

TEST_F(MainWindowProperty, CloseShowsTheZonePanelAgain) {
    start();
    auto* panel = dynamic_cast<frm::PropertyDevicePanel*>(frame->contentPanel->GetChildren()[8]);
    ASSERT_NE(panel, nullptr);
    frame->displayMainView(panel);
    EXPECT_EQ(frame->shown(), std::vector<std::size_t>{8});
    wxWindow* close = nullptr;
    for (wxWindow* child : panel->GetChildren().back()->GetChildren())
        if (child->GetLabel() == L"&Закрыть") close = child;
    ASSERT_NE(close, nullptr);
    main_frame_testing::click(static_cast<wxControl*>(close));
    EXPECT_EQ(frame->shown(), std::vector<std::size_t>{0});
}

// Every field holds the widest value it accepts while its page is checked.
TEST_F(PropertyPanelTest, EveryPageShowsItsTextsWholeAtTheMainWindowsSizes) {
    // A line-control module, so that the loudspeaker's "Линия" page has its rows.
    simulator.device(kSpeaker18 - 1).withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
        device::sim::LineControlStore::install(std::make_shared<device::sim::LineControlStore>(), model);
        return 0;
    });
    Panel* panel = makePanel(false);
    panel->setCallbacks([] {}, [] {});
    // The room the main window gives the panel at its smallest, default and
    // full-screen sizes.
    struct Size {
        int width, height;
        const char* name;
    };
    const Size sizes[] = {{827, 532, "1060x600"}, {827, 632, "1060x700"}, {1047, 956, "1280x1024"}};
    for (const auto& [kind, sim] : {std::pair{"loudspeaker", kSpeaker18}, {"console", kConsole}}) {
        panel->open(device(sim));
        for (const Size& size : sizes) {
            frame->SetClientSize(size.width, size.height);
            for (const std::wstring& tab : panel->tabs()) {
                if (tab == L"Связанные консоли") continue;  // the simulated loudspeaker has none to list
                panel->select(tab);
                panel->fillLongest();
                runEventLoopUntil([] { return false; }, 200ms);
                const std::string page = std::string(kind) + "_" + size.name + "_" +
                                         std::to_string(panel->notebookPref->GetSelection());
                SCOPED_TRACE(page);
                // The page chosen and the buttons under the notebook.
                std::vector<std::string> clipped = wx_testing::clippedTexts(panel->notebookPref->GetCurrentPage());
                for (const std::string& text : wx_testing::clippedTexts(panel->GetChildren().back()))
                    clipped.push_back(text);
                std::string all;
                for (const std::string& text : clipped) all += text + "; ";
                EXPECT_TRUE(clipped.empty()) << all;
                if (size.width == 827 && size.height == 532) {
                    EXPECT_FALSE(wx_testing::writeShot(frame, "property_panel_" + page).empty());
                }
            }
        }
    }
}
