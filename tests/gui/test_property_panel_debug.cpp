// ctest-labels: net
// The debug page of the device property panel over simulated devices: the
// requests at the chosen period and their end ("Стоп", leaving the page);
// the request of each kind of device; the history, the drawn text,
// "Очистить" and "Копировать"; refused and unanswered requests; the
// line-error requests; the deferred volume change; the direct requests; the
// command rows with their suites and the panel's height.
#include <gtest/gtest.h>
#include <wx/clipbrd.h>
#include <wx/combobox.h>
#include <wx/radiobox.h>
#include <wx/slider.h>
#include <wx/tglbtn.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <fstream>
#include <mutex>

#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "device/transfer_protocol.h"
#include "gui/cmd_suite_dialog.h"
#include "gui/property_device_panel.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/tovik_config_model.h"

using namespace std::chrono_literals;
using wx_testing::runEventLoopFor;
using wx_testing::runEventLoopUntil;

namespace {

// The devices listen on the collection's base port, each at its own address,
// on a network of each test's own: ctest runs the tests side by side.
constexpr std::uint16_t kBasePort = 29991;
std::string ownNetwork() {
    const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
    const ::testing::TestSuite& suite = *tests.current_test_suite();
    int index = 0;
    while (index < suite.total_test_count() &&
           std::string(suite.GetTestInfo(index)->name()) != tests.current_test_info()->name())
        ++index;
    return "127.31." + std::to_string(index) + ".";
}
enum Sim { kSpeaker = 1, kOrvel510, kConsole };

/// What the loudspeaker answers to "get dbg"; "-" keeps it silent.
class DebugScript {
public:
    void set(const std::string& reply) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = reply;
    }
    std::optional<std::string> answer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reply == "-") return std::nullopt;
        return m_reply;
    }

private:
    std::mutex m_mutex;
    std::string m_reply = "dbg:\r\nuptime=1";
};

class Panel : public frm::PropertyDevicePanel {
public:
    using frm::fb::PropertyDevicePanel::buttonAddCommand, frm::fb::PropertyDevicePanel::buttonCommandSuite,
        frm::fb::PropertyDevicePanel::buttonCopyDebug, frm::fb::PropertyDevicePanel::buttonDebugExchange,
        frm::fb::PropertyDevicePanel::buttonClearDebug, frm::fb::PropertyDevicePanel::buttonExchange,
        frm::fb::PropertyDevicePanel::checkBoxLineError, frm::fb::PropertyDevicePanel::choiceRefreshRate,
        frm::fb::PropertyDevicePanel::notebookPref, frm::fb::PropertyDevicePanel::radioBoxDebugKind,
        frm::fb::PropertyDevicePanel::sizerCommandRows, frm::fb::PropertyDevicePanel::sliderVolume,
        frm::fb::PropertyDevicePanel::staticDebugIndicator, frm::fb::PropertyDevicePanel::textCommand,
        frm::fb::PropertyDevicePanel::textDebugExchange, frm::fb::PropertyDevicePanel::textDebugLog,
        frm::fb::PropertyDevicePanel::textDebugLower, frm::fb::PropertyDevicePanel::textDebugUpper,
        frm::fb::PropertyDevicePanel::textExchangeAnswer, frm::fb::PropertyDevicePanel::toggleStopDebug;
    using frm::PropertyDevicePanel::buttonDebugExchangeOnClick, frm::PropertyDevicePanel::getExchangeCommands,
        frm::PropertyDevicePanel::initVolumeSlider, frm::PropertyDevicePanel::m_debugText,
        frm::PropertyDevicePanel::startRequestingDebugMessages, frm::PropertyDevicePanel::toConsoleLog;
    using frm::PropertyDevicePanel::PropertyDevicePanel;

