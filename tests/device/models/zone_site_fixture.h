#pragma once
// A device collection over real UDP that has discovered one of the
// simulator's zone sites: the devices' objects, their ordered request logs,
// and waits for the online state. Tests that use it open sockets (label net).
#include <chrono>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "tests/device/device_test_support.h"
#include "tests/device/models/collection_fixture.h"
#include "tools/simulator/zone_sites.h"

class ZoneSiteFixture : public CollectionFixture {
protected:
    typedef device_test::Requests Requests;
    typedef std::function<device::sim::ZoneSite(device::sim::Simulator&, const device::sim::SitePlan&)> Build;

    /// Builds the site, lets the collection discover it and waits until
    /// `answering` loudspeakers and consoles are online and answered (and
    /// the silent ones at least known); the request logs then start empty.
    void openSite(const Build& build, std::size_t answeringSpeakers, std::size_t answeringConsoles) {
        // Port 0: tests of this fixture run side by side in one namespace.
        site = build(simulator, device::sim::SitePlan{"127.0.6.1", 0, 0x5A0001});
        device::CollectionTiming timing;
        timing.startDelay = std::chrono::milliseconds(50);
        timing.tick = std::chrono::milliseconds(100);
        collection = device::DeviceCollection::create(transport, 22990, timing);
        collection->setNewDeviceHandler(
            [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return nextId++; });
        site.startStatePackets(server(), std::chrono::milliseconds(250));
        const std::size_t all = site.loudspeakers.size() + site.consoles.size();
        ASSERT_TRUE(device_test::waitUntil(
            [&] {
                return collection->getDevices().size() == all &&
                       collection->getOrvelList(true).size() == answeringSpeakers &&
                       collection->getTovikList(true).size() == answeringConsoles;
            },
            std::chrono::milliseconds(10000)));
        // The silent devices' own probes are over before the logs start.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        clearLogs();
    }

    boost::shared_ptr<device::OrvelInfo> speaker(std::size_t n) {
        return collection->searchForOrvel(net::HardwareAddress(site.loudspeakers.at(n).address));
    }
    boost::shared_ptr<device::TovikInfo> console(std::size_t n) {
        return boost::dynamic_pointer_cast<device::TovikInfo>(
            collection->searchFor(net::HardwareAddress(site.consoles.at(n).address)));
    }
    /// The requests of a device in order, without probes and audio memory.
    Requests speakerLog(std::size_t n) const {
        return device_test::requestsOf(*site.loudspeakers.at(n).device, false, false);
    }
    /// A console's requests without its configuration reads, which its
    /// gong upkeep may also send at any time.
    Requests consoleLog(std::size_t n) const {
        Requests log = device_test::requestsOf(*site.consoles.at(n).device, false, false);
        log.erase(std::remove(log.begin(), log.end(), "get state"), log.end());
        return log;
    }
    void clearLogs() {
        for (const auto& s : site.loudspeakers) s.device->clearReceived();
        for (const auto& c : site.consoles) c.device->clearReceived();
    }
    device::sim::TovikZoneModel::Zone simZone(std::size_t console, int zone) {
        return site.consoles.at(console).device->withModel<device::sim::TovikZoneModel>(
            [zone](device::sim::TovikZoneModel& m) {
                const auto found = m.zones.find(zone);
                return found == m.zones.end() ? device::sim::TovikZoneModel::Zone{} : found->second;
            });
    }
    std::size_t simZoneCount(std::size_t console) {
        return site.consoles.at(console).device->withModel<device::sim::TovikZoneModel>(
            [](device::sim::TovikZoneModel& m) { return m.zones.size(); });
    }
    static std::string hex(unsigned address) { return device::zoneAddressText(address); }
    unsigned consoleAddress(std::size_t n) const { return site.consoles.at(n).address; }
    const device::sim::SpeakerZoneStore& lists(std::size_t n) const { return *site.loudspeakers.at(n).zones; }
    /// Runs `call` and expects the refusal of the code word.
    static void expectUserResponse(const std::function<void()>& call, const std::wstring& codeWord) {
        try {
            call();
            ADD_FAILURE() << "no refusal";
        } catch (const exception::UserResponse& e) {
            EXPECT_EQ(e.getNotification(), codeWord);
        }
    }

    device::sim::ZoneSite site;
    std::uint32_t nextId = 100;
};
