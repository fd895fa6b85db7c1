#pragma once

// What the fuzz targets share: the input cut into device replies, the
// version text of every firmware band, and device objects whose requests the
// input answers instead of the network.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <unistd.h>

#include "base/exception.h"
#include "base/hardware_address.h"
#include "base/ip_address.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"
#include "device/models/version_tables.h"

namespace fuzz {

/// The hardware address of every scripted device.
inline const std::string kHardware = "02:56:53:00:00:07";
/// Where the scripted devices' packets come from.
inline const net::IpAndPort kSource{"127.0.0.9", 11990};

/// The replies of a scripted device, in the order it is asked: the input
/// cut at each record separator (0x1E). An empty piece, or asking after the
/// last one, is a device that didn't answer.
class Replies {
public:
    static constexpr char kSeparator = '\x1e';

    Replies() = default;
    explicit Replies(const std::string& text) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find(kSeparator, start);
            m_pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    bool next(std::string& reply) {
        if (m_pieces.empty()) return false;
        reply = std::move(m_pieces.front());
        m_pieces.pop_front();
        return !reply.empty();
    }
    bool empty() const { return m_pieces.empty(); }

private:
    std::deque<std::string> m_pieces;
};

/// A version text a loudspeaker of the firmware-version index reports
/// (versionIndexOf gives the index back); index 0 is a model we don't know.
inline std::string bandVersion(int index) {
    static const char* const kTexts[device::kVersionIndexCount] = {
        "Orvel-999 1.0.0.0",       "Orvel-510 1.1.69.0",  "Orvel-510 1.1.70.0",  "Orvel-510 1.1.71.0",
        "Orvel-510 1.1.71.2",      "Orvel-510 1.1.72.0",  "Orvel-510 2.0.71.0",  "Orvel-510 2.0.71.17105",
        "Orvel-510 2.1.72.0",      "Orvel-610 1.0.32.0",  "Orvel-610 1.0.33.0",  "Orvel-610 1.0.40.0",
        "Orvel-610 1.0.56.0",      "Orvel-610 1.0.59.0",  "Orvel-610 1.0.63.0",  "Orvel-610 1.0.69.0",
        "Orvel-610 1.0.73.0",      "Orvel-610 1.0.80.0",  "Orvel-610 1.0.110.0", "Orvel-610 1.0.111.0",
        "Orvel-45 1.0.0.0 Mar 3 2021", "Orvel-610 1.0.112.0 Mar 3 2021",
    };
    return kTexts[index < 0 || index >= device::kVersionIndexCount ? 0 : index];
}

/// A steady state packet of a healthy loudspeaker of the index.
inline std::string bandPacket(int index) {
    return kHardware + ",100,0,1,1,0,0,4,1,0,0,3,1,0,0,0," + bandVersion(index);
}

/// A device object of the model whose requests the replies answer; its
/// audio memory is never made (the memory has a target of its own).
template <class Model>
class Scripted : public Model {
public:
    Replies replies;
    /// Online after a packet, answered as if a request had been.
    void markAnswered() { this->m_answered = true; }

protected:
    explicit Scripted(std::uint32_t id)
        : Model(id, net::HardwareAddress(kHardware), net::IpAndPort(), L"fuzz", nullptr) {}
    bool sendAndWait(const net::IpAndPort&, const std::string&, std::string& reply, int, unsigned) override {
        return replies.next(reply);
    }
    boost::shared_ptr<device::memory::IAudioControl> createAudioControl(bool) override {
        throw exception::Offline();
    }
};

class ScriptedOrvel : public Scripted<device::OrvelInfo> {
public:
    static boost::shared_ptr<ScriptedOrvel> make() {
        boost::shared_ptr<ScriptedOrvel> self(new ScriptedOrvel);
        setUp(self, device::kTypeOrvel610, {});
        return self;
    }

private:
    ScriptedOrvel() : Scripted(7) {}
};

class ScriptedTovik : public Scripted<device::TovikInfo> {
public:
    static boost::shared_ptr<ScriptedTovik> make() {
        boost::shared_ptr<ScriptedTovik> self(new ScriptedTovik);
        self->setThisWeakPtr(self);
        return self;
    }

private:
    ScriptedTovik() : Scripted(8) {}
};

/// Runs one call that the device may refuse: the exceptions of our family
/// are outcomes, anything else escapes and the fuzzer reports it.
template <class Call>
void tolerate(Call&& call) {
    try {
        call();
    } catch (const exception::Base&) {
    }
}

}  // namespace fuzz

namespace fuzz {

/// A folder of this process for the files the loaders read, removed at
/// exit; the path of `name` in it after writing `bytes` there.
inline std::string writeInput(const std::string& name, const char* bytes, std::size_t size) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/sonvar-fuzz-files.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) __builtin_trap();
        static const std::string kept = made;
        std::atexit([] { std::filesystem::remove_all(kept); });
        return kept;
    }();
    const std::string path = folder + "/" + name;
    std::filesystem::remove(path + ".bad");
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes, static_cast<std::streamsize>(size));
    return path;
}

}  // namespace fuzz
