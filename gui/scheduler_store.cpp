#include "gui/scheduler_store.h"

#include <algorithm>
#include <boost/algorithm/string/join.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/pointer_cast.hpp>
#include <cwctype>

#include "audio/playback.h"
#include "audio/player_channel.h"
#include "base/check.h"
#include "base/exception.h"
#include "base/files.h"
#include "base/hardware_address.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/storage.h"
#include "base/text.h"
#include "base/text_checks.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "gui/scheduler_checks.h"
#include "gui/scheduler_vault.h"
#include "scheduler/core.h"

namespace frm {

namespace {

using boost::property_tree::wptree;
using scheduler::task::DataVault;

// The page's own places: the lines are the scheduler page's.
constexpr base::LogPlace kLoad("frm::SourceSchedulerPanel::load");
constexpr base::LogPlace kSave("frm::SourceSchedulerPanel::save");

/// Comments and attributes read from the file: kept, never taken for tasks.
bool isMarkup(const std::wstring& key) { return !key.empty() && key.front() == L'<'; }

bool fileExists(const std::wstring& path) {
    boost::system::error_code ec;
    return boost::filesystem::is_regular_file(base::toUtf8(path), ec);
}

/// Six parts of one or two hexadecimal digits joined by ":", read without
/// the address class's WARN for a bad text (the file's texts are the
/// operator's to keep, not a device's fault).
bool looksLikeHardwareAddress(const std::wstring& text) {
    std::size_t at = 0;
    for (int part = 0; part < 6; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != L':')) return false;
        std::size_t digits = 0;
        while (at < text.size() && digits < 3 && std::iswxdigit(text[at]) && text[at] < 0x80) ++at, ++digits;
        if (digits == 0 || digits > 2) return false;
    }
    return at == text.size();
}

std::wstring loadError(const std::wstring& object, const std::wstring& content) {
    return L"Ошибка загрузки настроек. Объект '" + object + L"', контент '" + content + L"'";
}

}  // namespace

SchedulerStore::SchedulerStore(scheduler::Core& core, scheduler::task::Environment environment,
                               boost::shared_ptr<device::DeviceCollection> devices, Hooks hooks)
    : m_core(core),
      m_environment(std::move(environment)),
      m_devices(std::move(devices)),
      m_hooks(std::move(hooks)) {}

void SchedulerStore::setSources(std::vector<boost::shared_ptr<PlaybackCollection>> sources) {
    m_sources = std::move(sources);
}

void SchedulerStore::release() {
    m_sources.clear();
    m_devices.reset();
}

std::pair<std::uint32_t, std::uint32_t> SchedulerStore::takeTaskIds() {
    const std::uint32_t start = m_taskIdCounter + 1;
    m_taskIdCounter += 2;
    return {start, start + 1};
}

void SchedulerStore::setStartEvent(const TaskPtr& task, const boost::shared_ptr<IPlayback>& playback) const {
    if (auto track = boost::dynamic_pointer_cast<PlaybackTrack>(playback)) {
        // Weak: the event lives in the task, and the core hands a copy of it
        // to a worker, which may run it after the task was erased.
        std::weak_ptr<scheduler::task::BaseTask> weakTask = task;
        task->setEvent([weakTask, track, check = m_hooks.checkPlaybackAndTask] {
            const TaskPtr alive = weakTask.lock();
            if (!alive) {
                LOG_DEBUG(L"%1%",
                          L"scheduler: the message task was removed before its turn; nothing is played");
                return;
            }
            if (check) check(track, alive);
        });
        return;
    }
    task->setEvent([playback] { playback->execute(); });
}

scheduler::task::Event SchedulerStore::stopEvent() {
    return [] {
        if (PlayerChannel* channel = PlayerChannel::instance())
            channel->stop();
        else
            LOG_EXTERN(L"scheduler: no player channel to stop");
    };
}

// ---- loading -----------------------------------------------------------------------

