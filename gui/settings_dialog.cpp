#include "gui/settings_dialog.h"

#include <wx/app.h>
#include <wx/clntdata.h>

#include <algorithm>
#include <optional>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "device/models/stream_ports.h"
#include "gui/gui_thread.h"
#include "gui/log_file.h"
#include "gui/number_field.h"
#include "gui/settings_rules.h"
#include "gui/ui.h"
#include "os/data_directory.h"
#include "os/file_system.h"

namespace frm {

namespace {

const wchar_t* const kDefaultCaptureDevice = L"[по умолчанию]";
const wchar_t* const kPlay = L"Воспроизвести";
const wchar_t* const kStop = L"Стоп";
const wchar_t* const kDefaultMulticastAddress = L"224.0.224.1";

/// The interface an entry of the interface choice stands for.
struct InterfaceData : wxClientData {
    InterfaceData(std::wstring description, std::string ip)
        : description(std::move(description)), ip(std::move(ip)) {}
    std::wstring description;
    std::string ip;
};

/// A text setting, created holding `defaultValue` when missing.
std::wstring textSetting(const char* key, const std::wstring& defaultValue) {
    pref::Guard guard(g_pref);
    if (pref::find(g_pref, key, pref::Type::TypeString) == nullptr) pref::setString(key, defaultValue);
    return pref::getString(key);
}

void setInt(const char* key, int value) {
    pref::Guard guard(g_pref);
    pref::create(g_pref, key, pref::Type::TypeInt) = value;
}

std::wstring text(const wxTextCtrl* field) { return field->GetValue().ToStdWstring(); }

}  // namespace

SettingsDialog::SettingsDialog(wxWindow* parent, bool administratorMode, bool debugMode,
                               SettingsDialogServices services)
    : fb::SettingsDialog(parent, wxID_ANY, L"Настройки", wxDefaultPosition, wxSize(862, 680),
                         wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      administratorMode(administratorMode),
      debugMode(debugMode),
      services(std::move(services)) {
    FRM_ASSERT_GUI_THREAD();
    SettingsDialogServices& s = this->services;
    if (!s.captureDevices) s.captureDevices = &os::getAudioCaptureDeviceList;
    if (!s.networkInterfaces) s.networkInterfaces = &os::getNetworkInterfaceList;
    if (!s.streamer)
        s.streamer = []() -> mp3streamf* {
            AlarmChannel* channel = AlarmChannel::instance();
            return channel != nullptr ? &channel->stream() : nullptr;
        };
    if (s.dataFolder.empty()) s.dataFolder = os::getUserDataDirectory();
    if (s.logFolder.empty()) s.logFolder = s.dataFolder + L"/log";
    if (s.applicationFolder.empty()) s.applicationFolder = os::getApplicationDirectory();

    // The capture device stored, and the first page.
    recordDeviceName = pref::getString("record.deviceName");
    notebook->SetSelection(0);
    // The folders, with the default gong installed in the gong folder.
    fillFolders();
    installDefaultGong();
    // The gong choice, shown only where the main window has alarm buttons.
    gongSizer->ShowItems(pref::getBool("mainWindow.alarmButtons", false));
    fillGongList();
    // The capture devices and the network interfaces.
    fillCaptureDevices();
    fillNetworkInterfaces();
    // The volumes of service messages and of the microphone.
    sliderServiceMessage->SetValue(pref::getInt("volume.serviceMessage2", 90));
    setSliderTip(sliderServiceMessage, sliderServiceMessage->GetValue());
    sliderMicrophone->SetValue(pref::getInt("volume.microphone2", 90));
    setSliderTip(sliderMicrophone, sliderMicrophone->GetValue());
    // The multicast group and port, in administrator mode only.
    if (administratorMode) {
        const std::wstring address = textSetting("multicast.address", kDefaultMulticastAddress);
        const int basePort = pref::getInt("multicast.basePort", 11990);
        const std::wstring shown = settings::shownGroup(
            address, device::streamPortOf(static_cast<std::uint16_t>(basePort), device::CHANNEL_DISCOVERY));
        if (!shown.empty()) multicastAddress->ChangeValue(shown);
        multicastBasePort->SetValue(basePort);
        multicastTtl->SetValue(pref::getInt("multicast.ttl", 1));
    } else {
        notebook->RemovePage(2);
        panelNetwork->Hide();
    }
    // Passwords show a filler; the lock time.
    for (wxTextCtrl* password : {passwordAdministrator, passwordPlaybackAlarm, passwordInterface})
        password->ChangeValue(settings::kPasswordFiller);
    interfaceTimeout->SetValue(pref::getInt("security.interfaceTimeout", 10));
    // The log level.
    const int level = settings::logLevelIndex(textSetting("debug.level", L"info"));
    if (level >= 0) logLevel->SetSelection(level);
    // The days of the log, and the level only in debug mode.
    fillLogDates();
    if (!debugMode) {
        labelLogLevel->Hide();
        logLevel->Hide();
    }
    panelPlace->Layout();
    panelEvents->Layout();
}

SettingsDialog::~SettingsDialog() {
    // A test whose stream already ended still holds the stream's objects and
    // its local monitor: both go, or the alarm channel could not use the
    // stream afterwards.
    stopCaptureTest();
}

void SettingsDialog::fillFolders() {
    const struct {
        const char* key;
        const wchar_t* name;
        wxTextCtrl* field;
    } folders[] = {
        {"place.pathDirGong", L"gong", textPathDirGong},
        {"place.pathDirServiceMessage", L"service", textPathDirServiceMessage},
        {"place.pathDirAlarmMessage", L"alarm", textPathDirAlarmMessage},
        {"place.pathDirRecordedMessage", L"record", textPathDirRecordedMessage},
    };
    for (const auto& folder : folders) {
        std::wstring path = pref::getString(folder.key);
        if (path.empty()) {
            path = services.dataFolder + L"/" + folder.name;
            std::wstring error;
            if (!settings::createFolder(path, error))
                LOG_WARN(L"Не удалось создать папку '%1%': %2%", path, error);
        }
        folder.field->ChangeValue(path);
    }
}

void SettingsDialog::installDefaultGong() {
    const std::wstring target = settings::defaultGongPath(text(textPathDirGong));
    if (settings::pathExists(target)) return;
    std::wstring error;
    if (!settings::copyFile(settings::shippedGongPath(services.applicationFolder), target, error))
        LOG_WARN(L"Гонг не найден! Ошибка: %1%", error);
    pref::setString("place.pathFileGong", settings::kDefaultGongName);
}

void SettingsDialog::fillGongList() {
    FRM_ASSERT_GUI_THREAD();
    if (!pref::getBool("mainWindow.alarmButtons", false)) return;
    pathFileGong->Clear();
    // The folder the operator sees in the field, which OK has not stored yet
    // after a new choice.
    std::vector<std::wstring> files = AlarmChannel::getGongFiles(text(textPathDirGong));
    std::sort(files.begin(), files.end());
    for (const std::wstring& file : files) pathFileGong->Append(getFileName(file, true));
    pathFileGong->Append(wxEmptyString);
    const int chosen = pathFileGong->FindString(pref::getString("place.pathFileGong"), true);
    pathFileGong->SetSelection(chosen);
    if (chosen == wxNOT_FOUND) LOG_DEBUG(L"Selection gong file not found.");
}

void SettingsDialog::fillCaptureDevices() {
    FRM_ASSERT_GUI_THREAD();
    captureDevices = services.captureDevices();
    recordDevice->Clear();
    int chosen = wxNOT_FOUND;
    for (const os::AudioCaptureDevice& device : captureDevices) {
        const int entry = recordDevice->Append(device.name);
        if (base::fromUtf8(device.alsaName) == recordDeviceName) chosen = entry;  // the later of equals stays
    }
    const int defaultEntry = recordDevice->Append(kDefaultCaptureDevice);
    recordDevice->SetSelection(chosen == wxNOT_FOUND ? defaultEntry : chosen);
}

void SettingsDialog::fillNetworkInterfaces() {
    const std::string savedIp = base::toUtf8(pref::getString("net.interfaceIp"));
    const std::wstring savedDescription = pref::getString("net.interfaceDescription");
    const std::vector<os::NetworkInterface> interfaces = services.networkInterfaces();
    const std::size_t chosen = os::chooseInterface(interfaces, savedIp, savedDescription);
    const std::string chosenIp = chosen < interfaces.size() ? interfaces[chosen].ip : std::string();
    for (const os::NetworkInterface& entry : interfaces) {
        const int index =
            networkInterface->Append(entry.description + L" [" + base::fromUtf8(entry.ip) + L"]",
                                     new InterfaceData(entry.description, entry.ip));
        LOG_DEBUG(L"interface pair is '%1%/%2%'", entry.description, entry.ip);
        if (entry.ip == chosenIp) {
            LOG_DEBUG(L"loaded interface pair is '%1%/%2%'", entry.description, entry.ip);
            networkInterface->SetSelection(index);
        }
    }
}

void SettingsDialog::fillLogDates() {
    FRM_ASSERT_GUI_THREAD();
    for (const std::wstring& date : logDates(services.logFolder)) log->Append(date);
    if (log->GetCount() > 0) log->SetSelection(static_cast<int>(log->GetCount()) - 1);
}

void SettingsDialog::fillLog() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"");
    if (log->GetSelection() == wxNOT_FOUND) {
        LOG_DEBUG(L"No log files found");
        return;
    }
    const std::wstring path = services.logFolder + L"/" + log->GetStringSelection().ToStdWstring() + L".log";
    LogFile file(path);
    switch (file.state()) {
        case LogFile::State::Missing:
            LOG_DEBUG(L"Log-file doesn't exist: %1%", path);
            return;
        case LogFile::State::Unreadable:
            LOG_WARN(L"Fail to load a log file '%1%'", path);
            return;
        case LogFile::State::TooLarge: {
            LOG_TRACE3(L"");
            const std::wstring note = L"Размер журнала имеет большую величину.\n" + path;
            logText->ChangeValue(note);
            LOG_DEBUG(L"%1%", note);
            return;
        }
        case LogFile::State::Ready:
            LOG_TRACE3(L"");
            logText->ChangeValue(L"Загрузка содержимого...");
            wxTheApp->Yield(true);
            logText->ChangeValue(file.read());
            return;
    }
}

