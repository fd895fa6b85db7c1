#include "gui/source_scheduler_panel.h"

#include "audio/playback.h"
#include "base/log.h"
#include "device/models/orvel_info.h"
#include "gui/scheduler_checks.h"
#include "gui/scheduler_store.h"

namespace frm {

SourceSchedulerPanel::SourceSchedulerPanel(wxWindow* parent, ZoneElement::Ptr,
                                           boost::shared_ptr<device::DeviceCollection> devices,
                                           std::shared_ptr<scheduler::Clock> clock,
                                           scheduler::task::Environment environment)
    : wxPanel(parent), m_core(std::make_unique<scheduler::Core>(std::move(clock))) {
    scheduler::logTimeZone();
    SchedulerStore::Hooks hooks;
    hooks.checkPlaybackAndTask = [this](const boost::shared_ptr<PlaybackTrack>& track,
                                        const std::shared_ptr<scheduler::task::BaseTask>& task) {
        checkPlaybackAndTask(track, task);
    };
    hooks.deviceIds = [this](const boost::shared_ptr<IPlayback>& playback) {
        return playbackDeviceIds(playback);
    };
    m_store = std::make_unique<SchedulerStore>(*m_core, std::move(environment), std::move(devices),
                                               std::move(hooks));
}

// The core goes first: its thread and its tasks' events must not outlive
// the store and the page they call.
SourceSchedulerPanel::~SourceSchedulerPanel() { m_core.reset(); }

void SourceSchedulerPanel::load(const std::wstring& path) {
    if (!m_store->load(path)) return;
    refreshTaskListCtrl();
    LOG_INFO(L"%1%", L"Загрузка заданий планировщика завершена.");
}

void SourceSchedulerPanel::saveToFile(const std::wstring& path) { m_store->saveToFile(path); }

void SourceSchedulerPanel::save(const scheduler::task::BaseTask& task, boost::property_tree::wptree& node) {
    SchedulerStore::save(task, node);
}

void SourceSchedulerPanel::shutdown() {
    LOG_TRACE(L"%1%", L"frm::SourceSchedulerPanel::shutdown");
    m_store->release();
    m_core->clear();
    m_core->stop();
}

bool SourceSchedulerPanel::isUsedDevice(const boost::shared_ptr<device::DeviceBase>&) { return false; }

bool SourceSchedulerPanel::isUsed(const std::wstring& path) { return scheduler::isUsed(*m_core, path); }

void SourceSchedulerPanel::setPlaybacks(const std::vector<boost::shared_ptr<PlaybackCollection>>& sources) {
    m_store->setSources(sources);
}

void SourceSchedulerPanel::resetControls() {}
void SourceSchedulerPanel::refreshTaskListCtrl() {}

std::vector<std::uint32_t> SourceSchedulerPanel::playbackDeviceIds(
    const boost::shared_ptr<IPlayback>& playback) {
    std::vector<std::uint32_t> ids;
    if (!playback) return ids;
    for (const auto& device : playback->getDevices())
        if (device) ids.push_back(device->getId());
    return ids;
}

void SourceSchedulerPanel::checkPlaybackAndTask(const boost::shared_ptr<PlaybackTrack>& track,
                                                const std::shared_ptr<scheduler::task::BaseTask>& task) {
    if (!track || !task) {
        LOG_ERROR(L"%1%", L"Error of data. Playback or task is null.");
        return;
    }
    // Reads only: the track is shared with the task's record.
    LOG_INFO(L"scheduler: message task (id=%1%) is due, message '%2%', gong '%3%'", task->getId(),
             track->getMessagePath(), track->getGongPath());
}

void SourceSchedulerPanel::renamePlaylist(const std::wstring&, const std::wstring&) {}
bool SourceSchedulerPanel::existPlaylist(const std::wstring&) { return false; }

}  // namespace frm
