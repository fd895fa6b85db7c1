#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/playback.h"
#include "audio/step_failures.h"
#include "device/models/orvel_info.h"
#include "device/models/volume_level.h"
#include "device/reply_times.h"

// Who sets a loudspeaker's channel and volume while notices run, and how it
// gets its own back.
//
// The alarm channel and the player channel never send their requests to a
// loudspeaker themselves: each says what it wants of it (a wish) and the
// ledger drives the loudspeaker towards the wish of the strongest holder,
// the alarm's over the player's, and back to the loudspeaker's own settings
// when the last holder lets go. When a holder first wants a volume of a
// loudspeaker (a notice's, or the mute of a zone's other loudspeakers), the
// ledger asks the loudspeaker for the volume it has ("get vol"), as a step of
// its own, after the switch when the wish switches it: what the read says
// (or what the operator set meanwhile) is given back at the end, exactly as
// the loudspeaker told it (its level pair or its dB), not through the
// percent the window shows, and never a volume a notice set, whatever the
// order of the notices. So a volume an installer set at the loudspeaker
// between two notices is the one it gets back after the next. Only a
// loudspeaker that gives the read no answer gets back what it reported last
// (its object's exact level). A holder's volume is a percent, sent as the
// loudspeaker's generation sends it.
//
// Each loudspeaker has at most one request of the ledger in flight, and the
// next one is chosen when it ends, from the wishes as they are then: two
// holders never write one loudspeaker in turn, and a notice that takes a
// loudspeaker back while it is being given back costs no switch back first.
// The requests leave without waiting (the transport serves every loudspeaker
// at once), so a step costs one reply time of each loudspeaker, and a slow
// one holds back no other.
//
// A batch has no clock of its own: it waits for the transport to end each
// request (its answer or its give-up, which the transport always reports,
// by the loudspeaker's own reply times), so a loudspeaker is never counted
// silent while its request may still be answered. A loudspeaker that gives
// no answer costs a batch one give-up: it is not waited for again until it
// answers, and what it owes (a switch back, its volume) is asked again when
// it answers again, as soon as anybody hears from it or, failing that, at
// growing intervals while it stays online. A reply that comes after the
// give-up still counts: the loudspeaker did what it was asked, or refused it
// (told as the failure it is), or was busy (asked again after a pause). A
// loudspeaker that comes back (a restart, a power loss, an outage, a move:
// its returns count grew) may hold anything: what its holders want, or what
// it owes, is sent again.
//
// The operator's volume goes through the ledger too: on a loudspeaker a
// holder keeps at a volume of its own it becomes the own volume given back
// at the end; elsewhere it is written at once. An entry that owes nothing
// leaves the ledger, so that nothing of it is carried to the next notice:
// the own volume is read anew then. A loudspeaker deleted from the program
// is given back and is held no more; the program's exit gives every
// loudspeaker back once and holds nothing after it.

namespace frm {

using Loudspeaker = boost::shared_ptr<device::OrvelInfo>;

/// Who holds a loudspeaker; the stronger holder's wish stands.
enum class Holder { kPlayer = 0, kAlarm = 1 };

/// What a holder wants of a loudspeaker. An empty field is left to the
/// holder below, and at last to the loudspeaker's own: the common channel
/// (only once a holder has switched it), its volume and its switch state.
struct Wish {
    std::optional<device::AudioChannel> channel;
    /// Percent, heard: a wish with a volume and no switch state switches
    /// the loudspeaker on.
    std::optional<int> volume;
    /// False: muted, its volume kept for later.
    std::optional<bool> enabled;

    bool operator==(const Wish& other) const {
        return channel == other.channel && volume == other.volume && enabled == other.enabled;
    }
};

/// The requests the ledger sends, and what it knows of a loudspeaker
/// without asking. The program's sends the loudspeakers' own requests; each
/// `done` runs once on the transport's completer thread (or at once), and
/// once more with `late` when a reply came after the give-up.
class LoudspeakerLink {
public:
    using Done = std::function<void(const device::RequestOutcome&)>;
    using VolumeDone =
        std::function<void(const device::RequestOutcome&, std::optional<device::VolumeLevel> level)>;
    using PlayingDone = std::function<void(const device::RequestOutcome&, bool playing)>;

    /// What the loudspeaker's object holds: taken for what the loudspeaker
    /// has until it answers, and its volume given back when it gives a read
    /// no answer.
    struct Known {
        std::optional<device::AudioChannel> channel;
        /// The volume it plays at while switched on (the remembered one while
        /// muted), exactly as it told it; empty when not known.
        std::optional<device::VolumeLevel> volume;
        bool enabled = true;
    };