    void select(const std::wstring& tab) {
        for (std::size_t i = 0; i < notebookPref->GetPageCount(); ++i)
            if (notebookPref->GetPageText(i) == tab) {
                notebookPref->SetSelection(i);
                runEventLoopFor(50ms);  // the page is drawn before the operator acts on it
                return;
            }
        ADD_FAILURE() << "no tab " << wxString(tab).utf8_string();
    }
    void open(const boost::shared_ptr<device::DeviceBase>& device) {
        imbueDevice(device);
        updateData();
        runEventLoopFor(50ms);
    }
    /// The debug page as the operator opens it, with the period of the
    /// choice's item (0: "50"); the requests start as the page fill starts them.
    void openDebugPage(int periodItem) {
        select(L"Отладочные сообщения");
        dialog_testing::choose(choiceRefreshRate, periodItem);
        startRequestingDebugMessages();
    }
    void chooseKind(int kind) {
        radioBoxDebugKind->SetSelection(kind);
        wxCommandEvent event(wxEVT_RADIOBOX, radioBoxDebugKind->GetId());
        event.SetEventObject(radioBoxDebugKind);
        event.SetInt(kind);
        radioBoxDebugKind->HandleWindowEvent(event);
    }
    wxColour mark() const { return staticDebugIndicator->GetForegroundColour(); }
    /// The command rows top down, by the text of each row's field.
    std::vector<wxString> rows() const {
        std::vector<wxString> texts;
        for (const wxSizerItem* item : sizerCommandRows->GetChildren())
            texts.push_back(field(item->GetWindow())->GetValue());
        return texts;
    }
    wxWindow* row(std::size_t top) const { return sizerCommandRows->GetItem(top)->GetWindow(); }
    static wxTextCtrl* field(wxWindow* row) { return dialog_testing::all<wxTextCtrl>(row).at(0); }
};

const wxColour kGreen(3, 192, 60);
const wxColour kRed(255, 0, 0);

void clickButton(wxWindow* button) {
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->HandleWindowEvent(click);
}

void toggle(wxToggleButton* button) {
    button->SetValue(!button->GetValue());
    wxCommandEvent event(wxEVT_TOGGLEBUTTON, button->GetId());
    event.SetEventObject(button);
    event.SetInt(button->GetValue() ? 1 : 0);
    button->HandleWindowEvent(event);
}

void moveSlider(wxSlider* slider, int value) {
    slider->SetValue(value);
    wxScrollEvent event(wxEVT_SCROLL_CHANGED, slider->GetId(), value);
    event.SetEventObject(slider);
    slider->HandleWindowEvent(event);
}

class DebugPageTest : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(files.widePath() + L"/sonvar.cfg");
        base::ThreadDispatcher::create();
        frame->SetSize(1280, 1024);
        GuiThreadInvoker::createInstance(frame);
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        device::CollectionTiming timing;
        timing.startDelay = 50ms;
        timing.tick = 100ms;
        collection = device::DeviceCollection::create(transport, kBasePort, timing);
        collection->setNewDeviceHandler([this](const std::wstring&, const net::HardwareAddress&,
                                               const std::wstring&) { return nextId++; });
        transport->run();

        const auto add = [this](Sim n, std::unique_ptr<device::sim::Model> model) {
            return &simulator.add(ownNetwork() + std::to_string(n), kBasePort, std::move(model));
        };
        speaker =
            add(kSpeaker, std::make_unique<device::sim::OrvelModel>(
                              device::sim::Simulator::hardwareAddress(1), "Orvel-610 1.0.110.0 Mar 03 2021"));
        speaker->withModel<device::sim::CommandModel>([this](device::sim::CommandModel& model) {
            model.on("get dbg", [script = script](const std::string&) { return script->answer(); });
            device::sim::LineControlStore::install(lineControl, model);
            return 0;
        });
        orvel510 = add(kOrvel510,
                       std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(2),
                                                                 device::sim::kDefaultOrvel510Version));
        console =
            add(kConsole,
                std::make_unique<device::sim::TovikConfigModel>(device::sim::Simulator::hardwareAddress(3)));
        for (std::size_t i = 0; i < simulator.size(); ++i)
            simulator.device(i).startStatePackets(server(), 100ms);
        simulator.start();
        ASSERT_TRUE(runEventLoopUntil(
            [this] {
                for (const Sim n : {kSpeaker, kOrvel510, kConsole})
                    if (!device(n) || !device(n)->isOnlineAndAnswered()) return false;
                return true;
            },
            10s));
    }
    void TearDown() override {
        runEventLoopFor(50ms);
        GuiThreadInvoker::destroyInstance();
        if (frame) frame->Destroy();
        runEventLoopUntil([this] { return !frame; });
        collection->stop();
        transport->stop();
        simulator.stop();
        collection.reset();
        base::ThreadDispatcher::destroy();
        pref_free();
        CountingLogFixture::TearDown();
    }

    device::sim::Endpoint server() const {
        return device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort());
    }
    boost::shared_ptr<device::DeviceBase> device(Sim n) {
        return collection->searchFor(net::HardwareAddress(device::sim::Simulator::hardwareAddress(n)));
    }
    Panel* makePanel() {
        auto* panel = new Panel(frame, collection, nullptr, transport, true);
        frame->Show();
        runEventLoopUntil([panel] { return panel->IsShownOnScreen(); });
        runEventLoopFor(200ms);  // laid out at the window's size
        return panel;
    }
    /// How many requests beginning with `request` the device received.
    static int asked(const device::sim::SimulatedDevice* at, const std::string& request) {
        int count = 0;
        for (const auto& datagram : at->received())
            if (datagram.text.rfind(request, 0) == 0) ++count;
        return count;
    }

    testing_support::TempDir files{"debug-page"};
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", files.path().c_str()};
    wxWeakRef<wx_testing::TaskWindow> frame = new wx_testing::TaskWindow;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    std::uint32_t nextId = 1;
    device::sim::Simulator simulator{2};
    std::shared_ptr<DebugScript> script = std::make_shared<DebugScript>();
    std::shared_ptr<device::sim::LineControlStore> lineControl =
        std::make_shared<device::sim::LineControlStore>();
    device::sim::SimulatedDevice* speaker = nullptr;
    device::sim::SimulatedDevice* orvel510 = nullptr;
    device::sim::SimulatedDevice* console = nullptr;
};

}  // namespace

