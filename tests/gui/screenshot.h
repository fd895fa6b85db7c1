#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <wx/image.h>
#include <wx/window.h>

#include <chrono>
#include <string>

#include "tests/base/wx/wx_app.h"

#ifndef SONVAR_SHOTS_DIR
#error "SONVAR_SHOTS_DIR names the screenshot folder (tests/CMakeLists.txt sets it for the GUI test areas)"
#endif

namespace wx_testing {

/// What the screen shows in `rect` (screen coordinates) as it stands, every
/// window in its place and none raised, to <build>/shots/<name>.png; the
/// path, or an empty text when nothing could be written.
///
/// The pixels come straight from the X server: wxScreenDC on GTK 3 keeps
/// the first picture it took and hands it out again for every later window.
inline std::string writeScreenArea(const wxRect& rect, const std::string& name) {
    runEventLoopFor(std::chrono::milliseconds(200));  // the toolkit finishes drawing
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return {};
    XImage* pixels = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y, rect.width, rect.height,
                               AllPlanes, ZPixmap);
    wxImage image;
    if (pixels != nullptr) {
        image.Create(rect.width, rect.height);
        unsigned char* rgb = image.GetData();
        for (int y = 0; y < rect.height; ++y)
            for (int x = 0; x < rect.width; ++x) {
                const unsigned long pixel = XGetPixel(pixels, x, y);
                *rgb++ = static_cast<unsigned char>((pixel & pixels->red_mask) >> 16);
                *rgb++ = static_cast<unsigned char>((pixel & pixels->green_mask) >> 8);
                *rgb++ = static_cast<unsigned char>(pixel & pixels->blue_mask);
            }
        XDestroyImage(pixels);
    }
    XCloseDisplay(display);
    if (!image.IsOk()) return {};
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) wxImage::AddHandler(new wxPNGHandler);
    const std::string path = std::string(SONVAR_SHOTS_DIR) + "/" + name + ".png";
    return image.SaveFile(path, wxBITMAP_TYPE_PNG) ? path : std::string();
}

/// Shows the window, lets it paint, and writes what the screen shows of it
/// to <build>/shots/<name>.png for a person to look at. Returns the path, or
/// an empty text when nothing could be written.
inline std::string writeShot(wxWindow* window, const std::string& name) {
    window->Show();
    window->Raise();
    if (!runEventLoopUntil([window] { return window->IsShownOnScreen(); })) return {};
    window->Refresh();
    window->Update();
    return writeScreenArea(window->GetScreenRect(), name);
}

}  // namespace wx_testing
