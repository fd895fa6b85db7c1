// The about box (build date, the link opened only right after its link
// event, the manual and the update check through injected services), the
// capture-device choice, the fragment entry (the name from a chosen file,
// a missing file refused) and the scenario entry over the audio memory of a
// simulated loudspeaker (the automatic name, no selection refused, a repeat
// period typed for real that is no number of its range refused).
// ctest-labels: input
#include <wx/spinctrl.h>

#include <boost/make_shared.hpp>
#include <fstream>

#include "gui/about_dialog.h"
#include "gui/build_date.h"
#include "gui/capture_device_dialog.h"
#include "gui/fragment_dialog.h"
#include "gui/scenario_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/typing.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using dialog_testing::all;
using dialog_testing::press;

class SmallDialogs : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    /// Sends the field's mouse event, or its link event for our address.
    static void send(wxTextCtrl* text, bool link) {
        const long start = text->GetValue().Find(frm::AboutDialog::kWebAddress);
        wxTextUrlEvent url(text->GetId(), wxMouseEvent(wxEVT_MOTION), start,
                           start + static_cast<long>(wxStrlen(frm::AboutDialog::kWebAddress)));
        wxMouseEvent up(wxEVT_LEFT_UP);
        wxEvent& event = link ? static_cast<wxEvent&>(url) : up;
        event.SetEventObject(text);
        text->HandleWindowEvent(event);
    }
};

}  // namespace

TEST_F(SmallDialogs, AboutBoxDateLinkManualAndUpdateCheck) {
    EXPECT_EQ(frm::formatBuildDate("May 26 2023"), L"26.05.2023");
    EXPECT_EQ(frm::formatBuildDate("Jan  6 2024"), L"06.01.2024");
    EXPECT_EQ(frm::formatBuildDate("Mai 26 2023"), L"26.00.2023");
    EXPECT_EQ(loggedCount("internal error. month Mai", "WARN"), 1);

    std::vector<wxString> documents, links;
    bool internet = false;
    std::int64_t now = 13'000'000'000'000'000;
    frm::AboutDialog::Outside outside{[&](const wxString& path) { documents.push_back(path); },
                                      [&](const wxString& url) { links.push_back(url); },
                                      [&] { return internet; }, [&] { return now; }};
    frm::AboutDialog about(nullptr, L"/opt/Сонвар", outside);
    wxTextCtrl* text = all<wxTextCtrl>(&about).at(0);
    EXPECT_NE(text->GetValue().Find(L"Версия 1.2.0.470 (" + frm::getBuildDate() + L")"), wxNOT_FOUND);
    EXPECT_FALSE(all<wxButton>(&about).at(1)->IsShown()) << "Проверить обновления";
    EXPECT_FALSE(wx_testing::writeShot(&about, "about_dialog").empty());

    send(text, false);  // no link event yet
    send(text, true);
    now += 199'999;
    send(text, false);
    send(text, true);
    now += 200'000;
    send(text, false);
    EXPECT_EQ(links, std::vector<wxString>{frm::AboutDialog::kWebAddress});

    press(&about, L"Справка");
    EXPECT_EQ(documents, std::vector<wxString>{L"/opt/Сонвар/manual.pdf"});

    ui_testing::ScriptedUi ui;
    ui.expect(L"Внимание", wxID_OK).expect(L"Сообщение", wxID_OK);
    press(&about, L"Проверить обновления");
    internet = true;
    press(&about, L"Проверить обновления");
    EXPECT_EQ(ui.shown().at(0).text, L"Нет доступа к интернету");
    EXPECT_EQ(ui.shown().at(1).text, L"Обновление программы отключено");
}