bool SchedulerStore::load(const std::wstring& path) {
    kLoad.info(L"Начало загрузки заданий планировщика...");
    wptree document;
    boost::system::error_code ec;
    const bool existed = boost::filesystem::exists(base::toUtf8(path), ec);
    if (!storage::load(path, document)) {
        // A damaged file is renamed by the reader, whose one warning tells
        // the operator where the tasks are kept.
        if (existed && !boost::filesystem::exists(base::toUtf8(path), ec))
            kLoad.info(L"Задания планировщика из файла '%1%' не загружены: файл повреждён", path);
        else
            kLoad.external(L"Skip load scheduler settings");
        return false;
    }
    const auto root = document.get_child_optional(L"scheduler_v2");
    if (!root) {
        kLoad.external(L"Skip loading old version of scheduler config");
        // The shutdown save would write over it: kept for the operator.
        if (!document.empty()) storage::setAside(path, "no element scheduler_v2");
        return false;
    }
    if (root->count(L"task") == 0) {
        kLoad.external(L"Skip load scheduler settings");
        return false;
    }

    std::vector<std::wstring> errors;
    // Elements damaged in themselves, each by its place in the file: told
    // once for the file, apart from the tasks whose sources are missing.
    std::vector<std::wstring> damaged;
    int number = 0;
    for (auto element = root->begin(); element != root->end(); ++element) {
        if (isMarkup(element->first)) {
            m_kept.emplace_back(element->first, element->second);
            continue;
        }
        ++number;
        try {
            std::wstring damage;
            if (!loadTask(element->second, errors, damage))
                m_kept.emplace_back(element->first, element->second);
            if (!damage.empty()) {
                kLoad.info(L"Задание №%1% файла '%2%' повреждено: %3%", number, path, damage);
                damaged.push_back(L"задание №" + std::to_wstring(number) + L": " + damage);
            }
        } catch (const exception::StopProgram&) {
            throw;
        } catch (const std::exception& e) {
            kLoad.error(L"Ошибка загрузки заданий планировщика (%1%)", std::string(e.what()));
            // This element and the unread ones go back into the file as they are.
            for (; element != root->end(); ++element) m_kept.emplace_back(element->first, element->second);
            break;
        }
    }

    if (!damaged.empty())
        kLoad.warn(
            L"Файл заданий планировщика '%1%' повреждён (%2%): эти задания не загружены и остаются в файле",
            path, boost::algorithm::join(damaged, L"; "));
    if (!errors.empty()) {
        std::wstring text = L"Неверный формат данных. Задания планировщика не удалось загрузить, кол-во: " +
                            std::to_wstring(errors.size());
        for (std::size_t i = 0; i < errors.size(); ++i)
            text += L"\n" + std::to_wstring(i + 1) + L". " + errors[i];
        kLoad.error(L"%1%", text);
    }
    return true;
}

