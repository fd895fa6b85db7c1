#pragma once

#include <wx/timer.h>

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/ip_address.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/config_journal.h"
#include "gui/layout/property_device_panel.h"
#include "gui/memory_page_rules.h"
#include "gui/page_jobs.h"
#include "gui/property_page_reads.h"
#include "gui/property_page_writes.h"
#include "gui/property_pages.h"

namespace device {
class DeviceBase;
class DeviceCollection;
class IEqualizer;
class TransferProtocol;
namespace memory {
class IAudioControl;
}
}  // namespace device

namespace frm {

class ItemDataMap;
class ProgressBarDialog;

/// The tabbed editor of one device's properties, shown by the main window in
/// its centre area in place of the zone panel: binds the selected device,
/// shows the page set of its kind (property_pages::pageSet), leaves a page
/// when another is chosen or the panel is closed, and shuts down once at
/// exit. Every page is a window of the layout; the page table keeps them
/// by window id while the notebook holds only the pages of the device.
///
/// The GUI thread never waits for the device: every exchange of the panel
/// (a page's read, Apply, Cancel, the immediate actions) runs on the panel's
/// own worker (page_jobs::Worker), one at a time, and what it found comes
/// back to the GUI thread through the GUI-thread invoker. A page being read
/// is disabled and the bar says "Чтение…"; it fills when the answers come,
/// unless the operator has chosen another page or device (or closed the
/// panel) meanwhile: a ticket counts what is shown, and a read of an older
/// ticket ends at its next exchange and shows nothing. What the operator
/// types, ticks or chooses after a read began stays as it is when the read
/// fills the page: a late answer fills only the rest. Apply disables the
/// page and its buttons ("Запись…") until the write ends; the device's new
/// name is kept only once its settings are written, and a failed write
/// tells which settings reached the device and which did not. Questions (an
/// unreadable memory, a console that would lose its message zones, a forced
/// firmware upgrade) are asked on the GUI thread between two tasks.
///
/// Threads: the GUI thread runs everything here but the worker's tasks,
/// which get copies of the device and of the operator's choices and never
/// touch the panel. The transport calls the console monitor that updateData
/// registers (toConsoleLog) on its own threads; the dispatcher jobs of the
/// pages write their job ids. Shutdown stops the worker (after the main
/// window has stopped the transport, so that its exchange ends at once).
class PropertyDevicePanel : public fb::PropertyDevicePanel {
public:
    using DevicePtr = boost::shared_ptr<device::DeviceBase>;

    PropertyDevicePanel(wxWindow* parent, boost::shared_ptr<device::DeviceCollection> collection,
                        ItemDataMap* items, boost::shared_ptr<device::TransferProtocol> transport,
                        bool debugMode);
    ~PropertyDevicePanel() override;

    /// `close` shows the zone panel again (the panel is left first, with
    /// killFocus); `afterApply` refreshes the current zone.
    void setCallbacks(std::function<void()> close, std::function<void()> afterApply);
    /// Binds the device the next updateData shows; an empty one is an
    /// internal error.
    void imbueDevice(const DevicePtr& device);
    /// Registers the console monitor of the device's endpoint, lays the
    /// pages out for the device, shows its title and fills the current page.
    /// Nothing without a device, after shutdown, or while an update runs.
    void updateData();
    /// Refills the zone page (unless an edit of it is pending) or the
    /// linked-console page when it is shown.
    void refreshZonePage();
    /// Leaves the shown page, keeps the "Line error" choice and lets the
    /// device go, before the main window shows another panel.
    void killFocus();
    /// At exit, before the transport stops (GUI thread): an Apply whose
    /// writes have not begun writes nothing (the device stays as it was);
    /// one whose writes have begun is waited for, at most the device's
    /// give-up time for each key still to be written and for the restart
    /// they need (and never past m_pagePeriods.exitWritesAtMost), so that
    /// the device holds all of it. The window keeps answering meanwhile.
    /// The log says what the device holds. Afterwards the panel shows
    /// nothing more.
    void finishApplyBeforeExit();
    /// At exit, once: afterwards updateData does nothing.
    void shutdown();

    /// The window id of the shown page.
    int currentPage() const { return m_currentPage; }
    /// Work of the panel's worker whose outcome the GUI thread has not yet
    /// taken (a page being read, an Apply, an action); benchmarks and tests
    /// wait for it.
    bool working() const { return m_outstanding->load() > 0; }

protected:
    /// Chooses and inserts the pages of the current device; the pages stay
    /// as they are when the device gets the same set as the last layout.
    void layoutTabs();
    /// Ends what the shown page started: pending audio-memory edits, a
    /// console waiting for a key, the debug page's jobs.
    void leaveTab();

