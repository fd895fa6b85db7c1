#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

// The program's images: the state and button icons of the panels, the
// maker's logo of the main window and the application icon. The icons are
// SVG documents of our own (resources/icons/), built into the program as
// byte arrays and drawn at their fixed size on every call; nothing is cached.
//
// GUI thread only: they draw through the toolkit.

/// The bitmap of an icon id of the icon table (iconTable, 0 to 23) at the
/// table's square size; the null bitmap for an id outside the table or an
/// icon whose document is missing or cannot be drawn, without a message.
wxBitmap loadSvgBitmap(int id);

/// The maker's logo for the main window's top bar: 144 x 51 pixels, the bold
/// white word "VARKO" centred on a rounded dark blue box.
wxBitmap loadLogoBitmap();

/// The application and main-window icon at 16, 24, 32, 48, 64 and 128
/// pixels square, for wxTopLevelWindow::SetIcons.
wxIconBundle loadApplicationIcons();
