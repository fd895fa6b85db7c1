#include "audio/loudspeaker_ledger.h"

#include <algorithm>
#include <set>

#include <boost/smart_ptr/owner_less.hpp>
#include <boost/thread/thread.hpp>
#include <boost/weak_ptr.hpp>

#include "base/log.h"

namespace frm {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = device::RequestOutcome::Kind;

const wchar_t* const kOffline = L"устройство не в сети";
const wchar_t* const kOwnNotice = L"устройство воспроизводит собственное оповещение";

/// The pause before a request answered busy (late) is asked again.
constexpr std::chrono::milliseconds kBusyPause{device::DeviceBase::kBusyPauseMs};
/// How long a refusal or failure is kept for the late looks of the batches
/// that counted the loudspeaker silent: longer than any batch waits.
constexpr std::chrono::seconds kFailuresKept{60};

/// A loudspeaker's volume as it is heard: its volume while switched on,
/// exactly as it writes it, and whether it is.
struct Level {
    device::VolumeLevel volume = device::VolumeLevel::decibels(0);
    bool enabled = true;
    bool operator==(const Level& other) const { return volume == other.volume && enabled == other.enabled; }
    bool operator!=(const Level& other) const { return !(*this == other); }
};

/// What the wishes ask of a loudspeaker now.
struct Target {
    std::optional<device::AudioChannel> channel;
    /// A volume wished for, or the own one owed back.
    bool levelWanted = false;
    /// The wished volume, a percent; empty: the own one.
    std::optional<int> volume;
    bool enabled = true;
};

bool isNotice(const std::optional<device::AudioChannel>& channel) {
    return channel && *channel != device::CHANNEL_DISCOVERY;
}

}  // namespace

// ---- batches -----------------------------------------------------------------------------------

struct LedgerBatch::State {
    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    std::size_t pending = 0;  // loudspeakers attached and not settled
    bool sealed = false;      // every loudspeaker attached
    bool stopped = false;     // the ledger ended
    Settlements settled;
    Loudspeaker firstDone;
    const Clock::time_point made = Clock::now();
    std::vector<std::function<void(const Settlements&)>> then;

    bool complete() const { return stopped || (sealed && pending == 0); }

    /// Under no lock of the ledger's that `then` could need: the callbacks
    /// run on the caller.
    void finishIfComplete(std::unique_lock<std::mutex>& lock) {
        if (!complete()) return;
        changed.notify_all();
        std::vector<std::function<void(const Settlements&)>> callbacks;
        callbacks.swap(then);
        const Settlements copy = settled;
        lock.unlock();
        for (auto& callback : callbacks) callback(copy);
    }
};

LedgerBatch::LedgerBatch() : m_state(std::make_shared<State>()) {}

bool LedgerBatch::wait(std::chrono::milliseconds limit) const {
    const auto until = Clock::now() + limit;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (!m_state->complete()) {
        if (Clock::now() >= until) return false;
        lock.unlock();
        boost::this_thread::interruption_point();
        lock.lock();
        m_state->changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    return true;
}

Loudspeaker LedgerBatch::firstDone(std::chrono::milliseconds limit) const {
    const auto until = Clock::now() + limit;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    while (!m_state->firstDone && !m_state->complete()) {
        if (Clock::now() >= until) break;
        lock.unlock();
        boost::this_thread::interruption_point();
        lock.lock();
        m_state->changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    return m_state->firstDone;
}

bool LedgerBatch::settled() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->complete();
}

LedgerBatch::Settlements LedgerBatch::settlements() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->settled;
}

void LedgerBatch::whenSettled(std::function<void(const Settlements&)> then) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->then.push_back(std::move(then));
    m_state->finishIfComplete(lock);
}

StepFailures LedgerBatch::failures(Settlement::Step step, Answer answer) const {
    StepFailures failures;
    for (const auto& [speaker, settlement] : settlements()) {
        if (settlement.kind == Settlement::kDone || settlement.step != step) continue;
        const bool later = settlement.toldLater();
        if ((answer == Answer::kAnswered && later) || (answer == Answer::kUnanswered && !later)) continue;
        failures.add(settlement.cause, speaker->getTitle());
    }
    return failures;
}

// ---- the ledger's state --------------------------------------------------------------------------

class LoudspeakerLedger::Impl : public std::enable_shared_from_this<LoudspeakerLedger::Impl> {
public:
    Impl(std::shared_ptr<LoudspeakerLink> link, Options options) : m_link(std::move(link)), m_options(options) {}