    // Handlers of the layout, in its order.
    void onSize(wxSizeEvent& event) override;
    void notebookPrefOnNotebookPageChanged(wxBookCtrlEvent& event) override;
    void onValueChanged(wxKeyEvent& event) override;
    void onCheckBoxEqualizer(wxCommandEvent& event) override;
    void onLeftUpTrebleSlider(wxMouseEvent& event) override;
    void onLeftUpBassSlider(wxMouseEvent& event) override;
    void onBandSlider(wxMouseEvent& event) override;
    void onBandSliderScroll(wxScrollEvent& event) override;
    void resetEqOnButtonClick(wxCommandEvent& event) override;
    void onCheckBoxOption(wxCommandEvent& event) override;
    void buttonSetLineOnClick(wxCommandEvent& event) override;
    void lineModeOnChoice(wxCommandEvent& event) override;
    void onChoiceChanged(wxCommandEvent& event) override;
    void onCheckBoxSinglePowerSource(wxCommandEvent& event) override;
    void powerInputOnChoice(wxCommandEvent& event) override;
    void changeTovikTypeOnChoice(wxCommandEvent& event) override;
    void fieldOnChar(wxKeyEvent& event) override;
    void fieldOnSpinCtrl(wxSpinEvent& event) override;
    void updateFirmwareOnButtonClick(wxCommandEvent& event) override;
    void rebootOnClick(wxCommandEvent& event) override;
    void textDebugExchangeOnPress(wxCommandEvent& event) override;
    void buttonDebugExchangeOnClick(wxCommandEvent& event) override;
    void exchangeCommandsOnButtonClick(wxCommandEvent& event) override;
    void manageCommandSuiteOnButtonClick(wxCommandEvent& event) override;
    void listCtrlAudioFragmentOnRightDown(wxMouseEvent& event) override;
    void listCtrlAudioFragmentOnListItemDeselected(wxListEvent& event) override;
    void listCtrlAudioFragmentOnListItemSelected(wxListEvent& event) override;
    void listCtrlAudioFragmentOnRightUp(wxMouseEvent& event) override;
    void menuFragmentPlayOnSelection(wxCommandEvent& event) override;
    void menuAudioStopOnSelection(wxCommandEvent& event) override;
    void menuFragmentAddOnSelection(wxCommandEvent& event) override;
    void menuFragmentSaveOnSelection(wxCommandEvent& event) override;
    void menuFragmentDeleteOnSelection(wxCommandEvent& event) override;
    void listCtrlAudioScenarioOnListItemDeselected(wxListEvent& event) override;
    void listCtrlAudioScenarioOnListItemSelected(wxListEvent& event) override;
    void listCtrlAudioScenarioOnRightDown(wxMouseEvent& event) override;
    void listCtrlAudioScenarioOnRightUp(wxMouseEvent& event) override;
    void menuScenarioAddOnSelection(wxCommandEvent& event) override;
    void menuScenarioDeleteOnSelection(wxCommandEvent& event) override;
    void menuScenarioPlayOnSelection(wxCommandEvent& event) override;
    void audioMemoryOnButtonClick(wxCommandEvent& event) override;
    void clearMemory(wxCommandEvent& event) override;
    void revertChanges(wxCommandEvent& event) override;
    void saveImageMemory(wxCommandEvent& event) override;
    void loadImageMemory(wxCommandEvent& event) override;
    void onCheckBoxDhcp(wxCommandEvent& event) override;
    void onCheckBoxAllowIp(wxCommandEvent& event) override;
    void zarnoAddressOnSpinCtrl(wxSpinEvent& event) override;
    void relayEventsOnCheckBox(wxCommandEvent& event) override;
    void onCheckBoxIsTestZarno(wxCommandEvent& event) override;
    void onCheckBoxSource(wxCommandEvent& event) override;
    void forwardStreamOnCheckBox(wxCommandEvent& event) override;
    void onCheckBoxPowerSave(wxCommandEvent& event) override;
    void rebootMasterOfTipDevices(wxCommandEvent& event) override;
    void addAllTipDevices_onButtonClick(wxCommandEvent& event) override;
    void resetPrefOnButtonClick(wxCommandEvent& event) override;
    void addOrRemoveTipDeviceOnButtonClick(wxCommandEvent& event) override;
    void accessControlOnToggle(wxCommandEvent& event) override;
    void addPasskeyOnButtonClick(wxCommandEvent& event) override;
    void resetPasskeysOnButtonClick(wxCommandEvent& event) override;
    void deletePasskeyOnButtonClick(wxCommandEvent& event) override;
    void toggleZoneButton(wxCommandEvent& event) override;
    void removeZoneOnButtonClick(wxCommandEvent& event) override;
    void resetZonesOnButtonClick(wxCommandEvent& event) override;
    void fixZoneIntegrityOnButtonClick(wxCommandEvent& event) override;
    void copyDebugOnButtonClick(wxCommandEvent& event) override;
    void refreshRateOnChoice(wxCommandEvent& event) override;
    void eraseTextOnPanel(wxEraseEvent& event) override;
    void paintTextOnPanel(wxPaintEvent& event) override;
    void stopDebugOnToggle(wxCommandEvent& event) override;
    void clearDebugOnButtonClick(wxCommandEvent& event) override;
    void setVolumeOnScrollChanged(wxScrollEvent& event) override;
    void applyOnButtonClick(wxCommandEvent& event) override;
    void cancelOnButtonClick(wxCommandEvent& event) override;
    void closeOnButtonClick(wxCommandEvent& event) override;
    /// Any change of an edit field's text, however made: the value that
    /// Apply would write is no longer the device's.
    void fieldOnText(wxCommandEvent& event) override;

