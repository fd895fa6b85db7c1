#pragma once

#include <string>

// One running copy of the program per user. The running copy holds an
// exclusive flock on "<runtime folder>/SONVAR_RUNNING.lock" from its
// single-instance check to the end of its exit; the kernel drops the lock
// with the process, so a crash leaves none behind. The file itself is never
// removed: unlinking it would let a second copy lock a new file of the same
// name while the first still holds the old one.
namespace os {

/// The program's per-user runtime folder: "$XDG_RUNTIME_DIR/sonvar" when that
/// variable is an absolute path, else "sonvar-<uid>" in the system's temporary
/// folder. Made with mode 0700 when missing. Throws exception::ExternalError
/// when it cannot be made, or when it is not a folder of ours (a temporary
/// folder is shared with other users). UTF-8. Any thread.
std::string runtimeFolder();

/// The lock of one copy. Built on the GUI thread at start-up and kept by the
/// application object to the end of its exit.
class SingleInstance {
public:
    static constexpr const char* kRunningName = "SONVAR_RUNNING";

    /// Tries to take the lock "<name>.lock" of the runtime folder. Throws
    /// exception::ExternalError when the file cannot be opened or locked for
    /// any reason but another holder.
    explicit SingleInstance(const std::string& name = kRunningName);
    /// Closes the descriptor, which releases the lock.
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Another process holds the lock: this copy is a second one.
    bool alreadyExists() const { return m_alreadyExists; }

    /// Whether some process holds the lock now, for the quit path. The probe
    /// takes a shared lock for the moment of two system calls: a copy that
    /// starts exactly then may take itself for a second copy.
    static bool isHeld(const std::string& name = kRunningName);

private:
    int m_fd = -1;
    bool m_alreadyExists = false;
};

}  // namespace os
