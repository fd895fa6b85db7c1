#include "gui/settings_rules.h"

#include <algorithm>
#include <system_error>

#include <boost/filesystem.hpp>

#include "base/exception.h"
#include "base/ip_address.h"
#include "base/password.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "os/file_system.h"

namespace frm {
namespace settings {

namespace fs = boost::filesystem;

const wchar_t* const kPasswordFiller = L"00000000";
const wchar_t* const kDefaultGongName = L"Преамбула";

const std::vector<std::wstring>& logLevels() {
    static const std::vector<std::wstring> levels = {L"trace3", L"trace2", L"trace", L"debug", L"info"};
    return levels;
}

int logLevelIndex(const std::wstring& stored) {
    const auto& levels = logLevels();
    const auto found = std::find(levels.begin(), levels.end(), stored);
    return found == levels.end() ? -1 : static_cast<int>(found - levels.begin());
}

PasswordChange passwordChange(const std::wstring& password, const std::wstring& repeat) {
    PasswordChange change;
    if (repeat.empty()) return change;
    if (password != repeat) {
        change.kind = PasswordChange::Mismatch;
        return change;
    }
    try {
        change.stored = encodePassword(password);
        change.kind = PasswordChange::Store;
    } catch (const exception::UserError& refused) {
        change.kind = PasswordChange::Refused;
        change.details = refused.getDetails();
    }
    return change;
}

bool isMulticastAddressText(const std::wstring& address) {
    const std::string text = base::toUtf8(address);
    return net::parseWholeIp4Address(text);
}

std::wstring addressRefusal(const std::wstring& field, const std::wstring& typed) {
    const std::wstring form = L"Введите четыре числа от 0 до 255 через точку, например 224.0.224.1.";
    if (typed.find_first_not_of(L" \t") == std::wstring::npos)
        return L"Поле \"" + field + L"\" не заполнено. " + form;
    return L"В поле \"" + field + L"\" введено \"" + typed + L"\": это не IP-адрес. " + form;
}

std::wstring shownGroup(const std::wstring& address, int port) {
    const std::wstring text = address + L":" + std::to_wstring(port);
    const std::size_t colon = text.find(L':');
    const std::wstring portText = text.substr(colon + 1);
    std::uint32_t group = 0;
    if (!net::parseStoredIp4Address(base::toUtf8(text.substr(0, colon)), &group) || portText.empty() ||
        portText.find_first_not_of(L"0123456789") != std::wstring::npos)
        return {};
    return base::fromUtf8(net::dottedIp4Address(group));
}

bool pathExists(const std::wstring& path) {
    boost::system::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(base::toUtf8(path), ec));
}

bool createFolder(const std::wstring& folder, std::wstring& error) {
    const int code = os::createFolders(folder);
    if (code == 0) return true;
    error = base::errnoForOperator(code);
    return false;
}

std::wstring defaultGongPath(const std::wstring& gongFolder) {
    return gongFolder + L"/" + kDefaultGongName + L".mp3";
}

std::wstring shippedGongPath(const std::wstring& applicationFolder) {
    return applicationFolder + L"/alarm/0. " + kDefaultGongName + L".mp3";
}

bool copyFile(const std::wstring& from, const std::wstring& to, std::wstring& error) {
    boost::system::error_code ec;
    fs::copy_file(base::toUtf8(from), base::toUtf8(to), fs::copy_options::none, ec);
    if (!ec) return true;
    error = base::errorForOperator(ec);
    return false;
}

}  // namespace settings
}  // namespace frm
