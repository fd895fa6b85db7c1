// Start-up and memory of the whole program with 1,000 devices in 50 zones,
// beside a wx program that only shows an empty frame of the same size:
//
//   BENCH startup_to_window: process start to the main window mapped (the
//     median of --rounds runs each). The program's probe for another
//     server's stream waits up to 3 s for a datagram that never comes here;
//     that wait is a network time-out, not start-up work, so its length
//     (from the probe joining the stream's group to leaving it, watched in
//     /proc/net/igmp) is subtracted. Goal: under 1.5 s.
//   BENCH rss_after_start: resident memory 3 s after the window showed.
//   BENCH rss_growth: resident memory after --duration seconds (default
//     600) of the 1,000 simulated devices sending one state packet per
//     second each, less the memory after start. Goal: under 5 MiB.
//   BENCH update_gui_1000: one device's change of state through the main
//     window's device refresh (in this process, over the same data folder),
//     beside a plain depth-first walk of the zone tree that counts the
//     device. Goal: under 5 ms.
//   BENCH first_input_2000_sending: a site the program has never seen, with
//     2,000 simulated loudspeakers and a console sending state packets since
//     3 s before the program starts: from the main window mapped to the first
//     answer to input, beside the same start with no device sending. The
//     input is a _NET_WM_PING every 50 ms from the window's mapping on,
//     which GTK answers from the GUI thread's event loop, so it is answered
//     only when the GUI thread is free for a click. Goal: under 1 s.
//   BENCH longest_input_wait_2000_sending: of the same pings over the first
//     --input-span seconds (default 20) after the window, the longest wait
//     for an answer (a freeze while the devices are filed shows here).
//     Goal: under 1 s.
//
// It runs the built program with a data folder of its own and needs an
// interface besides loopback and an X display:
//
//   scripts/netns-run --veth xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_startup [--duration S] [--rounds N] [--input-span S]
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <wx/app.h>
#include <wx/init.h>

#include "base/pref.h"
#include "base/thread_dispatcher.h"
#include "base/wx/log_setup.h"
#include "device/transfer_protocol.h"
#include "gui/item_data_map.h"
#include "gui/main_frame.h"
#include "gui/zone_element.h"
#include "os/data_directory.h"
#include "tools/simulator/simulator.h"
#include "tools/stream_probe.h"

extern char** environ;

namespace {

namespace fs = boost::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kDevices = 1000;
constexpr unsigned kZones = 50;
constexpr unsigned kSendingLoudspeakers = 2000;
constexpr std::uint16_t kBasePort = 11990;
constexpr std::uint16_t kDevicePort = 12990;
const char kStreamGroup[] = "224.0.224.1";

double millisBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

/// The first IPv4 address of an interface other than loopback; empty when none.
std::string interfaceAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::string found;
    for (ifaddrs* entry = list; entry && found.empty(); entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        if (std::strncmp(text, "127.", 4) != 0) found = text;
    }
    freeifaddrs(list);
    return found;
}

/// The data folder of the run (under XDG_DATA_HOME).
std::string dataFolderOf(const std::string& root) { return root + "/data/Varko Security Systems/Sonvar/1.2"; }

/// The data folder with 1,000 loudspeakers, 20 in each of 50 zones, and a
/// settings file (so that no first-run note shows).
void writeDataFolder(const std::string& folder) {
    fs::create_directories(folder);
    std::ofstream(folder + "/sonvar.cfg") << "debug = { level = \"info\"; };\n";
    std::ofstream devices(folder + "/device_collection.xml");
    devices << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<device_collection>";
    std::ofstream zones(folder + "/zone_collection.xml");
    zones << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>";
    for (unsigned n = 0; n < kDevices; ++n) {
        const std::string hardware = device::sim::Simulator::hardwareAddress(n + 1);
        devices << "<device><hardware_address>" << hardware << "</hardware_address><type>Orvel-610</type><name>"
                << "Громкоговоритель " << n + 1 << "</name><ip>"
                << *device::sim::Simulator::loopbackAddress("127.0.1.1", n) << "</ip></device>";
        const unsigned perZone = kDevices / kZones;
        if (n % perZone == 0)
            zones << "<zone><name>Зона " << n / perZone + 1
                  << "</name><enableVolume>false</enableVolume><volume>0</volume><devices>";
        zones << "<hardware_address>" << hardware << "</hardware_address>";
        if (n % perZone == perZone - 1) zones << "</devices><zones/></zone>";
    }
    devices << "</device_collection>\n";
    zones << "</zone_collection>\n";
}

