#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "base/text.h"
#include "tests/base/log_fixture.h"

using LogOutput = LogFixture;

// While the log file cannot be written, every record ends in an output reset;
// the operator must hear of it once, and once when the file works again,
// not once per record.
TEST_F(LogOutput, OperatorHearsOncePerFailureAndOnceOnRecovery) {
    const std::string folder = m_dir.path() + "/log";
    boost::filesystem::create_directory(folder);
    startLog(base::Log::TRACE3, base::fromUtf8(folder));
    boost::filesystem::remove(folder + "/20261206.log");
    boost::filesystem::remove(folder);
    m_now = utcMicros(2026, 12, 7, 1, 0, 0);  // a new day's file cannot be opened
    for (int i = 0; i < 20; ++i) LOG_DEBUG(L"lost line %1%", i);
    base::Log::instance()->flush();

    auto resets = [this] {
        const auto seen = observed();
        return std::count_if(seen.begin(), seen.end(),
                             [](const std::wstring& s) { return s.rfind(L"ERROR|IO RESET.", 0) == 0; });
    };
    auto restored = [this] {
        const auto seen = observed();
        return std::count_if(seen.begin(), seen.end(), [](const std::wstring& s) {
            return s == L"NOTICE|IO RESTORED. The log file is written again.";
        });
    };
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(restored(), 0);

    boost::filesystem::create_directory(folder);
    for (int i = 0; i < 5; ++i) LOG_DEBUG(L"written line %1%", i);
    base::Log::instance()->flush();
    EXPECT_EQ(restored(), 1);
    EXPECT_EQ(resets(), 1);

    // A second failure is a new episode.
    boost::filesystem::remove_all(folder);
    m_now = utcMicros(2026, 12, 8, 1, 0, 0);
    for (int i = 0; i < 5; ++i) LOG_DEBUG(L"lost again %1%", i);
    base::Log::instance()->flush();
    EXPECT_EQ(resets(), 2);

    // The next day's file opens without a reset: that is a recovery too.
    boost::filesystem::create_directory(folder);
    m_now = utcMicros(2026, 12, 9, 1, 0, 0);
    LOG_DEBUG(L"a new day");
    base::Log::instance()->flush();
    EXPECT_EQ(restored(), 2);
}
