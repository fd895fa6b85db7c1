// ctest-labels: net
// The property panel's pages as read from simulated devices: the common page
// of a console (options, gongs by fragment id) and of both equalizer kinds of
// loudspeaker, the network, Zarno and sources pages with their enabled
// states, the option edits of the network and common pages, and a device
// that stopped answering.
#include "tests/gui/property_panel_site.h"
#include "tests/gui/screenshot.h"

using namespace panel_site;

namespace {

class PropertyPages : public PanelSite {
protected:
    PropertyPages() : PanelSite(61) {}
};

std::uint16_t idAt(const wxItemContainer& list, unsigned n) {
    return static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(list.GetClientData(n)));
}

}  // namespace

TEST_F(PropertyPages, ConsoleCommonPageShowsItsOptionsAndItsGongsByFragmentId) {
    setValue(kConsole, "gong", "on");
    setValue(kConsole, "gongOrder", "2");
    setValue(kConsole, "priority", "42");
    setValue(kConsole, "powerIn1", "3");
    setValue(kConsole, "powerIn2", "0");
    setValue(kConsole, "singlePower", "on");
    const std::uint16_t gong = console(kConsole)->getConfig(true).gongId;
    ASSERT_EQ(gong, 11) << "the second fragment";

    Panel* panel = open(kConsole);
    EXPECT_TRUE(panel->panelTovik->IsShown());
    EXPECT_FALSE(panel->checkBoxEqualizer->IsShown());
    EXPECT_FALSE(panel->checkBoxLineControl->IsShown());
    ASSERT_EQ(panel->comboBoxGong->GetCount(), 2u);
    EXPECT_EQ(panel->comboBoxGong->GetString(0), L"1 - Фрагмент 1");
    EXPECT_EQ(idAt(*panel->comboBoxGong, 0), 10);
    EXPECT_EQ(idAt(*panel->comboBoxGong, panel->comboBoxGong->GetSelection()), gong);
    EXPECT_TRUE(panel->checkBoxGong->GetValue() && panel->checkBoxGong->IsEnabled());
    EXPECT_EQ(panel->choiceTovikType->GetSelection(), 0);
    EXPECT_EQ(panel->spinTovikPriority->GetValue(), 42);
    EXPECT_EQ(panel->choicePower1->GetSelection(), 3);
    EXPECT_EQ(panel->choicePower2->GetSelection(), 0);
    EXPECT_FALSE(panel->choicePower2->IsEnabled()) << "one supply allowed";
    EXPECT_TRUE(panel->checkBoxSinglePowerSource->GetValue() &&
                panel->checkBoxSinglePowerSource->IsEnabled());
    EXPECT_TRUE(panel->checkBoxFaultSound->IsEnabled());
    EXPECT_FALSE(panel->checkBoxAnalogInput->IsEnabled());
    wx_testing::writeShot(frame, "property_common_console");

    // A fire console with an empty memory: no gong to choose.
    panel->imbueDevice(device(kFireConsole));
    panel->update();
    EXPECT_EQ(panel->comboBoxGong->GetCount(), 0u);
    EXPECT_FALSE(panel->comboBoxGong->IsEnabled() || panel->checkBoxGong->IsEnabled());
    EXPECT_EQ(panel->choiceTovikType->GetSelection(), 1);
    EXPECT_EQ(panel->spinTovikPriority->GetValue(), 5) << "without the alarm input's bit";
    EXPECT_FALSE(panel->checkBoxSinglePowerSource->IsEnabled() || panel->checkBoxFaultSound->IsEnabled());
    EXPECT_TRUE(panel->checkBoxAnalogInput->IsEnabled());
}

