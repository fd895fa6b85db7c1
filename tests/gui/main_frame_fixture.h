#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <wx/tglbtn.h>
#include <wx/weakref.h>

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
#include "tests/support/temp_dir.h"

// The main window over its real services in a temporary data folder (a fresh
// settings file), with its controls in reach and clicks sent through the
// controls' own event handlers, as the toolkit sends them.
namespace main_frame_testing {

const std::wstring kPrompt = L"Введите пароль для разблокировки";
const std::wstring kMessage = L"Сообщение";

class Frame : public frm::MainFrame {
public:
    using frm::MainFrame::MainFrame;
    using frm::fb::MainFrame::action;
    using frm::fb::MainFrame::alarm;
    using frm::fb::MainFrame::alarmPanel;
    using frm::fb::MainFrame::alarmText;
    using frm::fb::MainFrame::allZones;
    using frm::fb::MainFrame::contentPanel;
    using frm::fb::MainFrame::drives;
    using frm::fb::MainFrame::execute;
    using frm::fb::MainFrame::microphone;
    using frm::fb::MainFrame::playAlarm;
    using frm::fb::MainFrame::playGong;
    using frm::fb::MainFrame::playlist;
    using frm::fb::MainFrame::radio;
    using frm::fb::MainFrame::scheduler;
    using frm::fb::MainFrame::serviceMessage;
    using frm::fb::MainFrame::zoneControlPanel;
    using frm::fb::MainFrame::zoneName;

    std::vector<wxToggleButton*> pages() const {
        return {playlist, radio, drives, scheduler, microphone, serviceMessage, alarm};
    }
    /// The panels of the content area in the order the window makes them:
    /// zones, drives, scheduler, microphone, radio, alarm messages, music,
    /// service messages, device properties.
    wxWindow* panel(std::size_t index) const { return contentPanel->GetChildren()[index]; }
    frm::ZoneElementPanel* zonePanel() const { return dynamic_cast<frm::ZoneElementPanel*>(panel(0)); }
    /// Indexes of the panels shown.
    std::vector<std::size_t> shown() const {
        std::vector<std::size_t> indexes;
        for (std::size_t i = 0; i < contentPanel->GetChildren().size(); ++i)
            if (panel(i)->IsShown()) indexes.push_back(i);
        return indexes;
    }
    frm::ZoneElement::Ptr zone(std::size_t index) { return getItemDataMap()->getZoneElement(0)->getZones().at(index); }
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

inline std::string prefString(const char* key) {
    pref::Guard guard(g_pref);
    const libconfig::Setting* setting = pref::find(g_pref, key, pref::Type::TypeString);
    return setting != nullptr ? setting->c_str() : "(missing)";
}

class MainWindow : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        folder = os::getUserDataDirectory();
        pref_init(folder + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
    }
    void TearDown() override {
        if (frame) {
            frame->Destroy();
            wx_testing::runEventLoopUntil([this] { return !frame; });
        }
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
    void write(const std::wstring& name, const std::string& text) const {
        std::ofstream(base::toUtf8(folder + L"/" + name)) << text;
    }
    static void setPref(const char* key, int value) {
        pref::Guard guard(g_pref);
        pref::create(g_pref, key, pref::Type::TypeInt) = value;
    }
    static void setPref(const char* key, const std::string& value) {
        pref::Guard guard(g_pref);
        pref::create(g_pref, key, pref::Type::TypeString) = value;
    }

    testing_support::TempDir home;
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    std::wstring folder;
    boost::shared_ptr<device::TransferProtocol> transport;
    wxWeakRef<Frame> frame;
};

}  // namespace main_frame_testing
