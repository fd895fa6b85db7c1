// Every text the program logs at INFO or above reads Russian in the daily log,
// and from NOTICE on reaches the operator: it is Russian, or the catalogue
// po/ru_RU.po has a Russian entry for it. The check reads the sources and the
// catalogue as they stand in the tree.

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
    // A wide literal value is shown as it stands in the file: the log looks
    // up formats and the other texts only. A single word (the program's
    // name) is no sentence to translate.
    bool lookedUp = true;
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

/// Where the argument `index` of a call whose arguments start at `at` starts.
std::size_t argumentStart(const std::string& source, std::size_t at, std::size_t index) {
    for (std::size_t skip = 0; skip < index; ++skip) at = argumentEnd(source, at) + 1;
    return at;
}

bool isLiteral(const std::string& argument) {
    return argument.rfind("L\"", 0) == 0 || argument.rfind("\"", 0) == 0;
}

/// The literals of an argument that is a literal (adjacent ones joined), or
/// a choice between two ("cond ? "a" : "b""); nothing for any other.
std::vector<std::string> literalChoices(const std::string& argument) {
    static const std::regex kChoice(R"(^[^"?]*\?\s*(L?"(?:[^"\\]|\\.)*")\s*:\s*(L?"(?:[^"\\]|\\.)*")$)");
    std::smatch choice;
    if (std::regex_match(argument, choice, kChoice)) {
        std::vector<std::string> both;
        for (int i : {1, 2}) both.push_back(literalArguments(choice.str(i) + ")", 0).front());
        return both;
    }
    if (isLiteral(argument)) return {literalArguments(argument + ")", 0).front()};
    return {};
}

/// A format handed to a function of the same file through its parameter
/// `name` ("const wchar_t* format"): the literals its calls pass there.
std::vector<std::string> parameterFormats(const std::string& source, std::size_t call, const std::string& name) {
    const std::regex parameter(R"(\b([A-Za-z_]\w*)\s*\(([^()]*)\bconst\s+wchar_t\s*\*\s*)" + name + R"(\s*[,)])");
    std::smatch definition;
    for (std::sregex_iterator m(source.begin(), source.begin() + static_cast<long>(call), parameter), none;
         m != none; ++m)
        definition = *m;
    if (definition.empty()) return {};
    const std::string before = definition.str(2);
    const auto index = static_cast<std::size_t>(std::count(before.begin(), before.end(), ','));
    std::vector<std::string> formats;
    const std::regex calls("\\b" + definition.str(1) + R"(\s*\()");
    for (std::sregex_iterator m(source.begin(), source.end(), calls), none; m != none; ++m) {
        if (m->position() == definition.position(1)) continue;
        const std::size_t at = static_cast<std::size_t>(m->position() + m->length());
        for (const std::string& format : literalChoices(argumentText(source, argumentStart(source, at, index))))
            formats.push_back(format);
    }
    return formats;
}

/// A format read from a table of the same file ("check.message"): the
/// literals of that member in every array of the structure that holds it.
std::vector<std::string> memberFormats(const std::string& source, const std::string& member) {
    const std::regex holder(R"(\bstruct\s+([A-Za-z_]\w*)\s*\{([^{}]*)\bconst\s+wchar_t\s*\*\s*)" + member + R"(\s*;)");
    std::vector<std::string> formats;
    for (std::sregex_iterator s(source.begin(), source.end(), holder), none; s != none; ++s) {
        // The member's place among the fields, comments aside.
        const std::string fields = std::regex_replace(s->str(2), std::regex("//[^\n]*"), "");
        const auto index = static_cast<std::size_t>(std::count(fields.begin(), fields.end(), ';'));
        const std::regex table("\\b" + s->str(1) + R"(\s+[A-Za-z_]\w*\s*\[[^\]]*\]\s*=\s*\{)");
        for (std::sregex_iterator t(source.begin(), source.end(), table); t != none; ++t) {
            for (std::size_t i = static_cast<std::size_t>(t->position() + t->length());;) {
                while (i < source.size() && std::isspace(static_cast<unsigned char>(source[i]))) ++i;
                if (i >= source.size() || source[i] != '{') break;
                for (const std::string& format :
                     literalChoices(argumentText(source, argumentStart(source, i + 1, index))))
                    formats.push_back(format);
                const std::size_t end = argumentEnd(source, i);
                if (end >= source.size() || source[end] != ',') break;
                i = end + 1;
            }
        }
    }
    return formats;
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

/// The log calls at INFO or above, in every form the program logs with:
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
        {std::regex(R"(\bLOG_(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*\()"), 0},
        {std::regex(R"(\.(info|external|important|notice|warn|error|fatal)\s*\()"), 0},
        {std::regex(R"(\bdbg_(puts|printf)\s*\(\s*(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*,)"), 0},
        {std::regex(R"(\.at\s*\(\s*(::)?(base::)?Log::(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*,)"), 0},
        {std::regex(R"(\b(important|notice|warn|error|fatal)_safe\s*\()"), 0},
        {std::regex(R"(\bwrite\s*\(\s*(::)?(base::)?Log::(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*,)"), 1},
        {std::regex(R"(\bLOG_WITHOUT_NOTICE\s*\(\s*(::)?(base::)?Log::(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*,)"),
         0},
        {std::regex(R"(\bcrashLog\s*\(\s*(::)?(base::)?Log::(INFO|EXTERN|IMPOR|NOTICE|WARN|ERROR|FATAL)\s*,)"), 1},
    };
    return all;
}

