#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/check.h"
#include "base/exception.h"
#include "base/text.h"
#include "tests/support/counting_log_fixture.h"

using base::Log;

namespace {

const char* kDay = "20261206";

// what() is CP1251; the codec itself is checked byte by byte elsewhere.
std::string cp1251(const std::string& utf8) { return base::toNarrow(base::fromUtf8(utf8)); }

// The level, tab and padded place field of a log line.
std::string field(const std::string& level, const std::string& place) {
    std::string f = "[" + place + "]";
    if (f.size() < 20) f.resize(20, ' ');
    return level + "\t" + f;
}

enum Kind { External = 1, Internal = 2, Response = 4, Stop = 8 };

struct Branch {
    const char* name;
    std::function<void()> raise;
    const wchar_t* notification;
    const wchar_t* details;
    int kinds;
};

std::vector<Branch> branches() {
    using namespace exception;
    return {
        {"Base", [] { throw Base(L"Нет связи", L"Зал №2"); }, L"Нет связи", L"Зал №2", 0},
        {"ExternalError", [] { throw ExternalError(L"Файл не найден", L"a.mp3"); }, L"Файл не найден", L"a.mp3",
         External},
        {"UserError", [] { throw UserError(L"Неверный пароль", L""); }, L"Неверный пароль", L"", External},
        {"IncorrectFormat", [] { throw IncorrectFormat(L"Нет описания"); }, L"Получен неверный формат данных",
         L"Нет описания", External},
        {"UserResponse", [] { throw UserResponse(L"zoneBusy", L"зона 3"); }, L"zoneBusy", L"зона 3",
         External | Response},
        {"Offline", [] { throw Offline(); }, L"offline", L"", External | Response},
        {"UnsupportedByDevice", [] { throw UnsupportedByDevice(L"Orvel-510"); }, L"unsupported", L"Orvel-510",
         External | Response},
        {"DeviceReason", [] { throw DeviceReason(L"ERR 5"); }, L"Получен неожиданный ответ устройства", L"ERR 5",
         External},
        {"UnexpectedResponseOfDevice", [] { throw UnexpectedResponseOfDevice("\xC7\xE0\xEB bad"); },
         L"Получен неожиданный ответ устройства", L"Зал bad", External},
        {"UnknownVersionOfAudioMemory", [] { throw UnknownVersionOfAudioMemory(); }, L"unknownVersion",
         L"Устройство имеет неизвестную версию аудио памяти", External},
        {"InternalError", [] { throw InternalError(L"Свободная виртуальная зона не найдена"); },
         L"Internal error", L"Свободная виртуальная зона не найдена", Internal},
        {"ServerError", [] { throw ServerError(); }, L"Internal error", L"Внутренняя ошибка сервера", Internal},
        {"NotImplemented", [] { throw NotImplemented(); }, L"Internal error", L"Не реализовано", Internal},
        {"StopProgram", [] { throw StopProgram(); }, L"stop program", L"", Stop},
    };
}

}  // namespace

using ExceptionFamily = CountingLogFixture;
using RunTimeChecks = CountingLogFixture;
using ProcessEndingChecks = CountingLogFixture;

// Without a log too: exceptions are thrown before the log exists and after it is gone.
TEST_F(ExceptionFamily, EveryBranchCarriesItsTextsAndIsCaughtByItsBases) {
    ASSERT_EQ(Log::instance(), nullptr);
    for (const Branch& b : branches()) {
        SCOPED_TRACE(b.name);
        try {
            b.raise();
            FAIL() << "nothing thrown";
        } catch (const exception::Base& e) {
            EXPECT_EQ(e.getNotification(), b.notification);
            EXPECT_EQ(e.getDetails(), b.details);
            EXPECT_EQ(std::string(static_cast<const std::exception&>(e).what()),
                      base::toNarrow(std::wstring(b.notification) + L" / " + b.details));
        }
        int kinds = 0;
        try { b.raise(); } catch (const exception::ExternalError&) { kinds |= External; } catch (...) {}
        try { b.raise(); } catch (const exception::InternalError&) { kinds |= Internal; } catch (...) {}
        try { b.raise(); } catch (const exception::UserResponse&) { kinds |= Response; } catch (...) {}
        try { b.raise(); } catch (const exception::StopProgram&) { kinds |= Stop; } catch (...) {}
        EXPECT_EQ(kinds, b.kinds);
    }
    EXPECT_THROW(debug::throwIfFalse(false, "nowhere"), exception::ServerError);
}

