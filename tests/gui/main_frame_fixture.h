#pragma once

#include <gtest/gtest.h>
#include <wx/weakref.h>

#include <boost/make_shared.hpp>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/transfer_protocol.h"
#include "gui/item_data_map.h"
#include "gui/main_frame.h"
#include "gui/zone_element_panel.h"
#include "os/data_directory.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/simulator.h"

// The main window over its real services in a temporary data folder with a
// fresh settings file; its controls in reach, clicks sent through the
// controls' own event handlers as the toolkit sends them.
namespace main_frame_testing {

const std::wstring kPrompt = L"Введите пароль для разблокировки";
const std::wstring kMessage = L"Сообщение";

class Frame : public frm::MainFrame {
public:
    using frm::fb::MainFrame::action, frm::fb::MainFrame::alarm, frm::fb::MainFrame::alarmPanel,
        frm::fb::MainFrame::alarmText, frm::fb::MainFrame::allZones, frm::fb::MainFrame::contentPanel,
        frm::fb::MainFrame::drives, frm::fb::MainFrame::execute, frm::fb::MainFrame::microphone,
        frm::fb::MainFrame::playAlarm, frm::fb::MainFrame::playGong, frm::fb::MainFrame::playlist,
        frm::fb::MainFrame::radio, frm::fb::MainFrame::scheduler, frm::fb::MainFrame::serviceMessage,
        frm::fb::MainFrame::zoneControlPanel, frm::fb::MainFrame::zoneManagement, frm::fb::MainFrame::zoneName;
    using frm::MainFrame::MainFrame;

    /// The shown panels by creation order: zones 0, drives 1, scheduler 2,
    /// microphone 3, radio 4, alarm messages 5, music 6, service 7, property 8.
    std::vector<std::size_t> shown() const {
        std::vector<std::size_t> indexes;
        for (std::size_t i = 0; i < contentPanel->GetChildren().size(); ++i)
            if (contentPanel->GetChildren()[i]->IsShown()) indexes.push_back(i);
        return indexes;
    }
    frm::ZoneElementPanel* zonePanel() const {
        return dynamic_cast<frm::ZoneElementPanel*>(contentPanel->GetChildren()[0]);
    }
    frm::ZoneElement::Ptr zone(std::size_t index) {
        return getItemDataMap()->getZoneElement(0)->getZones().at(index);
    }
};

/// A click as the operator makes it: a toggle changes its state first.
inline void click(wxControl* control) {
    wxCommandEvent event(wxEVT_BUTTON, control->GetId());
    if (auto* toggle = dynamic_cast<wxToggleButton*>(control)) {
        toggle->SetValue(!toggle->GetValue());
        event.SetEventType(wxEVT_TOGGLEBUTTON);
        event.SetInt(toggle->GetValue() ? 1 : 0);
    }
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

inline std::string address(int n) { return device::sim::Simulator::hardwareAddress(n); }

/// A zone of zone_collection.xml with the simulator's addresses `devices`.
inline std::string zoneXml(const std::string& name, const std::vector<int>& devices,
                           const std::string& zones = "") {
    std::string xml =
        "<zone><name>" + name + "</name><enableVolume>false</enableVolume><volume>0</volume><devices>";
    for (const int n : devices) xml += "<hardware_address>" + address(n) + "</hardware_address>";
    return xml + "</devices><zones>" + zones + "</zones></zone>";
}

class MainWindow : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(base::fromUtf8(folder + "sonvar.cfg"));
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
    }
    void TearDown() override {
        if (frame) frame->Destroy();
        wx_testing::runEventLoopUntil([this] { return !frame; });
        transport->stop();
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }
    void start(const frm::IdleLock::Timing& timing = {}) {
        frame = new Frame(transport, false, false);
        frame->setIdleLockTiming(timing);
        frame->Startup();
    }
    /// The device list knows `devices`, filed in `zones` (zoneXml).
    void writeStores(const std::vector<int>& devices, const std::string& zones) const {
        const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
        std::string known;
        for (const int n : devices)
            known += "<device><hardware_address>" + address(n) + "</hardware_address></device>";
        std::ofstream(folder + "device_collection.xml")
            << head << "<device_collection>" << known << "</device_collection>";
        std::ofstream(folder + "zone_collection.xml")
            << head << "<zone_collection>" << zones << "</zone_collection>";
    }
    template <class T>
    static void setPref(const char* key, const T& value) {
        pref::Guard guard(g_pref);
        pref::create(g_pref, key, std::is_same_v<T, int> ? pref::Type::TypeInt : pref::Type::TypeString) =
            value;
    }
    static std::string prefString(const char* key) {
        pref::Guard guard(g_pref);
        const libconfig::Setting* setting = pref::find(g_pref, key, pref::Type::TypeString);
        return setting != nullptr ? setting->c_str() : "(missing)";
    }

    testing_support::TempDir home;
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    const std::string folder = base::toUtf8(os::getUserDataDirectory()) + "/";
    boost::shared_ptr<device::TransferProtocol> transport;
    wxWeakRef<Frame> frame;
};

}  // namespace main_frame_testing
