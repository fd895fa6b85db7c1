#include "app/startup_settings.h"

#include <boost/format.hpp>

#include "base/exception.h"
#include "base/ip_address.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"

namespace {

constexpr int kMinBasePort = 1024;
constexpr int kMaxBasePort = 65500;

[[noreturn]] void badValue(const std::wstring& value, const char* key) {
    throw exception::UserError(
        (boost::wformat(L"Неверное значение '%1%' параметра '%2%' в файле настроек %3%") % value %
         base::fromUtf8(key) % base::Log::fileForNotice(g_pref != nullptr ? g_pref->path : std::wstring()))
            .str(),
        std::wstring());
}

}  // namespace

std::wstring stringSetting(const char* path, const std::wstring& defaultValue) {
    pref::Guard guard(g_pref);
    if (pref::find(g_pref, path, libconfig::Setting::TypeString) == nullptr) pref::setString(path, defaultValue);
    return pref::getString(path);
}

base::Log::Level debugLevelSetting(bool forceTrace3) {
    const std::wstring text = stringSetting("debug.level", L"info");
    if (forceTrace3 || text == L"trace3") return base::Log::TRACE3;
    if (text == L"trace2") return base::Log::TRACE2;
    if (text == L"trace") return base::Log::TRACE;
    if (text == L"debug") return base::Log::DEBUG;
    return base::Log::INFO;
}

std::string multicastAddressSetting() {
    const std::wstring text = stringSetting("multicast.address", L"224.0.224.1");
    std::uint32_t value = 0;
    if (!net::parseStoredIp4Address(base::toUtf8(text), &value)) badValue(text, "multicast.address");
    const std::string address = net::dottedIp4Address(value);
    if (base::fromUtf8(address) != text) {
        // Leading zeros an earlier version stored: the key holds the dotted
        // form from now on, so that every later reader (the alarm channel,
        // the keep-alive, the settings dialog) takes the same address.
        LOG_INFO(L"Параметр 'multicast.address' файла настроек: '%1%' прочитан как '%2%'", text, address);
        pref::setString("multicast.address", base::fromUtf8(address));
    }
    return address;
}

std::uint16_t basePortSetting() {
    const int port = pref::getInt("multicast.basePort", 11990);
    if (port < kMinBasePort || port > kMaxBasePort) badValue(std::to_wstring(port), "multicast.basePort");
    return static_cast<std::uint16_t>(port);
}
