#include "os/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <exception>

#include "base/log.h"
#include "base/log_safe.h"
#include "base/text.h"
#include "os/data_directory.h"
#include "os/file_system.h"

namespace os {

namespace {

// ---- text without allocation ---------------------------------------------------

/// A fixed buffer that formats the few shapes the crash path needs; what does
/// not fit is cut off. Safe in a signal handler.
class SafeText {
public:
    static constexpr std::size_t kCapacity = 4096;

    SafeText& text(const char* s) {
        while (s != nullptr && *s != '\0') put(*s++);
        return *this;
    }
    /// Upper-case hexadecimal with at least `digits` digits.
    SafeText& hex(std::uint64_t value, int digits = 8) {
        char reversed[17];
        int count = 0;
        do {
            reversed[count++] = "0123456789ABCDEF"[value & 0xF];
            value >>= 4;
        } while (value != 0 && count < 16);
        while (count < digits && count < 16) reversed[count++] = '0';
        while (count > 0) put(reversed[--count]);
        return *this;
    }
    SafeText& number(std::int64_t value, int digits = 1) {
        if (value < 0) {
            put('-');
            value = -value;
        }
        char reversed[20];
        int count = 0;
        do {
            reversed[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < 19);
        while (count < digits && count < 19) reversed[count++] = '0';
        while (count > 0) put(reversed[--count]);
        return *this;
    }
    /// The bytes with control characters escaped as the log does ("\1B"), so
    /// that one record stays one line.
    SafeText& escaped(const char* s) {
        for (; s != nullptr && *s != '\0'; ++s) {
            const auto c = static_cast<unsigned char>(*s);
            if (c < 0x20 || c == 0x7F)
                text("\\").hex(c, 1);
            else
                put(*s);
        }
        return *this;
    }
    void clear() { m_length = 0; }
    void padTo(std::size_t width) {
        while (m_length < width) put(' ');
    }

    const char* data() const { return m_buffer; }
    std::size_t size() const { return m_length; }
    bool empty() const { return m_length == 0; }
    const char* c_str() {
        m_buffer[m_length] = '\0';
        return m_buffer;
    }

private:
    void put(char c) {
        if (m_length < kCapacity) m_buffer[m_length++] = c;
    }
    char m_buffer[kCapacity + 1] = {};
    std::size_t m_length = 0;
};

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
}

void writeAll(int fd, const SafeText& text) { writeAll(fd, text.data(), text.size()); }

// ---- what installCrashHandlers prepares ------------------------------------------

/// The dump folder (UTF-8, no trailing separator) and the local time offset
/// taken at installation; the handler cannot call localtime.
char g_dumpFolder[PATH_MAX] = {};
/// The failure's log text as the log would write it (its catalogue entry),
/// UTF-8; the handler cannot look it up.
constexpr const wchar_t* kDumpFailed = L"failed to save memory dump";
char g_dumpFailedText[256] = "failed to save memory dump";
std::atomic<long> g_utcOffsetSeconds{0};
std::atomic<bool> g_installed{false};
std::atomic<int> g_crashing{0};

constexpr std::size_t kAlternateStackSize = 256 * 1024;  // the handler formats into buffers on it
alignas(16) char g_alternateStack[kAlternateStackSize];

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

bool isLeap(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

/// Civil date from the clock and the prepared offset: plain arithmetic,
/// because localtime takes a lock.
LocalTime localNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::int64_t seconds = now.tv_sec + g_utcOffsetSeconds.load(std::memory_order_relaxed);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    LocalTime t{};
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    std::int64_t year = 1970;
    while (days < 0) days += isLeap(--year) ? 366 : 365;
    while (days >= (isLeap(year) ? 366 : 365)) days -= isLeap(year++) ? 366 : 365;
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int month = 0;
    while (month < 11) {
        const int length = kMonthDays[month] + (month == 1 && isLeap(year) ? 1 : 0);
        if (days < length) break;
        days -= length;
        ++month;
    }
    t.year = static_cast<int>(year);
    t.month = month + 1;
    t.day = static_cast<int>(days) + 1;
    return t;
}

void refreshUtcOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) g_utcOffsetSeconds = local.tm_gmtoff;
}

