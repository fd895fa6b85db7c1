// ctest-labels: net
// The loudspeaker's configuration over UDP against simulated loudspeakers of
// each firmware generation: the reply shapes, the cache, the key-by-key
// writes as the device receives them, the refusals, the analog inputs'
// scenarios with a stand-in memory and with the real audio memory.
#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>
#include <tuple>

#include <boost/make_shared.hpp>

#include "base/exception.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/device/models/speaker_fixture.h"
#include "tools/simulator/orvel_config_model.h"
#include "tests/device/thrown.h"

using namespace std::chrono_literals;
using device::OrvelConfig;
using device::memory::IAudioControl;
using device::sim::OrvelConfigModel;

namespace {

using device_test::FakeMemory;

/// Every field, for comparing records with a readable difference.
std::string dump(const OrvelConfig& c) {
    std::ostringstream out;
    out << c.stateWord << '|' << c.ip << '|' << c.mask << '|' << c.gw << '|' << c.dhcp << '|' << c.ifIp << '|'
        << c.ifMask << '|' << c.ifGw << '|' << c.multicastIp << '|' << c.discoveryPort << '|' << c.srvPort << '|'
        << c.versionSpan << '|' << c.ifAudioSrvIp << '|' << c.srvAllowedIP << '|' << c.switchMode << '|'
        << c.igmpReport << '|' << int(c.zarnoAddr) << '|' << c.zarnoRelay << '|' << c.zarnoTest << '|'
        << c.zarnoReserve << '|' << c.micPort << '|' << c.audioSrvIp << '|' << c.ifSrvAllowedIp << '|'
        << c.linesJoined << '|' << c.lineTest << '|' << c.stateText << '|' << c.pairFirst << '|' << c.pairSecond
        << '|' << c.stateNumber << '|' << c.multicastListen << '|' << c.multicastAin1 << '|' << c.multicastAin2
        << '|' << c.priVoiceAlert << '|' << c.priAin1 << '|' << c.priAin2 << '|' << c.priStreamMCast << '|'
        << c.priZoneInput << '|' << c.priStream << '|' << c.scenarioAin1 << '|' << c.scenarioIdAin1 << '|'
        << c.scenarioAin2 << '|' << c.scenarioIdAin2 << '|' << c.ain2Arm << '|' << c.ainFilter;
    return out.str();
}

typedef std::map<std::string, std::string> Settings;

class OrvelConfigTest : public SpeakerFixture {
protected:
    /// A loudspeaker that keeps its settings, with a stand-in memory or a
    /// store for the real one.
    void open(int index, const Settings& settings = {}, bool orvel611 = false,
              boost::shared_ptr<IAudioControl> memory = {},
              std::shared_ptr<device::sim::AudioMemoryStore> store = {}) {
        auto model = std::make_unique<OrvelConfigModel>(kHardware, index, orvel611);
        for (const auto& setting : settings) model->values[setting.first] = setting.second;
        if (store) device::sim::AudioMemoryStore::install(store, *model);
        openModel(index, std::move(model), memory);
    }
    /// The requests the loudspeaker received without the audio memory's own.
    Requests requests() const { return device_test::requestsOf(*m_speaker, false, false); }
    std::string setting(const std::string& name) {
        return m_speaker->withModel<OrvelConfigModel>([&](OrvelConfigModel& m) { return m.values[name]; });
    }
};

}  // namespace

// ---- reading -------------------------------------------------------------------------------------

TEST_F(OrvelConfigTest, ReadsTheOldFirmwaresTwoLists) {
    open(5, {{"zarnoAddr", "17"}, {"zarnoRelay", "on"}, {"lineDouble", "on"}});
    const OrvelConfig c = m_device->getConfig(false);
    EXPECT_EQ(requests(), (Requests{"config", "ifconfig", "get linedouble", "get linetest", "get zarnotest"}));
    EXPECT_EQ(std::make_tuple(c.ip, c.ifGw, c.multicastIp, c.srvAllowedIP),
              std::make_tuple("127.0.7.20", "127.0.0.1", "224.0.224.1", "127.0.0.1"));
    // command, discovery and microphone ports; the span; the zarno address
    EXPECT_EQ(std::make_tuple(c.srvPort, c.discoveryPort, c.micPort, c.versionSpan, c.zarnoAddr),
              std::make_tuple(11990, 11991, 11992, 22, 17));
    EXPECT_FALSE(c.dhcp);
    EXPECT_TRUE(c.zarnoRelay && c.zarnoTest && c.lineTest && c.switchMode);
    EXPECT_FALSE(c.linesJoined) << "\"linedouble\" on: two independent lines";
    EXPECT_EQ(c.scenarioAin1, -1);
    EXPECT_EQ(c.scenarioIdAin1, OrvelConfig::kNoScenario);
}

