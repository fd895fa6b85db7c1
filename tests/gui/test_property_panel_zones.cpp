// ctest-labels: net
// The property panel's broadcast-zone page of a console and linked-console
// page of a loudspeaker over the simulator's binding and broken sites: the
// zone buttons' colours, the loudspeakers listed for a zone, the message
// choice, the apply of a zone's binding with its refusals, removing zones,
// the linked consoles and the repair of broken bindings.
#include <wx/translation.h>

#include "tests/gui/property_pages_fixture.h"
#include "tests/gui/ui_script.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_zone_model.h"

using namespace property_testing;

namespace {

constexpr std::size_t kBroadcast = 0;
constexpr std::size_t kFire = 1;
// Loudspeakers of the binding site, by position: index 18, 19 and 21.
constexpr std::size_t kL18 = 0, kL19 = 1, kL21 = 2;
constexpr unsigned kOld = 0x5A0100;  // the index-17 loudspeaker added here

wxColour colourOf(const wxWindow* window) { return window->GetBackgroundColour(); }

class BindingSite : public PagesFixture {
protected:
    void SetUp() override {
        PagesFixture::SetUp();
        openSite(device::sim::addBindingSite, 6, [this] {
            old = &simulator.add("127.0.7.30", 0,
                                 std::make_unique<device::sim::OrvelConfigModel>(
                                     device::sim::Simulator::hardwareAddress(kOld), 17));
            // L18 and L19 share a memory, L21 has another one.
            plantMemory(kL18, 2);
            plantMemory(kL19, 2);
            plantMemory(kL21, 3);
        });
    }
    /// Sets the zones of a simulated console, and the loudspeakers' lists
    /// that go with them, and has the console read them again.
    void setZones(std::size_t n, const std::map<int, device::sim::TovikZoneModel::Zone>& zones,
                  const std::map<int, int>& messages = {}, unsigned disconnected = 0,
                  unsigned activated = 0) {
        site.consoles.at(n).device->withModel<device::sim::TovikZoneModel>(
            [&](device::sim::TovikZoneModel& m) {
                m.zones = zones;
                m.messages = messages;
                m.disconnectedZones = disconnected;
                m.fields[13] = activated;
                return 0;
            });
        const unsigned own = site.consoles.at(n).address;
        for (const device::sim::SiteLoudspeaker& speaker : site.loudspeakers) {
            std::set<int> heard = speaker.zones->announcements();
            std::set<unsigned> consoles = speaker.zones->addresses();
            for (const auto& zone : zones)
                if (zone.second.addresses.count(speaker.address) != 0) {
                    heard.insert(zone.second.virtualZone);
                    consoles.insert(own);
                }
            speaker.zones->setAnnouncements(heard);
            speaker.zones->setAddresses(consoles);
            if (const auto object = collection->searchForOrvel(net::HardwareAddress(speaker.address)))
                object->resetCache();
        }
        unsigned bound = 0;
        for (const auto& zone : zones) bound |= 1u << zone.first;
        ASSERT_TRUE(runEventLoopUntil([&] {
            const auto state = console(n)->getState();
            return state.boundZones == bound && state.activatedZones == activated;
        }));
        console(n)->resetCache();
    }
    unsigned address(std::size_t n) const { return site.loudspeakers.at(n).address; }
    std::wstring title(std::size_t n) { return speaker(n)->getTitle(); }
    void chooseZone(int zone) {
        wxToggleButton* button = panel->zoneButton(zone);
        button->SetValue(true);
        wxCommandEvent event(wxEVT_TOGGLEBUTTON, button->GetId());
        send(button, event);
    }
    /// Opens the zone page of a console.
    void openZones(std::size_t n, bool debugMode = false) {
        if (panel == nullptr) makePanel(debugMode);
        panel->open(console(n));
        panel->select(L"Зоны трансляции");
    }
    wxCheckBox* target(const std::wstring& label) {
        for (wxCheckBox* box : panel->targets())
            if (box->GetLabelText() == label) return box;
        ADD_FAILURE() << "no row " << wxString(label).utf8_string();
        return nullptr;
    }
    std::vector<std::wstring> labels() {
        std::vector<std::wstring> texts;
        for (wxCheckBox* box : panel->targets()) texts.push_back(box->GetLabelText().ToStdWstring());
        return texts;
    }
    device::ConsoleZoneMap zonesOf(std::size_t n) {
        console(n)->resetCache();
        return console(n)->getZones();
    }