TEST_F(SmallDialogs, CaptureDeviceListsTheDescriptionsAndReturnsTheChosenName) {
    frm::CaptureDeviceDialog dialog(nullptr,
                                    {{L"Микрофон", 0, "hw:CARD=PCH,DEV=0"}, {L"USB - Line", 1, "hw:1"}});
    wxChoice* devices = all<wxChoice>(&dialog).at(0);
    EXPECT_EQ(devices->GetStrings(),
              wxArrayString(2, std::vector<wxString>{L"Микрофон", L"USB - Line"}.data()));
    dialog.Show();
    {
        ui_testing::ScriptedUi ui;
        ui.expect(L"Внимание", wxID_OK);
        press(&dialog, L"&Выбрать");
        EXPECT_EQ(ui.shown().at(0).text, L"Нобходимо выбрать устройство для захвата аудио сигнала");
    }
    EXPECT_FALSE(wx_testing::writeShot(&dialog, "capture_device_dialog").empty());
    devices->SetSelection(1);
    press(&dialog, L"&Выбрать");
    EXPECT_FALSE(dialog.IsShown());
    EXPECT_EQ(dialog.GetReturnCode(), wxID_OK);
    EXPECT_EQ(dialog.selectedName(), L"USB - Line");
}

TEST_F(SmallDialogs, FragmentNamedAfterTheChosenFileAndAMissingFileRefused) {
    const std::string chosen = m_dir.path() + "/  Гимн школы .mp3";
    std::ofstream(chosen) << "ID3";
    std::wstring name, path;
    frm::FragmentDialog dialog(nullptr, name, path);
    wxTextCtrl* nameField = all<wxTextCtrl>(&dialog).at(0);
    wxTextCtrl* fileField = all<wxTextCtrl>(&dialog).at(1);
    dialog.Show();
    ui_testing::ScriptedUi ui;
    ui.expect(L"Добавить аудио файл", wxID_OK, base::fromUtf8(chosen))
        .expect(L"Добавить аудио файл", wxID_OK, base::fromUtf8(chosen))
        .expect(L"Ошибка", wxID_OK);
    press(&dialog, L"...");
    EXPECT_EQ(nameField->GetValue(), L"Гимн школы");
    EXPECT_EQ(fileField->GetValue(), wxString::FromUTF8(chosen));
    nameField->SetValue(L"Свой");
    press(&dialog, L"...");
    EXPECT_EQ(nameField->GetValue(), L"Свой");
    EXPECT_FALSE(wx_testing::writeShot(&dialog, "fragment_dialog").empty());

    fileField->SetValue(L"/нет/такого.mp3");
    press(&dialog, L"&Сохранить");
    EXPECT_EQ(ui.shown().back().text, L"Файл \"/нет/такого.mp3\" не существует.\t");
    EXPECT_TRUE(dialog.IsShown());
    fileField->SetValue(wxString::FromUTF8(chosen));
    press(&dialog, L"&Сохранить");
    EXPECT_FALSE(dialog.IsShown());
    EXPECT_EQ(name, L"Свой");
    EXPECT_EQ(path, base::fromUtf8(chosen));
}

