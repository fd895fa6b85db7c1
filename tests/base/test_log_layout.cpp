#include <gtest/gtest.h>

#include "base/log.h"

using base::Log;

namespace {

std::string shortened(std::string place) {
    Log::shortenPlace(place);
    return place;
}

Log::Record record(Log::Level level, std::string_view place, std::wstring message, std::int64_t time) {
    Log::Record r;
    r.level = level;
    r.place = place;
    r.message = std::move(message);
    r.time = time;
    return r;
}

std::wstring escaped(std::wstring text) {
    Log::escape(text);
    return text;
}

}  // namespace

TEST(LogPlace, QualifiedNameFromCompilerText) {
    using base::functionPlace;
    static_assert(functionPlace("void device::TransferProtocol::sync(int)") == "device::TransferProtocol::sync");
    static_assert(functionPlace("device::TransferProtocol::TransferProtocol()") ==
                  "device::TransferProtocol::TransferProtocol");
    static_assert(functionPlace("int main()") == "main");
    static_assert(functionPlace("std::map<int, std::function<void(int)> > a::b(const std::vector<int>&)") == "a::b");
    static_assert(functionPlace("const char* a::B<T>::c() const [with T = int]") == "a::B<T>::c");
    static_assert(functionPlace("a::sync()::<lambda(int)>") == "a::sync");
    static_assert(functionPlace("bool a::B::operator()(int)") == "a::B::operator()");
    static_assert(functionPlace("bool a::B::operator<(const a::B&) const") == "a::B::operator<");
    static_assert(functionPlace("a::B::operator bool() const") == "a::B::operator bool");
    static_assert(functionPlace("static void base::Log::destroy()") == "base::Log::destroy");
    SUCCEED();
}

TEST(LogLayout, ShortensPlaces) {
    EXPECT_EQ(shortened("device::DeviceCollection::addDevice"), "DeviceCollection");
    EXPECT_EQ(shortened("frm::MainFrame::OnClose"), "MainFrame");
    EXPECT_EQ(shortened("aApp::loadDebugPref"), "aApp");
    EXPECT_EQ(shortened("os::prepareDataDirectory"), "prepareDataDirectory");
    EXPECT_EQ(shortened("os::hasStream::<lambda_1>::operator ()"), "hasStream");
    EXPECT_EQ(shortened("a::Holder<T>::run"), "Holder");
    EXPECT_EQ(shortened("debug::trace_safe"), "trace_safe");
    EXPECT_EQ(shortened("dbg_puts"), "dbg_puts");
    EXPECT_EQ(shortened(""), "");
}

TEST(LogLayout, EscapesControlCharactersOnly) {
    EXPECT_EQ(escaped(L"plain Текст №5"), L"plain Текст №5");
    EXPECT_EQ(escaped(L"a\nb\tc\r\x1B"), L"a\\Ab\\9c\\D\\1B");
    EXPECT_EQ(escaped(L"already \\9 there"), L"already \\9 there");
    EXPECT_EQ(escaped(std::wstring(L"x\ny\0z", 5)), L"x\\Ay");
}

TEST(LogLayout, LineHasTimeLevelPaddedPlaceAndMessage) {
    // 09:05:03.042517 UTC (the test program runs with TZ=UTC).
    const std::int64_t t = 1796547903LL * 1000000 + 42517;
    Log::Record r = record(Log::INFO, "device::DeviceCollection::addDevice", L"text", t);
    EXPECT_EQ(Log::formatLine(r), L"09:05:03.042 INFO\t[DeviceCollection]  text");

    Log::Record emptyPlace = record(Log::WARN, "", L"m", t - 42517);
    EXPECT_EQ(Log::formatLine(emptyPlace), L"09:05:03.000 WARN\t[]" + std::wstring(18, L' ') + L"m");

    Log::Record noMessage = record(Log::INFO, "aApp::OnInit", L"", t + 999999 - 42517);
    EXPECT_EQ(Log::formatLine(noMessage), L"09:05:03.999 INFO\t[aApp]              aApp::OnInit");

    Log::Record longPlace = record(Log::IMPOR, "x::AVeryLongClassNameHere::f", L"tight", t);
    EXPECT_EQ(Log::formatLine(longPlace), L"09:05:03.042 IMPOR\t[AVeryLongClassNameHere]tight");

    Log::Record multiLine = record(Log::ERROR, "dbg_puts", L"one\ntwo\tthree", t + 5000 - 42517);
    EXPECT_EQ(Log::formatLine(multiLine), L"09:05:03.005 ERROR\t[dbg_puts]          one\\Atwo\\9three");
}
