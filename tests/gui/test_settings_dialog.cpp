// The settings dialog: its layout's event table; what OK stores (in
// administrator mode exactly the dialog's keys, outside it nothing of the
// network), the password pairs, a refused multicast address that stores
// nothing at all and is told in a notice beside the dialog, number fields that
// keep letters and refuse what is no number of their range (typed and
// clicked for real) and store nothing, the default gong under a Cyrillic
// path, and a picture of every page, the events page showing today's log.
// ctest-labels: input
#include <sys/stat.h>
#include <wx/uiaction.h>

#include <array>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "base/password.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/settings_support.h"
#include "tests/gui/ui_script.h"
#include "tests/support/child_process.h"

using settings_testing::Dialog;
using Type = pref::Type;

namespace {

enum Handler { kPage, kGong, kService, kAlarm, kRecorded, kScroll, kPlay, kLogChoice, kOk, kCancel, kHandlers };
using Calls = std::array<int, kHandlers>;

/// The layout with every handler counted.
class SpyLayout : public frm::fb::SettingsDialog {
public:
    SpyLayout() : SettingsDialog(nullptr) {}
    Calls calls{};
    frm::fb::EventConnections& connections() { return m_connections; }

    /// (control, event, handler) in the table's order.
    std::vector<std::tuple<wxWindow*, wxEventType, Handler>> table() {
        std::vector<std::tuple<wxWindow*, wxEventType, Handler>> all = {
            {notebook, wxEVT_NOTEBOOK_PAGE_CHANGED, kPage}, {pathDirGong, wxEVT_BUTTON, kGong},
            {pathDirServiceMessage, wxEVT_BUTTON, kService}, {pathDirAlarmMessage, wxEVT_BUTTON, kAlarm},
            {pathDirRecordedMessage, wxEVT_BUTTON, kRecorded}};
        for (wxWindow* slider : std::vector<wxWindow*>{sliderServiceMessage, sliderMicrophone})
            for (const wxEventType type : sliderScrollEvents()) all.emplace_back(slider, type, kScroll);
        all.insert(all.end(), {{buttonPlay, wxEVT_BUTTON, kPlay}, {log, wxEVT_CHOICE, kLogChoice},
                               {buttonOk, wxEVT_BUTTON, kOk}, {buttonCancel, wxEVT_BUTTON, kCancel}});
        return all;
    }

private:
    void onNotebookPageChanged(wxBookCtrlEvent&) override { ++calls[kPage]; }
    void pathDirGongOnButtonClick(wxCommandEvent&) override { ++calls[kGong]; }
    void pathDirServiceMessageOnButtonClick(wxCommandEvent&) override { ++calls[kService]; }
    void pathDirAlarmMessageOnButtonClick(wxCommandEvent&) override { ++calls[kAlarm]; }
    void pathDirRecordedMessageOnButtonClick(wxCommandEvent&) override { ++calls[kRecorded]; }
    void sliderOnScroll(wxScrollEvent&) override { ++calls[kScroll]; }
    void buttonPlayOnButtonClick(wxCommandEvent&) override { ++calls[kPlay]; }
    void logOnChoice(wxCommandEvent&) override { ++calls[kLogChoice]; }
    void buttonOkOnClick(wxCommandEvent&) override { ++calls[kOk]; }
    void buttonCancelOnClick(wxCommandEvent&) override { ++calls[kCancel]; }
};

void fire(wxWindow* target, wxEventType type) {
    std::unique_ptr<wxEvent> event;
    if (type == wxEVT_NOTEBOOK_PAGE_CHANGED)
        event = std::make_unique<wxBookCtrlEvent>(type, target->GetId(), 1, 0);
    else if (type == wxEVT_BUTTON || type == wxEVT_CHOICE)
        event = std::make_unique<wxCommandEvent>(type, target->GetId());
    else
        event = std::make_unique<wxScrollEvent>(type, target->GetId(), 50);
    event->SetEventObject(target);
    event->StopPropagation();  // the page-change event would climb from any page to the notebook
    target->GetEventHandler()->ProcessEvent(*event);
}

void collectWindows(wxWindow* window, std::vector<wxWindow*>& all) {
    all.push_back(window);
    for (wxWindow* child : window->GetChildren()) collectWindows(child, all);
}

class SettingsDialogTest : public settings_testing::SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        devices = {{L"USB микрофон", 0, "hw:CARD=USB,DEV=0"}, {L"Линейный вход", 1, "hw:CARD=PCH,DEV=0"}};
        interfaces = {{L"eth0", "192.0.2.10", "255.255.255.0", "", true, ""},
                      {L"eth1", "198.51.100.7", "255.255.255.0", "", true, ""}};
    }
};

}  // namespace

