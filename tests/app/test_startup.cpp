// Start-up pieces in process: the command line, the log level and the
// checked network settings read from a data folder with a Cyrillic path, and
// the main loop's exception hook, which must keep the loop running for every
// kind of exception but the orderly stop.
#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <chrono>
#include <fstream>

#include <boost/exception/exception.hpp>
#include <boost/filesystem.hpp>

#include "app/app.h"
#include "app/options.h"
#include "app/startup_settings.h"
#include "base/exception.h"
#include "base/pref.h"
#include "tests/app/app_environment.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;

StartOptions options(std::vector<std::string> arguments) { return parseStartOptions(arguments); }

}  // namespace

TEST(StartOptions, TheLaterOfAPairWinsAndAnyArgumentHoldingAnOptionCounts) {
    EXPECT_TRUE(options({"--no-debug", "--debug"}).debug);
    EXPECT_FALSE(options({"--debug", "--no-debug"}).debug);
    EXPECT_TRUE(options({"x--debugx"}).debug);
    EXPECT_FALSE(options({"--debug--no-debug"}).debug);  // both in one: on, then off
    const StartOptions all = options({"--trace", "--output", "--fullscreen", "--quit", "--no-output"});
    EXPECT_TRUE(all.trace && all.fullScreen && all.quit);
    EXPECT_FALSE(all.debug || all.output);
    EXPECT_FALSE(options({"--DEBUG", "-debug"}).debug);
}

class StartupSettings : public ::testing::Test {
protected:
    void TearDown() override {
        if (g_pref != nullptr) pref_free();
        base::Log::destroy();
    }

    std::string dataFolder() const { return m_home.path() + "/Данные/Varko Security Systems/Sonvar/1.2"; }

    void writeSettings(const std::string& text) {
        boost::filesystem::create_directories(dataFolder());
        std::ofstream(dataFolder() + "/sonvar.cfg") << text;
    }

    /// Loads as start-up does (no text: no settings file); TearDown frees
    /// the settings again, saving them.
    void load(const std::string& settings, bool forceTrace3 = false) {
        if (!settings.empty()) writeSettings(settings);
        ASSERT_TRUE(aApp::loadDebugPref(forceTrace3));
    }

    TempDir m_home;
    ScopedEnv m_data{"XDG_DATA_HOME", (m_home.path() + "/Данные").c_str()};
    ScopedEnv m_lang{"LANG", nullptr};
    ScopedEnv m_all{"LC_ALL", nullptr};
};

TEST_F(StartupSettings, TheLogLevelComesFromTheSettingsInACyrillicDataFolder) {
    load("debug = { level = \"trace3\"; };");
    EXPECT_EQ(base::Log::instance()->level(), base::Log::TRACE3);
    EXPECT_TRUE(base::Log::debuggerEcho());
    EXPECT_FALSE(g_pref->isDefault);
    base::Log::instance()->flush();
    boost::filesystem::directory_iterator logs(dataFolder() + "/log");
    ASSERT_NE(logs, boost::filesystem::directory_iterator());
    EXPECT_NE(testing_support::readFile(logs->path().string()).find("Sonvar 1.2.0.470"), std::string::npos);
    TearDown();

    load("debug = { level = \"Trace\"; };");  // compared as written
    EXPECT_EQ(base::Log::instance()->level(), base::Log::INFO);
    EXPECT_FALSE(base::Log::debuggerEcho());
    TearDown();

    load("debug = { level = \"info\"; };", true);
    EXPECT_EQ(base::Log::instance()->level(), base::Log::TRACE3);
}

TEST_F(StartupSettings, NetworkValuesAreCheckedWhereTheyAreRead) {
    load("");
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_EQ(multicastAddressSetting(), "224.0.224.1");  // created with the defaults
    EXPECT_EQ(basePortSetting(), 11990);
    EXPECT_EQ(pref::getInt("multicast.basePort", 0), 11990);
    TearDown();

    const auto refusal = [](const std::function<void()>& read) {
        try {
            read();
        } catch (const exception::UserError& error) {
            return error.getNotification();
        }
        return std::wstring(L"accepted");
    };
    load("multicast = { address = \"224.0.224\"; basePort = 80; };");
    EXPECT_EQ(refusal([] { multicastAddressSetting(); }),
              L"Неверное значение '224.0.224' параметра 'multicast.address' в файле настроек «sonvar.cfg»");
    EXPECT_EQ(refusal([] { basePortSetting(); }),
              L"Неверное значение '80' параметра 'multicast.basePort' в файле настроек «sonvar.cfg»");
    TearDown();

    load("multicast = { address = \"224.0.224.1:5\"; basePort = 65501; };");
    EXPECT_NE(refusal([] { multicastAddressSetting(); }), L"accepted");
    EXPECT_NE(refusal([] { basePortSetting(); }), L"accepted");
    TearDown();

    load("multicast = { address = \"224.0.224.1.5\"; };");  // was taken for 224.0.224.1
    EXPECT_NE(refusal([] { multicastAddressSetting(); }), L"accepted");
    TearDown();

    load("multicast = { address = \"239.1.2.3\"; basePort = 1024; };");
    EXPECT_EQ(multicastAddressSetting(), "239.1.2.3");
    EXPECT_EQ(basePortSetting(), 1024);
}