    LedgerBatch hold(Holder holder, const std::map<Loudspeaker, Wish>& wishes);
    LedgerBatch release(Holder holder, const DeviceSet* speakers);
    LedgerBatch resetChannel(const DeviceSet& speakers);
    LedgerBatch setOwnVolume(const DeviceSet& speakers, const OwnVolume& volume);
    std::optional<OwnVolume> heldOwnVolume(const Loudspeaker& speaker);
    LedgerBatch dismiss(const DeviceSet& speakers, Finder find);
    LedgerBatch close();
    std::chrono::milliseconds giveBackLimit();
    void park(Holder holder);
    DeviceSet held(Holder holder);
    DeviceSet switchingBack();
    std::size_t size();
    void afterLateReplies(const LedgerBatch& batch, std::function<void(const LedgerBatch&)> then);
    /// The retry thread's look: false once ending.
    bool retry();
    /// Waits for the retry thread's next look (or the end).
    void pause();
    /// Nothing more is sent; waiting batches settle.
    void end();

private:
    struct Waiting {
        std::shared_ptr<LedgerBatch::State> batch;
        Settlement settlement;
    };
    /// A settled batch whose late replies are waited for.
    struct Later {
        Clock::time_point due;
        std::shared_ptr<LedgerBatch::State> batch;
        std::function<void(const LedgerBatch&)> then;
    };
    /// A loudspeaker's last refusal or failure, for the batches that counted
    /// it silent before it came.
    struct Failure {
        Settlement settlement;
        Clock::time_point at;
    };
    struct Entry {
        Loudspeaker speaker;
        std::array<std::optional<Wish>, 2> wishes;
        /// A holder's wish kept, but nothing sent for it (see park).
        std::array<bool, 2> parked{{false, false}};
        // The loudspeaker's own, read when a holder first wanted a volume of
        // it, or the operator's since: exactly as it told it, or as the
        // operator's percent was sent (`ownPercent`, what he set).
        std::optional<device::VolumeLevel> ownVolume;
        std::optional<int> ownPercent;
        bool ownEnabled = true;
        bool ownEnabledSet = false;  // by the operator: a read does not change it
        bool ownUnreadable = false;  // the read was refused: its volume is left alone
        // The read gave no answer: `ownVolume` is what its object last heard
        // of it, and a late answer to the read takes its place.
        bool ownReported = false;
        // What the loudspeaker has, as far as known.
        std::optional<device::AudioChannel> channel;
        std::optional<Level> level;
        // A holder asked for a switch / a volume: the own ones are owed back.
        bool channelTouched = false;
        bool levelTouched = false;
        bool resetChannel = false;
        bool inFlight = false;
        // The last answer, of any request.
        Clock::time_point answeredAt{};
        // No answer to the last request: not waited for, asked again later.
        bool unreachable = false;
        bool retryNow = false;
        Clock::time_point retryAt{};
        std::chrono::milliseconds backoff{0};
        bool waitsOnline = false;
        // A late reply said busy: the request is asked again after a pause.
        std::optional<Clock::time_point> pausedUntil;
        int busyRetries = 0;
        // Deleted from the program: given back, then gone; `find` looks for
        // the object of the loudspeaker found again.
        bool dismissed = false;
        Finder find;
        // Another object of the same loudspeaker owes its give-back now.
        bool superseded = false;
        // What the object knows of it may be what a notice left: neither its
        // channel nor its volume is taken from the object.
        bool distrusted = false;
        // The loudspeaker's returns count as last seen.
        std::uint64_t returns = 0;
        // Answers for the wishes as they are; forgotten when they change.
        std::optional<device::AudioChannel> memoryFreeFor;  // a memory check allowed this switch
        std::optional<device::AudioChannel> refusedChannel;
        std::optional<device::AudioChannel> failedChannel;
        std::optional<Level> failedLevel;
        std::vector<Waiting> waiting;
    };
    struct Request {
        enum Kind { kMemory, kSwitch, kVolume, kRead };
        Loudspeaker speaker;
        Kind kind = kSwitch;
        device::AudioChannel channel = device::CHANNEL_DISCOVERY;
        Level level;
        /// Whether a switch had been asked for before this one.
        bool touchedBefore = false;

        /// The step a settlement names for it (a memory check is the switch's).
        Settlement::Step step() const {
            return kind == kVolume ? Settlement::kVolume : kind == kRead ? Settlement::kVolumeRead : Settlement::kSwitch;
        }
    };
    using Requests = std::vector<Request>;
    using After = std::vector<std::function<void()>>;

    Entry& entryOf(const Loudspeaker& speaker);
    /// A deleted loudspeaker found again as `speaker` takes over what the
    /// deleted one's entry owes; under the lock.
    void adopt(Entry& entry);
    /// Whether a holder may take the loudspeaker (not closed, not deleted).
    bool takeable(const Loudspeaker& speaker);
    /// The read answered `level`: the own volume, and the own switch state
    /// unless the operator set it. `now`: answered in time, so what the
    /// loudspeaker has is known too (a late answer may come after a volume
    /// of the ledger's).
    void takeRead(Entry& entry, const device::VolumeLevel& level, bool now);
    /// The read gave no answer: the own volume is what the loudspeaker
    /// reported last, as its object keeps it, unless that may be a notice's.
    void takeReported(Entry& entry);
    /// The retry thread's look for deleted loudspeakers found again.
    void lookForFoundAgain(Requests& requests, After& after);
    /// The loudspeaker came back and may hold anything: what is known of it
    /// is forgotten, so that its holders' wishes or what it owes go again.
    void cameBack(Entry& entry);
    Target targetOf(const Entry& entry) const;
    /// The strongest holder with a wish, if any.
    std::optional<Holder> topHolder(const Entry& entry) const;
    /// Chooses the entry's next request, or settles the batches waiting for
    /// it; erases an entry that owes nothing. Under the lock.
    void advance(const Loudspeaker& speaker, Requests& out, After& after);
    /// What to send next; false when the entry is idle.
    bool choose(Entry& entry, Request& request);
    void attach(Entry& entry, const std::shared_ptr<LedgerBatch::State>& batch);
    static void forget(Entry& entry);
    static void note(Entry& entry, Settlement::Kind kind, Settlement::Step step, const std::wstring& cause);
    void settle(Entry& entry, After& after);
    void settleOne(const Loudspeaker& speaker, const Waiting& waiting, After& after);
    void unanswered(Entry& entry, Settlement::Step step, After& after);
    LedgerBatch seal(const std::shared_ptr<LedgerBatch::State>& batch, After& after);
    /// Runs `change` under the lock with a new batch, then what it settled
    /// and sent, outside the lock.
    template <class Change>
    LedgerBatch changed(Change change);
    void send(Requests& requests);
    /// `value`: a memory check's answer (1: it plays); `level`: a read's.
    void finished(const Request& request, const device::RequestOutcome& outcome, int value,
                  const std::optional<device::VolumeLevel>& level);
    /// A refusal or failure answered: the batches that counted the
    /// loudspeaker silent learn it at their late look.
    void noteFailure(const Loudspeaker& speaker, const Settlement& settlement);
    static void run(After& after);
    /// How long after a batch settled the late replies of the loudspeakers
    /// it counted silent may still come: as long as the transport takes them
    /// from the latest of those loudspeakers, and a tenth of its resend time
    /// for the completion to come through the transport's completer.
    std::chrono::milliseconds lateReplyTime(const LedgerBatch::Settlements& settled);
    /// Runs the batches' late looks that are due.
    void runLater();

