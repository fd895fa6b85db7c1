#include "device/memory/audio_memory_base.h"

#include <algorithm>
#include <memory>

#include "base/exception.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"

namespace device::memory {

namespace {

typedef boost::lock_guard<boost::mutex> Lock;

void report(const boost::function<void(int)>& progress, int percent) {
    if (progress) progress(percent);
}

}  // namespace

AudioMemoryBase::AudioMemoryBase(boost::shared_ptr<IMemoryWire> wire, const MemoryLimits& limits,
                                 PlayingCallback playing, bool allowOverwrite)
    : m_wire(std::move(wire)),
      m_playing(std::move(playing)),
      m_allowOverwrite(allowOverwrite),
      m_limits(limits),
      m_read(limits),
      m_edited(limits) {
    bool replaced = false;
    m_read = readOrReplace(replaced);
    m_edited = m_read;
    m_changed = replaced;
}

MemoryContent AudioMemoryBase::readOrReplace(bool& replaced) {
    replaced = false;
    try {
        return readDevice();
    } catch (const exception::UnknownVersionOfAudioMemory&) {
        if (!m_allowOverwrite) throw;
        LOG_WARN(L"The audio memory has an unknown layout; an empty memory will replace it");
    } catch (const exception::IncorrectFormat& e) {
        if (!m_allowOverwrite) throw;
        LOG_WARN(L"The audio memory is damaged; an empty memory will replace it: %1%", std::string(e.what()));
    }
    replaced = true;
    Lock lock(m_mutex);
    return MemoryContent(m_limits);  // with the capacity readDevice learnt
}

AudioMemoryBase::~AudioMemoryBase() {
    // The worker holds a shared pointer to this object until it ends, so the
    // last pointer may go on the worker itself: it can't join itself.
    if (!m_worker.joinable()) return;
    if (m_worker.get_id() == boost::this_thread::get_id())
        m_worker.detach();
    else
        m_worker.join();
}

// ---- reading ------------------------------------------------------------------------------

std::string AudioMemoryBase::exchange(const std::string& request) {
    for (int attempt = 1;; ++attempt) {
        try {
            return m_wire->transfer(request);
        } catch (const exception::Offline&) {
            if (attempt >= kAttempts) throw;
            LOG_DEBUG(L"No answer to \"%1%\", attempt %2%", request.substr(0, 40), attempt);
        }
    }
}

std::string AudioMemoryBase::readRange(std::uint32_t offset, std::uint32_t size,
                                       const boost::function<void(int)>& step) {
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(kMemoryChunk, size - bytes.size()));
        const auto at = static_cast<std::uint32_t>(offset + bytes.size());
        bytes += parseMemoryRead(exchange(memoryReadCommand(at, length)), length);
        if (step) step(static_cast<int>(length));
    }
    return bytes;
}

MemoryContent AudioMemoryBase::readDevice() {
    MemoryLimits limits;
    {
        Lock lock(m_mutex);
        limits = m_limits;
    }
    const MemoryInfo info = parseMemoryInfo(exchange("mem info"));
    limits.capacity = info.capacity;
    // The capacity is known now even if what follows fails.
    {
        Lock lock(m_mutex);
        m_limits.capacity = info.capacity;
        m_read.setCapacity(info.capacity);
        m_edited.setCapacity(info.capacity);
    }
    if (!isKnownLayout(info.layout)) throw exception::UnknownVersionOfAudioMemory();
    if (info.imageSize == 0) return MemoryContent(limits);  // erased
    if (info.imageSize < kRootSize || info.imageSize > info.capacity) throwDamaged(L"размер образа");

    std::string head = readRange(0, kRootSize, {});
    const RootRecord root = parseRoot(head);
    if (root.imageSize != info.imageSize) throwDamaged(L"размер образа");
    head += readRange(kRootSize, root.catalogueSize, {});
    const Catalogue catalogue = parseCatalogue(root, head);
    LOG_DEBUG(L"Audio memory read: layout %1%, %2% fragments, %3% scenarios, %4% of %5% bytes", root.layout,
              root.fragments, root.scenarios, root.imageSize, info.capacity);
    return MemoryContent::fromCatalogue(limits, catalogue);
}

void AudioMemoryBase::fetchMissingData(const boost::function<void(int)>& progress) {
    std::vector<FragmentRecord> missing;
    {
        Lock lock(m_mutex);
        for (const auto& fragment : m_edited.fragments())
            if (!fragment.data) missing.push_back(fragment.record);
    }
    std::uint64_t total = 0, done = 0;
    for (const auto& record : missing) total += record.size;
    for (const auto& record : missing) {
        readFragment(record, [&](int bytes) {
            done += static_cast<std::uint64_t>(bytes);
            report(progress, static_cast<int>(30 * done / total));
        });
    }
}

std::shared_ptr<const std::string> AudioMemoryBase::readFragment(const FragmentRecord& record,
                                                                 const boost::function<void(int)>& step) {
    auto data = std::make_shared<const std::string>(readRange(record.offset, record.size, step));
    if (memoryCrc(*data) != record.crc) throwDamaged(L"контрольная сумма фрагмента");
    Lock lock(m_mutex);
    m_edited.supplyData(record.offset, record.crc, data);
    m_read.supplyData(record.offset, record.crc, data);
    return data;
}

