#pragma once

#include <wx/window.h>

namespace frm {

/// Holds the wx GUI mutex while a worker thread reads GUI-owned state; on the
/// GUI thread it does nothing.
///
/// The rule of this code base: worker threads never touch widgets. On wxGTK
/// 3.2, wxMutexGuiEnter is GDK's deprecated thread lock, which wx never sets
/// up, so this guard excludes nothing: the GUI thread goes on changing
/// windows while a worker "holds" it. A worker that needs a widget changed or
/// read hands that work to the GUI thread through GuiThreadInvoker::add (a
/// reply it needs comes back through its own synchronised state). The class
/// stays for the callers that mark such places; it must not be relied on.
class GuiLocker {
public:
    GuiLocker();
    ~GuiLocker();
    GuiLocker(const GuiLocker&) = delete;
    GuiLocker& operator=(const GuiLocker&) = delete;

    /// Leaves the GUI mutex early, before a long or blocking step.
    void unlock();

private:
    const bool m_onMainThread;
    bool m_locked = false;
};

/// Freezes a window (no repainting) for a scope while it is refilled; guards
/// nest as wx freezes do. GUI thread only. A null window raises
/// exception::InternalError.
class GuiFreezer {
public:
    explicit GuiFreezer(wxWindow* window);
    ~GuiFreezer();
    GuiFreezer(const GuiFreezer&) = delete;
    GuiFreezer& operator=(const GuiFreezer&) = delete;

private:
    wxWindow* const m_window;
    bool m_frozen = false;
};

}  // namespace frm
