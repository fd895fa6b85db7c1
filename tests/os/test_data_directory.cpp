#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <clocale>
#include <cstdio>

#include "base/text.h"
#include "os/data_directory.h"
#include "os/file_system.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

// Fault injection: this test program's rename fails while the flag is set, as
// it does on the real system when a file in the old folder is held open.
namespace {
bool g_failRename = false;
}

extern "C" int rename(const char* from, const char* to) {
    if (g_failRename) {
        errno = EBUSY;
        return -1;
    }
    using Rename = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

namespace {

namespace fs = boost::filesystem;
using testing_support::runInChild;
using testing_support::ScopedEnv;
using testing_support::TempDir;

const std::string kProduct = "/.local/share/Varko Security Systems/Sonvar";

int modeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 0777) : -1;
}

void expectChildPasses(const std::function<int()>& body) {
    EXPECT_EQ(testing_support::statusText(runInChild(body)), "exit 0");
}

class DataDirectory : public ::testing::Test {
protected:
    TempDir m_home{"sonvar-home"};
    ScopedEnv m_homeEnv{"HOME", m_home.path().c_str()};
    ScopedEnv m_xdgEnv{"XDG_DATA_HOME", nullptr};
    std::string m_product = m_home.path() + kProduct;
};

}  // namespace

TEST_F(DataDirectory, PreviousVersionMovesOnceWithItsContent) {
    fs::create_directories(m_product + "/1.1/log");
    std::FILE* f = std::fopen((m_product + "/1.1/sonvar.cfg").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("debug = { level = \"trace\"; };\n", f);
    std::fclose(f);

    expectChildPasses([&] {
        std::wstring folder;
        CHILD_CHECK(os::prepareDataDirectory(folder));
        CHILD_CHECK(os::dataDirectoryMigrated());
        CHILD_CHECK(fs::exists(m_product + "/1.2/sonvar.cfg"));
        CHILD_CHECK(fs::is_directory(m_product + "/1.2/log"));
        CHILD_CHECK(!fs::exists(m_product + "/1.1"));
        return 0;
    });
    // A later run finds "1.2" and moves nothing, even when an old folder reappears.
    fs::create_directories(m_product + "/1.1");
    expectChildPasses([&] {
        std::wstring folder;
        CHILD_CHECK(os::prepareDataDirectory(folder));
        CHILD_CHECK(!os::dataDirectoryMigrated());
        CHILD_CHECK(fs::exists(m_product + "/1.1"));
        CHILD_CHECK(fs::exists(m_product + "/1.2/sonvar.cfg"));
        return 0;
    });
}

TEST_F(DataDirectory, FailedMoveStillStartsWithAFreshFolder) {
    fs::create_directories(m_product + "/1.1");
    expectChildPasses([&] {
        g_failRename = true;
        std::wstring folder;
        CHILD_CHECK(os::prepareDataDirectory(folder));
        CHILD_CHECK(os::dataDirectoryMigrated());  // start-up still resets the stored paths
        CHILD_CHECK(fs::is_directory(m_product + "/1.2"));
        CHILD_CHECK(fs::is_directory(m_product + "/1.1"));
        g_failRename = false;
        // The next start finds "1.2" and does not try again.
        std::wstring again;
        CHILD_CHECK(os::prepareDataDirectory(again) && again == folder);
        return 0;
    });
}

TEST_F(DataDirectory, FreshCyrillicHomeGetsPrivateFoldersWithoutAnyLocale) {
    const std::string home = m_home.path() + "/Пользователь Иванов";
    fs::create_directories(home);
    expectChildPasses([&] {
        ::unsetenv("LANG");
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_CTYPE");
        std::setlocale(LC_ALL, "C");
        ::setenv("HOME", home.c_str(), 1);
        std::wstring folder;
        CHILD_CHECK(os::prepareDataDirectory(folder));
        CHILD_CHECK(folder == base::fromUtf8(home + kProduct + "/1.2"));
        CHILD_CHECK(!os::dataDirectoryMigrated());
        for (const std::string level : {"/.local", "/.local/share", "/.local/share/Varko Security Systems"})
            CHILD_CHECK(modeOf(home + level) == 0700);
        CHILD_CHECK(modeOf(home + kProduct) == 0700 && modeOf(home + kProduct + "/1.2") == 0700);
        CHILD_CHECK(os::setCurrentDirectory(folder));
        char cwd[4096];
        CHILD_CHECK(::getcwd(cwd, sizeof cwd) != nullptr && std::string(cwd) == home + kProduct + "/1.2");
        CHILD_CHECK(os::getUserDataDirectory() == folder);
        return 0;
    });
}

TEST_F(DataDirectory, XdgDataHomeCountsOnlyWhenAbsolute) {
    TempDir xdg("sonvar-xdg");
    {
        ScopedEnv absolute("XDG_DATA_HOME", xdg.path().c_str());
        EXPECT_EQ(os::localApplicationDataFolder(), xdg.widePath());
    }
    {
        ScopedEnv relative("XDG_DATA_HOME", "relative/share");
        EXPECT_EQ(os::localApplicationDataFolder(), m_home.widePath() + L"/.local/share");
    }
    {
        // No HOME: the passwd entry's home folder.
        ScopedEnv noHome("HOME", nullptr);
        const std::wstring folder = os::localApplicationDataFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.front(), L'/');
        EXPECT_EQ(folder.substr(folder.size() - 13), L"/.local/share");
    }
}

TEST_F(DataDirectory, UnusableHomeFailsInsteadOfWritingElsewhere) {
    // HOME is a file: nothing can be made below it.
    const std::string file = m_home.path() + "/plain-file";
    std::fclose(std::fopen(file.c_str(), "w"));
    ScopedEnv home("HOME", file.c_str());
    expectChildPasses([&] {
        std::wstring folder;
        CHILD_CHECK(!os::prepareDataDirectory(folder));
        bool raised = false;
        try {
            os::getUserDataDirectory();
        } catch (const boost::filesystem::filesystem_error&) {
            raised = true;
        }
        CHILD_CHECK(raised);
        return 0;
    });
}
