#include "base/wx/log_setup.h"

#include <wx/msgdlg.h>
#include <wx/translation.h>

#include <deque>

#include "base/log.h"
#include "base/notification_filter.h"
#include "base/wx/gui_thread_invoker.h"

namespace {

std::wstring translated(const std::wstring& text) {
    const wxString key(text);
    if (wxTranslations* translations = wxTranslations::Get()) {
        if (const wxString* found = translations->GetTranslatedString(key, wxString()))
            return found->ToStdWstring();
    }
    return wxTranslations::GetUntranslatedString(key).ToStdWstring();
}

void showWithWx(const wxString& text, const wxString& caption, long style) {
    wxMessageBox(text, caption, style);
}

MessagePresenter& presenter() {
    static MessagePresenter current = &showWithWx;
    return current;
}

/// A box of the notifier waiting for the one on screen to be answered.
struct WaitingBox {
    wxString text;
    wxString caption;
    long style;
};

/// The notifier's boxes come one at a time: a task of the invoker that runs
/// inside an open box's modal loop would otherwise stack a second box on the
/// first. GUI thread only.
struct NotifierBoxes {
    bool showing = false;
    std::deque<WaitingBox> waiting;
};

NotifierBoxes& notifierBoxes() {
    static NotifierBoxes boxes;
    return boxes;
}

base::NotificationFilter& repeatFilter() {
    static base::NotificationFilter filter;
    return filter;
}

}  // namespace

void dbg_init(bool console, dbg_level level, const wchar_t* folder) {
    base::Log::create(folder != nullptr ? folder : L"", static_cast<base::Log::Level>(level), console);
    base::Log::setObserver(&dbg_notify);
    base::Log::setTranslator(&translated);
}

void dbg_notify(const boost::posix_time::ptime&, const std::wstring& levelName, const std::wstring& message) {
    if (!repeatFilter().pass(levelName, message)) return;
    if (!GuiThreadInvoker::isActive()) return;
    GuiThreadInvoker::add([levelName, message] { dbg_showMessageBox(levelName, message); });
}

void dbg_showMessageBox(const std::wstring& levelName, const std::wstring& message) {
    long icon = 0;
    if (levelName == L"NOTICE")
        icon = wxICON_INFORMATION;
    else if (levelName == L"WARN")
        icon = wxICON_WARNING;
    else if (levelName == L"ERROR" || levelName == L"FATAL")
        icon = wxICON_ERROR;
    else
        return;
    NotifierBoxes& boxes = notifierBoxes();
    boxes.waiting.push_back({translated(message), translated(levelName), icon | wxOK | wxCENTRE});
    if (boxes.showing) return;  // shown when the open one is answered
    boxes.showing = true;
    struct Done {
        NotifierBoxes& boxes;
        ~Done() { boxes.showing = false; }
    } done{boxes};
    while (!boxes.waiting.empty()) {
        const WaitingBox next = boxes.waiting.front();
        boxes.waiting.pop_front();
        presenter()(next.text, next.caption, next.style);
    }
}

MessagePresenter dbg_setMessagePresenter(MessagePresenter replacement) {
    MessagePresenter previous = presenter();
    presenter() = replacement ? std::move(replacement) : MessagePresenter(&showWithWx);
    return previous;
}
