// ctest-labels: net
// The main window's own actions: the page toggles with the alarm page's
// password, zone management, administrator mode and the device property
// button, driven through their controls with the boxes scripted.
#include <gtest/gtest.h>

#include "gui/item_data_map.h"
#include "tests/gui/main_frame_fixture.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tools/simulator/simulator.h"

using namespace main_frame_testing;
using Shown = std::vector<std::size_t>;

namespace {

const std::string kDefaultStored = "6B68696E6F6C";

std::string address(int n) { return device::sim::Simulator::hardwareAddress(n); }

}  // namespace

TEST_F(MainWindow, PageTogglesShowTheirPanelsAndTheAlarmPageNeedsItsPassword) {
    start();
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"123456");
    const std::vector<std::pair<wxToggleButton*, std::size_t>> pages = {
        {frame->playlist, 6}, {frame->radio, 4},          {frame->drives, 1}, {frame->scheduler, 2},
        {frame->microphone, 3}, {frame->serviceMessage, 7}, {frame->alarm, 5}};
    for (const auto& page : pages) {
        click(page.first);
        EXPECT_EQ(frame->shown(), Shown{page.second}) << page.first->GetLabel();
        for (wxToggleButton* other : frame->pages()) EXPECT_EQ(other->GetValue(), other == page.first);
    }
    EXPECT_EQ(prefString("security.playbackAlarm"), kDefaultStored) << "created with the default";
    click(frame->alarm);  // releasing it: pressed again, nothing asked
    EXPECT_TRUE(frame->alarm->GetValue());
    EXPECT_EQ(frame->shown(), Shown{5});

    // The pressed "Радио" returns to the last zone view.
    click(frame->radio);
    click(frame->radio);
    EXPECT_EQ(frame->shown(), Shown{0});
    for (wxToggleButton* page : frame->pages()) EXPECT_FALSE(page->GetValue());
    EXPECT_TRUE(frame->allZones->GetValue());

    // A wrong or cancelled password releases the toggle and changes no panel.
    answers.expect(kPrompt, wxID_OK, L"12345").expect(kPrompt, wxID_CANCEL);
    for (int i = 0; i < 2; ++i) {
        click(frame->alarm);
        EXPECT_FALSE(frame->alarm->GetValue());
        EXPECT_EQ(frame->shown(), Shown{0});
    }
    EXPECT_EQ(observedAt(L"NOTICE"),
              std::vector<std::wstring>{L"Допущена ошибка при вводе пароля. Нет доступа к тревожным оповещениям"});
}

