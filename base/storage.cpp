#include "base/storage.h"

#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "base/files.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"

namespace storage {

namespace {

using boost::property_tree::wptree;

bool isXmlCharacter(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c);
    return u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) || (u >= 0xE000 && u <= 0xFFFD) ||
           (u >= 0x10000 && u <= 0x10FFFF);
}

bool isNameStart(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c);
    return c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
           (u >= 0xC0 && u <= 0xD6) || (u >= 0xD8 && u <= 0xF6) || (u >= 0xF8 && u <= 0x2FF) ||
           (u >= 0x370 && u <= 0x37D) || (u >= 0x37F && u <= 0x1FFF) || (u >= 0x200C && u <= 0x200D) ||
           (u >= 0x2070 && u <= 0x218F) || (u >= 0x2C00 && u <= 0x2FEF) || (u >= 0x3001 && u <= 0xD7FF) ||
           (u >= 0xF900 && u <= 0xFDCF) || (u >= 0xFDF0 && u <= 0xFFFD) || (u >= 0x10000 && u <= 0xEFFFF);
}

bool isNameCharacter(wchar_t c) {
    const auto u = static_cast<std::uint32_t>(c);
    return isNameStart(c) || c == L'-' || c == L'.' || (c >= L'0' && c <= L'9') || u == 0xB7 ||
           (u >= 0x300 && u <= 0x36F) || (u >= 0x203F && u <= 0x2040);
}

bool isXmlName(const std::wstring& name) {
    if (name.empty() || !isNameStart(name[0])) return false;
    for (wchar_t c : name)
        if (!isNameCharacter(c)) return false;
    return true;
}

/// Makes a tree writable as a well-formed document, or says why it cannot
/// be. Texts keep every character XML can hold; the others become U+FFFD.
class Sanitizer {
public:
    std::wstring problem;
    int replaced = 0;

    void text(std::wstring& value) {
        for (auto& c : value) {
            if (!isXmlCharacter(c)) {
                c = L'\xFFFD';
                ++replaced;
            }
        }
    }

    void root(wptree& tree) {
        if (!tree.data().empty()) return fail(L"text outside the root element");
        int elements = 0;
        for (auto& child : tree) {
            if (child.first == L"<xmlcomment>")
                comment(child.second);
            else if (child.first == L"<xmltext>" || child.first == L"<xmlattr>")
                fail(L"text outside the root element");
            else {
                ++elements;
                element(child.first, child.second);
            }
        }
        if (elements != 1) fail(L"a document needs exactly one root element");
    }

private:
    void fail(const std::wstring& why) {
        if (problem.empty()) problem = why;
    }

    void comment(wptree& node) {
        text(node.data());
        const std::wstring& value = node.data();
        if (value.find(L"--") != std::wstring::npos || (!value.empty() && value.back() == L'-'))
            fail(L"a comment holds \"--\"");
    }

    void element(const std::wstring& key, wptree& node) {
        if (!isXmlName(key)) return fail(L"\"" + key + L"\" is no element name");
        text(node.data());
        for (auto& child : node) {
            if (child.first == L"<xmlattr>")
                attributes(child.second);
            else if (child.first == L"<xmlcomment>")
                comment(child.second);
            else if (child.first == L"<xmltext>")
                text(child.second.data());
            else
                element(child.first, child.second);
        }
    }

    void attributes(wptree& node) {
        std::set<std::wstring> seen;
        for (auto& attribute : node) {
            if (!isXmlName(attribute.first)) fail(L"\"" + attribute.first + L"\" is no attribute name");
            if (!seen.insert(attribute.first).second) fail(L"attribute \"" + attribute.first + L"\" repeats");
            text(attribute.second.data());
        }
    }
};

/// How deep the elements of the text nest, counted without parsing (the
/// parser recurses once per level and a deep enough file overflows the
/// stack): stops counting past `limit`. Markup that holds no element
/// (comments, CDATA, declarations, processing instructions) and the quoted
/// values of attributes are skipped; what is malformed is left to the parser.
std::size_t nestingDepth(const std::string& text, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    const std::size_t size = text.size();
    std::size_t i = 0;
    auto skipPast = [&](const char* end) {
        const std::size_t found = text.find(end, i);
        i = found == std::string::npos ? size : found + std::strlen(end);
    };
    while (i < size && deepest <= limit) {
        i = text.find('<', i);
        if (i == std::string::npos) break;
        if (text.compare(i, 4, "<!--") == 0) {
            skipPast("-->");
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            skipPast("]]>");
        } else if (text.compare(i, 2, "<?") == 0) {
            skipPast("?>");
        } else if (text.compare(i, 2, "<!") == 0) {
            skipPast(">");
        } else if (text.compare(i, 2, "</") == 0) {
            if (depth > 0) --depth;
            skipPast(">");
        } else {
            // A start tag: to its ">" outside quotes; "/>" closes it at once.
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < size; ++j) {
                const char c = text[j];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (j >= size) break;
            const bool empty = text[j - 1] == '/';  // "<x/>": in and out again
            deepest = std::max(deepest, depth + 1);
            if (!empty) ++depth;
            i = j + 1;
        }
    }
    return deepest;
}

}  // namespace

