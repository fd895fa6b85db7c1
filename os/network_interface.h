#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The PC's IPv4 interfaces as the server chooses among them: one record per
// IPv4 address of an interface other than loopback, in the order the kernel
// reports them (getifaddrs), each with the gateway of its default route
// (/proc/net/route). Read afresh at every call; any thread.
namespace os {

struct NetworkInterface {
    std::wstring description;  // the interface name ("eth0", "eth0:1" for a labelled address)
    std::string ip;            // dotted quad
    std::string mask;
    std::string broadcast;     // empty when the interface has none
    bool up = false;           // administratively up and with a carrier
    std::string gateway;       // of the interface's default route; empty when none
};

std::vector<NetworkInterface> getNetworkInterfaceList();

/// Whether some IPv4 interface of the PC has this address.
bool hasNetworkInterface(const std::string& address);

/// The address of the interface to work on: the interface with the saved
/// address wins; else an interface that is up and has the saved description;
/// else the first one that is up, else the first one, else "". Every choice
/// but the first one that matches both is logged.
std::string nameToIp(const std::string& savedAddress, const std::wstring& savedDescription);

/// The record with this address; an address of no interface throws
/// exception::InternalError "Сетевой интерфейс с запрошенным IP адресом не
/// существует".
NetworkInterface getNetworkInterfaceByIp(const std::string& address);

// ---- the parts above that need no system, for tests -----------------------

/// The position in `list` that nameToIp takes, or list.size() when the list
/// is empty. Logs as nameToIp does.
std::size_t chooseInterface(const std::vector<NetworkInterface>& list, const std::string& savedAddress,
                            const std::wstring& savedDescription);

/// The default routes of a /proc/net/route text: interface name → gateway
/// as dotted quad. Of several default routes of one interface the one with
/// the lowest metric counts; routes that are down or have no gateway don't.
std::map<std::string, std::string> parseDefaultGateways(const std::string& routeTable);

/// Whether `address` lies in the subnet of `ip`/`mask` (dotted quads; false
/// for any text that is no address).
bool isInSubnet(const std::string& address, const std::string& ip, const std::string& mask);

/// The name of the device an interface name belongs to ("eth0" of "eth0:1").
std::string deviceOf(const std::wstring& description);

}  // namespace os
