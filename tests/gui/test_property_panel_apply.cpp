// ctest-labels: net input
// Apply and Cancel of the property panel against simulated devices: each page
// writes exactly the keys that changed, with the panel's mappings (the
// allowed server cleared to "0.0.0.0", IGMP 60 or 0, the inverted LAN
// reservation, priorities as the entries' numbers, the console's gong and
// the inputs' messages by id); the completion notice and the close after a
// write that rebooted the device; the console-type question; refusals; the
// rename reaching the zone panel; Cancel reverting pending audio-memory edits;
// number fields whose text is no number of their range stopping Apply, also
// with letters typed for real.
#include <wx/translation.h>

#include "tests/gui/property_panel_site.h"
#include "tests/gui/typing.h"

using namespace panel_site;
using ui_testing::ScriptedUi;

namespace {

class PropertyApply : public PanelSite {
protected:
    PropertyApply() : PanelSite(62) {}

    int completions() {
        int count = 0;
        for (const std::wstring& text : observedAt(L"NOTICE"))
            count += text == L"Выполнение операции завершено";
        return count;
    }
};

}  // namespace

TEST_F(PropertyApply, NetworkAndZarnoPagesWriteTheChangedKeysAndCloseOnlyAfterAReboot) {
    Panel* panel = open(kIndex18Lan, true);
    panel->select(L"Сеть");
    sets(kIndex18Lan);
    panel->textMulticastIp->ChangeValue(L"224.0.224.9");
    panel->tick(panel->checkBoxAllowIp, false);  // the field still holds 127.0.0.1
    panel->tick(panel->checkBoxIgmp, false);
    panel->tick(panel->checkBoxLanRedundancy, true);
    ASSERT_TRUE(panel->editing());
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kIndex18Lan), (Requests{"set mCastIP 224.0.224.9", "set srvAllowedIp 0.0.0.0",
                                           "set switchMode off", "set igmpReport 0"}));
    EXPECT_EQ(completions(), 1);
    EXPECT_FALSE(panel->editing());
    EXPECT_EQ(closed, 1) << "the device restarts with its new address";

    // IGMP back on, and a Zarno address that needs no restart: the panel stays.
    panel->imbueDevice(device(kIndex21));
    panel->update();
    panel->tick(panel->checkBoxIgmp, false);
    panel->press(L"&Применить");
    panel->tick(panel->checkBoxIgmp, true);
    sets(kIndex21);
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kIndex21), Requests{"set igmpReport 60"});
    panel->select(L"Зарно");
    panel->spinZarnoAddress->SetValue(120);
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kIndex21), Requests{"set zarnoAddr 120"});
    EXPECT_EQ(completions(), 4);
    EXPECT_EQ(closed, 1);
}

TEST_F(PropertyApply, SourcesPageWritesTheEntriesNumbersAndTheMessageById) {
    Panel* panel = open(kIndex21);
    panel->select(L"Источники");
    sets(kIndex21);
    dialog_testing::choose(panel->choiceAnalogInput2Function, 1);  // the scenario of id 5, the first
    panel->press(L"&Применить");
    // The device held 3, 4, 5, 2, 1, 6: ranked, they become the entries 4, 5, 6, 3, 2, 7.
    EXPECT_EQ(sets(kIndex21),
              (Requests{"set priAIN1 4", "set priAIN2 5", "set priStreamMCast 6", "set priZoneInput 3",
                        "set priVoiceAlert 2", "set priStream 7", "set scAIN2 1"}));
    EXPECT_EQ(completions(), 1) << "no restart: the panel stays";
    EXPECT_EQ(closed, 0);

    // Two sources on one entry: refused before anything is written, and the
    // operator told why.
    dialog_testing::choose(panel->choiceAlarmStreamPriority, 0);
    dialog_testing::choose(panel->choiceZarnoMessagesPriority, 0);
    observedAt(L"NOTICE", true);
    panel->apply();
    const std::vector<std::wstring> told = observedAt(L"NOTICE", true);
    ASSERT_EQ(told.size(), 1u) << "equal priorities were taken";
    EXPECT_NE(told[0].find(L"Проверка приоритетов"), std::wstring::npos) << wxString(told[0]).utf8_string();
    EXPECT_TRUE(sets(kIndex21).empty());
    EXPECT_TRUE(panel->editing()) << "the edit stays to be mended";
}

