#include "gui/translations.h"

#include <libintl.h>
#include <wx/translation.h>

#include <clocale>
#include <cstdlib>

#include "base/wx/log_setup.h"

namespace frm {

bool installTranslations(const std::wstring& catalogueFolder) {
    // GTK looks its texts up through gettext, which takes LANGUAGE first.
    ::setenv("LANGUAGE", "ru_RU:ru", 1);
    const bool locale = std::setlocale(LC_MESSAGES, "ru_RU.UTF-8") != nullptr;
    // The toolkit's calendars name months and weekdays through the C
    // library's time locale; dates the program writes are numeric.
    std::setlocale(LC_TIME, "ru_RU.UTF-8");
    // System error texts go into narrow log lines, read as CP1251: keep the
    // C library's own catalogue out of reach so that they stay English.
    ::bindtextdomain("libc", "/nonexistent");

    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(catalogueFolder);
    auto* translations = new wxTranslations;
    // The log looks its texts up in the same catalogues, on any thread.
    translations->SetLoader(new LogCatalogueLoader);
    translations->SetLanguage("ru_RU");
    translations->AddCatalog("ru_RU", wxLANGUAGE_ENGLISH_US);
    translations->AddStdCatalog();
    wxTranslations::Set(translations);
    return locale;
}

}  // namespace frm
