// The audio-memory model without a network: the image codec and its
// refusals, ids and positions, dependent scenarios, limits, titles and the
// changed flag, through the model classes over an in-process wire.
#include <algorithm>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "device/memory/audio_memory.h"
#include "device/memory/memory_image.h"
#include "tests/device/memory/memory_test_support.h"
#include "tests/device/thrown.h"

using namespace device::memory;
using device::sim::AudioMemoryStore;
using device_test::messageOf;
using device_test::notificationOf;
using memory_test::bytesOf;
using memory_test::LocalWire;

namespace {

constexpr std::uint16_t kNone = 0xFFFF;

struct Memory {
    std::shared_ptr<AudioMemoryStore> store;
    boost::shared_ptr<LocalWire> wire;
    boost::shared_ptr<AudioMemoryBase> memory;
};

template <class M, class... Args>
Memory make(std::uint16_t layout, std::uint32_t capacity, const std::string& planted, Args... args) {
    Memory m;
    m.store = std::make_shared<AudioMemoryStore>(layout, capacity);
    m.store->plant(planted);
    m.wire = boost::make_shared<LocalWire>(m.store);
    m.memory = boost::make_shared<M>(m.wire, args...);
    return m;
}

Memory make611(std::uint32_t capacity = 1 << 20, const std::string& planted = {}) {
    return make<device::o611::memory::AudioMemory>(kLayout611, capacity, planted, AudioMemoryBase::PlayingCallback(),
                                                   false);
}

}  // namespace

TEST(AudioMemoryImage, RoundTripGivesEqualStampsAndBytes) {
    Memory source = make611();
    source.memory->addFragment(L"Гонг", bytesOf(700, 1));
    source.memory->addFragment(L"Сообщение №1", bytesOf(1500, 2));
    source.memory->addFragment(L"Outro", bytesOf(3, 3));
    source.memory->addScenario(0, 1, 60, L"Пожар");
    source.memory->addScenario(kNone, 2, 5, L"Test");
    const std::string image = source.memory->getImage();

    Memory target = make611();
    ASSERT_NE(target.memory->makeMemoryStamp(), source.memory->makeMemoryStamp());
    target.memory->setImage(image);
    EXPECT_EQ(target.memory->makeMemoryStamp(), source.memory->makeMemoryStamp());
    EXPECT_EQ(target.memory->getImage(), image);
    EXPECT_TRUE(target.memory->hasChanges());
    EXPECT_EQ(target.memory->getFragmentFile(1), bytesOf(1500, 2));

    // Another model takes the content into its own layout; the console drops
    // the scenarios but keeps the fragments.
    Memory older = make<device::o610::memory::AudioMemory>(kLayout610, 1 << 20, std::string(),
                                                           AudioMemoryBase::PlayingCallback(), false);
    older.memory->setImage(image);
    EXPECT_EQ(older.memory->makeMemoryStamp().substr(0, 6), "2:3:2:");
    EXPECT_EQ(older.memory->getScenarios().size(), 2u);
    Memory console = make<device::tovik::memory::AudioMemory>(kLayout611, 1 << 20, std::string());
    console.memory->setImage(image);
    EXPECT_EQ(console.memory->getFragments().size(), 3u);
    EXPECT_TRUE(console.memory->getScenarios().empty());
    // Nor does it add one of its own: nothing changes.
    const std::string stamp = console.memory->makeMemoryStamp();
    console.memory->addScenario(kNone, 0, 10, L"Ignored");
    EXPECT_TRUE(console.memory->getScenarios().empty());
    EXPECT_EQ(console.memory->makeMemoryStamp(), stamp);
}

