// ctest-labels: net
// What the property panel shows but cannot name is never written: an
// analogue input whose message names no scenario the panel lists, and a
// console without a gong, keep their values through any Apply until the
// installer picks an entry. Every edit field enables Apply on a change of
// its text however made (typed, pasted), not only on keys or arrows.
#include <wx/spinctrl.h>

#include <algorithm>
#include <cstdlib>

#include "tests/gui/property_panel_site.h"

using namespace panel_site;

namespace {

class PropertyKept : public PanelSite {
protected:
    PropertyKept() : PanelSite(74) {}
};

}  // namespace

TEST_F(PropertyKept, InputMessageThatNoEntryNamesIsKeptUntilTheInstallerPicksOne) {
    struct Case {
        Device device;
        const char* position;
        const char* what;
    };
    // The memory of index 21 holds one scenario; that of index 18 cannot be read.
    const Case cases[] = {{kIndex21, "3", "position 3 in a memory of one scenario"},
                          {kIndex18, "1", "position 1 with an unreadable memory"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setValue(c.device, "scAin2", c.position);
        Panel* panel = open(c.device);
        panel->select(L"Источники");
        sets(c.device);
        EXPECT_EQ(panel->choiceAnalogInput2Function->GetSelection(), wxNOT_FOUND)
            << "no entry is shown for a message the panel cannot name";
        EXPECT_EQ(panel->choiceAnalogInput1Function->GetSelection(), 0) << "input 1 plays itself";

        // Another setting of the page: the input's message stays as it is.
        const bool listen = !panel->checkBoxStreamFromOthers->GetValue();
        panel->tick(panel->checkBoxStreamFromOthers, listen);
        panel->press(L"&Применить");
        // The priorities go out too: the device's values become the entries' numbers.
        const Requests written = sets(c.device);
        EXPECT_EQ(std::count(written.begin(), written.end(),
                             std::string("set multicastListen ") + (listen ? "on" : "off")),
                  1);
        for (const std::string& request : written)
            EXPECT_EQ(request.rfind("set scAIN", 0), std::string::npos);
        EXPECT_EQ(speaker(c.device)->getConfig(true).scenarioAin2, std::atoi(c.position));

        // Read again, the page still names no entry.
        panel->update();
        EXPECT_EQ(panel->choiceAnalogInput2Function->GetSelection(), wxNOT_FOUND);
        sets(c.device);

        // Picked by the installer, the input plays itself again.
        dialog_testing::choose(panel->choiceAnalogInput2Function, 0);
        panel->press(L"&Применить");
        EXPECT_EQ(sets(c.device), Requests{"set scAIN2 -1"});
        panel->Destroy();
    }
}

TEST_F(PropertyKept, ConsoleWithoutAGongShowsNoneAndKeepsItThroughApply) {
    Panel* panel = open(kConsole);  // gongOrder 0: no gong
    ASSERT_EQ(panel->comboBoxGong->GetCount(), 2u) << "the memory offers two fragments";
    EXPECT_EQ(panel->comboBoxGong->GetSelection(), wxNOT_FOUND);
    EXPECT_FALSE(panel->checkBoxGong->GetValue());
    sets(kConsole);

    panel->textName->ChangeValue(L"Пульт дежурного");
    panel->tick(panel->checkBoxKeySound, !panel->checkBoxKeySound->GetValue());
    const bool beeper = panel->checkBoxKeySound->GetValue();
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kConsole), Requests{std::string("set beeper ") + (beeper ? "on" : "off")})
        << "neither the gong nor its fragment was chosen";
    EXPECT_EQ(applied, 1) << "the rename";
    const device::TovikConfig config = console(kConsole)->getConfig(true);
    EXPECT_EQ(config.gongOrder, 0);
    EXPECT_FALSE(config.gong);

    // Read again, the page still shows no gong.
    panel->update();
    EXPECT_EQ(panel->comboBoxGong->GetSelection(), wxNOT_FOUND);
}

