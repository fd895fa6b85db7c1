// ctest-labels: net
// The device base class through a minimal model against a simulated device
// on loopback: the request layer, parameters, volume, reboot, the online
// bookkeeping on a hand-moved clock, and the audio-control cache.
#include <cstdio>
#include <future>

#include "base/clock.h"
#include "base/text.h"
#include "device/command.h"
#include "tests/device/device_test_support.h"
#include "tests/device/thrown.h"
#include "tests/support/elapsed.h"

using namespace std::chrono_literals;
using device::DeviceBase;
using device::memory::IAudioControl;
using device::sim::SimulatedDevice;
using device_test::endpointOf;
using Clock = std::chrono::steady_clock;
using device_test::notificationOf;
using device_test::responseOf;
using testing_support::msSince;

namespace {

/// The least model: volume in signed decibels as the Orvel-610 speaks it,
/// a clock the test may set, and counters of what the base called.
class TestDevice : public device_test::StubDevice {
public:
    using StubDevice::StubDevice;

    std::atomic<std::int64_t> clock{0};  // 0: the real clock
    std::atomic<int> resets{0};
    std::atomic<bool> playing{false};
    boost::function<boost::shared_ptr<IAudioControl>(bool)> creator;

    bool setVolume(std::uint32_t percent) override {
        const int level = percent == 0 ? -96 : -30 + static_cast<int>(percent) * 3 / 10;
        if (!request(device::formatCommand("set vol %i", level), nullptr, false)) return false;
        m_volume = static_cast<std::int32_t>(percent);
        return true;
    }
    bool hasInternalPlaying() override { return playing; }
    std::string getDebugInfo() override { return transfer("get dbg"); }
    void handleVolume(const std::string& reply) override {
        m_lastContactTime = now();
        int level = 0;
        char rest = 0;
        if (std::sscanf(reply.c_str(), "%i%c", &level, &rest) != 1) return;
        if (level == -96) {
            m_volume = 0;
            return;
        }
        m_volume = (std::min(std::max(level, -30), 0) + 30) * 10 / 3;
    }
    void resetCache() override {
        ++resets;
        DeviceBase::resetCache();
    }

    /// What a model does on a state packet: the loudspeaker sets the online
    /// flag, the console only the first-packet flag.
    void heard(std::int64_t at, bool setOnline = true) {
        m_lastContactTime = at;
        m_lastPacketTime = at;
        m_online = setOnline;
        m_firstPacket = true;
    }
    void setAnswered(bool answered) { m_answered = answered; }
    bool answered() const { return m_answered; }
    bool online() const { return m_online; }
    bool firstPacket() const { return m_firstPacket; }
    std::int32_t volume() const { return m_volume; }
    void setCachedVolume(std::int32_t volume) { m_volume = volume; }
    std::int64_t rebootTime() const { return m_rebootTime; }

protected:
    std::int64_t now() const override {
        const std::int64_t set = clock.load();
        return set != 0 ? set : DeviceBase::now();
    }
    boost::shared_ptr<IAudioControl> createAudioControl(bool allowOverwrite) override {
        return creator(allowOverwrite);
    }
};

class DeviceBaseTest : public device_test::UdpFixture {
protected:
    void SetUp() override {
        UdpFixture::SetUp();
        m_speaker = &m_simulator.addOrvel("127.0.0.2", 0, device::sim::Simulator::hardwareAddress(2));
        m_speaker->withModel<device::sim::CommandModel>([this](device::sim::CommandModel& model) {
            model.on("echo",
                     [](const std::string& text) { return std::optional<std::string>(" \t" + text + " \r\n"); });
            model.on("fail", [](const std::string&) { return std::optional<std::string>(" ERR refused"); });
            model.on("busy", [this](const std::string&) {
                return std::optional<std::string>(m_busyLeft-- > 0 ? DeviceBase::kBusyReply : "OK done");
            });
            model.on("set", [](const std::string& rest) {
                return std::optional<std::string>(rest.rfind("bad", 0) == 0 ? "ERR bad key" : "OK");
            });
            return 0;
        });
        m_device = makeDevice(endpointOf(*m_speaker));
    }
    boost::shared_ptr<TestDevice> makeDevice(const net::IpAndPort& endpoint) {
        auto device = boost::make_shared<TestDevice>(7, net::HardwareAddress(0x025653, 2), endpoint, L"", m_transport);
        device->setThisWeakPtr(device);
        return device;
    }
    /// The requests the device received, every one.
    std::vector<std::string> requests() const { return device_test::requestsOf(*m_speaker, true); }
    std::size_t sent(const std::string& request) const {
        const auto all = requests();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), request));
    }
    void silence() { m_speaker->setReplyPolicy({0, true}); }

    /// The calls in `list` once `expected` of them have come (or the wait
    /// has given up) and every job due since has run: a state change is
    /// notified by a job, and one too many queued by then shows too.
    template <class List>
    std::size_t settled(const List& list, std::size_t expected) {
        testing_support::waitUntil([&] { return list.size() >= expected; }, 3000ms);
        EXPECT_TRUE(waitForIdleDispatcher());
        return list.size();
    }

    SimulatedDevice* m_speaker = nullptr;
    boost::shared_ptr<TestDevice> m_device;
    std::atomic<int> m_busyLeft{0};
};

