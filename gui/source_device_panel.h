#pragma once

#include <string>
#include <vector>

#include <wx/panel.h>

namespace frm {

/// The removable-medium page, for now an empty panel that answers the main
/// window's calls with no work and reads and writes no file. GUI thread only.
class SourceDevicePanel : public wxPanel {
public:
    explicit SourceDevicePanel(wxWindow* parent);
    void load(const std::wstring& path);
    void save(const std::wstring& path);
    void stopThread();
    void refreshDrives();
    std::vector<std::wstring> getDrives();
};

}  // namespace frm
