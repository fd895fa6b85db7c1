#include "base/log.h"

#include <array>
#include <chrono>
#include <ctime>
#include <cwctype>
#include <exception>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace base {

std::atomic<Log*> Log::s_instance{nullptr};
std::atomic<bool> Log::s_debuggerEcho{false};
std::atomic<bool> Log::s_consoleEcho{false};

namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;

std::int64_t systemMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::tm localCalendar(std::int64_t micros) {
    std::time_t seconds = static_cast<std::time_t>(micros / kMicrosPerSecond);
    if (micros % kMicrosPerSecond < 0) --seconds;
    // The writer asks several times per record, mostly for the same second.
    thread_local std::time_t cachedSecond = -1;
    thread_local std::tm cached{};
    if (seconds != cachedSecond) {
        localtime_r(&seconds, &cached);
        cachedSecond = seconds;
    }
    return cached;
}

int microsOfSecond(std::int64_t micros) {
    const auto rest = static_cast<int>(micros % kMicrosPerSecond);
    return rest < 0 ? rest + static_cast<int>(kMicrosPerSecond) : rest;
}

/// The local date as YYYYMMDD, which also serves to compare days.
std::int64_t localDay(std::int64_t micros) {
    const std::tm tm = localCalendar(micros);
    return (tm.tm_year + 1900) * 10000LL + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

boost::posix_time::ptime localPtime(std::int64_t micros) {
    const std::tm tm = localCalendar(micros);
    using namespace boost::posix_time;
    return ptime(boost::gregorian::date(static_cast<unsigned short>(tm.tm_year + 1900),
                                        static_cast<unsigned short>(tm.tm_mon + 1),
                                        static_cast<unsigned short>(tm.tm_mday)),
                 hours(tm.tm_hour) + minutes(tm.tm_min) + seconds(tm.tm_sec) +
                     microseconds(microsOfSecond(micros)));
}

void writeUtf8(std::FILE* stream, const std::wstring& text) {
    const std::string bytes = toUtf8(text) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

const std::array<std::wstring, 12> kLevelNames = {
    L"TRACE3", L"TRACE2", L"TRACE", L"DEBUG", L"MARK", L"INFO",
    L"EXTERN", L"IMPOR",  L"NOTICE", L"WARN", L"ERROR", L"FATAL"};

}  // namespace

// ---- life cycle --------------------------------------------------------------

Log::Log(const std::wstring& folder, Level level, bool console, Clock clock)
    : m_minLevel(level),
      m_console(console),
      m_consoleOnly(console && folder.empty()),
      m_folder(folder),
      m_clock(clock ? std::move(clock) : Clock(systemMicroseconds)) {
    s_debuggerEcho = level <= TRACE;
    s_consoleEcho = console;
    const std::int64_t now = m_clock();
    m_lastDay = localDay(now);
    if (!m_consoleOnly) openFile(now);
    m_writer = std::thread([this] { threadMain(); });
}

Log::~Log() {
    flush();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
    // The writer drains the queue before it ends; a writer stuck for longer
    // than 8 s is told to drop the rest of its batch.
    if (!m_drained.wait_for(lock, std::chrono::seconds(8), [this] { return m_finished; })) {
        m_forceStop = true;
        m_drained.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_finished; });
    }
    lock.unlock();
    m_writer.join();
    if (m_file) std::fclose(m_file);
}

void Log::create(const std::wstring& folder, Level level, bool console, Clock clock) {
    if (instance()) return;
    s_instance.store(new Log(folder, level, console, std::move(clock)), std::memory_order_release);
}

void Log::destroy() {
    delete s_instance.exchange(nullptr, std::memory_order_acq_rel);
}

void Log::setLevel(Level level) {
    Log* log = instance();
    if (!log) return;
    s_debuggerEcho = level <= TRACE;
    s_consoleEcho = log->m_console;
    log->m_minLevel = level;
}

