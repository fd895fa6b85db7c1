#include "device/version.h"

#include <cctype>
#include <limits>


namespace device {

namespace {

struct Model {
    std::uint64_t code;
    const wchar_t* name;
};

// toFirmwareType takes the first entry of a name, so the newer Orvel-510 code
// stands before the older one.
constexpr Model kModels[] = {
    {kTypeOrvel510, L"Orvel-510"},     {kTypeOrvel510Old, L"Orvel-510"},
    {kTypeOrvel610, L"Orvel-610"},     {kTypeOrvel610Pss, L"Orvel-610-PSS"},
    {kTypeOrvel610Lc, L"Orvel-610-LC"}, {kTypeOrvel611, L"Orvel-611"},
    {kTypeOrvel45, L"Orvel-45"},       {kTypeOrvelLan, L"Orvel-Lan"},
    {kTypeTovik30, L"Tovik-30"},
};

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One unsigned decimal number the way "%u" reads it, without its quirks:
// leading white space is skipped, then at least one digit, and the value must
// fit in 32 bits (no sign, no wrap-around).
bool readNumber(const std::string& text, std::size_t& pos, unsigned& value) {
    while (pos < text.size() && isBlank(text[pos])) ++pos;
    const std::size_t start = pos;
    std::uint64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        number = number * 10 + static_cast<unsigned>(text[pos] - '0');
        if (number > std::numeric_limits<unsigned>::max()) return false;
        ++pos;
    }
    if (pos == start) return false;
    value = static_cast<unsigned>(number);
    return true;
}

// The build date part, trimmed, and the word search in it: plain ASCII
// (the classic locale's rules) without the locale facets, which cost more
// than the rest of the parse on a path every datagram may take.
std::string trimmed(const std::string& text, std::size_t from) {
    std::size_t end = text.size();
    while (from < end && isBlank(text[from])) ++from;
    while (end > from && isBlank(text[end - 1])) --end;
    return text.substr(from, end - from);
}

bool containsIgnoringCase(const std::string& text, const char* word) {
    const std::size_t length = std::char_traits<char>::length(word);
    for (std::size_t start = 0; start + length <= text.size(); ++start) {
        std::size_t i = 0;
        while (i < length && std::tolower(static_cast<unsigned char>(text[start + i])) == word[i]) ++i;
        if (i == length) return true;
    }
    return false;
}

// toFirmwareType for the first `length` bytes of a narrow text, without
// making a wide copy. Model names are plain ASCII, so a byte above 0x7F
// cannot match any of them.
std::uint64_t firmwareTypeOf(const std::string& text, std::size_t length) {
    for (const Model& model : kModels) {
        std::size_t i = 0;
        while (i < length && model.name[i] != L'\0' &&
               static_cast<wchar_t>(static_cast<unsigned char>(text[i])) == model.name[i])
            ++i;
        if (i == length && model.name[i] == L'\0') return model.code;
    }
    return 0;
}

}  // namespace

namespace {

/// Everything but the text itself; false when the text does not parse.
bool parseVersionFields(const std::string& text, Version& parsed) {
    std::size_t pos = 0;
    while (pos < text.size() && !isBlank(text[pos])) ++pos;
    if (pos == 0 || pos == text.size()) return false;
    const std::size_t modelLength = pos;

    unsigned numbers[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        if (!readNumber(text, pos, numbers[i])) return false;
    }

    parsed.typeCode = firmwareTypeOf(text, modelLength);
    parsed.major = numbers[0];
    parsed.minor = numbers[1];
    parsed.build = numbers[2];
    parsed.revision = numbers[3];
    parsed.buildDate = trimmed(text, pos);
    parsed.debug = containsIgnoringCase(parsed.buildDate, "debug");
    parsed.emulator = containsIgnoringCase(parsed.buildDate, "emul");
    return true;
}

}  // namespace

bool parseVersion(const std::string& text, Version& version) {
    Version parsed;
    if (!parseVersionFields(text, parsed)) return false;
    parsed.text = text;
    version = std::move(parsed);
    return true;
}

bool parseVersion(std::string&& text, Version& version) {
    Version parsed;
    if (!parseVersionFields(text, parsed)) return false;
    parsed.text = std::move(text);
    version = std::move(parsed);
    return true;
}

std::wstring toText(std::uint64_t typeCode) {
    for (const Model& model : kModels)
        if (model.code == typeCode) return model.name;
    return L"Unsupported";
}

std::uint64_t toFirmwareType(const std::wstring& modelName) {
    for (const Model& model : kModels)
        if (modelName == model.name) return model.code;
    return 0;
}

}  // namespace device
