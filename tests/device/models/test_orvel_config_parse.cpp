// The loudspeaker configuration's checks before a write, without a device.
// (The reply parsers meet random replies in the reply fuzz targets.)
#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/models/orvel_config.h"
#include "tests/support/counting_log_fixture.h"

using device::OrvelConfig;

namespace {

OrvelConfig validConfig() {
    OrvelConfig c;
    c.ip = "127.0.7.20";
    c.mask = "255.0.0.0";
    c.gw = "127.0.0.1";
    c.srvAllowedIP = "127.0.0.1";
    c.multicastIp = "224.0.224.1";
    c.srvPort = 11990;
    c.zarnoAddr = 5;
    c.priVoiceAlert = 1;
    c.priZoneInput = 2;
    c.priAin1 = 3;
    c.priAin2 = 4;
    c.priStreamMCast = 5;
    c.priStream = 6;
    return c;
}

/// The stage text the check refused with; empty when it passed.
std::wstring refusal(const OrvelConfig& config, int index) {
    try {
        device::validateOrvelConfig(config, index);
        return std::wstring();
    } catch (const exception::IncorrectFormat& e) {
        return e.getDetails();
    }
}

const std::wstring kNetwork = L"Проверка сетевых настроек";
const std::wstring kZarno = L"Проверка настроек подсистемы ЗАРНО";
const std::wstring kMulticast = L"Проверка настроек источника воспроизведения (мультикаст)";
const std::wstring kPriorities = L"Проверка приоритетов";

}  // namespace

using OrvelConfigParseTest = CountingLogFixture;

TEST_F(OrvelConfigParseTest, EachValidationStageRefusesWithItsOwnText) {
    struct Case {
        const char* what;
        void (*change)(OrvelConfig&);
        int index;
        std::wstring stage;
    };
    const Case cases[] = {
        {"valid", [](OrvelConfig&) {}, 21, L""},
        {"port 1023", [](OrvelConfig& c) { c.srvPort = 1023; }, 21, kNetwork},
        {"port 1024", [](OrvelConfig& c) { c.srvPort = 1024; }, 21, L""},
        {"port 65514", [](OrvelConfig& c) { c.srvPort = 65514; }, 21, L""},
        {"port 65515", [](OrvelConfig& c) { c.srvPort = 65515; }, 21, kNetwork},
        {"multicast 239", [](OrvelConfig& c) { c.multicastIp = "239.1.1.1"; }, 21, L""},
        {"multicast 240", [](OrvelConfig& c) { c.multicastIp = "240.0.0.1"; }, 21, kNetwork},
        {"multicast 223", [](OrvelConfig& c) { c.multicastIp = "223.255.0.1"; }, 21, kNetwork},
        {"gateway text", [](OrvelConfig& c) { c.gw = "gateway"; }, 5, kNetwork},
        // Sent to the device as typed, which reads it in its own way.
        {"address with a tail", [](OrvelConfig& c) { c.ip = "10.0.0.5.7"; }, 21, kNetwork},
        {"mask with a blank", [](OrvelConfig& c) { c.mask = "255.255.255.0 "; }, 21, kNetwork},
        {"allowed empty", [](OrvelConfig& c) { c.srvAllowedIP.clear(); }, 5, kNetwork},
        {"zarno 0", [](OrvelConfig& c) { c.zarnoAddr = 0; }, 21, kZarno},
        {"zarno 128", [](OrvelConfig& c) { c.zarnoAddr = 128; }, 21, kZarno},
        {"zarno 127", [](OrvelConfig& c) { c.zarnoAddr = 127; }, 21, L""},
        {"reserve without test", [](OrvelConfig& c) { c.zarnoReserve = true; }, 21, kZarno},
        {"reserve with test", [](OrvelConfig& c) { c.zarnoReserve = c.zarnoTest = true; }, 21, L""},
        {"listen and input 1", [](OrvelConfig& c) { c.multicastListen = c.multicastAin1 = true; }, 21, kMulticast},
        {"listen and input 2", [](OrvelConfig& c) { c.multicastListen = c.multicastAin2 = true; }, 9, kMulticast},
        {"listen alone", [](OrvelConfig& c) { c.multicastListen = true; }, 21, L""},
        {"missing scenario", [](OrvelConfig& c) { c.scenarioIdAin1 = OrvelConfig::kMissingScenario; }, 14,
         kMulticast},
        {"missing scenario, no inputs", [](OrvelConfig& c) { c.scenarioIdAin2 = OrvelConfig::kMissingScenario; }, 13,
         L""},
        {"no scenario", [](OrvelConfig& c) { c.scenarioIdAin1 = OrvelConfig::kNoScenario; }, 21, L""},
        {"scenario 32766", [](OrvelConfig& c) { c.scenarioIdAin2 = 32766; }, 21, L""},
        {"scenario 32767", [](OrvelConfig& c) { c.scenarioIdAin2 = 32767; }, 21, kMulticast},
        {"equal priorities", [](OrvelConfig& c) { c.priStream = c.priAin1; }, 9, kPriorities},
        {"equal priorities, old firmware", [](OrvelConfig& c) { c.priStream = c.priAin1; }, 8, L""},
        // The earliest failing stage speaks.
        {"two stages", [](OrvelConfig& c) { c.srvPort = 80; c.zarnoAddr = 0; }, 21, kNetwork},
    };
    for (const Case& c : cases) {
        OrvelConfig config = validConfig();
        c.change(config);
        EXPECT_EQ(refusal(config, c.index), c.stage) << c.what;
    }
}