TEST_F(DebugPageTest, RequestsGoAtTheChosenPeriodAndEndWithStopOrLeavingThePage) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    panel->openDebugPage(0);
    EXPECT_EQ(pref::getString("debug.refreshTime"), L"50");
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"dbg:\nuptime=1\n"; }));
    EXPECT_EQ(panel->mark(), kGreen);

    int before = asked(speaker, "get dbg");
    runEventLoopFor(1000ms);
    const int inOneSecond = asked(speaker, "get dbg") - before;
    EXPECT_GE(inOneSecond, 10) << "every 50 ms";
    EXPECT_LE(inOneSecond, 22);

    // "Стоп": nothing more after a request that was already leaving.
    toggle(panel->toggleStopDebug);
    runEventLoopFor(150ms);
    before = asked(speaker, "get dbg");
    runEventLoopFor(400ms);
    EXPECT_EQ(asked(speaker, "get dbg"), before);
    toggle(panel->toggleStopDebug);
    EXPECT_TRUE(runEventLoopUntil([&] { return asked(speaker, "get dbg") > before + 2; }));

    // A slower period from the next request on.
    dialog_testing::choose(panel->choiceRefreshRate, 8);  // "1000"
    runEventLoopFor(150ms);
    before = asked(speaker, "get dbg");
    runEventLoopFor(1500ms);
    EXPECT_LE(asked(speaker, "get dbg") - before, 2);

    // Leaving the page ends the chain even when a job is under way; the mark turns red.
    dialog_testing::choose(panel->choiceRefreshRate, 0);
    runEventLoopFor(1100ms);
    panel->select(L"Сеть");
    EXPECT_EQ(panel->mark(), kRed);
    runEventLoopFor(150ms);
    before = asked(speaker, "get dbg");
    runEventLoopFor(500ms);
    EXPECT_EQ(asked(speaker, "get dbg"), before);
    EXPECT_EQ(panel->mark(), kRed) << "no late reply turns it green again";

    // Without a device that answers, nothing is asked and the area says so.
    panel->open(collection->addDevice(99, L"Orvel-610",
                                      net::HardwareAddress(device::sim::Simulator::hardwareAddress(9)),
                                      net::Ip4Address(ownNetwork() + "9"), L"Молчащий"));
    panel->openDebugPage(0);
    EXPECT_EQ(panel->m_debugText, L"Выберете в списке одно устройство онлайн.");
}

TEST_F(DebugPageTest, EachKindOfDeviceIsAskedItsOwnRequest) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    panel->openDebugPage(0);
    panel->chooseKind(1);
    EXPECT_TRUE(runEventLoopUntil([&] { return asked(speaker, "lsensor dbg") >= 2; }));
    panel->chooseKind(0);

    // A console is asked "get dbg" whatever the choice, an Orvel-510 "getLineParam".
    panel->open(device(kConsole));
    panel->chooseKind(1);
    panel->openDebugPage(0);
    EXPECT_TRUE(runEventLoopUntil([&] { return asked(console, "get dbg") >= 2; }));
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"dbg:\nuptime=7200\nmic=ok\n"; }));
    panel->open(device(kOrvel510));
    panel->openDebugPage(0);
    EXPECT_TRUE(runEventLoopUntil([&] { return asked(orvel510, "getLineParam") >= 2; }));
    const int consoleAsked = asked(console, "get dbg");
    runEventLoopFor(300ms);
    EXPECT_LE(asked(console, "get dbg"), consoleAsked + 1) << "one chain at a time";
}

