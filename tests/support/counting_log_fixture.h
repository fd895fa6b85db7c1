#pragma once

#include <string>

#include "tests/base/log_fixture.h"

/// A LogFixture that counts the lines of the day's log file (the fixture's
/// clock stands still on 2026-12-06) that contain a text, and when given, the
/// level's name.
class CountingLogFixture : public LogFixture {
protected:
    int loggedCount(const std::string& text, const std::string& level = std::string()) {
        base::Log::instance()->flush();
        int count = 0;
        for (const auto& line : linesOf("20261206"))
            if (line.find(text) != std::string::npos &&
                (level.empty() || line.find(" " + level + "\t") != std::string::npos))
                ++count;
        return count;
    }
    bool logged(const std::string& text) { return loggedCount(text) > 0; }
};
