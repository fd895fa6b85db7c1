#include "gui/source_service_panel.h"

namespace frm {

SourceServicePanel::SourceServicePanel(wxWindow* parent, bool) : wxPanel(parent) {}

void SourceServicePanel::load(const std::wstring&) {}
void SourceServicePanel::save(const std::wstring&) {}
bool SourceServicePanel::isMessageUsed(const std::wstring&) { return false; }
void SourceServicePanel::fillGongChoice() {}
void SourceServicePanel::scanMessageDirectories() {}
void SourceServicePanel::refreshChoices() {}
std::vector<boost::shared_ptr<IPlayback>> SourceServicePanel::collectTracks() { return {}; }

}  // namespace frm