TEST_F(DebugPageTest, RepliesFillTheHistoryAndTheDrawingWhichClearAndCopyUse) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    script->set("!5 five\r\nuptime=5");
    panel->openDebugPage(0);
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"uptime=5\n"; }));
    EXPECT_EQ(panel->textDebugUpper->GetValue(), L"five\n");
    script->set("!3 " + base::toNarrow(L"три"));  // CP1251 on the wire
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->textDebugUpper->GetValue() == L"три\nfive\n"; }));
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"!3 три"; }))
        << "a reply without other lines is drawn whole";

    // The other kind has a history of its own; "Очистить" empties only the chosen one.
    lineControl->setReply("dbg", "!7 line seven\r\nMode: work");
    panel->chooseKind(1);
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->textDebugUpper->GetValue() == L"line seven\n"; }));
    toggle(panel->toggleStopDebug);
    runEventLoopFor(150ms);
    clickButton(panel->buttonClearDebug);
    EXPECT_TRUE(panel->textDebugUpper->IsEmpty());
    toggle(panel->toggleStopDebug);
    panel->chooseKind(0);
    script->set("!6 six\r\nuptime=6");
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->textDebugUpper->GetValue() == L"три\nfive\nsix\n"; }));
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"uptime=6\n"; }));

    panel->initVolumeSlider();
    speaker->send("ERR lsensor line 1 short", server());
    ASSERT_TRUE(runEventLoopUntil([&] { return !panel->textDebugLower->IsEmpty(); }));
    EXPECT_FALSE(wx_testing::writeShot(frame, "property_debug_page").empty());

    // "Копировать": the drawn text on the clipboard, read back.
    clickButton(panel->buttonCopyDebug);
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTextDataObject copied;
    EXPECT_TRUE(wxTheClipboard->GetData(copied));
    wxTheClipboard->Close();
    EXPECT_EQ(copied.GetText(), L"uptime=6\n");
}

TEST_F(DebugPageTest, ARefusalOrSilenceTurnsTheMarkRedAndStaysOffTheTransportThread) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    script->set("!1 one\r\nuptime=1");
    panel->openDebugPage(0);
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->m_debugText == L"uptime=1\n"; }));

    script->set("ERR busy");
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->mark() == kRed; }));
    runEventLoopFor(300ms);
    EXPECT_EQ(loggedCount("Отладочный запрос отклонён устройством", "WARN"), 1)
        << "once for a run of refusals";
    EXPECT_EQ(loggedCount("completion failed"), 0) << "nothing thrown across the completer thread";
    EXPECT_EQ(panel->m_debugText, L"uptime=1\n");
    EXPECT_EQ(panel->textDebugUpper->GetValue(), L"one\n");

    script->set("uptime=2");
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->mark() == kGreen; }));
    script->set("-");
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->mark() == kRed; }));
    EXPECT_EQ(panel->m_debugText, L"uptime=2\n");
}

TEST_F(DebugPageTest, ADeviceErrorLineGivesOnePairOfLineRequestsAndTheirRepliesNone) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    panel->select(L"Отладочные сообщения");
    lineControl->setReply("test", "ERR lsensor test: line 1 open");
    lineControl->setReply("dbg", "ERR lsensor dbg: no answer");
    panel->checkBoxLineError->SetValue(true);

    speaker->send("ERR lsensor line 1 short\r\n", server());
    speaker->send("OK", server());
    const wxString once =
        L"ERR lsensor line 1 short\nERR lsensor test: line 1 open\nERR lsensor dbg: no answer\n";
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->textDebugLower->GetValue() == once; }));
    runEventLoopFor(1500ms);
    EXPECT_EQ(asked(speaker, "lsensor test 21"), 1);
    EXPECT_EQ(asked(speaker, "lsensor dbg"), 1);
    EXPECT_EQ(panel->textDebugLower->GetValue(), once) << "each line once, an \"OK\" line not at all";

    // The pair has ended: a new error line asks again, once.
    speaker->send("ERR lsensor line 2 short", server());
    ASSERT_TRUE(runEventLoopUntil([&] { return asked(speaker, "lsensor dbg") == 2; }));
    runEventLoopFor(1000ms);
    EXPECT_EQ(asked(speaker, "lsensor test 21"), 2);
    EXPECT_EQ(asked(speaker, "lsensor dbg"), 2);

    // Without "Line error" the line is only kept; "Очистить" forgets the device's lines.
    panel->checkBoxLineError->SetValue(false);
    speaker->send("ERR lsensor line 1 short", server());
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->textDebugLower->GetValue().Freq('\n') == 7; }));
    runEventLoopFor(300ms);
    EXPECT_EQ(asked(speaker, "lsensor test 21"), 2);
    clickButton(panel->buttonClearDebug);
    speaker->send("ERR other", server());
    EXPECT_TRUE(runEventLoopUntil([&] { return panel->textDebugLower->GetValue() == L"ERR other\n"; }));
}

