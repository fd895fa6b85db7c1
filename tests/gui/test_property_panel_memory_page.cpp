// ctest-labels: net
// The audio-memory page of the property panel against simulated memories of
// a loudspeaker and a console: the lists and the free memory, a fragment
// added from a LAME-made MP3 through the fragment dialog, saved and deleted,
// scenarios added through the scenario dialog and deleted, one without a
// gong, play and stop on the device, clear and revert with the edit buttons,
// and memory images saved from one device and loaded into another.
#include <gtest/gtest.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include <cmath>

#include "base/exception.h"
#include "base/files.h"
#include "gui/memory_page_rules.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/memory_page_site.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tools/simulator/model.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_config_model.h"
#include "tools/stream_probe.h"

using memory_site::Panel;
using Rows = std::vector<std::vector<std::wstring>>;

namespace {

enum Device : unsigned { kSpeaker = 1, kOtherSpeaker, kConsole };
constexpr std::uint32_t kCapacity = 2 * 1024 * 1024;
const std::wstring kOnDevice = L"Расположен в памяти устройства";

class MemoryPage : public memory_site::Site {
protected:
    void SetUp() override {
        start("127.31.");
        const auto speaker = [this](Device n) -> device::sim::SimulatedDevice& { return addSpeaker(n, 18); };
        store = addMemory(speaker(kSpeaker), device::memory::kLayout611, kCapacity,
                          memory_test::plantedImage(device::memory::kLayout611, 3, 2000));
        otherStore = addMemory(speaker(kOtherSpeaker), device::memory::kLayout611, kCapacity,
                               memory_test::plantedImage(device::memory::kLayout611, 1, 500));
        consoleStore = addMemory(add(kConsole, std::make_unique<device::sim::TovikConfigModel>(
                                                   device::sim::Simulator::hardwareAddress(kConsole))),
                                 device::memory::kLayout611, kCapacity,
                                 memory_test::plantedImage(device::memory::kLayout611, 2, 700));
        runDevices();
        panel = makePanel();
    }

    /// An MP3 file of a second of two tones, made by LAME's encoder.
    std::wstring makeMp3(const std::string& name) {
        const std::string path = files.path() + "/" + name;
        EXPECT_TRUE(
            stream_probe::write_mp3(path, stream_probe::stepped_tone({440, 880}, 500, 22050, 1), 22050, 1));
        return base::fromUtf8(path);
    }
    /// Fills the fragment dialog and presses "Сохранить" in it.
    static std::function<void(wxDialog&)> fillFragment(const std::wstring& name, const std::wstring& path) {
        return [name, path](wxDialog& dialog) {
            const auto fields = dialog_testing::all<wxTextCtrl>(&dialog);
            ASSERT_EQ(fields.size(), 2u);
            fields[0]->SetValue(name);
            fields[1]->SetValue(path);
            dialog_testing::press(&dialog, L"&Сохранить");
        };
    }
    std::wstring freeMemory() const { return panel->textFreeMemory->GetValue().ToStdWstring(); }

    std::shared_ptr<device::sim::AudioMemoryStore> store, otherStore, consoleStore;
    Panel* panel = nullptr;
};

}  // namespace

TEST_F(MemoryPage, TheListsShowTheMemoryAndTheFileColumnOnlyWhenTheFilesMatch) {
    panel->showMemory(device(kSpeaker));
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment), (Rows{{L"1", L"Фрагмент 1", L"2000", kOnDevice},
                                                               {L"2", L"Фрагмент 2", L"2001", kOnDevice},
                                                               {L"3", L"Фрагмент 3", L"2002", kOnDevice}}));
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioScenario),
              (Rows{{L"1", L"Эвакуация", L"Фрагмент 1", L"Фрагмент 3", L"30"}}));
    const std::uint32_t free = panel->m_audioControl->getSizeOfFreeMemory();
    ASSERT_GT(free, 1000000u);
    EXPECT_EQ(freeMemory(), frm::memory_page::groupedDigits(free));
    const std::wstring shown = freeMemory();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), L' '), 2) << shown;
    EXPECT_FALSE(panel->editPending());

    // A list of files that does not match the fragments: no column at all.
    panel->m_fragmentTexts.resize(2);
    panel->loadListCtrlAudioFragment();
    for (const auto& row : Panel::rows(panel->listCtrlAudioFragment)) EXPECT_EQ(row[3], L"");
    EXPECT_EQ(freeMemory(), std::to_wstring(free)) << "the fragment list alone shows it ungrouped";

    // The console's memory, and the next device's rows replace the last's.
    panel->showMemory(device(kConsole));
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment),
              (Rows{{L"1", L"Фрагмент 1", L"700", kOnDevice}, {L"2", L"Фрагмент 2", L"701", kOnDevice}}));
    EXPECT_EQ(wx_testing::writeShot(frame, "property_page_audio_memory_console").empty(), false);
}

