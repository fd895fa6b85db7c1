#include "base/log.h"

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <exception>
#include <locale>
#include <optional>
#include <vector>

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "base/exception.h"

namespace base {

std::atomic<Log*> Log::s_instance{nullptr};
std::wstring Log::s_dataFolder;
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
const char* const kLevelNamesUtf8[12] = {"TRACE3", "TRACE2", "TRACE", "DEBUG", "MARK",  "INFO",
                                         "EXTERN", "IMPOR",  "NOTICE", "WARN", "ERROR", "FATAL"};

constexpr std::size_t kPlaceFields = 1024;  // cached place fields, by the place's address
constexpr std::uint64_t kFlushEvery = 4096;  // lines written between two flushes while busy

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The writer sleeps on a futex word rather than a condition variable: the
// crash path must be able to wake it from a signal handler.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, long nanoseconds) {
    timespec timeout{nanoseconds / 1000000000L, nanoseconds % 1000000000L};
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, &timeout, nullptr, 0);
}

void futexWake(std::atomic<std::uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool groupsDigits() {
    return !std::use_facet<std::numpunct<wchar_t>>(std::locale()).grouping().empty();
}

template <class Unsigned>
void appendDecimal(std::wstring& out, Unsigned value, bool negative) {
    wchar_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (negative) out += L'-';
    while (n > 0) out += digits[--n];
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

// ---- life cycle --------------------------------------------------------------

Log::Log(const std::wstring& folder, Level level, bool console, Clock clock)
    : m_minLevel(level),
      m_console(console),
      m_consoleOnly(console && folder.empty()),
      m_folder(folder),
      m_clock(clock ? std::move(clock) : Clock(systemMicroseconds)),
      m_plainNumbers(!groupsDigits()),
      m_slots(new Slot[kSlots]),
      m_placeFields(new PlaceField[kPlaceFields]) {
    for (std::uint64_t i = 0; i < kSlots; ++i) m_slots[i].sequence.store(i, std::memory_order_relaxed);
    s_debuggerEcho = level <= TRACE;
    s_consoleEcho = console;
    const std::int64_t now = m_clock();
    m_lastDay = localDay(now);
    if (!m_consoleOnly) openFile(now);
    m_writer = std::thread([this] { threadMain(); });
}

Log::~Log() {
    flush();
    m_stopping = true;
    wakeWriter();
    // The writer drains the ring before it ends; a writer stuck for longer
    // than 8 s is told to drop the rest.
    std::unique_lock<std::mutex> lock(m_drainMutex);
    if (!m_drained.wait_for(lock, std::chrono::seconds(8), [this] { return m_finished.load(); })) {
        m_forceStop = true;
        lock.unlock();
        wakeWriter();
        lock.lock();
        m_drained.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_finished.load(); });
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

void Log::setDataFolder(const std::wstring& folder) {
    s_dataFolder = folder;
    while (s_dataFolder.size() > 1 && s_dataFolder.back() == L'/') s_dataFolder.pop_back();
}

void Log::flushOnCrash(int milliseconds) {
    Log* log = instance();
    if (log == nullptr || pthread_equal(log->m_writerHandle.load(), pthread_self())) return;
    const std::uint64_t target = log->m_claimed.load(std::memory_order_acquire);
    const timespec step{0, 1000000};
    for (int waited = 0; waited < milliseconds && !log->m_finished.load(); ++waited) {
        if (log->m_written.load(std::memory_order_acquire) >= target) return;
        log->m_flushWaiters.fetch_add(1);
        log->wakeWriter();
        log->m_flushWaiters.fetch_sub(1);
        nanosleep(&step, nullptr);
    }
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
    return level >= INFO && m_translator ? m_translator(text) : text;
}

Log::Argument Log::capture(char* const& v) const {
    std::wstring widened;
    for (const char* p = v; *p; ++p) widened += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return {std::move(widened), true};
}

bool Log::plain(PlainArgument& a, char* const& v) {
    for (const char* p = v; *p; ++p) a.owned += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    a.kind = PlainArgument::TEXT;
    a.text = a.owned;
    return true;
}

namespace {
struct MessageBuffer {
    std::wstring text;
    bool inUse = false;
};
thread_local MessageBuffer t_messageBuffer;
}  // namespace

std::wstring* Log::takeMessageBuffer() {
    if (t_messageBuffer.inUse) return nullptr;
    t_messageBuffer.inUse = true;
    return &t_messageBuffer.text;
}

void Log::returnMessageBuffer() { t_messageBuffer.inUse = false; }

bool Log::formatPlain(int level, const wchar_t* format, PlainArgument* arguments, std::size_t count,
                      std::wstring& message) const {
    std::wstring translatedFormat;
    std::wstring_view text(format);
    const bool translating = level >= INFO && m_translator;
    if (translating) {
        translatedFormat = m_translator(std::wstring(text));
        text = translatedFormat;
    }
    message.clear();
    std::size_t highest = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c != L'%') {
            message += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == L'%') {
            message += L'%';
            ++i;
            continue;
        }
        // %N%: a number from 1 to 99 without a leading zero.
        std::size_t j = i + 1;
        std::size_t number = 0;
        while (j < text.size() && j - i <= 2 && text[j] >= L'0' && text[j] <= L'9') {
            number = number * 10 + static_cast<std::size_t>(text[j] - L'0');
            ++j;
        }
        if (j == i + 1 || text[i + 1] == L'0' || j >= text.size() || text[j] != L'%') return false;
        if (number > count) return false;
        highest = std::max(highest, number);
        PlainArgument& a = arguments[number - 1];
        switch (a.kind) {
            case PlainArgument::TEXT:
                if (translating && a.translated) {
                    a.owned = m_translator(std::wstring(a.text));
                    a.text = a.owned;
                    a.translated = false;  // once, however often it is used
                }
                message.append(a.text.data(), a.text.size());
                break;
            case PlainArgument::SIGNED:
                if (!m_plainNumbers) return false;
                appendDecimal(message, a.number < 0 ? 0 - static_cast<std::uint64_t>(a.number)
                                                    : static_cast<std::uint64_t>(a.number),
                              a.number < 0);
                break;
            case PlainArgument::UNSIGNED:
                if (!m_plainNumbers) return false;
                appendDecimal(message, a.unsignedNumber, false);
                break;
            case PlainArgument::CHARACTER:
                message += a.character;
                break;
            default:
                return false;
        }
        i = j;
    }
    return highest == count;
}

