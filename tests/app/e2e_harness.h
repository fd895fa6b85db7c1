#pragma once

// Runs of the whole program for the end-to-end tests: the real `sonvar`
// executable and the device simulator, inside a private network of the
// test's own (svt0 at 10.77.0.1), on an X display of its own, with its own
// data and runtime folders (so tests run in parallel on the default ports),
// fake `systemd-inhibit` and `systemctl` first in PATH, and the program's
// boxes answered from a file and recorded in another.
//
// Everything here runs on the test's main thread (children inherit its
// network namespace); the one extra thread is StreamSender's.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/private_network.h"
#include "tests/support/temp_dir.h"

struct config_t;  // libconfig's

namespace e2e {

using namespace std::chrono_literals;

/// A child process, started with its standard output and error in a file;
/// killed and reaped when destroyed.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const std::string& outputPath);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    /// True until the child has ended (it is reaped then).
    bool running();
    /// "exit N" or "signal N" once it has ended within `limit`; "running"
    /// (and the child is killed) when it has not.
    std::string finish(std::chrono::milliseconds limit = 20s);
    void signal(int number);
    std::string output() const;

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_ended = false;
    std::string m_outputPath;
};

/// One message box as the program recorded it.
struct Box {
    std::string caption;
    std::string text;  // line breaks as "\n"
    std::string answer;
};

/// A simulated device as the simulator announced it.
struct SimulatedDevice {
    bool console = false;
    std::string address;   // 127.0.1.x
    std::string hardware;  // "02:56:53:00:00:01"
};

/// Sends a small datagram to a multicast group every 50 ms from the
/// interface with the given address: another server's stream, as far as the
/// program's probe can tell.
class StreamSender {
public:
    StreamSender(const std::string& interfaceAddress, const std::string& group, std::uint16_t port);
    ~StreamSender();
    StreamSender(const StreamSender&) = delete;
    StreamSender& operator=(const StreamSender&) = delete;

private:
    int m_socket = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// The settings file as libconfig's C library reads it.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& path);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    bool readable() const { return m_readable; }
    std::optional<std::string> text(const char* path) const;
    std::optional<int> number(const char* path) const;
    std::optional<bool> flag(const char* path) const;

private:
    ::config_t* m_config;
    bool m_readable = false;
};

/// An X server of the test's own (Xvfb), on a display number claimed with
/// Xvfb's lock file in the system's temporary folder. Numbers are tried from
/// 20 + pid % 400 upward; a server that exits before its lock file names it
/// lost the number and the next is tried. Xvfb's "-displayfd" is not used:
/// it takes the first number whose abstract socket is free, and abstract
/// sockets are per network namespace, so two test runs in two namespaces
/// (two suites at once on one machine, or a suite beside a benchmark) would
/// take the same number and replace each other's socket file. The programs
/// in the test's private network reach the server through that file.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const std::string& logPath);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    /// ":N"
    const std::string& name() const { return m_name; }

private:
    pid_t m_pid = -1;
    std::string m_name;
};

/// A private network, folders, an X display and fake tools for runs of the
/// program. One per test.
class Sandbox {
public:
    static constexpr const char* kInterface = "10.77.0.1";
    static constexpr std::uint16_t kBasePort = 11990;
    static constexpr std::uint16_t kDevicePort = 12990;

    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    /// A file of the program's data folder.
    std::string dataFile(const std::string& name) const { return m_data + "/" + name; }
    void writeDataFile(const std::string& name, const std::string& bytes) const;

    /// Boxes whose caption is given are answered with that button at once;
    /// the others are shown and stay open until answered or cancelled.
    void answer(const std::string& caption, const std::string& button) const;
    /// Every box shown so far, in order.
    std::vector<Box> boxes() const;
    /// The fake systemctl's exit status (3, "not active", until changed).
    void setSystemctlStatus(int status) const;
    /// Lines the fake tools wrote: "systemctl <arguments>", "inhibit
    /// started", "inhibit released".
    std::vector<std::string> toolLog() const;

    /// The simulator: loudspeakers and consoles on 127.0.1.x sending state
    /// packets to the program every 200 ms; every request it receives goes
    /// to its output. Returns once the devices run.
    std::unique_ptr<Child> startSimulator(unsigned loudspeakers, unsigned consoles);
    /// The same with the device options given (--loudspeakers, faults,
    /// --holdings ...) after the port, the server, the period and --verbose;
    /// throws std::runtime_error with its output when it does not start.
    std::unique_ptr<Child> startSimulator(const std::vector<std::string>& deviceOptions);
    std::vector<SimulatedDevice> simulatedDevices(const Child& simulator) const;
    /// How many requests the simulated devices have received.
    static std::size_t simulatorRequests(const Child& simulator);

    std::unique_ptr<Child> startProgram(const std::vector<std::string>& arguments = {}) const;
    /// `sonvar --quit` run to its end: "exit N".
    std::string quit() const;

    /// Waits until a shown window's title matches the extended regular
    /// expression (xdotool search); false when `program` ends first or the
    /// limit passes.
    bool waitForWindow(const std::string& title, Child& program, std::chrono::milliseconds limit = 30s) const;
    /// Waits until `program` holds a file lock (the single-instance lock).
    bool waitForLock(Child& program, std::chrono::milliseconds limit = 20s) const;
    /// Every log file of the data folder, oldest first, as one text.
    std::string log() const;
    /// Waits until the log holds `count` lines containing `text`.
    bool waitForLog(const std::string& text, std::size_t count, Child& program,
                    std::chrono::milliseconds limit = 20s) const;
    /// Waits until the simulator has received `count` requests from the
    /// program's interface address.
    bool waitForRequests(const Child& simulator, std::size_t count, Child& program,
                         std::chrono::milliseconds limit = 20s) const;

    /// The program's main window title.
    static constexpr const char* kMainWindow = "^Сонвар 1\\.2";

    /// What the program and the tools started here run with: the display,
    /// the folders, the fake tools first in PATH, the box files, and the
    /// variables of setVariable.
    std::vector<std::string> environment() const;
    /// One more variable for everything started from now on.
    void setVariable(const std::string& name, const std::string& value);
    /// The sandbox's own folder; the data folder is inside it.
    const std::string& folder() const { return m_root.path(); }
    /// The X display, ":N".
    const std::string& display() const { return m_display.name(); }

private:
    void writeTool(const std::string& name, const std::string& body) const;

    testing_support::TempDir m_root{"sonvar-e2e"};
    VirtualDisplay m_display{m_root.path() + "/xvfb.out"};
    testing_support::PrivateNetwork m_network;
    std::string m_data;
    std::vector<std::string> m_variables;  // "NAME=value"
};

/// The English words of a box's text (UTF-8) outside «» quotes: runs of two
/// or more Latin letters, leaving out paths, hexadecimal numbers and
/// addresses, and the names of models and formats. A Sandbox fails the
/// running test on a box that has any.
std::vector<std::string> englishWords(const std::string& text);

/// How many times `needle` occurs in `text`.
std::size_t occurrences(const std::string& text, const std::string& needle);
/// `xmllint --noout` passes.
bool wellFormed(const std::string& path);
/// The result of `xmllint --xpath EXPRESSION path`, trimmed.
std::string xpath(const std::string& path, const std::string& expression);

}  // namespace e2e
