#pragma once

#include <exception>
#include <string>

// The one exception family of the program. Every object carries a notification
// for the user (or, in the UserResponse branch, a code word the user interface
// compares) and a details text; what() gives both joined by " / " in code page
// 1251, so a handler that only knows std::exception still gets a readable text.
//
// Any thread may make, throw and catch these; they share no state. Making an
// object writes a TRACE2 record when the global log exists. The internal-error
// branch and DeviceReason also flush the log (at most 100 ms), so that the log
// holds everything up to the fault.
namespace exception {

class Base : public std::exception {
public:
    Base(const std::wstring& notification, const std::wstring& details);

    const char* what() const noexcept override { return m_what.c_str(); }
    const std::wstring& getNotification() const { return m_notification; }
    const std::wstring& getDetails() const { return m_details; }

private:
    std::string m_what;
    std::wstring m_details;
    std::wstring m_notification;
};

/// Causes outside the program: files, devices, the user's input. Handlers
/// show the notification (or act on the code word) and carry on.
class ExternalError : public Base {
public:
    ExternalError(const std::wstring& notification, const std::wstring& details)
        : Base(notification, details) {}
};

class UserError : public ExternalError {
public:
    UserError(const std::wstring& notification, const std::wstring& details)
        : ExternalError(notification, details) {}
};

class IncorrectFormat : public UserError {
public:
    explicit IncorrectFormat(const std::wstring& details);
};

/// The notification is a machine-readable code word ("busy", "zoneBusy",
/// "internalPlaying", ...); the user interface picks its text by the word.
class UserResponse : public ExternalError {
public:
    explicit UserResponse(const std::wstring& codeWord, const std::wstring& details = std::wstring())
        : ExternalError(codeWord, details) {}
};

/// The device did not answer or is not online: code word "offline".
class Offline : public UserResponse {
public:
    Offline();
};

/// The device's model or firmware cannot do this: code word "unsupported".
class UnsupportedByDevice : public UserResponse {
public:
    explicit UnsupportedByDevice(const std::wstring& details = std::wstring());
};

/// The notification of DeviceReason; its details are the device's reply.
inline constexpr const wchar_t* kDeviceReasonNotification = L"Получен неожиданный ответ устройства";

/// A device's reply told as DeviceReason tells it ("notification / details"),
/// for a failure reported without the exception: the log shows the operator
/// the reply in «», or in his words where the catalogue has them.
std::wstring deviceReasonText(const std::wstring& reply);

/// The device refused or answered something the program cannot use. Writes an
/// IMPOR record (which reaches the operator) and flushes the log.
class DeviceReason : public ExternalError {
public:
    explicit DeviceReason(const std::wstring& details);
};

/// A malformed or refusing reply; the details are the reply widened from code
/// page 1251, the raw bytes stay available through getResponse().
class UnexpectedResponseOfDevice : public DeviceReason {
public:
    explicit UnexpectedResponseOfDevice(const std::string& response);
    const std::string& getResponse() const { return m_response; }

private:
    std::string m_response;
};

/// Code word "unknownVersion": the device's audio memory has a layout the
/// program does not know.
class UnknownVersionOfAudioMemory : public ExternalError {
public:
    UnknownVersionOfAudioMemory();
};

/// A fault of the program itself; flushes the log while it is made.
class InternalError : public Base {
public:
    explicit InternalError(const std::wstring& details);
};

/// What a failed debug::throwIfFalse throws; the failing place is only logged.
class ServerError : public InternalError {
public:
    ServerError();
};

class NotImplemented : public InternalError {
public:
    NotImplemented();
};

/// An orderly end of the process: the main loop's exception hook and the
/// GUI-thread task runner end the program when they receive it.
class StopProgram : public Base {
public:
    StopProgram();
};

}  // namespace exception
