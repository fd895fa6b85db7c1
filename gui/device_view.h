#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/models/orvel_state.h"
#include "device/models/tovik_state.h"

// What the zone page shows of a device's state: the icon of its row and, for
// the selected device, the text, enable state and warning colour of each
// state field. Pure functions of the state records and of what the player
// and the alarm channel report; no window, no device exchange, any thread.
namespace frm {

/// The icons of the zone page's image list (the icon table's ids 8 to 21).
namespace icon {
constexpr int kSpeakerOffline = 0;
constexpr int kSpeakerNormal = 1;
constexpr int kSpeakerIncoming = 3;
constexpr int kSpeakerError = 5;
constexpr int kSpeakerAlarm = 7;
constexpr int kMicrophoneOffline = 9;
constexpr int kMicrophoneNormal = 10;
constexpr int kMicrophoneIncoming = 11;
constexpr int kMicrophoneError = 12;
constexpr int kMicrophoneAlarm = 13;
/// The first icon id of the table that the image list holds, and how many.
constexpr int kFirstTableId = 8;
constexpr int kCount = 14;
}  // namespace icon

/// The state fields of the information area, in grid order.
enum class StateField : std::size_t {
    Playback,
    Firmware,
    Line1,
    Network1,
    Line2,
    Network2,
    Power1,
    CaseState,
    Power2,
    Zones,
    Zarno1,
    AnalogInput1,
    Zarno2,
    AnalogInput2,
    Microphone,
    Access,
};
constexpr std::size_t kStateFieldCount = 16;

/// One field with its label: the text, whether both are enabled, and whether
/// the field has the warning colour instead of the button face.
struct FieldView {
    std::wstring text;
    bool enabled = true;
    bool warning = false;
};
using StateView = std::array<FieldView, kStateFieldCount>;

/// The translation of a catalogue key; a key without one comes back as it is.
using Translate = std::function<std::wstring(const std::wstring& key)>;

/// What a loudspeaker's channel carries, read off the GUI thread (the
/// channel may need a request to the loudspeaker).
struct ChannelFacts {
    int channel = -1;  // "get ch": 0 the common stream, 1..20 the alarm channel's; -1 unknown
    /// The player plays a playlist that has items: its name and the title of its current item.
    bool playerPlaying = false;
    std::wstring playlistName;
    std::wstring itemTitle;
    bool alarmRunning = false;
    std::wstring alarmMessage;  // the path of the message the alarm channel plays; empty: none
};

struct LoudspeakerFacts {
    device::OrvelState state;
    int versionIndex = 0;
    std::uint64_t typeCode = 0;
    std::uint64_t playbackCode = 0;  // the playback-type code
    std::wstring playbackWord;       // its word ("voice_low_priority")
    std::wstring versionText;
    bool online = false;
    bool answered = false;
    /// The last known facts of its channel; none read yet: none shown.
    std::optional<ChannelFacts> channel;
};

struct ConsoleFacts {
    device::TovikState state;
    std::wstring playbackWord;  // "none", "gong", ...
    std::wstring versionText;
    bool online = false;
    bool answered = false;
};

int loudspeakerIcon(const device::OrvelState& state, bool online, bool answered);
int consoleIcon(const device::TovikState& state, bool online, bool answered);

/// The state fields of an online loudspeaker.
StateView describeLoudspeaker(const LoudspeakerFacts& facts, const Translate& translate);
/// The state fields of an online console.
StateView describeConsole(const ConsoleFacts& facts, const Translate& translate);

/// Whether a loudspeaker's playback text is extended by what its channel
/// carries: it answers and plays the common stream or a voice playback.
bool playbackNamesChannel(std::uint64_t playbackCode, bool online, bool answered);

/// Every catalogue key the descriptions may look up, for the catalogue's
/// completeness check.
std::vector<std::wstring> stateTextKeys();

}  // namespace frm