TEST(SettingsDialogLayout, EveryEventOfTheTableReachesExactlyItsHandler) {
    wxWeakRef<SpyLayout> layout = new SpyLayout;
    const auto table = layout->table();
    const auto& made = layout->connections().connections();
    ASSERT_EQ(made.size(), 27u);
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_TRUE(made[i].source == std::get<0>(table[i]) && made[i].type == std::get<1>(table[i])) << i;

    std::vector<wxWindow*> windows;
    collectWindows(layout, windows);
    std::vector<wxEventType> types = frm::fb::SettingsDialog::sliderScrollEvents();
    types.insert(types.end(), {wxEVT_NOTEBOOK_PAGE_CHANGED, wxEVT_BUTTON, wxEVT_CHOICE});
    for (wxWindow* window : windows) {
        for (const wxEventType type : types) {
            Calls expected{};
            for (const auto& entry : table)
                if (std::get<0>(entry) == window && std::get<1>(entry) == type) ++expected[std::get<2>(entry)];
            layout->calls = {};
            fire(window, type);
            EXPECT_EQ(layout->calls, expected) << "window \"" << window->GetLabel() << "\", event type " << type;
        }
    }
    layout->Destroy();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return !layout; }));
}

TEST_F(SettingsDialogTest, OutsideAdministratorModeFivePagesAndOkLeavesTheNetworkAlone) {
    setText("multicast.address", L"224.0.224.9");
    set("multicast.basePort", Type::TypeInt, 12000);
    setText("net.interfaceIp", L"198.51.100.7");
    setText("debug.level", L"warn");
    setText("security.interface", defaultStoredPassword);
    Dialog& d = open(false, true);
    std::vector<std::wstring> pages;
    for (std::size_t i = 0; i < d.notebook->GetPageCount(); ++i) pages.push_back(d.notebook->GetPageText(i).ToStdWstring());
    EXPECT_EQ(pages, (std::vector<std::wstring>{L"Расположение", L"Громкость", L"Запись", L"Безопасность", L"События"}));
    EXPECT_EQ(d.notebook->GetSelection(), 0);

    const auto before = settingsNow();
    d.networkInterface->SetSelection(0);
    d.multicastAddress->ChangeValue(L"224.0.224.77");
    Dialog::press(d.buttonOk);
    EXPECT_EQ(d.GetReturnCode(), wxID_OK);
    const auto after = settingsNow();
    for (const auto& key : before) {
        if (key.first.rfind("net.", 0) == 0 || key.first.rfind("multicast.", 0) == 0) {
            EXPECT_EQ(after.at(key.first), key.second) << key.first;
        }
    }
    EXPECT_EQ(text("debug.level"), L"info") << "a level the choice does not have comes back as \"info\"";
    EXPECT_EQ(text("security.interface"), defaultStoredPassword) << "the filler and no repetition keep it";
}

TEST_F(SettingsDialogTest, InAdministratorModeOkWritesExactlyTheDialogsKeys) {
    set("mainWindow.alarmButtons", Type::TypeBoolean, true);
    Dialog& d = open(true, false);
    EXPECT_EQ(d.networkInterface->GetSelection(), 0) << "a fresh settings file: the first interface that is up";
    const auto before = settingsNow();
    // Every control to a value that differs from the stored one.
    d.pathFileGong->SetSelection(static_cast<int>(d.pathFileGong->GetCount()) - 1);  // no gong
    d.sliderServiceMessage->SetValue(40);
    d.sliderMicrophone->SetValue(60);
    d.recordDevice->SetSelection(1);
    d.networkInterface->SetSelection(1);
    d.multicastAddress->ChangeValue(L"224.0.224.9");
    d.multicastBasePort->SetValue(12000);
    d.multicastTtl->SetValue(4);
    d.passwordAdministrator->ChangeValue(L"secret");
    d.passwordAdministratorRepeat->ChangeValue(L"secret");
    d.interfaceTimeout->SetValue(5);
    d.logLevel->SetSelection(1);  // hidden, stored all the same
    Dialog::press(d.buttonOk);
    EXPECT_EQ(d.GetReturnCode(), wxID_OK);

    const auto after = settingsNow();
    std::set<std::string> changed;
    for (const auto& key : after)
        if (before.count(key.first) == 0 || before.at(key.first) != key.second) changed.insert(key.first);
    EXPECT_EQ(changed, (std::set<std::string>{
                           "debug.level", "multicast.address", "multicast.basePort", "multicast.ttl",
                           "net.interfaceDescription", "net.interfaceIp", "place.pathDirAlarmMessage",
                           "place.pathDirGong", "place.pathDirRecordedMessage", "place.pathDirServiceMessage",
                           "place.pathFileGong", "record.deviceName", "security.administrator",
                           "security.interfaceTimeout", "volume.microphone2", "volume.serviceMessage2"}));
    EXPECT_EQ(text("debug.level"), L"trace2");
    EXPECT_EQ(text("net.interfaceIp") + L" " + text("net.interfaceDescription"), L"198.51.100.7 eth1");
    EXPECT_EQ(text("place.pathDirGong"), services.dataFolder + L"/gong");
    EXPECT_EQ(decodePassword(text("security.administrator")), L"secret");
    EXPECT_TRUE(logged("Установлено время до блокировки интерфейса = 5 мин"));
}

