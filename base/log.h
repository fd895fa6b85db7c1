#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <pthread.h>
#include <functional>
#include <memory>
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

/// The process-wide log: any thread formats its record and appends it to a
/// ring of slots; one writer thread lays the records out as lines and writes
/// them to a daily file "<folder>/YYYYMMDD.log" (UTF-8, byte order mark on a
/// new file, CR LF).
///
/// Appending takes no lock: a caller claims the next slot with one atomic
/// step and reads the clock inside that step, so the records stand in the
/// ring in the order of their times. Only a full ring makes a caller wait
/// (for the writer), and a record is never dropped.
///
/// Call sites use the LOG_* macros below, which name the calling function.
class Log {
public:
    enum Level : std::int32_t {
        TRACE3 = 0, TRACE2, TRACE, DEBUG, MARK, INFO, EXTERN, IMPOR, NOTICE, WARN, ERROR, FATAL
    };

    /// One argument of a log call, converted at the call: wide texts (with
    /// whether the text was made at run time, as opposed to a wide literal of
    /// the program, and whether the translator applies to it), numbers kept
    /// as numbers so that directives like "%1$08X" still apply, anything else
    /// rendered as text.
    struct Argument {
        using Value = std::variant<std::wstring, std::int32_t, std::uint32_t, std::int64_t,
                                   std::uint64_t, double, bool, wchar_t, const void*>;
        Value value;
        bool runtime = false;
        bool translated = false;
    };
    using Arguments = boost::container::small_vector<Argument, 4>;

    /// One record as the line layout takes it.
    struct Record {
        std::int32_t level = INFO;
        std::string_view place;        // qualified name of the logging function; static text
        std::wstring message;
        std::int64_t time = 0;         // microseconds since 1970-01-01 UTC
    };

    /// Arguments: local time of the record, level name, message. The message
    /// is the record's notice: its format and text arguments looked up with
    /// the translator as in the file, the text arguments worded for the
    /// operator (see noticeArgument).
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

    /// Texts of INFO and above: the translator's text (the text itself when
    /// there is no translator); below INFO the text unchanged.
    std::wstring translate(const std::wstring& text, int level) const;
    /// Whether records of this level reach the observer.
    bool notifies(int level) const { return level >= IMPOR && m_observer; }

    /// Files below this folder (the program's data folder) are named in
    /// notices by their file names alone; other paths are shown whole. Called
    /// once at start-up, before other threads log.
    static void setDataFolder(const std::wstring& folder);
    /// How a notice names a file: in «» quotes, by its file name when it
    /// lies in the data folder, whole otherwise. For notices a caller words
    /// itself.
    static std::wstring fileForNotice(const std::wstring& path);

    /// How a text argument stands in a notice: the translator's text when it
    /// has one; an exception's "notification / details" with both parts
    /// looked up, a device's reply in «» after its Russian lead; boost's
    /// diagnostic boilerplate dropped; a path made at run time by its file
    /// name when it lies in `dataFolder`; a path, or a text made at run time
    /// that stays foreign (a system error text, a reply), in «» quotes unless
    /// the format puts the value in «» itself (`quoted`; plain quotes of the
    /// format around a value in «» are dropped from the notice's format);
    /// anything cut to kNoticeArgumentLength characters. Without a
    /// translator only the boilerplate is dropped.
    static std::wstring noticeArgument(const std::wstring& text, bool runtime, const Translator& translator,
                                       bool quoted = false, const std::wstring& dataFolder = {});
    static constexpr std::size_t kNoticeArgumentLength = 200;

    /// Queues a finished text for the file and `notice` for the observer
    /// (for callers that format themselves, such as the C-style log calls).
    void writeText(Level level, std::string_view place, std::wstring text, std::wstring notice);

    /// Queues a text for the file alone, looked up in the translator from
    /// INFO on as a format would be: the observer does not get it, so no
    /// notice is shown. For a caller that tells the operator itself, such as
    /// a dialog that refuses what was typed in a box of its own.
    void writeWithoutNotice(Level level, std::string_view place, const std::wstring& text);

    /// Returns once every record queued before the call is written, or after
    /// 100 ms, whichever comes first.
    void flush();

    /// For the crash path, in a signal handler: wakes the writer and waits up
    /// to `milliseconds` for every record queued before the call to reach the
    /// file. Only async-signal-safe calls; nothing on the writer thread itself.
    static void flushOnCrash(int milliseconds);

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
    // Wide and narrow texts are translated at INFO and above; wide literals
    // and received bytes are not.
    Argument capture(const std::wstring& v) const { return {v, true, true}; }
    Argument capture(const std::string& v) const { return {toWide(v), true, true}; }
    Argument capture(std::string_view v) const { return {toWide(std::string(v)), true, true}; }
    Argument capture(const char* const& v) const { return {toWide(v), true, true}; }
    template <std::size_t N>
    Argument capture(const char (&v)[N]) const { return {toWide(v), true, true}; }
    Argument capture(char* const& v) const;  // received bytes: widened byte by byte, a run-time text
    Argument capture(const wchar_t* const& v) const { return {std::wstring(v), false}; }
    template <std::size_t N>
    Argument capture(const wchar_t (&v)[N]) const { return {std::wstring(v), false}; }
    Argument capture(std::wstring_view v) const { return {std::wstring(v), false}; }
    Argument capture(char v) const { return {toWide(std::string(1, v)).front()}; }
    template <class T>
    Argument capture(const T& v) const;

