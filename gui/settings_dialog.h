#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gui/layout/settings_dialog.h"
#include "os/capture_devices.h"
#include "os/network_interface.h"

class mp3streamf;

namespace frm {

/// What the settings dialog reaches outside itself. An empty member means
/// the program's own; tests put theirs in.
struct SettingsDialogServices {
    /// The capture devices (os::getAudioCaptureDeviceList).
    std::function<std::vector<os::AudioCaptureDevice>()> captureDevices;
    /// The PC's network interfaces (os::getNetworkInterfaceList).
    std::function<std::vector<os::NetworkInterface>()> networkInterfaces;
    /// The notification stream that the capture test plays through (the
    /// alarm channel's); null when there is none.
    std::function<mp3streamf*()> streamer;
    /// The data folder, under which the default folders are made
    /// (os::getUserDataDirectory).
    std::wstring dataFolder;
    /// The daily log files (the data folder's "log").
    std::wstring logFolder;
    /// The program's folder, where the default gong ships in "alarm"
    /// (os::getApplicationDirectory).
    std::wstring applicationFolder;
};

/// The settings dialog: the folders of gong, service, alarm and recorded
/// message files and the gong button's gong, the two volumes, the network
/// interface and multicast group (administrator mode only), the capture
/// device with its listening test, the three passwords and the lock time,
/// the log level (debug mode only) and the viewer of the daily log files.
/// Opening it fills the controls from the settings, creating missing keys,
/// the default folders and the default gong; OK stores the controls in the
/// settings in memory (the file is written at shutdown), unless it refuses
/// the multicast address or a number field's text (TTL, base port, lock
/// time): then nothing is stored and the dialog stays open. Cancel stores
/// nothing.
///
/// Built on the stack by the main window and shown through frm::ui::showModal.
/// GUI thread only. The capture test drives the notification stream, which
/// the alarm channel's thread also uses: it starts only while that stream is
/// idle, and the dialog's destruction ends a test still running.
class SettingsDialog : public fb::SettingsDialog {
public:
    SettingsDialog(wxWindow* parent, bool administratorMode, bool debugMode,
                   SettingsDialogServices services = SettingsDialogServices());
    ~SettingsDialog() override;

protected:
    void onNotebookPageChanged(wxBookCtrlEvent& event) override;
    void pathDirGongOnButtonClick(wxCommandEvent& event) override;
    void pathDirServiceMessageOnButtonClick(wxCommandEvent& event) override;
    void pathDirAlarmMessageOnButtonClick(wxCommandEvent& event) override;
    void pathDirRecordedMessageOnButtonClick(wxCommandEvent& event) override;
    void sliderOnScroll(wxScrollEvent& event) override;
    void buttonPlayOnButtonClick(wxCommandEvent& event) override;
    void logOnChoice(wxCommandEvent& event) override;
    void buttonOkOnClick(wxCommandEvent& event) override;
    void buttonCancelOnClick(wxCommandEvent& event) override;

    /// The capture devices, then "[по умолчанию]"; selects the stored one.
    void fillCaptureDevices();
    /// The gong files of the folder in the gong field, then the empty entry
    /// ("no gong"); selects `place.pathFileGong`. Only with the gong box.
    void fillGongList();
    void fillLogDates();
    /// The folder chooser; a chosen folder that exists replaces the field's text.
    bool chooseFolder(const wxString& caption, wxTextCtrl* field);
    void setSliderTip(wxSlider* slider, int value);
    /// Shows the log file of the chosen date.
    void fillLog();

private:
    void fillFolders();
    void installDefaultGong();
    void fillNetworkInterfaces();
    void storePasswords();
    void stopCaptureTest();
    /// Ends the modal loop, or hides a dialog that was never shown modally.
    void close(int code);

    const bool administratorMode;
    const bool debugMode;
    SettingsDialogServices services;
    /// The stored capture device (`record.deviceName`, its ALSA name).
    std::wstring recordDeviceName;
    /// The devices of the "Устройство" choice, in its order.
    std::vector<os::AudioCaptureDevice> captureDevices;
    bool captureTestRunning = false;
    /// The stream that the running capture test plays on.
    mp3streamf* testStream = nullptr;
};

}  // namespace frm
