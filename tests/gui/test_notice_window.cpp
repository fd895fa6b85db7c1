// The log's notices in the program's notice window: not modal, one entry per
// text with its count, closed with "OK", recorded for the end-to-end tests,
// and gone with the window it belongs to.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include "base/wx/log_setup.h"
#include "gui/notice_window.h"
#include "gui/ui.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

/// The program's presenters, its boxes written to a file; a main window to
/// own the notice window.
class Notices : public ::testing::Test {
protected:
    void SetUp() override {
        frm::ui::installProgramPresenter();
        owner = new wxFrame(nullptr, wxID_ANY, L"Главное окно", wxDefaultPosition, wxSize(700, 500));
        owner->Show();
        frm::NoticeWindow::setOwner(owner);
    }
    void TearDown() override {
        owner->Destroy();
        wx_testing::runEventLoopFor(std::chrono::milliseconds(20));
        frm::ui::setPresenter(nullptr);
        dbg_setMessagePresenter({});
        dbg_setRepeatCounter({});
    }
    std::wstring shownText() const {
        frm::NoticeWindow* window = frm::NoticeWindow::current();
        return window != nullptr ? dialog_testing::all<wxTextCtrl>(window).at(0)->GetValue().ToStdWstring()
                                 : L"(none)";
    }

    testing_support::TempDir dir;
    const std::string boxes = dir.path() + "/boxes.txt";
    testing_support::ScopedEnv answers{"SONVAR_TEST_ANSWERS", nullptr};
    testing_support::ScopedEnv boxesFile{"SONVAR_TEST_BOXES", boxes.c_str()};
    wxFrame* owner = nullptr;
};

}  // namespace

TEST_F(Notices, TheLogsNoticesAreListedWithoutAModalLoopAndRepeatsCounted) {
    for (int n = 0; n < 20; ++n) dbg_showMessageBox(L"ERROR", L"Нет захвата звука");
    dbg_showMessageBox(L"WARN", L"Аудио память устройства 00:1E:C0:00:00:0E недоступна");
    dbg_countRepeat(L"WARN", L"Аудио память устройства 00:1E:C0:00:00:0E недоступна");
    dbg_showMessageBox(L"NOTICE",
                       L"Файл '/home/operator/.local/share/Сонвар/zone_collection.xml' сохранён; длинный текст "
                       L"переносится по словам и читается целиком, без обрезки по краю окна");
    dbg_showMessageBox(L"INFO", L"не для оператора");

    frm::NoticeWindow* window = frm::NoticeWindow::current();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->IsShown());
    EXPECT_FALSE(window->IsModal());
    EXPECT_EQ(frm::ui::openCount(), 0) << "nothing for a stop request to end";
    EXPECT_EQ(window->GetParent(), owner);
    EXPECT_EQ(window->GetTitle(), L"NOTICE") << "the newest notice's caption";
    const auto& entries = window->notices().entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].caption, L"ERROR");
    EXPECT_EQ(entries[0].count, 20);
    EXPECT_EQ(entries[1].count, 2);
    EXPECT_EQ(entries[2].caption, L"NOTICE");
    const std::wstring text = shownText();
    EXPECT_NE(text.find(L"ERROR\nНет захвата звука (\u00D720)\n"), std::wstring::npos) << text;
    EXPECT_EQ(text.rfind(L"без обрезки по краю окна"), text.size() - 24) << "newest last";
    EXPECT_FALSE(wx_testing::writeShot(window, "notice_window").empty());

    // Every notice shown is recorded; the held-back repeat was none.
    std::string expected;
    for (int n = 0; n < 20; ++n) expected += "ERROR\tНет захвата звука\tOK\n";
    expected += "WARN\tАудио память устройства 00:1E:C0:00:00:0E недоступна\tOK\n";
    EXPECT_EQ(testing_support::readFile(boxes).substr(0, expected.size()), expected);

    dialog_testing::press(window, L"OK");
    EXPECT_FALSE(window->IsShown());
    EXPECT_TRUE(window->notices().empty());
    dbg_countRepeat(L"ERROR", L"Нет захвата звука");  // nothing listed: no count, not shown
    EXPECT_FALSE(window->IsShown());
    dbg_showMessageBox(L"ERROR", L"Нет захвата звука");  // after "OK": a new entry
    EXPECT_EQ(frm::NoticeWindow::current(), window);
    EXPECT_TRUE(window->IsShown());
    EXPECT_EQ(shownText().find(L"(\u00D7"), std::wstring::npos);

    // Closed by the window manager: hidden like "OK".
    window->Close();
    EXPECT_FALSE(window->IsShown());
    EXPECT_EQ(frm::NoticeWindow::current(), window);
}

TEST_F(Notices, TheWindowGoesWithItsOwnerAndANewOwnerGetsANewOne) {
    dbg_showMessageBox(L"WARN", L"Первое");
    frm::NoticeWindow* first = frm::NoticeWindow::current();
    ASSERT_NE(first, nullptr);
    auto* next = new wxFrame(nullptr, wxID_ANY, L"Другое окно");
    frm::NoticeWindow::setOwner(next);
    EXPECT_EQ(frm::NoticeWindow::current(), nullptr);
    dbg_showMessageBox(L"WARN", L"Второе");
    ASSERT_NE(frm::NoticeWindow::current(), nullptr);
    EXPECT_EQ(frm::NoticeWindow::current()->GetParent(), next);

    next->Destroy();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([] { return frm::NoticeWindow::current() == nullptr; }));
    dbg_showMessageBox(L"WARN", L"Третье");  // no owner left: a window of its own
    ASSERT_NE(frm::NoticeWindow::current(), nullptr);
    EXPECT_EQ(frm::NoticeWindow::current()->GetParent(), nullptr);
    frm::NoticeWindow::current()->Destroy();
}