    const std::shared_ptr<LoudspeakerLink> m_link;
    const Options m_options;
    std::mutex m_mutex;  // guards what follows
    std::map<Loudspeaker, Entry> m_entries;
    bool m_ending = false;
    bool m_closed = false;
    std::vector<Later> m_later;
    std::map<Loudspeaker, Failure> m_failures;
    /// Deleted loudspeakers' objects: held no more.
    std::set<boost::weak_ptr<device::OrvelInfo>, boost::owner_less<boost::weak_ptr<device::OrvelInfo>>>
        m_dismissed;
    /// Deleted loudspeakers given back: an object found again for one may
    /// still tell the volume a notice set, so their volume is read anew.
    std::set<net::HardwareAddress> m_readAnew;
    std::condition_variable m_wake;
};

void LoudspeakerLedger::Impl::run(After& after) {
    for (auto& callback : after) callback();
    after.clear();
}

LoudspeakerLedger::Impl::Entry& LoudspeakerLedger::Impl::entryOf(const Loudspeaker& speaker) {
    auto found = m_entries.find(speaker);
    if (found != m_entries.end()) return found->second;
    Entry& entry = m_entries[speaker];
    entry.speaker = speaker;
    entry.returns = m_link->returns(speaker);
    if (!m_readAnew.empty() && m_readAnew.erase(speaker->getHardwareAddress()) != 0) entry.distrusted = true;
    if (!entry.distrusted) {
        const LoudspeakerLink::Known known = m_link->known(speaker);
        entry.channel = known.channel;
        entry.ownEnabled = known.enabled;
        if (known.volume) entry.level = Level{*known.volume, known.enabled};
    }
    adopt(entry);
    return entry;
}

void LoudspeakerLedger::Impl::adopt(Entry& entry) {
    for (auto& [other, old] : m_entries) {
        if (!old.dismissed || old.superseded || other == entry.speaker ||
            other->getHardwareAddress() != entry.speaker->getHardwareAddress())
            continue;
        LOG_DEBUG(L"Loudspeaker ledger: '%1%' found again, its give-back goes through the new object",
                  entry.speaker->getTitle());
        // Where the deleted object's notice left it is not known to the new
        // one: the switch back and the own volume are sent anew.
        if (old.ownVolume) {
            entry.ownVolume = old.ownVolume;
            entry.ownPercent = old.ownPercent;
            entry.ownReported = old.ownReported;
        }
        entry.ownEnabled = old.ownEnabled;
        entry.ownEnabledSet = old.ownEnabledSet;
        entry.ownUnreadable = old.ownUnreadable;
        entry.distrusted = entry.distrusted || !old.ownVolume;
        entry.channelTouched = entry.channelTouched || old.channelTouched;
        entry.levelTouched = entry.levelTouched || old.levelTouched;
        entry.channel.reset();
        entry.level.reset();
        forget(entry);
        old.superseded = true;
    }
}

bool LoudspeakerLedger::Impl::takeable(const Loudspeaker& speaker) {
    return !m_closed &&
           (m_dismissed.empty() || m_dismissed.count(boost::weak_ptr<device::OrvelInfo>(speaker)) == 0);
}

void LoudspeakerLedger::Impl::takeRead(Entry& entry, const device::VolumeLevel& level, bool now) {
    const bool trusted = !entry.distrusted;
    entry.ownVolume = level;
    entry.ownPercent.reset();
    entry.ownReported = false;
    entry.distrusted = false;
    if (level.isMuted() && trusted) {
        // Muted by the program: what it comes back to is the level its
        // object kept at the mute, not the muted one it tells.
        const LoudspeakerLink::Known known = m_link->known(entry.speaker);
        if (known.volume && !known.volume->isMuted()) entry.ownVolume = known.volume;
    }
    const bool switchedOff = *entry.ownVolume != level;
    if (!entry.ownEnabledSet) entry.ownEnabled = !switchedOff;
    if (now) entry.level = Level{*entry.ownVolume, !switchedOff};
}

void LoudspeakerLedger::Impl::takeReported(Entry& entry) {
    if (entry.ownVolume || entry.distrusted) return;
    const LoudspeakerLink::Known known = m_link->known(entry.speaker);
    if (!known.volume) return;
    LOG_DEBUG(L"Loudspeaker ledger: '%1%' gave its volume read no answer, it gets back %2% as last reported",
              entry.speaker->getTitle(), known.volume->text());
    entry.ownVolume = known.volume;
    entry.ownPercent.reset();
    entry.ownReported = true;
}

void LoudspeakerLedger::Impl::cameBack(Entry& entry) {
    LOG_DEBUG(L"Loudspeaker ledger: '%1%' came back, driven again", entry.speaker->getTitle());
    entry.channel.reset();
    entry.level.reset();
    forget(entry);
    // Nothing of the volume is owed: its own is taken anew when wanted.
    if (!entry.levelTouched) {
        entry.ownVolume.reset();
        entry.ownPercent.reset();
        entry.ownUnreadable = false;
        entry.ownReported = false;
    }
    entry.busyRetries = 0;
    if (entry.unreachable) entry.retryNow = true;
}

std::optional<Holder> LoudspeakerLedger::Impl::topHolder(const Entry& entry) const {
    for (Holder holder : {Holder::kAlarm, Holder::kPlayer})
        if (entry.wishes[static_cast<std::size_t>(holder)]) return holder;
    return std::nullopt;
}