TEST(AudioMemoryImage, DamagedImagesAreRefused) {
    Memory source = make611();
    source.memory->addFragment(L"A", bytesOf(600, 1));
    source.memory->addFragment(L"B", bytesOf(40, 2));
    source.memory->addScenario(0, 1, 10, L"S");
    const std::string image = source.memory->getImage();
    Memory target = make611(4096);
    const std::string stamp = target.memory->makeMemoryStamp();

    EXPECT_EQ(notificationOf<exception::UserError>([&] { target.memory->setImage(image.substr(0, 23)); }),
              L"Некорректный размер образа")
        << "23 bytes are accepted";
    auto flipped = [&](std::size_t at, char mask) {
        std::string bytes = image;
        bytes[at] ^= mask;
        return bytes;
    };
    EXPECT_THROW(target.memory->setImage(flipped(0, 1)), exception::UnknownVersionOfAudioMemory) << "magic";
    EXPECT_THROW(target.memory->setImage(flipped(4, 8)), exception::UnknownVersionOfAudioMemory) << "layout";
    EXPECT_THROW(target.memory->setImage(flipped(kRootSize + 20, 1)), exception::IncorrectFormat) << "a title unit";
    EXPECT_THROW(target.memory->setImage(flipped(image.size() - 1, 0x40)), exception::IncorrectFormat) << "data";
    EXPECT_THROW(target.memory->setImage(image + "x"), exception::IncorrectFormat);

    // Every cut and every flipped byte is refused with an exception of the
    // family, never a crash or a std exception.
    for (std::size_t length = 24; length < image.size(); length += 7)
        EXPECT_THROW(target.memory->setImage(image.substr(0, length)), exception::Base) << length;
    for (std::size_t at = 0; at < kRootSize + 3 * kFragmentRecordSize; ++at)
        EXPECT_THROW(target.memory->setImage(flipped(at, 0x10)), exception::Base) << at;
    EXPECT_EQ(target.memory->makeMemoryStamp(), stamp) << "a refused image leaves the memory alone";
    EXPECT_FALSE(target.memory->hasChanges());

    Memory small = make611(image.size() - 1);
    EXPECT_EQ(notificationOf<exception::UserError>([&] { small.memory->setImage(image); }),
              L"Образ не помещается в память устройства")
        << "an image larger than the capacity is accepted";
    EXPECT_EQ(notificationOf<exception::UserError>([&] { small.memory->getImage(); }), L"Образ памяти пуст")
        << "an empty memory gives an image";
}

TEST(AudioMemoryModel, IdsAndPositionsFollowAddsAndRemovals) {
    Memory m = make611();
    auto& memory = *m.memory;
    for (int i = 0; i < 3; ++i) memory.addFragment(L"F" + std::to_wstring(i), bytesOf(10, i));
    EXPECT_EQ(memory.getFragmentId(1), 0);
    EXPECT_EQ(memory.getFragmentId(3), 2);
    EXPECT_EQ(memory.getFragmentId(0), kNone) << "positions count from 1";
    EXPECT_EQ(memory.getFragmentId(4), kNone);

    memory.removeFragment(1);
    EXPECT_EQ(memory.getFragmentPosition(2), 2);
    EXPECT_EQ(memory.getFragmentPosition(1), kNone);
    EXPECT_FALSE(memory.hasFragment(1));
    memory.addFragment(L"New", bytesOf(10, 9));
    EXPECT_EQ(memory.getFragmentId(3), 1) << "the lowest free id is reused";
    EXPECT_EQ(memory.getFragmentAt(1).position, 3);
    EXPECT_THROW(memory.getFragmentAt(77), exception::InternalError);

    for (int i = 0; i < 3; ++i) memory.addScenario(kNone, 0, 1, L"S" + std::to_wstring(i));
    memory.removeScenario(1);
    const auto scenarios = memory.getScenarios();
    ASSERT_EQ(scenarios.size(), 2u);
    EXPECT_EQ(scenarios[0].id, 0);
    EXPECT_EQ(scenarios[1].id, 2);
    EXPECT_EQ(scenarios[1].number, 2) << "numbers follow the positions";
    EXPECT_EQ(memory.getScenarioPosition(2), 2);
    EXPECT_EQ(memory.getScenarioId(2), 2);
    memory.addScenario(kNone, 0, 1, L"S3");
    EXPECT_EQ(memory.getScenarioId(3), 1);
}

