// service_message.xml and alarm_message.xml as the message pages write and
// read them: the exact bytes, moved files found again, files made on
// Windows, and files broken in part or as a whole. No window.
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
using Nodes = std::vector<frm::MessageNode>;

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

frm::MessageNode node(const std::wstring& name, Nodes children = {}) {
    return {frm::kMessageGroup, name, L"", L"", children};
}
frm::MessageNode node(const std::wstring& name, const std::wstring& path, const std::wstring& gong) {
    return {frm::kMessageItem, name, gong, path, {}};
}

/// "group{message=path|gong ...}" in order.
std::wstring shape(const Nodes& nodes) {
    std::wstring text;
    for (const auto& n : nodes)
        text += (text.empty() ? L"" : L" ") + (n.type == frm::kMessageGroup
                                                   ? n.name + L"{" + shape(n.children) + L"}"
                                                   : n.name + L"=" + n.messagePath + L"|" + n.gongPath);
    return text;
}

class MessageFile : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(m_dir.widePath() + L"/sonvar.cfg");
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
    std::wstring touch(const std::string& relative) {
        const std::string path = m_dir.path() + "/" + relative;
        boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
        std::ofstream(path).put('\0');
        return base::fromUtf8(path);
    }

    const std::string file = m_dir.path() + "/alarm_message.xml";
    frm::MessageFolders folders{L"/nowhere/own", L"/nowhere/record"};
};

}  // namespace

TEST_F(MessageFile, ExactBytesInTreeOrderReadBackAndWrittenAgainTheSame) {
    EXPECT_EQ(written({}), kDeclaration + "<tree/>");
    const Nodes tree{node(L"Эвакуация", {node(L"Этаж 2", L"/srv/floor2.mp3", L"/srv/gong1.mp3"),
                                         node(L"Всем & всё", L"/srv/<all>.mp3", L"")}),
                     node(L"Пусто")};
    const std::string bytes = written(tree);
    EXPECT_EQ(bytes,
              kDeclaration +
                  "<tree><group><name>Эвакуация</name><message><name>Этаж 2</name><message>/srv/floor2.mp3"
                  "</message><gong>/srv/gong1.mp3</gong></message><message><name>Всем &amp; всё</name>"
                  "<message>/srv/&lt;all&gt;.mp3</message><gong/></message></group>"
                  "<group><name>Пусто</name></group></tree>");
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/tree/group/message)"), "2");

    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded), shape(tree));
    EXPECT_EQ(written(loaded), bytes);
}

TEST_F(MessageFile, AWindowsFileWithNestedGroupsAndATopLevelMessageLoads) {
    write(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tree>\r\n"
        "  <message><name>Сверху</name><message>/m/top.mp3</message><gong></gong></message>\r\n"
        "  <group>\r\n    <name>A</name>\r\n"
        "    <message>\r\n      <name>1</name>\r\n      <message>/m/1.mp3</message>\r\n"
        "      <gong>/m/g.mp3</gong>\r\n    </message>\r\n"
        "    "
        "<group><name>B</name><message><name>2</name><message>/m/2.mp3</message><gong/></message></group>\r\n"
        "    <message><name>3</name><message>/m/3.mp3</message><gong/></message>\r\n"
        "  </group>\r\n  <other/>\r\n</tree>\r\n");
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded), L"Сверху=/m/top.mp3| A{1=/m/1.mp3|/m/g.mp3 3=/m/3.mp3|} B{2=/m/2.mp3|}");
}

