#include "gui/source_microphone_panel.h"

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>
#include <functional>

#include "audio/alarm_channel.h"
#include "audio/playback.h"
#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/orvel_info.h"
#include "gui/gui_thread.h"
#include "gui/item_data_map.h"
#include "gui/message_kinds.h"
#include "gui/recorded_messages.h"
#include "gui/scheduler_checks.h"
#include "gui/ui.h"

namespace frm {

namespace {

namespace fs = boost::filesystem;

const wchar_t* const kCaption = L"Сообщение";
const wchar_t* const kStart = L"Старт";
const wchar_t* const kStop = L"Стоп";
const wchar_t* const kRecordMask = L"*.mp3";
// Every broadcast of this page, live or recorded, runs at this priority.
const int kPriority = 2;
enum { kMicrophoneSource = 0, kListSource = 1 };
/// The page's own notices beside the channel's codes: its launch was
/// refused, its stop has returned.
constexpr int kRefused = -1;
constexpr int kStopDone = -2;

/// A refusal or an error of the page, in a box without a parent.
void tell(const std::wstring& text, const wchar_t* caption = kCaption) {
    ui::messageBox(text, caption, wxOK | wxCENTRE);
}

void setBool(const char* key, bool value) {
    if (g_pref == nullptr) return;
    pref::Guard guard(g_pref);
    pref::create(g_pref, key, pref::Type::TypeBoolean) = value;
}

bool pathExists(const std::wstring& path) {
    boost::system::error_code error;
    return fs::exists(base::toUtf8(path), error);
}

/// The recorded-message folder exists, made (one level) when it was missing.
bool folderReady(const std::wstring& folder) {
    boost::system::error_code error;
    const fs::path path(base::toUtf8(folder));
    if (fs::is_directory(path, error)) return true;
    fs::create_directory(path, error);
    return !error && fs::is_directory(path, error);
}

}  // namespace

SourceMicrophonePanel::SourceMicrophonePanel(wxWindow* parent, ItemDataMap* registry,
                                             AlarmStateDisplay showAlarmState, scheduler::Core& core)
    : fb::SourceMicrophonePanel(parent, wxID_ANY, wxDefaultPosition, wxSize(941, 589), wxTAB_TRAVERSAL),
      m_registry(registry),
      m_showAlarmState(std::move(showAlarmState)),
      m_core(core),
      m_alive(std::make_shared<SourceMicrophonePanel*>(this)) {
    FRM_ASSERT_GUI_THREAD();
    listCtrlRecord->SetWindowStyleFlag(wxLC_REPORT | wxLC_NO_HEADER | wxLC_HRULES);
    listCtrlRecord->InsertColumn(0, L"Record Playlist", wxLIST_FORMAT_LEFT, 1000);
    // The layout's sample name would be saved as a name if left as text.
    recordName->SetHint(recordName->GetValue());
    recordName->ChangeValue(wxEmptyString);
    gongEnable->SetValue(pref::getBool("record.gongEnable", false));
    enableGongControls();
    m_savedBroadcast = broadcastTicked();
    m_savedRecord = recordTicked();
}

SourceMicrophonePanel::~SourceMicrophonePanel() {
    LOG_TRACE3(L"%1%", L"frm::SourceMicrophonePanel::~SourceMicrophonePanel");
    m_alive.reset();
    m_serviceMessageUsed = nullptr;
    m_alarmMessageUsed = nullptr;
    m_gongFiles.clear();
}

void SourceMicrophonePanel::setMessageUseTests(MessageUseTest service, MessageUseTest alarm) {
    m_serviceMessageUsed = std::move(service);
    m_alarmMessageUsed = std::move(alarm);
}

std::wstring SourceMicrophonePanel::recordDirectory() { return recordedMessageFolder(); }

bool SourceMicrophonePanel::broadcastTicked() const { return checkBoxBroadcast->GetValue(); }
bool SourceMicrophonePanel::recordTicked() const { return checkBoxRecord->GetValue(); }
long SourceMicrophonePanel::firstSelectedRow() const {
    // Asked row by row: the list's own count of selected rows can be stale.
    return listCtrlRecord->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

bool SourceMicrophonePanel::listSource() const { return radioBoxRecordSource->GetSelection() == kListSource; }

// ---- the record list and the gong choice ----------------------------------------------------

void SourceMicrophonePanel::fillRecordList(const std::wstring& folder) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::fillRecordList");
    listCtrlRecord->DeleteAllItems();
    for (const std::wstring& file : getFilesByMask(false, folder, kRecordMask))
        listCtrlRecord->InsertItem(listCtrlRecord->GetItemCount(), getFileName(file, true));
    deleteRecord->Disable();
}

std::vector<boost::shared_ptr<IPlayback>> SourceMicrophonePanel::loadRecords() {
    std::vector<boost::shared_ptr<IPlayback>> records;
    for (const std::wstring& file : getFilesByMask(false, recordDirectory(), kRecordMask)) {
        const std::wstring name = getFileName(file, true);
        // The alarm flag: a recording plays on the alarm channel at the
        // microphone's volume.
        auto track = boost::make_shared<PlaybackTrack>(name, kRecordedMessage, true);
        track->setMessage(name, file);
        records.push_back(track);
    }
    return records;
}

void SourceMicrophonePanel::fillGongChoice() {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::fillGongChoice");
    gong->Clear();
    m_gongFiles = AlarmChannel::getGongFiles();
    for (const std::wstring& file : m_gongFiles) gong->Append(getFileName(file, true));
    const int chosen = gong->FindString(pref::getString("record.gongFileName"), true);
    if (chosen == wxNOT_FOUND)
        LOG_DEBUG(L"%1%", L"Selection gong file not found");
    else
        gong->SetSelection(chosen);
    // The names decide the choice's width.
    gong->InvalidateBestSize();
    controlPanel->InvalidateBestSize();
    controlPanel->Layout();
    Layout();
}

// ---- start and stop -------------------------------------------------------------------------

void SourceMicrophonePanel::buttonStartAndStopOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::buttonStartAndStopOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    pref::setString("record.gongFileName", gong->GetStringSelection().ToStdWstring());
    setBool("record.gongEnable", gongEnable->GetValue());