Target LoudspeakerLedger::Impl::targetOf(const Entry& entry) const {
    Target target;
    for (Holder holder : {Holder::kAlarm, Holder::kPlayer}) {
        const std::optional<Wish>& wish = entry.wishes[static_cast<std::size_t>(holder)];
        if (wish && wish->channel) {
            target.channel = wish->channel;
            break;
        }
    }
    if (!target.channel && (entry.channelTouched || entry.resetChannel)) target.channel = device::CHANNEL_DISCOVERY;
    for (Holder holder : {Holder::kAlarm, Holder::kPlayer}) {
        const std::optional<Wish>& wish = entry.wishes[static_cast<std::size_t>(holder)];
        if (!wish || (!wish->volume && !wish->enabled)) continue;
        target.levelWanted = true;
        target.volume = wish->volume;
        target.enabled = wish->enabled.value_or(wish->volume ? true : entry.ownEnabled);
        return target;
    }
    if (entry.levelTouched) {
        target.levelWanted = true;
        target.enabled = entry.ownEnabled;
    }
    return target;
}

void LoudspeakerLedger::Impl::forget(Entry& entry) {
    entry.memoryFreeFor.reset();
    entry.refusedChannel.reset();
    entry.failedChannel.reset();
    entry.failedLevel.reset();
}

void LoudspeakerLedger::Impl::attach(Entry& entry, const std::shared_ptr<LedgerBatch::State>& batch) {
    {
        std::lock_guard<std::mutex> lock(batch->mutex);
        ++batch->pending;
    }
    entry.waiting.push_back({batch, Settlement()});
}

void LoudspeakerLedger::Impl::note(Entry& entry, Settlement::Kind kind, Settlement::Step step,
                                   const std::wstring& cause) {
    for (Waiting& waiting : entry.waiting)
        if (waiting.settlement.kind == Settlement::kDone) waiting.settlement = {kind, step, cause};
}

void LoudspeakerLedger::Impl::settle(Entry& entry, After& after) {
    std::vector<Waiting> waiting;
    waiting.swap(entry.waiting);
    for (const Waiting& w : waiting) settleOne(entry.speaker, w, after);
}

void LoudspeakerLedger::Impl::settleOne(const Loudspeaker& speaker, const Waiting& waiting, After& after) {
    const std::shared_ptr<LedgerBatch::State> batch = waiting.batch;
    const Settlement settlement = waiting.settlement;
    after.push_back([batch, speaker, settlement] {
        std::unique_lock<std::mutex> lock(batch->mutex);
        if (batch->settled.emplace(speaker, settlement).second) --batch->pending;
        if (!batch->firstDone && settlement.kind == Settlement::kDone) {
            batch->firstDone = speaker;
            batch->changed.notify_all();
        }
        batch->finishIfComplete(lock);
    });
}

void LoudspeakerLedger::Impl::unanswered(Entry& entry, Settlement::Step step, After& after) {
    entry.unreachable = true;
    entry.retryNow = false;
    entry.backoff = entry.backoff.count() == 0 ? m_options.firstRetry
                                                : std::min(entry.backoff * 2, m_options.lastRetry);
    entry.retryAt = Clock::now() + entry.backoff;
    note(entry, Settlement::kSilent, step, device::kNoAnswerCause);
    settle(entry, after);
}

bool LoudspeakerLedger::Impl::choose(Entry& entry, Request& request) {
    const Target target = targetOf(entry);
    request.speaker = entry.speaker;
    const bool memory = m_link->checksMemory(entry.speaker);
    const auto switchTo = [&](device::AudioChannel channel) {
        request.channel = channel;
        request.kind = memory && entry.memoryFreeFor != channel ? Request::kMemory : Request::kSwitch;
        return true;
    };
    // A notice's channel first: whether the loudspeaker is free decides the rest.
    if (isNotice(target.channel) && entry.channel != target.channel && entry.refusedChannel != target.channel &&
        entry.failedChannel != target.channel)
        return switchTo(*target.channel);
    // A loudspeaker that plays a notice of its own keeps its volume.
    const bool refused = isNotice(target.channel) && entry.channel != target.channel;
    if (target.levelWanted && !refused) {
        // Its own volume is what it has now: read before the first volume
        // of a holder's (or the operator's sound button) reaches it.
        if (!entry.ownVolume) {
            if (!entry.ownUnreadable) {
                request.kind = Request::kRead;
                return true;
            }
        } else if (const std::optional<device::VolumeLevel> volume =
                       target.volume ? m_link->levelOf(entry.speaker, *target.volume) : entry.ownVolume) {
            const Level level{*volume, target.enabled};
            if (entry.level != level && entry.failedLevel != level) {
                request.kind = Request::kVolume;
                request.level = level;
                return true;
            }
        }
    }
    // Back to the common channel once the volume is back.
    if (target.channel == device::CHANNEL_DISCOVERY && entry.channel != target.channel &&
        entry.refusedChannel != target.channel && entry.failedChannel != target.channel)
        return switchTo(device::CHANNEL_DISCOVERY);
    return false;
}

void LoudspeakerLedger::Impl::advance(const Loudspeaker& speaker, Requests& out, After& after) {
    const auto found = m_entries.find(speaker);
    if (found == m_entries.end()) return;
    Entry& entry = found->second;
    if (entry.inFlight) return;
    if (entry.pausedUntil) {
        if (Clock::now() < *entry.pausedUntil) return;
        entry.pausedUntil.reset();
    }
    if (entry.superseded) {
        settle(entry, after);
        m_entries.erase(found);
        return;
    }
    const std::optional<Holder> top = topHolder(entry);
    if (m_ending || (top && entry.parked[static_cast<std::size_t>(*top)])) {
        settle(entry, after);
        return;
    }
    Request request;
    if (!choose(entry, request)) {
        settle(entry, after);
        entry.resetChannel = false;
        // Owes nothing: what the loudspeaker has is its own, and what the
        // entry knows of it is not carried to the next holder (the operator
        // or a reboot may change it meanwhile).
        if (!top) {
            if (entry.dismissed) m_readAnew.insert(speaker->getHardwareAddress());
            m_entries.erase(found);
        }
        return;
    }
    if (!m_link->online(speaker)) {
        entry.waitsOnline = true;
        note(entry, Settlement::kOffline, request.step(), kOffline);
        settle(entry, after);
        return;
    }
    entry.waitsOnline = false;
    if (entry.unreachable && !entry.retryNow) {
        note(entry, Settlement::kSilent, request.step(), device::kNoAnswerCause);
        settle(entry, after);
        return;
    }
    entry.inFlight = true;
    request.touchedBefore = entry.channelTouched;
    if (request.kind == Request::kSwitch) entry.channelTouched = true;
    if (request.kind == Request::kVolume) entry.levelTouched = true;
    out.push_back(request);
}

