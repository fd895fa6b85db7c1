// Every text the program logs at NOTICE or above reaches the operator: it is
// Russian, or the catalogue po/ru_RU.po has a Russian entry for it. The check
// reads the sources and the catalogue as they stand in the tree.

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "base/dbg.h"

namespace {

namespace fs = boost::filesystem;

const std::string kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path().string();

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool hasCyrillic(const std::string& utf8) {
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i)
        if (utf8[i] == '\xD0' || utf8[i] == '\xD1') return true;
    return false;
}

bool hasLatinWord(const std::string& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (std::isalpha(static_cast<unsigned char>(text[i])) && std::isalpha(static_cast<unsigned char>(text[i + 1])))
            return true;
    return false;
}

/// The catalogue: message id -> text, both as escaped in the file.
std::map<std::string, std::string> catalogue(const std::string& po) {
    std::map<std::string, std::string> entries;
    std::istringstream in(po);
    std::string id, text, *current = nullptr;
    const auto store = [&] {
        if (!id.empty()) entries[id] = text;
        id.clear();
        text.clear();
        current = nullptr;
    };
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("msgid \"", 0) == 0) {
            store();
            current = &id;
            line.erase(0, 6);
        } else if (line.rfind("msgstr \"", 0) == 0) {
            current = &text;
            line.erase(0, 7);
        } else if (line.empty() || line[0] != '"') {
            continue;
        }
        if (current != nullptr && line.size() >= 2) *current += line.substr(1, line.size() - 2);
    }
    store();
    return entries;
}

/// The string literals of a source text from `at` to the end of the call
/// that opens before it, as written (escapes kept): adjacent literals joined,
/// each argument's literals in one element, "" for an argument without one.
std::vector<std::string> literalArguments(const std::string& source, std::size_t at) {
    std::vector<std::string> arguments(1);
    int depth = 1;
    for (std::size_t i = at; i < source.size() && depth > 0; ++i) {
        const char c = source[i];
        if (c == '"') {
            std::size_t j = i + 1;
            for (; j < source.size() && source[j] != '"'; ++j)
                if (source[j] == '\\') ++j;
            arguments.back() += source.substr(i + 1, j - i - 1);
            i = j;
        } else if (c == '\'') {
            i += source[i + 1] == '\\' ? 3 : 2;
        } else if (c == '(' || c == '{' || c == '[') {
            ++depth;
        } else if (c == ')' || c == '}' || c == ']') {
            --depth;
        } else if (c == ',' && depth == 1) {
            arguments.emplace_back();
        }
    }
    return arguments;
}

struct Call {
    std::string place;  // file:line
    std::string text;
};

/// Where the argument of a call that starts at `at` ends: the comma or the
/// closing parenthesis after it.
std::size_t argumentEnd(const std::string& source, std::size_t at) {
    int depth = 0;
    std::size_t i = at;
    for (; i < source.size(); ++i) {
        const char c = source[i];
        if (c == '"') {
            for (++i; i < source.size() && source[i] != '"'; ++i)
                if (source[i] == '\\') ++i;
        } else if (c == '(' || c == '{' || c == '[') {
            ++depth;
        } else if ((c == ')' || c == '}' || c == ']') && depth-- == 0) {
            break;
        } else if (c == ',' && depth == 0) {
            break;
        }
    }
    return i;
}

/// The argument's text as written, trimmed.
std::string argumentText(const std::string& source, std::size_t at) {
    std::string text = source.substr(at, argumentEnd(source, at) - at);
    text.erase(0, text.find_first_not_of(" \t\r\n"));
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    return text;
}

