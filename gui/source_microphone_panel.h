#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/layout/source_microphone_panel.h"

namespace scheduler {
class Core;
}

namespace frm {

class IPlayback;
class ItemDataMap;

/// The microphone page: broadcasts the live microphone to the selected
/// loudspeakers, records it into a temporary file at the same time or
/// instead, keeps the recordings as named MP3 files in the recorded-message
/// folder, broadcasts a recording again (optionally after a gong) and
/// deletes recordings that no message tree and no scheduled task uses.
/// Every broadcast goes through the alarm channel at priority 2; the page
/// never touches a device or a stream itself.
///
/// Threads: the GUI thread, except the alarm channel's notices, which come
/// on the GUI thread (the end of a message) or on the thread that stopped
/// the channel (replaced, stopped) and are handed to the GUI thread through
/// the GUI-thread invoker, holding the page weakly. The page's starts and
/// stops run on the channel's request thread (they wait for the
/// loudspeakers); the page shows each at once, and a refused start when it
/// comes. The selection is read on the GUI thread from the main window's
/// item registry, and by the channel from its snapshot.
class SourceMicrophonePanel : public fb::SourceMicrophonePanel {
public:
    using AlarmStateDisplay = std::function<void(const std::wstring&)>;
    /// True when a message of that page's tree uses the recorded file.
    using MessageUseTest = std::function<bool(const std::wstring& path)>;

    /// `core`: the scheduler page's core, asked before a recording is deleted;
    /// it outlives the page.
    SourceMicrophonePanel(wxWindow* parent, ItemDataMap* registry, AlarmStateDisplay showAlarmState,
                          scheduler::Core& core);
    ~SourceMicrophonePanel() override;

    /// The use tests of the service and of the alarm message pages.
    void setMessageUseTests(MessageUseTest service, MessageUseTest alarm);
    /// The recorded-message folder, ending with "/".
    std::wstring recordDirectory();
    /// One row per "*.mp3" of the folder (not its sub-folders), named
    /// without the extension, in listing order.
    void fillRecordList(const std::wstring& folder);
    void fillGongChoice();
    /// The recordings as playbacks for the scheduler: alarm-channel tracks of
    /// the recorded-message kind, without a gong.
    std::vector<boost::shared_ptr<IPlayback>> loadRecords();

    /// A notice of the alarm channel about the page's current broadcast; any
    /// thread. 3 (the message ended) stops the channel; 3, 4 (replaced) and
    /// 5 (stopped elsewhere) bring the page back to idle.
    void handlerNoticeCallack(int code);

protected:
    void listCtrlRecordKeyUp(wxKeyEvent& event) override;
    void listCtrlRecordOnListItemDeselected(wxListEvent& event) override;
    void listCtrlRecordOnListItemSelected(wxListEvent& event) override;
    void radioBoxRecordSourceOnRadioBox(wxCommandEvent& event) override;
    void checkBoxBroadcastOnCheckBox(wxCommandEvent& event) override;
    void checkBoxRecordOnCheckBox(wxCommandEvent& event) override;
    void buttonRecordSaveOnClick(wxCommandEvent& event) override;
    void gongOnChoice(wxCommandEvent& event) override;
    void buttonStartAndStopOnButtonClick(wxCommandEvent& event) override;
    void deleteOnButtonClick(wxCommandEvent& event) override;

    /// The bodies of the two check-box slots.
    void checkBoxTranslationOnCheckBox();
    void checkBoxGongOnCheckBox();

    /// The refusals before a start, each shown in a box; true when none.
    bool CheckSelectedElements();
    /// Idle: "Старт", the record controls and the list enabled.
    void EnableRecordPanels();
    /// Returns to idle with the state hidden and has the alarm channel
    /// stopped; the recording can be saved once the stop has returned.
    void stopBroadcast();
    void deleteSelectedItems();

private:
    /// Hands a notice to the GUI thread, where it reaches the page if the
    /// page still exists; reads nothing of the page off the GUI thread.
    static void deliverNotice(const std::weak_ptr<SourceMicrophonePanel*>& alive, unsigned run, int code);
    /// A notice of broadcast `run`; on the GUI thread only a notice of the
    /// running broadcast counts.
    void notice(unsigned run, int code);
    /// The gong choice follows "Трансляция" and "Включить".
    void enableGongControls();
    bool broadcastTicked() const;
    bool recordTicked() const;
    bool listSource() const;
    /// -1 when no row is selected.
    long firstSelectedRow() const;

    MessageUseTest m_serviceMessageUsed;
    MessageUseTest m_alarmMessageUsed;
    std::vector<std::wstring> m_gongFiles;
    ItemDataMap* const m_registry;
    const AlarmStateDisplay m_showAlarmState;
    scheduler::Core& m_core;
    bool m_savedBroadcast = false;
    bool m_savedRecord = false;
    bool m_recordReady = false;
    bool m_listChosen = false;  // the source as the last radio event left it
    /// The broadcast that the page started last (written on the GUI thread,
    /// read by handlerNoticeCallack on any), and whether it still runs and
    /// records; notices of an earlier broadcast are passed over.
    std::atomic<unsigned> m_run{0};
    bool m_running = false;
    bool m_runRecords = false;
    /// Where the last recording was written.
    std::wstring m_recordPath;
    std::shared_ptr<SourceMicrophonePanel*> m_alive;
};

}  // namespace frm
