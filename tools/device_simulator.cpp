// Runs simulated loudspeakers and consoles on loopback addresses until it is
// interrupted, so that a server running on this host (in the same network
// namespace) finds them by their state packets and can talk to them.
//
//   device_simulator --loudspeakers 20 --consoles 2 --server 127.0.0.1:11990
//   device_simulator --bands --fault-device 9 --no-line-control --busy 3 --busy-on "get state"
//   device_simulator --loudspeakers 20 --fault-device 1 --reply-delay 0.8 --fault-device 2 --reply-delay 0.8
//   device_simulator --band 18 --loudspeakers 10 --holdings h.txt --fault-device 3 --reboot-on "set ch"
//   device_simulator --band 18 --loudspeakers 3 --volume -4 --fault-device 1 --device-band 5 --volume 19:19
//       --fault-device 2 --orvel611 --move-after 30 --move-to 127.0.1.20
//   device_simulator --loudspeakers 20 --control /tmp/sim.ctl   (then: echo "* lose-next 1" >/tmp/sim.ctl)
//   device_simulator --band 18 --loudspeakers 20 --port 12990 --own-ports
//
// With --holdings, a file shows what each device holds (its channel, volume
// and memory playback) while the run goes on, and the output ends with it.
// With --control, faults are switched on while the run goes on, a line at a
// time written to a FIFO (control_commands.h); each line is answered on the
// output with "control: <line>: done" once it holds, or with why it was
// refused.
//
// Devices get consecutive addresses from --first (default 127.0.1.1), each
// with its own hardware address, and listen on --port (default 11990). The
// server may also sit on an address of another interface of this host (a
// veth end of a private namespace, say): a datagram to an interface's own
// address stays on the host and arrives as if on that interface.
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>

#include "device/memory/memory_image.h"
#include "tools/simulator/audio_memory_store.h"
#include "tools/simulator/control_commands.h"
#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/fault_switches.h"
#include "tools/simulator/firmware_receiver.h"
#include "tools/simulator/holdings_listing.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/orvel_config_model.h"
#include "tools/simulator/simulator.h"
#include "tools/simulator/speaker_zone_store.h"
#include "tools/simulator/tovik_config_model.h"
#include "tools/simulator/zone_sites.h"

