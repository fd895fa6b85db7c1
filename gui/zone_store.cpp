#include "gui/zone_store.h"

#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/trim.hpp>

#include "base/hardware_address.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"

namespace frm {

namespace {

using boost::property_tree::wptree;

const wchar_t* const kCollection = L"zone_collection";

/// Comments and attributes come out of the reader as children with these
/// keys; they are no zones and no addresses.
bool isMarkup(const std::wstring& key) { return !key.empty() && key[0] == L'<'; }

std::wstring trimmed(const std::wstring& text) { return boost::algorithm::trim_copy(text); }

/// "true", "false" or a decimal number (not 0: true).
bool parseFlag(const std::wstring& text, bool& value) {
    const std::wstring word = trimmed(text);
    if (word == L"true" || word == L"false") {
        value = word == L"true";
        return true;
    }
    if (word.empty()) return false;
    std::size_t i = word[0] == L'-' || word[0] == L'+' ? 1 : 0;
    if (i == word.size()) return false;
    bool nonZero = false;
    for (; i < word.size(); ++i) {
        if (word[i] < L'0' || word[i] > L'9') return false;
        nonZero = nonZero || word[i] != L'0';
    }
    value = nonZero;
    return true;
}

/// The decimal digits of the text, whatever stands between them; false
/// when there is none or their number needs more than 32 bits.
bool parseVolume(const std::wstring& text, std::uint32_t& value) {
    std::uint64_t number = 0;
    bool digit = false;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') continue;
        digit = true;
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
        if (number > 0xFFFFFFFFull) return false;
    }
    if (!digit) return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

class ZoneReader {
public:
    ZoneReader(const std::wstring& path, ZoneBuilder& builder) : m_path(path), m_builder(builder) {}

    void readList(const wptree& list) {
        for (const auto& child : list) {
            if (isMarkup(child.first)) continue;
            readZone(child.second);
        }
    }

    /// The device addresses left out, and the same by zone in the
    /// operator's words.
    int skipped() const { return m_skipped; }
    const std::vector<std::wstring>& damage() const { return m_damage; }

private:
    void readZone(const wptree& node) {
        ZoneEntry zone;
        if (const auto name = field(node, L"name", zone.name)) zone.name = name->data();
        if (const auto flag = field(node, L"enableVolume", zone.name))
            if (!parseFlag(flag->data(), zone.enableVolume))
                badValue(zone.name, L"enableVolume", flag->data());
        if (const auto volume = field(node, L"volume", zone.name))
            if (!parseVolume(volume->data(), zone.volume)) badValue(zone.name, L"volume", volume->data());
        int damaged = 0;
        if (const auto devices = field(node, L"devices", zone.name)) {
            for (const auto& address : *devices) {
                if (isMarkup(address.first)) continue;
                const std::string text = base::toUtf8(trimmed(address.second.data()));
                net::HardwareAddress parsed(0u, 0u);
                if (!net::HardwareAddress::parse(text, parsed)) {
                    LOG_INFO(L"В файле зон '%1%' у зоны '%2%' пропущен неверный адрес устройства '%3%'",
                             m_path, zone.name, address.second.data());
                    ++damaged;
                    continue;
                }
                zone.addresses.push_back(text);
            }
        }
        if (damaged > 0) {
            m_damage.push_back(L"в зоне '" + zone.name + L"' пропущено адресов устройств: " +
                               std::to_wstring(damaged));
            m_skipped += damaged;
        }
        m_builder.enterZone(zone);
        if (const auto zones = field(node, L"zones", zone.name)) readList(*zones);
        m_builder.leaveZone();
    }

    boost::optional<const wptree&> field(const wptree& node, const wchar_t* key,
                                         const std::wstring& zone) const {
        const auto found = node.get_child_optional(key);
        if (!found)
            LOG_WARN(L"В файле зон '%1%' у зоны '%2%' нет поля '%3%': взято значение по умолчанию", m_path,
                     zone, key);
        return found;
    }

    void badValue(const std::wstring& zone, const wchar_t* key, const std::wstring& value) const {
        LOG_WARN(
            L"В файле зон '%1%' у зоны '%2%' неверное значение '%3%' поля '%4%': взято значение по умолчанию",
            m_path, zone, value, key);
    }

    const std::wstring& m_path;
    ZoneBuilder& m_builder;
    int m_skipped = 0;
    std::vector<std::wstring> m_damage;
};

}  // namespace

bool readZoneFile(const std::wstring& path, wptree& collection) {
    wptree tree;
    if (!storage::load(path, tree)) {
        LOG_EXTERN(L"Skip loading zones");
        return false;
    }
    const auto found = tree.get_child_optional(kCollection);
    if (!found) {
        storage::setAside(path, "no element zone_collection");
        LOG_EXTERN(L"Skip loading zones");
        return false;
    }
    collection.swap(*found);
    return true;
}

void readZones(const wptree& collection, const std::wstring& path, ZoneBuilder& builder) {
    ZoneReader reader(path, builder);
    reader.readList(collection);
    // The next save writes the zones without them.
    if (reader.skipped() > 0)
        storage::keepCopy(path, std::to_string(reader.skipped()) + " entries skipped",
                          boost::algorithm::join(reader.damage(), L"; "));
}

ZoneFileWriter::ZoneFileWriter(wptree& collection) : m_lists{&collection} {}

void ZoneFileWriter::enterZone(const ZoneEntry& zone) {
    wptree& node = m_lists.back()->add_child(L"zone", wptree());
    node.add(L"name", zone.name);
    node.add(L"enableVolume", zone.enableVolume ? L"true" : L"false");
    node.add(L"volume", std::to_wstring(zone.volume));
    wptree& devices = node.add_child(L"devices", wptree());
    for (const std::string& address : zone.addresses)
        devices.add(L"hardware_address", base::fromUtf8(address));
    m_lists.push_back(&node.add_child(L"zones", wptree()));
}

void ZoneFileWriter::leaveZone() {
    if (m_lists.size() > 1) m_lists.pop_back();
}

}  // namespace frm