TEST_F(PropertyPages, LoudspeakerCommonPageShowsItsEqualizerKindAndLineSettingsOfIndexesTwoToEight) {
    // Bass 7 and treble -3 in the packed word; six bands from index 9 on.
    ASSERT_TRUE(speaker(kIndex8)->request("set eq D27F", nullptr, true));
    ASSERT_TRUE(speaker(kIndex9)->request("set eqd -1:-2:-3:-4:-5:-6:0:0:0:0", nullptr, true));
    ASSERT_TRUE(speaker(kIndex9)->request("set eq on", nullptr, true));
    setValue(kIndex8, "lineTest", "off");
    setValue(kIndex8, "lineDouble", "off");
    setValue(kIndex9, "lineTest", "off");
    const device::OrvelConfig lines = speaker(kIndex8)->getConfig(true);

    Panel* panel = open(kIndex8);
    EXPECT_FALSE(panel->panelTovik->IsShown());
    EXPECT_TRUE(panel->panelBassTreble->IsShown());
    EXPECT_FALSE(panel->panelEqBands->IsShown());
    EXPECT_TRUE(panel->checkBoxEqualizer->GetValue());
    EXPECT_EQ(panel->sliderBass->GetValue(), 7);
    EXPECT_EQ(panel->sliderTreble->GetValue(), -3);
    EXPECT_EQ(panel->sliderBass->GetToolTipText(), L"Громкость басса 46%");
    EXPECT_EQ(panel->sliderTreble->GetToolTipText(), L"Громкость высоких частот -37%");
    EXPECT_TRUE(panel->checkBoxLineControl->IsShown() && panel->checkBoxLineControl->IsEnabled());
    EXPECT_EQ(panel->checkBoxLineControl->GetValue(), lines.lineTest);
    EXPECT_EQ(panel->choiceLineMode->GetSelection(), lines.linesJoined ? 1 : 0);
    EXPECT_TRUE(lines.linesJoined && !lines.lineTest) << "not the layout's choice and tick";
    wx_testing::writeShot(frame, "property_common_bass_treble");

    panel->imbueDevice(device(kIndex9));
    panel->update();
    EXPECT_FALSE(panel->panelBassTreble->IsShown());
    EXPECT_TRUE(panel->panelEqBands->IsShown());
    EXPECT_EQ(panel->sliderBand1->GetValue(), -1);
    EXPECT_EQ(panel->sliderBand6->GetValue(), -6);
    EXPECT_FALSE(panel->checkBoxLineControl->IsShown()) << "index 9 has no line settings";
    wx_testing::writeShot(frame, "property_common_bands");

    for (const auto& [n, shown] : {std::pair{kIndex2, true}, {kIndex12, false}, {kIndex21, false}}) {
        panel->imbueDevice(device(n));
        panel->update();
        EXPECT_EQ(panel->checkBoxLineControl->IsShown(), shown) << n;
    }
}

TEST_F(PropertyPages, NetworkPageFollowsTheRecordAndTheDeviceKind) {
    setValue(kIndex21, "srvAllowed", "0.0.0.0");
    setValue(kIndex21, "dhcp", "on");
    Panel* panel = open(kIndex21, true);
    panel->select(L"Сеть");
    EXPECT_TRUE(panel->checkBoxDhcp->GetValue());
    EXPECT_FALSE(panel->textIp->IsEnabled() || panel->textMask->IsEnabled() ||
                 panel->textGateway->IsEnabled());
    EXPECT_EQ(panel->textIp->GetValue(), L"127.0.7.20");
    EXPECT_EQ(panel->textMulticastIp->GetValue(), L"224.0.224.1");
    EXPECT_EQ(panel->spinBasePort->GetValue(), 11990);
    EXPECT_FALSE(panel->checkBoxAllowIp->GetValue());
    EXPECT_FALSE(panel->textAllowIp->IsEnabled());
    EXPECT_EQ(panel->textAllowIp->GetValue(), L"0.0.0.0");
    EXPECT_FALSE(panel->checkBoxLanRedundancy->IsEnabled()) << "no LAN reservation on an Orvel-610";
    EXPECT_TRUE(panel->checkBoxIgmp->IsEnabled() && panel->checkBoxIgmp->GetValue());
    wx_testing::writeShot(frame, "property_network");

    setValue(kIndex18Lan, "switchMode", "off");
    panel->imbueDevice(device(kIndex18Lan));
    panel->update();
    EXPECT_TRUE(panel->checkBoxLanRedundancy->IsEnabled() && panel->checkBoxLanRedundancy->GetValue());
    EXPECT_TRUE(panel->checkBoxAllowIp->GetValue() && panel->textAllowIp->IsEnabled());
    EXPECT_EQ(panel->textAllowIp->GetValue(), L"127.0.0.1");
    EXPECT_TRUE(panel->textIp->IsEnabled());

    panel->imbueDevice(device(kIndex17));
    panel->update();
    EXPECT_FALSE(panel->checkBoxIgmp->IsEnabled()) << "below index 18";
}

