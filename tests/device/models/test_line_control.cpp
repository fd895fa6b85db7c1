// ctest-labels: net
// The line-control module of an Orvel-610-LC loudspeaker over UDP against a
// simulated module: its states, the end devices it reports and those of the
// state packet's masks, adding and removing, the version, power saving,
// initialization progress, and the replies it must survive.
#include <memory>
#include <tuple>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/models/line_control.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/line_control_store.h"
#include "tests/device/thrown.h"

using device::sim::LineControlStore;
using device::tip_device::LineControl;

namespace {

class LineControlTest : public SpeakerFixture {
protected:
    void openWithModule(int index = 12) {
        m_store = std::make_shared<LineControlStore>();
        m_store->setTip(0, {3, 0x1A, 0x2B, "C1"});
        m_store->setTip(2, {0, 0, 0, "C3"});
        open(index, [this](device::sim::OrvelBandModel& m) { LineControlStore::install(m_store, m); });
        m_module = m_device->getLineControl();
        m_speaker->clearReceived();
    }
    /// A state packet carrying the module's masks as the loudspeaker reports them.
    void sendMasks(std::uint32_t added, std::uint32_t active) {
        ASSERT_TRUE(sendStatePacket([&](device::sim::OrvelBandModel& m) {
            m.fields[2] = added;
            m.fields[3] = active;
        }));
    }
    static std::vector<unsigned> addresses(const std::vector<LineControl::TipDevice>& tips) {
        std::vector<unsigned> result;
        for (const auto& tip : tips) result.push_back(tip.address);
        return result;
    }
    std::shared_ptr<LineControlStore> m_store;
    boost::shared_ptr<LineControl> m_module;
};

}  // namespace

TEST_F(LineControlTest, OnlyNewerFirmwareHasOneModule) {
    m_store = std::make_shared<LineControlStore>();
    open(8);
    EXPECT_THROW(m_device->getLineControl(), exception::UnsupportedByDevice);
    openWithModule(9);
    EXPECT_EQ(m_device->getLineControl(), m_module);
    EXPECT_TRUE(requests().empty());
}

TEST_F(LineControlTest, ActiveModuleReportsItsEndDevices) {
    openWithModule();
    const std::vector<LineControl::TipDevice> tips = m_module->getTipDevices();
    EXPECT_EQ(requests(), (Requests{"lsensor"}));
    ASSERT_EQ(addresses(tips), (std::vector<unsigned>{11, 13}));
    EXPECT_TRUE(tips[0].valid && tips[0].added && tips[0].active && tips[0].addedAndActive);
    EXPECT_FALSE(tips[0].thirdFlag);
    EXPECT_EQ(std::make_tuple(tips[0].firstValue, tips[0].secondValue, tips[0].code),
              std::make_tuple(0x1Au, 0x2Bu, "C1"));
    EXPECT_FALSE(tips[1].added || tips[1].active);
    EXPECT_EQ(tips[1].title, L"Оконечное устройство 13");
    EXPECT_EQ(m_module->getModuleState(), LineControl::kActive);
    EXPECT_EQ(m_module->getPowerSaveMode(), LineControl::kPowerSaveOff);
    EXPECT_FALSE(m_module->findTipDevice(12).valid);
    // Active: the progress is complete without asking.
    EXPECT_EQ(m_module->getInitializationProgress(), 100u);
    EXPECT_EQ(requests().size(), 1u);
}

TEST_F(LineControlTest, PausedOrNotReadyModuleGivesTheStatePacketsEndDevices) {
    openWithModule();
    m_module->getTipDevices();
    m_store->setState("Pause");
    sendMasks(0x5, 0x4);  // a new packet: masks taken, the module's state forgotten
    EXPECT_EQ(m_module->getModuleState(), LineControl::kUnknown);
    std::vector<LineControl::TipDevice> tips = m_module->getTipDevices();
    EXPECT_EQ(m_module->getModuleState(), LineControl::kPause);
    ASSERT_EQ(addresses(tips), (std::vector<unsigned>{11, 13}));
    EXPECT_TRUE(tips[0].added && !tips[0].active);
    EXPECT_TRUE(tips[1].added && tips[1].active && tips[1].addedAndActive);
    EXPECT_FALSE(m_module->findTipDevice(11).valid);  // the reported list is emptied

    // The same masks again change nothing: the state read stays.
    sendMasks(0x5, 0x4);
    EXPECT_EQ(m_module->getModuleState(), LineControl::kPause);

    // Not ready: the progress comes from the debug text and isn't kept.
    m_store->setState("Not Ready");
    m_store->setProgress(0);
    m_store->setInitMode(7);
    m_module->requestTipDevices();
    EXPECT_EQ(m_module->getModuleState(), LineControl::kNotReady);
    m_speaker->clearReceived();
    EXPECT_EQ(m_module->getInitializationProgress(), 7u);
    EXPECT_EQ(m_module->getInitializationProgress(), 7u);
    EXPECT_EQ(requests(), (Requests{"lsensor dbg", "lsensor dbg"}));
}