namespace {

using device::sim::Endpoint;
using device::sim::Simulator;

/// The audio memory every device gets with --memory.
constexpr std::uint32_t kMemoryBytes = 256 * 1024;

struct Options {
    unsigned loudspeakers = 1;
    unsigned consoles = 0;
    std::string first = "127.0.1.1";
    std::uint16_t port = 11990;
    std::string serverAddress = "127.0.0.1";
    std::uint16_t serverPort = 11990;
    unsigned periodMs = 1000;
    std::string orvelVersion = device::sim::kDefaultOrvelVersion;
    std::string tovikVersion = device::sim::kDefaultTovikVersion;
    bool verbose = false;
    bool bands = false;   // one loudspeaker of each firmware generation instead
    int band = 0;         // every loudspeaker of this firmware index, as --bands makes it
    bool memory = false;  // every device with an empty audio memory
    bool ownPorts = false;  // the loudspeakers' settings name --port as their command port
    std::string site;     // a zone site instead of the counted devices
    std::string holdings;  // the file that shows what each device holds
    std::string control;   // the FIFO of faults switched on during the run
    std::optional<std::string> volume;  // every loudspeaker's power-on volume
    std::vector<device::sim::DeviceFaults> faults;
};

/// What the --fault-device groups of one device say it is; a later group
/// overrides an earlier one.
struct Make {
    std::optional<int> band;
    bool orvel611 = false;
    std::optional<std::string> volume;
};

Make makeOf(const Options& options, unsigned number) {
    Make make;
    for (const device::sim::DeviceFaults& group : options.faults) {
        if (group.device != number) continue;
        if (group.band) make.band = group.band;
        make.orvel611 = make.orvel611 || group.orvel611;
        if (group.volume) make.volume = group.volume;
    }
    return make;
}

void usage() {
    std::fprintf(stderr,
                 "usage: device_simulator [options]\n"
                 "  --loudspeakers N     simulated loudspeakers (default 1)\n"
                 "  --consoles N         simulated microphone consoles (default 0)\n"
                 "  --first ADDRESS      address of the first device (default 127.0.1.1)\n"
                 "  --port PORT          control port of every device (default 11990)\n"
                 "  --server ADDR:PORT   where state packets go (default 127.0.0.1:11990)\n"
                 "  --period MS          state packet period, 0 for none (default 1000)\n"
                 "  --orvel-version TEXT version text of the loudspeakers\n"
                 "  --tovik-version TEXT version text of the consoles\n"
                 "  --band INDEX         --loudspeakers of one firmware index (1..21) as --bands\n"
                 "                       makes them, Orvel-610 form (18: a current Orvel-610);\n"
                 "                       in place of --bands when both are given\n"
                 "  --bands              one loudspeaker of each firmware band (2, 3, 5, 8, 12,\n"
                 "                       16, 17, 18 as Orvel-610 and Orvel-611, 19, 20, 21)\n"
                 "                       in place of --loudspeakers\n"
                 "  --site NAME          a zone site in place of the devices above: bands,\n"
                 "                       binding (two consoles, three loudspeakers), broken\n"
                 "                       (every broken zone binding), line-control\n"
                 "  --memory             every device gets an empty audio memory of 256 KiB\n"
                 "                       (the Orvel-510 layout for Orvel-510, else Orvel-611)\n"
                 "  --own-ports          the loudspeakers' settings name their own control port\n"
                 "                       (--port) as their command port, and hear the streams\n"
                 "                       from the port after it on (default: the server's port)\n"
                 "  --holdings FILE      keep FILE listing what each device holds (channel,\n"
                 "                       volume, memory playback), and print it at the end\n"
                 "  --control FIFO       take faults during the run, a line at a time, from FIFO\n"
                 "                       (made when missing): \"3 lose-next 1\", \"* lose-next 1\",\n"
                 "                       \"3 delay-once 2.4\", \"3 delay 0.8\", \"3 silent 5\", \"3 busy 5\",\n"
                 "                       \"3 error-on PREFIX\", \"3 error-off\", \"3 restart 3\",\n"
                 "                       \"3 move ADDRESS\"; each answered \"control: LINE: done\"\n"
                 "  --verbose            print every request and reply, and each change of\n"
                 "                       what a device holds\n"
                 "  --volume TEXT        before any --fault-device: the volume every loudspeaker\n"
                 "                       starts and restarts at, as \"get vol\" answers it: dB\n"
                 "                       from -96 (muted) to 0 (\"-4\"), two hex levels 00..3C or\n"
                 "                       FE (muted) for an Orvel-510 (\"19:19\"); a loudspeaker\n"
                 "                       of the other form refuses the run (default -15, 1E:1E)\n"
                 "Faults of one device, the options after --fault-device until the next one:\n"
                 "  --fault-device N     the device numbered N in the listing (1 for the first)\n"
                 "  --device-band INDEX  it is a loudspeaker of this firmware index (1..21) as\n"
                 "                       --band makes them, whatever the run's others are\n"
                 "  --orvel611           it is of the Orvel-611 form of its index (9..19, 21)\n"
                 "  --volume TEXT        its own power-on volume, as above\n"
                 "  --no-line-control    \"lsensor...\" gets \"ERR line control module is absent\"\n"
                 "  --error-on PREFIX    requests starting with PREFIX get an \"ERR ...\" reply\n"
                 "                       (may be repeated)\n"
                 "  --busy SECONDS       every request gets \"Processing of the previous command\n"
                 "                       isn't complete!\" for this long: from the start, ...\n"
                 "  --busy-after SECONDS ... from this long after the start, or ...\n"
                 "  --busy-on PREFIX     ... from each request starting with PREFIX on\n"
                 "  --silent-for SECONDS no replies and no state packets for this long: from\n"
                 "                       the start, or with --silent-after SECONDS or\n"
                 "                       --silent-on PREFIX as for --busy\n"
                 "  --reply-delay SECONDS every reply leaves this long after its request\n"
                 "                       (0.8: a loudspeaker that answers 800 ms late)\n"
                 "  --reply-jitter SECONDS ... and up to this much later again, each reply its\n"
                 "                       own (replies may overtake each other)\n"
                 "  --lose-requests SHARE this share (0..1) of requests is lost on the way in:\n"
                 "                       the device never sees them\n"
                 "  --lose-replies SHARE  this share of replies is lost on the way out: the\n"
                 "                       device did what it was asked\n"
                 "  --lose-on PREFIX     only requests starting with PREFIX are lost (may be\n"
                 "                       repeated); the draws repeat from run to run\n"
                 "  --defer-switch SECONDS \"set ch N\" gets \"Changing of channel is deferred\"\n"
                 "                       and the loudspeaker switches this long later\n"
                 "  --reboot-after SECONDS the device restarts once, this long after the start\n"
                 "  --reboot-on PREFIX   it restarts after answering each request starting\n"
                 "                       with PREFIX (\"reboot\"; \"set ch\": it forgets the switch)\n"
                 "  --reboot-down SECONDS a restart keeps it silent this long (default 3); it\n"
                 "                       comes back on channel 0 at the volume it started with\n"
                 "  --move-after SECONDS it takes the address of --move-to ADDRESS (loopback,\n"
                 "  --move-to ADDRESS    same port) this long after the start: silent for 1 s\n"
                 "                       (for its down time when it restarts meanwhile), then\n"
                 "                       answering and sending its packets from there with the\n"
                 "                       channel and volume it held\n"
                 "Devices take loopback addresses (127.0.0.0/8) only; the server a loopback\n"
                 "address or an address held by an interface of this host.\n");
}

/// The record layout of a loudspeaker's audio memory by firmware index, as
/// the server reads it: the Orvel-510 family up to index 8, the Orvel-610
/// family up to 16, the Orvel-611 family above.
std::uint16_t loudspeakerMemoryLayout(int index) {
    if (index < 9) return device::memory::kLayout510;
    return index <= 16 ? device::memory::kLayout610 : device::memory::kLayout611;
}

/// Every device answers "mem ..." as a real one does, with an erased audio
/// memory of 1 MiB: the server reads it before it plays to, switches or sets
/// the volume of an Orvel-510, and the console's gong lives in it.
void giveErasedMemory(device::sim::CommandModel& model, std::uint16_t layout) {
    device::sim::AudioMemoryStore::install(std::make_shared<device::sim::AudioMemoryStore>(layout, 1u << 20),
                                           model);
}

/// Whether an interface of this host (of this network namespace) holds the address.
bool isLocalAddress(const boost::asio::ip::address_v4& address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        found = ntohl(in->sin_addr.s_addr) == address.to_uint();
    }
    freeifaddrs(list);
    return found;
}

