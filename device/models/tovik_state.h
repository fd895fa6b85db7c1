#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace device {

/// The record of a console's last state packet: twenty-one numbers, then ten
/// flags. Zero-filled until the first packet that changes something.
struct TovikState {
    std::uint32_t valid = 0;           // 1 once the derived values were computed
    std::uint32_t power1State = 0;     // bits, 0..16
    std::uint32_t power1Status = 0;    // derived, TovikTable::PowerStatus
    std::uint32_t power1Level = 0;     // percent
    std::uint32_t power2State = 0;
    std::uint32_t power2Status = 0;
    std::uint32_t power2Level = 0;
    std::uint32_t ethernet1State = 0;  // bits, 0..32
    std::uint32_t ethernet1Status = 0; // derived, TovikTable::EthernetStatus
    std::uint32_t ethernet2State = 0;
    std::uint32_t ethernet2Status = 0;
    std::uint32_t microphoneLine = 0;  // TovikTable::MicrophoneLine
    std::uint32_t playbackState = 0;   // bits, 0..32
    std::uint32_t playbackKind = 0;    // derived, TovikTable::PlaybackKind
    std::uint32_t accessState = 0;     // TovikTable::Access
    std::uint32_t caseState = 0;       // TovikTable::Case
    std::uint32_t boundZones = 0;      // 21-bit masks
    std::uint32_t connectedZones = 0;
    std::uint32_t activatedZones = 0;
    std::uint32_t zarnoState = 0;      // bits, 0..16
    std::uint32_t ainState = 0;        // TovikTable::Ain

    bool allOk = false;
    bool power1Present = false;
    bool power2Present = false;
    bool twoSuppliesOk = false;
    bool ethernet1Ok = false;
    bool ethernet2Ok = false;
    bool zonesConsistent = false;
    bool zarnoLine1Ok = false;
    bool zarnoLine2Ok = false;
    bool ainInUse = false;
};

/// The state-text tables of the console; the last row of each ("over") also
/// names any value the device may send beyond the known ones.
enum class TovikTable { PowerStatus, EthernetStatus, MicrophoneLine, Ain, Access, Case, PlaybackKind };

/// The text of a row; a value beyond the last row throws the internal error
/// of debug::throwIfFalse.
std::wstring toText(TovikTable table, std::uint32_t value);

/// One console state packet as read, before any range check.
struct TovikPacket {
    std::string hardwareText;
    /// The sixteen numbers in packet order (the first is not used); all 0
    /// when the packet holds fewer.
    std::array<std::uint32_t, 16> fields{};
};

/// Scans "<address>,n1,...,n16,...": never fails, short packets read as
/// sixteen zeros (the address text may then be empty).
TovikPacket readTovikPacket(const std::string& text);

/// Takes the fields of a packet into `state`, each out-of-range value logged
/// at EXTERN (under `place`) and replaced as the device tables say. Only the
/// raw fields are written; derived ones stay as they are.
void takeTovikFields(const TovikPacket& packet, TovikState& state, const char* place);

/// The playback kind of a raw playback state: the first of bits 0x02, 0x04,
/// 0x08, 0x10, 0x20 that is set names kinds 1 to 5; none is 0.
std::uint32_t tovikPlaybackKind(std::uint32_t playbackState);

/// Recomputes the status values and the flags from the raw fields.
void computeTovikFlags(TovikState& state);

}  // namespace device