    device::sim::SimulatedDevice* old = nullptr;
};

/// The binding site with the operator texts in Russian, as the program has them.
class ZonePage : public BindingSite {
protected:
    void SetUp() override {
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(SONVAR_CATALOGUE_DIR);
        auto* translations = new wxTranslations;
        translations->SetLanguage("ru_RU");
        ASSERT_TRUE(translations->AddCatalog("ru_RU", wxLANGUAGE_ENGLISH_US));
        wxTranslations::Set(translations);
        BindingSite::SetUp();
    }
    void TearDown() override {
        BindingSite::TearDown();
        wxTranslations::Set(nullptr);
    }
};

}  // namespace

TEST_F(ZonePage, ButtonsRowsAndTheMessageChoiceShowTheConsole) {
    device::sim::TovikZoneModel::Zone withL18{301, {address(kL18)}};
    setZones(kFire,
             {{1, withL18},
              {2, {302, {address(kL19)}}},
              {3, {303, {address(kL21)}}},
              {5, {305, {address(kL18), 0x0ABCDE}}},
              {6, {306, {address(kL19)}}}},
             {{2, 1}}, 1u << 3, 1u << 6);
    openZones(kFire);
    // Zone 4 is not bound; 5 is, but the zone names a loudspeaker nobody
    // knows: the integrity check marks it.
    const wxColour expected[] = {wxColour(143, 250, 129),        wxColour(34, 208, 9),  wxColour(255, 216, 0),
                                 colourOf(panel->zoneButton(7)), wxColour(255, 216, 0), wxColour(255, 0, 0)};
    for (int zone = 1; zone <= 6; ++zone)
        EXPECT_EQ(colourOf(panel->zoneButton(zone)), expected[zone - 1]) << "zone " << zone;
    EXPECT_TRUE(panel->buttonFixZoneIntegrity->IsShown());
    wx_testing::writeShot(panel, "property_panel_zones");

    // Zone 1: its target ticked, the other loudspeakers of index 18 or more
    // offered, the index-17 one not; the microphone chosen; a fire console
    // may choose messages, those of the first answering loudspeaker.
    EXPECT_EQ(panel->m_currentZone, 1);
    EXPECT_EQ(labels(), (std::vector<std::wstring>{title(kL18), title(kL19), title(kL21)}));
    EXPECT_TRUE(target(title(kL18))->GetValue());
    EXPECT_FALSE(target(title(kL19))->GetValue());
    EXPECT_EQ(target(title(kL18))->GetForegroundColour(), wxColour(0, 0, 0));
    EXPECT_EQ(panel->messages(), (std::vector<std::wstring>{L"Вещание с микрофона", L"1 - Эвакуация"}));
    EXPECT_EQ(panel->comboBoxZoneMode->GetSelection(), 0);
    EXPECT_TRUE(panel->comboBoxZoneMode->IsEnabled());
    EXPECT_TRUE(panel->buttonRemoveZone->IsEnabled());

    // A zone with a message selects it.
    chooseZone(2);
    EXPECT_EQ(panel->comboBoxZoneMode->GetSelection(), 1);
    EXPECT_FALSE(panel->zoneButton(1)->GetValue()) << "one zone at a time";

    // Zone 5: the target the collection lacks is listed by its address,
    // ticked and amber; ticking any box then still works (it once threw).
    chooseZone(5);
    wxCheckBox* unknown = target(L"02:56:53:0A:BC:DE");
    ASSERT_NE(unknown, nullptr);
    EXPECT_TRUE(unknown->GetValue());
    EXPECT_EQ(unknown->GetForegroundColour(), wxColour(238, 202, 0));
    EXPECT_FALSE(panel->buttonApply->IsEnabled());
    EXPECT_NO_THROW(tick(target(title(kL19)), true));
    EXPECT_TRUE(panel->buttonApply->IsEnabled());
    EXPECT_EQ(panel->messages().size(), 2u) << "L18 and L19 share their memory";
    EXPECT_NO_THROW(tick(unknown, false));
    EXPECT_EQ(panel->messages().size(), 2u) << "the unknown target is only an edit";
    // The device views' refresh while the zone is edited keeps the ticks.
    panel->refreshZonePage();
    panel->settle();
    EXPECT_TRUE(target(title(kL19))->GetValue());
    EXPECT_FALSE(target(L"02:56:53:0A:BC:DE")->GetValue());

    // Loudspeakers that stop answering: one not a target leaves the list;
    // a target stays, and the integrity check counts its binding broken.
    chooseZone(1);
    silence(*site.loudspeakers[kL18].device, speaker(kL18));
    silence(*site.loudspeakers[kL21].device, speaker(kL21));
    panel->update();
    EXPECT_EQ(labels(), (std::vector<std::wstring>{title(kL18), title(kL19)}));
    EXPECT_EQ(target(title(kL18))->GetForegroundColour(), wxColour(238, 202, 0));

    // The broadcast console offers no messages to choose.
    panel->open(console(kBroadcast));
    EXPECT_FALSE(panel->comboBoxZoneMode->IsEnabled());
    EXPECT_FALSE(panel->buttonFixZoneIntegrity->IsShown());
    EXPECT_FALSE(panel->buttonRemoveZone->IsEnabled()) << "zone 1 is empty there";
}

