// device_collection.xml: the exact bytes written from the collection, the
// devices read back, entries with missing or bad fields, and files that
// must not be lost at the next save.
#include <fstream>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "base/text.h"
#include "device/device_base.h"
#include "gui/device_list_store.h"
#include "tests/gui/store_support.h"
#include "tests/support/counting_log_fixture.h"

namespace {

using gui_testing::DeviceSite;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

std::string entry(const std::string& fields) { return "<device>" + fields + "</device>"; }

class DeviceListFile : public CountingLogFixture {
protected:
    void SetUp() override { startLog(base::Log::TRACE3); }

    void write(const std::string& body) { std::ofstream(file, std::ios::binary) << kDeclaration << body; }
    std::string saved(DeviceSite& site) {
        frm::saveDeviceCollection(base::fromUtf8(file), *site.collection);
        return testing_support::readFile(file);
    }
    /// Loads into the site with ids from 100 on; returns how many were handed out.
    std::uint32_t load(DeviceSite& site) {
        std::uint32_t counter = 100;
        frm::loadDeviceCollection(base::fromUtf8(file), *site.collection, [&counter] { return counter++; });
        return counter - 100;
    }

    const std::string file = m_dir.path() + "/device_collection.xml";
};

}  // namespace

TEST_F(DeviceListFile, WritesTheGoldenFileAndReadsItBackToTheSameDevices) {
    DeviceSite site;
    site.add("01", L"Зал 1", L"Orvel-610", "10.0.0.5");
    site.add("02", L"", L"Tovik-30", "0.0.0.0");
    const std::string golden =
        kDeclaration + "<device_collection>" +
        entry(
            "<hardware_address>02:56:53:00:00:01</hardware_address><type>Orvel-610</type><name>Зал 1</name>"
            "<ip>10.0.0.5</ip>") +
        entry(
            "<hardware_address>02:56:53:00:00:02</hardware_address><type>Tovik-30</type>"
            "<name>Устройство 02:56:53:00:00:02</name><ip>0.0.0.0</ip>") +
        "</device_collection>";
    ASSERT_EQ(saved(site), golden);
    EXPECT_TRUE(gui_testing::xmllintAccepts(file));
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/device_collection/device)"), "2");

    DeviceSite copy;
    EXPECT_EQ(load(copy), 2u);
    EXPECT_EQ(copy.collection->getDevices().at(1)->getId(), 101u);
    EXPECT_EQ(saved(copy), golden);
}

TEST_F(DeviceListFile, EntriesWithoutTypeIpOrNameLoadThoseWithoutAValidAddressAreSkipped) {
    write("<device_collection>" +
          entry("<hardware_address>02:56:53:00:00:01</hardware_address><name>А</name>") +
          entry("<hardware_address>02:56:53:00:00:02</hardware_address><type/><ip> 10.0.0.7 </ip>") +
          entry("<hardware_address>02:56:53:zz</hardware_address><name>Б</name>") + entry("<name>В</name>") +
          "<!-- not a device --><speaker><hardware_address>02:56:53:00:00:03</hardware_address>"
          "<type>Tovik-30</type><ip>bad</ip></speaker></device_collection>");
    DeviceSite site;
    EXPECT_EQ(load(site), 3u);
    // type, address text, title per device
    std::vector<std::wstring> seen;
    for (const auto& device : site.collection->getDevices())
        seen.push_back(device->getFirmwareVersionTypeText() + L" " + base::toWide(device->getIp().getText()) +
                       L" " + device->getTitle());
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"Orvel-610 0.0.0.0 А",
                                               L"Orvel-610 10.0.0.7 Устройство 02:56:53:00:00:02",
                                               L"Tovik-30 0.0.0.0 Устройство 02:56:53:00:00:03"}));
    EXPECT_TRUE(logged("skip device: name 'Б', hardware '02:56:53:zz'"));
    EXPECT_TRUE(logged("skip device: name 'В', hardware ''"));
}