bool SettingsDialog::chooseFolder(const wxString& caption, wxTextCtrl* field) {
    FRM_ASSERT_GUI_THREAD();
    const wxString chosen = ui::chooseDirectory(this, caption, wxEmptyString);
    if (chosen.empty() || !os::folderExists(chosen.ToStdWstring())) return false;
    field->ChangeValue(chosen);
    return true;
}

void SettingsDialog::setSliderTip(wxSlider* slider, int value) {
    FRM_ASSERT_GUI_THREAD();
    slider->SetToolTip(wxString::Format(L"%i%%", value));
}

void SettingsDialog::stopCaptureTest() {
    if (!captureTestRunning) return;
    testStream->stream_close();
    testStream->set_local_monitor(false);
    testStream = nullptr;
    captureTestRunning = false;
    buttonPlay->SetLabel(kPlay);
}

void SettingsDialog::close(int code) {
    if (IsModal()) {
        EndModal(code);
    } else {
        SetReturnCode(code);
        Hide();
    }
}

// ---- handlers -----------------------------------------------------------------

void SettingsDialog::onNotebookPageChanged(wxBookCtrlEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::onNotebookPageChanged");
    const int page = event.GetSelection();
    if (page != wxNOT_FOUND && notebook->GetPage(static_cast<std::size_t>(page)) == panelEvents) fillLog();
    event.Skip();
}

