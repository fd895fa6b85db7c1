// ctest-labels: net
// The firmware upgrade of a device object against a simulated device on
// loopback that loses a tenth of the datagrams each way: what arrives, the
// progress reports, the refusals, the continuation with a second image, and
// that a transfer of minutes leaves the dispatcher free.
#include "device/firmware/firmware_collection.h"
#include "device/firmware/firmware_image.h"
#include "tests/device/device_test_support.h"
#include "tests/device/thrown.h"
#include "tools/simulator/firmware_receiver.h"
#include "tools/simulator/lossy_model.h"

using namespace std::chrono_literals;
using device::DeviceBase;
using device::FirmwareImage;
using device_test::notificationOf;

namespace {

/// A loudspeaker as far as the upgrade sees it: the suitability rule and the
/// continuation of the Orvel family, a battery flag, a playing flag and a
/// clock the test can push forward.
class Loudspeaker : public device_test::StubDevice {
public:
    using StubDevice::StubDevice;

    std::atomic<bool> batteryOk{true};
    std::atomic<bool> playing{false};
    std::atomic<std::int64_t> shift{0};
    /// How often its clock was read while pushed forward.
    mutable std::atomic<int> readWhileShifted{0};

    void setRunning(const std::string& text) {
        device::Version version;
        device::parseVersion(text, version);
        setVersion(version, text);
    }
    /// A state packet arrives.
    void heard() { m_lastContactTime = now(); }

    bool isFirmwareSuitable(boost::shared_ptr<device::IFirmware> image) override {
        if (!image) return false;
        const std::uint64_t code = image->getVersion().typeCode;
        if (code == getTypeCode()) return true;
        if (code == device::kTypeOrvel610Pss) {
            if (!batteryOk) throw exception::UserResponse(L"wrongPower", L"Check 220V and batteries!");
            return getTypeCode() == device::kTypeOrvel610 || getTypeCode() == device::kTypeOrvel611;
        }
        return code == device::kTypeOrvel610Lc && getTypeCode() == device::kTypeOrvel610;
    }
    void continueUpgrade() override {
        boost::shared_ptr<device::FirmwareCollection> firmware;
        FirmwareProgress progress;
        {
            boost::lock_guard<boost::recursive_mutex> lock(m_lock);
            firmware = m_firmware;
            progress = m_firmwareProgress;
        }
        if (firmware && firmware->first() && firmware->first()->isValid()) upgradeFirmware(firmware, progress, true);
    }
    bool hasInternalPlaying() override { return playing; }

protected:
    std::int64_t now() const override {
        const std::int64_t pushed = shift.load();
        if (pushed != 0) ++readWhileShifted;
        return DeviceBase::now() + pushed;
    }
};

/// Every report of one upgrade.
class Reports : public device_test::ProgressLog {
public:
    DeviceBase::FirmwareProgress callback() {
        return [this](boost::shared_ptr<DeviceBase>, int percent) { add(percent); };
    }
};

using device_test::expectOneJob;

std::string payloadOf(std::size_t size, unsigned seed) {
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>((i * 131 + seed * 7) ^ (i >> 5));
    return payload;
}

class FirmwareUpgradeTest : public LogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::DEBUG);
        base::ThreadDispatcher::create();  // per test: it logs, and the log is per test
        m_transport = boost::make_shared<device::TransferProtocol>(0, "");
        m_transport->run();
        auto model = std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(3),
                                                               device::sim::kDefaultOrvelVersion);
        m_receiver = device::sim::addFirmwareReceiver(*model);
        m_simulated =
            &m_simulator.add("127.0.0.3", 0, std::make_unique<device::sim::LossyModel>(std::move(model), 0.0, 7));
        m_simulator.start();
        m_device = boost::make_shared<Loudspeaker>(3, net::HardwareAddress(0x025653, 3),
                                                   device_test::endpointOf(*m_simulated), L"", m_transport);
        m_device->setThisWeakPtr(m_device);
        m_device->setRunning("Orvel-610 1.0.112.0 Mar 03 2021");
        ASSERT_TRUE(m_device->probeVolume());  // online and answered
    }
    void TearDown() override {
        m_device.reset();
        m_transport->stop();
        m_simulator.stop();
        base::ThreadDispatcher::destroy();
        LogFixture::TearDown();
    }
    void setLoss(double loss) {
        m_simulated->withModel<device::sim::LossyModel>([loss](device::sim::LossyModel& m) {
            m.setLoss(loss);
            return 0;
        });
    }
    std::size_t received(const std::string& prefix) const {
        std::size_t count = 0;
        for (const auto& datagram : m_simulated->received())
            if (datagram.text.rfind(prefix, 0) == 0) ++count;
        return count;
    }

    device::sim::Simulator m_simulator{2};
    boost::shared_ptr<device::TransferProtocol> m_transport;
    std::shared_ptr<device::sim::FirmwareReceiver> m_receiver;
    device::sim::SimulatedDevice* m_simulated = nullptr;
    boost::shared_ptr<Loudspeaker> m_device;
};