bool SchedulerStore::loadTask(const wptree& element, std::vector<std::wstring>& errors,
                              std::wstring& damage) {
    kLoad.info(L"Получение заданий из настроек...");
    // A missing element or a bad text damages this task alone.
    const auto text = [&](const wptree& node, const wchar_t* key) {
        const auto found = node.get_child_optional(key);
        if (!found && damage.empty()) damage = L"нет элемента '" + std::wstring(key) + L"'";
        return found ? found->data() : std::wstring();
    };
    const std::wstring type = text(element, L"type");
    const std::wstring startDate = text(element, L"startDate");
    const std::wstring startTime = text(element, L"startTime");
    std::wstring finalDate = text(element, L"finalDate");
    const std::wstring stopTime = text(element, L"stopTime");
    const std::wstring enableText = text(element, L"enable");
    if (!damage.empty()) return false;
    const auto enableFlag = element.get_optional<bool>(L"enable");
    if (!enableFlag) {
        damage = L"неверное значение '" + enableText + L"' элемента 'enable'";
        return false;
    }
    const bool enable = *enableFlag;
    const bool hasStop = !stopTime.empty();

    const auto playbackNode = element.get_child_optional(L"playback");
    if (!playbackNode) {
        errors.push_back(L"Playback section not found");
        kLoad.external(L"Scheduler: Skip loading task (type '%1%')", type);
        return false;
    }
    const std::wstring placeName = text(*playbackNode, L"placeName");
    const std::wstring subPlaceName = text(*playbackNode, L"subPlaceName");
    if (!damage.empty()) return false;
    kLoad.info(L"Применение полученных заданий...");

    const auto group = std::find_if(m_sources.begin(), m_sources.end(), [&](const auto& source) {
        return source && source->getKey() == placeName;
    });
    if (group == m_sources.end()) {
        const std::wstring error = loadError(placeName, subPlaceName);
        errors.push_back(error);
        kLoad.external(L"Scheduler: Error search place name, '%1%'", error);
        return false;
    }
    const std::wstring error = loadError((*group)->getTitle(), subPlaceName);
    const std::vector<boost::shared_ptr<IPlayback>> playbacks = (*group)->getAll();
    const auto found = std::find_if(playbacks.begin(), playbacks.end(), [&](const auto& playback) {
        return playback->getName() == subPlaceName;
    });
    if (found == playbacks.end()) {
        errors.push_back(error);
        kLoad.external(L"Scheduler: Error search sub place name '%1%'", error);
        return false;
    }

    const boost::shared_ptr<IPlayback> copy = (*found)->clone();
    if (const auto track = boost::dynamic_pointer_cast<PlaybackTrack>(copy)) {
        // The copy is no task's yet, so it may take the stored path to
        // resolve it in the folder its alarm flag names.
        track->setMessage(track->getMessageName(), playbackNode->get(L"messagePath", std::wstring()));
        const std::wstring message = track->messageDir();
        track->setGong(track->getGongName(), playbackNode->get(L"gongPath", std::wstring()));
        const std::wstring gong = scheduler::resolvedGongPath(*track);
        if (message.empty() || !fileExists(message) || (!gong.empty() && !fileExists(gong))) {
            kLoad.external(L"Scheduler: Skip loading task (type '%1%', message '%2%', gong '%3%')", type,
                           message, gong);
            errors.push_back(error);
            return false;
        }
        track->setMessage(playbackNode->get(L"messageName", std::wstring()), message);
        track->setGong(playbackNode->get(L"gongName", std::wstring()), gong);
    }

    const auto deviceList = playbackNode->get_child_optional(L"devices");
    if (!deviceList) {
        damage = L"нет элемента 'devices'";
        return false;
    }
    DeviceSet devices;
    std::vector<std::wstring> unresolved;
    for (const auto& [key, node] : *deviceList) {
        if (isMarkup(key)) continue;
        const std::wstring& address = node.data();
        if (!looksLikeHardwareAddress(address)) {
            kLoad.external(L"Scheduler: skip adding device. hardware address isn't valid");
            unresolved.push_back(address);
            continue;
        }
        boost::shared_ptr<device::OrvelInfo> orvel;
        if (m_devices) orvel = m_devices->searchForOrvel(net::HardwareAddress(base::toUtf8(address)));
        if (!orvel) {
            kLoad.external(L"Scheduler: skip adding device. device not found into collection");
            unresolved.push_back(address);
            continue;
        }
        devices.insert(orvel);
    }

    const auto [startId, stopId] = takeTaskIds();
    if (type != L"once" && type != L"daily") {
        damage = L"неизвестный тип задания '" + type + L"'";
        return false;
    }
    // Checked here, before the tasks read them, so that a bad text is told
    // as this element's damage.
    if (!parseDate(startDate) || !parseTime(startTime)) {
        damage = L"неверные дата или время начала '" + startDate + L" " + startTime + L"'";
        return false;
    }
    if (type == L"daily" && !finalDate.empty() && !parseDate(finalDate)) {
        damage = L"неверная дата окончания '" + finalDate + L"'";
        return false;
    }
    if (type == L"daily" && hasStop && !parseTime(stopTime)) {
        damage = L"неверное время остановки '" + stopTime + L"'";
        return false;
    }
    TaskPtr start;
    TaskPtr stop;
    if (type == L"once") {
        start = std::make_shared<scheduler::task::Once>(startId, startDate, startTime,
                                                        scheduler::task::Event(), m_environment);
        finalDate = startDate;
    } else {
        start = std::make_shared<scheduler::task::Daily>(startId, startDate, startTime, finalDate,
                                                         scheduler::task::Event(), m_environment);
        if (hasStop)
            stop = std::make_shared<scheduler::task::Daily>(stopId, startDate, stopTime, finalDate,
                                                            stopEvent(), m_environment);
    }
    setStartEvent(start, copy);

    copy->setDevices(devices);
    DataVault vault;
    vault.playback = copy;
    vault.startDate = startDate;
    vault.finalDate = finalDate;
    vault.startTime = startTime;
    vault.stopTime = stopTime;
    vault.deviceIds = m_hooks.deviceIds ? m_hooks.deviceIds(copy) : std::vector<std::uint32_t>();
    // A one-shot task never gets a stop task, whatever its stop time says.
    vault.stopTaskId = stop ? stopId : scheduler::task::kNoStopTask;
    vault.isStopTask = false;
    vault.unresolvedDevices = unresolved;
    scheduler::task::setVault(*start, vault);
    if (stop) {
        vault.stopTaskId = 0;
        vault.isStopTask = true;
        scheduler::task::setVault(*stop, vault);
    }

    start->enable(enable);
    debug::throwIfFalse(m_core.putTask(start), kLoad.text(), L"Failure to add a startTask");
    kLoad.info(L"Добавлено задание №%1%", startId);
    if (stop) {
        stop->enable(enable);
        if (!m_core.putTask(stop)) {
            // The element is kept as read: its start task must not be saved twice.
            m_core.erase(startId);
            debug::throwIfFalse(false, kLoad.text(), L"Failure to add startTask at end");
        }
        kLoad.debug(L"Добавлено задание окончания №%1%", stopId);
    }
    return true;
}