TEST_F(OrvelConfigTest, OldFirmwareAsksOnlyWhatItsGenerationKnows) {
    struct Case {
        int index;
        Requests extra;  // after "config" and "ifconfig"
        bool zarnoTest;
        int updateLines;
    };
    const Case cases[] = {
        {2, {"get linedouble", "get linetest"}, true, 0},
        {3, {"get linedouble", "get linetest"}, false, 1},
        {6, {"get linedouble", "get linetest"}, false, 1},
        {8, {"get linedouble", "get linetest", "get zarnotest"}, true, 0},
    };
    for (const Case& c : cases) {
        open(c.index);
        const int before = loggedCount("Need update Orvel with name 'Зал'");
        EXPECT_EQ(m_device->getConfig(true).zarnoTest, c.zarnoTest) << c.index;
        Requests expected = {"config", "ifconfig"};
        expected.insert(expected.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(requests(), expected) << c.index;
        EXPECT_EQ(loggedCount("Need update Orvel with name 'Зал'") - before, c.updateLines) << c.index;
    }
}

TEST_F(OrvelConfigTest, StateRepliesOfEveryLengthGiveTheSameRecord) {
    // Reply fields 25 (index 12), 27 (16), 32 plus "get igmpReport" (18) and 33 (21).
    struct Case {
        int index;
        Requests sent;
    };
    const Case cases[] = {{12, {"get state"}}, {16, {"get state"}}, {18, {"get state", "get igmpReport"}},
                          {21, {"get state"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        open(c.index, {{"srvPort", "12000"}, {"dhcp", "on"}, {"stateText", "alarm test"}, {"pair", "3/9"},
                       {"zarnoAddr", "42"}, {"priStream", "9"}, {"igmpReport", "90"}, {"ainFilter", "on"},
                       {"zarnoReserve", "on"}, {"scAin1", "3"}});
        const OrvelConfig r = m_device->getConfig(false);
        EXPECT_EQ(requests(), c.sent);
        EXPECT_TRUE(r.dhcp && r.linesJoined && r.lineTest);
        EXPECT_EQ(std::make_tuple(r.stateText, r.ifAudioSrvIp), std::make_tuple("alarm test", "127.0.0.1"));
        EXPECT_EQ(std::make_tuple(r.pairFirst, r.pairSecond), std::make_tuple(3u, 9u));
        // ports, zarno address, priorities of the stream, input 1 and voice alert, span
        EXPECT_EQ(std::make_tuple(r.srvPort, r.discoveryPort, r.micPort, r.zarnoAddr, r.priStream, r.priAin1,
                                  r.priVoiceAlert, r.versionSpan),
                  std::make_tuple(12000, 12001, 12002, 42, 9, 3, 1, 22));
        // What the older generations don't report reads as its factory value.
        const bool newest = c.index >= 18;
        EXPECT_EQ(r.igmpReport, newest ? 90u : 60u);
        EXPECT_EQ(r.ainFilter, newest);
        EXPECT_EQ(r.zarnoReserve, newest);
        EXPECT_EQ(r.priZoneInput, newest ? 2 : 0);
        EXPECT_TRUE(r.switchMode);
        EXPECT_EQ(r.scenarioAin1, c.index >= 15 ? 3 : -1);
        EXPECT_EQ(r.scenarioIdAin1, c.index >= 15 ? OrvelConfig::kMissingScenario : OrvelConfig::kNoScenario)
            << "position 3 names no scenario of an unreadable memory";
    }
}

// The notice channels need only the common channel's port: one request of
// any generation, kept past the record's five seconds until a reboot. The
// whole record costs an Orvel-610 up to three replies and an old one five.
TEST_F(OrvelConfigTest, TheCommonChannelsPortTakesOneRequestAndIsKept) {
    struct Case {
        int index;
        Requests sent;
        std::uint16_t port;
    };
    const Case cases[] = {{5, {"config"}, 11991}, {12, {"get state"}, 12001}, {18, {"get state"}, 12001},
                          {21, {"get state"}, 12001}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        open(c.index, {{"srvPort", "12000"}});
        EXPECT_FALSE(m_device->knownDiscoveryPort());
        EXPECT_EQ(m_device->readDiscoveryPort(), c.port);
        EXPECT_EQ(requests(), c.sent);
        EXPECT_EQ(m_device->knownDiscoveryPort(), std::optional<std::uint16_t>(c.port));
        m_device->shift = 5100000;
        EXPECT_EQ(m_device->knownDiscoveryPort(), std::optional<std::uint16_t>(c.port)) << "past the record's time";
        ASSERT_TRUE(m_device->reboot());
        EXPECT_FALSE(m_device->knownDiscoveryPort()) << "the device may hold other settings now";
    }
    // The whole record gives it too.
    open(21);
    m_device->getConfig(false);
    EXPECT_EQ(m_device->knownDiscoveryPort(), std::optional<std::uint16_t>(11991));
}

TEST_F(OrvelConfigTest, RecordIsKeptFiveSecondsAndNotPastAReboot) {
    open(5);
    m_device->getConfig(false);
    m_device->getConfig(false);
    EXPECT_EQ(requests().size(), 5u) << "the second read comes from the kept record";
    m_device->getConfig(true);
    const Requests sent = requests();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "ifconfig"), 2);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "config"), 1) << "the base keeps \"config\"";

    m_device->shift = 5100000;
    m_speaker->clearReceived();
    m_device->getConfig(false);
    EXPECT_EQ(requests(), (Requests{"ifconfig"})) << "expired; the base still has the rest";

    // A reboot drops both: the device may hold other settings now.
    m_speaker->clearReceived();
    ASSERT_TRUE(m_device->reboot());
    m_device->getConfig(false);
    EXPECT_EQ(requests(), (Requests{"reboot", "config", "ifconfig", "get linedouble", "get linetest",
                                    "get zarnotest"}));
}

