// ctest-labels: net
// The audio-memory page's reading with its overwrite question, the write of
// the memory behind the progress dialog, and the firmware upgrade from a
// chosen file, against simulated devices: what the operator is asked and
// shown, what the devices receive, and whether the panel closes.
#include <fstream>

#include "base/files.h"
#include "device/firmware/firmware_image.h"
#include "device/version.h"
#include "gui/memory_page_rules.h"
#include "tests/gui/property_panel_site.h"

using namespace panel_site;
using ui_testing::ScriptedUi;

namespace {

const std::wstring kMessage = L"Сообщение";
const std::wstring kMemoryWrite = L"Прошивка аудио данных...";
const std::wstring kChooser = L"Открыть файл прошивки";
const std::wstring kUpgrade = L"Обновление прошивки, подождите...";

class PropertyMemory : public PanelSite {
protected:
    PropertyMemory() : PanelSite(63) {}

    /// Watches the progress dialog until it ends by itself, expecting `code`
    /// (ShowModal's result), and keeps the text of its lines.
    std::function<void(wxDialog&)> watch(int code) {
        return [this, code](wxDialog& dialog) {
            ASSERT_TRUE(
                wx_testing::runEventLoopUntil([&dialog] { return dialog.GetReturnCode() != 0; }, 20s));
            EXPECT_EQ(dialog.GetReturnCode(), code);
            lines.clear();
            // The label wraps: its line breaks read as blanks.
            for (wxStaticText* line : dialog_testing::all<wxStaticText>(&dialog)) {
                wxString text = line->GetLabel();
                text.Replace(L"\n", L" ");
                lines.push_back(text);
            }
        };
    }
    /// A firmware file of one image, in the test's folder.
    std::wstring firmwareFile(std::uint64_t typeCode, const std::string& version) {
        const std::string path = files.path() + "/" + version + ".bin";
        std::ofstream(path, std::ios::binary)
            << device::FirmwareImage::encode(typeCode, version, memory_test::bytesOf(5000, 3));
        return base::fromUtf8(path);
    }
    std::vector<std::wstring> notices(const std::wstring& level) { return observedAt(level); }

    std::vector<wxString> lines;
};

}  // namespace

TEST_F(PropertyMemory, AnUnreadableLoudspeakerMemoryIsReplacedOnlyWhenTheOperatorAgrees) {
    memory18->plant(memory_test::bytesOf(300, 7));
    Panel* panel = open(kIndex18);
    {
        ScriptedUi answers;
        answers.expect(kMessage, wxID_CANCEL);
        panel->select(L"Аудио память");
        ASSERT_EQ(answers.shown().size(), 1u);
        EXPECT_EQ(answers.shown()[0].text, L"Разрешить перезапись аудио памяти?");
    }
    EXPECT_FALSE(panel->panelAudioMemory->IsEnabled());
    EXPECT_FALSE(panel->editing());

    panel->select(L"Общие");
    {
        ScriptedUi answers;
        answers.expect(kMessage, wxID_OK);
        panel->select(L"Аудио память");
    }
    EXPECT_TRUE(panel->panelAudioMemory->IsEnabled());
    ASSERT_TRUE(panel->m_audioControl);
    EXPECT_TRUE(panel->m_audioControl->getFragments().empty());
    // The scenario list, loaded last, shows it grouped in threes.
    EXPECT_EQ(panel->textFreeMemory->GetValue(),
              frm::memory_page::groupedDigits(panel->m_audioControl->getSizeOfFreeMemory()));
    EXPECT_TRUE(panel->editing()) << "the empty memory waits to be written";
    {
        ScriptedUi answers;
        answers.expectDialog(kMemoryWrite, wxID_OK, watch(wxID_OK));
        panel->press(L"&Применить");
    }
    EXPECT_EQ(memory18->count("commit"), 1u);
    EXPECT_FALSE(panel->editing());
}

TEST_F(PropertyMemory, NoQuestionWhereOverwritingCannotHelp) {
    ScriptedUi answers;  // nothing may be asked
    consoleMemory->plant(memory_test::bytesOf(300, 7));
    Panel* panel = open(kConsole);
    panel->select(L"Аудио память");
    EXPECT_FALSE(panel->panelAudioMemory->IsEnabled()) << "a console's memory is never replaced";

    memory21->setLoss(100);  // the memory no longer answers
    panel->imbueDevice(device(kIndex21));
    panel->update();
    EXPECT_FALSE(panel->panelAudioMemory->IsEnabled());
    EXPECT_TRUE(answers.shown().empty());
}