std::wstring Log::format(int& level, std::string_view& place, const std::wstring& text,
                         const std::wstring& translatedFormat, bool translating,
                         const Arguments& arguments) const {
    const auto fill = [&](const std::wstring& with) {
        boost::wformat f(with);
        for (const Argument& argument : arguments) {
            std::visit(
                [&](const auto& value) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::wstring>)
                        f % (translating && argument.translated ? m_translator(value) : value);
                    else
                        f % value;
                },
                argument.value);
        }
        return f.str();
    };
    try {
        try {
            return fill(translatedFormat);
        } catch (const boost::io::format_error&) {
            // A catalogue entry that doesn't fit the call is no fault of the
            // caller's: the program's own format stands.
            if (translatedFormat == text) throw;
        }
        return fill(text);
    } catch (const boost::io::format_error& e) {
        boost::wformat f(L"Format error in a calling code, place [%1%], format '%2%', what '%3%'");
        f % toWide(std::string(place)) % text % toWide(e.what());
        level = ERROR;
        if (!place.empty()) place = "Log";
        return f.str();
    }
}

void Log::submit(int level, std::string_view place, const wchar_t* text, Arguments&& arguments) {
    const int asked = level;
    std::wstring formatText;
    if (text == nullptr) {
        level = ERROR;
        formatText = L"Format ERROR";
    } else {
        formatText = text;
    }
    // One lookup of the format serves the file and the notice.
    const bool translating = level >= INFO && m_translator;
    const std::wstring translatedFormat = translating ? m_translator(formatText) : formatText;
    std::wstring message = format(level, place, formatText, translatedFormat, translating, arguments);
    if (!notifies(level)) {
        deliver(level, place, message);
        return;
    }
    if (level != asked) {  // a faulty format: the file has the details
        std::wstring faulty = L"Внутренняя ошибка: неверный формат записи журнала";
        deliver(level, place, message, &faulty);
        return;
    }
    std::wstring noticeText = notice(formatText, translatedFormat, arguments);
    deliver(level, place, message, noticeText.empty() ? nullptr : &noticeText);
}

