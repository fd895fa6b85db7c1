#include "tests/support/network_guard.h"

#include <algorithm>
#include <ifaddrs.h>

namespace testing_support {

std::vector<std::string> foreignInterfaces() {
    std::vector<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {"<getifaddrs failed>"};
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        const std::string name = entry->ifa_name ? entry->ifa_name : "";
        if (name == "lo" || name.rfind("svt", 0) == 0) continue;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    freeifaddrs(list);
    return names;
}

}  // namespace testing_support