    virtual ~LoudspeakerLink() = default;
    /// Heard from lately (state packets or replies).
    virtual bool online(const Loudspeaker& speaker) = 0;
    /// Its last exchange was answered.
    virtual bool answered(const Loudspeaker& speaker) = 0;
    virtual Known known(const Loudspeaker& speaker) = 0;
    /// Whether its audio memory may play on its own, unseen in its state
    /// packets (the Orvel-510): asked before each switch.
    virtual bool checksMemory(const Loudspeaker& speaker) = 0;
    /// The level its generation sends a percent (0..100) as; empty above 100.
    virtual std::optional<device::VolumeLevel> levelOf(const Loudspeaker& speaker, int percent) = 0;
    /// How often it came back from a restart, a power loss, an outage or a
    /// move; what its object knew of it is forgotten then.
    virtual std::uint64_t returns(const Loudspeaker& speaker) = 0;
    /// False once the transport has stopped: nothing will complete any more.
    virtual bool running() = 0;
    /// How long a request that leaves for it now waits for its answer, and
    /// how long after the give-up its late reply may still come, as the
    /// transport serves it (its lateness learnt included).
    virtual device::ReplyTimes replyTimes(const Loudspeaker& speaker) = 0;

    virtual void internalPlaying(const Loudspeaker& speaker, PlayingDone done) = 0;
    virtual void switchChannel(const Loudspeaker& speaker, device::AudioChannel channel, Done done) = 0;
    /// `enabled` false: muted, `level` kept as the one it comes back to.
    virtual void setVolume(const Loudspeaker& speaker, const device::VolumeLevel& level, bool enabled,
                           Done done) = 0;
    /// "get vol": the level it has now, exactly as it tells it (its object
    /// keeps it too); empty unless done.
    virtual void readVolume(const Loudspeaker& speaker, VolumeDone done) = 0;
};

/// How one loudspeaker's part of a batch ended: the first request of it that
/// did not succeed, else done.
struct Settlement {
    enum Kind { kDone, kBusy, kFailed, kSilent, kOffline };
    enum Step { kSwitch, kVolume, kVolumeRead };
    Kind kind = kDone;
    Step step = kSwitch;
    std::wstring cause;
    /// Silent when the batch settled, and then refused or failed: known only
    /// once the late replies had their time (afterLateReplies).
    bool late = false;

    /// Not answered by the time the batch settled: told after the late
    /// replies, not at once.
    bool toldLater() const { return kind == kSilent || late; }
};

/// What one call of the ledger set going, to wait for or to be told of. A
/// handle: copies share the batch.
class LedgerBatch {
public:
    using Settlements = std::map<Loudspeaker, Settlement>;

    LedgerBatch();

    /// Waits until every loudspeaker of the batch has settled, the ledger
    /// stopped or `limit` passed (false). An interruption point of the
    /// calling boost thread.
    bool wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    /// Waits for the first loudspeaker that settles done; empty when none
    /// does (all settled otherwise, or the limit passed).
    Loudspeaker firstDone(std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    bool settled() const;
    /// What has settled so far; those not settled count as silent.
    Settlements settlements() const;
    /// Runs `then` once, with the settlements, when the batch has settled:
    /// on the thread that settles it last (a completion), or here.
    void whenSettled(std::function<void(const Settlements&)> then) const;

    /// Which failures: all, those the loudspeakers answered in time
    /// (refusals, errors, offline) or those that had no answer in time
    /// (silent, or refused or failed later: Settlement::toldLater).
    enum class Answer { kAny, kAnswered, kUnanswered };
    /// The failures of the batch by kind of request and cause, for the
    /// operator.
    StepFailures failures(Settlement::Step step, Answer answer = Answer::kAny) const;

private:
    friend class LoudspeakerLedger;
    struct State;
    std::shared_ptr<State> m_state;
};

/// What the operator sets on loudspeakers: the volume slider (a percent,
/// heard, sent as the loudspeaker's generation sends it and given back as
/// sent) or the sound button (on or off, the volume kept).
struct OwnVolume {
    std::optional<int> percent;
    std::optional<bool> enabled;
};

class LoudspeakerLedger {
public:
    /// The object the program has now for a hardware address; empty when it
    /// has none.
    using Finder = std::function<Loudspeaker(const net::HardwareAddress&)>;

    struct Options {
        /// The first pause before a loudspeaker that gave no answer is asked
        /// again without anybody having heard from it; it doubles up to
        /// `lastRetry`.
        std::chrono::milliseconds firstRetry{2000};
        std::chrono::milliseconds lastRetry{30000};
        /// How often the retry thread looks (at returns too: a loudspeaker
        /// that came back is driven again within a tick).
        std::chrono::milliseconds tick{250};
    };

