#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/trial/widget_listing.h"

namespace trial {

/// Real input to the program on its X display (xdotool: the pointer, the
/// buttons, typed text and keys), aimed by the program's widget map. Each
/// call returns once xdotool has ended, when the X server has the input;
/// the time it returns is the moment of the operator's action.
class Driver {
public:
    using Clock = std::chrono::steady_clock;

    /// `environment`: the program's (the display); `mapPath`: the file of
    /// SONVAR_TEST_WIDGETS; `scratch`: a folder for xdotool's output.
    Driver(std::vector<std::string> environment, std::string mapPath, std::string scratch);

    /// The widget map as it stands now.
    WidgetListing listing() const;
    /// Waits until the map passes the test, reading it every 20 ms; the
    /// listing that passed, or nothing after `limit`.
    std::optional<WidgetListing> waitFor(const std::function<bool(const WidgetListing&)>& test,
                                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    /// Waits until a widget passes the test, enabled; that widget.
    std::optional<Widget> waitForWidget(const WidgetListing::Test& test,
                                        std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    /// Moves the pointer to the point and clicks the left button, with
    /// "ctrl" or "shift" held when given; the time of the click.
    Clock::time_point click(int x, int y, const std::string& modifier = std::string());
    Clock::time_point click(const Rect& rect, const std::string& modifier = std::string());
    /// Types the text (UTF-8) into the focused control.
    Clock::time_point type(const std::string& text);
    /// Presses keys as xdotool names them: "Return", "ctrl+a", "Tab".
    Clock::time_point key(const std::string& keys);

    /// Called with the reason before a failed xdotool command throws.
    void onError(std::function<void(const std::string&)> tell) { m_tell = std::move(tell); }

    /// Every xdotool command run so far, for the diagnostics.
    const std::vector<std::string>& history() const { return m_history; }

private:
    Clock::time_point run(const std::vector<std::string>& arguments);

    const std::vector<std::string> m_environment;
    const std::string m_mapPath;
    const std::string m_scratch;
    std::vector<std::string> m_history;
    std::function<void(const std::string&)> m_tell;
};

}  // namespace trial