std::size_t nestingDepthOf(const std::string& text) { return nestingDepth(text, kMaxDepth); }

// Keeps a damaged file for the operator instead of letting the owner's next
// save replace it.
void setAside(const std::wstring& path, const std::string& reason) {
    const base::LogPlace place("storage::load");
    // The parser's own words stay in the log; the operator reads where.
    place.info(L"Файл '%1%': %2%", path, base::fromUtf8(reason));
    const std::wstring where = damageForOperator(reason);
    const std::wstring aside = base::moveAside(path);
    if (!aside.empty())
        place.warn(L"Файл '%1%' повреждён (%2%) и сохранён как '%3%'", path, where, aside);
    else
        place.warn(L"Файл '%1%' повреждён (%2%)", path, where);
}

bool keepCopy(const std::wstring& path, const std::string& reason) {
    return keepCopy(path, reason, damageForOperator(reason));
}

bool keepCopy(const std::wstring& path, const std::string& reason, const std::wstring& damage) {
    const base::LogPlace place("storage::load");
    place.info(L"Файл '%1%': %2%", path, base::fromUtf8(reason));
    const std::wstring aside = base::copyAside(path);
    if (!aside.empty()) {
        place.warn(L"Файл '%1%' повреждён (%2%) и прочитан не весь; исходный файл сохранён как '%3%'", path,
                   damage, aside);
        return true;
    }
    place.error(L"Файл '%1%' повреждён (%2%) и прочитан не весь; сохранить его копию не удалось", path,
                damage);
    return false;
}

bool keepCopyOfMissing(const std::wstring& path, const std::vector<std::wstring>& missing) {
    const base::LogPlace place("storage::load");
    const std::wstring aside = base::copyAside(path);
    for (const std::wstring& what : missing) {
        if (!aside.empty())
            place.warn(L"Файл '%1%' прочитан не весь (%2%); исходный файл сохранён как '%3%'", path, what, aside);
        else
            place.error(L"Файл '%1%' прочитан не весь (%2%); сохранить его копию не удалось", path, what);
    }
    return !aside.empty();
}

std::wstring damageForOperator(const std::string& reason) {
    // The XML parser says "<file>(N): what"; a missing root element and
    // bytes that are no UTF-8 are our own words.
    static const std::regex parserLine(R"(^.*\((\d+)\): .*$)");
    static const std::regex missingElement(R"(^no element (\S+)$)");
    std::smatch match;
    if (std::regex_match(reason, match, parserLine))
        return L"ошибка в строке " + base::fromUtf8(match[1].str());
    if (std::regex_match(reason, match, missingElement))
        return L"нет элемента \u00AB" + base::fromUtf8(match[1].str()) + L"\u00BB";
    if (reason == "not UTF-8") return L"текст не в кодировке UTF-8";
    static const std::regex skipped(R"(^(\d+) entries skipped$)");
    if (std::regex_match(reason, match, skipped))
        return L"пропущено записей: " + base::fromUtf8(match[1].str());
    if (reason == "empty") return L"файл пуст";
    if (reason == "no root element") return L"нет корневого элемента";
    if (reason == "nested too deep")
        return L"вложенность элементов глубже " + std::to_wstring(kMaxDepth);
    return L"ошибка разбора";
}

namespace {

/// The files whose last save failed, each with the errno value told.
struct SaveFailures {
    std::mutex mutex;
    std::map<std::wstring, int> told;
};

SaveFailures& saveFailures() {
    static SaveFailures failures;
    return failures;
}

}  // namespace

void reportSaveFailure(const std::wstring& path, int code, const std::string& detail) {
    const base::LogPlace place("storage::save");
    place.debug(L"'%1%' isn't saved: %2%", path, base::fromUtf8(detail));
    place.info(L"Файл '%1%' не сохранён: %2%", path, base::errnoForOperator(code));
    SaveFailures& failures = saveFailures();
    {
        std::lock_guard<std::mutex> lock(failures.mutex);
        const auto found = failures.told.find(path);
        if (found != failures.told.end() && found->second == code) return;
        failures.told[path] = code;
    }
    place.error(L"Не удалось сохранить файл '%1%': %2%", path, base::errnoForOperator(code));
}

void reportSaveSuccess(const std::wstring& path) {
    SaveFailures& failures = saveFailures();
    std::lock_guard<std::mutex> lock(failures.mutex);
    failures.told.erase(path);
}

