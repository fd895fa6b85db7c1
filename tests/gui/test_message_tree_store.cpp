// service_message.xml and alarm_message.xml as the message pages write and
// read them: the exact bytes, what xmllint sees, moved files found again,
// files made on Windows, and files that are broken in part or as a whole.
// No window.
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <fstream>

#include "base/pref.h"
#include "base/storage.h"
#include "base/text.h"
#include "gui/message_tree_store.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"

using frm::MessageFileRead;
using frm::MessageNode;
using Nodes = std::vector<MessageNode>;

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

MessageNode group(const std::wstring& name, Nodes children = {}) {
    MessageNode node;
    node.type = frm::kMessageGroup;
    node.name = name;
    node.children = std::move(children);
    return node;
}

MessageNode message(const std::wstring& name, const std::wstring& path, const std::wstring& gong = L"") {
    MessageNode node;
    node.type = frm::kMessageItem;
    node.name = name;
    node.messagePath = path;
    node.gongPath = gong;
    return node;
}

/// "name{children}" and "name=message|gong", depth first, for comparisons.
std::wstring shape(const Nodes& nodes) {
    std::wstring text;
    for (const MessageNode& node : nodes) {
        if (!text.empty()) text += L" ";
        if (node.type == frm::kMessageGroup)
            text += node.name + L"{" + shape(node.children) + L"}";
        else
            text += node.name + L"=" + node.messagePath + L"|" + node.gongPath;
    }
    return text;
}

class MessageFile : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(m_dir.widePath() + L"/sonvar.cfg");
        boost::filesystem::create_directories(m_dir.path() + "/data");
    }
    void TearDown() override {
        pref_free();
        CountingLogFixture::TearDown();
    }
    std::string written(const Nodes& nodes, const std::wstring& own = L"/nowhere") {
        storage::save(base::fromUtf8(file), frm::messageTreeFile(nodes, own));
        return testing_support::readFile(file);
    }
    void write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    MessageFileRead read(Nodes& nodes) { return frm::readMessageFile(base::fromUtf8(file), folders, nodes); }
    /// An empty file at a path below the temporary folder.
    std::wstring touch(const std::string& relative) {
        const std::string path = m_dir.path() + "/" + relative;
        boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
        std::ofstream(path).put('\0');
        return base::fromUtf8(path);
    }
    std::wstring at(const std::string& relative) const {
        return base::fromUtf8(m_dir.path() + "/" + relative);
    }

    const std::string file = m_dir.path() + "/service_message.xml";
    frm::MessageFolders folders{L"/nowhere/own", L"/nowhere/record"};
    const Nodes evacuation{
        group(L"Эвакуация", {message(L"Этаж 2", L"/srv/msg/floor2.mp3", L"/srv/gong/gong1.mp3"),
                             message(L"Всем & всё", L"/srv/msg/<all>.mp3")}),
        group(L"Пусто"), group(L"Проверка", {message(L"Тест", L"/srv/msg/test.mp3")})};
};

}  // namespace

TEST_F(MessageFile, ExactBytesInTreeOrderWithAnEmptyGongElement) {
    EXPECT_EQ(written({}), kDeclaration + "<tree/>");
    const std::string expected =
        kDeclaration +
        "<tree><group><name>Эвакуация</name>"
        "<message><name>Этаж 2</name><message>/srv/msg/floor2.mp3</message><gong>/srv/gong/gong1.mp3</gong>"
        "</message>"
        "<message><name>Всем &amp; всё</name><message>/srv/msg/&lt;all&gt;.mp3</message><gong/></message>"
        "</group><group><name>Пусто</name></group>"
        "<group><name>Проверка</name><message><name>Тест</name><message>/srv/msg/test.mp3</message><gong/>"
        "</message></group></tree>";
    EXPECT_EQ(written(evacuation), expected);
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/tree/group)"), "3");
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/tree/group/message)"), "3");
    EXPECT_EQ(gui_testing::xmllintXpath(file, "string(/tree/group[1]/message[2]/message)"),
              "/srv/msg/<all>.mp3");
    EXPECT_EQ(gui_testing::xmllintXpath(file, "name(/tree/group[1]/*[1])"), "name") << "the name comes first";

    // The alarm page's file has the same shape.
    const std::string alarmFile = m_dir.path() + "/alarm_message.xml";
    storage::save(base::fromUtf8(alarmFile), frm::messageTreeFile(evacuation, L"/nowhere"));
    EXPECT_EQ(testing_support::readFile(alarmFile), expected);
}

