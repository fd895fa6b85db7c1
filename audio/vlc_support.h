#pragma once

#include <string>
#include <vector>

#include <vlc/vlc.h>

// Small adapters between our option lists and libvlc's C interface.

/// libvlc_new with the given arguments; null when libvlc refuses them.
libvlc_instance_t* vlc_new_instance(const std::vector<std::string>& args);

/// A media at the location with the options added in order; null on failure.
libvlc_media_t* vlc_new_media(libvlc_instance_t* instance, const char* location,
                              const std::vector<std::string>& options);

/// Sends libvlc's own messages into our log (place "dbg_puts"): debug lines
/// at TRACE2, notices at TRACE, warnings at DEBUG, errors at EXTERN.
void vlc_forward_log(libvlc_instance_t* instance);

/// libvlc's last error text, or the fallback when there is none.
std::string vlc_last_error(const char* fallback);

/// Clears the player's media (the player stops first).
void vlc_clear_media(libvlc_media_player_t* player);
