#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The libvlc argument lists and stream-output chains of the two multicast
// streams, as pure functions so that tests check them without libvlc.
//
// libvlc 3 media players ignore an instance-level "--sout", so the chain is
// always handed to the media as ":sout=...", after the input's own options.
//
// libvlc_new keeps the first of a repeated option and ignores the rest: a
// value is changed in its place in these lists, never by appending.

/// "#transcode{aenc=avcodec,acodec=mpga,...}:std{access=udp,mux=ts,dst=<endpoint>}".
std::string mpga_ts_udp_chain(unsigned bitrate_kbps, unsigned channels, unsigned samplerate,
                              const std::string& endpoint);

/// The chain of the notification stream's capture mode, chosen by its write
/// flags: file and network, file only, network only (16-bit PCM in WAV over
/// UDP with pcm_debug), or "" when neither flag is set. The file path is
/// UTF-8; quotes and backslashes in it are escaped for the chain parser.
std::string capture_sout_chain(bool network, bool file, bool pcm_debug, unsigned bitrate_kbps,
                               unsigned channels, unsigned samplerate,
                               const std::string& file_utf8, const std::string& endpoint);

/// Instance arguments of the common stream (and of the notification stream
/// in file mode). Datagrams leave as soon as the muxer has made them (UDP
/// caching 0), so the mux caching is the whole wait before the first one.
/// "--miface" is left out when the interface name is empty.
std::vector<std::string> common_instance_args(unsigned mux_caching_ms, unsigned ttl,
                                              const std::string& interface_name);

/// Instance arguments of the notification stream's capture mode. With a
/// local monitor the given audio-output arguments replace everything that
/// concerns the network.
std::vector<std::string> capture_instance_args(bool vlc_logging, bool local_monitor,
                                               const std::vector<std::string>& monitor_args,
                                               unsigned ttl, const std::string& interface_name);

/// Options of the "imem://" media; pointers are printed whole as unsigned
/// decimal (libvlc parses them with strtoull, base 0). The chain, when not
/// empty, comes last as ":sout=<chain>".
std::vector<std::string> imem_media_options(std::uintptr_t get, std::uintptr_t release,
                                            std::uintptr_t data, unsigned samplerate,
                                            unsigned channels, const std::string& chain);

/// Location of a capture device: a name that already carries a scheme
/// ("pulse://...", "alsa://hw:1,0", "file://...") is used as it stands,
/// any other name is an ALSA device ("alsa://<name>").
std::string capture_location(const std::string& device_name_utf8);

/// Options of the capture media: mono 16-bit at the given rate, a short
/// capture cache, then the chain when not empty.
std::vector<std::string> capture_media_options(unsigned samplerate, const std::string& chain);

/// Name of the network interface that holds the IPv4 address (dotted text),
/// "" when no interface has it or the text is empty.
std::string interface_name_for_address(const std::string& address);