/// A format passed by name: the literal its last definition before the call
/// gives it in the same file ("const wchar_t* format = L"..."", "constexpr
/// const wchar_t* kText = L"...""); empty when there is none.
std::string namedFormat(const std::string& source, std::size_t call, const std::string& name) {
    const std::regex definition("\\b" + name + R"(\s*(\[[^\]]*\])?\s*=\s*(L?"))");
    std::string found;
    for (std::sregex_iterator m(source.begin(), source.begin() + static_cast<long>(call), definition), none;
         m != none; ++m) {
        const std::size_t literal = static_cast<std::size_t>(m->position(2));
        found.clear();
        // The adjacent literals up to the end of the definition.
        for (std::size_t i = literal; i < source.size() && source[i] != ';'; ++i) {
            if (source[i] != '"') continue;
            std::size_t j = i + 1;
            for (; j < source.size() && source[j] != '"'; ++j)
                if (source[j] == '\\') ++j;
            found += source.substr(i + 1, j - i - 1);
            i = j;
        }
    }
    return found;
}

/// The log calls at NOTICE or above, in every form the program logs with:
/// the LOG_ macros, a place's level operations and `at`, the C-style calls,
/// the calls that also work without a log (debug::error_safe and its kin),
/// the Log's own `write`, the records for the file alone, and the crash
/// path's lines written from the signal handler. `formatArgument` is the
/// format's position among the arguments. The abort sequence (dbg_abort)
/// is left out: its condition is program code, and the process ends before
/// any notice could show it.
struct Form {
    std::regex call;
    std::size_t formatArgument;
};

const std::vector<Form>& forms() {
    static const std::vector<Form> all = {
        {std::regex(R"(\bLOG_(NOTICE|WARN|ERROR|FATAL)\s*\()"), 0},
        {std::regex(R"(\.(notice|warn|error|fatal)\s*\()"), 0},
        {std::regex(R"(\bdbg_(puts|printf)\s*\(\s*(NOTICE|WARN|ERROR|FATAL)\s*,)"), 0},
        {std::regex(R"(\.at\s*\(\s*(::)?(base::)?Log::(NOTICE|WARN|ERROR|FATAL)\s*,)"), 0},
        {std::regex(R"(\b(notice|warn|error|fatal)_safe\s*\()"), 0},
        {std::regex(R"(\bwrite\s*\(\s*(::)?(base::)?Log::(NOTICE|WARN|ERROR|FATAL)\s*,)"), 1},
        {std::regex(R"(\bLOG_WITHOUT_NOTICE\s*\(\s*(::)?(base::)?Log::(NOTICE|WARN|ERROR|FATAL)\s*,)"), 0},
        {std::regex(R"(\bcrashLog\s*\(\s*(::)?(base::)?Log::(NOTICE|WARN|ERROR|FATAL)\s*,)"), 1},
    };
    return all;
}

/// The texts of every log call at NOTICE or above: the format, and for a
/// format without words of its own ("%1%") the literal values it shows. A
/// format passed by name is read from its definition; a text made at run
/// time is not the check's.
std::vector<Call> operatorTexts() {
    std::vector<Call> calls;
    for (const char* layer : {"base", "os", "device", "audio", "scheduler", "gui", "app"}) {
        for (fs::recursive_directory_iterator it(kRoot + "/" + layer), end; it != end; ++it) {
            const std::string path = it->path().string();
            const std::string extension = it->path().extension().string();
            if (extension != ".cpp" && extension != ".h") continue;
            const std::string source = readAll(path);
            for (const Form& form : forms()) {
                for (std::sregex_iterator m(source.begin(), source.end(), form.call), none; m != none; ++m) {
                    const std::size_t at = static_cast<std::size_t>(m->position() + m->length());
                    const std::string line =
                        std::to_string(std::count(source.begin(), source.begin() + static_cast<long>(at), '\n') + 1);
                    const std::string place = path.substr(kRoot.size() + 1) + ":" + line;
                    auto arguments = literalArguments(source, at);
                    if (arguments.size() <= form.formatArgument) continue;
                    // Where the format starts.
                    std::size_t first = at;
                    for (std::size_t skip = 0; skip < form.formatArgument; ++skip)
                        first = argumentEnd(source, first) + 1;
                    const std::string format = argumentText(source, first);
                    if (format.rfind("L\"", 0) != 0 && format.rfind("\"", 0) != 0) {
                        // A format by name, or a text made at run time.
                        static const std::regex kName(R"([A-Za-z_][A-Za-z_0-9]*)");
                        const std::string named =
                            std::regex_match(format, kName) ? namedFormat(source, at, format) : std::string();
                        if (named.empty()) continue;
                        arguments[form.formatArgument] = named;
                    }
                    const std::string& text = arguments[form.formatArgument];
                    calls.push_back({place, text});
                    if (!hasLatinWord(text) && !hasCyrillic(text))
                        for (std::size_t i = form.formatArgument + 1; i < arguments.size(); ++i)
                            if (!arguments[i].empty()) calls.push_back({place, arguments[i]});
                }
            }
        }
    }
    return calls;
}