TEST_F(PropertyPages, ZarnoPageGatesRelayEventsAndLineReservation) {
    Panel* panel = open(kIndex18Lan);
    panel->select(L"Зарно");
    EXPECT_EQ(panel->spinZarnoAddress->GetValue(), 5);
    EXPECT_TRUE(panel->checkBoxIsTestZarno->GetValue());
    EXPECT_TRUE(panel->checkBoxRelayEvents->IsEnabled());
    EXPECT_TRUE(panel->checkBoxLineRedundancy->IsEnabled());
    wx_testing::writeShot(frame, "property_zarno");

    panel->imbueDevice(device(kIndex21));
    panel->update();
    EXPECT_FALSE(panel->checkBoxLineRedundancy->IsEnabled()) << "no line reservation on an Orvel-610";
    panel->imbueDevice(device(kConsole));
    panel->update();
    EXPECT_EQ(panel->spinZarnoAddress->GetValue(), 7);
    EXPECT_FALSE(panel->checkBoxRelayEvents->IsEnabled());
    EXPECT_TRUE(panel->checkBoxLineRedundancy->IsEnabled()) << "the console has the bit";
}

TEST_F(PropertyPages, SourcesPageRanksThePrioritiesAndOffersTheScenariosById) {
    const std::pair<const char*, const char*> priorities[] = {{"priVoiceAlert", "9"}, {"priAin2", "4"},
                                                              {"priAin1", "4"},       {"priStreamMCast", "1"},
                                                              {"priZoneInput", "2"},  {"priStream", "6"}};
    for (const auto& [name, value] : priorities) setValue(kIndex21, name, value);
    setValue(kIndex21, "scAin2", "1");
    Panel* panel = open(kIndex21);
    panel->select(L"Источники");
    const std::vector<wxChoice*> choices = {
        panel->choiceZarnoMessagesPriority, panel->choiceAnalogInput2Priority,
        panel->choiceAnalogInput1Priority,  panel->choiceAnalogMulticastPriority,
        panel->choiceAnalogConsolePriority, panel->choiceAlarmStreamPriority};
    std::vector<wxString> shown;
    for (wxChoice* choice : choices) shown.push_back(choice->GetStringSelection());
    EXPECT_EQ(shown, (std::vector<wxString>{L"7", L"5", L"5", L"2", L"3", L"6"}));
    EXPECT_TRUE(panel->choiceAnalogConsolePriority->IsEnabled() && panel->checkBoxAnalogFilter->IsEnabled());

    wxChoice* input2 = panel->choiceAnalogInput2Function;
    ASSERT_EQ(input2->GetCount(), 2u);
    EXPECT_EQ(input2->GetString(0), L"ГОиЧС / Микрофон");
    EXPECT_EQ(idAt(*input2, 0), 0xFFFF);
    EXPECT_EQ(idAt(*input2, 1), 5) << "the scenario's id";
    EXPECT_EQ(input2->GetSelection(), 1);
    EXPECT_EQ(panel->choiceAnalogInput1Function->GetSelection(), 0);
    EXPECT_TRUE(input2->IsEnabled());
    wx_testing::writeShot(frame, "property_sources");

    panel->imbueDevice(device(kIndex12));
    panel->update();
    EXPECT_FALSE(input2->IsEnabled());
    EXPECT_EQ(input2->GetCount(), 1u);
    EXPECT_FALSE(panel->checkBoxAnalogFilter->IsEnabled() || panel->choiceAnalogConsolePriority->IsEnabled());
}

