#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <boost/filesystem.hpp>
#include <csignal>
#include <cstdio>
#include <libconfig.h++>
#include <thread>

#include "base/files.h"
#include "base/pref.h"
#include "base/text.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = boost::filesystem;
using libconfig::Setting;

class Pref : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }
    void TearDown() override {
        if (g_pref != nullptr) pref_free();
        CountingLogFixture::TearDown();
    }

    std::wstring file() const { return m_dir.widePath() + L"/sonvar.cfg"; }
    std::string fileBytes() const { return testing_support::readFile(m_dir.path() + "/sonvar.cfg"); }
    void writeConfig(const std::string& text) const { base::writeFile(file(), text); }
};

}  // namespace

TEST_F(Pref, DefaultsCreatedByOwnersAreReadBackByLibconfigInAnotherProcess) {
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_EQ(pref::getInt("multicast.basePort", 11990), 11990);
    EXPECT_EQ(pref::getString("net.interfaceIp"), L"");
    pref::setString("place.pathDirGong", L"/home/оператор/Гонги \"новые\"\\");
    EXPECT_TRUE(pref::getBool("debug.log.vlclib", true));
    {
        pref::Guard guard(g_pref);
        pref::create(g_pref, "multicast.commonStream.bitrate", Setting::TypeInt) = 128;
    }
    pref_free();
    ASSERT_FALSE(fileBytes().empty());

    const std::string path = base::toUtf8(file());
    const int status = testing_support::runInChild([&] {
        libconfig::Config config;
        config.readFile(path.c_str());
        int port = 0, bitrate = 0;
        bool vlclib = false;
        std::string gong, ip = "unset";
        CHILD_CHECK(config.lookupValue("multicast.basePort", port) && port == 11990);
        CHILD_CHECK(config.lookupValue("multicast.commonStream.bitrate", bitrate) && bitrate == 128);
        CHILD_CHECK(config.lookupValue("debug.log.vlclib", vlclib) && vlclib);
        CHILD_CHECK(config.lookupValue("net.interfaceIp", ip) && ip.empty());
        CHILD_CHECK(config.lookupValue("place.pathDirGong", gong));
        CHILD_CHECK(gong == "/home/оператор/Гонги \"новые\"\\");
        return 0;
    });
    EXPECT_EQ(testing_support::statusText(status), "exit 0");

    // And back in: the file is read, the values are ours.
    pref_init(file());
    EXPECT_FALSE(g_pref->isDefault);
    EXPECT_EQ(pref::getInt("multicast.basePort", 1), 11990);
    EXPECT_EQ(pref::getString("place.pathDirGong"), L"/home/оператор/Гонги \"новые\"\\");
    EXPECT_NE(fileBytes().find("\n    commonStream"), std::string::npos) << "groups indent by four";
}

TEST_F(Pref, DamagedFileIsSetAsideAndDefaultsApply) {
    const std::string damaged = "multicast = {\n  basePort = 12000;\n  address = \"224.0.224.9\";\n";
    writeConfig(damaged);
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/sonvar.cfg.bad"), damaged) << "kept, not deleted";
    EXPECT_FALSE(fs::exists(m_dir.path() + "/sonvar.cfg"));
    EXPECT_EQ(pref::getInt("multicast.basePort", 11990), 11990) << "nothing of the partial tree is used";
    EXPECT_TRUE(logged("WARN\t[open]"));
    EXPECT_EQ(g_pref->damageNotice, L"Файл настроек «" + file() +
                                        L"» повреждён (ошибка в строке 4) и сохранён как «" + file() +
                                        L".bad». Используются настройки по умолчанию.");

    pref_free();
    libconfig::Config check;
    EXPECT_NO_THROW(check.readFile((m_dir.path() + "/sonvar.cfg").c_str())) << "a complete file at shutdown";
}

