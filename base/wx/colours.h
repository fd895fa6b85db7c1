#pragma once

#include <wx/colour.h>

// Fixed colours of the panels, all fully opaque. Made during static
// initialisation and never changed; read them on the GUI thread.

// Line-control page of the device property panel: the three backgrounds of an
// end-device row (in service, added, neither); the first and third also
// colour the row's second control by its own flag.
extern const wxColour lineControlGreenColour;   // 120, 234, 110
extern const wxColour lineControlAmberColour;   // 255, 216, 0
extern const wxColour lineControlRedColour;     // 255, 84, 81

// Removable-medium and playlist source panels: the text of the row being
// played and of every other row.
extern const wxColour removableMediumPlayingColour;  // 0, 160, 33
extern const wxColour removableMediumRowColour;      // 0, 0, 0
extern const wxColour playlistPlayingColour;         // 0, 160, 33
extern const wxColour playlistRowColour;             // 0, 0, 0

/// Scheduler source panel: background of its owner-drawn items.
extern const wxColour schedulerItemColour;  // 235, 235, 235

/// Zone element panel: background of a state control whose condition holds
/// (otherwise the system button face).
extern const wxColour warningColour;  // 255, 216, 0