void SettingsDialog::pathDirGongOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::pathDirGongOnButtonClick");
    if (chooseFolder(L"Каталог для файлов 'Гонг'", textPathDirGong)) fillGongList();
}

void SettingsDialog::pathDirServiceMessageOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::pathDirServiceMessageOnButtonClick");
    chooseFolder(L"Каталог для файлов 'Служебные сообщения'", textPathDirServiceMessage);
}

void SettingsDialog::pathDirAlarmMessageOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::pathDirAlarmMessageOnButtonClick");
    chooseFolder(L"Каталог для файлов 'Тревожные оповещения'", textPathDirAlarmMessage);
}

void SettingsDialog::pathDirRecordedMessageOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::pathDirRecordedMessageOnButtonClick");
    chooseFolder(L"Каталог для файлов 'Записанные сообщения'", textPathDirRecordedMessage);
}

void SettingsDialog::sliderOnScroll(wxScrollEvent& event) {
    if (auto* slider = dynamic_cast<wxSlider*>(event.GetEventObject()))
        setSliderTip(slider, event.GetPosition());
    event.Skip();
}

void SettingsDialog::buttonPlayOnButtonClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::buttonPlayOnButtonClick");
    const wxString label = buttonPlay->GetLabel();
    if (label == kStop) {
        stopCaptureTest();
        return;
    }
    if (label != kPlay) return;
    mp3streamf* stream = services.streamer();
    if (stream == nullptr) {
        LOG_DEBUG(L"no notification stream");
        return;
    }
    // A stream whose objects still exist, running or not, is another's.
    if (stream->is_stream() || !stream->set_read_mode(mp3streamf::READ_MICROPHONE)) {
        LOG_NOTICE(L"Модуль занят");
        return;
    }
    const int chosen = recordDevice->GetSelection();
    const std::wstring name = chosen >= 0 && static_cast<std::size_t>(chosen) < captureDevices.size()
                                  ? base::fromUtf8(captureDevices[static_cast<std::size_t>(chosen)].alsaName)
                                  : std::wstring();
    stream->set_local_monitor(true);
    stream->set_microphone_name(name);
    stream->stream_create();
    testStream = stream;
    captureTestRunning = true;
    buttonPlay->SetLabel(kStop);
}

