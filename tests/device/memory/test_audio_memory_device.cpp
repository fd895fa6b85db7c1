// ctest-labels: net
// The audio memory against a simulated device on loopback: what creation
// reads, damaged memories with and without overwriting, the write job under
// datagram loss with its progress and callbacks, refusals, playback commands,
// re-reading on revert, and a device that can die while its memory lives.
#include <future>

#include "base/thread_dispatcher.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/device/thrown.h"

using namespace std::chrono_literals;
using namespace device::memory;
using device::DeviceBase;
using device::sim::AudioMemoryStore;
using device_test::notificationOf;
using memory_test::bytesOf;
using memory_test::MemoryDevice;

namespace {

typedef device_test::ProgressLog Progress;

using device_test::expectOneJob;

class AudioMemoryDeviceTest : public device_test::UdpFixture {
protected:
    void SetUp() override {
        UdpFixture::SetUp();
        m_speaker = &m_simulator.addOrvel("127.0.0.2", 0, device::sim::Simulator::hardwareAddress(2));
        m_store = std::make_shared<AudioMemoryStore>(kLayout611, 256 * 1024);
        m_speaker->withModel<device::sim::CommandModel>([this](device::sim::CommandModel& model) {
            AudioMemoryStore::install(m_store, model);
            return 0;
        });
        m_device = boost::make_shared<MemoryDevice>(7, net::HardwareAddress(0x025653, 2),
                                                    device_test::endpointOf(*m_speaker), L"", m_transport);
        m_device->setThisWeakPtr(m_device);
    }
    void releaseDevices() override { m_device.reset(); }

    boost::shared_ptr<IAudioControl> memory() { return m_device->getAudioControl(false, true); }
    /// Writes the changes; the job reports once and ends with `final`.
    static void write(const boost::shared_ptr<IAudioControl>& mem, int final) {
        Progress progress;
        mem->writeChanges(progress.reporter());
        ASSERT_TRUE(progress.waitFinal());
        expectOneJob(progress.settled(), final);
    }

    device::sim::SimulatedDevice* m_speaker = nullptr;
    std::shared_ptr<AudioMemoryStore> m_store;
    boost::shared_ptr<MemoryDevice> m_device;
};

}  // namespace

TEST_F(AudioMemoryDeviceTest, CreationReadsOnlyTheCatalogue) {
    const std::string planted = memory_test::plantedImage(kLayout611, 3, 4000);
    m_store->plant(planted);
    const auto mem = memory();
    ASSERT_TRUE(mem);
    EXPECT_EQ(m_store->bytesRead(), kRootSize + 3 * kFragmentRecordSize + kScenarioRecordSize);
    ASSERT_EQ(mem->getFragments().size(), 3u);
    EXPECT_EQ(mem->getFragments()[2].size, 4002u);
    EXPECT_EQ(mem->getScenarios()[0].title, L"Эвакуация");
    EXPECT_FALSE(mem->hasChanges());

    EXPECT_EQ(mem->getFragmentFile(11), bytesOf(4001, 101));
    EXPECT_EQ(mem->getImage(), planted) << "the rest read on demand gives the device's image";
}

TEST_F(AudioMemoryDeviceTest, DamagedMemoryIsRefusedOrReplacedWhenAllowed) {
    std::string broken = memory_test::plantedImage(kLayout611, 2, 100);
    broken[kRootSize + 30] ^= 1;
    m_store->plant(broken);
    EXPECT_THROW(m_device->getAudioControl(false, true), exception::IncorrectFormat);
    const auto replaced = m_device->getAudioControl(true, true);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(replaced->hasChanges()) << "the page can write a fresh memory";
    EXPECT_TRUE(replaced->getFragments().empty());
    replaced->revertChanges();
    EXPECT_TRUE(replaced->hasChanges()) << "reverting reads the damaged memory again and keeps it replaceable";
    m_device->releaseAudioControl();

    m_store->setLayout(7);
    EXPECT_THROW(m_device->getAudioControl(false, true), exception::UnknownVersionOfAudioMemory);
    m_device->allowOverwrite = true;
    ASSERT_TRUE(memory());
    EXPECT_TRUE(memory()->hasChanges());
    m_device->releaseAudioControl();
    m_device->allowOverwrite = false;

    m_speaker->setReplyPolicy({0, true});
    EXPECT_THROW(m_device->getAudioControl(true, true), exception::Offline);
}

TEST_F(AudioMemoryDeviceTest, WriteUnderLossLeavesTheDeviceHoldingTheImage) {
    m_store->plant(memory_test::plantedImage(kLayout611, 1, 1500));
    const auto mem = memory();
    int before = 0, after = 0;
    bool afterSawChanges = true;
    mem->setScenariosChangedCallbacks([&] { ++before; },
                                      [&] {
                                          ++after;
                                          afterSawChanges = mem->hasChanges();
                                      });
    mem->addFragment(L"Гонг", bytesOf(2000, 7));
    mem->addScenario(0, 10, 15, L"Тревога");  // the new gong took the free id 0
    m_store->setLoss(10, 3);

    write(mem, 100);
    m_store->setLoss(0);

    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_FALSE(afterSawChanges) << "the deferred settings run on a clean memory";
    EXPECT_FALSE(mem->hasChanges());
    const std::string committed = m_store->committed();
    EXPECT_EQ(committed, mem->getImage());
    EXPECT_EQ(parseImage(committed).catalogue.fragments.at(0).title, L"Фрагмент 1")
        << "the fragment never read before was fetched and written back";

    // What was written is what a fresh object reads.
    const std::string stamp = mem->makeMemoryStamp();
    m_device->releaseAudioControl();
    EXPECT_EQ(memory()->makeMemoryStamp(), stamp);
}