TEST_F(SettingsDialogTest, PasswordPairsStoreOrRefuseEachOnItsOwn) {
    const std::wstring stored = defaultStoredPassword;
    for (const char* key : {"security.administrator", "security.playbackAlarm", "security.interface"})
        setText(key, stored);
    // Administrator: only "Повторить" typed, which counts when it equals the
    // filler. Alarm playback: a character the stored form cannot carry.
    // Interface: two different texts.
    Dialog& d = open(false);
    EXPECT_EQ(d.passwordAdministrator->GetValue(), L"00000000");
    d.passwordAdministratorRepeat->ChangeValue(L"00000000");
    d.passwordPlaybackAlarm->ChangeValue(L"пароль");
    d.passwordPlaybackAlarmRepeat->ChangeValue(L"пароль");
    d.passwordInterface->ChangeValue(L"abc");
    d.passwordInterfaceRepeat->ChangeValue(L"abd");
    Dialog::press(d.buttonOk);
    EXPECT_EQ(d.GetReturnCode(), wxID_OK) << "mismatched passwords still close the dialog";
    EXPECT_EQ(decodePassword(text("security.administrator")), L"00000000");
    EXPECT_TRUE(logged("Изменен пароль администратора"));
    EXPECT_EQ(text("security.playbackAlarm") + text("security.interface"), stored + stored);
    EXPECT_EQ(observedAt(L"NOTICE", true),
              (std::vector<std::wstring>{
                  L"Пароль для воспроизведения тревог: Пароль может содержать только латинские буквы, цифры и знаки",
                  L"Пароль для блокирования интерфейса не сохранён (введён разный)"}));
}

// The field trial: "999.1.2.3" gave an error notice over the dialog, which
// could not be closed while the dialog ran.
TEST_F(SettingsDialogTest, ARefusedMulticastAddressStoresNothingAndKeepsTheDialogOpen) {
    Dialog& d = open(true);
    d.Show();
    d.notebook->SetSelection(0);
    const auto before = settingsNow();
    int errors = 0;
    // The last one would stop the next start.
    for (const wchar_t* address : {L"999.1.2.3", L"224.0.224.256", L"224.0.224.1x"}) {
        SCOPED_TRACE(wxString(address).utf8_string());
        d.sliderServiceMessage->SetValue(33);
        d.recordDevice->SetSelection(0);
        d.passwordAdministratorRepeat->ChangeValue(L"00000000");
        d.multicastAddress->ChangeValue(address);
        ui_testing::ScriptedUi answers;
        answers.expect(L"Внимание", wxID_OK);
        Dialog::press(d.buttonOk);
        ASSERT_EQ(answers.shown().size(), 1u);
        EXPECT_TRUE(answers.shown()[0].notice) << "refused as every typed text is, by a notice";
        EXPECT_NE(answers.shown()[0].text.find(L"\"" + std::wstring(address) + L"\""), std::wstring::npos)
            << "the notice names what was typed";
        EXPECT_TRUE(observedAt(L"ERROR", true).empty()) << "no notice over the dialog";
        EXPECT_EQ(loggedCount("Ошибка при вводе ip адреса", "ERROR"), ++errors) << "the log keeps the error";
        EXPECT_TRUE(d.IsShown());
        EXPECT_EQ(d.GetReturnCode(), 0);
        EXPECT_EQ(settingsNow(), before);
        EXPECT_EQ(d.notebook->GetSelection(), 2) << "the address's page is shown";
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&d] { return d.multicastAddress->HasFocus(); }));
        d.notebook->SetSelection(0);
    }
    Dialog::press(d.buttonCancel);
    EXPECT_EQ(d.GetReturnCode(), wxID_CANCEL);
    EXPECT_FALSE(d.IsShown());
    EXPECT_EQ(settingsNow(), before);
}

