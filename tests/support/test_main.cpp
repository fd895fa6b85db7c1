#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/network_guard.h"

namespace {

// A test program that opens sockets must never see a real network: it runs
// only inside the private namespace that the test command makes.
class NetworkGuard : public ::testing::Environment {
public:
    void SetUp() override {
        const auto foreign = testing_support::foreignInterfaces();
        if (foreign.empty()) return;
        std::string names;
        for (const auto& n : foreign) names += " " + n;
        std::fprintf(stderr,
                     "refusing to run a network test: interfaces other than loopback are "
                     "visible:%s\nrun it through scripts/netns-run\n",
                     names.c_str());
        std::_Exit(3);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
#ifdef SONVAR_NET_TEST
    ::testing::AddGlobalTestEnvironment(new NetworkGuard);
#endif
    return RUN_ALL_TESTS();
}