    /// Starts the read of the current page, which shows "Чтение…" and stays
    /// disabled until the answers come; a page whose read fails (thrown or
    /// reported) is emptied and disabled, and the operator is told why.
    /// Nothing when a read of the same device and page is under way: it
    /// fills the page. `quiet` refreshes a page in place (the zone pages):
    /// it stays as it is until the answers come.
    void fillCurrentPage(bool quiet = false);
    /// What is shown changes (another device, page or zone, the panel left):
    /// reads under way no longer fill anything and end at their next exchange.
    void bumpView();
    /// The page is read anew even when a read of it is under way (after a
    /// write, the older read would show the values before it). With
    /// `editPending` Apply and Cancel are enabled again once it is read (a
    /// write that failed leaves the edit to be tried again).
    void reloadPage(bool editPending = false);
    /// A read of the page of this ticket is still wanted.
    page_jobs::Wanted wantedFor(std::uint64_t ticket) const;
    /// The read of `page` for `device` under `ticket` may fill it.
    bool fillWanted(const DevicePtr& device, int page, std::uint64_t ticket) const;
    /// The read that fills the page has ended: its state goes, the page is
    /// enabled, `show` fills it (false: the page counts as not read) or the
    /// page fails with the operator told why. What the operator changed on
    /// the page and has neither applied nor cancelled (before the read or
    /// while it ran) stays as the operator left it.
    void endFill(int page, const std::exception_ptr& error, const std::function<bool()>& show);
    /// The operator changed `control` (an edit handler's event object): the
    /// page's reads leave it as it is until the edit is applied, cancelled
    /// or the page left. Not while the panel fills its controls itself.
    void noteEdit(wxObject* control);
    /// The count of the operator's edits so far: an edit's own read (the
    /// DHCP box's, the console type's) keeps it as it begins, and leaves
    /// alone what was edited after it.
    std::uint64_t editMark() const { return m_edits; }
    /// The operator changed `control` after `mark`.
    bool editedSince(const wxObject* control, std::uint64_t mark) const;
    /// The controls of `page` the operator changed and has neither applied
    /// nor cancelled.
    std::vector<wxWindow*> editedControls(int page) const;
    /// The controls a fill sets that follow others (the address fields the
    /// DHCP box, a console's options its type), made to follow the values
    /// the page holds now.
    void followEdits(int page);
    /// The bar's note of the page's state: "Чтение…", "Запись…" or nothing.
    void setPageState(const wxString& text);
    /// The current device was read for `page` by its last fill: only then do
    /// Apply and Cancel act on it.
    bool pageRead(int page) const { return m_pagesRead.count(page) != 0; }
    /// Empties every field, list, check box and choice of a page, and the
    /// rows and texts it built from a device; sends no event. With
    /// `keepEdits` what the operator changed stays (a page read again).
    void clearPage(int page, bool keepEdits = false);
    /// A read of `page` failed: emptied, disabled, and nothing of it can be
    /// applied.
    void failPage(int page);

    /// GUI thread: queues `work` (returning a T) on the worker and runs `done`
    /// with its outcome on the GUI thread, unless the panel is gone by then.
    template <class T, class Work, class Done>
    void runJob(page_jobs::Wanted wanted, Work work, Done done);
    /// The fill of the current page by a read of the worker: `show` (true:
    /// read) gets the record while the page still wants it.
    template <class Record, class Read, class Shows>
    void readPage(Read read, Shows show);
    /// The GUI-thread invoker as the worker's tasks reach it.
    static page_jobs::HandOver guiHandOver();

