#include "audio/stream_options.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <boost/format.hpp>

namespace {

// Capture cache of the microphone: short, so that an announcement leaves with
// little delay, but not zero, which asks the sound card for a buffer it may
// not be able to run without overruns.
constexpr unsigned k_capture_caching_ms = 100;

std::string escape_chain_value(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// The encoder is named: libvlc 3's default MPEG audio encoder (twolame)
// overruns a buffer and crashes the program when mono input has to be
// resampled (22050 or 32000 Hz mono to 44100 mono); libavcodec's does not.
std::string transcode_mpga(unsigned bitrate_kbps, unsigned channels, unsigned samplerate) {
    return (boost::format("#transcode{aenc=avcodec,acodec=mpga,ab=%u,channels=%u,samplerate=%u}") %
            bitrate_kbps % channels % samplerate)
        .str();
}

}  // namespace

std::string mpga_ts_udp_chain(unsigned bitrate_kbps, unsigned channels, unsigned samplerate,
                              const std::string& endpoint) {
    return transcode_mpga(bitrate_kbps, channels, samplerate) +
           ":std{access=udp,mux=ts,dst=" + endpoint + "}";
}

std::string capture_sout_chain(bool network, bool file, bool pcm_debug, unsigned bitrate_kbps,
                               unsigned channels, unsigned samplerate,
                               const std::string& file_utf8, const std::string& endpoint) {
    const std::string file_dst = "file{dst=\"" + escape_chain_value(file_utf8) + "\"}";
    if (network && file)
        return transcode_mpga(bitrate_kbps, channels, samplerate) + ":duplicate{dst=" + file_dst +
               ",dst=std{access=udp,mux=ts,dst=" + endpoint + "}}";
    if (file) return transcode_mpga(bitrate_kbps, channels, samplerate) + ":" + file_dst;
    if (network && pcm_debug)
        return (boost::format("#transcode{acodec=s16l,ab=%u,channels=%u,samplerate=%u}") % 16u %
                channels % samplerate)
                   .str() +
               ":std{access=udp,mux=wav,dst=" + endpoint + "}";
    if (network) return mpga_ts_udp_chain(bitrate_kbps, channels, samplerate, endpoint);
    return {};
}

std::vector<std::string> common_instance_args(unsigned mux_caching_ms, unsigned ttl,
                                              const std::string& interface_name) {
    std::vector<std::string> args = {
        "--intf=dummy",
        "--ignore-config",
        "--no-file-logging",
        "--quiet",
        "--no-audio",
        "--sout-mux-caching=" + std::to_string(mux_caching_ms),
        "--sout-udp-caching=0",
        "--ttl=" + std::to_string(ttl),
        "--sout-keep",
    };
    if (!interface_name.empty()) args.push_back("--miface=" + interface_name);
    return args;
}

std::vector<std::string> capture_instance_args(bool vlc_logging, bool local_monitor,
                                               const std::vector<std::string>& monitor_args,
                                               unsigned ttl, const std::string& interface_name) {
    std::vector<std::string> args = {
        "--intf=dummy",
        "--ignore-config",
        "--no-video",
        "--no-file-logging",
        vlc_logging ? "--verbose=2" : "--quiet",
    };
    if (local_monitor) {
        args.insert(args.end(), monitor_args.begin(), monitor_args.end());
    } else {
        args.insert(args.end(), {
                                    "--no-audio",
                                    "--sout-udp-caching=0",
                                    "--sout-mux-caching=10",
                                    "--mtu=356",
                                    "--ttl=" + std::to_string(ttl),
                                    "--sout-keep",
                                });
        if (!interface_name.empty()) args.push_back("--miface=" + interface_name);
    }
    args.push_back("--");
    return args;
}

std::vector<std::string> imem_media_options(std::uintptr_t get, std::uintptr_t release,
                                            std::uintptr_t data, unsigned samplerate,
                                            unsigned channels, const std::string& chain) {
    std::vector<std::string> options = {
        ":imem-get=" + std::to_string(get),
        ":imem-release=" + std::to_string(release),
        ":imem-data=" + std::to_string(data),
        ":imem-cookie=0",
        ":imem-cat=1",
        ":imem-codec=s16l",
        ":imem-samplerate=" + std::to_string(samplerate),
        ":imem-channels=" + std::to_string(channels),
    };
    if (!chain.empty()) options.push_back(":sout=" + chain);
    return options;
}

std::string capture_location(const std::string& device_name_utf8) {
    if (device_name_utf8.find("://") != std::string::npos) return device_name_utf8;
    return "alsa://" + device_name_utf8;
}

std::vector<std::string> capture_media_options(unsigned samplerate, const std::string& chain) {
    std::vector<std::string> options = {
        ":alsa-samplerate=" + std::to_string(samplerate),
        ":no-alsa-stereo",
        ":live-caching=" + std::to_string(k_capture_caching_ms),
    };
    if (!chain.empty()) options.push_back(":sout=" + chain);
    return options;
}

std::string interface_name_for_address(const std::string& address) {
    in_addr wanted{};
    if (address.empty() || inet_pton(AF_INET, address.c_str(), &wanted) != 1) return {};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string name;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (in->sin_addr.s_addr == wanted.s_addr) {
            name = entry->ifa_name;
            break;
        }
    }
    freeifaddrs(list);
    return name;
}