/// The data folder of a first start on a site: the settings file only.
void writeBareDataFolder(const std::string& folder) {
    boost::system::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    std::ofstream(folder + "/sonvar.cfg") << "debug = { level = \"info\"; };\n";
}

void writeTool(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
}

/// A folder of the run's own: the program's data and runtime folders and
/// fake systemctl (no second-generation server) and systemd-inhibit (no
/// logind here, whose warning box would stand in the way).
class Sandbox {
public:
    Sandbox() : m_root((fs::temp_directory_path() / fs::unique_path("sonvar-bench-%%%%-%%%%")).string()) {
        for (const char* folder : {"/data", "/run", "/config", "/cache", "/bin"}) fs::create_directories(m_root + folder);
        ::chmod((m_root + "/run").c_str(), 0700);
        writeDataFolder(dataFolder());
        writeTool(m_root + "/bin/systemctl", "exit 3\n");
        writeTool(m_root + "/bin/systemd-inhibit",
                  "while [ $# -gt 0 ]; do case \"$1\" in --*) shift ;; *) break ;; esac; done\nexec \"$@\"\n");
        const char* path = std::getenv("PATH");
        const std::vector<std::string> ours = {
            "XDG_DATA_HOME=" + m_root + "/data",    "XDG_RUNTIME_DIR=" + m_root + "/run",
            "XDG_CONFIG_HOME=" + m_root + "/config", "XDG_CACHE_HOME=" + m_root + "/cache",
            "PATH=" + m_root + "/bin:" + (path ? path : "/usr/bin:/bin"), "NO_AT_BRIDGE=1",
            "GDK_BACKEND=x11"};
        m_environment = ours;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('=') + 1);
            if (std::none_of(ours.begin(), ours.end(), [&](const std::string& own) { return own.rfind(name, 0) == 0; }))
                m_environment.push_back(text);
        }
    }
    ~Sandbox() {
        boost::system::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string dataFolder() const { return dataFolderOf(m_root); }
    /// Makes this process use the run's folders too.
    void enter() const {
        for (const auto& entry : m_environment) {
            const auto equals = entry.find('=');
            ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
    }

    /// Starts a program with the run's environment; its output goes to a file.
    pid_t spawn(const std::vector<std::string>& argv) const {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string output = m_root + "/output.txt";
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> env;
        for (const auto& e : m_environment) env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

private:
    std::string m_root;
    std::vector<std::string> m_environment;
};

/// Exit status of a child within `limit`, else kills it; -1 then.
int finish(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

double rssMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

/// Watches the display for top-level windows being mapped. Made before the
/// program starts, so that no map is missed.
class MapWatcher {
public:
    MapWatcher() : m_display(XOpenDisplay(nullptr)) {
        if (!m_display) return;
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
    }
    ~MapWatcher() {
        if (m_display) XCloseDisplay(m_display);
    }
    bool ok() const { return m_display != nullptr; }

    /// The time the first window whose title begins with `title` was
    /// mapped; nothing after `limit`.
    std::optional<Clock::time_point> waitMapped(const std::string& title, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == MapNotify && titleOf(event.xmap.window).rfind(title, 0) == 0) {
                    m_mapped = event.xmap.window;
                    return Clock::now();
                }
            }
            pollfd wait{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&wait, 1, 5);
        }
        return std::nullopt;
    }

    /// The window that waitMapped found.
    Window mapped() const { return m_mapped; }

    struct Answers {
        double firstMillis = -1;  // from `from` to the first answer; -1 without one
        double longestMillis = 0;  // the longest a ping waited
        std::size_t sent = 0, answered = 0;
        std::size_t devicesSaved = 0;  // by the program at its stop
    };
    /// Pings `window` every `period` from `from` until `from + span`: a
    /// _NET_WM_PING, which GTK sends back to the root window from its event
    /// loop. A ping still unanswered at the end waited until then.
    Answers ping(Window window, Clock::time_point from, std::chrono::milliseconds span,
                 std::chrono::milliseconds period) {
        const Atom protocols = XInternAtom(m_display, "WM_PROTOCOLS", False);
        const Atom pingAtom = XInternAtom(m_display, "_NET_WM_PING", False);
        std::vector<Clock::time_point> sentAt;
        std::vector<bool> answered;
        Answers answers;
        const auto end = from + span;
        auto next = from;
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            if (now >= next) {
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = window;
                event.xclient.message_type = protocols;
                event.xclient.format = 32;
                event.xclient.data.l[0] = static_cast<long>(pingAtom);
                // The time field carries the ping's number; GTK sends it back unread.
                event.xclient.data.l[1] = static_cast<long>(sentAt.size() + 1);
                event.xclient.data.l[2] = static_cast<long>(window);
                XSendEvent(m_display, window, False, NoEventMask, &event);
                XFlush(m_display);
                sentAt.push_back(now);
                answered.push_back(false);
                next += period;
            }
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type != ClientMessage || event.xclient.message_type != protocols ||
                    static_cast<Atom>(event.xclient.data.l[0]) != pingAtom)
                    continue;
                const long number = event.xclient.data.l[1];
                if (number < 1 || static_cast<std::size_t>(number) > sentAt.size() || answered[number - 1]) continue;
                answered[number - 1] = true;
                const auto at = Clock::now();
                ++answers.answered;
                if (answers.firstMillis < 0) answers.firstMillis = millisBetween(from, at);
                answers.longestMillis = std::max(answers.longestMillis, millisBetween(sentAt[number - 1], at));
            }
            pollfd wait{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&wait, 1, 2);
        }
        for (std::size_t n = 0; n < sentAt.size(); ++n)
            if (!answered[n]) answers.longestMillis = std::max(answers.longestMillis, millisBetween(sentAt[n], end));
        answers.sent = sentAt.size();
        return answers;
    }

