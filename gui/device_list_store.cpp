#include "gui/device_list_store.h"

#include <unordered_set>

#include <boost/algorithm/string/trim.hpp>
#include <boost/asio/ip/address_v4.hpp>

#include "base/dbg.h"
#include "base/ip_address.h"
#include "base/log.h"
#include "base/storage.h"
#include "base/text.h"
#include "device/device_base.h"
#include "device/models/device_collection.h"
#include "device/version.h"

namespace frm {

namespace {

using boost::property_tree::wptree;

const wchar_t* const kRoot = L"device_collection";
const wchar_t* const kDefaultType = L"Orvel-610";

std::string dotted(std::uint32_t address) { return boost::asio::ip::address_v4(address).to_string(); }

/// The text of a child element, trimmed; empty when there is none.
std::wstring fieldText(const wptree& node, const wchar_t* key) {
    const auto found = node.get_child_optional(key);
    return found ? boost::algorithm::trim_copy(found->data()) : std::wstring();
}

/// Dotted quad of an address text, "0.0.0.0" for an empty or bad one; false
/// for a text that is no address as a whole (the file's damage, told once
/// for the file): "1.2.3.4.5" is no 1.2.3.4. Leading zeros, which earlier
/// versions wrote as a device reported them, read as decimal ("10.0.0.04").
bool normalisedIp(const std::wstring& text, std::string& ip) {
    ip = "0.0.0.0";
    if (text.empty()) return true;
    std::uint32_t value = 0;
    if (!net::parseStoredIp4Address(base::toUtf8(text), &value)) return false;
    ip = dotted(value);
    return true;
}

/// The first few examples of a kind of damage, and how many there were.
struct DamageTally {
    static constexpr int kExamples = 3;
    int count = 0;
    std::wstring examples;

    void add(const std::wstring& example) {
        if (count < kExamples) examples += (count == 0 ? L"" : L", ") + example;
        ++count;
    }
    std::wstring examplesText() const { return count > kExamples ? examples + L", …" : examples; }
};

}  // namespace

bool readDeviceList(const std::wstring& path, std::vector<DeviceListEntry>& entries) {
    wptree tree;
    if (!storage::load(path, tree)) {
        dbg_puts(EXTERN, "Device collection not loaded.");
        return false;
    }
    const auto root = tree.get_child_optional(kRoot);
    if (!root) {
        storage::setAside(path, "no element device_collection");
        return false;
    }
    std::unordered_set<std::string> seen;
    int repeated = 0;
    int damaged = 0;
    DamageTally badIps;
    for (const auto& child : *root) {
        if (!child.first.empty() && child.first[0] == L'<') continue;  // a comment or an attribute
        const wptree& node = child.second;
        const auto name = node.get_child_optional(L"name");
        const std::wstring title = name ? name->data() : std::wstring();
        const std::wstring hardware = fieldText(node, L"hardware_address");
        DeviceListEntry entry;
        entry.type = fieldText(node, L"type");
        if (entry.type.empty()) entry.type = kDefaultType;
        // An entry the collection would refuse is the file's damage, told
        // here with the file's name, not as the collection's error.
        const wchar_t* why = nullptr;
        if (hardware.empty() || !net::HardwareAddress::parse(base::toUtf8(hardware), entry.address))
            why = L"неверный аппаратный адрес";
        else if ((device::toFirmwareType(entry.type) &
                  (device::DeviceCollection::kOrvelBit | device::DeviceCollection::kTovikBit)) == 0)
            why = L"неизвестный тип устройства";
        if (why != nullptr) {
            LOG_DEBUG(L"skip device: name '%1%', hardware '%2%'", title, hardware);
            LOG_INFO(L"Устройство '%1%' (адрес '%2%', тип '%3%') в файле '%4%' пропущено: %5%", title,
                     hardware, entry.type, path, why);
            ++damaged;
            continue;
        }
        if (!seen.insert(entry.address.toCharArray()).second) {
            // The collection takes a device once; the later entry is dropped.
            LOG_INFO(L"Устройство '%1%' (%2%) повторяется в файле '%3%' и пропущено", title, hardware, path);
            ++repeated;
            continue;
        }
        entry.title = title;
        const std::wstring ip = fieldText(node, L"ip");
        if (!normalisedIp(ip, entry.ip)) {
            // The device stays; its address comes with its next state packet.
            LOG_INFO(L"Устройство '%1%' (%2%) в файле '%3%': некорректный IP адрес '%4%'", title, hardware, path,
                     ip);
            badIps.add(L"'" + ip + L"'");
        }
        LOG_DEBUG(L"load device: name '%1%', hardware '%2%'", title, hardware);
        entries.push_back(entry);
    }
    if (repeated > 0)
        LOG_WARN(L"В файле устройств '%1%' повторяющиеся записи пропущены: %2%", path, repeated);
    // The shutdown save writes only the devices that loaded.
    // The shutdown save writes "0.0.0.0" for an address that was no address.
    std::wstring damage;
    if (damaged > 0) damage = L"пропущено повреждённых записей устройств: " + std::to_wstring(damaged);
    if (badIps.count > 0) {
        if (!damage.empty()) damage += L"; ";
        damage += L"некорректных IP адресов: " + std::to_wstring(badIps.count) + L", например " +
                  badIps.examplesText();
    }
    if (!damage.empty())
        storage::keepCopy(path,
                          std::to_string(damaged) + " entries skipped, " + std::to_string(badIps.count) +
                              " bad addresses",
                          damage);
    return true;
}

wptree deviceListTree(const std::vector<boost::shared_ptr<device::DeviceBase>>& devices) {
    wptree tree;
    wptree& root = tree.add_child(kRoot, wptree());
    for (const auto& device : devices) {
        const std::string hardware = device->getHardwareAddress().toCharArray();
        const net::IpAndPort endpoint = device->getIp();
        const net::Ip4Address& address = endpoint;
        wptree& node = root.add_child(L"device", wptree());
        node.add(L"hardware_address", base::toWide(hardware));
        node.add(L"type", device->getFirmwareVersionTypeText());
        node.add(L"name", device->getTitle());
        node.add(L"ip",
                 base::toWide(address.isValid() ? dotted(address.getAddress()) : std::string("0.0.0.0")));
        // Built every few seconds for the background saver: below DEBUG.
        LOG_TRACE2(L"save device: name '%1%', hardware '%2%'", device->getTitle(), hardware);
    }
    return tree;
}

void loadDeviceCollection(const std::wstring& path, device::DeviceCollection& collection,
                          const std::function<std::uint32_t()>& nextId) {
    std::vector<DeviceListEntry> entries;
    readDeviceList(path, entries);
    for (const DeviceListEntry& entry : entries)
        collection.addDevice(nextId(), entry.type, entry.address, net::Ip4Address(entry.ip), entry.title);
}

void saveDeviceCollection(const std::wstring& path, device::DeviceCollection& collection) {
    storage::save(path, deviceListTree(collection.getDevices()));
}

}  // namespace frm