TEST_F(MemoryPage, AScenarioWithoutAGongShowsAnEmptyCellAndThePageFills) {
    panel->showMemory(device(kSpeaker));
    panel->m_audioControl->addScenario(device::memory::IAudioControl::kNone, 11, 15, L"Без гонга");
    EXPECT_THROW(panel->m_audioControl->getFragmentAt(device::memory::IAudioControl::kNone),
                 exception::InternalError)
        << "the reference of no gong names no fragment";
    ASSERT_NO_THROW(panel->loadListCtrlAudioScenario());
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioScenario),
              (Rows{{L"1", L"Эвакуация", L"Фрагмент 1", L"Фрагмент 3", L"30"},
                    {L"2", L"Без гонга", L"", L"Фрагмент 2", L"15"}}));
    EXPECT_FALSE(wx_testing::writeShot(frame, "property_page_audio_memory").empty());
}

TEST_F(MemoryPage, AFragmentFromAnMp3IsAddedSavedAndDeleted) {
    panel->showMemory(device(kSpeaker));
    const std::wstring mp3 = makeMp3("Сирена.mp3");
    const std::string bytes = base::readFile(mp3);
    ASSERT_GT(bytes.size(), 1000u);
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expectDialog(L"Добавить фрагмент", wxID_OK, fillFragment(L"Сирена", mp3));
        panel->run(&Panel::menuFragmentAddOnSelection);
    }
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment).back(),
              (std::vector<std::wstring>{L"4", L"Сирена", std::to_wstring(bytes.size()), mp3}));
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment)[0][3], kOnDevice);
    EXPECT_EQ(freeMemory(), std::to_wstring(panel->m_audioControl->getSizeOfFreeMemory()))
        << "reloading the fragments alone shows the free memory ungrouped";
    EXPECT_TRUE(panel->editPending());
    EXPECT_TRUE(panel->m_audioControl->hasChanges());
    EXPECT_EQ(panel->selectedFragment(), device::memory::IAudioControl::kNone);

    // Saved: the new fragment's bytes as added, one on the device as read.
    const std::wstring saved = files.widePath() + L"/сохранён.mp3";
    for (const long row : {3L, 0L}) {
        Panel::selectRow(panel->listCtrlAudioFragment, row);
        ASSERT_EQ(panel->selectedFragment(), panel->listCtrlAudioFragment->GetItemData(row));
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expect(L"Сохранить фрагмент", wxID_OK, saved);
        panel->run(&Panel::menuFragmentSaveOnSelection);
        EXPECT_EQ(base::readFile(saved), row == 3 ? bytes : memory_test::bytesOf(2000, 100)) << row;
    }

    // Deleted: the rows close up, the files keep their rows, and the
    // scenario that played the gong goes with it.
    Panel::selectRow(panel->listCtrlAudioFragment, 0);
    panel->run(&Panel::menuFragmentDeleteOnSelection);
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment),
              (Rows{{L"1", L"Фрагмент 2", L"2001", kOnDevice},
                    {L"2", L"Фрагмент 3", L"2002", kOnDevice},
                    {L"3", L"Сирена", std::to_wstring(bytes.size()), mp3}}));
    EXPECT_TRUE(Panel::rows(panel->listCtrlAudioScenario).empty());
    EXPECT_EQ(panel->m_fragmentTexts, (std::vector<std::wstring>{L"", L"", mp3}));
    EXPECT_EQ(freeMemory(), frm::memory_page::groupedDigits(panel->m_audioControl->getSizeOfFreeMemory()));

    // Without a selection the save and the delete do nothing.
    panel->run(&Panel::menuFragmentDeleteOnSelection);
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 3);
}

TEST_F(MemoryPage, ARefusedFragmentOrACancelledDialogChangesNothing) {
    panel->showMemory(device(kSpeaker));
    const std::wstring mp3 = makeMp3("tone.mp3");
    Panel::selectRow(panel->listCtrlAudioFragment, 1);
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expectDialog(L"Добавить фрагмент", wxID_CANCEL);
        panel->run(&Panel::menuFragmentAddOnSelection);
    }
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 3);
    EXPECT_FALSE(panel->editPending());
    EXPECT_EQ(panel->selectedFragment(), device::memory::IAudioControl::kNone) << "in every case";

    // The dialog takes an empty name, the memory refuses it.
    ui_testing::ScriptedUi operatorSays;
    operatorSays.expectDialog(L"Добавить фрагмент", wxID_OK, fillFragment(L"", mp3));
    try {
        panel->run(&Panel::menuFragmentAddOnSelection);
        ADD_FAILURE() << "an empty name was stored";
    } catch (const exception::IncorrectFormat& e) {
        EXPECT_EQ(e.getDetails(), L"Некорректное название");
    }
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 3);
    EXPECT_EQ(panel->m_fragmentTexts.size(), 3u);
    EXPECT_FALSE(panel->editPending());
}

