#pragma once

#include <boost/core/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "gui/layout/source_service_panel.h"
#include "gui/message_tree_store.h"

namespace scheduler {
class Core;
}

namespace frm {

class ISchedulerControl;
class PlaybackTrack;

/// The service-message page or, with the alarm flag, the alarm-message page:
/// the operator keeps a tree of named groups of messages, each message a
/// file with an optional gong before it, and plays the selected message to
/// the loudspeakers selected in the main window: the service page on the
/// common stream through the player channel, the alarm page as a notice of
/// priority 3 through the alarm channel. The tree is kept in
/// service_message.xml or alarm_message.xml (message_tree_store.h). Deleting
/// asks the scheduler page whether a task plays the message or its file.
/// The service page's messages are the scheduler's "serviceMessage" sources.
///
/// Threads: the GUI thread only. Playing and stopping hand the work to the
/// channels, which do it on their own threads and report their refusals
/// through the log; the page keeps no callback of theirs.
class SourceServicePanel : public fb::SourceServicePanel, private boost::noncopyable {
public:
    /// The data of one tree item, owned by the tree and deleted with it.
    class ItemData : public wxTreeItemData {
    public:
        ItemData(std::uint32_t type, std::wstring name, std::wstring gongPath, std::wstring messagePath)
            : type(type),
              name(std::move(name)),
              gongPath(std::move(gongPath)),
              messagePath(std::move(messagePath)) {}
        /// kMessageGroup or kMessageItem (message_tree_store.h).
        std::uint32_t type;
        std::wstring name;
        /// Full paths; empty for a group, the gong empty when there is none.
        std::wstring gongPath;
        std::wstring messagePath;
    };

    /// What the page reaches outside itself; tests replace each part.
    struct Outside {
        /// The player engine's ";"-separated masks of playable files.
        std::function<std::wstring()> fileMasks;
        /// The gong files, in listing order.
        std::function<std::vector<std::wstring>()> gongFiles;
        /// Where the empty folder settings point ("service", "alarm",
        /// "record" inside it).
        std::wstring dataFolder;
        /// The microphone page's folder of recordings; unset or empty: the
        /// setting, else the data folder's "record".
        std::function<std::wstring()> recordFolder;
        /// Whether a scheduled task plays the file; unset: scheduler::isUsed
        /// over the core.
        std::function<bool(const std::wstring& path)> usedByScheduler;

        /// The program's engine, the alarm channel's gong folder and the
        /// program's data folder.
        static Outside system();
    };

    /// `core` is the scheduler page's, which outlives the page.
    SourceServicePanel(wxWindow* parent, ISchedulerControl* scheduler, const scheduler::Core* core,
                       bool alarm, Outside outside = Outside::system());
    ~SourceServicePanel() override;

    /// The file's tree into the page's tree, which is empty before (start-up).
    void load(const std::wstring& path);
    /// The whole tree to the file (shutdown).
    void save(const std::wstring& path);
    /// True when the message path of a message of the tree contains the text.
    bool isMessageUsed(const std::wstring& text);
    /// The gong choice: an empty line (no gong), then the gong files.
    void fillGongChoice();
    /// The message choice: the playable files of the page's own folder, then
    /// those of the recordings' folder.
    void scanMessageDirectories();
    /// fillGongChoice and scanMessageDirectories (the alarm page when shown).
    void refreshChoices();
    /// The messages below the item as playbacks titled "<prefix>: <name>",
    /// the prefix of a group's messages being its name.
    std::vector<boost::shared_ptr<PlaybackTrack>> collectTracks(const wxTreeItemId& item,
                                                                const std::wstring& prefix);
    /// Every message of the tree (the scheduler's sources).
    std::vector<boost::shared_ptr<PlaybackTrack>> collectTracks();
    /// The item's data; null for a null id and the hidden root (which
    /// counts as no selection), and with an ERROR for another item without
    /// data.
    ItemData* getItemData(const wxTreeItemId& item) const;

    bool isAlarm() const { return m_alarm; }

protected:
    void onSelectMessage(wxTreeEvent& event) override;
    void actionOnRadioBox(wxCommandEvent& event) override;
    void executeOnButtonClick(wxCommandEvent& event) override;
    void playOnButtonClick(wxCommandEvent& event) override;
    void stopOnButtonClick(wxCommandEvent& event) override;

    void showAction(int action);

private:
    void createGroup();
    void addMessage();
    void deleteSelected();
    /// The item the operator has selected; a null id for none.
    wxTreeItemId selectedItem() const;
    /// A message's title: its group's name (empty at the top level), ": ",
    /// its name.
    std::wstring trackTitle(const wxTreeItemId& item) const;
    bool usedByScheduler(const std::wstring& path) const;
    /// Appends the folder's playable files to the message choice and list.
    void listMessages(const std::wstring& folder);
    std::wstring recordFolder() const;
    /// The recursive halves of save and load: the item's children, in
    /// order, to the nodes, and the nodes appended below the item.
    void saveTree(const wxTreeItemId& parent, std::vector<MessageNode>& items) const;
    void loadTree(const wxTreeItemId& parent, const std::vector<MessageNode>& items);

    const bool m_alarm;
    ISchedulerControl* const m_scheduler;
    const scheduler::Core* const m_core;
    const Outside m_outside;
    wxTreeItemId m_root;
    /// Index-aligned with the gong choice; the first entry empty (no gong).
    std::vector<std::wstring> m_gongs;
    /// Index-aligned with the message choice.
    std::vector<std::wstring> m_messages;
    /// The message paths that the last walk of collectTracks met; emptied
    /// before every walk of the whole tree.
    std::set<std::wstring> m_messagePaths;
};

}  // namespace frm
