#include "base/wx/log_setup.h"

#include <wx/msgdlg.h>
#include <wx/translation.h>

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
    presenter()(translated(message), translated(levelName), icon | wxOK | wxCENTRE);
}

MessagePresenter dbg_setMessagePresenter(MessagePresenter replacement) {
    MessagePresenter previous = presenter();
    presenter() = replacement ? std::move(replacement) : MessagePresenter(&showWithWx);
    return previous;
}
