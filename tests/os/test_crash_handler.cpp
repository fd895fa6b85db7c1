#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "base/log.h"
#include "base/text.h"
#include "os/crash_handler.h"
#include "os/data_directory.h"
#include "os/file_system.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::readFile;
using testing_support::runInChild;
using testing_support::ScopedEnv;
using testing_support::TempDir;

struct CrashResult {
    int status = 0;
    std::vector<std::string> dumps;
    std::vector<std::string> dumpNames;
    std::string log;  // every .log file of the folder, joined
};

class CrashHandler : public ::testing::Test {
protected:
    /// Runs `crash` in a child that has the application's log set-up: the log
    /// in the "log" folder of a temporary data folder and the handlers on.
    CrashResult crashInChild(const std::function<void()>& crash, const base::Log::Translator& translator = {}) {
        CrashResult result;
        result.status = runInChild([&] {
            std::wstring folder;
            if (!os::prepareDataDirectory(folder) || os::createFolders(folder + L"/log") != 0) return 2;
            base::Log::create(folder + L"/log", base::Log::INFO, false);
            base::Log::setTranslator(translator);
            os::installCrashHandlers();
            LOG_INFO(L"before the crash");
            base::Log::instance()->flush();
            crash();
            return 0;
        });
        const std::string logFolder = m_home.path() + "/.local/share/Varko Security Systems/Sonvar/1.2/log";
        if (fs::is_directory(logFolder)) {
            for (const auto& entry : fs::directory_iterator(logFolder)) {
                if (entry.path().extension() == ".dmp") {
                    result.dumps.push_back(readFile(entry.path().string()));
                    result.dumpNames.push_back(entry.path().filename().string());
                }
                if (entry.path().extension() == ".log") result.log += readFile(entry.path().string());
            }
        }
        return result;
    }

    TempDir m_home{"sonvar-crash"};
    ScopedEnv m_homeEnv{"HOME", m_home.path().c_str()};
    ScopedEnv m_xdgEnv{"XDG_DATA_HOME", nullptr};
};

// The address goes through a volatile so the compiler cannot see the null page.
volatile std::uintptr_t g_badAddress = 0x10;

__attribute__((noinline)) void writeToAddress0x10() { *reinterpret_cast<volatile int*>(g_badAddress) = 1; }

volatile int g_quotient = 0;

__attribute__((noinline)) void divide(volatile int a, volatile int b) { g_quotient = a / b; }

}  // namespace

TEST_F(CrashHandler, WriteToAddress0x10LeavesDumpAndFatalLineAndDiesOfSegv) {
    const CrashResult r = crashInChild([] { writeToAddress0x10(); });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGSEGV));

    ASSERT_EQ(r.dumps.size(), 1u);
    const std::string& dump = r.dumps.front();
    EXPECT_NE(dump.find("EXCEPTION_ACCESS_VIOLATION at address "), std::string::npos) << dump;
    EXPECT_NE(dump.find("Invalid operation: write at address 00000010"), std::string::npos);
    EXPECT_NE(dump.find("backtrace:"), std::string::npos);
    EXPECT_NE(dump.find("[stack]"), std::string::npos) << "the copy of the maps is whole";

    // The log holds the line before the crash, then the crash path's lines.
    EXPECT_NE(r.log.find("before the crash"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("IMPOR\t[important_safe]    make memory dump\r\n"), std::string::npos) << r.log;
    const auto fatal = r.log.find("FATAL\t[fatal_safe]        EXCEPTION_ACCESS_VIOLATION at address ");
    ASSERT_NE(fatal, std::string::npos) << r.log;
    const std::string fatalLine = r.log.substr(fatal, r.log.find("\r\n", fatal) - fatal);
    EXPECT_NE(fatalLine.find(fs::read_symlink("/proc/self/exe").string()), std::string::npos)
        << "names the module: " << fatalLine;
    EXPECT_NE(fatalLine.find(". Invalid operation: write at address 00000010"), std::string::npos);
    EXPECT_NE(r.log.find("memory dump saved: '"), std::string::npos);
    EXPECT_EQ(r.log.find("exceptionFilter"), std::string::npos) << "TRACE is below the log's level";
}