TEST_F(DeviceListFile, ABadEntryIsSkippedAloneToldWithTheFileAndTheFileKeptAside) {
    const std::string body =
        "<device_collection>" +
        entry("<hardware_address>02:56:53:00:00:01</hardware_address><type>Orvel-610</type><name>А</name>") +
        entry("<hardware_address>02:56:53:00:00:02</hardware_address><type>xyz</type><name>Тип</name>") +
        entry("<hardware_address>не адрес</hardware_address><name>Адрес</name>") +
        entry("<hardware_address>02:56:53:00:00:03</hardware_address><type>Tovik-30</type><name>Б</name>") +
        "</device_collection>";
    write(body);
    DeviceSite site;
    EXPECT_EQ(load(site), 2u) << "no id for an entry the collection can't take";
    ASSERT_EQ(site.collection->getDevices().size(), 2u);
    EXPECT_EQ(site.collection->getDevices()[1]->getTitle(), L"Б");
    EXPECT_EQ(loggedCount("Ошибка добавления нового устройства"), 0) << "told as the file's damage";
    EXPECT_EQ(loggedCount("некорректный аппаратный адрес"), 0);
    EXPECT_EQ(
        loggedCount("Файл '" + file + "' повреждён (пропущено повреждённых записей устройств: 2)", "WARN"),
        1);
    EXPECT_EQ(loggedCount("пропущено: неизвестный тип устройства", "INFO"), 1);
    // The save writes only what loaded; the file as it was stays beside it.
    saved(site);
    EXPECT_EQ(gui_testing::xmllintXpath(file, "count(/device_collection/device)"), "2");
    EXPECT_EQ(testing_support::readFile(file + ".bad"), kDeclaration + body);
}

TEST_F(DeviceListFile, AFileWithoutItsRootIsSetAsideAndAnEmptyCollectionWritesAnEmptyRoot) {
    write(
        "<zone_collection><device><hardware_address>02:56:53:00:00:01</hardware_address></device>"
        "</zone_collection>");
    DeviceSite site;
    EXPECT_EQ(load(site), 0u);
    EXPECT_TRUE(site.collection->getDevices().empty());
    EXPECT_TRUE(boost::filesystem::exists(file + ".bad"));
    EXPECT_EQ(saved(site), kDeclaration + "<device_collection/>");
}

TEST_F(DeviceListFile, RepeatedEntriesGiveOneNoticeForTheFile) {
    std::string body = "<device_collection>";
    for (int i = 0; i < 40; ++i)
        body += entry("<hardware_address>02:56:53:00:00:0" + std::to_string(1 + i % 2) +
                      "</hardware_address><name>N" + std::to_string(i) + "</name>");
    write(body + "</device_collection>");
    std::vector<frm::DeviceListEntry> entries;
    ASSERT_TRUE(frm::readDeviceList(base::fromUtf8(file), entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].title, L"N0") << "the first entry of an address is the one kept";
    EXPECT_EQ(entries[1].title, L"N1");
    EXPECT_EQ(loggedCount("повторяющиеся записи пропущены: 38", "WARN"), 1);
    EXPECT_EQ(loggedCount("повторяется в файле", "INFO"), 38);

    // The collection is handed each device once: it has nothing to refuse.
    DeviceSite site;
    EXPECT_EQ(load(site), 2u);
    EXPECT_EQ(loggedCount("Повторная попытка"), 0);
}

