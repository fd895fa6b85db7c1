// ctest-labels: net
// Writing the audio memory while replies come back corrupted: the device
// ends up holding the old image or the new one, never a mix, and the write
// reports success only when the device holds the new one.
#include "tests/device/fault_test_support.h"
#include "tests/device/memory/memory_test_support.h"
#include "tools/simulator/fault_model.h"

using namespace device::memory;
using device::sim::Fault;
using device::sim::FaultModel;
using memory_test::bytesOf;
using memory_test::MemoryDevice;

namespace {

class MemoryWriteFaults : public fault_test::FaultFixture {
protected:
    void SetUp() override {
        FaultFixture::SetUp();
        m_store = std::make_shared<device::sim::AudioMemoryStore>(kLayout611, 256 * 1024);
        auto inner = std::make_unique<device::sim::OrvelModel>(device::sim::Simulator::hardwareAddress(40),
                                                               device::sim::kDefaultOrvelVersion);
        device::sim::AudioMemoryStore::install(m_store, *inner);
        auto faulty = std::make_unique<FaultModel>(std::move(inner), 5);
        m_faults = faulty.get();
        auto& speaker = m_simulator.add("127.0.3.40", 0, std::move(faulty));
        m_device = boost::make_shared<MemoryDevice>(40, net::HardwareAddress(0x025653, 40),
                                                    device_test::endpointOf(speaker), L"", m_transport);
        m_device->setThisWeakPtr(m_device);
        m_store->plant(memory_test::plantedImage(kLayout611, 2, 1200));
        m_old = m_store->committed();
    }
    void releaseDevices() override { m_device.reset(); }

    /// Adds a fragment and writes with the faults armed by `arm`; the final
    /// progress report.
    int writeWith(const boost::shared_ptr<IAudioControl>& memory, unsigned seed,
                  const std::function<void()>& arm) {
        memory->addFragment(L"Объявление " + std::to_wstring(seed), bytesOf(1500 + seed, seed));
        m_new = memory->getImage();  // what the write puts on the device
        EXPECT_TRUE(m_device->probeVolume());
        arm();
        device_test::ProgressLog progress;
        memory->writeChanges(progress.reporter());
        EXPECT_TRUE(progress.waitFinal());
        m_faults->setRates({});
        const auto reports = progress.settled();
        device_test::expectOneJob(reports, reports.back());
        return reports.back();
    }

    std::shared_ptr<device::sim::AudioMemoryStore> m_store;
    FaultModel* m_faults = nullptr;
    boost::shared_ptr<MemoryDevice> m_device;
    std::string m_old;
    std::string m_new;
};

}  // namespace

// The device refused the commit, but the refusal came back garbled; taken
// as an answer like any other text, the write reported success although the
// device kept its old image.
TEST_F(MemoryWriteFaults, CorruptedRefusalOfTheCommitIsNotTakenForSuccess) {
    ASSERT_TRUE(m_device->probeVolume());
    const auto memory = m_device->getAudioControl(false, true);
    const int final = writeWith(memory, 1, [&] {
        m_store->refuse("commit");
        m_faults->script({Fault::Garbage}, "mem commit");
    });
    m_store->refuse("");
    EXPECT_EQ(final, -1);
    EXPECT_EQ(m_store->committed(), m_old);
    EXPECT_TRUE(memory->hasChanges()) << "the changes stay to be written again";
}

TEST_F(MemoryWriteFaults, DeviceHoldsTheOldOrTheNewImageAndSuccessMeansTheNew) {
    ASSERT_TRUE(m_device->probeVolume());
    const auto memory = m_device->getAudioControl(false, true);
    int successes = 0, failures = 0;
    for (unsigned seed = 2; seed < 10; ++seed) {
        const std::string before = m_store->committed();
        // Now and then the device refuses a chunk or the commit as well, so
        // that a garbled refusal can pass for an answer.
        const int final = writeWith(memory, seed, [&] {
            if (seed % 3 == 0) m_store->refuse(seed % 2 ? "commit" : "write");
            m_faults->setRates({0, 0, 0, 0, seed % 4 == 0 ? 0.0 : 0.02 * seed});
        });
        m_store->refuse("");
        const std::string after = m_store->committed();
        if (final == 100) {
            ++successes;
            EXPECT_EQ(after, m_new) << "seed " << seed << ": success reported for an image the device lacks";
            EXPECT_FALSE(memory->hasChanges());
        } else {
            ++failures;
            EXPECT_TRUE(after == before || after == m_new) << "seed " << seed << ": the device holds a mix";
            if (after == before) {
                EXPECT_TRUE(memory->hasChanges());
            }
        }
        EXPECT_NO_THROW(parseImage(after)) << "seed " << seed;
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

// Reading under corruption: the catalogue and fragment checksums turn a
// garbled reply into a refusal; whatever is read successfully is the
// device's image, byte for byte.
TEST_F(MemoryWriteFaults, ReadsUnderCorruptionGiveTheImageOrOurException) {
    ASSERT_TRUE(m_device->probeVolume());
    m_faults->setRates({0, 0, 0, 0, 0.15});
    int images = 0, refusals = 0;
    for (int round = 0; round < 40; ++round) {
        m_device->releaseAudioControl();
        boost::shared_ptr<IAudioControl> memory;
        std::string image;
        const bool read = fault_test::endsWithOurExceptionsOnly("read", [&] {
            memory = m_device->getAudioControl(false, true);
            image = memory->getImage();
        });
        if (read) {
            ++images;
            EXPECT_EQ(image, m_old) << "round " << round << ": a garbled reply passed for the device's bytes";
        } else {
            ++refusals;
        }
    }
    m_faults->setRates({});
    EXPECT_GT(images, 0);
    EXPECT_GT(refusals, 0);
}