TEST_F(DebugPageTest, KeptLinesComeBackAfterThePagesWereLaidOutAnew) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    panel->openDebugPage(0);
    speaker->send("ERR lsensor kept", server());
    ASSERT_TRUE(
        runEventLoopUntil([&] { return panel->textDebugLower->GetValue() == L"ERR lsensor kept\n"; }));

    // A console has other pages; back at the loudspeaker the pages are laid
    // out anew and the page starts in the same pass, as the page fill does.
    // GTK's fields of a notebook laid out frozen take no text in that pass.
    for (const Sim shown : {kConsole, kSpeaker}) {
        panel->imbueDevice(device(shown));
        panel->updateData();
        panel->startRequestingDebugMessages();
        EXPECT_TRUE(panel->textDebugLower->IsEmpty()) << "no lines of the device before";
        runEventLoopFor(200ms);
    }
    EXPECT_TRUE(
        runEventLoopUntil([&] { return panel->textDebugLower->GetValue() == L"ERR lsensor kept\n"; }));

    // A device that errs without end: the latest thousand lines or a little more.
    for (int n = 1; n <= 1200; ++n) panel->toConsoleLog("ERR " + std::to_string(n));
    const wxString log = panel->textDebugLower->GetValue();
    EXPECT_TRUE(log.EndsWith(L"\nERR 1200\n"));
    EXPECT_GE(log.Freq('\n'), 1000);
    EXPECT_LE(log.Freq('\n'), 1100);
}

TEST_F(DebugPageTest, TheVolumeSliderSendsOnlyItsLastValueAndAConsoleWithoutVolumeIsLogged) {
    Panel* panel = makePanel();
    const auto shown = device(kSpeaker);
    panel->open(shown);
    panel->select(L"Отладочные сообщения");
    panel->initVolumeSlider();
    EXPECT_EQ(panel->sliderVolume->GetValue(), 50) << "-15 dB";
    EXPECT_EQ(panel->sliderVolume->GetToolTipText(), shown->getTitle() + L" 50%");

    // Three movements within 200 ms; the value counts as the slider had it then.
    for (const int value : {30, 40, 70}) moveSlider(panel->sliderVolume, value);
    panel->sliderVolume->SetValue(10);
    ASSERT_TRUE(runEventLoopUntil([&] { return asked(speaker, "set vol") > 0; }));
    ASSERT_TRUE(runEventLoopUntil([&] { return panel->sliderVolume->GetValue() == 70; }));
    runEventLoopFor(300ms);
    EXPECT_EQ(asked(speaker, "set vol"), 1);
    EXPECT_EQ(asked(speaker, "set vol -9"), 1);

    // Leaving the page at once: the change never goes.
    moveSlider(panel->sliderVolume, 20);
    panel->select(L"Общие");
    runEventLoopFor(500ms);
    EXPECT_EQ(asked(speaker, "set vol"), 1);

    // A console has no volume: a warning, no exception out of the job.
    panel->open(device(kConsole));
    panel->select(L"Отладочные сообщения");
    const int warnings = loggedCount("", "WARN");
    moveSlider(panel->sliderVolume, 60);
    EXPECT_TRUE(runEventLoopUntil([&] { return loggedCount("", "WARN") > warnings; }));
    EXPECT_TRUE(logged("a scheduler worked: change volume"));
}

