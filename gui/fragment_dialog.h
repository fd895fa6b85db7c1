#pragma once

#include <string>

#include "gui/layout/fragment_dialog.h"

namespace frm {

/// Asks for a new fragment of a device's audio memory: a name and an MP3
/// file, which the device property panel then reads and stores. "..." picks
/// the file (and names the fragment after it while the name is empty);
/// "Сохранить" accepts only a path where a file exists, then hands both
/// texts back. Built for one modal showing; GUI thread only.
class FragmentDialog : public fb::FragmentDialog {
public:
    /// `name` and `path` are shown at first and receive the texts on OK.
    FragmentDialog(wxWindow* parent, std::wstring& name, std::wstring& path);

protected:
    void fileOnButtonClick(wxCommandEvent& event) override;
    void saveOnButtonClick(wxCommandEvent& event) override;
    void cancelOnButtonClick(wxCommandEvent& event) override;

private:
    std::wstring& m_name;
    std::wstring& m_path;
};

}  // namespace frm