/// The control FIFO, made when missing, opened for reading without ever
/// seeing its end (the tool holds a writer's end too); -1 after saying why,
/// for a path that holds no FIFO too.
int openControl(const std::string& path) {
    try {
        return device::sim::openControlFifo(path);
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "device_simulator: --control %s: %s\n", path.c_str(), error.what());
        return -1;
    }
}

/// Reads what the control FIFO holds and carries out each whole line,
/// answering each on the output.
void takeControlLines(int fd, device::sim::ControlLines& lines, Simulator& simulator) {
    char buffer[4096];
    for (;;) {
        const ssize_t size = ::read(fd, buffer, sizeof buffer);
        if (size <= 0) return;
        for (const std::string& line : lines.feed(buffer, static_cast<std::size_t>(size))) {
            try {
                device::sim::applyControl(device::sim::parseControlLine(line), simulator);
                std::printf("control: %s: done\n", line.c_str());
            } catch (const std::exception& error) {
                std::printf("control: %s: refused: %s\n", line.c_str(), error.what());
            }
            std::fflush(stdout);
        }
    }
}

bool parseUnsigned(const char* text, unsigned long max, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && value <= max;
}

/// Gives each loudspeaker the power-on volume its group or the run gives
/// it. False, after saying why, for a volume of the wrong form for the
/// loudspeaker's model, or one a group gives a console.
bool givePowerOnVolumes(Simulator& simulator, const Options& options) {
    for (std::size_t n = 0; n < simulator.size(); ++n) {
        const unsigned number = static_cast<unsigned>(n + 1);
        const std::optional<std::string> own = makeOf(options, number).volume;
        const std::optional<std::string> text = own ? own : options.volume;
        if (!text) continue;
        device::sim::SimulatedDevice& device = simulator.device(n);
        const std::string refusal = device.withModel<device::sim::Model>([&](device::sim::Model& model) {
            auto* loudspeaker = dynamic_cast<device::sim::OrvelModel*>(&model);
            // The run's volume is the loudspeakers'; a console keeps its own.
            if (!loudspeaker) return std::string(own ? "a console has no such volume" : "");
            try {
                loudspeaker->setPowerOnVolume(*text);
            } catch (const std::invalid_argument& error) {
                return std::string(error.what());
            }
            return std::string();
        });
        if (refusal.empty()) continue;
        const std::string option =
            own ? "--fault-device " + std::to_string(number) + " --volume" : "--volume";
        std::fprintf(stderr, "device_simulator: %s %s: device %u (%s): %s\n", option.c_str(), text->c_str(),
                     number, device.endpoint().address().to_string().c_str(), refusal.c_str());
        return false;
    }
    return true;
}

