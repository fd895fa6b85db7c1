// ctest-labels: net
// The console's configuration over UDP against a simulated console: the
// "get state" record, the kept copy, the key-by-key writes as the console
// receives them with the restarts, each refusal, the gong chosen and cleared
// with a stand-in memory and kept on its fragment with the real one.
#include <sstream>
#include <tuple>

#include "base/exception.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/device/models/tovik_test_support.h"
#include "tests/device/thrown.h"

using device::TovikConfig;
using namespace tovik_test;

namespace {

/// Every field, for comparing records with a readable difference.
std::string dump(const TovikConfig& c) {
    std::ostringstream out;
    out << c.stateWord << '|' << c.ip << '|' << c.mask << '|' << c.gw << '|' << c.dhcp << '|' << c.ifIp << '|'
        << c.ifMask << '|' << c.ifGw << '|' << c.multicastIp << '|' << c.discoveryPort << '|' << c.srvPort << '|'
        << c.versionSpan << '|' << c.ifAudioSrvIp << '|' << c.srvAllowedIP << '|' << c.switchMode << '|'
        << c.igmpReport << '|' << int(c.zarnoAddr) << '|' << c.zarnoRelay << '|' << c.zarnoTest << '|'
        << c.zarnoReserve << '|' << c.consoleWord << '|' << c.gong << '|' << c.gongOrder << '|' << c.gongId << '|'
        << c.beeper << '|' << c.faultAlarm << '|' << c.ledScBlink << '|' << c.passkey << '|' << c.singlePower
        << '|' << c.gochsArm << '|' << c.rawPriority << '|' << c.ainEnabled << '|' << c.priority << '|'
        << c.priorityGOChS << '|' << c.powerIn1 << '|' << c.powerIn2;
    return out.str();
}

/// A fire console's settings that pass every rule: AIN on needs the fault
/// alarm and two supplies.
const Settings kFire = {{"priority", "133"}, {"faultAlarm", "on"}, {"singlePower", "off"}, {"gochsArm", "on"}};

}  // namespace

class TovikConfigTest : public ConsoleTest {};

// ---- reading -------------------------------------------------------------------------------------

TEST_F(TovikConfigTest, ReadsEveryFieldAndKeepsTheRecord) {
    open({{"consoleWord", "4294967295"}, {"dhcp", "on"}, {"ip", "127.0.8.31:80"}, {"srvPort", "12000"},
          {"gongOrder", "3"}, {"gong", "on"}, {"zarnoAddr", "127"}, {"igmpReport", "65535"}, {"powerIn2", "4"},
          {"priority", "133"}, {"priorityGOChS", "on"}, {"addr1", "127.0.9.1"}});
    const TovikConfig c = m_device->getConfig(false);
    EXPECT_EQ(requests(), (Requests{"get state"}));
    EXPECT_EQ(c.consoleWord, 4294967295u);
    EXPECT_TRUE(c.dhcp && c.gong && c.ainEnabled && c.priorityGOChS);
    EXPECT_FALSE(c.zarnoRelay);
    // "ip" gives its address part
    EXPECT_EQ(std::make_tuple(c.ip, c.ifIp, c.srvAllowedIP, c.ifAudioSrvIp),
              std::make_tuple("127.0.8.31", "127.0.9.1", "127.0.0.1", "127.0.0.1"));
    // ports, span, gong position, zarno address
    EXPECT_EQ(std::make_tuple(c.srvPort, c.discoveryPort, c.versionSpan, c.gongOrder, c.zarnoAddr),
              std::make_tuple(12000, 12001, 2, 3, 127));
    EXPECT_EQ(c.gongId, TovikConfig::kNoGong) << "no memory to name the fragment";
    // igmp report, power inputs, raw priority and the priority without the AIN bit
    EXPECT_EQ(std::make_tuple(c.igmpReport, c.powerIn1, c.powerIn2, c.rawPriority, c.priority),
              std::make_tuple(65535u, 1u, 4u, 133u, 5u));
    EXPECT_EQ(c.purpose(), 1) << "a fire console";

    m_console->clearReceived();
    EXPECT_EQ(dump(m_device->getConfig(false)), dump(c));
    EXPECT_TRUE(requests().empty()) << "kept";
    m_device->resetCache();
    m_device->getConfig(false);
    EXPECT_EQ(requests(), (Requests{"get state"})) << "dropped with the cache";
}

