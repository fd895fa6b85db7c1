#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/log.h"
#include "tests/support/temp_dir.h"

// A global Log writing into a temporary folder, with a clock the test sets.
// The test program runs with TZ=UTC, so local dates are UTC dates.
class LogFixture : public ::testing::Test {
protected:
    static std::int64_t utcMicros(int year, int month, int day, int h, int m, int s, int us = 0) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = h;
        tm.tm_min = m;
        tm.tm_sec = s;
        return static_cast<std::int64_t>(timegm(&tm)) * 1000000 + us;
    }

    void startLog(base::Log::Level level = base::Log::TRACE3, const std::wstring& folder = {}) {
        base::Log::create(folder.empty() ? m_dir.widePath() : folder, level, false,
                          [this] { return m_now.load(); });
        base::Log::setLevel(level);
        base::Log::setObserver([this](const boost::posix_time::ptime&, const std::wstring& level,
                                      const std::wstring& message) {
            std::lock_guard<std::mutex> lock(m_observedMutex);
            m_observed.push_back(level + L"|" + message);
        });
    }

    void TearDown() override { base::Log::destroy(); }

    std::string fileOf(const std::string& day) const {
        return testing_support::readFile(m_dir.path() + "/" + day + ".log");
    }

    /// Lines of a day's file, without the byte order mark and CR LF.
    std::vector<std::string> linesOf(const std::string& day) const {
        std::string content = fileOf(day);
        if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);
        std::vector<std::string> lines;
        std::istringstream in(content);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    std::vector<std::wstring> observed() {
        std::lock_guard<std::mutex> lock(m_observedMutex);
        return m_observed;
    }
    /// The observed messages of one level; `take` forgets all seen so far.
    std::vector<std::wstring> observedAt(const std::wstring& level, bool take = false) {
        std::lock_guard<std::mutex> lock(m_observedMutex);
        std::vector<std::wstring> found;
        for (const auto& line : m_observed)
            if (line.rfind(level + L"|", 0) == 0) found.push_back(line.substr(level.size() + 1));
        if (take) m_observed.clear();
        return found;
    }

    testing_support::TempDir m_dir;
    std::atomic<std::int64_t> m_now{utcMicros(2026, 12, 6, 9, 5, 3, 42517)};
    std::mutex m_observedMutex;
    std::vector<std::wstring> m_observed;
};