// ---- saving ------------------------------------------------------------------------

wptree SchedulerStore::tree() const {
    wptree document;
    wptree& root = document.add_child(L"scheduler_v2", wptree());
    for (const auto& [id, task] : m_core.getTasks()) {
        const auto* base = dynamic_cast<const scheduler::task::BaseTask*>(task.get());
        if (base == nullptr) continue;  // only this page puts tasks into its core
        if (scheduler::task::getVault(*base).isStopTask) continue;
        wptree& element = root.push_back({L"task", wptree()})->second;
        const bool once = dynamic_cast<const scheduler::task::Once*>(base) != nullptr;
        element.put(L"type", once ? L"once" : L"daily");
        save(*base, element);
    }
    for (const auto& [key, kept] : m_kept) root.push_back({key, kept});
    return document;
}

void SchedulerStore::saveToFile(const std::wstring& path) const { storage::save(path, tree()); }

void SchedulerStore::save(const scheduler::task::BaseTask& task, wptree& node) {
    const DataVault vault = scheduler::task::getVault(task);
    node.push_back({L"startDate", wptree(vault.startDate)});
    node.push_back({L"finalDate", wptree(vault.finalDate)});
    node.push_back({L"startTime", wptree(vault.startTime)});
    node.push_back({L"stopTime", wptree(vault.stopTime)});
    node.push_back({L"enable", wptree(task.isEnabled() ? L"true" : L"false")});
    if (!vault.playback) {
        kSave.error(L"Возникла ошибка во время сохранения задания №%1%", task.getId());
        return;
    }
    wptree& playback = node.push_back({L"playback", wptree()})->second;
    playback.push_back({L"placeName", wptree(vault.playback->getCollection()->getKey())});
    playback.push_back({L"subPlaceName", wptree(vault.playback->getName())});
    if (const auto track = boost::dynamic_pointer_cast<PlaybackTrack>(vault.playback)) {
        // Resolved on copies: the track belongs to a task whose event may
        // read it on a worker at this moment.
        playback.push_back({L"messageName", wptree(track->getMessageName())});
        playback.push_back({L"messagePath", wptree(track->messageDir())});
        playback.push_back({L"gongName", wptree(track->getGongName())});
        playback.push_back({L"gongPath", wptree(scheduler::resolvedGongPath(*track))});
    }
    // The device set is ordered by object; the file lists them by address,
    // so that the same tasks always give the same bytes.
    std::vector<std::wstring> addresses;
    for (const auto& device : vault.playback->getDevices())
        if (device) addresses.push_back(base::fromUtf8(device->getHardwareAddress().toCharArray()));
    std::sort(addresses.begin(), addresses.end());
    addresses.insert(addresses.end(), vault.unresolvedDevices.begin(), vault.unresolvedDevices.end());
    wptree& devices = playback.push_back({L"devices", wptree()})->second;
    for (const std::wstring& address : addresses) devices.push_back({L"devices", wptree(address)});
}

}  // namespace frm
