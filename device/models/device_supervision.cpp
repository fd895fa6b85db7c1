// The collection's control thread: online checks every tick, the duplicate
// address check every thirtieth, and the one search for lost devices.
#include <set>

#include <boost/thread/locks.hpp>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/device_collection.h"
#include "device/models/probe_failures.h"
#include "os/network_interface.h"
#include "os/network_probe.h"
#include "os/pinger.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> CollectionLock;

bool hasKnownAddress(const DeviceBase& device) { return device.getIp().isValid(); }

/// The operator's name of an address no device can have.
const wchar_t* faultText(AddressFault fault) {
    switch (fault) {
        case AddressFault::ThisNetwork: return L"адрес из сети 0.0.0.0/8";
        case AddressFault::Multicast: return L"групповой адрес (224.0.0.0/4)";
        case AddressFault::Reserved: return L"зарезервированный или широковещательный адрес (240.0.0.0/4)";
        case AddressFault::None: break;
    }
    return L"";
}

/// One notice per cause of a search's failed probes, for the causes the
/// gate lets through; the devices one by one are in the log already.
void tellProbeFailures(ProbeNoticeGate& gate, const ProbeFailures& failures) {
    for (const ProbeFailures::Summary& summary : gate.select(failures)) {
        const std::uint64_t count = summary.count;
        if (summary.cause.fault == AddressFault::None)
            LOG_WARN(L"Пробный пакет не отправлен устройствам (%1%): %2%. Например: %3%", count,
                     summary.cause.error, joinedExamples(summary));
        else
            LOG_WARN(L"Устройства с недопустимым адресом (%1%): %2%; пробный пакет им не отправлен. Например: %3%",
                     count, faultText(summary.cause.fault), joinedExamples(summary));
    }
}

}  // namespace

void DeviceCollection::controlTimeoutThread() {
    LOG_TRACE(L"%1%", L"start thread controlTimeoutThread()");
    try {
        boost::this_thread::sleep_for(boost::chrono::milliseconds(m_timing.startDelay.count()));
        int tickCount = 0;
        bool firstTick = true;
        bool someOffline = false;
        while (!boost::this_thread::interruption_requested()) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(m_timing.tick.count()));
            try {
                const DeviceList copy = copyDevices();
                tick(tickCount, someOffline, copy);
                ++tickCount;
                if (firstTick) {
                    firstTick = false;
                    if (copy.empty()) findLostDevices(true);
                    else if (someOffline) findLostDevices(false);
                }
            } catch (const exception::Base& e) {
                // Any failure of our own family is of this tick only (a device
                // that can't be reached, an interface that went away): the
                // supervision goes on, and a first tick is tried again.
                LOG_WARN(L"Неподходящее состояние в потоке управления [%1%]", std::string(e.what()));
            }
        }
    } catch (const boost::thread_interrupted&) {
    } catch (const std::exception& e) {
        LOG_FATAL(L"Поймано исключение в потоке управления [%1%]", std::string(e.what()));
        try {
            debug::stopProgram();
        } catch (const exception::StopProgram&) {
            // The thread can't hand the stop to the main loop by throwing; the
            // log carries the FATAL line and the thread ends.
        }
    }
    LOG_TRACE(L"%1%", L"end thread controlTimeoutThread()");
}

void DeviceCollection::tick(int tickCount, bool& someOffline, const DeviceList& copy) {
    for (const auto& device : copy)
        if (hasKnownAddress(*device)) device->checkOnline(false);
    if (m_timing.duplicateCheckEvery > 0 && tickCount % m_timing.duplicateCheckEvery == 0)
        checkDuplicates(copy, someOffline);
}

void DeviceCollection::checkDuplicates(const DeviceList& devices, bool& someOffline) {
    std::set<net::IpAndPort> online;
    for (const auto& entry : devices) {
        const DeviceBase& device = *entry;
        const net::IpAndPort address = device.getIp();
        if (!address.isValid()) continue;
        if (!device.isOnline()) {
            someOffline = true;
            continue;
        }
        if (!online.insert(address).second)
            LOG_ERROR(L"Сетевой адрес '%2%' устройства '%1%' совпадает с другим устройством", device.getTitle(),
                      address.getWideText());
    }
    std::set<net::IpAndPort> offline;
    for (const auto& entry : devices) {
        DeviceBase& device = *entry;
        const net::IpAndPort address = device.getIp();
        if (!address.isValid() || device.isOnline()) continue;
        // A silent device that shares its address with another one is not
        // probed there: its own next packet tells the address again.
        if (offline.count(address) || online.count(address)) device.setIp(net::IpAndPort());
        offline.insert(address);
    }
}

bool DeviceCollection::findLostDevices(bool all) {
    std::string interfaceIp;
    std::uint16_t basePort = 0;
    DeviceList devices;
    {
        CollectionLock lock(m_lock);
        interfaceIp = m_interfaceIp;
        basePort = m_basePort;
        devices = copyDevices();
    }
    if (interfaceIp.empty()) return false;
    boost::thread(&DeviceCollection::searchThread, interfaceIp, basePort, std::move(devices), m_probeNotices)
        .detach();
    if (!all) return true;
    checkLink(interfaceIp);
    return os::findLostDevices(interfaceIp, basePort);
}

void DeviceCollection::searchThread(std::string interfaceIp, std::uint16_t basePort, DeviceList devices,
                                    boost::shared_ptr<ProbeNoticeGate> notices) {
    if (interfaceIp.empty() || basePort == 0) return;
    ProbeFailures failures;
    for (const auto& device : devices) {
        if (device->isOnline()) continue;
        findLostDevice(interfaceIp, basePort, device, &failures);
    }
    if (notices) tellProbeFailures(*notices, failures);
}

bool DeviceCollection::findLostDevice(const std::string& interfaceIp, std::uint16_t basePort,
                                      const boost::shared_ptr<DeviceBase>& device, ProbeFailures* failures) {
    const net::IpAndPort address = device->getIp();
    if (device->isOnline() || !address.isValid()) return false;
    LOG_TRACE(L"find lost device with id=%1%", device->getId());
    ProbeCause cause;
    cause.fault = addressFault(address.getAddress());
    if (cause.fault != AddressFault::None) {
        LOG_EXTERN(L"The device '%1%' has the address %2%, which no device can have; it isn't probed",
                   device->getTitle(), std::string(address.getText()));
    } else {
        if (os::sendProbe(interfaceIp, address.getText(), basePort, cause.error)) return true;
        LOG_EXTERN(L"An empty datagram to the device '%1%' at %2%:%3% isn't sent: %4%", device->getTitle(),
                   std::string(address.getText()), basePort, cause.error);
    }
    if (failures != nullptr)
        failures->add(cause, device->getTitle() + L" (" + base::toWide(address.getText()) + L")");
    return false;
}

void DeviceCollection::checkLink(const std::string& interfaceIp) {
    std::string gateway;
    try {
        gateway = os::getNetworkInterfaceByIp(interfaceIp).gateway;
    } catch (const exception::Base& e) {
        // The interface chosen at start may be gone (or be loopback, which
        // the list skips): only this log line depends on it.
        LOG_WARN(L"No network interface with ip '%1%' to check the link: %2%", interfaceIp, std::string(e.what()));
        return;
    }
    if (gateway.empty()) return;
    if (os::pingGateway(interfaceIp))
        LOG_INFO(L"Удалённый узел ответил (сеть доступна)");
    else
        LOG_DEBUG(L"The Sonvar has no connection to the network with ip '%1%'.", interfaceIp);
}

}  // namespace device