TEST_F(TovikConfigTest, MalformedRepliesAreDeviceErrors) {
    open();
    const std::string good = model([](device::sim::TovikConfigModel& m) { return m.stateReply(); });
    const auto replaced = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    std::string fields28 = "state:";
    for (int i = 0; i < 28; ++i) fields28 += "\r\n1";
    struct Case {
        const char* what;
        std::string reply;
    };
    const Case cases[] = {
        {"28 fields", fields28},
        {"address", replaced("127.0.8.30", "localhost")},
        {"flag", replaced("\r\noff\r\n0\r\n", "\r\nyes\r\n0\r\n")},
        {"gong order", replaced("\r\noff\r\n0\r\n", "\r\noff\r\n32768\r\n")},
        {"priority 256", replaced("\r\n5\r\n", "\r\n256\r\n")},
        {"power input 5", replaced("\r\n2\r\n60", "\r\n5\r\n60")},
        {"port", replaced("11990", "65536")},
        {"zarno 128", replaced("\r\n7\r\n", "\r\n128\r\n")},
        {"device error", "ERR busy"},
    };
    for (const Case& c : cases) {
        model([&c](device::sim::TovikConfigModel& m) { return m.stateReplyOverride = c.reply; });
        // The reply as the exchange hands it on: trimmed.
        EXPECT_EQ(device_test::responseOf<exception::UnexpectedResponseOfDevice>([&] { m_device->getConfig(true); }),
                  c.reply.substr(0, c.reply.find_last_not_of("\r\n") + 1))
            << c.what;
    }
    EXPECT_EQ(loggedCount("Неверный формат настроек микрофонной консоли. (hw=02:56:53:00:00:31"), 7);

    model([&good](device::sim::TovikConfigModel& m) { return m.stateReplyOverride = good; });
    EXPECT_EQ(m_device->getConfig(true).ip, "127.0.8.30") << "29 good fields";
}

TEST_F(TovikConfigTest, NotOnlineIsOfflineAndNothingIsSent) {
    open();
    const TovikConfig c = m_device->getConfig(true);
    m_device->shift = 8000000;  // silent for 8 s
    m_console->clearReceived();
    EXPECT_THROW(m_device->getConfig(false), exception::Offline);
    EXPECT_THROW(m_device->setConfig(c), exception::Offline);
    EXPECT_TRUE(requests().empty());
}

// ---- writing -------------------------------------------------------------------------------------

TEST_F(TovikConfigTest, WriteWithoutRestartReadsBackTheSame) {
    open();
    TovikConfig config = m_device->getConfig(false);
    const TovikConfig before = config;
    config.beeper = false;
    config.ledScBlink = config.passkey = config.zarnoReserve = config.priorityGOChS = true;
    config.zarnoTest = false;
    config.zarnoAddr = 100;
    config.priority = 77;
    config.powerIn1 = 3;
    config.powerIn2 = 0;
    config.igmpReport = 125;
    ASSERT_NE(dump(config), dump(before));
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state", "set beeper off", "set ledScBlink on", "set passkey on",
                                    "set zarnoAddr 100", "set zarnoTest off", "set zarnoReserve on",
                                    "set priority 77", "set priorityGOChS on", "set powerIn1 3", "set powerIn2 0",
                                    "set igmpReport 125"}));
    m_console->clearReceived();
    config.rawPriority = 77;  // read back as the console holds it
    EXPECT_EQ(dump(m_device->getConfig(false)), dump(config)) << "kept as written";
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(dump(m_device->getConfig(true)), dump(config)) << "and the console holds it";

    // One change alone: one request, no restart.
    config.beeper = true;
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state", "set beeper on"}));
}

