#pragma once

#include <cstdint>

// The kinds of a message track (the second argument of frm::PlaybackTrack):
// they pick the volume a message plays at. Written through these names in
// the GUI because the audio layer's own constants name 3 and 4 after other
// kinds than they stand for.
namespace frm {

/// A recorded message of the microphone page (alarm flag set, so that it
/// plays on the alarm channel at "volume.microphone2").
constexpr std::uint32_t kRecordedMessage = 3;
/// A message of the service-message tree ("volume.serviceMessage2").
constexpr std::uint32_t kServiceMessage = 4;
/// A message of the alarm-message tree.
constexpr std::uint32_t kAlarmMessage = 5;

}  // namespace frm
