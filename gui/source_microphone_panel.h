#pragma once

#include <functional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <wx/panel.h>

namespace frm {

class IPlayback;
class ItemDataMap;

/// The microphone page, for now an empty panel that answers the main
/// window's calls with no work or empty results. GUI thread only.
class SourceMicrophonePanel : public wxPanel {
public:
    using AlarmStateDisplay = std::function<void(const std::wstring&)>;
    /// True when a message panel uses the recorded file.
    using MessageUseTest = std::function<bool(const std::wstring& path)>;

    SourceMicrophonePanel(wxWindow* parent, AlarmStateDisplay showAlarmState, ItemDataMap* registry);
    /// The use tests of the service and the alarm message pages.
    void setMessageUseTests(MessageUseTest service, MessageUseTest alarm);
    std::wstring recordDirectory();
    void fillRecordList(const std::wstring& folder);
    void fillGongChoice();
    std::vector<boost::shared_ptr<IPlayback>> loadRecords();
};

}  // namespace frm
