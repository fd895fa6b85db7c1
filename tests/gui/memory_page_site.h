#pragma once
// The property panel over simulated devices for the tests of the
// audio-memory page and the immediate controls: the panel with its page
// fill done as the page fill does it, and a collection that has found the
// test's loudspeakers and console. Each test program puts its devices on a
// loopback network of its own and each test on a subnet of it (ctest runs
// tests side by side).
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <functional>
#include <string>
#include <vector>

#include "base/pref.h"
#include "base/thread_dispatcher.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/equalizer.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/property_device_panel.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_index.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"

namespace memory_site {

using namespace std::chrono_literals;

/// The panel with its handlers and controls in reach.
class Panel : public frm::PropertyDevicePanel {
public:
    using frm::PropertyDevicePanel::PropertyDevicePanel;
    using P = frm::PropertyDevicePanel;
    using F = frm::fb::PropertyDevicePanel;

    using F::buttonApply, F::buttonCancel, F::checkBoxEqualizer, F::checkBoxForwardInput1,
        F::checkBoxForwardInput2, F::checkBoxIsTestZarno, F::checkBoxLineRedundancy,
        F::checkBoxStreamFromOthers, F::listCtrlAudioFragment, F::listCtrlAudioScenario, F::menuFragment,
        F::menuScenario, F::notebookPref, F::panelEqualizer, F::sliderBand1, F::sliderBand6, F::sliderBass,
        F::sliderTreble, F::textFreeMemory;
    using P::clearMemory, P::loadImageMemory, P::menuAudioStopOnSelection, P::menuFragmentAddOnSelection,
        P::menuFragmentDeleteOnSelection, P::menuFragmentPlayOnSelection, P::menuFragmentSaveOnSelection,
        P::menuScenarioAddOnSelection, P::menuScenarioDeleteOnSelection, P::menuScenarioPlayOnSelection,
        P::revertChanges, P::saveImageMemory;
    using P::loadListCtrlAudioFragment, P::loadListCtrlAudioScenario, P::selectedFragment,
        P::selectedScenario;
    using P::m_audioControl, P::m_equalizer, P::m_fragmentTexts;

    /// Lets the panel's worker finish and its outcomes reach the page: the
    /// window thread only starts the exchanges.
    void settle() {
        EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return !working(); }, 20s));
    }
    /// Shows a page as the operator does, by its tab, and waits for its read.
    void select(const wxString& tab) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPageText(i) == tab) {
                notebookPref->SetSelection(i);
                settle();
                return;
            }
        ADD_FAILURE() << "no tab " << tab.utf8_string();
    }
    /// The device's audio-memory page, filled (the fill holds the audio
    /// control and loads both lists).
    void showMemory(const boost::shared_ptr<device::DeviceBase>& device) {
        imbueDevice(device);
        updateData();
        settle();
        select(L"Аудио память");
        ASSERT_TRUE(m_audioControl);
    }
    /// The loudspeaker's common page, filled (the fill holds the equalizer
    /// and shows the group of its kind).
    void showEqualizer(const boost::shared_ptr<device::OrvelInfo>& loudspeaker) {
        imbueDevice(loudspeaker);
        updateData();
        settle();
        select(L"Общие");
        ASSERT_TRUE(m_equalizer);
    }

    /// Every row's cells.
    static std::vector<std::vector<std::wstring>> rows(wxListCtrl* list) {
        std::vector<std::vector<std::wstring>> all;
        for (long row = 0; row < list->GetItemCount(); ++row) {
            all.emplace_back();
            for (int column = 0; column < list->GetColumnCount(); ++column)
                all.back().push_back(list->GetItemText(row, column).ToStdWstring());
        }
        return all;
    }
    /// Selects a row as a click does (the list reports the selection).
    static void selectRow(wxListCtrl* list, long row) {
        list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
    bool editPending() const { return buttonApply->IsEnabled() && buttonCancel->IsEnabled(); }

    /// Runs a handler as the menu item or the button does.
    template <class Handler>
    void run(Handler handler) {
        wxCommandEvent event(wxEVT_MENU);
        (this->*handler)(event);
        settle();
    }
};

