#pragma once

#include <wx/string.h>
#include <wx/translation.h>

#include <boost/date_time/posix_time/ptime.hpp>
#include <functional>
#include <string>
#include <vector>

#include "base/dbg.h"

// The log's set-up and the operator's notification. Records at NOTICE, WARN,
// ERROR and FATAL become notices presented on the GUI thread through the
// GUI-thread invoker, in the order they were observed; a repeat of a text
// within two seconds is no new notice, only counted by the repeat counter.

/// The loader of a translations object's catalogues (the toolkit's file
/// loader; the object owns it): the log looks its texts of INFO and above up
/// in the catalogues it loaded, the last loaded first as the toolkit does,
/// on whichever thread logs. The toolkit's own look-up keeps state for
/// every thread that asks (each untranslated text for good, and the whole
/// state of a thread the toolkit did not start, after that thread's end
/// too): every worker thread that logged grew the program. The log
/// translates nothing once the loader is gone, which its translations
/// object deletes before the catalogues.
class LogCatalogueLoader : public wxFileTranslationsLoader {
public:
    ~LogCatalogueLoader() override;
    /// GUI thread, as the translations object loads.
    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& lang) override;

private:
    std::vector<const wxMsgCatalog*> m_loaded;  // the last loaded first
};

/// Makes the global log (an existing one stays as it is) and installs the
/// observer dbg_notify and the translator of the wx catalogues (those that
/// the last LogCatalogueLoader loaded); the folder that holds `folder` is the
/// data folder whose files notices name by their file names. Called once at
/// start-up on the main thread, before other threads log.
void dbg_init(bool console, dbg_level level, const wchar_t* folder);

/// The observer: any thread. Queues the notice (or the count of a held-back
/// repeat) for the GUI thread and returns; records observed one after the
/// other, from any threads, are presented in that order. Nothing is shown
/// while no invoker exists (or it is stopping).
void dbg_notify(const boost::posix_time::ptime& time, const std::wstring& levelName,
                const std::wstring& message);

/// GUI thread: shows the box for one record (NOTICE information, WARN
/// warning, ERROR and FATAL error icon; any other level nothing), caption and
/// text translated, through the presenter. Boxes come one at a time: one
/// asked for while another is open (from inside its modal loop) is shown
/// after the open one has been answered.
void dbg_showMessageBox(const std::wstring& levelName, const std::wstring& message);

/// What shows a box: wxMessageBox unless replaced (the program shows its
/// notice window, tests record instead).
using MessagePresenter = std::function<void(const wxString& text, const wxString& caption, long style)>;

/// Replaces the presenter and returns the one before; an empty one restores
/// wxMessageBox. Call on the GUI thread.
MessagePresenter dbg_setMessagePresenter(MessagePresenter presenter);

/// What counts a repeat that the filter held back (text and caption
/// translated): nothing unless set.
using RepeatCounter = std::function<void(const wxString& text, const wxString& caption)>;

/// Replaces the repeat counter and returns the one before; an empty one
/// counts nothing. Call on the GUI thread.
RepeatCounter dbg_setRepeatCounter(RepeatCounter counter);

/// GUI thread: hands a held-back repeat of a NOTICE, WARN, ERROR or FATAL
/// record to the repeat counter, caption and text translated.
void dbg_countRepeat(const std::wstring& levelName, const std::wstring& message);