TEST_F(MessageFile, MovedFilesAreFoundInTheOwnFolderThenInTheRecordings) {
    folders = {base::fromUtf8(m_dir.path() + "/own"), base::fromUtf8(m_dir.path() + "/record")};
    const std::wstring moved = touch("own/floor2.mp3"), gong = touch("own/gong1.mp3");
    const std::wstring recorded = touch("record/Запись 1.mp3");
    touch("gong/chime.mp3");
    write(kDeclaration +
          "<tree><group><name>G</name>"
          "<message><name>a</name><message>/old/floor2.mp3</message><gong>/x/gong1.mp3</gong></message>"
          "<message><name>b</name><message>/old/Запись 1.mp3</message><gong>/x/chime.mp3</gong></message>"
          "<message><name>c</name><message>/old/gone.mp3</message><gong/></message></group></tree>");
    Nodes loaded;
    ASSERT_EQ(read(loaded), MessageFileRead::kLoaded);
    EXPECT_EQ(shape(loaded),
              L"G{a=" + moved + L"|" + gong + L" b=" + recorded + L"|/x/chime.mp3 c=/old/gone.mp3|}")
        << "gongs are not sought in the gong folder";

    // Saving looks in the own folder only, and leaves the nodes as they are.
    const Nodes stale{
        node(L"G", {node(L"a", L"/old/floor2.mp3", L""), node(L"b", L"/old/Запись 1.mp3", L"")})};
    written(stale, folders.own);
    EXPECT_EQ(gui_testing::xmllintXpath(file, "string(//message[name=\"a\"]/message)"), base::toUtf8(moved));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "string(//message[name=\"b\"]/message)"), "/old/Запись 1.mp3");
    EXPECT_EQ(stale[0].children[0].messagePath, L"/old/floor2.mp3");
}

TEST_F(MessageFile, BrokenItemsAreSkippedAndTheOriginalKeptABrokenFileIsSetAside) {
    const std::string partly =
        kDeclaration +
        "<tree><group><name>A</name><message><name>1</name><message>/m/1.mp3</message></message>"
        "<message><name>2</name><message>/m/2.mp3</message><gong/></message></group>"
        "<group><message><name>x</name><message>/m/x.mp3</message><gong/></message></group>"
        "<group><name>C</name><message><gong/><message>/m/3.mp3</message></message></group></tree>";
    write(partly);
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kItemsSkipped);
    EXPECT_EQ(shape(loaded), L"A{2=/m/2.mp3|} C{}");
    EXPECT_EQ(loggedCount("пропущен", "INFO"), 3) << "each in the log";
    EXPECT_EQ(testing_support::readFile(file + ".bad"), partly);
    EXPECT_EQ(testing_support::readFile(file), partly) << "written anew only at exit";

    int copy = 2;
    for (const std::string& bytes : {kDeclaration + "<tree><group>", kDeclaration + "<messages/>"}) {
        write(bytes);
        loaded.clear();
        EXPECT_EQ(read(loaded), MessageFileRead::kSetAside) << bytes;
        EXPECT_TRUE(loaded.empty());
        EXPECT_EQ(testing_support::readFile(file + ".bad." + std::to_string(copy++)), bytes);
    }
    EXPECT_EQ(testing_support::readFile(file + ".bad"), partly) << "earlier copies are never replaced";
    EXPECT_EQ(loggedCount("не загружены: файл повреждён", "INFO"), 2);
    EXPECT_EQ(read(loaded), MessageFileRead::kNotRead) << "no file";
    EXPECT_EQ(loggedCount("Service message not loaded", "EXTERN"), 3);
}

// Broken items gave a notice each and one more for the copy, without a count;
// a file that did not parse gave the copy's notice and an error beside it.
TEST_F(MessageFile, ADamagedFileIsToldInOneNoticeNamingTheFileAndTheCount) {
    const auto notices = [this] { return loggedCount("", "WARN") + loggedCount("", "ERROR"); };
    write(kDeclaration +
          "<tree><group><name>A</name><message><name>1</name><gong/></message>"
          "<message><name>2</name><message>/m/2.mp3</message></message></group></tree>");
    Nodes loaded;
    EXPECT_EQ(read(loaded), MessageFileRead::kItemsSkipped);
    EXPECT_EQ(notices(), 1);
    EXPECT_EQ(loggedCount("Файл '" + file +
                              "' повреждён (пропущено записей: 2) и прочитан не весь; исходный файл сохранён как '" +
                              file + ".bad'",
                          "WARN"),
              1);

    write(kDeclaration + "<tree><group><name>A</name>");
    EXPECT_EQ(read(loaded), MessageFileRead::kSetAside);
    EXPECT_EQ(notices(), 2);
    EXPECT_EQ(loggedCount("Файл '" + file + "' повреждён (ошибка в строке 2) и сохранён как '" + file + ".bad.2'",
                          "WARN"),
              1);
}