TEST_F(OrvelConfigTest, MalformedRepliesAreDeviceErrors) {
    struct Case {
        const char* what;
        int index;
        std::string config;  // "config" reply, index 8 and below
        std::string state;   // "get state" reply
        std::string response;  // carried by the exception; "*": the reply with the bad field
    };
    const std::string state21 =
        "state:\r\n0\r\nready\r\n1/2\r\n0\r\nstatic\r\n127.0.7.20\r\n255.0.0.0\r\n127.0.0.1\r\n127.0.7.20\r\n"
        "255.0.0.0\r\n127.0.0.1\r\n224.0.224.1\r\n127.0.0.1\r\n11990\r\noff\r\noff\r\noff\r\n3\r\n4\r\n1\r\n5\r\n2\r\n"
        "6\r\n5\r\noff\r\non\r\noff\r\n-1\r\n-1\r\non\r\noff\r\noff\r\n60\r\n";
    const auto replaced = [&state21](const std::string& from, const std::string& to) {
        std::string text = state21;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    std::string fields25 = "state:";
    for (int i = 0; i < 25; ++i) fields25 += "\r\nx";
    const Case cases[] = {
        {"12 config fields", 5, "config:\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12\r\n", "", ""},
        {"audio server no address", 5,
         "config:\r\n127.0.7.20\r\n255.0.0.0\r\n127.0.0.1\r\n-\r\nstatic\r\n224.0.224.1\r\nserver:11991\r\n"
         "127.0.0.1:11992\r\n127.0.0.1:11990\r\n5\r\n-\r\n-\r\noff\r\n",
         "", "*"},
        {"25 fields at index 16", 16, "", fields25, "*"},
        {"address", 21, "", replaced("127.0.7.20", "localhost"), "*"},
        {"pair", 21, "", replaced("1/2", "1 of 2"), "*"},
        {"zarno 128", 21, "", replaced("\r\n5\r\noff\r\non", "\r\n128\r\noff\r\non"), "*"},
        {"flag", 21, "", replaced("\r\n11990\r\noff", "\r\n11990\r\nyes"), "*"},
        {"position 65", 21, "", replaced("-1\r\n-1", "65\r\n-1"), "*"},
        {"device error", 21, "", "ERR busy", "ERR busy"},
    };
    for (const Case& c : cases) {
        open(c.index);
        m_speaker->withModel<OrvelConfigModel>([&c](OrvelConfigModel& m) {
            m.configReplyOverride = c.config;
            m.stateReplyOverride = c.state;
            return 0;
        });
        const std::string response =
            device_test::responseOf<exception::UnexpectedResponseOfDevice>([&] { m_device->getConfig(true); });
        // The reply as the exchange hands it on: trimmed.
        const std::string state = c.state.substr(0, c.state.find_last_not_of("\r\n") + 1);
        if (c.response != "*")
            EXPECT_EQ(response, c.response) << c.what;
        else if (c.index < 9)
            EXPECT_NE(response.find("server:11991"), std::string::npos) << c.what;
        else
            EXPECT_EQ(response, state) << c.what;
        if (c.index < 9) {
            EXPECT_EQ(requests(), (Requests{"config", "ifconfig"})) << c.what;
        }
    }
    EXPECT_GE(loggedCount("Неверный формат настроек прибора Орвел-610."), 3);
    // An address or pair that can't be read keeps the check's log lines but
    // reaches the caller as the device's reply, not as an internal error.
    EXPECT_EQ(loggedCount("Detected an error in device response!"), 3);
    EXPECT_EQ(loggedCount("Место 'device::OrvelInfo::getConfig'"), 3);
}

// The old firmware's bad zarno field is logged but the record returned; a
// port above 16 bits used to be cut without a word.
TEST_F(OrvelConfigTest, BadZarnoFieldAndCommandPortPast16BitsAreLoggedButTheRecordReturned) {
    open(5, {{"zarnoAddr", "128"}});
    EXPECT_EQ(m_device->getConfig(true).zarnoAddr, 0) << "left as it was";
    EXPECT_EQ(loggedCount("Неверный формат настроек прибора Орвел-510."), 1);
    open(21, {{"srvPort", "70000"}});
    EXPECT_EQ(m_device->getConfig(true).srvPort, 4464);
    EXPECT_EQ(loggedCount("The device sent command port = 70000, which is cut to 4464"), 1);
}

TEST_F(OrvelConfigTest, NotOnlineIsOfflineAndNothingIsSent) {
    open(21);
    const OrvelConfig c = m_device->getConfig(true);
    m_device->shift = 8000000;  // silent for 8 s
    m_speaker->clearReceived();
    EXPECT_THROW(m_device->getConfig(false), exception::Offline);
    EXPECT_THROW(m_device->setConfig(c), exception::Offline);
    EXPECT_TRUE(requests().empty());
}

// ---- writing -------------------------------------------------------------------------------------

TEST_F(OrvelConfigTest, WriteSendsEachGenerationsKeysInOrder) {
    struct Case {
        int index;
        bool orvel611;
        Requests sent;
        bool rebooted;
    };
    const Requests o610 = {"set zarnoAddr 9",       "set zarnoRelay on", "set zarnoRelay on",
                           "set multicastAIN0 on", "set priStream 7",   "reboot"};
    const Requests newest = {"set zarnoAddr 9", "set zarnoRelay on", "set multicastAIN1 on",
                             "set priStream 7", "set ainFilter on",  "set igmpReport 90"};
    const Case cases[] = {
        {5, false, {"set AddrZarno 9", "set ReleEvent on", "reboot"}, true},
        {12, false, o610, true},
        {16, false, o610, true},
        // Both namings of the first input at index 17.
        {17, false,
         {"set zarnoAddr 9", "set zarnoRelay on", "set zarnoRelay on", "set multicastAIN0 on",
          "set multicastAIN1 on", "set priStream 7", "reboot"},
         true},
        {18, false,
         {"set zarnoAddr 9", "set zarnoRelay on", "set zarnoRelay on", "set multicastAIN1 on", "set priStream 7",
          "set ainFilter on", "set igmpReport 90", "reboot"},
         true},
        {18, true,
         {"set zarnoAddr 9", "set zarnoRelay on", "set zarnoRelay on", "set zarnoReserve on",
          "set multicastAIN1 on", "set priStream 7", "set ainFilter on", "set igmpReport 90", "reboot"},
         true},
        {19, false, newest, false},
        {21, false, newest, false},
    };
    for (const Case& c : cases) {
        open(c.index, {}, c.orvel611);
        OrvelConfig config = m_device->getConfig(false);
        config.zarnoAddr = 9;
        config.zarnoRelay = true;
        config.zarnoTest = true;
        config.zarnoReserve = true;
        config.priStream = 7;
        config.multicastAin1 = true;
        config.ainFilter = true;
        config.igmpReport = 90;
        m_speaker->clearReceived();
        EXPECT_EQ(m_device->setConfig(config), c.rebooted) << c.index;
        EXPECT_EQ(requests(), c.sent) << c.index << (c.orvel611 ? " Orvel-611" : "");
    }
    EXPECT_GE(loggedCount("Skip a param 'zarnoReserve'. Orvel 'Зал'"), 1) << "Orvel-610 at 18 has no reserve";
}

TEST_F(OrvelConfigTest, OldFirmwaresPortsAndAudioServerFollowTheCommandSettings) {
    open(5);
    OrvelConfig config = m_device->getConfig(false);
    config.srvPort = 2000;
    config.srvAllowedIP = "127.0.0.9";
    m_speaker->clearReceived();
    EXPECT_TRUE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"set cmdPort 2000", "set cmdSrvIP 127.0.0.9", "set ch0Port 2001",
                                    "set ch1Port 2002", "set audioSrvIP 127.0.0.9", "reboot"}));
    EXPECT_EQ(loggedCount("It is new discovery and mic ports 2001/2002 for device id=3"), 1);
    EXPECT_EQ(setting("ch1Port"), "2002");
}

