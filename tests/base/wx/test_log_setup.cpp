#include <gtest/gtest.h>
#include <malloc.h>
#include <wx/defs.h>
#include <wx/translation.h>

#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/exception.h"
#include "base/log.h"
#include "base/wx/gui_thread_invoker.h"
#include "base/wx/log_setup.h"
#include "tests/base/wx/wx_app.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

struct Box {
    std::wstring text;
    std::wstring caption;
    long style;
};

// The application's log set-up with the message box replaced by a recorder.
class Notification : public ::testing::Test {
protected:
    void SetUp() override {
        dbg_init(false, INFO, m_dir.widePath().c_str());
        m_previous =
            dbg_setMessagePresenter([this](const wxString& text, const wxString& caption, long style) {
                m_boxes.push_back({text.ToStdWstring(), caption.ToStdWstring(), style});
            });
        m_window = new wx_testing::TaskWindow;
    }
    void TearDown() override {
        wx_testing::closeInvokerAndWindow(m_window);
        dbg_setMessagePresenter(m_previous);
        base::Log::destroy();
    }

    testing_support::TempDir m_dir;
    MessagePresenter m_previous;
    std::vector<Box> m_boxes;
    wx_testing::TaskWindow* m_window = nullptr;
};

}  // namespace

TEST_F(Notification, ImportantRecordsBecomeBoxesOnTheGuiThreadWithoutRepeats) {
    LOG_NOTICE(L"before the invoker: never shown");
    GuiThreadInvoker::createInstance(m_window);

    LOG_WARN(L"Диск почти заполнен");
    LOG_WARN(L"Диск почти заполнен");  // a repeat within two seconds
    LOG_ERROR(L"Устройство %1% не отвечает", 1);
    LOG_ERROR(L"Устройство %1% не отвечает", 2);
    LOG_ERROR(L"Устройство %1% не отвечает", 1);
    LOG_FATAL(L"Конец");
    LOG_FATAL(L"Конец");  // FATAL is always shown
    LOG_IMPOR(L"important, but no box");
    LOG_INFO(L"below the observer");

    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return m_boxes.size() >= 5; }));
    wx_testing::runEventLoopFor(200ms);
    const long common = wxOK | wxCENTRE;
    const Box expected[] = {{L"Диск почти заполнен", L"WARN", wxICON_WARNING | common},
                            {L"Устройство 1 не отвечает", L"ERROR", wxICON_ERROR | common},
                            {L"Устройство 2 не отвечает", L"ERROR", wxICON_ERROR | common},
                            {L"Конец", L"FATAL", wxICON_ERROR | common},
                            {L"Конец", L"FATAL", wxICON_ERROR | common}};
    ASSERT_EQ(m_boxes.size(), std::size(expected));
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        EXPECT_EQ(m_boxes[i].text, expected[i].text) << i;
        EXPECT_EQ(m_boxes[i].caption, expected[i].caption) << i;
        EXPECT_EQ(m_boxes[i].style, expected[i].style) << i;
    }
}

TEST_F(Notification, ABoxAskedForWhileAnotherIsOpenWaitsUntilItIsAnswered) {
    // The invoker runs tasks inside an open box's modal loop: a second record
    // shown from there must not stack its box on the first one.
    std::vector<std::wstring> events;
    const MessagePresenter recorder =
        dbg_setMessagePresenter([&](const wxString& text, const wxString&, long) {
            events.push_back(L"open " + text.ToStdWstring());
            if (text == L"первое") {
                dbg_showMessageBox(L"WARN", L"второе");
                dbg_showMessageBox(L"ERROR", L"третье");
            }
            events.push_back(L"answered " + text.ToStdWstring());
        });
    dbg_showMessageBox(L"NOTICE", L"первое");
    EXPECT_EQ(events, (std::vector<std::wstring>{L"open первое", L"answered первое", L"open второе",
                                                 L"answered второе", L"open третье", L"answered третье"}));
    dbg_showMessageBox(L"NOTICE", L"снова");  // nothing left waiting: shown at once
    EXPECT_EQ(events.back(), L"answered снова");
    dbg_setMessagePresenter(recorder);
}