void Log::writeText(Level level, std::string_view place, std::wstring text, std::wstring noticeText) {
    if (!accepts(level)) return;
    deliver(level, place, text, noticeText.empty() ? nullptr : &noticeText);
}

void Log::writeWithoutNotice(Level level, std::string_view place, const std::wstring& text) {
    if (!accepts(level)) return;
    std::wstring message = translate(text, level);
    deliver(level, place, message, nullptr, false);
}

namespace {

bool isCyrillic(wchar_t c) { return (c >= 0x0410 && c <= 0x044F) || c == 0x0401 || c == 0x0451; }
bool isLatin(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

/// A text of no Russian and at least one word of two Latin letters.
bool foreign(const std::wstring& text) {
    bool word = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isCyrillic(text[i])) return false;
        if (i > 0 && isLatin(text[i]) && isLatin(text[i - 1])) word = true;
    }
    return word;
}

/// What boost says of an exception that carries nothing of its own: of no
/// use to the operator.
bool diagnosticBoilerplate(const std::wstring& text) {
    return text == L"No diagnostic information available." ||
           text.find(L"Dynamic exception type:") != std::wstring::npos ||
           text.rfind(L"Throw location unknown", 0) == 0;
}

std::wstring cut(std::wstring text) {
    if (text.size() > Log::kNoticeArgumentLength) {
        text.resize(Log::kNoticeArgumentLength);
        text += L'…';
    }
    return text;
}

}  // namespace

namespace {

/// An absolute path made at run time: a file or folder the program names.
bool isPath(const std::wstring& text) {
    return text.size() > 1 && text[0] == L'/' && text.find(L'\n') == std::wstring::npos &&
           text.find(L": ") == std::wstring::npos;
}

/// A path below the data folder by its file name; any other path whole.
std::wstring pathForNotice(const std::wstring& path, const std::wstring& dataFolder) {
    if (dataFolder.empty() || path.size() <= dataFolder.size() + 1 || path.compare(0, dataFolder.size(), dataFolder) != 0 ||
        path[dataFolder.size()] != L'/' || path.back() == L'/')
        return path;
    return path.substr(path.rfind(L'/') + 1);
}

/// How the format quotes the argument `number` at every use of it: with «»,
/// with plain quotes (' or "), or not (or not alike everywhere).
enum class Quoting { None, Plain, Guillemets };

Quoting quotingOf(const std::wstring& format, std::size_t number) {
    const std::wstring directive = L"%" + std::to_wstring(number) + L"%";
    std::optional<Quoting> found;
    for (std::size_t at = format.find(directive); at != std::wstring::npos;
         at = format.find(directive, at + directive.size())) {
        const std::size_t after = at + directive.size();
        const wchar_t open = at > 0 ? format[at - 1] : L'\0';
        const wchar_t close = after < format.size() ? format[after] : L'\0';
        Quoting here = Quoting::None;
        if (open == L'«' && close == L'»') here = Quoting::Guillemets;
        else if ((open == L'\'' || open == L'"') && close == open) here = Quoting::Plain;
        if (found && *found != here) return Quoting::None;
        found = here;
    }
    return found.value_or(Quoting::None);
}

/// The format without its plain quotes around the argument `number`.
void unquote(std::wstring& format, std::size_t number) {
    const std::wstring directive = L"%" + std::to_wstring(number) + L"%";
    for (const wchar_t* quote : {L"'", L"\""}) {
        const std::wstring quoted = quote + directive + quote;
        for (std::size_t at = format.find(quoted); at != std::wstring::npos; at = format.find(quoted, at))
            format.replace(at, quoted.size(), directive);
    }
}

}  // namespace

std::wstring Log::fileForNotice(const std::wstring& path) {
    return L"«" + pathForNotice(path, s_dataFolder) + L"»";
}

