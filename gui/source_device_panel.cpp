#include "gui/source_device_panel.h"

namespace frm {

SourceDevicePanel::SourceDevicePanel(wxWindow* parent) : wxPanel(parent) {}

void SourceDevicePanel::load(const std::wstring&) {}
void SourceDevicePanel::save(const std::wstring&) {}
void SourceDevicePanel::stopThread() {}
void SourceDevicePanel::refreshDrives() {}
std::vector<std::wstring> SourceDevicePanel::getDrives() { return {}; }

}  // namespace frm
