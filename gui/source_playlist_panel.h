#pragma once

#include <boost/shared_ptr.hpp>
#include <wx/panel.h>

class ListOfPlaylist;

namespace frm {

/// The music or radio playlist page, for now an empty panel that answers the
/// main window's calls with no work. GUI thread only.
class SourcePlaylistPanel : public wxPanel {
public:
    SourcePlaylistPanel(wxWindow* parent, bool radio);
    /// Binds the page to a list of playlists and redraws it.
    void setListOfPlaylist(boost::shared_ptr<ListOfPlaylist> playlists);
};

}  // namespace frm
