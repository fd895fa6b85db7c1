// ctest-labels: net
// The console's zones over UDP against a simulated console with a zone
// table: reading the list with its messages and capacity, writing and
// deleting one zone, the refusals that send nothing, and malformed lists.
#include "base/exception.h"
#include "tests/device/models/tovik_test_support.h"
#include "tools/simulator/tovik_zone_model.h"

using device::ConsoleZone;
using device::sim::TovikZoneModel;
using device_test::Requests;

namespace {

class TovikZones : public tovik_test::ConsoleTest {
protected:
    /// A console dressed before it starts, online and answered.
    void open(const std::function<void(TovikZoneModel&)>& dress = {}) {
        auto model = std::make_unique<TovikZoneModel>(device::sim::Simulator::hardwareAddress(0x34));
        if (dress) dress(*model);
        openModel(std::move(model));
    }
    template <class F>
    auto model_(F f) {
        return m_console->withModel<TovikZoneModel>(f);
    }
};

void zone3(TovikZoneModel& m) {
    m.zones[3] = TovikZoneModel::Zone{17, {0xA1B2C3, 0xA1B2C4}};
    m.messages[3] = 5;
    m.capacity = 40;
}

}  // namespace

TEST_F(TovikZones, EmptyListNeedsNoCapacity) {
    open();
    EXPECT_TRUE(m_device->getZones().empty());
    EXPECT_TRUE(m_device->getZones().empty());
    EXPECT_EQ(m_device->getZoneCapacity(), 0);
    EXPECT_EQ(requests(), (Requests{"zoneList all", "zoneScList"}));
}

TEST_F(TovikZones, ListJoinsMessagesAndLearnsTheCapacityOnce) {
    open(zone3);
    const device::ConsoleZoneMap zones = m_device->getZones();
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(zones.at(3), (ConsoleZone{3, 17, 5, {0xA1B2C3, 0xA1B2C4}}));
    EXPECT_EQ(m_device->getZoneCapacity(), 40);
    EXPECT_EQ(m_device->countBoundAddresses(), 2);
    EXPECT_EQ(m_device->findZone(3).scenario, 5);
    EXPECT_THROW(m_device->findZone(4), exception::InternalError);
    EXPECT_EQ(loggedCount("Связанные зоны"), 0) << "the state packet's mask names zone 3";

    // A cache reset reads the list again, but not the capacity.
    m_device->resetCache();
    EXPECT_EQ(m_device->getZones().size(), 1u);
    EXPECT_EQ(requests(),
              (Requests{"zoneList all", "zoneScList", "zoneSizeGet", "zoneList all", "zoneScList"}));
    EXPECT_EQ(loggedCount("Расчётное использование"), 0);
}

TEST_F(TovikZones, DisagreementsWithTheConsoleAreOnlyLogged) {
    open([](TovikZoneModel& m) {
        zone3(m);
        m.replies["zoneSizeGet"] = "40(30)";
        m.replies["zoneList"] = "3,17,A1B2C3,A1B2C4;4,18,1;";
    });
    EXPECT_EQ(m_device->getZones().size(), 2u);
    EXPECT_EQ(m_device->getZoneCapacity(), 40);
    EXPECT_EQ(loggedCount("Расчётное использование памяти не равно вычитанному (3 != 10)"), 1);
    EXPECT_EQ(loggedCount("Связанные зоны 1 не соответствуют списку зон из статуса 2"), 1);
}

TEST_F(TovikZones, MalformedListsThrowTheDeviceErrorAndAreAskedAgain) {
    // An odd message list: zone 4 has no message number.
    open([](TovikZoneModel& m) {
        zone3(m);
        m.replies["zoneScList"] = "3,5;4";
    });
    EXPECT_THROW(m_device->getZones(), exception::UnexpectedResponseOfDevice);
    for (const char* list : {"3,17;", "3,17,1000000;", "x,17,1;"}) {
        SCOPED_TRACE(list);
        model_([list](TovikZoneModel& m) {
            m.replies.erase("zoneScList");
            return m.replies["zoneList"] = list;
        });
        EXPECT_THROW(m_device->getZones(), exception::UnexpectedResponseOfDevice);
    }
    model_([](TovikZoneModel& m) { return m.replies.erase("zoneList"); });
    EXPECT_EQ(m_device->getZones().at(3).scenario, 5);
    EXPECT_EQ(requests().size(), 11u) << "every failed read left the map to be read again";
}

TEST_F(TovikZones, BindWritesZoneAndMessageOrRefusesWithoutSending) {
    open(zone3);
    ASSERT_EQ(m_device->getZones().size(), 1u);
    m_console->clearReceived();
    for (const auto& bad : {std::make_pair(21, 22), std::make_pair(-1, 22), std::make_pair(2, 0),
                            std::make_pair(2, 1024)})
        EXPECT_FALSE(m_device->bindZone(bad.first, bad.second, -1, {0x11}));
    EXPECT_FALSE(m_device->bindZone(2, 22, -1, {}));
    std::set<unsigned> tooMany;
    for (unsigned a = 1; a <= 39; ++a) tooMany.insert(a);
    EXPECT_FALSE(m_device->bindZone(2, 22, -1, tooMany)) << "2 stored + 39 > 40";
    EXPECT_EQ(requests(), Requests{});

    tooMany.erase(39);
    EXPECT_TRUE(m_device->bindZone(2, 22, 4, tooMany));
    EXPECT_EQ(m_device->countBoundAddresses(), 40);
    EXPECT_EQ(m_device->findZone(2).scenario, 4);
    std::string command = "zoneBind 2 22 ";
    for (unsigned a = 1; a <= 38; ++a) command += device::zoneAddressText(a) + ",";
    EXPECT_EQ(requests(), (Requests{command, "zoneScBind 2 4"}));
    EXPECT_EQ(model_([](TovikZoneModel& m) { return m.messages; }), (std::map<int, int>{{2, 4}, {3, 5}}));
}

TEST_F(TovikZones, FailedMessageBindingDeletesTheZoneAgain) {
    open([](TovikZoneModel& m) {
        zone3(m);
        m.refuseMessages = true;
    });
    ASSERT_EQ(m_device->getZones().size(), 1u);
    m_console->clearReceived();
    EXPECT_FALSE(m_device->bindZone(7, 30, 2, {0x21, 0x22}));
    EXPECT_EQ(requests(), (Requests{"zoneBind 7 30 21,22,", "zoneScBind 7 2", "zoneDel 7"}));
    EXPECT_EQ(m_device->getZones().count(7), 0u);
    EXPECT_EQ(model_([](TovikZoneModel& m) { return m.zones.count(7); }), 0u);
    EXPECT_EQ(loggedCount("Ошибка привязки сообщения"), 1);

    // Without a message the zone is written alone.
    EXPECT_TRUE(m_device->bindZone(7, 30, -1, {0x21}));
    EXPECT_EQ(m_device->findZone(7), (ConsoleZone{7, 30, -1, {0x21}}));
}

TEST_F(TovikZones, UnbindDeletesOnlyListedZones) {
    open(zone3);
    EXPECT_FALSE(m_device->unbindZone(4));
    EXPECT_TRUE(m_device->unbindZone(3));
    EXPECT_TRUE(m_device->getZones().empty());
    EXPECT_EQ(requests(), (Requests{"zoneList all", "zoneScList", "zoneSizeGet", "zoneDel 3"}));
    EXPECT_EQ(model_([](TovikZoneModel& m) { return m.zones.size(); }), 0u);
}
