// ctest-labels: net
// Equalizers of both loudspeaker generations over UDP against simulated
// loudspeakers: reading, the kept copy, the requests a write sends (and
// those it must not send), refusals and malformed replies.
#include <memory>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/equalizer.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/equalizer_store.h"

using device::IEqualizer;
using device::sim::EqualizerStore;
namespace o510 = device::o510;
namespace o610 = device::o610;

namespace {

class EqualizerTest : public SpeakerFixture {
protected:
    void openWithEqualizer(int index) {
        m_store = std::make_shared<EqualizerStore>(index);
        open(index, [this](device::sim::OrvelBandModel& m) { EqualizerStore::install(m_store, m); });
    }
    boost::shared_ptr<o610::Equalizer> readSixBands() {
        const boost::shared_ptr<o610::Equalizer> eq =
            boost::dynamic_pointer_cast<o610::Equalizer>(m_device->getEqualizer());
        EXPECT_TRUE(eq);
        return eq;
    }
    std::shared_ptr<EqualizerStore> m_store;
};

}  // namespace

TEST_F(EqualizerTest, PackedFormIsReadKeptAndWrittenOnlyWhenChanged) {
    openWithEqualizer(5);
    m_store->setPacked(0x0000);
    const boost::shared_ptr<IEqualizer> off = m_device->getEqualizer();
    const auto* packed = dynamic_cast<o510::Equalizer*>(off.get());
    ASSERT_NE(packed, nullptr);
    EXPECT_FALSE(packed->isEnabled());
    EXPECT_EQ(packed->getField(0), 2);
    // Written back unchanged: nothing goes out, and the kept copy answers the second read.
    EXPECT_TRUE(m_device->setEqualizer(off));
    m_device->getEqualizer();
    EXPECT_EQ(requests(), (Requests{"get eq"}));

    // The top field 8 is -8 and goes back as 8; bass 5, treble -3 from the panel.
    m_device->resetCache();
    m_store->setPacked(0x8A3F);
    m_speaker->clearReceived();
    const boost::shared_ptr<IEqualizer> read = m_device->getEqualizer();
    EXPECT_EQ(dynamic_cast<o510::Equalizer&>(*read).getField(3), -8);
    EXPECT_EQ(read->toCommand(), "set eq 8A3F");
    EXPECT_TRUE(m_device->setEqualizer(boost::shared_ptr<IEqualizer>(new o510::Equalizer(5, 13))));
    EXPECT_EQ(requests(), (Requests{"get eq", "set eq D25F"}));
    EXPECT_EQ(m_store->packed(), 0xD25F);
}

TEST_F(EqualizerTest, PackedRepliesThatAreNoValueAreRefused) {
    openWithEqualizer(5);
    // "ERR..." starts with a hexadecimal letter; it must not read as 0xE.
    for (const char* reply : {"ERR unknown command", "12G4", "12345", " "}) {
        m_store->setSwitchReply(reply);
        EXPECT_THROW(m_device->getEqualizer(), exception::UnexpectedResponseOfDevice) << reply;
    }
    m_store->setSwitchReply("");
    m_store->setPacked(0x1234);
    EXPECT_EQ(m_device->getEqualizer()->toCommand(), "set eq 1234");
}

TEST_F(EqualizerTest, SixBandsAreCorrectedOnReadingAndMalformedListsRefused) {
    openWithEqualizer(16);
    m_store->setEnabled(true);
    m_store->setBandsReply("-3:-12:1:0:-10:-5");
    const boost::shared_ptr<o610::Equalizer> eq = readSixBands();
    EXPECT_TRUE(eq->isEnabled());
    EXPECT_FALSE(eq->isExtended());
    EXPECT_EQ(eq->toCommand(), "set eqd -3:-10:0:0:-10:-5");
    EXPECT_EQ(loggedCount("эквалайзера меньше минимального"), 1);
    EXPECT_EQ(loggedCount("эквалайзера больше максимального"), 1);
    EXPECT_EQ(requests(), (Requests{"get eq", "get eqd"}));

    for (const char* reply : {"-1:-2:-3:-4:-5", "-1:-2:x:-4:-5:-6", "on", " "}) {
        m_device->resetCache();
        m_store->setBandsReply(reply);
        EXPECT_THROW(m_device->getEqualizer(), exception::UnexpectedResponseOfDevice) << reply;
    }
}

