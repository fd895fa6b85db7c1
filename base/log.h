#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <variant>

#include <boost/container/small_vector.hpp>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/format.hpp>

#include "base/text.h"

namespace base {

/// The process-wide log: any thread appends finished records to a queue; one
/// writer thread lays them out as lines and writes them to a daily file
/// "<folder>/YYYYMMDD.log" (UTF-8, byte order mark on a new file, CR LF).
///
/// Call sites use the LOG_* macros below, which name the calling function.
class Log {
public:
    enum Level : std::int32_t {
        TRACE3 = 0, TRACE2, TRACE, DEBUG, MARK, INFO, EXTERN, IMPOR, NOTICE, WARN, ERROR, FATAL
    };

    /// One argument of a log call, converted at the call: wide texts (with
    /// whether the translator applies), numbers kept as numbers so that
    /// directives like "%1$08X" still apply, anything else rendered as text.
    struct Argument {
        using Value = std::variant<std::wstring, std::int32_t, std::uint32_t, std::int64_t,
                                   std::uint64_t, double, bool, wchar_t, const void*>;
        Value value;
        bool translated = false;
    };
    using Arguments = boost::container::small_vector<Argument, 4>;

    /// A record waits in the queue either formatted (message set) or, for the
    /// common case of a quiet call below IMPOR, as its format and arguments:
    /// the writer formats it, which keeps boost.Format off the caller's time.
    struct Record {
        std::int32_t level = INFO;
        std::string_view place;        // qualified name of the logging function; static text
        std::wstring message;
        std::int64_t time = 0;         // microseconds since 1970-01-01 UTC
        std::uint64_t sequence = 0;    // order of intake, for flushing
        bool deferred = false;
        std::wstring format;
        Arguments arguments;
    };

    /// Arguments: local time of the record, level name, message.
    using Observer = std::function<void(const boost::posix_time::ptime&, const std::wstring&,
                                        const std::wstring&)>;
    using Translator = std::function<std::wstring(const std::wstring&)>;
    /// Microseconds since 1970-01-01 UTC; replaceable for tests of the change of day.
    using Clock = std::function<std::int64_t()>;

    /// An empty folder together with console makes a console-only log (no file).
    Log(const std::wstring& folder, Level level, bool console, Clock clock = {});
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // The global Log. create() keeps an existing one; destroy() writes what is
    // queued, stops the writer and clears the pointer. Log calls made while no
    // global Log exists do nothing.
    static Log* instance() { return s_instance.load(std::memory_order_acquire); }
    static void create(const std::wstring& folder, Level level, bool console, Clock clock = {});
    static void destroy();

    /// New minimum level of the global Log; sets the two echo switches.
    static void setLevel(Level level);
    /// Called once at start-up, before other threads log.
    static void setObserver(Observer observer);
    static void setTranslator(Translator translator);

    /// Texts go to standard error (our debugger output) only while this is on:
    /// the minimum level is TRACE or lower. Outlives the Log for the safe calls.
    static bool debuggerEcho() { return s_debuggerEcho.load(std::memory_order_relaxed); }
    static bool consoleEcho() { return s_consoleEcho.load(std::memory_order_relaxed); }
    static void echoToDebugger(const std::wstring& text);

    Level level() const { return m_minLevel.load(std::memory_order_relaxed); }
    bool accepts(int level) const { return level >= m_minLevel.load(std::memory_order_relaxed); }

    /// Below INFO the text is returned unchanged, else the translator's text.
    std::wstring translate(const std::wstring& text, int level) const;

    /// Returns once every record queued before the call is written, or after
    /// 100 ms, whichever comes first.
    void flush();

    /// Formats and queues one record. A faulty format never reaches the
    /// caller: it becomes an ERROR record naming the place.
    template <class... Args>
    void write(Level level, std::string_view place, const wchar_t* format, const Args&... args);

    static const std::wstring& levelName(int level);

    // Line layout, used by the writer; public for tests.
    static std::wstring formatLine(Record& record);
    static void shortenPlace(std::string& place);
    static void escape(std::wstring& text);
    static std::wstring timeOfDay(std::int64_t microseconds);

private:
    Argument capture(const std::wstring& v) const { return {v, true}; }
    Argument capture(const std::string& v) const { return {toWide(v), true}; }
    Argument capture(std::string_view v) const { return {toWide(std::string(v)), true}; }
    Argument capture(const char* const& v) const { return {toWide(v), true}; }
    template <std::size_t N>
    Argument capture(const char (&v)[N]) const { return {toWide(v), true}; }
    Argument capture(char* const& v) const;  // received bytes: widened byte by byte
    Argument capture(const wchar_t* const& v) const { return {std::wstring(v), false}; }
    template <std::size_t N>
    Argument capture(const wchar_t (&v)[N]) const { return {std::wstring(v), false}; }
    Argument capture(std::wstring_view v) const { return {std::wstring(v), false}; }
    Argument capture(char v) const { return {toWide(std::string(1, v)).front()}; }
    template <class T>
    Argument capture(const T& v) const;