// The last version took "224.0.224.01" here and stored it; the dialog left
// the field empty for it, and OK refused the empty field. New typing of
// leading zeros is refused as before.
TEST_F(SettingsDialogTest, AStoredAddressWithLeadingZerosIsShownAsReadAndOkKeepsIt) {
    setText("multicast.address", L"224.0.224.010");
    Dialog& d = open(true);
    EXPECT_EQ(d.multicastAddress->GetValue(), L"224.0.224.10") << "decimal, not octal";
    ui_testing::ScriptedUi answers;
    Dialog::press(d.buttonOk);
    EXPECT_TRUE(answers.shown().empty());
    EXPECT_EQ(d.GetReturnCode(), wxID_OK);
    EXPECT_EQ(text("multicast.address"), L"224.0.224.10");

    Dialog& again = open(true);
    again.Show();
    again.multicastAddress->ChangeValue(L"224.0.224.02");
    ui_testing::ScriptedUi refused;
    refused.expect(L"Внимание", wxID_OK);
    Dialog::press(again.buttonOk);
    EXPECT_EQ(refused.shown().size(), 1u);
    EXPECT_EQ(text("multicast.address"), L"224.0.224.10");
    Dialog::press(again.buttonCancel);
}

// The field trials: letters typed into "Базовый порт" and "Сохранить"
// clicked stored 1024, and no device answered after the next start; once
// refused, the field still dropped each letter as it was typed, and "1199o"
// (an "o" for a "0") stored 1199.
TEST_F(SettingsDialogTest, LettersInThePortFieldAreRefusedWithAWordAndNothingIsStored) {
    Dialog& d = open(true);
    d.Show();
    d.notebook->SetSelection(2);  // "Сеть"
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&d] { return d.multicastBasePort->IsShownOnScreen(); }));
    const auto before = settingsNow();
    d.sliderServiceMessage->SetValue(33);  // an edit that is not stored either
    wxUIActionSimulator input;
    const auto typeAndSave = [&](const char* typed, const std::wstring& box) {
        SCOPED_TRACE(typed);
        ui_testing::ScriptedUi answers;
        answers.expect(L"Внимание", wxID_OK);
        d.multicastBasePort->SetFocus();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&d] { return d.multicastBasePort->HasFocus(); }));
        input.Char('A', wxMOD_CONTROL);
        input.Text(typed);
        const wxRect save = d.buttonOk->GetScreenRect();
        input.MouseMove(save.GetPosition() + save.GetSize() / 2);
        input.MouseClick();
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&answers] { return answers.shown().size() == 1; }));
        EXPECT_EQ(answers.shown()[0].text, box);
        EXPECT_TRUE(answers.shown()[0].notice) << "no modal box of its own";
        EXPECT_TRUE(d.IsShown());
        EXPECT_EQ(d.GetReturnCode(), 0);
        EXPECT_EQ(settingsNow(), before);
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&d] { return d.multicastBasePort->HasFocus(); }))
            << "the refused field takes the focus back";
    };
    // Letters stay as they were typed, and the whole text is refused: the
    // digits before them are not taken for it.
    typeAndSave("1199o",
                L"В поле \"Базовый порт\" введено \"1199o\": это не целое число. Введите целое число "
                L"от 1024 до 65500.");
    EXPECT_EQ(d.multicastBasePort->GetTextValue(), L"1199o");
    EXPECT_FALSE(wx_testing::writeShot(&d, "settings_refused_port").empty());
    typeAndSave("12000abc",
                L"В поле \"Базовый порт\" введено \"12000abc\": это не целое число. Введите целое "
                L"число от 1024 до 65500.");
    EXPECT_EQ(d.multicastBasePort->GetTextValue(), L"12000abc");
    typeAndSave("70000", L"В поле \"Базовый порт\" введено \"70000\": это число вне допустимых пределов. "
                         L"Введите целое число от 1024 до 65500.");
    EXPECT_EQ(d.multicastBasePort->GetTextValue(), L"70000") << "the typed text stays to be mended";

    input.Char('A', wxMOD_CONTROL);
    input.Text("12000");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&d] { return d.multicastBasePort->GetTextValue() == L"12000"; }));
    Dialog::press(d.buttonOk);
    EXPECT_EQ(d.GetReturnCode(), wxID_OK);
    EXPECT_EQ(text("multicast.basePort"), L"12000");
    EXPECT_EQ(text("volume.serviceMessage2"), L"33");
}