TEST_F(PropertyKept, EveryEditFieldEnablesApplyOnAnyChangeOfItsText) {
    const auto changed = [](Panel* panel, wxWindow* field, const wxString& text) {
        // The event the toolkit sends for every change of an entry's text,
        // whether typed, pasted or dropped.
        wxCommandEvent event(wxEVT_TEXT, field->GetId());
        event.SetEventObject(field);
        event.SetString(text);
        field->HandleWindowEvent(event);
        return panel->editing();
    };
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    ASSERT_FALSE(panel->editing()) << "filling the page is no edit";
    EXPECT_TRUE(changed(panel, panel->spinBasePort, L"12990")) << "a typed base port";
    panel->press(L"&Отмена");
    ASSERT_FALSE(panel->editing());
    for (wxWindow* field :
         std::initializer_list<wxWindow*>{panel->textIp, panel->textMask, panel->textGateway,
                                          panel->textMulticastIp, panel->textAllowIp}) {
        EXPECT_TRUE(changed(panel, field, L"10.0.0.1")) << field->GetName();
        panel->press(L"&Отмена");
        EXPECT_FALSE(panel->editing());
    }
    panel->select(L"Зарно");
    EXPECT_FALSE(panel->editing());
    EXPECT_TRUE(changed(panel, panel->spinZarnoAddress, L"12"));
    panel->press(L"&Отмена");
    panel->select(L"Общие");
    EXPECT_FALSE(panel->editing());
    EXPECT_TRUE(changed(panel, panel->textName, L"Зал 2"));
    panel->press(L"&Отмена");

    panel->imbueDevice(device(kConsole));
    panel->update();
    EXPECT_FALSE(panel->editing());
    EXPECT_TRUE(changed(panel, panel->spinTovikPriority, L"7"));

    // A base port typed and applied without Enter or the arrows is written.
    panel->imbueDevice(device(kIndex21));
    panel->update();
    panel->select(L"Сеть");
    sets(kIndex21);
    panel->spinBasePort->SetValue(L"12990");
    changed(panel, panel->spinBasePort, L"12990");
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kIndex21), Requests{"set srvPort 12990"});
}

// Read again while an edit is pending (the main window opens the device once
// more), a page showed the device's values over what the operator had typed
// and ticked, and Apply would have written those.
TEST_F(PropertyKept, EditsNeitherAppliedNorCancelledStayWhenThePageIsReadAgain) {
    const auto typed = [](frm::fb::NumberSpin* field, const wxString& text) {
        field->showTypedText(text);
        wxCommandEvent event(wxEVT_TEXT, field->GetId());
        event.SetEventObject(field);
        event.SetString(text);
        field->HandleWindowEvent(event);
    };
    Panel* panel = open(kIndex21);
    panel->select(L"Зарно");
    const bool relay = panel->checkBoxRelayEvents->GetValue();
    const bool indicated = panel->checkBoxIsTestZarno->GetValue();
    typed(panel->spinZarnoAddress, L"12x");
    panel->tick(panel->checkBoxRelayEvents, !relay);
    setValue(kIndex21, "zarnoTest", indicated ? "off" : "on");  // changed on the device meanwhile

    panel->update();
    EXPECT_EQ(panel->spinZarnoAddress->GetTextValue(), L"12x") << "letters included, until refused";
    EXPECT_EQ(panel->checkBoxRelayEvents->GetValue(), !relay);
    EXPECT_EQ(panel->checkBoxIsTestZarno->GetValue(), !indicated) << "what was not edited is the device's";
    EXPECT_TRUE(panel->editing());

    // Cancelled, the page is the device's again.
    panel->press(L"&Отмена");
    EXPECT_NE(panel->spinZarnoAddress->GetTextValue(), L"12x");
    EXPECT_EQ(panel->checkBoxRelayEvents->GetValue(), relay);
    EXPECT_FALSE(panel->editing());

    // A console's type stays chosen, and the boxes it decides follow it.
    panel->imbueDevice(device(kConsole));
    panel->update();
    panel->select(L"Общие");
    ASSERT_EQ(panel->choiceTovikType->GetSelection(), 0);
    dialog_testing::choose(panel->choiceTovikType, 1);
    panel->settle();
    panel->update();
    EXPECT_EQ(panel->choiceTovikType->GetSelection(), 1);
    EXPECT_FALSE(panel->checkBoxSinglePowerSource->IsEnabled()) << "a fire console runs on two supplies";
    EXPECT_TRUE(panel->checkBoxAnalogInput->IsEnabled());
    sets(kConsole);
    panel->press(L"&Применить");
    EXPECT_EQ(sets(kConsole), Requests{"set priority 133"});
}
