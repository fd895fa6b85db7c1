#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/simulator/model.h"

namespace device::sim {

/// The version text a loudspeaker of a firmware generation reports, by the
/// server's firmware-version index 1..21 ("Orvel-510 1.1.70.0 ..." is 2).
/// `orvel611`: the Orvel-611 form of an Orvel-610 generation (major 2).
/// Throws std::out_of_range for an index outside 1..21.
std::string orvelVersionOfIndex(int index, bool orvel611 = false);

/// How many numbers a loudspeaker of the index puts in its state packet: 6
/// up to index 8, 7 from 9 to 16, 15 from 17 on.
unsigned orvelFieldCount(int index);

/// The playback state (the sixth number of the state packet) that a
/// loudspeaker of the index sends while it plays the stream of `channel`:
/// the common channel 0, the high-priority notice channels 1 and 2, the
/// repeater's channel 3 and the low-priority channels 4 and 6 each have a
/// value of their own, which the generations number differently (high
/// priority is 4 up to index 8, 2 up to 16, 3 at 17 and 4 again from 18).
/// The Orvel-510 has no value for a low-priority stream (its 1 is the
/// analog input) and shows one as the common stream, as it does channel 5.
/// Nothing for index 1, whose packets tell no playback.
std::optional<unsigned> orvelStreamState(int index, unsigned channel);

/// One loudspeaker of a given firmware generation: its state packet has the
/// generation's number of fields, and it answers the volume, channel and
/// line requests the way that generation does. Tests set the public members
/// through SimulatedDevice::withModel.
///
/// Its state packet shows the stream of its channel (orvelStreamState) as
/// a real one does: a switch, a deferred one made later and a restart set
/// the playback state, unless it shows a playback of the loudspeaker's own
/// (a voice alert a test set in `fields`), which a switch leaves alone.
class OrvelBandModel : public OrvelModel {
public:
    OrvelBandModel(std::string hardwareAddress, int index, bool orvel611 = false);

    int index() const { return m_index; }

    unsigned channel = 0;
    /// Not empty: "set ch" answers this text (e.g. "... is deferred") and
    /// the channel changes only later, as a real loudspeaker does.
    std::string channelReply;
    /// The reply of "set line": "OK", or a text naming the broken lines.
    std::string lineReply = "OK";
    bool linesJoined = false;   // "get linedouble" (index 2..8)
    bool lineTest = false;      // "get linetest" (index 2..8)
    bool zarnoTest = false;     // "get zarnotest" (index 4, 5, 7, 8)
    /// "set <key> <value>" of a configuration key stores the value here;
    /// a key in `unknownKeys` is answered "ERR unknown key".
    std::map<std::string, std::string> settings;
    std::set<std::string> unknownKeys;
    /// False: the packets never show the channel, whatever it is (a test of
    /// how the server copes with firmware that tells nothing of it).
    bool showsChannel = true;

    std::string statePacket() const override;
    Holdings holdings() const override;
    /// Back on channel 0 (the common channel), at the power-on volume,
    /// playing nothing of its own.
    void restart() override;

private:
    /// The playback state follows the channel now, when the generation
    /// shows it and nothing of its own plays.
    void showChannel();

    int m_index;
};

/// The firmware generations that the simulator tool runs with --bands: one
/// loudspeaker of each band of the index (index, Orvel-611 form).
struct Band {
    int index;
    bool orvel611;
};
const std::vector<Band>& orvelBands();

}  // namespace device::sim
