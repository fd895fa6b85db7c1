#pragma once

// One trial of the running program: the real `sonvar` and the device
// simulator in a sandbox of their own (e2e_harness.h), driven by real input
// on the sandbox's X display, judged by what each simulated loudspeaker
// holds (the simulator's --holdings file), by the first datagram on the wire
// after the operator's action, by how long the window thread left the window
// unanswered and by how long the quit took. A case makes a Trial, prepares
// the program's files, starts it, acts, and notes what it measured and what
// went wrong in the trial's Report; the Trial prints the report's TRIAL line
// when it ends and keeps the diagnostics of a failure under
// build/shots/trial/<case>/.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/app/e2e_harness.h"
#include "tests/trial/driver.h"
#include "tests/trial/holdings.h"
#include "tests/trial/receiver.h"
#include "tests/trial/report.h"
#include "tests/trial/site.h"
#include "tests/trial/widget_listing.h"
#include "tests/trial/window_pinger.h"

namespace trial {

using namespace std::chrono_literals;

/// Thrown when a case cannot go on (a control never showed, the program
/// ended); the reason is already in the report.
class CaseStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The ways an operator starts a notice: ▶ on the alarm page, the main
/// window's "Тревога" (the microphone) and "Гонг" buttons, "Старт" on the
/// microphone page, ▶ on the service page, and a task of the scheduler
/// that plays the service message.
enum class Path { AlarmPage, AlarmButton, GongButton, MicrophonePage, ServicePage, Scheduled };

/// "alarm_page", "alarm_button", ... for the cases' names.
std::string pathName(Path path);

class Trial {
public:
    using Clock = std::chrono::steady_clock;
    using Holdings = std::map<unsigned, Holding>;

    /// The program's password for alarms and administration, as new.
    static constexpr const char* kPassword = "123456";
    /// The alarm page's message as the prepared tree names it.
    static constexpr const char* kMessageGroup = "Тревоги";
    static constexpr const char* kMessageName = "Пожар";
    static constexpr const char* kServiceGroup = "Объявления";
    static constexpr const char* kServiceName = "Обед";

    Trial(const std::string& name, Site site);
    /// Ends the program (its quit, then a kill) and the simulator, prints
    /// the TRIAL line, and on a failure keeps the diagnostics. Fails the
    /// running gtest case when the report has failures.
    ~Trial();
    Trial(const Trial&) = delete;
    Trial& operator=(const Trial&) = delete;

    // ---- before start() -----------------------------------------------------------------
    /// One setting of sonvar.cfg by its path ("mainWindow.alarmButtons")
    /// and its value as libconfig writes it ("true", "5", "\"text\"").
    void setting(const std::string& path, const std::string& value);
    /// An alarm message of that length, a tone, on the alarm page's tree
    /// (kMessageGroup / kMessageName).
    void prepareAlarmMessage(double seconds);
    /// A service message (kServiceGroup / kServiceName) on the service page's tree.
    void prepareServiceMessage(double seconds);
    /// The gong of the "Гонг" button.
    void prepareGong(double seconds);
    /// The microphone: record.deviceName names a WAV file of that length.
    void prepareMicrophone(double seconds);
    /// The site's devices as the program's device list keeps them, so that
    /// it knows them from its start (a scheduled task names its loudspeakers
    /// from that list as it loads).
    void prepareKnownDevices();
    /// A task of the scheduler that plays the service message once, at the
    /// start of the next whole minute that is at least `lead` away, to
    /// every loudspeaker of the site; returns that minute's start.
    std::chrono::system_clock::time_point prepareScheduledMessage(std::chrono::seconds lead);

    /// What notices on `path` need, each lasting `seconds`: the message,
    /// the gong, the microphone's file, the alarm buttons' setting; for the
    /// scheduler, the service message and its task at the next whole minute
    /// at least 45 s away.
    void prepareNotice(Path path, double seconds);

    /// The simulator, then the program; returns once the window shows every
    /// loudspeaker answered and the window answers pings. Throws CaseStopped.
    void start();

