#include "base/exception.h"

#include "base/log.h"
#include "base/text.h"

namespace exception {

Base::Base(const std::wstring& notification, const std::wstring& details)
    : m_what(base::toNarrow(notification) + " / " + base::toNarrow(details)),
      m_details(details),
      m_notification(notification) {
    base::LogPlace("exception::Base::Base").trace2(L"construct exception with notification '%1%'",
                                                   notification);
}

IncorrectFormat::IncorrectFormat(const std::wstring& details)
    : UserError(L"Получен неверный формат данных", details) {}

Offline::Offline() : UserResponse(L"offline", std::wstring()) {}

UnsupportedByDevice::UnsupportedByDevice(const std::wstring& details)
    : UserResponse(L"unsupported", details) {}

std::wstring deviceReasonText(const std::wstring& reply) {
    return std::wstring(kDeviceReasonNotification) + L" / " + reply;
}

DeviceReason::DeviceReason(const std::wstring& details) : ExternalError(kDeviceReasonNotification, details) {
    base::LogPlace("exception::DeviceReason::DeviceReason")
        .important(L"Ошибка устройства: '%1%' / '%2%'", getNotification(), getDetails());
    base::flushLog();
}

UnexpectedResponseOfDevice::UnexpectedResponseOfDevice(const std::string& response)
    : DeviceReason(base::toWide(response)), m_response(response) {}

UnknownVersionOfAudioMemory::UnknownVersionOfAudioMemory()
    : ExternalError(L"unknownVersion", L"Устройство имеет неизвестную версию аудио памяти") {}

InternalError::InternalError(const std::wstring& details) : Base(L"Internal error", details) {
    base::flushLog();
}

ServerError::ServerError() : InternalError(L"Внутренняя ошибка сервера") {}

NotImplemented::NotImplemented() : InternalError(L"Не реализовано") {}

StopProgram::StopProgram() : Base(L"stop program", std::wstring()) {}

}  // namespace exception
