#pragma once

#include <string>

#include "device/models/config_journal.h"

namespace frm {

/// What the property panel tells of an apply that did not end as asked: the
/// settings that reached the device and those that did not, by the labels of
/// the panel's pages, and whether the device's new name was kept. No window;
/// any thread.
namespace apply_report {

/// The page's label of a configuration record's field ("ip" is
/// "IP-адрес"); a field the panel does not show is named by its key.
std::wstring fieldLabel(const std::string& field, const std::string& key);

/// What ended the apply.
enum class Failure {
    kRefused,     // the device answered with an error: the key in flight is not written
    kUnanswered,  // no answer: the device may or may not have taken the key in flight
    kDeclined,    // the program's own checks (a refusal by its code word): no key in flight
};

/// The lines that follow the failure's own text: what was written, what was
/// not (the key that failed and those never sent), "Настройки устройства не
/// изменены." when no write began, and, with `renameAsked`, that the new
/// name was not kept. Empty for a refusal of the program's checks before
/// any write when no rename was asked: its own text says it all.
std::wstring failedApply(const device::ConfigJournal::Snapshot& journal, Failure failure, bool renameAsked);

/// The same for an apply that the program's exit ended before it was done:
/// what was written and what was not sent any more.
std::wstring cutApply(const device::ConfigJournal::Snapshot& journal, bool renameAsked);

/// The labels of the keys written, in their order, without repeats
/// ("IP-адрес, Маска подсети").
std::wstring writtenKeys(const device::ConfigJournal::Snapshot& journal);

}  // namespace apply_report
}  // namespace frm