/// The devices a state-changed handler was called with.
struct Notifications : device_test::LockedList<boost::shared_ptr<DeviceBase>> {
    DeviceBase::StateChangedHandler handler() const {
        return [add = adder()](boost::shared_ptr<DeviceBase> device) { add(device); };
    }
};

}  // namespace

TEST_F(DeviceBaseTest, TransferTrimsSuccessAndKeepsTheRawRefusal) {
    const std::int64_t before = nowMicroseconds();
    EXPECT_EQ(m_device->transfer("echo 12:30 ok"), "12:30 ok");
    EXPECT_TRUE(m_device->answered());
    EXPECT_GE(m_device->getLastContactTime(), before) << "an answer is contact";
    EXPECT_TRUE(m_device->isOnline());

    EXPECT_EQ(responseOf<exception::UnexpectedResponseOfDevice>([&] { m_device->transfer("fail"); }), " ERR refused")
        << "an error reply throws";
    EXPECT_TRUE(m_device->answered()) << "a refusal is an answer";

    std::string reply;
    EXPECT_FALSE(m_device->request("fail", &reply, false));
    EXPECT_EQ(reply, " ERR refused") << "the raw answer reaches the caller";
    EXPECT_THROW(m_device->request("fail", nullptr, true), exception::UnexpectedResponseOfDevice);
    EXPECT_TRUE(m_device->request("echo x", &reply, true));
    EXPECT_EQ(reply, "x");
}

TEST_F(DeviceBaseTest, SilenceIsOfflineAndAnInvalidEndpointSendsNothing) {
    silence();
    const std::int64_t contact = m_device->getLastContactTime();
    auto start = Clock::now();
    EXPECT_THROW(m_device->transfer("echo x"), exception::Offline);
    EXPECT_GE(msSince(start), 2000) << "sent, resent after 1000 ms, given up";
    EXPECT_EQ(sent("echo x"), 2u);
    EXPECT_FALSE(m_device->answered());
    EXPECT_EQ(m_device->getLastContactTime(), contact);
    std::string reply = "stale";
    EXPECT_FALSE(m_device->request("echo x", &reply, false));
    EXPECT_EQ(reply, "stale") << "nothing came back";

    const auto nowhere = makeDevice(net::IpAndPort());
    const auto sentBefore = m_transport->getStatistics().sent;
    start = Clock::now();
    EXPECT_THROW(nowhere->request("echo x", nullptr, true), exception::Offline);
    EXPECT_LT(msSince(start), 100);
    EXPECT_EQ(m_transport->getStatistics().sent, sentBefore);
    const auto portless = makeDevice(net::IpAndPort("127.0.0.2", 0));
    EXPECT_THROW(portless->transfer("echo x"), exception::Offline);
    EXPECT_EQ(m_transport->getStatistics().sent, sentBefore);
}

