#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/models/line_control.h"
#include "device/version.h"

namespace device {
class OrvelInfo;
}

namespace frm {

/// What the line-control page ("Линия") of the property panel shows of a
/// loudspeaker's line-control module: one read of the module (the exchanges,
/// run on a dispatcher job or on the GUI thread), the rules of the page's
/// buttons and the texts and colours of one end-device row. No window;
/// `read` blocks on the module's exchanges, the rest is pure.
namespace line_control {

using TipDevice = device::tip_device::LineControl::TipDevice;

/// The module is reachable: the loudspeaker is online, answered its last
/// exchange and has firmware-version index 9 or more. Reads flags only.
bool isAvailable(const device::OrvelInfo& loudspeaker);

/// One read of the module, taken by `read`.
struct Snapshot {
    /// Ascending per read (RefreshGate::startRead); later reads supersede
    /// earlier ones.
    std::uint64_t sequence = 0;
    bool available = false;
    /// False when an exchange failed (the reason went to the log): the page
    /// keeps what it shows.
    bool read = false;
    /// The module's own refusal ("ERR line control module is absent" of a
    /// loudspeaker without one); the page shows it instead of the module.
    std::wstring refusal;
    std::uint32_t state = device::tip_device::LineControl::kUnknown;
    std::uint32_t powerSave = device::tip_device::LineControl::kPowerSaveUnknown;
    /// Initialisation progress in per cent, asked only while not active.
    std::uint32_t progress = 0;
    device::Version version;
    std::string address;
    std::vector<TipDevice> tips;
};

/// Refreshes the module (with its version and address when `withVersion`)
/// and takes its state, power-save mode, end devices, version and address,
/// and the progress while it is not active. Nothing is asked when the module
/// is not available; a module whose state stays unknown (no answer, a reply
/// of no state) gives a snapshot that was not read. An "ERR" reply of the
/// module is its refusal;
/// its other exceptions (a malformed version, a failed exchange) pass on.
/// Any thread but the transport's.
Snapshot read(device::OrvelInfo& loudspeaker, bool withVersion);

/// Which of the page's buttons the operator may use.
struct Buttons {
    bool powerSave = false;  // "Энергосбережение"
    bool addAll = false;     // "Добавить все"
    bool resetPref = false;  // "Удалить все"
    bool reboot = false;     // "Перезагрузить" enabled
    bool rebootShown = false;
};

/// Active module: power saving can be switched unless its mode is unknown,
/// and all end devices added or removed unless power saving is on; the
/// reboot is offered in debug mode for an Orvel-610 family type code.
Buttons buttons(std::uint32_t state, std::uint32_t powerSave, std::uint64_t typeCode, bool debugMode);

/// "Версия контроля линии: 1.2.7; Адрес: 02:56:53:10:00:01; ".
std::wstring versionText(const device::Version& version, const std::string& address);

enum class TipTone { kInService, kAdded, kOther };  // green, red, amber

/// The texts of one end-device row.
struct TipRow {
    std::wstring number;  // " 11 "
    TipTone tone = TipTone::kOther;
    std::wstring rate;         // debug mode: "%3u%"
    std::wstring diagnostics;  // debug mode: "[id=11;1:1:0;00026/00043;C1]"
    bool diagnosticsGood = false;
    std::wstring name;
    std::wstring button;  // "Удалить" for an added end device, "Добавить" otherwise
    bool buttonEnabled = false;
};

TipRow tipRow(const TipDevice& tip, bool powerSaving);

/// The notice of a module that refused the read, with its reply:
/// "Модуль контроля линии недоступен: ERR line control module is absent".
std::wstring refusalText(const std::wstring& reply);

/// The text shown while the module initialises: "Инициализация: 35%".
std::wstring progressText(std::uint32_t percent);

}  // namespace line_control
}  // namespace frm