std::wstring Log::noticeArgument(const std::wstring& text, bool runtime, const Translator& translator, bool quoted,
                                 const std::wstring& dataFolder) {
    if (diagnosticBoilerplate(text)) return {};
    if (!translator) return text;  // no catalogue, no operator's wording (tests of the program's own texts)
    const auto lookUp = [&](const std::wstring& t) { return translator(t); };
    const auto inQuotes = [&](const std::wstring& t) { return quoted ? t : L"«" + t + L"»"; };
    const std::wstring whole = lookUp(text);
    if (whole != text) return cut(whole);
    if (!runtime) return text;
    if (isPath(text)) return inQuotes(cut(pathForNotice(text, dataFolder)));
    // An exception's what(): "notification / details".
    const std::size_t split = text.find(L" / ");
    if (split != std::wstring::npos) {
        const std::wstring notification = text.substr(0, split);
        const std::wstring details = text.substr(split + 3);
        const std::wstring lead = lookUp(notification);
        if (lead != notification || !foreign(notification)) {
            std::wstring rest;
            if (notification == exception::kDeviceReasonNotification && !details.empty()) {
                // The lead says it is the device's reply already.
                rest = lookUp(details);
                if (rest == details) rest = L"«" + cut(details) + L"»";
            } else {
                rest = noticeArgument(details, true, translator, false, dataFolder);
            }
            return rest.empty() ? lead : lead + L": " + rest;
        }
    }
    if (foreign(text)) return inQuotes(cut(text));
    return cut(text);
}

std::wstring Log::notice(const std::wstring& formatText, const std::wstring& translatedFormat,
                         const Arguments& arguments) const {
    const auto formatted = [&](std::wstring with) {
        // Quotes once: a value that comes in «» takes the place of the
        // format's own plain quotes, and a value the format puts in «» gets
        // none of its own.
        std::vector<std::wstring> texts;
        std::size_t number = 0;
        for (const Argument& argument : arguments) {
            ++number;
            const auto* text = std::get_if<std::wstring>(&argument.value);
            if (text == nullptr) continue;
            const Quoting quoting = quotingOf(with, number);
            texts.push_back(noticeArgument(*text, argument.runtime, m_translator, quoting == Quoting::Guillemets,
                                           s_dataFolder));
            const std::wstring& value = texts.back();
            if (quoting == Quoting::Plain && value.size() >= 2 && value.front() == L'«' && value.back() == L'»')
                unquote(with, number);
        }
        boost::wformat f(with);
        std::size_t next = 0;
        for (const Argument& argument : arguments) {
            if (std::holds_alternative<std::wstring>(argument.value))
                f % texts[next++];
            else
                std::visit([&](const auto& value) { f % value; }, argument.value);
        }
        std::wstring result = f.str();
        while (!result.empty() && std::iswspace(static_cast<wint_t>(result.back()))) result.pop_back();
        return result;
    };
    // A catalogue entry that doesn't fit its arguments falls back on the program's own format.
    try {
        return formatted(translatedFormat);
    } catch (const boost::io::format_error&) {
    }
    try {
        return formatted(formatText);
    } catch (const boost::io::format_error&) {
    }
    return {};
}

void Log::echoImmediately(const std::wstring& message) {
    std::lock_guard<std::mutex> lock(m_echoMutex);
    if (debuggerEcho()) writeUtf8(stderr, message);
    if (consoleEcho()) writeUtf8(stdout, message);
}

void Log::wakeWriter() {
    m_wakeWord.fetch_add(1, std::memory_order_seq_cst);
    if (m_writerSleeping.load(std::memory_order_seq_cst)) futexWake(m_wakeWord);
}

void Log::deliver(int level, std::string_view place, std::wstring& message, const std::wstring* notice,
                  bool observe) {
    if (m_minLevel <= TRACE && debuggerEcho())
        writeUtf8(stderr, message.empty() ? toWide(std::string(place)) : message);
    if (m_console && !m_consoleOnly && level >= MARK) echoImmediately(message);

    const bool observed = observe && notifies(level);
    std::wstring observedMessage;
    if (observed) observedMessage = notice != nullptr ? *notice : message;

    // Claim the next position. The clock is read after the position was
    // seen and before it is taken: whoever took the position before read
    // the clock earlier, so the ring's order is the order of the times.
    const bool onWriter = std::this_thread::get_id() == m_writer.get_id();
    std::uint64_t position = m_claimed.load(std::memory_order_relaxed);
    std::int64_t time = 0;
    for (int tries = 0;; ++tries) {
        Slot& slot = m_slots[position & (kSlots - 1)];
        const std::uint64_t sequence = slot.sequence.load(std::memory_order_acquire);
        if (sequence == position) {
            time = m_clock();
            if (m_claimed.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) break;
            continue;
        }
        if (sequence > position) {  // taken meanwhile
            position = m_claimed.load(std::memory_order_relaxed);
            continue;
        }
        // The ring is full: the writer must make room.
        if (m_finished.load()) return;
        if (onWriter) {
            // The writer logging into its own full ring writes the record at once.
            Record record{level, place, message, m_clock()};
            writeRecord(record);
            return;
        }
        wakeWriter();
        if (tries < 64)
            pause();
        else if (tries < 128)
            sched_yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        position = m_claimed.load(std::memory_order_relaxed);
    }
    Slot& slot = m_slots[position & (kSlots - 1)];
    slot.time = time;
    slot.level = level;
    slot.place = place.data();
    slot.placeLength = static_cast<std::uint32_t>(place.size());
    slot.message.swap(message);
    slot.sequence.store(position + 1, std::memory_order_release);

    if (level >= WARN || position - m_written.load(std::memory_order_relaxed) > kSlots / 2) wakeWriter();
    if (level >= ERROR) flushUpTo(position + 1);
    if (observed) m_observer(localPtime(time), levelName(level), observedMessage);
}