TEST_F(MemoryPage, ScenariosAreAddedThroughTheDialogAndDeleted) {
    panel->showMemory(device(kSpeaker));
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expectDialog(L"Добавить сообщение", wxID_OK, [](wxDialog& dialog) {
            const auto choices = dialog_testing::all<wxChoice>(&dialog);
            ASSERT_EQ(choices.size(), 2u);
            dialog_testing::choose(choices[0], 1);  // gong: "2. Фрагмент 2"
            dialog_testing::choose(choices[1], 2);  // message: "3. Фрагмент 3", which names it
            dialog_testing::press(&dialog, L"&Сохранить");
        });
        panel->run(&Panel::menuScenarioAddOnSelection);
    }
    const Rows rows = Panel::rows(panel->listCtrlAudioScenario);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][0], L"2");
    EXPECT_EQ(rows[1][1], L"Фрагмент 3");
    EXPECT_EQ(rows[1][2], L"Фрагмент 2");
    EXPECT_EQ(rows[1][3], L"Фрагмент 3");
    EXPECT_TRUE(panel->editPending());

    Panel::selectRow(panel->listCtrlAudioScenario, 0);
    ASSERT_NE(panel->selectedScenario(), device::memory::IAudioControl::kNone);
    panel->run(&Panel::menuScenarioDeleteOnSelection);
    ASSERT_EQ(Panel::rows(panel->listCtrlAudioScenario).size(), 1u);
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioScenario)[0][0], L"1") << "numbers follow the positions";
    EXPECT_EQ(panel->selectedScenario(), device::memory::IAudioControl::kNone);

    // A cancelled dialog adds nothing.
    panel->run(&Panel::revertChanges);
    ui_testing::ScriptedUi operatorSays;
    operatorSays.expectDialog(L"Добавить сообщение", wxID_CANCEL);
    panel->run(&Panel::menuScenarioAddOnSelection);
    EXPECT_EQ(panel->listCtrlAudioScenario->GetItemCount(), 1);
    EXPECT_FALSE(panel->editPending());
}

TEST_F(MemoryPage, PlayAndStopActOnTheDeviceAtOnce) {
    panel->showMemory(device(kSpeaker));
    panel->run(&Panel::menuFragmentPlayOnSelection);
    EXPECT_EQ(store->state(), "idle") << "nothing selected, nothing played";
    Panel::selectRow(panel->listCtrlAudioFragment, 1);
    panel->run(&Panel::menuFragmentPlayOnSelection);
    EXPECT_EQ(store->state(), "fragment 11");
    panel->run(&Panel::menuAudioStopOnSelection);
    EXPECT_EQ(store->state(), "idle");
    Panel::selectRow(panel->listCtrlAudioScenario, 0);
    panel->run(&Panel::menuScenarioPlayOnSelection);
    EXPECT_EQ(store->state(), "scenario 5");
    panel->run(&Panel::menuAudioStopOnSelection);
    EXPECT_EQ(store->state(), "idle");
    EXPECT_FALSE(panel->editPending()) << "playing is no edit";
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 3);
}

TEST_F(MemoryPage, ClearAndRevertAndTheEditButtons) {
    panel->showMemory(device(kSpeaker));
    panel->m_fragmentTexts[2] = L"/tmp/был.mp3";
    panel->run(&Panel::clearMemory);
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 0);
    EXPECT_EQ(panel->listCtrlAudioScenario->GetItemCount(), 0);
    EXPECT_TRUE(panel->m_fragmentTexts.empty());
    EXPECT_TRUE(panel->editPending());
    EXPECT_EQ(store->count("write"), 0u) << "nothing reaches the device before Apply";

    panel->run(&Panel::revertChanges);
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment).size(), 3u);
    for (const auto& row : Panel::rows(panel->listCtrlAudioFragment)) EXPECT_EQ(row[3], kOnDevice);
    EXPECT_EQ(panel->listCtrlAudioScenario->GetItemCount(), 1);
    EXPECT_FALSE(panel->editPending());
    EXPECT_FALSE(panel->m_audioControl->hasChanges());

    // Nothing pending: the buttons go off all the same.
    panel->buttonApply->Enable();
    panel->buttonCancel->Enable();
    panel->run(&Panel::revertChanges);
    EXPECT_FALSE(panel->editPending());

    // Without the device's audio control every operation is an internal error.
    panel->m_audioControl.reset();
    EXPECT_THROW(panel->run(&Panel::clearMemory), exception::InternalError);
    EXPECT_TRUE(logged("Место 'frm::PropertyDevicePanel::clearMemory'"));
}

