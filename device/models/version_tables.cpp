#include "device/models/version_tables.h"

#include <cctype>

#include "base/check.h"
#include "base/log.h"

namespace device {

namespace {

template <class Value>
struct Row {
    int index;
    Value value;
};

// A row serves every index up to its own; rows stand in ascending order.
constexpr Row<const wchar_t*> kLabels[] = {
    {0, L"Unknown"},         {1, L"O510_1.01.69>="}, {2, L"O510_1.01.70"},  {3, L"O510_1.01.71"},
    {4, L"O510_1.01.71.2"},  {5, L"O510_1.01.72<="}, {6, L"O510_2.00.71"},  {7, L"O510_2.00.71"},
    {8, L"O510_2.01.72<="},  {9, L"O510_3.00.01"},   {10, L"O610_1.00.33"}, {11, L"O610_1.00.40"},
    {12, L"O610_1.00.56"},   {13, L"O610_1.00.59"},  {14, L"O610_1.01.63"}, {15, L"O610_1.01.69"},
    {16, L"O610_1.02.79"},   {17, L"O61x_1.01.80"},  {18, L"V3_A110"},      {19, L"V3_A111"},
    {20, L"V3_AT"},          {21, L"V3_Higher"},
};

constexpr Row<std::uint16_t> kSpans[] = {{0, 0}, {1, 2}, {2, 10}, {18, 21}, {21, 21}};

template <class Value, std::size_t N>
Value lookup(const Row<Value> (&table)[N], int index) {
    debug::throwIfFalse(index < kVersionIndexCount, "device::get", L"Используется некорректная версия");
    for (const Row<Value>& row : table)
        if (row.index >= index) return row.value;
    base::LogPlace("device::get").warn(L"Версия %1% не найдена", index);
    return Value();
}

int orvel510Index(const Version& v) {
    if (v.major == 1) {
        if (v.build < 70) return 1;
        if (v.build == 70) return 2;
        if (v.build == 71) return v.revision == 2 ? 4 : 3;
        return 5;
    }
    if (v.major == 2 && v.minor == 0) return v.revision < 17105 ? 6 : 7;
    return 8;
}

int orvel610Index(const Version& v) {
    if (v.major < 1 || v.major > 3) return 21;
    struct Band {
        unsigned below;
        int index;
    };
    static constexpr Band kBands[] = {{33, 9},  {40, 10}, {56, 11}, {59, 12},  {63, 13},  {69, 14},
                                      {73, 15}, {80, 16}, {110, 17}, {111, 18}, {112, 19}};
    for (const Band& band : kBands)
        if (v.build < band.below) return band.index;
    return 21;
}

}  // namespace

std::wstring get(int index) {
    const wchar_t* label = lookup(kLabels, index);
    return label != nullptr ? label : L"";
}

std::uint16_t getVersionSpan(int index) { return lookup(kSpans, index); }

int versionIndexOf(const Version& version) {
    const std::wstring model = toText(version.typeCode);
    if (model == L"Orvel-510") return orvel510Index(version);
    if (model == L"Orvel-610" || model == L"Orvel-611") return orvel610Index(version);
    if (model == L"Orvel-45" || model == L"Orvel-Lan") return 20;
    return 0;
}

int initialVersionIndex(std::uint64_t typeCode) {
    switch (typeCode) {
        case kTypeOrvel510Old:
        case kTypeOrvel510:
            return 8;
        case kTypeOrvel610:
        case kTypeOrvel611:
            return 21;
        case kTypeOrvel45:
        case kTypeOrvelLan:
            return 20;
        default:
            return 0;
    }
}

int findIgnoringCase(const std::string& reply, const std::string& text) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (std::size_t start = 0; start + text.size() <= reply.size(); ++start) {
        std::size_t i = 0;
        while (i < text.size() && lower(reply[start + i]) == lower(text[i])) ++i;
        if (i == text.size()) return static_cast<int>(start);
    }
    return -1;
}

int findOff(const std::string& reply) { return findIgnoringCase(reply, "Off"); }

}  // namespace device
