// The operator dialogue: a stop request ends everything open, innermost
// first, with No or Cancel; the end-to-end tests' answers and boxes files;
// the file patterns of the chooser; the scripted operator of the GUI tests.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/timer.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/wx/log_setup.h"
#include "gui/ui.h"
#include "gui/ui_text.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/ui_script.h"
#include "tests/support/temp_dir.h"

namespace {

/// One of our modal dialogs that notes when it is ended.
class NotingDialog : public wxDialog {
public:
    NotingDialog(const wxString& title, std::vector<wxString>& ended)
        : wxDialog(nullptr, wxID_ANY, title), m_ended(ended) {}
    void EndModal(int answer) override {
        m_ended.push_back(GetTitle());
        wxDialog::EndModal(answer);
    }

private:
    std::vector<wxString>& m_ended;
};

/// Ends whatever is still open after a while, so that a fault shows as a
/// failure rather than a test that waits for ever.
class Watchdog {
public:
    Watchdog() {
        m_timer.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
            ADD_FAILURE() << "a dialog was still open";
            frm::ui::cancelAll();
        });
        m_timer.StartOnce(10000);
    }

private:
    wxTimer m_timer;
};

}  // namespace

TEST(Ui, CancelAllEndsEveryOpenDialogAndBoxInnermostFirstWithNoOrCancel) {
    Watchdog watchdog;
    std::vector<wxString> ended;
    NotingDialog outer(L"Внешний", ended);
    NotingDialog inner(L"Внутренний", ended);
    int openInside = -1, endedInside = -1, endedAgain = -1, boxAnswer = -1, innerAnswer = -1;

    wxTheApp->CallAfter([&] {          // inside the outer dialog
        wxTheApp->CallAfter([&] {      // inside the box
            wxTheApp->CallAfter([&] {  // inside the inner dialog
                openInside = frm::ui::openCount();
                endedInside = frm::ui::cancelAll();
                endedAgain = frm::ui::cancelAll();  // each is ended once
            });
            innerAnswer = frm::ui::showModal(inner);
        });
        boxAnswer = frm::ui::messageBox(L"Продолжить?", L"Вопрос", wxYES_NO | wxCANCEL);
    });
    const int outerAnswer = frm::ui::showModal(outer);

    EXPECT_EQ(openInside, 3);
    EXPECT_EQ(endedInside, 3);
    EXPECT_EQ(endedAgain, 0);
    EXPECT_EQ(ended, (std::vector<wxString>{L"Внутренний", L"Внешний"}));
    EXPECT_EQ(innerAnswer, wxID_CANCEL);
    EXPECT_EQ(boxAnswer, wxID_NO);
    EXPECT_EQ(outerAnswer, wxID_CANCEL);
    EXPECT_EQ(frm::ui::openCount(), 0);
}

// A stop from outside: what is open ends, and what a task queued before the
// stop opens afterwards (inside the shutdown) ends at once instead of waiting
// for an operator who is no longer asked.
TEST(Ui, AfterAStopEveryBoxAndDialogOpenedEndsAtOnceWithNoOrCancel) {
    Watchdog watchdog;
    std::vector<wxString> ended;
    NotingDialog open(L"Открытый", ended);
    NotingDialog later(L"Поздний", ended);
    int boxAnswer = -1, laterAnswer = -1;
    wxTheApp->CallAfter([&] {
        frm::ui::cancelFromNowOn(true);
        boxAnswer = frm::ui::messageBox(L"После первого запуска…", L"Информация", wxYES_NO);
        laterAnswer = frm::ui::showModal(later);
    });
    EXPECT_EQ(frm::ui::showModal(open), wxID_CANCEL);
    EXPECT_EQ(boxAnswer, wxID_NO);
    EXPECT_EQ(laterAnswer, wxID_CANCEL);
    EXPECT_EQ(ended, (std::vector<wxString>{L"Открытый"})) << "the late dialog never showed";
    EXPECT_EQ(frm::ui::openCount(), 0);

    frm::ui::cancelFromNowOn(false);
    wxTheApp->CallAfter([] { frm::ui::cancelAll(); });
    EXPECT_EQ(frm::ui::showModal(later), wxID_CANCEL);
    EXPECT_EQ(ended.back(), L"Поздний") << "shown again once lifted";
}

TEST(Ui, TheProgramPresenterAnswersScriptedCaptionsAtOnceAndWritesEveryBox) {
    testing_support::TempDir dir;
    const std::string answers = dir.path() + "/answers.txt";
    const std::string boxes = dir.path() + "/boxes.txt";
    std::ofstream(answers) << "\xEF\xBB\xBFПредупреждение\tНет\r\nWARN\tOK\nВнимание\tНет\n";
    setenv("SONVAR_TEST_ANSWERS", answers.c_str(), 1);
    setenv("SONVAR_TEST_BOXES", boxes.c_str(), 1);
    frm::ui::installProgramPresenter();
    Watchdog watchdog;  // a scripted box that were shown would stay open

    EXPECT_FALSE(frm::ui::askYesNo(L"Запустить?\nНа свободные", L"Предупреждение"));
    EXPECT_EQ(frm::ui::messageBox(L"Имя занято", L"Внимание", wxOK), wxID_OK);  // "Нет" is not offered
    dbg_showMessageBox(L"WARN", L"Диск почти заполнен");                        // the log's boxes too
    int openWhileShown = -1;
    wxTheApp->CallAfter([&] {
        openWhileShown = frm::ui::openCount();
        frm::ui::cancelAll();
    });
    EXPECT_EQ(frm::ui::messageBox(L"Файл не найден", L"Ошибка", wxOK | wxCANCEL | wxICON_ERROR), wxID_CANCEL);
    EXPECT_EQ(openWhileShown, 1);  // not scripted: a real box

    frm::ui::setPresenter(nullptr);
    dbg_setMessagePresenter({});
    unsetenv("SONVAR_TEST_ANSWERS");
    unsetenv("SONVAR_TEST_BOXES");
    EXPECT_EQ(testing_support::readFile(boxes),
              "Предупреждение\tЗапустить?\\nНа свободные\tНет\n"
              "Внимание\tИмя занято\tOK\n"
              "WARN\tДиск почти заполнен\tOK\n"
              "Ошибка\tФайл не найден\tОтмена\n");
}