    // ---- what runs ------------------------------------------------------------------------
    e2e::Sandbox& box() { return *m_box; }
    Report& report() { return m_report; }
    Driver& driver() { return *m_driver; }
    const Receiver& receiver() const { return *m_receiver; }
    const WindowPinger& pinger() const { return *m_pinger; }
    e2e::Child& program() { return *m_program; }
    const Site& site() const { return m_site; }
    std::size_t loudspeakers() const { return m_site.loudspeakers.size(); }

    /// A line to the simulator's control FIFO, waited for until the
    /// simulator has it done. Throws CaseStopped when it is refused.
    void control(const std::string& line);
    /// A request to device `number` as an installer's tool sends it (from
    /// 127.0.0.1); its reply, or "(no reply)" within 3 s.
    std::string ask(unsigned number, const std::string& request);
    /// What every device holds now.
    Holdings holdings() const;
    /// Waits until the holdings pass the test (checked every 50 ms); false
    /// after `limit`.
    bool waitHoldings(const std::function<bool(const Holdings&)>& test,
                      std::chrono::milliseconds limit) const;
    /// The program's log as it stands.
    std::string log() const { return m_box->log(); }
    /// The log since start() (or since the last mark()).
    std::string logSinceMark() const;
    void mark();

    // ---- the operator -----------------------------------------------------------------------
    /// Clicks the first enabled control that passes; its time. Throws
    /// CaseStopped (noting `what`) when none shows within 10 s.
    Clock::time_point click(const WidgetListing::Test& test, const std::string& what);
    /// Clicks a button or toggle by its label.
    Clock::time_point clickButton(const std::string& label);
    /// "Выделить все устройства"; returns once every loudspeaker's icon is selected.
    void selectAll();
    /// Clicks the icon of device `number` (with "ctrl" to add it).
    void clickDevice(unsigned number, const std::string& modifier = std::string());
    /// Types the password into the prompt that shows and presses Return; the
    /// time of the Return.
    Clock::time_point typePassword();
    /// The alarm page ("Тревожное\nоповещение" and the password), with its
    /// message chosen.
    void openAlarmPage();
    /// The service page with its message chosen.
    void openServicePage();
    /// Back to the device icons ("Все зоны").
    void showZones();
    /// "Настройки" and the password: administrator mode.
    void enterAdministratorMode();
    /// The device's property panel ("Настройки устройства", administrator
    /// mode); the time of the click.
    Clock::time_point openPanel(unsigned number);
    /// Waits until the panel's text field captioned `label` shows enabled
    /// with a text (the page's read has filled it); that field.
    Widget waitField(const std::string& label, std::chrono::milliseconds limit = 15s);
    /// The same without stopping the case: nothing when it never shows filled.
    std::optional<Widget> filledField(const std::string& label, std::chrono::milliseconds limit = 15s);
    /// Clicks the field captioned `label`, selects its text and types `text`;
    /// returns once the field shows it (3 s at most), with the time of the typing.
    Clock::time_point typeInto(const std::string& label, const std::string& text);
    /// Answers the open box that offers the button (a real click on it);
    /// the time of the click.
    Clock::time_point answerBox(const std::string& button);
    /// Clicks the item of a control of that type ("wxTreeCtrl",
    /// "wxListCtrl", "wxNotebook") shown with that title.
    Clock::time_point clickItem(const std::string& type, const std::string& title);
    /// Whether a control of that type shows that label within `limit`.
    bool shows(const std::string& type, const std::string& label, std::chrono::milliseconds limit) const;
    /// Whether such an item shows selected within 10 s.
    bool itemSelected(const std::string& type, const std::string& title) const;
    /// Opens the group of a message page's tree and chooses the message.
    void chooseMessage(const std::string& group, const std::string& message);
    /// ▶ (or ■) of the message page shown; the time of the click.
    Clock::time_point clickPlay();
    Clock::time_point clickStop();