TEST_F(EqualizerTest, SwitchingSixBandsOnOrOffAloneIsSent) {
    openWithEqualizer(16);
    m_store->setEnabled(true);
    m_store->setBands({-1, -2, -3, -4, -5, -6});
    boost::shared_ptr<o610::Equalizer> eq = readSixBands();
    m_speaker->clearReceived();

    // Same bands, same switch: nothing.
    EXPECT_TRUE(m_device->setEqualizer(eq));
    EXPECT_TRUE(requests().empty());

    eq->setEnabled(false);
    EXPECT_TRUE(m_device->setEqualizer(eq));
    EXPECT_EQ(requests(), (Requests{"set eq off"}));
    EXPECT_FALSE(m_store->enabled());

    // Both changed: the bands first, then the switch.
    m_speaker->clearReceived();
    eq->setEnabled(true);
    eq->setBands(0, -10);
    EXPECT_TRUE(m_device->setEqualizer(eq));
    EXPECT_EQ(requests(), (Requests{"set eqd -10:-2:-3:-4:-5:-6", "set eq on"}));
    EXPECT_TRUE(m_store->enabled());
    EXPECT_EQ(m_store->bands()[0], -10);
    // The written one is kept: the next read asks nothing.
    m_speaker->clearReceived();
    EXPECT_EQ(m_device->getEqualizer()->toCommand(), eq->toCommand());
    EXPECT_TRUE(requests().empty());
}

TEST_F(EqualizerTest, ExtendedFormCarriesItsZeroFieldsOnce) {
    openWithEqualizer(12);
    m_store->setBands({0, -1, -2, -3, -4, -5});
    boost::shared_ptr<o610::Equalizer> eq = readSixBands();
    ASSERT_TRUE(eq->isExtended());
    m_speaker->clearReceived();

    eq->setBands(2, -9);  // the extended request goes no lower than -6
    EXPECT_TRUE(m_device->setEqualizer(eq));
    // One built without the flag (as a panel may) gets the tail once as well.
    boost::shared_ptr<o610::Equalizer> plain(new o610::Equalizer(false, false));
    plain->setBands(5, -4);
    EXPECT_TRUE(m_device->setEqualizer(plain));
    EXPECT_EQ(requests(), (Requests{"set eqd 0:-1:-6:-3:-4:-5:0:0:0:0", "set eqd 0:0:0:0:0:-4:0:0:0:0"}));
    EXPECT_EQ(m_store->bands(), (std::array<int, 6>{0, 0, 0, 0, 0, -4}));
}

TEST_F(EqualizerTest, RefusedWriteKeepsTheOldCopy) {
    openWithEqualizer(20);
    m_store->setBands({-1, -1, -1, -1, -1, -1});
    const boost::shared_ptr<IEqualizer> before = m_device->getEqualizer();
    m_speaker->clearReceived();
    // The extended request has ten values; this firmware takes six and refuses.
    boost::shared_ptr<o610::Equalizer> extended(new o610::Equalizer(false, true));
    EXPECT_FALSE(m_device->setEqualizer(extended));
    EXPECT_EQ(requests(), (Requests{"set eqd 0:0:0:0:0:0:0:0:0:0"}));
    EXPECT_EQ(loggedCount("Set equalizer (result: false)"), 1);
    // The switch isn't tried after a refused band request.
    EXPECT_TRUE(m_device->setEqualizer(before));
    EXPECT_EQ(requests().size(), 1u);

    EXPECT_THROW(m_device->setEqualizer(nullptr), exception::ServerError);
}

// A busy Orvel-510 was not asked again, and its answer (or an "ERR ...") was
// parsed as a packed value: the read failed with two texts for one reply.
TEST_F(EqualizerTest, PackedReadAsksABusyLoudspeakerAgainAndTakesAnErrorReplyAsTheDevicesError) {
    auto busy = std::make_shared<int>(2);
    m_store = std::make_shared<EqualizerStore>(5);
    open(5, [this, busy](device::sim::OrvelBandModel& m) {
        EqualizerStore::install(m_store, m);
        m.on("get eq", [store = m_store, busy](const std::string& arguments) -> std::optional<std::string> {
            if ((*busy)-- > 0) return std::string(device::DeviceBase::kBusyReply);
            return store->answer("get eq", arguments);
        });
    });
    m_store->setPacked(0x2B3F);
    EXPECT_EQ(m_device->getEqualizer()->toCommand(), "set eq 2B3F");
    EXPECT_EQ(requests(), (Requests{"get eq", "get eq", "get eq"})) << "asked again while busy";

    // Busy past the retries, or an error reply: the device's error, with no
    // word of a value that is wrong.
    for (const int times : {device::DeviceBase::kBusyRetries + 1, 0}) {
        m_device->resetCache();
        *busy = times;
        m_store->setSwitchReply(times == 0 ? "ERR wrong arguments" : "");
        EXPECT_THROW(m_device->getEqualizer(), exception::UnexpectedResponseOfDevice) << times;
    }
    EXPECT_EQ(loggedCount("Значение эквалайзера прибора Орвел-510 некорректно"), 0);

    // Silent: no device's answer to read, the read says so.
    m_device->resetCache();
    m_store->setSwitchReply("");
    m_speaker->setReplyPolicy({0, true});
    EXPECT_THROW(m_device->getEqualizer(), exception::Offline);
}