// The log writer works behind its callers: records queued just before the
// fault are written before the crash lines, none lost, in their order.
TEST_F(CrashHandler, LinesLoggedRightBeforeTheFaultComeBeforeTheCrashLines) {
    const CrashResult r = crashInChild([] {
        for (int i = 0; i < 3000; ++i) LOG_INFO(L"queued %1%", i);
        writeToAddress0x10();
    });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGSEGV));
    std::size_t at = 0;
    for (int i = 0; i < 3000; ++i) {
        at = r.log.find("]queued " + std::to_string(i) + "\r\n", at);
        ASSERT_NE(at, std::string::npos) << "line " << i;
    }
    EXPECT_GT(r.log.find("make memory dump"), at) << "the crash lines follow";
}

TEST_F(CrashHandler, DivisionByZeroAndRaisedSignalsKeepTheirCause) {
    CrashResult r = crashInChild([] { divide(1, 0); });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGFPE)) << r.log;
    EXPECT_NE(r.log.find("EXCEPTION_INT_DIVIDE_BY_ZERO at address "), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("Invalid operation"), std::string::npos);

    // A signal sent by kill has no faulting instruction to run again: the
    // handler must raise it itself, or the process would go on.
    fs::remove_all(m_home.path() + "/.local");
    r = crashInChild([] { ::kill(::getpid(), SIGBUS); });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGBUS));
    EXPECT_EQ(r.dumps.size(), 1u);
}

TEST_F(CrashHandler, DumpOnRequestNamesTheExecutableAndLogsWhereItWent) {
    const CrashResult r = crashInChild([] { os::dumpMemory(); });
    EXPECT_EQ(testing_support::statusText(r.status), "exit 0");
    ASSERT_EQ(r.dumps.size(), 1u);
    EXPECT_NE(r.dumps.front().find("dump on request"), std::string::npos);
    EXPECT_NE(r.log.find("Module loaded at base address "), std::string::npos) << r.log;
    EXPECT_NE(r.log.find(" have path " + fs::read_symlink("/proc/self/exe").string()), std::string::npos);
    EXPECT_NE(r.log.find("memory dump saved: '"), std::string::npos);
}

// A crash dumps twice within a moment (the exception's dump, then the
// fault's): each dump keeps a file of its own, named by the local time to the
// second, "YYYY-MM-DD_HHMMSS.dmp", with a number only where that name is
// taken.
TEST_F(CrashHandler, DumpsWithinOneMomentEachKeepTheirOwnFile) {
    const CrashResult r = crashInChild([] {
        for (int i = 0; i < 3; ++i) os::dumpMemory();
        writeToAddress0x10();
    });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGSEGV));
    ASSERT_EQ(r.dumps.size(), 4u) << r.log;
    int onRequest = 0, fault = 0;
    for (const std::string& dump : r.dumps) {
        onRequest += dump.find("dump on request") != std::string::npos;
        fault += dump.find("EXCEPTION_ACCESS_VIOLATION at address ") != std::string::npos;
        EXPECT_NE(dump.find("[stack]"), std::string::npos) << "every dump is whole";
    }
    EXPECT_EQ(onRequest, 3);
    EXPECT_EQ(fault, 1);
    const std::regex name(R"((\d{4}-\d\d-\d\d_\d{6})(-(\d+))?\.dmp)");
    std::map<std::string, std::set<int>> numbersOfSecond;
    for (const std::string& n : r.dumpNames) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(n, parts, name)) << n;
        numbersOfSecond[parts[1]].insert(parts[3].matched ? std::stoi(parts[3]) : 1);
    }
    for (const auto& [second, numbers] : numbersOfSecond) {
        EXPECT_EQ(*numbers.begin(), 1) << second << ": the first dump of a second has the plain name";
        EXPECT_EQ(*numbers.rbegin(), static_cast<int>(numbers.size())) << second << ": numbered from 2 on, in turn";
    }
}