TEST_F(OrvelConfigTest, WriteWithoutRebootReadsBackTheSame) {
    open(20);  // an Orvel-45: every key of the newest table applies
    OrvelConfig config = m_device->getConfig(false);
    const OrvelConfig before = config;
    config.zarnoAddr = 100;
    config.zarnoRelay = config.zarnoTest = config.zarnoReserve = true;
    config.multicastListen = true;
    config.priAin1 = 20;
    config.priAin2 = 21;
    config.priZoneInput = 22;
    config.priVoiceAlert = 23;
    config.priStreamMCast = 24;
    config.priStream = 25;
    config.ain2Arm = config.ainFilter = true;
    config.igmpReport = 125;
    ASSERT_NE(dump(config), dump(before));
    EXPECT_FALSE(m_device->setConfig(config));
    m_speaker->clearReceived();
    EXPECT_EQ(dump(m_device->getConfig(false)), dump(config)) << "kept as written";
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(dump(m_device->getConfig(true)), dump(config)) << "and the device holds it";

    // The same record again: nothing to send, only the record kept anew.
    m_speaker->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_TRUE(requests().empty());
}

TEST_F(OrvelConfigTest, RefusedWritesSendNothing) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->scenarios = {40, 41};
    open(21, {}, false, memory);
    const OrvelConfig current = m_device->getConfig(false);
    struct Case {
        const char* what;
        void (*change)(OrvelConfig&, FakeMemory&);
        std::wstring code;
    };
    const Case cases[] = {
        {"port", [](OrvelConfig& c, FakeMemory&) { c.srvPort = 1023; }, L"Получен неверный формат данных"},
        {"unwritten memory",
         [](OrvelConfig& c, FakeMemory& m) {
             c.scenarioIdAin1 = 41;
             m.changes = true;
         },
         L"changes"},
        {"unknown scenario", [](OrvelConfig& c, FakeMemory&) { c.scenarioIdAin2 = 77; },
         L"unknownAinScenarioNumber"},
    };
    for (const Case& c : cases) {
        OrvelConfig config = current;
        config.zarnoAddr = 99;  // something to send if it weren't refused
        c.change(config, *memory);
        EXPECT_EQ(device_test::notificationOf<exception::Base>([&] { m_device->setConfig(config); }), c.code) << c.what;
        memory->changes = false;
    }
    EXPECT_EQ(requests(), Requests{});
}