// ---- the module of an address, from /proc/self/maps -----------------------------

struct Module {
    std::uintptr_t base = 0;
    char path[PATH_MAX] = {};
    bool found = false;
};

std::uintptr_t parseHex(const char*& p) {
    std::uintptr_t value = 0;
    for (;; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9')
            value = value * 16 + static_cast<std::uintptr_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            value = value * 16 + static_cast<std::uintptr_t>(c - 'a' + 10);
        else
            break;
    }
    return value;
}

/// One line of the maps file: "start-end perms offset dev inode   path".
/// Keeps the lowest start of the run of lines that share a path (the module's
/// load address) and stops at the line that holds the address.
void scanMapsLine(const char* line, std::uintptr_t address, Module& module, char* runPath,
                  std::uintptr_t& runBase) {
    const char* p = line;
    const std::uintptr_t start = parseHex(p);
    if (*p != '-') return;
    ++p;
    const std::uintptr_t end = parseHex(p);
    for (int field = 0; field < 4 && *p != '\0'; ++field) {  // perms, offset, dev, inode
        while (*p == ' ') ++p;
        while (*p != ' ' && *p != '\0') ++p;
    }
    while (*p == ' ') ++p;
    if (std::strcmp(p, runPath) != 0) {
        std::strncpy(runPath, p, PATH_MAX - 1);
        runPath[PATH_MAX - 1] = '\0';
        runBase = start;
    }
    if (address >= start && address < end && p[0] == '/') {
        module.base = runBase;
        std::strncpy(module.path, p, PATH_MAX - 1);
        module.found = true;
    }
}

Module findModule(std::uintptr_t address) {
    Module module;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return module;
    char chunk[4096];
    char line[PATH_MAX + 256];
    char runPath[PATH_MAX] = {};
    std::uintptr_t runBase = 0;
    std::size_t length = 0;
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        for (ssize_t i = 0; i < got && !module.found; ++i) {
            if (chunk[i] != '\n') {
                if (length < sizeof line - 1) line[length++] = chunk[i];
                continue;
            }
            line[length] = '\0';
            scanMapsLine(line, address, module, runPath, runBase);
            length = 0;
        }
        if (module.found) break;
    }
    ::close(fd);
    return module;
}

