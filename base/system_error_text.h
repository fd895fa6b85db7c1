#pragma once

#include <string>
#include <system_error>

#include <boost/system/error_code.hpp>

// The operator's words for the system's errors. The system's own texts
// (strerror, error_code::message, a system_error's what()) are English and
// stay in DEBUG lines; wherever such a cause reaches a line of the daily log
// from INFO on, a notice or an exception's details, it is worded here. No
// window, any thread.
namespace base {

/// An errno value in Russian, lower case, to follow a colon: "нет места на
/// диске", "сеть недоступна", "адрес не назначен ни одному сетевому
/// интерфейсу компьютера"... A value without words of its own reads
/// "системная ошибка N".
std::wstring errnoForOperator(int error);

/// The same for an error code: the system's and the generic category carry
/// errno values; a code of another category (a resolver's, say) reads
/// "ошибка N".
std::wstring errorForOperator(const boost::system::error_code& error);
std::wstring errorForOperator(const std::error_code& error);

}  // namespace base
