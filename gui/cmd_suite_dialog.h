#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gui/command_suites.h"
#include "gui/layout/cmd_suite_dialog.h"

namespace frm {

/// Saves, loads and deletes the named command suites of the device console
/// (command_suites.h). It knows nothing of devices: its owner, the device
/// property panel, hands it three callbacks, which stay valid while it is
/// shown: one empties the console's command rows, one receives lines to put
/// into them, one returns the current lines. A name that would leave the
/// suite folder is refused with a NOTICE. No OK or Cancel: the operator
/// closes it by its close box. Built for one modal showing; GUI thread only.
class CmdSuiteDialog : public fb::CmdSuiteDialog {
public:
    using ClearCallback = std::function<void()>;
    using ApplyCallback = std::function<void(std::vector<std::wstring>)>;
    using CollectCallback = std::function<std::vector<std::wstring>()>;

    /// `folder`: where the suites live, created when missing.
    CmdSuiteDialog(wxWindow* parent, ClearCallback clear, ApplyCallback apply, CollectCallback collect,
                   const std::wstring& folder = suiteFolder());

    /// <data folder>/commands
    static std::wstring suiteFolder();

protected:
    void clearOnButtonClick(wxCommandEvent& event) override;
    void deleteOnButtonClick(wxCommandEvent& event) override;
    void applyOnButtonClick(wxCommandEvent& event) override;
    void saveOnButtonClick(wxCommandEvent& event) override;

private:
    /// The name field's text into `suite`; false (with the NOTICE) when it
    /// is not a name of the folder.
    bool takeName(std::wstring& suite);
    void fillList();
    bool write(const std::wstring& suite, const std::vector<std::wstring>& lines);

    CommandSuiteFolder m_folder;
    ClearCallback m_clear;
    ApplyCallback m_apply;
    CollectCallback m_collect;
};

}  // namespace frm