void Log::setObserver(Observer observer) {
    if (Log* log = instance()) log->m_observer = std::move(observer);
}

void Log::setTranslator(Translator translator) {
    if (Log* log = instance()) log->m_translator = std::move(translator);
}

void flushLog() {
    if (Log* log = Log::instance()) log->flush();
}

const std::wstring& Log::levelName(int level) {
    static const std::wstring unknown = L"?";
    return level >= 0 && level < static_cast<int>(kLevelNames.size()) ? kLevelNames[level] : unknown;
}

void Log::echoToDebugger(const std::wstring& text) {
    if (debuggerEcho()) writeUtf8(stderr, text);
}

// ---- intake (any thread) -------------------------------------------------------

std::wstring Log::translate(const std::wstring& text, int level) const {
    if (level < INFO || !m_translator) return text;
    return m_translator(text);
}

Log::Argument Log::capture(char* const& v) const {
    std::wstring widened;
    for (const char* p = v; *p; ++p) widened += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return {std::move(widened), false};
}

std::wstring Log::format(int& level, std::string_view& place, const std::wstring& text,
                         const Arguments& arguments) const {
    try {
        boost::wformat f(translate(text, level));
        for (const Argument& argument : arguments) {
            std::visit(
                [&](const auto& value) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::wstring>)
                        f % (argument.translated ? translate(value, level) : value);
                    else
                        f % value;
                },
                argument.value);
        }
        return f.str();
    } catch (const boost::io::format_error& e) {
        boost::wformat f(L"Format error in a calling code, place [%1%], format '%2%', what '%3%'");
        f % toWide(std::string(place)) % text % toWide(e.what());
        level = ERROR;
        if (!place.empty()) place = "Log";
        return f.str();
    }
}

void Log::submit(int level, std::string_view place, const wchar_t* text, Arguments&& arguments) {
    std::wstring formatText;
    if (text == nullptr) {
        level = ERROR;
        formatText = L"Format ERROR";
    } else {
        formatText = text;
    }
    const bool echoes = (m_minLevel <= TRACE && debuggerEcho()) || (m_console && level >= MARK);
    if (level >= IMPOR || echoes) {
        std::wstring message = format(level, place, formatText, arguments);
        deliver(level, place, std::move(message));
        return;
    }
    Record record{level, place, {}, 0, 0, true, std::move(formatText), std::move(arguments)};
    std::lock_guard<std::mutex> lock(m_mutex);
    record.time = m_clock();
    record.sequence = ++m_lastQueued;
    m_queue.push_back(std::move(record));
}

void Log::echoImmediately(const std::wstring& message) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (debuggerEcho()) writeUtf8(stderr, message);
    if (consoleEcho()) writeUtf8(stdout, message);
}

void Log::deliver(int level, std::string_view place, std::wstring message) {
    if (m_minLevel <= TRACE && debuggerEcho())
        writeUtf8(stderr, message.empty() ? toWide(std::string(place)) : message);
    if (m_console && !m_consoleOnly && level >= MARK) echoImmediately(message);

    const bool observed = level >= IMPOR && m_observer;
    std::wstring observedMessage;
    if (observed) observedMessage = message;

    std::int64_t time;
    std::uint64_t sequence;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        time = m_clock();
        sequence = ++m_lastQueued;
        m_queue.push_back(Record{level, place, std::move(message), time, sequence, false, {}, {}});
    }
    if (level >= WARN) m_wake.notify_one();
    if (level >= ERROR) flushUpTo(sequence);
    if (observed) m_observer(localPtime(time), levelName(level), observedMessage);
}

void Log::flush() {
    std::uint64_t sequence;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sequence = m_lastQueued;
    }
    flushUpTo(sequence);
}

void Log::flushUpTo(std::uint64_t sequence) {
    if (m_writer.get_id() == std::this_thread::get_id()) return;  // the writer cannot wait for itself
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_lastWritten >= sequence) return;
    m_wake.notify_one();
    m_drained.wait_for(lock, std::chrono::milliseconds(100),
                       [&] { return m_lastWritten >= sequence || m_finished; });
}