TEST_F(MainWindow, ZoneManagementTextsAndDeletingMovesEveryDeviceBelowIntoNewDevices) {
    write(L"device_collection.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection>"
                                    "<device><hardware_address>" + address(1) + "</hardware_address></device>"
                                    "<device><hardware_address>" + address(2) + "</hardware_address></device>"
                                    "<device><hardware_address>" + address(3) + "</hardware_address></device>"
                                    "</device_collection>");
    const auto zone = [](const std::string& name, const std::string& devices, const std::string& zones) {
        return "<zone><name>" + name + "</name><enableVolume>false</enableVolume><volume>0</volume><devices>" +
               devices + "</devices><zones>" + zones + "</zones></zone>";
    };
    const auto device = [](int n) { return "<hardware_address>" + address(n) + "</hardware_address>"; };
    // Зал {1} with the sub-zone Сцена {2, 1}; Фойе {3}.
    write(L"zone_collection.xml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>" +
              zone("Зал", device(1), zone("Сцена", device(2) + device(1), "")) + zone("Фойе", device(3), "") +
              "</zone_collection>");
    start();
    frm::ItemDataMap& registry = *frame->getItemDataMap();
    const auto hall = frame->zone(1), foyer = frame->zone(2);
    const auto d1 = hall->getDevices().at(0), d2 = hall->getZones().at(0)->getDevices().at(0),
               d3 = foyer->getDevices().at(0);
    const std::vector<frm::ItemDataMap::ItemId> ids = {registry.findDevice(false, d1), registry.findDevice(false, d2),
                                                       registry.findDevice(false, d3)};
    ui_testing::ScriptedUi answers;
    const auto run = [&](int item, const wxString& name) {
        frame->action->SetSelection(item);
        frame->zoneName->ChangeValue(name);
        click(frame->execute);
    };
    const auto lastText = [&] { return answers.shown().back().text; };

    answers.expect(kMessage, wxID_OK).expect(kMessage, wxID_OK).expect(kMessage, wxID_OK);
    run(0, "");
    EXPECT_EQ(lastText(), L"Введите название зоны");
    run(1, "");
    EXPECT_EQ(lastText(), L"Введите название зоны") << "before the selection check";
    hall->setChecked(true);
    foyer->setChecked(true);
    run(1, L"Большой зал");
    EXPECT_EQ(lastText(), L"Необходимо выделить одну зона для переименования");

    run(0, L"Новые усилители");  // a zone of that name keeps it
    EXPECT_EQ(frame->zoneName->GetValue(), "");
    frame->getItemDataMap()->getZoneElement(0)->setChecked(false);
    frame->zone(3)->setChecked(true);
    run(1, L"Склад");
    EXPECT_EQ(frame->zone(3)->getName(), L"Новые усилители");
    frame->zone(3)->setChecked(false);

    click(hall->getButton());  // the last zone view: Зал
    run(1, L"Большой зал");
    EXPECT_EQ(hall->getButton()->GetLabel(), L"Большой зал");

    foyer->setChecked(true);
    answers.expect(kMessage, wxID_NO).expect(kMessage, wxID_YES);
    run(2, "");
    EXPECT_EQ(lastText(), L"Зоны.\nКоличество: 2 шт.\nНазвания:\n'Большой зал'\n'Фойе'\nУдалить?");
    EXPECT_EQ(frame->zone(1), hall) << "No deletes nothing";
    run(2, "");
    ASSERT_EQ(registry.getZoneElement(0)->getZones().size(), 2u);
    EXPECT_EQ(frame->zone(0)->getDevices(), (std::vector<frm::ItemDataMap::DevicePtr>{d1, d2, d3}));
    EXPECT_TRUE(frame->zone(0)->getPanel()->IsShown());
    EXPECT_EQ((std::vector<frm::ItemDataMap::ItemId>{registry.findDevice(true, d1), registry.findDevice(true, d2),
                                                     registry.findDevice(true, d3)}),
              ids);
    answers.expect(kMessage, wxID_OK);
    run(2, "");
    EXPECT_EQ(lastText(), L"Выделите зону для удаления");

    // The last zone view went with its zone: releasing a page brings all zones back.
    click(frame->drives);
    click(frame->drives);
    EXPECT_TRUE(frame->allZones->GetValue());
}

TEST_F(MainWindow, AdministratorModeOpensWithItsPasswordAndClosesWithoutOne) {
    start();
    frm::ZoneElementPanel* zones = frame->zonePanel();
    const auto adminShown = [&] {
        return frame->zoneControlPanel->IsShown() && zones->generalProperty->IsShown() &&
               zones->deviceProperty->IsShown();
    };
    EXPECT_FALSE(frame->zoneControlPanel->IsShown() || zones->generalProperty->IsShown() ||
                 zones->deviceProperty->IsShown());
    ui_testing::ScriptedUi answers;
    answers.expect(kPrompt, wxID_OK, L"654321").expect(kPrompt, wxID_CANCEL).expect(kPrompt, wxID_OK, L"123456");
    click(zones->lockAdmin);
    click(zones->lockAdmin);
    EXPECT_EQ(observedAt(L"NOTICE"),
              std::vector<std::wstring>{L"Допущена ошибка при вводе пароля. Нет доступа к режиму администратора"});
    EXPECT_EQ(prefString("security.administrator"), kDefaultStored);
    click(zones->lockAdmin);
    EXPECT_TRUE(adminShown());
    EXPECT_EQ(zones->lockAdmin->GetLabel(), L"Выход из настроек");
    EXPECT_TRUE(frame->GetTitle().EndsWith(L" [Администрирование]"));
    EXPECT_TRUE(logged("Пароль введен верный. Доступ к режиму администратора"));
    wx_testing::writeShot(frame, "main_frame_administrator");

    click(zones->deviceProperty);  // no device selected
    EXPECT_EQ(observedAt(L"NOTICE").back(), L"Выберите одно устройство");

    click(zones->lockAdmin);  // no prompt

    EXPECT_FALSE(adminShown());
    EXPECT_EQ(zones->lockAdmin->GetLabel(), L"Настройки");
    EXPECT_FALSE(frame->GetTitle().Contains(L"Администрирование"));
    EXPECT_TRUE(logged("Выход из режима администратора"));
    wx_testing::writeShot(frame, "main_frame_operator");
}