TEST_F(FirmwareUpgradeTest, ImageArrivesWholeThroughATenthLostAndOneUpgradeRunsAtATime) {
    const std::string payload = payloadOf(6000, 1);
    const std::string file = FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.113.0", payload);
    m_device->shift = 8000000;  // nothing heard for 8 s
    Reports offline;
    EXPECT_FALSE(m_device->upgradeFirmware(file, offline.callback(), true));
    m_device->shift = 0;

    setLoss(0.10);
    Reports reports;
    Reports second;
    ASSERT_TRUE(m_device->upgradeFirmware(file, reports.callback(), false));
    // The upgrade counts as running from the moment it is accepted.
    EXPECT_FALSE(m_device->upgradeFirmware(file, second.callback(), true));
    expectOneJob(reports.waitFinals(1), 100);
    const auto accepted = m_receiver->accepted();
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].payload, payload);
    EXPECT_EQ(accepted[0].typeCode, device::kTypeOrvel610);
    std::this_thread::sleep_for(300ms);
    const auto later = reports.waitFinals(1);
    EXPECT_EQ(std::count(later.begin(), later.end(), 100), 1);
    EXPECT_EQ(offline.count(), 0u);
    EXPECT_EQ(second.count(), 0u);

    // Once it has ended, the device may be upgraded again.
    setLoss(0.0);
    Reports again;
    ASSERT_TRUE(m_device->upgradeFirmware(FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.114.0", "x"),
                                          again.callback(), false));
    expectOneJob(again.waitFinals(1), 100);
}

