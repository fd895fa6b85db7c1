#include <algorithm>
#include <limits>
#include <map>
#include <regex>
#include <thread>

#include <malloc.h>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "base/dbg.h"
#include "base/log_safe.h"
#include "base/text.h"
#include "tests/base/log_fixture.h"

using base::Log;

namespace {

const char* kDay = "20261206";

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

void logFromHere(const wchar_t* text) { LOG_INFO(L"%1%", text); }

}  // namespace

using LogFile = LogFixture;
using LogFormatting = LogFixture;

TEST_F(LogFile, LinesOfTheLayoutAppendedToTheDaysFile) {
    startLog();
    LOG_TRACE3(L"trace3 %1%", 1);
    LOG_DEBUG(L"debug");
    LOG_INFO(L"Устройство подключено: '%1%'", std::wstring(L"Зал"));
    LOG_WARN(L"two %1% %2%", 1, 2);
    logFromHere(L"from a function");
    Log::instance()->flush();

    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "09:05:03.042 TRACE3\t[LogFile_LinesOfTheLayoutAppendedToTheDaysFile_Test]trace3 1");
    EXPECT_EQ(lines[2], "09:05:03.042 INFO\t[LogFile_LinesOfTheLayoutAppendedToTheDaysFile_Test]"
                        "Устройство подключено: 'Зал'");
    EXPECT_EQ(lines[4], "09:05:03.042 INFO\t[logFromHere]       from a function");

    // A second opening of the day appends, without another byte order mark.
    Log::destroy();
    startLog();
    LOG_INFO(L"second");
    Log::destroy();
    const std::string content = fileOf(kDay);
    EXPECT_EQ(content.rfind("\xEF\xBB\xBF", 0), 0u) << "a new file starts with a byte order mark";
    EXPECT_EQ(content.find("\xEF\xBB\xBF", 3), std::string::npos);
    EXPECT_EQ(linesOf(kDay).size(), 6u);
    EXPECT_NE(content.find("two 1 2\r\n"), std::string::npos) << "lines end with CR LF";
}

TEST_F(LogFile, ChangeOfDaySplitsRecordsBetweenFiles) {
    m_now = utcMicros(2026, 12, 6, 23, 59, 59, 999000);
    startLog();
    LOG_INFO(L"last of the day");
    m_now = utcMicros(2026, 12, 7, 0, 0, 0, 0);
    LOG_INFO(L"first of the next");
    m_now = utcMicros(2026, 12, 6, 23, 59, 59, 999999);
    LOG_INFO(L"late record of the old day");
    Log::destroy();

    EXPECT_EQ(linesOf("20261206"),
              (std::vector<std::string>{"23:59:59.999 INFO\t[LogFile_ChangeOfDaySplitsRecordsBetweenFiles_Test]last of the day",
                                        "23:59:59.999 INFO\t[LogFile_ChangeOfDaySplitsRecordsBetweenFiles_Test]late record of the old day"}));
    const auto next = linesOf("20261207");
    ASSERT_EQ(next.size(), 1u);
    EXPECT_NE(next[0].find("00:00:00.000 INFO"), std::string::npos);
    EXPECT_EQ(fileOf("20261207").rfind("\xEF\xBB\xBF", 0), 0u);
}

