#include "gui/source_service_panel.h"

#include <boost/make_shared.hpp>
#include <boost/property_tree/ptree.hpp>

#include "audio/alarm_channel.h"
#include "audio/playback.h"
#include "audio/player_channel.h"
#include "audio/player_engine.h"
#include "audio/playlist.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/storage.h"
#include "gui/gui_thread.h"
#include "gui/icons.h"
#include "gui/message_kinds.h"
#include "gui/scheduler_checks.h"
#include "gui/scheduler_control.h"
#include "gui/ui.h"
#include "os/data_directory.h"

namespace frm {

namespace {

enum Action { kCreateGroup = 0, kAddMessage = 1, kDeleteSelected = 2 };

const wchar_t* const kActionLabels[] = {L"Создать группу", L"Добавить сообщение", L"Удалить выделенное"};

/// The alarm page's notices run at this priority and volume.
const int kAlarmPriority = 3;
const int kAlarmVolume = 100;
/// A notice of this priority is never stopped from the page.
const int kUnstoppablePriority = 4;

std::wstring withoutTrailingSlash(std::wstring folder) {
    while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
    return folder;
}

}  // namespace

SourceServicePanel::Outside SourceServicePanel::Outside::system() {
    Outside outside;
    outside.fileMasks = [] {
        // Without an engine (a window built for a test) the messages are MP3.
        return g_player_engine != nullptr ? g_player_engine->getFileFilter(true) : std::wstring(L"*.mp3");
    };
    outside.gongFiles = [] { return AlarmChannel::getGongFiles(); };
    outside.dataFolder = os::getUserDataDirectory();
    return outside;
}

SourceServicePanel::SourceServicePanel(wxWindow* parent, ISchedulerControl* scheduler,
                                       const scheduler::Core* core, bool alarm, Outside outside)
    : fb::SourceServicePanel(parent, wxID_ANY, wxDefaultPosition, wxSize(937, 579), wxTAB_TRAVERSAL),
      m_alarm(alarm),
      m_scheduler(scheduler),
      m_core(core),
      m_outside(std::move(outside)) {
    FRM_ASSERT_GUI_THREAD();
    m_root = messageTree->AddRoot(wxEmptyString);
    play->SetBitmap(loadSvgBitmap(1));
    stop->SetBitmap(loadSvgBitmap(3));
    namePanel->Show();
    filePanel->Hide();
    execute->SetLabel(kActionLabels[kCreateGroup]);
    Layout();
    Refresh();
}

SourceServicePanel::~SourceServicePanel() {
    LOG_TRACE(L"%1%", L"frm::SourceServicePanel::~SourceServicePanel");
}

// ---- choices -----------------------------------------------------------------------

void SourceServicePanel::refreshChoices() {
    fillGongChoice();
    scanMessageDirectories();
}

void SourceServicePanel::fillGongChoice() {
    FRM_ASSERT_GUI_THREAD();
    gong->Clear();
    m_gongs = m_outside.gongFiles ? m_outside.gongFiles() : std::vector<std::wstring>();
    m_gongs.insert(m_gongs.begin(), std::wstring());
    for (const std::wstring& path : m_gongs) gong->Append(getFileName(path, true));
}

void SourceServicePanel::scanMessageDirectories() {
    FRM_ASSERT_GUI_THREAD();
    message->Clear();
    m_messages.clear();
    listMessages(messageFolder(m_alarm, m_outside.dataFolder));
    listMessages(recordFolder());
}

void SourceServicePanel::listMessages(const std::wstring& folder) {
    const std::wstring masks = m_outside.fileMasks ? m_outside.fileMasks() : std::wstring(L"*.mp3");
    for (const std::wstring& path : getFilesByMask(false, folder, masks)) {
        message->Append(getFileName(path, true));
        m_messages.push_back(path);
    }
}

std::wstring SourceServicePanel::recordFolder() const {
    std::wstring folder = m_outside.recordFolder ? m_outside.recordFolder() : std::wstring();
    if (folder.empty()) folder = recordedMessageFolder(m_outside.dataFolder);
    return withoutTrailingSlash(folder);
}

// ---- actions -----------------------------------------------------------------------

void SourceServicePanel::actionOnRadioBox(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceServicePanel::actionOnRadioBox");
    FRM_ASSERT_GUI_THREAD();
    const int chosen = action->GetSelection();
    if (chosen >= 3) {
        LOG_WARN(L"Unknown action N'%1%'", chosen);
        return;
    }
    showAction(chosen);
}

void SourceServicePanel::showAction(int chosen) {
    FRM_ASSERT_GUI_THREAD();
    switch (chosen) {
        case kCreateGroup:
            namePanel->Show();
            filePanel->Hide();
            break;
        case kAddMessage:
            fillGongChoice();
            scanMessageDirectories();
            namePanel->Show();
            filePanel->Show();
            break;
        case kDeleteSelected:
            namePanel->Hide();
            filePanel->Hide();
            break;
        default:
            return;
    }
    execute->SetLabel(kActionLabels[chosen]);
    Layout();
    Refresh();
}

void SourceServicePanel::executeOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceServicePanel::executeOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const int chosen = action->GetSelection();
    switch (chosen) {
        case kCreateGroup:
            createGroup();
            break;
        case kAddMessage:
            addMessage();
            break;
        case kDeleteSelected:
            deleteSelected();
            break;
        default:
            LOG_WARN(L"Неизвестное действие №'%1%'", chosen);
            break;
    }
}

