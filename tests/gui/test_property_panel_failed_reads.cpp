// ctest-labels: net
// A page whose read fails shows nothing and writes nothing: each page kind is
// read from device A, typed into, then opened on device B while B refuses
// every request or keeps silent. The page must be empty and disabled, its
// buttons off, and once B answers again neither Apply nor Cancel may send B
// anything that changes it; A's page reads again as before. A loudspeaker
// without a line-control module gets the line page with the module's reply.
#include <wx/spinctrl.h>

#include <map>

#include "base/exception.h"
#include "tests/gui/property_panel_site.h"
#include "tests/gui/screenshot.h"
#include "tests/support/elapsed.h"

using namespace panel_site;

namespace {

enum class Failure { kErrorReply, kSilence };

struct PageCase {
    const wchar_t* tab;
    Device a;
    Device b;
    bool debugMode;
    Failure failure;
};

void PrintTo(const PageCase& given, std::ostream* out);

std::string caseName(const PageCase& given) {
    static const std::map<std::wstring, std::string> names = {{L"Общие", "Common"},
                                                              {L"Аудио память", "AudioMemory"},
                                                              {L"Сеть", "Network"},
                                                              {L"Зарно", "Zarno"},
                                                              {L"Источники", "Sources"},
                                                              {L"Линия", "LineControl"},
                                                              {L"Ключи", "Passkeys"},
                                                              {L"Зоны трансляции", "Zones"},
                                                              {L"Связанные консоли", "LinkedConsoles"},
                                                              {L"Отладочные сообщения", "Debug"}};
    return names.at(given.tab) + (given.a == kConsole ? "Console" : "") +
           (given.failure == Failure::kErrorReply ? "ErrorReply" : "Silence");
}

void PrintTo(const PageCase& given, std::ostream* out) { *out << caseName(given); }

/// The requests that would change a device: settings, restarts, the line
/// module's actions, zone bindings, keys and memory writes.
bool changes(const std::string& request) {
    for (const char* prefix :
         {"set ", "reboot", "lsensor power", "lsensor add", "lsensor del", "lsensor prefReset",
          "lsensor reboot", "zoneBind", "zoneScBind", "zoneDel", "passkeyAdd", "passkeyDel", "passkeyReset",
          "passkeyFinish", "mem write", "mem commit", "mem play", "fw "})
        if (request.rfind(prefix, 0) == 0) return true;
    return false;
}

/// What the shown controls under `window` hold (a hidden layout sample is no
/// control of the page).
void collectHeld(wxWindow* window, std::vector<std::string>& held) {
    for (wxWindow* child : window->GetChildren()) {
        if (!child->IsShown()) continue;
        const std::string name = wxString(child->GetClassInfo()->GetClassName()).utf8_string() + " '" +
                                 child->GetLabel().utf8_string() + "'";
        if (auto* text = dynamic_cast<wxTextCtrl*>(child)) {
            if (!text->GetValue().empty()) held.push_back(name + " = " + text->GetValue().utf8_string());
        } else if (auto* spin = dynamic_cast<wxSpinCtrl*>(child)) {
            if (!spin->GetTextValue().empty())
                held.push_back(name + " = " + spin->GetTextValue().utf8_string());
        } else if (auto* choice = dynamic_cast<wxChoice*>(child)) {
            if (choice->GetSelection() != wxNOT_FOUND) held.push_back(name + " selected");
        } else if (auto* box = dynamic_cast<wxCheckBox*>(child)) {
            if (box->GetValue()) held.push_back(name + " ticked");
        } else if (auto* list = dynamic_cast<wxListCtrl*>(child)) {
            if (list->GetItemCount() > 0) held.push_back(name + " has rows");
        }
        collectHeld(child, held);
    }
}

class FailedReadsSite : public PanelSite {
protected:
    explicit FailedReadsSite(int program) : PanelSite(program) {}

    void fail(Device n, Failure failure) {
        if (failure == Failure::kErrorReply)
            devices[n]->withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
                model.refuse("", "ERR busy");
                return 0;
            });
        else
            devices[n]->setReplyPolicy({0, true});
        device(n)->resetCache();
    }
    /// B answers again, and knows it (a request of its own succeeds). A
    /// request of another thread's to it that left while it was silent is
    /// waited out: until that is answered, B counts as not answering.
    void recover(Device n) {
        devices[n]->withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
            model.refuse("", "");
            return 0;
        });
        devices[n]->setReplyPolicy({});
        ASSERT_TRUE(testing_support::waitUntil([&] { return device(n)->request("get vol", nullptr, false); }));
    }
    std::vector<std::string> changesSent(Device n) {
        std::vector<std::string> found;
        for (const auto& datagram : devices[n]->received())
            if (changes(datagram.text)) found.push_back(datagram.text);
        devices[n]->clearReceived();
        return found;
    }
    /// Types "9" into every field of the page the operator can edit: an edit
    /// that was never applied.
    static void typeInto(wxWindow* window) {
        for (wxWindow* child : window->GetChildren()) {
            if (!child->IsShown() || !child->IsEnabled()) continue;
            if (auto* text = dynamic_cast<wxTextCtrl*>(child); text && text->IsEditable())
                text->ChangeValue(L"9");
            else if (auto* spin = dynamic_cast<wxSpinCtrl*>(child))
                spin->SetValue(9);
            typeInto(child);
        }
    }
};

class FailedReads : public FailedReadsSite, public testing::WithParamInterface<PageCase> {
protected:
    FailedReads() : FailedReadsSite(71) {}
};

class LineModuleAbsent : public FailedReadsSite {
protected:
    LineModuleAbsent() : FailedReadsSite(72) {}