    // The page fills, one per page: each queues the page's read
    // (page_reads) and shows its record, or fails the page.
    void fillCommonPage();
    void fillAudioMemoryPage(bool overwrite);
    void fillNetworkPage();
    void fillZarnoPage();
    void fillSourcePage();
    void fillLineControlPage();
    void fillPasskeyPage();
    void fillZoneTargets();
    void fillLinkedConsoles();
    void fillDebugPage();
    /// The common page's groups for a console or a loudspeaker of a
    /// firmware generation (visible or not; no values).
    void arrangeCommonPage(bool console, bool loudspeaker, int index);
    // What the reads found, into the pages' controls (GUI thread). The two
    // that can fail on their own give false for it.
    void showCommonPage(const page_reads::CommonPage& page);
    bool showAudioMemoryPage(const page_reads::MemoryPage& page);
    void showNetworkPage(const page_reads::NetworkPage& page);
    void showZarnoPage(const device::ConfigCommon& config);
    void showSourcePage(const page_reads::SourcePage& page);
    bool showLineControlPage(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                             const page_reads::LinePage& page);
    void showPasskeys(const boost::shared_ptr<device::TovikInfo>& console,
                      const page_reads::PasskeyPage& page);
    void showZoneTargets(const page_reads::ZonePage& page);
    void showLinkedConsoles(const page_reads::LinkedPage& page);
    /// The audio memory's columns: shared out, none narrower than its
    /// header or its longest value.
    void fitMemoryColumns();

    /// The console monitor of the device's endpoint: one request or reply
    /// text. Runs on the transport's threads; it must not touch a control.
    void toConsoleLog(const std::string& text);
    /// Completes a debug request of the running chain as a reply would
    /// (GUI thread; the chain's own replies complete on the transport's
    /// completer thread without the panel).
    void addDebugMessage(const std::string& reply, bool answered, int kind);

    // ---- common, network, Zarno and sources pages, options, online check,
    // ---- firmware, Apply and Cancel

    /// True when the device is online and has answered (with `askAgain`:
    /// online, to be asked whether it answers); otherwise tells the
    /// operator, disables the panel and closes it.
    bool isOnlineDevices(bool askAgain = false);
    /// Enables or disables "&Применить" and "&Отмена" together.
    void enableEditButtons(bool enable);
    /// The DHCP state of the network page: the address fields are editable
    /// only without DHCP and show the addresses the device holds now, as a
    /// fresh read gave them, but for those the operator typed into after
    /// `mark` (the read's editMark()).
    void enableDhcp(bool on, const device::ConfigCommon& addresses, std::uint64_t mark);
    /// Shows a packed Orvel-510 equalizer word on the bass and treble
    /// sliders, with their tooltips.
    void SetFullBassVolume(std::uint16_t packed);
    /// Which of the sources page's three stream boxes can be changed.
    void initSource(bool allowOthers, bool sendInput1, bool sendInput2);
    /// Starts the write of the pending audio-memory edits behind the progress
    /// dialog; Apply ends with the dialog. Refusals before the write starts
    /// end Apply as failures.
    void writeAudioMemory();

    /// How one Apply ended on the worker.
    struct Applied {
        /// The page's result: false reloads the page.
        bool result = true;
        /// The device's new name was kept (after its settings were written).
        bool renamed = false;
        /// The device restarts for what was written: the panel closes.
        bool closeAfterwards = false;
        /// A console's options that would cost it its message zones, not yet
        /// written: the operator is asked first.
        std::optional<device::TovikConfig> unconfirmed;
        /// The zone binding's refusal, by its code word.
        std::wstring refusal;
    };
    /// One Apply while its task runs: the journal of what it writes, the
    /// name it keeps once the writes are done, and how the task ended, for
    /// the failure's notice and the exit (finishApplyBeforeExit). Shared by
    /// the worker's task and the GUI thread; the mutex guards the end.
    struct ApplyRun {
        DevicePtr device;
        std::optional<std::wstring> rename;
        device::ConfigJournal journal;
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        /// The device was told to restart for what was written (set by
        /// the task before it ends).
        bool restarted = false;
        std::exception_ptr error;
    };
    /// Apply from its start on the GUI thread: the page and its buttons off,
    /// "Запись…", then `work` (called with the apply's journal, giving
    /// Applied) on the worker, then finishApply with its outcome. `rename`:
    /// the device's new name, kept on the worker once `work` has written the
    /// settings (not when it failed, was withheld or waits for a question).
    template <class Work>
    void startApply(Work work, std::optional<std::wstring> rename = std::nullopt);
    /// The exit's wait for the Apply's task (GUI thread): true once it has
    /// ended, false when `bound` passed first. The window's events are
    /// handled meanwhile, but the operator's input.
    bool waitForApply(ApplyRun& run, std::chrono::milliseconds bound);
    /// The end of an Apply (GUI thread): the page back, the outcome told
    /// once (a failure with what was written and what was not), the title
    /// line and the after-apply callback after a rename, the page reloaded
    /// after a false result, the panel closed when asked.
    void finishApply(const DevicePtr& device, int page, const page_jobs::Outcome<Applied>& outcome,
                     const std::shared_ptr<ApplyRun>& run);
    // The branches of Apply that read the page's controls into a choice.
    void applyCommonPage();
    /// False, with the operator told why (field, text, range) and the field
    /// focused, when a number field of the shown page holds no whole number
    /// of its range: Apply then sends nothing.
    bool pageNumbersTaken();
    page_writes::NetworkChoice networkChoice() const;
    page_writes::ZarnoChoice zarnoChoice() const;
    page_writes::SourceChoice sourceChoice() const;
    /// One firmware upgrade from the file at `path`, asking for a forced
    /// retry in debug mode.
    void upgradeFirmwareFrom(const wxString& path, bool force = false);

