#include "gui/progress_tally.h"

namespace frm {

ProgressTally::Step ProgressTally::report(const Device& device, int percent) {
    ++m_reports;
    Step step;
    const auto known = m_index.find(device);
    if (known == m_index.end()) {
        step.line = m_lines.size();
        step.newLine = true;
        m_index.emplace(device, step.line);
        m_lines.push_back({device, 0, Kind::Progress});
    } else {
        step.line = known->second;
    }
    Line& line = m_lines[step.line];
    if (line.state != Kind::Progress) {
        step.kind = Kind::Ignored;
        return step;
    }
    if (percent >= 0 && percent < 100) {
        step.kind = Kind::Progress;
        line.percent = percent;
        return step;
    }
    step.kind = percent < 0 ? Kind::Failed : Kind::Succeeded;
    line.state = step.kind;
    ++m_finished;
    if (step.kind == Kind::Failed) m_failed.push_back(device);
    if (m_finished >= m_lines.size())
        step.outcome = step.kind == Kind::Failed ? Outcome::Cancel : Outcome::Ok;
    return step;
}

ProgressTally::Outcome ProgressTally::expire() {
    for (Line& line : m_lines) {
        if (line.state != Kind::Progress) continue;
        line.state = Kind::Failed;
        ++m_finished;
        m_failed.push_back(line.device);
    }
    return Outcome::Cancel;
}

}  // namespace frm
