#pragma once
// What the fault-injection tests share: a terminate handler that names the
// exception which escaped a thread before the process ends, the log lines
// that betray an exception caught at a thread's end, a check that an
// operation fails, if it fails, only with an exception of our family, and
// the transport-and-simulator fixture that checks the log when it ends.
// Tests that use the fixture open sockets (label net).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <typeinfo>

#include <boost/asio/ip/address_v4.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "tests/device/device_test_support.h"

namespace fault_test {

/// An exception that leaves a thread ends the process through
/// std::terminate; this handler says which one first, so that the failing
/// run names it instead of only aborting.
[[noreturn]] inline void reportEscapedException() {
    const char* what = "no exception (std::terminate called directly)";
    std::string text;
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            text = std::string(typeid(e).name()) + ": " + e.what();
            what = text.c_str();
        } catch (...) {
            what = "an exception of no std type";
        }
    }
    std::fprintf(stderr, "FAULT TEST: an exception escaped a thread: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void watchForEscapedExceptions() { std::set_terminate(&reportEscapedException); }

/// The log lines of exceptions that reached the end of a thread's work: a
/// transport handler, monitor or completion, a dispatcher job (foreign
/// exceptions only: ours are reported there as they should be), and any
/// FATAL line. `count` counts the log lines holding a text.
template <class Count>
int linesOfEscapedExceptions(Count count) {
    int lines = count(" FATAL\t");
    for (const char* text : {"handler failed", "monitor failed", "completion failed", "Поймано необработанное исключение",
                             "непредвиденная ошибка", "неизвестная ошибка"})
        lines += count(text);
    return lines;
}

/// Runs `operation`; an exception of our family (a device error, offline, a
/// refusal) is an allowed outcome, anything else fails the test. True when
/// the operation returned normally.
inline bool endsWithOurExceptionsOnly(const std::string& name, const std::function<void()>& operation) {
    try {
        operation();
        return true;
    } catch (const exception::Base&) {
        return false;
    } catch (const std::exception& e) {
        ADD_FAILURE() << name << " let a foreign exception out: " << typeid(e).name() << ": " << e.what();
    } catch (...) {
        ADD_FAILURE() << name << " let an exception of no std type out";
    }
    return false;
}

/// A running transport and simulator per test; when the test ends, nothing
/// may have escaped a thread.
class FaultFixture : public device_test::UdpFixture {
protected:
    void SetUp() override {
        watchForEscapedExceptions();
        UdpFixture::SetUp();
    }
    void TearDown() override {
        releaseDevices();
        m_transport->stop();
        m_simulator.stop();
        EXPECT_EQ(linesOfEscapedExceptions([this](const char* text) { return loggedCount(text); }), 0);
        UdpFixture::TearDown();
    }

    /// Where simulated devices send state packets and late replies.
    device::sim::Endpoint server() const {
        return device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), m_transport->getPort());
    }
};

}  // namespace fault_test