private:
    std::string titleOf(Window window) {
        const Atom name = XInternAtom(m_display, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(m_display, window, name, 0, 1024, False, utf8, &type, &format, &count, &after,
                               &data) == Success &&
            data) {
            title.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        if (title.empty()) {
            char* plain = nullptr;
            if (XFetchName(m_display, window, &plain) && plain) {
                title = plain;
                XFree(plain);
            }
        }
        return title;
    }

    Display* m_display;
    Window m_mapped = None;
};

/// How long the program's stream probe listened: from its join of the
/// stream's group to its leave, as /proc/net/igmp shows them.
class ProbeWatch {
public:
    ProbeWatch()
        : m_thread([this] {
              bool joined = false;
              while (!m_stop && !m_done) {
                  const bool member = stream_probe::group_users(kStreamGroup) > 0;
                  const auto now = Clock::now();
                  if (member && !joined) m_joined = now;
                  if (!member && joined) {
                      m_left = now;
                      m_done = true;
                  }
                  joined = member;
                  std::this_thread::sleep_for(1ms);
              }
          }) {}
    ~ProbeWatch() {
        m_stop = true;
        m_thread.join();
    }
    /// The probe's time in milliseconds; 0 while it has not ended.
    double millis() const { return m_done ? millisBetween(m_joined, m_left) : 0; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    Clock::time_point m_joined, m_left;
    std::thread m_thread;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Start {
    pid_t pid = -1;
    double millis = 0;       // to the window, less the probe's wait
    double probeMillis = 0;  // the probe's wait
};

/// Starts a program and waits for its window; pid -1 when it did not show.
Start startAndWait(const Sandbox& sandbox, const std::string& program, const std::string& title) {
    MapWatcher watcher;
    ProbeWatch probe;
    Start start;
    const auto begun = Clock::now();
    start.pid = sandbox.spawn({program});
    const auto mapped = start.pid > 0 && watcher.ok() ? watcher.waitMapped(title, 60s) : std::nullopt;
    if (!mapped) {
        if (start.pid > 0) finish(start.pid, 0ms);
        start.pid = -1;
        return start;
    }
    start.probeMillis = probe.millis();
    start.millis = millisBetween(begun, *mapped) - start.probeMillis;
    return start;
}

unsigned bareWalk(const frm::ZoneElement& zone, const device::DeviceBase* device) {
    unsigned count = 0;
    for (const auto& filed : zone.getDevices()) count += filed.get() == device ? 1 : 0;
    for (const auto& child : zone.getZones()) count += bareWalk(*child, device);
    return count;
}

template <class F>
double medianMicros(F&& run) {
    std::vector<double> times;
    for (int i = 0; i < 301; ++i) {
        const auto begun = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begun).count());
    }
    return median(times);
}

