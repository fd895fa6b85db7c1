#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace frm {

/// The debug page's history of numbered debug messages, without any window.
///
/// A debug reply is text lines (split at every CR and LF, empty lines
/// skipped). A line "!<number> <text>" is message <number> of the request
/// kind it answered (the page's radio choice): its text runs to the next "!"
/// and is cut after kMaxText bytes. A number that falls back by more than
/// kFallBack below the last one means the device started counting again, and
/// empties the history of every kind first. Any other line, a "!" line that
/// does not read so included, is the reply's other text, which the page
/// draws.
///
/// Threads: the transport's completer thread adds replies while the GUI
/// thread reads and clears; one mutex guards everything. Narrow texts are
/// the device's code page 1251 bytes, unconverted.
class DebugMessageTable {
public:
    static constexpr std::size_t kMaxText = 1500;
    static constexpr std::uint32_t kFallBack = 20;

    /// What one reply changed.
    struct Outcome {
        /// The other lines, each followed by "\n".
        std::string other;
        /// At least one message was stored.
        bool stored = false;
        /// The whole history was emptied on the way.
        bool cleared = false;
        /// Every message stored came after the kind's last number, so the
        /// history only grew at its end, by `appended` (each text followed
        /// by "\n"); false when one was replaced or went in between.
        bool appendOnly = true;
        std::string appended;
    };

    Outcome add(const std::string& reply, int kind);

    /// The kind's message texts by ascending number, each followed by "\n".
    std::string history(int kind) const;
    /// How many messages the kind holds.
    std::size_t size(int kind) const;

    void clear(int kind);
    void clearAll();

    /// The number of the last message stored; 0 before the first.
    std::uint32_t lastNumber() const;

    /// Reads one "!<number> <text>" line: white space may stand before and
    /// after the decimal number, and the text (up to the next "!", at most
    /// kMaxText bytes kept) must not be empty. False for anything else: no
    /// digits, a sign, a number beyond 32 bits, no text.
    static bool parseLine(const std::string& line, std::uint32_t& number, std::string& text);

private:
    mutable std::mutex m_mutex;
    std::map<int, std::map<std::uint32_t, std::string>> m_messages;
    std::uint32_t m_lastNumber = 0;
};

}  // namespace frm
