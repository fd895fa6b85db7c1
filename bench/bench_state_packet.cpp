// State-packet recognition as the collection runs it for every datagram:
// DeviceBase::isStatePacket, then DeviceBase::parseStatePacketVersion for a
// recognised packet, on one thread, over a mix of loudspeaker and console
// packets (two thirds) and other datagrams (replies, version texts, packets
// with a broken address or version, random bytes). Beside it a recogniser of
// the same rule written with std::regex, as one would write it first; both
// must accept the same datagrams. Goal: above 1,000,000 datagrams per second
// (a site of a thousand loudspeakers sends about a thousand a second).
// Prints one BENCH line.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "device/device_base.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr double kGoal = 1000000.0;
constexpr auto kRunTime = std::chrono::milliseconds(1000);

std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::vector<std::string> makeMix() {
    std::mt19937 random(12345);
    std::vector<std::string> mix;
    for (unsigned n = 0; n < 600; ++n) {
        const std::string address = "02:56:53:" + hexByte(n >> 16) + ":" + hexByte(n >> 8) + ":" + hexByte(n);
        if (n % 3 == 2)
            mix.push_back(address + ",0,100,5,100,5,5,5,1,0,1,1,0,0,0,0,2,Tovik-30 1.0.7.0 Feb 14 2022");
        else
            mix.push_back(address + ",100,1,1,1,0,0,3,1,0,0,3,1,0,0,0,Orvel-610 1.0." + std::to_string(100 + n % 13) +
                          ".0 Mar 03 2021\r\n");
        if (n % 2 == 0) continue;
        // One other datagram for every two packets.
        switch (n % 12) {
        case 1: mix.push_back("OK"); break;
        case 3: mix.push_back("-15"); break;
        case 5: mix.push_back("OK: the configuration is stored, the device restarts"); break;
        case 7: mix.push_back("Orvel-610 1.0.112.0 Mar 03 2021"); break;
        case 9: mix.push_back("02-56-53-00-00-2A,100,1,1,1,0,0,3,1,0,0,3,Orvel-610 1.0.112.0"); break;
        default: {
            std::string bytes(30 + random() % 200, '\0');
            for (auto& c : bytes) c = static_cast<char>(random());
            mix.push_back(bytes);
        }
        }
        if (n % 10 == 3) mix.push_back(address + ",100,1,1,1,0,0,3,Orvel-610 1.0.x.0");  // broken version
    }
    return mix;
}

/// The same rule with std::regex.
class RegexRecogniser {
public:
    bool recognise(const std::string& text, std::uint64_t& typeCode) const {
        if (text.size() < 26 || text.size() > 256) return false;
        std::smatch found;
        if (!std::regex_search(text, found, m_packet)) return false;
        const std::string model = found[1];
        typeCode = model == "Orvel-610" ? (found[2] == "2" ? 0x1500040 : 0x500004)
                                        : device::toFirmwareType(std::wstring(model.begin(), model.end()));
        return true;
    }

private:
    std::regex m_packet{
        "^[0-9A-Fa-f]{1,2}(?::[0-9A-Fa-f]{1,2}){5},(?:.*,)?[\\r\\n\\0]*([^ ,\\r\\n\\0]+) "
        "(\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)[^,]*$"};
};

template <class Recognise>
std::size_t acceptedOf(const std::vector<std::string>& mix, Recognise recognise) {
    std::size_t accepted = 0;
    for (const auto& datagram : mix) accepted += recognise(datagram) ? 1 : 0;
    return accepted;
}

template <class Recognise>
double perSecond(const std::vector<std::string>& mix, Recognise recognise) {
    std::size_t done = 0;
    const auto start = Steady::now();
    auto now = start;
    while (now - start < kRunTime) {
        acceptedOf(mix, recognise);
        done += mix.size();
        now = Steady::now();
    }
    return done / std::chrono::duration<double>(now - start).count();
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const auto mix = makeMix();

    std::uint64_t codes = 0;  // keeps the results alive
    net::HardwareAddress address(0, 0);
    const auto ours = [&codes, &address](const std::string& datagram) {
        if (!device::DeviceBase::isStatePacket(datagram, address)) return false;
        device::Version version;
        if (!device::DeviceBase::parseStatePacketVersion(datagram, version)) return false;
        codes += version.typeCode + address.getLow();
        return true;
    };
    const RegexRecogniser regex;
    const auto peer = [&](const std::string& datagram) {
        std::uint64_t code = 0;
        if (!regex.recognise(datagram, code)) return false;
        codes += code;
        return true;
    };

    const std::size_t oursAccepted = acceptedOf(mix, ours);
    const std::size_t peerAccepted = acceptedOf(mix, peer);
    const double oursRate = perSecond(mix, ours);
    const double peerRate = perSecond(mix, peer);
    std::printf("%zu datagrams of which 600 packets; accepted: ours %zu, std_regex %zu; goal %.0f/s %s (%llu)\n",
                mix.size(), oursAccepted, peerAccepted, kGoal, oursRate > kGoal ? "met" : "MISSED",
                static_cast<unsigned long long>(codes % 1000));
    std::printf("BENCH state_packet_recognition ours=%.0fdatagrams/s std_regex=%.0fdatagrams/s ratio=%.2f\n",
                oursRate, peerRate, peerRate > 0 ? oursRate / peerRate : 0.0);
    return oursAccepted == 600 && peerAccepted == 600 ? 0 : 1;
}
