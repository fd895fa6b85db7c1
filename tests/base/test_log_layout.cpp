#include <gtest/gtest.h>

#include "base/log.h"

using base::Log;

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
    const std::pair<std::string, std::string> cases[] = {
        {"device::DeviceCollection::addDevice", "DeviceCollection"}, {"aApp::loadDebugPref", "aApp"},
        {"os::prepareDataDirectory", "prepareDataDirectory"},      {"os::hasStream::<lambda_1>::operator ()", "hasStream"},
        {"a::Holder<T>::run", "Holder"},                           {"dbg_puts", "dbg_puts"},
        {"", ""}};
    for (auto [place, expected] : cases) {
        Log::shortenPlace(place);
        EXPECT_EQ(place, expected);
    }
}

TEST(LogLayout, EscapesControlCharactersOnly) {
    const std::pair<std::wstring, std::wstring> cases[] = {{L"plain Текст №5", L"plain Текст №5"},
                                                           {L"a\nb\tc\r\x1B", L"a\\Ab\\9c\\D\\1B"},
                                                           {L"already \\9 there", L"already \\9 there"},
                                                           {std::wstring(L"x\ny\0z", 5), L"x\\Ay"}};
    for (auto [text, expected] : cases) {
        Log::escape(text);
        EXPECT_EQ(text, expected);
    }
}

TEST(LogLayout, LineHasTimeLevelPaddedPlaceAndMessage) {
    // 09:05:03 UTC (the test program runs with TZ=UTC) and some microseconds.
    const std::int64_t t = 1796547903LL * 1000000;
    struct Case { Log::Level level; const char* place; const wchar_t* message; std::int64_t micros; const wchar_t* line; };
    const Case cases[] = {
        {Log::INFO, "device::DeviceCollection::addDevice", L"text", 42517, L"09:05:03.042 INFO\t[DeviceCollection]  text"},
        {Log::WARN, "", L"m", 0, L"09:05:03.000 WARN\t[]                  m"},
        {Log::INFO, "aApp::OnInit", L"", 999999, L"09:05:03.999 INFO\t[aApp]              aApp::OnInit"},
        {Log::IMPOR, "x::AVeryLongClassNameHere::f", L"tight", 0, L"09:05:03.000 IMPOR\t[AVeryLongClassNameHere]tight"},
        {Log::ERROR, "dbg_puts", L"one\ntwo", 5000, L"09:05:03.005 ERROR\t[dbg_puts]          one\\Atwo"},
    };
    for (const Case& c : cases) {
        Log::Record r;
        r.level = c.level;
        r.place = c.place;
        r.message = c.message;
        r.time = t + c.micros;
        EXPECT_EQ(Log::formatLine(r), c.line);
    }
}