TEST_F(DeviceBaseTest, OnlyRegisteredRequestsAndOnlySuccessesAreCached) {
    m_device->addCachedRequest("get ver");
    m_device->addCachedRequest("fail");
    EXPECT_EQ(m_device->transfer("get ver"), device::sim::kDefaultOrvelVersion);
    EXPECT_EQ(m_device->transfer("get ver"), device::sim::kDefaultOrvelVersion);
    EXPECT_EQ(sent("get ver"), 1u);
    m_device->transfer("get vol");
    m_device->transfer("get vol");
    EXPECT_EQ(sent("get vol"), 2u) << "not registered";
    EXPECT_THROW(m_device->transfer("fail"), exception::UnexpectedResponseOfDevice);
    EXPECT_THROW(m_device->transfer("fail"), exception::UnexpectedResponseOfDevice);
    EXPECT_EQ(sent("fail"), 2u) << "a refusal is never cached";

    m_device->resetCache();
    m_device->transfer("get ver");
    m_device->clearCachedResponses();
    m_device->transfer("get ver");
    EXPECT_EQ(sent("get ver"), 3u);
    EXPECT_EQ(m_device->transfer("get ver"), device::sim::kDefaultOrvelVersion);
    EXPECT_EQ(sent("get ver"), 3u);
}

TEST_F(DeviceBaseTest, BusyDeviceIsAskedAgainABoundedNumberOfTimes) {
    m_busyLeft = 3;
    EXPECT_EQ(m_device->transfer("busy"), "OK done");
    EXPECT_EQ(sent("busy"), 4u);

    m_busyLeft = 1000;  // stuck
    const auto start = Clock::now();
    EXPECT_EQ(responseOf<exception::UnexpectedResponseOfDevice>([&] { m_device->transfer("busy"); }),
              DeviceBase::kBusyReply)
        << "a device that stays busy is a refusal";
    EXPECT_EQ(sent("busy"), 4u + 1 + DeviceBase::kBusyRetries);
    EXPECT_GE(msSince(start), DeviceBase::kBusyRetries * DeviceBase::kBusyPauseMs);
    EXPECT_LT(msSince(start), 3000);
}

TEST_F(DeviceBaseTest, ParametersAreSentOnlyWhenTheyChange) {
    EXPECT_FALSE(m_device->setParameter("name", "Hall", "Hall", true));
    EXPECT_FALSE(m_device->setParameter("dhcp", true, true, true));
    EXPECT_FALSE(m_device->setParameter("port", std::uint16_t{5}, std::uint16_t{5}, true));
    EXPECT_TRUE(requests().empty()) << "equal values send nothing";

    EXPECT_TRUE(m_device->setParameter("name", std::string("Hall"), base::toNarrow(L"Зал 2"), true));
    EXPECT_FALSE(m_device->setParameter("dhcp", true, false, false)) << "the restart mark is returned";
    EXPECT_TRUE(m_device->setParameter("zarnoRelay", false, true, true));
    EXPECT_TRUE(m_device->setParameter("port", std::uint16_t{11990}, std::uint16_t{11991}, true));
    EXPECT_FALSE(m_device->setParameter("gain", std::int16_t{0}, std::int16_t{-5}, true))
        << "the signed 16-bit form is sent but returns false";
    EXPECT_TRUE(m_device->setParameter("igmpReport", std::uint32_t{0}, std::uint32_t{4294967295u}, true));
    EXPECT_TRUE(m_device->setParameter("delay", 0, -3, true));
    EXPECT_EQ(requests(),
              (std::vector<std::string>{"set name " + base::toNarrow(L"Зал 2"), "set dhcp off", "set zarnoRelay on",
                                        "set port 11991", "set gain -5", "set igmpReport 4294967295", "set delay -3"}));
    EXPECT_THROW(m_device->setParameter("bad", 1, 2, false), exception::UnexpectedResponseOfDevice)
        << "errors are passed on";
    EXPECT_EQ(loggedCount("Настройка 'delay' установлена в значение '-3' для устройства id=7"), 1);
}

