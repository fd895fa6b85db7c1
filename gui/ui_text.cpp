#include "gui/ui_text.h"

#include <algorithm>
#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <cwctype>
#include <sstream>

#include "base/text.h"

namespace frm {
namespace ui {

std::vector<int> boxAnswers(long style) {
    std::vector<int> answers;
    if (style & wxYES_NO) {
        answers = {wxID_YES, wxID_NO};
    } else if ((style & wxOK) || !(style & wxCANCEL)) {
        answers = {wxID_OK};
    }
    if (style & wxCANCEL) answers.push_back(wxID_CANCEL);
    return answers;
}

int cancelAnswer(long style) {
    const std::vector<int> answers = boxAnswers(style);
    for (const int answer : {wxID_NO, wxID_CANCEL})
        if (std::find(answers.begin(), answers.end(), answer) != answers.end()) return answer;
    return wxID_OK;
}

namespace {

const std::pair<int, const wchar_t*> kLabels[] = {
    {wxID_YES, L"Да"}, {wxID_NO, L"Нет"}, {wxID_OK, L"OK"}, {wxID_CANCEL, L"Отмена"}};

bool isExtensionPattern(const std::wstring& pattern) {
    return pattern.size() > 2 && pattern.compare(0, 2, L"*.") == 0 &&
           pattern.find_first_of(L"*?", 2) == std::wstring::npos;
}

std::wstring upperCase(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

/// "*.mp3;*.wav" -> "*.mp3;*.MP3;*.wav;*.WAV".
std::wstring withUpperCaseForms(const std::wstring& patterns) {
    std::vector<std::wstring> given;
    boost::algorithm::split(given, patterns, [](wchar_t c) { return c == L';'; });
    std::vector<std::wstring> result;
    for (const std::wstring& pattern : given) {
        result.push_back(pattern);
        if (!isExtensionPattern(pattern)) continue;
        const std::wstring upper = upperCase(pattern);
        if (std::find(given.begin(), given.end(), upper) == given.end()) result.push_back(upper);
    }
    return boost::algorithm::join(result, L";");
}

}  // namespace

std::wstring answerLabel(int answer) {
    for (const auto& label : kLabels)
        if (label.first == answer) return label.second;
    return {};
}

int answerOfLabel(const std::wstring& text) {
    for (const auto& label : kLabels)
        if (text == label.second) return label.first;
    return wxID_NONE;
}

std::wstring withUpperCasePatterns(const std::wstring& wildcard) {
    std::vector<std::wstring> fields;
    boost::algorithm::split(fields, wildcard, [](wchar_t c) { return c == L'|'; });
    if (fields.size() == 1) return withUpperCaseForms(wildcard);  // patterns only, no description
    // Descriptions and patterns alternate: "description|patterns|description|patterns".
    for (std::size_t i = 1; i < fields.size(); i += 2) fields[i] = withUpperCaseForms(fields[i]);
    return boost::algorithm::join(fields, L"|");
}

namespace {

/// Splits a word that is wider than the line at the last separator that
/// still fits, else at the last character that fits (always one at least).
std::size_t breakInWord(const std::wstring& word, int maxWidth,
                        const std::function<int(const std::wstring&)>& width) {
    std::size_t fits = 1;
    while (fits < word.size() && width(word.substr(0, fits + 1)) <= maxWidth) ++fits;
    if (fits >= word.size()) return word.size();
    for (std::size_t i = fits; i > 1; --i)
        if (word[i - 1] == L'/' || word[i - 1] == L'\\') return i;
    return fits;
}

std::wstring wrapLine(const std::wstring& line, int maxWidth,
                      const std::function<int(const std::wstring&)>& width) {
    std::vector<std::wstring> words;
    boost::algorithm::split(words, line, [](wchar_t c) { return c == L' '; });
    std::wstring out, current;
    const auto flush = [&] {
        if (!out.empty()) out += L'\n';
        out += current;
        current.clear();
    };
    for (std::wstring word : words) {
        const std::wstring joined = current.empty() ? word : current + L' ' + word;
        if (width(joined) <= maxWidth || (current.empty() && word.empty())) {
            current = joined;
            continue;
        }
        if (!current.empty()) flush();
        while (width(word) > maxWidth && word.size() > 1) {
            const std::size_t cut = breakInWord(word, maxWidth, width);
            current = word.substr(0, cut);
            flush();
            word.erase(0, cut);
        }
        current = word;
    }
    flush();
    return out;
}

}  // namespace

std::wstring wrapText(const std::wstring& text, int maxWidth,
                      const std::function<int(const std::wstring&)>& width) {
    std::vector<std::wstring> lines;
    boost::algorithm::split(lines, text, [](wchar_t c) { return c == L'\n'; });
    std::wstring out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += L'\n';
        out += wrapLine(lines[i], maxWidth, width);
    }
    return out;
}

ScriptedAnswers parseAnswers(const std::string& utf8) {
    std::string content = utf8;
    if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);
    ScriptedAnswers answers;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        answers.emplace(base::fromUtf8(line.substr(0, tab)), base::fromUtf8(line.substr(tab + 1)));
    }
    return answers;
}

std::string boxLine(const std::wstring& caption, const std::wstring& text, const std::wstring& answer) {
    std::wstring escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;  // CR LF is one break
        if (c == L'\n' || c == L'\r')
            escaped += L"\\n";
        else if (c == L'\t')
            escaped += L"\\t";
        else
            escaped += c;
    }
    return base::toUtf8(caption + L'\t' + escaped + L'\t' + answer) + '\n';
}

}  // namespace ui
}  // namespace frm