void SourceServicePanel::createGroup() {
    const std::wstring text = name->GetValue().ToStdWstring();
    wxTreeItemIdValue cookie;
    for (wxTreeItemId child = messageTree->GetFirstChild(m_root, cookie); child.IsOk();
         child = messageTree->GetNextChild(m_root, cookie)) {
        const ItemData* data = getItemData(child);
        if (data != nullptr && data->name == text) {
            ui::messageBox(L"Одинаковое название группы", L"Внимание", wxOK, this);
            return;
        }
    }
    if (text.empty()) {
        ui::messageBox(L"Введите название группы", L"Сообщение", wxOK, this);
        return;
    }
    messageTree->AppendItem(m_root, text, -1, -1, new ItemData(kMessageGroup, text, L"", L""));
    name->Clear();
}

void SourceServicePanel::addMessage() {
    const std::wstring text = name->GetValue().ToStdWstring();
    if (text.empty()) {
        ui::messageBox(L"Введите название сообщения", L"Сообщение", wxOK, this);
        return;
    }
    const wxTreeItemId group = selectedItem();
    if (!group.IsOk()) {
        ui::messageBox(L"Выделите группу", L"Сообщение", wxOK, this);
        return;
    }
    if (messageTree->GetItemParent(group) != m_root) {
        ui::messageBox(L"Необходимо выделить группу", L"Сообщение", wxOK, this);
        return;
    }
    if (message->GetSelection() == wxNOT_FOUND) {
        ui::messageBox(L"Необходимо выбрать сообщение", L"Сообщение", wxOK, this);
        return;
    }
    const ItemData* data = getItemData(group);
    if (data == nullptr || data->type != kMessageGroup) {
        LOG_ERROR(L"It is incorrect data or type of item");
        return;
    }

    const std::wstring title = data->name + L": " + text;
    for (const auto& track : collectTracks())
        if (track->getName() == title) {
            ui::messageBox(L"Одинаковое название в группе", L"Внимание", wxOK, this);
            return;
        }

    std::wstring gongPath;
    const int gongAt = gong->GetSelection();
    if (gongAt != wxNOT_FOUND) {
        if (static_cast<std::size_t>(gongAt) < m_gongs.size())
            gongPath = m_gongs[static_cast<std::size_t>(gongAt)];
        else
            LOG_WARN(L"Internal error. Position gong outside the range. %1% of %2%", gongAt, m_gongs.size());
    }
    std::wstring messagePath;
    const int messageAt = message->GetSelection();
    if (static_cast<std::size_t>(messageAt) < m_messages.size())
        messagePath = m_messages[static_cast<std::size_t>(messageAt)];
    else
        LOG_WARN(L"Internal error. Position message outside the range. %1% of %2%", messageAt,
                 m_messages.size());

    messageTree->AppendItem(group, text, -1, -1, new ItemData(kMessageItem, text, gongPath, messagePath));
    messageTree->Expand(group);
    name->Clear();
}

