#include "device/command.h"

#include <cstdarg>
#include <cstdio>

#include "base/exception.h"

namespace device {

std::string formatCommand(const char* format, ...) {
    char buffer[kCommandBufferSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) throw exception::InternalError(L"Неверный формат команды");
    if (static_cast<std::size_t>(length) >= sizeof buffer)
        throw exception::InternalError(L"Слишком длинная команда");
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool handleResponse(const std::string& reply) {
    const std::size_t start = reply.find_first_not_of(" \t\r\n\v\f");
    if (start == std::string::npos) return false;
    if (reply.compare(start, 2, "OK") == 0 || reply.compare(start, 7, "SUCCESS") == 0) return true;
    if (reply.compare(start, 3, "ERR") == 0) throw exception::UnexpectedResponseOfDevice(reply);
    return false;
}

}  // namespace device
