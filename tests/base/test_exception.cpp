#include <iconv.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/check.h"
#include "base/exception.h"
#include "base/log.h"
#include "tests/base/log_fixture.h"

using base::Log;

namespace {

const char* kDay = "20261206";

// The system's converter as an independent oracle for the CP1251 bytes.
std::string cp1251(const std::string& utf8) {
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    std::string in = utf8;
    std::string out(in.size() * 2 + 1, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return "<iconv failed>";
    out.resize(out.size() - outLeft);
    return out;
}

// The level, tab and padded place field of a log line.
std::string field(const std::string& level, const std::string& place) {
    std::string f = "[" + place + "]";
    if (f.size() < 20) f.resize(20, ' ');
    return level + "\t" + f;
}

std::size_t countContaining(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}

enum Kind { External = 1, Internal = 2, Response = 4, Stop = 8 };

struct Branch {
    const char* name;
    std::function<void()> raise;
    const wchar_t* notification;
    const wchar_t* details;
    const char* whatUtf8;  // the expected what(), before the oracle turns it into CP1251
    int kinds;
};

std::vector<Branch> branches() {
    using namespace exception;
    return {
        {"Base", [] { throw Base(L"Нет связи", L"Зал №2"); }, L"Нет связи", L"Зал №2",
         "Нет связи / Зал №2", 0},
        {"ExternalError", [] { throw ExternalError(L"Файл не найден", L"a.mp3"); }, L"Файл не найден",
         L"a.mp3", "Файл не найден / a.mp3", External},
        {"UserError", [] { throw UserError(L"Неверный пароль", L""); }, L"Неверный пароль", L"",
         "Неверный пароль / ", External},
        {"IncorrectFormat", [] { throw IncorrectFormat(L"Нет описания"); },
         L"Получен неверный формат данных", L"Нет описания",
         "Получен неверный формат данных / Нет описания", External},
        {"UserResponse", [] { throw UserResponse(L"zoneBusy", L"зона 3"); }, L"zoneBusy", L"зона 3",
         "zoneBusy / зона 3", External | Response},
        {"Offline", [] { throw Offline(); }, L"offline", L"", "offline / ", External | Response},
        {"UnsupportedByDevice", [] { throw UnsupportedByDevice(L"Orvel-510"); }, L"unsupported",
         L"Orvel-510", "unsupported / Orvel-510", External | Response},
        {"DeviceReason", [] { throw DeviceReason(L"ERR 5"); }, L"Получен неожиданный ответ устройства",
         L"ERR 5", "Получен неожиданный ответ устройства / ERR 5", External},
        {"UnexpectedResponseOfDevice", [] { throw UnexpectedResponseOfDevice("\xC7\xE0\xEB bad"); },
         L"Получен неожиданный ответ устройства", L"Зал bad",
         "Получен неожиданный ответ устройства / Зал bad", External},
        {"UnknownVersionOfAudioMemory", [] { throw UnknownVersionOfAudioMemory(); }, L"unknownVersion",
         L"Устройство имеет неизвестную версию аудио памяти",
         "unknownVersion / Устройство имеет неизвестную версию аудио памяти", External},
        {"InternalError", [] { throw InternalError(L"Свободная виртуальная зона не найдена"); },
         L"Internal error", L"Свободная виртуальная зона не найдена",
         "Internal error / Свободная виртуальная зона не найдена", Internal},
        {"ServerError", [] { throw ServerError(); }, L"Internal error", L"Внутренняя ошибка сервера",
         "Internal error / Внутренняя ошибка сервера", Internal},
        {"NotImplemented", [] { throw NotImplemented(); }, L"Internal error", L"Не реализовано",
         "Internal error / Не реализовано", Internal},
        {"StopProgram", [] { throw StopProgram(); }, L"stop program", L"", "stop program / ", Stop},
    };
}

}  // namespace

using ExceptionFamily = LogFixture;
using RunTimeChecks = LogFixture;
using ProcessEndingChecks = LogFixture;

TEST_F(ExceptionFamily, EveryBranchCarriesItsTextsAndIsCaughtByItsBases) {
    for (const Branch& b : branches()) {
        SCOPED_TRACE(b.name);
        // std::exception first: the joined CP1251 bytes.
        try {
            b.raise();
            FAIL() << "nothing thrown";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), cp1251(b.whatUtf8));
        }
        try {
            b.raise();
        } catch (const exception::Base& e) {
            EXPECT_EQ(e.getNotification(), b.notification);
            EXPECT_EQ(e.getDetails(), b.details);
        }
        int kinds = 0;
        try { b.raise(); } catch (const exception::ExternalError&) { kinds |= External; } catch (...) {}
        try { b.raise(); } catch (const exception::InternalError&) { kinds |= Internal; } catch (...) {}
        try { b.raise(); } catch (const exception::UserResponse&) { kinds |= Response; } catch (...) {}
        try { b.raise(); } catch (const exception::StopProgram&) { kinds |= Stop; } catch (...) {}
        EXPECT_EQ(kinds, b.kinds);
    }
}