    // ---- zone, linked-console, line-control and passkeys pages

    /// Client data of a row of the zone page's loudspeaker list and of the
    /// linked-console list: the device the row stands for, released with
    /// the row.
    class TranslationZoneData : public wxClientData {
    public:
        explicit TranslationZoneData(DevicePtr device) : m_device(std::move(device)) {}
        const DevicePtr& device() const { return m_device; }

    private:
        DevicePtr m_device;
    };

    /// Reads the line-control module on the worker and redraws the line
    /// page, and while the page is shown puts the next refresh on the
    /// dispatcher. Off the GUI thread it queues itself to the GUI thread.
    /// `withVersion` reads the module's version and address again.
    void refreshTipDevices(bool withVersion = false);
    /// Refills the console's passkey list from a read of the worker; off the
    /// GUI thread it queues itself to the GUI thread.
    void refreshPasskeys();
    /// Apply on the line-control page: the power-save mode.
    void applyLineControlPage();
    /// Apply on the zone page: the binding of the chosen zone. False when
    /// Apply must end at once, writing nothing and saying nothing more.
    bool applyZonePage();

    // Handlers of the rows these pages build.
    void selectOrvelInZoneOnCheckBox(wxCommandEvent& event);
    void tipDeviceButtonOnLeftDown(wxMouseEvent& event);
    void tipDeviceButtonOnLeftUp(wxMouseEvent& event);

    void addTipDeviceRow(const line_control::TipDevice& tip, bool powerSaving);
    void addPasskeyRow(std::size_t position, const std::string& key);
    /// Writes the console's access control on the worker when it differs,
    /// and shows it once written.
    void setAccessControl(bool on);
    /// The toggle and its strip for the access control given.
    void showAccessControl(bool on);
    /// Puts the poll of the console's key learning on the dispatcher in
    /// place of a pending one, under the job description given.
    void checkPasskeyListening(const boost::shared_ptr<device::TovikInfo>& console,
                               const wchar_t* description = L"Выполняется проверка ключа");

    /// GUI thread. The next refresh of the line page in `m_pagePeriods`,
    /// in place of a pending one; nothing unless the page is shown.
    void scheduleTipRefresh();
    /// GUI thread: a job's read of `loudspeaker` (none: skipped) arrives.
    void takeTipSnapshot(const boost::shared_ptr<device::OrvelInfo>& loudspeaker,
                         std::optional<line_control::Snapshot> snapshot);
    /// Draws a read: unavailable module, initialising module or its rows.
    void drawTipDevices(const device::OrvelInfo& loudspeaker, const line_control::Snapshot& snapshot);
    void clearTipRows();
    /// GUI thread: a poll of `console` found it listening or not.
    void takePasskeyPoll(const boost::shared_ptr<device::TovikInfo>& console, bool listening);
    /// The zone page's message choice: the microphone entry, then the
    /// scenarios given.
    void offerZoneMessages(const std::vector<device::memory::ScenarioInfo>* scenarios);
    /// The zone of the pressed zone button.
    void takeCurrentZone();
    /// A change of the console's zones on the worker; the page is read anew
    /// after it.
    void runZoneEdit(const std::function<void()>& edit);
    /// The panel still shows `device` on `page` (a job's result may be drawn).
    bool shows(const DevicePtr& device, int page) const;
    /// Puts a row's control in a font and sizes it for it: GTK measures a
    /// new font only on the screen, after the sizers have taken the
    /// control's size. The rows' own font by default.
    static void useRowFont(wxControl* control, const wxFont& font = wxNullFont);

    // ---- audio-memory page, equalizer, line check, reboot

    /// Fill the fragment and the scenario lists from the audio control; the
    /// scenario list also shows the free memory, grouped ("1 234 567").
    void loadListCtrlAudioFragment();
    void loadListCtrlAudioScenario();
    /// Numbers the fragment rows from 1 and shows the free memory ungrouped.
    void reorderListCtrlAudioFragment();
    /// The held audio control; none is an internal error naming `place`.
    device::memory::IAudioControl& audioControl(const char* place);
    /// The selected fragment and scenario ids (0xFFFF: none) in the halves
    /// of m_audioSelection, fragment low, with their rows (-1: none).
    std::uint16_t selectedFragment() const;
    std::uint16_t selectedScenario() const;
    void selectFragment(std::uint16_t id, long row);
    void selectScenario(std::uint16_t id, long row);
    /// Empties a list menu, destroying its items (their pointers in the
    /// layout become null).
    void emptyListMenu(wxMenu* menu);
    /// Sends the current equalizer to the panel's loudspeaker on the worker
    /// (a copy: the controls make a new one for the next change); a refusal
    /// is a warning for the operator. `reload` reads the page again after it.
    void applyEqualizerToDevices(bool reload = false);
    /// Reverts the audio memory's edits on the worker (the revert reads the
    /// device again); `shown` then reloads the page's lists and disables
    /// Apply and Cancel.
    void revertAudioMemory(bool shown);
    /// An action of the audio-memory page on the worker: the page's control
    /// and device as they are now; failures told to the operator.
    void runMemoryAction(const std::function<void(device::memory::IAudioControl&)>& action);
    /// Pops a list's menu up after the device told whether it plays.
    void popUpMemoryMenu(bool fragments, wxPoint position);
    /// The list menus for the state given, popped up at `position`.
    void showFragmentMenu(const memory_page::MenuState& state, wxPoint position);
    void showScenarioMenu(const memory_page::MenuState& state, wxPoint position);
    /// The band sliders' body, on the release and on the line scrolls.
    void bandSliderMoved(wxEvent& event);