TEST_F(AudioMemoryDeviceTest, RefusalsAreThrownBeforeTheJob) {
    const auto mem = memory();
    EXPECT_EQ(notificationOf<exception::UserError>([&] { mem->writeChanges({}); }), L"Нет изменений для записи")
        << "nothing to write";
    mem->addFragment(L"A", bytesOf(30000, 1));
    m_device->playing = true;
    EXPECT_EQ(notificationOf<exception::UserResponse>([&] { mem->writeChanges({}); }), L"internalPlaying")
        << "written while the device plays";
    EXPECT_THROW(mem->addFragment(L"B", bytesOf(10, 2)), exception::UserResponse);
    m_device->playing = false;

    Progress progress;
    mem->writeChanges(progress.reporter());
    EXPECT_EQ(notificationOf<exception::UserResponse>([&] { mem->writeChanges({}); }), L"busy")
        << "a second write while the first runs";
    EXPECT_THROW(mem->removeFragment(0), exception::UserResponse) << "edits wait for the write";
    ASSERT_TRUE(progress.waitFinal());
    expectOneJob(progress.settled(), 100);

    // A device that no longer answers.
    mem->addFragment(L"B", bytesOf(10, 2));
    m_device->skew = 8 * 1000000;  // last heard from 8 s ago
    EXPECT_THROW(mem->writeChanges({}), exception::Offline);
}

TEST_F(AudioMemoryDeviceTest, RefusedChunkOrCommitEndsWithOneFailureAndKeepsTheEdits) {
    const auto mem = memory();
    mem->addFragment(L"A", bytesOf(5000, 1));
    for (const char* refused : {"write", "commit"}) {
        SCOPED_TRACE(refused);
        m_store->refuse(refused);
        write(mem, -1);
        EXPECT_TRUE(mem->hasChanges());
        EXPECT_TRUE(m_store->committed().empty());
    }
    m_store->refuse("");
}

TEST_F(AudioMemoryDeviceTest, PlaybackCommandsAndStates) {
    m_store->plant(memory_test::plantedImage(kLayout611, 2, 100));
    const auto mem = memory();
    EXPECT_FALSE(mem->isPlaying());
    mem->playFragment(11);
    EXPECT_EQ(m_store->state(), "fragment 11");
    EXPECT_TRUE(mem->isPlaying());
    mem->playScenario(5);
    EXPECT_EQ(m_store->state(), "scenario 5");
    mem->stop();
    EXPECT_EQ(m_store->state(), "idle");
    EXPECT_FALSE(mem->isPlaying());
    EXPECT_EQ(m_device->states.items(), (std::vector<Playing>{Playing::Fragment, Playing::ScenarioServer, Playing::Stopped}))
        << "isPlaying reports nothing to the callback";
}

TEST_F(AudioMemoryDeviceTest, RevertReadsTheDeviceAgain) {
    m_store->plant(memory_test::plantedImage(kLayout611, 1, 100));
    const auto mem = memory();
    mem->addFragment(L"Local", bytesOf(50, 1));
    const std::string other = memory_test::plantedImage(kLayout611, 3, 200);
    m_store->plant(other);  // written meanwhile by someone else
    mem->revertChanges();
    EXPECT_FALSE(mem->hasChanges());
    EXPECT_EQ(mem->getFragments().size(), 3u);
    EXPECT_EQ(mem->getImage(), other);
}

TEST_F(AudioMemoryDeviceTest, TheMemoryDoesNotKeepItsDeviceAlive) {
    const auto mem = memory();
    boost::weak_ptr<DeviceBase> weak = m_device;
    m_device.reset();
    EXPECT_TRUE(weak.expired()) << "the device and its cached memory form no cycle";
    EXPECT_THROW(mem->isPlaying(), exception::Offline);
}

TEST_F(AudioMemoryDeviceTest, AWrittenMemoryIsFreedWithItsWorker) {
    boost::weak_ptr<IAudioControl> weak;
    {
        const auto mem = memory();
        weak = mem;
        mem->addFragment(L"A", bytesOf(100, 1));
        write(mem, 100);
    }
    m_device->releaseAudioControl();
    for (int i = 0; i < 50 && !weak.expired(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(weak.expired()) << "the finished worker still holds the memory";
}

TEST_F(AudioMemoryDeviceTest, TheDispatcherStaysFreeWhileAWriteRuns) {
    const auto mem = memory();
    mem->addFragment(L"Long", bytesOf(40 * 512, 1));
    device::sim::ReplyPolicy slow;
    slow.delay = 20ms;  // about a second for the whole write
    m_speaker->setReplyPolicy(slow);
    Progress progress;
    mem->writeChanges(progress.reporter());
    ASSERT_TRUE(progress.waitCount(3, 10s));
    const auto ran = std::make_shared<std::promise<void>>();  // the job's own, should it run late
    base::ThreadDispatcher::add(L"another job", 0, [ran] { ran->set_value(); });
    EXPECT_EQ(ran->get_future().wait_for(400ms), std::future_status::ready)
        << "a job queued during the write waits for it";
    EXPECT_NE(progress.reports().back(), 100) << "the write was still running";
    ASSERT_TRUE(progress.waitFinal());
    expectOneJob(progress.settled(), 100);
}