TEST_F(PropertyApply, CommonPageWritesTheLinesAndTheConsolesGongById) {
    Panel* panel = open(kIndex8);
    sets(kIndex8);
    const bool joined = panel->choiceLineMode->GetSelection() == 0;
    dialog_testing::choose(panel->choiceLineMode, joined ? 1 : 0);
    panel->tick(panel->checkBoxLineControl, !panel->checkBoxLineControl->GetValue());
    const bool lineTest = panel->checkBoxLineControl->GetValue();
    panel->press(L"&Применить");
    // The device's flag names independent lines.
    EXPECT_EQ(sets(kIndex8), (Requests{std::string("set linetest ") + (lineTest ? "on" : "off"),
                                       std::string("set linedouble ") + (joined ? "off" : "on")}));

    panel->imbueDevice(device(kConsole));
    panel->update();
    ASSERT_EQ(panel->comboBoxGong->GetCount(), 2u);
    sets(kConsole);
    panel->comboBoxGong->SetSelection(1);  // "2 - Фрагмент 2", the fragment of id 11
    panel->tick(panel->checkBoxGong, true);
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kConsole), (Requests{"set gongOrder 2", "set gong on"}));
    EXPECT_EQ(console(kConsole)->getConfig(true).gongId, 11);
    EXPECT_EQ(completions(), 2);
    EXPECT_EQ(applied, 0) << "the name stayed: no after-apply callback";
}

TEST_F(PropertyApply, ConsoleTypeRefusalAsksOnceAndOkUnbindsTheMessageZonesFirst) {
    const unsigned speaker21 = site.loudspeakers[kIndex21].address;
    devices[kFireConsole]->withModel<device::sim::TovikZoneModel>(
        [speaker21](device::sim::TovikZoneModel& m) {
            m.zones[3] = {300, {speaker21}};
            m.messages[3] = 1;
            return 0;
        });
    site.loudspeakers[kIndex21].zones->setAnnouncements({300});
    Panel* panel = open(kFireConsole);
    sets(kFireConsole);
    {
        ScriptedUi answers;
        answers.expect(L"Сообщение", wxID_CANCEL);
        dialog_testing::choose(panel->choiceTovikType, 0);
        panel->press(L"&Применить");
        EXPECT_EQ(answers.shown().size(), 1u);
    }
    EXPECT_TRUE(sets(kFireConsole).empty());
    EXPECT_EQ(panel->choiceTovikType->GetSelection(), 1) << "the page was read again";
    EXPECT_EQ(completions(), 0);
    {
        ScriptedUi answers;
        answers.expect(L"Сообщение", wxID_OK);
        dialog_testing::choose(panel->choiceTovikType, 0);
        panel->press(L"&Применить");
    }
    const Requests log = [this] {
        Requests texts;
        for (const auto& datagram : devices[kFireConsole]->received()) texts.push_back(datagram.text);
        return texts;
    }();
    const auto at = [&log](const std::string& text) {
        return std::find_if(log.begin(), log.end(),
                            [&](const std::string& s) { return s.rfind(text, 0) == 0; });
    };
    ASSERT_NE(at("zoneDel 3"), log.end());
    ASSERT_NE(at("set priority 5"), log.end());
    EXPECT_LT(at("zoneDel 3"), at("set priority 5"));
    EXPECT_EQ(completions(), 1);
}

TEST_F(PropertyApply, RefusalsLeaveApplyWithTheirCodeWordsWhichTheOperatorReadsInRussian) {
    Panel* panel = open(kConsole);
    sets(kConsole);
    panel->choicePower2->SetSelection(panel->choicePower1->GetSelection());
    observedAt(L"NOTICE", true);
    panel->apply();
    EXPECT_EQ(observedAt(L"NOTICE", true), std::vector<std::wstring>{L"Сообщение: 'disallowedPowerIn'"})
        << "two supplies on one input were taken";
    EXPECT_TRUE(sets(kConsole).empty());

    // Without callbacks nothing is written.
    panel->setCallbacks({}, {});
    panel->textName->ChangeValue(L"Пульт охраны");
    panel->press(L"&Применить");
    EXPECT_TRUE(logged("Internal error. callback doesn't set"));
    EXPECT_NE(device(kConsole)->getTitle(), L"Пульт охраны");

    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(SONVAR_CATALOGUE_DIR);
    wxTranslations translations;
    translations.SetLanguage("ru_RU");
    ASSERT_TRUE(translations.AddCatalog("ru_RU", wxLANGUAGE_ENGLISH_US));
    for (const wchar_t* word :
         {L"offline", L"busy", L"internalPlaying", L"changes", L"brokenGong", L"unknownAinScenarioNumber",
          L"disallowedPowerIn", L"disallowedAin", L"disallowedFaultAlarm", L"disallowedSinglePowerSupply",
          L"incorrectFirmware", L"wrongPower", L"wrongVersion", L"Check 220V and batteries!"})
        EXPECT_NE(translations.GetTranslatedString(word), nullptr) << wxString(word).utf8_string();
}

