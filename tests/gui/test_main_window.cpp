// ctest-labels: net
// The main window's own actions: the page toggles with the alarm page's
// password, zone management and administrator mode, with the boxes scripted.
#include <gtest/gtest.h>

#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"

using namespace main_frame_testing;
using Shown = std::vector<std::size_t>;

TEST_F(MainWindow, PageTogglesShowTheirPanelsAndTheAlarmPageNeedsItsPassword) {
    start();
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"123456");
    const std::vector<wxToggleButton*> pages = {frame->playlist,  frame->radio,      frame->drives,
                                                frame->scheduler, frame->microphone, frame->serviceMessage,
                                                frame->alarm};
    const Shown panels = {6, 4, 1, 2, 3, 7, 5};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        click(pages[i]);
        EXPECT_EQ(frame->shown(), Shown{panels[i]}) << i;
        for (wxToggleButton* page : pages) EXPECT_EQ(page->GetValue(), page == pages[i]) << i;
    }
    EXPECT_EQ(prefString("security.playbackAlarm"), "6B68696E6F6C");
    // The alarm texts write "введён", the administrator's "введен".
    EXPECT_EQ(loggedCount("Пароль введён верный. Доступ к тревожным оповещениям", "INFO"), 1);
    click(frame->alarm);  // releasing it presses it again and asks nothing
    EXPECT_TRUE(frame->alarm->GetValue());

    click(frame->radio);
    click(frame->radio);  // the pressed "Радио" returns to the last zone view
    EXPECT_EQ(frame->shown(), Shown{0});
    for (wxToggleButton* page : pages) EXPECT_FALSE(page->GetValue());
    EXPECT_TRUE(frame->allZones->GetValue());

    answers.expect(kPrompt, wxID_OK, L"12345").expect(kPrompt, wxID_CANCEL);
    for (int i = 0; i < 2; ++i) {
        click(frame->alarm);
        EXPECT_FALSE(frame->alarm->GetValue());
        EXPECT_EQ(frame->shown(), Shown{0});
    }
    EXPECT_EQ(
        observedAt(L"NOTICE"),
        std::vector<std::wstring>{L"Допущена ошибка при вводе пароля. Нет доступа к тревожным оповещениям"});
    wx_testing::writeShot(frame, "main_frame_operator");
}

TEST_F(MainWindow, ZoneManagementTextsAndDeletingMovesEveryDeviceBelowIntoNewDevices) {
    writeStores({1, 2, 3}, zoneXml("Зал", {1}, zoneXml("Сцена", {2, 1})) + zoneXml("Фойе", {3}));
    start();
    frm::ItemDataMap& registry = *frame->getItemDataMap();
    const auto hall = frame->zone(1), foyer = frame->zone(2);
    const std::vector<frm::ItemDataMap::DevicePtr> devices = {
        hall->getDevices()[0], hall->getZones()[0]->getDevices()[0], foyer->getDevices()[0]};
    const auto ids = [&] {
        std::vector<frm::ItemDataMap::ItemId> found;
        for (const auto& device : devices) found.push_back(registry.findDevice(true, device));
        return found;
    };
    const auto before = ids();
    ui_testing::ScriptedUi answers;
    const auto run = [&](int item, const wxString& name) {
        frame->action->SetSelection(item);
        frame->zoneName->ChangeValue(name);
        click(frame->execute);
        return answers.shown().empty() ? std::wstring() : answers.shown().back().text;
    };
    answers.expect(kMessage, wxID_OK).expect(kMessage, wxID_OK).expect(kMessage, wxID_OK);
    EXPECT_EQ(run(0, ""), L"Введите название зоны");
    EXPECT_EQ(run(1, ""), L"Введите название зоны") << "before the selection check";
    EXPECT_EQ(run(1, L"Большой зал"), L"Необходимо выделить одну зона для переименования") << "all selected";

    run(0, L"Новые усилители");  // a zone of that name keeps it
    registry.getZoneElement(0)->setChecked(false);
    frame->zone(3)->setChecked(true);
    run(1, L"Склад");
    EXPECT_EQ(frame->zone(3)->getName(), L"Новые усилители");
    frame->zone(3)->setChecked(false);

    click(hall->getButton());  // the last zone view: Зал
    run(1, L"Большой зал");
    EXPECT_EQ(hall->getButton()->GetLabel(), L"Большой зал");
    foyer->setChecked(true);
    answers.expect(kMessage, wxID_NO).expect(kMessage, wxID_YES).expect(kMessage, wxID_OK);
    EXPECT_EQ(run(2, ""), L"Зоны.\nКоличество: 2 шт.\nНазвания:\n'Большой зал'\n'Фойе'\nУдалить?");
    EXPECT_EQ(frame->zone(1), hall) << "No";
    run(2, "");
    ASSERT_EQ(registry.getZoneElement(0)->getZones().size(), 2u);
    EXPECT_EQ(frame->zone(0)->getDevices(), devices) << "each once, sub-zones included";
    EXPECT_TRUE(frame->zone(0)->getPanel()->IsShown());
    EXPECT_EQ(ids(), before);
    EXPECT_TRUE(frame->allZones->GetValue()) << "the zones shown went: all zones";
    registry.getZoneElement(0)->setChecked(false);
    EXPECT_EQ(run(2, ""), L"Выделите зону для удаления");

    click(frame->drives);
    click(frame->drives);  // the last zone view went with its zone: all zones
    EXPECT_TRUE(frame->allZones->GetValue());
}