LedgerBatch LoudspeakerLedger::Impl::seal(const std::shared_ptr<LedgerBatch::State>& state, After& after) {
    after.push_back([state] {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->sealed = true;
        state->finishIfComplete(lock);
    });
    LedgerBatch batch;
    batch.m_state = state;
    return batch;
}

template <class Change>
LedgerBatch LoudspeakerLedger::Impl::changed(Change change) {
    const auto state = LedgerBatch().m_state;
    Requests requests;
    After after;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(state, requests, after);
    }
    LedgerBatch batch = seal(state, after);
    run(after);
    send(requests);
    return batch;
}

LedgerBatch LoudspeakerLedger::Impl::hold(Holder holder, const std::map<Loudspeaker, Wish>& wishes) {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        for (const auto& [speaker, wish] : wishes) {
            if (!takeable(speaker)) continue;
            Entry& entry = entryOf(speaker);
            entry.parked[static_cast<std::size_t>(holder)] = false;
            std::optional<Wish>& held = entry.wishes[static_cast<std::size_t>(holder)];
            // The same wish again (a notice making sure of its loudspeakers)
            // asks nothing anew: refusals and silences stand.
            if (!held || !(*held == wish)) {
                held = wish;
                forget(entry);
                // A new wish asks again at once what gave no answer before.
                if (entry.unreachable) entry.retryNow = true;
            }
            attach(entry, state);
            advance(speaker, requests, after);
        }
    });
}

LedgerBatch LoudspeakerLedger::Impl::release(Holder holder, const DeviceSet* speakers) {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        std::vector<Loudspeaker> released;
        for (auto& [speaker, entry] : m_entries) {
            if (!entry.wishes[static_cast<std::size_t>(holder)]) continue;
            if (speakers != nullptr && speakers->count(speaker) == 0) continue;
            entry.wishes[static_cast<std::size_t>(holder)].reset();
            entry.parked[static_cast<std::size_t>(holder)] = false;
            forget(entry);
            released.push_back(speaker);
        }
        for (const Loudspeaker& speaker : released) {
            attach(m_entries.at(speaker), state);
            advance(speaker, requests, after);
        }
    });
}

LedgerBatch LoudspeakerLedger::Impl::resetChannel(const DeviceSet& speakers) {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        for (const Loudspeaker& speaker : speakers) {
            if (!takeable(speaker)) continue;
            Entry& entry = entryOf(speaker);
            if (topHolder(entry)) continue;
            entry.resetChannel = true;
            // Whatever the object last knew: a loudspeaker that took over may
            // have moved on its own.
            if (entry.channel != device::CHANNEL_DISCOVERY) entry.channel.reset();
            forget(entry);
            attach(entry, state);
            advance(speaker, requests, after);
        }
    });
}

LedgerBatch LoudspeakerLedger::Impl::setOwnVolume(const DeviceSet& speakers, const OwnVolume& volume) {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        for (const Loudspeaker& speaker : speakers) {
            if (!takeable(speaker)) continue;
            const std::optional<device::VolumeLevel> level =
                volume.percent ? m_link->levelOf(speaker, *volume.percent) : std::nullopt;
            if (volume.percent && !level) continue;
            Entry& entry = entryOf(speaker);
            if (level) {
                entry.ownVolume = level;
                entry.ownPercent = volume.percent;
                entry.ownUnreadable = false;
                entry.ownReported = false;
                entry.distrusted = false;
            }
            // A volume is heard; the sound button keeps the volume.
            entry.ownEnabled = volume.enabled.value_or(volume.percent ? true : entry.ownEnabled);
            entry.ownEnabledSet = true;
            // Owed from now on: written at once unless a holder keeps its own level.
            entry.levelTouched = true;
            entry.failedLevel.reset();
            attach(entry, state);
            advance(speaker, requests, after);
        }
    });
}

std::optional<OwnVolume> LoudspeakerLedger::Impl::heldOwnVolume(const Loudspeaker& speaker) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(speaker);
    if (found == m_entries.end()) return std::nullopt;
    const Entry& entry = found->second;
    for (const std::optional<Wish>& wish : entry.wishes)
        if (wish && (wish->volume || wish->enabled)) {
            OwnVolume own{entry.ownPercent, entry.ownEnabled};
            if (!own.percent && entry.ownVolume) own.percent = static_cast<int>(entry.ownVolume->percent());
            return own;
        }
    return std::nullopt;
}

LedgerBatch LoudspeakerLedger::Impl::dismiss(const DeviceSet& speakers, Finder find) {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        for (const Loudspeaker& speaker : speakers) {
            m_dismissed.insert(boost::weak_ptr<device::OrvelInfo>(speaker));
            const auto found = m_entries.find(speaker);
            if (found == m_entries.end()) continue;  // owes nothing
            Entry& entry = found->second;
            entry.wishes = {};
            entry.parked = {{false, false}};
            forget(entry);
            entry.dismissed = true;
            entry.find = find;
            attach(entry, state);
            advance(speaker, requests, after);
        }
    });
}

LedgerBatch LoudspeakerLedger::Impl::close() {
    return changed([&](const std::shared_ptr<LedgerBatch::State>& state, Requests& requests, After& after) {
        m_closed = true;
        std::vector<Loudspeaker> speakers;
        for (auto& [speaker, entry] : m_entries) {
            entry.wishes = {};
            entry.parked = {{false, false}};
            forget(entry);
            speakers.push_back(speaker);
        }
        for (const Loudspeaker& speaker : speakers) {
            attach(m_entries.at(speaker), state);
            advance(speaker, requests, after);
        }
    });
}

