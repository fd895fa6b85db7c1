// What the line-control page shows of a module, without a window: the rows'
// colours and debug texts (with the 0/0 guard), the button rules for each
// module state and power-save mode, and the gate that blocks refreshes.
#include <gtest/gtest.h>

#include <thread>

#include "gui/line_control_model.h"
#include "gui/page_jobs.h"

using namespace frm::line_control;
using Module = device::tip_device::LineControl;

namespace {

TipDevice tip(std::uint8_t address, unsigned flags, std::uint32_t first, std::uint32_t second) {
    TipDevice made;
    made.valid = true;
    made.address = address;
    made.added = (flags & 1) != 0;
    made.active = (flags & 2) != 0;
    made.addedAndActive = made.added && made.active;
    made.thirdFlag = (flags & 4) != 0;
    made.firstValue = first;
    made.secondValue = second;
    made.code = "C1";
    made.title = L"Оконечное устройство " + std::to_wstring(address);
    return made;
}

}  // namespace

TEST(LineControlModel, RowsShowServiceStateRateAndDiagnostics) {
    const TipRow inService = tipRow(tip(11, 7, 26, 43), false);
    EXPECT_EQ(inService.number, L" 11 ");
    EXPECT_EQ(inService.tone, TipTone::kInService);
    EXPECT_EQ(inService.rate, L" 60%");
    EXPECT_EQ(inService.diagnostics, L"[id=11;1:1:1;00026/00043;C1]");
    EXPECT_TRUE(inService.diagnosticsGood);
    EXPECT_EQ(inService.button, L"Удалить");
    EXPECT_TRUE(inService.buttonEnabled);

    const TipRow added = tipRow(tip(12, 1, 0, 0), true);
    EXPECT_EQ(added.tone, TipTone::kAdded);
    EXPECT_EQ(added.rate, L"  0%") << "no division by a zero counter";
    EXPECT_FALSE(added.diagnosticsGood);
    EXPECT_FALSE(added.buttonEnabled) << "power saving";

    const TipRow other = tipRow(tip(30, 2, 0xFFFFFFFF, 0xFFFFFFFF), false);
    EXPECT_EQ(other.tone, TipTone::kOther);
    EXPECT_EQ(other.rate, L"100%") << "the counters' product does not overflow";
    EXPECT_EQ(other.button, L"Добавить");
    EXPECT_EQ(other.name, L"Оконечное устройство 30");

    device::Version version;
    version.major = 1;
    version.minor = 2;
    version.build = 7;
    EXPECT_EQ(versionText(version, "02:56:53:10:00:01"),
              L"Версия контроля линии: 1.2.7; Адрес: 02:56:53:10:00:01; ");
    EXPECT_EQ(progressText(35), L"Инициализация: 35%");
}

TEST(LineControlModel, ButtonRulesForEachStateAndPowerSaveMode) {
    const struct {
        std::uint32_t state, mode;
        bool powerSave, addAll, reboot;
    } cases[] = {
        {Module::kActive, Module::kPowerSaveOff, true, true, true},
        {Module::kActive, Module::kPowerSaveOn, true, false, true},
        {Module::kActive, Module::kPowerSaveUnknown, false, true, true},
        {Module::kNotReady, Module::kPowerSaveOff, false, false, false},
        {Module::kPause, Module::kPowerSaveOn, false, false, false},
        {Module::kUnknown, Module::kPowerSaveUnknown, false, false, false},
    };
    for (const auto& c : cases) {
        const Buttons rules = buttons(c.state, c.mode, device::kTypeOrvel610, true);
        EXPECT_EQ(rules.powerSave, c.powerSave) << c.state << "/" << c.mode;
        EXPECT_EQ(rules.addAll, c.addAll) << c.state << "/" << c.mode;
        EXPECT_EQ(rules.resetPref, c.addAll) << c.state << "/" << c.mode;
        EXPECT_EQ(rules.reboot, c.reboot) << c.state << "/" << c.mode;
    }
    EXPECT_TRUE(buttons(Module::kActive, 0, device::kTypeOrvel610, true).rebootShown);
    EXPECT_FALSE(buttons(Module::kActive, 0, device::kTypeOrvel610, false).rebootShown) << "debug mode only";
    EXPECT_FALSE(buttons(Module::kActive, 0, 0x300001, true).rebootShown) << "an Orvel-510";
}

TEST(LineControlModel, GateBlocksWhileReadingOrHeldAndOrdersReads) {
    frm::page_jobs::RefreshGate gate;
    ASSERT_TRUE(gate.tryEnter());
    EXPECT_FALSE(gate.tryEnter()) << "one read at a time";
    EXPECT_TRUE(gate.blocked());
    gate.leave();
    gate.hold(true);
    EXPECT_FALSE(gate.tryEnter()) << "a held row button";
    gate.hold(false);
    EXPECT_FALSE(gate.blocked());

    const std::uint64_t older = gate.startRead();
    const std::uint64_t newer = gate.startRead();
    gate.drawn(newer);
    EXPECT_TRUE(gate.isStale(older));
    EXPECT_FALSE(gate.isStale(newer));

    // Many threads racing for the gate: never two inside at once.
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int n = 0; n < 2000; ++n) {
                if (!gate.tryEnter()) continue;
                if (++inside > 1) overlap = true;
                --inside;
                gate.leave();
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_FALSE(overlap.load());
}
