#pragma once

#include <chrono>

#include <wx/timer.h>

class wxStaticText;

namespace frm {

/// The clock of the main window's top bar: a timer that writes the local
/// time (the toolkit's default time format) and the date ("%d.%m.%Y") into
/// two labels every period. One instance, made by the main window's start-up
/// and ended by its shutdown.
///
/// GUI thread only: the timer fires there, so the labels are written on the
/// thread that owns them and no other thread touches them.
class GuiClock {
public:
    /// Starts the clock over the two labels (not owned; they must outlive
    /// it) and writes them at once. A timer that cannot start ends the
    /// program (FATAL and exit code 1). A second call logs a WARN and keeps
    /// the running clock.
    static void createInstance(wxStaticText* timeLabel, wxStaticText* dateLabel,
                               std::chrono::milliseconds period = std::chrono::milliseconds(100));
    /// Stops the timer and forgets the instance; nothing when there is none.
    static void destroyInstance();
    static bool exists();

private:
    GuiClock(wxStaticText* timeLabel, wxStaticText* dateLabel);
    ~GuiClock() = default;
    GuiClock(const GuiClock&) = delete;
    GuiClock& operator=(const GuiClock&) = delete;

    void tick();

    wxStaticText* const m_timeLabel;
    wxStaticText* const m_dateLabel;
    wxTimer m_timer;

    static GuiClock* s_instance;  // GUI thread only
};

}  // namespace frm