std::chrono::milliseconds LoudspeakerLedger::Impl::giveBackLimit() {
    std::vector<Loudspeaker> speakers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& [speaker, entry] : m_entries) speakers.push_back(speaker);
    }
    // Outside the lock: the link asks the transport.
    std::chrono::milliseconds longest{0};
    for (const Loudspeaker& speaker : speakers) {
        const device::ReplyTimes times = m_link->replyTimes(speaker);
        longest = std::max(longest, times.giveUp + times.lateReply + times.resend);
    }
    return longest;
}

void LoudspeakerLedger::Impl::park(Holder holder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [speaker, entry] : m_entries)
        if (entry.wishes[static_cast<std::size_t>(holder)]) entry.parked[static_cast<std::size_t>(holder)] = true;
}

DeviceSet LoudspeakerLedger::Impl::held(Holder holder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceSet speakers;
    for (const auto& [speaker, entry] : m_entries)
        if (entry.wishes[static_cast<std::size_t>(holder)]) speakers.insert(speaker);
    return speakers;
}

DeviceSet LoudspeakerLedger::Impl::switchingBack() {
    std::lock_guard<std::mutex> lock(m_mutex);
    DeviceSet speakers;
    for (const auto& [speaker, entry] : m_entries)
        if (entry.channelTouched && entry.channel != device::CHANNEL_DISCOVERY &&
            targetOf(entry).channel == device::CHANNEL_DISCOVERY)
            speakers.insert(speaker);
    return speakers;
}

std::size_t LoudspeakerLedger::Impl::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

void LoudspeakerLedger::Impl::send(Requests& requests) {
    const std::weak_ptr<Impl> weak = weak_from_this();
    for (const Request& request : requests) {
        const Loudspeaker& speaker = request.speaker;
        switch (request.kind) {
            case Request::kMemory:
                m_link->internalPlaying(speaker, [weak, request](const device::RequestOutcome& outcome, bool playing) {
                    if (const auto self = weak.lock()) self->finished(request, outcome, playing ? 1 : 0, std::nullopt);
                });
                break;
            case Request::kSwitch:
                m_link->switchChannel(speaker, request.channel, [weak, request](const device::RequestOutcome& outcome) {
                    if (const auto self = weak.lock()) self->finished(request, outcome, 0, std::nullopt);
                });
                break;
            case Request::kVolume:
                m_link->setVolume(speaker, request.level.volume, request.level.enabled,
                                  [weak, request](const device::RequestOutcome& outcome) {
                                      if (const auto self = weak.lock())
                                          self->finished(request, outcome, 0, std::nullopt);
                                  });
                break;
            case Request::kRead:
                m_link->readVolume(speaker, [weak, request](const device::RequestOutcome& outcome,
                                                            std::optional<device::VolumeLevel> level) {
                    if (const auto self = weak.lock()) self->finished(request, outcome, 0, level);
                });
                break;
        }
    }
    requests.clear();
}

void LoudspeakerLedger::Impl::finished(const Request& request, const device::RequestOutcome& outcome, int value,
                                       const std::optional<device::VolumeLevel>& level) {
    Requests requests;
    After after;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_entries.find(request.speaker);
        if (found == m_entries.end()) return;
        Entry& entry = found->second;
        // A late reply answers a request given up before: what it says
        // stands, and the loudspeaker answers again.
        if (!outcome.late) entry.inFlight = false;
        const Settlement::Step step = request.step();
        // What the loudspeaker refused or failed, told to the batches waiting
        // for it and to those that counted it silent before.
        std::optional<Settlement> failure;
        const auto fail = [&](Settlement::Kind kind, const std::wstring& cause) {
            failure = Settlement{kind, step, cause, false};
        };
        if (outcome.kind == Kind::kSilent) {
            if (request.kind == Request::kSwitch) entry.channel.reset();
            if (request.kind == Request::kVolume) entry.level.reset();
            // Its chain goes on with the volume it reported last as its own.
            if (request.kind == Request::kRead && !outcome.late) takeReported(entry);
            LOG_DEBUG(L"Loudspeaker ledger: no answer from '%1%'", entry.speaker->getTitle());
            if (!outcome.late) unanswered(entry, step, after);
        } else if (outcome.busy && !outcome.late) {
            // Still busy with something of its own after the device layer
            // asked again for a while: it is asked again after a growing
            // pause, as one that gives no answer is, and told only if it is
            // still busy when the batches look at their late replies.
            entry.answeredAt = Clock::now();
            entry.backoff = entry.backoff.count() == 0 ? m_options.firstRetry
                                                        : std::min(entry.backoff * 2, m_options.lastRetry);
            entry.pausedUntil = entry.answeredAt + entry.backoff;
            LOG_DEBUG(L"Loudspeaker ledger: '%1%' is busy, asked again later", entry.speaker->getTitle());
            const Settlement busy{Settlement::kSilent, step, outcome.cause, false};
            note(entry, busy.kind, busy.step, busy.cause);
            noteFailure(request.speaker, busy);
            settle(entry, after);
        } else {
            entry.answeredAt = Clock::now();
            if (entry.unreachable)
                LOG_INFO(L"Громкоговоритель '%1%' снова отвечает", entry.speaker->getTitle());
            entry.unreachable = false;
            entry.retryNow = false;
            entry.backoff = std::chrono::milliseconds(0);
            if (outcome.busy && outcome.late && entry.busyRetries < device::DeviceBase::kBusyRetries) {
                // Still busy with an earlier request when it answered late:
                // asked again after a pause, as a busy answer in time is.
                ++entry.busyRetries;
                entry.pausedUntil = Clock::now() + kBusyPause;
                LOG_DEBUG(L"Loudspeaker ledger: '%1%' was busy, asked again", entry.speaker->getTitle());
            } else {
                if (outcome.kind == Kind::kDone) entry.busyRetries = 0;
                switch (request.kind) {
                    case Request::kMemory:
                        if (outcome.kind != Kind::kDone) {
                            fail(Settlement::kFailed, outcome.cause);
                            entry.failedChannel = request.channel;
                        } else if (value != 0) {
                            fail(Settlement::kBusy, kOwnNotice);
                            entry.refusedChannel = request.channel;
                        } else {
                            entry.memoryFreeFor = request.channel;
                        }
                        break;
                    case Request::kSwitch:
                        entry.memoryFreeFor.reset();
                        if (outcome.kind == Kind::kDone) {
                            entry.channel = request.channel;
                        } else if (outcome.kind == Kind::kRefused) {
                            // It may switch later (deferred) or keep the
                            // repeater's, as its object knows.
                            entry.channel = m_link->known(entry.speaker).channel;
                            // The common channel refused: the repeater's stays, as it should.
                            if (request.channel != device::CHANNEL_DISCOVERY) fail(Settlement::kBusy, outcome.cause);
                            entry.refusedChannel = request.channel;
                        } else {
                            fail(Settlement::kFailed, outcome.cause);
                            entry.failedChannel = request.channel;
                            // Refused with an error: it did not move, and owes no switch back.
                            entry.channelTouched = request.touchedBefore;
                        }
                        break;
                    case Request::kVolume:
                        if (outcome.kind == Kind::kDone) {
                            entry.level = request.level;
                        } else {
                            fail(Settlement::kFailed, outcome.cause);
                            entry.failedLevel = request.level;
                        }
                        break;
                    case Request::kRead:
                        // A late answer after another read, or after the
                        // operator set the own volume: nothing to take.
                        if (entry.ownVolume && !entry.ownReported) break;
                        if (outcome.kind == Kind::kDone && level) {
                            takeRead(entry, *level, !outcome.late);
                        } else if (!entry.ownReported) {
                            // Refused: its volume is left alone. Late, after
                            // its reported volume stood in: that stays.
                            fail(Settlement::kFailed, outcome.cause);
                            entry.ownUnreadable = true;
                        }
                        break;
                }
                if (failure) {
                    note(entry, failure->kind, failure->step, failure->cause);
                    noteFailure(request.speaker, *failure);
                } else if (outcome.kind == Kind::kDone) {
                    const auto failed = m_failures.find(request.speaker);
                    if (failed != m_failures.end() && failed->second.settlement.step == step) m_failures.erase(failed);
                }
            }
        }
        advance(request.speaker, requests, after);
    }
    run(after);
    send(requests);
}