TEST_F(DeviceBaseTest, VolumeIsReadMutedAndRestored) {
    EXPECT_EQ(m_device->getVolume(), 50) << "-15 dB";
    EXPECT_TRUE(m_device->isVolumeEnabled());

    EXPECT_TRUE(m_device->enableVolume(false));
    EXPECT_FALSE(m_device->isVolumeEnabled());
    EXPECT_EQ(requests().back(), "set vol -96");
    const auto count = requests().size();
    EXPECT_TRUE(m_device->enableVolume(false));
    EXPECT_EQ(requests().size(), count) << "already muted: nothing sent";
    EXPECT_EQ(m_device->getVolume(), 0);

    EXPECT_TRUE(m_device->enableVolume(true));
    EXPECT_TRUE(m_device->isVolumeEnabled());
    EXPECT_EQ(requests().back(), "set vol -15") << "the volume before muting";
    EXPECT_EQ(m_device->getVolume(), 50);

    // An unknown volume mutes and comes back at full volume.
    m_device->setCachedVolume(DeviceBase::kUnknownVolume);
    EXPECT_TRUE(m_device->enableVolume(false));
    EXPECT_TRUE(m_device->enableVolume(true));
    EXPECT_EQ(requests().back(), "set vol 0");

    silence();
    EXPECT_FALSE(m_device->enableVolume(false)) << "no answer";
    EXPECT_TRUE(m_device->isVolumeEnabled()) << "state kept";
    EXPECT_EQ(loggedCount("Не удалось включить/выключить громкость устройству '02:56:53:00:00:02'"), 1);
}

TEST_F(DeviceBaseTest, GetVolumeFailsUnlessTheReplyTellsTheVolume) {
    EXPECT_EQ(m_device->getVolume(), 50);
    for (const char* volume : {"garbled", "ERR no amplifier"}) {
        m_speaker->withModel<device::sim::OrvelModel>([volume](device::sim::OrvelModel& model) {
            model.volume = volume;
            return 0;
        });
        EXPECT_THROW(m_device->getVolume(), exception::DeviceReason) << volume << ": not the 50 of the earlier reply";
    }
    silence();
    EXPECT_EQ(device_test::messageOf<exception::DeviceReason>([&] { m_device->getVolume(); }),
              L"Получен неожиданный ответ устройства|"
              L"Не удалось произвести обмен с устройством. Уровень громкости не получен.");
}

TEST_F(DeviceBaseTest, RebootIsRefusedWhilePlayingAndStampedBeforeSending) {
    m_device->playing = true;
    EXPECT_EQ(notificationOf<exception::UserResponse>([&] { m_device->reboot(); }), L"internalPlaying");
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(m_device->rebootTime(), 0);

    m_device->playing = false;
    EXPECT_TRUE(m_device->reboot());
    EXPECT_EQ(requests(), std::vector<std::string>{"reboot"});
    EXPECT_EQ(loggedCount("The device 'Устройство 02:56:53:00:00:02' is rebooted"), 1);

    silence();
    m_device->clock = 123456789;
    EXPECT_FALSE(m_device->reboot()) << "no answer, no exception";
    EXPECT_EQ(m_device->rebootTime(), 123456789) << "the skip window starts even so";
}

