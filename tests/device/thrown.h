#pragma once
// What an operation threw, so that a test checks the exception's fields in
// one expectation instead of a try block.
#include <string>

namespace device_test {

/// The notification of the E that `call` throws; a text no notification
/// has when it throws nothing.
template <class E, class F>
std::wstring notificationOf(F call) {
    try {
        call();
    } catch (const E& e) {
        return e.getNotification();
    }
    return L"(nothing thrown)";
}

/// The notification and the details, "|" between, of the E that `call`
/// throws.
template <class E, class F>
std::wstring messageOf(F call) {
    try {
        call();
    } catch (const E& e) {
        return e.getNotification() + L"|" + e.getDetails();
    }
    return L"(nothing thrown)";
}

/// The raw reply of the device refusal (of type E) that `call` throws.
template <class E, class F>
std::string responseOf(F call) {
    try {
        call();
    } catch (const E& e) {
        return e.getResponse();
    }
    return "(nothing thrown)";
}

}  // namespace device_test