// While the log file cannot be written, every record ends in an output reset;
// the operator must hear of it once per failure and once when the file works
// again, not once per record.
TEST_F(LogFile, MissingFolderResetsOutputOncePerEpisodeAndRecovers) {
    const std::string folder = m_dir.path() + "/gone";
    boost::filesystem::create_directory(folder);
    startLog(Log::TRACE3, base::fromUtf8(folder));
    boost::filesystem::remove(folder + "/" + kDay + ".log");
    boost::filesystem::remove(folder);
    m_now = utcMicros(2026, 12, 7, 1, 0, 0);  // a new day's file cannot be opened
    for (int i = 0; i < 20; ++i) LOG_DEBUG(L"lost line %1%", i);
    Log::instance()->flush();
    auto seen = [this](const std::wstring& prefix) {
        const auto all = observed();
        return std::count_if(all.begin(), all.end(), [&](const std::wstring& s) { return s.rfind(prefix, 0) == 0; });
    };
    const std::wstring reset = L"ERROR|Журнал не записывается в файл",
                       restored = L"NOTICE|Журнал снова записывается в файл.";
    EXPECT_EQ(seen(L"ERROR|Журнал не записывается в файл: диск заполнен или недоступен."), 1);
    for (const auto& notice : observedAt(L"ERROR")) {
        EXPECT_EQ(notice.find(L"IO RESET"), std::wstring::npos) << "the details stay in the file";
        EXPECT_EQ(notice.find(L"\\x"), std::wstring::npos) << "the hex dump stays in the file";
    }
    EXPECT_EQ(seen(restored), 0);

    boost::filesystem::create_directory(folder);
    LOG_DEBUG(L"held back: the reset that reopens the file stands for it");
    for (int i = 0; i < 5; ++i) LOG_DEBUG(L"written line %1%", i);
    Log::instance()->flush();
    EXPECT_EQ(seen(restored), 1);
    EXPECT_EQ(seen(reset), 1);
    const std::string content = testing_support::readFile(folder + "/20261207.log");
    EXPECT_NE(content.find("IO RESET"), std::string::npos);
    EXPECT_NE(content.find("written line 4"), std::string::npos);
    EXPECT_EQ(content.find("lost line"), std::string::npos) << "the failed lines are only in hex";

    // A second failure is a new episode.
    boost::filesystem::remove_all(folder);
    m_now = utcMicros(2026, 12, 8, 1, 0, 0);
    for (int i = 0; i < 5; ++i) LOG_DEBUG(L"lost again %1%", i);
    Log::instance()->flush();
    EXPECT_EQ(seen(reset), 2);

    // The next day's file opens without a reset: that is a recovery too.
    boost::filesystem::create_directory(folder);
    m_now = utcMicros(2026, 12, 9, 1, 0, 0);
    LOG_DEBUG(L"a new day");
    Log::instance()->flush();
    EXPECT_EQ(seen(restored), 2);
}

TEST_F(LogFile, ManyThreadsLoseAndInterleaveNothing) {
    startLog(Log::INFO);
    constexpr int kThreads = 8;
    constexpr int kLines = 3000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) LOG_INFO(L"thread %1% line %2% end", t, i);
        });
    for (auto& t : threads) t.join();
    Log::destroy();

    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    const std::regex pattern(R"(.*\]thread (\d) line (\d+) end)");
    std::map<int, int> next;
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, pattern)) << line;
        const int thread = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[thread]++) << "lines of one thread keep their order";
    }
}

TEST_F(LogFile, FlushReturnsAfterEarlierRecordsAreWritten) {
    startLog();
    for (int i = 0; i < 500; ++i) LOG_DEBUG(L"record %1%", i);
    LOG_ERROR(L"an error is on disk when the call returns");
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 501u);
    EXPECT_TRUE(contains(lines, "record 499"));
}

// Records once written hold no memory: a long run logs far more than the ring
// has slots, and the ring used to keep the last text of every slot, some
// megabytes that grew through the first hour of a busy site.
TEST_F(LogFile, WrittenRecordsKeepNoMemory) {
    startLog();
    LOG_ERROR(L"start");  // the writer's own buffers made
    const std::size_t before = mallinfo2().uordblks;
    const std::wstring text(1000, L'x');
    for (int i = 0; i < 20000; ++i) LOG_DEBUG(L"%1% %2%", i, text);
    LOG_ERROR(L"all written");
    // An error waits 100 ms at most for the writer: on a busy machine the
    // writer may still be behind then, and the records it has not written
    // yet rightly hold their texts. It is given its time.
    std::size_t after = mallinfo2().uordblks;
    for (int i = 0; i < 100 && after >= before + 4 * 1024 * 1024; ++i) {
        Log::instance()->flush();
        after = mallinfo2().uordblks;
    }
    EXPECT_LT(after, before + 4 * 1024 * 1024) << "in use before " << before << ", after " << after;
}

