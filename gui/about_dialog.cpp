#include "gui/about_dialog.h"

#include <wx/utils.h>

#include "base/clock.h"
#include "base/log.h"
#include "gui/build_date.h"
#include "gui/gui_thread.h"
#include "gui/ui.h"
#include "os/network_probe.h"

namespace frm {

namespace {

const wchar_t* const kVersion = L"1.2.0.470";
const wchar_t* const kVersionSuffix = L"";

}  // namespace

const wchar_t* const AboutDialog::kWebAddress = L"https://www.example.org/sonvar";

AboutDialog::Outside AboutDialog::Outside::system() {
    Outside outside;
    outside.openDocument = [](const wxString& path) { wxLaunchDefaultApplication(path); };
    outside.openLink = [](const wxString& url) { wxLaunchDefaultBrowser(url); };
    outside.hasInternet = [] { return os::hasInternet(); };
    outside.now = [] { return nowMicroseconds(); };
    return outside;
}

AboutDialog::AboutDialog(wxWindow* parent, const std::wstring& programFolder, Outside outside)
    : fb::AboutDialog(parent, wxID_ANY, L"О программе", wxDefaultPosition, wxSize(449, 355),
                      wxDEFAULT_DIALOG_STYLE),
      m_programFolder(programFolder),
      m_outside(std::move(outside)) {
    const wxString version = wxString::Format(L"Версия %s%s (%s)", kVersion, kVersionSuffix, getBuildDate());
    text->SetValue(wxString::Format(
        L"%s\n\n%s\n\n%s\n\n%s\n\n%s", L"Сонвар",
        L"Сонвар многоадресной трансляции для устройств 'Орвел-510', 'Орвел-610', 'Орвел-610.1', "
        L"'Микрофонная консоль 30'",
        version, L"© 2023–2026 Разработчики программы «Сонвар». Все права защищены.", kWebAddress));
}

void AboutDialog::textOnLeftUp(wxMouseEvent& event) {
    event.Skip();  // the text field still ends its selection
    if (m_outside.now() - m_lastUrlTime < kClickWindow) m_outside.openLink(m_lastUrl);
}

void AboutDialog::textOnTextUrl(wxTextUrlEvent& event) {
    FRM_ASSERT_GUI_THREAD();
    event.Skip();
    m_lastUrl = text->GetRange(event.GetURLStart(), event.GetURLEnd());
    m_lastUrlTime = m_outside.now();
}

void AboutDialog::helpOnButtonClick(wxCommandEvent&) {
    const std::wstring path = m_programFolder + L"/manual.pdf";
    LOG_DEBUG(L"showing help, path %1%", path);
    m_outside.openDocument(path);
}

void AboutDialog::checkUpdateOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::AboutDialog::checkUpdateOnButtonClick");
    if (m_outside.hasInternet())
        ui::messageBox(L"Обновление программы отключено", L"Сообщение", wxOK | wxCENTRE);
    else
        ui::messageBox(L"Нет доступа к интернету", L"Внимание", wxOK | wxCENTRE);
}

}  // namespace frm
