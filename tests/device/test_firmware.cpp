// Firmware files without a network: the image codec and its checks, the
// collection, the choice of images for a device, and the firmware commands
// with their retries against a scripted exchange.
#include <random>
#include <string>
#include <vector>

#include <boost/crc.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/text.h"
#include "device/firmware/firmware_collection.h"
#include "device/firmware/firmware_image.h"
#include "device/firmware/firmware_selection.h"
#include "device/firmware/firmware_sender.h"
#include "tests/device/thrown.h"

using device::FirmwareCollection;
using device::FirmwareImage;
using device::FirmwareSender;

namespace {

const char kOrvel610[] = "Orvel-610 1.0.113.0 Mar 03 2021";

std::string randomPayload(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string payload(size, '\0');
    for (char& c : payload) c = static_cast<char>(byte(random));
    return payload;
}

/// The code word of the refusal that `call` throws.
template <class F>
std::string codeWordOf(F call) {
    return base::toNarrow(device_test::notificationOf<exception::UserResponse>(call));
}

void putLittle32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

TEST(FirmwareImage, RoundTripAndTheCrcFormOfTheTypeCode) {
    const std::string payload = randomPayload(1500, 1);
    const FirmwareImage image(FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, payload));
    ASSERT_TRUE(image.isValid());
    EXPECT_EQ(image.getPayload(), payload);
    EXPECT_EQ(image.getVersion().typeCode, device::kTypeOrvel610);
    EXPECT_EQ(image.getVersion().build, 113u);
    boost::crc_optimal<32, 0x04C11DB7, 0xFFFFFFFF, 0, false, false> mpeg2;
    mpeg2.process_bytes(payload.data(), payload.size());
    EXPECT_EQ(image.getCrc(), mpeg2.checksum());

    // Orvel-510 images carry the reflected CRC-32; the older of its two codes
    // is kept although the model name gives the newer one.
    const FirmwareImage old(FirmwareImage::encode(device::kTypeOrvel510Old, "Orvel-510 1.0.72.0", payload));
    ASSERT_TRUE(old.isValid());
    EXPECT_EQ(old.getVersion().typeCode, device::kTypeOrvel510Old);
    boost::crc_32_type reflected;
    reflected.process_bytes(payload.data(), payload.size());
    EXPECT_EQ(old.getCrc(), reflected.checksum());
}

TEST(FirmwareImage, EveryCorruptionMakesTheImageInvalid) {
    const std::string good = FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, randomPayload(700, 2));
    ASSERT_TRUE(FirmwareImage(good).isValid());
    auto changed = [&](std::size_t offset, char value) {
        std::string bytes = good;
        bytes[offset] = value;
        return bytes;
    };
    auto sized = [&](std::uint32_t size) {
        std::string bytes = good;
        putLittle32(bytes, 16, size);
        return bytes;
    };
    std::string unterminated = good;
    for (std::size_t i = 24; i < 280; ++i) unterminated[i] = i < 24 + sizeof kOrvel610 - 1 ? kOrvel610[i - 24] : 'x';
    const std::pair<const char*, std::string> cases[] = {
        {"magic", changed(0, 'X')},
        {"format", changed(4, 2)},
        {"header size", changed(7, 2)},
        {"payload size past the end", sized(701)},
        {"payload size short of the end", sized(699)},
        {"empty payload", FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, "")},
        {"truncated", good.substr(0, good.size() - 1)},
        {"header only", good.substr(0, 300)},
        {"trailing byte", good + '\0'},
        {"payload byte", changed(good.size() - 1, static_cast<char>(good.back() ^ 1))},
        {"crc field", changed(20, static_cast<char>(good[20] ^ 0x80))},
        {"version of another model",
         FirmwareImage::encode(device::kTypeOrvel610, "Orvel-611 2.0.1.0", randomPayload(700, 2))},
        {"version of no model", FirmwareImage::encode(device::kTypeOrvel610, "Orvel-999 1.0.1.0", randomPayload(700, 2))},
        {"unreadable version", FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0", "x")},
        {"version text without its end", unterminated},
    };
    for (const auto& [what, bytes] : cases) {
        const FirmwareImage image(bytes);
        EXPECT_FALSE(image.isValid()) << what;
        EXPECT_EQ(image.getVersion().typeCode, 0u) << what;
    }
}

TEST(FirmwareImage, CutOrChangedImagesNeverPass) {
    const std::string good = FirmwareImage::encode(device::kTypeTovik30, "Tovik-30 1.0.8.0", randomPayload(64, 3));
    for (std::size_t size = 0; size < good.size(); ++size) {
        EXPECT_FALSE(FirmwareImage(good.substr(0, size)).isValid());
        EXPECT_THROW(FirmwareCollection::parse(good.substr(0, size)), exception::UserResponse);
    }
    std::mt19937 random(4);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = good;
        const std::size_t at = random() % bytes.size();
        bytes[at] = static_cast<char>(random());
        // Outside the version text and the reserved bytes every byte is checked.
        if (bytes != good && (at < 24 || at >= 300)) {
            EXPECT_FALSE(FirmwareImage(bytes).isValid()) << at;
        }
    }
}