TEST_F(ZonePage, TickingComparesTheLoudspeakersMemories) {
    openZones(kFire, true);
    EXPECT_EQ(labels().size(), 3u);
    EXPECT_NE(labels()[0].find(L" | "), std::wstring::npos) << "debug mode shows the address";
    panel->comboBoxZoneMode->SetSelection(1);
    tick(panel->targets()[kL18], true);
    tick(panel->targets()[kL19], true);
    EXPECT_EQ(panel->messages(), (std::vector<std::wstring>{L"Вещание с микрофона", L"1 - Эвакуация"}));
    EXPECT_EQ(panel->comboBoxZoneMode->GetSelection(), 0);
    EXPECT_FALSE(panel->staticZoneNote->IsShown());

    tick(panel->targets()[kL21], true);
    EXPECT_EQ(panel->messages(), (std::vector<std::wstring>{L"Вещание с микрофона"}));
    EXPECT_TRUE(panel->staticZoneNote->IsShown());
    tick(panel->targets()[kL18], false);
    tick(panel->targets()[kL19], false);
    EXPECT_FALSE(panel->staticZoneNote->IsShown()) << "one loudspeaker: its own scenarios";
    EXPECT_EQ(panel->messages().size(), 2u);
}

TEST_F(ZonePage, ApplyBindsUnbindsAndShowsWhatTheConsoleHolds) {
    openZones(kBroadcast);
    panel->setCallbacks([] {}, [] {});
    chooseZone(2);
    tick(panel->targets()[kL18], true);
    tick(panel->targets()[kL19], true);
    observedAt(L"NOTICE", true);
    click(panel->buttonApply);
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_FALSE(panel->buttonApply->IsEnabled());
    device::ConsoleZoneMap zones = zonesOf(kBroadcast);
    ASSERT_EQ(zones.count(2), 1u);
    EXPECT_EQ(zones[2].addresses, (std::set<unsigned>{address(kL18), address(kL19)}));
    EXPECT_EQ(zones[2].scenario, -1);
    EXPECT_EQ(count(requests(*site.consoles[kBroadcast].device), "zoneBind 2 "), 1);
    ASSERT_TRUE(runEventLoopUntil([&] { return (console(kBroadcast)->getState().boundZones & 4u) != 0; }));
    panel->update();
    EXPECT_EQ(colourOf(panel->zoneButton(2)), wxColour(143, 250, 129));
    EXPECT_TRUE(panel->targets()[kL18]->GetValue() && panel->targets()[kL19]->GetValue());

    // Clearing every box unbinds the zone, nothing is bound empty.
    site.consoles[kBroadcast].device->clearReceived();
    tick(panel->targets()[kL18], false);
    tick(panel->targets()[kL19], false);
    observedAt(L"NOTICE", true);
    panel->apply();
    EXPECT_EQ(observedAt(L"NOTICE", true), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_EQ(zonesOf(kBroadcast).count(2), 0u);
    EXPECT_EQ(count(requests(*site.consoles[kBroadcast].device), "zoneBind"), 0);
    EXPECT_EQ(count(requests(*site.consoles[kBroadcast].device), "zoneDel"), 1);
    panel->apply();
    EXPECT_EQ(observedAt(L"NOTICE", true), std::vector<std::wstring>{L"Выполнение операции завершено"})
        << "nothing bound, nothing to do";

    // A ticked target the collection does not know ends Apply at once.
    setZones(kBroadcast, {{4, {304, {0x0ABCDE}}}});
    chooseZone(4);
    site.consoles[kBroadcast].device->clearReceived();
    panel->apply();
    EXPECT_EQ(loggedCount("Выбрано устройство вне сети", "WARN"), 1);
    EXPECT_TRUE(observedAt(L"NOTICE", true).empty()) << "nothing more is said";
    EXPECT_TRUE(requests(*site.consoles[kBroadcast].device).empty()) << "nothing written";
}

TEST_F(ZonePage, RefusedBindingsSayWhyAndMessageZonesKeepTheirMessage) {
    plantMemory(kL21, 0);  // no scenario at all
    setZones(kFire, {{3, {303, {address(kL18), address(kL21)}}}});
    openZones(kFire);
    chooseZone(3);
    ASSERT_EQ(panel->messages().size(), 2u) << "L18's scenarios";
    panel->comboBoxZoneMode->SetSelection(1);
    wxCommandEvent chosen(wxEVT_COMBOBOX, panel->comboBoxZoneMode->GetId());
    send(panel->comboBoxZoneMode, chosen);
    panel->setCallbacks([] {}, [] {});
    observedAt(L"NOTICE", true);
    click(panel->buttonApply);
    EXPECT_EQ(observedAt(L"NOTICE"),
              std::vector<std::wstring>{
                  L"Зона не записана: У одного из громкоговорителей нет сценария с этим сообщением"});
    // The rebinding had unbound the zone first: the page, reloaded, shows
    // it gone, and the edit stays to be tried again.
    EXPECT_FALSE(panel->targets()[kL18]->GetValue());
    EXPECT_TRUE(panel->buttonApply->IsEnabled());
    ASSERT_TRUE(runEventLoopUntil([&] { return (console(kFire)->getState().boundZones & 8u) == 0; }));
    panel->update();
    EXPECT_EQ(colourOf(panel->zoneButton(3)), colourOf(panel->zoneButton(9)));

    // A message zone whose only answering loudspeakers have no memory to
    // list: no message is chosen, and Apply keeps the zone's message
    // instead of turning it into broadcast from the microphone.
    plantMemory(kL18, 2);
    setZones(kFire, {{4, {304, {address(kL18)}}}}, {{4, 1}});
    silence(*site.loudspeakers[kL18].device, speaker(kL18));
    site.loudspeakers[kL19].device->setReplyPolicy(device::sim::ReplyPolicy{0, true});
    speaker(kL19)->resetCache();
    chooseZone(4);
    site.loudspeakers[kL19].device->setReplyPolicy({});
    EXPECT_EQ(panel->comboBoxZoneMode->GetSelection(), wxNOT_FOUND);
    site.loudspeakers[kL18].device->setReplyPolicy({});
    observedAt(L"NOTICE", true);
    panel->apply();
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_EQ(zonesOf(kFire)[4].scenario, 1);
}

TEST_F(ZonePage, RemovingZonesAsksFirst) {
    setZones(kBroadcast, {{1, {301, {address(kL18)}}}, {2, {302, {address(kL19)}}}});
    openZones(kBroadcast);
    ui_testing::ScriptedUi ui;
    ui.expect(L"Внимание!", wxID_NO);
    click(panel->buttonRemoveZone);
    EXPECT_EQ(zonesOf(kBroadcast).size(), 2u);
    ui.expect(L"Внимание!", wxID_YES);
    click(panel->buttonRemoveZone);
    EXPECT_EQ(zonesOf(kBroadcast).count(1), 0u);
    EXPECT_EQ(ui.shown().back().text, L"Удалить текущую зону?");
    EXPECT_FALSE(panel->buttonRemoveZone->IsEnabled()) << "the page shows the empty zone";

    ui.expect(L"Внимание!", wxID_NO).expect(L"Внимание!", wxID_YES);
    click(panel->buttonResetZones);
    EXPECT_EQ(zonesOf(kBroadcast).size(), 1u);
    click(panel->buttonResetZones);
    EXPECT_EQ(ui.shown().back().text, L"Удалить все зоны?");
    EXPECT_TRUE(zonesOf(kBroadcast).empty());
}

namespace {

// The broken site: consoles T1, T2 and the silent T3; eleven loudspeakers.
class BrokenBindings : public PagesFixture {
protected:
    void SetUp() override {
        PagesFixture::SetUp();
        openSite(device::sim::addBrokenSite, 12, [this] {
            // The first loudspeaker also holds T2 and a console nobody knows.
            site.loudspeakers[0].zones->setAddresses(
                {site.consoles[0].address, site.consoles[1].address, device::sim::kUnknownConsole});
        });
    }
    std::vector<std::wstring> consoleRows() {
        std::vector<std::wstring> texts;
        for (wxStaticText* row : Panel::rows<wxStaticText>(panel->scrolledLinkedConsoles))
            texts.push_back(row->GetLabelText().ToStdWstring());
        return texts;
    }
    void openLinked(std::size_t n) {
        panel->open(speaker(n));
        panel->select(L"Связанные консоли");
    }
};

}  // namespace

TEST_F(BrokenBindings, LinkedConsolesAndTheirRepair) {
    makePanel(false);
    openLinked(0);
    const std::wstring t1 = console(0)->getTitle(), t2 = console(1)->getTitle();
    EXPECT_EQ(consoleRows(),
              (std::vector<std::wstring>{L"1. [02:56:53:0B:EE:F0]", L"2. " + t1, L"3. " + t2}));
    EXPECT_TRUE(panel->buttonFixLinkIntegrity->IsShown());
    wx_testing::writeShot(panel, "property_panel_linked_consoles");

    // The silent console's row is grey.
    openLinked(6);
    const std::vector<wxStaticText*> rows = Panel::rows<wxStaticText>(panel->scrolledLinkedConsoles);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->GetForegroundColour(), wxColour(158, 158, 158));

    // A loudspeaker with only a stray virtual zone: no rows, but the repair.
    openLinked(8);
    EXPECT_TRUE(consoleRows().empty());
    ASSERT_TRUE(panel->buttonFixLinkIntegrity->IsShown());
    observedAt(L"NOTICE", true);
    click(panel->buttonFixLinkIntegrity);
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_FALSE(panel->buttonFixLinkIntegrity->IsEnabled());
    EXPECT_TRUE(site.loudspeakers[8].zones->announcements().empty());
    panel->update();
    EXPECT_FALSE(panel->buttonFixLinkIntegrity->IsShown()) << "nothing left to repair";

    // A console's page: the button shows; someone else repairs first, and
    // the press reports the work done instead of an error.
    panel->open(console(0));
    panel->select(L"Зоны трансляции");
    ASSERT_TRUE(panel->buttonFixZoneIntegrity->IsShown());
    collection->fixIntegrity(console(0));
    observedAt(L"NOTICE", true);
    EXPECT_NO_THROW(click(panel->buttonFixZoneIntegrity));
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_FALSE(panel->buttonFixZoneIntegrity->IsShown());
}