    void submit(int level, std::string_view place, const wchar_t* format, Arguments&& arguments);
    std::wstring format(int& level, std::string_view& place, const std::wstring& format,
                        const Arguments& arguments) const;
    void deliver(int level, std::string_view place, std::wstring message);
    void flushUpTo(std::uint64_t sequence);
    void echoImmediately(const std::wstring& message);

    void threadMain();
    void writeRecord(Record& record);
    void openFile(std::int64_t time);
    bool fileGood() const { return m_file != nullptr && m_fileState == 0; }
    void resetOutput(const std::wstring& line);
    void notifyRestored(std::int64_t time);
    void flushFile();
    void forcedStop(std::size_t remaining);

    static std::atomic<Log*> s_instance;
    static std::atomic<bool> s_debuggerEcho;
    static std::atomic<bool> s_consoleEcho;

    std::atomic<Level> m_minLevel;
    const bool m_console;
    const bool m_consoleOnly;
    const std::wstring m_folder;
    Clock m_clock;
    Observer m_observer;
    Translator m_translator;

    std::mutex m_mutex;                  // guards the queue, m_stopping
    std::condition_variable m_wake;      // the writer sleeps on it
    std::condition_variable m_drained;   // the writer made progress or went idle
    std::deque<Record> m_queue;
    std::uint64_t m_lastQueued = 0;
    std::atomic<std::uint64_t> m_lastWritten{0};
    bool m_stopping = false;
    std::atomic<bool> m_forceStop{false};
    bool m_finished = false;

    // Writer-thread state (the constructor opens the first file before the
    // writer starts; afterwards only the writer touches these).
    std::FILE* m_file = nullptr;
    int m_fileState = 0;  // 0 good, 2 could not open, 4 write failed
    std::int64_t m_lastDay = 0;
    std::wstring m_lastLine;
    bool m_outputBroken = false;  // an output reset could not restore the file

    std::thread m_writer;
};

/// Flushes the global Log; nothing when there is none.
void flushLog();

/// The qualified name of a function from the compiler's __PRETTY_FUNCTION__:
/// "void device::TransferProtocol::sync(int)" gives "device::TransferProtocol::sync",
/// and a lambda's text gives its enclosing function.
constexpr std::string_view functionPlace(std::string_view pretty) {
    std::size_t end = std::string_view::npos;
    std::size_t start = 0;
    int angles = 0;
    int parens = 0;
    for (std::size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (parens == 0 && angles == 0 && pretty.substr(i, 8) == "operator" &&
            (i == 0 || pretty[i - 1] == ':' || pretty[i - 1] == ' ')) {
            std::size_t j = i + 8;
            if (pretty.substr(j, 2) == "()") {
                j += 2;
            } else {
                while (j < pretty.size() && pretty[j] != '(' && pretty[j] != ' ') ++j;
                if (j < pretty.size() && pretty[j] == ' ')  // conversion operator
                    while (j < pretty.size() && pretty[j] != '(') ++j;
            }
            i = j - 1;
            continue;
        }
        if (c == '<') ++angles;
        else if (c == '>' && angles > 0) --angles;
        else if (c == '(') {
            if (angles == 0 && parens == 0) { end = i; break; }
            ++parens;
        } else if (c == ')' && parens > 0) --parens;
        else if (c == ' ' && angles == 0 && parens == 0) start = i + 1;
    }
    if (end == std::string_view::npos) end = pretty.size();
    while (start < end && (pretty[start] == '*' || pretty[start] == '&')) ++start;
    return pretty.substr(start, end - start);
}

/// A log call's place. Made afresh at every call, it holds no reference to the Log.
class LogPlace {
public:
    constexpr explicit LogPlace(std::string_view text = {}) : m_text(text) {}
    std::string_view text() const { return m_text; }

