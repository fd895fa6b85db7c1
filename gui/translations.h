#pragma once

#include <string>

namespace frm {

/// Makes the program speak Russian throughout: our catalogue "ru_RU" (its
/// message ids are the system's English code words) from `catalogueFolder`,
/// the toolkit's own Russian catalogue (stock labels such as "Cancel"), and
/// the messages locale ru_RU.UTF-8 for the GTK dialogs the toolkit shows (the
/// file chooser). The log translates with the same catalogues. The C
/// library's own messages stay English: they reach the log as narrow text.
/// GUI thread, once at start-up, before other threads read the environment.
/// False when the messages locale is not installed (the GTK dialogs then
/// stay English).
bool installTranslations(const std::wstring& catalogueFolder);

}  // namespace frm
