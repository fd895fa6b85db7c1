#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// The daily log files as the settings dialog's events page shows them: the
// dates there are, and one file read whole when it is small enough. Any
// thread; paths are wide here and UTF-8 towards the system.
namespace frm {

/// The dates ("YYYYMMDD", the file names without ".log") of the log files
/// in the folder, oldest first, so that the last one is today's.
std::vector<std::wstring> logDates(const std::wstring& folder);

/// One log file, opened and measured at construction.
class LogFile {
public:
    /// Larger files are not shown: the viewer would take too long.
    static constexpr std::uintmax_t kSizeLimit = 2 * 1024 * 1024;

    enum class State { Missing, Unreadable, TooLarge, Ready };

    explicit LogFile(const std::wstring& path);

    State state() const { return m_state; }

    /// The whole file as text, a leading byte order mark dropped. A file
    /// that is not well-formed UTF-8 gives an empty text. Only when Ready.
    std::wstring read();

private:
    std::ifstream m_in;
    std::uintmax_t m_size = 0;
    State m_state = State::Missing;
};

}  // namespace frm