    template <class... A> void trace3(const wchar_t* f, const A&... a) const { emit(Log::TRACE3, f, a...); }
    template <class... A> void trace2(const wchar_t* f, const A&... a) const { emit(Log::TRACE2, f, a...); }
    template <class... A> void trace(const wchar_t* f, const A&... a) const { emit(Log::TRACE, f, a...); }
    template <class... A> void debug(const wchar_t* f, const A&... a) const { emit(Log::DEBUG, f, a...); }
    template <class... A> void info(const wchar_t* f, const A&... a) const { emit(Log::INFO, f, a...); }
    template <class... A> void external(const wchar_t* f, const A&... a) const { emit(Log::EXTERN, f, a...); }
    template <class... A> void important(const wchar_t* f, const A&... a) const { emit(Log::IMPOR, f, a...); }
    template <class... A> void notice(const wchar_t* f, const A&... a) const { emit(Log::NOTICE, f, a...); }
    template <class... A> void warn(const wchar_t* f, const A&... a) const { emit(Log::WARN, f, a...); }
    template <class... A> void error(const wchar_t* f, const A&... a) const { emit(Log::ERROR, f, a...); }
    template <class... A> void fatal(const wchar_t* f, const A&... a) const { emit(Log::FATAL, f, a...); }

    template <class... A>
    void at(Log::Level level, const wchar_t* f, const A&... a) const { emit(level, f, a...); }

private:
    template <class... A>
    void emit(Log::Level level, const wchar_t* f, const A&... a) const {
        if (Log* log = Log::instance()) log->write(level, m_text, f, a...);
    }
    std::string_view m_text;
};

// ---- template implementation ------------------------------------------------

template <class... Args>
void Log::write(Level level, std::string_view place, const wchar_t* format, const Args&... args) {
    if (!accepts(level)) return;
    Arguments arguments;
    (arguments.push_back(capture(args)), ...);
    submit(level, place, format, std::move(arguments));
}

template <class T>
Log::Argument Log::capture(const T& v) const {
    if constexpr (std::is_same_v<T, bool>) {
        return {v};
    } else if constexpr (std::is_same_v<T, wchar_t>) {
        return {v};
    } else if constexpr (std::is_enum_v<T>) {
        return capture(static_cast<std::underlying_type_t<T>>(v));
    } else if constexpr (std::is_integral_v<T>) {
        if constexpr (sizeof(T) == 1) return {static_cast<std::int32_t>(v)};  // a number, not a letter
        else if constexpr (std::is_signed_v<T>)
            return sizeof(T) <= 4 ? Argument{static_cast<std::int32_t>(v)} : Argument{static_cast<std::int64_t>(v)};
        else
            return sizeof(T) <= 4 ? Argument{static_cast<std::uint32_t>(v)} : Argument{static_cast<std::uint64_t>(v)};
    } else if constexpr (std::is_floating_point_v<T>) {
        return {static_cast<double>(v)};
    } else if constexpr (std::is_pointer_v<T>) {
        return {static_cast<const void*>(v)};
    } else {
        std::wostringstream text;
        text << v;
        return {text.str()};
    }
}

}  // namespace base

/// The place of the enclosing function, as a LogPlace.
#define SV_LOG_PLACE ::base::LogPlace(::base::functionPlace(__PRETTY_FUNCTION__))

#define SV_LOG_AT(level_, ...)                                                          \
    do {                                                                                \
        if (::base::Log* sv_log_ = ::base::Log::instance(); sv_log_ && sv_log_->accepts(level_)) { \
            constexpr std::string_view sv_place_ = ::base::functionPlace(__PRETTY_FUNCTION__); \
            sv_log_->write(level_, sv_place_, __VA_ARGS__);                             \
        }                                                                               \
    } while (0)

#define LOG_TRACE3(...) SV_LOG_AT(::base::Log::TRACE3, __VA_ARGS__)
#define LOG_TRACE2(...) SV_LOG_AT(::base::Log::TRACE2, __VA_ARGS__)
#define LOG_TRACE(...) SV_LOG_AT(::base::Log::TRACE, __VA_ARGS__)
#define LOG_DEBUG(...) SV_LOG_AT(::base::Log::DEBUG, __VA_ARGS__)
#define LOG_INFO(...) SV_LOG_AT(::base::Log::INFO, __VA_ARGS__)
#define LOG_EXTERN(...) SV_LOG_AT(::base::Log::EXTERN, __VA_ARGS__)
#define LOG_IMPOR(...) SV_LOG_AT(::base::Log::IMPOR, __VA_ARGS__)
#define LOG_NOTICE(...) SV_LOG_AT(::base::Log::NOTICE, __VA_ARGS__)
#define LOG_WARN(...) SV_LOG_AT(::base::Log::WARN, __VA_ARGS__)
#define LOG_ERROR(...) SV_LOG_AT(::base::Log::ERROR, __VA_ARGS__)
#define LOG_FATAL(...) SV_LOG_AT(::base::Log::FATAL, __VA_ARGS__)