void copyMaps(int out) {
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        writeAll(out, chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
}

// ---- the fault --------------------------------------------------------------------

std::uintptr_t instructionPointer(const CrashContext& crash) {
#if defined(__x86_64__)
    if (crash.context != nullptr)
        return static_cast<std::uintptr_t>(crash.context->uc_mcontext.gregs[REG_RIP]);
#endif
    return crash.info != nullptr ? reinterpret_cast<std::uintptr_t>(crash.info->si_addr) : 0;
}

std::uintptr_t faultAddress(const CrashContext& crash) {
    return crash.info != nullptr ? reinterpret_cast<std::uintptr_t>(crash.info->si_addr) : 0;
}

bool nearStackPointer(const CrashContext& crash) {
#if defined(__x86_64__)
    if (crash.signal == SIGSEGV && crash.context != nullptr && crash.info != nullptr) {
        const auto sp = static_cast<std::uintptr_t>(crash.context->uc_mcontext.gregs[REG_RSP]);
        const std::uintptr_t address = faultAddress(crash);
        const std::uintptr_t distance = address > sp ? address - sp : sp - address;
        return distance < 64 * 1024;
    }
#endif
    return false;
}

/// "read", "write" or the execution kind, from the page-fault error code.
const char* accessKind(const CrashContext& crash) {
#if defined(__x86_64__)
    if (crash.context != nullptr) {
        const auto error = static_cast<std::uint64_t>(crash.context->uc_mcontext.gregs[REG_ERR]);
        if (error & 0x10) return "user-mode data execution prevention (DEP) violation";
        return (error & 0x2) ? "write" : "read";
    }
#endif
    return "unknown";
}

const void* executableAnchor() { return reinterpret_cast<const void*>(&describeFault); }

void appendDescription(const CrashContext& crash, SafeText& out) {
    const int code = crash.info != nullptr ? crash.info->si_code : 0;
    const char* name = exceptionName(crash.signal, code, nearStackPointer(crash));
    const std::uintptr_t at = instructionPointer(crash);
    const Module module = findModule(at);
    if (!module.found) return;
    out.text(name).text(" at address ").hex(at).text(" inside ").text(module.path);
    out.text(" loaded at base address ").hex(module.base).text(". ");
    if (std::strcmp(name, "EXCEPTION_ACCESS_VIOLATION") == 0 ||
        std::strcmp(name, "EXCEPTION_IN_PAGE_ERROR") == 0)
        out.text("Invalid operation: ").text(accessKind(crash)).text(" at address ").hex(faultAddress(crash));
}

void appendModuleLine(SafeText& out) {
    const Module module = findModule(reinterpret_cast<std::uintptr_t>(executableAnchor()));
    if (!module.found) return;
    out.text("Module loaded at base address ").hex(module.base).text(" have path ").text(module.path);
}

void appendRegisters(const CrashContext& crash, SafeText& out) {
#if defined(__x86_64__)
    if (crash.context == nullptr) return;
    static const struct {
        const char* name;
        int index;
    } kRegisters[] = {{"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX},
                      {"RSI", REG_RSI}, {"RDI", REG_RDI}, {"RBP", REG_RBP}, {"RSP", REG_RSP},
                      {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11},
                      {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15},
                      {"RIP", REG_RIP}, {"EFL", REG_EFL}, {"ERR", REG_ERR}, {"TRAPNO", REG_TRAPNO},
                      {"CR2", REG_CR2}};
    int column = 0;
    for (const auto& r : kRegisters) {
        out.text(r.name).text("=").hex(static_cast<std::uint64_t>(crash.context->uc_mcontext.gregs[r.index]),
                                       16);
        out.text(++column % 4 == 0 ? "\n" : "  ");
    }
    out.text("\n");
#else
    (void)crash;
    out.text("(registers are not decoded on this architecture)\n");
#endif
}

/// How many names a dump tries within one second before it gives up.
constexpr int kNameAttempts = 1000;

/// Creates a dump file of a name no other dump has: the local time to the
/// second, "YYYY-MM-DD_HHMMSS.dmp", and only when a file of that name exists
/// already "-2", "-3"... before ".dmp" (a crash dumps twice within a moment:
/// the exception's dump, then the fault's of the same crash). Never opens an
/// existing file. Returns the descriptor, or -1; the name it tried last is
/// left in `path`.
int createDumpFile(const char* folder, SafeText& path) {
    const LocalTime t = localNow();
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
        path.clear();
        path.text(folder).text("/").number(t.year, 4).text("-").number(t.month, 2).text("-").number(t.day, 2);
        path.text("_").number(t.hour, 2).number(t.minute, 2).number(t.second, 2);
        if (attempt > 1) path.text("-").number(attempt);
        path.text(".dmp");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

/// Writes the dump file; returns false when it could not be created. The
/// path it used is left in `path`.
bool writeDumpFile(const CrashContext& crash, const char* folder, SafeText& path) {
    const int fd = createDumpFile(folder, path);
    if (fd < 0) return false;

    SafeText head;
    head.text("Sonvar crash dump\nprocess ").number(::getpid()).text(", thread ");
    head.number(static_cast<std::int64_t>(::syscall(SYS_gettid))).text("\n");
    if (crash.signal != 0) {
        head.text("signal ")
            .number(crash.signal)
            .text(", code ")
            .number(crash.info ? crash.info->si_code : 0);
        head.text(", fault address ").hex(faultAddress(crash), 16).text("\n");
        appendDescription(crash, head);
    } else {
        head.text("dump on request\n");
        appendModuleLine(head);
    }
    head.text("\n\nregisters:\n");
    appendRegisters(crash, head);
    writeAll(fd, head);

    writeAll(fd, "\nbacktrace:\n", 12);
    void* frames[64];
    const int depth = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, depth, fd);
    writeAll(fd, "\nmemory map (/proc/self/maps):\n", 31);
    copyMaps(fd);
    const bool written = ::fsync(fd) == 0 || errno == EINVAL;
    return ::close(fd) == 0 && written;
}

// ---- log lines from the signal handler -----------------------------------------

/// Appends one record to the day's log file in the layout of the log writer;
/// with no log, hands the bare text to the debugger output as the safe log
/// calls do. The Log object itself is not touched beyond two atomic reads.
void crashLog(base::Log::Level level, const char* shortPlace, const char* message) {
    base::Log* log = base::Log::instance();
    if (log == nullptr) {
        if (base::Log::debuggerEcho()) {
            SafeText echo;
            echo.text(message).text("\n");
            writeAll(STDERR_FILENO, echo);
        }
        return;
    }
    if (!log->accepts(level) || g_dumpFolder[0] == '\0') return;
    static const char* const kLevelNames[] = {"TRACE3", "TRACE2", "TRACE",  "DEBUG", "MARK",  "INFO",
                                              "EXTERN", "IMPOR",  "NOTICE", "WARN",  "ERROR", "FATAL"};
    const LocalTime t = localNow();
    SafeText line;
    line.number(t.hour, 2).text(":").number(t.minute, 2).text(":").number(t.second, 2).text(".");
    line.number(t.millisecond, 3).text(" ").text(kLevelNames[level]).text("\t");
    const std::size_t fieldStart = line.size();
    line.text("[").text(shortPlace).text("]");
    line.padTo(fieldStart + 20);
    line.escaped(message).text("\r\n");

    SafeText path;
    path.text(g_dumpFolder).text("/").number(t.year, 4).number(t.month, 2).number(t.day, 2).text(".log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    writeAll(fd, line);
    ::close(fd);
    if (log->level() <= base::Log::TRACE && base::Log::debuggerEcho()) writeAll(STDERR_FILENO, line);
}

void prepareDumpFailedText() {
    std::string text = "failed to save memory dump";
    try {
        if (const base::Log* log = base::Log::instance())
            text = base::toUtf8(log->translate(kDumpFailed, base::Log::ERROR));
    } catch (const std::exception&) {
    }
    if (text.size() >= sizeof g_dumpFailedText) text = "failed to save memory dump";
    std::memcpy(g_dumpFailedText, text.c_str(), text.size() + 1);
}

void prepareDumpFolder() {
    try {
        const std::string folder = base::toUtf8(getUserDataDirectory() + L"/log");
        if (createFolders(base::fromUtf8(folder)) == 0 && folder.size() < sizeof g_dumpFolder) {
            std::memcpy(g_dumpFolder, folder.c_str(), folder.size() + 1);
            return;
        }
    } catch (const std::exception&) {
    }
    g_dumpFolder[0] = '\0';
}

}  // namespace

const char* exceptionName(int signal, int code, bool nearStack) {
    switch (signal) {
        case SIGSEGV:
            return nearStack ? "EXCEPTION_STACK_OVERFLOW" : "EXCEPTION_ACCESS_VIOLATION";
        case SIGBUS:
            return code == BUS_ADRALN ? "EXCEPTION_DATATYPE_MISALIGNMENT" : "EXCEPTION_IN_PAGE_ERROR";
        case SIGILL:
            return code == ILL_PRVOPC || code == ILL_PRVREG ? "EXCEPTION_PRIV_INSTRUCTION"
                                                            : "EXCEPTION_ILLEGAL_INSTRUCTION";
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV:
                    return "EXCEPTION_INT_DIVIDE_BY_ZERO";
                case FPE_INTOVF:
                    return "EXCEPTION_INT_OVERFLOW";
                case FPE_FLTDIV:
                    return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
                case FPE_FLTOVF:
                    return "EXCEPTION_FLT_OVERFLOW";
                case FPE_FLTUND:
                    return "EXCEPTION_FLT_UNDERFLOW";
                case FPE_FLTRES:
                    return "EXCEPTION_FLT_INEXACT_RESULT";
                case FPE_FLTINV:
                    return "EXCEPTION_FLT_INVALID_OPERATION";
                case FPE_FLTSUB:
                    return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
                default:
                    return "UNKNOWN EXCEPTION";
            }
        default:
            return "UNKNOWN EXCEPTION";
    }
}

std::string describeFault(const CrashContext& crash) {
    SafeText text;
    if (crash.signal != 0)
        appendDescription(crash, text);
    else
        appendModuleLine(text);
    return std::string(text.data(), text.size());
}

void installCrashHandlers() {
    refreshUtcOffset();
    prepareDumpFolder();
    prepareDumpFailedText();
    if (g_installed.exchange(true)) return;

    // The first backtrace loads the unwinder; that must not happen in the handler.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t alternate{};
    alternate.ss_sp = g_alternateStack;
    alternate.ss_size = sizeof g_alternateStack;
    ::sigaltstack(&alternate, nullptr);

    struct sigaction action {};
    action.sa_sigaction = &exceptionFilter;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) ::sigaction(signal, &action, nullptr);
}