// The last version's settings dialog took "224.0.224.01" and stored it; the
// start then ended on it.
TEST_F(StartupSettings, AnAddressStoredWithLeadingZerosStartsAsDecimal) {
    load("multicast = { address = \"224.000.224.010\"; };");
    EXPECT_EQ(multicastAddressSetting(), "224.0.224.10") << "ten, not eight";
    EXPECT_EQ(pref::getString("multicast.address"), L"224.0.224.10") << "what the other readers take";
    TearDown();
    EXPECT_NE(testing_support::readFile(dataFolder() + "/sonvar.cfg").find("address = \"224.0.224.10\";"),
              std::string::npos);
}

// The notice named the settings file by its whole path where the notices of
// the other files of the data folder name theirs.
TEST_F(StartupSettings, TheDamagedSettingsNoticeNamesTheFileAsTheOtherFilesNoticesDo) {
    load("multicast = {\n");
    EXPECT_EQ(g_pref->damageNotice, L"Файл настроек «sonvar.cfg» повреждён (ошибка в строке 2) и сохранён как "
                                    L"«sonvar.cfg.bad». Используются настройки по умолчанию.");
}

class MainLoopExceptions : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }

    /// Runs a timer handler that throws, then one that must still run.
    void throwFromHandler(const std::function<void()>& thrower) {
        bool after = false;
        wxTimer throwing;
        throwing.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { thrower(); });
        throwing.StartOnce(1);
        wxGUIEventLoop loop;
        wxTimer watch;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        watch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            after = !throwing.IsRunning();
            if (after || std::chrono::steady_clock::now() > end) loop.Exit();
        });
        watch.Start(5);
        loop.Run();
        EXPECT_TRUE(after) << "the event loop stopped after the exception";
    }

    TempDir m_data;  // crash dumps go to its log folder
    ScopedEnv m_env{"XDG_DATA_HOME", m_data.path().c_str()};
};

struct BoostOnly : virtual boost::exception {};

TEST_F(MainLoopExceptions, EachKindIsLoggedAtItsLevelAndTheLoopGoesOn) {
    throwFromHandler([] { throw exception::Offline(); });
    throwFromHandler([] { throw exception::InternalError(L"сломано"); });
    throwFromHandler([] { throw exception::UserResponse(L"zoneBusy"); });
    throwFromHandler([] { throw exception::ExternalError(L"Файл", L"нет места"); });
    EXPECT_EQ(observedAt(L"NOTICE"), (std::vector<std::wstring>{L"Устройство не в сети.", L"Сообщение: 'zoneBusy'",
                                                                L"Сообщение: 'Файл'\nОписание: 'нет места'"}));
    EXPECT_EQ(observedAt(L"ERROR", true),
              std::vector<std::wstring>{L"Произошла внутренняя ошибка.\nСообщение: 'Internal error'\nОписание: 'сломано'"});

    throwFromHandler([] { throw BoostOnly(); });
    throwFromHandler([] { throw std::runtime_error("std"); });
    throwFromHandler([] { throw 7; });
    const auto errors = observedAt(L"ERROR");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[0].find(L"(boost)"), std::wstring::npos);
    EXPECT_EQ(errors[1].rfind(L"Получено исключение в главном цикле обработки: 'std', '", 0), 0u);
    EXPECT_EQ(errors[2].rfind(L"Получено неизвестное исключение в главном цикле обработки: '", 0), 0u);
    EXPECT_EQ(loggedCount("There occurs an exception in main loop"), 7);
}

TEST_F(MainLoopExceptions, AnOrderlyStopEndsTheProcessWithCode1) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(throwFromHandler([] { throw exception::StopProgram(); }), ::testing::ExitedWithCode(1), "");
}