void SettingsDialog::logOnChoice(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::logOnChoice");
    fillLog();
}

void SettingsDialog::buttonOkOnClick(wxCommandEvent&) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::buttonOkOnClick");
    // The address and the numbers first: a refused one must leave every
    // setting as it was, since the dialog stays open and may yet be cancelled.
    // Each is refused as every typed text is (refuseTypedText): a notice
    // beside the dialog, the field shown. The address's error stays in the log.
    if (administratorMode && !settings::isMulticastAddressText(text(multicastAddress))) {
        LOG_WITHOUT_NOTICE(base::Log::ERROR, L"Ошибка при вводе ip адреса");
        refuseTypedText(settings::addressRefusal(L"IP Мультикаст-вещания", text(multicastAddress)),
                        *multicastAddress);
        return;
    }
    std::optional<int> ttl, basePort;
    if (administratorMode) {
        ttl = takeNumber(*multicastTtl, L"Время жизни мультикаста (TTL)");
        if (!ttl) return;
        basePort = takeNumber(*multicastBasePort, L"Базовый порт");
        if (!basePort) return;
    }
    const std::optional<int> timeout = takeNumber(*interfaceTimeout, L"Время до блокировки интерфейса");
    if (!timeout) return;

    const std::pair<const char*, wxTextCtrl*> folders[] = {
        {"place.pathDirGong", textPathDirGong},
        {"place.pathDirServiceMessage", textPathDirServiceMessage},
        {"place.pathDirAlarmMessage", textPathDirAlarmMessage},
        {"place.pathDirRecordedMessage", textPathDirRecordedMessage},
    };
    for (const auto& folder : folders)
        pref::setString(folder.first, settings::pathExists(text(folder.second)) ? text(folder.second) : L"");

    if (pref::getBool("mainWindow.alarmButtons", false))
        pref::setString("place.pathFileGong", pathFileGong->GetStringSelection().ToStdWstring());

    setInt("volume.serviceMessage2", sliderServiceMessage->GetValue());
    setInt("volume.microphone2", sliderMicrophone->GetValue());

    const int device = recordDevice->GetSelection();
    if (device != wxNOT_FOUND) {
        recordDeviceName = static_cast<std::size_t>(device) < captureDevices.size()
                               ? base::fromUtf8(captureDevices[static_cast<std::size_t>(device)].alsaName)
                               : std::wstring();
        pref::setString("record.deviceName", recordDeviceName);
    }

    if (administratorMode) {
        LOG_DEBUG(L"save admin settings");
        const int chosen = networkInterface->GetSelection();
        if (chosen >= 0 && static_cast<unsigned>(chosen) < networkInterface->GetCount()) {
            LOG_DEBUG(L"selected interface number is %1%", chosen);
            if (const auto* data = dynamic_cast<InterfaceData*>(networkInterface->GetClientObject(chosen))) {
                pref::setString("net.interfaceDescription", data->description);
                pref::setString("net.interfaceIp", base::fromUtf8(data->ip));
                LOG_DEBUG(L"saved interface pair is '%1%/%2%'", data->description, data->ip);
            } else {
                LOG_ERROR(L"data of interface address is null (choice is %1%)", chosen);
            }
        }
        pref::setString("multicast.address", text(multicastAddress));
        setInt("multicast.basePort", *basePort);
        setInt("multicast.ttl", *ttl);
    } else {
        LOG_DEBUG(L"skip admin settings");
    }

    storePasswords();

    if (pref::getInt("security.interfaceTimeout", 10) != *timeout) {
        setInt("security.interfaceTimeout", *timeout);
        LOG_INFO(L"Установлено время до блокировки интерфейса = %1% мин", *timeout);
    }

    pref::setString("debug.level", logLevel->GetStringSelection().ToStdWstring());
    close(wxID_OK);
}

