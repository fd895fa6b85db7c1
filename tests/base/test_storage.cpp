#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <csignal>
#include <fstream>
#include <cstdio>

#include "base/files.h"
#include "base/storage.h"
#include "base/text.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"

namespace {

namespace fs = boost::filesystem;
using boost::property_tree::wptree;
using testing_support::readFile;

class Storage : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }

    std::wstring path(const std::string& name) const {
        return m_dir.widePath() + L"/" + base::fromUtf8(name);
    }
    std::string bytesOf(const std::string& name) const { return readFile(m_dir.path() + "/" + name); }

    /// True when xmllint accepts the file as well-formed XML.
    static bool xmllintAccepts(const std::wstring& file) {
        const std::string command = "xmllint --noout '" + base::toUtf8(file) + "' 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }
};

wptree sampleTree() {
    wptree tree;
    wptree& root = tree.add_child(L"zone_collection", wptree());
    wptree& zone = root.add_child(L"zone", wptree());
    zone.put(L"<xmlattr>.name", L"Зал \"Восток\" & <склад>");
    zone.put(L"<xmlattr>.id", 7);
    zone.add(L"device", L"00:1A:2B:3C:4D:5E");
    zone.add(L"device", L"00:1A:2B:3C:4D:5F");  // repeated keys keep their order
    root.add(L"title", L"Объявление №1 — ёлка 'ёж'");
    root.add(L"spaces", L"   ");
    root.add(L"empty", L"");
    root.add(L"<xmlcomment>", L" written by Sonvar ");
    return tree;
}

}  // namespace