TEST_F(PropertyApply, ANumberFieldWithoutANumberOfItsRangeStopsApplyBeforeAnythingIsSent) {
    const auto refused = [this](Panel* panel, Device n, wxCheckBox* edit, frm::fb::NumberSpin* field,
                                const wchar_t* typed, const std::wstring& notice) {
        SCOPED_TRACE(wxString(notice).utf8_string());
        sets(n);
        panel->tick(edit, edit->GetValue());  // an edit of the page, pending with the field's
        field->SetValue(wxString(typed));     // a text wx keeps as it is, as the field keeps a typed one
        ScriptedUi answers;
        answers.expect(L"Внимание", wxID_OK);
        panel->press(L"&Применить");
        ASSERT_EQ(answers.shown().size(), 1u);
        EXPECT_EQ(answers.shown()[0].text, notice);
        EXPECT_TRUE(answers.shown()[0].notice) << "as every typed text is refused";
        EXPECT_EQ(loggedCount(base::toUtf8(notice), "WARN"), 1) << "and in the daily log";
        EXPECT_TRUE(observedAt(L"ERROR", true).empty());
        EXPECT_TRUE(sets(n).empty());
        EXPECT_EQ(completions(), 0);
        EXPECT_TRUE(panel->editing()) << "the edit stays to be mended";
        EXPECT_EQ(field->GetTextValue(), typed) << "the page was not read again over it";
    };
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    refused(panel, kIndex21, panel->checkBoxIgmp, panel->spinBasePort, L"",
            L"Поле \"Базовый порт\" не заполнено. Введите целое число от 2000 до 65533.");
    panel->select(L"Зарно");
    refused(panel, kIndex21, panel->checkBoxRelayEvents, panel->spinZarnoAddress, L"-",
            L"В поле \"Адрес\" введено \"-\": это не целое число. Введите целое число от 1 до 127.");
    // Mended, the same page writes what the field now holds.
    panel->spinZarnoAddress->SetValue(120);
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kIndex21), Requests{"set zarnoAddr 120"});
    EXPECT_EQ(completions(), 1);

    Panel* consolePanel = open(kConsole);
    consolePanel->textName->ChangeValue(L"Пульт охраны");  // nothing of the page is applied, the name neither
    refused(consolePanel, kConsole, consolePanel->checkBoxKeySound, consolePanel->spinTovikPriority, L"",
            L"Поле \"Приоритет типа консоли\" не заполнено. Введите целое число от 1 до 100.");
    EXPECT_NE(device(kConsole)->getTitle(), L"Пульт охраны");
    EXPECT_EQ(applied, 0);
}

// The field trial: "2991o" typed into "Базовый порт" of a loudspeaker and
// "Применить" clicked sent "set srvPort 2991" and a reboot to the device.
TEST_F(PropertyApply, LettersTypedIntoANumberFieldStayAndApplySendsNothing) {
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([panel] { return panel->spinBasePort->IsShownOnScreen(); }));
    sets(kIndex21);
    ASSERT_TRUE(typing_testing::typeOver(panel->spinBasePort, "2991o"));
    EXPECT_TRUE(panel->editing()) << "what was typed is an edit to apply";
    ScriptedUi answers;
    answers.expect(L"Внимание", wxID_OK);
    typing_testing::click(panel->buttonApply);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&answers] { return !answers.shown().empty(); }));
    EXPECT_EQ(answers.shown()[0].text, L"В поле \"Базовый порт\" введено \"2991o\": это не целое число. "
                                       L"Введите целое число от 2000 до 65533.");
    EXPECT_TRUE(sets(kIndex21).empty());
    EXPECT_EQ(completions(), 0);
    EXPECT_EQ(panel->spinBasePort->GetTextValue(), L"2991o");
    EXPECT_TRUE(wx_testing::runEventLoopUntil([panel] { return panel->spinBasePort->HasFocus(); }));
}

