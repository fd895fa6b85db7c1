#include "gui/url_dialog.h"

#include "base/log.h"
#include "gui/end_dialog.h"
#include "gui/gui_thread.h"
#include "gui/ui.h"
#include "gui/url_history.h"

namespace frm {

UrlDialog::UrlDialog(wxWindow* parent, const wxString& title, std::wstring& url, std::wstring& name,
                     const std::wstring& historyPath)
    : fb::UrlDialog(parent, wxID_ANY, L"topText", wxDefaultPosition, wxSize(523, 243),
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_url(url),
      m_name(name),
      m_historyPath(historyPath),
      m_history(url_history::read(historyPath)) {
    SetTitle(title);
    for (const std::wstring& entry : m_history) this->url->Append(entry);
    if (!m_history.empty()) this->url->SetSelection(0);
    if (!url.empty()) this->url->SetValue(url);
    if (!name.empty()) this->name->SetValue(name);
}

UrlDialog::~UrlDialog() {
    if (GetReturnCode() != wxID_OK) return;
    url_history::write(m_historyPath, url_history::afterAccepting(url->GetValue().ToStdWstring(), m_history));
}

void UrlDialog::okOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::UrlDialog::okOnButtonClick");
    FRM_ASSERT_GUI_THREAD();
    m_url = url->GetValue().ToStdWstring();
    m_name = name->GetValue().ToStdWstring();
    if (!m_url.empty() && !m_name.empty()) {
        endDialog(*this, wxID_OK);
        return;
    }
    ui::messageBox(L"Поля должны быть заполнены", L"Внимание", wxOK | wxCENTRE);
}

void UrlDialog::cancelOnButtonClick(wxCommandEvent&) {
    LOG_TRACE2(L"%1%(..)", L"frm::UrlDialog::cancelOnButtonClick");
    endDialog(*this, wxID_CANCEL);
}

}  // namespace frm
