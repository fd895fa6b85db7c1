#pragma once
// What an operation threw, so that a test checks the exception's fields in
// one expectation instead of a try block.
#include <string>

namespace device_test {

/// `field` of the E that `call` throws; `nothing` when it throws nothing.
template <class E, class R, class F, class G>
R fieldOfThrown(F call, G field, R nothing) {
    try {
        call();
    } catch (const E& e) {
        return field(e);
    }
    return nothing;
}

/// The notification of the E that `call` throws.
template <class E, class F>
std::wstring notificationOf(F call) {
    return fieldOfThrown<E>(call, [](const E& e) { return e.getNotification(); }, std::wstring(L"(nothing thrown)"));
}

/// The notification and the details, "|" between, of the E that `call` throws.
template <class E, class F>
std::wstring messageOf(F call) {
    return fieldOfThrown<E>(
        call, [](const E& e) { return e.getNotification() + L"|" + e.getDetails(); }, std::wstring(L"(nothing thrown)"));
}

/// The raw reply of the device refusal (of type E) that `call` throws.
template <class E, class F>
std::string responseOf(F call) {
    return fieldOfThrown<E>(call, [](const E& e) { return e.getResponse(); }, std::string("(nothing thrown)"));
}

}  // namespace device_test
