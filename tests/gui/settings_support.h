#pragma once

#include <wx/weakref.h>

#include <map>
#include <string>
#include <vector>

#include "base/pref.h"
#include "base/text.h"
#include "gui/settings_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/temp_dir.h"

#ifndef SONVAR_BUILD_DIR
#error "SONVAR_BUILD_DIR names the build folder, where the default gong is made"
#endif

// The settings dialog as its tests drive it: the controls reachable, the
// buttons pressed through the dialog's own event table, the settings in a
// temporary file, and fixture lists of capture devices and interfaces.
namespace settings_testing {

class Dialog : public frm::SettingsDialog {
    using Layout = frm::fb::SettingsDialog;

public:
    using Layout::buttonCancel, Layout::buttonOk, Layout::buttonPlay, Layout::interfaceTimeout, Layout::log,
        Layout::logLevel, Layout::logText, Layout::multicastAddress, Layout::multicastBasePort,
        Layout::multicastTtl, Layout::networkInterface, Layout::notebook, Layout::passwordAdministrator,
        Layout::passwordAdministratorRepeat, Layout::passwordInterface, Layout::passwordInterfaceRepeat,
        Layout::passwordPlaybackAlarm, Layout::passwordPlaybackAlarmRepeat, Layout::pathDirGong,
        Layout::pathFileGong, Layout::recordDevice, Layout::sliderMicrophone, Layout::sliderServiceMessage,
        Layout::textPathDirGong;
    using SettingsDialog::SettingsDialog;

    /// A click as the control's own event.
    static void press(wxWindow* control, wxEventType type = wxEVT_BUTTON) {
        wxCommandEvent event(type, control->GetId());
        event.SetEventObject(control);
        control->ProcessWindowEvent(event);
    }
    static std::vector<std::wstring> entries(const wxChoice* choice) {
        std::vector<std::wstring> all;
        for (unsigned i = 0; i < choice->GetCount(); ++i) all.push_back(choice->GetString(i).ToStdWstring());
        return all;
    }
};

/// Every setting as "path" → value text.
inline void flatten(const libconfig::Setting& setting, std::map<std::string, std::string>& out) {
    for (int i = 0; setting.isGroup() && i < setting.getLength(); ++i) flatten(setting[i], out);
    if (setting.getType() == libconfig::Setting::TypeString) out[setting.getPath()] = setting.c_str();
    if (setting.getType() == libconfig::Setting::TypeInt)
        out[setting.getPath()] = std::to_string(int(setting));
    if (setting.getType() == libconfig::Setting::TypeBoolean)
        out[setting.getPath()] = bool(setting) ? "1" : "0";
}

class SettingsTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(home.widePath() + L"/sonvar.cfg");
        services.captureDevices = [this] { return devices; };
        services.networkInterfaces = [this] { return interfaces; };
        services.streamer = []() -> mp3streamf* { return nullptr; };
        services.dataFolder = home.widePath() + L"/data";
        services.applicationFolder = base::fromUtf8(SONVAR_BUILD_DIR);
    }
    void TearDown() override {
        if (dialog) dialog->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        pref_free();
        CountingLogFixture::TearDown();
    }

    Dialog& open(bool administratorMode, bool debugMode = false) {
        if (dialog) dialog->Destroy();
        dialog = new Dialog(nullptr, administratorMode, debugMode, services);
        return *dialog;
    }

    static std::map<std::string, std::string> settingsNow() {
        pref::Guard guard(g_pref);
        std::map<std::string, std::string> all;
        flatten(g_pref->config->getRoot(), all);
        return all;
    }
    static std::wstring text(const char* key) {
        const auto all = settingsNow();
        const auto found = all.find(key);
        return found == all.end() ? L"<none>" : base::fromUtf8(found->second);
    }
    static void setText(const char* key, const std::wstring& value) { pref::setString(key, value); }
    template <class T>
    static void set(const char* key, pref::Type type, T value) {
        pref::Guard guard(g_pref);
        pref::create(g_pref, key, type) = value;
    }

    testing_support::TempDir home{"settings"};
    std::vector<os::AudioCaptureDevice> devices;
    std::vector<os::NetworkInterface> interfaces;
    frm::SettingsDialogServices services;
    wxWeakRef<Dialog> dialog;
};

}  // namespace settings_testing
