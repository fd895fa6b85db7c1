#pragma once

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <wx/panel.h>

namespace frm {

class IPlayback;

/// The service-message or alarm-message page, for now an empty panel that
/// answers the main window's calls with no work or empty results and reads
/// and writes no file. GUI thread only.
class SourceServicePanel : public wxPanel {
public:
    SourceServicePanel(wxWindow* parent, bool alarm);
    void load(const std::wstring& path);
    void save(const std::wstring& path);
    /// True when a message of the page uses the file.
    bool isMessageUsed(const std::wstring& path);
    void fillGongChoice();
    void scanMessageDirectories();
    void refreshChoices();
    std::vector<boost::shared_ptr<IPlayback>> collectTracks();
};

}  // namespace frm