// The name of a dump is the local time of its writing, to the second.
TEST_F(CrashHandler, ADumpIsNamedByItsLocalTimeToTheSecond) {
    const auto stamp = [](std::time_t second) {
        std::tm local{};
        localtime_r(&second, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d_%H%M%S.dmp", &local);
        return std::string(text);
    };
    const std::time_t before = std::time(nullptr);
    const CrashResult r = crashInChild([] { os::dumpMemory(); });
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(r.dumpNames.size(), 1u) << r.log;
    std::set<std::string> expected;
    for (std::time_t second = before; second <= after; ++second) expected.insert(stamp(second));
    EXPECT_EQ(expected.count(r.dumpNames.front()), 1u) << r.dumpNames.front();
}

// Files already there under every name of the next seconds stay as they are:
// the dump takes a name with a number instead.
TEST_F(CrashHandler, ADumpNeverReplacesAFileOfItsName) {
    const std::string folder = m_home.path() + "/.local/share/Varko Security Systems/Sonvar/1.2/log";
    fs::create_directories(folder);
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> taken;
    for (std::time_t second = now; second < now + 10; ++second) {
        std::tm local{};
        localtime_r(&second, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
        taken.push_back(folder + "/" + stamp + ".dmp");
        std::ofstream(taken.back()) << "keep";
    }
    const CrashResult r = crashInChild([] { os::dumpMemory(); });
    EXPECT_EQ(testing_support::statusText(r.status), "exit 0");
    ASSERT_EQ(r.dumps.size(), taken.size() + 1) << r.log;
    for (const std::string& path : taken) ASSERT_EQ(readFile(path), "keep") << path;
    EXPECT_EQ(std::count_if(r.dumpNames.begin(), r.dumpNames.end(),
                            [](const std::string& n) { return n.find("-2.dmp") != std::string::npos; }),
              1)
        << "the dump took the name after the one in its way";
}

// The log's lines of a dump that could not be written are its catalogue's
// text, from the signal handler too, which cannot look it up itself.
TEST_F(CrashHandler, AFailedDumpIsLoggedInTheCataloguesWords) {
    const std::string folder = m_home.path() + "/.local/share/Varko Security Systems/Sonvar/1.2/log";
    const CrashResult r = crashInChild(
        [folder] {
            // Every name of this second and the next two is taken, checked
            // against the clock once they are: the crash follows at once,
            // however long the taking took on a busy machine.
            for (;;) {
                const std::time_t now = std::time(nullptr);
                for (std::time_t second = now; second < now + 3; ++second) {
                    std::tm local{};
                    localtime_r(&second, &local);
                    char stamp[32];
                    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
                    std::ofstream(folder + "/" + stamp + ".dmp") << "keep";
                    for (int number = 2; number <= 1000; ++number)
                        std::ofstream(folder + "/" + stamp + "-" + std::to_string(number) + ".dmp") << "keep";
                }
                if (std::time(nullptr) <= now + 1) break;
            }
            os::dumpMemory();
            writeToAddress0x10();
        },
        [](const std::wstring& text) {
            return text == L"failed to save memory dump" ? std::wstring(L"Дамп памяти не сохранён") : text;
        });
    EXPECT_EQ(testing_support::statusText(r.status), testing_support::killedBy(SIGSEGV));
    EXPECT_NE(r.log.find("ERROR\t[error_safe]        Дамп памяти не сохранён\r\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("ERROR\t[error_safe]        Дамп памяти не сохранён\r\n",
                         r.log.find("EXCEPTION_ACCESS_VIOLATION")),
              std::string::npos)
        << "the signal handler's line too";
    EXPECT_EQ(r.log.find("failed to save memory dump"), std::string::npos);
}
