#include "tests/trial/report.h"

#include <cstdio>

namespace trial {

namespace {

/// Reasons in the line past this many are counted, not quoted: the table
/// stays readable, the test's output has them all.
constexpr std::size_t kReasonsShown = 3;

}  // namespace

std::string secondsText(std::chrono::duration<double> value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value.count());
    return text;
}

void Report::figure(const std::string& name, const std::string& value) {
    for (auto& figure : m_figures)
        if (figure.first == name) {
            figure.second = value;
            return;
        }
    m_figures.emplace_back(name, value);
}

void Report::seconds(const std::string& name, std::chrono::duration<double> value) {
    figure(name, secondsText(value) + "s");
}

void Report::share(const std::string& name, std::size_t count, std::size_t whole) {
    figure(name, std::to_string(count) + "/" + std::to_string(whole));
}

void Report::fail(const std::string& why) {
    std::string flat = why;  // one line in the table
    for (char& c : flat)
        if (c == '\n' || c == '\t') c = ' ';
    m_failures.push_back(flat);
}

std::string Report::line() const {
    std::string text = "TRIAL " + m_name;
    for (const auto& [name, value] : m_figures) text += " " + name + "=" + value;
    if (ok()) return text + " result=ok";
    text += " result=FAIL (";
    for (std::size_t i = 0; i < m_failures.size() && i < kReasonsShown; ++i)
        text += (i == 0 ? "" : "; ") + m_failures[i];
    if (m_failures.size() > kReasonsShown)
        text += "; " + std::to_string(m_failures.size() - kReasonsShown) + " more";
    return text + ")";
}

}  // namespace trial