TEST_F(LineControlTest, MasksReachAModuleMadeLater) {
    m_store = std::make_shared<LineControlStore>();
    open(12, [this](device::sim::OrvelBandModel& m) {
        LineControlStore::install(m_store, m);
        m.fields[2] = 0x3;
        m.fields[3] = 0x1;
    });
    m_store->setState("Pause");
    const std::vector<LineControl::TipDevice> tips = m_device->getLineControl()->getTipDevices();
    ASSERT_EQ(addresses(tips), (std::vector<unsigned>{11, 12}));
    EXPECT_TRUE(tips[0].addedAndActive);
    EXPECT_TRUE(tips[1].added && !tips[1].active);
}

TEST_F(LineControlTest, AddAndRemoveOnlyWhatTheModuleAllows) {
    openWithModule();
    EXPECT_TRUE(m_module->add(13));
    EXPECT_EQ(requests(), (Requests{"lsensor", "lsensor add 2"}));
    EXPECT_EQ(m_store->tips().at(2).flags & 1, 1u);

    // Added already, or not reported: nothing but the state request.
    m_speaker->clearReceived();
    EXPECT_FALSE(m_module->add(11));
    EXPECT_FALSE(m_module->add(20));
    EXPECT_FALSE(m_module->remove(20));
    EXPECT_EQ(requests(), (Requests{"lsensor", "lsensor", "lsensor"}));
    EXPECT_EQ(loggedCount("невозможно добавить"), 2);

    m_speaker->clearReceived();
    EXPECT_TRUE(m_module->remove(11));
    EXPECT_EQ(requests(), (Requests{"lsensor", "lsensor del 0"}));
    EXPECT_EQ(m_store->tips().count(0), 0u);

    // What the panel sends through the loudspeaker, then re-reads.
    m_store->setTip(5, {2, 0, 0, "C6"});
    ASSERT_TRUE(m_device->request("lsensor addAll", nullptr, true));
    m_module->resetCache();
    m_module->requestTipDevices();
    EXPECT_TRUE(m_module->findTipDevice(16).addedAndActive);
    EXPECT_TRUE(m_module->findTipDevice(13).added);

    // Power saving on: the module refuses both without a request of its own.
    m_store->setPowerSave(1);
    m_speaker->clearReceived();
    EXPECT_FALSE(m_module->remove(13));
    EXPECT_EQ(requests(), (Requests{"lsensor"}));
    EXPECT_EQ(loggedCount("включенного режима энергосбережения"), 1);
}

TEST_F(LineControlTest, PowerSaveModeIsSentOnlyWhenItDiffers) {
    openWithModule();
    m_module->requestTipDevices();  // reports mode 0
    EXPECT_TRUE(m_module->setPowerSaveMode(0));
    EXPECT_TRUE(m_module->setPowerSaveMode(1));
    EXPECT_EQ(requests(), (Requests{"lsensor", "lsensor power 1"}));
    EXPECT_EQ(m_store->powerSave(), 1u);
}

TEST_F(LineControlTest, VersionAndAddressOfTheModule) {
    openWithModule();
    m_store->setVersion("1.2.7.3 2024-02-01", "02:56:53:10:00:0A");
    const device::Version version = m_module->getMasterFirmwareVersion();
    EXPECT_EQ(version.typeCode, device::kTypeOrvel610Lc);
    EXPECT_EQ(version.revision, 3u);
    EXPECT_EQ(m_module->getMasterHardwareAddress(), "02:56:53:10:00:0A");
    EXPECT_EQ(requests(), (Requests{"lsensor ver"}));  // both kept after one request

    m_module->resetCache();
    m_store->setReply("ver", "1.2,3 2024,hwaddr 02:56:53:10:00:0A");
    EXPECT_EQ(m_module->getMasterFirmwareVersion().typeCode, 0u);  // three parts: logged only
    m_store->setReply("ver", "v1.2 2024-02-01,hwaddr 02:56:53:10:00:0B");
    EXPECT_THROW(m_module->initVersionAndAddress(), exception::UnexpectedResponseOfDevice);
}

