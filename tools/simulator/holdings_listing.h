#pragma once

#include <string>

#include "tools/simulator/simulator.h"

namespace device::sim {

/// The file in which a running simulator shows what each of its devices
/// holds, one device a line: its number in the run (as --fault-device counts
/// it), its address and describe(Holdings), e.g.
///
///   3 127.0.1.3 channel=1 volume=-15 memory="idle"
///
/// A person watches it during a run; a test reads it. The file is replaced
/// whole (written beside it, then renamed over it), so that a reader never
/// sees half a listing. One thread calls it.
class HoldingsListing {
public:
    explicit HoldingsListing(std::string path);

    /// The listing of every device of `simulator` now.
    static std::string text(Simulator& simulator);
    /// Writes the listing when it differs from the one written last; true
    /// when it wrote. Throws std::runtime_error naming the file and the
    /// system's reason when the file cannot be written.
    bool update(Simulator& simulator);

    const std::string& path() const { return m_path; }

private:
    const std::string m_path;
    std::string m_written;
    bool m_wrote = false;
};

}  // namespace device::sim
