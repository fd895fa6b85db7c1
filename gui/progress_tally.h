#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <map>
#include <vector>

namespace device {
class DeviceBase;
}

namespace frm {

/// The bookkeeping behind the progress dialog of a long operation on several
/// devices: each device gets a line when it first reports, in that order; a
/// device is finished by its first final report (success or failure), and
/// the operation ends when every device that has a line has finished. The
/// device whose final report came last decides the outcome, so an earlier
/// failure leaves an OK outcome possible: the owner also reads the failed
/// devices. No window; the progress dialog calls it on the GUI thread.
class ProgressTally {
public:
    using Device = boost::shared_ptr<device::DeviceBase>;

    enum class Kind {
        Progress,   // 0 to 99: the gauge moves
        Failed,     // negative (the devices send -1)
        Succeeded,  // 100 or more
        Ignored     // a report of a device that has already finished
    };
    enum class Outcome { Running, Ok, Cancel };

    /// One device's line as the reports left it.
    struct Line {
        Device device;
        int percent = 0;              // the last progress report (0 to 99)
        Kind state = Kind::Progress;  // Failed or Succeeded once finished
    };

    /// What one report changes.
    struct Step {
        std::size_t line = 0;  // the device's line
        bool newLine = false;  // the line was added by this report
        Kind kind = Kind::Progress;
        Outcome outcome = Outcome::Running;
    };

    Step report(const Device& device, int percent);

    /// No report came in time: every device without a final report failed
    /// (in line order), and the outcome is Cancel.
    Outcome expire();

    /// The devices that failed, in the order their failures were learnt.
    const std::vector<Device>& failedDevices() const { return m_failed; }
    /// In the order of the devices' first reports.
    const std::vector<Line>& lines() const { return m_lines; }
    /// Every report handed to `report`, ignored ones included.
    std::size_t reportCount() const { return m_reports; }

private:
    std::map<Device, std::size_t> m_index;  // device -> its line
    std::vector<Line> m_lines;
    std::size_t m_finished = 0;
    std::vector<Device> m_failed;
    std::size_t m_reports = 0;
};

}  // namespace frm