    if (buttonStartAndStop->GetLabel() != kStart) {
        m_recordReady = recordTicked();
        stopBroadcast();
        return;
    }
    if (!CheckSelectedElements()) return;

    AlarmChannel* const channel = AlarmChannel::instance();
    bool interrupt = false;
    if (channel != nullptr && channel->isRunning()) {
        if (channel->getPriority() <= kPriority)
            interrupt = ui::askYesNo(
                L"Канал занят. Описание: '" + channel->getDescription() + L"'\nПрервать?", kCaption);
        else
            tell(L"Канал занят.");
        if (!interrupt) return;
    }
    if (channel == nullptr) {
        if (m_showAlarmState) m_showAlarmState(L"");
        return;
    }

    std::wstring gongPath;
    if (pref::getBool("record.gongEnable", false) && broadcastTicked()) {
        const int chosen = gong->GetSelection();
        if (chosen >= 0 && static_cast<std::size_t>(chosen) < m_gongFiles.size())
            gongPath = m_gongFiles[chosen];
    }

    const unsigned run = ++m_run;
    const std::weak_ptr<SourceMicrophonePanel*> alive = m_alive;
    const AlarmChannel::Callback callback = [alive, run](int code) { deliverNotice(alive, run, code); };
    std::wstring record;
    std::wstring message;
    const int source = radioBoxRecordSource->GetSelection();
    bool recordOnly = false;
    if (source == kListSource) {
        const long row = firstSelectedRow();
        message = row < 0 ? std::wstring()
                          : recordDirectory() + listCtrlRecord->GetItemText(row).ToStdWstring() + L".mp3";
    } else if (source == kMicrophoneSource) {
        if (recordTicked()) record = temporaryRecordPath();
        recordOnly = recordTicked() && !broadcastTicked();
    } else {
        if (m_showAlarmState) m_showAlarmState(L"");
        return;
    }
    const int volume = pref::getInt("volume.microphone2", 90);