/// The log, settings, dispatcher, transport and device collection of one
/// test, and a simulator whose devices the collection has found.
class Site : public CountingLogFixture {
protected:
    static constexpr std::uint16_t kBasePort = 29990;

    /// `network`: the program's own "127.N." prefix.
    void start(const std::string& network) {
        startLog(base::Log::TRACE3);
        pref_init(files.widePath() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        // The progress dialog of a write gets its reports through the invoker.
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
        m_network = network + std::to_string(testing_support::indexInSuite()) + ".";
    }
    /// A simulated device of this test, the n-th (from 1).
    device::sim::SimulatedDevice& add(unsigned n, std::unique_ptr<device::sim::Model> model) {
        return simulator.add(m_network + std::to_string(n), kBasePort, std::move(model));
    }
    /// A loudspeaker of a firmware generation that keeps its settings and its
    /// equalizer (the common page reads both).
    device::sim::SimulatedDevice& addSpeaker(unsigned n, int index) {
        auto model = std::make_unique<device::sim::OrvelConfigModel>(
            device::sim::Simulator::hardwareAddress(n), index);
        equalizers.push_back(std::make_shared<device::sim::EqualizerStore>(index));
        device::sim::EqualizerStore::install(equalizers.back(), *model);
        return add(n, std::move(model));
    }
    /// A memory store installed on the device's commands.
    std::shared_ptr<device::sim::AudioMemoryStore> addMemory(device::sim::SimulatedDevice& device,
                                                             std::uint16_t layout, std::uint32_t capacity,
                                                             const std::string& image) {
        auto store = std::make_shared<device::sim::AudioMemoryStore>(layout, capacity);
        store->plant(image);
        device.withModel<device::sim::CommandModel>([&store](device::sim::CommandModel& model) {
            device::sim::AudioMemoryStore::install(store, model);
            return 0;
        });
        return store;
    }
    /// Starts the devices' state packets and waits until every one answers.
    void runDevices() {
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (std::size_t i = 0; i < simulator.size(); ++i)
            simulator.device(i).startStatePackets(server, 100ms);
        simulator.start();
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                for (std::size_t n = 1; n <= simulator.size(); ++n) {
                    const auto found = device(static_cast<unsigned>(n));
                    if (!found || !found->isOnlineAndAnswered()) return false;
                    const auto loudspeaker = boost::dynamic_pointer_cast<device::OrvelInfo>(found);
                    if (loudspeaker && loudspeaker->getVersionIndex() <= 0) return false;
                }
                return true;
            },
            10s));
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        wx_testing::runEventLoopUntil([this] { return !frame; });
        if (collection) collection->stop();
        if (transport) transport->stop();
        simulator.stop();
        collection.reset();
        if (tasks) wx_testing::closeInvokerAndWindow(tasks);
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }

    boost::shared_ptr<device::DeviceBase> device(unsigned n) {
        return collection->searchFor(net::HardwareAddress(device::sim::Simulator::hardwareAddress(n)));
    }
    boost::shared_ptr<device::OrvelInfo> loudspeaker(unsigned n) {
        return boost::dynamic_pointer_cast<device::OrvelInfo>(device(n));
    }
    Panel* makePanel(frm::ItemDataMap* items = nullptr) {
        auto* panel = new Panel(frame, collection, items, transport, false);
        frame->Show();
        return panel;
    }
    bool received(unsigned n, const std::string& request) {
        for (const auto& datagram : simulator.device(n - 1).received())
            if (datagram.text.rfind(request, 0) == 0) return true;
        return false;
    }

    testing_support::TempDir files{"memory-page"};
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    std::uint32_t nextId = 1;
    wx_testing::TaskWindow* tasks = nullptr;
    /// The equalizers of the loudspeakers addSpeaker made, in their order.
    std::vector<std::shared_ptr<device::sim::EqualizerStore>> equalizers;
    device::sim::Simulator simulator{2};
    wxWeakRef<wxFrame> frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));

private:
    std::string m_network;
};

}  // namespace memory_site
