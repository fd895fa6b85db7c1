#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "gui/layout/about_dialog.h"

namespace frm {

/// The about box: the product, its version with the build date and a notice
/// with our web address as a link; "Справка" opens <program folder>/
/// manual.pdf with the desktop's viewer, a click on the link the browser.
/// The hidden "Проверить обновления" only tells whether the internet is
/// reachable (updating is switched off). Opened modally by the main window
/// with the program's folder; GUI thread only.
class AboutDialog : public fb::AboutDialog {
public:
    /// What the box reaches outside the program; tests replace each part.
    struct Outside {
        /// Opens a document with the desktop's application for it.
        std::function<void(const wxString& path)> openDocument;
        /// Opens an address with the default browser.
        std::function<void(const wxString& url)> openLink;
        std::function<bool()> hasInternet;
        /// Microseconds (nowMicroseconds), for the time between the link
        /// event and the button's release.
        std::function<std::int64_t()> now;

        /// xdg-open through wx, os::hasInternet and the wall clock.
        static Outside system();
    };

    /// The address the text links to.
    static const wchar_t* const kWebAddress;

    AboutDialog(wxWindow* parent, const std::wstring& programFolder, Outside outside = Outside::system());

protected:
    void textOnLeftUp(wxMouseEvent& event) override;
    void textOnTextUrl(wxTextUrlEvent& event) override;
    void helpOnButtonClick(wxCommandEvent& event) override;
    void checkUpdateOnButtonClick(wxCommandEvent& event) override;

private:
    /// A button release this soon after a link event was a click on it.
    static constexpr std::int64_t kClickWindow = 200000;

    const std::wstring m_programFolder;
    const Outside m_outside;
    wxString m_lastUrl;
    std::int64_t m_lastUrlTime = 0;
};

}  // namespace frm