/// False, after saying why, for a move to an address that a device of the
/// run has or another move takes, or where the device's port is taken now.
bool checkMoves(Simulator& simulator, const Options& options) {
    std::set<std::string> taken;
    for (std::size_t n = 0; n < simulator.size(); ++n)
        taken.insert(simulator.device(n).endpoint().address().to_string());
    boost::asio::io_context io;
    for (const device::sim::DeviceFaults& group : options.faults) {
        const std::string& to = group.settings.move.to;
        if (to.empty()) continue;
        if (!taken.insert(to).second) {
            std::fprintf(
                stderr,
                "device_simulator: --fault-device %u --move-to %s: another device is there or moves there\n",
                group.device, to.c_str());
            return false;
        }
        const std::uint16_t port = simulator.device(group.device - 1).endpoint().port();
        try {
            boost::asio::ip::udp::socket probe(io, Endpoint(boost::asio::ip::make_address_v4(to), port));
        } catch (const boost::system::system_error& error) {
            std::fprintf(stderr, "device_simulator: --fault-device %u --move-to %s: port %u: %s\n",
                         group.device, to.c_str(), port, error.what());
            return false;
        }
    }
    return true;
}

/// False for an unknown option or a bad or missing value; `refused` then
/// names the option.
bool parseOptions(int argc, char** argv, Options& options, std::string& refused) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        refused = name;
        if (name == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (name == "--bands") {
            options.bands = true;
            continue;
        }
        if (name == "--memory") {
            options.memory = true;
            continue;
        }
        if (name == "--own-ports") {
            options.ownPorts = true;
            continue;
        }
        if (!device::sim::faultOptionTakesValue(name)) {
            device::sim::takeFaultOption(name, nullptr, options.faults);
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        unsigned long number = 0;
        if (device::sim::takeFaultOption(name, value, options.faults)) {
            continue;
        } else if (name == "--loudspeakers" && parseUnsigned(value, 65535, number)) {
            options.loudspeakers = static_cast<unsigned>(number);
        } else if (name == "--band" && parseUnsigned(value, 21, number) && number > 0) {
            options.band = static_cast<int>(number);
        } else if (name == "--consoles" && parseUnsigned(value, 65535, number)) {
            options.consoles = static_cast<unsigned>(number);
        } else if (name == "--first") {
            options.first = value;
        } else if (name == "--port" && parseUnsigned(value, 65535, number)) {
            options.port = static_cast<std::uint16_t>(number);
        } else if (name == "--period" && parseUnsigned(value, 3600000, number)) {
            options.periodMs = static_cast<unsigned>(number);
        } else if (name == "--site") {
            options.site = value;
        } else if (name == "--holdings" && *value != '\0') {
            options.holdings = value;
        } else if (name == "--control" && *value != '\0') {
            options.control = value;
        } else if (name == "--volume" && *value != '\0') {
            options.volume = value;
        } else if (name == "--orvel-version") {
            options.orvelVersion = value;
        } else if (name == "--tovik-version") {
            options.tovikVersion = value;
        } else if (name == "--server") {
            const std::string text = value;
            const std::size_t colon = text.find(':');
            if (colon == std::string::npos || !parseUnsigned(text.c_str() + colon + 1, 65535, number))
                return false;
            options.serverAddress = text.substr(0, colon);
            options.serverPort = static_cast<std::uint16_t>(number);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        std::string refused;
        if (!parseOptions(argc, argv, options, refused)) {
            if (refused != "--help")
                std::fprintf(stderr, "device_simulator: %s: unknown option, or a bad or missing value\n",
                             refused.c_str());
            usage();
            return 2;
        }
        device::sim::checkFaultGroups(options.faults);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "device_simulator: %s\n", error.what());
        usage();
        return 2;
    }
    // Decide on the signals before any thread starts, so that every thread
    // inherits the mask and only the signalfd below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        const auto serverIp = boost::asio::ip::make_address_v4(options.serverAddress);
        if (!serverIp.is_loopback() && !isLocalAddress(serverIp)) {
            std::fprintf(stderr, "the server must be on a loopback address or an address of this host, not %s\n",
                         options.serverAddress.c_str());
            return 2;
        }
        const Endpoint server(serverIp, options.serverPort);
        Simulator simulator(2);
        const std::vector<device::sim::Band>& bands = device::sim::orvelBands();
        if (options.band > 0) options.bands = false;
        if (options.bands) options.loudspeakers = static_cast<unsigned>(bands.size());
        unsigned total = options.loudspeakers + options.consoles;
        if (!options.site.empty()) {
            total = 0;
            // The site's hardware addresses are its own (SitePlan's numbers), so
            // that a site runs beside counted devices without sharing one.
            const device::sim::SitePlan plan{options.first, options.port};
            if (options.site == "bands") device::sim::addBandSite(simulator, plan);
            else if (options.site == "binding") device::sim::addBindingSite(simulator, plan);
            else if (options.site == "broken") device::sim::addBrokenSite(simulator, plan);
            else if (options.site == "line-control") device::sim::addLineControlSite(simulator, plan);
            else {
                usage();
                return 2;
            }
            for (std::size_t n = 0; n < simulator.size(); ++n) simulator.device(n).setRecording(false);
            std::printf("site %s: %zu devices from %s\n", options.site.c_str(), simulator.size(), options.first.c_str());
        }
        for (unsigned n = 0; n < simulator.size(); ++n) {
            if (makeOf(options, n + 1).band || makeOf(options, n + 1).orvel611) {
                std::fprintf(stderr,
                             "--fault-device %u: the site's device keeps its model; --device-band and "
                             "--orvel611 are for the counted loudspeakers\n",
                             n + 1);
                return 2;
            }
        }
        for (unsigned n = 0; n < total; ++n) {
            const auto address = Simulator::loopbackAddress(options.first, n);
            if (!address) {
                std::fprintf(stderr, "device %u would leave 127.0.0.0/8\n", n + 1);
                return 2;
            }
            const std::string hardware = Simulator::hardwareAddress(n + 1);
            const bool console = n >= options.loudspeakers;
            const Make make = makeOf(options, n + 1);
            int index = options.bands ? bands[n].index : options.band;
            bool orvel611 = options.bands && bands[n].orvel611;
            if (make.band) {
                index = *make.band;
                orvel611 = false;
            }
            if (console && (make.band || make.orvel611)) {
                std::fprintf(stderr,
                             "--fault-device %u: a console; --device-band and --orvel611 make loudspeakers\n",
                             n + 1);
                return 2;
            }
            if (make.orvel611) {
                using device::sim::orvelVersionOfIndex;
                if (index == 0 || orvelVersionOfIndex(index, true) == orvelVersionOfIndex(index, false)) {
                    std::fprintf(
                        stderr,
                        "--fault-device %u --orvel611: %s; only the Orvel-610 firmware (index 9 to 19 "
                        "and 21) has an Orvel-611 form\n",
                        n + 1,
                        index == 0 ? "the loudspeaker has no firmware index (--device-band, --band or "
                                     "--bands gives one)"
                                   : ("index " + std::to_string(index) + " is \"" +
                                      orvelVersionOfIndex(index) + "\"")
                                         .c_str());
                    return 2;
                }
                orvel611 = true;
            }
            std::unique_ptr<device::sim::CommandModel> model;
            if (console) {
                model = std::make_unique<device::sim::TovikZoneModel>(hardware, options.tovikVersion);
                giveErasedMemory(*model, device::memory::kLayout611);
            } else if (index > 0) {
                // Every generation keeps its settings and has its equalizer; from index 9 on a
                // line-control module too, from index 18 on announcement and address zones.
                model = std::make_unique<device::sim::OrvelConfigModel>(hardware, index, orvel611);
                device::sim::EqualizerStore::install(std::make_shared<device::sim::EqualizerStore>(index), *model);
                if (index >= 9)
                    device::sim::LineControlStore::install(std::make_shared<device::sim::LineControlStore>(), *model);
                if (index >= 18)
                    device::sim::SpeakerZoneStore::install(std::make_shared<device::sim::SpeakerZoneStore>(), *model);
                giveErasedMemory(*model, loudspeakerMemoryLayout(index));
            } else {
                model = std::make_unique<device::sim::OrvelModel>(hardware, options.orvelVersion);
                // The default version is of the newest generation.
                const bool orvel510 = options.orvelVersion.rfind("Orvel-510", 0) == 0;
                giveErasedMemory(*model, orvel510 ? device::memory::kLayout510 : device::memory::kLayout611);
            }
            if (auto* config = dynamic_cast<device::sim::OrvelConfigModel*>(model.get()); config && options.ownPorts) {
                config->values["srvPort"] = std::to_string(options.port);
                config->values["ch0Port"] = std::to_string(options.port + 1);
                config->values["ch1Port"] = std::to_string(options.port + 2);
            }
            const std::string versionText = model->versionText();
            auto& device = simulator.add(*address, options.port, std::move(model));
            device.setRecording(false);
            device.withModel<device::sim::CommandModel>(
                [](device::sim::CommandModel& model) { return device::sim::addFirmwareReceiver(model); });
            std::printf("%-10s %s:%u hw=%s \"%s\"\n", console ? "console" : "speaker", address->c_str(),
                        options.port, hardware.c_str(), versionText.c_str());
        }
        // Every device of the run, counted or of a site.
        // A device that moves is named by its address of the moment.
        for (std::size_t n = 0; options.verbose && n < simulator.size(); ++n) {
            device::sim::SimulatedDevice* device = &simulator.device(n);
            device->setObserver([device](const std::string& request, const Endpoint& source,
                                         const std::optional<std::string>& reply) {
                const std::string address = device->endpoint().address().to_string();
                std::printf("%s <- %s:%u \"%s\" -> %s\n", address.c_str(), source.address().to_string().c_str(),
                            source.port(), request.c_str(), reply ? ("\"" + *reply + "\"").c_str() : "(no reply)");
                std::fflush(stdout);
            });
        }
        if (options.memory) {
            for (std::size_t n = 0; n < simulator.size(); ++n)
                simulator.device(n).withModel<device::sim::CommandModel>([](device::sim::CommandModel& model) {
                    const bool orvel510 = model.versionText().find("Orvel-510") != std::string::npos;
                    device::sim::AudioMemoryStore::install(
                        std::make_shared<device::sim::AudioMemoryStore>(
                            orvel510 ? device::memory::kLayout510 : device::memory::kLayout611, kMemoryBytes),
                        model);
                    return 0;
                });
        }
        for (const device::sim::DeviceFaults& faulty : options.faults) {
            if (faulty.device > simulator.size()) {
                std::fprintf(stderr, "--fault-device %u: the run has %zu devices\n", faulty.device,
                             simulator.size());
                return 2;
            }
        }
        if (!givePowerOnVolumes(simulator, options) || !checkMoves(simulator, options)) return 2;
        for (const device::sim::DeviceFaults& faulty : options.faults) {
            device::sim::SimulatedDevice& target = simulator.device(faulty.device - 1);
            const auto faults = std::make_shared<device::sim::FaultSwitches>(faulty.settings);
            target.setFaults(faults);
            if (faulty.settings.replyDelay.count() > 0 || faulty.settings.replyJitter.count() > 0) {
                device::sim::ReplyPolicy late;
                late.delay = faulty.settings.replyDelay;
                late.jitter = faulty.settings.replyJitter;
                late.seed = faulty.settings.seed;
                target.setReplyPolicy(late);
            }
            std::printf("fault device %u %s: %s\n", faulty.device,
                        target.endpoint().address().to_string().c_str(), faults->describe().c_str());
        }
        // What the devices hold: a change marks the listing for the main
        // thread to write, and --verbose prints it as it happens.
        std::optional<device::sim::HoldingsListing> listing;
        if (!options.holdings.empty()) {
            listing.emplace(options.holdings);
            listing->update(simulator);  // a file that can't be written ends the run before it starts
        }
        std::atomic<bool> changed{false};
        for (std::size_t n = 0; (listing || options.verbose) && n < simulator.size(); ++n) {
            device::sim::SimulatedDevice* device = &simulator.device(n);
            const bool verbose = options.verbose;
            device->setHoldingsObserver([device, verbose, &changed](const device::sim::HoldingsChange& c) {
                changed = true;
                if (!verbose) return;
                const std::string address = device->endpoint().address().to_string();
                std::printf("%s holds %s (%s)\n", address.c_str(), device::sim::describe(c.holdings).c_str(),
                            c.cause.c_str());
                std::fflush(stdout);
            });
        }
        const int control = options.control.empty() ? -1 : openControl(options.control);
        if (!options.control.empty() && control < 0) return 2;
        device::sim::ControlLines controlLines;
        simulator.start();
        total = static_cast<unsigned>(simulator.size());
        for (unsigned n = 0; n < total; ++n)
            simulator.device(n).startStatePackets(server, std::chrono::milliseconds(options.periodMs));
        std::printf("%u devices send state packets to %s:%u; Ctrl+C ends\n", total,
                    options.serverAddress.c_str(), options.serverPort);
        std::fflush(stdout);

        // Until a signal: control lines are carried out as they come, and
        // the listing is brought up to date a tenth of a second after a
        // change at most.
        bool warned = false;
        const int stopSignals = ::signalfd(-1, &signals, SFD_CLOEXEC);
        if (stopSignals < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
        for (;;) {
            pollfd waits[2] = {{stopSignals, POLLIN, 0}, {control, POLLIN, 0}};
            if (::poll(waits, control < 0 ? 1 : 2, 100) > 0) {
                if (waits[0].revents & POLLIN) break;
                if (waits[1].revents & POLLIN) takeControlLines(control, controlLines, simulator);
            }
            if (!listing || !changed.exchange(false)) continue;
            try {
                listing->update(simulator);
            } catch (const std::runtime_error& error) {
                if (!warned) std::fprintf(stderr, "device_simulator: %s\n", error.what());
                warned = true;
            }
        }
        ::close(stopSignals);
        if (control >= 0) ::close(control);
        simulator.stop();
        if (listing) {
            const std::string last = device::sim::HoldingsListing::text(simulator);
            std::printf("what the devices hold at the end (%s):\n%s", listing->path().c_str(), last.c_str());
            std::fflush(stdout);
            try {
                listing->update(simulator);
            } catch (const std::runtime_error& error) {
                std::fprintf(stderr, "device_simulator: %s\n", error.what());
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "device_simulator: %s\n", error.what());
        return 1;
    }
    return 0;
}