/// Boost's %N% and %N$...X directives, sorted: a translation takes the same values.
std::multiset<std::string> boostDirectives(const std::string& text) {
    static const std::regex kDirective(R"(%(\d+)(%|\$[-+ #0-9.]*[a-zA-Z]))");
    std::multiset<std::string> found;
    for (std::sregex_iterator m(text.begin(), text.end(), kDirective), none; m != none; ++m) found.insert((*m)[0]);
    return found;
}

}  // namespace

TEST(OperatorTexts, EveryNoticeIsRussianOrHasACatalogueEntry) {
    const auto entries = catalogue(readAll(kRoot + "/po/ru_RU.po"));
    ASSERT_GT(entries.size(), 100u);
    const auto calls = operatorTexts();
    ASSERT_GT(calls.size(), 300u) << "the search finds the log calls";
    std::size_t english = 0;
    for (const Call& call : calls) {
        if (hasCyrillic(call.text) || !hasLatinWord(call.text)) continue;
        const auto entry = entries.find(call.text);
        if (entry != entries.end() && hasCyrillic(entry->second)) continue;
        ADD_FAILURE() << call.place << ": no Russian text for \"" << call.text << "\"";
        ++english;
    }
    EXPECT_EQ(english, 0u);
}

TEST(OperatorTexts, CatalogueEntriesTakeTheValuesOfTheirFormats) {
    for (const auto& [id, text] : catalogue(readAll(kRoot + "/po/ru_RU.po"))) {
        if (text.empty()) continue;
        const auto directives = boostDirectives(id);
        EXPECT_EQ(directives, boostDirectives(text)) << id;
        // A printf format's entry is used only with the same directives in
        // the same order.
        if (directives.empty()) {
            EXPECT_EQ(dbg_conversions(id.c_str()), dbg_conversions(text.c_str())) << id;
        }
    }
}

// Every form of log call is found, formats passed by name included.
TEST(OperatorTexts, TheSearchReadsEveryFormOfLogCall) {
    const auto calls = operatorTexts();
    const auto found = [&](const std::string& file, const std::string& text) {
        return std::any_of(calls.begin(), calls.end(), [&](const Call& c) {
            return c.place.rfind(file + ":", 0) == 0 && c.text == text;
        });
    };
    EXPECT_TRUE(found("app/app.cpp", "The stop thread cannot be woken: '%1%'")) << "debug::error_safe";
    EXPECT_TRUE(found("app/app.cpp",
                      "An exception caught in the 'stopAppThread': an error code is '%1%', an native error code "
                      "is '%2%', an text error is '%3%'"))
        << "a format passed by name";
    EXPECT_TRUE(found("os/crash_handler.cpp", "failed to save memory dump")) << "the crash path's lines";
    EXPECT_TRUE(found("base/wx/gui_thread_invoker.cpp", "caught std exception: %s, %s")) << "dbg_puts";
    EXPECT_TRUE(found("base/check.cpp", "Проверяемое условие неверно! Место '%1%'")) << "a place's level";
}
