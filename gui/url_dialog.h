#pragma once

#include <string>
#include <vector>

#include "gui/layout/url_dialog.h"

namespace frm {

/// Asks for an internet-radio station: a name and a stream address, the
/// address field offering the addresses accepted before (url_history.h).
/// The caller's two texts are filled in on "Сохранить" as typed, blanks
/// included; the dialog ends with OK only when both are non-empty. The
/// history file is read when the dialog is built and written when it is
/// destroyed after ending with OK. Built for one modal showing; GUI thread
/// only.
class UrlDialog : public fb::UrlDialog {
public:
    /// `historyPath`: the data folder + "/UrlDialog.history".
    UrlDialog(wxWindow* parent, const wxString& title, std::wstring& url, std::wstring& name,
              const std::wstring& historyPath);
    ~UrlDialog() override;

protected:
    void okOnButtonClick(wxCommandEvent& event) override;
    void cancelOnButtonClick(wxCommandEvent& event) override;

private:
    std::wstring& m_url;
    std::wstring& m_name;
    const std::wstring m_historyPath;
    std::vector<std::wstring> m_history;
};

}  // namespace frm
