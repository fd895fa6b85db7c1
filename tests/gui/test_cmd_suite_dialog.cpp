// The command-suite dialog and its files: a saved suite is byte-exact UTF-8
// with a line feed after every line and loads back, hand-made files load with
// or without a final line feed, only ".txt" files are listed, an existing
// name is replaced only on Yes, and names that would leave the folder are
// refused before anything is read, written or removed.
#include <wx/combobox.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <memory>

#include "base/text.h"
#include "gui/cmd_suite_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using testing_support::readFile;
using Lines = std::vector<std::wstring>;

class CmdSuiteTest : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    void put(const std::string& file, const std::string& bytes) {
        std::ofstream(folder + "/" + file) << bytes;
    }
    /// Types the name and presses the button.
    void run(const wxString& button, const std::wstring& suite) {
        name->SetValue(suite);
        dialog_testing::press(dialog.get(), button);
    }
    std::vector<wxString> listed() const {
        const wxArrayString items = name->GetStrings();
        return {items.begin(), items.end()};
    }

    const std::string folder = m_dir.path() + "/data/commands";
    Lines console;
    std::vector<Lines> applied;
    int cleared = 0, collected = 0;
    std::unique_ptr<frm::CmdSuiteDialog> dialog = std::make_unique<frm::CmdSuiteDialog>(
        nullptr, [this] { ++cleared; }, [this](Lines lines) { applied.push_back(lines); },
        [this] { return ++collected, console; }, base::fromUtf8(folder));
    wxComboBox* name = dialog_testing::all<wxComboBox>(dialog.get()).at(0);
};

}  // namespace

TEST_F(CmdSuiteTest, ASavedSuiteIsUtf8WithALineFeedAfterEachLineAndHandFilesLoadAsWritten) {
    ui_testing::ScriptedUi ui;
    console = {L"ping", L"", L"громкость 50"};
    run(L"Сохранить", L"Проверка");
    EXPECT_EQ(readFile(folder + "/Проверка.txt"),
              "ping\n\n\xd0\xb3\xd1\x80\xd0\xbe\xd0\xbc\xd0\xba\xd0\xbe\xd1\x81\xd1\x82\xd1\x8c 50\n");
    EXPECT_EQ(listed(), std::vector<wxString>{L"Проверка"});
    EXPECT_TRUE(name->GetValue().empty());
    EXPECT_FALSE(wx_testing::writeShot(dialog.get(), "cmd_suite_dialog").empty());

    put("open end.txt", "one\n\ntwo");
    put("windows.txt", "x\r\ny\r\n");
    put("notes.md", "not a suite\n");
    boost::filesystem::create_directory(folder + "/folder.txt");
    run(L"Удалить", L"nothing here");  // rebuilds the list
    EXPECT_EQ(listed(), (std::vector<wxString>{L"open end", L"windows", L"Проверка"}));
    for (const wchar_t* suite : {L"Проверка", L"open end", L"windows", L"nothing here"})
        run(L"Загрузить", suite);
    EXPECT_EQ(applied, (std::vector<Lines>{console, {L"one", L"", L"two"}, {L"x", L"y"}, {}}));
    dialog_testing::press(dialog.get(), L"Очистить");
    EXPECT_EQ(cleared, 1);

    run(L"Удалить", L"Проверка");
    EXPECT_FALSE(boost::filesystem::exists(folder + "/Проверка.txt"));
    EXPECT_EQ(listed(), (std::vector<wxString>{L"open end", L"windows"}));
}

TEST_F(CmdSuiteTest, AnExistingNameIsReplacedOnlyOnYes) {
    put("Утро.txt", "old\n");
    boost::filesystem::create_directory(folder + "/busy.txt");
    console = {L"new"};
    ui_testing::ScriptedUi ui;
    ui.expect(L"Внимание!", wxID_NO).expect(L"Внимание!", wxID_YES).expect(L"Внимание!", wxID_YES);
    run(L"Сохранить", L"Утро");
    EXPECT_EQ(readFile(folder + "/Утро.txt"), "old\n");
    run(L"Сохранить", L"Утро");
    EXPECT_EQ(readFile(folder + "/Утро.txt"), "new\n");
    EXPECT_EQ(ui.shown().at(0).text, L"Данное имя уже используется. Перезаписать?");

    // A folder in the way is not written over, and the operator learns it.
    run(L"Сохранить", L"busy");
    EXPECT_TRUE(boost::filesystem::is_directory(folder + "/busy.txt"));
    EXPECT_EQ(loggedCount("Не удалось сохранить набор команд", "ERROR"), 1);
}

TEST_F(CmdSuiteTest, NamesOutsideTheFolderAreRefusedAndNothingIsTouched) {
    put("../../victim.txt", "keep\n");
    boost::filesystem::create_directory(folder + "/../sub");
    put("../sub/x.txt", "keep\n");
    ui_testing::ScriptedUi ui;                                                     // no question may come up
    EXPECT_FALSE(frm::CommandSuiteFolder::isValidName(std::wstring(L"x\0y", 3)));  // no text field passes it
    int attempts = 0;
    for (const wchar_t* suite : {L"../../victim", L"../sub/x", L"..\\sub\\x", L"..", L"."})
        for (const wchar_t* button : {L"Сохранить", L"Загрузить", L"Удалить"}) {
            run(button, suite);
            ++attempts;
        }
    EXPECT_EQ(loggedCount("Недопустимое имя набора команд", "NOTICE"), attempts);
    EXPECT_EQ(collected, 0);
    EXPECT_TRUE(applied.empty());
    EXPECT_EQ(readFile(m_dir.path() + "/victim.txt"), "keep\n");
    EXPECT_EQ(readFile(folder + "/../sub/x.txt"), "keep\n");
    EXPECT_TRUE(boost::filesystem::is_empty(folder));
}
