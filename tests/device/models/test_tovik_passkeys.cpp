// ctest-labels: net
// The console's passkeys over UDP against a simulated console: a whole
// learning cycle as the property page drives it, the listed replies, the
// refusals of deletion and malformed lists.
#include "base/exception.h"
#include "tests/device/models/tovik_test_support.h"
#include "tests/device/thrown.h"

using device::TovikInfo;
using namespace tovik_test;

namespace {

std::vector<std::string> keysOf(const std::vector<TovikInfo::Passkey>& list) {
    std::vector<std::string> keys;
    for (const auto& key : list) keys.push_back(key.key);
    return keys;
}

}  // namespace

class TovikPasskeysTest : public ConsoleTest {
protected:
    void present(const std::string& key) {
        model([&key](device::sim::TovikConfigModel& m) {
            m.presentKey(key);
            return 0;
        });
    }
    void listReply(const std::string& reply) {
        model([&reply](device::sim::TovikConfigModel& m) { return m.passkeyReplyOverride = reply; });
    }
};

TEST_F(TovikPasskeysTest, LearningCycle) {
    open();
    EXPECT_TRUE(m_device->listPasskeys().empty()) << "\"no\"";
    m_device->addPasskey();
    EXPECT_EQ(requests(), (Requests{"passkeyList", "passkeyAdd"})) << "the list comes from the kept reply";

    // The page polls while the console listens; each poll asks again.
    m_console->clearReceived();
    EXPECT_TRUE(m_device->isPasskeyListening());
    EXPECT_TRUE(m_device->isPasskeyListening());
    present("A1B2C3");
    EXPECT_FALSE(m_device->isPasskeyListening()) << "the key was taken";
    const auto list = m_device->listPasskeys();
    EXPECT_EQ(requests(), (Requests{"passkeyList", "passkeyList", "passkeyList"})) << "listed from the last poll";
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].key, "A1B2C3");
    EXPECT_EQ(list[0].description, L"Ключ 1");
    EXPECT_TRUE(list[0].present);
    m_console->clearReceived();
    m_device->finishPasskeyListening();
    EXPECT_TRUE(requests().empty()) << "learning was seen to end";

    // A second key, learning broken off by the operator.
    m_device->addPasskey();
    EXPECT_TRUE(m_device->isPasskeyListening());
    m_device->finishPasskeyListening();
    EXPECT_EQ(requests(), (Requests{"passkeyAdd", "passkeyList", "passkeyFinish"}));
    EXPECT_FALSE(model([](device::sim::TovikConfigModel& m) { return m.listening; }));

    m_device->addPasskey();
    present("FF00");
    EXPECT_FALSE(m_device->isPasskeyListening());
    const auto two = m_device->listPasskeys();
    EXPECT_EQ(keysOf(two), (std::vector<std::string>{"A1B2C3", "FF00"}));
    EXPECT_EQ(two[1].description, L"Ключ 2");

    m_console->clearReceived();
    m_device->deletePasskey("A1B2C3");
    EXPECT_EQ(requests(), (Requests{"passkeyDel A1B2C3"}));
    EXPECT_EQ(keysOf(m_device->listPasskeys()), (std::vector<std::string>{"FF00"}));
    m_device->resetPasskeys();
    EXPECT_TRUE(m_device->listPasskeys().empty());
    EXPECT_EQ(requests(), (Requests{"passkeyDel A1B2C3", "passkeyList", "passkeyReset", "passkeyList"}));
}

TEST_F(TovikPasskeysTest, ListedRepliesAndTheirCache) {
    open();
    listReply("0A0B,0C0D");
    EXPECT_EQ(keysOf(m_device->listPasskeys()), (std::vector<std::string>{"0A0B", "0C0D"}));
    m_device->listPasskeys();
    EXPECT_EQ(requests(), (Requests{"passkeyList"})) << "kept";

    m_device->resetCache();
    listReply("listening,0C0D,");
    const auto list = m_device->listPasskeys();
    EXPECT_EQ(keysOf(list), (std::vector<std::string>{"0C0D"}));
    EXPECT_EQ(list[0].description, L"Ключ 1");
    m_device->listPasskeys();
    EXPECT_EQ(requests(), (Requests{"passkeyList", "passkeyList", "passkeyList"})) << "still learning: asked again";
}

TEST_F(TovikPasskeysTest, DeletionIsRefusedBeforeAnythingIsSent) {
    open();
    model([](device::sim::TovikConfigModel& m) { return m.passkeys = {"12AB"}; });
    m_device->listPasskeys();
    m_console->clearReceived();
    EXPECT_EQ(device_test::messageOf<exception::IncorrectFormat>([&] { m_device->deletePasskey("12AG"); }),
              L"Получен неверный формат данных|Нет описания");
    EXPECT_EQ(device_test::notificationOf<exception::UserError>([&] { m_device->deletePasskey("34CD"); }),
              L"Ключ не существует")
        << "never listed";
    EXPECT_THROW(m_device->deletePasskey(""), exception::IncorrectFormat);
    EXPECT_TRUE(requests().empty());

    // The list is forgotten with a deletion: the key must be listed again.
    m_device->deletePasskey("12AB");
    EXPECT_THROW(m_device->deletePasskey("12AB"), exception::UserError);
    EXPECT_EQ(requests(), (Requests{"passkeyDel 12AB"}));
}

TEST_F(TovikPasskeysTest, SilentOrRefusingConsole) {
    open();
    listReply("ERR busy");
    EXPECT_FALSE(m_device->isPasskeyListening()) << "a refusal is no listening";
    EXPECT_THROW(m_device->listPasskeys(), exception::UnexpectedResponseOfDevice);
    device::sim::ReplyPolicy silent;
    silent.silent = true;
    m_console->setReplyPolicy(silent);
    EXPECT_FALSE(m_device->isPasskeyListening());
    EXPECT_THROW(m_device->addPasskey(), exception::Offline);
}

// A list the console garbles is a device error.
TEST_F(TovikPasskeysTest, MalformedListsAreDeviceErrors) {
    open();
    for (const char* reply : {"12,zz", "listening,,12,", "12,,34", "key one", ","}) {
        listReply(reply);
        m_device->resetCache();
        EXPECT_THROW(m_device->listPasskeys(), exception::UnexpectedResponseOfDevice) << reply;
    }
}