    // ---- notices ----------------------------------------------------------------------------
    /// Every loudspeaker chosen but the unchosen ones, and the path's page
    /// shown with its message chosen (the alarm page's password typed),
    /// ready for startNotice.
    void openPath(Path path, const std::vector<unsigned>& unchosen = {});
    /// Starts a notice as the operator does; the moment its deadline counts
    /// from: the click, the password's Return for the buttons, the task's
    /// minute for the scheduler (waited for).
    Clock::time_point startNotice(Path path);
    /// Ends it as the operator does ("Стоп", ■, "Стоп" of the page).
    Clock::time_point stopNotice(Path path);
    /// The stream that carries a notice of the path.
    static Receiver::Stream streamOf(Path path);
    /// The latest its first datagram may come after startNotice.
    static std::chrono::milliseconds deadlineOf(Path path);
    /// Whether loudspeaker `number` is taken by a notice of the path: on a
    /// notice channel, or (the service message, on the common channel) at a
    /// volume other than its own.
    bool takenBy(Path path, const Holdings& holdings, unsigned number) const;
    /// Waits until every loudspeaker but those left out is taken; when that
    /// was, or nothing after `limit`.
    std::optional<Clock::time_point> waitAllTaken(Path path, std::chrono::milliseconds limit,
                                                  const std::vector<unsigned>& leftOut = {});

    // ---- judges ---------------------------------------------------------------------------------
    /// Notes a failure when the condition does not hold; returns it.
    bool check(bool condition, const std::string& why);
    /// Whether loudspeaker `number` holds channel 0 at its own volume.
    bool ownHeld(const Holdings& holdings, unsigned number) const;
    /// Waits until every loudspeaker holds channel 0 and exactly its own
    /// volume (its `expected` volume when given), up to `limit`; notes the
    /// ones that do not (figure `own`), and returns whether all did.
    bool expectOwnVolumes(std::chrono::milliseconds limit,
                          const std::map<unsigned, std::string>& expected = {});
    /// The first notice datagram at or after `from`, noted as figure `name`
    /// in seconds after it, and a failure when it is later than `bound` or
    /// never comes within `bound` + 10 s.
    std::optional<double> firstDatagram(const std::string& name, Receiver::Stream stream,
                                        Clock::time_point from, std::chrono::milliseconds bound);
    /// The window's longest stall from `from` to now, noted as figure
    /// `name`, and a failure when it is over `bound`.
    std::chrono::milliseconds stall(const std::string& name, Clock::time_point from,
                                    std::chrono::milliseconds bound);
    /// `sonvar --quit` and the program's end, timed from the quit's start;
    /// noted as figure `name`, and a failure when over `bound`. Returns the
    /// seconds it took (the limit's when it did not end). With `answering`
    /// the window is pinged on while the quit runs, and its longest stall
    /// as long as it answered is noted as figure `name`_stall, a failure
    /// when over `answering`.
    double quit(const std::string& name, std::chrono::milliseconds bound,
                std::optional<std::chrono::milliseconds> answering = std::nullopt);
    /// The notices the program told the operator since the mark, one a line
    /// (the log's NOTICE, WARN and ERROR lines).
    std::vector<std::string> toldSinceMark() const;

    /// The folder where the case's diagnostics go.
    std::string shotsFolder() const;

private:
    /// A message file of `seconds` of a tone in the data folder, and the
    /// message tree file `tree` that lists it alone.
    void prepareMessage(const std::string& file, const std::string& tree, const std::string& group,
                        const std::string& name, double seconds, double frequency);
    void writeSettings();
    void waitForDevices();
    void keepDiagnostics();
    [[noreturn]] void stop(const std::string& why);

    Report m_report;
    Site m_site;
    std::map<std::string, std::string> m_settings;  // path -> value
    std::unique_ptr<e2e::Sandbox> m_box;
    std::unique_ptr<Receiver> m_receiver;
    std::unique_ptr<e2e::Child> m_simulator;
    std::unique_ptr<e2e::Child> m_program;
    std::unique_ptr<Driver> m_driver;
    std::unique_ptr<WindowPinger> m_pinger;
    std::string m_holdingsPath;
    std::string m_controlPath;
    std::map<std::string, std::size_t> m_controlSent;  // control lines by how often each was sent
    std::size_t m_logMark = 0;
    std::optional<std::chrono::system_clock::time_point> m_taskMinute;
    Rect m_topButton;  // where the main window's button of the last start was
};

}  // namespace trial