    explicit LoudspeakerLedger(std::shared_ptr<LoudspeakerLink> link);
    LoudspeakerLedger(std::shared_ptr<LoudspeakerLink> link, Options options);
    /// Stops the retry thread; waiting batches settle. Completions that come
    /// later find nothing.
    ~LoudspeakerLedger();
    LoudspeakerLedger(const LoudspeakerLedger&) = delete;
    LoudspeakerLedger& operator=(const LoudspeakerLedger&) = delete;

    /// The holder takes each loudspeaker with its wish, in place of an
    /// earlier wish of its own. The batch settles when each loudspeaker does
    /// what the strongest wish asks, refuses it, fails or gives no answer
    /// (one that gave none before is asked again at once); an offline one
    /// settles at once and is served when it comes online.
    LedgerBatch hold(Holder holder, const std::map<Loudspeaker, Wish>& wishes);
    /// The holder lets the loudspeakers go: each takes the wish of the holder
    /// below, or its own settings back. One that gave no answer before
    /// settles at once and is given back when it answers again.
    LedgerBatch release(Holder holder, const DeviceSet& speakers);
    /// Every loudspeaker of the holder.
    LedgerBatch releaseAll(Holder holder);
    /// The holder keeps the loudspeakers it holds now, but nothing more is
    /// sent for it to them until it holds them anew or releases them (they
    /// took over with notices of their own).
    void park(Holder holder);
    /// Loudspeakers that no holder holds go to the common channel, whatever
    /// channel they are on (after a notice that they took over).
    LedgerBatch resetChannel(const DeviceSet& speakers);

    /// The operator's volume or sound for the loudspeakers. Where a holder
    /// keeps a loudspeaker at a volume (or muted), the holder's stands while
    /// it holds and the operator's is what the loudspeaker gets back at the
    /// end; elsewhere it is written at once.
    LedgerBatch setOwnVolume(const DeviceSet& speakers, const OwnVolume& volume);
    /// The own volume a loudspeaker gets back at the end, while a holder
    /// keeps it at a volume of its own (what the operator's controls show
    /// meanwhile); empty when it has its own now. The percent is empty while
    /// the own volume is not known yet.
    std::optional<OwnVolume> heldOwnVolume(const Loudspeaker& speaker);

    /// The loudspeakers leave the program (deleted): every holder lets them
    /// go, each is given back and leaves the ledger once it is, and none is
    /// held again. One that gives no answer is given back when it answers
    /// again, or through the object `find` gives for its hardware address
    /// once that is another one (the loudspeaker found again), with its own
    /// volume kept here: never a volume a notice set.
    LedgerBatch dismiss(const DeviceSet& speakers, Finder find = Finder());

    /// The program's exit: every loudspeaker is given back, once; from now
    /// on a hold, a reset of the channel or the operator's volume settles at
    /// once and sends nothing, so that no job that comes late touches a
    /// loudspeaker after its give-back began. Those that gave no answer are
    /// still given back when they answer, while the transport runs.
    LedgerBatch close();
    /// How long giving back the loudspeakers the ledger drives now may take
    /// when one datagram to each is lost (what the exit waits for close()
    /// at most): the longest of their two-step chains (a volume, then the
    /// switch back). The step whose datagram was lost is answered after its
    /// resend, and the transport sends the loudspeaker nothing more until a
    /// late reply to it can no longer come (its give-up and the late reply's
    /// time after it, counted from its first send); the other step is
    /// answered within its resend time. Zero when the ledger drives none.
    std::chrono::milliseconds giveBackLimit();

    /// Runs `then` on the ledger's thread once `batch` has settled and the
    /// replies that come after the reply time have had theirs (as long as
    /// the transport takes a late reply from the loudspeakers the batch
    /// counted silent, at once when it counted none): a loudspeaker
    /// of the batch that gave no answer in time but answered since (it did
    /// switch, it took the volume) counts as done by then. So the operator
    /// hears only of loudspeakers that stayed silent. Never run once the
    /// ledger ends.
    void afterLateReplies(const LedgerBatch& batch, std::function<void(const LedgerBatch&)> then);

    DeviceSet held(Holder holder);
    /// Loudspeakers a notice of the program switched that no notice holds
    /// any more and that are not back on the common channel yet: whatever
    /// their state still shows of a notice is the program's own, ending.
    DeviceSet switchingBack();
    /// Loudspeakers the ledger still drives: held, or owing something back.
    std::size_t size();

    /// The program's ledger, for the window's volume controls and the
    /// deletion of devices (held weakly: the channels own it); empty where
    /// none was made, and the controls then write the loudspeakers themselves.
    static std::shared_ptr<LoudspeakerLedger> instance();
    static void setInstance(const std::shared_ptr<LoudspeakerLedger>& ledger);

private:
    class Impl;
    void retryLoop();

    const std::shared_ptr<Impl> m_impl;
    std::thread m_retrier;
};

}  // namespace frm
