#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <boost/property_tree/ptree.hpp>
#include <csignal>
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

    base::writeFile(path("empty.xml"), "");
    EXPECT_TRUE(storage::load(path("empty.xml"), tree));
    EXPECT_TRUE(tree.empty());

    // A folder that does not exist: an ERROR, no exception, and the next file is still saved.
    const std::wstring lost = path("no-such-folder/zones.xml");
    EXPECT_NO_THROW(storage::save(lost, sampleTree()));
    EXPECT_TRUE(
        logged("ERROR\t[save]              Ошибка сохранения настроек. Неверен путь к файлу настроек " +
               base::toUtf8(lost)));
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
