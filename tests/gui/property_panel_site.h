#pragma once

// The property panel over simulated devices that keep their settings: one
// loudspeaker of each firmware band (the band site), one of index 9, a
// broadcast and a fire console, on a network of each test's own, with the
// GUI-thread invoker running for the progress dialogs. The panel's controls
// are in reach; the simulator's request logs tell what was written.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <boost/asio/ip/address_v4.hpp>
#include <memory>
#include <string>
#include <vector>

#include "base/wx/gui_thread_invoker.h"
#include "device/memory/audio_control.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "gui/property_device_panel.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/main_frame_fixture.h"  // also the log, settings, simulator and wx test support
#include "tests/gui/ui_script.h"
#include "tests/support/test_index.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/firmware_receiver.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/zone_sites.h"

namespace panel_site {

using namespace std::chrono_literals;
using Requests = std::vector<std::string>;

constexpr std::uint16_t kBasePort = 29990;

/// The band site's loudspeakers by position, then the devices added beside it.
enum Device {
    kIndex2,
    kIndex3,
    kIndex5,
    kIndex8,
    kIndex12,
    kIndex16,
    kIndex17,
    kIndex18,
    kIndex18Lan,
    kIndex19,
    kIndex20,
    kIndex21,
    kIndex9,
    kConsole,
    kFireConsole,
    kDeviceCount
};

class Panel : public frm::PropertyDevicePanel {
public:
    using P = frm::fb::PropertyDevicePanel;
    using frm::PropertyDevicePanel::m_audioControl;
    using frm::PropertyDevicePanel::PropertyDevicePanel;
    using P::buttonApply, P::buttonCancel, P::checkBoxAllowIp, P::checkBoxAnalogFilter,
        P::checkBoxAnalogInput, P::checkBoxDhcp, P::checkBoxEqualizer, P::checkBoxFaultSound,
        P::checkBoxForwardInput1, P::checkBoxForwardInput2, P::checkBoxGong, P::checkBoxIgmp,
        P::checkBoxIsTestZarno, P::checkBoxKeySound, P::checkBoxLanRedundancy, P::checkBoxLineControl, P::checkBoxLineIntegrity,
        P::checkBoxLineRedundancy, P::checkBoxRelayEvents, P::checkBoxSinglePowerSource,
        P::checkBoxStreamFromOthers, P::checkBoxZoneIndication, P::choiceAlarmStreamPriority,
        P::choiceAnalogConsolePriority,
        P::choiceAnalogInput1Function, P::choiceAnalogInput1Priority, P::choiceAnalogInput2Function,
        P::choiceAnalogInput2Priority, P::choiceAnalogMulticastPriority, P::choiceLineMode, P::choicePower1,
        P::choicePower2, P::choiceTovikType, P::choiceZarnoMessagesPriority, P::comboBoxGong, P::notebookPref,
        P::panelAudioMemory, P::panelBassTreble, P::panelEqBands, P::panelTovik, P::sliderBand1,
        P::sliderBand6, P::sliderBass, P::sliderTreble, P::spinBasePort, P::spinTovikPriority,
        P::spinZarnoAddress, P::staticDeviceName, P::textAllowIp, P::textFreeMemory, P::textGateway,
        P::textIp, P::textMask, P::textMulticastIp, P::textName;

    /// Lets the panel's worker finish and its outcomes reach the pages: the
    /// window thread only starts the exchanges.
    void settle() {
        EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return !working(); }, 20s));
    }
    /// The shown page read again, as the main window asks for it.
    void update() {
        updateData();
        settle();
    }
    /// Chooses a page as the operator does, by its tab, and waits for its read.
    void select(const std::wstring& tab) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPageText(i) == tab) {
                notebookPref->SetSelection(i);
                settle();
                return;
            }
        ADD_FAILURE() << "no tab " << wxString(tab).utf8_string();
    }
    /// A button pressed by its label, and what it started over.
    void press(const wxString& label) {
        dialog_testing::press(this, label);
        settle();
    }
    /// Apply as its button runs it, to its end.
    void apply() {
        wxCommandEvent click(wxEVT_BUTTON, buttonApply->GetId());
        applyOnButtonClick(click);
        settle();
    }
    /// Ticks or clears a box and sends its event, as a click does.
    void tick(wxCheckBox* box, bool on) {
        box->SetValue(on);
        wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
        event.SetEventObject(box);
        event.SetInt(on ? 1 : 0);
        box->HandleWindowEvent(event);
        settle();
    }
    bool editing() const { return buttonApply->IsEnabled() && buttonCancel->IsEnabled(); }
};