    // The stop and the launch talk to the loudspeakers: the channel's
    // request thread runs them, and the page shows the broadcast at once and
    // a refusal when it comes.
    channel->hand([channel, interrupt, source, recordOnly, message, gongPath, record, volume, callback, alive,
                   run] {
        if (interrupt) channel->stop(AlarmChannel::Callback());
        bool launched = false;
        if (source == kListSource) {
            launched = AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag{}, kPriority,
                                                                L"Вещание сообщения (микрофон)", message,
                                                                gongPath, volume, callback);
        } else if (recordOnly) {
            // What launchWithoutDevices starts, with the page's notices: a
            // recording stopped or replaced elsewhere must bring the page
            // back, or its "Стоп" would later stop another page's notice.
            launched = channel->launch(AlarmChannel::kMicrophone, false, DeviceSet(), L"", L"", record, kPriority,
                                       100, L"Запись с микрофона", callback, false);
        } else {
            launched = AlarmChannel::launchSelected(AlarmChannel::Tag{}, kPriority, L"Вещание с микрофона",
                                                    gongPath, record, volume, callback);
        }
        if (!launched) deliverNotice(alive, run, kRefused);
    });

    m_running = true;
    m_runRecords = !record.empty();
    if (m_runRecords) m_recordPath = record;
    controlPanel->Disable();
    listCtrlRecord->Disable();
    deleteRecord->Disable();
    buttonStartAndStop->SetLabel(kStop);
    if (m_showAlarmState) m_showAlarmState(L"Запущено");
}

void SourceMicrophonePanel::stopBroadcast() {
    FRM_ASSERT_GUI_THREAD();
    const unsigned run = m_run.load();
    if (AlarmChannel* channel = AlarmChannel::instance()) {
        // The recording is whole once the stop has closed the stream: it
        // can be saved from then on.
        const std::weak_ptr<SourceMicrophonePanel*> alive = m_alive;
        channel->hand([channel, alive, run] {
            channel->stop(AlarmChannel::Callback());
            deliverNotice(alive, run, kStopDone);
        });
    }
    if (m_showAlarmState) m_showAlarmState(L"");
    EnableRecordPanels();
    if (AlarmChannel::instance() != nullptr) buttonRecordSave->Disable();
}

void SourceMicrophonePanel::EnableRecordPanels() {
    FRM_ASSERT_GUI_THREAD();
    m_running = false;
    buttonStartAndStop->SetLabel(kStart);
    controlPanel->Enable();
    listCtrlRecord->Enable();
    deleteRecord->Enable(firstSelectedRow() >= 0);
    if (recordTicked()) buttonRecordSave->Enable(m_recordReady);
}

void SourceMicrophonePanel::handlerNoticeCallack(int code) { deliverNotice(m_alive, m_run.load(), code); }

void SourceMicrophonePanel::deliverNotice(const std::weak_ptr<SourceMicrophonePanel*>& alive, unsigned run,
                                          int code) {
    if (!wxIsMainThread()) {
        if (GuiThreadInvoker::isActive())
            GuiThreadInvoker::add([alive, run, code] { deliverNotice(alive, run, code); });
        return;
    }
    if (const auto panel = alive.lock()) (*panel)->notice(run, code);
}

void SourceMicrophonePanel::notice(unsigned run, int code) {
    FRM_ASSERT_GUI_THREAD();
    LOG_TRACE(L"%1%(%2%)", L"frm::SourceMicrophonePanel::handlerNoticeCallack", code);
    if (code == kStopDone) {
        if (run == m_run && !m_running && recordTicked()) buttonRecordSave->Enable(m_recordReady);
        return;
    }
    // A notice of an earlier broadcast, or one that comes after the page
    // stopped its own, would stop or relabel what runs now.
    if (run != m_run || !m_running) return;
    switch (code) {
        case kRefused:
            // Nothing ran: the page is back as it was before the start.
            if (m_showAlarmState) m_showAlarmState(L"");
            EnableRecordPanels();
            break;
        case AlarmChannel::kMessageEnded:
            stopBroadcast();
            break;
        case AlarmChannel::kReplaced:
        case AlarmChannel::kStopped:
            // Stopped elsewhere: the channel is already idle, and what was
            // recorded up to here can still be saved.
            if (m_runRecords) m_recordReady = true;
            if (m_showAlarmState) m_showAlarmState(L"");
            EnableRecordPanels();
            break;
        default:
            break;
    }
}

// ---- the pre-flight check -------------------------------------------------------------------