TEST_F(MainWindow, DeletingTheShownZoneShowsAllZonesAndForgetsItsName) {
    writeStores({1, 2}, zoneXml("Зал", {1}) + zoneXml("Фойе", {2}) + zoneXml("Склад", {}));
    start();
    click(frame->zone(2)->getButton());  // Фойе alone: the field names it
    ASSERT_EQ(frame->zoneName->GetValue(), L"Фойе");
    ASSERT_FALSE(frame->allZones->GetValue());
    ui_testing::ScriptedUi answers;
    answers.expect(kMessage, wxID_YES);
    frame->action->SetSelection(2);
    click(frame->execute);

    EXPECT_EQ(frame->zone(2)->getName(), L"Склад");
    EXPECT_TRUE(frame->allZones->GetValue());
    EXPECT_TRUE(frame->zone(1)->getButton()->GetValue());
    EXPECT_EQ(frame->zoneName->GetValue(), L"");
    EXPECT_EQ(frame->zonePanel()->deviceList->GetItemCount(), 2) << "Фойе's device among the new ones";
}

TEST_F(MainWindow, AdministratorModeOpensWithItsPasswordAndClosesWithoutOne) {
    start();
    frm::ZoneElementPanel* zones = frame->zonePanel();
    const auto shown = [&] {
        return std::vector<bool>{frame->zoneControlPanel->IsShown(), zones->generalProperty->IsShown(),
                                 zones->deviceProperty->IsShown()};
    };
    EXPECT_EQ(shown(), std::vector<bool>(3, false));
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"654321")
        .expect(kPrompt, wxID_CANCEL)
        .expect(kPrompt, wxID_OK, L"123456");
    click(zones->lockAdmin);
    click(zones->lockAdmin);
    EXPECT_EQ(
        observedAt(L"NOTICE"),
        std::vector<std::wstring>{L"Допущена ошибка при вводе пароля. Нет доступа к режиму администратора"});
    EXPECT_EQ(prefString("security.administrator"), "6B68696E6F6C");
    click(zones->lockAdmin);
    EXPECT_EQ(loggedCount("Пароль введен верный. Доступ к режиму администратора", "INFO"), 1);
    EXPECT_EQ(shown(), std::vector<bool>(3, true));
    EXPECT_EQ(zones->lockAdmin->GetLabel(), L"Выход из настроек");
    EXPECT_TRUE(frame->GetTitle().EndsWith(L" [Администрирование]"));
    EXPECT_EQ(frame->GetIcons().GetIconCount(), 6u) << "our own icon";
    wx_testing::writeShot(frame, "main_frame_administrator");

    click(zones->deviceProperty);  // no device selected
    EXPECT_EQ(observedAt(L"NOTICE").back(), L"Выберите одно устройство");
    click(zones->lockAdmin);  // no prompt
    EXPECT_EQ(shown(), std::vector<bool>(3, false));
    EXPECT_EQ(zones->lockAdmin->GetLabel(), L"Настройки");
    EXPECT_TRUE(logged("Выход из режима администратора"));
}