void SettingsDialog::storePasswords() {
    const struct {
        const char* key;
        wxTextCtrl* password;
        wxTextCtrl* repeat;
        const wchar_t* box;
        const wchar_t* changed;
        const wchar_t* mismatch;
    } pairs[] = {
        {"security.administrator", passwordAdministrator, passwordAdministratorRepeat,
         L"Пароль администратора", L"Изменен пароль администратора",
         L"Пароль администратора не сохранён (введён разный)"},
        {"security.playbackAlarm", passwordPlaybackAlarm, passwordPlaybackAlarmRepeat,
         L"Пароль для воспроизведения тревог", L"Изменен пароль для воспроизведения тревог",
         L"Пароль для воспроизведения тревог не сохранён (введён разный)"},
        {"security.interface", passwordInterface, passwordInterfaceRepeat,
         L"Пароль для блокирования интерфейса", L"Изменен пароль для блокировки интерфейса",
         L"Пароль для блокирования интерфейса не сохранён (введён разный)"},
    };
    for (const auto& pair : pairs) {
        const settings::PasswordChange change =
            settings::passwordChange(text(pair.password), text(pair.repeat));
        switch (change.kind) {
            case settings::PasswordChange::Keep:
                break;
            case settings::PasswordChange::Store:
                pref::setString(pair.key, change.stored);
                LOG_INFO(pair.changed);
                break;
            case settings::PasswordChange::Mismatch:
                LOG_NOTICE(pair.mismatch);
                break;
            case settings::PasswordChange::Refused:
                LOG_NOTICE(L"%1%: %2%", pair.box, change.details);
                break;
        }
    }
}

void SettingsDialog::buttonCancelOnClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SettingsDialog::buttonCancelOnClick");
    close(wxID_CANCEL);
}

}  // namespace frm