// ---- writer thread ---------------------------------------------------------------

void Log::threadMain() {
    std::deque<Record> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_queue.empty()) {
                m_drained.notify_all();
                if (m_stopping) break;
                m_wake.wait_for(lock, std::chrono::seconds(1));
            }
            batch.swap(m_queue);
        }
        while (!batch.empty()) {
            if (m_forceStop) {
                forcedStop(batch.size());
                batch.clear();
                break;
            }
            try {
                writeRecord(batch.front());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "log thread: exception is '%s'\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "log thread: unknown exception\n");
            }
            const std::uint64_t sequence = batch.front().sequence;
            batch.pop_front();
            if (batch.empty()) {
                flushFile();
                m_lastWritten = sequence;
            }
        }
        m_drained.notify_all();
        if (m_forceStop) break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_drained.notify_all();
}

void Log::writeRecord(Record& record) {
    const std::int64_t day = localDay(record.time);
    if (day != m_lastDay) {
        openFile(record.time);
        m_lastDay = day;
    }
    if (record.deferred) {
        int level = record.level;
        record.message = format(level, record.place, record.format, record.arguments);
        if (level != record.level) {  // a faulty format: the operator hears of it as of any error
            record.level = level;
            if (m_observer) m_observer(localPtime(record.time), levelName(level), record.message);
        }
    }
    if (record.place.empty() && record.message.empty()) return;

    const std::wstring line = formatLine(record);
    if (m_consoleOnly) {
        if (debuggerEcho()) writeUtf8(stderr, line);
        if (consoleEcho()) writeUtf8(stdout, line);
        return;
    }
    if (!fileGood()) {
        static const std::wstring failure = L"log thread: Log subsystem has an error.";
        echoToDebugger(failure);
        echoToDebugger(line);
        if (m_console && consoleEcho()) {
            writeUtf8(stderr, failure);
            writeUtf8(stderr, line);
        }
    } else {
        const std::string bytes = toUtf8(line) + "\r\n";
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) m_fileState = 4;
        m_lastLine = line;
    }
    if (!fileGood()) {
        resetOutput(line);
    } else if (m_outputBroken) {  // a new day's file opened where the old one failed
        m_outputBroken = false;
        notifyRestored(record.time);
    }
}

void Log::flushFile() {
    // Lines are flushed once per batch (and so before the writer reports
    // progress to a waiting flush): one system call per batch, not per line.
    if (m_file && m_fileState == 0 && std::fflush(m_file) != 0) {
        m_fileState = 4;
        resetOutput(m_lastLine);
    }
}

void Log::openFile(std::int64_t time) {
    const std::tm tm = localCalendar(time);
    char name[48];
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const std::string path = toUtf8(m_folder) + "/" + name;

    if (m_file) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "ab");
    if (!m_file) {
        m_fileState = 2;
        static const std::wstring failure = L"Log subsystem error. Error opening file!";
        echoToDebugger(failure);
        if (consoleEcho()) writeUtf8(stderr, failure);
        return;
    }
    m_fileState = 0;
    if (std::ftell(m_file) == 0) {
        std::fputs("\xEF\xBB\xBF", m_file);
        std::fflush(m_file);
    }
}