/// The main window over the run's data folder, in this process: the device
/// filed last has its state refreshed, as when its state packet changed
/// something. Returns false when the window found no device.
bool measureUpdateGui(char* program) {
    wxApp::SetInstance(new wxApp);
    int argc = 1;  // the toolkit would refuse our options
    char* argv[] = {program, nullptr};
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) return false;
    const std::wstring folder = os::getUserDataDirectory();
    const std::wstring logFolder = folder + L"/log";
    fs::create_directories(logFolder);
    dbg_init(false, INFO, logFolder.c_str());
    pref_init(folder + L"/sonvar.cfg");
    base::ThreadDispatcher::create();
    auto transport = boost::make_shared<device::TransferProtocol>(0, "");
    auto* frame = new frm::MainFrame(transport, false, false);
    frame->Startup();
    frame->Show();

    const frm::ZoneElement::Ptr root = frame->getItemDataMap()->getZoneElement(0);
    frm::MainFrame::DevicePtr last;
    if (root && !root->getZones().empty() && !root->getZones().back()->getDevices().empty())
        last = root->getZones().back()->getDevices().back();
    bool found = false;
    if (last) {
        unsigned bare = 0;
        const double oursUs = medianMicros([&] { frame->updateGui(last); });
        const double bareUs = medianMicros([&] { bare = bareWalk(*root, last.get()); });
        found = bare == 1;
        std::printf("BENCH update_gui_1000 ours=%.1fus bare_tree_walk=%.1fus ratio=%.2f\n", oursUs, bareUs,
                    oursUs / bareUs);
        std::fflush(stdout);
    }
    frame->Shutdown();
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    transport->stop();
    base::ThreadDispatcher::destroy();
    pref_free();
    wxEntryCleanup();
    return found;
}

bool stopProgram(const Sandbox& sandbox, pid_t pid) {
    const pid_t quit = sandbox.spawn({SONVAR_PROGRAM, "--quit"});
    const bool quitted = quit > 0 && finish(quit, 20s) == 0;
    return finish(pid, 20s) == 0 && quitted;
}

/// A first start on a site, with `loudspeakers` simulated loudspeakers and a
/// console sending state packets since 3 s before it (none: no device at
/// all): the input answers over `span` after the window. Stops the program.
std::optional<MapWatcher::Answers> inputAfterWindow(const Sandbox& sandbox, const std::string& server,
                                                    unsigned loudspeakers, std::chrono::milliseconds span) {
    writeBareDataFolder(sandbox.dataFolder());
    device::sim::Simulator simulator(2);
    if (loudspeakers > 0) {
        for (unsigned n = 0; n <= loudspeakers; ++n) {
            const std::string address = *device::sim::Simulator::loopbackAddress("127.0.1.1", n);
            const std::string hardware = device::sim::Simulator::hardwareAddress(n + 1);
            auto& device = n < loudspeakers ? simulator.addOrvel(address, kDevicePort, hardware)
                                            : simulator.addTovik(address, kDevicePort, hardware);
            device.setRecording(false);
        }
        simulator.start();
        const device::sim::Endpoint to(boost::asio::ip::make_address_v4(server), kBasePort);
        for (std::size_t n = 0; n < simulator.size(); ++n) simulator.device(n).startStatePackets(to, 1000ms);
        std::this_thread::sleep_for(3s);
    }
    MapWatcher watcher;
    const pid_t pid = sandbox.spawn({SONVAR_PROGRAM});
    const auto mapped = pid > 0 && watcher.ok() ? watcher.waitMapped("Сонвар", 60s) : std::nullopt;
    std::optional<MapWatcher::Answers> answers;
    if (mapped) answers = watcher.ping(watcher.mapped(), *mapped, span, 50ms);
    if (pid > 0 && !stopProgram(sandbox, pid)) {
        std::fprintf(stderr, "the program did not stop with --quit\n");
        answers.reset();
    }
    simulator.stop();
    if (answers) {
        // What the program filed while it was pinged, as its exit save keeps it.
        std::ifstream saved(sandbox.dataFolder() + "/device_collection.xml");
        const std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
        std::size_t filed = 0;
        for (auto at = text.find("<device>"); at != std::string::npos; at = text.find("<device>", at + 1)) ++filed;
        answers->devicesSaved = filed;
    }
    return answers;
}