TEST_F(TovikConfigTest, PriorityIsSentWithTheAinBitOnlyWhenTheRawValueDiffers) {
    open(kFire);
    TovikConfig config = m_device->getConfig(false);
    ASSERT_TRUE(config.ainEnabled);
    ASSERT_EQ(config.priority, 5u);
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state"})) << "133 is what the console holds";
    config.priority = 6;
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state", "set priority 134"}));
    EXPECT_EQ(setting("priority"), "134");
}

TEST_F(TovikConfigTest, AddressKeysRestartOnlyWithoutDhcp) {
    struct Case {
        const char* dhcp;
        void (*change)(TovikConfig&);
        Requests sent;  // after "get state"
        bool rebooted;
    };
    const Case cases[] = {
        {"on", [](TovikConfig& c) { c.ip = "127.0.8.99"; }, {"set ip 127.0.8.99"}, false},
        {"off", [](TovikConfig& c) { c.ip = "127.0.8.99"; }, {"set ip 127.0.8.99", "reboot"}, true},
        {"off", [](TovikConfig& c) { c.dhcp = true; }, {"set dhcp on", "reboot"}, true},
        {"on", [](TovikConfig& c) { c.srvPort = 2000; }, {"set srvPort 2000", "reboot"}, true},
        {"on", [](TovikConfig& c) { c.switchMode = false; }, {"set switchMode off", "reboot"}, true},
        {"on",
         [](TovikConfig& c) {
             c.multicastIp = "239.1.1.1";
             c.srvAllowedIP = "127.0.0.2";
         },
         {"set multicastIp 239.1.1.1", "set srvAllowedIP 127.0.0.2", "reboot"},
         true},
    };
    for (const Case& c : cases) {
        open({{"dhcp", c.dhcp}});
        TovikConfig config = m_device->getConfig(false);
        c.change(config);
        m_console->clearReceived();
        EXPECT_EQ(m_device->setConfig(config), c.rebooted) << c.sent.front();
        Requests expected{"get state"};
        expected.insert(expected.end(), c.sent.begin(), c.sent.end());
        EXPECT_EQ(requests(), expected);
        if (c.rebooted) {
            // The record kept before the restart is not the console's now.
            std::this_thread::sleep_for(1100ms);  // past the skipped packets of a restart
            ASSERT_TRUE(m_device->parsePing(packet(), m_device->getIp()));
            m_console->clearReceived();
            m_device->getConfig(false);
            EXPECT_EQ(requests(), (Requests{"get state"})) << c.sent.front();
        }
    }
}