TEST_F(DeviceBaseTest, OnlineWindowIsSevenSecondsAndGoingOfflineHappensOnce) {
    EXPECT_FALSE(m_device->isOnline()) << "never heard from";
    Notifications notified;
    m_device->setStateChangedHandler(notified.handler());
    const std::int64_t heard = 13'000'000'000'000'000;
    m_device->heard(heard);
    m_device->setAnswered(true);
    m_device->setCachedVolume(40);
    m_device->clock = heard - 60'000'000;  // the system clock was set back
    EXPECT_TRUE(m_device->isOnline());
    m_device->clock = heard + 6'999'999;
    EXPECT_TRUE(m_device->isOnlineAndAnswered());
    m_device->checkOnline(false);
    EXPECT_EQ(m_device->resets, 0) << "recent";
    m_device->clock = heard + 7'000'000;
    EXPECT_FALSE(m_device->isOnline());
    EXPECT_FALSE(m_device->isOnlineAndAnswered());

    m_device->clock = heard + 8'000'000;
    m_device->checkOnline(false);
    m_device->checkOnline(false);
    m_device->checkOnline(false);
    EXPECT_EQ(m_device->resets, 1) << "the transition only";
    EXPECT_FALSE(m_device->online());
    EXPECT_FALSE(m_device->answered());
    EXPECT_FALSE(m_device->firstPacket()) << "a console re-checks its answer after an outage";
    EXPECT_EQ(m_device->volume(), DeviceBase::kUnknownVolume);
    ASSERT_EQ(settled(notified, 1), 1u);
    EXPECT_EQ(notified.items().back(), m_device) << "the handler gets the device itself";

    // A console sets only the first-packet flag: its outage is a transition too.
    m_device->heard(heard, false);
    m_device->clock = heard + 8'000'000;
    m_device->checkOnline(false);
    EXPECT_EQ(m_device->resets, 2);
    EXPECT_EQ(settled(notified, 2), 2u);
    EXPECT_TRUE(requests().empty()) << "the collection's check sends nothing";
}

TEST_F(DeviceBaseTest, ZonePanelCheckSkipsSilentDevicesAndProbesUnansweredOnes) {
    Notifications notified;
    m_device->setStateChangedHandler(notified.handler());
    const std::int64_t heard = nowMicroseconds();
    m_device->heard(heard);
    m_device->clock = heard + 8'000'000;
    m_device->checkOnline(true);
    EXPECT_EQ(m_device->resets, 0);
    EXPECT_TRUE(m_device->online()) << "only a log line";
    EXPECT_EQ(loggedCount("Skip online check due to no ping for device=02:56:53:00:00:02"), 1);

    m_device->clock = 0;  // recent again
    m_device->setAnswered(false);
    m_device->checkOnline(true);
    EXPECT_EQ(requests(), std::vector<std::string>{"get vol"});
    EXPECT_TRUE(m_device->answered());
    EXPECT_EQ(m_device->volume(), 50) << "the reply went to handleVolume";
    EXPECT_EQ(loggedCount("check i/o for device ip 127.0.0.2:"), 1);
    EXPECT_EQ(settled(notified, 1), 1u) << "the answered flag changed";
    m_device->checkOnline(true);
    EXPECT_EQ(requests().size(), 1u) << "answered devices aren't probed";

    silence();
    m_device->checkResponding(false);
    EXPECT_FALSE(m_device->answered());
    EXPECT_EQ(settled(notified, 2), 2u);
    EXPECT_THROW(m_device->probeVolume(), exception::Offline);
}

TEST_F(DeviceBaseTest, AudioControlIsMadeOnceOutsideTheDeviceLock) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> made{0};
    m_device->creator = [&](bool allowOverwrite) {
        EXPECT_TRUE(allowOverwrite);
        if (made++ == 0) {
            entered.set_value();
            released.wait();
        }
        return boost::shared_ptr<IAudioControl>(boost::make_shared<device_test::StubAudioControl>());
    };
    auto first = std::async(std::launch::async, [&] { return m_device->getAudioControl(true, true); });
    entered.get_future().wait();
    auto second = std::async(std::launch::async, [&] { return m_device->getAudioControl(true, true); });

    // While the memory is read, the device lock is free: state packets of
    // this device go on (a title change stands for them here).
    auto other = std::async(std::launch::async, [&] { m_device->setTitle(L"Холл"); });
    EXPECT_EQ(other.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout) << "the second caller waits for the first";
    release.set_value();
    const auto control = first.get();
    ASSERT_TRUE(control);
    EXPECT_EQ(second.get(), control);
    EXPECT_EQ(m_device->getAudioControl(false, false), control);
    EXPECT_EQ(made, 1);

    m_device->releaseAudioControl();
    EXPECT_NE(m_device->getAudioControl(true, false), control) << "made anew";
    EXPECT_EQ(made, 2);
}

