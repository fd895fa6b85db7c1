// ctest-labels: net
// What the configuration writers tell the journal of their thread while they
// write a console and a loudspeaker over UDP: where a refused key ended the
// write (and that the kept record is asked for again), writes withheld
// before they began (nothing sent, the gong left alone) and writes that go
// on once begun, and the record's field each key carries.
#include "base/exception.h"
#include "device/models/config_journal.h"
#include "tests/device/models/speaker_fixture.h"
#include "tests/device/models/tovik_test_support.h"
#include "tools/simulator/orvel_config_model.h"

using device::ConfigJournal;
using device::TovikConfig;
using device_test::Requests;
using tovik_test::ConsoleTest;

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

Keys keysOf(const ConfigJournal::Snapshot& journal) {
    Keys keys;
    for (const ConfigJournal::Key& key : journal.planned) keys.emplace_back(key.key, key.field);
    return keys;
}

class ConsoleJournal : public ConsoleTest {
protected:
    /// The console's settings with three keys to change.
    TovikConfig threeKeys() {
        TovikConfig config = m_device->getConfig(false);
        config.beeper = !config.beeper;
        config.ledScBlink = !config.ledScBlink;
        config.priority = config.priority == 7 ? 8 : 7;
        m_console->clearReceived();
        return config;
    }
};

}  // namespace

TEST_F(ConsoleJournal, ARefusedKeyEndsTheWriteWhereTheJournalSaysAndTheKeptRecordIsAskedAgain) {
    open();
    const TovikConfig config = threeKeys();
    model([](device::sim::TovikConfigModel& m) { m.refuse("set ledScBlink", "ERR wrong value"); });
    ConfigJournal journal;
    {
        ConfigJournal::Scope scope(journal);
        EXPECT_THROW(m_device->setConfig(config), exception::UnexpectedResponseOfDevice);
    }
    EXPECT_EQ(requests(), (Requests{"get state", "set beeper " + std::string(config.beeper ? "on" : "off"),
                                    "set ledScBlink " + std::string(config.ledScBlink ? "on" : "off")}))
        << "nothing after the refused key";
    const ConfigJournal::Snapshot seen = journal.snapshot();
    EXPECT_EQ(seen.planned.size(), 3u);
    EXPECT_EQ(seen.written, 1u) << "the beeper alone reached the console";

    // Half written, the kept record no longer tells what the console holds.
    m_console->clearReceived();
    EXPECT_EQ(m_device->getConfig(false).beeper, config.beeper);
    EXPECT_EQ(requests(), Requests{"get state"});
}

TEST_F(ConsoleJournal, WritesWithheldBeforeTheyBeganSendNothingAndThoseBegunGoOn) {
    const auto memory = boost::make_shared<device_test::FakeMemory>();
    memory->fragments = {10, 11, 12};
    open({}, memory);
    TovikConfig config = threeKeys();
    config.gong = true;
    config.gongId = 11;
    ConfigJournal withheld;
    EXPECT_FALSE(withheld.withhold()) << "nothing begun";
    {
        ConfigJournal::Scope scope(withheld);
        EXPECT_THROW(m_device->setConfig(config), ConfigJournal::WritesWithheld);
    }
    EXPECT_EQ(requests(), Requests{"get state"});
    EXPECT_FALSE(withheld.snapshot().begun);
    EXPECT_NE(m_device->getConfig(true).gongId, 11) << "the gong kept on its fragment is the one before";

    // Begun, then withheld: the writes of the same apply go on.
    ConfigJournal begun;
    ConfigJournal::Scope scope(begun);
    begun.begin();
    EXPECT_TRUE(begun.withhold());
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(m_device->getConfig(true).gongId, 11);
}

namespace {

class SpeakerJournal : public SpeakerFixture {};

}  // namespace

// Index 17 sends both namings of its inputs' keys: "multicastAIN1" stands for
// input 2 in the first and input 1 in the second, which only the field tells.
TEST_F(SpeakerJournal, EachKeyCarriesTheFieldItWritesWhateverTheGenerationCallsIt) {
    openModel(17, std::make_unique<device::sim::OrvelConfigModel>(kHardware, 17));
    device::OrvelConfig config = m_device->getConfig(false);
    config.multicastAin1 = !config.multicastAin1;
    config.multicastAin2 = !config.multicastAin2;
    ConfigJournal journal;
    ConfigJournal::Scope scope(journal);
    m_device->setConfig(config);
    EXPECT_EQ(keysOf(journal.snapshot()), (Keys{{"multicastAIN0", "multicastAin1"},
                                                {"multicastAIN1", "multicastAin2"},
                                                {"multicastAIN1", "multicastAin1"},
                                                {"multicastAIN2", "multicastAin2"}}));
    EXPECT_EQ(journal.snapshot().written, 4u);
}
