#pragma once
// The property panel over one of the simulator's zone sites, discovered by a
// device collection over real UDP: the panel's controls and the protected
// parts of its pages in reach, the site's devices and their request logs,
// and the GUI-thread invoker the pages' jobs hand their results to. Tests
// that use it open sockets (label net).
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/pref.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/transfer_protocol.h"
#include "gui/property_device_panel.h"
#include "tests/base/wx/wx_app.h"
#include "tests/device/device_test_support.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/screenshot.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/zone_sites.h"

/// Colours in failure messages as "rgb(r, g, b)".
inline void PrintTo(const wxColour& colour, std::ostream* out) {
    *out << colour.GetAsString(wxC2S_CSS_SYNTAX).utf8_string();
}

namespace property_testing {

using namespace std::chrono_literals;
using wx_testing::runEventLoopFor;
using wx_testing::runEventLoopUntil;
using Requests = device_test::Requests;

class Panel : public frm::PropertyDevicePanel {
public:
    using B = frm::fb::PropertyDevicePanel;
    using P = frm::PropertyDevicePanel;
    using B::buttonAddAllTipDevices, B::buttonAddPasskey, B::buttonApply, B::buttonCancel,
        B::buttonFixLinkIntegrity, B::buttonFixZoneIntegrity, B::buttonRebootMaster, B::buttonRemoveZone,
        B::buttonResetPasskeys, B::buttonResetPref, B::buttonResetZones, B::checkBoxPowerSave,
        B::comboBoxZoneMode, B::notebookPref, B::panelAccessControl, B::panelTipDevices,
        B::scrolledLinkedConsoles, B::scrolledPasskeys, B::scrolledTipDevices, B::scrolledZoneTargets,
        B::sizerZoneButtons, B::staticPasskeyHint, B::staticVersion, B::staticVersionValue, B::staticZoneNote,
        B::toggleAccessControl;
    using P::addAllTipDevices_onButtonClick, P::addPasskeyOnButtonClick, P::applyLineControlPage,
        P::applyZonePage, P::fixZoneIntegrityOnButtonClick, P::m_currentZone, P::m_pagePeriods,
        P::m_passkeyJob, P::m_requestJob, P::m_tipGate, P::onCheckBoxPowerSave, P::rebootMasterOfTipDevices,
        P::refreshPasskeys, P::refreshTipDevices, P::removeZoneOnButtonClick, P::resetPasskeysOnButtonClick,
        P::resetPrefOnButtonClick, P::resetZonesOnButtonClick, P::tipDeviceButtonOnLeftDown,
        P::tipDeviceButtonOnLeftUp;
    using P::PropertyDevicePanel;

    /// Lets the panel's worker finish and its outcomes reach the pages: the
    /// window thread only starts the exchanges.
    void settle() {
        EXPECT_TRUE(runEventLoopUntil([this] { return !working(); }, 20s));
    }
    void open(const boost::shared_ptr<device::DeviceBase>& device) {
        imbueDevice(device);
        updateData();
        settle();
    }
    /// The shown page read again, as the main window asks for it.
    void update() {
        updateData();
        settle();
    }
    /// Chooses a page as the operator does, by its tab, and waits for its read.
    void select(const wxString& tab) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPageText(i) == tab) {
                notebookPref->SetSelection(i);
                settle();
                return;
            }
        ADD_FAILURE() << "no tab " << tab.utf8_string();
    }
    /// Apply as its button runs it, to its end.
    void apply() {
        wxCommandEvent click(wxEVT_BUTTON, buttonApply->GetId());
        applyOnButtonClick(click);
        settle();
    }

    /// The rows of a list that the page built (the layout's sample left out).
    template <class Row>
    static std::vector<Row*> rows(wxWindow* list) {
        std::vector<Row*> found;
        for (wxWindow* child : list->GetChildren())
            if (auto* row = dynamic_cast<Row*>(child); row != nullptr && row->IsShown()) found.push_back(row);
        return found;
    }
    std::vector<wxCheckBox*> targets() const { return rows<wxCheckBox>(scrolledZoneTargets); }
    wxToggleButton* zoneButton(int zone) const {
        return dynamic_cast<wxToggleButton*>(
            sizerZoneButtons->GetItem(static_cast<std::size_t>(zone - 1))->GetWindow());
    }
    std::vector<std::wstring> messages() const {
        std::vector<std::wstring> texts;
        for (unsigned n = 0; n < comboBoxZoneMode->GetCount(); ++n)
            texts.push_back(comboBoxZoneMode->GetString(n).ToStdWstring());
        return texts;
    }
};

