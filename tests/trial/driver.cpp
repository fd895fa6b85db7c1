#include "tests/trial/driver.h"

#include <stdexcept>
#include <thread>

#include "tests/app/e2e_harness.h"
#include "tests/support/temp_dir.h"

namespace trial {

using namespace std::chrono_literals;

Driver::Driver(std::vector<std::string> environment, std::string mapPath, std::string scratch)
    : m_environment(std::move(environment)), m_mapPath(std::move(mapPath)), m_scratch(std::move(scratch)) {}

WidgetListing Driver::listing() const { return WidgetListing::parse(testing_support::readFile(m_mapPath)); }

std::optional<WidgetListing> Driver::waitFor(const std::function<bool(const WidgetListing&)>& test,
                                             std::chrono::milliseconds limit) const {
    const auto end = Clock::now() + limit;
    for (;;) {
        WidgetListing now = listing();
        if (test(now)) return now;
        if (Clock::now() > end) return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

std::optional<Widget> Driver::waitForWidget(const WidgetListing::Test& test,
                                            std::chrono::milliseconds limit) const {
    std::optional<Widget> found;
    waitFor(
        [&](const WidgetListing& now) {
            const Widget* widget = now.find([&](const Widget& w) { return w.enabled && test(w); });
            if (widget != nullptr) found = *widget;
            return widget != nullptr;
        },
        limit);
    return found;
}

Driver::Clock::time_point Driver::run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string line;
    for (const auto& word : argv) line += (line.empty() ? "" : " ") + word;
    m_history.push_back(line);
    e2e::Child tool(argv, m_environment, m_scratch + "/xdotool.out");
    const std::string status = tool.finish(10s);
    const auto at = Clock::now();
    if (status != "exit 0") {
        const std::string why = "\"" + line + "\" ended with " + status + ": " + tool.output();
        if (m_tell) m_tell(why);
        throw std::runtime_error(why);
    }
    return at;
}

// No "--sync" on the moves: it waits until the pointer has moved, which
// never comes when it already stands there; the X server takes the move,
// the buttons and the keys in order anyway.
Driver::Clock::time_point Driver::click(int x, int y, const std::string& modifier) {
    std::vector<std::string> arguments{"mousemove", std::to_string(x), std::to_string(y)};
    if (!modifier.empty()) arguments.insert(arguments.end(), {"keydown", modifier});
    arguments.insert(arguments.end(), {"click", "1"});
    if (!modifier.empty()) arguments.insert(arguments.end(), {"keyup", modifier});
    return run(arguments);
}

Driver::Clock::time_point Driver::click(const Rect& rect, const std::string& modifier) {
    return click(rect.centreX(), rect.centreY(), modifier);
}

Driver::Clock::time_point Driver::type(const std::string& text) {
    return run({"type", "--delay", "30", "--", text});
}

Driver::Clock::time_point Driver::key(const std::string& keys) { return run({"key", "--delay", "30", keys}); }

}  // namespace trial