// Addresses that are no addresses, one per device of a large site: the
// devices load without one, and the operator hears of it once, for the file.
TEST_F(DeviceListFile, BadIpAddressesAreToldOnceForTheFileWithACountAndAFewOfThem) {
    std::string body = "<device_collection>";
    const char* const bad[] = {"1.2.3", "300.1.1.1", "abc"};
    for (int i = 0; i < 30; ++i) {
        char hardware[32];
        std::snprintf(hardware, sizeof hardware, "02:56:53:00:01:%02x", i);
        body += entry(std::string("<hardware_address>") + hardware + "</hardware_address><name>N" +
                      std::to_string(i) + "</name><ip>" + (i < 2 ? "10.0.0.9" : bad[i % 3]) + "</ip>");
    }
    body += "</device_collection>";
    write(body);
    DeviceSite site;
    EXPECT_EQ(load(site), 30u) << "a device without its address still loads";
    EXPECT_EQ(std::string(site.collection->getDevices()[0]->getIp().getText()), "10.0.0.9");
    EXPECT_EQ(std::string(site.collection->getDevices()[2]->getIp().getText()), "0.0.0.0");
    EXPECT_EQ(loggedCount("Некорректный IP адрес"), 0) << "not a notice per device";
    EXPECT_EQ(loggedCount("некорректный IP адрес", "INFO"), 28);
    EXPECT_EQ(loggedCount("Файл '" + file +
                              "' повреждён (некорректных IP адресов: 28, например 'abc', '1.2.3', '300.1.1.1', …)",
                          "WARN"),
              1);
    EXPECT_EQ(testing_support::readFile(file + ".bad"), kDeclaration + body) << "kept before a save drops them";
}

// 186 addresses like "1.2.3.4.5" in one file were read as 1.2.3.4 without a
// word, and hardware addresses with a tail as the address before it.
TEST_F(DeviceListFile, AddressesWithATailAreToldWithTheOtherBadOnes) {
    const std::string body =
        "<device_collection>" +
        entry("<hardware_address>02:56:53:00:02:01</hardware_address><name>A</name><ip>1.2.3.4.5</ip>") +
        entry("<hardware_address>02:56:53:00:02:02</hardware_address><name>B</name><ip>1.2.3.4x</ip>") +
        entry("<hardware_address>02:56:53:00:02:03</hardware_address><name>C</name><ip>01.2.3.4</ip>") +
        entry("<hardware_address>02:56:53:00:02:04</hardware_address><name>D</name><ip> 10.0.0.9 </ip>") +
        entry("<hardware_address>02:56:53:00:02:05:06</hardware_address><name>E</name><ip>10.0.0.5</ip>") +
        "</device_collection>";
    write(body);
    DeviceSite site;
    EXPECT_EQ(load(site), 4u);
    const auto devices = site.collection->getDevices();
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(std::string(devices[0]->getIp().getText()), "0.0.0.0") << "no address rather than another one";
    EXPECT_EQ(std::string(devices[2]->getIp().getText()), "1.2.3.4") << "a leading zero is no tail";
    EXPECT_EQ(std::string(devices[3]->getIp().getText()), "10.0.0.9") << "blanks around the text are no tail";
    EXPECT_EQ(loggedCount("Файл '" + file +
                              "' повреждён (пропущено повреждённых записей устройств: 1; некорректных IP адресов: 2, "
                              "например '1.2.3.4.5', '1.2.3.4x')",
                          "WARN"),
              1);
    EXPECT_EQ(testing_support::readFile(file + ".bad"), kDeclaration + body);
}

// The last version wrote "10.0.0.04" as a device reported it; the whole-text
// rule took it for no address, set it to 0.0.0.0 and copied the file aside.
TEST_F(DeviceListFile, AddressesWithLeadingZerosAnEarlierVersionWroteReadAsDecimal) {
    const std::string body =
        "<device_collection>" +
        entry("<hardware_address>02:56:53:00:03:01</hardware_address><name>A</name><ip>10.0.0.04</ip>") +
        entry("<hardware_address>02:56:53:00:03:02</hardware_address><name>B</name><ip>010.000.001.010</ip>") +
        "</device_collection>";
    write(body);
    DeviceSite site;
    EXPECT_EQ(load(site), 2u);
    const auto devices = site.collection->getDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(std::string(devices[0]->getIp().getText()), "10.0.0.4");
    EXPECT_EQ(std::string(devices[1]->getIp().getText()), "10.0.1.10") << "decimal, not octal";
    EXPECT_EQ(loggedCount("", "WARN"), 0) << "nothing to tell";
    EXPECT_FALSE(boost::filesystem::exists(file + ".bad"));
    EXPECT_NE(saved(site).find("<ip>10.0.1.10</ip>"), std::string::npos);
}