// ---- lookups ---------------------------------------------------------------------------

void AudioMemoryBase::setScenariosChangedCallbacks(boost::function<void()> before, boost::function<void()> after) {
    Lock lock(m_mutex);
    m_before = std::move(before);
    m_after = std::move(after);
}

// One attempt only: the channels' jobs ask this of many devices in turn and
// must not wait three time-outs for each silent one.
bool AudioMemoryBase::isPlaying() {
    return parseMemoryState(m_wire->transfer(kMemoryStateRequest)).kind != MemoryState::Idle;
}

bool AudioMemoryBase::hasChanges() {
    Lock lock(m_mutex);
    return m_changed;
}

bool AudioMemoryBase::hasScenario(std::uint16_t id) { return getScenarioPosition(id) != kNone; }

std::uint16_t AudioMemoryBase::getScenarioPosition(std::uint16_t id) {
    Lock lock(m_mutex);
    return m_edited.scenarioPosition(id);
}

std::uint16_t AudioMemoryBase::getScenarioId(std::uint16_t position) {
    Lock lock(m_mutex);
    return m_edited.scenarioId(position);
}

bool AudioMemoryBase::hasFragment(std::uint16_t id) { return getFragmentPosition(id) != kNone; }

std::uint16_t AudioMemoryBase::getFragmentPosition(std::uint16_t id) {
    Lock lock(m_mutex);
    return m_edited.fragmentPosition(id);
}

std::uint16_t AudioMemoryBase::getFragmentId(std::uint16_t position) {
    Lock lock(m_mutex);
    return m_edited.fragmentId(position);
}

std::vector<ScenarioInfo> AudioMemoryBase::getScenarios() {
    Lock lock(m_mutex);
    return m_edited.scenarioList();
}

std::vector<FragmentInfo> AudioMemoryBase::getFragments() {
    Lock lock(m_mutex);
    return m_edited.fragmentList();
}

FragmentInfo AudioMemoryBase::getFragmentAt(std::uint16_t id) {
    Lock lock(m_mutex);
    const auto& fragment = m_edited.fragment(id);
    return {id, m_edited.fragmentPosition(id), fragment.record.title, fragment.record.size};
}

std::string AudioMemoryBase::getFragmentFile(std::uint16_t id) {
    FragmentRecord record;
    {
        Lock lock(m_mutex);
        const auto& fragment = m_edited.fragment(id);
        if (fragment.data) return *fragment.data;
        record = fragment.record;
    }
    return *readFragment(record, {});
}

std::uint32_t AudioMemoryBase::getSizeOfFreeMemory() {
    Lock lock(m_mutex);
    return m_edited.freeSize();
}

// ---- playback ------------------------------------------------------------------------------

void AudioMemoryBase::notifyPlaying(Playing state) {
    if (m_playing) m_playing(state);
}

void AudioMemoryBase::playFragment(std::uint16_t id) {
    expectMemoryOk(exchange(memoryPlayCommand(false, id)));
    notifyPlaying(Playing::Fragment);
}

void AudioMemoryBase::playScenario(std::uint16_t id) {
    expectMemoryOk(exchange(memoryPlayCommand(true, id)));
    notifyPlaying(Playing::ScenarioServer);
}

void AudioMemoryBase::stop() {
    expectMemoryOk(exchange("mem stop"));
    notifyPlaying(Playing::Stopped);
}

// ---- editing ---------------------------------------------------------------------------------

void AudioMemoryBase::refuseWhileWriting() const {
    if (m_writing) throw exception::UserResponse(L"busy", L"Идёт запись аудио памяти");
}