TEST_F(SmallDialogs, ScenarioNameFollowsTheFragmentUntilTypedAndNeedsBothChoices) {
    using namespace device::memory;
    auto store = std::make_shared<device::sim::AudioMemoryStore>(kLayout611, 1 << 20);
    store->plant(memory_test::plantedImage(kLayout611, 3, 500));  // ids 10, 11, 12
    const boost::shared_ptr<IAudioControl> audio = boost::make_shared<device::o611::memory::AudioMemory>(
        boost::make_shared<memory_test::LocalWire>(store), AudioMemoryBase::PlayingCallback(), false);
    EXPECT_THROW(frm::ScenarioDialog(nullptr, nullptr), exception::InternalError);

    frm::ScenarioDialog dialog(nullptr, audio);
    wxChoice* gong = all<wxChoice>(&dialog).at(0);
    wxChoice* fragment = all<wxChoice>(&dialog).at(1);
    wxTextCtrl* name = all<wxTextCtrl>(&dialog).at(0);
    EXPECT_EQ(gong->GetString(1), L"2. Фрагмент 2");
    dialog.Show();
    {
        ui_testing::ScriptedUi ui;
        ui.expect(L"Внимание", wxID_OK);
        press(&dialog, L"&Сохранить");
        EXPECT_EQ(ui.shown().at(0).text, L"Необходимо выбрать гонг и фрагмент");
    }
    EXPECT_TRUE(dialog.IsShown());

    dialog_testing::choose(fragment, 1);
    dialog_testing::choose(fragment, 2);
    EXPECT_EQ(name->GetValue(), L"Фрагмент 3");
    name->SetValue(L"Тревога");
    dialog_testing::choose(fragment, 0);
    EXPECT_EQ(name->GetValue(), L"Тревога");
    EXPECT_FALSE(wx_testing::writeShot(&dialog, "scenario_dialog").empty());

    gong->SetSelection(1);
    all<wxSpinCtrl>(&dialog).at(0)->SetValue(30);
    press(&dialog, L"&Сохранить");
    EXPECT_FALSE(dialog.IsShown());
    const std::vector<ScenarioInfo> scenarios = audio->getScenarios();
    ASSERT_EQ(scenarios.size(), 2u) << "the planted one and ours";
    EXPECT_EQ(scenarios[1].title, L"Тревога");
    EXPECT_EQ(scenarios[1].gongId, 11);
    EXPECT_EQ(scenarios[1].messageId, 10);
    EXPECT_EQ(scenarios[1].period, 30);
}

// The field trial: an emptied repeat period was saved as 0 and "70000" as
// 65535, with no word.
TEST_F(SmallDialogs, ARepeatPeriodThatIsNoNumberOfItsRangeIsRefusedAndNothingIsAdded) {
    using namespace device::memory;
    auto store = std::make_shared<device::sim::AudioMemoryStore>(kLayout611, 1 << 20);
    store->plant(memory_test::plantedImage(kLayout611, 3, 500));
    const boost::shared_ptr<IAudioControl> audio = boost::make_shared<device::o611::memory::AudioMemory>(
        boost::make_shared<memory_test::LocalWire>(store), AudioMemoryBase::PlayingCallback(), false);
    frm::ScenarioDialog dialog(nullptr, audio);
    dialog_testing::choose(all<wxChoice>(&dialog).at(0), 1);
    dialog_testing::choose(all<wxChoice>(&dialog).at(1), 0);
    wxSpinCtrl* repeat = all<wxSpinCtrl>(&dialog).at(0);
    wxButton* save = all<wxButton>(&dialog).at(0);
    dialog.Show();
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return repeat->IsShownOnScreen(); }));
    for (const char* typed : {"", "70000", "30s"}) {
        SCOPED_TRACE(typed);
        ui_testing::ScriptedUi ui;
        ui.expect(L"Внимание", wxID_OK);
        ASSERT_TRUE(typing_testing::typeOver(repeat, typed));
        typing_testing::click(save);
        ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return ui.shown().size() == 1; }));
        EXPECT_NE(ui.shown()[0].text.find(L"\"Повторять каждые (сек)\""), std::wstring::npos);
        EXPECT_TRUE(ui.shown()[0].notice);
        EXPECT_TRUE(dialog.IsShown());
        EXPECT_EQ(audio->getScenarios().size(), 1u) << "only the planted one";
        EXPECT_EQ(repeat->GetTextValue(), base::fromUtf8(typed));
        EXPECT_TRUE(wx_testing::runEventLoopUntil([&] { return repeat->HasFocus(); }));
    }
    ASSERT_TRUE(typing_testing::typeOver(repeat, "45"));
    typing_testing::click(save);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return !dialog.IsShown(); }));
    ASSERT_EQ(audio->getScenarios().size(), 2u);
    EXPECT_EQ(audio->getScenarios()[1].period, 45);
}