void exceptionFilter(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (g_crashing.exchange(1) != 0) {
        // Another thread is writing the dump; it ends the process.
        timespec pause{5, 0};
        ::nanosleep(&pause, nullptr);
    } else {
        const CrashContext crash{signal, info, static_cast<const ucontext_t*>(context)};
        // What was logged before the fault reaches the file first, so that
        // the crash lines follow it (the writer thread still runs).
        base::Log::flushOnCrash(1000);
        crashLog(base::Log::TRACE, "trace_safe", "exceptionFilter");
        crashLog(base::Log::IMPOR, "important_safe", "make memory dump");
        SafeText description;
        appendDescription(crash, description);
        if (!description.empty()) crashLog(base::Log::FATAL, "fatal_safe", description.c_str());
        SafeText path;
        if (g_dumpFolder[0] != '\0' && writeDumpFile(crash, g_dumpFolder, path)) {
            SafeText saved;
            saved.text("memory dump saved: '").text(path.c_str()).text("'");
            crashLog(base::Log::IMPOR, "important_safe", saved.c_str());
        } else {
            crashLog(base::Log::ERROR, "error_safe", g_dumpFailedText);
        }
    }
    errno = savedErrno;
    // The handler was reset to the default on entry; the raised signal is
    // delivered when we return, so the process dies of the original cause.
    ::raise(signal);
}