void AudioMemoryBase::addFragment(const std::wstring& title, const std::string& bytes) {
    {
        Lock lock(m_mutex);
        refuseWhileWriting();
    }
    // Asked outside the lock: the device may ask isPlaying, an exchange.
    if (m_wire->hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying");
    Lock lock(m_mutex);
    refuseWhileWriting();
    m_edited.addFragment(title, bytes);
    m_changed = true;
}

void AudioMemoryBase::addScenario(std::uint16_t gongId, std::uint16_t messageId, std::uint16_t periodSeconds,
                                  const std::wstring& title) {
    Lock lock(m_mutex);
    refuseWhileWriting();
    m_edited.addScenario(gongId, messageId, periodSeconds, title);
    m_changed = true;
}

void AudioMemoryBase::removeFragment(std::uint16_t id) {
    Lock lock(m_mutex);
    refuseWhileWriting();
    if (m_edited.removeFragment(id)) m_changed = true;
}

void AudioMemoryBase::removeScenario(std::uint16_t id) {
    Lock lock(m_mutex);
    refuseWhileWriting();
    if (m_edited.removeScenario(id)) m_changed = true;
}

void AudioMemoryBase::clear() {
    Lock lock(m_mutex);
    refuseWhileWriting();
    if (m_edited.empty()) return;
    m_edited.clear();
    m_changed = true;
}

void AudioMemoryBase::revertChanges() {
    {
        Lock lock(m_mutex);
        refuseWhileWriting();
        m_edited = m_read;
        m_changed = false;
    }
    if (!m_wire->isOnlineAndAnswered()) return;
    bool replaced = false;
    MemoryContent fresh = readOrReplace(replaced);
    Lock lock(m_mutex);
    refuseWhileWriting();
    m_read = fresh;
    m_edited = fresh;
    m_changed = replaced;  // a memory to be replaced stays ready to write
}

// ---- images -----------------------------------------------------------------------------------

std::string AudioMemoryBase::getImage() {
    {
        Lock lock(m_mutex);
        if (m_edited.empty()) throw exception::UserError(L"Образ памяти пуст", L"");
    }
    fetchMissingData({});
    Lock lock(m_mutex);
    return m_edited.image();
}

void AudioMemoryBase::setImage(const std::string& bytes) {
    if (bytes.size() < kRootSize) throw exception::UserError(L"Некорректный размер образа", L"");
    const Image image = parseImage(bytes);
    Lock lock(m_mutex);
    refuseWhileWriting();
    if (bytes.size() > m_limits.capacity)
        throw exception::UserError(L"Образ не помещается в память устройства", L"");
    m_edited = MemoryContent::fromImage(m_limits, image);
    m_changed = true;
}

std::string AudioMemoryBase::makeMemoryStamp() {
    Lock lock(m_mutex);
    return m_edited.stamp();
}

// ---- writing ----------------------------------------------------------------------------------

void AudioMemoryBase::writeChanges(boost::function<void(int)> progress) {
    {
        Lock lock(m_mutex);
        if (!m_changed) throw exception::UserError(L"Нет изменений для записи", L"");
        refuseWhileWriting();
    }
    if (m_wire->hasInternalPlaying()) throw exception::UserResponse(L"internalPlaying");
    if (!m_wire->isOnlineAndAnswered()) throw exception::Offline();
    {
        Lock lock(m_mutex);
        refuseWhileWriting();
        m_writing = true;
    }
    // The job holds the memory: a write once accepted always ends with its
    // one final report, even if the device drops its memory object meanwhile.
    const boost::shared_ptr<AudioMemoryBase> self = shared_from_this();
    const std::uint32_t job = base::ThreadDispatcher::add(L"It is deferred writing changes.", 500,
                                                          [self, progress] { self->startWorker(progress); });
    if (job == 0) {
        Lock lock(m_mutex);
        m_writing = false;
        throw exception::InternalError(L"the dispatcher doesn't run");
    }
}

void AudioMemoryBase::startWorker(boost::function<void(int)> progress) {
    boost::thread previous;
    {
        Lock lock(m_mutex);
        previous = std::move(m_worker);
        // The thread object keeps its function until joined; a strong pointer
        // left in it would keep this object (and so the thread) for ever. The
        // worker moves it out and drops it when the write ends.
        auto holder = std::make_shared<boost::shared_ptr<AudioMemoryBase>>(shared_from_this());
        m_worker = boost::thread([holder, progress] {
            const boost::shared_ptr<AudioMemoryBase> self = std::move(*holder);
            self->runWrite(progress);
        });
    }
    // The previous write has cleared its flag and is at most making its final
    // report, which may call back into this object: joined without the lock.
    if (previous.joinable()) previous.join();
}

void AudioMemoryBase::runWrite(boost::function<void(int)> progress) {
    bool written = false;
    try {
        report(progress, 0);
        fetchMissingData(progress);
        boost::function<void()> before, after;
        std::string image;
        {
            Lock lock(m_mutex);
            before = m_before;
            after = m_after;
            image = m_edited.image();
        }
        if (before) before();
        const auto size = static_cast<std::uint32_t>(image.size());
        for (std::uint32_t offset = 0; offset < size; offset += kMemoryChunk) {
            const std::string chunk = image.substr(offset, kMemoryChunk);
            expectMemoryOk(exchange(memoryWriteCommand(offset, chunk)));
            report(progress, 30 + static_cast<int>(69ull * (offset + chunk.size()) / size));
        }
        expectMemoryOk(exchange(memoryCommitCommand(size, memoryCrc(image))));
        {
            Lock lock(m_mutex);
            m_edited.markWritten();
            m_read = m_edited;
            m_changed = false;
        }
        written = true;
        LOG_INFO(L"The audio memory is written: %1% bytes", size);
        if (after) after();
    } catch (const std::exception& e) {
        if (written)
            LOG_ERROR(L"The settings after the audio-memory write failed: %1%", std::string(e.what()));
        else
            LOG_ERROR(L"Writing the audio memory failed: %1%", std::string(e.what()));
    }
    {
        Lock lock(m_mutex);
        m_writing = false;
    }
    try {
        report(progress, written ? 100 : -1);
    } catch (const std::exception& e) {
        LOG_ERROR(L"The progress report failed: %1%", std::string(e.what()));
    }
}

}  // namespace device::memory