    /// The shown text of the page that holds `part`; empty when none does.
    static std::wstring shownText(wxWindow* window, const std::wstring& part) {
        for (wxWindow* child : window->GetChildren()) {
            if (!child->IsShown()) continue;
            const std::wstring label = child->GetLabel().ToStdWstring();
            if (dynamic_cast<wxStaticText*>(child) && label.find(part) != std::wstring::npos) return label;
            const std::wstring inner = shownText(child, part);
            if (!inner.empty()) return inner;
        }
        return std::wstring();
    }
};

TEST_P(FailedReads, APageWhoseReadFailedIsEmptyDisabledAndWritesNothing) {
    const PageCase& given = GetParam();
    Panel* panel = open(given.a, given.debugMode);
    panel->select(given.tab);
    wxWindow* page = panel->notebookPref->GetCurrentPage();
    ASSERT_TRUE(page->IsEnabled()) << "device A's page is read";
    std::vector<std::string> heldByA;
    collectHeld(page, heldByA);
    typeInto(page);
    panel->buttonApply->Enable();
    panel->buttonCancel->Enable();

    fail(given.b, given.failure);
    panel->imbueDevice(device(given.b));
    try {
        panel->updateData();
    } catch (const exception::Base&) {
        // The failure goes on to the operator as before (the debug page's
        // volume, read at once).
    }
    panel->settle();
    ASSERT_EQ(closed, 0) << "B still counts as online";
    ASSERT_EQ(panel->notebookPref->GetCurrentPage(), page);
    EXPECT_FALSE(page->IsEnabled());
    std::vector<std::string> heldByB;
    collectHeld(page, heldByB);
    EXPECT_TRUE(heldByB.empty()) << "left from A: " << testing::PrintToString(heldByB);
    EXPECT_FALSE(panel->buttonApply->IsEnabled() || panel->buttonCancel->IsEnabled());
    wx_testing::writeShot(frame, "property_failed_" + caseName(given));

    recover(given.b);
    changesSent(given.b);
    panel->buttonApply->Enable();  // a stray Apply (a mnemonic, a late event)
    panel->apply();
    panel->buttonCancel->Enable();
    wxCommandEvent cancel(wxEVT_BUTTON, panel->buttonCancel->GetId());
    cancel.SetEventObject(panel->buttonCancel);
    panel->buttonCancel->HandleWindowEvent(cancel);
    panel->settle();
    EXPECT_EQ(changesSent(given.b), std::vector<std::string>()) << "nothing of A's is written to B";
    EXPECT_FALSE(page->IsEnabled()) << "Cancel does not read the page again";

    // A's page reads again as it did.
    panel->imbueDevice(device(given.a));
    panel->update();
    EXPECT_TRUE(page->IsEnabled());
    std::vector<std::string> heldAgain;
    collectHeld(page, heldAgain);
    EXPECT_EQ(heldAgain.size(), heldByA.size()) << testing::PrintToString(heldAgain);
}

TEST_F(LineModuleAbsent, TheLinePageShowsTheModulesReplyAndWritesNothing) {
    const std::string reply = "ERR line control module is absent";
    site.loudspeakers[kIndex18].lines->setAbsent(reply);
    Panel* panel = open(kIndex21);
    panel->select(L"Линия");
    wxWindow* page = panel->notebookPref->GetCurrentPage();
    const int errors = loggedCount("", "ERROR");

    panel->imbueDevice(device(kIndex18));
    EXPECT_NO_THROW(panel->update());
    // Through the notebook as the operator clicks: nothing leaves the handler.
    panel->select(L"Общие");
    panel->select(L"Линия");
    ASSERT_EQ(panel->notebookPref->GetCurrentPage(), page);
    EXPECT_EQ(shownText(page, L"ERR"),
              L"Модуль контроля линии недоступен: " + wxString(reply).ToStdWstring());
    EXPECT_FALSE(page->IsEnabled());
    std::vector<std::string> held;
    collectHeld(page, held);
    EXPECT_TRUE(held.empty()) << testing::PrintToString(held);
    EXPECT_EQ(loggedCount("", "ERROR"), errors) << "a missing module is no error for the operator";
    wx_testing::writeShot(frame, "property_line_module_absent");

    changesSent(kIndex18);
    panel->buttonApply->Enable();
    panel->apply();
    EXPECT_EQ(changesSent(kIndex18), std::vector<std::string>());

    // The module is back: the page reads it again.
    site.loudspeakers[kIndex18].lines->setAbsent("");
    panel->update();
    EXPECT_TRUE(page->IsEnabled());
    EXPECT_TRUE(shownText(page, L"ERR").empty());
    EXPECT_FALSE(shownText(page, L"Версия контроля линии: 1.2.7").empty());
}

std::vector<PageCase> pageCases() {
    const std::vector<PageCase> pages = {
        {L"Общие", kIndex21, kIndex18, false, {}},
        {L"Аудио память", kIndex21, kIndex18, false, {}},
        {L"Сеть", kIndex21, kIndex18, false, {}},
        {L"Зарно", kIndex21, kIndex18, false, {}},
        {L"Источники", kIndex21, kIndex18, false, {}},
        {L"Линия", kIndex21, kIndex18, false, {}},
        {L"Общие", kConsole, kFireConsole, false, {}},
        {L"Ключи", kConsole, kFireConsole, false, {}},
        {L"Зоны трансляции", kConsole, kFireConsole, false, {}},
        {L"Отладочные сообщения", kIndex21, kIndex18, true, {}},
    };
    std::vector<PageCase> cases;
    for (const Failure failure : {Failure::kErrorReply, Failure::kSilence})
        for (PageCase page : pages) {
            page.failure = failure;
            cases.push_back(page);
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Pages, FailedReads, testing::ValuesIn(pageCases()),
                         [](const testing::TestParamInfo<PageCase>& info) { return caseName(info.param); });

}  // namespace
