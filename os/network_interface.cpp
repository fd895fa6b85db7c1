#include "os/network_interface.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sstream>

#include "base/exception.h"
#include "base/files.h"
#include "base/log.h"
#include "base/system_error_text.h"
#include "base/text.h"

namespace os {

namespace {

std::string dottedOf(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? text : std::string();
}

/// Host-order number of a dotted quad; false for anything else.
bool numberOf(const std::string& text, std::uint32_t& number) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    number = ntohl(address.s_addr);
    return true;
}

/// The route table of the calling thread's network namespace (a thread may
/// have joined another one than the process's first thread).
std::string readRouteTable() {
    std::string table;
    if (base::tryReadFile(L"/proc/thread-self/net/route", table) == 0) return table;
    if (base::tryReadFile(L"/proc/net/route", table) == 0) return table;
    LOG_DEBUG(L"The route table can't be read: no gateways are known");
    return {};
}

}  // namespace

std::map<std::string, std::string> parseDefaultGateways(const std::string& routeTable) {
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT,
    // addresses as hexadecimal numbers of the bytes in memory order.
    std::map<std::string, std::string> gateways;
    std::map<std::string, unsigned long> metrics;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) continue;
        try {
            const unsigned long flagBits = std::stoul(flags, nullptr, 16);
            if (std::stoul(destination, nullptr, 16) != 0 || std::stoul(mask, nullptr, 16) != 0) continue;
            if ((flagBits & RTF_UP) == 0 || (flagBits & RTF_GATEWAY) == 0) continue;
            const unsigned long metricValue = std::stoul(metric);
            in_addr address{};
            address.s_addr = static_cast<in_addr_t>(std::stoul(gateway, nullptr, 16));
            char text[INET_ADDRSTRLEN] = {};
            if (!inet_ntop(AF_INET, &address, text, sizeof text)) continue;
            const auto known = metrics.find(name);
            if (known != metrics.end() && known->second <= metricValue) continue;
            metrics[name] = metricValue;
            gateways[name] = text;
        } catch (const std::exception&) {
            continue;  // a line that is no route
        }
    }
    return gateways;
}

bool isInSubnet(const std::string& address, const std::string& ip, const std::string& mask) {
    std::uint32_t a = 0, i = 0, m = 0;
    if (!numberOf(address, a) || !numberOf(ip, i) || !numberOf(mask, m)) return false;
    return (a & m) == (i & m);
}

std::string deviceOf(const std::wstring& description) {
    const std::string name = base::toUtf8(description);
    return name.substr(0, name.find(':'));
}

std::vector<NetworkInterface> getNetworkInterfaceList() {
    std::vector<NetworkInterface> list;
    ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0) {
        LOG_WARN(L"The list of network interfaces can't be read: %1%", base::errnoForOperator(errno));
        return list;
    }
    const auto gateways = parseDefaultGateways(readRouteTable());
    for (const ifaddrs* entry = entries; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        NetworkInterface record;
        record.description = base::fromUtf8(entry->ifa_name ? entry->ifa_name : "");
        record.ip = dottedOf(entry->ifa_addr);
        record.mask = dottedOf(entry->ifa_netmask);
        if ((entry->ifa_flags & IFF_BROADCAST) != 0) record.broadcast = dottedOf(entry->ifa_broadaddr);
        record.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
        const auto gateway = gateways.find(deviceOf(record.description));
        if (gateway != gateways.end()) record.gateway = gateway->second;
        list.push_back(std::move(record));
    }
    freeifaddrs(entries);
    return list;
}

bool hasNetworkInterface(const std::string& address) {
    for (const auto& record : getNetworkInterfaceList())
        if (record.ip == address) return true;
    return false;
}

std::size_t chooseInterface(const std::vector<NetworkInterface>& list, const std::string& savedAddress,
                            const std::wstring& savedDescription) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (savedAddress.empty() || list[i].ip != savedAddress) continue;
        if (!savedDescription.empty() && list[i].description != savedDescription)
            LOG_INFO(L"The interface with ip '%1%' is '%2%', not the saved '%3%'; the address decides",
                     savedAddress, list[i].description, savedDescription);
        return i;
    }
    if (!savedDescription.empty()) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!list[i].up || list[i].description != savedDescription) continue;
            LOG_INFO(L"No interface has the saved ip '%1%'; the interface '%2%' with ip '%3%' is taken by its name",
                     savedAddress, savedDescription, list[i].ip);
            return i;
        }
    }
    if (list.empty()) {
        LOG_INFO(L"No network interface to choose (saved ip '%1%', interface '%2%')", savedAddress,
                 savedDescription);
        return 0;
    }
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].up) {
            chosen = i;
            break;
        }
    }
    if (list[chosen].up)
        LOG_INFO(L"Neither the saved ip '%1%' nor the interface '%2%' is found; taken the first working interface "
                 L"'%3%' with ip '%4%'",
                 savedAddress, savedDescription, list[chosen].description, list[chosen].ip);
    else
        LOG_INFO(L"Neither the saved ip '%1%' nor the interface '%2%' is found; taken the first interface '%3%' "
                 L"with ip '%4%'",
                 savedAddress, savedDescription, list[chosen].description, list[chosen].ip);
    return chosen;
}

std::string nameToIp(const std::string& savedAddress, const std::wstring& savedDescription) {
    const auto list = getNetworkInterfaceList();
    const std::size_t chosen = chooseInterface(list, savedAddress, savedDescription);
    return chosen < list.size() ? list[chosen].ip : std::string();
}

NetworkInterface getNetworkInterfaceByIp(const std::string& address) {
    for (auto& record : getNetworkInterfaceList())
        if (record.ip == address) return record;
    throw exception::InternalError(L"Сетевой интерфейс с запрошенным IP адресом не существует");
}

}  // namespace os
