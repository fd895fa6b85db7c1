#pragma once

// Holding the PC awake while the server broadcasts. The request goes to
// systemd-logind as a "sleep:idle" block inhibitor, taken through the
// systemd-inhibit tool: it holds the lock while a helper child of ours lives,
// and the helper lives until we close its input, or until this process ends
// in any way (the kernel closes the pipe), so the lock never outlives us.
namespace os {

/// on: take the inhibitor when it is not held; where the system has no
/// logind (or no systemd-inhibit), one WARN and the program goes on. off:
/// release it. Called on the GUI thread; safe from any thread.
void keepSystemAwake(bool on);

}  // namespace os
