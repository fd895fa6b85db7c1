#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

/// The running test's place in its suite, from 0. ctest runs the tests of one
/// program side by side, each in a process of its own: tests that open
/// sockets take their addresses, groups and ports from this so that they
/// never share them. Only while a test runs.
inline int indexInSuite() {
    const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
    const ::testing::TestSuite& suite = *tests.current_test_suite();
    int index = 0;
    while (index < suite.total_test_count() &&
           std::string(suite.GetTestInfo(index)->name()) != tests.current_test_info()->name())
        ++index;
    return index;
}

}  // namespace testing_support