TEST(FirmwareCollection, ThreeImagesInFileOrderAndBrokenFiles) {
    const std::string a = FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, randomPayload(10, 5));
    const std::string b = FirmwareImage::encode(device::kTypeOrvel610Lc, "Orvel-610-LC 1.0.3.0", randomPayload(20, 6));
    std::string c = FirmwareImage::encode(device::kTypeOrvel610Pss, "Orvel-610-PSS 1.0.2.0", randomPayload(30, 7));
    c.back() ^= 1;  // framed right, CRC wrong: kept, but reports itself
    const auto collection = FirmwareCollection::parse(a + b + c);
    ASSERT_EQ(collection->size(), 3u);
    const auto images = collection->images();
    EXPECT_EQ(images[0]->getVersion().typeCode, device::kTypeOrvel610);
    EXPECT_EQ(images[1]->getVersion().typeCode, device::kTypeOrvel610Lc);
    EXPECT_FALSE(images[2]->isValid());
    collection->removeFirst();
    EXPECT_EQ(collection->first(), images[1]);
    EXPECT_EQ(collection->size(), 2u);

    for (const std::string& broken : {std::string(), a + "x", a + b.substr(0, 299), a + b.substr(0, b.size() - 1),
                                      std::string("MZ") + a}) {
        EXPECT_EQ(codeWordOf([&] { FirmwareCollection::parse(broken); }), "incorrectFirmware");
    }
}

namespace {

/// The loudspeaker's rule for a device of `deviceType`: its own code; the
/// power-module image refused while the batteries are not right; the
/// line-control image only for the Orvel-610.
struct LoudspeakerRule {
    std::uint64_t deviceType;
    bool batteryOk;
    bool operator()(boost::shared_ptr<device::IFirmware> image) const {
        const std::uint64_t code = image->getVersion().typeCode;
        if (code == deviceType) return true;
        if (code == device::kTypeOrvel610Pss) {
            if (!batteryOk) throw exception::UserResponse(L"wrongPower", L"Check 220V and batteries!");
            return deviceType == device::kTypeOrvel610 || deviceType == device::kTypeOrvel611;
        }
        return code == device::kTypeOrvel610Lc && deviceType == device::kTypeOrvel610;
    }
};

device::Version running610() {
    device::Version version;
    device::parseVersion("Orvel-610 1.0.112.0 Mar 03 2021", version);
    return version;
}

std::vector<std::uint64_t> codesOf(const FirmwareCollection& collection) {
    std::vector<std::uint64_t> codes;
    for (const auto& image : collection.images()) codes.push_back(image->getVersion().typeCode);
    return codes;
}

}  // namespace

TEST(FirmwareSelection, OwnImageFirstThenModulesForeignAndBrokenImagesLeftOut) {
    const std::string lc = FirmwareImage::encode(device::kTypeOrvel610Lc, "Orvel-610-LC 1.0.3.0", "lc");
    const std::string tovik = FirmwareImage::encode(device::kTypeTovik30, "Tovik-30 1.0.8.0", "tovik");
    const std::string own = FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, "own");
    std::string brokenOwn = FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.114.0", "newer");
    brokenOwn.back() ^= 1;
    const auto file = FirmwareCollection::parse(lc + tovik + brokenOwn + own);
    const auto picked = device::selectFirmware(*file, running610(), LoudspeakerRule{device::kTypeOrvel610, true}, false);
    EXPECT_EQ(codesOf(*picked), (std::vector<std::uint64_t>{device::kTypeOrvel610, device::kTypeOrvel610Lc}));

    // An Orvel-611 takes neither the line-control nor the console image.
    EXPECT_EQ(codeWordOf([&] {
                  device::selectFirmware(*FirmwareCollection::parse(lc + tovik), running610(),
                                         LoudspeakerRule{device::kTypeOrvel611, true}, true);
              }),
              "incorrectFirmware");
}

