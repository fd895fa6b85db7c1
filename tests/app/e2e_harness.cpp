#include "tests/app/e2e_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libconfig.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

extern char** environ;

namespace e2e {

namespace {

namespace fs = boost::filesystem;
using Clock = std::chrono::steady_clock;

std::string readAll(const std::string& path) { return testing_support::readFile(path); }

void appendTo(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

/// Runs a tool to its end (at most 20 s) and returns its output.
std::string capture(const std::vector<std::string>& argv, int* status = nullptr) {
    testing_support::TempDir scratch("sonvar-e2e-tool");
    const std::string output = scratch.path() + "/out";
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    Child tool(argv, environment, output);
    const std::string result = tool.finish(20s);
    if (status) *status = result == "exit 0" ? 0 : 1;
    return readAll(output);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

/// Waits until `done` holds, checking every 20 ms; false after `limit` or,
/// with a program given, once the program has ended.
template <class Condition>
bool waitUntil(Condition done, std::chrono::milliseconds limit, Child* program = nullptr) {
    const auto end = Clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (Clock::now() > end || (program && !program->running())) return done();
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace

// ---- Child ---------------------------------------------------------------------------

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const std::string& outputPath)
    : m_outputPath(outputPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const auto& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    const int failed = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
}

Child::~Child() {
    if (!m_ended) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool Child::running() {
    if (m_ended) return false;
    if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_ended = true;
    return !m_ended;
}

std::string Child::finish(std::chrono::milliseconds limit) {
    if (waitUntil([this] { return !running(); }, limit)) {
        if (WIFEXITED(m_status)) return "exit " + std::to_string(WEXITSTATUS(m_status));
        if (WIFSIGNALED(m_status)) return "signal " + std::to_string(WTERMSIG(m_status));
        return "status " + std::to_string(m_status);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_ended = true;
    return "running";
}

void Child::signal(int number) {
    if (!m_ended) ::kill(m_pid, number);
}

std::string Child::output() const { return readAll(m_outputPath); }

// ---- StreamSender -----------------------------------------------------------------------

StreamSender::StreamSender(const std::string& interfaceAddress, const std::string& group, std::uint16_t port) {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    in_addr local{};
    ::inet_pton(AF_INET, interfaceAddress.c_str(), &local);
    if (m_socket < 0 || ::setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0)
        throw std::runtime_error("stream sender: " + std::string(std::strerror(errno)));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, group.c_str(), &to.sin_addr);
    m_thread = std::thread([this, to] {
        const char datagram[188] = {0x47};  // one transport-stream packet's length
        while (!m_stop) {
            ::sendto(m_socket, datagram, sizeof datagram, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            std::this_thread::sleep_for(50ms);
        }
    });
}

StreamSender::~StreamSender() {
    m_stop = true;
    m_thread.join();
    ::close(m_socket);
}

// ---- SettingsFile -----------------------------------------------------------------------

SettingsFile::SettingsFile(const std::string& path) : m_config(new config_t) {
    config_init(m_config);
    m_readable = config_read_file(m_config, path.c_str()) == CONFIG_TRUE;
}

SettingsFile::~SettingsFile() {
    config_destroy(m_config);
    delete m_config;
}

std::optional<std::string> SettingsFile::text(const char* path) const {
    const char* value = nullptr;
    if (config_lookup_string(m_config, path, &value) != CONFIG_TRUE) return std::nullopt;
    return std::string(value);
}

std::optional<int> SettingsFile::number(const char* path) const {
    int value = 0;
    if (config_lookup_int(m_config, path, &value) != CONFIG_TRUE) return std::nullopt;
    return value;
}

std::optional<bool> SettingsFile::flag(const char* path) const {
    int value = 0;
    if (config_lookup_bool(m_config, path, &value) != CONFIG_TRUE) return std::nullopt;
    return value != 0;
}

// ---- VirtualDisplay ----------------------------------------------------------------------

VirtualDisplay::VirtualDisplay(const std::string& log) {
    // Each candidate number is tried with Xvfb's own lock file, which every X
    // server on this machine honours whatever its network namespace. With
    // "-displayfd" Xvfb writes no lock file and picks the first number whose
    // abstract socket is free; abstract sockets are per network namespace, so
    // two test runs in two namespaces would take the same number and replace
    // each other's socket file in the shared X11 folder.
    const int first = 20 + static_cast<int>(::getpid() % 400);
    for (int number = first; number < first + 200; ++number) {
        const std::string display = ":" + std::to_string(number);
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (::access(lock.c_str(), F_OK) == 0) continue;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const char* argv[] = {"Xvfb", display.c_str(), "-screen", "0", "1280x1024x24",
                              "-nolisten", "tcp", "-noreset", nullptr};
        const int failed =
            posix_spawnp(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) throw std::runtime_error("cannot start Xvfb");
        // Ready when the lock file names our server and its socket exists;
        // a server that exits first lost the number to another one.
        const std::string pid = std::to_string(m_pid);
        const auto deadline = Clock::now() + 10s;
        bool exited = false;
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                exited = true;
                break;
            }
            std::string owner = readAll(lock);
            boost::algorithm::trim(owner);
            if (owner == pid && ::access(socket.c_str(), F_OK) == 0) {
                m_name = display;
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (!exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    throw std::runtime_error("Xvfb found no free display: " + readAll(log));
}

VirtualDisplay::~VirtualDisplay() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
}

// ---- Sandbox ------------------------------------------------------------------------------

Sandbox::Sandbox() {
    m_network.addressBothEnds();
    const std::string& root = m_root.path();
    for (const char* folder : {"/data", "/run", "/config", "/cache", "/bin"}) fs::create_directories(root + folder);
    ::chmod((root + "/run").c_str(), 0700);
    m_data = root + "/data/Varko Security Systems/Sonvar/1.2";
    fs::create_directories(m_data);
    appendTo(root + "/answers", "");
    writeTool("systemd-inhibit",
              "echo 'inhibit started' >>'" + root + "/tools.log'\n"
              "while [ $# -gt 0 ]; do case \"$1\" in --*) shift ;; *) break ;; esac; done\n"
              "\"$@\"\n"
              "echo 'inhibit released' >>'" + root + "/tools.log'\n");
    writeTool("systemctl", "echo \"systemctl $*\" >>'" + root + "/tools.log'\nexit $(cat '" + root +
                               "/systemctl.status')\n");
    setSystemctlStatus(3);
}

Sandbox::~Sandbox() {
    // Whatever the test looked at, every box the operator was shown is Russian.
    for (const Box& box : boxes()) {
        const auto words = englishWords(box.caption + "\n" + box.text);
        if (!words.empty())
            ADD_FAILURE() << "a box with English words (" << boost::algorithm::join(words, ", ") << "): "
                          << box.caption << " | " << box.text;
    }
}

void Sandbox::writeTool(const std::string& name, const std::string& body) const {
    const std::string path = m_root.path() + "/bin/" + name;
    std::ofstream(path, std::ios::trunc) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
}

std::vector<std::string> Sandbox::environment() const {
    const std::string& root = m_root.path();
    const char* path = std::getenv("PATH");
    std::vector<std::string> ours = {
        "DISPLAY=" + m_display.name(),
        "GDK_BACKEND=x11",
        "NO_AT_BRIDGE=1",
        "XDG_DATA_HOME=" + root + "/data",
        "XDG_RUNTIME_DIR=" + root + "/run",
        "XDG_CONFIG_HOME=" + root + "/config",
        "XDG_CACHE_HOME=" + root + "/cache",
        "PATH=" + root + "/bin:" + (path ? path : "/usr/bin:/bin"),
        "SONVAR_TEST_ANSWERS=" + root + "/answers",
        "SONVAR_TEST_BOXES=" + root + "/boxes",
    };
    ours.insert(ours.end(), m_variables.begin(), m_variables.end());
    std::vector<std::string> environment = ours;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        const bool replaced = std::any_of(ours.begin(), ours.end(),
                                          [&](const std::string& own) { return own.rfind(name + "=", 0) == 0; });
        if (!replaced && name != "XAUTHORITY" && name != "WAYLAND_DISPLAY") environment.push_back(text);
    }
    return environment;
}

void Sandbox::setVariable(const std::string& name, const std::string& value) {
    m_variables.push_back(name + "=" + value);
}

void Sandbox::writeDataFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(dataFile(name), std::ios::binary | std::ios::trunc) << bytes;
}

void Sandbox::answer(const std::string& caption, const std::string& button) const {
    appendTo(m_root.path() + "/answers", caption + "\t" + button + "\n");
}

std::vector<Box> Sandbox::boxes() const {
    std::vector<Box> result;
    for (const std::string& line : splitLines(readAll(m_root.path() + "/boxes"))) {
        const auto first = line.find('\t');
        const auto last = line.rfind('\t');
        if (first == std::string::npos || last == first) continue;
        result.push_back({line.substr(0, first), line.substr(first + 1, last - first - 1), line.substr(last + 1)});
    }
    return result;
}

void Sandbox::setSystemctlStatus(int status) const {
    std::ofstream(m_root.path() + "/systemctl.status", std::ios::trunc) << status << "\n";
}

std::vector<std::string> Sandbox::toolLog() const { return splitLines(readAll(m_root.path() + "/tools.log")); }

std::unique_ptr<Child> Sandbox::startSimulator(unsigned loudspeakers, unsigned consoles) {
    return startSimulator({"--loudspeakers", std::to_string(loudspeakers), "--consoles", std::to_string(consoles)});
}

std::unique_ptr<Child> Sandbox::startSimulator(const std::vector<std::string>& deviceOptions) {
    std::vector<std::string> argv{SONVAR_SIMULATOR, "--port", std::to_string(kDevicePort), "--server",
                                  std::string(kInterface) + ":" + std::to_string(kBasePort), "--period", "200",
                                  "--verbose"};
    argv.insert(argv.end(), deviceOptions.begin(), deviceOptions.end());
    auto simulator = std::make_unique<Child>(argv, environment(), m_root.path() + "/simulator.out");
    const bool up = waitUntil([&] { return simulator->output().find("send state packets") != std::string::npos; },
                              10s, simulator.get());
    if (!up) throw std::runtime_error("the simulator did not start: " + simulator->output());
    return simulator;
}

std::vector<SimulatedDevice> Sandbox::simulatedDevices(const Child& simulator) const {
    std::vector<SimulatedDevice> devices;
    for (const std::string& line : splitLines(simulator.output())) {
        std::istringstream fields(line);
        std::string kind, endpoint, hardware;
        if (!(fields >> kind >> endpoint >> hardware) || (kind != "speaker" && kind != "console")) continue;
        if (hardware.rfind("hw=", 0) != 0) continue;
        devices.push_back({kind == "console", endpoint.substr(0, endpoint.find(':')), hardware.substr(3)});
    }
    return devices;
}

std::size_t Sandbox::simulatorRequests(const Child& simulator) { return occurrences(simulator.output(), " <- "); }

std::unique_ptr<Child> Sandbox::startProgram(const std::vector<std::string>& arguments) const {
    static int runs = 0;
    std::vector<std::string> argv{SONVAR_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<Child>(argv, environment(), m_root.path() + "/program-" + std::to_string(++runs) + ".out");
}

std::string Sandbox::quit() const {
    Child quitting({SONVAR_PROGRAM, "--quit"}, environment(), m_root.path() + "/quit.out");
    return quitting.finish(20s);
}

bool Sandbox::waitForWindow(const std::string& title, Child& program, std::chrono::milliseconds limit) const {
    // Only the windows of the program this test started: another test's
    // program may show a window of the same title on its own display.
    Child search({"xdotool", "search", "--sync", "--all", "--onlyvisible", "--pid", std::to_string(program.pid()),
                  "--name", title},
                 environment(),
                 m_root.path() + "/xdotool.out");
    waitUntil([&] { return !search.running(); }, limit, &program);
    return search.finish(0ms) == "exit 0";
}

bool Sandbox::waitForLock(Child& program, std::chrono::milliseconds limit) const {
    const std::string pid = std::to_string(program.pid());
    return waitUntil(
        [&] {
            for (const std::string& line : splitLines(readAll("/proc/locks"))) {
                std::istringstream fields(line);
                std::string number, kind, mode, access, owner;
                if (fields >> number >> kind >> mode >> access >> owner && kind == "FLOCK" && owner == pid)
                    return true;
            }
            return false;
        },
        limit, &program);
}

std::string Sandbox::log() const {
    std::vector<std::string> files;
    const fs::path folder = m_data + "/log";
    boost::system::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->path().extension() == ".log") files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto& file : files) {
        std::string bytes = readAll(file);
        if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
        text += bytes;
    }
    return text;
}

bool Sandbox::waitForLog(const std::string& text, std::size_t count, Child& program,
                         std::chrono::milliseconds limit) const {
    return waitUntil([&] { return occurrences(log(), text) >= count; }, limit, &program);
}

bool Sandbox::waitForRequests(const Child& simulator, std::size_t count, Child& program,
                              std::chrono::milliseconds limit) const {
    const std::string from = std::string(" <- ") + kInterface + ":";
    return waitUntil([&] { return occurrences(simulator.output(), from) >= count; }, limit, &program);
}

// ---- files ----------------------------------------------------------------------------------

std::vector<std::string> englishWords(const std::string& text) {
    // «» quote what the program passes on as it came: a device's reply, a
    // system error text.
    std::string outside;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find("«", at);
        outside += text.substr(at, open == std::string::npos ? std::string::npos : open - at);
        if (open == std::string::npos) break;
        const std::size_t close = text.find("»", open);
        if (close == std::string::npos) break;
        at = close + std::strlen("»");
    }
    // A quoted path may hold spaces and any folder's name.
    for (std::size_t open = 0; (open = outside.find('\'', open)) != std::string::npos;) {
        const std::size_t close = outside.find('\'', open + 1);
        if (close == std::string::npos) break;
        if (outside.find('/', open) < close)
            outside.erase(open, close - open + 1);
        else
            open = close + 1;
    }
    for (std::size_t lineBreak; (lineBreak = outside.find("\\n")) != std::string::npos;)
        outside.replace(lineBreak, 2, " ");  // the recorder writes line breaks as "\n"
    // Names of models and formats, which stay as they are in Russian texts.
    static const char* const kNames[] = {"Orvel", "Tovik", "Zarno", "mp3", "MP3", "IP", "MAC", "OK", "ОК"};
    std::vector<std::string> found;
    std::size_t i = 0;
    const auto tokenCharacter = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr(":._/-\\", c) != nullptr;
    };
    while (i < outside.size()) {
        if (!tokenCharacter(outside[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < outside.size() && tokenCharacter(outside[end])) ++end;
        const std::string token = outside.substr(i, end - i);
        i = end;
        bool word = false;
        for (std::size_t k = 0; k + 1 < token.size(); ++k)
            word = word || (std::isalpha(static_cast<unsigned char>(token[k])) &&
                            std::isalpha(static_cast<unsigned char>(token[k + 1])));
        if (!word) continue;
        if (token.find('/') != std::string::npos) continue;  // a path
        const std::size_t dot = token.find('.');
        if (dot != std::string::npos && dot > 0 && dot + 1 < token.size() &&
            std::isalpha(static_cast<unsigned char>(token[dot + 1])))
            continue;  // a settings key or a file's name
        if (token.find_first_not_of("0123456789abcdefABCDEF:.-") == std::string::npos) continue;  // hex, MAC
        bool named = false;
        for (const char* name : kNames) named = named || token.find(name) != std::string::npos;
        if (!named) found.push_back(token);
    }
    return found;
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}

bool wellFormed(const std::string& path) {
    int status = 1;
    capture({"xmllint", "--noout", path}, &status);
    return status == 0;
}

std::string xpath(const std::string& path, const std::string& expression) {
    std::string result = capture({"xmllint", "--xpath", expression, path});
    boost::algorithm::trim(result);
    return result;
}

}  // namespace e2e