TEST(AudioMemoryModel, RemovingAFragmentRemovesTheScenariosThatPlayIt) {
    Memory m = make611();
    auto& memory = *m.memory;
    memory.addFragment(L"Gong", bytesOf(10, 1));     // id 0
    memory.addFragment(L"Message", bytesOf(10, 2));  // id 1
    memory.addFragment(L"Other", bytesOf(10, 3));    // id 2
    memory.addScenario(0, 1, 10, L"With gong");
    memory.addScenario(kNone, 2, 10, L"Plain");
    memory.addScenario(kNone, 1, 10, L"Message only");

    memory.removeFragment(0);
    auto scenarios = memory.getScenarios();
    ASSERT_EQ(scenarios.size(), 2u);
    EXPECT_EQ(scenarios[0].title, L"Plain");
    EXPECT_EQ(scenarios[0].number, 1);
    memory.removeFragment(1);
    scenarios = memory.getScenarios();
    ASSERT_EQ(scenarios.size(), 1u);
    // What the page does when it fills the scenario list.
    for (const auto& s : scenarios) EXPECT_NO_THROW(memory.getFragmentAt(s.messageId));
}

TEST(AudioMemoryModel, LimitsAndTitles) {
    Memory m = make611(4096);
    auto& memory = *m.memory;
    const std::uint32_t empty = memory.getSizeOfFreeMemory();
    EXPECT_EQ(empty, 4096u - kRootSize);
    memory.addFragment(L"A", bytesOf(100, 1));
    EXPECT_EQ(memory.getSizeOfFreeMemory(), empty - kFragmentRecordSize - 100);
    EXPECT_EQ(notificationOf<exception::UserError>([&] {
                  memory.addFragment(L"Too big", bytesOf(memory.getSizeOfFreeMemory() - kFragmentRecordSize + 1, 2));
              }),
              L"Недостаточно свободной аудио памяти")
        << "a fragment beyond the free memory is accepted";
    memory.addFragment(L"Exact fit", bytesOf(memory.getSizeOfFreeMemory() - kFragmentRecordSize, 3));
    EXPECT_EQ(memory.getSizeOfFreeMemory(), 0u);
    EXPECT_THROW(memory.addFragment(L"Empty", std::string()), exception::IncorrectFormat);

    Memory big = make611();
    auto& scenarios = *big.memory;
    scenarios.addFragment(L"M", bytesOf(10, 1));
    for (int i = 0; i < 64; ++i) scenarios.addScenario(kNone, 0, 1, L"S" + std::to_wstring(i));
    EXPECT_THROW(scenarios.addScenario(kNone, 0, 1, L"65th"), exception::UserError);
    EXPECT_EQ(scenarios.getScenarios().size(), 64u);
    EXPECT_EQ(scenarios.getScenarios().back().number, 64);
    scenarios.removeScenario(63);
    EXPECT_NE(messageOf<exception::IncorrectFormat>([&] {
                  scenarios.addScenario(kNone, 7, 1, L"Unknown message");
              }).find(L"Фрагмент не найден"),
              std::wstring::npos);
    EXPECT_THROW(scenarios.addScenario(3, 0, 1, L"Unknown gong"), exception::IncorrectFormat);

    // Titles: the dialogs allow an empty name and 80 characters; the memory
    // refuses them instead of cutting.
    Memory t = make611();
    auto& titles = *t.memory;
    for (const std::wstring& bad : {std::wstring(), std::wstring(65, L'a'), std::wstring(80, L'Ж')}) {
        EXPECT_NE(messageOf<exception::IncorrectFormat>([&] {
                      titles.addFragment(bad, bytesOf(5, 1));
                  }).find(L"Некорректное название"),
                  std::wstring::npos)
            << "title of " << bad.size() << " characters accepted";
    }
    EXPECT_TRUE(titles.getFragments().empty());
    titles.addFragment(std::wstring(64, L'я'), bytesOf(5, 1));
    titles.addFragment(L"Объявление №2", bytesOf(5, 2));
    EXPECT_THROW(titles.addScenario(kNone, 0, 1, std::wstring(65, L'x')), exception::IncorrectFormat);
    const std::string image = titles.getImage();
    Memory copy = make611();
    copy.memory->setImage(image);
    EXPECT_EQ(copy.memory->getFragments()[0].title, std::wstring(64, L'я'));
    EXPECT_EQ(copy.memory->getFragments()[1].title, L"Объявление №2");
}

