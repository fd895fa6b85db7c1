// ctest-labels: net
// The property panel's passkeys page over a simulated console: the rows
// numbered by position, the access control that follows the configuration
// and the list, the learning of a key polled by one job, deleting and
// resetting keys, and leaving the page while the console learns.
#include <thread>

#include "tests/gui/property_pages_fixture.h"
#include "tools/simulator/tovik_zone_model.h"

using namespace property_testing;

namespace {

class PasskeysPage : public PagesFixture {
protected:
    template <class F>
    auto model(F f) {
        return site.consoles[0].device->withModel<device::sim::TovikConfigModel>(f);
    }
    void SetUp() override {
        PagesFixture::SetUp();
        openSite(device::sim::addBindingSite, 5, [this] {
            model([](device::sim::TovikConfigModel& m) {
                m.passkeys = {"0A0B", "0C0D", "0E0F"};
                m.values["passkey"] = "on";
                return 0;
            });
        });
    }
    device::sim::SimulatedDevice& device() { return *site.consoles[0].device; }
    void openPage(std::chrono::milliseconds poll = 60s) {
        makePanel(false);
        panel->m_pagePeriods.passkeyPoll = poll;
        panel->open(console(0));
        panel->select(L"Ключи");
    }
    std::vector<wxPanel*> rows() { return Panel::rows<wxPanel>(panel->scrolledPasskeys); }
    /// A row's labels, then its name field.
    static std::vector<std::wstring> texts(wxWindow* row) {
        std::vector<std::wstring> found;
        for (wxWindow* child : row->GetChildren()) {
            if (dynamic_cast<wxStaticText*>(child) != nullptr)
                found.push_back(child->GetLabel().ToStdWstring());
            if (auto* field = dynamic_cast<wxTextCtrl*>(child))
                found.push_back(field->GetValue().ToStdWstring());
        }
        return found;
    }
    static wxButton* button(wxWindow* row) {
        for (wxWindow* child : row->GetChildren())
            if (auto* found = dynamic_cast<wxButton*>(child)) return found;
        return nullptr;
    }
};

}  // namespace

TEST_F(PasskeysPage, RowsAreNumberedByPositionAndAccessControlFollowsTheKeys) {
    openPage();
    ASSERT_EQ(rows().size(), 3u);
    EXPECT_EQ(texts(rows()[0]), (std::vector<std::wstring>{L"01", L"0A0B", L"Ключ 1"}));
    EXPECT_EQ(texts(rows()[2]), (std::vector<std::wstring>{L"03", L"0E0F", L"Ключ 3"}));
    EXPECT_TRUE(panel->toggleAccessControl->GetValue());
    EXPECT_EQ(panel->toggleAccessControl->GetLabel(), L"Контроль доступа включен");
    EXPECT_FALSE(panel->staticPasskeyHint->IsShown());
    EXPECT_TRUE(panel->buttonResetPasskeys->IsEnabled());
    wx_testing::writeShot(panel, "property_panel_passkeys");

    // Switched off by the operator: written, and shown on a red strip.
    panel->toggleAccessControl->SetValue(false);
    wxCommandEvent toggled(wxEVT_TOGGLEBUTTON, panel->toggleAccessControl->GetId());
    send(panel->toggleAccessControl, toggled);
    EXPECT_EQ(model([](device::sim::TovikConfigModel& m) { return m.values["passkey"]; }), "off");
    EXPECT_EQ(panel->toggleAccessControl->GetLabel(), L"Контроль доступа выключен");
    EXPECT_EQ(panel->panelAccessControl->GetBackgroundColour(), wxColour(255, 0, 0));

    // Access control on without a single key would lock everyone out: the
    // page switches it off.
    model([](device::sim::TovikConfigModel& m) {
        m.passkeys.clear();
        m.values["passkey"] = "on";
        return 0;
    });
    console(0)->resetCache();
    panel->refreshPasskeys();
    panel->settle();
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(model([](device::sim::TovikConfigModel& m) { return m.values["passkey"]; }), "off");
    EXPECT_FALSE(panel->toggleAccessControl->GetValue());
    EXPECT_FALSE(panel->toggleAccessControl->IsEnabled());
    EXPECT_FALSE(panel->buttonResetPasskeys->IsEnabled());
}