TEST(Ui, FilePatternsGainUpperCaseFormsAndTheTestFilesKeepTheirFields) {
    EXPECT_EQ(frm::ui::withUpperCasePatterns(L"Аудио (*.mp3;*.wav)|*.mp3;*.wav|Все (*.*)|*.*"),
              L"Аудио (*.mp3;*.wav)|*.mp3;*.MP3;*.wav;*.WAV|Все (*.*)|*.*");
    EXPECT_EQ(frm::ui::withUpperCasePatterns(L"*.m3u"), L"*.m3u;*.M3U");  // patterns only
    EXPECT_EQ(frm::ui::withUpperCasePatterns(L"Списки|*.pls;*.PLS|Журнал|*.лог"),
              L"Списки|*.pls;*.PLS|Журнал|*.лог;*.ЛОГ");

    const frm::ui::ScriptedAnswers answers = frm::ui::parseAnswers(
        "\xEF\xBB\xBFПредупреждение\tНет\r\n\nбез табуляции\nПредупреждение\tДа\nСообщение\tOK");
    EXPECT_EQ(answers, (frm::ui::ScriptedAnswers{{L"Предупреждение", L"Нет"}, {L"Сообщение", L"OK"}}));
    EXPECT_EQ(frm::ui::boxLine(L"Ошибка", L"Строка 1\r\nСтрока 2\n\tсдвиг", L"OK"),
              "Ошибка\tСтрока 1\\nСтрока 2\\n\\tсдвиг\tOK\n");
    EXPECT_EQ(frm::ui::cancelAnswer(wxOK | wxCANCEL), wxID_CANCEL);
    EXPECT_EQ(frm::ui::cancelAnswer(wxICON_ERROR), wxID_OK);
}

TEST(Ui, BoxTextsBreakAtBlanksThenInsidePathsAndLoseNothing) {
    // Every character is one unit wide.
    const auto width = [](const std::wstring& line) { return static_cast<int>(line.size()); };
    EXPECT_EQ(frm::ui::wrapText(L"один два три четыре", 9, width), L"один два\nтри\nчетыре");
    EXPECT_EQ(frm::ui::wrapText(L"короткий\nтекст", 40, width), L"короткий\nтекст");  // breaks stay
    // A path wider than the line breaks after a separator that still fits.
    EXPECT_EQ(frm::ui::wrapText(L"Файл '/home/op/data/zones.xml' пуст", 14, width),
              L"Файл\n'/home/op/\ndata/\nzones.xml'\nпуст");
    // Without a separator the word is cut where the line ends.
    EXPECT_EQ(frm::ui::wrapText(L"ABCDEFGHIJ", 4, width), L"ABCD\nEFGH\nIJ");
    // Nothing is lost: the characters other than breaks and the blanks at
    // breaks are the original ones, in order.
    const std::wstring text =
        L"Файл '/home/operator/.local/share/Varko Security Systems/Sonvar/1.2/"
        L"zone_collection.xml' повреждён (ошибка в строке 2)";
    const auto letters = [](std::wstring t) {
        t.erase(std::remove_if(t.begin(), t.end(), [](wchar_t c) { return c == L' ' || c == L'\n'; }),
                t.end());
        return t;
    };
    for (int limit : {1, 7, 20, 33, 80}) {
        const std::wstring wrapped = frm::ui::wrapText(text, limit, width);
        EXPECT_EQ(letters(wrapped), letters(text)) << limit;
        std::wistringstream lines(wrapped);
        for (std::wstring line; std::getline(lines, line);)
            EXPECT_LE(width(line), std::max(limit, 1)) << line;
    }
}

TEST(Ui, TheScriptedOperatorAnswersInOrderAndFailsOnWhatItDidNotExpect) {
    ui_testing::ScriptedUi ui;
    ui.expect(L"Предупреждение", wxID_YES).expect(L"WARN", wxID_OK);

    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(frm::ui::messageBox(L"Текст", L"Другое", wxYES_NO), wxID_NO), "Другое");
    EXPECT_TRUE(frm::ui::askYesNo(L"Запустить?", L"Предупреждение"));
    dbg_showMessageBox(L"WARN", L"Диск почти заполнен");

    ASSERT_EQ(ui.shown().size(), 3u);
    EXPECT_EQ(ui.shown()[1].buttons, (std::vector<std::wstring>{L"Да", L"Нет"}));
    EXPECT_EQ(ui.shown()[2].text, L"Диск почти заполнен");
    EXPECT_EQ(ui.pending(), 0u);
}
