#include "device/memory/memory_image.h"

#include <cstring>

#include "base/crc.h"
#include "base/exception.h"

namespace device::memory {

namespace {

const char kMagic[4] = {'S', 'V', 'A', 'M'};

void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint16_t get16(const std::string& in, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(in[at]) |
                                      static_cast<unsigned char>(in[at + 1]) << 8);
}

std::uint32_t get32(const std::string& in, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(in[at + i]);
    return value;
}

// Titles are checked before they reach a record (isValidTitle keeps them in
// the basic plane and within 64 characters); anything longer is cut here
// only as a last guard against writing past the record.
void putTitle(std::string& out, const std::wstring& title) {
    for (std::size_t i = 0; i < kTitleUnits; ++i) {
        const std::uint32_t code = i < title.size() ? static_cast<std::uint32_t>(title[i]) : 0;
        put16(out, static_cast<std::uint16_t>(code > 0xFFFF ? '?' : code));
    }
}

std::wstring getTitle(const std::string& in, std::size_t at) {
    std::wstring title;
    for (std::size_t i = 0; i < kTitleUnits; ++i) {
        const std::uint16_t unit = get16(in, at + 2 * i);
        if (unit == 0) break;
        title.push_back(static_cast<wchar_t>(unit));
    }
    return title;
}

}  // namespace

void throwDamaged(const std::wstring& what) {
    throw exception::IncorrectFormat(L"Образ аудио памяти повреждён: " + what);
}

bool isKnownLayout(std::uint16_t layout) { return layout >= kLayout510 && layout <= kLayout611; }

std::uint32_t memoryCrc(const std::string& bytes) { return crc32Mpeg2(bytes.data(), bytes.size()); }

std::uint32_t Catalogue::catalogueSize() const {
    return static_cast<std::uint32_t>(kFragmentRecordSize * fragments.size() + kScenarioRecordSize * scenarios.size());
}

RootRecord parseRoot(const std::string& bytes) {
    if (bytes.size() < kRootSize) throwDamaged(L"короткая корневая запись");
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) throw exception::UnknownVersionOfAudioMemory();
    RootRecord root;
    root.layout = get16(bytes, 4);
    if (!isKnownLayout(root.layout)) throw exception::UnknownVersionOfAudioMemory();
    root.fragments = get16(bytes, 6);
    root.scenarios = get16(bytes, 8);
    root.catalogueSize = get32(bytes, 12);
    root.imageSize = get32(bytes, 16);
    root.crc = get32(bytes, 20);
    if (get16(bytes, 10) != 0 ||
        root.catalogueSize != kFragmentRecordSize * root.fragments + kScenarioRecordSize * root.scenarios)
        throwDamaged(L"размер каталога");
    if (root.imageSize < kRootSize + root.catalogueSize) throwDamaged(L"размер образа");
    return root;
}

Catalogue parseCatalogue(const RootRecord& root, const std::string& bytes) {
    const std::size_t end = kRootSize + root.catalogueSize;
    if (bytes.size() < end) throwDamaged(L"короткий каталог");
    std::uint32_t crc = crc32Mpeg2(bytes.data(), 20);
    crc = crc32Mpeg2(bytes.data() + kRootSize, root.catalogueSize, crc);
    if (crc != root.crc) throwDamaged(L"контрольная сумма каталога");

    Catalogue catalogue;
    catalogue.layout = root.layout;
    catalogue.imageSize = root.imageSize;
    std::size_t at = kRootSize;
    std::uint64_t expected = end;  // data follow the catalogue back to back
    for (unsigned i = 0; i < root.fragments; ++i, at += kFragmentRecordSize) {
        FragmentRecord record;
        record.id = get16(bytes, at);
        record.offset = get32(bytes, at + 4);
        record.size = get32(bytes, at + 8);
        record.crc = get32(bytes, at + 12);
        record.title = getTitle(bytes, at + 16);
        if (record.offset != expected || record.size == 0) throwDamaged(L"расположение фрагментов");
        expected += record.size;
        catalogue.fragments.push_back(record);
    }
    if (expected != root.imageSize) throwDamaged(L"размер образа");
    for (unsigned i = 0; i < root.scenarios; ++i, at += kScenarioRecordSize) {
        ScenarioInfo scenario;
        scenario.id = get16(bytes, at);
        scenario.number = get16(bytes, at + 2);
        scenario.gongId = get16(bytes, at + 4);
        scenario.messageId = get16(bytes, at + 6);
        scenario.period = get16(bytes, at + 8);
        scenario.title = getTitle(bytes, at + 12);
        catalogue.scenarios.push_back(scenario);
    }
    return catalogue;
}

std::string encodeCatalogue(std::uint16_t layout, const std::vector<FragmentRecord>& fragments,
                            const std::vector<ScenarioInfo>& scenarios) {
    const std::uint32_t catalogueSize =
        static_cast<std::uint32_t>(kFragmentRecordSize * fragments.size() + kScenarioRecordSize * scenarios.size());
    std::uint32_t imageSize = static_cast<std::uint32_t>(kRootSize) + catalogueSize;
    for (const auto& fragment : fragments) imageSize += fragment.size;

    std::string out;
    out.reserve(kRootSize + catalogueSize);
    out.append(kMagic, sizeof kMagic);
    put16(out, layout);
    put16(out, static_cast<std::uint16_t>(fragments.size()));
    put16(out, static_cast<std::uint16_t>(scenarios.size()));
    put16(out, 0);
    put32(out, catalogueSize);
    put32(out, imageSize);
    put32(out, 0);  // the CRC, set below

    std::uint32_t offset = static_cast<std::uint32_t>(kRootSize) + catalogueSize;
    for (const auto& fragment : fragments) {
        put16(out, fragment.id);
        put16(out, 0);
        put32(out, offset);
        put32(out, fragment.size);
        put32(out, fragment.crc);
        putTitle(out, fragment.title);
        offset += fragment.size;
    }
    for (const auto& scenario : scenarios) {
        put16(out, scenario.id);
        put16(out, scenario.number);
        put16(out, scenario.gongId);
        put16(out, scenario.messageId);
        put16(out, scenario.period);
        put16(out, 0);
        putTitle(out, scenario.title);
    }
    std::uint32_t crc = crc32Mpeg2(out.data(), 20);
    crc = crc32Mpeg2(out.data() + kRootSize, catalogueSize, crc);
    for (int i = 0; i < 4; ++i) out[20 + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
    return out;
}

Image parseImage(const std::string& bytes) {
    Image image;
    const RootRecord root = parseRoot(bytes);
    if (bytes.size() != root.imageSize) throwDamaged(L"длина файла");
    image.catalogue = parseCatalogue(root, bytes);
    for (const auto& fragment : image.catalogue.fragments) {
        auto data = std::make_shared<const std::string>(bytes.substr(fragment.offset, fragment.size));
        if (memoryCrc(*data) != fragment.crc) throwDamaged(L"контрольная сумма фрагмента");
        image.data.push_back(std::move(data));
    }
    return image;
}

std::string encodeImage(std::uint16_t layout, const std::vector<FragmentRecord>& fragments,
                        const std::vector<ScenarioInfo>& scenarios,
                        const std::vector<std::shared_ptr<const std::string>>& data) {
    std::vector<FragmentRecord> records = fragments;
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].size = static_cast<std::uint32_t>(data.at(i)->size());
        records[i].crc = memoryCrc(*data[i]);
    }
    std::string out = encodeCatalogue(layout, records, scenarios);
    for (const auto& bytes : data) out += *bytes;
    return out;
}

}  // namespace device::memory