/// The two input lines: 2,000 loudspeakers and a console sending beside none.
bool measureInputAfterWindow(const Sandbox& sandbox, const std::string& server, std::chrono::milliseconds span) {
    const auto floor = inputAfterWindow(sandbox, server, 0, span);
    const auto ours = inputAfterWindow(sandbox, server, kSendingLoudspeakers, span);
    if (!floor || !ours || floor->firstMillis < 0 || ours->firstMillis < 0) {
        std::fprintf(stderr, "the main window did not show or answered no input\n");
        return false;
    }
    std::printf("input after the window: %zu of %zu pings answered with the devices sending (%zu devices saved at "
                "the stop), %zu of %zu without\n",
                ours->answered, ours->sent, ours->devicesSaved, floor->answered, floor->sent);
    std::printf("BENCH first_input_2000_sending ours=%.0fms no_devices=%.0fms ratio=%.2f\n", ours->firstMillis,
                floor->firstMillis, ours->firstMillis / std::max(floor->firstMillis, 1.0));
    std::printf("BENCH longest_input_wait_2000_sending ours=%.0fms no_devices=%.0fms ratio=%.2f\n",
                ours->longestMillis, floor->longestMillis, ours->longestMillis / std::max(floor->longestMillis, 1.0));
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    long duration = 600;
    int rounds = 3;
    long inputSpan = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--duration") == 0) duration = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--input-span") == 0) inputSpan = std::max(1L, std::atol(argv[i + 1]));
    }
    const std::string server = interfaceAddress();
    if (server.empty() || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "run it inside scripts/netns-run --veth, under xvfb-run\n");
        return 2;
    }
    Sandbox sandbox;
    sandbox.enter();
    if (!measureUpdateGui(argv[0])) {
        std::fprintf(stderr, "the main window did not load the devices\n");
        return 1;
    }
    writeDataFolder(sandbox.dataFolder());  // as it was before the window's shutdown wrote it

    // The devices of the data folder, sending their state packets to the program.
    device::sim::Simulator simulator(2);
    for (unsigned n = 0; n < kDevices; ++n) {
        auto& device = simulator.addOrvel(*device::sim::Simulator::loopbackAddress("127.0.1.1", n), kDevicePort,
                                          device::sim::Simulator::hardwareAddress(n + 1));
        device.setRecording(false);
    }
    simulator.start();
    const device::sim::Endpoint to(boost::asio::ip::make_address_v4(server), kBasePort);
    for (unsigned n = 0; n < kDevices; ++n) simulator.device(n).startStatePackets(to, 1000ms);

    std::vector<double> ours, peer, probes;
    double oursRss = 0, peerRss = 0;
    pid_t running = -1;
    for (int round = 0; round < rounds; ++round) {
        const bool last = round == rounds - 1;
        const Start empty = startAndWait(sandbox, WX_EMPTY_FRAME, "wx empty frame");
        if (empty.pid < 0) {
            std::fprintf(stderr, "the empty frame did not show\n");
            return 1;
        }
        peer.push_back(empty.millis);
        if (last) {
            std::this_thread::sleep_for(3s);
            peerRss = rssMiB(empty.pid);
        }
        ::kill(empty.pid, SIGTERM);
        finish(empty.pid, 10s);

        const Start program = startAndWait(sandbox, SONVAR_PROGRAM, "Сонвар");
        if (program.pid < 0) {
            std::fprintf(stderr, "the main window did not show\n");
            return 1;
        }
        ours.push_back(program.millis);
        probes.push_back(program.probeMillis);
        if (last) {
            std::this_thread::sleep_for(3s);
            oursRss = rssMiB(program.pid);
            running = program.pid;
        } else if (!stopProgram(sandbox, program.pid)) {
            std::fprintf(stderr, "the program did not stop with --quit\n");
            return 1;
        }
    }
    std::printf("startup_to_window leaves out the stream probe's wait (median %.0fms)\n", median(probes));
    std::printf("BENCH startup_to_window ours=%.0fms wx_empty_frame=%.0fms ratio=%.2f\n", median(ours), median(peer),
                median(ours) / median(peer));
    std::printf("BENCH rss_after_start ours=%.1fMiB wx_empty_frame=%.1fMiB ratio=%.2f\n", oursRss, peerRss,
                oursRss / peerRss);
    std::fflush(stdout);

    std::this_thread::sleep_for(std::chrono::seconds(duration));
    const double grown = rssMiB(running) - oursRss;
    std::printf("BENCH rss_growth_%lds ours=%.2fMiB goal=5MiB ratio=%.2f\n", duration, grown, grown / 5.0);
    const bool stopped = stopProgram(sandbox, running);
    simulator.stop();
    if (!stopped) return 1;
    return measureInputAfterWindow(sandbox, server, std::chrono::seconds(inputSpan)) ? 0 : 1;
}
