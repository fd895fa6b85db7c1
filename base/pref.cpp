#include "base/pref.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "base/check.h"
#include "base/dbg.h"
#include "base/files.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"

pref::Settings* g_pref = nullptr;

namespace pref {

namespace {

using libconfig::Setting;

std::vector<std::string> segmentsOf(const char* path, const char* operation) {
    std::vector<std::string> segments;
    if (path != nullptr) boost::algorithm::split(segments, path, boost::algorithm::is_any_of("."));
    if (segments.empty()) dbg_abort("path.empty() == true", operation);
    return segments;
}

/// The whole tree as libconfig writes it.
bool serialize(const libconfig::Config& config, std::string& text) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    if (stream == nullptr) return false;
    config.write(stream);
    const bool good = std::fclose(stream) == 0;
    if (buffer != nullptr) text.assign(buffer, size);
    std::free(buffer);
    return good;
}

/// Strings are UTF-8; a hand-edited file in the old code page still reads.
std::wstring decode(const std::string& bytes) {
    return base::isValidUtf8(bytes) ? base::fromUtf8(bytes) : base::toWide(bytes);
}

/// libconfig reads a number beyond the range of a double as an infinity,
/// then writes it as "inf.0", which it can't read: the check in save would
/// refuse every later save, and each change of the settings would be lost.
/// Such values (only a hand edit makes them; the program keeps no floats)
/// are dropped when the file is read, with a WARN naming each.
void dropInfinities(Setting& parent, const std::wstring& path) {
    for (int i = parent.getLength() - 1; i >= 0; --i) {
        Setting& child = parent[i];
        if (child.isAggregate()) {
            dropInfinities(child, path);
        } else if (child.getType() == Setting::TypeFloat && !std::isfinite(static_cast<double>(child))) {
            LOG_WARN(L"Значение '%1%' файла настроек '%2%' вне допустимого диапазона и удалено",
                     base::fromUtf8(child.getPath()), path);
            parent.remove(static_cast<unsigned>(i));
        }
    }
}

/// How many settings the text names: its "=" and ":" outside strings and
/// comments, counted up to one past `limit`. Read without parsing, so that
/// a file of too many is refused at the cost of one pass.
std::size_t namedSettings(const std::string& text, std::size_t limit) {
    std::size_t count = 0;
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size && count <= limit; ++i) {
        const char c = text[i];
        const char next = i + 1 < size ? text[i + 1] : '\0';
        if (c == '"') {
            for (++i; i < size && text[i] != '"'; ++i)
                if (text[i] == '\\') ++i;
        } else if (c == '#' || (c == '/' && next == '/')) {
            i = text.find('\n', i);
            if (i == std::string::npos) break;
        } else if (c == '/' && next == '*') {
            i = text.find("*/", i + 2);
            if (i == std::string::npos) break;
            ++i;
        } else if (c == '=' || c == ':') {
            ++count;
        }
    }
    return count;
}

Settings& global(const char* operation) {
    error::terminateIfNull(g_pref, operation);
    return *g_pref;
}

}  // namespace

namespace {

/// Why a settings text is far larger than any the program writes, for the
/// operator; empty when it is within the limits.
std::wstring beyondLimits(std::size_t bytes, const std::string* text) {
    if (bytes > kMaxFileBytes) return L"файл больше " + std::to_wstring(kMaxFileBytes / (1024 * 1024)) + L" МБ";
    if (text != nullptr && namedSettings(*text, kMaxSettings) > kMaxSettings)
        return L"настроек больше " + std::to_wstring(kMaxSettings);
    return {};
}

}  // namespace

bool withinLimits(const std::string& text) { return beyondLimits(text.size(), &text).empty(); }

void open(Settings& settings, const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(settings.mutex);
    settings.config = std::make_unique<libconfig::Config>();
    settings.isDefault = true;
    settings.damageNotice.clear();
    settings.path = path;
    if (path.empty()) return;
    settings.config->setTabWidth(4);

    const std::string file = base::toUtf8(path);
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 && errno == ENOENT) return;
    // What the operator reads (Russian); libconfig's own words go to the log.
    // A file far larger than ours is not even read.
    std::wstring problem = beyondLimits(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)), nullptr);
    std::string bytes;
    if (problem.empty()) {
        if (base::tryReadFile(path, bytes) != 0) {
            LOG_INFO(L"Файл настроек '%1%' не прочитан", path);
            problem = L"ошибка чтения";
        } else if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) {
            // Nothing we write is empty: the file was cut short, and reading it
            // as "no settings" would hide that the operator's settings are gone.
            problem = L"файл пуст";
        } else {
            problem = beyondLimits(bytes.size(), &bytes);
        }
    }
    if (problem.empty()) {
        try {
            // The text just read and checked, not the file a second time.
            settings.config->readString(bytes);
            dropInfinities(settings.config->getRoot(), path);
            settings.isDefault = false;
            return;
        } catch (const libconfig::ParseException& e) {
            LOG_INFO(L"Файл настроек '%1%': %2%", path, base::fromUtf8(e.getError() ? e.getError() : "?"));
            problem = L"ошибка в строке " + std::to_wstring(e.getLine());
        } catch (const std::exception& e) {
            LOG_INFO(L"Файл настроек '%1%': %2%", path, base::fromUtf8(e.what()));
            problem = L"ошибка чтения";
        }
    }
    // A partial tree would mix the file's keys with defaults; start clean.
    settings.config = std::make_unique<libconfig::Config>();
    settings.config->setTabWidth(4);
    const std::wstring aside = base::moveAside(path);
    const bool setAside = !aside.empty();
    // The log names the files whole; the operator's notice as the other
    // files' notices do (by the file's name in the data folder).
    const auto told = [&](const std::function<std::wstring(const std::wstring&)>& named) {
        return L"Файл настроек " + named(path) + L" повреждён (" + problem + L")" +
               (setAside ? L" и сохранён как " + named(aside) : std::wstring()) +
               L". Используются настройки по умолчанию.";
    };
    settings.damageNotice = told(&base::Log::fileForNotice);
    LOG_WARN(L"%1%", told([](const std::wstring& whole) { return L"'" + whole + L"'"; }));
}