TEST_F(MessageFile, ReadsBackWhatItWroteAndWritesTheSameBytesAgain) {
    const std::string first = written(evacuation);
    Nodes loaded;
    ASSERT_NE(shape(loaded), shape(evacuation));
    EXPECT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded), shape(evacuation));
    EXPECT_EQ(written(loaded), first);
    EXPECT_FALSE(boost::filesystem::exists(file + ".bad"));
}

TEST_F(MessageFile, AFileMadeOnWindowsLoadsTheSame) {
    write(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tree>\r\n  <group>\r\n"
        "    <name>Эвакуация</name>\r\n    <message>\r\n      <name>Этаж 2</name>\r\n"
        "      <message>/srv/msg/floor2.mp3</message>\r\n      <gong>/srv/gong/gong1.mp3</gong>\r\n"
        "    </message>\r\n    <message>\r\n      <name>Всем &amp; всё</name>\r\n"
        "      <message>/srv/msg/&lt;all&gt;.mp3</message>\r\n      <gong></gong>\r\n    </message>\r\n"
        "  </group>\r\n  <group>\r\n    <name>Пусто</name>\r\n  </group>\r\n  <group>\r\n"
        "    <name>Проверка</name>\r\n    <message>\r\n      <name>Тест</name>\r\n"
        "      <message>/srv/msg/test.mp3</message>\r\n      <gong/>\r\n    </message>\r\n  </group>\r\n"
        "</tree>\r\n");
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded), shape(evacuation));
}

TEST_F(MessageFile, NestedGroupsComeToTheTopAndAMessageUnderTreeStaysThere) {
    write(kDeclaration +
          "<tree><message><name>Сверху</name><message>/m/top.mp3</message><gong/></message>"
          "<group><name>A</name><message><name>1</name><message>/m/1.mp3</message><gong/></message>"
          "<group><name>B</name><message><name>2</name><message>/m/2.mp3</message><gong/></message></group>"
          "<message><name>3</name><message>/m/3.mp3</message><gong/></message><comment>x</comment></group>"
          "<other/></tree>");
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded), L"Сверху=/m/top.mp3| A{1=/m/1.mp3| 3=/m/3.mp3|} B{2=/m/2.mp3|}");
}

TEST_F(MessageFile, MovedFilesAreFoundInTheOwnFolderThenInTheRecordings) {
    folders = {at("own"), at("record")};
    const std::wstring moved = touch("own/floor2.mp3");
    const std::wstring recorded = touch("record/Запись 1.mp3");
    const std::wstring here = touch("elsewhere/here.mp3");
    const std::wstring gongInOwn = touch("own/gong1.mp3");
    touch("gong/chime.mp3");
    write(
        kDeclaration +
        "<tree><group><name>G</name>"
        "<message><name>a</name><message>/old/floor2.mp3</message><gong>/old/gongs/gong1.mp3</gong></message>"
        "<message><name>b</name><message>/old/Запись "
        "1.mp3</message><gong>/old/gong/chime.mp3</gong></message>"
        "<message><name>c</name><message>" +
        base::toUtf8(here) +
        "</message><gong/></message>"
        "<message><name>d</name><message>/old/gone.mp3</message><gong/></message>"
        "</group></tree>");
    Nodes loaded;
    ASSERT_EQ(read(loaded), MessageFileRead::kLoaded);
    ASSERT_EQ(loaded.size(), 1u);
    const Nodes& items = loaded[0].children;
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].messagePath, moved);
    EXPECT_EQ(items[0].gongPath, gongInOwn);
    EXPECT_EQ(items[1].messagePath, recorded);
    EXPECT_EQ(items[1].gongPath, L"/old/gong/chime.mp3") << "gongs are not sought in the gong folder";
    EXPECT_EQ(items[2].messagePath, here);
    EXPECT_EQ(items[3].messagePath, L"/old/gone.mp3");

    // Saving looks in the own folder only, and leaves the nodes alone.
    const Nodes stale{group(
        L"G", {message(L"a", L"/old/floor2.mp3", L"/old/gong1.mp3"), message(L"b", L"/old/Запись 1.mp3")})};
    written(stale, at("own"));
    EXPECT_EQ(base::fromUtf8(gui_testing::xmllintXpath(file, "string(//message[name=\"a\"]/message)")),
              moved);
    EXPECT_EQ(base::fromUtf8(gui_testing::xmllintXpath(file, "string(//message[name=\"a\"]/gong)")),
              gongInOwn);
    EXPECT_EQ(gui_testing::xmllintXpath(file, "string(//message[name=\"b\"]/message)"), "/old/Запись 1.mp3");
    EXPECT_EQ(stale[0].children[0].messagePath, L"/old/floor2.mp3");
}