TEST_F(Storage, RoundTripKeepsTextOrderAndAttributes) {
    const std::wstring file = path("zones.xml");
    const wptree original = sampleTree();
    storage::save(file, original);
    ASSERT_TRUE(xmllintAccepts(file)) << bytesOf("zones.xml");

    wptree loaded;
    ASSERT_NE(loaded, original);
    ASSERT_TRUE(storage::load(file, loaded));
    EXPECT_EQ(loaded, original);
    EXPECT_NE(bytesOf("zones.xml").find("Объявление №1"), std::string::npos) << "stored as UTF-8";

    // The simplest tree is the declaration, a line feed and one unindented line.
    wptree simple;
    simple.put(L"a", L"b");
    storage::save(path("simple.xml"), simple);
    EXPECT_EQ(bytesOf("simple.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a>b</a>");
    EXPECT_TRUE(logged("save: '" + m_dir.path() + "/simple.xml'"));
}

TEST_F(Storage, EveryFileWrittenIsWellFormedEvenWithHostileText) {
    wptree tree;
    wptree& root = tree.add_child(L"playlist", wptree());
    root.add(L"title", std::wstring(L"bell\x07tab\tend") + L'\x01' + L"\xFFFE" + wchar_t(0xD800));
    root.add(L"item.<xmlattr>.path", L"/music/\x1B[31mred.mp3");
    root.add(L"Название", L"кириллический ключ");
    const std::wstring file = path("hostile.xml");
    storage::save(file, tree);
    ASSERT_TRUE(xmllintAccepts(file)) << bytesOf("hostile.xml");

    wptree loaded;
    ASSERT_TRUE(storage::load(file, loaded));
    EXPECT_EQ(loaded.get<std::wstring>(L"playlist.title"), L"bell\xFFFDtab\tend\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(loaded.get<std::wstring>(L"playlist.Название"), L"кириллический ключ");
}

TEST_F(Storage, TreesThatMakeNoDocumentAreRefusedAndTheOldFileStays) {
    const std::wstring file = path("state.xml");
    storage::save(file, sampleTree());
    const std::string before = bytesOf("state.xml");
    ASSERT_FALSE(before.empty());

    std::vector<wptree> bad(6);
    bad[0].add(L"first", L"1");
    bad[0].add(L"second", L"2");     // two root elements
    bad[1].add(L"root.1abc", L"x");  // no element name
    bad[2].add(L"root.with space", L"x");
    bad[3].add(L"root.<xmlcomment>", L"a -- b");  // no comment
    bad[4].put_value(L"loose text");              // text outside the root
    // bad[5] stays empty: no root element at all
    for (std::size_t i = 0; i < bad.size(); ++i) {
        storage::save(file, bad[i]);
        EXPECT_EQ(bytesOf("state.xml"), before) << "tree " << i;
        EXPECT_TRUE(xmllintAccepts(file));
    }
    EXPECT_TRUE(logged("ERROR\t[save]"));
    EXPECT_FALSE(fs::exists(m_dir.path() + "/state.xml.tmp"));
}

TEST_F(Storage, MalformedFileIsSetAsideNotSavedOver) {
    const std::wstring file = path("device_collection.xml");
    base::writeFile(file, "<?xml version=\"1.0\"?>\n<devices><device>broken");

    wptree tree;
    tree.put(L"kept", L"as it was");
    const wptree before = tree;
    EXPECT_FALSE(storage::load(file, tree));
    EXPECT_EQ(tree, before);
    EXPECT_FALSE(fs::exists(base::toUtf8(file)));
    EXPECT_EQ(bytesOf("device_collection.xml.bad"), "<?xml version=\"1.0\"?>\n<devices><device>broken");
    EXPECT_TRUE(logged("WARN\t[load]"));
    // The operator reads the line in Russian; the parser's English stays in
    // the log only.
    EXPECT_TRUE(logged("повреждён (ошибка в строке 2) и сохранён как"));
    EXPECT_TRUE(logged("unexpected end of data"));
    EXPECT_FALSE(logged("повреждён (<"));

    // Bytes that are not UTF-8 are just as malformed.
    base::writeFile(file, "<a>\xC0\xC1\xFF</a>");
    EXPECT_FALSE(storage::load(file, tree));
    EXPECT_TRUE(fs::exists(base::toUtf8(file) + ".bad"));

    // The owner's save at shutdown then writes a fresh file beside the kept one.
    storage::save(file, sampleTree());
    EXPECT_TRUE(xmllintAccepts(file));
}

TEST(StorageReason, TheOperatorReadsWhereAFileIsDamagedInRussian) {
    EXPECT_EQ(storage::damageForOperator("<unspecified file>(12): expected element name"),
              L"ошибка в строке 12");
    EXPECT_EQ(storage::damageForOperator("no element zone_collection"), L"нет элемента «zone_collection»");
    EXPECT_EQ(storage::damageForOperator("not UTF-8"), L"текст не в кодировке UTF-8");
    EXPECT_EQ(storage::damageForOperator("anything else"), L"ошибка разбора");
}

TEST_F(Storage, MissingEmptyAndUnwritable) {
    wptree tree;
    tree.put(L"x", L"y");
    const wptree before = tree;
    EXPECT_FALSE(storage::load(path("absent.xml"), tree));
    EXPECT_EQ(tree, before);
    EXPECT_TRUE(
        logged("EXTERN\t[load]              Неверен путь к файлу настроек " + m_dir.path() + "/absent.xml"));

    EXPECT_FALSE(storage::load(m_dir.widePath(), tree)) << "a folder is no file";
    EXPECT_TRUE(logged("ERROR\t[load]"));

    // An empty file is one cut short: set aside like any damaged one.
    base::writeFile(path("empty.xml"), "");
    EXPECT_FALSE(storage::load(path("empty.xml"), tree));
    EXPECT_EQ(tree, before);
    EXPECT_TRUE(fs::exists(m_dir.path() + "/empty.xml.bad"));

    // A folder that does not exist: an ERROR, no exception, and the next file is still saved.
    const std::wstring lost = path("no-such-folder/zones.xml");
    EXPECT_NO_THROW(storage::save(lost, sampleTree()));
    EXPECT_TRUE(logged("ERROR\t[save]              Не удалось сохранить файл '" + base::toUtf8(lost) +
                       "': файл или папка не существует"));
    storage::save(path("next.xml"), sampleTree());
    EXPECT_TRUE(xmllintAccepts(path("next.xml")));
}

TEST_F(Storage, SaveCutShortLeavesTheOldFileWhole) {
    // The child may write only 64 KiB per file, so saving a tree of about a
    // megabyte stops in the middle: by SIGXFSZ, which kills the process as a
    // power cut or an OOM kill would, or (signal ignored) by a failed write.
    wptree first;
    wptree& list = first.add_child(L"list", wptree());
    for (int i = 0; i < 20000; ++i) list.add(L"item", L"элемент списка " + std::to_wstring(i));
    wptree second = first;
    second.get_child(L"list").add(L"item", L"one more");
    const std::wstring file = path("list.xml");
    storage::save(file, first);
    base::Log::destroy();  // the children must not share the parent's writer

    for (bool killed : {true, false}) {
        const int status = testing_support::runInChild([&] {
            const rlimit small{64 * 1024, 64 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &small);
            if (!killed) std::signal(SIGXFSZ, SIG_IGN);
            storage::save(file, second);
            return 0;
        });
        // Unless killed, a failed save returns normally.
        EXPECT_EQ(testing_support::statusText(status),
                  killed ? testing_support::killedBy(SIGXFSZ) : "exit 0");
        wptree loaded;
        ASSERT_TRUE(storage::load(file, loaded));
        EXPECT_EQ(loaded, first);
    }
}

TEST_F(Storage, FilesCutShortToNothingAreDamaged) {
    const std::vector<std::string> cutShort = {
        "", "  \n", "\xEF\xBB\xBF", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n",
        "<?xml version=\"1.0\"?>\n<!-- only a comment -->"};
    for (const std::string& bytes : cutShort) {
        const std::wstring file = path("cut.xml");
        base::writeFile(file, bytes);
        wptree tree;
        EXPECT_FALSE(storage::load(file, tree)) << bytes;
        EXPECT_FALSE(fs::exists(base::toUtf8(file))) << bytes;
        fs::remove(m_dir.path() + "/cut.xml.bad");
    }
    EXPECT_TRUE(logged("повреждён (файл пуст)"));
    EXPECT_TRUE(logged("повреждён (нет корневого элемента)"));

    // A comment before the root is no damage.
    base::writeFile(path("fine.xml"), "<!-- c --><a>1</a>");
    wptree tree;
    EXPECT_TRUE(storage::load(path("fine.xml"), tree));
    EXPECT_EQ(tree.get<std::wstring>(L"a"), L"1");
}

TEST(StorageDepth, CountsElementsNotOtherMarkup) {
    EXPECT_EQ(storage::nestingDepthOf("<a><b><c/></b><b>x</b></a>"), 3u);
    EXPECT_EQ(storage::nestingDepthOf("<?xml version=\"1.0\"?><a/>"), 1u);
    // Markup that looks like tags inside comments, CDATA and quoted values.
    EXPECT_EQ(storage::nestingDepthOf("<a><!-- <b><c><d> --><![CDATA[<e><f>]]><g x=\"<h>\" y='/>'/></a>"), 2u);
    EXPECT_EQ(storage::nestingDepthOf("<!DOCTYPE a><a><b attr=\"1\">text</b></a>"), 2u);
    // The count stops a little past the limit, however deep the text goes.
    std::string deep;
    for (int i = 0; i < 50000; ++i) deep += "<z>";
    EXPECT_EQ(storage::nestingDepthOf(deep), storage::kMaxDepth + 1);
    EXPECT_EQ(storage::nestingDepthOf("<a"), 0u) << "an unfinished tag is the parser's to report";
}

TEST_F(Storage, AFileNestedTooDeepIsSetAsideBeforeParsing) {
    // Deep enough to overflow the parser's recursion, were it parsed.
    std::string bytes = "<?xml version=\"1.0\"?>\n<zone_collection>";
    for (int i = 0; i < 30000; ++i) bytes += "<zone>";
    const std::wstring file = path("zone_collection.xml");
    base::writeFile(file, bytes);
    wptree tree;
    EXPECT_FALSE(storage::load(file, tree));
    EXPECT_EQ(bytesOf("zone_collection.xml.bad"), bytes);
    EXPECT_TRUE(logged("повреждён (вложенность элементов глубже 1000) и сохранён как"));

    // Up to the limit a file loads (and saves back the same).
    wptree nested;
    wptree* node = &nested;
    for (std::size_t i = 0; i < storage::kMaxDepth; ++i) node = &node->add_child(L"z", wptree());
    storage::save(file, nested);
    EXPECT_TRUE(storage::load(file, tree));
    EXPECT_EQ(tree, nested);
}

TEST_F(Storage, EveryDamageKeepsItsOwnCopyUpToABound) {
    const std::wstring file = path("zone_collection.xml");
    std::vector<std::string> damaged;
    for (int i = 0; i < 8; ++i) {
        damaged.push_back("<zone_collection><zone>" + std::to_string(i));
        base::writeFile(file, damaged.back());
        wptree tree;
        EXPECT_FALSE(storage::load(file, tree));
    }
    // The first two damages are both kept, under names that differ.
    EXPECT_EQ(bytesOf("zone_collection.xml.bad"), damaged[0]);
    EXPECT_TRUE(logged("сохранён как '" + m_dir.path() + "/zone_collection.xml.bad.2'"));
    // Then the first and the newest stay, the oldest numbered ones go.
    int copies = 0;
    for (const auto& entry : fs::directory_iterator(m_dir.path()))
        if (entry.path().filename().string().rfind("zone_collection.xml.bad", 0) == 0) ++copies;
    EXPECT_EQ(copies, base::kKeptAsideCopies);
    EXPECT_EQ(bytesOf("zone_collection.xml.bad.8"), damaged[7]);
    EXPECT_EQ(bytesOf("zone_collection.xml.bad.5"), damaged[4]);
    EXPECT_FALSE(fs::exists(m_dir.path() + "/zone_collection.xml.bad.4"));

    // A copy of another file, or of a name that only begins the same, is left alone.
    base::writeFile(path("zone_collection.xml.bad.x"), "mine");
    base::writeFile(path("zone.xml.bad.3"), "other");
    EXPECT_EQ(base::asideName(file), file + L".bad.9");
    EXPECT_EQ(bytesOf("zone_collection.xml.bad.x"), "mine");
    EXPECT_EQ(base::asideName(path("zone.xml")), path("zone.xml.bad.4"));
}

// The operator takes a file back from its copy while what made it one is
// still there: the next start kept another copy of the same bytes (".bad",
// ".bad.2", ".bad.3" alike).
TEST_F(Storage, BytesKeptAsideOnceAreNotCopiedAgain) {
    const std::wstring file = path("zone_collection.xml");
    const std::string damaged = "<zone_collection><zone>";
    base::writeFile(file, damaged);
    wptree tree;
    EXPECT_FALSE(storage::load(file, tree));
    base::writeFile(file, damaged);  // taken back by hand
    EXPECT_FALSE(storage::load(file, tree));
    EXPECT_FALSE(fs::exists(m_dir.path() + "/zone_collection.xml")) << "out of its place all the same";
    EXPECT_FALSE(fs::exists(m_dir.path() + "/zone_collection.xml.bad.2"));
    EXPECT_EQ(loggedCount("сохранён как '" + m_dir.path() + "/zone_collection.xml.bad'", "WARN"), 2);

    // Read in part: a copy of other bytes is made, then stands for them.
    const std::wstring list = path("device_collection.xml");
    base::writeFile(list, "<device_collection><device/></device_collection>");
    base::writeFile(path("device_collection.xml.bad"), "an earlier damage");
    base::writeFile(path("device_collection.xml.bad.2"), "<device_collection/>");
    EXPECT_TRUE(storage::keepCopy(list, "1 entries skipped"));
    EXPECT_TRUE(storage::keepCopyOfMissing(list, {L"не найдены файлы: 1", L"не найдены папки: 2"}));
    EXPECT_TRUE(storage::keepCopy(list, "1 entries skipped"));
    EXPECT_EQ(bytesOf("device_collection.xml.bad.3"), "<device_collection><device/></device_collection>");
    EXPECT_FALSE(fs::exists(m_dir.path() + "/device_collection.xml.bad.4"));
    EXPECT_EQ(loggedCount("сохранён как '" + m_dir.path() + "/device_collection.xml.bad.3'", "WARN"), 4);
    // A numbered copy of the same bytes counts as well as the first one.
    base::writeFile(list, "<device_collection/>");
    EXPECT_TRUE(storage::keepCopy(list, "1 entries skipped"));
    EXPECT_FALSE(fs::exists(m_dir.path() + "/device_collection.xml.bad.4"));
    EXPECT_TRUE(logged("сохранён как '" + m_dir.path() + "/device_collection.xml.bad.2'"));
}

TEST_F(Storage, AFullOrReadOnlyFolderIsToldOncePerFileAndReason) {
    // A small tmpfs of our own, in a private mount namespace of a child.
    const std::string folder = m_dir.path() + "/small";
    fs::create_directory(folder);
    base::Log::destroy();  // the child must not share the parent's writer
    const int status = testing_support::runInChild([&] {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return 77;
        // Root of the namespace, mapped to ourselves, as "unshare --map-root-user" does.
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) return 77;
        startLog(base::Log::TRACE3);
        wptree big;
        wptree& list = big.add_child(L"list", wptree());
        for (int i = 0; i < 20000; ++i) list.add(L"item", L"элемент " + std::to_wstring(i));
        const std::wstring file = base::fromUtf8(folder + "/list.xml");
        const std::wstring other = base::fromUtf8(folder + "/zones.xml");
        CHILD_CHECK(storage::save(file, sampleTree()));
        for (int i = 0; i < 3; ++i) CHILD_CHECK(!storage::save(file, big));
        wptree loaded;
        CHILD_CHECK(storage::load(file, loaded) && loaded == sampleTree());
        CHILD_CHECK(!fs::exists(folder + "/list.xml.tmp"));
        CHILD_CHECK(loggedCount("Не удалось сохранить файл '" + folder + "/list.xml': нет места на диске",
                                "ERROR") == 1);
        // The daily log words each failure; the system's own words go below INFO.
        CHILD_CHECK(loggedCount("list.xml' не сохранён: нет места на диске", "INFO") == 3);
        CHILD_CHECK(loggedCount("list.xml' isn't saved: write: No space left on device", "DEBUG") == 3);

        // Once a save goes through, the next failure is told again; another
        // file is told on its own.
        CHILD_CHECK(storage::save(file, sampleTree()));
        CHILD_CHECK(!storage::save(file, big));
        CHILD_CHECK(loggedCount("list.xml': нет места на диске", "ERROR") == 2);

        // Read-only: another reason, told again.
        CHILD_CHECK(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        CHILD_CHECK(!storage::save(file, sampleTree()) && !storage::save(other, sampleTree()));
        CHILD_CHECK(loggedCount("list.xml': файловая система только для чтения", "ERROR") == 1);
        CHILD_CHECK(loggedCount("zones.xml': файловая система только для чтения", "ERROR") == 1);
        return 0;
    });
    const std::string result = testing_support::statusText(status);
    if (result == "exit 77") GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(result, "exit 0");
}

namespace {

/// Waits up to five seconds for the saver to have nothing left to do.
bool settled(storage::BackgroundSaver& saver) {
    for (int i = 0; i < 500 && !saver.idle(); ++i) ::usleep(10000);
    return saver.idle();
}

}  // namespace

TEST_F(Storage, TheBackgroundSaverWritesOnlyWhatChanged) {
    const std::wstring file = path("zones.xml");
    base::writeFile(file, "as loaded");
    wptree changed = sampleTree();
    changed.put(L"zone_collection.title", L"другое");
    {
        storage::BackgroundSaver saver;
        saver.offer(file, sampleTree());
        ASSERT_TRUE(settled(saver));
        EXPECT_EQ(bytesOf("zones.xml"), "as loaded") << "the first tree is what start-up read";

        saver.offer(file, changed);
        ASSERT_TRUE(settled(saver));
        wptree loaded;
        ASSERT_TRUE(storage::load(file, loaded));
        EXPECT_EQ(loaded, changed);

        // The same tree again writes nothing.
        base::writeFile(file, "untouched");
        saver.offer(file, changed);
        ASSERT_TRUE(settled(saver));
        EXPECT_EQ(bytesOf("zones.xml"), "untouched");

        // After stop nothing more is written, whatever is offered.
        saver.stop();
        saver.offer(file, sampleTree());
        EXPECT_TRUE(saver.idle());
        EXPECT_EQ(bytesOf("zones.xml"), "untouched");
    }

    // While capturing, save hands the tree over and writes nothing.
    storage::SaveCapture capture;
    EXPECT_TRUE(storage::save(path("captured.xml"), changed));
    EXPECT_FALSE(fs::exists(m_dir.path() + "/captured.xml"));
    ASSERT_EQ(capture.saved.size(), 1u);
    EXPECT_EQ(capture.saved[0].first, path("captured.xml"));
    EXPECT_EQ(capture.saved[0].second, changed);
}

TEST_F(Storage, AChangeHandedToTheBackgroundSaverSurvivesAKill) {
    const std::wstring file = path("device_collection.xml");
    wptree before;
    before.put(L"device_collection.device.name", L"Зал");
    wptree renamed;
    renamed.put(L"device_collection.device.name", L"Зал 2");
    storage::save(file, before);
    base::Log::destroy();  // the children must not share the parent's writer

    const int status = testing_support::runInChild([&] {
        storage::BackgroundSaver saver;
        saver.offer(file, before);
        saver.offer(file, renamed);
        // Three seconds at most, as the operator's change deserves, then the crash.
        for (int i = 0; i < 300 && !saver.idle(); ++i) ::usleep(10000);
        ::kill(::getpid(), SIGKILL);
        return 0;
    });
    EXPECT_EQ(testing_support::statusText(status), testing_support::killedBy(SIGKILL));
    startLog(base::Log::TRACE3);
    wptree loaded;
    ASSERT_TRUE(storage::load(file, loaded));
    EXPECT_EQ(loaded, renamed);
}