TEST_F(MemoryPage, AnImageSavedFromOneDeviceLoadsIntoAnotherByteForByte) {
    panel->showMemory(device(kSpeaker));
    const std::wstring image = files.widePath() + L"/образ.a-bin";
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expect(L"Сохранить образ аудио памяти", wxID_OK, image);
        panel->run(&Panel::saveImageMemory);
    }
    const std::string saved = base::readFile(image);
    EXPECT_EQ(saved, panel->m_audioControl->getImage());

    panel->showMemory(device(kOtherSpeaker));
    ASSERT_NE(panel->m_audioControl->getImage(), saved);
    panel->m_fragmentTexts.assign(1, L"/tmp/старый.mp3");
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expect(L"Открыть образ аудио памяти", wxID_OK, image);
        panel->run(&Panel::loadImageMemory);
    }
    EXPECT_EQ(panel->m_audioControl->getImage(), saved);
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioFragment).size(), 3u);
    for (const auto& row : Panel::rows(panel->listCtrlAudioFragment)) EXPECT_EQ(row[3], kOnDevice);
    EXPECT_EQ(Panel::rows(panel->listCtrlAudioScenario)[0][1], L"Эвакуация");
    EXPECT_TRUE(panel->editPending());
    EXPECT_EQ(otherStore->count("write"), 0u) << "written only by Apply";
}

TEST_F(MemoryPage, ShortUnknownAndEmptyImagesAreRefusedWithTheirTexts) {
    panel->showMemory(device(kSpeaker));
    const auto load = [this](const std::string& bytes) -> std::wstring {
        const std::wstring path = files.widePath() + L"/плохой.a-bin";
        base::writeFile(path, bytes);
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expect(L"Открыть образ аудио памяти", wxID_OK, path);
        try {
            panel->run(&Panel::loadImageMemory);
        } catch (const exception::Base& e) {
            return e.getNotification();
        }
        return L"accepted";
    };
    EXPECT_EQ(load(std::string(10, '\x01')), L"Некорректный размер образа");
    EXPECT_EQ(load(memory_test::bytesOf(4096, 7)), L"unknownVersion");
    EXPECT_EQ(panel->listCtrlAudioFragment->GetItemCount(), 3) << "the lists keep what they showed";
    EXPECT_FALSE(panel->editPending());

    // An empty memory has no image; no file is written.
    panel->run(&Panel::clearMemory);
    const std::wstring image = files.widePath() + L"/пустой.a-bin";
    ui_testing::ScriptedUi operatorSays;
    operatorSays.expect(L"Сохранить образ аудио памяти", wxID_OK, image);
    observedAt(L"NOTICE", true);
    panel->run(&Panel::saveImageMemory);
    EXPECT_EQ(observedAt(L"NOTICE"), std::vector<std::wstring>{L"Сообщение: 'Образ памяти пуст'"})
        << "an empty memory was saved";
    std::string none;
    EXPECT_NE(base::tryReadFile(image, none), 0);
}

TEST_F(MemoryPage, AnAddedFragmentReachesTheDeviceByApplyBehindTheProgressDialog) {
    panel->setCallbacks([] {}, [] {});
    panel->showMemory(device(kSpeaker));
    const std::wstring mp3 = makeMp3("Гонг.mp3");
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expectDialog(L"Добавить фрагмент", wxID_OK, fillFragment(L"Гонг", mp3));
        panel->run(&Panel::menuFragmentAddOnSelection);
    }
    ASSERT_TRUE(panel->editPending());
    ASSERT_EQ(store->count("commit"), 0u);
    {
        ui_testing::ScriptedUi operatorSays;
        operatorSays.expectDialog(L"Прошивка аудио данных...", wxID_OK, [](wxDialog& progress) {
            ASSERT_TRUE(wx_testing::runEventLoopUntil([&progress] { return progress.GetReturnCode() != 0; },
                                                      std::chrono::seconds(20)));
            EXPECT_EQ(progress.GetReturnCode(), wxID_OK);
        });
        dialog_testing::press(panel, L"&Применить");
        panel->settle();
    }
    EXPECT_EQ(store->count("commit"), 1u);
    EXPECT_FALSE(panel->editPending());
    for (const auto& row : Panel::rows(panel->listCtrlAudioFragment)) EXPECT_EQ(row[3], kOnDevice);

    // What the device holds now, read afresh.
    device::o611::memory::AudioMemory flash(boost::make_shared<memory_test::LocalWire>(store), {}, false);
    const auto fragments = flash.getFragments();
    ASSERT_EQ(fragments.size(), 4u);
    EXPECT_EQ(fragments.back().title, L"Гонг");
    EXPECT_EQ(flash.getFragmentFile(fragments.back().id), base::readFile(mp3));
}
