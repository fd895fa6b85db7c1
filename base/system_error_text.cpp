#include "base/system_error_text.h"

#include <cerrno>

namespace base {

std::wstring errnoForOperator(int error) {
    switch (error) {
        // Files and folders.
        case ENOSPC:
        case EDQUOT:
            return L"нет места на диске";
        case EROFS:
            return L"файловая система только для чтения";
        case EACCES:
        case EPERM:
            return L"нет прав доступа";
        case ENOENT:
            return L"файл или папка не существует";
        case ENOTDIR:
            return L"часть пути не является папкой";
        case EISDIR:
            return L"это папка, а не файл";
        case EEXIST:
            return L"файл уже существует";
        case ENOTEMPTY:
            return L"папка не пуста";
        case EXDEV:
            return L"файлы на разных дисках";
        case ENAMETOOLONG:
            return L"слишком длинное имя файла";
        case ELOOP:
            return L"в пути слишком много символических ссылок";
        case EIO:
            return L"ошибка ввода-вывода";
        case EFBIG:
            return L"файл слишком велик";
        case EMFILE:
        case ENFILE:
            return L"открыто слишком много файлов";
        // The system's resources.
        case ENOMEM:
            return L"недостаточно памяти";
        case EBUSY:
            return L"устройство или ресурс занят";
        case EAGAIN:
            return L"ресурс временно недоступен";
        case EINTR:
            return L"вызов прерван";
        case EINVAL:
            return L"недопустимый параметр";
        case ENODEV:
            return L"устройство отсутствует";
        case ENXIO:
            return L"устройство или адрес отсутствует";
        case ETIMEDOUT:
            return L"время ожидания истекло";
        case ENOTSUP:
            return L"операция не поддерживается";
        case ENOSYS:
            return L"функция не поддерживается системой";
        case EPIPE:
            return L"канал закрыт другой стороной";
        // The network.
        case ENETUNREACH:
            return L"сеть недоступна (нет маршрута)";
        case ENETDOWN:
            return L"сеть не работает";
        case EHOSTUNREACH:
            return L"узел недоступен";
        case EHOSTDOWN:
            return L"узел не в сети";
        case ENONET:
            return L"компьютер не подключён к сети";
        case EADDRNOTAVAIL:
            return L"адрес не назначен ни одному сетевому интерфейсу компьютера";
        case EADDRINUSE:
            return L"адрес или порт уже занят";
        case ENOBUFS:
            return L"не хватает сетевых буферов";
        case ECONNREFUSED:
            return L"в соединении отказано";
        case ECONNRESET:
            return L"соединение сброшено другой стороной";
        case ECONNABORTED:
            return L"соединение прервано";
        case ENETRESET:
            return L"соединение сброшено сетью";
        case ENOTCONN:
            return L"нет соединения";
        case EMSGSIZE:
            return L"пакет слишком велик";
        case EAFNOSUPPORT:
            return L"вид адреса не поддерживается";
        default:
            return L"системная ошибка " + std::to_wstring(error);
    }
}

std::wstring errorForOperator(const boost::system::error_code& error) {
    const auto& category = error.category();
    if (category == boost::system::system_category() || category == boost::system::generic_category())
        return errnoForOperator(error.value());
    return L"ошибка " + std::to_wstring(error.value());
}

std::wstring errorForOperator(const std::error_code& error) {
    const auto& category = error.category();
    if (category == std::system_category() || category == std::generic_category())
        return errnoForOperator(error.value());
    return L"ошибка " + std::to_wstring(error.value());
}

}  // namespace base
