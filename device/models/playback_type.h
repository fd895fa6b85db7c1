#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace device {

/// What a loudspeaker plays and on whose behalf: a set of bits. The top byte
/// is the meta part (meta_*), the lower bits name the source. Callers test
/// codes by masks as well as by whole values.
namespace playback {
constexpr std::uint64_t kNone = 0x0000000000000000;
constexpr std::uint64_t kMetaInternal = 0x0100000000000000;
constexpr std::uint64_t kMetaStoppable = 0x0200000000000000;
constexpr std::uint64_t kMetaExternal = 0x0600000000000000;
constexpr std::uint64_t kMetaAlarm = 0x0800000000000000;
constexpr std::uint64_t kUnknown = 0x1100000000000000;
constexpr std::uint64_t kMetaError = 0x2000000000000000;
constexpr std::uint64_t kMicrophone = 0x0600000000000500;
constexpr std::uint64_t kExternalMedia = 0x0600000000000300;
constexpr std::uint64_t kAlarm = 0x0E00000000000900;
constexpr std::uint64_t kVoiceLowPriority = 0x0600000000001500;
constexpr std::uint64_t kVoiceHighPriority = 0x0E00000000002900;
constexpr std::uint64_t kVoiceHighRepeating = 0x0900000000004000;
constexpr std::uint64_t kVoiceZoneAin = 0x0900000000018000;
constexpr std::uint64_t kVoiceZoneFire = 0x0900000000028000;
constexpr std::uint64_t kVoiceZoneNote = 0x0100000000048000;
constexpr std::uint64_t kMetaMemory = 0x0900000000100000;
constexpr std::uint64_t kFragment = 0x0B00000000300000;
constexpr std::uint64_t kScenario = 0x0900000000500000;
constexpr std::uint64_t kScenarioTest = 0x0B00000001500000;
constexpr std::uint64_t kScenarioServer = 0x0B00000002500000;
constexpr std::uint64_t kScenarioZarno = 0x0900000004500000;
constexpr std::uint64_t kScenarioAin1 = 0x0900000018500000;
constexpr std::uint64_t kScenarioAin2 = 0x0900000028500000;
constexpr std::uint64_t kScenarioTovik = 0x0900000040508000;
constexpr std::uint64_t kAnalogInput1 = 0x0900000300000000;
constexpr std::uint64_t kAnalogInput2 = 0x0900000500000000;
constexpr std::uint64_t kSine = 0x0100000800000000;
constexpr std::uint64_t kAinScenarioBroken = 0x2000100000000000;
constexpr std::uint64_t kScenarioMisstate = 0x2000200000000000;

/// Every bit of `mask` is set in `code`.
constexpr bool has(std::uint64_t code, std::uint64_t mask) { return (code & mask) == mask; }
/// The system believes the loudspeaker plays from its audio memory.
constexpr bool isMemoryPlayback(std::uint64_t code) { return has(code, kMetaMemory); }
/// An external source of the operator's (microphone, external medium).
constexpr bool isOperatorVoice(std::uint64_t code) {
    return has(code, kMicrophone) || has(code, kExternalMedia);
}
}  // namespace playback

/// The 45 named codes and their texts; built once on first use, then read
/// only, so any thread may read it.
const std::map<std::uint64_t, std::wstring>& playbackTypeTexts();

/// The text of a code; a code that is not named reads "unknown".
std::wstring findPlaybackTypeText(std::uint64_t code);

}  // namespace device