void LoudspeakerLedger::Impl::noteFailure(const Loudspeaker& speaker, const Settlement& settlement) {
    Failure& failure = m_failures[speaker];
    failure.settlement = settlement;
    failure.settlement.late = true;
    failure.at = Clock::now();
}

bool LoudspeakerLedger::Impl::retry() {
    // Once the transport has stopped nothing completes any more: whoever
    // waits is let go.
    if (!m_link->running()) {
        end();
        return false;
    }
    Requests requests;
    After after;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ending) return false;
        const Clock::time_point now = Clock::now();
        std::vector<Loudspeaker> due;
        for (auto& [speaker, entry] : m_entries) {
            const std::uint64_t returns = m_link->returns(speaker);
            if (returns != entry.returns) {
                entry.returns = returns;
                cameBack(entry);
                if (!entry.inFlight) due.push_back(speaker);
                continue;
            }
            if (entry.inFlight) continue;
            // Its busy pause is over; another object gives it back now.
            if ((entry.pausedUntil && *entry.pausedUntil <= now) || entry.superseded) {
                due.push_back(speaker);
                continue;
            }
            if (!(entry.unreachable || entry.waitsOnline)) continue;
            if (!m_link->online(speaker)) continue;
            if (entry.unreachable && !m_link->answered(speaker) && now < entry.retryAt) continue;
            entry.retryNow = true;
            due.push_back(speaker);
        }
        for (const Loudspeaker& speaker : due) advance(speaker, requests, after);
        for (auto gone = m_dismissed.begin(); gone != m_dismissed.end();)
            gone = gone->expired() ? m_dismissed.erase(gone) : std::next(gone);
    }
    lookForFoundAgain(requests, after);
    run(after);
    send(requests);
    runLater();
    return true;
}

void LoudspeakerLedger::Impl::lookForFoundAgain(Requests& requests, After& after) {
    std::vector<std::pair<Loudspeaker, Finder>> lost;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ending) return;
        for (const auto& [speaker, entry] : m_entries)
            if (entry.dismissed && entry.find && !entry.superseded) lost.emplace_back(speaker, entry.find);
    }
    if (lost.empty()) return;
    // Outside the lock: the finder takes the collection's.
    std::vector<std::pair<Loudspeaker, Loudspeaker>> found;
    for (const auto& [speaker, find] : lost) {
        const Loudspeaker again = find(speaker->getHardwareAddress());
        if (again && again != speaker) found.emplace_back(speaker, again);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ending) return;
    for (const auto& [gone, again] : found) {
        const auto old = m_entries.find(gone);
        if (old == m_entries.end() || old->second.superseded || !takeable(again)) continue;
        Entry& entry = entryOf(again);
        adopt(entry);
        advance(again, requests, after);
        advance(gone, requests, after);
    }
}

void LoudspeakerLedger::Impl::afterLateReplies(const LedgerBatch& batch, std::function<void(const LedgerBatch&)> then) {
    const std::weak_ptr<Impl> self = shared_from_this();
    const std::shared_ptr<LedgerBatch::State> state = batch.m_state;
    batch.whenSettled([self, state, then](const LedgerBatch::Settlements& settled) {
        const std::shared_ptr<Impl> impl = self.lock();
        if (!impl) return;
        const std::chrono::milliseconds late = impl->lateReplyTime(settled);
        std::lock_guard<std::mutex> lock(impl->m_mutex);
        if (impl->m_ending) return;
        impl->m_later.push_back({Clock::now() + late, state, then});
    });
}