/// The texts of every log call at INFO or above: the format, and for a
/// format without words of its own ("%1%") the literal values it shows. A
/// format passed by name is read from its definition, one handed through a
/// parameter from the calls of its function, one read from a table from the
/// table, a choice between two literals gives both; a text made at run time
/// is not the check's.
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
                    const auto arguments = literalArguments(source, at);
                    if (arguments.size() <= form.formatArgument) continue;
                    const std::string format = argumentText(source, argumentStart(source, at, form.formatArgument));
                    std::vector<std::string> formats = literalChoices(format);
                    if (formats.empty()) {
                        // A format by name, by a parameter or a table's member, or a text made at run time.
                        static const std::regex kName(R"([A-Za-z_][A-Za-z_0-9]*)");
                        static const std::regex kMember(R"([A-Za-z_][A-Za-z_0-9]*(\.|->)([A-Za-z_][A-Za-z_0-9]*))");
                        std::smatch member;
                        if (std::regex_match(format, kName)) {
                            const std::string named = namedFormat(source, at, format);
                            formats = named.empty() ? parameterFormats(source, at, format)
                                                    : std::vector<std::string>{named};
                        } else if (std::regex_match(format, member, kMember)) {
                            formats = memberFormats(source, member.str(2));
                        }
                    }
                    for (const std::string& text : formats) {
                        calls.push_back({place, text});
                        // A format of no words of its own shows its literal
                        // values; a wide one is shown untranslated in any.
                        const bool wordless = !hasLatinWord(text) && !hasCyrillic(text);
                        for (std::size_t i = form.formatArgument + 1; i < arguments.size(); ++i) {
                            const std::string value = argumentText(source, argumentStart(source, at, i));
                            std::vector<std::string> shown = literalChoices(value);
                            if (shown.empty() && !arguments[i].empty()) shown = {arguments[i]};
                            const bool wide = !shown.empty() && value.find("L\"") != std::string::npos;
                            for (const std::string& literal : shown)
                                if (wordless || wide) calls.push_back({place, literal, !wide});
                        }
                    }
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

TEST(OperatorTexts, EveryInfoOrAboveIsRussianOrHasACatalogueEntry) {
    const auto entries = catalogue(readAll(kRoot + "/po/ru_RU.po"));
    ASSERT_GT(entries.size(), 100u);
    const auto calls = operatorTexts();
    ASSERT_GT(calls.size(), 450u) << "the search finds the log calls";
    std::size_t english = 0;
    for (const Call& call : calls) {
        if (hasCyrillic(call.text) || !hasLatinWord(call.text)) continue;
        // The file's own frame: the line between one run and the next.
        if (call.text.rfind("----------", 0) == 0) continue;
        const auto entry = entries.find(call.text);
        if (!call.lookedUp) {
            if (call.text.find(' ') == std::string::npos) continue;
            ADD_FAILURE() << call.place << ": \"" << call.text
                          << "\" is a wide literal value, which the daily log shows untranslated";
        } else if (entry == entries.end() || !hasCyrillic(entry->second)) {
            ADD_FAILURE() << call.place << ": no Russian text for \"" << call.text << "\"";
        } else {
            continue;
        }
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
