#include "base/wx/log_setup.h"

#include <wx/msgdlg.h>
#include <wx/translation.h>

#include <deque>
#include <mutex>
#include <shared_mutex>

#include "base/log.h"
#include "base/notification_filter.h"
#include "base/wx/gui_thread_invoker.h"

namespace {

/// The catalogues the log translates with, owned by the translations object
/// of their loader; read by any thread under the shared lock.
struct LogCatalogues {
    std::shared_mutex lock;
    const LogCatalogueLoader* loader = nullptr;
    std::vector<const wxMsgCatalog*> catalogues;
};

LogCatalogues& logCatalogues() {
    // Never destroyed: the toolkit may free its translations after our statics.
    static LogCatalogues* current = new LogCatalogues;
    return *current;
}

/// Only the catalogues themselves are asked: they keep nothing per thread.
std::wstring translated(const std::wstring& text) {
    if (text.empty()) return text;  // the empty text is a catalogue's header
    const wxString key(text);
    LogCatalogues& current = logCatalogues();
    std::shared_lock<std::shared_mutex> reading(current.lock);
    for (const wxMsgCatalog* catalogue : current.catalogues)
        if (const wxString* found = catalogue->GetString(key)) return found->ToStdWstring();
    return text;
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

RepeatCounter& repeatCounter() {
    static RepeatCounter current;
    return current;
}

/// Held while a record goes through the filter into the invoker's queue, so
/// that the queue's order is the order the records were observed in, and a
/// repeat's count never comes before its notice. Recursive: an observer
/// called again from inside (the invoker's own logging) must not wait on
/// itself.
std::recursive_mutex& notifyOrder() {
    static std::recursive_mutex mutex;
    return mutex;
}

/// A notified record as the operator reads it.
struct ShownTexts {
    std::wstring text;
    std::wstring caption;
};

ShownTexts shownTexts(const std::wstring& levelName, const std::wstring& message) {
    return {translated(message), translated(levelName)};
}

/// The caption's icon of a level that the operator is notified of; 0 for
/// the other levels.
long levelIcon(const std::wstring& levelName) {
    if (levelName == L"NOTICE") return wxICON_INFORMATION;
    if (levelName == L"WARN") return wxICON_WARNING;
    if (levelName == L"ERROR" || levelName == L"FATAL") return wxICON_ERROR;
    return 0;
}

}  // namespace

LogCatalogueLoader::~LogCatalogueLoader() {
    LogCatalogues& current = logCatalogues();
    std::unique_lock<std::shared_mutex> writing(current.lock);
    if (current.loader != this) return;
    current.loader = nullptr;
    current.catalogues.clear();
}

wxMsgCatalog* LogCatalogueLoader::LoadCatalog(const wxString& domain, const wxString& lang) {
    wxMsgCatalog* catalogue = wxFileTranslationsLoader::LoadCatalog(domain, lang);
    if (catalogue == nullptr) return nullptr;
    m_loaded.insert(m_loaded.begin(), catalogue);
    LogCatalogues& current = logCatalogues();
    std::unique_lock<std::shared_mutex> writing(current.lock);
    current.loader = this;
    current.catalogues = m_loaded;
    return catalogue;
}

void dbg_init(bool console, dbg_level level, const wchar_t* folder) {
    const std::wstring logFolder = folder != nullptr ? folder : L"";
    base::Log::create(logFolder, static_cast<base::Log::Level>(level), console);
    base::Log::setObserver(&dbg_notify);
    base::Log::setTranslator(&translated);
    // The log folder lies in the data folder, with the program's other files.
    const std::size_t slash = logFolder.find_last_of(L'/');
    if (slash != std::wstring::npos && slash > 0) base::Log::setDataFolder(logFolder.substr(0, slash));
}

void dbg_notify(const boost::posix_time::ptime&, const std::wstring& levelName, const std::wstring& message) {
    std::lock_guard<std::recursive_mutex> order(notifyOrder());
    if (!repeatFilter().pass(levelName, message)) {
        if (GuiThreadInvoker::isActive())
            GuiThreadInvoker::add([levelName, message] { dbg_countRepeat(levelName, message); });
        return;
    }
    if (!GuiThreadInvoker::isActive()) return;
    GuiThreadInvoker::add([levelName, message] { dbg_showMessageBox(levelName, message); });
}

void dbg_countRepeat(const std::wstring& levelName, const std::wstring& message) {
    if (levelIcon(levelName) == 0 || !repeatCounter()) return;
    const ShownTexts shown = shownTexts(levelName, message);
    repeatCounter()(shown.text, shown.caption);
}

RepeatCounter dbg_setRepeatCounter(RepeatCounter replacement) {
    RepeatCounter previous = std::move(repeatCounter());
    repeatCounter() = std::move(replacement);
    return previous;
}

void dbg_showMessageBox(const std::wstring& levelName, const std::wstring& message) {
    const long icon = levelIcon(levelName);
    if (icon == 0) return;
    NotifierBoxes& boxes = notifierBoxes();
    const ShownTexts shown = shownTexts(levelName, message);
    boxes.waiting.push_back({shown.text, shown.caption, icon | wxOK | wxCENTRE});
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