TEST(FirmwareSelection, ForcePassesThePowerAndVersionChecksButNeverABrokenImage) {
    const auto pss = FirmwareCollection::parse(
        FirmwareImage::encode(device::kTypeOrvel610Pss, "Orvel-610-PSS 1.0.2.0", "power module"));
    const LoudspeakerRule weakBattery{device::kTypeOrvel610, false};
    EXPECT_EQ(codeWordOf([&] { device::selectFirmware(*pss, running610(), weakBattery, false); }), "wrongPower");
    EXPECT_EQ(device::selectFirmware(*pss, running610(), weakBattery, true)->size(), 1u);

    const auto same = FirmwareCollection::parse(
        FirmwareImage::encode(device::kTypeOrvel610, "Orvel-610 1.0.112.0 Apr 01 2021", "same numbers"));
    const LoudspeakerRule fine{device::kTypeOrvel610, true};
    EXPECT_EQ(codeWordOf([&] { device::selectFirmware(*same, running610(), fine, false); }), "wrongVersion");
    EXPECT_EQ(device::selectFirmware(*same, running610(), fine, true)->size(), 1u);

    std::string broken = FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, "broken");
    broken[20] ^= 1;
    const auto file = FirmwareCollection::parse(broken);
    EXPECT_EQ(codeWordOf([&] { device::selectFirmware(*file, running610(), fine, true); }), "incorrectFirmware");
}

namespace {

/// An exchange that follows a script: for each request, the replies to give
/// in turn ("" stands for silence, exception::Offline).
struct ScriptedDevice {
    std::vector<std::string> requests;
    std::function<std::string(const std::string&, int attempt)> answer;
    std::map<std::string, int> attempts;

    std::string operator()(const std::string& request) {
        requests.push_back(request);
        const std::string reply = answer(request, attempts[request]++);
        if (reply.empty()) throw exception::Offline();
        if (reply.rfind("ERR", 0) == 0) throw exception::UnexpectedResponseOfDevice(reply);
        return reply;
    }
};

}  // namespace

TEST(FirmwareSender, CommandsChunksAndProgress) {
    const std::string payload = randomPayload(1300, 8);
    const FirmwareImage image(FirmwareImage::encode(device::kTypeOrvel611, "Orvel-611 2.0.1.0", payload));
    ASSERT_TRUE(image.isValid());
    char begin[64];
    std::snprintf(begin, sizeof begin, "fw begin 1500040 1300 %08X", image.getCrc());
    EXPECT_EQ(FirmwareSender::beginCommand(image), begin);
    EXPECT_EQ(FirmwareSender::dataCommand(2, "\x01\xAB\xff"), "fw data 2 FF");

    ScriptedDevice device;
    device.answer = [](const std::string&, int) { return std::string("OK"); };
    std::vector<int> progress;
    FirmwareSender(std::ref(device), [&](int percent) { progress.push_back(percent); }).send(image);
    ASSERT_EQ(device.requests.size(), 5u);
    EXPECT_EQ(device.requests[0], begin);
    EXPECT_EQ(device.requests[1].size(), std::string("fw data 0 ").size() + 1024);
    EXPECT_EQ(device.requests[3].rfind("fw data 1024 ", 0), 0u);
    EXPECT_EQ(device.requests[3].size(), std::string("fw data 1024 ").size() + 2 * 276);
    EXPECT_EQ(device.requests[4], "fw end");
    EXPECT_EQ(progress, (std::vector<int>{38, 77, 99}));
}

TEST(FirmwareSender, SilenceIsAskedAgainThreeTimesARefusalEndsAtOnce) {
    const FirmwareImage image(FirmwareImage::encode(device::kTypeOrvel610, kOrvel610, randomPayload(600, 9)));
    ScriptedDevice recovering;  // the second chunk answers at its fourth sending
    recovering.answer = [](const std::string& request, int attempt) {
        return request.rfind("fw data 512 ", 0) == 0 && attempt < 3 ? std::string() : std::string("OK");
    };
    FirmwareSender(std::ref(recovering), {}).send(image);
    EXPECT_EQ(recovering.requests.size(), 7u);

    ScriptedDevice gone;  // silent after "fw begin"
    gone.answer = [](const std::string& request, int) {
        return request.rfind("fw begin", 0) == 0 ? std::string("OK") : std::string();
    };
    EXPECT_THROW(FirmwareSender(std::ref(gone), {}).send(image), exception::Offline);
    EXPECT_EQ(gone.requests.size(), 5u);

    ScriptedDevice refusing;
    refusing.answer = [](const std::string& request, int) {
        return request.rfind("fw data", 0) == 0 ? std::string("ERR flash") : std::string("OK");
    };
    EXPECT_THROW(FirmwareSender(std::ref(refusing), {}).send(image), exception::UnexpectedResponseOfDevice);
    EXPECT_EQ(refusing.requests.size(), 2u);

    ScriptedDevice chatty;  // data where "OK" belongs
    chatty.answer = [](const std::string& request, int) {
        return request == "fw end" ? std::string("maybe") : std::string("OK");
    };
    EXPECT_THROW(FirmwareSender(std::ref(chatty), {}).send(image), exception::UnexpectedResponseOfDevice);
}