TEST_F(ExceptionFamily, CopiesKeepTheTextsAndTheRawReply) {
    const std::string reply("OK\x01\xFF\n", 5);
    exception::UnexpectedResponseOfDevice copy("");
    try {
        throw exception::UnexpectedResponseOfDevice(reply);
    } catch (const exception::UnexpectedResponseOfDevice& e) {
        copy = e;  // assigned from the thrown object, which is gone afterwards
    }
    EXPECT_EQ(copy.getResponse(), reply);
    EXPECT_EQ(copy.getDetails(), base::toWide(reply));
    EXPECT_EQ(std::string(copy.what()), cp1251("Получен неожиданный ответ устройства / ") + reply);
}

TEST_F(ExceptionFamily, ConstructionLogsAndDeviceReasonsReachTheOperator) {
    startLog(Log::TRACE3);
    exception::UserResponse busy(L"busy");
    exception::UnexpectedResponseOfDevice empty("");
    EXPECT_EQ(loggedCount(field("TRACE2", "Base") + "construct exception with notification 'busy'"), 1);
    EXPECT_EQ(loggedCount("construct exception with notification 'Получен неожиданный ответ устройства'"), 1);
    EXPECT_EQ(loggedCount(field("IMPOR", "DeviceReason") + "Ошибка устройства: "
                                                           "'Получен неожиданный ответ устройства' / ''"),
              1);
    // IMPOR and above reach the observer, which shows the operator a message.
    const auto seen = observed();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const std::wstring& s) { return s.find(L"Ошибка устройства") != std::wstring::npos; }),
              1);
}

TEST_F(RunTimeChecks, ThrowIfFalseLogsThePlaceAndThrowsAFixedServerErrorWarnIfFalseOnlyLogs) {
    startLog(Log::TRACE3);
    debug::throwIfFalse(true, "device::get", L"never logged");
    debug::warnIfFalse(true, "device::get");
    EXPECT_EQ(loggedCount(""), 0) << "a passing check writes nothing";

    try {
        debug::throwIfFalse(false, "device::get", L"Используется некорректная версия");
        FAIL() << "nothing thrown";
    } catch (const exception::ServerError& e) {
        EXPECT_EQ(std::string(e.what()), cp1251("Internal error / Внутренняя ошибка сервера"));
    }
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find(field("TRACE", "throwIfFalse") + "Используется некорректная версия"), std::string::npos);
    EXPECT_NE(lines[1].find(field("ERROR", "throwIfFalse") + "Проверяемое условие неверно! Место 'device::get'"),
              std::string::npos);
    EXPECT_NE(lines[2].find("construct exception with notification 'Internal error'"), std::string::npos);

    EXPECT_NO_THROW(debug::warnIfFalse(false, "device::OrvelInfo::parsePing"));
    EXPECT_EQ(loggedCount(field("WARN", "warnIfFalse") + "Проверяемое условие неверно! Место 'device::OrvelInfo::parsePing'"),
              1);

    // The comment is a format text of its own.
    EXPECT_THROW(debug::throwIfFalse(false, "frm::ScenarioDialog::ScenarioDialog", std::wstring(L"value %1%")),
                 exception::ServerError);
    EXPECT_EQ(loggedCount("Format error in a calling code, place [debug::throwIfFalse], format 'value %1%'"), 1);
    EXPECT_EQ(loggedCount("Место 'frm::ScenarioDialog::ScenarioDialog'"), 1);
}

