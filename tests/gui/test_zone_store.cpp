// zone_collection.xml as the zone tree writes and reads it: the exact bytes,
// a file from Windows, the special zone anywhere in the file, addresses of
// devices not known yet, damaged fields, a file of another kind. No window.
#include <fstream>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "base/text.h"
#include "gui/zone_element.h"
#include "gui/zone_store.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using frm::ZoneElement;

std::string zone(const std::string& name, bool enable, int volume, const std::string& devices,
                 const std::string& zones) {
    return "<zone><name>" + name + "</name><enableVolume>" + (enable ? "true" : "false") +
           "</enableVolume><volume>" + std::to_string(volume) + "</volume>" +
           (devices.empty() ? "<devices/>" : "<devices>" + devices + "</devices>") +
           (zones.empty() ? "<zones/>" : "<zones>" + zones + "</zones>") + "</zone>";
}
std::string address(const std::string& low) {
    return "<hardware_address>02:56:53:00:00:" + low + "</hardware_address>";
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const std::string kGoldenBody =
    "<zone_collection>" + zone("Новые усилители", false, 0, "", "") +
    zone("Корпус А", true, 85, address("01") + address("02"),
         zone("Этаж 1", false, 7, address("02"), zone("Кабинет", false, 0, "", ""))) +
    zone("Склад", false, 0, "", "") + "</zone_collection>";
const std::string kGolden = kDeclaration + "\n" + kGoldenBody;

class ZoneFile : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        freshTree();
    }
    /// The tree the main window starts from: the root and, hidden, the special zone.
    void freshTree() {
        root = ZoneElement::createDetached(L"Все зоны");
        newDevices = ZoneElement::createDetached(L"Новые усилители");
        newDevices->setShown(false);
        root->addElement(newDevices);
    }
    void write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    void load() { root->load(base::fromUtf8(file), *site.collection, nullptr, nullptr, newDevices); }
    std::string saved() {
        frm::saveZoneCollection(base::fromUtf8(file), *root);
        return testing_support::readFile(file);
    }

    gui_testing::DeviceSite site;
    const std::string file = m_dir.path() + "/zone_collection.xml";
    ZoneElement::Ptr root, newDevices;
};

}  // namespace