TEST_F(Pref, AnEmptyFileIsDamagedAndEachDamageKeepsItsCopy) {
    // Cut short to nothing: no settings of the operator's are read as
    // "defaults" without a word.
    writeConfig("");
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_TRUE(fs::exists(m_dir.path() + "/sonvar.cfg.bad"));
    EXPECT_TRUE(logged("повреждён (файл пуст) и сохранён как"));
    pref_free();

    // A second damage does not replace the first copy.
    writeConfig("server = {\n");
    pref_init(file());
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/sonvar.cfg.bad"), "");
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/sonvar.cfg.bad.2"), "server = {\n");
    EXPECT_TRUE(logged("повреждён (ошибка в строке 2)"));
    pref_free();

    // The copy taken back by hand, still damaged: its bytes are kept once.
    writeConfig("server = {\n");
    pref_init(file());
    EXPECT_FALSE(fs::exists(m_dir.path() + "/sonvar.cfg.bad.3")) << "no second copy of the same bytes";
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/sonvar.cfg.bad.2"), "server = {\n");
    EXPECT_NE(g_pref->damageNotice.find(L"и сохранён как «" + file() + L".bad.2»"), std::wstring::npos)
        << g_pref->damageNotice;
    pref_free();

    // No file at all is the first run: silent.
    fs::remove(m_dir.path() + "/sonvar.cfg");
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_EQ(g_pref->damageNotice, L"");
    EXPECT_FALSE(fs::exists(m_dir.path() + "/sonvar.cfg.bad.3"));
}

// A hand-made file of 80,000 groups held the start for minutes in libconfig's
// parser (quadratic in the members of a group); so would a smaller one of
// short settings. Neither is parsed; settings in strings and comments count
// for nothing.
TEST_F(Pref, FilesFarLargerThanOursAreSetAsideUnparsed) {
    std::string huge;
    for (int i = 0; i < 80000; ++i)
        huge += "group" + std::to_string(i) + " = { level = \"info\"; port = 11990; on = true; };\n";
    ASSERT_GT(huge.size(), pref::kMaxFileBytes);
    writeConfig(huge);
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_EQ(g_pref->config->getRoot().getLength(), 0);
    EXPECT_EQ(g_pref->damageNotice, L"Файл настроек «" + file() +
                                        L"» повреждён (файл больше 1 МБ) и сохранён как «" + file() +
                                        L".bad». Используются настройки по умолчанию.");
    EXPECT_EQ(fs::file_size(m_dir.path() + "/sonvar.cfg.bad"), huge.size());
    pref_free();

    std::string many;
    for (std::size_t i = 0; i <= pref::kMaxSettings; ++i) many += "k" + std::to_string(i) + "=1;";
    ASSERT_LT(many.size(), pref::kMaxFileBytes);
    writeConfig(many);
    pref_init(file());
    EXPECT_TRUE(g_pref->isDefault);
    EXPECT_NE(
        g_pref->damageNotice.find(L"повреждён (настроек больше 5000) и сохранён как «" + file() + L".bad.2»"),
        std::wstring::npos)
        << base::toUtf8(g_pref->damageNotice);
    EXPECT_EQ(testing_support::readFile(m_dir.path() + "/sonvar.cfg.bad.2"), many);
    pref_free();

    // As many settings as allowed, with "=" and ":" in strings and comments.
    std::string allowed = "# a: b = c\n/* d = e:\n f = g */ // h = i\nnote = \"x = \\\" y: z\";\n";
    for (std::size_t i = 2; i < pref::kMaxSettings; ++i) allowed += "k" + std::to_string(i) + " : 1;\n";
    allowed += "tail = \"" + std::string(pref::kMaxSettings, '=') + "\"; # = = =\n";
    writeConfig(allowed);
    pref_init(file());
    EXPECT_FALSE(g_pref->isDefault);
    EXPECT_EQ(g_pref->damageNotice, L"");
    EXPECT_EQ(g_pref->config->getRoot().getLength(), static_cast<int>(pref::kMaxSettings));
    EXPECT_EQ(pref::getString("note"), L"x = \" y: z");
    EXPECT_EQ(pref::getInt("k4999", 0), 1);
    pref_free();

    // Read, but laid out by libconfig 1.5 MB large (each of 500 nested
    // groups indented further): not written, so the next start reads the
    // file as it was.
    std::string nested;
    for (int i = 0; i < 500; ++i) nested += "a:{";
    for (int i = 0; i < 500; ++i) nested += "};";
    writeConfig(nested);
    pref_init(file());
    ASSERT_FALSE(g_pref->isDefault);
    EXPECT_FALSE(pref::save(g_pref));
    EXPECT_TRUE(logged("ERROR\t[save]"));
    EXPECT_EQ(fileBytes(), nested);
}

TEST_F(Pref, SettingsWithoutAKeyAreSavedAsAFileThatLoadsAgain) {
    // A file of comments only holds no key; saved back, it must not become
    // the empty file that reads as damaged.
    writeConfig("# e -1e999, 2.5 );\n");
    pref_init(file());
    ASSERT_FALSE(g_pref->isDefault);
    ASSERT_TRUE(pref::save(g_pref));
    pref_free();
    EXPECT_FALSE(testing_support::readFile(m_dir.path() + "/sonvar.cfg").empty());
    pref_init(file());
    EXPECT_FALSE(g_pref->isDefault);
    EXPECT_FALSE(fs::exists(m_dir.path() + "/sonvar.cfg.bad"));
}

TEST_F(Pref, MismatchedTypesAreReplacedByTheOwnersDefault) {
    writeConfig(
        "multicast = { basePort = \"11990\"; };\n"
        "debug = 5;\n"
        "volume = { level = 40; };\n"
        "security = { note = \"\xCF\xF0\xE8\xE2\xE5\xF2\"; };\n");  // the old code page
    pref_init(file());
    EXPECT_EQ(pref::getInt("multicast.basePort", 11991), 11991);
    EXPECT_NE(pref::find(g_pref, "multicast.basePort", Setting::TypeInt), nullptr);

    // A value where the group "debug" belongs: replaced by the group, with a WARN, and the program goes on.
    EXPECT_EQ(pref::getString("debug.level"), L"");
    EXPECT_NE(pref::find(g_pref, "debug.level", Setting::TypeString), nullptr);
    EXPECT_TRUE(logged("WARN\t[create]"));

    {
        pref::Guard guard(g_pref);
        EXPECT_EQ(static_cast<int>(pref::create(g_pref, "volume.level", Setting::TypeInt)), 40)
            << "value kept";
        Setting& retyped = pref::create(g_pref, "volume.level", Setting::TypeString);
        EXPECT_EQ(retyped.getType(), Setting::TypeString);
        // find neither creates nor descends into missing groups.
        EXPECT_EQ(pref::find(g_pref, "debug.log.vlclib", Setting::TypeBoolean), nullptr);
        EXPECT_FALSE(g_pref->config->exists("debug.log"));
    }
    EXPECT_EQ(pref::getString("security.note"), L"Привет");
}

// A hand-edited number beyond a double's range read as infinity, which
// libconfig writes as text it can't read: every save was refused, so no
// change of the settings was ever kept.
TEST_F(Pref, OutOfRangeFloatIsDroppedSoTheSettingsStillSave) {
    writeConfig("gain = 1e3085;\nnet: { port = 5; limits = ( -1e999, 2.5, { low = 1e400; } ); };\n"
                "levels = [ 1.0, 1e309, 3.0 ];\n");
    pref_init(file());
    ASSERT_FALSE(g_pref->isDefault) << "the rest of the file is kept";
    EXPECT_EQ(loggedCount("вне допустимого диапазона"), 4);
    pref::setString("place.pathDirGong", L"/gongs");
    pref_free();

    pref_init(file());
    ASSERT_FALSE(g_pref->isDefault) << "the saved file reads back";
    EXPECT_EQ(pref::getString("place.pathDirGong"), L"/gongs") << "the change was saved";
    EXPECT_EQ(pref::getInt("net.port", 0), 5);
    pref::Guard guard(g_pref);
    EXPECT_EQ(pref::find(g_pref, "gain", Setting::TypeFloat), nullptr);
    const Setting* limits = pref::find(g_pref, "net.limits", Setting::TypeList);
    ASSERT_NE(limits, nullptr);
    ASSERT_EQ(limits->getLength(), 2);
    EXPECT_DOUBLE_EQ(static_cast<double>((*limits)[0]), 2.5);
    EXPECT_EQ((*limits)[1].getLength(), 0) << "the group stays, its infinite member goes";
    const Setting* levels = pref::find(g_pref, "levels", Setting::TypeArray);
    ASSERT_NE(levels, nullptr);
    EXPECT_EQ(levels->getLength(), 2);
}

TEST_F(Pref, FailedOrInterruptedSaveKeepsTheOldFile) {
    pref_init(file());
    pref::setString("net.interfaceIp", L"127.0.0.1");
    ASSERT_TRUE(pref::save(g_pref));
    const std::string saved = fileBytes();

    // Killed in the middle of writing: the file may only grow to 100 bytes.
    for (int i = 0; i < 200; ++i)
        pref::setString(("volume.device" + std::to_string(i)).c_str(), L"громкость");
    base::Log::destroy();  // the child must not share the parent's writer
    const int status = testing_support::runInChild([] {
        const rlimit small{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &small);
        pref::save(g_pref);
        return 0;
    });
    EXPECT_EQ(testing_support::statusText(status), testing_support::killedBy(SIGXFSZ));
    EXPECT_EQ(fileBytes(), saved);
    startLog(base::Log::TRACE3);

    // The folder is gone: false, an ERROR, no exception.
    const std::string folder = m_dir.path() + "/gone";
    fs::create_directory(folder);
    g_pref->path = base::fromUtf8(folder) + L"/sonvar.cfg";
    fs::remove(folder);
    EXPECT_FALSE(pref::save(g_pref));
    EXPECT_TRUE(logged("ERROR\t[save]"));
    g_pref->path = file();
}

TEST_F(Pref, ReadersOnOtherThreadsWhileTheGuiThreadCreatesKeys) {
    pref_init(file());
    pref::setString("multicast.address", L"224.0.224.1");
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                EXPECT_EQ(pref::getInt("multicast.basePort", 11990), 11990);
                EXPECT_EQ(pref::getString("multicast.address"), L"224.0.224.1");
            }
        });
    }
    for (int i = 0; i < 2000 && !HasFailure(); ++i) {
        pref::getBool(("place.flag" + std::to_string(i)).c_str(), i % 2 == 0);
        pref::setString("multicast.address", L"224.0.224.1");  // replaces the value the readers read
        if (i % 500 == 0) pref::save(g_pref);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_TRUE(pref::getBool("place.flag1998", false));
}
