#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/enable_shared_from_this.hpp>
#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "device/memory/audio_control.h"
#include "device/memory/memory_content.h"
#include "device/memory/memory_wire.h"

namespace device::memory {

/// The audio memory of one device: the copy last read from (or written to)
/// the device, the edited copy, and the exchanges that read, write and play
/// it. The model classes only fix the layout and the limits.
///
/// Threads: the page calls on the GUI thread, the channels and the mismatch
/// job call isPlaying and the lookups from dispatcher jobs, and a write runs
/// on a worker thread that a dispatcher job starts (a write takes minutes and
/// must not hold the dispatcher's executor). The lock guards both copies and
/// the flags; it is never held across an exchange or a callback, because the
/// device's callbacks exchange with the device and ask isPlaying again.
class AudioMemoryBase : public IAudioControl, public boost::enable_shared_from_this<AudioMemoryBase> {
public:
    typedef boost::function<void(Playing)> PlayingCallback;

    /// Exchanges are asked again this many times when the device is silent.
    static constexpr int kAttempts = 3;

    /// Reads "mem info", the root record and the catalogue. An unknown layout
    /// throws exception::UnknownVersionOfAudioMemory, a damaged catalogue
    /// exception::IncorrectFormat; with `allowOverwrite` both give an empty
    /// memory of the model's layout that counts as changed. No answer throws
    /// exception::Offline.
    AudioMemoryBase(boost::shared_ptr<IMemoryWire> wire, const MemoryLimits& limits, PlayingCallback playing,
                    bool allowOverwrite);
    ~AudioMemoryBase() override;

    void setScenariosChangedCallbacks(boost::function<void()> before, boost::function<void()> after) override;
    bool isPlaying() override;
    bool hasChanges() override;

    bool hasScenario(std::uint16_t id) override;
    std::uint16_t getScenarioPosition(std::uint16_t id) override;
    std::uint16_t getScenarioId(std::uint16_t position) override;
    bool hasFragment(std::uint16_t id) override;
    std::uint16_t getFragmentPosition(std::uint16_t id) override;
    std::uint16_t getFragmentId(std::uint16_t position) override;

    std::vector<ScenarioInfo> getScenarios() override;
    std::vector<FragmentInfo> getFragments() override;
    FragmentInfo getFragmentAt(std::uint16_t id) override;
    std::string getFragmentFile(std::uint16_t id) override;
    std::uint32_t getSizeOfFreeMemory() override;

    void playFragment(std::uint16_t id) override;
    void playScenario(std::uint16_t id) override;
    void stop() override;

    void addFragment(const std::wstring& title, const std::string& bytes) override;
    void addScenario(std::uint16_t gongId, std::uint16_t messageId, std::uint16_t periodSeconds,
                     const std::wstring& title) override;
    void removeFragment(std::uint16_t id) override;
    void removeScenario(std::uint16_t id) override;
    void clear() override;
    void revertChanges() override;
    void writeChanges(boost::function<void(int)> progress) override;

    std::string getImage() override;
    void setImage(const std::string& bytes) override;
    std::string makeMemoryStamp() override;

private:
    MemoryContent readDevice();
    /// readDevice; with allow-overwrite a memory of unknown layout or damaged
    /// gives an empty one and `replaced`.
    MemoryContent readOrReplace(bool& replaced);
    std::string exchange(const std::string& request);
    std::string readRange(std::uint32_t offset, std::uint32_t size, const boost::function<void(int)>& step);
    /// Reads the data of every fragment of the edited copy not yet held;
    /// `progress` gets 0..30.
    void fetchMissingData(const boost::function<void(int)>& progress);
    /// Reads one fragment's data from the device, checks its CRC and hands
    /// it to both copies; `step` gets the bytes of each chunk.
    std::shared_ptr<const std::string> readFragment(const FragmentRecord& record,
                                                    const boost::function<void(int)>& step);
    /// Throws "busy" while a write runs; under the lock.
    void refuseWhileWriting() const;
    void runWrite(boost::function<void(int)> progress);
    void startWorker(boost::function<void(int)> progress);
    void notifyPlaying(Playing state);

    const boost::shared_ptr<IMemoryWire> m_wire;
    const PlayingCallback m_playing;
    const bool m_allowOverwrite;

    mutable boost::mutex m_mutex;  // guards what follows
    MemoryLimits m_limits;
    MemoryContent m_read;    // as the device holds it
    MemoryContent m_edited;  // as the page shows it
    bool m_changed = false;
    bool m_writing = false;
    boost::function<void()> m_before;
    boost::function<void()> m_after;
    boost::thread m_worker;
};

}  // namespace device::memory