// Without a log every call is a no-op; with one, the observer gets IMPOR and above.
TEST_F(LogFile, ObserverSeesImportantRecordsOnlyAndNoLogMeansNoEffect) {
    LOG_ERROR(L"nobody listens %1%", 1);
    dbg_puts(ERROR, "nobody");
    debug::error_safe(L"safe without a log %1%", 2);
    startLog();
    LOG_INFO(L"info");
    LOG_EXTERN(L"extern");
    LOG_IMPOR(L"impor");
    LOG_NOTICE(L"notice");
    LOG_FATAL(L"fatal");
    EXPECT_EQ(observed(), (std::vector<std::wstring>{L"IMPOR|impor", L"NOTICE|notice", L"FATAL|fatal"}));
}

// A window that tells the operator itself keeps the error in the file, in
// the catalogue's words, without a second notice of it.
TEST_F(LogFile, ARecordWithoutNoticeReachesTheFileButNotTheObserver) {
    startLog(Log::INFO);
    Log::setTranslator([](const std::wstring& t) { return L"<" + t + L">"; });
    LOG_WITHOUT_NOTICE(Log::ERROR, L"refused");
    LOG_WITHOUT_NOTICE(Log::DEBUG, L"below the level");
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" ERROR\t["), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - 9), "<refused>") << "the catalogue's words";
    EXPECT_TRUE(observed().empty());
}

TEST_F(LogFormatting, FaultyFormatsBecomeErrorRecords) {
    startLog(Log::INFO);
    LOG_DEBUG(nullptr);  // below the level: nothing at all
    LOG_INFO(L"%2%", 1);
    LOG_INFO(L"%1%", 1, 2);
    LOG_INFO(L"ends with %");
    Log::instance()->write(Log::INFO, "x::y", nullptr);
    Log::instance()->write(Log::INFO, "x::y", nullptr, 5);
    Log::instance()->write(Log::WARN, {}, L"%2%", 1);
    Log::instance()->flush();

    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 6u);
    const std::string ownPlace = "LogFormatting_FaultyFormatsBecomeErrorRecords_Test::TestBody";
    EXPECT_EQ(lines[0], "09:05:03.042 ERROR\t[Log]               Format error in a calling code, place [" +
                            ownPlace + "], format '%2%', what 'boost::too_few_args: format-string "
                            "referred to more arguments than were passed'");
    EXPECT_NE(lines[1].find("format '%1%', what 'boost::too_many_args"), std::string::npos);
    EXPECT_NE(lines[2].find("format 'ends with %', what 'boost::bad_format_string"), std::string::npos);
    EXPECT_EQ(lines[3], "09:05:03.042 ERROR\t[y]                 Format ERROR");
    EXPECT_NE(lines[4].find("ERROR\t[Log]               Format error in a calling code, place [x::y], "
                            "format 'Format ERROR'"), std::string::npos);
    EXPECT_NE(lines[5].find("ERROR\t[]                  Format error in a calling code, place []"),
              std::string::npos);
    for (const auto& notice : observedAt(L"ERROR"))
        EXPECT_TRUE(notice == L"Внутренняя ошибка: неверный формат записи журнала" || notice == L"Format ERROR")
            << "the operator reads no format's details";
}

