#include "gui/property_apply_report.h"

#include <algorithm>
#include <map>
#include <vector>

#include "base/text.h"

namespace frm {
namespace apply_report {

namespace {

using Snapshot = device::ConfigJournal::Snapshot;

/// Labels in a list, each once, in their first order.
std::wstring joined(const std::vector<std::wstring>& labels) {
    std::vector<std::wstring> once;
    for (const std::wstring& label : labels)
        if (std::find(once.begin(), once.end(), label) == once.end()) once.push_back(label);
    std::wstring text;
    for (const std::wstring& label : once) text += (text.empty() ? L"" : L", ") + label;
    return text;
}

std::vector<std::wstring> labels(const Snapshot& journal, std::size_t from, std::size_t to) {
    std::vector<std::wstring> found;
    for (std::size_t n = from; n < std::min(to, journal.planned.size()); ++n)
        found.push_back(fieldLabel(journal.planned[n].field, journal.planned[n].key));
    return found;
}

void addLine(std::wstring& text, const std::wstring& line) { text += (text.empty() ? L"" : L"\n") + line; }

/// What the keys before the failed one, the failed one and those after it
/// came to.
std::wstring keysPart(const Snapshot& journal, Failure failure) {
    std::wstring text;
    if (!journal.begun) return L"Настройки устройства не изменены.";
    const std::size_t written = std::min(journal.written, journal.planned.size());
    const std::wstring done = joined(labels(journal, 0, written));
    if (!done.empty()) addLine(text, L"Записано в устройство: " + done + L".");
    std::size_t notSentFrom = written;
    if (failure == Failure::kUnanswered && written < journal.planned.size()) {
        addLine(text, L"Без ответа устройства (неизвестно, записано ли): " +
                          joined(labels(journal, written, written + 1)) + L".");
        notSentFrom = written + 1;
    }
    const std::wstring rest = joined(labels(journal, notSentFrom, journal.planned.size()));
    if (!rest.empty()) addLine(text, L"Не записано: " + rest + L".");
    return text;
}

}  // namespace

std::wstring fieldLabel(const std::string& field, const std::string& key) {
    static const std::map<std::string, std::wstring> kLabels = {
        {"ip", L"IP-адрес"},
        {"mask", L"Маска подсети"},
        {"gw", L"Основной шлюз"},
        {"dhcp", L"DHCP"},
        {"multicastIp", L"IP Мультикаст-вещания"},
        {"srvPort", L"Базовый порт"},
        {"discoveryPort", L"Порт канала 0"},
        {"micPort", L"Порт канала 1"},
        {"srvAllowedIP", L"Разрешить IP"},
        {"audioSrvIp", L"Адрес аудиосервера"},
        {"switchMode", L"Резервирование ЛВС"},
        {"igmpReport", L"Дополнительные IGMP-пакеты"},
        {"zarnoAddr", L"Адрес Зарно"},
        {"zarnoRelay", L"События реле"},
        {"zarnoTest", L"Индикация ошибки интерфейса"},
        {"zarnoReserve", L"Резервирование линии"},
        {"lineTest", L"Контроль линии"},
        {"linesJoined", L"Соединенные линии"},
        {"multicastListen", L"Разрешить воспроизводить поток с других модулей"},
        {"multicastAin1", L"Передавать поток со входа 1 на другие модули"},
        {"multicastAin2", L"Передавать поток со входа 2 на другие модули"},
        {"priVoiceAlert", L"Приоритет: Сообщения (протокол Зарно)"},
        {"priAin2", L"Приоритет: Аналоговый вход 2 (ГОиЧС)"},
        {"priAin1", L"Приоритет: Аналоговый вход 1"},
        {"priStreamMCast", L"Приоритет: Аналоговый вход - мультикаст"},
        {"priZoneInput", L"Приоритет: Аналоговый вход - консоль"},
        {"priStream", L"Приоритет: Поток Сонвар (Тревожное)"},
        {"scenarioAin1", L"Сообщение аналогового входа 1"},
        {"scenarioAin2", L"Сообщение аналогового входа 2"},
        {"ain2Arm", L"Контроль целостности линии"},
        {"ainFilter", L"Фильтр сигнала аналоговых входов"},
        {"gongId", L"Гонг"},
        {"gong", L"Использовать гонг перед вещанием с микрофона"},
        {"beeper", L"Звуковое сопровождение при нажатии на клавиши и при использовании ключей"},
        {"faultAlarm", L"Звуковое сопровождение при неисправности"},
        {"ledScBlink", L"Индикация зон с сообщениями"},
        {"passkey", L"Контроль доступа"},
        {"singlePower", L"Разрешить один источник питания"},
        {"gochsArm", L"Включить аналоговый вход ГОиЧС"},
        {"priority", L"Тип и приоритет консоли"},
        {"priorityGOChS", L"Приоритет ГОиЧС"},
        {"powerIn1", L"Ввод питания 1"},
        {"powerIn2", L"Ввод питания 2"},
        {"powerSave", L"Энергосбережение"},
    };
    const auto found = kLabels.find(field);
    if (found != kLabels.end()) return found->second;
    return L"настройка «" + base::toWide(key) + L"»";
}

std::wstring failedApply(const Snapshot& journal, Failure failure, bool renameAsked) {
    std::wstring text;
    if (journal.begun || renameAsked || failure != Failure::kDeclined) text = keysPart(journal, failure);
    if (renameAsked) addLine(text, L"Новое название устройства не сохранено.");
    return text;
}

std::wstring cutApply(const Snapshot& journal, bool renameAsked) {
    // Cut by the exit: the key in flight had no answer in time.
    std::wstring text = keysPart(journal, Failure::kUnanswered);
    if (renameAsked) addLine(text, L"Новое название устройства не сохранено.");
    return text;
}

std::wstring writtenKeys(const Snapshot& journal) {
    return joined(labels(journal, 0, std::min(journal.written, journal.planned.size())));
}

}  // namespace apply_report
}  // namespace frm
