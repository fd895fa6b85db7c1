// The device collection: state-packet intake, the registry and its lists.
// The control thread and the search for lost devices are in
// device_supervision.cpp.
#include "device/models/device_collection.h"

#include <memory>

#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/orvel_info.h"
#include "device/models/probe_failures.h"
#include "device/models/tovik_info.h"
#include "device/state_packet.h"
#include "device/transfer_protocol.h"
#include "device/version.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> CollectionLock;

std::string hardwareText(const net::HardwareAddress& address) { return address.toCharArray(); }

}  // namespace

DeviceCollection::DeviceCollection(boost::shared_ptr<TransferProtocol> transport, std::uint16_t basePort,
                                   const Timing& timing)
    : m_transport(std::move(transport)),
      m_basePort(basePort),
      m_timing(timing),
      m_probeNotices(boost::make_shared<ProbeNoticeGate>(timing.probeNoticeQuiet)) {}

boost::shared_ptr<DeviceCollection> DeviceCollection::create(boost::shared_ptr<TransferProtocol> transport,
                                                             std::uint16_t basePort, const Timing& timing) {
    boost::shared_ptr<DeviceCollection> self(new DeviceCollection(transport, basePort, timing));
    // The handlers don't own the collection: a datagram that arrives after
    // it is gone finds nothing to call and is left to the transport.
    const boost::weak_ptr<DeviceCollection> weak = self;
    if (transport) {
        transport->setAllResponseHandler([weak](const std::string& text, const net::IpAndPort& source) {
            const boost::shared_ptr<DeviceCollection> collection = weak.lock();
            return collection && collection->handleAllResponsesCallback(text, source);
        });
        transport->setUnknownResponseHandler(&DeviceCollection::handlerForUnknownResponsesCallback);
    }
    self->m_controlThread = boost::thread([raw = self.get()] { raw->controlTimeoutThread(); });
    return self;
}

DeviceCollection::~DeviceCollection() {
    stop();
}

void DeviceCollection::setStateChangedHandler(StateChangedHandler handler) {
    CollectionLock lock(m_lock);
    m_stateChangedHandler = std::move(handler);
    for (const auto& entry : m_devices) entry.second->setStateChangedHandler(m_stateChangedHandler);
}

void DeviceCollection::setNewDeviceHandler(NewDeviceHandler handler) {
    CollectionLock lock(m_lock);
    m_newDeviceHandler = std::move(handler);
}

void DeviceCollection::setInterfaceIp(const std::string& address) {
    CollectionLock lock(m_lock);
    m_interfaceIp = address;
}

// ---- transport callbacks ---------------------------------------------------------------------

bool DeviceCollection::handleAllResponsesCallback(const std::string& text, const net::IpAndPort& source) {
    net::HardwareAddress address(0u, 0u);
    Version version;
    if (!isStatePacket(text, address, version)) return false;
    // The responder must stay free to match replies: parsing goes to a job,
    // which finds the collection through a weak pointer (it may be gone).
    // The job holds one object with all it needs, the version as parsed here.
    struct Packet {
        boost::weak_ptr<DeviceCollection> collection;
        std::string text;
        net::IpAndPort source;
        net::HardwareAddress address;
        Version version;
    };
    const auto packet = std::make_shared<const Packet>(Packet{weak_from_this(), text, source, address, std::move(version)});
    base::ThreadDispatcher::add(L"parsing state packet", 0, [packet] {
        if (const boost::shared_ptr<DeviceCollection> collection = packet->collection.lock())
            collection->handleAllPingsCallback(packet->text, packet->source, packet->address, &packet->version);
    });
    return true;
}

bool DeviceCollection::handlerForUnknownResponsesCallback(const std::string& text, const net::IpAndPort& source) {
    LOG_DEBUG(L"handle unknown response for ip: %1% with response: %2%", source.getText(), text);
    return true;
}

// ---- registry -------------------------------------------------------------------------------------

void DeviceCollection::handleAllPingsCallback(const std::string& packet, const net::IpAndPort& source,
                                              const net::HardwareAddress& address, const Version* parsed) {
    if (!address.isValid()) {
        LOG_ERROR(L"Аппаратный адрес некорректен");
        return;
    }
    boost::shared_ptr<DeviceBase> device;
    NewDeviceHandler handler;
    {
        CollectionLock lock(m_lock);
        // The transport may still hand over a packet that was on its way
        // when the collection stopped.
        if (m_stopped) return;
        const auto found = m_devices.find(address);
        if (found != m_devices.end()) device = found->second;
        handler = m_newDeviceHandler;
    }
    Version own;
    if (parsed == nullptr) {
        if (!DeviceBase::parseStatePacketVersion(packet, own)) {
            LOG_EXTERN(L"Получен некорректный формат статусного пакета: %1%", packet);
            return;
        }
        parsed = &own;
    }
    const Version& version = *parsed;
    if (version.typeCode == 0) {
        LOG_EXTERN(L"Получен неизвестный тип устройства: '%1%'", version.typeCode);
        return;
    }
    if (device) {
        device->parsePing(packet, source);
        if (device->getTypeCode() != version.typeCode)
            LOG_ERROR(L"Тип устройства '%1%' несоответствует типу статусного пакета '%2%'.",
                      device->getFirmwareVersionTypeText(), toText(version.typeCode));
        return;
    }
    const std::wstring typeName = toText(version.typeCode);
    if (!handler) {
        LOG_WARN(L"Нет был установлен обработчик для новых устройств");
        return;
    }
    const std::wstring title = L"Новое устройство " + base::toWide(hardwareText(address));
    const std::uint32_t id = handler(typeName, address, title);
    if (!addDevice(id, typeName, address, net::Ip4Address("0.0.0.0"), title))
        LOG_ERROR(L"Устройство не было добавлено: %1%", packet);
}