    // ---- debug page, direct request, command rows

    /// What the debug page shares with the dispatcher jobs and the
    /// transport's completions (property_panel_debug.cpp); they hold it by
    /// shared pointer, so it outlives the panel while they run.
    struct DebugShared;
    /// The shared state, made on first use (GUI thread).
    DebugShared& debugShared();

    /// Starts the periodic debug requests of the shown device; without an
    /// online device that answered, only says so on the drawing area. A
    /// chain already running ends.
    void startRequestingDebugMessages();
    /// Shows the device's volume on the debug page's slider (GUI thread;
    /// from another thread it hands itself over): the own volume a notice
    /// keeps for it, else the device's, read by the worker; a failed read
    /// fails the page (emptied, disabled) and is told.
    void initVolumeSlider();
    /// Leaving the debug page: the request chain and a pending volume change
    /// end, replies still under way are dropped, the mark turns red.
    void leaveDebugPage();
    /// At shutdown: as leaving, and the message history is emptied.
    void shutdownDebugPage();
    /// One dispatcher job of the request chain of `generation`: sends the
    /// request and schedules the next; nothing once the chain has ended.
    static void requestDebugMessage(const std::shared_ptr<DebugShared>& shared, unsigned generation);
    /// GUI thread: shows what the completions left in the shared state (the
    /// mark, the history, the drawn text).
    void showDebugState();
    /// GUI thread: the slider at the device's volume, its tooltip "<title> <volume>%".
    void showVolume(const std::wstring& title, int volume);
    /// GUI thread: the painted text, drawn anew.
    void setDebugText(const std::wstring& text);
    /// The console-log field from the lines kept for the device's endpoint.
    void fillConsoleLog();
    /// With "Line error": asks the device "lsensor test 21" and "lsensor dbg",
    /// unless such a pair for it is still under way.
    void requestLineErrorDetails();
    void debugKindOnRadioBox(wxCommandEvent& event);

    /// One raw request line to the device on the worker, its reply shown in
    /// the answer field of the page it was sent from.
    void sendDirectRequest(const std::string& request);
    /// The text field that a sending button carries, when it is one of the
    /// button's siblings; else null.
    static wxTextCtrl* carriedField(wxObject* source);

    /// The command rows of "Прямой обмен командами", newest on top.
    void addExchangeRow(const wxString& text);
    void removeStrSizerOnClick(wxCommandEvent& event);
    /// The three callbacks of the command-suite dialog: the rows' texts,
    /// oldest first, then the input field's when it has one; rows from lines
    /// (the last line ends on top); no rows and empty fields.
    std::vector<std::wstring> getExchangeCommands() const;
    void applyCommandSuite(const std::vector<std::wstring>& lines);
    void clearExchangeRows();
    /// Fits the command rows' scrolled area to its rows.
    void relayoutExchangeRows();

    // ---- shared by every page

    /// An edit: enables "&Применить" and "&Отмена"; `goOn` lets the event
    /// reach the control (typed characters must).
    void editPending(wxEvent& event, bool goOn);
    /// Keeps the "Line error" choice in `debug.requestLineError`.
    void storeLineErrorChoice();
    static void removeJob(std::atomic<std::uint32_t>& job);

    /// A page of the notebook as the layout built it.
    struct Page {
        wxString label;
        wxWindow* window;
    };