void Log::resetOutput(const std::wstring& line) {
    const std::int64_t stamp = m_clock();
    std::wstring hex;
    hex.reserve(line.size() * 4);
    for (wchar_t c : line) {
        wchar_t digits[16];
        std::swprintf(digits, 16, L"\\x%02X", static_cast<unsigned>(c));
        hex += digits;
    }
    const std::wstring reset =
        (boost::wformat(L"IO RESET. file=%1%, flags=%2%, wrong line=\"%3%\"") % (m_file ? 1 : 0) %
         m_fileState % hex)
            .str();
    openFile(stamp);
    if (m_file) {
        const std::string bytes = "\r\n" + toUtf8(reset) + "\r\n";
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size() || std::fflush(m_file) != 0)
            m_fileState = 4;
    }
    // While the file stays unwritable every record ends here; the operator
    // hears of the failure once, and once more when the file works again.
    const bool firstOfEpisode = !m_outputBroken;
    m_outputBroken = !fileGood();
    if (firstOfEpisode) {
        if (m_observer) m_observer(localPtime(stamp), levelName(ERROR), reset);
    } else if (!m_outputBroken) {
        notifyRestored(stamp);
    }
}

void Log::notifyRestored(std::int64_t stamp) {
    if (m_observer) m_observer(localPtime(stamp), levelName(NOTICE), L"IO RESTORED. The log file is written again.");
}

void Log::forcedStop(std::size_t remaining) {
    static const std::wstring text = L"Force stop, local queue has values.";
    echoToDebugger(text);
    if (consoleEcho()) writeUtf8(stdout, text);
    if (m_file) {
        std::fprintf(m_file, "Force stop, local queue is %zu\r\n", remaining);
        std::fflush(m_file);
    }
}

// ---- line layout -----------------------------------------------------------------

void Log::shortenPlace(std::string& place) {
    const auto capital = place.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    if (capital != std::string::npos) {
        const auto colon = place.rfind(':', capital);
        const std::size_t start = colon == std::string::npos ? 0 : colon + 1;
        const auto stop = place.find_first_of(":<", start);
        place = place.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        return;
    }
    const auto colon = place.rfind(':');
    if (colon != std::string::npos) place.erase(0, colon + 1);
}

void Log::escape(std::wstring& text) {
    const std::size_t length = std::wcslen(text.c_str());
    std::size_t i = 0;
    while (i < length && std::iswprint(static_cast<wint_t>(text[i]))) ++i;
    if (i == length) return;

    std::wstring escaped(text, 0, i);
    for (; i < length; ++i) {
        const wchar_t c = text[i];
        if (std::iswprint(static_cast<wint_t>(c))) {
            escaped += c;
        } else {
            wchar_t code[12];
            std::swprintf(code, 12, L"\\%X", static_cast<unsigned>(c));
            escaped += code;
        }
    }
    text.swap(escaped);
}

std::wstring Log::timeOfDay(std::int64_t micros) {
    const std::tm tm = localCalendar(micros);
    const int millis = microsOfSecond(micros) / 1000;
    auto digit = [](int value) { return static_cast<wchar_t>(L'0' + value); };
    return {digit(tm.tm_hour / 10), digit(tm.tm_hour % 10), L':', digit(tm.tm_min / 10), digit(tm.tm_min % 10),
            L':', digit(tm.tm_sec / 10), digit(tm.tm_sec % 10), L'.', digit(millis / 100),
            digit(millis / 10 % 10), digit(millis % 10)};
}

std::wstring Log::formatLine(Record& record) {
    if (record.message.empty()) record.message.assign(record.place.begin(), record.place.end());
    std::string place(record.place);
    shortenPlace(place);
    std::wstring placeField(L"[");
    placeField.append(place.begin(), place.end());
    placeField += L']';
    if (placeField.size() < 20) placeField.resize(20, L' ');
    escape(record.message);

    std::wstring line = timeOfDay(record.time);
    line += L' ';
    line += levelName(record.level);
    line += L'\t';
    line += placeField;
    line += record.message;

    // The message is escaped already; anything else that would break the
    // one-line-per-record layout is caught here.
    std::wstring check = line;
    escape(check);
    const auto tab = check.find(L"\\9");
    if (tab != std::wstring::npos) check.replace(tab, 2, L"\t");
    if (check != line) {
        if (Log* log = instance())
            log->write(IMPOR, {}, L"log subsystem: It detects error: different lines! escaped=%1%", check);
        return check;
    }
    return line;
}

}  // namespace base
