#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace trial {

/// The one line a case prints about itself:
///
///   TRIAL alarm_page first_datagram=1.23s stall=0.04s volumes=20/20 result=ok
///   TRIAL quit_lost quit=6.10s back=18/20 result=FAIL (quit took 6.10 s, over 5 s; ...)
///
/// Figures keep the order they were given in; a figure given again
/// replaces its value. The result is ok while no failure was noted.
class Report {
public:
    explicit Report(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const { return m_name; }
    void figure(const std::string& name, const std::string& value);
    /// Seconds with two decimals and an "s": "1.23s".
    void seconds(const std::string& name, std::chrono::duration<double> value);
    /// A count out of a whole: "18/20".
    void share(const std::string& name, std::size_t count, std::size_t whole);
    /// Notes why the case failed; the first reasons go into the line.
    void fail(const std::string& why);

    bool ok() const { return m_failures.empty(); }
    std::string line() const;

private:
    std::string m_name;
    std::vector<std::pair<std::string, std::string>> m_figures;
    std::vector<std::string> m_failures;
};

/// "1.23" (seconds, two decimals).
std::string secondsText(std::chrono::duration<double> value);

}  // namespace trial
