// ctest-labels: net
// Apply whole or told, against simulated devices whose second key fails: an
// error reply, a console that falls silent, a request lost twice. The
// settings written before the failure stay on the device, the new name is
// not kept, the notice names what reached the device and what did not, and
// the edit stays pending; Apply once the device answers again writes the
// rest and keeps the name. An Orvel-510 whose "get eq" is refused.
#include <gmock/gmock.h>

#include "tests/gui/property_panel_site.h"
#include "tools/simulator/fault_switches.h"

using namespace panel_site;

namespace {

enum class Fault { kErrorReply, kSilence, kLostTwice };

void PrintTo(Fault fault, std::ostream* out) {
    *out << (fault == Fault::kErrorReply ? "ErrorReply" : fault == Fault::kSilence ? "Silence" : "LostTwice");
}

class ApplyFailures : public PanelSite {
protected:
    ApplyFailures() : PanelSite(66) {}

    /// Requests to `n` that start with `prefix` fail as `fault` says.
    void failOn(Device n, Fault fault, const std::string& prefix) {
        device::sim::FaultSettings settings;
        if (fault == Fault::kErrorReply) {
            settings.errorOn = {prefix};
        } else if (fault == Fault::kSilence) {
            settings.silent.length = 60s;  // from that request on, past the test's end
            settings.silent.onPrefix = prefix;
        } else {
            settings.loseRequests = 1;
            settings.loseOn = {prefix};
        }
        devices[n]->setFaults(std::make_shared<device::sim::FaultSwitches>(settings));
    }
    /// `n` answers again, and the program knows it (a request of its own
    /// succeeds).
    void recover(Device n) {
        devices[n]->setFaults(nullptr);
        ASSERT_TRUE(
            testing_support::waitUntil([&] { return device(n)->request("get vol", nullptr, false); }));
    }
    std::string held(Device n, const std::string& name) {
        return devices[n]->withModel<device::sim::TovikConfigModel>(
            [&](device::sim::TovikConfigModel& m) { return m.values[name]; });
    }
    /// The one notice Apply gave.
    std::wstring told() {
        const std::vector<std::wstring> notices = observedAt(L"NOTICE", true);
        EXPECT_EQ(notices.size(), 1u);
        return notices.empty() ? std::wstring() : notices.front();
    }
};

class ConsoleApplyFailure : public ApplyFailures, public testing::WithParamInterface<Fault> {};

/// A line of the text.
testing::Matcher<std::wstring> hasLine(const std::wstring& line) {
    return testing::AnyOf(testing::HasSubstr(L"\n" + line + L"\n"), testing::EndsWith(L"\n" + line));
}

}  // namespace

TEST_P(ConsoleApplyFailure, KeepsTheNameUnsavedAndTellsWhichKeysReachedTheConsole) {
    Panel* panel = open(kConsole);
    const std::wstring title = device(kConsole)->getTitle();
    ASSERT_EQ(held(kConsole, "beeper"), "on");
    ASSERT_EQ(held(kConsole, "ledScBlink"), "off");
    panel->textName->ChangeValue(L"Пульт охраны");
    panel->tick(panel->checkBoxKeySound, false);
    panel->tick(panel->checkBoxZoneIndication, true);
    failOn(kConsole, GetParam(), "set ledScBlink");
    observedAt(L"NOTICE", true);
    panel->apply();

    EXPECT_EQ(held(kConsole, "beeper"), "off") << "the first key reached the console";
    EXPECT_EQ(held(kConsole, "ledScBlink"), "off");
    EXPECT_EQ(device(kConsole)->getTitle(), title) << "the name waits for the settings";
    EXPECT_EQ(panel->staticDeviceName->GetLabel(), title);
    EXPECT_EQ(applied, 0);
    const std::wstring text = told();
    SCOPED_TRACE(wxString(text).utf8_string());
    EXPECT_THAT(text, hasLine(L"Записано в устройство: Звуковое сопровождение при нажатии на клавиши и при "
                              L"использовании ключей."));
    EXPECT_THAT(text, hasLine(GetParam() == Fault::kErrorReply
                                  ? L"Не записано: Индикация зон с сообщениями."
                                  : L"Без ответа устройства (неизвестно, записано ли): Индикация зон с "
                                    L"сообщениями."));
    EXPECT_THAT(text, hasLine(L"Новое название устройства не сохранено."));
    EXPECT_THAT(text, testing::StartsWith(GetParam() == Fault::kErrorReply ? L"Сообщение: "
                                                                           : L"Устройство не в сети."))
        << "the failure's own words lead";
    EXPECT_TRUE(panel->editing()) << "the edit stays to be tried again";

    // Answering again: Apply writes what is left, and the name with it.
    ASSERT_NO_FATAL_FAILURE(recover(kConsole));
    sets(kConsole);
    panel->apply();
    EXPECT_EQ(sets(kConsole), Requests{"set ledScBlink on"});
    EXPECT_EQ(told(), L"Выполнение операции завершено");
    EXPECT_EQ(device(kConsole)->getTitle(), L"Пульт охраны");
    EXPECT_EQ(panel->staticDeviceName->GetLabel(), L"Пульт охраны");
    EXPECT_EQ(applied, 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ConsoleApplyFailure,
                         testing::Values(Fault::kErrorReply, Fault::kSilence, Fault::kLostTwice));

TEST_F(ApplyFailures, ALoudspeakersNetworkPageNamesItsSettingsAsThePageLabelsThem) {
    Panel* panel = open(kIndex21);
    panel->select(L"Сеть");
    panel->textMask->ChangeValue(L"255.255.0.0");
    panel->textMulticastIp->ChangeValue(L"224.0.224.9");
    panel->buttonApply->Enable();
    failOn(kIndex21, Fault::kErrorReply, "set mCastIP");
    sets(kIndex21);
    observedAt(L"NOTICE", true);
    panel->apply();
    EXPECT_EQ(sets(kIndex21), (Requests{"set mask 255.255.0.0", "set mCastIP 224.0.224.9"}));
    const std::wstring text = told();
    SCOPED_TRACE(wxString(text).utf8_string());
    EXPECT_THAT(text, hasLine(L"Записано в устройство: Маска подсети."));
    EXPECT_THAT(text, hasLine(L"Не записано: IP Мультикаст-вещания."));
    EXPECT_THAT(text, testing::Not(testing::HasSubstr(L"название"))) << "no rename was asked";
    EXPECT_EQ(closed, 0) << "no restart for a write that failed";

    // A refusal of the program's own checks before anything is written says
    // only why.
    panel->textMulticastIp->ChangeValue(L"240.0.0.1");
    panel->apply();
    EXPECT_THAT(told(), testing::Not(testing::HasSubstr(L"Записано")));
}

// "ERR ..." to the Orvel-510's "get eq" was parsed as a packed value: the
// page failed with two texts for one reply.
TEST_F(ApplyFailures, AnOrvel510sRefusedEqualizerFailsItsPageWithOneText) {
    devices[kIndex5]->withModel<device::sim::CommandModel>([](device::sim::CommandModel& m) {
        m.refuse("get eq", "ERR wrong arguments");
        return 0;
    });
    observedAt(L"NOTICE", true);
    Panel* panel = open(kIndex5);
    EXPECT_FALSE(panel->notebookPref->GetCurrentPage()->IsEnabled()) << "the page failed";
    const std::size_t texts = observedAt(L"NOTICE").size() + observedAt(L"WARN").size();
    EXPECT_EQ(texts, 1u) << "one text for one reply";
    EXPECT_EQ(loggedCount("Значение эквалайзера прибора Орвел-510 некорректно"), 0);
}