void SourceServicePanel::deleteSelected() {
    const wxTreeItemId item = selectedItem();
    const ItemData* data = item.IsOk() ? getItemData(item) : nullptr;
    if (data == nullptr) {
        LOG_DEBUG(L"%1%", L"There is no selection to delete an action");
        return;
    }
    const wchar_t* const inTask = L"Выбранная единица воспроизведения входит в задание";
    if (data->type == kMessageItem) {
        if (m_scheduler != nullptr && m_scheduler->existPlaylist(trackTitle(item))) {
            LOG_NOTICE(L"%1%", inTask);
            return;
        }
    } else if (data->type == kMessageGroup) {
        for (const auto& track : collectTracks(item, data->name))
            if (m_scheduler != nullptr && m_scheduler->existPlaylist(track->getName())) {
                LOG_NOTICE(L"%1%", inTask);
                return;
            }
    } else {
        LOG_ERROR(L"Internal error. Uncknown type '%1%'", data->type);
    }
    // A group has no file: an empty path is never one that a task plays.
    if (!data->messagePath.empty() && usedByScheduler(data->messagePath)) {
        LOG_NOTICE(L"Невозможно удалить сообщение, т.к. оно используется планировщиком");
        return;
    }
    messageTree->Delete(item);
    // Whatever the tree selects next reports itself; nothing of the deleted
    // item stays on show.
    status->SetLabel(wxEmptyString);
    Layout();
}

wxTreeItemId SourceServicePanel::selectedItem() const {
    // The toolkit's own tree on GTK answers with its current item, which is
    // the hidden root while the operator has chosen nothing and stays after
    // the selection is cleared.
    const wxTreeItemId item = messageTree->GetSelection();
    return item.IsOk() && item != m_root && messageTree->IsSelected(item) ? item : wxTreeItemId();
}

std::wstring SourceServicePanel::trackTitle(const wxTreeItemId& item) const {
    const wxTreeItemId parent = messageTree->GetItemParent(item);
    const ItemData* group = parent.IsOk() && parent != m_root ? getItemData(parent) : nullptr;
    const ItemData* data = getItemData(item);
    return (group != nullptr ? group->name : std::wstring()) + L": " + (data != nullptr ? data->name : L"");
}

bool SourceServicePanel::usedByScheduler(const std::wstring& path) const {
    if (m_outside.usedByScheduler) return m_outside.usedByScheduler(path);
    return m_core != nullptr && scheduler::isUsed(*m_core, path);
}

// ---- playing -----------------------------------------------------------------------

void SourceServicePanel::playOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceServicePanel::playOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    const ItemData* data = getItemData(selectedItem());
    if (data == nullptr || data->type != kMessageItem) {
        LOG_NOTICE(L"Выберите сообщение для запуска");
        return;
    }
    if (m_alarm) {
        // The launch asks the loudspeakers: the channel's request thread
        // runs it, and the channel reports its own refusals.
        if (AlarmChannel* channel = AlarmChannel::instance()) {
            const std::wstring message = data->messagePath;
            const std::wstring gong = data->gongPath;
            channel->hand([message, gong] {
                AlarmChannel::launchSelectedWithCallback(AlarmChannel::Tag(), kAlarmPriority,
                                                         L"Тревожное оповещение", message, gong, kAlarmVolume,
                                                         AlarmChannel::Callback());
            });
        }
        return;
    }
    auto playlist = boost::make_shared<Playlist>(data->name, false);
    if (!data->gongPath.empty()) playlist->add(getFileName(data->gongPath, true), data->gongPath);
    playlist->add(getFileName(data->messagePath, true), data->messagePath);
    const int volume = pref::getInt("volume.serviceMessage2", 90);
    if (PlayerChannel* channel = PlayerChannel::instance())
        channel->playForSelected(playlist, volume);
    else
        LOG_WARN(L"No player channel: nothing is played");
}

void SourceServicePanel::stopOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceServicePanel::stopOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    if (m_alarm) {
        // After the launches handed over before it, on the channel's request
        // thread: the switch back waits for the loudspeakers.
        if (AlarmChannel* channel = AlarmChannel::instance())
            channel->hand([channel] {
                if (channel->getPriority() != kUnstoppablePriority) channel->stop(AlarmChannel::Callback());
            });
    } else if (PlayerChannel* channel = PlayerChannel::instance()) {
        channel->stop();
    }
}