TEST(AudioMemoryModel, ChangedFlagFollowsEditsAndRevert) {
    Memory m = make611(1 << 20, memory_test::plantedImage(kLayout611, 2, 300));
    auto& memory = *m.memory;
    EXPECT_FALSE(memory.hasChanges());
    const std::string stamp = memory.makeMemoryStamp();
    memory.removeFragment(999);
    memory.removeScenario(999);
    EXPECT_FALSE(memory.hasChanges()) << "removing nothing changes nothing";

    memory.addFragment(L"X", bytesOf(10, 1));
    EXPECT_TRUE(memory.hasChanges());
    m.wire->online = false;
    memory.revertChanges();  // offline: back to the copy last read
    EXPECT_FALSE(memory.hasChanges());
    EXPECT_EQ(memory.makeMemoryStamp(), stamp);
    EXPECT_EQ(memory.getFragments().size(), 2u);

    memory.removeFragment(10);
    EXPECT_TRUE(memory.hasChanges());
    EXPECT_TRUE(memory.getScenarios().empty()) << "the scenario played the removed gong";
    memory.revertChanges();
    EXPECT_EQ(memory.getScenarios().size(), 1u);
    memory.clear();
    EXPECT_TRUE(memory.hasChanges());
    EXPECT_TRUE(memory.getFragments().empty());
    memory.revertChanges();
    EXPECT_EQ(memory.makeMemoryStamp(), stamp);
    EXPECT_EQ(memory.getFragmentFile(11), bytesOf(301, 101)) << "data read on demand from the device";
}

TEST(AudioMemoryWireTexts, RepliesAreParsedStrictly) {
    EXPECT_EQ(parseMemoryInfo("OK 3 1048576 24").capacity, 1048576u);
    EXPECT_EQ(parseMemoryRead("OK 00ff7A", 3), std::string("\x00\xff\x7a", 3));
    EXPECT_EQ(parseMemoryState("OK scenario 12").kind, MemoryState::Scenario);
    EXPECT_EQ(parseMemoryState("OK idle").kind, MemoryState::Idle);
    for (const char* bad : {"OK 3 1048576", "OK 3 x 24", "3 1048576 24", "OK 3 1 2 4", "OK 99999999 1 2"})
        EXPECT_THROW(parseMemoryInfo(bad), exception::UnexpectedResponseOfDevice) << bad;
    for (const char* bad : {"OK 00ff", "OK 00ff7", "OK 00fg7A", "ERR 00ff7A"})
        EXPECT_THROW(parseMemoryRead(bad, 3), exception::UnexpectedResponseOfDevice) << bad;
    for (const char* bad : {"OK", "OK busy", "OK fragment", "OK fragment 70000", "OK idle 1"})
        EXPECT_THROW(parseMemoryState(bad), exception::UnexpectedResponseOfDevice) << bad;
    // The longest request still fits the device's command buffer.
    EXPECT_LT(memoryWriteCommand(0xFFFFFFFFu, std::string(kMemoryChunk, '\xff')).size(), 1395u);
}
