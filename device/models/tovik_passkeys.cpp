// The console's passkeys: listing, learning a new key, deleting and
// resetting. The reply of the last "passkeyList" is cached; learning is seen
// as "listening" in that reply.
#include <algorithm>

#include <boost/algorithm/string/split.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "base/text_checks.h"
#include "device/models/tovik_info.h"

namespace device {

namespace {

typedef boost::lock_guard<boost::recursive_mutex> DeviceLock;

const char* const kListening = "listening";

}  // namespace

bool TovikInfo::cachePasskeyReply(bool passErrors, std::string& reply) {
    {
        DeviceLock lock(m_lock);
        if (!m_passkeyReply.empty()) {
            reply = m_passkeyReply;
            return true;
        }
    }
    // Asked with the lock released; a reply of another caller in between
    // is as new as this one.
    std::string asked;
    if (passErrors)
        asked = transfer("passkeyList");
    else if (!request("passkeyList", &asked, false))
        return false;
    DeviceLock lock(m_lock);
    m_passkeyReply = asked;
    reply = asked;
    return true;
}

std::vector<TovikInfo::Passkey> TovikInfo::listPasskeys() {
    std::string reply;
    cachePasskeyReply(true, reply);
    DeviceLock lock(m_lock);
    if (reply == "no") return {};
    std::vector<std::string> items;
    boost::algorithm::split(items, reply, [](char c) { return c == ','; });
    const auto listening = std::find(items.begin(), items.end(), kListening);
    if (listening != items.end()) {
        m_passkeyReply.clear();  // still learning: ask again next time
        items.erase(listening);
        if (!items.empty() && items.back().empty()) items.pop_back();
    }
    // Keys are hexadecimal texts; anything else is no list of keys.
    for (const std::string& item : items) {
        if (!isHexText(item)) {
            m_passkeyReply.clear();
            throw exception::UnexpectedResponseOfDevice(reply);
        }
    }
    m_passkeys.clear();
    for (const std::string& item : items) {
        Passkey key;
        key.key = item;
        key.description = L"Ключ " + std::to_wstring(m_passkeys.size() + 1);
        m_passkeys.push_back(key);
    }
    return m_passkeys;
}

void TovikInfo::addPasskey() {
    listPasskeys();
    transfer("passkeyAdd");
    DeviceLock lock(m_lock);
    m_passkeysBeforeAdd = m_passkeys;
    m_passkeyReply.clear();
}

bool TovikInfo::isPasskeyListening() {
    std::string reply;
    if (!cachePasskeyReply(false, reply)) return false;
    if (reply.find(kListening) == std::string::npos) return false;
    DeviceLock lock(m_lock);
    m_passkeyReply.clear();
    return true;
}

void TovikInfo::finishPasskeyListening() {
    {
        DeviceLock lock(m_lock);
        if (!m_passkeyReply.empty()) return;  // learning was seen to end
    }
    transfer("passkeyFinish");
}

void TovikInfo::deletePasskey(const std::string& key) {
    if (!isHexText(key)) throw exception::IncorrectFormat(L"Нет описания");
    {
        DeviceLock lock(m_lock);
        m_passkeyReply.clear();
        const auto found = std::find_if(m_passkeys.begin(), m_passkeys.end(),
                                        [&key](const Passkey& listed) { return listed.key == key; });
        if (found == m_passkeys.end()) throw exception::UserError(L"Ключ не существует", L"Нет описания");
        m_passkeys.clear();
        m_passkeysBeforeAdd.clear();
    }
    transfer("passkeyDel " + key);
}

void TovikInfo::resetPasskeys() {
    transfer("passkeyReset");
    DeviceLock lock(m_lock);
    m_passkeyReply.clear();
}

}  // namespace device