// Letters typed by hand stay when the page is read again before Apply or
// Cancel: a fill would have put the device's port back.
TEST_F(PropertyApply, LettersTypedIntoANumberFieldStayWhenThePageIsReadAgain) {
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    ASSERT_TRUE(wx_testing::runEventLoopUntil([panel] { return panel->spinBasePort->IsShownOnScreen(); }));
    ASSERT_TRUE(typing_testing::typeOver(panel->spinBasePort, "2991o"));
    panel->update();
    EXPECT_EQ(panel->spinBasePort->GetTextValue(), L"2991o");
    EXPECT_TRUE(panel->editing());
    EXPECT_EQ(panel->textMulticastIp->GetValue(), L"224.0.224.1") << "the rest is the device's";
}

TEST_F(PropertyApply, CancelReadsThePageAgainAndRevertsPendingAudioMemoryEdits) {
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    panel->textMulticastIp->ChangeValue(L"239.1.1.1");
    panel->tick(panel->checkBoxAllowIp, false);
    panel->press(L"&Отмена");
    EXPECT_EQ(panel->textMulticastIp->GetValue(), L"224.0.224.1");
    EXPECT_TRUE(panel->checkBoxAllowIp->GetValue());
    EXPECT_FALSE(panel->editing());

    panel->select(L"Аудио память");
    ASSERT_TRUE(panel->m_audioControl);
    panel->m_audioControl->removeFragment(10);
    panel->press(L"&Отмена");
    EXPECT_FALSE(panel->m_audioControl->hasChanges());
    EXPECT_EQ(panel->m_audioControl->getFragments().size(), 3u);
    EXPECT_FALSE(panel->editing());
    EXPECT_TRUE(sets(kIndex21).empty());
    EXPECT_EQ(memory21->count("write"), 0u);
}

namespace {
using MainWindowRename = main_frame_testing::MainWindow;
}

TEST_F(MainWindowRename, ARenameRunsTheAfterApplyCallbackAndTheZonePanelShowsIt) {
    using main_frame_testing::address;
    writeStores({1}, main_frame_testing::zoneXml("Зал", {1}));
    device::sim::Simulator simulator;
    auto model = std::make_unique<device::sim::OrvelConfigModel>(address(1), 21);
    device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(21), *model);
    device::sim::SimulatedDevice& speaker = simulator.add("127.62.200.1", 0, std::move(model));
    simulator.start();
    start();
    speaker.startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()}, 100ms);
    frm::IconGrid* list = frame->zonePanel()->deviceList;
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] {
        const auto& hall = frame->zone(1)->getDevices();
        return list->GetItemCount() == 1 && hall.size() == 1 && hall[0]->isOnlineAndAnswered();
    }));
    const std::wstring before = frame->zone(1)->getDevices()[0]->getTitle();
    main_frame_testing::click(frame->zone(1)->getButton());  // the zone "Зал"
    ASSERT_EQ(list->GetItemCount(), 1);
    list->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    main_frame_testing::click(frame->zonePanel()->deviceProperty);
    ASSERT_EQ(frame->shown(), std::vector<std::size_t>{8});
    wxWindow* panel = frame->contentPanel->GetChildren()[8];
    wxTextCtrl* name = nullptr;
    // The page fills when the loudspeaker has answered.
    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] {
        for (wxTextCtrl* field : dialog_testing::all<wxTextCtrl>(panel))
            if (field->GetValue() == before && field->IsEnabled()) name = field;
        return name != nullptr;
    }));
    name->ChangeValue(L"Холл, левый");
    dialog_testing::press(panel, L"&Применить");
    const auto titled = [panel] {
        bool found = false;
        for (wxStaticText* text : dialog_testing::all<wxStaticText>(panel))
            found = found || text->GetLabel() == L"Холл, левый";
        return found;
    };
    EXPECT_TRUE(wx_testing::runEventLoopUntil(titled)) << "the panel's title line";
    ASSERT_EQ(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetItemText(0), L"Холл, левый") << "the zone panel, through the after-apply callback";

    EXPECT_TRUE(logged("rename device, old name"));
    simulator.stop();
}