TEST_F(FirmwareUpgradeTest, RefusedChunkEndsWithExactlyOneFailure) {
    m_simulated->withModel<device::sim::LossyModel>([](device::sim::LossyModel& m) {
        static_cast<device::sim::CommandModel&>(m.inner()).on("fw data", [](const std::string& arguments) {
            return std::optional<std::string>(arguments.rfind("1024 ", 0) == 0 ? "ERR flash" : "OK");
        });
        return 0;
    });
    Reports reports;
    ASSERT_TRUE(m_device->upgradeFirmware(
        FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.113.0", payloadOf(3000, 2)), reports.callback(),
        false));
    expectOneJob(reports.waitFinals(1), -1);
    EXPECT_EQ(received("fw data 1024 "), 1u);  // a refusal is not asked again
    EXPECT_EQ(received("fw end"), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(reports.count(), reports.waitFinals(1).size());
}

TEST_F(FirmwareUpgradeTest, RefusalsBeforeTheStartSendNothing) {
    Reports reports;
    EXPECT_EQ(notificationOf<exception::UserResponse>(
                  [&] { m_device->upgradeFirmware(std::string("not a firmware"), reports.callback(), true); }),
              L"incorrectFirmware");

    m_device->batteryOk = false;
    const std::string pss = FirmwareImage::encode(device::kTypeOrvel610Pss, "Orvel-610-PSS 1.0.2.0", "power");
    EXPECT_EQ(
        notificationOf<exception::UserResponse>([&] { m_device->upgradeFirmware(pss, reports.callback(), false); }),
        L"wrongPower");

    // A broken image is never sent, force or not.
    std::string broken = FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.113.0", payloadOf(900, 4));
    broken[400] ^= 1;
    EXPECT_THROW(m_device->upgradeFirmware(broken, reports.callback(), true), exception::UserResponse);

    m_device->playing = true;
    const std::string good = FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.113.0", "good");
    EXPECT_EQ(
        notificationOf<exception::UserResponse>([&] { m_device->upgradeFirmware(good, reports.callback(), false); }),
        L"internalPlaying");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(received("fw "), 0u);
    EXPECT_EQ(reports.count(), 0u);

    // Force passes the power and playing checks.
    ASSERT_TRUE(m_device->upgradeFirmware(pss, reports.callback(), true));
    expectOneJob(reports.waitFinals(1), 100);
    EXPECT_EQ(m_receiver->accepted().at(0).typeCode, device::kTypeOrvel610Pss);
}

TEST_F(FirmwareUpgradeTest, SecondImageFollowsWhenTheDeviceIsBackAndTheDispatcherStaysFree) {
    const std::string own = payloadOf(5000, 5);
    const std::string module = payloadOf(700, 6);
    const std::string file = FirmwareImage::encode(device::kTypeOrvel610Lc, "Orvel-610-LC 1.0.3.0", module) +
                             FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.113.0", own);
    setLoss(0.10);
    device::sim::ReplyPolicy slow;
    slow.delay = 60ms;  // twelve exchanges: well over the dispatcher's 500 ms hand-over
    m_simulated->setReplyPolicy(slow);
    Reports reports;
    ASSERT_TRUE(m_device->upgradeFirmware(file, reports.callback(), false));

    // Other jobs run at once while the transfer goes on: it is no dispatcher job.
    std::this_thread::sleep_for(100ms);
    const auto ran = std::make_shared<std::atomic<bool>>(false);  // the job's own, should it run late
    const auto queued = std::chrono::steady_clock::now();
    base::ThreadDispatcher::add(L"a job beside the upgrade", 0, [ran] { *ran = true; });
    while (!*ran && std::chrono::steady_clock::now() - queued < 2s) std::this_thread::sleep_for(5ms);
    EXPECT_LT(std::chrono::steady_clock::now() - queued, 300ms);
    const auto soFar = reports.waitFinals(0);
    EXPECT_EQ(std::find(soFar.begin(), soFar.end(), 100), soFar.end()) << "the transfer ended too soon to tell";
    m_simulated->setReplyPolicy({});

    expectOneJob(reports.waitFinals(1), 100);
    ASSERT_EQ(m_receiver->accepted().size(), 1u);
    EXPECT_EQ(m_receiver->accepted()[0].payload, own);  // the device's own image first

    // The device restarts: silent for longer than the online window, then heard again.
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(m_receiver->accepted().size(), 1u);
    // It is heard again once the upgrade has looked and found it gone (the
    // only other reader of its clock meanwhile).
    m_device->readWhileShifted = 0;
    m_device->shift = 10000000;
    ASSERT_TRUE(device_test::waitUntil([&] { return m_device->readWhileShifted > 0; }));
    m_device->heard();
    const auto all = reports.waitFinals(2);
    ASSERT_EQ(m_receiver->accepted().size(), 2u);
    EXPECT_EQ(m_receiver->accepted()[1].payload, module);
    const auto secondStart = std::find(all.begin(), all.end(), 100) + 1;
    expectOneJob(std::vector<int>(secondStart, all.end()), 100);
}

}  // namespace