TEST_F(OrvelConfigTest, AnalogInputsAreWrittenAsPositionsOfTheirScenarios) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->scenarios = {40, 41, 42};
    for (const int index : {17, 21}) {
        open(index, {{"scAin1", "1"}, {"scAin2", "3"}}, false, memory);
        OrvelConfig config = m_device->getConfig(false);
        EXPECT_EQ(config.scenarioIdAin1, 40);
        EXPECT_EQ(config.scenarioIdAin2, 42);
        config.scenarioIdAin1 = 42;
        config.scenarioIdAin2 = OrvelConfig::kNoScenario;
        m_speaker->clearReceived();
        EXPECT_FALSE(m_device->setConfig(config));
        const Requests expected = index == 17
                                      ? Requests{"set scAIN0 3", "set scAIN1 -1", "set scAIN1 3", "set scAIN2 -1"}
                                      : Requests{"set scAIN1 3", "set scAIN2 -1"};
        EXPECT_EQ(requests(), expected) << index;
        const OrvelConfig kept = m_device->getConfig(false);
        EXPECT_EQ(kept.scenarioAin1, 3);
        EXPECT_EQ(kept.scenarioIdAin1, 42);
        EXPECT_EQ(kept.scenarioAin2, -1);
    }
}

TEST_F(OrvelConfigTest, APositionThatNamesNoScenarioIsKeptButNeverChosen) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->scenarios = {40};
    open(21, {{"scAin1", "1"}, {"scAin2", "3"}}, false, memory);
    OrvelConfig config = m_device->getConfig(false);
    ASSERT_EQ(config.scenarioIdAin2, OrvelConfig::kMissingScenario);
    config.zarnoAddr = 99;
    m_speaker->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), Requests{"set zarnoAddr 99"}) << "position 3 stays";
    EXPECT_EQ(m_device->getConfig(false).scenarioAin2, 3);

    // The mark given to an input that names a scenario is no scenario to place.
    config = m_device->getConfig(false);
    config.scenarioIdAin1 = OrvelConfig::kMissingScenario;
    m_speaker->clearReceived();
    EXPECT_EQ(device_test::notificationOf<exception::Base>([&] { m_device->setConfig(config); }),
              L"unknownAinScenarioNumber");
    EXPECT_EQ(requests(), Requests{});
}