    /// One argument as the plain formatter takes it: a text (with whether
    /// the translator applies), a number or a character. Narrow and
    /// translated texts are kept in `owned`; nothing else is copied.
    struct PlainArgument {
        enum Kind { NONE, TEXT, SIGNED, UNSIGNED, CHARACTER } kind = NONE;
        bool translated = false;
        std::wstring_view text;
        std::int64_t number = 0;
        std::uint64_t unsignedNumber = 0;
        wchar_t character = 0;
        std::wstring owned;
    };
    static bool plain(PlainArgument& a, const std::wstring& v) { a.kind = PlainArgument::TEXT; a.text = v; a.translated = true; return true; }
    static bool plain(PlainArgument& a, const std::string& v) { return plainNarrow(a, toWide(v)); }
    static bool plain(PlainArgument& a, std::string_view v) { return plainNarrow(a, toWide(std::string(v))); }
    static bool plain(PlainArgument& a, const char* const& v) { return plainNarrow(a, toWide(v)); }
    template <std::size_t N>
    static bool plain(PlainArgument& a, const char (&v)[N]) { return plainNarrow(a, toWide(v)); }
    static bool plain(PlainArgument& a, char* const& v);
    static bool plain(PlainArgument& a, const wchar_t* const& v) { a.kind = PlainArgument::TEXT; a.text = v; return true; }
    template <std::size_t N>
    static bool plain(PlainArgument& a, const wchar_t (&v)[N]) { a.kind = PlainArgument::TEXT; a.text = v; return true; }
    static bool plain(PlainArgument& a, std::wstring_view v) { a.kind = PlainArgument::TEXT; a.text = v; return true; }
    static bool plain(PlainArgument& a, char v) { a.kind = PlainArgument::CHARACTER; a.character = toWide(std::string(1, v)).front(); return true; }
    static bool plainNarrow(PlainArgument& a, std::wstring&& wide) {
        a.owned = std::move(wide);
        a.kind = PlainArgument::TEXT;
        a.text = a.owned;
        a.translated = true;
        return true;
    }
    template <class T>
    static bool plain(PlainArgument& a, const T& v);

    /// Formats a format text of plain directives (%N% and %%) whose highest
    /// number is the count of arguments, as boost.Format would, with the
    /// format and the text arguments translated at the level; false for any
    /// other format, which then goes to boost.Format.
    bool formatPlain(int level, const wchar_t* format, PlainArgument* arguments, std::size_t count,
                     std::wstring& message) const;
    void submit(int level, std::string_view place, const wchar_t* format, Arguments&& arguments);
    /// The record's message: `translatedFormat` filled with the arguments,
    /// text arguments translated when `translating`. A faulty format makes
    /// it the format-error record, which names `format` as the caller gave it.
    std::wstring format(int& level, std::string_view& place, const std::wstring& format,
                        const std::wstring& translatedFormat, bool translating,
                        const Arguments& arguments) const;
    /// The observer's text of a record: format and arguments as the
    /// operator reads them; empty when neither the translated nor the
    /// original format takes the arguments.
    std::wstring notice(const std::wstring& format, const std::wstring& translatedFormat,
                        const Arguments& arguments) const;
    /// Echoes, queues and notifies (`notice`, or else the message); takes
    /// the message's buffer.
    void deliver(int level, std::string_view place, std::wstring& message, const std::wstring* notice = nullptr,
                 bool observe = true);
    void flushUpTo(std::uint64_t sequence);
    void echoImmediately(const std::wstring& message);
    void wakeWriter();
    /// The caller's buffer that a message is formatted into; it changes
    /// places with a slot's buffer as the record is queued, so that neither
    /// side allocates once the buffers have grown.
    /// Null while this thread's buffer is in use (a translator that logs).
    static std::wstring* takeMessageBuffer();
    static void returnMessageBuffer();

    /// One place in the ring: free for position p while its sequence is p,
    /// holding the record of position p once it is p + 1.
    struct alignas(64) Slot {
        std::atomic<std::uint64_t> sequence{0};
        std::int64_t time = 0;
        std::int32_t level = 0;
        std::uint32_t placeLength = 0;
        const char* place = nullptr;
        std::wstring message;
    };
    static constexpr std::uint64_t kSlots = 1 << 14;

