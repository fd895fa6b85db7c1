#include "gui/source_scheduler_panel.h"

namespace frm {

SourceSchedulerPanel::SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr,
                                           boost::shared_ptr<device::DeviceCollection>)
    : wxPanel(parent), m_core(std::make_unique<scheduler::Core>()) {}

void SourceSchedulerPanel::load(const std::wstring&) {}
void SourceSchedulerPanel::saveToFile(const std::wstring&) {}
void SourceSchedulerPanel::shutdown() { m_core->stop(); }
bool SourceSchedulerPanel::isUsedDevice(const boost::shared_ptr<device::DeviceBase>&) { return false; }
void SourceSchedulerPanel::setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>&) {}
void SourceSchedulerPanel::resetControls() {}
void SourceSchedulerPanel::renamePlaylist(const std::wstring&, const std::wstring&) {}
bool SourceSchedulerPanel::existPlaylist(const std::wstring&) { return false; }

}  // namespace frm
