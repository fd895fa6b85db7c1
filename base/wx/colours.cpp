#include "base/wx/colours.h"

const wxColour lineControlGreenColour(120, 234, 110, wxALPHA_OPAQUE);
const wxColour lineControlAmberColour(255, 216, 0, wxALPHA_OPAQUE);
const wxColour lineControlRedColour(255, 84, 81, wxALPHA_OPAQUE);

const wxColour removableMediumPlayingColour(0, 160, 33, wxALPHA_OPAQUE);
const wxColour removableMediumRowColour(0, 0, 0, wxALPHA_OPAQUE);
const wxColour playlistPlayingColour(0, 160, 33, wxALPHA_OPAQUE);
const wxColour playlistRowColour(0, 0, 0, wxALPHA_OPAQUE);

const wxColour schedulerItemColour(235, 235, 235, wxALPHA_OPAQUE);

const wxColour warningColour(255, 216, 0, wxALPHA_OPAQUE);