TEST_F(DebugPageTest, ADirectRequestShowsTheReplyInTheFieldOfThePageShown) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    panel->select(L"Отладочные сообщения");
    panel->textDebugExchange->SetValue(L"get vol");
    clickButton(panel->buttonDebugExchange);
    EXPECT_EQ(panel->textDebugLog->GetValue(), L"-15");

    panel->select(L"Общие");
    panel->textCommand->SetValue(L"nothing such");
    clickButton(panel->buttonExchange);
    EXPECT_EQ(panel->textExchangeAnswer->GetValue(), L"ERR unknown command");
    EXPECT_TRUE(panel->textDebugLog->GetValue() == L"-15");

    // A button that carries no field sends nothing.
    wxCommandEvent stray(wxEVT_BUTTON);
    stray.SetEventObject(panel->buttonAddCommand);
    panel->buttonDebugExchangeOnClick(stray);
    EXPECT_TRUE(logged("Ошибка данных."));
    EXPECT_EQ(panel->textExchangeAnswer->GetValue(), L"ERR unknown command");

    // No answer: an empty field.
    speaker->setReplyPolicy({0, true});
    clickButton(panel->buttonExchange);
    EXPECT_TRUE(panel->textExchangeAnswer->IsEmpty());
}

TEST_F(DebugPageTest, CommandRowsAreNewestOnTopAndGoThroughTheSuites) {
    Panel* panel = makePanel();
    panel->open(device(kSpeaker));
    for (const wchar_t* command : {L"A", L"B"}) {
        panel->textCommand->SetValue(command);
        clickButton(panel->buttonAddCommand);
    }
    EXPECT_EQ(panel->rows(), (std::vector<wxString>{L"B", L"A"}));
    EXPECT_TRUE(panel->textCommand->IsEmpty());

    const std::string folder = base::toUtf8(frm::CmdSuiteDialog::suiteFolder());
    const auto suite = [&](const wxString& name, const wxString& button) {
        ui_testing::ScriptedUi ui;
        ui.expectDialog(L"Управление набором команд", wxID_CANCEL, [&](wxDialog& dialog) {
            dialog_testing::all<wxComboBox>(&dialog).at(0)->SetValue(name);
            dialog_testing::press(&dialog, button);
        });
        clickButton(panel->buttonCommandSuite);
    };
    suite(L"pair", L"Сохранить");
    EXPECT_EQ(testing_support::readFile(folder + "/pair.txt"), "A\nB\n") << "oldest first";
    panel->textCommand->SetValue(L"typed");
    EXPECT_EQ(panel->getExchangeCommands(), (std::vector<std::wstring>{L"A", L"B", L"typed"}));

    std::ofstream(folder + "/three.txt") << "get vol\nB\nC\n";
    panel->textExchangeAnswer->SetValue(L"old answer");
    suite(L"", L"Очистить");
    EXPECT_TRUE(panel->rows().empty());
    EXPECT_TRUE(panel->textCommand->IsEmpty());
    EXPECT_TRUE(panel->textExchangeAnswer->IsEmpty());
    suite(L"three", L"Загрузить");
    EXPECT_EQ(panel->rows(), (std::vector<wxString>{L"C", L"B", L"get vol"}));

    // A row's ">" and Enter send its own text; "-" removes only its row.
    wxWindow* bottom = panel->row(2);
    clickButton(dialog_testing::all<wxButton>(bottom).at(0));
    EXPECT_EQ(panel->textExchangeAnswer->GetValue(), L"-15");
    Panel::field(panel->row(0))->SetValue(L"get vol");
    wxCommandEvent enter(wxEVT_TEXT_ENTER, Panel::field(panel->row(0))->GetId());
    enter.SetEventObject(Panel::field(panel->row(0)));
    const int volumeAsked = asked(speaker, "get vol");
    Panel::field(panel->row(0))->HandleWindowEvent(enter);
    EXPECT_EQ(asked(speaker, "get vol"), volumeAsked + 1);
    clickButton(dialog_testing::all<wxButton>(panel->row(1)).at(1));
    runEventLoopFor(50ms);
    EXPECT_EQ(panel->rows(), (std::vector<wxString>{L"get vol", L"get vol"}));

    // A low panel hides the rows and "+", the command line stays.
    panel->SetSize(1200, 451);
    runEventLoopFor(50ms);
    EXPECT_FALSE(panel->row(0)->IsShown());
    EXPECT_FALSE(panel->buttonAddCommand->IsShown());
    EXPECT_TRUE(panel->textCommand->IsShown());
    panel->SetSize(1200, 452);
    runEventLoopFor(50ms);
    EXPECT_TRUE(panel->row(0)->IsShown());
    EXPECT_TRUE(panel->buttonAddCommand->IsShown());
}