TEST_F(LogFormatting, ArgumentKindsAndTranslation) {
    startLog(Log::TRACE3);
    Log::setTranslator([](const std::wstring& t) { return L"<" + t + L">"; });
    const unsigned char letterA = 65;
    char buffer[] = "\xC0\x01";
    char* received = buffer;
    LOG_TRACE(L"%1% %2% %3% %4%", std::wstring(L"w"), letterA, true, std::string("\xC4\xEE\xEC"));
    LOG_INFO(L"%1% %2% %3%", std::wstring(L"w"), L"literal", std::string("n"));
    LOG_DEBUG(L"%1%|%2$08X", received, 255);
    LOG_WARN(L"%1%|%2%|%3%", std::wstring(L"w"), "c", received);      // the general path
    LOG_INFO(L"%1$s %2$08X", std::wstring(L"w"), 255);                // boost.Format's directives
    dbg_puts(INFO, "c-style");
    dbg_puts(TRACE2, "c-style");
    dbg_printf(INFO, "%s", "printed");
    LOG_INFO(L"%2%", 1);
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_NE(lines[5].find("[dbg_puts]          <c-style>"), std::string::npos);
    EXPECT_NE(lines[6].find("[dbg_puts]          c-style"), std::string::npos) << "TRACE2: not translated";
    EXPECT_NE(lines[7].find("[dbg_puts]          <printed>"), std::string::npos) << "the format's entry, filled";
    EXPECT_NE(lines[8].find("format '%2%', what"), std::string::npos) << "a faulty format as the caller gave it";
    EXPECT_NE(lines[0].find("]w 65 1 Дом"), std::string::npos) << "below INFO nothing is translated";
    EXPECT_NE(lines[1].find("]<<w> literal <n>>"), std::string::npos)
        << "from INFO on the format and the texts, not a wide literal";
    EXPECT_NE(lines[2].find("]\xC3\x80\\1|000000FF"), std::string::npos) << "bytes widen one by one";
    EXPECT_NE(lines[3].find("]<<w>|<c>|\xC3\x80\\1>"), std::string::npos) << "received bytes are not translated";
    EXPECT_NE(lines[4].find("]<<w> 000000FF>"), std::string::npos);
}

TEST_F(LogFormatting, CStyleCallsNeverReadTheTextAsFormat) {
    startLog(Log::INFO);
    dbg_puts(INFO, "50% done, file %1%.mp3");
    dbg_puts(INFO, "\xCF\xF0\xE8\xE2\xE5\xF2");                 // code page 1251
    dbg_puts(INFO, "Привет");                                   // UTF-8
    dbg_puts(TRACE2, "%s(..)", "pref_init");                    // below the level
    dbg_puts(MARK, "marked");
    dbg_puts(12, "beyond");
    dbg_puts(INFO, "%s", std::string(5000, 'x').c_str());
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "09:05:03.042 INFO\t[dbg_puts]          50% done, file %1%.mp3");
    EXPECT_NE(lines[1].find("[dbg_puts]          Привет"), std::string::npos);
    EXPECT_NE(lines[2].find("[dbg_puts]          Привет"), std::string::npos);
    EXPECT_NE(lines[3].find("ERROR\t[dbg_puts]          Неизвестный уровень логирования"), std::string::npos);
    EXPECT_NE(lines[4].find("NOTICE\t[dbg_puts]          marked"), std::string::npos);
    EXPECT_NE(lines[6].find("NOTICE\t[dbg_puts]          beyond"), std::string::npos);
    EXPECT_EQ(lines[7].size(), lines[7].find('x') + 4095) << "cut at 4095 characters";
    EXPECT_NE(lines[8].find("EXTERN\t[dbg_puts]          Debug system: Small buffer"), std::string::npos);
}

