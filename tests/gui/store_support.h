#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <boost/shared_ptr.hpp>

#include "device/models/device_collection.h"

namespace gui_testing {

/// A device collection without a transport, filled by hand: its devices
/// are real loudspeaker and console objects that never send anything.
class DeviceSite {
public:
    DeviceSite() {
        device::CollectionTiming timing;
        timing.startDelay = std::chrono::hours(1);  // the control thread never ticks
        collection = device::DeviceCollection::create(nullptr, 11990, timing);
    }

    /// The device with the address 02:56:53:00:00:<low> (hex digits).
    boost::shared_ptr<device::DeviceBase> add(const std::string& low, const std::wstring& title = L"Зал",
                                              const std::wstring& type = L"Orvel-610",
                                              const std::string& ip = "10.0.0.5") {
        return collection->addDevice(m_nextId++, type, address(low), net::Ip4Address(ip), title);
    }
    static net::HardwareAddress address(const std::string& low) { return net::HardwareAddress("02:56:53:00:00:" + low); }

    boost::shared_ptr<device::DeviceCollection> collection;

private:
    std::uint32_t m_nextId = 1;
};

/// xmllint finds the file well-formed.
inline bool xmllintAccepts(const std::string& file) {
    return std::system(("xmllint --noout '" + file + "' 2>/dev/null").c_str()) == 0;
}

/// What xmllint answers for an XPath expression on the file ("3" for a count).
inline std::string xmllintXpath(const std::string& file, const std::string& xpath) {
    std::string answer;
    if (FILE* out = popen(("xmllint --xpath '" + xpath + "' '" + file + "' 2>/dev/null").c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, out) != nullptr) answer += buffer;
        pclose(out);
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return answer;
}

}  // namespace gui_testing