TEST_F(Notification, NoticesOfSeveralThreadsKeepTheirOrderAndHeldBackRepeatsAreCountedAfterThem) {
    GuiThreadInvoker::createInstance(m_window);
    std::vector<std::wstring> counted;
    const RepeatCounter previous = dbg_setRepeatCounter([&](const wxString& text, const wxString& caption) {
        // The count of a repeat never comes before its notice.
        EXPECT_TRUE(!m_boxes.empty() && m_boxes.back().text == text.ToStdWstring()) << text;
        counted.push_back(caption.ToStdWstring() + L" " + text.ToStdWstring());
    });

    // Record n is logged by thread n % 4 once record n - 1 has been logged.
    constexpr int kThreads = 4;
    constexpr int kRecords = 40;
    std::atomic<int> next{0};
    std::vector<std::thread> threads;
    for (int first = 0; first < kThreads; ++first)
        threads.emplace_back([&next, first] {
            for (int n = first; n < kRecords; n += kThreads) {
                while (next.load() != n) std::this_thread::yield();
                LOG_WARN(L"Запись %1%", n);
                next.store(n + 1);
            }
        });
    for (std::thread& thread : threads) thread.join();
    for (int n = 0; n < 20; ++n) LOG_ERROR(L"Нет захвата звука");  // 19 repeats held back
    LOG_NOTICE(L"Последняя");

    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return m_boxes.size() >= kRecords + 2; }));
    wx_testing::runEventLoopFor(100ms);
    ASSERT_EQ(m_boxes.size(), static_cast<std::size_t>(kRecords + 2));
    for (int n = 0; n < kRecords; ++n) EXPECT_EQ(m_boxes[n].text, L"Запись " + std::to_wstring(n));
    EXPECT_EQ(m_boxes[kRecords].text, L"Нет захвата звука");
    EXPECT_EQ(m_boxes[kRecords + 1].text, L"Последняя");
    EXPECT_EQ(counted, std::vector<std::wstring>(19, L"ERROR Нет захвата звука"));

    dbg_setRepeatCounter(previous);
    dbg_countRepeat(L"ERROR", L"Нет захвата звука");  // no counter: nothing
    EXPECT_EQ(counted.size(), 19u);
}

// What the operator reads of a record's values: quotes once, a file of the
// data folder (the folder of the log folder) by its name, any other path
// whole, a device's reply once after its lead.
TEST_F(Notification, ValuesAreQuotedOnceAndTheDataFoldersFilesNamedByTheirNames) {
    GuiThreadInvoker::createInstance(m_window);
    const std::wstring data = m_dir.widePath().substr(0, m_dir.widePath().rfind(L'/'));
    LOG_ERROR(L"Не удалось сохранить файл '%1%': %2%", data + L"/1.2/list_of_playlist_radio.xml",
              std::string("No space left on device"));
    LOG_WARN(L"Папка плейлиста не существует: %1%", std::wstring(L"/media/usb/Music"));
    LOG_WARN(L"Файл «%1%» не найден", data + L"/1.2/sonvar.cfg");
    LOG_WARN(L"Зона '%1%' пуста", std::wstring(L"Зал 2"));
    LOG_NOTICE(L"%1%", std::wstring(L"Получен неожиданный ответ устройства / ERR unknown command"));
    GuiThreadInvoker::add([] { throw exception::DeviceReason(L"ERR 3 bad index"); });

    ASSERT_TRUE(wx_testing::runEventLoopUntil([&] { return m_boxes.size() >= 6; }));
    const std::wstring expected[] = {
        L"Не удалось сохранить файл «list_of_playlist_radio.xml»: «No space left on device»",
        L"Папка плейлиста не существует: «/media/usb/Music»",
        L"Файл «sonvar.cfg» не найден",
        L"Зона 'Зал 2' пуста",
        L"Получен неожиданный ответ устройства: «ERR unknown command»",
        L"Сообщение: 'Получен неожиданный ответ устройства'\nОписание: «ERR 3 bad index»"};
    ASSERT_EQ(m_boxes.size(), std::size(expected));
    for (std::size_t i = 0; i < m_boxes.size(); ++i) EXPECT_EQ(m_boxes[i].text, expected[i]) << i;
}

// Every thread that logged a record of INFO or above used to leave the
// toolkit's state for it behind, with each text it had no translation for:
// an alarm, which asks its loudspeakers from threads of their own, grew the
// program by some hundred kilobytes each time. The translations are made as
// the program makes them.
TEST(LogTranslations, ThreadsThatTranslateLeaveNothingBehindAndGetTheCataloguesTexts) {
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(SONVAR_CATALOGUE_DIR);
    auto* translations = new wxTranslations;
    translations->SetLoader(new LogCatalogueLoader);
    translations->SetLanguage("ru_RU");
    ASSERT_TRUE(translations->AddCatalog("ru_RU", wxLANGUAGE_ENGLISH_US));
    wxTranslations::Set(translations);
    testing_support::TempDir dir;
    dbg_init(false, INFO, dir.widePath().c_str());
    base::Log& log = *base::Log::instance();

    const std::wstring known = base::Log::levelName(base::Log::WARN);
    const wxString* russian = translations->GetTranslatedString(known);
    ASSERT_NE(russian, nullptr);
    const auto onItsOwnThread = [&log](const std::wstring& text) {
        std::wstring result;
        std::thread([&] { result = log.translate(text, base::Log::INFO); }).join();
        return result;
    };
    onItsOwnThread(known);  // what the first thread sets up once is no growth

    const auto inUse = [] { return static_cast<long long>(::mallinfo2().uordblks); };
    const long long before = inUse();
    int wrong = 0;
    for (int i = 0; i < 300; ++i) {
        const std::wstring title = L"Громкоговоритель " + std::to_wstring(i);
        if (onItsOwnThread(title) != title || onItsOwnThread(known) != russian->ToStdWstring()) ++wrong;
    }
    const long long grown = inUse() - before;
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(grown, 16 * 1024) << "bytes left behind by 600 threads";

    base::Log::destroy();
    wxTranslations::Set(nullptr);
}