bool save(Settings* settings) {
    std::lock_guard<std::recursive_mutex> lock(settings->mutex);
    if (settings->path.empty()) return false;
    std::string text;
    std::string error;
    if (!serialize(*settings->config, text)) {
        error = "the settings could not be laid out";
    } else if (!withinLimits(text)) {
        error = "the laid out settings are too large for a settings file (" + std::to_string(text.size()) +
                " bytes)";
    } else {
        try {
            libconfig::Config check;  // never write what we could not read back
            check.readString(text);
        } catch (const std::exception& e) {
            error = std::string("the written text does not parse: ") + e.what();
        }
    }
    if (!error.empty()) {
        LOG_ERROR(L"Ошибка сохранения файла настроек '%1%' (%2%)", settings->path, base::fromUtf8(error));
        return false;
    }
    // Settings without a single key still leave a line: open takes an empty
    // file for one cut short and sets it aside.
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) text = "# Sonvar\n";
    int code = 0;
    if (!base::replaceFile(settings->path, text, error, &code)) {
        storage::reportSaveFailure(settings->path, code, error);
        return false;
    }
    storage::reportSaveSuccess(settings->path);
    return true;
}

Setting* find(Settings* settings, const char* path, Type type) {
    const std::vector<std::string> segments = segmentsOf(path, "pref::find");
    std::lock_guard<std::recursive_mutex> lock(settings->mutex);
    try {
        Setting* current = &settings->config->getRoot();
        for (const auto& segment : segments) {
            if (!current->isGroup() || !current->exists(segment)) return nullptr;
            current = &(*current)[segment.c_str()];
        }
        return current->getType() == type ? current : nullptr;
    } catch (const libconfig::SettingException& e) {
        dbg_abort(e.what(), "pref::find");
    }
}

Setting& create(Settings* settings, const char* path, Type type) {
    const std::vector<std::string> segments = segmentsOf(path, "pref::create");
    std::lock_guard<std::recursive_mutex> lock(settings->mutex);
    try {
        Setting* current = &settings->config->getRoot();
        std::string group;
        for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
            const char* name = segments[i].c_str();
            group += (i == 0 ? "" : ".") + segments[i];
            if (current->exists(name) && !(*current)[name].isGroup()) {
                // A hand-edited file gave a value where our group belongs.
                LOG_WARN(
                    L"Настройка '%1%' в файле настроек - не группа; она заменена группой настроек по "
                    L"умолчанию",
                    group);
                current->remove(name);
            }
            current = current->exists(name) ? &(*current)[name] : &current->add(name, Setting::TypeGroup);
        }
        const char* name = segments.back().c_str();
        if (current->exists(name)) {
            Setting& existing = (*current)[name];
            if (existing.getType() == type) return existing;
            current->remove(name);
        }
        return current->add(name, type);
    } catch (const libconfig::SettingException& e) {
        dbg_abort(e.what(), "pref::create");
    }
}

namespace {

/// The owners' pattern on g_pref: the stored value when the key exists with
/// the type, else the key created holding the default.
template <class Value>
Value findOrCreate(const char* operation, const char* path, Type type, const Value& defaultValue) {
    Settings& settings = global(operation);
    Guard guard(&settings);
    if (Setting* found = find(&settings, path, type)) return static_cast<Value>(*found);
    create(&settings, path, type) = defaultValue;
    return defaultValue;
}

}  // namespace

std::wstring getString(const char* path) {
    return decode(findOrCreate<std::string>("pref::getString", path, Setting::TypeString, std::string()));
}

void setString(const char* path, const std::wstring& value) {
    Settings& settings = global("pref::setString");
    Guard guard(&settings);
    create(&settings, path, Setting::TypeString) = base::toUtf8(value);
}

int getInt(const char* path, int defaultValue) {
    return findOrCreate("pref::getInt", path, Setting::TypeInt, defaultValue);
}

bool getBool(const char* path, bool defaultValue) {
    return findOrCreate("pref::getBool", path, Setting::TypeBoolean, defaultValue);
}

}  // namespace pref

void pref_init(const std::wstring& path) {
    dbg_puts(TRACE2, "%s(..)", "pref_init");
    auto* settings = new (std::nothrow) pref::Settings;
    if (settings == nullptr) dbg_abort("malloc(sizeof(pref)) == NULL", "pref_init");
    pref::open(*settings, path);
    g_pref = settings;
}

void pref_free() {
    dbg_puts(TRACE2, "%s(..)", "pref_free");
    if (g_pref == nullptr) dbg_abort("p == NULL", "pref_free");
    pref::save(g_pref);
    delete g_pref;
    g_pref = nullptr;
}
