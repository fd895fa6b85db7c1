#pragma once

// The application object of the program, without its start-up, made once per
// test program on the X display that the test command provides: the tests
// call its parts and run its event loop.
#include <gtest/gtest.h>
#include <wx/init.h>

#include "app/app.h"

namespace app_testing {

class TestApp : public aApp {
public:
    bool OnInit() override { return true; }
    int OnExit() override { return 0; }
};

class Application : public ::testing::Environment {
public:
    void SetUp() override {
        static char name[] = "sonvar-app-test";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        wxApp::SetInstance(new TestApp);
        ASSERT_TRUE(wxEntryStart(argc, argv)) << "no X display: run under xvfb-run";
        ASSERT_TRUE(wxTheApp->CallOnInit());
    }
    void TearDown() override { wxEntryCleanup(); }
};

inline ::testing::Environment* const g_application = ::testing::AddGlobalTestEnvironment(new Application);

}  // namespace app_testing