TEST_F(SettingsDialogTest, TheTtlAndTheLockTimeRefuseOnTheirOwnPagesOutsideAdministratorModeOnlyTheLockTime) {
    // Texts that wx keeps as they are (a number it would clamp).
    Dialog& d = open(true);
    d.multicastTtl->SetValue(wxString(L"-"));
    d.interfaceTimeout->SetValue(wxString(L""));
    const auto before = settingsNow();
    for (const int page : {2, 4}) {
        ui_testing::ScriptedUi answers;
        answers.expect(L"Внимание", wxID_OK);
        Dialog::press(d.buttonOk);
        EXPECT_EQ(d.notebook->GetSelection(), page) << "the refused field's page is shown";
        EXPECT_EQ(settingsNow(), before);
        d.multicastTtl->SetValue(5);  // mended: the lock time's turn
    }

    // Outside administrator mode the network's fields are neither shown nor read.
    Dialog& user = open(false);
    user.multicastTtl->SetValue(wxString(L"-"));
    user.interfaceTimeout->SetValue(7);
    Dialog::press(user.buttonOk);
    EXPECT_EQ(user.GetReturnCode(), wxID_OK);
    EXPECT_EQ(text("security.interfaceTimeout"), L"7");
}

TEST_F(SettingsDialogTest, TheDefaultGongGoesIntoACyrillicFolderWhateverTheLocaleAndStaysAfterCancel) {
    testing_support::ScopedEnv lang("LANG", nullptr), all("LC_ALL", nullptr);
    const std::string folder = home.path() + "/Гонги вокзала";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    setText("place.pathDirGong", base::fromUtf8(folder));
    set("mainWindow.alarmButtons", Type::TypeBoolean, true);
    Dialog& d = open(false);
    EXPECT_EQ(Dialog::entries(d.pathFileGong), (std::vector<std::wstring>{L"Преамбула", L""}));
    EXPECT_EQ(d.pathFileGong->GetStringSelection(), L"Преамбула");
    Dialog::press(d.buttonCancel);
    const std::string shipped = testing_support::readFile(std::string(SONVAR_BUILD_DIR) + "/alarm/0. Преамбула.mp3");
    ASSERT_FALSE(shipped.empty());
    EXPECT_EQ(testing_support::readFile(folder + "/Преамбула.mp3"), shipped);
    EXPECT_EQ(text("place.pathFileGong"), L"Преамбула");
    EXPECT_TRUE(observedAt(L"WARN").empty());

    // Nothing to copy and default folders that cannot be made: said, and
    // the dialog goes on with the paths.
    setText("place.pathDirGong", L"");
    std::ofstream(home.path() + "/blocker") << "a file where a folder should be";
    services.dataFolder = home.widePath() + L"/blocker";
    services.applicationFolder = home.widePath();
    EXPECT_EQ(open(false).textPathDirGong->GetValue(), home.widePath() + L"/blocker/gong");
    const auto warnings = observedAt(L"WARN");
    ASSERT_EQ(warnings.size(), 5u);
    EXPECT_EQ(base::toUtf8(warnings[0]),
              "Не удалось создать папку '" + home.path() + "/blocker/gong': часть пути не является папкой");
    EXPECT_EQ(warnings[4].rfind(L"Гонг не найден! Ошибка: ", 0), 0u);
}

// One picture per test program: its screen capture shows the first picture
// again in every later one.
class SettingsDialogPage : public SettingsDialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(SettingsDialogPage, Picture) {
    const char* const names[] = {"place", "volume", "network", "record", "security", "events"};
    set("mainWindow.alarmButtons", Type::TypeBoolean, true);
    services.logFolder = m_dir.widePath();
    Dialog& d = open(true, true);
    base::Log::instance()->flush();
    d.notebook->SetSelection(static_cast<std::size_t>(GetParam()));
    EXPECT_FALSE(wx_testing::writeShot(&d, std::string("settings_") + names[GetParam()]).empty());
    // The events page shows today's log, which holds the dialog's own lines, once it is opened.
    EXPECT_EQ(d.logText->GetValue().Find(L"interface pair is 'eth1/198.51.100.7'") != wxNOT_FOUND, GetParam() == 5);
}

INSTANTIATE_TEST_SUITE_P(EveryPage, SettingsDialogPage, ::testing::Range(0, 6));
