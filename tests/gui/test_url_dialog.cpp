// The station dialog and its history: read trimmed, the newest entry shown
// when no address is given, written only after OK as UTF-8 with the accepted
// address first and its copies gone, while the caller gets the texts as
// typed; both fields are required.
#include <wx/combobox.h>

#include <fstream>
#include <memory>

#include "base/text.h"
#include "gui/url_dialog.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/dialog_support.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using dialog_testing::press;
using testing_support::readFile;

// "http://радио.рф/поток" in UTF-8.
const std::string kCyrillicUrl =
    "http://\xd1\x80\xd0\xb0\xd0\xb4\xd0\xb8\xd0\xbe.\xd1\x80\xd1\x84/"
    "\xd0\xbf\xd0\xbe\xd1\x82\xd0\xbe\xd0\xba";

class UrlDialogTest : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    /// Opens the dialog and types into its fields (nothing for an empty text).
    void open(const wxString& typedUrl = {}, const wxString& typedName = {}) {
        dialog =
            std::make_unique<frm::UrlDialog>(nullptr, L"Добавить URL", url, name, base::fromUtf8(history));
        urlField = dialog_testing::all<wxComboBox>(dialog.get()).at(0);
        if (!typedUrl.empty()) urlField->SetValue(typedUrl);
        if (!typedName.empty()) dialog_testing::all<wxTextCtrl>(dialog.get()).at(0)->SetValue(typedName);
    }

    const std::string history = m_dir.path() + "/UrlDialog.history";
    std::wstring url, name;
    std::unique_ptr<frm::UrlDialog> dialog;
    wxComboBox* urlField = nullptr;
};

}  // namespace

TEST_F(UrlDialogTest, OkWritesTheTrimmedAddressFirstWithoutItsCopiesAndTheCallerGetsItAsTyped) {
    const std::string before = "  http://a/stream \n" + kCyrillicUrl + "\n\nhttp://a/stream\n";
    std::ofstream(history) << before;
    open();
    EXPECT_EQ(urlField->GetValue(), L"http://a/stream") << "the newest entry, trimmed";
    EXPECT_EQ(urlField->GetCount(), 4u);
    EXPECT_FALSE(wx_testing::writeShot(dialog.get(), "url_dialog").empty());

    const wxString typed = L" " + wxString::FromUTF8(kCyrillicUrl) + L"\t";
    urlField->SetValue(typed);
    dialog_testing::all<wxTextCtrl>(dialog.get()).at(0)->SetValue(L" Радио ");
    press(dialog.get(), L"&Сохранить");
    EXPECT_FALSE(dialog->IsShown());
    EXPECT_EQ(url, typed.ToStdWstring());
    EXPECT_EQ(name, L" Радио ");
    EXPECT_EQ(readFile(history), before) << "written when the dialog goes";
    dialog.reset();
    EXPECT_EQ(readFile(history), kCyrillicUrl + "\nhttp://a/stream\n\nhttp://a/stream\n");

    url = L"http://given/";  // wins over the newest entry
    open();
    EXPECT_EQ(urlField->GetString(0), wxString::FromUTF8(kCyrillicUrl));
    EXPECT_EQ(urlField->GetValue(), L"http://given/");
}

TEST_F(UrlDialogTest, EmptyFieldsAreRefusedAndCancelLeavesTheHistory) {
    open(L"http://b/");
    EXPECT_EQ(urlField->GetCount(), 0u);
    dialog->Show();
    {
        ui_testing::ScriptedUi ui;
        ui.expect(L"Внимание", wxID_OK);
        press(dialog.get(), L"&Сохранить");
        EXPECT_EQ(ui.shown().at(0).text, L"Поля должны быть заполнены");
    }
    EXPECT_TRUE(dialog->IsShown());
    EXPECT_EQ(url, L"http://b/");
    press(dialog.get(), L"О&тмена");
    dialog.reset();
    EXPECT_TRUE(readFile(history).empty()) << "cancel writes no history";

    open(L"http://b/", L"B");
    press(dialog.get(), L"&Сохранить");
    dialog.reset();
    EXPECT_EQ(readFile(history), "http://b/\n");
}