TEST_F(RunTimeChecks, TerminateIfNullStopsTheProgramForEveryKindOfEmptyHandle) {
    startLog(Log::TRACE3);
    int value = 0;
    debug::terminateIfNull(&value, "a");
    debug::terminateIfNull(std::make_shared<int>(1), "a");
    debug::terminateIfNull(std::function<void()>([] {}), "a");
    EXPECT_THROW(debug::terminateIfNull(static_cast<int*>(nullptr), "frm::A::raw"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfNull(std::shared_ptr<int>(), "frm::A::shared"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfNull(std::function<void()>(), "frm::A::callback"), exception::StopProgram);
    for (const char* place : {"frm::A::raw", "frm::A::shared", "frm::A::callback"})
        EXPECT_EQ(loggedCount(field("FATAL", "terminateIfNull") + "Внутренняя ошибка. Указатель не установлен. Место '" +
                              place + "'"),
                  1)
            << place;
}

TEST_F(RunTimeChecks, TerminateIfOutOfRangeTellsNegativeFromTooLargeAlsoForMixedSigns) {
    startLog(Log::TRACE3);
    const std::vector<int> three{1, 2, 3};
    debug::terminateIfOutOfRange(3, 2, "p");
    debug::terminateIfOutOfRange(three, 2u, "p");
    debug::terminateIfOutOfRange(std::int64_t{1} << 40, (std::uint64_t{1} << 40) - 1, "p");
    EXPECT_THROW(debug::terminateIfOutOfRange(3, -1, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(3, 3, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(0, 0, "p"), exception::StopProgram);
    EXPECT_EQ(loggedCount("Индекс данных - отрицательный. [size 3, index -1, place p]"), 1);
    EXPECT_EQ(loggedCount("Индекс данных вне диапазона. [size 3, index 3, place p]"), 1);
    EXPECT_EQ(loggedCount("Индекс данных вне диапазона. [size 0, index 0, place p]"), 1);
    // A negative index against an unsigned size must not wrap into a huge
    // positive one that a careless comparison would let through or mislabel.
    EXPECT_THROW(debug::terminateIfOutOfRange(three, -1, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(std::size_t{5}, -1, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(-2, 0u, "p"), exception::StopProgram) << "a negative size holds no index";
    EXPECT_THROW(debug::terminateIfOutOfRange(std::vector<int>{}, 0u, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(std::uint8_t{200}, 300, "p"), exception::StopProgram);
}

TEST_F(RunTimeChecks, StopProgramThrowsAfterFlushing) {
    startLog(Log::TRACE3);
    LOG_DEBUG(L"queued before the stop");
    EXPECT_THROW(debug::stopProgram(), exception::StopProgram);
    // The flush ran before the throw: the earlier record is already on disk.
    EXPECT_NE(fileOf(kDay).find("queued before the stop"), std::string::npos);
}

TEST_F(ProcessEndingChecks, PassWithoutAWordAndFailThroughTheAbortSequence) {
    startLog(Log::TRACE3);
    int value = 0;
    error::terminateIfNull(&value, "p");
    error::terminateIfOutOfRange(3u, 2u, "p");
    error::terminateIfEmpty(std::string("x"), "p");
    EXPECT_EQ(loggedCount(""), 0);
    Log::destroy();

    struct Case { std::function<void()> fail; const char* fatal; const char* function; };
    const Case cases[] = {
        {[] { error::terminateIfNull(std::shared_ptr<int>(), "ListOfPlaylist::add"); },
         "Internal error. Pointer isn't set. Place ListOfPlaylist::add", "terminateIfNull"},
        {[] { error::terminateIfOutOfRange(std::size_t{4}, 4u, "ListOfPlaylist::getOne"); },
         "Internal error. Data index out of bounds. size 4, index 4. Place ListOfPlaylist::getOne",
         "terminateIfOutOfRange"},
        {[] { error::terminateIfEmpty(std::vector<int>{}, "Playlist::next"); },
         "Internal error. Data are not available. Place Playlist::next", "terminateIfEmpty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        std::remove((m_dir.path() + "/" + kDay + ".log").c_str());
        EXPECT_EXIT(
            {
                startLog(Log::TRACE3);
                c.fail();
            },
            ::testing::ExitedWithCode(1), "");
        const auto lines = linesOf(kDay);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[0].find(field("FATAL", "dbg_puts") + c.fatal), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find(field("TRACE", "dbg_puts") + "dbg_abort() in error::" + c.function + "(..)"),
                  std::string::npos)
            << lines[1];
    }
}