namespace {

thread_local SaveCapture* t_capture = nullptr;

/// The file's text for the tree; false (with an ERROR) when the tree makes
/// no document. `replaced` counts the characters XML cannot hold.
bool render(const std::wstring& path, const wptree& tree, std::string& bytes, int& replaced) {
    const base::LogPlace place("storage::save");
    wptree clean = tree;
    Sanitizer sanitizer;
    sanitizer.root(clean);
    replaced = sanitizer.replaced;
    if (!sanitizer.problem.empty()) {
        place.error(L"Файл '%1%' не сохранён: %2%", path, sanitizer.problem);
        return false;
    }

    std::wostringstream xml;
    boost::property_tree::write_xml(
        xml, clean, boost::property_tree::xml_writer_make_settings<std::wstring>(L' ', 0, L"utf-8"));
    if (!xml) {
        place.error(L"Файл '%1%' не сохранён: ошибка записи XML", path);
        return false;
    }
    bytes = base::toUtf8(xml.str());
    return true;
}

/// Said when the text is written, not each time it is only compared.
bool write(const std::wstring& path, const std::string& bytes, int replaced) {
    if (replaced > 0)
        base::LogPlace("storage::save")
            .important(L"save: '%1%': %2% characters that XML cannot hold were replaced", path, replaced);
    std::string error;
    int code = 0;
    if (!base::replaceFile(path, bytes, error, &code)) {
        reportSaveFailure(path, code, error);
        return false;
    }
    reportSaveSuccess(path);
    return true;
}

}  // namespace

SaveCapture::SaveCapture() : m_outer(t_capture) { t_capture = this; }
SaveCapture::~SaveCapture() { t_capture = m_outer; }

bool save(const std::wstring& path, const wptree& tree) {
    if (t_capture != nullptr) {
        t_capture->saved.emplace_back(path, tree);
        return true;
    }
    LOG_TRACE(L"save: '%1%'", path);
    std::string bytes;
    int replaced = 0;
    return render(path, tree, bytes, replaced) && write(path, bytes, replaced);
}

BackgroundSaver::BackgroundSaver() : m_worker([this] { run(); }) {}

BackgroundSaver::~BackgroundSaver() { stop(); }

void BackgroundSaver::offer(const std::wstring& path, wptree tree) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    if (m_seen.emplace(path, true).second)
        m_firsts.emplace_back(path, std::move(tree));
    else
        m_waiting[path] = std::move(tree);
    m_wake.notify_all();
}

bool BackgroundSaver::idle() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_firsts.empty() && m_waiting.empty() && !m_busy;
}

void BackgroundSaver::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_firsts.clear();
        m_waiting.clear();
        m_wake.notify_all();
    }
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
}

void BackgroundSaver::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_firsts.empty() || !m_waiting.empty(); });
        if (m_stopping) return;
        std::wstring path;
        wptree tree;
        if (!m_firsts.empty()) {
            path = m_firsts.front().first;
            tree.swap(m_firsts.front().second);
            m_firsts.erase(m_firsts.begin());
        } else {
            const auto next = m_waiting.begin();
            path = next->first;
            tree.swap(next->second);
            m_waiting.erase(next);
        }
        m_busy = true;
        lock.unlock();
        std::string bytes;
        int replaced = 0;
        const bool rendered = render(path, tree, bytes, replaced);
        const std::size_t hash = std::hash<std::string>()(bytes);
        lock.lock();
        const auto known = m_written.find(path);
        const bool first = known == m_written.end();
        const bool changed = rendered && !first && known->second != hash;
        if (rendered && first) m_written[path] = hash;
        if (changed && !m_stopping) {
            lock.unlock();
            LOG_TRACE(L"save: '%1%' (changed)", path);
            const bool written = write(path, bytes, replaced);
            lock.lock();
            // A failed write is tried again at the next offer.
            if (written) m_written[path] = hash;
        }
        m_busy = false;
    }
}

bool load(const std::wstring& path, wptree& tree) {
    LOG_TRACE(L"load: '%1%'", path);
    std::string bytes;
    const int error = base::tryReadFile(path, bytes);
    if (error == ENOENT || error == ENOTDIR) {
        LOG_EXTERN(L"Неверен путь к файлу настроек %1%", path);
        return false;
    }
    if (error != 0) {
        LOG_ERROR(L"Ошибка открытия настроек '%1%'. (%2%)", path, error);
        return false;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    if (!base::isValidUtf8(bytes)) {
        setAside(path, "not UTF-8");
        return false;
    }
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) {
        // Nothing of ours is ever written empty: the file was cut short.
        setAside(path, "empty");
        return false;
    }
    if (nestingDepth(bytes, kMaxDepth) > kMaxDepth) {
        setAside(path, "nested too deep");
        return false;
    }
    std::wistringstream xml(base::fromUtf8(bytes));
    wptree loaded;
    try {
        boost::property_tree::read_xml(xml, loaded);
    } catch (const boost::property_tree::xml_parser_error& e) {
        setAside(path, e.what());
        return false;
    }
    if (std::none_of(loaded.begin(), loaded.end(),
                     [](const wptree::value_type& child) { return child.first != L"<xmlcomment>"; })) {
        // A declaration or comments alone: cut short as well.
        setAside(path, "no root element");
        return false;
    }
    tree.swap(loaded);
    return true;
}

}  // namespace storage