    void threadMain();
    void writeSlot(Slot& slot);
    void writeRecord(Record& record);
    /// The UTF-8 line of a record into `out` (no CR LF), without the general
    /// layout's copies; false for what only the general layout handles (an
    /// empty message, a null character, a place that isn't plain ASCII).
    bool appendLine(std::string& out, int level, std::string_view place, const std::wstring& message,
                    std::int64_t time);
    void publishWritten(std::uint64_t count);
    void openFile(std::int64_t time);
    bool fileGood() const { return m_file != nullptr && m_fileState == 0; }
    void resetOutput(const std::wstring& line);
    void notifyRestored(std::int64_t time);
    void flushFile();
    void forcedStop(std::size_t remaining);

    static std::atomic<Log*> s_instance;
    static std::wstring s_dataFolder;
    static std::atomic<bool> s_debuggerEcho;
    static std::atomic<bool> s_consoleEcho;

    std::atomic<Level> m_minLevel;
    const bool m_console;
    const bool m_consoleOnly;
    const std::wstring m_folder;
    Clock m_clock;
    Observer m_observer;
    Translator m_translator;
    bool m_plainNumbers = true;  // the global locale writes integers without grouping

    std::unique_ptr<Slot[]> m_slots;
    alignas(64) std::atomic<std::uint64_t> m_claimed{0};  // positions handed out
    alignas(64) std::atomic<std::uint64_t> m_written{0};  // records written and flushed
    std::atomic<std::uint32_t> m_wakeWord{0};             // the writer sleeps on it (futex)
    std::atomic<bool> m_writerSleeping{false};
    std::atomic<int> m_flushWaiters{0};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_forceStop{false};
    std::atomic<bool> m_finished{false};
    std::mutex m_drainMutex;             // with m_drained: flushes wait for the writer
    std::condition_variable m_drained;
    std::mutex m_echoMutex;              // keeps console echoes whole

    // Writer-thread state (the constructor opens the first file before the
    // writer starts; afterwards only the writer touches these).
    std::FILE* m_file = nullptr;
    int m_fileState = 0;  // 0 good, 2 could not open, 4 write failed
    std::int64_t m_lastDay = 0;
    std::string m_lastLine;       // UTF-8, without CR LF
    bool m_outputBroken = false;  // an output reset could not restore the file
    std::int64_t m_timeMillisecond = -1;  // the millisecond of m_timeText
    char m_timeText[12] = {};
    struct PlaceField {
        const char* place = nullptr;
        std::uint32_t length = 0;
        std::string text;   // the place as given, to tell a reused address
        std::string field;  // "[Short]" padded to 20
    };
    std::unique_ptr<PlaceField[]> m_placeFields;

    std::thread m_writer;
    std::atomic<pthread_t> m_writerHandle{};
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
    // A record the observer sees takes the general path, which also makes its notice.
    if (format != nullptr && !notifies(level)) {
        PlainArgument plainArguments[sizeof...(Args) + 1];
        std::size_t n = 0;
        const bool allPlain = (plain(plainArguments[n++], args) && ... && true);
        // A translator that logs finds the buffer in use and gets its own.
        std::wstring own;
        std::wstring* buffer = takeMessageBuffer();
        struct Release {
            std::wstring* buffer;
            ~Release() { if (buffer) returnMessageBuffer(); }
        } release{buffer};
        std::wstring& message = buffer != nullptr ? *buffer : own;
        if (allPlain && formatPlain(level, format, plainArguments, sizeof...(Args), message)) {
            deliver(level, place, message);
            return;
        }
    }
    Arguments arguments;
    (arguments.push_back(capture(args)), ...);
    submit(level, place, format, std::move(arguments));
}

template <class T>
bool Log::plain(PlainArgument& a, const T& v) {
    if constexpr (std::is_same_v<T, bool>) {
        a.kind = PlainArgument::CHARACTER;
        a.character = v ? L'1' : L'0';
        return true;
    } else if constexpr (std::is_same_v<T, wchar_t>) {
        a.kind = PlainArgument::CHARACTER;
        a.character = v;
        return true;
    } else if constexpr (std::is_enum_v<T>) {
        return plain(a, static_cast<std::underlying_type_t<T>>(v));
    } else if constexpr (std::is_integral_v<T>) {
        if constexpr (std::is_signed_v<T> || sizeof(T) == 1) {
            a.kind = PlainArgument::SIGNED;
            a.number = static_cast<std::int64_t>(v);
        } else {
            a.kind = PlainArgument::UNSIGNED;
            a.unsignedNumber = static_cast<std::uint64_t>(v);
        }
        return true;
    } else {
        return false;
    }
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

/// A record of the enclosing function for the file alone (Log::writeWithoutNotice).
#define LOG_WITHOUT_NOTICE(level_, text_)                                               \
    do {                                                                                \
        if (::base::Log* sv_log_ = ::base::Log::instance(); sv_log_ && sv_log_->accepts(level_)) { \
            constexpr std::string_view sv_place_ = ::base::functionPlace(__PRETTY_FUNCTION__); \
            sv_log_->writeWithoutNotice(level_, sv_place_, text_);                      \
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