TEST_F(ZoneFile, WritesTheGoldenFileAndAWindowsCopyReadsBackToTheSameBytes) {
    const auto first = site.add("01"), second = site.add("02");
    const auto korpus = ZoneElement::createDetached(L"Корпус А"),
               floor = ZoneElement::createDetached(L"Этаж 1");
    korpus->setEnableVolume(true);
    korpus->setVolume(85);
    korpus->addElement(first);
    korpus->addElement(second);
    floor->setVolume(7);
    floor->addElement(second);
    floor->addElement(ZoneElement::createDetached(L"Кабинет"));
    korpus->addElement(floor);
    root->addElement(korpus);
    root->addElement(ZoneElement::createDetached(L"Склад"));
    ASSERT_EQ(saved(), kGolden);
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(//zone)"), "5");

    freshTree();
    ASSERT_NE(saved(), kGolden);  // the fresh tree holds only the special zone
    write("\xEF\xBB\xBF" + kDeclaration + "\r\n" + kGoldenBody + "\r\n");
    load();
    EXPECT_EQ(saved(), kGolden);
    EXPECT_EQ(root->getZones()[1]->getZones()[0]->getDevices(), std::vector<ZoneElement::DevicePtr>{second});
}

TEST_F(ZoneFile, AnAddressOfNoKnownDeviceStaysWithItsZoneUntilTheDeviceComes) {
    site.add("01");
    write(kGolden);
    load();  // 02:56:53:00:00:02 is not in the collection
    EXPECT_EQ(saved(), kGolden);
    const auto korpus = root->getZones()[1], floor = korpus->getZones()[0];
    const auto second = site.add("02");
    EXPECT_TRUE(root->claimPendingDevice(second));
    EXPECT_EQ(korpus->getDevices().size(), 2u);
    EXPECT_EQ(floor->getDevices(), std::vector<ZoneElement::DevicePtr>{second});
    EXPECT_FALSE(root->claimPendingDevice(second));
    EXPECT_FALSE(root->claimPendingDevice(site.add("03")));
    EXPECT_EQ(saved(), kGolden);
}

TEST_F(ZoneFile, TheSpecialZoneStandsForEveryEntryOfItsNameAndShowsOnlyWithDevices) {
    const auto device = site.add("01");
    const std::string nested =
        zone("Корпус", false, 0, "", zone("Новые усилители", true, 40, address("01"), ""));
    write(kDeclaration + "<zone_collection>" + nested + "</zone_collection>");
    load();
    ASSERT_EQ(root->getZones().size(), 2u);
    EXPECT_TRUE(root->getZones()[0] == newDevices && root->getZones()[1]->getZones().empty());
    EXPECT_EQ(newDevices->getDevices(), std::vector<ZoneElement::DevicePtr>{device});
    EXPECT_TRUE(newDevices->isShown());

    // Known only later: the special zone stays hidden until its device comes.
    freshTree();
    write(kDeclaration + "<zone_collection>" + zone("Новые усилители", false, 0, address("09"), "") +
          "</zone_collection>");
    load();
    EXPECT_FALSE(newDevices->isShown());
    EXPECT_TRUE(root->claimPendingDevice(site.add("09")));
    EXPECT_TRUE(newDevices->isShown());
}

TEST_F(ZoneFile, ABadOrMissingFieldTakesItsDefaultAndTheLoadGoesOn) {
    write(kDeclaration +
          "<zone_collection>"
          "<zone><enableVolume>yes</enableVolume><volume>8 5</volume><devices/><zones/></zone>"
          "<zone><name>Б</name><enableVolume>2</enableVolume><volume> 85 </volume></zone>"
          "<!-- a comment is no zone -->"
          "<zone><name>В</name><enableVolume>true</enableVolume><volume>x</volume><devices/>"
          "<zones><zone><name>Г</name><enableVolume>0</enableVolume><volume>99999999999</volume>"
          "<devices><hardware_address>ZZ</hardware_address></devices><zones/></zone></zones></zone>"
          "</zone_collection>");
    load();
    const auto& zones = root->getZones();
    ASSERT_EQ(zones.size(), 4u);
    EXPECT_EQ((std::vector<bool>{zones[1]->getEnableVolume(), zones[2]->getEnableVolume(),
                                 zones[3]->getEnableVolume()}),
              (std::vector<bool>{false, true, true}));
    EXPECT_EQ((std::vector<unsigned>{zones[1]->getVolume(), zones[2]->getVolume(), zones[3]->getVolume(),
                                     zones[3]->getZones().at(0)->getVolume()}),
              (std::vector<unsigned>{85, 85, 0, 0}));
    EXPECT_TRUE(zones[3]->getZones()[0]->getPendingAddresses().empty());
    EXPECT_EQ(loggedCount("повреждён (в зоне 'Г' пропущено адресов устройств: 1)", "WARN"), 1);
    EXPECT_EQ(loggedCount("взято значение по умолчанию"), 6);  // name, flag, devices, zones, two volumes
}

TEST_F(ZoneFile, ABadDeviceAddressIsSkippedAloneToldWithTheFileAndTheFileKeptAside) {
    const auto first = site.add("01");
    const std::string bytes =
        kDeclaration + "<zone_collection>" +
        zone("Холл", true, 50,
             address("01") + "<hardware_address>не адрес</hardware_address>" + address("03"), "") +
        "</zone_collection>";
    write(bytes);
    load();
    const auto hall = root->getZones().at(1);
    EXPECT_EQ(hall->getDevices(), std::vector<ZoneElement::DevicePtr>{first});
    EXPECT_EQ(hall->getPendingAddresses().size(), 1u) << "the good address of a device not known yet stays";
    EXPECT_EQ(
        loggedCount("Файл '" + file + "' повреждён (в зоне 'Холл' пропущено адресов устройств: 1)", "WARN"),
        1);
    EXPECT_EQ(loggedCount("Internal error"), 0);
    EXPECT_EQ(loggedCount("некорректный аппаратный адрес"), 0);
    EXPECT_EQ(testing_support::readFile(file + ".bad"), bytes) << "the file as it was, before the save";
    EXPECT_EQ(saved(), kDeclaration + "\n<zone_collection>" + zone("Новые усилители", false, 0, "", "") +
                           zone("Холл", true, 50, address("01") + address("03"), "") + "</zone_collection>");
}

TEST_F(ZoneFile, AFileOfAnotherKindIsSetAsideAndTheTreeStaysAsItWas) {
    write(kDeclaration + "<device_collection><device/></device_collection>");
    load();
    EXPECT_EQ(root->getZones().size(), 1u);
    EXPECT_TRUE(boost::filesystem::exists(file + ".bad") && !boost::filesystem::exists(file));
    EXPECT_TRUE(logged("Skip loading zones"));
}
