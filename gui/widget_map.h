#pragma once

#include <wx/timer.h>

#include <chrono>
#include <memory>
#include <string>

namespace frm {

/// Test-only: a listing of every window and control on screen, kept in a
/// file for the trial that drives the running program with real mouse
/// clicks and keys and needs to know where each control is. The application
/// makes it only when the environment variable SONVAR_TEST_WIDGETS names the
/// file; otherwise nothing of it exists.
///
/// The listing is UTF-8, a line a window in tree order (each top-level
/// window, then its shown children depth first), and a line per item of the
/// device icon grid, of list and tree controls and per tab of a notebook
/// after the line of their control; values are quoted with \" \\ \n \t
/// escaped:
///
///   window id=4 parent=1 type=frm::SourceServicePanel class=wxPanel rect=210,96,1050,880 enabled=1
///       focus=0 label="" tip="" [value="..."]
///   item of=12 index=3 rect=230,120,96,84 selected=1 title="Новое устройство 02:56:53:00:00:04"
///       hw=02:56:53:00:00:04 image=2
///
/// id numbers the lines of one listing (parent=0: a top-level window); rect
/// is x,y,width,height in screen pixels; `type` is the C++ class, `class`
/// the toolkit's; value is a text field's text, a toggle's or check box's
/// 0/1, a choice's or radio box's chosen text, a slider's position, a
/// notebook's page. hw is a device row's hardware address, image the index
/// of the state icon its row shows.
///
/// Threads: the GUI thread only; its timer fires there. Writing costs one
/// walk of the shown windows a period, and a file write only when the
/// listing changed (written beside the file and renamed over it, so a
/// reader never sees half of it).
class WidgetMap {
public:
    static constexpr const char* kVariable = "SONVAR_TEST_WIDGETS";

    /// The map of the file SONVAR_TEST_WIDGETS names, written every 100 ms
    /// from now on; null when the variable is unset or empty.
    static std::unique_ptr<WidgetMap> fromEnvironment();

    WidgetMap(std::string path, std::chrono::milliseconds period);
    ~WidgetMap();
    WidgetMap(const WidgetMap&) = delete;
    WidgetMap& operator=(const WidgetMap&) = delete;

    /// The listing of what is on screen now.
    static std::string describe();
    /// Writes the listing when it differs from the one written last; true
    /// when it wrote. A file that cannot be written is left as it is.
    bool update();

private:
    const std::string m_path;
    std::string m_written;
    bool m_wrote = false;
    wxTimer m_timer;
};

}  // namespace frm