void Log::flush() { flushUpTo(m_claimed.load(std::memory_order_acquire)); }

void Log::flushUpTo(std::uint64_t sequence) {
    if (m_writer.get_id() == std::this_thread::get_id()) return;  // the writer cannot wait for itself
    if (m_written.load(std::memory_order_acquire) >= sequence) return;
    m_flushWaiters.fetch_add(1);
    wakeWriter();
    {
        std::unique_lock<std::mutex> lock(m_drainMutex);
        m_drained.wait_for(lock, std::chrono::milliseconds(100), [&] {
            return m_written.load(std::memory_order_acquire) >= sequence || m_finished.load();
        });
    }
    m_flushWaiters.fetch_sub(1);
}

// ---- writer thread ---------------------------------------------------------------

void Log::publishWritten(std::uint64_t count) {
    m_written.store(count, std::memory_order_release);
    if (m_flushWaiters.load() > 0) {
        std::lock_guard<std::mutex> lock(m_drainMutex);
        m_drained.notify_all();
    }
}

void Log::threadMain() {
    m_writerHandle = pthread_self();
    std::uint64_t next = 0;
    std::uint64_t unflushed = 0;
    int idle = 0;
    for (;;) {
        if (m_forceStop) {
            forcedStop(static_cast<std::size_t>(m_claimed.load() - next));
            break;
        }
        Slot& slot = m_slots[next & (kSlots - 1)];
        if (slot.sequence.load(std::memory_order_acquire) == next + 1) {
            try {
                writeSlot(slot);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "log thread: exception is '%s'\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "log thread: unknown exception\n");
            }
            // A written record keeps no memory: the ring holds only what
            // waits to be written, not the last 16384 texts of the run.
            std::wstring().swap(slot.message);
            slot.sequence.store(next + kSlots, std::memory_order_release);
            ++next;
            idle = 0;
            if (++unflushed >= kFlushEvery) {
                flushFile();
                publishWritten(next);
                unflushed = 0;
            }
            continue;
        }
        if (unflushed != 0 || m_written.load(std::memory_order_relaxed) != next) {
            flushFile();
            publishWritten(next);
            unflushed = 0;
        }
        if (m_claimed.load(std::memory_order_acquire) != next) {
            // A caller has claimed the slot and is filling it.
            if (++idle < 64)
                pause();
            else
                sched_yield();
            continue;
        }
        if (m_stopping) break;
        // A short look for more before sleeping: under load the next record
        // comes within microseconds.
        if (++idle < 200) {
            pause();
            continue;
        }
        const std::uint32_t word = m_wakeWord.load(std::memory_order_acquire);
        m_writerSleeping.store(true, std::memory_order_seq_cst);
        if (slot.sequence.load(std::memory_order_seq_cst) != next + 1 && !m_stopping && !m_forceStop &&
            m_flushWaiters.load() == 0)
            futexWait(m_wakeWord, word, 1000000000L);
        m_writerSleeping.store(false, std::memory_order_relaxed);
        idle = 0;
    }
    std::lock_guard<std::mutex> lock(m_drainMutex);
    m_finished = true;
    m_drained.notify_all();
}