TEST_F(ExceptionFamily, CopiesKeepTheTextsAndTheRawReply) {
    const std::string reply("OK\x01\xFF\n", 5);
    std::exception_ptr held;
    try {
        throw exception::UnexpectedResponseOfDevice(reply);
    } catch (...) {
        held = std::current_exception();
    }
    exception::UnexpectedResponseOfDevice copy("");
    try {
        std::rethrow_exception(held);
    } catch (const exception::UnexpectedResponseOfDevice& e) {
        copy = e;
    }
    EXPECT_EQ(copy.getResponse(), reply);
    EXPECT_EQ(copy.getDetails(), base::toWide(reply));
    EXPECT_EQ(std::string(copy.what()), cp1251("Получен неожиданный ответ устройства / ") + reply);
}

TEST_F(ExceptionFamily, ConstructionLogsAndDeviceReasonsReachTheOperator) {
    startLog(Log::TRACE3);
    exception::UserResponse busy(L"busy");
    exception::UnexpectedResponseOfDevice empty("");
    Log::instance()->flush();

    const auto lines = linesOf(kDay);
    EXPECT_EQ(countContaining(lines, field("TRACE2", "Base") + "construct exception with notification 'busy'"), 1u);
    EXPECT_EQ(countContaining(lines, "construct exception with notification 'Получен неожиданный ответ устройства'"), 1u);
    EXPECT_EQ(countContaining(lines, field("IMPOR", "DeviceReason") + "Ошибка устройства: "
                                     "'Получен неожиданный ответ устройства' / ''"), 1u);
    EXPECT_TRUE(empty.getDetails().empty());
    EXPECT_TRUE(empty.getResponse().empty());
    // IMPOR and above reach the observer, which shows the operator a message.
    const auto seen = observed();
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const std::wstring& s) {
                  return s.find(L"Ошибка устройства") != std::wstring::npos;
              }), 1);
}

TEST_F(ExceptionFamily, WorkWithoutALog) {
    ASSERT_EQ(Log::instance(), nullptr);
    for (const Branch& b : branches()) {
        try {
            b.raise();
        } catch (const exception::Base& e) {
            EXPECT_EQ(e.getNotification(), b.notification) << b.name;
        }
    }
    EXPECT_THROW(debug::throwIfFalse(false, "nowhere"), exception::ServerError);
}

