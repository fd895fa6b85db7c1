#include "gui/line_control_model.h"

#include <cstdarg>
#include <cwchar>
#include <cwctype>

#include "base/exception.h"
#include "base/text.h"
#include "device/models/orvel_info.h"

namespace frm {
namespace line_control {

namespace {

using Module = device::tip_device::LineControl;
constexpr int kFirstModuleIndex = 9;

std::wstring format(const wchar_t* pattern, ...) {
    wchar_t text[128];
    va_list arguments;
    va_start(arguments, pattern);
    const int length = std::vswprintf(text, sizeof text / sizeof text[0], pattern, arguments);
    va_end(arguments);
    return length < 0 ? std::wstring() : std::wstring(text, static_cast<std::size_t>(length));
}

}  // namespace

bool isAvailable(const device::OrvelInfo& loudspeaker) {
    return loudspeaker.isOnline() && loudspeaker.isOnlineAndAnswered() &&
           loudspeaker.getVersionIndex() >= kFirstModuleIndex;
}

Snapshot read(device::OrvelInfo& loudspeaker, bool withVersion) {
    Snapshot snapshot;
    snapshot.available = isAvailable(loudspeaker);
    if (!snapshot.available) return snapshot;
    const boost::shared_ptr<Module> module = loudspeaker.getLineControl();
    try {
        module->refresh(withVersion);
        // A module that did not answer (or not in a form it has) leaves no
        // state: there is nothing to show.
        if (module->getModuleState() == Module::kUnknown) return snapshot;
        // Asks again only when the module is not active.
        snapshot.tips = module->getTipDevices();
        snapshot.state = module->getModuleState();
        snapshot.powerSave = module->getPowerSaveMode();
        if (snapshot.state != Module::kActive) snapshot.progress = module->getInitializationProgress();
        snapshot.version = module->getMasterFirmwareVersion();
        snapshot.address = module->getMasterHardwareAddress();
    } catch (const exception::UserResponse& e) {
        // The module answered, but with a refusal of its own.
        if (e.getDetails().rfind(L"ERR", 0) != 0) throw;
        snapshot.refusal = e.getDetails();
        while (!snapshot.refusal.empty() && std::iswspace(snapshot.refusal.back()))
            snapshot.refusal.pop_back();
        return snapshot;
    }
    snapshot.read = true;
    return snapshot;
}

Buttons buttons(std::uint32_t state, std::uint32_t powerSave, std::uint64_t typeCode, bool debugMode) {
    const bool active = state == Module::kActive;
    Buttons rules;
    rules.powerSave = active && powerSave != Module::kPowerSaveUnknown;
    rules.addAll = active && powerSave != Module::kPowerSaveOn;
    rules.resetPref = rules.addAll;
    rules.reboot = active;
    rules.rebootShown = debugMode && (typeCode & device::kTypeOrvel610) == device::kTypeOrvel610;
    return rules;
}

std::wstring versionText(const device::Version& version, const std::string& address) {
    return format(L"Версия контроля линии: %u.%u.%u; Адрес: ", version.major, version.minor, version.build) +
           base::toWide(address) + L"; ";
}

TipRow tipRow(const TipDevice& tip, bool powerSaving) {
    TipRow row;
    row.number = format(L" %02u ", static_cast<unsigned>(tip.address));
    row.tone = tip.addedAndActive ? TipTone::kInService : tip.added ? TipTone::kAdded : TipTone::kOther;
    // 64 bits: the counters are 32-bit and a hundredfold would overflow.
    const unsigned long long percent =
        tip.secondValue == 0 ? 0ull : std::uint64_t{tip.firstValue} * 100u / tip.secondValue;
    row.rate = format(L"%3llu%%", percent);
    row.diagnostics = format(L"[id=%02u;%u:%u:%u;%05u/%05u;", static_cast<unsigned>(tip.address),
                             tip.added ? 1u : 0u, tip.active ? 1u : 0u, tip.thirdFlag ? 1u : 0u,
                             static_cast<unsigned>(tip.firstValue), static_cast<unsigned>(tip.secondValue)) +
                      base::toWide(tip.code) + L"]";
    row.diagnosticsGood = tip.thirdFlag;
    row.name = tip.title;
    row.button = tip.added ? L"Удалить" : L"Добавить";
    row.buttonEnabled = !powerSaving;
    return row;
}

std::wstring refusalText(const std::wstring& reply) { return L"Модуль контроля линии недоступен: " + reply; }

std::wstring progressText(std::uint32_t percent) {
    return L"Инициализация: " + std::to_wstring(percent) + L"%";
}

}  // namespace line_control
}  // namespace frm