/// Waits until the property panel that holds `control` has finished what
/// its worker runs.
inline frm::PropertyDevicePanel* ownerOf(wxWindow* control) {
    for (wxWindow* window = control; window != nullptr; window = window->GetParent())
        if (auto* owner = dynamic_cast<frm::PropertyDevicePanel*>(window)) return owner;
    return nullptr;
}
inline void settle(frm::PropertyDevicePanel* owner) {
    if (owner == nullptr) return;
    EXPECT_TRUE(runEventLoopUntil([owner] { return !owner->working(); }, 20s));
}

/// An event as the toolkit sends it from `control`, and what it started
/// on the panel's worker is over (the control may be gone by then: a row
/// rebuilt).
inline void send(wxWindow* control, wxEvent& event) {
    frm::PropertyDevicePanel* const owner = ownerOf(control);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
    settle(owner);
}
inline void click(wxWindow* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    send(button, event);
}
inline void tick(wxCheckBox* box, bool value) {
    box->SetValue(value);
    wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
    event.SetInt(value ? 1 : 0);
    send(box, event);
}

class PagesFixture : public CountingLogFixture {
protected:
    using Build = std::function<device::sim::ZoneSite(device::sim::Simulator&, const device::sim::SitePlan&)>;

    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(files.widePath() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        window->SetSize(1280, 1024);
        GuiThreadInvoker::createInstance(window);
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, 0, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();
    }
    void TearDown() override {
        if (panel != nullptr) panel->Destroy();
        runEventLoopFor(20ms);
        collection->stop();
        transport->stop();
        simulator.stop();
        base::ThreadDispatcher::destroy();
        wx_testing::closeInvokerAndWindow(window);
        collection.reset();
        pref_free();
        CountingLogFixture::TearDown();
    }

    /// Builds the site (its devices listen on loopback at ports of their
    /// own), lets `prepare` change the models before they start, and waits
    /// until the collection knows every device and `answering` of them
    /// answer.
    void openSite(const Build& build, std::size_t answering, const std::function<void()>& prepare = {}) {
        site = build(simulator, device::sim::SitePlan{"127.0.7.1", 0, 0x5A0001});
        if (prepare) prepare();
        simulator.start();
        const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"),
                                           transport->getPort());
        for (std::size_t n = 0; n < simulator.size(); ++n)
            simulator.device(n).startStatePackets(server, 100ms);
        ASSERT_TRUE(runEventLoopUntil(
            [&] {
                std::size_t online = 0;
                for (const auto& device : collection->getDevices())
                    online += device->isOnlineAndAnswered() ? 1 : 0;
                return collection->getDevices().size() == simulator.size() && online >= answering;
            },
            10s));
        runEventLoopFor(200ms);  // the silent devices' probes are over
    }

    Panel* makePanel(bool debugMode) {
        panel = new Panel(window, collection, nullptr, transport, debugMode);
        panel->SetSize(window->GetClientSize());
        window->Show();
        return panel;
    }

    boost::shared_ptr<device::OrvelInfo> speaker(std::size_t n) {
        return collection->searchForOrvel(net::HardwareAddress(site.loudspeakers.at(n).address));
    }
    boost::shared_ptr<device::TovikInfo> console(std::size_t n) {
        return boost::dynamic_pointer_cast<device::TovikInfo>(
            collection->searchFor(net::HardwareAddress(site.consoles.at(n).address)));
    }
    /// Gives a loudspeaker of the site an audio memory of `fragments`
    /// fragments; one or more hold scenario number 1, the fragment count
    /// makes the memory stamp.
    void plantMemory(std::size_t n, unsigned fragments) {
        const auto store =
            std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
        store->plant(memory_test::plantedImage(device::memory::kLayout611, fragments, 1000));
        site.loudspeakers.at(n).device->withModel<device::sim::CommandModel>(
            [&store](device::sim::CommandModel& m) {
                device::sim::AudioMemoryStore::install(store, m);
                return 0;
            });
    }
    /// The loudspeaker stops answering and the collection has seen it fail.
    void silence(device::sim::SimulatedDevice& device, const boost::shared_ptr<device::DeviceBase>& object) {
        device.setReplyPolicy(device::sim::ReplyPolicy{0, true});
        try {
            object->probeVolume();
        } catch (const exception::Offline&) {
        }
        ASSERT_FALSE(object->isOnlineAndAnswered());
    }
    static Requests requests(const device::sim::SimulatedDevice& device) {
        return device_test::requestsOf(device, false, false);
    }
    static int count(const Requests& log, const std::string& prefix) {
        int found = 0;
        for (const std::string& text : log) found += text.rfind(prefix, 0) == 0 ? 1 : 0;
        return found;
    }

    testing_support::TempDir files{"property-pages"};
    wx_testing::TaskWindow* window = nullptr;
    Panel* panel = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    device::sim::Simulator simulator{2};
    device::sim::ZoneSite site;
    std::uint32_t nextId = 1;
};

}  // namespace property_testing