bool SourceMicrophonePanel::CheckSelectedElements() {
    FRM_ASSERT_GUI_THREAD();
    const bool list = listSource();
    LOG_INFO(list ? L"a source is list" : L"a source is a microphone");
    const auto refuse = [](const wchar_t* line, const wchar_t* text) {
        LOG_INFO(line);
        tell(text);
        return false;
    };
    const bool broadcast = broadcastTicked();
    if (!broadcast && !recordTicked())
        return refuse(L"type of translation is not selected", L"Выберите один из способов передачи");
    if (list) {
        const bool chosen = firstSelectedRow() >= 0;
        if (!chosen)
            return refuse(L"message for playing isn't selected", L"Выберите сообщение для проигрывания");
        if (recordTicked())
            return refuse(L"a record is forbidden",
                          L"При проигрывании сообщения из списка, запись невозможна");
    }
    if (broadcast) {
        const DeviceSet devices =
            m_registry != nullptr ? m_registry->getSelectedDevicesAndZones() : DeviceSet();
        if (devices.empty()) return refuse(L"devices were not selected", L"Не выбрано ни одного устройства");
        const bool online = std::any_of(devices.begin(), devices.end(),
                                        [](const auto& device) { return device->isOnlineAndAnswered(); });
        if (!online) return refuse(L"all devices are offline", L"Не выбрано ни одного устройства в сети");
        if (gongEnable->GetValue()) {
            const int chosen = gong->GetSelection();
            if (chosen < 0) return refuse(L"here needs a gong", L"Выберите гонг");
            if (static_cast<std::size_t>(chosen) >= m_gongFiles.size()) {
                dbg_puts(ERROR, "Internal error. Gong index outside the range. (%i of %u)", chosen,
                         static_cast<unsigned>(m_gongFiles.size()));
                return false;
            }
        }
    }
    LOG_INFO(L"the check is successful");
    return true;
}

// ---- check boxes and the source -------------------------------------------------------------

void SourceMicrophonePanel::enableGongControls() {
    gongEnable->Enable(broadcastTicked());
    gong->Enable(broadcastTicked() && gongEnable->GetValue());
}

void SourceMicrophonePanel::checkBoxBroadcastOnCheckBox(wxCommandEvent&) { checkBoxTranslationOnCheckBox(); }

void SourceMicrophonePanel::checkBoxTranslationOnCheckBox() {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::checkBoxTranslationOnCheckBox");
    FRM_ASSERT_GUI_THREAD();
    enableGongControls();
}

void SourceMicrophonePanel::checkBoxRecordOnCheckBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::checkBoxRecordOnCheckBox");
    FRM_ASSERT_GUI_THREAD();
    recordName->Enable(recordTicked());
    m_recordReady = false;
    buttonRecordSave->Disable();
}

void SourceMicrophonePanel::gongOnChoice(wxCommandEvent&) { checkBoxGongOnCheckBox(); }

void SourceMicrophonePanel::checkBoxGongOnCheckBox() {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::checkBoxGongOnCheckBox");
    FRM_ASSERT_GUI_THREAD();
    enableGongControls();
    fillGongChoice();
}

void SourceMicrophonePanel::radioBoxRecordSourceOnRadioBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::radioBoxRecordSourceOnRadioBox");
    FRM_ASSERT_GUI_THREAD();
    const bool list = listSource();
    if (list && !m_listChosen) {
        m_savedBroadcast = broadcastTicked();
        m_savedRecord = recordTicked();
        checkBoxRecord->SetValue(false);
        checkBoxBroadcast->SetValue(true);
    } else if (!list && m_listChosen) {
        checkBoxBroadcast->SetValue(m_savedBroadcast);
        checkBoxRecord->SetValue(m_savedRecord);
    }
    m_listChosen = list;
    checkBoxRecord->Enable(!list);
    checkBoxBroadcast->Enable(!list);
    recordName->Enable(!list && recordTicked());
    enableGongControls();
    m_recordReady = false;
    buttonRecordSave->Disable();
}

// ---- saving a recording ---------------------------------------------------------------------