TEST_F(OrvelConfigTest, RemovedScenarioResetsItsInputWithAStandIn) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->scenarios = {40, 41};
    open(21, {{"scAin1", "2"}}, false, memory);
    ASSERT_EQ(m_device->getConfig(false).scenarioIdAin1, 41);
    memory->scenarios = {40};
    ASSERT_TRUE(memory->changed) << "the loudspeaker watches its memory";
    m_speaker->clearReceived();
    memory->changed();
    EXPECT_EQ(requests(), (Requests{"set scAIN1 -1"}));
    EXPECT_EQ(loggedCount("Настройки для аналоговых входов сброшены."), 1);
    EXPECT_EQ(m_device->getConfig(false).scenarioIdAin1, OrvelConfig::kNoScenario);

    m_device->shift = 8000000;  // silent for 8 s: nothing is read or written
    m_speaker->clearReceived();
    memory->changed();
    EXPECT_EQ(requests(), Requests{});
    EXPECT_EQ(loggedCount("Device is offline. Skip setting gong number"), 1);
}

// The real audio memory over UDP: the memory read on first use fills the
// inputs' ids; removing the scenario and writing the memory re-aims input 1.
TEST_F(OrvelConfigTest, AudioMemoryWriteReaimsTheAnalogInputs) {
    const auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
    store->plant(memory_test::plantedImage(device::memory::kLayout611, 2, 3000));
    open(21, {{"scAin1", "1"}}, false, {}, store);

    const auto memory = m_device->getAudioControl(false, true);
    ASSERT_TRUE(memory);
    ASSERT_TRUE(memory->hasScenario(5));
    // No record was kept yet: a job reads it for the inputs' ids.
    for (int i = 0; i < 100 && requests().empty(); ++i) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(waitForIdleDispatcher()) << "the job that reads the record has not returned";
    EXPECT_EQ(requests(), (Requests{"get state"}));
    EXPECT_EQ(m_device->getConfig(false).scenarioIdAin1, 5);

    memory->removeScenario(5);
    device_test::ProgressLog progress;
    memory->writeChanges(progress.reporter());
    device_test::expectOneJob(progress.waitFinals(1, 10s), 100);
    EXPECT_EQ(setting("scAin1"), "-1");
    EXPECT_EQ(loggedCount("Настройки для аналоговых входов сброшены."), 1);
}

// ---- generic slots and debug ------------------------------------------------------------------------

TEST_F(OrvelConfigTest, GenericSlotsAndDebugRequest) {
    open(5);
    EXPECT_EQ(m_device->getDebugInfo(), "line:\r\nR1=8.1\r\nR2=7.9");
    open(21);
    EXPECT_EQ(m_device->getDebugInfo(), "dbg:\r\nuptime=3600\r\nresets=0");
    device::ConfigCommon common = m_device->readConfig(true);
    EXPECT_EQ(common.srvPort, 11990);
    common.zarnoAddr = 33;
    m_speaker->clearReceived();
    EXPECT_FALSE(m_device->writeConfig(common));
    EXPECT_EQ(requests(), (Requests{"set zarnoAddr 33"})) << "the rest of the record kept from the read";
}
