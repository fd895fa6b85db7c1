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

/// The texts of every log call at NOTICE or above: the format, and for a
/// format without words of its own ("%1%") the literal values it shows.
std::vector<Call> operatorTexts() {
    static const std::regex kCall(
        R"((LOG_(NOTICE|WARN|ERROR|FATAL)\s*\()|(\.(notice|warn|error|fatal)\s*\()|)"
        R"((dbg_(puts|printf)\s*\(\s*(NOTICE|WARN|ERROR|FATAL)\s*,)|)"
        R"((\.at\s*\(\s*(::)?(base::)?Log::(NOTICE|WARN|ERROR|FATAL)\s*,))");
    std::vector<Call> calls;
    for (const char* layer : {"base", "os", "device", "audio", "scheduler", "gui", "app"}) {
        for (fs::recursive_directory_iterator it(kRoot + "/" + layer), end; it != end; ++it) {
            const std::string path = it->path().string();
            const std::string extension = it->path().extension().string();
            if (extension != ".cpp" && extension != ".h") continue;
            const std::string source = readAll(path);
            for (std::sregex_iterator m(source.begin(), source.end(), kCall), none; m != none; ++m) {
                const std::size_t at = static_cast<std::size_t>(m->position() + m->length());
                std::size_t first = at;
                while (first < source.size() && std::isspace(static_cast<unsigned char>(source[first]))) ++first;
                if (source.compare(first, 2, "L\"") != 0 && source[first] != '"') continue;  // not a literal format
                const auto arguments = literalArguments(source, at);
                const std::string line =
                    std::to_string(std::count(source.begin(), source.begin() + static_cast<long>(at), '\n') + 1);
                const std::string place = path.substr(kRoot.size() + 1) + ":" + line;
                calls.push_back({place, arguments[0]});
                if (!hasLatinWord(arguments[0]) && !hasCyrillic(arguments[0]))
                    for (std::size_t i = 1; i < arguments.size(); ++i)
                        if (!arguments[i].empty()) calls.push_back({place, arguments[i]});
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