TEST_F(PropertyPages, OptionEditsUnlockAndRefillTheirFields) {
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    ASSERT_FALSE(panel->checkBoxDhcp->GetValue());
    panel->textIp->ChangeValue(L"10.1.1.1");
    panel->tick(panel->checkBoxDhcp, true);
    EXPECT_FALSE(panel->textIp->IsEnabled() || panel->textMask->IsEnabled() ||
                 panel->textGateway->IsEnabled());
    EXPECT_EQ(panel->textIp->GetValue(), L"127.0.7.20") << "what the device holds";
    EXPECT_TRUE(panel->editing());
    panel->tick(panel->checkBoxDhcp, false);
    EXPECT_TRUE(panel->textIp->IsEnabled() && panel->textGateway->IsEnabled());
    panel->tick(panel->checkBoxAllowIp, false);
    EXPECT_FALSE(panel->textAllowIp->IsEnabled());
    EXPECT_TRUE(sets(kIndex21).empty()) << "nothing is written before Apply";

    panel->imbueDevice(device(kConsole));
    panel->select(L"Общие");
    panel->update();
    panel->checkBoxFaultSound->SetValue(false);
    dialog_testing::choose(panel->choiceTovikType, 1);
    panel->settle();  // the console's settings come from the device
    EXPECT_FALSE(panel->checkBoxSinglePowerSource->GetValue() ||
                 panel->checkBoxSinglePowerSource->IsEnabled());
    EXPECT_TRUE(panel->checkBoxFaultSound->GetValue());
    EXPECT_FALSE(panel->checkBoxFaultSound->IsEnabled());
    EXPECT_TRUE(panel->checkBoxAnalogInput->IsEnabled() && panel->choicePower2->IsEnabled());
    panel->checkBoxAnalogInput->SetValue(true);
    dialog_testing::choose(panel->choiceTovikType, 0);
    panel->settle();
    EXPECT_FALSE(panel->checkBoxSinglePowerSource->GetValue());  // as configured
    EXPECT_TRUE(panel->checkBoxFaultSound->GetValue() && panel->checkBoxFaultSound->IsEnabled());
    EXPECT_FALSE(panel->checkBoxAnalogInput->GetValue() || panel->checkBoxAnalogInput->IsEnabled());
    panel->tick(panel->checkBoxSinglePowerSource, true);
    EXPECT_FALSE(panel->choicePower2->IsEnabled());
    EXPECT_TRUE(panel->editing());
}

TEST_F(PropertyPages, ADeviceThatStoppedAnsweringClosesThePanelUnread) {
    devices[kIndex21]->setReplyPolicy({0, true});
    EXPECT_FALSE(speaker(kIndex21)->request("get vol", nullptr, false));
    devices[kIndex21]->clearReceived();
    Panel* panel = open(kIndex21);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(logged("Выбранного устройства нет в сети"));
    EXPECT_TRUE(wx_testing::runEventLoopUntil([panel] { return !panel->IsEnabled(); }));
    EXPECT_EQ(devices[kIndex21]->receivedCount(), 0u);

    devices[kIndex21]->setReplyPolicy({});
    ASSERT_TRUE(speaker(kIndex21)->request("get vol", nullptr, false));
    panel->imbueDevice(device(kIndex21));
    panel->update();
    EXPECT_TRUE(panel->IsEnabled());
    EXPECT_EQ(closed, 1);
}
