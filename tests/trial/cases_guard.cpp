// The trial's cases open sockets and run the program: never where a real
// network is visible. Every case makes a private network of its own
// (e2e::Sandbox); the interfaces it makes are named "svt...".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/network_guard.h"

namespace {

class RefuseRealNetworks : public ::testing::Environment {
public:
    void SetUp() override {
        const auto foreign = testing_support::foreignInterfaces();
        if (foreign.empty()) return;
        std::string names;
        for (const auto& name : foreign) names += " " + name;
        std::fprintf(stderr,
                     "refusing to run the trial: interfaces other than loopback are visible:%s\n"
                     "run it through scripts/trial.sh or scripts/netns-run\n",
                     names.c_str());
        std::_Exit(3);
    }
};

[[maybe_unused]] ::testing::Environment* const kGuard =
    ::testing::AddGlobalTestEnvironment(new RefuseRealNetworks);

}  // namespace
