#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "audio/device_action.h"

namespace {

/// A stand-in device that answers by fixed flags and records the calls.
struct Speaker {
    bool online = true;
    bool accepts = true;
    bool throws = false;
    int volume = 0;
    std::vector<std::string>* calls = nullptr;

    bool isOnline() const {
        if (calls) calls->push_back("online");
        return online;
    }
    bool setVolume(int v) {
        if (calls) calls->push_back("set " + std::to_string(v));
        if (throws) throw std::runtime_error("no answer");
        if (accepts) volume = v;
        return accepts;
    }
    int getVolume() { return volume; }
};

using Ptr = boost::shared_ptr<Speaker>;
using Set = std::set<Ptr>;
using Online = ActionArg0<bool, Speaker, bool (Speaker::*)() const>;
using SetVolume = ActionArg1<bool, Speaker, bool (Speaker::*)(int), int>;
using GetVolume = ActionArg0<int, Speaker, int (Speaker::*)()>;

Ptr speaker(bool online, bool accepts) {
    auto s = boost::make_shared<Speaker>();
    s->online = online;
    s->accepts = accepts;
    return s;
}

}  // namespace

TEST(DeviceAction, ResultsCombineAndMergeByTheirTruthTables) {
    const std::map<Ptr, bool> none;
    EXPECT_FALSE(combineActionResults(none, true));
    EXPECT_TRUE(combineActionResults(none, false));
    const std::map<Ptr, bool> mixed{{speaker(true, true), true}, {speaker(true, true), false}};
    EXPECT_TRUE(combineActionResults(mixed, true));
    EXPECT_FALSE(combineActionResults(mixed, false));
    const std::map<Ptr, bool> refused{{speaker(true, true), false}, {speaker(true, true), false}};
    EXPECT_FALSE(combineActionResults(refused, true));

    EXPECT_TRUE(mergeActionResults({}));
    EXPECT_TRUE(mergeActionResults({true, false}));
    EXPECT_FALSE(mergeActionResults({false}));
}

TEST(DeviceAction, ApplyIfIsFalseOnlyWhenSomeRanAndEveryOneRefused) {
    Online online(&Speaker::isOnline);
    SetVolume set(&Speaker::setVolume, 40);
    EXPECT_TRUE(applyActionToDevicesIf(Set{}, online, set)) << "empty set";

    const Ptr offline = speaker(false, false);
    EXPECT_TRUE(applyActionToDevicesIf(Set{offline}, online, set)) << "nobody passed the condition";
    EXPECT_EQ(offline->volume, 0);

    EXPECT_FALSE(applyActionToDevicesIf(Set{speaker(true, false), speaker(true, false), offline}, online, set));
    const Ptr accepting = speaker(true, true);
    EXPECT_TRUE(applyActionToDevicesIf(Set{speaker(true, false), accepting, offline}, online, set));
    EXPECT_EQ(accepting->volume, 40);
}

TEST(DeviceAction, MapIfGivesEntriesOnlyToDevicesPassingTheConditionCheckedJustBefore) {
    std::vector<std::string> calls;
    const Ptr a = speaker(true, true), b = speaker(false, true);
    a->volume = 30;
    a->calls = b->calls = &calls;
    Online online(&Speaker::isOnline);
    SetVolume set(&Speaker::setVolume, 70);
    const auto results = mapActionToDevicesIf(Set{a, b}, online, set);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results.at(a));
    // Per device: condition, then its action, before the next device.
    const Set order{a, b};
    std::vector<std::string> expected;
    for (const auto& d : order) {
        expected.push_back("online");
        if (d == a) expected.push_back("set 70");
    }
    EXPECT_EQ(calls, expected);

    GetVolume get(&Speaker::getVolume);
    const auto volumes = applyActionToDeviceSet(Set{a, b}, get);
    EXPECT_EQ(volumes.at(a), 70);
    EXPECT_EQ(volumes.at(b), 0);
    // The reboot's walk: every device's answer once, equal answers merged.
    EXPECT_EQ(applyActionToDevices(Set{a, b}, get), (std::set<int>{0, 70}));
    EXPECT_EQ(applyActionToDevices(Set{a, b}, set), (std::set<bool>{true}));
    EXPECT_TRUE(applyActionToDevices(Set{}, get).empty());
}

TEST(DeviceAction, ThrowingActionLeavesTheWalk) {
    const Ptr failing = speaker(true, true);
    failing->throws = true;
    Online online(&Speaker::isOnline);
    SetVolume set(&Speaker::setVolume, 10);
    EXPECT_THROW(applyActionToDevicesIf(Set{speaker(true, true), failing}, online, set), std::runtime_error);
    EXPECT_THROW(mapActionToDevicesIf(Set{failing}, online, set), std::runtime_error);
    EXPECT_THROW(applyActionToDeviceSet(Set{failing}, set), std::runtime_error);
    EXPECT_THROW(applyActionToDevices(Set{failing}, set), std::runtime_error);
}

TEST(DeviceAction, StoredValuesAreAppliedInOrderAndAllMustSucceed) {
    const Ptr a = speaker(true, true), b = speaker(true, false), off = speaker(false, true);
    boost::function<bool(const Ptr&, int)> apply = [](const Ptr& d, int v) { return d->setVolume(v); };
    EXPECT_TRUE((applyStoredValues<Speaker, int>({}, apply)));
    EXPECT_TRUE((applyStoredValues<Speaker, int>({{a, 55}}, apply)));
    EXPECT_EQ(a->volume, 55);
    EXPECT_FALSE((applyStoredValues<Speaker, int>({{a, 20}, {b, 20}}, apply)));
    EXPECT_EQ(a->volume, 20) << "a refusal does not stop the others";

    Online online(&Speaker::isOnline);
    EXPECT_TRUE((applyStoredValues<Speaker, int>({{a, 60}, {off, 60}}, online, apply)));
    EXPECT_EQ(off->volume, 0) << "skipped by the condition";

    const boost::function<bool(const Ptr&, int)> empty;
    EXPECT_THROW((applyStoredValues<Speaker, int>({{a, 1}}, empty)), boost::bad_function_call);
}
