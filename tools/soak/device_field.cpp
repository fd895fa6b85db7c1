#include "tools/soak/device_field.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "base/text.h"
#include "device/memory/memory_image.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/tovik_config_model.h"

namespace soak {

namespace {

// Firmware generations of the simulated loudspeakers, in turn; every
// twentieth device is a console.
constexpr int kOrvelIndices[] = {21, 19, 17, 16, 12, 9, 8, 5};
constexpr unsigned kConsoleEvery = 20;
constexpr auto kConfigReadPeriod = std::chrono::milliseconds(100);

/// What a device's audio memory holds in the soak: two short fragments and,
/// for a loudspeaker, a scenario that plays them (consoles keep none), in the
/// device's layout.
std::string memoryImage(std::uint16_t layout, bool console) {
    std::vector<device::memory::FragmentRecord> fragments(2);
    std::vector<std::shared_ptr<const std::string>> data;
    for (std::uint16_t i = 0; i < 2; ++i) {
        fragments[i].id = static_cast<std::uint16_t>(10 + i);
        fragments[i].title = L"Фрагмент " + std::to_wstring(i + 1);
        data.push_back(std::make_shared<const std::string>(2048 + i, static_cast<char>('a' + i)));
    }
    std::vector<device::memory::ScenarioInfo> scenarios;
    if (!console) {
        device::memory::ScenarioInfo scenario;
        scenario.id = 5;
        scenario.number = 1;
        scenario.title = L"Эвакуация";
        scenario.gongId = 10;
        scenario.messageId = 11;
        scenario.period = 30;
        scenarios.push_back(scenario);
    }
    return device::memory::encodeImage(layout, fragments, scenarios, data);
}

/// The layout of the audio memory a device of this version text has.
std::uint16_t memoryLayout(const std::string& versionText) {
    if (versionText.rfind("Orvel-510", 0) == 0) return device::memory::kLayout510;
    if (versionText.rfind("Orvel-610", 0) == 0) return device::memory::kLayout610;
    return device::memory::kLayout611;
}

}  // namespace

DeviceField::DeviceField(unsigned devices, const std::string& firstAddress, std::uint16_t basePort,
                         Tally& exceptions)
    : m_exceptions(exceptions) {
    m_transport = boost::make_shared<device::TransferProtocol>(0, "");
    m_transport->run();
    m_collection = device::DeviceCollection::create(m_transport, basePort);
    m_collection->setNewDeviceHandler(
        [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return m_nextId++; });
    for (unsigned n = 0; n < devices; ++n) {
        const auto address = device::sim::Simulator::loopbackAddress(firstAddress, n);
        if (!address) throw std::runtime_error("too many devices for 127.0.0.0/8");
        const std::string hardware = device::sim::Simulator::hardwareAddress(n + 1);
        std::unique_ptr<device::sim::CommandModel> model;
        const bool console = n % kConsoleEvery == kConsoleEvery - 1;
        if (console) {
            model = std::make_unique<device::sim::TovikConfigModel>(hardware);
            ++m_consoles;
        } else {
            const int index = kOrvelIndices[n % (sizeof kOrvelIndices / sizeof kOrvelIndices[0])];
            model = std::make_unique<device::sim::OrvelConfigModel>(hardware, index);
        }
        const std::uint16_t layout = memoryLayout(model->versionText());
        auto memory = std::make_shared<device::sim::AudioMemoryStore>(layout, 256 * 1024);
        memory->plant(memoryImage(layout, console));
        device::sim::AudioMemoryStore::install(memory, *model);
        m_simulator.add(*address, basePort, std::move(model)).setRecording(false);
    }
    m_simulator.start();
    const device::sim::Endpoint server(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort());
    // Spread over the second, as real devices are.
    for (unsigned n = 0; n < devices; ++n) {
        m_simulator.device(n).startStatePackets(server, std::chrono::milliseconds(1000));
        std::this_thread::sleep_for(std::chrono::microseconds(1000000 / std::max(devices, 1u)));
    }
    m_reader = std::thread([this] { readConfigurations(); });
}

DeviceField::~DeviceField() { stop(); }

void DeviceField::stop() {
    m_stop.set();
    if (m_reader.joinable()) m_reader.join();
    if (m_collection) m_collection->stop();
    m_transport->stop();
    m_simulator.stop();
}

std::size_t DeviceField::online() {
    return m_collection->getOrvelList(true).size() + m_collection->getTovikList(true).size();
}

void DeviceField::readConfigurations() {
    std::size_t next = 0;
    while (m_stop.waitFor(kConfigReadPeriod)) {
        const auto devices = m_collection->getDevices();
        // The next online device in map order.
        for (std::size_t tries = 0; tries < devices.size(); ++tries) {
            const auto& device = devices[next++ % devices.size()];
            if (!device->isOnlineAndAnswered()) continue;
            read(*device);
            break;
        }
    }
}

void DeviceField::read(device::DeviceBase& device) {
    try {
        device.readConfig(true);
        ++m_reads;
        return;
    } catch (const exception::Base& e) {
        m_exceptions.add("configuration read: " + base::toUtf8(e.getNotification() + L" / " + e.getDetails()));
    } catch (const std::exception& e) {
        m_exceptions.add(std::string("configuration read: ") + e.what());
    }
    ++m_failedReads;
}

}  // namespace soak
