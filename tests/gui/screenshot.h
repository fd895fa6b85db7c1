#pragma once

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/window.h>

#include <chrono>
#include <string>

#include "tests/base/wx/wx_app.h"

#ifndef SONVAR_SHOTS_DIR
#error "SONVAR_SHOTS_DIR names the screenshot folder (tests/CMakeLists.txt sets it for the GUI test areas)"
#endif

namespace wx_testing {

/// Shows the window, lets it paint, and writes what the screen shows of it
/// to <build>/shots/<name>.png for a person to look at. Returns the path, or
/// an empty text when nothing could be written.
inline std::string writeShot(wxWindow* window, const std::string& name) {
    window->Show();
    window->Raise();
    if (!runEventLoopUntil([window] { return window->IsShownOnScreen(); })) return {};
    window->Refresh();
    window->Update();
    runEventLoopFor(std::chrono::milliseconds(200));  // the toolkit finishes drawing

    const wxRect rect = window->GetScreenRect();
    wxBitmap bitmap(rect.width, rect.height, 24);
    {
        wxMemoryDC memory(bitmap);
        wxScreenDC screen;
        memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y);
    }
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    const std::string path = std::string(SONVAR_SHOTS_DIR) + "/" + name + ".png";
    return bitmap.SaveFile(path, wxBITMAP_TYPE_PNG) ? path : std::string();
}

}  // namespace wx_testing
