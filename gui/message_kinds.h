#pragma once

#include <cstdint>

// The kinds of message playbacks the source pages make; a playback's kind
// picks its volume setting on the channels.
namespace frm {

/// A message recorded on the microphone page.
constexpr std::uint32_t kRecordedMessage = 3;
/// A message of the service-message page.
constexpr std::uint32_t kServiceMessage = 4;
/// A message of the alarm-message page.
constexpr std::uint32_t kAlarmMessage = 5;

}  // namespace frm
