// ctest-labels: net
// The property panel's line-control page over the simulator's line-control
// site: the end devices' rows, the buttons for each module state and
// power-save mode, the module's actions and their refusals, the apply of
// power saving, and the refresh cycle, which keeps its cadence through
// skipped refreshes and ends with the page.
#include <cmath>

#include "tests/gui/property_pages_fixture.h"

using namespace property_testing;

namespace {

class LineControlPage : public PagesFixture {
protected:
    void SetUp() override {
        PagesFixture::SetUp();
        openSite(device::sim::addLineControlSite, 1, [this] {
            lines().setTip(0, {1, 5, 0, "A0"});     // added, not answering: address 11
            lines().setTip(2, {0, 0, 0, "A2"});     // neither: 13
            lines().setTip(11, {3, 26, 43, "B1"});  // in service: 22
        });
    }
    device::sim::LineControlStore& lines() { return *site.loudspeakers[0].lines; }
    device::sim::SimulatedDevice& device() { return *site.loudspeakers[0].device; }
    void openPage(bool debugMode, std::chrono::milliseconds period = 60s) {
        makePanel(debugMode);
        panel->m_pagePeriods.lineControlRefresh = period;
        panel->open(speaker(0));
        panel->select(L"Линия");
    }
    std::vector<wxPanel*> rows() { return Panel::rows<wxPanel>(panel->scrolledTipDevices); }
    /// The texts of a row's labels, and its button.
    static std::vector<std::wstring> texts(wxWindow* row) {
        std::vector<std::wstring> found;
        for (wxWindow* child : row->GetChildren())
            if (dynamic_cast<wxStaticText*>(child) != nullptr)
                found.push_back(child->GetLabel().ToStdWstring());
        return found;
    }
    static wxButton* button(wxWindow* row) {
        for (wxWindow* child : row->GetChildren())
            if (auto* found = dynamic_cast<wxButton*>(child)) return found;
        return nullptr;
    }
    wxWindow* rowOf(const std::wstring& number) {
        for (wxPanel* row : rows())
            if (texts(row).at(0) == number) return row;
        ADD_FAILURE() << "no row" << wxString(number).utf8_string();
        return nullptr;
    }
    std::vector<bool> buttonStates() {
        return {panel->checkBoxPowerSave->IsEnabled(), panel->buttonAddAllTipDevices->IsEnabled(),
                panel->buttonResetPref->IsEnabled()};
    }
    int draws() { return loggedCount("Fill panel with tip devices."); }
    /// The contrast (1 to 21) between the page notice's background and the
    /// text pixel that stands out most from it, as the screen shows them.
    double noticeContrast(const std::string& shot) {
        wxImage image;
        if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
        const std::string path = wx_testing::writeShot(panel->staticVersionValue, shot);
        if (path.empty() || !image.LoadFile(path, wxBITMAP_TYPE_PNG)) return 0;
        const auto luminance = [](unsigned char r, unsigned char g, unsigned char b) {
            const auto linear = [](unsigned char c) {
                const double v = c / 255.0;
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
        };
        const wxColour background = panel->staticVersionValue->GetBackgroundColour();
        const double back = luminance(background.Red(), background.Green(), background.Blue());
        double best = 1;
        const unsigned char* rgb = image.GetData();
        for (int i = 0; i < image.GetWidth() * image.GetHeight(); ++i, rgb += 3) {
            const double l = luminance(rgb[0], rgb[1], rgb[2]);
            best = std::max(best, (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05));
        }
        return best;
    }
    /// The cycle drew at least once more within a generous while.
    bool drawsAgain() {
        const int before = draws();
        return runEventLoopUntil([&] { return draws() > before; }, 3s);
    }
};

}  // namespace

TEST_F(LineControlPage, RowsShowTheModulesEndDevices) {
    openPage(true);
    ASSERT_EQ(rows().size(), 4u);
    EXPECT_EQ(texts(rowOf(L" 11 ")),
              (std::vector<std::wstring>{L" 11 ", L"  0%", L"[id=11;1:0:0;00005/00000;A0]"}));
    EXPECT_EQ(texts(rowOf(L" 22 ")),
              (std::vector<std::wstring>{L" 22 ", L" 60%", L"[id=22;1:1:0;00026/00043;B1]"}));
    const auto numberColour = [this](const wchar_t* number) {
        for (wxWindow* child : rowOf(number)->GetChildren())
            if (dynamic_cast<wxStaticText*>(child) != nullptr) return child->GetBackgroundColour();
        return wxColour();
    };
    EXPECT_EQ(numberColour(L" 11 "), wxColour(255, 84, 81));
    EXPECT_EQ(numberColour(L" 13 "), wxColour(255, 216, 0));
    EXPECT_EQ(numberColour(L" 22 "), wxColour(120, 234, 110));
    EXPECT_EQ(button(rowOf(L" 11 "))->GetLabel(), L"Удалить");
    EXPECT_EQ(button(rowOf(L" 13 "))->GetLabel(), L"Добавить");
    EXPECT_EQ(panel->staticVersion->GetLabel(), L"Версия контроля линии: 1.2.7; Адрес: 02:56:53:10:00:01; ");
    EXPECT_FALSE(panel->staticVersionValue->IsShown());
    EXPECT_TRUE(panel->buttonRebootMaster->IsShown()) << "an Orvel-610 in debug mode";
    wx_testing::writeShot(panel, "property_panel_line_control");

    // Initialising: the progress and no rows.
    lines().setState("Not Ready");
    lines().setProgress(35);
    panel->refreshTipDevices();
    panel->settle();
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(panel->staticVersionValue->IsShown());
    EXPECT_EQ(panel->staticVersionValue->GetLabel(), L"Инициализация: 35%");
    EXPECT_EQ(buttonStates(), (std::vector<bool>{false, false, false}));

    // A loudspeaker that no longer answers: nothing it showed stays.
    silence(device(), speaker(0));
    panel->refreshTipDevices();
    panel->settle();
    EXPECT_EQ(panel->staticVersionValue->GetLabel(), L"Орвел недоступен / Микрофон");
    EXPECT_TRUE(panel->staticVersionValue->IsShown());
    EXPECT_FALSE(panel->panelTipDevices->IsEnabled());
    // The notice of the disabled page is still read easily (WCAG AA: 4.5:1).
    EXPECT_GE(noticeContrast("property_panel_line_control_notice"), 4.5);
    EXPECT_TRUE(panel->staticVersion->GetLabel().empty());
    EXPECT_EQ(panel->m_requestJob.load(), 0u) << "no cycle without a module";
}

TEST_F(LineControlPage, ButtonsFollowPowerSavingAndTheActionsReachTheModule) {
    openPage(false);
    EXPECT_EQ(buttonStates(), (std::vector<bool>{true, true, true}));
    EXPECT_FALSE(panel->buttonRebootMaster->IsShown()) << "debug mode only";

    // Power saving on: nothing may be added or removed, and both actions
    // say why before the common error.
    lines().setPowerSave(1);
    panel->refreshTipDevices();
    panel->settle();
    EXPECT_EQ(buttonStates(), (std::vector<bool>{true, false, false}));
    for (wxPanel* row : rows()) EXPECT_FALSE(button(row)->IsEnabled());
    observedAt(L"WARN", true);
    click(panel->buttonAddAllTipDevices);
    click(panel->buttonResetPref);
    EXPECT_EQ(
        observedAt(L"WARN"),
        (std::vector<std::wstring>{
            L"Не удалось добавить все оконечные устройства из-за включенного режима энергосбережения",
            L"Не удалось сбросить настройки управления линией из-за включенного режима энергосбережения"}));
    EXPECT_EQ(observedAt(L"ERROR").size(), 2u);
    EXPECT_EQ(lines().tips().at(2).flags, 0u);

    // An unknown mode: power saving cannot be switched, the rest can.
    lines().setPowerSave(2);
    panel->refreshTipDevices();
    panel->settle();
    EXPECT_EQ(buttonStates(), (std::vector<bool>{false, true, true}));

    // One end device added, one removed; the rows follow once the click is over.
    lines().setPowerSave(0);
    panel->refreshTipDevices();
    panel->settle();
    click(button(rowOf(L" 13 ")));
    EXPECT_EQ(lines().tips().at(2).flags & 1, 1u);
    ASSERT_TRUE(runEventLoopUntil([&] { return button(rowOf(L" 13 "))->GetLabel() == L"Удалить"; }));
    click(button(rowOf(L" 11 ")));
    EXPECT_EQ(lines().tips().count(0), 0u);
    ASSERT_TRUE(runEventLoopUntil([&] { return rows().size() == 3u; }));

    // All added, then the preferences reset.
    lines().setTip(4, {2, 0, 0, "A4"});
    observedAt(L"NOTICE", true);
    click(panel->buttonAddAllTipDevices);
    EXPECT_EQ(lines().tips().at(4).flags & 1, 1u);
    click(panel->buttonResetPref);
    EXPECT_TRUE(lines().tips().empty());
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(observedAt(L"NOTICE"), (std::vector<std::wstring>{L"Успешно выполнено", L"Успешно выполнено"}));

    // The reboot leaves the page disabled and refreshes nothing.
    device().clearReceived();
    click(panel->buttonRebootMaster);
    EXPECT_FALSE(panel->panelTipDevices->IsEnabled());
    EXPECT_EQ(requests(device()), Requests{"lsensor reboot"});
    EXPECT_EQ(lines().state(), "Not Ready");
}

TEST_F(LineControlPage, ApplySendsThePowerSaveMode) {
    openPage(false);
    panel->setCallbacks([] {}, [] {});
    EXPECT_FALSE(panel->checkBoxPowerSave->GetValue());
    tick(panel->checkBoxPowerSave, true);
    EXPECT_TRUE(panel->buttonApply->IsEnabled());
    device().clearReceived();
    observedAt(L"NOTICE", true);
    panel->apply();
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Выполнение операции завершено"});
    EXPECT_EQ(count(requests(device()), "lsensor power 1"), 1);
    EXPECT_EQ(lines().powerSave(), 1u);
    // Reopened, the page shows the module's mode.
    panel->open(speaker(0));
    EXPECT_TRUE(panel->checkBoxPowerSave->GetValue());
}

TEST_F(LineControlPage, TheCycleKeepsItsCadenceUntilThePageIsLeft) {
    openPage(false, 60ms);
    ASSERT_TRUE(drawsAgain());
    ASSERT_TRUE(drawsAgain()) << "the cycle runs";

    // A refresh that falls due while another reads is skipped, and the
    // cycle goes on afterwards.
    ASSERT_TRUE(panel->m_tipGate->tryEnter());
    const int skips = loggedCount("Skip refreshing of the tip devices");
    runEventLoopFor(300ms);
    const int during = draws();
    EXPECT_GT(loggedCount("Skip refreshing of the tip devices"), skips);
    panel->m_tipGate->leave();
    EXPECT_TRUE(drawsAgain()) << "a skipped refresh stopped the cycle";
    EXPECT_GT(draws(), during);

    // A row button held down: no rows are rebuilt until it is released.
    wxMouseEvent down(wxEVT_LEFT_DOWN);
    panel->tipDeviceButtonOnLeftDown(down);
    runEventLoopFor(100ms);
    const int held = draws();
    runEventLoopFor(300ms);
    EXPECT_EQ(draws(), held);
    wxMouseEvent up(wxEVT_LEFT_UP);
    panel->tipDeviceButtonOnLeftUp(up);
    EXPECT_TRUE(drawsAgain());

    // A refusing module is logged and the cycle waits for it.
    lines().setReply("", "ERR busy");
    const int refused = loggedCount("is not read");
    ASSERT_TRUE(runEventLoopUntil([&] { return loggedCount("is not read") > refused + 1; }, 3s));
    lines().setReply("", "");
    EXPECT_TRUE(drawsAgain());

    // Refreshes asked for meanwhile leave one job pending: the module is
    // asked at the cycle's pace.
    for (int n = 0; n < 5; ++n) panel->refreshTipDevices();
    panel->settle();
    device().clearReceived();
    runEventLoopFor(600ms);
    EXPECT_LE(count(requests(device()), "lsensor"), 15);

    // Leaving the page ends the cycle, also after going back and forth.
    for (int n = 0; n < 3; ++n) {
        panel->select(L"Общие");
        panel->select(L"Линия");
    }
    panel->select(L"Общие");
    EXPECT_EQ(panel->m_requestJob.load(), 0u);
    runEventLoopFor(150ms);  // a job that was running hands over, and is dropped
    device().clearReceived();
    const int last = draws();
    runEventLoopFor(400ms);
    EXPECT_TRUE(requests(device()).empty());
    EXPECT_EQ(draws(), last);
}