TEST_F(PropertyMemory, TheWriteEndsWithTheDialogsResult) {
    Panel* panel = open(kIndex21);
    panel->select(L"Аудио память");
    ASSERT_TRUE(panel->m_audioControl);
    {
        ScriptedUi answers;  // nothing to write: nothing shown, nothing sent
        panel->press(L"&Применить");
    }
    EXPECT_EQ(memory21->count("write"), 0u);
    EXPECT_EQ(observedAt(L"NOTICE").back(), L"Выполнение операции завершено");

    panel->m_audioControl->addFragment(L"Объявление", memory_test::bytesOf(3000, 9));
    {
        ScriptedUi answers;
        answers.expectDialog(kMemoryWrite, wxID_OK, watch(wxID_OK));
        panel->press(L"&Применить");
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], device(kIndex21)->getTitle() + L" [успешно]");
    EXPECT_EQ(memory21->count("commit"), 1u);
    EXPECT_EQ(panel->m_audioControl->getFragments().size(), 4u);
    EXPECT_FALSE(panel->editing());

    panel->m_audioControl->removeFragment(10);
    memory21->refuse("write");
    const std::size_t completed = observedAt(L"NOTICE").size();
    {
        ScriptedUi answers;
        answers.expectDialog(kMemoryWrite, wxID_CANCEL, watch(wxID_CANCEL));
        panel->press(L"&Применить");
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].Find(L"[ошибка обмена]"), wxNOT_FOUND);
    EXPECT_EQ(observedAt(L"ERROR").back(), L"Произошла ошибка при обновлении аудио данных");
    EXPECT_EQ(observedAt(L"NOTICE").size(), completed) << "no completion";
    EXPECT_EQ(memory21->count("commit"), 1u);
}

TEST_F(PropertyMemory, AFirmwareOfTheModelIsSentAndThePanelCloses) {
    Panel* panel = open(kIndex21);
    {
        ScriptedUi answers;
        answers.expect(kChooser, wxID_CANCEL);  // nothing chosen: nothing happens
        answers.expect(kChooser, wxID_OK, firmwareFile(device::kTypeOrvel610, "Orvel-610 1.0.113.0"));
        answers.expectDialog(kUpgrade, wxID_OK, watch(wxID_OK));
        panel->press(L"&Обновить прошивку");
        EXPECT_EQ(closed, 0);
        panel->press(L"&Обновить прошивку");
    }
    EXPECT_EQ(lines.at(0), device(kIndex21)->getTitle() + L" [успешно]");
    ASSERT_EQ(firmware->accepted().size(), 1u);
    EXPECT_EQ(firmware->accepted()[0].typeCode, device::kTypeOrvel610);
    EXPECT_EQ(observedAt(L"NOTICE").back(),
              L"Прошивка успешно отправлена на прибор, ожидайте окончание процесса обновления.");
    EXPECT_EQ(closed, 1);
}

TEST_F(PropertyMemory, RefusedFirmwareIsExplainedAndInDebugModeForcedOnRequest) {
    // A charged battery is needed for the power module's image.
    devices[kIndex21]->withModel<device::sim::OrvelModel>([](device::sim::OrvelModel& model) {
        model.fields[1] = 0;
        return 0;
    });
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return !speaker(kIndex21)->getState().batteryOk; }));
    const std::wstring power = firmwareFile(device::kTypeOrvel610Pss, "Orvel-610-PSS 1.0.2.0");
    const std::wstring other = firmwareFile(device::kTypeOrvel510, "Orvel-510 2.1.73.0");
    Panel* panel = open(kIndex21);
    {
        ScriptedUi answers;
        answers.expect(kChooser, wxID_OK, power).expect(kChooser, wxID_OK, other);
        panel->press(L"&Обновить прошивку");
        panel->press(L"&Обновить прошивку");
    }
    EXPECT_EQ(observedAt(L"ERROR"),
              (std::vector<std::wstring>{L"wrongPower\nCheck 220V and batteries!",
                                         L"incorrectFirmware\nПрошивка не подходит для устройства"}));
    EXPECT_TRUE(firmware->accepted().empty());

    Panel* debug = open(kIndex21, true);
    {
        ScriptedUi answers;
        answers.expect(kChooser, wxID_OK, power).expect(L"Внимание!", wxID_YES);
        answers.expectDialog(kUpgrade, wxID_OK, watch(wxID_OK));
        debug->press(L"&Обновить прошивку");
        EXPECT_EQ(answers.shown()[1].text, L"Подключите 220 и зарядите батарею! Обновить принудительно?");
    }
    ASSERT_EQ(firmware->accepted().size(), 1u);
    EXPECT_EQ(firmware->accepted()[0].typeCode, device::kTypeOrvel610Pss);
    EXPECT_EQ(closed, 1);
}

TEST_F(PropertyMemory, AnUpgradeThatDoesNotStartEndsWithoutAMessage) {
    const std::wstring file = firmwareFile(device::kTypeOrvel610, "Orvel-610 1.0.113.0");
    // An upgrade of the device runs already, slowed down by its answers.
    devices[kIndex21]->setReplyPolicy({0, false, 150ms});
    std::atomic<int> last{0};
    ASSERT_TRUE(device(kIndex21)->upgradeFirmware(
        base::readFile(file), [&last](boost::shared_ptr<device::DeviceBase>, int p) { last = p; }, false));
    Panel* panel = open(kIndex21);
    const std::size_t errors = observedAt(L"ERROR").size();
    {
        ScriptedUi answers;
        answers.expect(kChooser, wxID_OK, file);
        panel->press(L"&Обновить прошивку");
    }
    EXPECT_EQ(observedAt(L"ERROR").size(), errors);
    EXPECT_EQ(closed, 0);
    devices[kIndex21]->setReplyPolicy({});
    EXPECT_TRUE(wx_testing::runEventLoopUntil([&last] { return last == 100; }, 20s));
}