    std::function<void()> m_close;
    std::function<void()> m_afterApply;
    DevicePtr m_device;
    boost::shared_ptr<device::memory::IAudioControl> m_audioControl;
    boost::shared_ptr<device::TransferProtocol> m_transport;
    boost::shared_ptr<device::IEqualizer> m_equalizer;
    /// The selected fragment and scenario of the audio-memory page, 0xFFFF
    /// each when none.
    std::uint32_t m_audioSelection = 0xFFFFFFFF;
    /// One text per fragment of the device's memory (the audio-memory page).
    std::vector<std::wstring> m_fragmentTexts;
    ItemDataMap* m_items;
    const bool m_debugMode;
    bool m_shuttingDown = false;
    bool m_updating = false;
    /// Every exchange of the panel with the device runs here.
    page_jobs::Worker m_worker;
    /// Counts what is shown (device, page, zone); a read keeps the ticket it
    /// started under. Shared with the reads, which look at it between their
    /// exchanges.
    std::shared_ptr<std::atomic<std::uint64_t>> m_shown = std::make_shared<std::atomic<std::uint64_t>>(1);
    /// The read that fills the page, while it runs.
    struct Reading {
        DevicePtr device;
        int page;
        std::uint64_t ticket;
        /// A refresh in place: the page stays as it is meanwhile.
        bool quiet = false;
        bool editPending = false;
    };
    std::optional<Reading> m_reading;
    /// Greys the page being read once m_pagePeriods.readingShown has passed.
    wxTimer m_readingTimer;
    /// An Apply runs: the page and its buttons are off until it ends.
    bool m_applying = false;
    /// The Apply whose task runs or whose outcome the GUI thread has not
    /// taken yet; none between two.
    std::shared_ptr<ApplyRun> m_applyRun;
    /// The exit has begun (finishApplyBeforeExit): no outcome is shown.
    bool m_exiting = false;
    /// Tasks handed to the worker whose outcome the GUI thread has not taken.
    std::shared_ptr<std::atomic<int>> m_outstanding = std::make_shared<std::atomic<int>>(0);
    /// The operator's edits: a count, and the count at each control's last
    /// edit since the shown page was entered, applied or cancelled (GUI
    /// thread). Emptied when the page is left, written, cancelled or failed.
    std::uint64_t m_edits = 0;
    std::map<const wxObject*, std::uint64_t> m_editStamps;
    /// The panel fills its controls itself: their events are no edits.
    bool m_filling = false;
    std::map<int, Page> m_pages;
    int m_currentPage = property_pages::kCommon;
    /// The pages whose last fill read the current device (emptied when the
    /// device changes).
    std::set<int> m_pagesRead;
    /// The page set of the last layout; empty with `m_laidOut` false before
    /// the first.
    property_pages::PageSet m_lastPages;
    bool m_laidOut = false;
    std::atomic<std::uint32_t> m_passkeyJob{0};
    boost::shared_ptr<device::DeviceCollection> m_collection;
    std::vector<wxSlider*> m_bandSliders;
    /// The line page's periodic refresh job (the debug page keeps its own
    /// jobs with its shared state).
    std::atomic<std::uint32_t> m_requestJob{0};
    /// The debug page's request period in ms (the page fill reads it from
    /// the settings, "Частота обновления" changes it).
    int m_refreshPeriod = 700;

    // Members of the common, network, Zarno and sources pages, Apply and the
    // firmware upgrade.

    /// The last online check failed: the panel is (about to be) disabled.
    bool m_offline = false;

    // Members of the zone, linked-console, line-control and passkeys pages.

    /// The chosen zone of the zone page (its pressed button), 1 to 20.
    int m_currentZone = 1;
    page_jobs::Periods m_pagePeriods;
    /// The line page shows a read of the module (not its refusal, nor an
    /// unavailable loudspeaker).
    bool m_tipModuleRead = false;
    /// Shared with the line page's jobs.
    std::shared_ptr<page_jobs::RefreshGate> m_tipGate = std::make_shared<page_jobs::RefreshGate>();
    /// Expires with the panel: what the pages' jobs hand to the GUI thread
    /// afterwards finds it gone.
    std::shared_ptr<PropertyDevicePanel*> m_pagesAlive = std::make_shared<PropertyDevicePanel*>(this);

    // Members of the audio-memory page, the equalizer and the line check.

    /// The rows of the selected fragment and scenario; -1 when none.
    long m_fragmentRow = -1;
    long m_scenarioRow = -1;

    // Members of the debug page and the command rows.

