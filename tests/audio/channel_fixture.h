#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/make_shared.hpp>

#include "audio/channel_host.h"
#include "device/models/orvel_info.h"
#include "device/models/version_tables.h"
#include "device/transfer_protocol.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/orvel_config_model.h"
#include "tests/support/elapsed.h"
#include "tools/simulator/simulator.h"

// The channel tests: simulated loudspeakers on loopback over the real
// transport, the operator's selection and a stand-in GUI thread.

namespace channel_test {

using namespace std::chrono_literals;

using testing_support::waitUntil;

/// The operator's choice, set by the test.
class FakeSelection : public frm::DeviceSelection {
public:
    frm::DeviceSet selected, selectedZones, zones;
    frm::DeviceSet getSelectedDevices() override { return selected; }
    frm::DeviceSet getDevicesOfSelectedZones() override { return selectedZones; }
    frm::DeviceSet getDevicesOfZones() override { return zones; }
};

/// One thread standing in for the GUI thread: runs posted tasks in order,
/// all of them before it ends, and answers the Yes/No question as told.
class FakeGui : public frm::ChannelGui {
public:
    ~FakeGui() override {
        m_work.reset();
        m_thread.join();
    }
    bool exists() override { return alive.load(); }
    void post(boost::function<void()> task) override {
        if (alive) boost::asio::post(m_io, std::move(task));
    }
    bool askYesNo(const std::wstring&, const std::wstring& text) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            questions.push_back(text);
        }
        if (whileAsking) whileAsking();
        return answerYes;
    }
    std::thread::id id() const { return m_thread.get_id(); }

    std::atomic<bool> alive{true};
    bool answerYes = true;
    /// Runs on the asking thread before the answer: an operator who takes
    /// his time, while the test goes on.
    std::function<void()> whileAsking;
    std::vector<std::wstring> questions;

private:
    std::mutex m_mutex;
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work{m_io.get_executor()};
    std::thread m_thread{[this] { m_io.run(); }};
};

/// Simulated loudspeakers (index 18) and their objects; made after the
/// dispatcher exists, gone before it.
class Speakers {
public:
    Speakers() {
        m_transport = boost::make_shared<device::TransferProtocol>(0, "");
        m_transport->setAllResponseHandler(
            [this](const std::string& text, const net::IpAndPort& source) { return route(text, source); });
        m_transport->run();
        m_simulator.start();
    }
    ~Speakers() {
        m_transport->stop();
        m_simulator.stop();
    }

    /// A connected loudspeaker: it sends a state packet every second and has
    /// answered; its request log starts empty.
    /// `index`: the firmware generation (18: an Orvel-610; up to 8: an Orvel-510);
    /// `orvel611`: an Orvel-611 of that generation.
    boost::shared_ptr<device::OrvelInfo> add(int index = 18, bool orvel611 = false) {
        return attach([&](const std::string& hardware) {
            return std::make_unique<device::sim::OrvelBandModel>(hardware, index, orvel611);
        });
    }
    /// The same with settings a read can find ("get state", an Orvel-510's
    /// "config"): the loudspeaker hears the server's streams on the ports
    /// after `commandPort`.
    boost::shared_ptr<device::OrvelInfo> addWithSettings(std::uint16_t commandPort, int index = 18) {
        return attach([&](const std::string& hardware) {
            auto model = std::make_unique<device::sim::OrvelConfigModel>(hardware, index);
            model->values["srvPort"] = std::to_string(commandPort);
            model->values["ch0Port"] = std::to_string(commandPort + 1);
            model->values["ch1Port"] = std::to_string(commandPort + 2);
            return model;
        });
    }

    /// A loudspeaker of the model `make` gives for a hardware address.
    template <class MakeModel>
    boost::shared_ptr<device::OrvelInfo> attach(MakeModel make) {
        const unsigned n = static_cast<unsigned>(m_sims.size()) + 1;
        const std::string hardware = device::sim::Simulator::hardwareAddress(200 + n);
        // 250 a block of loopback addresses: 127.0.3.x, then 127.0.4.x...
        const std::string address =
            "127.0." + std::to_string(3 + (n - 1) / 250) + "." + std::to_string((n - 1) % 250 + 1);
        auto& sim = m_simulator.add(address, 0, make(hardware));
        auto object = device::OrvelInfo::create(
            n, device::kTypeOrvel610, net::HardwareAddress(hardware),
            net::IpAndPort(sim.endpoint().address().to_string(), sim.endpoint().port()), L"Громкоговоритель " +
            std::to_wstring(n), m_transport, [](boost::shared_ptr<device::DeviceBase>) {});
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_objects[object->getHardwareAddress()] = object;
        }
        m_sims[object] = &sim;
        sim.startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort()}, 1000ms);
        waitUntil([&] { return object->isOnlineAndAnswered(); });
        sim.clearReceived();
        return object;
    }

    device::sim::SimulatedDevice& sim(const boost::shared_ptr<device::OrvelInfo>& object) { return *m_sims.at(object); }

    /// Every reply of the loudspeaker leaves `delay` after its request, as
    /// from a loudspeaker that answers late; zero: on time again.
    void setReplyDelay(const boost::shared_ptr<device::OrvelInfo>& object, std::chrono::milliseconds delay) {
        device::sim::ReplyPolicy policy;
        policy.delay = delay;
        sim(object).setReplyPolicy(policy);
    }

    /// Requests other than the volume reads, in order.
    std::vector<std::string> requests(const boost::shared_ptr<device::OrvelInfo>& object) {
        std::vector<std::string> texts;
        for (const auto& d : sim(object).received()) {
            std::string text = d.text;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (!text.empty() && text != "get vol") texts.push_back(text);
        }
        return texts;
    }

    template <class F>
    void model(const boost::shared_ptr<device::OrvelInfo>& object, F change) {
        sim(object).withModel<device::sim::OrvelBandModel>([&](device::sim::OrvelBandModel& m) {
            change(m);
            return 0;
        });
    }

private:
    bool route(const std::string& text, const net::IpAndPort& source) {
        net::HardwareAddress address(0, 0);
        if (!device::DeviceBase::isStatePacket(text, address)) return false;
        boost::shared_ptr<device::OrvelInfo> object;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto found = m_objects.find(address);
            if (found != m_objects.end()) object = found->second;
        }
        if (object) object->parsePing(text, source);
        return true;
    }

    device::sim::Simulator m_simulator{2};
    boost::shared_ptr<device::TransferProtocol> m_transport;
    std::mutex m_mutex;
    std::map<net::HardwareAddress, boost::shared_ptr<device::OrvelInfo>> m_objects;
    std::map<boost::shared_ptr<device::OrvelInfo>, device::sim::SimulatedDevice*> m_sims;
};

}  // namespace channel_test