TEST_F(RunTimeChecks, ThrowIfFalseLogsThePlaceAndThrowsAFixedServerError) {
    startLog(Log::TRACE3);
    debug::throwIfFalse(true, "device::get", L"never logged");
    debug::warnIfFalse(true, "device::get");
    Log::instance()->flush();
    EXPECT_TRUE(linesOf(kDay).empty()) << "a passing check writes nothing";

    try {
        debug::throwIfFalse(false, "device::get", L"Используется некорректная версия");
        FAIL() << "nothing thrown";
    } catch (const exception::InternalError& e) {
        EXPECT_EQ(std::string(e.what()), cp1251("Internal error / Внутренняя ошибка сервера"));
        EXPECT_EQ(dynamic_cast<const exception::ServerError*>(&e) != nullptr, true);
    }
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find(field("TRACE", "throwIfFalse") + "Используется некорректная версия"), std::string::npos);
    EXPECT_NE(lines[1].find(field("ERROR", "throwIfFalse") + "Проверяемое условие неверно! Место 'device::get'"),
              std::string::npos);
    EXPECT_NE(lines[2].find("construct exception with notification 'Internal error'"), std::string::npos);
}

TEST_F(RunTimeChecks, ThrowIfFalseCommentIsAFormatText) {
    startLog(Log::TRACE3);
    EXPECT_THROW(debug::throwIfFalse(false, "frm::ScenarioDialog::ScenarioDialog", std::wstring(L"value %1%")),
                 exception::ServerError);
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    EXPECT_EQ(countContaining(lines, "Format error in a calling code, place [debug::throwIfFalse], format 'value %1%'"), 1u);
    EXPECT_EQ(countContaining(lines, "Место 'frm::ScenarioDialog::ScenarioDialog'"), 1u);
}

TEST_F(RunTimeChecks, WarnIfFalseOnlyLogs) {
    startLog(Log::TRACE3);
    EXPECT_NO_THROW(debug::warnIfFalse(false, "device::OrvelInfo::parsePing"));
    Log::instance()->flush();
    EXPECT_EQ(countContaining(linesOf(kDay),
                              field("WARN", "warnIfFalse") + "Проверяемое условие неверно! Место 'device::OrvelInfo::parsePing'"),
              1u);
}

namespace device {
struct Probe {
    template <class T>
    static std::string_view where(T) { return SV_PLACE; }
};
}  // namespace device

TEST_F(RunTimeChecks, PlaceMacroNamesTheQualifiedFunction) {
    EXPECT_EQ(device::Probe::where(1), "device::Probe::where");
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
    Log::instance()->flush();
    const auto lines = linesOf(kDay);
    for (const char* place : {"frm::A::raw", "frm::A::shared", "frm::A::callback"})
        EXPECT_EQ(countContaining(lines, std::string(field("FATAL", "terminateIfNull") + "Внутренняя ошибка. Указатель не "
                                                     "установлен. Место '") + place + "'"),
                  1u)
            << place;
}