void SourceMicrophonePanel::buttonRecordSaveOnClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::buttonRecordSaveOnClick");
    FRM_ASSERT_GUI_THREAD();
    const std::wstring name = recordName->GetValue().ToStdWstring();
    if (!recordTicked()) {
        LOG_NOTICE(L"Запись не активна");
        return;
    }
    if (name.empty()) {
        tell(L"Введите название записи");
        return;
    }
    // The name becomes a file name in the folder: nothing that leads out of it.
    if (!isSafeRecordName(name)) {
        tell(L"Недопустимое название записи");
        return;
    }
    const std::wstring folder = recordDirectory();
    if (!folderReady(folder)) {
        tell(L"Не верно указана папка назначения.");
        return;
    }
    const std::wstring target = folder + name + L".mp3";
    if (pathExists(target)) {
        tell(
            L"Файл с таким именем уже сущетвует.\nЕсли необходимо заменить запись, удалите старую (кнопка "
            L"delete на клавиатуре).",
            L"Внимание!");
        return;
    }
    const std::wstring source = m_recordPath.empty() ? temporaryRecordPath() : m_recordPath;
    if (!recordingHasAudio(source)) {
        // No capture device gave sound: there is nothing to keep or to list.
        LOG_DEBUG(L"record without audio not saved: '%1%'", source);
        m_recordReady = false;
        buttonRecordSave->Disable();
        tell(L"Запись не содержит звука и не сохранена. Проверьте, что микрофон подключён и работает.");
        return;
    }
    if (!moveRecording(source, target)) {
        tell(L"Не удалось сохранить запись");
        return;
    }
    LOG_DEBUG(L"record saved: '%1%'", target);
    listCtrlRecord->InsertItem(listCtrlRecord->GetItemCount(), name);
    m_recordReady = false;
    buttonRecordSave->Disable();
    recordName->ChangeValue(wxEmptyString);
}

// ---- deleting recordings --------------------------------------------------------------------

void SourceMicrophonePanel::deleteOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::deleteOnButtonClick");
    deleteSelectedItems();
}

void SourceMicrophonePanel::deleteSelectedItems() {
    FRM_ASSERT_GUI_THREAD();
    std::vector<long> rows;
    for (long row = listCtrlRecord->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
         row = listCtrlRecord->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        rows.push_back(row);
    // From the bottom up, so that a deleted row does not move the others.
    std::sort(rows.rbegin(), rows.rend());
    const std::wstring folder = recordDirectory();
    for (const long row : rows) {
        const std::wstring path = folder + listCtrlRecord->GetItemText(row).ToStdWstring() + L".mp3";
        const std::wstring name = getFileName(path, true);
        debug::terminateIfNull(m_serviceMessageUsed, "frm::SourceMicrophonePanel::deleteSelectedItems");
        debug::terminateIfNull(m_alarmMessageUsed, "frm::SourceMicrophonePanel::deleteSelectedItems");
        const bool service = m_serviceMessageUsed(path);
        if (service || m_alarmMessageUsed(path)) {
            LOG_NOTICE(L"Невозможно удалить сообщение '%1%', т.к. используется в %2% оповещениях", name,
                       service ? L"служебных" : L"тревожных");
            continue;
        }
        if (scheduler::isUsed(m_core, path)) {
            LOG_NOTICE(L"Невозможно удалить сообщение '%1%', т.к. входит в задание", name);
            continue;
        }
        boost::system::error_code error;
        fs::remove(base::toUtf8(path), error);
        if (error) {
            LOG_WARN(L"Не удалось удалить запись '%1%'", path);
            continue;
        }
        // Deselected first: the list's count of selected rows would keep it.
        listCtrlRecord->SetItemState(row, 0, wxLIST_STATE_SELECTED);
        listCtrlRecord->DeleteItem(row);
    }
    for (long row = 0; row < listCtrlRecord->GetItemCount(); ++row)
        listCtrlRecord->SetItemState(row, 0, wxLIST_STATE_SELECTED);
    deleteRecord->Disable();
}

// ---- the record list ------------------------------------------------------------------------

void SourceMicrophonePanel::listCtrlRecordKeyUp(wxKeyEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::listCtrlRecordKeyUp");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    if (event.GetKeyCode() == WXK_DELETE) {
        deleteSelectedItems();
    } else if (event.GetKeyCode() == 'A' && event.ControlDown()) {
        for (long row = 0; row < listCtrlRecord->GetItemCount(); ++row)
            listCtrlRecord->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        deleteRecord->Enable(listCtrlRecord->GetItemCount() > 0);
    }
}

void SourceMicrophonePanel::listCtrlRecordOnListItemSelected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::listCtrlRecordOnListItemSelected");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    deleteRecord->Enable(!m_running);
}

void SourceMicrophonePanel::listCtrlRecordOnListItemDeselected(wxListEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceMicrophonePanel::listCtrlRecordOnListItemDeselected");
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    deleteRecord->Enable(!m_running && firstSelectedRow() >= 0);
}

}  // namespace frm