std::chrono::milliseconds LoudspeakerLedger::Impl::lateReplyTime(const LedgerBatch::Settlements& settled) {
    // A silent settlement came with the give-up of its request (or later,
    // with nothing sent): its late reply comes within the late reply's time
    // from now.
    std::chrono::milliseconds longest{0};
    for (const auto& [speaker, settlement] : settled) {
        if (settlement.kind != Settlement::kSilent) continue;
        const device::ReplyTimes times = m_link->replyTimes(speaker);
        longest = std::max(longest, times.lateReply + times.resend / 10);
    }
    return longest;
}

void LoudspeakerLedger::Impl::runLater() {
    std::vector<Later> due;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        for (auto later = m_later.begin(); later != m_later.end();) {
            if (later->due > now) {
                ++later;
                continue;
            }
            due.push_back(std::move(*later));
            later = m_later.erase(later);
        }
        // An answer since the batch began clears a loudspeaker's silence,
        // unless it refused or failed; one the ledger no longer drives owes
        // nothing more.
        for (const Later& later : due) {
            std::lock_guard<std::mutex> batchLock(later.batch->mutex);
            for (auto& [speaker, settlement] : later.batch->settled) {
                if (settlement.kind != Settlement::kSilent) continue;
                const auto found = m_entries.find(speaker);
                if (found != m_entries.end() && found->second.unreachable) continue;
                const auto failed = m_failures.find(speaker);
                if (failed != m_failures.end() && failed->second.at >= later.batch->made) {
                    settlement = failed->second.settlement;
                    continue;
                }
                if (found == m_entries.end() || found->second.answeredAt >= later.batch->made)
                    settlement = Settlement();
            }
        }
        for (auto failed = m_failures.begin(); failed != m_failures.end();)
            failed = failed->second.at + kFailuresKept < now ? m_failures.erase(failed) : std::next(failed);
    }
    for (const Later& later : due) {
        LedgerBatch batch;
        batch.m_state = later.batch;
        later.then(batch);
    }
}

void LoudspeakerLedger::Impl::pause() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, m_options.tick, [this] { return m_ending; });
}

void LoudspeakerLedger::Impl::end() {
    std::vector<std::shared_ptr<LedgerBatch::State>> batches;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_wake.notify_all();
        for (auto& [speaker, entry] : m_entries)
            for (Waiting& waiting : entry.waiting) batches.push_back(waiting.batch);
    }
    for (const auto& batch : batches) {
        std::unique_lock<std::mutex> lock(batch->mutex);
        batch->stopped = true;
        batch->finishIfComplete(lock);
    }
}

// ---- the ledger ------------------------------------------------------------------------------------

LoudspeakerLedger::LoudspeakerLedger(std::shared_ptr<LoudspeakerLink> link)
    : LoudspeakerLedger(std::move(link), Options()) {}

LoudspeakerLedger::LoudspeakerLedger(std::shared_ptr<LoudspeakerLink> link, Options options)
    : m_impl(std::make_shared<Impl>(std::move(link), options)), m_retrier([this] { retryLoop(); }) {}

LoudspeakerLedger::~LoudspeakerLedger() {
    m_impl->end();
    if (m_retrier.joinable()) m_retrier.join();
}

void LoudspeakerLedger::retryLoop() {
    while (m_impl->retry()) m_impl->pause();
}

LedgerBatch LoudspeakerLedger::hold(Holder holder, const std::map<Loudspeaker, Wish>& wishes) {
    return m_impl->hold(holder, wishes);
}

LedgerBatch LoudspeakerLedger::release(Holder holder, const DeviceSet& speakers) {
    return m_impl->release(holder, &speakers);
}

LedgerBatch LoudspeakerLedger::releaseAll(Holder holder) { return m_impl->release(holder, nullptr); }

void LoudspeakerLedger::park(Holder holder) { m_impl->park(holder); }

LedgerBatch LoudspeakerLedger::resetChannel(const DeviceSet& speakers) { return m_impl->resetChannel(speakers); }

void LoudspeakerLedger::afterLateReplies(const LedgerBatch& batch, std::function<void(const LedgerBatch&)> then) {
    m_impl->afterLateReplies(batch, std::move(then));
}

LedgerBatch LoudspeakerLedger::setOwnVolume(const DeviceSet& speakers, const OwnVolume& volume) {
    return m_impl->setOwnVolume(speakers, volume);
}

std::optional<OwnVolume> LoudspeakerLedger::heldOwnVolume(const Loudspeaker& speaker) {
    return m_impl->heldOwnVolume(speaker);
}

LedgerBatch LoudspeakerLedger::dismiss(const DeviceSet& speakers, Finder find) {
    return m_impl->dismiss(speakers, std::move(find));
}

LedgerBatch LoudspeakerLedger::close() { return m_impl->close(); }

std::chrono::milliseconds LoudspeakerLedger::giveBackLimit() { return m_impl->giveBackLimit(); }

DeviceSet LoudspeakerLedger::held(Holder holder) { return m_impl->held(holder); }

DeviceSet LoudspeakerLedger::switchingBack() { return m_impl->switchingBack(); }

std::size_t LoudspeakerLedger::size() { return m_impl->size(); }

namespace {

std::mutex g_instanceLock;
std::weak_ptr<LoudspeakerLedger> g_instance;

}  // namespace

std::shared_ptr<LoudspeakerLedger> LoudspeakerLedger::instance() {
    std::lock_guard<std::mutex> lock(g_instanceLock);
    return g_instance.lock();
}

void LoudspeakerLedger::setInstance(const std::shared_ptr<LoudspeakerLedger>& ledger) {
    std::lock_guard<std::mutex> lock(g_instanceLock);
    g_instance = ledger;
}

}  // namespace frm