TEST_F(TovikConfigTest, RefusedWritesSendNoKey) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->fragments = {10, 11, 12};
    open({}, memory);
    const TovikConfig current = m_device->getConfig(false);
    struct Case {
        const char* what;
        void (*change)(TovikConfig&, FakeMemory&);
        std::wstring code;
        std::wstring details;  // checked when not empty
    };
    const std::wstring format = L"Получен неверный формат данных";
    const std::wstring network = L"Проверка сетевых настроек", priority = L"Проверка приоритета и гонга";
    const Case cases[] = {
        {"multicast 240", [](TovikConfig& c, FakeMemory&) { c.multicastIp = "240.0.0.1"; }, format, network},
        {"port 1023", [](TovikConfig& c, FakeMemory&) { c.srvPort = 1023; }, format, network},
        {"port 65534", [](TovikConfig& c, FakeMemory&) { c.srvPort = 65534; }, format, network},
        {"mask", [](TovikConfig& c, FakeMemory&) { c.mask = "255.255.0"; }, format, network},
        {"priority 0", [](TovikConfig& c, FakeMemory&) { c.priority = 0; }, format, priority},
        {"priority 101", [](TovikConfig& c, FakeMemory&) { c.priority = 101; }, format, priority},
        {"gong 32766", [](TovikConfig& c, FakeMemory&) { c.gongId = 32766; }, format, priority},
        {"power inputs", [](TovikConfig& c, FakeMemory&) { c.powerIn2 = c.powerIn1; }, L"disallowedPowerIn", L""},
        {"GOChS arm without AIN", [](TovikConfig& c, FakeMemory&) { c.gochsArm = true; }, L"disallowedAin", L""},
        {"AIN without fault alarm",
         [](TovikConfig& c, FakeMemory&) {
             c.ainEnabled = true;
             c.faultAlarm = false;
         },
         L"disallowedFaultAlarm", L""},
        {"AIN with one supply",
         [](TovikConfig& c, FakeMemory&) {
             c.ainEnabled = true;
             c.singlePower = true;
         },
         L"disallowedSinglePowerSupply", L""},
        {"gong on, memory unwritten",
         [](TovikConfig& c, FakeMemory& m) {
             c.gong = true;
             c.gongId = 11;
             m.changes = true;
         },
         L"changes", L""},
        {"gong not in the memory", [](TovikConfig& c, FakeMemory&) { c.gongId = 99; }, L"brokenGong", L""},
    };
    for (const Case& c : cases) {
        TovikConfig config = current;
        config.beeper = !config.beeper;  // something to send if it weren't refused
        c.change(config, *memory);
        const std::wstring message = device_test::messageOf<exception::Base>([&] { m_device->setConfig(config); });
        EXPECT_EQ(message.substr(0, message.find(L'|')), c.code) << c.what;
        if (!c.details.empty()) {
            EXPECT_EQ(message.substr(message.find(L'|') + 1), c.details) << c.what;
        }
        memory->changes = false;
    }
    for (const std::string& sent : requests()) EXPECT_EQ(sent, "get state");
    EXPECT_EQ(loggedCount("don't found gong index=99"), 1);

    // A console that plays refuses before anything is asked.
    model([](device::sim::TovikConfigModel& m) { return m.fields[8] = 0x02; });
    ASSERT_TRUE(m_device->parsePing(packet(), m_device->getIp()));
    m_console->clearReceived();
    EXPECT_EQ(device_test::notificationOf<exception::UserResponse>([&] { m_device->setConfig(current); }),
              L"internalPlaying");
    EXPECT_TRUE(requests().empty());
}

// The gong is chosen by fragment id and written as its position; clearing
// it (id 0xFFFF) switches it off and leaves the position alone. Clearing
// used to be refused as a gong missing from the memory.
TEST_F(TovikConfigTest, GongIsSetAndCleared) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->fragments = {10, 11, 12};
    open({{"gongOrder", "1"}}, memory);
    TovikConfig config = m_device->getConfig(false);
    ASSERT_EQ(config.gongId, 10) << "the fragment at the console's position";
    config.gong = true;
    config.gongId = 12;
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state", "set gongOrder 3", "set gong on"}));
    EXPECT_EQ(m_device->getConfig(false).gongId, 12);
    EXPECT_EQ(m_device->getConfig(true).gongId, 12) << "kept across reads";

    config = m_device->getConfig(false);
    config.gongId = TovikConfig::kNoGong;  // what the panel sends when nothing is chosen
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(requests(), (Requests{"get state", "set gong off"}));
    EXPECT_EQ(setting("gongOrder"), "3") << "no position for no gong";
    const TovikConfig kept = m_device->getConfig(false);
    EXPECT_FALSE(kept.gong);
    EXPECT_EQ(kept.gongId, TovikConfig::kNoGong);

    // A memory change has no gong to re-aim now.
    memory->fragments = {12, 10, 11};
    m_console->clearReceived();
    memory->changed();
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(setting("gong"), "off");
}

TEST_F(TovikConfigTest, MemoryChangeReaimsTheGongOrResetsIt) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->fragments = {10, 11, 12};
    open({{"gongOrder", "2"}, {"gong", "on"}}, memory);
    ASSERT_EQ(m_device->getConfig(false).gongId, 11);

    // Fragment 11 moved to the front: the console gets its new position,
    // and the gong stays on.
    memory->fragments = {11, 10, 12};
    m_console->clearReceived();
    ASSERT_TRUE(memory->changed);
    memory->changed();
    EXPECT_EQ(requests(), (Requests{"get state", "set gongOrder 1"}));
    EXPECT_EQ(setting("gong"), "on");

    // Fragment 11 gone: the choice is dropped with a warning.
    memory->fragments = {10, 12};
    m_console->clearReceived();
    memory->changed();
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(loggedCount("Настройки для гонга сброшены."), 1);
    EXPECT_EQ(m_device->getConfig(false).gongId, TovikConfig::kNoGong);

    m_device->shift = 8000000;  // silent for 8 s: nothing is read or written
    memory->changed();
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(loggedCount("Device is offline. Skip setting gong number"), 1);
}