TEST_F(PasskeysPage, LearningIsPolledByOneJobUntilTheConsoleStopsListening) {
    openPage(50ms);
    click(panel->buttonAddPasskey);
    EXPECT_TRUE(panel->staticPasskeyHint->IsShown());
    EXPECT_TRUE(panel->buttonCancel->IsEnabled());
    EXPECT_NE(panel->m_passkeyJob.load(), 0u);

    // Pressed again and the page refreshed meanwhile: still one poll at a time.
    click(panel->buttonAddPasskey);
    for (int n = 0; n < 4; ++n) panel->refreshPasskeys();
    panel->settle();
    EXPECT_TRUE(panel->staticPasskeyHint->IsShown());
    device().clearReceived();
    runEventLoopFor(600ms);
    const int polls = count(requests(device()), "passkeyList");
    EXPECT_GE(polls, 3);
    EXPECT_LE(polls, 16) << "polls multiplied";
    // The job that starts the learning and the ones that poll it say which
    // is which. One job a press: the first poll runs under the press's name
    // when the refreshes took longer than its delay.
    EXPECT_EQ(loggedCount("and a description 'Добавление ключа'", "TRACE2"), 2);
    EXPECT_GE(loggedCount("description 'Выполняется проверка ключа'", "TRACE2"), polls - 2);

    // A key held to the reader: the poll sees the learning over and the page
    // shows the new key.
    model([](device::sim::TovikConfigModel& m) {
        m.presentKey("ABCD");
        return 0;
    });
    ASSERT_TRUE(runEventLoopUntil([&] { return rows().size() == 4u; }));
    EXPECT_FALSE(panel->staticPasskeyHint->IsShown());
    EXPECT_FALSE(panel->buttonCancel->IsEnabled());
    EXPECT_EQ(texts(rows()[3]), (std::vector<std::wstring>{L"04", L"ABCD", L"Ключ 4"}));
    device().clearReceived();
    runEventLoopFor(200ms);
    EXPECT_EQ(count(requests(device()), "passkeyList"), 0) << "no poll left";

    // Asked for from another thread, the page is refilled on the GUI thread.
    model([](device::sim::TovikConfigModel& m) { return m.passkeys.push_back("1234"), 0; });
    console(0)->resetCache();
    std::thread([this] { panel->refreshPasskeys(); }).join();
    EXPECT_EQ(rows().size(), 4u);
    ASSERT_TRUE(runEventLoopUntil([&] { return rows().size() == 5u; }));
}

TEST_F(PasskeysPage, DeleteResetAndLeavingThePage) {
    openPage(50ms);
    // Two deletions before the page is rebuilt: the second key is no longer
    // one of the console's last list.
    wxButton* first = button(rows()[0]);
    wxButton* second = button(rows()[1]);
    observedAt(L"NOTICE", true);
    for (wxButton* pressed : {first, second}) {
        wxCommandEvent event(wxEVT_BUTTON, pressed->GetId());
        event.SetEventObject(pressed);
        pressed->GetEventHandler()->ProcessEvent(event);
    }
    EXPECT_FALSE(first->IsEnabled());
    ASSERT_TRUE(runEventLoopUntil([&] { return rows().size() == 2u; }));
    panel->settle();
    EXPECT_EQ(observedAt(L"NOTICE"),
              (std::vector<std::wstring>{L"Успешно выполнено",
                                         L"Сообщение: 'Ключ не существует'\nОписание: 'Нет описания'"}))
        << "the key of an old list is refused";
    EXPECT_EQ(texts(rows()[0]), (std::vector<std::wstring>{L"01", L"0C0D", L"Ключ 1"}));

    observedAt(L"NOTICE", true);
    click(panel->buttonResetPasskeys);
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Успешно выполнено"});

    // Leaving while the console learns: the learning ends, no poll is left.
    click(panel->buttonAddPasskey);
    panel->select(L"Общие");
    EXPECT_FALSE(model([](device::sim::TovikConfigModel& m) { return m.listening; }));
    EXPECT_EQ(panel->m_passkeyJob.load(), 0u);
    runEventLoopFor(100ms);
    device().clearReceived();
    runEventLoopFor(300ms);
    EXPECT_EQ(count(requests(device()), "passkeyList"), 0);
}