TEST_F(DeviceBaseTest, FailedAudioControlIsEmptyOrPassedOnAndTriedAgain) {
    int attempts = 0;
    m_device->creator = [&](bool) -> boost::shared_ptr<IAudioControl> {
        if (++attempts < 3) throw exception::UnknownVersionOfAudioMemory();
        return boost::make_shared<device_test::StubAudioControl>();
    };
    EXPECT_FALSE(m_device->getAudioControl(false, false));
    EXPECT_THROW(m_device->getAudioControl(false, true), exception::UnknownVersionOfAudioMemory);
    EXPECT_TRUE(m_device->getAudioControl(false, false));
    EXPECT_EQ(attempts, 3);
}

TEST_F(DeviceBaseTest, AnUnreadableAudioMemoryIsLoggedOnceADeviceAtDebugOnly) {
    // Addresses no other test uses: the record is once per device and run.
    std::vector<boost::shared_ptr<TestDevice>> devices;
    for (const std::uint32_t n : {0x31u, 0x32u}) {
        devices.push_back(boost::make_shared<TestDevice>(7, net::HardwareAddress(0x025653, n),
                                                         endpointOf(*m_speaker), L"", m_transport));
        devices.back()->creator = [](bool) -> boost::shared_ptr<IAudioControl> {
            throw exception::UnknownVersionOfAudioMemory();
        };
    }
    for (int round = 0; round < 3; ++round)
        for (const auto& device : devices) EXPECT_FALSE(device->getAudioControl(false, false));
    EXPECT_THROW(devices[0]->getAudioControl(false, true), exception::UnknownVersionOfAudioMemory);
    EXPECT_EQ(loggedCount("Аудио память устройства 02:56:53:00:00:31 недоступна", "DEBUG"), 1);
    EXPECT_EQ(loggedCount("Аудио память устройства 02:56:53:00:00:32 недоступна", "DEBUG"), 1);
    EXPECT_EQ(loggedCount("Аудио память устройства"), 2) << "no other level";
}

// The check of a device that comes online does not wait on a dispatcher
// thread: its answer arrives on the transport's completer, a busy device is
// asked again, and the outcome is what the waiting check gives.
TEST_F(DeviceBaseTest, CheckWithoutWaitingAsksABusyDeviceAgainAndReadsTheVolume) {
    m_speaker->withModel<device::sim::CommandModel>([this](device::sim::CommandModel& model) {
        model.on("get vol", [this](const std::string&) {
            return std::optional<std::string>(m_busyLeft-- > 0 ? DeviceBase::kBusyReply : "-15");
        });
        return 0;
    });
    Notifications notified;
    m_device->setStateChangedHandler(notified.handler());
    m_busyLeft = 2;
    m_device->setAnswered(false);
    m_device->checkRespondingLater();
    ASSERT_TRUE(testing_support::waitUntil([&] { return m_device->volume() == 50; }));
    EXPECT_TRUE(m_device->answered());
    EXPECT_EQ(sent("get vol"), 3u);
    EXPECT_EQ(loggedCount("check i/o for device ip 127.0.0.2:"), 1);
    EXPECT_EQ(settled(notified, 1), 1u) << "the answered flag changed once";

    silence();
    m_device->checkRespondingLater();
    ASSERT_TRUE(testing_support::waitUntil([&] { return !m_device->answered(); }, 5000ms));
    EXPECT_EQ(settled(notified, 2), 2u);
}