    /// Dropped with the panel: GUI-thread work that a worker handed over
    /// looks through it, and finds no panel once it has gone.
    std::shared_ptr<PropertyDevicePanel*> m_debugAlive = std::make_shared<PropertyDevicePanel*>(this);
    std::shared_ptr<DebugShared> m_debug;
    /// What the drawing area shows and "Копировать" copies (GUI thread).
    std::wstring m_debugText;
    /// The "ERR" lines that devices sent, by endpoint, the latest
    /// kConsoleLogLines kept, a tenth more at times (GUI thread).
    std::map<net::IpAndPort, std::vector<std::string>> m_consoleLog;
    static constexpr std::size_t kConsoleLogLines = 1000;
    /// The line-error requests still under way, by endpoint (GUI thread).
    std::map<net::IpAndPort, int> m_lineErrorPending;
    bool m_debugBound = false;
    /// The debug page is drawn at most this often: at the shortest period
    /// a drawing per reply would cost the GUI thread as much again.
    static constexpr int kDebugDrawIntervalMs = 100;
    std::chrono::steady_clock::time_point m_lastDebugDrawing;
    /// Draws what came in too soon after the last drawing.
    wxTimer m_debugDrawTimer;
    /// The request kind whose history the history field shows; -1: none.
    int m_historyKindShown = -1;
    /// The console-log field waits for the first drawing after a start.
    bool m_consoleLogPending = false;
    /// After the pages are laid out anew, GTK's multi-line fields take text
    /// only once GTK has laid them out in turn (an insertion before crashes
    /// in its text layout): the page's fields are written from this time on.
    static constexpr int kDebugSettleMs = 150;
    std::chrono::steady_clock::time_point m_debugTextsFrom;
    bool debugTextsSettled() const { return std::chrono::steady_clock::now() >= m_debugTextsFrom; }
    /// The command rows are shown (the panel is high enough).
    bool m_exchangeRowsShown = true;
    /// Below this height the panel hides the command rows and "+".
    static constexpr int kExchangeMinHeight = 452;
};

template <class T, class Work, class Done>
void PropertyDevicePanel::runJob(page_jobs::Wanted wanted, Work work, Done done) {
    const std::shared_ptr<std::atomic<int>> outstanding = m_outstanding;
    ++*outstanding;
    const bool queued = page_jobs::submit<T>(
        m_worker, std::move(wanted), std::move(work), guiHandOver(),
        [alive = std::weak_ptr<PropertyDevicePanel*>(m_pagesAlive), outstanding,
         done = std::move(done)](page_jobs::Outcome<T> outcome) {
            // Counted out once shown: a question or a dialog that the outcome
            // opens belongs to the work.
            struct Counted {
                std::atomic<int>& count;
                ~Counted() { --count; }
            } counted{*outstanding};
            // Gone, shut down or exiting meanwhile: nothing is shown.
            const auto panel = alive.lock();
            if (!panel || (*panel)->m_shuttingDown || (*panel)->m_exiting) return;
            done(std::move(outcome));
        },
        [outstanding] { --*outstanding; });
    if (!queued) --*outstanding;
}

template <class Record, class Read, class Shows>
void PropertyDevicePanel::readPage(Read read, Shows show) {
    const DevicePtr device = m_device;
    const int page = m_currentPage;
    const std::uint64_t ticket = m_reading ? m_reading->ticket : m_shown->load();
    runJob<Record>(wantedFor(ticket), std::move(read),
                   [this, device, page, ticket, show = std::move(show)](page_jobs::Outcome<Record> outcome) {
                       if (!fillWanted(device, page, ticket)) return;
                       endFill(page, outcome.error, [&] { return show(*outcome.value); });
                   });
}

template <class Work>
void PropertyDevicePanel::startApply(Work work, std::optional<std::wstring> rename) {
    m_applying = true;
    if (const auto shown = m_pages.find(m_currentPage); shown != m_pages.end())
        shown->second.window->Disable();
    enableEditButtons(false);
    setPageState(L"Запись…");
    const DevicePtr device = m_device;
    const int page = m_currentPage;
    auto run = std::make_shared<ApplyRun>();
    run->device = device;
    run->rename = std::move(rename);
    m_applyRun = run;
    runJob<Applied>(
        page_jobs::Wanted(),
        [run, work = std::move(work)](const page_jobs::Wanted&) {
            // Whatever way the task ends, the exit may stop waiting for it.
            struct Ending {
                ApplyRun& run;
                std::exception_ptr error;
                ~Ending() {
                    std::lock_guard<std::mutex> lock(run.mutex);
                    run.done = true;
                    run.error = error;
                    run.ended.notify_all();
                }
            } ending{*run, nullptr};
            // A device that went silent for a while and is heard from again
            // has not answered since: it is asked, and the writes find it
            // answering (or fail as a silent device's do).
            if (run->device && !run->device->isOnlineAndAnswered()) run->device->checkOnline(true);
            // The configuration writers on this thread report to the journal.
            device::ConfigJournal::Scope scope(run->journal);
            try {
                Applied applied = work(run->journal);
                // The program keeps the name with the settings, not before them.
                if (run->rename && applied.result && !applied.unconfirmed && applied.refusal.empty()) {
                    run->device->setTitle(*run->rename);
                    applied.renamed = true;
                }
                run->restarted = applied.closeAfterwards;
                return applied;
            } catch (const device::ConfigJournal::WritesWithheld&) {
                // The exit came before the first write: nothing was sent.
                ending.error = std::current_exception();
                throw page_jobs::Superseded();
            } catch (...) {
                ending.error = std::current_exception();
                throw;
            }
        },
        [this, device, page, run](page_jobs::Outcome<Applied> outcome) {
            finishApply(device, page, outcome, run);
        });
}

}  // namespace frm