void describeException(const CrashContext* crash) {
    const CrashContext none;
    const std::string text = describeFault(crash != nullptr ? *crash : none);
    if (text.empty()) return;
    if (crash != nullptr && crash->signal != 0) {
        // The description is a text, not a format: a module path may hold "%".
        debug::fatal_safe(L"%1%", base::fromUtf8(text));
    } else {
        debug::important_safe(L"%1%", base::fromUtf8(text));
    }
    base::flushLog();
}

void writeMiniDump(const CrashContext* crash) {
    debug::important_safe(L"make memory dump");
    describeException(crash);
    try {
        refreshUtcOffset();
        const std::string folder = base::toUtf8(getUserDataDirectory() + L"/log");
        const CrashContext none;
        SafeText path;
        if (createFolders(base::fromUtf8(folder)) == 0 &&
            writeDumpFile(crash != nullptr ? *crash : none, folder.c_str(), path)) {
            debug::important_safe(L"memory dump saved: '%1%'", base::fromUtf8(path.c_str()));
        } else {
            debug::error_safe(kDumpFailed);
        }
    } catch (const std::exception&) {
        // No data folder: the terminate handler that called us must still end the process.
        debug::error_safe(kDumpFailed);
    }
    base::flushLog();
}

void dumpMemory() { writeMiniDump(nullptr); }

}  // namespace os