// The operator reads a record through the catalogue: the format is looked up
// before the values go in, text values are looked up on their own and worded
// for the operator.
TEST_F(LogFormatting, NoticeTranslatesTheFormatBeforeTheValues) {
    startLog(Log::INFO);
    Log::setTranslator([](const std::wstring& t) -> std::wstring {
        if (t == L"Upgrade of '%1%' failed: %2% (%3% of %4$02d)") return L"Обновление '%1%' не удалось: %2% (%3% из %4$02d)";
        if (t == L"offline") return L"Устройство не в сети";
        if (t == L"Internal error") return L"Внутренняя ошибка";
        if (t == L"stream failed: %s, code %d") return L"Поток не запущен: %s, код %d";
        if (t == L"bad order %d %s") return L"плохой порядок %s %d";
        if (t == L"queue is full") return L"Очередь заполнена";
        if (t == L"dropped %1%") return L"потеряно %1% %2%";  // wrong entry: the program's format stands
        return t;
    });
    LOG_ERROR(L"Upgrade of '%1%' failed: %2% (%3% of %4$02d)", std::wstring(L"Зал 1"), std::string("offline / "), 3u, 7);
    LOG_WARN(L"Upgrade of '%1%' failed: %2% (%3% of %4$02d)", std::wstring(L"Hall"),
             base::toNarrow(L"Internal error / Внутренняя ошибка сервера"), 1, 2);
    LOG_INFO(L"Upgrade of '%1%' failed: %2% (%3% of %4$02d)", std::string("x"), std::string("offline"), 1, 2);
    LOG_NOTICE(L"dropped %1%", 5);
    dbg_printf(ERROR, "stream failed: %s, code %d", "no device", 12);
    dbg_printf(ERROR, "bad order %d %s", 1, "x");  // an entry with other directives is not used
    dbg_puts(WARN, "queue is full");
    dbg_printf(ERROR, "caught: %s, %s", "stoi", "No diagnostic information available.");
    Log::instance()->flush();

    EXPECT_EQ(observed(), (std::vector<std::wstring>{
                              L"ERROR|Обновление 'Зал 1' не удалось: Устройство не в сети (3 из 07)",
                              L"WARN|Обновление «Hall» не удалось: Внутренняя ошибка: Внутренняя ошибка сервера (1 из 02)",
                              L"NOTICE|dropped 5",
                              L"ERROR|Поток не запущен: no device, код 12",
                              L"ERROR|bad order 1 x",
                              L"WARN|Очередь заполнена",
                              L"ERROR|caught: stoi",
                          }));
    // The file has the same catalogue texts, with the values as the program
    // gave them (a text value looked up whole).
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_NE(lines[7].find("caught: stoi, No diagnostic information available."), std::string::npos);
    EXPECT_NE(lines[0].find("]Обновление 'Зал 1' не удалось: offline /  (3 из 07)"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("INFO\t[LogFormatting_NoticeTranslatesTheFormatBeforeTheValues_Test]Обновление 'x' "
                            "не удалось: Устройство не в сети (1 из 02)"), std::string::npos);
    EXPECT_NE(lines[3].find("]dropped 5"), std::string::npos) << "an entry that doesn't fit is no format error";
    EXPECT_NE(lines[4].find("[dbg_puts]          Поток не запущен: no device, код 12"), std::string::npos);
    EXPECT_NE(lines[5].find("[dbg_puts]          bad order 1 x"), std::string::npos);
    EXPECT_NE(lines[6].find("WARN\t[dbg_puts]          Очередь заполнена"), std::string::npos);
}

TEST(LogNotice, ArgumentsReadByTheOperator) {
    const Log::Translator catalogue = [](const std::wstring& t) -> std::wstring {
        if (t == L"Processing of the previous command isn't complete!") return L"Устройство занято";
        if (t == L"unknownVersion") return L"Неизвестная версия";
        return t;
    };
    const auto notice = [&](const std::wstring& text, bool runtime = true) {
        return Log::noticeArgument(text, runtime, catalogue);
    };
    EXPECT_EQ(notice(L"Получен неожиданный ответ устройства / ERR 3 bad index"),
              L"Получен неожиданный ответ устройства: «ERR 3 bad index»");
    EXPECT_EQ(notice(L"Получен неожиданный ответ устройства / Processing of the previous command isn't complete!"),
              L"Получен неожиданный ответ устройства: Устройство занято");
    EXPECT_EQ(notice(L"unknownVersion / Устройство имеет неизвестную версию"),
              L"Неизвестная версия: Устройство имеет неизвестную версию");
    EXPECT_EQ(notice(L"No diagnostic information available."), L"");
    EXPECT_EQ(notice(L"Throw location unknown (consider using BOOST_THROW_EXCEPTION)\nDynamic exception type: x"),
              L"");
    EXPECT_EQ(notice(L"open: Read-only file system"), L"«open: Read-only file system»");
    EXPECT_EQ(notice(L"read error / Input/output error"), L"«read error / Input/output error»");
    EXPECT_EQ(notice(L"Tovik-30", false), L"Tovik-30") << "the program's own words are not quoted";
    EXPECT_EQ(notice(L"10.0.0.7"), L"10.0.0.7");
    EXPECT_EQ(notice(L"Зал 2 / A"), L"Зал 2: A") << "a single Latin letter is no foreign word";
    const std::wstring dump = notice(std::wstring(500, L'x'));
    EXPECT_EQ(dump.size(), Log::kNoticeArgumentLength + 3) << "quotes and the ellipsis";
    EXPECT_EQ(dump.substr(dump.size() - 2), L"…»");
    // Quotes once: none of the value's own where the format quotes it.
    EXPECT_EQ(Log::noticeArgument(L"open: Read-only file system", true, catalogue, true),
              L"open: Read-only file system");
    EXPECT_EQ(Log::noticeArgument(L"Получен неожиданный ответ устройства / ERR 3", true, catalogue, true),
              L"Получен неожиданный ответ устройства: «ERR 3»")
        << "the format's quotes hold the whole text, not the reply";
    // A file of the data folder by its name; any other path whole.
    const std::wstring data = L"/home/op/.local/share/Varko Security Systems/Sonvar/1.2";
    EXPECT_EQ(Log::noticeArgument(data + L"/list_of_playlist_radio.xml", true, catalogue, true, data),
              L"list_of_playlist_radio.xml");
    EXPECT_EQ(Log::noticeArgument(data + L"/log/20261206.log", true, catalogue, false, data), L"«20261206.log»");
    EXPECT_EQ(Log::noticeArgument(L"/media/usb/Музыка", true, catalogue, false, data), L"«/media/usb/Музыка»");
    EXPECT_EQ(Log::noticeArgument(data + L"2/x.xml", true, catalogue, true, data), data + L"2/x.xml")
        << "a folder of a longer name is another folder";
    EXPECT_EQ(Log::noticeArgument(L"/tmp/a.xml", false, catalogue, false, data), L"/tmp/a.xml")
        << "the program's own words stand";
    EXPECT_EQ(Log::noticeArgument(L"offline / ", true, {}), L"offline / ");
    EXPECT_EQ(Log::noticeArgument(L"No diagnostic information available.", true, {}), L"");
}

TEST(LogNotice, PrintfDirectivesCompared) {
    EXPECT_EQ(dbg_conversions("a %s b %-5.2f %% %lu"), "%s\n%-5.2f\n%lu\n");
    EXPECT_EQ(dbg_conversions("ends with %"), "?");
    EXPECT_NE(dbg_conversions("%d %s"), dbg_conversions("%s %d"));
    EXPECT_NE(dbg_conversions("%u"), dbg_conversions("%lu"));
}

TEST_F(LogFile, AbortSequenceExitsWithItsFatalLine) {
    const std::string dir = m_dir.path();
    EXPECT_EXIT(
        {
            startLog(Log::INFO);
            std::thread chatter([] {
                for (;;) LOG_INFO(L"still logging");
            });
            chatter.detach();
            dbg_abort("m_mainFrame == NULL", "aApp::GetMainFrame");
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_TRUE(contains(linesOf(kDay), "FATAL\t[dbg_puts]          m_mainFrame == NULL"));
}

TEST_F(LogFile, AbortSequenceLosesNoLineLoggedBeforeIt) {
    EXPECT_EXIT(
        {
            startLog(Log::INFO);
            for (int i = 0; i < 3000; ++i) LOG_INFO(L"queued %1%", i);
            dbg_abort("m_mainFrame == NULL", "aApp::GetMainFrame");
        },
        ::testing::ExitedWithCode(1), "");
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 3001u);
    for (int i = 0; i < 3000; ++i) EXPECT_NE(lines[i].find("]queued " + std::to_string(i)), std::string::npos) << i;
    EXPECT_NE(lines[3000].find("FATAL\t[dbg_puts]          m_mainFrame == NULL"), std::string::npos);
}

// Plain formats are laid out without boost.Format; every text must still be
// the one boost.Format makes, and what isn't plain goes to boost.Format.
TEST_F(LogFormatting, PlainFormatsGiveBoostFormatsTexts) {
    startLog(Log::INFO);
    std::vector<std::wstring> expected;
    const auto both = [&](const wchar_t* format, const auto&... arguments) {
        LOG_INFO(format, arguments...);
        try {
            boost::wformat f(format);
            ((f % arguments), ...);
            expected.push_back(f.str());
        } catch (const boost::io::format_error& e) {
            expected.push_back(L"Format error in a calling code, place [" +
                               base::toWide(std::string(base::functionPlace(__PRETTY_FUNCTION__))) +
                               L"], format '" + format + L"', what '" + base::toWide(e.what()) + L"'");
        }
    };
    both(L"device %1% volume %2%", std::wstring(L"Зал 1"), 40);
    both(L"100%% done, %1%%%", 7);
    both(L"%2% before %1%", 1, std::wstring(L"two"));
    both(L"%1%%1%", L"twice");
    both(L"%1% %3%", 1, 2, 3);
    both(L"%1% %2% %3% %4% %5% %6% %7% %8% %9% %10% %11%", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
    both(L"%1% %2% %3%", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max(), -1);
    both(L"%1% %2% %3%", true, L'Ж', std::wstring_view(L"view"));
    both(L"%1$08X|%2%", 255, 2);
    both(L"%1% %-5d|", 4);
    both(L"%01% %1%", 3);
    both(L"%2%", 1);
    both(L"%1%", 1, 2);
    both(L"50%");
    both(L"no directive");
    Log::instance()->flush();

    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].size() >= expected[i].size() &&
                    lines[i].compare(lines[i].size() - base::toUtf8(expected[i]).size(), std::string::npos,
                                     base::toUtf8(expected[i])) == 0)
            << lines[i] << " | " << base::toUtf8(expected[i]);
}

// The writer's own layout of a line must give the general layout's bytes,
// whatever the message holds.
TEST_F(LogFile, WrittenLinesAreTheGeneralLayoutsLines) {
    startLog(Log::INFO);
    const std::wstring messages[] = {L"plain", L"Текст №5 «в кавычках»", L"a\nb\tc\r\x1B", L"del\x7F",
                                     L"c1\x85 nbsp\xA0 euro\x20AC", L"smile \U0001F600",
                                     std::wstring(L"x\0y", 3), std::wstring(L"lone \xD800 half"),
                                     L"beyond \x110000", L"", std::wstring(5000, L'щ'), L"\\9 already"};
    for (const auto& message : messages) LOG_INFO(L"%1%", message);
    Log::instance()->flush();
    // The null character makes the general layout's line check log a record of its own.
    auto lines = linesOf(kDay);
    const auto check = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("log subsystem: It detects error: different lines!") != std::string::npos;
    });
    ASSERT_NE(check, lines.end());
    lines.erase(check);
    ASSERT_EQ(lines.size(), std::size(messages));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Log::Record record;
        record.level = Log::INFO;
        record.place = base::functionPlace(__PRETTY_FUNCTION__);
        record.message = messages[i];
        record.time = m_now;
        EXPECT_EQ(lines[i], base::toUtf8(Log::formatLine(record))) << i;
    }
}

// Callers queue without a lock; the time of each record is still read in
// the order the records take in the file.
TEST_F(LogFile, ConcurrentRecordsStandInTheOrderOfTheirTimes) {
    std::atomic<std::int64_t> clock{utcMicros(2026, 12, 6, 9, 0, 0)};
    Log::create(m_dir.widePath(), Log::INFO, false, [&] { return clock.fetch_add(1000); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) LOG_INFO(L"line %1%", i);
        });
    for (auto& t : threads) t.join();
    Log::destroy();
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 16000u);
    for (std::size_t i = 1; i < lines.size(); ++i)
        ASSERT_LE(lines[i - 1].substr(0, 12), lines[i].substr(0, 12)) << "line " << i;
}
