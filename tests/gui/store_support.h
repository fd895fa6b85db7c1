#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/models/device_collection.h"

namespace gui_testing {

/// A device collection without a transport, filled by hand: real
/// loudspeaker and console objects that never send anything.
class DeviceSite {
public:
    DeviceSite() {
        device::CollectionTiming timing;
        timing.startDelay = std::chrono::hours(1);  // the control thread never ticks
        collection = device::DeviceCollection::create(nullptr, 11990, timing);
    }
    /// The device 02:56:53:00:00:<low>.
    boost::shared_ptr<device::DeviceBase> add(const std::string& low, const std::wstring& title = L"Зал",
                                              const std::wstring& type = L"Orvel-610",
                                              const char* ip = "10.0.0.5") {
        return collection->addDevice(m_nextId++, type, net::HardwareAddress("02:56:53:00:00:" + low),
                                     net::Ip4Address(ip), title);
    }
    boost::shared_ptr<device::DeviceCollection> collection;

private:
    std::uint32_t m_nextId = 1;
};

inline bool xmllintAccepts(const std::string& file) {
    return std::system(("xmllint --noout '" + file + "' 2>/dev/null").c_str()) == 0;
}

/// xmllint's answer to an XPath expression ("3" for a count of three).
inline std::string xmllintXpath(const std::string& file, const std::string& xpath) {
    std::string answer;
    if (FILE* out = popen(("xmllint --xpath '" + xpath + "' '" + file + "' 2>/dev/null").c_str(), "r")) {
        for (int c; (c = std::fgetc(out)) != EOF;)
            if (c != '\n') answer += static_cast<char>(c);
        pclose(out);
    }
    return answer;
}

}  // namespace gui_testing