class PanelSite : public CountingLogFixture {
protected:
    /// `program` keeps the networks of the test programs apart.
    explicit PanelSite(int program) : m_program(program) {}

    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(files.widePath() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        GuiThreadInvoker::createInstance(window);
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        collection = device::DeviceCollection::create(transport, kBasePort);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();

        const std::string network = ownNetwork();
        site = device::sim::addBandSite(simulator, {network + "1", kBasePort, 1});
        for (const auto& speaker : site.loudspeakers) devices.push_back(speaker.device);
        auto index9 = std::make_unique<device::sim::OrvelConfigModel>(hardware(kIndex9), 9);
        device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(9), *index9);
        devices.push_back(&simulator.add(network + "20", kBasePort, std::move(index9)));
        for (const bool fire : {false, true}) {
            auto console =
                std::make_unique<device::sim::TovikZoneModel>(hardware(fire ? kFireConsole : kConsole));
            if (fire) console->values["priority"] = "133";  // the alarm input's bit: a fire console
            devices.push_back(&simulator.add(network + (fire ? "22" : "21"), kBasePort, std::move(console)));
        }
        memory21 = withMemory(kIndex21, device::memory::kLayout611);
        memory18 = withMemory(kIndex18, device::memory::kLayout611);
        consoleMemory = withMemory(kConsole, device::memory::kLayout611);
        withMemory(kFireConsole, device::memory::kLayout611);
        memory21->plant(memory_test::plantedImage(device::memory::kLayout611, 3, 1500));
        consoleMemory->plant(memory_test::plantedImage(device::memory::kLayout611, 2, 1000));
        firmware = devices[kIndex21]->withModel<device::sim::CommandModel>(
            [](device::sim::CommandModel& model) { return device::sim::addFirmwareReceiver(model); });

        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (device::sim::SimulatedDevice* device : devices) device->startStatePackets(server, 100ms);
        simulator.start();
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                for (int n = 0; n < kDeviceCount; ++n)
                    if (!device(static_cast<Device>(n)) ||
                        !device(static_cast<Device>(n))->isOnlineAndAnswered())
                        return false;
                const auto index = [this](Device n) {
                    const auto found = speaker(n);
                    return found ? found->getVersionIndex() : -1;
                };
                return index(kIndex9) == 9 && index(kIndex21) == 21;
            },
            15s));
        frame = new wxFrame(nullptr, wxID_ANY, L"Сонвар", wxPoint(0, 0), wxSize(1280, 1024));
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        wx_testing::runEventLoopUntil([this] { return !frame; });
        collection->stop();
        transport->stop();
        simulator.stop();
        collection.reset();
        wx_testing::closeInvokerAndWindow(window);
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }

    std::string ownNetwork() const {
        return "127." + std::to_string(m_program) + "." + std::to_string(testing_support::indexInSuite()) +
               ".";
    }
    static std::string hardware(Device n) { return device::sim::Simulator::hardwareAddress(0x600 + n); }

    boost::shared_ptr<device::DeviceBase> device(Device n) {
        const std::string address =
            n < kIndex9 ? device::sim::Simulator::hardwareAddress(1 + n) : hardware(n);
        return collection->searchFor(net::HardwareAddress(address));
    }
    boost::shared_ptr<device::OrvelInfo> speaker(Device n) {
        return boost::dynamic_pointer_cast<device::OrvelInfo>(device(n));
    }
    boost::shared_ptr<device::TovikInfo> console(Device n) {
        return boost::dynamic_pointer_cast<device::TovikInfo>(device(n));
    }
    std::shared_ptr<device::sim::AudioMemoryStore> withMemory(Device n, std::uint16_t layout) {
        auto store = std::make_shared<device::sim::AudioMemoryStore>(layout, 256 * 1024);
        devices[n]->withModel<device::sim::CommandModel>([&store](device::sim::CommandModel& model) {
            device::sim::AudioMemoryStore::install(store, model);
            return 0;
        });
        return store;
    }
    /// Changes a setting the simulated loudspeaker or console holds.
    void setValue(Device n, const std::string& name, const std::string& value) {
        devices[n]->withModel<device::sim::Model>([&](device::sim::Model& model) {
            if (auto* speaker = dynamic_cast<device::sim::OrvelConfigModel*>(&model))
                speaker->values[name] = value;
            else
                dynamic_cast<device::sim::TovikConfigModel&>(model).values[name] = value;
            return 0;
        });
        device(n)->resetCache();
    }
    /// The "set ..." requests the device received since the last call.
    Requests sets(Device n) {
        Requests found;
        for (const auto& datagram : devices[n]->received()) {
            std::string text = datagram.text;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (text.rfind("set ", 0) == 0) found.push_back(text);
        }
        devices[n]->clearReceived();
        return found;
    }
    /// A panel in the frame, open on the device, counting its callbacks.
    Panel* open(Device n, bool debugMode = false) {
        auto* panel = new Panel(frame, collection, nullptr, transport, debugMode);
        panel->SetSize(frame->GetClientSize());
        panel->setCallbacks([this] { ++closed; }, [this] { ++applied; });
        frame->Show();
        panel->imbueDevice(device(n));
        panel->updateData();
        panel->settle();
        return panel;
    }

    testing_support::TempDir files{"property-panel-site"};
    wx_testing::TaskWindow* window = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    std::uint32_t nextId = 1;
    device::sim::Simulator simulator{2};
    device::sim::ZoneSite site;
    std::vector<device::sim::SimulatedDevice*> devices;
    std::shared_ptr<device::sim::AudioMemoryStore> memory21, memory18, consoleMemory;
    std::shared_ptr<device::sim::FirmwareReceiver> firmware;
    int closed = 0;
    int applied = 0;
    wxWeakRef<wxFrame> frame;

private:
    const int m_program;
};

}  // namespace panel_site