void Log::writeSlot(Slot& slot) {
    const std::int64_t day = localDay(slot.time);
    if (day != m_lastDay) {
        openFile(slot.time);
        m_lastDay = day;
    }
    const std::string_view place(slot.place, slot.placeLength);
    if (place.empty() && slot.message.empty()) return;
    if (!m_consoleOnly && fileGood() && appendLine(m_lastLine, slot.level, place, slot.message, slot.time)) {
        m_lastLine += "\r\n";
        const bool written = fwrite_unlocked(m_lastLine.data(), 1, m_lastLine.size(), m_file) == m_lastLine.size();
        m_lastLine.resize(m_lastLine.size() - 2);
        if (!written) {
            m_fileState = 4;
            resetOutput(fromUtf8(m_lastLine));
        } else if (m_outputBroken) {  // a new day's file opened where the old one failed
            m_outputBroken = false;
            notifyRestored(slot.time);
        }
        return;
    }
    Record record{slot.level, place, slot.message, slot.time};
    writeRecord(record);
}

void Log::writeRecord(Record& record) {
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
        m_lastLine = toUtf8(line);
        const std::string bytes = m_lastLine + "\r\n";
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) m_fileState = 4;
    }
    if (!fileGood()) {
        resetOutput(line);
    } else if (m_outputBroken) {  // a new day's file opened where the old one failed
        m_outputBroken = false;
        notifyRestored(record.time);
    }
}

bool Log::appendLine(std::string& out, int level, std::string_view place, const std::wstring& message,
                     std::int64_t time) {
    if (message.empty() || level < 0 || level > FATAL) return false;
    PlaceField& cached =
        m_placeFields[(reinterpret_cast<std::uintptr_t>(place.data()) >> 3) % kPlaceFields];
    if (cached.field.empty() || cached.place != place.data() || cached.length != place.size() ||
        cached.text != place) {
        for (const char c : place)
            if (c < 0x20 || c > 0x7E) return false;  // the general layout checks what else it holds
        std::string shortened(place);
        shortenPlace(shortened);
        cached.field = "[" + shortened + "]";
        if (cached.field.size() < 20) cached.field.resize(20, ' ');
        cached.place = place.data();
        cached.length = static_cast<std::uint32_t>(place.size());
        cached.text.assign(place);
    }
    const std::int64_t millisecond = time >= 0 ? time / 1000 : (time - 999) / 1000;
    if (millisecond != m_timeMillisecond) {
        const std::wstring text = timeOfDay(time);
        for (std::size_t i = 0; i < sizeof m_timeText; ++i) m_timeText[i] = static_cast<char>(text[i]);
        m_timeMillisecond = millisecond;
    }
    out.assign(m_timeText, sizeof m_timeText);
    out += ' ';
    out += kLevelNamesUtf8[level];
    out += '\t';
    out += cached.field;
    // The message escaped as escape() does it, and converted to UTF-8 on the way.
    for (const wchar_t c : message) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c == 0) {
            return false;
        } else if (std::iswprint(static_cast<wint_t>(c))) {
            const auto code = static_cast<std::uint32_t>(c);
            if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
            appendUtf8(out, code);
        } else {
            char hex[12];
            const int length = std::snprintf(hex, sizeof hex, "\\%X", static_cast<unsigned>(c));
            out.append(hex, static_cast<std::size_t>(length));
        }
    }
    return true;
}

void Log::flushFile() {
    // Lines are flushed once per batch (and so before the writer reports
    // progress to a waiting flush): one system call per batch, not per line.
    if (m_file && m_fileState == 0 && std::fflush(m_file) != 0) {
        m_fileState = 4;
        resetOutput(fromUtf8(m_lastLine));
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
        // The file keeps the reset's details; the operator reads what happened.
        if (m_observer)
            m_observer(localPtime(stamp), levelName(ERROR),
                       L"Журнал не записывается в файл: диск заполнен или недоступен.");
    } else if (!m_outputBroken) {
        notifyRestored(stamp);
    }
}

void Log::notifyRestored(std::int64_t stamp) {
    if (m_observer) m_observer(localPtime(stamp), levelName(NOTICE), L"Журнал снова записывается в файл.");
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
    // Printable ASCII is printable in every locale: no library call for it.
    while (i < length && ((text[i] >= 0x20 && text[i] < 0x7F) || std::iswprint(static_cast<wint_t>(text[i])))) ++i;
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
