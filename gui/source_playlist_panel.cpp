#include "gui/source_playlist_panel.h"

namespace frm {

SourcePlaylistPanel::SourcePlaylistPanel(wxWindow* parent, bool) : wxPanel(parent) {}

void SourcePlaylistPanel::setListOfPlaylist(boost::shared_ptr<ListOfPlaylist>) {}

}  // namespace frm