// The real audio memory over UDP: made on first use, it names the gong; a
// written memory that moved the gong's fragment moves the console's position.
TEST_F(TovikConfigTest, AudioMemoryWriteMovesTheGong) {
    const auto store = std::make_shared<device::sim::AudioMemoryStore>(device::memory::kLayout611, 256 * 1024);
    store->plant(memory_test::plantedImage(device::memory::kLayout611, 3, 2000));
    open({}, {}, store);
    const auto memory = m_device->getAudioControl(false, true);
    const std::uint16_t position = memory->getFragmentPosition(12);
    ASSERT_NE(position, device::memory::IAudioControl::kNone);
    TovikConfig config = m_device->getConfig(false);
    config.gong = true;
    config.gongId = 12;
    m_console->clearReceived();
    EXPECT_FALSE(m_device->setConfig(config));
    EXPECT_EQ(setting("gongOrder"), std::to_string(position));

    memory->removeFragment(10);
    const std::uint16_t moved = memory->getFragmentPosition(12);
    ASSERT_NE(moved, position);
    device_test::ProgressLog progress;
    memory->writeChanges(progress.reporter());
    device_test::expectOneJob(progress.waitFinals(1, 10s), 100);
    EXPECT_EQ(setting("gongOrder"), std::to_string(moved));
    EXPECT_EQ(setting("gong"), "on");
    EXPECT_EQ(m_device->getConfig(false).gongId, 12);
}

// ---- generic slots and debug ------------------------------------------------------------------------

TEST_F(TovikConfigTest, GenericSlotsKeepTheConsoleFields) {
    open(kFire);
    EXPECT_EQ(m_device->getDebugInfo(), "dbg:\r\nuptime=7200\r\nmic=ok");
    device::ConfigCommon common = m_device->readConfig(true);
    EXPECT_EQ(common.srvPort, 11990);
    common.zarnoAddr = 33;
    m_console->clearReceived();
    EXPECT_FALSE(m_device->writeConfig(common));
    EXPECT_EQ(requests(), (Requests{"get state", "set zarnoAddr 33"})) << "the console fields kept from the read";
}

// The kept record's gong flag follows what the console's state packets say.
TEST_F(TovikConfigTest, StatePacketsTellTheGongFlag) {
    open();
    ASSERT_FALSE(m_device->getConfig(false).gong);
    model([](device::sim::TovikConfigModel& m) { return m.fields[8] = 0x01; });
    ASSERT_TRUE(m_device->parsePing(packet(), m_device->getIp()));
    m_console->clearReceived();
    EXPECT_TRUE(m_device->getConfig(false).gong);
    EXPECT_TRUE(requests().empty());
}

// A write refused by the power rules chose no gong: the next memory change
// must not write the gong of the refused record.
TEST_F(TovikConfigTest, RefusedWriteLeavesTheKeptGongAlone) {
    const auto memory = boost::make_shared<FakeMemory>();
    memory->fragments = {10, 11, 12};
    open({{"gongOrder", "1"}}, memory);
    TovikConfig config = m_device->getConfig(false);
    config.gong = true;
    config.gongId = 12;
    config.powerIn2 = config.powerIn1;
    EXPECT_THROW(m_device->setConfig(config), exception::UserResponse);
    m_console->clearReceived();
    memory->changed();
    for (const std::string& sent : requests()) EXPECT_EQ(sent.rfind("set ", 0), std::string::npos) << sent;
    EXPECT_EQ(setting("gong"), "off");
    EXPECT_EQ(m_device->getConfig(false).gongId, 10);
}
