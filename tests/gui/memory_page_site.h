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
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/simulator.h"

namespace memory_site {

using namespace std::chrono_literals;

/// The panel with its handlers and controls in reach.
class Panel : public frm::PropertyDevicePanel {
public:
    using frm::PropertyDevicePanel::PropertyDevicePanel;
    using P = frm::PropertyDevicePanel;
    using F = frm::fb::PropertyDevicePanel;

    using F::buttonApply, F::buttonCancel, F::buttonReboot, F::buttonResetEq, F::buttonSetLine,
        F::checkBoxEqualizer, F::checkBoxForwardInput1, F::checkBoxForwardInput2, F::checkBoxIsTestZarno,
        F::checkBoxLineRedundancy, F::checkBoxStreamFromOthers, F::listCtrlAudioFragment,
        F::listCtrlAudioScenario, F::menuAudioMemory, F::menuFragment, F::menuScenario, F::notebookPref,
        F::panelBassTreble, F::panelCommon, F::panelTovik, F::panelEqBands, F::panelEqualizer, F::sliderBand1,
        F::sliderBand6, F::sliderBass, F::sliderTreble, F::textFreeMemory;
    using P::clearMemory, P::loadImageMemory, P::menuAudioStopOnSelection, P::menuFragmentAddOnSelection,
        P::menuFragmentDeleteOnSelection, P::menuFragmentPlayOnSelection, P::menuFragmentSaveOnSelection,
        P::menuScenarioAddOnSelection, P::menuScenarioDeleteOnSelection, P::menuScenarioPlayOnSelection,
        P::revertChanges, P::saveImageMemory;
    using P::loadListCtrlAudioFragment, P::loadListCtrlAudioScenario, P::selectedFragment,
        P::selectedScenario;
    using P::m_audioControl, P::m_bandSliders, P::m_equalizer, P::m_fragmentTexts;

    /// Shows a page as the operator does, by its tab.
    void select(const wxString& tab) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPageText(i) == tab) {
                notebookPref->SetSelection(i);
                return;
            }
        ADD_FAILURE() << "no tab " << tab.utf8_string();
    }
    /// The audio-memory page of the device as its fill leaves it: the
    /// device's audio control held, no file behind any fragment, both lists
    /// loaded.
    void showMemory(const boost::shared_ptr<device::DeviceBase>& device) {
        imbueDevice(device);
        updateData();
        select(L"Аудио память");
        m_audioControl = device->getAudioControl(false, true);
        ASSERT_TRUE(m_audioControl);
        m_fragmentTexts.assign(m_audioControl->getFragments().size(), std::wstring());
        loadListCtrlAudioFragment();
        loadListCtrlAudioScenario();
        // The fill's column widths, for the pictures.
        const auto widths = [](wxListCtrl* list, std::initializer_list<double> divisors) {
            int column = 0;
            for (const double divisor : divisors)
                list->SetColumnWidth(column++, static_cast<int>(list->GetClientSize().x / divisor));
        };
        widths(listCtrlAudioFragment, {18, 1.8, 10, 3.5});
        widths(listCtrlAudioScenario, {18, 2.2, 9, 4.5, 6.5});
    }
    /// The common page of a loudspeaker as its fill leaves the equalizer:
    /// the device's equalizer held, the group of its kind shown.
    void showEqualizer(const boost::shared_ptr<device::OrvelInfo>& loudspeaker) {
        imbueDevice(loudspeaker);
        updateData();
        select(L"Общие");
        m_equalizer = loudspeaker->getEqualizer();
        const bool bands = loudspeaker->getVersionIndex() > 8;
        if (const auto six = boost::dynamic_pointer_cast<device::o610::Equalizer>(m_equalizer))
            for (std::size_t band = 0; band < m_bandSliders.size(); ++band)
                m_bandSliders[band]->SetValue(six->getBand(static_cast<int>(band)));
        if (const auto packed = boost::dynamic_pointer_cast<device::o510::Equalizer>(m_equalizer)) {
            sliderBass->SetValue(packed->getField(1));
            sliderTreble->SetValue(packed->getField(3));
        }
        panelBassTreble->Show(!bands);
        panelEqBands->Show(bands);
        panelTovik->Hide();
        checkBoxEqualizer->SetValue(m_equalizer->isEnabled());
        panelEqualizer->Enable(m_equalizer->isEnabled());
        panelEqualizer->Layout();
        panelCommon->Layout();
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
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, kBasePort, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();
        m_network = network + std::to_string(testIndex()) + ".";
    }
    /// A simulated device of this test, the n-th (from 1).
    device::sim::SimulatedDevice& add(unsigned n, std::unique_ptr<device::sim::Model> model) {
        return simulator.add(m_network + std::to_string(n), kBasePort, std::move(model));
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
    device::sim::Simulator simulator{2};
    wxWeakRef<wxFrame> frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));

private:
    static int testIndex() {
        const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
        const ::testing::TestSuite& suite = *tests.current_test_suite();
        int index = 0;
        while (index < suite.total_test_count() &&
               std::string(suite.GetTestInfo(index)->name()) != tests.current_test_info()->name())
            ++index;
        return index;
    }
    std::string m_network;
};

}  // namespace memory_site