TEST_F(MessageFile, EmptyFolderSettingsMeanTheDataFoldersOwnFolders) {
    const std::wstring data = at("data");
    EXPECT_EQ(frm::messageFolder(false, data), data + L"/service");
    EXPECT_EQ(frm::messageFolder(true, data), data + L"/alarm");
    EXPECT_EQ(frm::recordedMessageFolder(data), data + L"/record");
    EXPECT_TRUE(pref::find(g_pref, "place.pathDirServiceMessage", pref::Type::TypeString)) << "created empty";

    pref::setString("place.pathDirServiceMessage", L"/srv/Служебные");
    pref::setString("place.pathDirAlarmMessage", L"/srv/Тревожные");
    pref::setString("place.pathDirRecordedMessage", L"/srv/Записи");
    EXPECT_EQ(frm::messageFolder(false, data), L"/srv/Служебные");
    EXPECT_EQ(frm::messageFolder(true, data), L"/srv/Тревожные");
    EXPECT_EQ(frm::recordedMessageFolder(data), L"/srv/Записи");
}

TEST_F(MessageFile, BrokenItemsAreSkippedTheRestLoadsAndTheOriginalIsKept) {
    const std::string original =
        kDeclaration +
        "<tree><group><name>A</name>"
        "<message><name>1</name><message>/m/1.mp3</message></message>"  // no gong
        "<message><name>2</name><message>/m/2.mp3</message><gong/></message></group>"
        "<group><message><name>lost</name><message>/m/x.mp3</message><gong/></message></group>"  // no name
        "<group><name>C</name><message><gong/><message>/m/3.mp3</message></message>"             // no name
        "<message><name>4</name><message>/m/4.mp3</message><gong/></message></group></tree>";
    write(original);
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kItemsSkipped);
    EXPECT_EQ(shape(loaded), L"A{2=/m/2.mp3|} C{4=/m/4.mp3|}");
    EXPECT_EQ(loggedCount("пропущен", "WARN"), 3);
    EXPECT_EQ(testing_support::readFile(file + ".bad"), original);
    EXPECT_EQ(testing_support::readFile(file), original) << "the file itself is written anew at exit";
    EXPECT_EQ(loggedCount("Service message not loaded"), 0);
}

TEST_F(MessageFile, AFileThatIsNoTreeIsSetAsideWithAnErrorAndNothingLoads) {
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kNotRead) << "no file";
    EXPECT_EQ(loggedCount("Service message not loaded", "EXTERN"), 1);
    EXPECT_EQ(loggedCount("", "ERROR"), 0);

    for (const std::string& bytes : {kDeclaration + "<tree><group><name>A</name></group>",
                                     kDeclaration + "<messages><group><name>A</name></group></messages>"}) {
        write(bytes);
        loaded.clear();
        EXPECT_EQ(read(loaded), MessageFileRead::kSetAside) << bytes;
        EXPECT_TRUE(loaded.empty());
        EXPECT_EQ(testing_support::readFile(file + ".bad"), bytes);
        EXPECT_FALSE(boost::filesystem::exists(file));
    }
    EXPECT_EQ(loggedCount("не загружены: файл повреждён", "ERROR"), 2);
    EXPECT_EQ(loggedCount("Service message not loaded", "EXTERN"), 3);
}
