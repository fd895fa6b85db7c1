// The firmware upgrade of DeviceBase: the checks on the caller's thread, the
// dispatcher job that starts the worker, and the worker thread itself.
#include <chrono>

#include <boost/thread/locks.hpp>
#include <boost/thread/thread.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"
#include "device/device_base.h"
#include "device/firmware/firmware_collection.h"
#include "device/firmware/firmware_selection.h"
#include "device/firmware/firmware_sender.h"

namespace device {

namespace {

/// How long a device may take to restart between two images, and how often
/// the worker looks.
constexpr std::chrono::seconds kRestartLimit{120};
constexpr int kRestartPollMs = 250;

void report(const DeviceBase::FirmwareProgress& progress, const boost::shared_ptr<DeviceBase>& device, int percent) {
    LOG_TRACE2(L"firmware upgrade progress %1%", percent);
    if (!progress) return;
    try {
        progress(device, percent);
    } catch (const std::exception& e) {
        LOG_ERROR(L"The firmware progress report failed: %1%", std::string(e.what()));
    }
}

}  // namespace

bool DeviceBase::upgradeFirmware(const std::string& file, FirmwareProgress progress, bool force) {
    return upgradeFirmware(FirmwareCollection::parse(file), std::move(progress), force);
}

bool DeviceBase::upgradeFirmware(boost::shared_ptr<FirmwareCollection> firmware, FirmwareProgress progress,
                                 bool force) {
    if (force) LOG_IMPOR(L"Started upgrading a firmware with the force option");
    if (!isOnlineAndAnswered()) {
        // The caller tells the operator; the refusal itself is only logged.
        LOG_INFO(L"The firmware of the device '%1%' isn't upgraded: it is offline", getTitle());
        return false;
    }
    if (m_upgrading.load()) {
        LOG_INFO(L"The firmware of the device '%1%' is being upgraded already", getTitle());
        return false;
    }
    if (!firmware) throw exception::UserResponse(L"incorrectFirmware", L"Файл не является прошивкой");
    const boost::shared_ptr<FirmwareCollection> picked = selectFirmware(
        *firmware, getVersion(), [this](boost::shared_ptr<IFirmware> image) { return isFirmwareSuitable(image); },
        force);
    if (!force && hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying");

    const boost::shared_ptr<DeviceBase> self = getThisBasePtr();
    if (!self) return false;
    bool idle = false;
    if (!m_upgrading.compare_exchange_strong(idle, true)) return false;  // another caller won the race
    {
        boost::lock_guard<boost::recursive_mutex> lock(m_lock);
        m_firmware = picked;
        m_firmwareProgress = progress;
    }
    LOG_INFO(L"Firmware upgrade of the device '%1%': %2% image(s), first '%3%'", getTitle(), picked->size(),
             picked->first()->getVersion().text);
    const std::uint32_t job = base::ThreadDispatcher::add(L"upgrade firmware", 0, [self, picked, progress] {
        try {
            self->m_upgradeWorker.start([device = self, picked, progress]() mutable {
                runUpgrade(std::move(device), picked, progress);
            });
        } catch (const std::exception& e) {
            LOG_ERROR(L"The firmware upgrade thread can't be started: %1%", std::string(e.what()));
            self->m_upgrading = false;
            report(progress, self, -1);
        }
    });
    if (job == 0) {
        m_upgrading = false;
        return false;
    }
    return true;
}

void DeviceBase::runUpgrade(boost::shared_ptr<DeviceBase> device, boost::shared_ptr<FirmwareCollection> firmware,
                            FirmwareProgress progress) {
    report(progress, device, 0);
    const FirmwareCollection::Image image = firmware->first();
    bool sent = false;
    try {
        FirmwareSender sender([&device](const std::string& request) { return device->transfer(request); },
                              [&](int percent) { report(progress, device, percent); });
        sender.send(*image);
        sent = true;
        LOG_INFO(L"The firmware '%1%' was taken by the device '%2%'", image->getVersion().text, device->getTitle());
    } catch (const std::exception& e) {
        LOG_ERROR(L"The firmware upgrade of the device '%1%' failed: %2%", device->getTitle(), std::string(e.what()));
    } catch (const boost::thread_interrupted&) {
        LOG_ERROR(L"The firmware upgrade of the device '%1%' was interrupted", device->getTitle());
    }
    if (sent) firmware->removeFirst();
    const bool more = sent && firmware->size() > 0;
    if (!more) device->m_upgrading = false;
    report(progress, device, sent ? 100 : -1);
    if (!more) return;

    // The device restarts with the new firmware before it can take the next
    // image. Waiting must not keep it alive: the program may end meanwhile.
    const boost::weak_ptr<DeviceBase> weak = device;
    device.reset();
    bool back = false;
    try {
        back = waitForRestart(weak);
    } catch (const boost::thread_interrupted&) {
        return;  // the device is being destroyed
    }
    device = weak.lock();
    if (!device) return;
    device->m_upgrading = false;
    if (!back) {
        LOG_WARN(L"The device '%1%' didn't come back after its upgrade; %2% more image(s) not sent",
                 device->getTitle(), firmware->size());
        return;
    }
    try {
        device->continueUpgrade();
    } catch (const std::exception& e) {
        LOG_ERROR(L"The firmware upgrade of the device '%1%' isn't continued: %2%", device->getTitle(),
                  std::string(e.what()));
    }
}

bool DeviceBase::waitForRestart(const boost::weak_ptr<DeviceBase>& weak) {
    const auto deadline = std::chrono::steady_clock::now() + kRestartLimit;
    bool wentOffline = false;
    while (std::chrono::steady_clock::now() < deadline) {
        boost::this_thread::sleep_for(boost::chrono::milliseconds(kRestartPollMs));
        const boost::shared_ptr<DeviceBase> device = weak.lock();
        if (!device) return false;
        if (!wentOffline) {
            wentOffline = !device->isOnline();
            continue;
        }
        if (!device->isOnline()) continue;
        try {
            // Its state packets say it runs; an answer makes it "answered" again.
            if (device->probeVolume()) return true;
        } catch (const exception::Base&) {
        }
    }
    return false;
}

}  // namespace device