boost::shared_ptr<DeviceBase> DeviceCollection::addDevice(std::uint32_t id, const std::wstring& typeName,
                                                          const net::HardwareAddress& address,
                                                          const net::Ip4Address& lastIp, const std::wstring& title) {
    LOG_TRACE(L"add device: id=%1%, hardware address '%2%', type '%3%' title '%4%'", id, hardwareText(address),
              typeName, title);
    if (!address.isValid() || id == kNoId) {
        LOG_WARN(L"Попытка добавить устройство с неправильным адресом или идентификатором");
        return boost::shared_ptr<DeviceBase>();
    }
    CollectionLock lock(m_lock);
    if (m_stopped) {
        LOG_DEBUG(L"device not added, the collection is stopped: id=%1%", id);
        return boost::shared_ptr<DeviceBase>();
    }
    const auto found = m_devices.find(address);
    if (found != m_devices.end()) {
        LOG_WARN(L"Повторная попытка добавления существующего устройства. [id=%1%, title='%2%', hw='%3%']", id, title,
                 hardwareText(address));
        return found->second;
    }
    const std::uint64_t typeCode = toFirmwareType(typeName);
    const net::IpAndPort endpoint(lastIp.getText(), m_basePort);
    boost::shared_ptr<DeviceBase> device;
    if (typeCode & kOrvelBit) {
        const boost::shared_ptr<OrvelInfo> loudspeaker =
            OrvelInfo::create(id, typeCode, address, endpoint, title, m_transport, m_stateChangedHandler);
        loudspeaker->setPacketGap(std::chrono::duration_cast<std::chrono::microseconds>(m_timing.packetGap).count());
        device = loudspeaker;
    } else if (typeCode & kTovikBit) {
        device = TovikInfo::create(id, address, endpoint, title, m_transport, m_stateChangedHandler);
    }
    if (!device) {
        LOG_ERROR(L"Ошибка добавления нового устройства. [id=%1%, type=%2%, hw=%3%, lastIp=%4%, title=%5%]", id,
                  typeName, hardwareText(address), lastIp.getText(), title);
        return device;
    }
    m_devices[address] = device;
    LOG_DEBUG(L"device added successfully: id=%1%, hardware address '%2%', type '%3%' title '%4%'", id,
              hardwareText(address), typeName, title);
    if (address.getHigh() != net::kMakerPrefix) LOG_DEBUG(L"%1%", L"Connected device is no the VARKO manufacturing");
    return device;
}

void DeviceCollection::remove(const net::HardwareAddress& address) {
    CollectionLock lock(m_lock);
    const auto found = m_devices.find(address);
    if (found == m_devices.end()) {
        LOG_EXTERN(L"Внутренняя ошибка. Устройство не было удалено. [hw=%1%]", hardwareText(address));
        return;
    }
    LOG_DEBUG(L"device removed: id=%1%, hw=%2%", found->second->getId(), hardwareText(address));
    // The object may live on a while (a give-back still talks through it, a
    // packet parsed as it left): what it still learns is no news to anyone.
    // A late report would file it again beside the object the collection
    // makes when the device's packets find it again.
    found->second->setStateChangedHandler(StateChangedHandler());
    m_devices.erase(found);
}

boost::shared_ptr<DeviceBase> DeviceCollection::searchFor(const net::HardwareAddress& address) {
    if (address.isValid()) {
        CollectionLock lock(m_lock);
        const auto found = m_devices.find(address);
        if (found != m_devices.end()) return found->second;
    } else {
        LOG_DEBUG(L"%1%", L"hardware address of device for search isn't correct");
    }
    LOG_TRACE(L"hardware address of device is not found: '%1%'", hardwareText(address));
    return boost::shared_ptr<DeviceBase>();
}

boost::shared_ptr<OrvelInfo> DeviceCollection::searchForOrvel(const net::HardwareAddress& address) {
    return boost::dynamic_pointer_cast<OrvelInfo>(searchFor(address));
}

namespace {

template <class T>
std::vector<boost::shared_ptr<T>> listOf(const DeviceCollection::DeviceList& devices, bool onlineOnly) {
    std::vector<boost::shared_ptr<T>> list;
    for (const auto& entry : devices) {
        boost::shared_ptr<T> device = boost::dynamic_pointer_cast<T>(entry);
        if (device && (!onlineOnly || device->isOnlineAndAnswered())) list.push_back(std::move(device));
    }
    return list;
}

}  // namespace

std::vector<boost::shared_ptr<OrvelInfo>> DeviceCollection::getOrvelList(bool onlineOnly) {
    return listOf<OrvelInfo>(copyDevices(), onlineOnly);
}

std::vector<boost::shared_ptr<TovikInfo>> DeviceCollection::getTovikList(bool onlineOnly) {
    return listOf<TovikInfo>(copyDevices(), onlineOnly);
}

std::vector<boost::shared_ptr<DeviceBase>> DeviceCollection::getDevices() {
    return listOf<DeviceBase>(copyDevices(), false);
}

DeviceCollection::DeviceList DeviceCollection::copyDevices() const {
    CollectionLock lock(m_lock);
    DeviceList devices;
    devices.reserve(m_devices.size());
    for (const auto& entry : m_devices) devices.push_back(entry.second);
    return devices;
}

void DeviceCollection::stop() {
    if (m_controlThread.joinable()) {
        m_controlThread.interrupt();
        m_controlThread.join();  // from the control thread itself: boost's deadlock error
    }
    CollectionLock lock(m_lock);
    m_stopped = true;
    for (const auto& entry : m_devices) entry.second->releaseAudioControl();
    m_devices.clear();
}

}  // namespace device