TEST_F(LineControlTest, MalformedStateRepliesKeepTheListAndThrowNothing) {
    openWithModule();
    ASSERT_EQ(m_module->getTipDevices().size(), 2u);
    const char* const malformed[] = {
        "Active,0,100: 0:3:0:0:C1;128:1:0:0:C2;",  // index past 127
        "Active,0,100: 0:8:0:0:C1;",               // flags past 7
        "Active,0,100: 0:3:0:0:;",                 // no code
        "Active,0,100: 0:3:zz",                    // cut short
    };
    for (const char* reply : malformed) {
        m_store->setReply("", reply);
        EXPECT_NO_THROW(m_module->requestTipDevices()) << reply;
        EXPECT_EQ(addresses(m_module->getTipDevices()), (std::vector<unsigned>{11, 13})) << reply;
    }
    // No state named: state unknown, the list untouched.
    m_store->setReply("", "Sleeping,0,100: 0:3:0:0:C1;");
    m_module->requestTipDevices();
    EXPECT_EQ(m_module->getModuleState(), LineControl::kUnknown);
    EXPECT_TRUE(m_module->findTipDevice(13).valid);
    // The state name in any case, items after exactly one character.
    m_store->setReply("", "active,1,40:x5:7:FF:0:Z;;");
    m_module->requestTipDevices();
    EXPECT_EQ(m_module->getModuleState(), LineControl::kActive);
    EXPECT_EQ(m_module->getPowerSaveMode(), LineControl::kPowerSaveOn);
    const LineControl::TipDevice tip = m_module->findTipDevice(16);
    EXPECT_TRUE(tip.valid && tip.thirdFlag && tip.addedAndActive);
    EXPECT_EQ(tip.firstValue, 0xFFu);
    EXPECT_FALSE(m_module->findTipDevice(13).valid);
}

TEST_F(LineControlTest, OwnLinesReachTheModuleAndTheirRefusalsThrow) {
    openWithModule();
    m_store->setTip(5, {2, 0, 0, "C6"});
    EXPECT_FALSE(m_module->request("lsensor addAll").empty());
    EXPECT_EQ(m_store->tips().at(5).flags & 1, 1u);
    EXPECT_FALSE(m_module->request("lsensor prefReset").empty());
    EXPECT_TRUE(m_store->tips().empty());
    EXPECT_FALSE(m_module->request("lsensor reboot").empty());
    EXPECT_EQ(m_store->state(), "Not Ready");
    EXPECT_EQ(requests(), (Requests{"lsensor addAll", "lsensor prefReset", "lsensor reboot"}))
        << "nothing of the module's own besides";

    m_store->setReply("reboot", "ERR busy");
    try {
        m_module->request("lsensor reboot");
        ADD_FAILURE() << "a refusal must throw";
    } catch (const exception::UserResponse& e) {
        EXPECT_EQ(e.getNotification(), L"Произошла ошибка в модуле контроля линии");
        EXPECT_EQ(e.getDetails(), L"ERR busy");
    }
    m_speaker->setReplyPolicy({0, true});
    EXPECT_TRUE(m_module->request("lsensor addAll").empty()) << "silence is an empty reply";
}

TEST_F(LineControlTest, RefusalsSilenceAndAGoneLoudspeaker) {
    openWithModule();
    m_store->setReply("dbg", "ERR busy");
    EXPECT_NE(device_test::messageOf<exception::UserResponse>([&] { m_module->getInitializationProgress(); })
                  .find(L"Произошла ошибка в модуле контроля линии"),
              std::wstring::npos)
        << "a refusal must throw";
    // The loudspeaker's cache reset forgets the module's too.
    m_module->requestTipDevices();
    m_device->resetCache();
    EXPECT_EQ(m_module->getModuleState(), LineControl::kUnknown);
    EXPECT_FALSE(m_module->findTipDevice(11).valid);

    // Silent loudspeaker: nothing changes, nothing is made up.
    m_speaker->setReplyPolicy({0, true});
    m_module->requestTipDevices();
    EXPECT_EQ(m_module->getInitializationProgress(), 0u);
    EXPECT_FALSE(m_module->setPowerSaveMode(1));

    // Gone: the module asks nothing more.
    m_speaker->setReplyPolicy({});
    m_speaker->clearReceived();
    m_device.reset();
    EXPECT_FALSE(m_module->setPowerSaveMode(1));
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(loggedCount("The device is no longer available"), 1);
}