TEST_F(RunTimeChecks, TerminateIfOutOfRangeTellsNegativeFromTooLarge) {
    startLog(Log::TRACE3);
    debug::terminateIfOutOfRange(3, 2, "p");
    debug::terminateIfOutOfRange(3, 0, "p");
    EXPECT_THROW(debug::terminateIfOutOfRange(3, -1, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(3, 3, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(0, 0, "p"), exception::StopProgram);
    Log::instance()->flush();
    auto lines = linesOf(kDay);
    EXPECT_EQ(countContaining(lines, "Индекс данных - отрицательный. [size 3, index -1, place p]"), 1u);
    EXPECT_EQ(countContaining(lines, "Индекс данных вне диапазона. [size 3, index 3, place p]"), 1u);
    EXPECT_EQ(countContaining(lines, "Индекс данных вне диапазона. [size 0, index 0, place p]"), 1u);
}

TEST_F(RunTimeChecks, TerminateIfOutOfRangeIsRightForMixedSignsAndContainers) {
    const std::vector<int> three{1, 2, 3};
    debug::terminateIfOutOfRange(three, 2u, "p");
    debug::terminateIfOutOfRange(three, 2, "p");
    EXPECT_THROW(debug::terminateIfOutOfRange(three, 3u, "p"), exception::StopProgram);
    // A negative index against an unsigned size must not wrap into a huge
    // positive one that a careless comparison would let through or mislabel.
    EXPECT_THROW(debug::terminateIfOutOfRange(three, -1, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(std::size_t{5}, -1, "p"), exception::StopProgram);
    // A negative size holds no index.
    EXPECT_THROW(debug::terminateIfOutOfRange(-2, 0u, "p"), exception::StopProgram);
    EXPECT_THROW(debug::terminateIfOutOfRange(std::vector<int>{}, 0u, "p"), exception::StopProgram);
    debug::terminateIfOutOfRange(std::int64_t{1} << 40, (std::uint64_t{1} << 40) - 1, "p");
    EXPECT_THROW(debug::terminateIfOutOfRange(std::uint8_t{200}, 300, "p"), exception::StopProgram);
}

TEST_F(RunTimeChecks, StopProgramThrowsAfterFlushing) {
    startLog(Log::TRACE3);
    LOG_DEBUG(L"queued before the stop");
    try {
        debug::stopProgram();
    } catch (const exception::StopProgram& e) {
        EXPECT_EQ(std::string(e.what()), "stop program / ");
    }
    // The flush ran before the throw: the earlier record is already on disk.
    EXPECT_EQ(countContaining(linesOf(kDay), "queued before the stop"), 1u);
}

TEST_F(ProcessEndingChecks, PassWithoutAWord) {
    startLog(Log::TRACE3);
    int value = 0;
    error::terminateIfNull(&value, "p");
    error::terminateIfNull(std::function<void()>([] {}), "p");
    error::terminateIfOutOfRange(3u, 2u, "p");
    error::terminateIfEmpty(std::vector<int>{1}, "p");
    error::terminateIfEmpty(std::string("x"), "p");
    Log::instance()->flush();
    EXPECT_TRUE(linesOf(kDay).empty());
}

TEST_F(ProcessEndingChecks, NullPointerEndsTheProcessThroughTheAbortSequence) {
    EXPECT_EXIT(
        {
            startLog(Log::TRACE3);
            error::terminateIfNull(std::shared_ptr<int>(), "ListOfPlaylist::add");
        },
        ::testing::ExitedWithCode(1), "");
    const auto lines = linesOf(kDay);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(field("FATAL", "dbg_puts") + "Internal error. Pointer isn't set. Place ListOfPlaylist::add"),
              std::string::npos);
    EXPECT_NE(lines[1].find(field("TRACE", "dbg_puts") + "dbg_abort() in error::terminateIfNull(..)"),
              std::string::npos);
}

TEST_F(ProcessEndingChecks, IndexOutOfBoundsEndsTheProcess) {
    EXPECT_EXIT(
        {
            startLog(Log::TRACE3);
            error::terminateIfOutOfRange(std::size_t{4}, 4u, "ListOfPlaylist::getOne");
        },
        ::testing::ExitedWithCode(1), "");
    const auto lines = linesOf(kDay);
    EXPECT_EQ(countContaining(lines, field("FATAL", "dbg_puts") + "Internal error. Data index out of bounds. "
                                     "size 4, index 4. Place ListOfPlaylist::getOne"),
              1u);
    EXPECT_EQ(countContaining(lines, "dbg_abort() in error::terminateIfOutOfRange(..)"), 1u);
}

TEST_F(ProcessEndingChecks, MissingDataEndTheProcess) {
    EXPECT_EXIT(
        {
            startLog(Log::TRACE3);
            error::terminateIfEmpty(std::vector<int>{}, "Playlist::next");
        },
        ::testing::ExitedWithCode(1), "");
    const auto lines = linesOf(kDay);
    EXPECT_EQ(countContaining(lines, field("FATAL", "dbg_puts") + "Internal error. Data are not available. Place Playlist::next"),
              1u);
    EXPECT_EQ(countContaining(lines, "dbg_abort() in error::terminateIfEmpty(..)"), 1u);
}