void SourceServicePanel::onSelectMessage(wxTreeEvent& event) {
    LOG_TRACE2(L"%1%(..)", L"frm::SourceServicePanel::onSelectMessage");
    FRM_ASSERT_GUI_THREAD();
    // After a deletion the toolkit may select the hidden root at idle time:
    // that is no selection, and nothing of an item stays on show.
    const ItemData* data = getItemData(event.GetItem());
    if (data == nullptr || data->type == kMessageGroup) {
        status->SetLabel(wxEmptyString);
    } else {
        status->SetLabel(wxString::Format(L"Название:\n'%s'\nГонг:\n'%s'\nСообщение:\n'%s'", data->name,
                                          getFileName(data->gongPath, true),
                                          getFileName(data->messagePath, true)));
    }
    Layout();
    Refresh();
}

// ---- the tree ----------------------------------------------------------------------

SourceServicePanel::ItemData* SourceServicePanel::getItemData(const wxTreeItemId& item) const {
    if (!item.IsOk() || item == m_root) return nullptr;
    auto* data = dynamic_cast<ItemData*>(messageTree->GetItemData(item));
    if (data == nullptr) LOG_ERROR(L"Internal error. wxTreeItemData is null");
    return data;
}

std::vector<boost::shared_ptr<PlaybackTrack>> SourceServicePanel::collectTracks() {
    m_messagePaths.clear();
    return collectTracks(m_root, std::wstring());
}

std::vector<boost::shared_ptr<PlaybackTrack>> SourceServicePanel::collectTracks(const wxTreeItemId& item,
                                                                                const std::wstring& prefix) {
    FRM_ASSERT_GUI_THREAD();
    std::vector<boost::shared_ptr<PlaybackTrack>> tracks;
    if (!item.IsOk()) return tracks;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId child = messageTree->GetFirstChild(item, cookie); child.IsOk();
         child = messageTree->GetNextChild(item, cookie)) {
        const ItemData* data = getItemData(child);
        if (data == nullptr) continue;
        if (data->type == kMessageItem) {
            auto track = boost::make_shared<PlaybackTrack>(
                prefix + L": " + data->name, m_alarm ? kAlarmMessage : kServiceMessage, m_alarm);
            track->setMessage(getFileName(data->messagePath, true), data->messagePath);
            m_messagePaths.insert(data->messagePath);
            tracks.push_back(std::move(track));
        } else if (data->type == kMessageGroup) {
            for (auto& track : collectTracks(child, data->name)) tracks.push_back(std::move(track));
        } else {
            LOG_ERROR(L"Internal error. Uncknown type '%1%'", data->type);
        }
    }
    return tracks;
}

bool SourceServicePanel::isMessageUsed(const std::wstring& text) {
    collectTracks();
    for (const std::wstring& path : m_messagePaths)
        if (path.find(text) != std::wstring::npos) return true;
    return false;
}

// ---- state file --------------------------------------------------------------------

void SourceServicePanel::save(const std::wstring& path) {
    FRM_ASSERT_GUI_THREAD();
    std::vector<MessageNode> items;
    saveTree(m_root, items);
    storage::save(path, messageTreeFile(items, messageFolder(m_alarm, m_outside.dataFolder)));
}

void SourceServicePanel::saveTree(const wxTreeItemId& parent, std::vector<MessageNode>& items) const {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId child = messageTree->GetFirstChild(parent, cookie); child.IsOk();
         child = messageTree->GetNextChild(parent, cookie)) {
        const ItemData* data = getItemData(child);
        if (data == nullptr) continue;
        MessageNode node;
        node.type = data->type;
        node.name = data->name;
        node.gongPath = data->gongPath;
        node.messagePath = data->messagePath;
        saveTree(child, node.children);
        items.push_back(std::move(node));
    }
}

void SourceServicePanel::load(const std::wstring& path) {
    FRM_ASSERT_GUI_THREAD();
    std::vector<MessageNode> items;
    readMessageFile(path, {messageFolder(m_alarm, m_outside.dataFolder), recordFolder()}, items);
    loadTree(m_root, items);
}

void SourceServicePanel::loadTree(const wxTreeItemId& parent, const std::vector<MessageNode>& items) {
    for (const MessageNode& node : items) {
        const wxTreeItemId item = messageTree->AppendItem(
            parent, node.name, -1, -1, new ItemData(node.type, node.name, node.gongPath, node.messagePath));
        loadTree(item, node.children);
    }
}

}  // namespace frm
