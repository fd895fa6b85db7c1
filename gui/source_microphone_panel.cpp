#include "gui/source_microphone_panel.h"

namespace frm {

SourceMicrophonePanel::SourceMicrophonePanel(wxWindow* parent, AlarmStateDisplay, ItemDataMap*) : wxPanel(parent) {}

void SourceMicrophonePanel::setMessageUseTests(MessageUseTest, MessageUseTest) {}
std::wstring SourceMicrophonePanel::recordDirectory() { return std::wstring(); }
void SourceMicrophonePanel::fillRecordList(const std::wstring&) {}
void SourceMicrophonePanel::fillGongChoice() {}
std::vector<boost::shared_ptr<IPlayback>> SourceMicrophonePanel::loadRecords() { return {}; }

}  // namespace frm
